#include "viewer/shell/apphook.h"
#include "viewer/shell/templatedm.h"

#include "shelltesting.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocale>
#include <QTest>
#include "testsupport/qtestgtest.h"

#include <cstdlib>

#ifdef KORVANE_HAVE_MODULE
#include "imaging/imaging.h"
#endif

#include <gtest/gtest.h>

TEST(TemplateDM, TempFolderFromTheVariableWithItsLengthLimit)
{
    {
        ShellFixture fixture;
        fixture.services.TempVariable = "/var/tmp/" + QString(246, 'a'); // 255 characters
        TTemplateDM &dm = fixture.Create();
        EXPECT_EQ(dm.TempFolder.size(), 255);
        EXPECT_TRUE(fixture.messages.empty());
    }
    {
        ShellFixture fixture;
        fixture.services.TempVariable = "/var/tmp/" + QString(247, 'a'); // 256 characters
        TTemplateDM &dm = fixture.Create();
        ASSERT_EQ(fixture.messages.size(), 1u);
        EXPECT_EQ(fixture.messages[0].text, "Variable d'environnement \"TEMP\" > 255 characters.");
        EXPECT_EQ(fixture.messages[0].kind, TMsgDlgType::mtError);
        // Start-up goes on, but the component has nowhere to go.
        EXPECT_TRUE(dm.TempFolder.isEmpty());
        EXPECT_FALSE(dm.RegisterOCX());
        EXPECT_EQ(fixture.messages.back().text, "Erreur de chargement DOL! Veuillez contacter Quellarix.");
    }
    {
        ShellFixture fixture;
        fixture.services.TempVariable.reset();
        TTemplateDM &dm = fixture.Create();
        EXPECT_EQ(dm.TempFolder, "/tmp");
        ASSERT_EQ(fixture.messages.size(), 1u);
        EXPECT_EQ(fixture.messages[0].text, "Variable d'environnement \"TEMP\" non définie.");
        EXPECT_EQ(fixture.messages[0].kind, TMsgDlgType::mtWarning);
    }
}

TEST(TemplateDM, FoldersFormatsAndCursors)
{
    ShellFixture fixture({"/nologo"});
    fixture.services.ExecutablePath = fixture.dir.filePath("CdRom/Visite01/KorvaneCD");
    fixture.services.TempVariable = fixture.dir.filePath("tmp/");
    TTemplateDM &dm = fixture.Create();
    EXPECT_EQ(&TemplateDM(), &dm);
    EXPECT_EQ(dm.ProgramFolder, fixture.dir.filePath("CdRom/Visite01/")) << "keeps its case";
    EXPECT_EQ(dm.TempFolder, fixture.dir.filePath("tmp"));
    EXPECT_TRUE(dm.HasOption("/NOLOGO"));

    EXPECT_EQ(QLocale().toString(1234.5), "1234.5");
    EXPECT_EQ(std::strtod("0.25", nullptr), 0.25);
    EXPECT_EQ(shell::ShortDate(QDate(2026, 3, 5)), "2026-03-05");

    // Six pictures of their own, each with its hot spot in the middle.
    QList<QImage> pictures;
    for (int slot : {crScroll, crWidthLevel, crMagnify, crMove, crZoom, crMeasure}) {
        EXPECT_EQ(dm.Cursor(slot).shape(), Qt::BitmapCursor) << slot;
        EXPECT_EQ(dm.Cursor(slot).pixmap().size(), QSize(32, 32)) << slot;
        EXPECT_EQ(dm.Cursor(slot).hotSpot(), QPoint(16, 16)) << slot;
        const QImage picture = dm.Cursor(slot).pixmap().toImage();
        EXPECT_FALSE(pictures.contains(picture)) << slot;
        pictures << picture;
    }
    EXPECT_EQ(dm.Cursor(99).shape(), Qt::ArrowCursor);
}

TEST(TemplateDM, RegisteredMessagesArePostedToTheApplicationHook)
{
    ShellFixture fixture;
    TTemplateDM &dm = fixture.Create();
    QSet<int> numbers;
    for (const char *name : kRegisteredMessageNames) {
        const QEvent::Type type = dm.RegisteredMessage(name);
        EXPECT_GE(int(type), int(QEvent::User));
        EXPECT_EQ(dm.RegisteredMessage(name), type);
        numbers.insert(type);
    }
    EXPECT_EQ(numbers.size(), 7);

    ASSERT_NE(dm.ApplicationHook(), nullptr);
    QList<int> seen;
    const int id = dm.ApplicationHook()->AddHandler([&seen](QObject *receiver, QEvent *event) {
        if (receiver == QCoreApplication::instance() && event->type() >= QEvent::User)
            seen.append(event->type());
        return false;
    });
    dm.PostRegisteredMessage("WM_CLOSECINE");
    dm.PostRegisteredMessage("WM_THREADTERMINATE");
    QTRY_COMPARE(seen.size(), 2);
    EXPECT_EQ(seen[0], dm.RegisteredMessage("WM_CLOSECINE"));
    EXPECT_EQ(seen[1], dm.RegisteredMessage("WM_THREADTERMINATE"));
    dm.ApplicationHook()->RemoveHandler(id);
}

namespace {
QStringList g_order;
struct FirstPart : TTemplateDMPart
{
    explicit FirstPart(TTemplateDM &dm) : library(dm.ComponentLibrary()) {}
    ~FirstPart() override { g_order.append(TemplateDMIfAny() && TemplateDM().ComponentLibrary() ? "first, component loaded" : "first"); }
    void *library;
    int value = 0;
};
struct SecondPart : TTemplateDMPart
{
    ~SecondPart() override { g_order.append("second"); }
};
} // namespace

TEST(TemplateDM, PartsAreMadeOnceAndGoNewestFirstBeforeTheComponent)
{
    g_order.clear();
    {
        ShellFixture fixture;
        TTemplateDM &dm = fixture.Create();
#ifdef KORVANE_HAVE_MODULE
        ASSERT_TRUE(dm.RegisterOCX());
#endif
        dm.Part<FirstPart>().value = 5;
        dm.Part<SecondPart>();
        EXPECT_EQ(dm.Part<FirstPart>().value, 5);
        EXPECT_EQ(dm.Part<FirstPart>().library, dm.ComponentLibrary());
    }
#ifdef KORVANE_HAVE_MODULE
    EXPECT_EQ(g_order, QStringList({"second", "first, component loaded"}));
#else
    EXPECT_EQ(g_order, QStringList({"second", "first"}));
#endif
}

#ifdef KORVANE_HAVE_MODULE

TEST(TemplateDM, RegisterOCXLoadsTheEmbeddedComponentAndLogsEveryStep)
{
    ShellFixture fixture;
    fixture.SetMachine("Debug", 1);
    QString file;
    {
        TTemplateDM &dm = fixture.Create();
        file = dm.ComponentFilePath();
        ASSERT_TRUE(dm.RegisterOCX());
        EXPECT_TRUE(fixture.messages.empty());
        EXPECT_TRUE(QFile::exists(file));
        EXPECT_NE(dm.ComponentLibrary(), nullptr);

        QStringList expected;
        for (const char *name : imaging::kComponentClasses)
            expected.append(name);
        EXPECT_EQ(dm.ClassTable().ClassNames(), expected);

        // Objects made through the table work.
        auto global = dm.CreateComponent<imaging::DicomGlobal>();
        EXPECT_FALSE(global->Version().isEmpty());
        auto labels = dm.CreateComponent<imaging::DicomLabels>();
        labels->AddNew()->SetText("Im: 1/3");
        ASSERT_EQ(labels->Count(), 1);
        EXPECT_EQ(labels->Item(1)->Text(), "Im: 1/3");
        auto images = dm.CreateComponent<imaging::DicomImages>();
        EXPECT_EQ(images->Count(), 0);
        EXPECT_THROW(images->ReadFile(fixture.dir.filePath("missing.dcm")), imaging::DicomError);

        QFile log(dm.Log().FileName(QDateTime::currentDateTime()));
        ASSERT_TRUE(log.open(QIODevice::ReadOnly));
        QStringList lines;
        for (const QByteArray &line : log.readAll().split('\n'))
            if (!line.isEmpty())
                lines.append(QString::fromLatin1(line.mid(10)).trimmed());
        EXPECT_EQ(lines, QStringList({"TTEMPLATEDM.REGISTEROCX Begin extraction of " + file,
                                      "TTEMPLATEDM.REGISTEROCX End extraction of " + file,
                                      "TTEMPLATEDM.REGISTEROCX Begin of loading library",
                                      "TTEMPLATEDM.REGISTEROCX End of loading library",
                                      "TTEMPLATEDM.REGISTEROCX Begin of class registration",
                                      "TTEMPLATEDM.REGISTEROCX End of class registration"}));
        global.reset();
        labels.reset();
        images.reset();
        fixture.dm.reset();
    }
    EXPECT_FALSE(QFile::exists(file)) << "the component file goes with the data module";
}

TEST(TemplateDM, APlantedComponentFileIsNeverLoaded)
{
    ShellFixture fixture;
    const QString marker = fixture.dir.filePath("planted-loaded");
    qputenv("KORVANE_PLANTED_MARKER", marker.toLocal8Bit());
    TTemplateDM &dm = fixture.Create();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(dm.ComponentFilePath()).path()));
    ASSERT_TRUE(QFile::copy(KORVANE_PLANTED_MODULE, dm.ComponentFilePath()));
    ASSERT_TRUE(dm.RegisterOCX());
    EXPECT_FALSE(QFile::exists(marker));
    EXPECT_EQ(dm.ClassTable().ClassNames().size(), imaging::kComponentClassCount);

    // Where the file cannot be replaced, the load fails with the message.
    ShellFixture blocked;
    TTemplateDM &other = blocked.Create();
    QDir().mkpath(other.ComponentFilePath() + "/inside");
    EXPECT_FALSE(other.RegisterOCX());
    ASSERT_EQ(blocked.messages.size(), 1u);
    EXPECT_EQ(blocked.messages[0].text, "Erreur de chargement DOL! Veuillez contacter Quellarix.");
    EXPECT_EQ(blocked.messages[0].kind, TMsgDlgType::mtError);
    EXPECT_EQ(blocked.messages[0].buttons, mbOK);
    EXPECT_TRUE(other.ClassTable().IsEmpty());
}

#endif
