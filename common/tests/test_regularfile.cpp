// Fixed-name files: only regular files are opened, never waiting on a FIFO; links followed
// or refused as asked; profile files refuse the same; file names fitted to the file system.

#include "common/profilefile.h"
#include "common/regularfile.h"

#include "testsupport/fifoguard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>

namespace {

void Write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArray Read(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(RegularFile, FifosDevicesAndFoldersAreRefusedWithoutWaiting)
{
    QTemporaryDir dir;
    const QString fifoPath = dir.filePath(QStringLiteral("KorvaneCD.INI"));
    testsupport::FifoGuard fifo;
    ASSERT_TRUE(fifo.Make(fifoPath));
    fifo.Start();
    QString error;
    for (int flags : {O_RDONLY, O_RDWR, O_WRONLY | O_CREAT | O_TRUNC}) {
        EXPECT_LT(common::OpenRegularDescriptor(fifoPath, flags, common::Links::Follow, &error), 0);
        EXPECT_TRUE(error.contains(QStringLiteral("fichier ordinaire"))) << error.toStdString();
    }
    QFile file;
    EXPECT_FALSE(common::OpenRegularFile(file, fifoPath, QIODevice::ReadOnly, &error));
    // A profile file in its place: refused to read and to replace.
    common::ProfileFile profile(fifoPath);
    EXPECT_FALSE(profile.load());
    EXPECT_FALSE(profile.errorString().isEmpty());
    profile.writeString(QStringLiteral("Radiologistes"), QStringLiteral("DR ALPHA"), QStringLiteral("1"));
    EXPECT_FALSE(profile.save());
    EXPECT_FALSE(fifo.Fired()) << "an open waited on the FIFO";
    EXPECT_FALSE(QFileInfo(fifoPath).isFile());

    // A device and a folder.
    EXPECT_LT(common::OpenRegularDescriptor(QStringLiteral("/dev/null"), O_RDONLY, common::Links::Follow, &error), 0);
    EXPECT_LT(common::OpenRegularDescriptor(dir.path(), O_RDONLY, common::Links::Follow, &error), 0);
    // A regular file opens, truncation applied once it is known to be one.
    const QString plain = dir.filePath(QStringLiteral("Strandel.ini"));
    Write(plain, "[parametres]\r\n");
    ASSERT_TRUE(common::OpenRegularFile(file, plain, QIODevice::ReadOnly, &error)) << error.toStdString();
    EXPECT_EQ(file.readAll(), QByteArray("[parametres]\r\n"));
    file.close();
    const int fd = common::OpenRegularDescriptor(plain, O_RDWR | O_TRUNC, common::Links::Refuse, &error);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    ::close(fd);
    EXPECT_EQ(QFileInfo(plain).size(), 0);
}

TEST(RegularFile, LinksAreFollowedForReadingAndRefusedForOurOwnFiles)
{
    QTemporaryDir dir, elsewhere;
    const QString target = elsewhere.filePath(QStringLiteral("liste.ini"));
    Write(target, "[Radiologistes]\r\nDR BETA=777\r\n");
    const QString link = dir.filePath(QStringLiteral("KorvaneCD.INI"));
    ASSERT_TRUE(QFile::link(target, link));
    QString error;
    const int read = common::OpenRegularDescriptor(link, O_RDONLY, common::Links::Follow, &error);
    EXPECT_GE(read, 0);
    ::close(read);
    EXPECT_LT(common::OpenRegularDescriptor(link, O_RDWR, common::Links::Refuse, &error), 0);
    EXPECT_TRUE(error.contains(QStringLiteral("lien symbolique"))) << error.toStdString();

    // The radiologist list behind a link: read, but never written through it.
    common::ProfileFile profile(link);
    profile.setLinksRefused(true);
    ASSERT_TRUE(profile.load());
    EXPECT_EQ(profile.keys(QStringLiteral("Radiologistes")), QStringList{QStringLiteral("DR BETA")});
    profile.writeString(QStringLiteral("Radiologistes"), QStringLiteral("DR ALPHA"), QStringLiteral("12345"));
    EXPECT_FALSE(profile.save());
    EXPECT_EQ(Read(target), QByteArray("[Radiologistes]\r\nDR BETA=777\r\n"));
    EXPECT_TRUE(QFileInfo(link).isSymLink());

    // A dangling link: nothing is created where it points, whether links are followed or not.
    const QString nowhere = elsewhere.filePath(QStringLiteral("nouveau.ini"));
    const QString dangling = dir.filePath(QStringLiteral("ACC42.wav"));
    ASSERT_TRUE(QFile::link(nowhere, dangling));
    for (common::Links links : {common::Links::Follow, common::Links::Refuse})
        EXPECT_LT(common::OpenRegularDescriptor(dangling, O_RDWR | O_CREAT, links, &error), 0);
    common::ProfileFile through(dangling);
    through.writeString(QStringLiteral("Radiologistes"), QStringLiteral("DR ALPHA"), QStringLiteral("12345"));
    EXPECT_FALSE(through.save());
    EXPECT_FALSE(QFileInfo::exists(nowhere));
}

TEST(RegularFile, SystemErrorsAreToldInFrench)
{
    QTemporaryDir dir;
    QString error;
    const QString tooLong = dir.filePath(QString(300, QLatin1Char('A')) + QStringLiteral(".wav"));
    EXPECT_LT(common::OpenRegularDescriptor(tooLong, O_RDWR | O_CREAT, common::Links::Refuse, &error), 0);
    EXPECT_EQ(error, QStringLiteral("Le nom du fichier est trop long."));
    EXPECT_EQ(common::SystemErrorText(ENOSPC), QStringLiteral("Le disque est plein."));
    EXPECT_EQ(common::SystemErrorText(EFBIG), QStringLiteral("Le fichier a atteint la taille maximale permise."));
}

TEST(FitFileName, LongNamesAreCutToWhatTheFileSystemTakesAndStayApart)
{
    QTemporaryDir dir;
    const int max = common::MaxFileNameBytes(dir.path());
    EXPECT_GE(max, 14);
    EXPECT_EQ(common::FitFileName(QStringLiteral("ACC42"), QStringLiteral(".wav"), max), QStringLiteral("ACC42.wav"));
    const QString a = QString(500, QLatin1Char('7'));
    const QString b = a.left(499) + QLatin1Char('8');
    const QString fa = common::FitFileName(a, QStringLiteral(".wav"), max);
    const QString fb = common::FitFileName(b, QStringLiteral(".wav"), max);
    EXPECT_LE(QFile::encodeName(fa).size(), max);
    EXPECT_NE(fa, fb);
    EXPECT_TRUE(fa.startsWith(a.left(200)));
    EXPECT_TRUE(fa.endsWith(QStringLiteral(".wav")));
    // Accented letters take two bytes on disk and are never cut in half.
    const QString accented = QString(300, QChar(0xE9));
    const QString fc = common::FitFileName(accented, QStringLiteral(".wav"), max);
    EXPECT_LE(QFile::encodeName(fc).size(), max);
    EXPECT_FALSE(fc.contains(QChar::ReplacementCharacter));
    // The names really are taken.
    for (const QString &name : {fa, fb, fc}) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly)) << f.errorString().toStdString();
    }
}
