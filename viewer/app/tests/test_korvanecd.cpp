// Starts the KorvaneCD program itself, offscreen, in a private environment
// (temporary, runtime, configuration and state folders of its own).
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include "testsupport/qtestgtest.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

class Program : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char *sub : {"tmp", "run", "home", "state"})
            ASSERT_TRUE(QDir().mkpath(dir.filePath(sub)));
        QFile::setPermissions(dir.filePath("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TMPDIR", dir.filePath("tmp"));
        environment.insert("XDG_RUNTIME_DIR", dir.filePath("run"));
        environment.insert("HOME", dir.filePath("home"));
        environment.insert("XDG_CONFIG_HOME", dir.filePath("home/.config"));
        environment.insert("XDG_STATE_HOME", dir.filePath("state"));
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("KORVANE_PLANTED_MARKER", dir.filePath("planted-loaded"));
        component = dir.filePath(QStringLiteral("tmp/KorvaneCD-%1/KORVANECD.OCX").arg(::geteuid()));
    }

    void Start(QProcess &process, const QStringList &arguments)
    {
        process.setProcessEnvironment(environment);
        process.start(KORVANECD_PROGRAM, arguments);
        ASSERT_TRUE(process.waitForStarted(10000));
    }

    // Runs to the end; answers the exit code (-1 when it did not end in time).
    int Run(const QStringList &arguments, QByteArray *errors = nullptr)
    {
        QProcess process;
        Start(process, arguments);
        if (!process.waitForFinished(90000)) {
            process.kill();
            process.waitForFinished();
            return -1;
        }
        if (errors)
            *errors = process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    }

    QTemporaryDir dir;
    QProcessEnvironment environment;
    QString component;
};

} // namespace

TEST_F(Program, RunsToTheMainWindowSavesItsPictureAndCleansUp)
{
    const QString shot = dir.filePath("shot.png");
    QByteArray errors;
    ASSERT_EQ(Run({"/nologo", "/screenshot=" + shot}, &errors), 0) << errors.toStdString();
    const QImage picture(shot);
    ASSERT_FALSE(picture.isNull());
    EXPECT_GT(picture.width(), 300);
    EXPECT_EQ(QColor(picture.pixel(picture.width() / 2, picture.height() / 2)), QColor(Qt::black));
    EXPECT_FALSE(QFile::exists(component)) << "the component file is deleted at the end";
    EXPECT_FALSE(QFile::exists(dir.filePath("planted-loaded")));
    // The main window seeded the CT presets in the user's settings.
    QFile settings(dir.filePath("home/.config/Quellarix/KorvaneCD.conf"));
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    const QByteArray content = settings.readAll();
    EXPECT_TRUE(content.contains("Abdomen")) << content.toStdString();
}

TEST_F(Program, APlantedComponentFileIsReplacedNotLoaded)
{
    ASSERT_TRUE(QDir().mkpath(QFileInfo(component).path()));
    ASSERT_TRUE(QFile::copy(KORVANE_PLANTED_MODULE, component));
    QByteArray errors;
    ASSERT_EQ(Run({"/nologo", "/screenshot=" + dir.filePath("shot.png")}, &errors), 0) << errors.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath("planted-loaded")));
    EXPECT_TRUE(QFile::exists(dir.filePath("shot.png")));
    EXPECT_FALSE(QFile::exists(component));
}

TEST_F(Program, AComponentThatCannotBeWrittenEndsTheProgramWithTheMessage)
{
    ASSERT_TRUE(QDir().mkpath(component + "/inside"));
    QByteArray errors;
    EXPECT_EQ(Run({"/nologo", "/screenshot=" + dir.filePath("shot.png")}, &errors), 1);
    EXPECT_TRUE(QString::fromUtf8(errors).contains("Erreur de chargement DOL! Veuillez contacter Quellarix."))
        << errors.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath("shot.png"))) << "no main window";
}

TEST_F(Program, ASecondStartTellsTheUserCallsTheFirstForwardAndEndsWithZero)
{
    QProcess first;
    Start(first, {"/nologo"});
    // The first run holds the instance lock and listens before it writes its component;
    // a request that comes while it is still starting is kept until its window is shown.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(component), 60000);

    QByteArray errors;
    EXPECT_EQ(Run({"/nologo"}, &errors), 0);
    EXPECT_TRUE(QString::fromUtf8(errors).contains(
        QStringLiteral("Un processus KorvaneCD est déjà en fonction sur ce poste.")))
        << errors.toStdString();

    QByteArray firstErrors;
    QTRY_VERIFY_WITH_TIMEOUT((firstErrors += first.readAllStandardError()).contains("brought to the front"), 10000);
    EXPECT_EQ(first.state(), QProcess::Running);

    // Ended from outside, the first run still cleans up.
    first.terminate();
    ASSERT_TRUE(first.waitForFinished(30000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_FALSE(QFile::exists(component));

    // With the first gone, a new start runs normally.
    EXPECT_EQ(Run({"/nologo", "/screenshot=" + dir.filePath("again.png")}), 0);
}

// The program answers its dialogs only through the dialog function a caller hands it:
// no switch in the environment changes what it asks the user. The tests run a build of
// their own that passes one; the product's file does not even hold the old switch's name.
TEST_F(Program, NoEnvironmentSwitchAnswersTheProductsDialogs)
{
    QFile product(KORVANECD_PRODUCT);
    ASSERT_TRUE(product.open(QIODevice::ReadOnly));
    const QByteArray bytes = product.readAll();
    ASSERT_GT(bytes.size(), 100000);
    EXPECT_EQ(bytes.indexOf(QByteArray("KORVANE_") + "AUTOANSWER_DIALOGS"), -1);
    EXPECT_EQ(bytes.indexOf(QByteArray("AUTOANSWER")), -1);
    EXPECT_NE(QFileInfo(KORVANECD_PROGRAM).canonicalFilePath(), QFileInfo(KORVANECD_PRODUCT).canonicalFilePath());
}

namespace {

// The component files under a folder, whoever wrote them.
QStringList ComponentFiles(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, {"KORVANECD.OCX"}, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    return files;
}

} // namespace

// Two users of one workstation start the viewer in turn with the same temporary folder,
// each while the other's run is still there (running, or ended without cleaning up).
// The second user is "nobody", started through setpriv (the test runs as root).
TEST_F(Program, TwoUsersWithOneTemporaryFolderNeverStopEachOther)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a second user can be started by root only";
    const uid_t nobody = 65534;
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const QString shared = dir.filePath("shared");
    ASSERT_TRUE(QDir().mkpath(shared));
    ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
    environment.insert("TMPDIR", shared);

    // Nobody's own home, runtime and settings folders.
    const QString home = dir.filePath("nobody");
    for (const char *sub : {"", "/run", "/.config", "/state"}) {
        ASSERT_TRUE(QDir().mkpath(home + sub));
        ASSERT_EQ(::chown(QFile::encodeName(home + sub).constData(), nobody, nobody), 0);
    }
    ASSERT_EQ(::chmod(QFile::encodeName(home + "/run").constData(), 0700), 0);
    QProcessEnvironment nobodyEnvironment = environment;
    nobodyEnvironment.insert("HOME", home);
    nobodyEnvironment.insert("XDG_RUNTIME_DIR", home + "/run");
    nobodyEnvironment.insert("XDG_CONFIG_HOME", home + "/.config");
    nobodyEnvironment.insert("XDG_STATE_HOME", home + "/state");
    auto startAsNobody = [&](QProcess &process, const QStringList &arguments) {
        process.setProcessEnvironment(nobodyEnvironment);
        process.start("setpriv", QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", KORVANECD_PROGRAM}
                                     + arguments);
        return process.waitForStarted(10000);
    };

    // Root's viewer runs; nobody's starts beside it and reaches its main window.
    QProcess rootRun;
    Start(rootRun, {"/nologo"});
    QTRY_VERIFY_WITH_TIMEOUT(ComponentFiles(shared).size() == 1, 60000);
    QProcess nobodyRun;
    ASSERT_TRUE(startAsNobody(nobodyRun, {"/nologo", "/screenshot=" + home + "/shot.png"}));
    ASSERT_TRUE(nobodyRun.waitForFinished(90000));
    const QByteArray nobodyErrors = nobodyRun.readAllStandardError();
    EXPECT_EQ(nobodyRun.exitCode(), 0) << nobodyErrors.toStdString();
    EXPECT_FALSE(nobodyErrors.contains("Erreur de chargement DOL!")) << nobodyErrors.toStdString();
    EXPECT_TRUE(QFile::exists(home + "/shot.png"));

    // Root's run ends without cleaning up; nobody starts again past what it left.
    rootRun.kill();
    ASSERT_TRUE(rootRun.waitForFinished(30000));
    ASSERT_EQ(ComponentFiles(shared).size(), 1);
    const QString rootFolder = QFileInfo(ComponentFiles(shared).first()).path();
    QProcess again;
    ASSERT_TRUE(startAsNobody(again, {"/nologo", "/screenshot=" + home + "/again.png"}));
    ASSERT_TRUE(again.waitForFinished(90000));
    EXPECT_EQ(again.exitCode(), 0) << again.readAllStandardError().toStdString();
    EXPECT_TRUE(QFile::exists(home + "/again.png"));

    // Then nobody's run is the one left running, and root starts beside it.
    QProcess nobodyLeft;
    ASSERT_TRUE(startAsNobody(nobodyLeft, {"/nologo"}));
    QTRY_VERIFY_WITH_TIMEOUT(ComponentFiles(shared).size() == 2, 60000);
    EXPECT_EQ(Run({"/nologo", "/screenshot=" + dir.filePath("root.png")}), 0);
    EXPECT_TRUE(QFile::exists(dir.filePath("root.png")));

    // Each user's file lay in a folder of that user's own that nobody else may enter.
    for (const QString &file : ComponentFiles(shared)) {
        struct stat folder {};
        ASSERT_EQ(::lstat(QFile::encodeName(QFileInfo(file).path()).constData(), &folder), 0);
        EXPECT_TRUE(S_ISDIR(folder.st_mode));
        EXPECT_EQ(folder.st_mode & 0777, 0700u) << file.toStdString();
        struct stat info {};
        ASSERT_EQ(::lstat(QFile::encodeName(file).constData(), &info), 0);
        EXPECT_EQ(folder.st_uid, info.st_uid) << file.toStdString();
        EXPECT_EQ(QFileInfo(file).path() == rootFolder, info.st_uid == 0) << file.toStdString();
    }
    nobodyLeft.kill();
    ASSERT_TRUE(nobodyLeft.waitForFinished(30000));
}
