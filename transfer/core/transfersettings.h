#pragma once

#include <QString>
#include <QStringList>

namespace strandel {

// Caption of every window of the transfer client.
inline const QString kApplicationTitle = QStringLiteral("Strandel,  version 4.3.4");
// Settings file beside the executable and its section.
inline const QString kSettingsFileName = QStringLiteral("Strandel.ini");
inline const QString kSettingsSection = QStringLiteral("parametres");
// Date format of every date the client shows, sends or parses.
inline const QString kShortDateFormat = QStringLiteral("yyyy-MM-dd");

// The four compression rates of a request, in the order of the settings.
enum class CompressionRate { Rate0, Rate20, Rate50, Rate80 };

// Image quality written in a request for a compression rate:
// 0 % -> "100", 20 % -> "80", 50 % -> "50", 80 % -> "20".
QString qualityForRate(CompressionRate rate);

// Every setting of the transfer client (section "parametres" of
// "Strandel.ini"). Members carry the key names; booleans are stored as
// "1"/"0". Text values that are numbers (Delai, Epurer, the rates) stay text
// here and are interpreted where they are used.
class TransferSettings {
public:
    QString AdresseIp = QStringLiteral("999.999.999.999");
    QString Port;
    QString Alias;
    QString FichierZip;
    QString Usager;
    QString MotDePasse;
    QString TauxTransfert = QStringLiteral("60");
    bool Requete = false;
    QString Delai = QStringLiteral("10");
    bool UneReqAlafois = true;
    bool Conserver = false;
    QString Epurer = QStringLiteral("30");
    bool VerifierZip = true;
    bool ModeAttente = false;
    bool Majuscule = true;
    bool DateNaiss = false;
    bool Rappel = false;
    bool DicteeActif = false;
    QString DirDictee;
    QString TrUpload = QStringLiteral("0.22");
    QString BoutonDownload;
    bool EpureAuto = true;
    QString RepDestination;
    bool MajAuto = true;
    QString Version;
    bool Tessarune = false;
    bool TauxSuggere = false;
    bool TauxImpose = false;
    bool Taux0 = false;
    bool Taux20 = false;
    bool Taux50 = false;
    bool Taux80 = false;
    bool Rapport = false;

    // The settings file: folder + "Strandel.ini".
    void setFile(const QString &path) { m_file = path; }
    const QString &file() const { return m_file; }

    // Values given on the command line. A non-empty value replaces the
    // setting and locks it until the program ends: it is then neither read
    // from nor written to the file.
    void lockAdresseIp(const QString &value);
    void lockPort(const QString &value);
    void lockAlias(const QString &value);
    bool adresseIpLocked() const { return m_lockedAdresseIp; }
    bool portLocked() const { return m_lockedPort; }
    bool aliasLocked() const { return m_lockedAlias; }

    // Reads every key (locked ones skipped); missing keys give their
    // defaults, a missing file gives all defaults. Then makes one rate and
    // one rate mode true when the file had none. False only when the file
    // exists but cannot be read (errorString()).
    bool read();
    // Writes every key in order (locked ones skipped), keeping the rest of
    // the file. False with errorString() when the file cannot be written.
    bool write();
    QString errorString() const { return m_error; }

    // The default compression rate: the first of Taux0 ... Taux80 that is
    // true (Taux80 when none is).
    CompressionRate defaultRate() const;
    void setDefaultRate(CompressionRate rate);

    // Delai as a number of seconds: text that is not an integer gives 10,
    // and so does a value of 0 or less (it would leave no interval at all;
    // the default keeps the server from being asked every second).
    int delaySeconds() const;

private:
    QString m_file;
    QString m_error;
    bool m_lockedAdresseIp = false;
    bool m_lockedPort = false;
    bool m_lockedAlias = false;
};

// Value of a command-line option such as "/AdresseIp": searched without
// regard to case in the whole text; the value begins one character after the
// key (the "=" or blank that follows it is skipped) and runs to the character
// before the next "/" found within the 80 characters that follow the key's
// first character, or to the end of the text when there is none; it is
// trimmed of blanks. Empty when the key is absent.
QString CommandLineValue(const QString &commandLine, const QString &key);

// The program's arguments as the client reads them.
class CommandLine {
public:
    CommandLine() = default;
    // arguments: as QCoreApplication::arguments(), the program first.
    explicit CommandLine(const QStringList &arguments);

    // The text searched by value(): the arguments after the program, joined
    // by blanks. The program path is left out because on this platform it is
    // made of "/" separators, which would read as options ("/port" inside
    // "/opt/portail/...").
    const QString &text() const { return m_text; }
    QString value(const QString &key) const { return CommandLineValue(m_text, key); }

    // First argument words, compared without regard to case.
    bool debug() const;           // "DEBUG"
    bool noConfig() const;        // "NO CONFIG" or "NOCONFIG"
    bool noShortcuts() const;     // "NOSCC"

    // Locks the three server values given on the command line.
    void applyTo(TransferSettings &settings) const;

private:
    QString m_first;
    QString m_text;
};

} // namespace strandel
