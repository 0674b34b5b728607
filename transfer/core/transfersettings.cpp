#include "transfer/core/transfersettings.h"

#include "common/profilefile.h"

namespace strandel {

QString qualityForRate(CompressionRate rate)
{
    switch (rate) {
    case CompressionRate::Rate0:
        return QStringLiteral("100");
    case CompressionRate::Rate20:
        return QStringLiteral("80");
    case CompressionRate::Rate50:
        return QStringLiteral("50");
    case CompressionRate::Rate80:
        break;
    }
    return QStringLiteral("20");
}

void TransferSettings::lockAdresseIp(const QString &value)
{
    if (value.isEmpty())
        return;
    AdresseIp = value;
    m_lockedAdresseIp = true;
}

void TransferSettings::lockPort(const QString &value)
{
    if (value.isEmpty())
        return;
    Port = value;
    m_lockedPort = true;
}

void TransferSettings::lockAlias(const QString &value)
{
    if (value.isEmpty())
        return;
    Alias = value;
    m_lockedAlias = true;
}

namespace {

// One table drives reading and writing, in the order the keys are written.
struct TextKey {
    const char *name;
    QString TransferSettings::*member;
    const char *defaultValue;
};
struct BoolKey {
    const char *name;
    bool TransferSettings::*member;
    bool defaultValue;
};
struct Key {
    enum { Text, Bool } kind;
    TextKey text;
    BoolKey flag;
};

constexpr Key text(const char *n, QString TransferSettings::*m, const char *d)
{
    return Key{Key::Text, {n, m, d}, {nullptr, nullptr, false}};
}
constexpr Key flag(const char *n, bool TransferSettings::*m, bool d)
{
    return Key{Key::Bool, {nullptr, nullptr, nullptr}, {n, m, d}};
}

using S = TransferSettings;
const Key kKeys[] = {
    text("AdresseIp", &S::AdresseIp, "999.999.999.999"),
    text("Port", &S::Port, ""),
    text("Alias", &S::Alias, ""),
    text("FichierZip", &S::FichierZip, ""),
    text("Usager", &S::Usager, ""),
    text("MotDePasse", &S::MotDePasse, ""),
    text("TauxTransfert", &S::TauxTransfert, "60"),
    flag("Requete", &S::Requete, false),
    text("Delai", &S::Delai, "10"),
    flag("UneReqAlafois", &S::UneReqAlafois, true),
    flag("Conserver", &S::Conserver, false),
    text("Epurer", &S::Epurer, "30"),
    flag("VerifierZip", &S::VerifierZip, true),
    flag("ModeAttente", &S::ModeAttente, false),
    flag("Majuscule", &S::Majuscule, true),
    flag("DateNaiss", &S::DateNaiss, false),
    flag("Rappel", &S::Rappel, false),
    flag("DicteeActif", &S::DicteeActif, false),
    text("DirDictee", &S::DirDictee, ""),
    text("TrUpload", &S::TrUpload, "0.22"),
    text("BoutonDownload", &S::BoutonDownload, ""),
    flag("EpureAuto", &S::EpureAuto, true),
    text("RepDestination", &S::RepDestination, ""),
    flag("MajAuto", &S::MajAuto, true),
    text("Version", &S::Version, ""),
    flag("Tessarune", &S::Tessarune, false),
    flag("TauxSuggere", &S::TauxSuggere, false),
    flag("TauxImpose", &S::TauxImpose, false),
    flag("Taux0", &S::Taux0, false),
    flag("Taux20", &S::Taux20, false),
    flag("Taux50", &S::Taux50, false),
    flag("Taux80", &S::Taux80, false),
    flag("Rapport", &S::Rapport, false),
};

} // namespace

bool TransferSettings::read()
{
    m_error.clear();
    common::ProfileFile file(m_file);
    const bool loaded = file.load();
    if (!loaded)
        m_error = file.errorString();
    for (const Key &k : kKeys) {
        if (k.kind == Key::Text) {
            const QString name = QLatin1String(k.text.name);
            if ((m_lockedAdresseIp && k.text.member == &S::AdresseIp)
                || (m_lockedPort && k.text.member == &S::Port)
                || (m_lockedAlias && k.text.member == &S::Alias))
                continue;
            this->*k.text.member =
                file.readString(kSettingsSection, name, QLatin1String(k.text.defaultValue));
        } else {
            this->*k.flag.member =
                file.readBool(kSettingsSection, QLatin1String(k.flag.name), k.flag.defaultValue);
        }
    }
    if (!Taux0 && !Taux20 && !Taux50 && !Taux80)
        Taux80 = true;
    if (!TauxSuggere && !TauxImpose)
        TauxSuggere = true;
    return loaded;
}

bool TransferSettings::write()
{
    m_error.clear();
    common::ProfileFile file(m_file);
    if (!file.load()) {
        m_error = file.errorString();
        return false;
    }
    for (const Key &k : kKeys) {
        if (k.kind == Key::Text) {
            if ((m_lockedAdresseIp && k.text.member == &S::AdresseIp)
                || (m_lockedPort && k.text.member == &S::Port)
                || (m_lockedAlias && k.text.member == &S::Alias))
                continue;
            file.writeString(kSettingsSection, QLatin1String(k.text.name), this->*k.text.member);
        } else {
            file.writeBool(kSettingsSection, QLatin1String(k.flag.name), this->*k.flag.member);
        }
    }
    if (!file.save()) {
        m_error = file.errorString();
        return false;
    }
    return true;
}

CompressionRate TransferSettings::defaultRate() const
{
    if (Taux0)
        return CompressionRate::Rate0;
    if (Taux20)
        return CompressionRate::Rate20;
    if (Taux50)
        return CompressionRate::Rate50;
    return CompressionRate::Rate80;
}

void TransferSettings::setDefaultRate(CompressionRate rate)
{
    Taux0 = rate == CompressionRate::Rate0;
    Taux20 = rate == CompressionRate::Rate20;
    Taux50 = rate == CompressionRate::Rate50;
    Taux80 = rate == CompressionRate::Rate80;
}

int TransferSettings::delaySeconds() const
{
    bool ok = false;
    const int v = common::profileInteger(Delai, &ok);
    return (ok && v > 0) ? v : 10;
}

QString CommandLineValue(const QString &commandLine, const QString &key)
{
    const qsizetype p = commandLine.indexOf(key, 0, Qt::CaseInsensitive);
    if (p < 0 || key.isEmpty())
        return QString();
    const qsizetype start = p + key.size() + 1;
    // The next "/" among the 80 characters after the key's first one.
    qsizetype end = commandLine.size();
    const qsizetype slash = commandLine.mid(p + 1, 80).indexOf(u'/');
    if (slash >= 0)
        end = p + 1 + slash;
    if (start >= end)
        return QString();
    return commandLine.mid(start, end - start).trimmed();
}

CommandLine::CommandLine(const QStringList &arguments)
{
    const QStringList rest = arguments.mid(1);
    m_text = rest.join(u' ');
    if (!rest.isEmpty())
        m_first = rest.first();
}

bool CommandLine::debug() const
{
    return m_first.compare(QLatin1String("DEBUG"), Qt::CaseInsensitive) == 0;
}

bool CommandLine::noConfig() const
{
    return m_first.compare(QLatin1String("NO CONFIG"), Qt::CaseInsensitive) == 0
        || m_first.compare(QLatin1String("NOCONFIG"), Qt::CaseInsensitive) == 0;
}

bool CommandLine::noShortcuts() const
{
    return m_first.compare(QLatin1String("NOSCC"), Qt::CaseInsensitive) == 0;
}

void CommandLine::applyTo(TransferSettings &settings) const
{
    settings.lockAdresseIp(value(QStringLiteral("/AdresseIp")));
    settings.lockPort(value(QStringLiteral("/port")));
    settings.lockAlias(value(QStringLiteral("/alias")));
}

} // namespace strandel
