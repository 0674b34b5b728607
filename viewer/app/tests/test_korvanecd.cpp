// Starts the KorvaneCD program itself, offscreen, in a private environment
// (temporary, runtime, configuration and state folders of its own).
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include "testsupport/qtestgtest.h"

#include <gtest/gtest.h>

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
        environment.insert("KORVANE_AUTOANSWER_DIALOGS", "1");
        environment.insert("KORVANE_PLANTED_MARKER", dir.filePath("planted-loaded"));
        component = dir.filePath("tmp/KORVANECD.OCX");
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
