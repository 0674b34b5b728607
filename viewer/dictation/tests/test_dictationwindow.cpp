// The dictation from the main window: the button and its pictures, the digit keys, the
// status panel, the closing message, the menu's "Ajouter un radiologiste", and a program
// folder that cannot be written.

#include "viewer/dictation/dictationcontrol.h"
#include "viewer/dictation/formdicteeradiologiste.h"

#include "common/profilefile.h"
#include "testsupport/qtestgtest.h"
#include "viewer/window/tests/windowtesting.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QStandardPaths>
#include <QToolButton>

using dictation::WaveFile;

namespace {

class DictationWindowTest : public windowtest::ViewerTest
{
protected:
    void SetUp() override
    {
        ViewerTest::SetUp();
        TFormDictee::ResetOnceMessages();
        QStandardPaths::setTestModeEnabled(true);
        OpenVisit();
        if (HasFatalFailure())
            return;
        program = work.path() + QLatin1Char('/');
        control = window->Dictation();
        ASSERT_NE(control, nullptr);
        audio = std::make_shared<platform::ClockedAudioSystem>();
        control->Audio = audio;
        control->ProgramFolder = program;
        control->ExecutablePath = program + QStringLiteral("KorvaneCD");
        control->RunDialog = [this](TTemplate6 &dialog) { return answer ? answer(dialog) : int(mrCancel); };
        accession = loading::AttributeText(*VisitData().VisitImages()->Item(1)->Attributes(), 0x0008, 0x0050);
        ASSERT_FALSE(accession.isEmpty());
    }

    void WriteRadiologist(const QString &name, const QString &value)
    {
        common::ProfileFile file(program + QStringLiteral("KorvaneCD.INI"));
        ASSERT_TRUE(file.load());
        file.writeString(QStringLiteral("Radiologistes"), name, value);
        ASSERT_TRUE(file.save());
    }

    void Type(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(window->CurrentFrame(), key, modifiers);
    }

    QTemporaryDir work;
    QString program;
    QString accession;
    TDictationControl *control = nullptr;
    std::shared_ptr<platform::ClockedAudioSystem> audio;
    std::function<int(TTemplate6 &)> answer;
};

} // namespace

TEST_F(DictationWindowTest, ButtonKeysAndStatusFromCreationToTheFinishedDictation)
{
    WriteRadiologist(QStringLiteral("DR ALPHA"), QStringLiteral("12345 3"));
    QAction *button = A("TBPellux");
    EXPECT_FALSE(window->NotBuiltCommands().contains(QStringLiteral("TBPellux")));
    EXPECT_FALSE(window->NotBuiltCommands().contains(QStringLiteral("AddRadiologist")));
    ASSERT_TRUE(button->isEnabled());
    EXPECT_EQ(button->toolTip(), QStringLiteral("Dicter"));
    EXPECT_EQ(control->Glyph(), 55);
    // Without a recorder the digits are the window's as before.
    Type(Qt::Key_0);
    EXPECT_EQ(control->Recorder(), nullptr);

    button->trigger();
    TFormDictee *recorder = control->Recorder();
    ASSERT_NE(recorder, nullptr);
    EXPECT_FALSE(recorder->isVisible());
    EXPECT_EQ(recorder->Accession(), accession);
    EXPECT_EQ(recorder->DictationFile(), program + TFormDictee::SafeFileName(accession) + QStringLiteral(".wav"));
    // No prompt file here: its message, and the recorder is ready at once.
    EXPECT_EQ(control->Glyph(), 56);

    Type(Qt::Key_0);
    EXPECT_TRUE(recorder->Recording());
    EXPECT_EQ(control->Glyph(), 57);
    EXPECT_EQ(window->StatusPanel(3), QStringLiteral("DR ALPHA"));
    // The whole name shows in the panel (its described 50 pixels would cut it).
    const QLabel *panel = window->StatusLabel(3);
    ASSERT_NE(panel, nullptr);
    EXPECT_GE(panel->contentsRect().width(), panel->fontMetrics().horizontalAdvance(QStringLiteral("DR ALPHA")));
    QCoreApplication::processEvents();
    audio->Advance(1000);
    // The numeric pad's 3 finishes: the recorder closes itself through its message.
    Type(Qt::Key_3, Qt::KeypadModifier);
    EXPECT_EQ(control->Glyph(), 55);
    QTRY_VERIFY(control->Recorder() == nullptr);
    EXPECT_EQ(control->Glyph(), 55);
    WaveFile r;
    ASSERT_TRUE(r.OpenRead(program + TFormDictee::SafeFileName(accession) + QStringLiteral(".wav")));
    EXPECT_EQ(r.DataLength(), 22050);
    EXPECT_EQ(WaveFile::ReadTags(r.Path()).Source, QStringLiteral("3"));
}

TEST_F(DictationWindowTest, ClosingWhileRecordingLeavesAWholeTaggedFile)
{
    WriteRadiologist(QStringLiteral("DR ALPHA"), QStringLiteral("12345"));
    A("TBPellux")->trigger();
    Type(Qt::Key_0);
    QCoreApplication::processEvents();
    audio->Advance(2000);
    A("TBPellux")->trigger();
    EXPECT_EQ(control->Recorder(), nullptr);
    EXPECT_EQ(control->Glyph(), 55);
    WaveFile r;
    ASSERT_TRUE(r.OpenRead(program + TFormDictee::SafeFileName(accession) + QStringLiteral(".wav")));
    EXPECT_EQ(r.DataLength(), 2 * 22050);
    EXPECT_EQ(WaveFile::ReadTags(r.Path()).Engineer, QStringLiteral("12345"));
    // The keys go back to the window.
    Type(Qt::Key_0);
    EXPECT_EQ(control->Recorder(), nullptr);
}

TEST_F(DictationWindowTest, AddingARadiologistFromTheMenuGivesTheRecorderItsIdentity)
{
    QMenu *menu = window->Menu(QStringLiteral("PopupMenuKorvaneCDPellux"));
    ASSERT_NE(menu, nullptr);
    QAction *add = A("AddRadiologist");
    ASSERT_TRUE(add->isEnabled());
    QStringList captions;
    for (QAction *a : menu->actions())
        captions << a->text();
    EXPECT_EQ(captions.first(), QStringLiteral("Ajouter un radiologiste"));
    int dialogs = 0;
    answer = [&dialogs](TTemplate6 &dialog) {
        ++dialogs;
        auto *adding = qobject_cast<TFormDicteeAjouterRadiologiste *>(&dialog);
        if (!adding)
            return int(mrCancel);
        // The first one comes from the creation of the recorder (empty list): cancelled.
        if (dialogs == 1)
            return int(mrCancel);
        dialog.show();
        adding->EditNom->setText(QStringLiteral("DR GAMMA"));
        adding->EditLicence->setText(QStringLiteral("777"));
        adding->Confirm();
        return adding->ModalResult;
    };
    add->trigger();
    ASSERT_NE(control->Recorder(), nullptr);
    EXPECT_EQ(dialogs, 2);
    EXPECT_EQ(control->Recorder()->Radiologist.Name, QStringLiteral("DR GAMMA"));
    EXPECT_EQ(control->Recorder()->Radiologist.Licence, QStringLiteral("777"));
    common::ProfileFile file(program + QStringLiteral("KorvaneCD.INI"));
    ASSERT_TRUE(file.load());
    EXPECT_EQ(file.readString(QStringLiteral("Radiologistes"), QStringLiteral("DR GAMMA")), QStringLiteral("777"));
    Type(Qt::Key_0);
    EXPECT_TRUE(control->Recorder()->Recording());
}

TEST_F(DictationWindowTest, AReadOnlyProgramFolderSendsTheWorkToTheUsersFolderAndSaysWhere)
{
    control->ProgramFolder = QStringLiteral("/proc/");
    const QString fallback = dictation::FallbackWorkFolder();
    QDir(fallback).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(fallback));
    {
        common::ProfileFile file(fallback + QStringLiteral("KorvaneCD.INI"));
        file.writeString(QStringLiteral("Radiologistes"), QStringLiteral("DR ALPHA"), QStringLiteral("1"));
        ASSERT_TRUE(file.save());
    }
    shell.messages.clear();
    A("TBPellux")->trigger();
    ASSERT_NE(control->Recorder(), nullptr);
    EXPECT_EQ(control->WorkFolder(), fallback);
    ASSERT_FALSE(shell.messages.empty());
    EXPECT_TRUE(shell.messages[0].text.contains(fallback));
    Type(Qt::Key_0);
    QCoreApplication::processEvents();
    audio->Advance(500);
    Type(Qt::Key_0);
    WaveFile r;
    ASSERT_TRUE(r.OpenRead(fallback + TFormDictee::SafeFileName(accession) + QStringLiteral(".wav")));
    EXPECT_GT(r.DataLength(), 0);
    QDir(fallback).removeRecursively();
}
