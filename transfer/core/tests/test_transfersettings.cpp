// Settings file, command line, request file and wait-mode arithmetic.

#include "clienttestutil.h"

#include "transfer/core/requestfile.h"
#include "transfer/core/transfersettings.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace strandel;
using clienttest::readFile;
using clienttest::writeFile;

namespace {

struct SettingsFile : ::testing::Test {
    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("Strandel.ini")); }
    TransferSettings load()
    {
        TransferSettings s;
        s.setFile(path());
        EXPECT_TRUE(s.read());
        return s;
    }
};

} // namespace

TEST_F(SettingsFile, MissingKeysTakeDefaultsAndRateInvariantsHold)
{
    writeFile(path(), "[parametres]\r\nFichierZip=CLINIQUE\r\nRequete=2\r\nUneReqAlafois=abc\r\n"
                      "Conserver=oui\r\nMajuscule=0\r\n");
    TransferSettings s = load();
    EXPECT_EQ(s.FichierZip, "CLINIQUE");
    EXPECT_EQ(s.AdresseIp, "999.999.999.999");
    EXPECT_EQ(s.TauxTransfert, "60");
    EXPECT_EQ(s.Delai, "10");
    EXPECT_EQ(s.Epurer, "30");
    EXPECT_EQ(s.TrUpload, "0.22");
    EXPECT_TRUE(s.Requete);        // any non-zero integer
    EXPECT_TRUE(s.UneReqAlafois);  // not an integer: default true
    EXPECT_FALSE(s.Conserver);     // not an integer: default false
    EXPECT_FALSE(s.Majuscule);
    EXPECT_TRUE(s.VerifierZip && s.EpureAuto && s.MajAuto);
    // No rate key at all: 80 % suggested.
    EXPECT_TRUE(s.Taux80);
    EXPECT_FALSE(s.Taux0 || s.Taux20 || s.Taux50);
    EXPECT_TRUE(s.TauxSuggere);
    EXPECT_FALSE(s.TauxImpose);
    EXPECT_EQ(s.defaultRate(), CompressionRate::Rate80);

    writeFile(path(), "[parametres]\r\nTaux20=1\r\nTauxImpose=1\r\n");
    s = load();
    EXPECT_EQ(s.defaultRate(), CompressionRate::Rate20);
    EXPECT_FALSE(s.Taux80);
    EXPECT_TRUE(s.TauxImpose);
    EXPECT_FALSE(s.TauxSuggere);
}

TEST_F(SettingsFile, MissingFileGivesDefaults)
{
    TransferSettings s = load();
    EXPECT_EQ(s.AdresseIp, "999.999.999.999");
    EXPECT_TRUE(s.FichierZip.isEmpty());
    EXPECT_TRUE(s.Taux80 && s.TauxSuggere);
}

TEST_F(SettingsFile, DelayInterpretation)
{
    TransferSettings s;
    for (auto [text, seconds] : {std::pair{"10", 10}, {"3", 3}, {"abc", 10}, {"", 10}, {"0", 10}, {"-5", 10}}) {
        s.Delai = QString::fromLatin1(text);
        EXPECT_EQ(s.delaySeconds(), seconds) << text;
    }
}

TEST_F(SettingsFile, WritesEveryKeyInOrderOnce)
{
    TransferSettings s = load();
    s.FichierZip = QStringLiteral("CLINIQUE");
    s.setDefaultRate(CompressionRate::Rate50);
    ASSERT_TRUE(s.write());
    const QByteArray expected =
        "[parametres]\r\nAdresseIp=999.999.999.999\r\nPort=\r\nAlias=\r\nFichierZip=CLINIQUE\r\nUsager=\r\n"
        "MotDePasse=\r\nTauxTransfert=60\r\nRequete=0\r\nDelai=10\r\nUneReqAlafois=1\r\nConserver=0\r\n"
        "Epurer=30\r\nVerifierZip=1\r\nModeAttente=0\r\nMajuscule=1\r\nDateNaiss=0\r\nRappel=0\r\n"
        "DicteeActif=0\r\nDirDictee=\r\nTrUpload=0.22\r\nBoutonDownload=\r\nEpureAuto=1\r\n"
        "RepDestination=\r\nMajAuto=1\r\nVersion=\r\nTessarune=0\r\nTauxSuggere=1\r\nTauxImpose=0\r\n"
        "Taux0=0\r\nTaux20=0\r\nTaux50=1\r\nTaux80=0\r\nRapport=0\r\n";
    EXPECT_EQ(readFile(path()), expected);
    // A second write changes nothing.
    ASSERT_TRUE(s.write());
    EXPECT_EQ(readFile(path()), expected);
}

TEST_F(SettingsFile, WorkstationFileSurvivesReadWriteExceptKeysWritten)
{
    // As left by the workstation: accented values, a foreign key inside the
    // section, foreign sections, a comment, keys in another case and order.
    const QByteArray original = "; Strandel\r\n"
                                "[Fenetre]\r\n"
                                "Gauche=120\r\n"
                                "\r\n"
                                "[PARAMETRES]\r\n"
                                "adresseip=serveur.clinique.qc\r\n"
                                "Alias=strandel\r\n"
                                "BoutonDownload=Recevoir les \xE9tudes \xAB urgentes \xBB\r\n"
                                "Ancienne=cl\xE9 \x80 conserv\xE9" "e\r\n"
                                "FichierZip=CLINIQUE\r\n"
                                "Usager=U1\r\n"
                                "MotDePasse=SECRET\r\n"
                                "DirDictee=/srv/dict\xE9" "es\r\n"
                                "\r\n"
                                "[Radiologistes]\r\n"
                                "DR B\xC9LANGER=12345 7\r\n";
    writeFile(path(), original);
    TransferSettings s = load();
    EXPECT_EQ(s.BoutonDownload, QStringLiteral("Recevoir les études « urgentes »"));
    EXPECT_EQ(s.DirDictee, QStringLiteral("/srv/dictées"));
    ASSERT_TRUE(s.write());
    const QByteArray after = readFile(path());
    // Keys written keep their lines (the name takes the program's spelling);
    // the missing ones come after the last entry of the section; everything
    // else is untouched.
    const QByteArray expected = "; Strandel\r\n"
                                "[Fenetre]\r\n"
                                "Gauche=120\r\n"
                                "\r\n"
                                "[PARAMETRES]\r\n"
                                "AdresseIp=serveur.clinique.qc\r\n"
                                "Alias=strandel\r\n"
                                "BoutonDownload=Recevoir les \xE9tudes \xAB urgentes \xBB\r\n"
                                "Ancienne=cl\xE9 \x80 conserv\xE9" "e\r\n"
                                "FichierZip=CLINIQUE\r\n"
                                "Usager=U1\r\n"
                                "MotDePasse=SECRET\r\n"
                                "DirDictee=/srv/dict\xE9" "es\r\n"
                                "Port=\r\nTauxTransfert=60\r\nRequete=0\r\nDelai=10\r\nUneReqAlafois=1\r\n"
                                "Conserver=0\r\nEpurer=30\r\nVerifierZip=1\r\nModeAttente=0\r\nMajuscule=1\r\n"
                                "DateNaiss=0\r\nRappel=0\r\nDicteeActif=0\r\nTrUpload=0.22\r\nEpureAuto=1\r\n"
                                "RepDestination=\r\nMajAuto=1\r\nVersion=\r\nTessarune=0\r\nTauxSuggere=1\r\n"
                                "TauxImpose=0\r\nTaux0=0\r\nTaux20=0\r\nTaux50=0\r\nTaux80=1\r\nRapport=0\r\n"
                                "\r\n"
                                "[Radiologistes]\r\n"
                                "DR B\xC9LANGER=12345 7\r\n";
    EXPECT_EQ(after, expected);
    // Once complete, the file reads and writes back byte for byte.
    TransferSettings again = load();
    ASSERT_TRUE(again.write());
    EXPECT_EQ(readFile(path()), expected);
}

TEST_F(SettingsFile, CommandLineValuesAreLockedAndNeverWritten)
{
    writeFile(path(), "[parametres]\r\nAdresseIp=file.host\r\nPort=81\r\nAlias=filealias\r\n");
    TransferSettings s = load();
    CommandLine(QStringList{"/opt/strandel/Strandel", "/AdresseIp=cmd.host", "/ALIAS", "cmdalias"})
        .applyTo(s);
    EXPECT_EQ(s.AdresseIp, "cmd.host");
    EXPECT_EQ(s.Alias, "cmdalias");
    EXPECT_EQ(s.Port, "81");
    EXPECT_TRUE(s.adresseIpLocked() && s.aliasLocked());
    EXPECT_FALSE(s.portLocked());

    s.Port = QStringLiteral("8080");
    ASSERT_TRUE(s.write());
    const QByteArray written = readFile(path());
    EXPECT_TRUE(written.contains("AdresseIp=file.host\r\n"));
    EXPECT_TRUE(written.contains("Alias=filealias\r\n"));
    EXPECT_TRUE(written.contains("Port=8080\r\n"));

    // Reading again keeps the locked values.
    writeFile(path(), "[parametres]\r\nAdresseIp=changed.host\r\nAlias=changed\r\nPort=82\r\n");
    ASSERT_TRUE(s.read());
    EXPECT_EQ(s.AdresseIp, "cmd.host");
    EXPECT_EQ(s.Alias, "cmdalias");
    EXPECT_EQ(s.Port, "82");
}

TEST(CommandLineValue, CutsAtTheNextSlashAndIgnoresCase)
{
    EXPECT_EQ(CommandLineValue("/AdresseIp=10.0.0.1 /port=8080 /alias=strandel", "/adresseip"), "10.0.0.1");
    EXPECT_EQ(CommandLineValue("/AdresseIp=10.0.0.1 /port=8080 /alias=strandel", "/PORT"), "8080");
    EXPECT_EQ(CommandLineValue("/AdresseIp=10.0.0.1 /port=8080 /alias=strandel", "/alias"), "strandel");
    // A value holding "/" is cut before it.
    EXPECT_EQ(CommandLineValue("/alias=img/v2 /port=81", "/alias"), "img");
    EXPECT_EQ(CommandLineValue("/AdresseIp http://serveur", "/AdresseIp"), "http:");
    // The character after the key is skipped whatever it is.
    EXPECT_EQ(CommandLineValue("/port:  81  ", "/port"), "81");
    EXPECT_EQ(CommandLineValue("/port/alias=x", "/port"), "");
    EXPECT_EQ(CommandLineValue("DEBUG", "/port"), "");
    EXPECT_EQ(CommandLineValue("/port", "/port"), "");
    // The next "/" is only looked for in the 80 characters after the key's
    // first one; beyond them the value runs to the end of the line.
    const QString longValue(90, u'a');
    EXPECT_EQ(CommandLineValue("/alias=" + longValue + " /port=81", "/alias"), longValue + " /port=81");
    const QString shortValue(60, u'a');
    EXPECT_EQ(CommandLineValue("/alias=" + shortValue + " /port=81", "/alias"), shortValue);
}

TEST(CommandLine, FirstArgumentWordsAndProgramPath)
{
    EXPECT_TRUE(CommandLine({"Strandel", "debug"}).debug());
    EXPECT_FALSE(CommandLine({"Strandel", "/port=1", "DEBUG"}).debug());
    EXPECT_TRUE(CommandLine({"Strandel", "No Config"}).noConfig());
    EXPECT_TRUE(CommandLine({"Strandel", "NOCONFIG"}).noConfig());
    EXPECT_FALSE(CommandLine({"Strandel", "NO", "CONFIG"}).noConfig());
    EXPECT_TRUE(CommandLine({"Strandel", "noscc"}).noShortcuts());
    EXPECT_FALSE(CommandLine({"Strandel"}).debug());
    // A program folder whose path reads like an option is not an option.
    TransferSettings s;
    CommandLine({"/home/u/Portail/Strandel", "NOSCC"}).applyTo(s);
    EXPECT_FALSE(s.portLocked());
    EXPECT_TRUE(s.Port.isEmpty());
}

TEST(RequestFile, NameAndSevenLines)
{
    const QString stamp = RequestStamp(QDateTime(QDate(2005, 3, 2), QTime(14, 30, 5)));
    EXPECT_EQ(stamp, "2005-03-02 143005");
    const QString name = RequestFileName(QStringLiteral("CLINIQUE"), stamp);
    EXPECT_EQ(name, "CLINIQUE[2005-03-02 143005].req");
    EXPECT_EQ(RequestFileBytes({"CLINIQUE", stamp, QStringLiteral("ACC-É1"), "20", "", "Strandel__50",
                                "RAPPORT=NON"}),
              QByteArray("CLINIQUE\r\n2005-03-02 143005\r\nACC-\xC9" "1\r\n20\r\n\r\nStrandel__50\r\n"
                         "RAPPORT=NON\r\n"));
    // A line break inside a value cannot add a line.
    EXPECT_EQ(RequestFileBytes({"C", "s", "A\r\nB", "100", "1970-01-01", "", "RAPPORT=OUI"})
                  .count("\r\n"),
              7);
    EXPECT_EQ(AnswerFileName(name, ".ERR"), "CLINIQUE[2005-03-02 143005].ERR");
    EXPECT_EQ(AnswerFileName("X[1].REQ", ".ok2"), "X[1].ok2");
    EXPECT_EQ(qualityForRate(CompressionRate::Rate0), "100");
    EXPECT_EQ(qualityForRate(CompressionRate::Rate20), "80");
    EXPECT_EQ(qualityForRate(CompressionRate::Rate50), "50");
    EXPECT_EQ(qualityForRate(CompressionRate::Rate80), "20");
}

TEST(WaitMode, ClockAndCheckTicks)
{
    EXPECT_EQ(WaitClock(0), "00:00");
    EXPECT_EQ(WaitClock(65), "01:05");
    EXPECT_EQ(WaitClock(3600), "60:00");
    EXPECT_EQ(WaitClock(100 * 60 + 7), "100:07");
    QList<int> checks;
    for (int c = 1; c <= 30; ++c) {
        if (IsCheckTick(c, 10))
            checks << c;
    }
    EXPECT_EQ(checks, QList<int>({1, 10, 20, 30}));
}
