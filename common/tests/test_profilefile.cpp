#include "common/cp1252.h"
#include "common/profilefile.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using common::ProfileFile;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

} // namespace

TEST(Cp1252, RoundTripsEveryByte)
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    const QString text = common::fromCp1252(all);
    EXPECT_EQ(text.size(), 256);
    EXPECT_EQ(common::toCp1252(text), all);
    EXPECT_EQ(text[0x80], QChar(0x20AC)); // euro sign
    EXPECT_EQ(text[0xE9], QChar(u'é'));
    EXPECT_EQ(text[0x9C], QChar(0x0153)); // oe ligature
}

TEST(Cp1252, UnmappableCharactersBecomeQuestionMarks)
{
    EXPECT_EQ(common::toCp1252(QStringLiteral("Ép\u4E2Dé€")), QByteArray("\xC9p?\xE9\x80"));
    EXPECT_TRUE(common::isCp1252(QStringLiteral("Épurer après 30 jours")));
    EXPECT_FALSE(common::isCp1252(QStringLiteral("\u4E2D")));
}

TEST(ProfileFile, ReadsLikeTheProfileFunctions)
{
    ProfileFile p;
    p.parse("; comment=not a key\r\n"
            "[Parametres]\r\n"
            "  AdresseIp =  10.0.0.1  \r\n"
            "alias=\"quoted value\"\r\n"
            "Single='x'\r\n"
            "Half=\"open\r\n"
            "Delai=abc\r\n"
            "Hex=$1F\r\n"
            "Neg=-4\r\n"
            "Empty=\r\n"
            "adresseip=second wins not\r\n"
            "[parametres]\r\n"
            "Later=ignored, first section wins\r\n"
            "[Autre]\r\n"
            "Delai=99\r\n");
    EXPECT_EQ(p.readString("parametres", "ADRESSEIP"), "10.0.0.1");
    EXPECT_EQ(p.readString("parametres", "Alias"), "quoted value");
    EXPECT_EQ(p.readString("parametres", "Single"), "x");
    EXPECT_EQ(p.readString("parametres", "Half"), "\"open");
    EXPECT_EQ(p.readString("parametres", "Later", "def"), "def");
    EXPECT_EQ(p.readString("parametres", "comment", "def"), "def");
    EXPECT_EQ(p.readString("parametres", "Empty", "def"), "");
    EXPECT_EQ(p.readString("nosuch", "Delai", "def"), "def");
    EXPECT_EQ(p.readInteger("parametres", "Delai", 10), 10);
    EXPECT_EQ(p.readInteger("parametres", "Hex", 0), 31);
    EXPECT_EQ(p.readInteger("parametres", "Neg", 0), -4);
    EXPECT_EQ(p.readInteger("Autre", "Delai", 10), 99);
    EXPECT_TRUE(p.readBool("parametres", "Neg", false));
    EXPECT_TRUE(p.readBool("parametres", "Delai", true)); // not a number: default
    EXPECT_FALSE(p.readBool("parametres", "Delai", false));
    EXPECT_EQ(p.keys("PARAMETRES"),
              QStringList({"AdresseIp", "alias", "Single", "Half", "Delai", "Hex", "Neg", "Empty",
                           "adresseip"}));
    EXPECT_EQ(p.sections(), QStringList({"Parametres", "parametres", "Autre"}));
}

TEST(ProfileFile, WriteKeepsEveryOtherByte)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Strandel.ini");
    // Accented values, foreign sections and keys, a comment, odd spacing,
    // a bare LF line end and no end on the last line.
    const QByteArray original =
        "; Fichier de la clinique\r\n"
        "[Radiologistes]\r\n"
        "DR B\xC9LANGER=12345 7\r\n"
        "\r\n"
        "[parametres]\r\n"
        "AdresseIp=serveur.exemple\r\n"
        "Usager = CL\xC9\x20\r\n"
        "Note=\xABguillemets\xBB et \x80\n"
        "Delai=10\r\n"
        "\r\n"
        "[Fenetre]\r\n"
        "Gauche=12";
    writeAll(path, original);

    ProfileFile p(path);
    ASSERT_TRUE(p.load());
    EXPECT_EQ(p.readString("Radiologistes", QStringLiteral("DR BÉLANGER")), "12345 7");
    EXPECT_EQ(p.readString("parametres", "Note"), QStringLiteral("«guillemets» et €"));
    ASSERT_TRUE(p.save());
    EXPECT_EQ(readAll(path), original);

    p.writeString("parametres", "Delai", "20");                       // existing key
    p.writeString("parametres", "BoutonDownload", QStringLiteral("Reçevoir"));  // new key
    p.writeString("Nouvelle", "Cle", "v");                            // new section
    ASSERT_TRUE(p.save());
    const QByteArray expected =
        "; Fichier de la clinique\r\n"
        "[Radiologistes]\r\n"
        "DR B\xC9LANGER=12345 7\r\n"
        "\r\n"
        "[parametres]\r\n"
        "AdresseIp=serveur.exemple\r\n"
        "Usager = CL\xC9\x20\r\n"
        "Note=\xABguillemets\xBB et \x80\n"
        "Delai=20\r\n"
        "BoutonDownload=Re\xE7" "evoir\r\n"
        "\r\n"
        "[Fenetre]\r\n"
        "Gauche=12\r\n"
        "[Nouvelle]\r\n"
        "Cle=v\r\n";
    EXPECT_EQ(readAll(path), expected);

    ProfileFile again(path);
    ASSERT_TRUE(again.load());
    EXPECT_EQ(again.readString("PARAMETRES", "boutondownload"), QStringLiteral("Reçevoir"));
}

TEST(ProfileFile, LineBreaksInValuesCannotInjectKeys)
{
    ProfileFile p;
    p.writeString("s", "Nom", "A\r\nMotDePasse=X");
    EXPECT_EQ(p.content(), QByteArray("[s]\r\nNom=A  MotDePasse=X\r\n"));
    EXPECT_FALSE(p.contains("s", "MotDePasse"));
}

TEST(ProfileFile, MissingAndUnwritableFiles)
{
    QTemporaryDir dir;
    ProfileFile missing(dir.filePath("absent.ini"));
    EXPECT_TRUE(missing.load());
    EXPECT_TRUE(missing.sections().isEmpty());
    EXPECT_EQ(missing.readString("a", "b", "def"), "def");

    ProfileFile bad(dir.filePath("no/such/folder/x.ini"));
    bad.writeString("a", "b", "c");
    EXPECT_FALSE(bad.save());
    EXPECT_FALSE(bad.errorString().isEmpty());
}

TEST(ProfileFile, RemoveKey)
{
    ProfileFile p;
    p.parse("[R]\r\nA=1\r\nB=2\r\n");
    EXPECT_TRUE(p.removeKey("r", "a"));
    EXPECT_FALSE(p.removeKey("r", "a"));
    EXPECT_EQ(p.content(), QByteArray("[R]\r\nB=2\r\n"));
}
