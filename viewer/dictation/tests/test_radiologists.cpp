// The radiologist list, the choice at recorder creation and the two dialogs, driven as a
// user would (typed keys, buttons, Enter and Escape).

#include "viewer/dictation/formdicteeradiologiste.h"
#include "viewer/dictation/radiologists.h"

#include "common/profilefile.h"
#include "testsupport/fifoguard.h"
#include "testsupport/qtestgtest.h"
#include "viewer/shell/tests/shelltesting.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace dictation;

namespace {

class RadiologistTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        shell.Create();
        ini = shell.dir.filePath(QStringLiteral("KorvaneCD.INI"));
    }

    QByteArray IniBytes() const
    {
        QFile f(ini);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }

    // Shows the add dialog, lets `fill` act on it, and answers its modal result.
    static int Drive(TTemplate6 &dialog, const std::function<void(TFormDicteeAjouterRadiologiste &)> &fill)
    {
        auto *add = qobject_cast<TFormDicteeAjouterRadiologiste *>(&dialog);
        if (!add)
            return int(mrCancel);
        add->show();
        QCoreApplication::processEvents();
        fill(*add);
        return add->isVisible() ? int(mrNone) : add->ModalResult;
    }

    ShellFixture shell;
    QString ini;
};

} // namespace

TEST_F(RadiologistTest, AddingDrAlphaWithoutGroupWritesTheLicenceAloneAndChoosingHimNeedsNoDialog)
{
    int dialogs = 0;
    const TRadiologist added = ChooseRadiologist(ini, [&](TTemplate6 &dialog) {
        ++dialogs;
        return Drive(dialog, [](TFormDicteeAjouterRadiologiste &d) {
            EXPECT_EQ(d.TitleLabel()->text(), QStringLiteral("Ajouter un radiologiste"));
            QTest::keyClicks(d.EditNom, QStringLiteral("dr alpha "));
            QTest::keyClicks(d.EditLicence, QStringLiteral("12345"));
            EXPECT_EQ(d.EditNom->text(), QStringLiteral("DR ALPHA "));
            QTest::keyClick(d.EditGroupe, Qt::Key_Return);
        });
    });
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(added.Name, QStringLiteral("DR ALPHA"));
    EXPECT_EQ(added.Licence, QStringLiteral("12345"));
    EXPECT_EQ(added.Group, QString());
    EXPECT_EQ(IniBytes(), QByteArray("[Radiologistes]\r\nDR ALPHA=12345\r\n"));

    // One radiologist: chosen without a dialog.
    dialogs = 0;
    const TRadiologist chosen = ChooseRadiologist(ini, [&](TTemplate6 &) { return ++dialogs, int(mrCancel); });
    EXPECT_EQ(dialogs, 0);
    EXPECT_EQ(chosen.Name, QStringLiteral("DR ALPHA"));
    EXPECT_EQ(chosen.Licence, QStringLiteral("12345"));
    EXPECT_EQ(chosen.Group, QString());
}

TEST_F(RadiologistTest, LettersHaveNoEffectInLicenceAndGroupAndTheFocusedFieldIsBlue)
{
    TFormDicteeAjouterRadiologiste dialog(QStringLiteral("Radiologistes"), ini);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.activateWindow();
    QTest::keyClicks(dialog.EditLicence, QStringLiteral("1a2B3-4 5"));
    EXPECT_EQ(dialog.EditLicence->text(), QStringLiteral("12345"));
    QTest::keyClick(dialog.EditLicence, Qt::Key_Backspace);
    EXPECT_EQ(dialog.EditLicence->text(), QStringLiteral("1234"));
    QTest::keyClicks(dialog.EditGroupe, QStringLiteral("x9y"));
    EXPECT_EQ(dialog.EditGroupe->text(), QStringLiteral("9"));

    dialog.EditGroupe->setFocus();
    QTRY_VERIFY(dialog.EditGroupe->hasFocus());
    EXPECT_EQ(dialog.EditGroupe->palette().color(QPalette::Base), QColor(234, 244, 255));
    dialog.EditNom->setFocus();
    QTRY_VERIFY(dialog.EditNom->hasFocus());
    EXPECT_EQ(dialog.EditNom->palette().color(QPalette::Base), QColor(234, 244, 255));
    EXPECT_EQ(dialog.EditGroupe->palette().color(QPalette::Base), QApplication::palette().color(QPalette::Base));
}

TEST_F(RadiologistTest, MissingNameOrLicenceAndAnUnwritableFileKeepTheDialogOpen)
{
    TFormDicteeAjouterRadiologiste dialog(QStringLiteral("Radiologistes"), ini);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::keyClicks(dialog.EditLicence, QStringLiteral("12"));
    dialog.ConfirmButton()->click();
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_EQ(shell.messages[0].text, QStringLiteral("Vous devez entrer un nom de radiologiste."));
    EXPECT_EQ(shell.messages[0].kind, TMsgDlgType::mtError);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(QApplication::focusWidget(), dialog.EditNom);

    dialog.EditLicence->clear();
    QTest::keyClicks(dialog.EditNom, QStringLiteral("Dr Beta"));
    dialog.ConfirmButton()->click();
    ASSERT_EQ(shell.messages.size(), 2u);
    EXPECT_EQ(shell.messages[1].text, QStringLiteral("Vous devez entrer un numéro de licence."));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(QApplication::focusWidget(), dialog.EditLicence);
    EXPECT_FALSE(QFile::exists(ini));

    // A list that cannot be written (its folder is not a folder one can write in).
    TFormDicteeAjouterRadiologiste blocked(QStringLiteral("Radiologistes"), QStringLiteral("/proc/KorvaneCD.INI"));
    blocked.show();
    QTest::keyClicks(blocked.EditNom, QStringLiteral("dr beta"));
    QTest::keyClicks(blocked.EditLicence, QStringLiteral("5"));
    blocked.ConfirmButton()->click();
    ASSERT_EQ(shell.messages.size(), 3u);
    EXPECT_TRUE(shell.messages[2].text.contains(QLatin1String("/proc/KorvaneCD.INI")));
    EXPECT_TRUE(blocked.isVisible());
    EXPECT_TRUE(blocked.Result.Empty());
    // Escape ends it cancelled.
    QTest::keyClick(&blocked, Qt::Key_Escape);
    EXPECT_FALSE(blocked.isVisible());
    EXPECT_EQ(blocked.ModalResult, int(mrCancel));
}

TEST_F(RadiologistTest, WithSeveralTheChoiceDialogListsThemInFileOrder)
{
    {
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Autre]\r\nX=1\r\n[Radiologistes]\r\nDR ZETA=9 2\r\nDR ALPHA=12345\r\nDR MU=  44   7 \r\n");
    }
    int shownCount = 0;
    auto pick = [&](int row) {
        return ChooseRadiologist(ini, [&, row](TTemplate6 &dialog) {
            ++shownCount;
            auto *choice = qobject_cast<TFormDicteeConfirmerRadiologiste *>(&dialog);
            if (!choice)
                return int(mrCancel);
            choice->show();
            EXPECT_EQ(choice->TitleLabel()->text(), QStringLiteral("Chercher un radiologiste"));
            QStringList names;
            for (int i = 0; i < choice->ListeRadiologistes->count(); ++i)
                names << choice->ListeRadiologistes->item(i)->text();
            EXPECT_EQ(names, (QStringList{"DR ZETA", "DR ALPHA", "DR MU"}));
            // Nothing selected: "Confirmer" does nothing.
            choice->Confirm();
            EXPECT_TRUE(choice->isVisible());
            if (row < 0) {
                QTest::keyClick(choice, Qt::Key_Escape);
            } else {
                choice->ListeRadiologistes->setCurrentRow(row);
                choice->ConfirmButton()->click();
            }
            return choice->ModalResult;
        });
    };
    const TRadiologist mu = pick(2);
    EXPECT_EQ(mu.Name, QStringLiteral("DR MU"));
    EXPECT_EQ(mu.Licence, QStringLiteral("44"));
    EXPECT_EQ(mu.Group, QStringLiteral("7"));
    EXPECT_EQ(pick(0).Group, QStringLiteral("2"));
    EXPECT_TRUE(pick(-1).Empty());
    EXPECT_EQ(shownCount, 3);
}

TEST(RadiologistsFile, NamedAfterTheExecutable)
{
    EXPECT_EQ(RadiologistsFilePath(QStringLiteral("/cd/"), QStringLiteral("/cd/KorvaneCD")), QStringLiteral("/cd/KorvaneCD.INI"));
    EXPECT_EQ(RadiologistsFilePath(QStringLiteral("/x/"), QStringLiteral("/y/KorvaneCD.exe")), QStringLiteral("/x/KorvaneCD.INI"));
    EXPECT_EQ(RadiologistValue(QStringLiteral("12345"), QString()), QStringLiteral("12345"));
    EXPECT_EQ(RadiologistValue(QStringLiteral("1"), QStringLiteral("2")), QStringLiteral("1 2"));
}

// Minimizing the application while a radiologist dialog is open (the dialog's own minimize
// box) keeps it: restored, it holds what was typed and its confirmation is the answer.
TEST_F(RadiologistTest, TheAddDialogMinimizedWithTheApplicationSurvivesAndAnswers)
{
    TTemplate1 main; // the viewer's main window is one
    main.resize(400, 300);
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    bool returned = false, restored = false;
    WhenModalShows([&](QWidget *modal) {
        auto *add = qobject_cast<TFormDicteeAjouterRadiologiste *>(modal);
        ASSERT_NE(add, nullptr);
        QTest::keyClicks(add->EditNom, QStringLiteral("dr alpha"));
        QTest::keyClicks(add->EditLicence, QStringLiteral("12345"));
        add->showMinimized();
        QCoreApplication::processEvents();
        EXPECT_TRUE(main.isMinimized());
        QTimer::singleShot(0, [&, add = QPointer(add)] {
            if (!add || returned)
                return;
            main.showNormal(); // restored from the main window
            QCoreApplication::processEvents();
            restored = add->isVisible() && !add->isMinimized();
            add->ConfirmButton()->click();
            if (add->isVisible()) // the typed fields were lost: end the test, not wait
                add->CloseWithResult(mrCancel);
        });
    });
    const TRadiologist chosen = ChooseRadiologist(ini, {});
    returned = true;
    EXPECT_TRUE(restored);
    EXPECT_EQ(chosen.Name, QStringLiteral("DR ALPHA"));
    EXPECT_EQ(chosen.Licence, QStringLiteral("12345"));
    EXPECT_EQ(IniBytes(), QByteArray("[Radiologistes]\r\nDR ALPHA=12345\r\n"));
}

// The list replaced by a FIFO: read as empty without waiting, and never written over.
// Replaced by a link: read through it, never written through it.
TEST_F(RadiologistTest, AListThatIsAFifoOrALinkIsNeverWaitedOnNorWrittenThrough)
{
    testsupport::FifoGuard fifo;
    ASSERT_TRUE(fifo.Make(ini));
    fifo.Start();
    EXPECT_TRUE(RadiologistNames(ini).isEmpty());
    EXPECT_TRUE(ReadRadiologist(ini, QStringLiteral("DR ALPHA")).Empty());
    TFormDicteeAjouterRadiologiste dialog(QStringLiteral("Radiologistes"), ini);
    dialog.show();
    QTest::keyClicks(dialog.EditNom, QStringLiteral("dr alpha"));
    QTest::keyClicks(dialog.EditLicence, QStringLiteral("12345"));
    dialog.ConfirmButton()->click();
    EXPECT_FALSE(fifo.Fired()) << "the list was opened as a FIFO";
    ASSERT_EQ(shell.messages.size(), 1u);
    EXPECT_TRUE(shell.messages[0].text.contains(QStringLiteral("fichier ordinaire"))) << shell.messages[0].text.toStdString();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(QFileInfo(ini).isFile());
    dialog.close();
    QFile::remove(ini);

    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath(QStringLiteral("liste.INI"));
    {
        QFile f(target);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Radiologistes]\r\nDR BETA=777\r\n");
    }
    ASSERT_TRUE(QFile::link(target, ini));
    EXPECT_EQ(RadiologistNames(ini), QStringList{QStringLiteral("DR BETA")});
    TFormDicteeAjouterRadiologiste linked(QStringLiteral("Radiologistes"), ini);
    linked.show();
    QTest::keyClicks(linked.EditNom, QStringLiteral("dr alpha"));
    QTest::keyClicks(linked.EditLicence, QStringLiteral("12345"));
    linked.ConfirmButton()->click();
    ASSERT_EQ(shell.messages.size(), 2u);
    EXPECT_TRUE(shell.messages[1].text.contains(QStringLiteral("lien symbolique"))) << shell.messages[1].text.toStdString();
    EXPECT_TRUE(linked.isVisible());
    QFile f(target);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("[Radiologistes]\r\nDR BETA=777\r\n"));
    EXPECT_TRUE(QFileInfo(ini).isSymLink());
}
