// Start-up sequence, password, first-time configuration, parameters and
// request dialogs, driven through real widgets offscreen.

#include "clienttestutil.h"

#include "testsupport/fifoguard.h"

#include "transfer/core/clientform.h"
#include "transfer/core/formconfig.h"
#include "transfer/core/formparametres.h"
#include "transfer/core/formpassword.h"
#include "transfer/core/formrequete.h"

#include <QCheckBox>
#include <QDate>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace strandel;
using namespace clienttest;

namespace {

const QString kInvalidPassword = QStringLiteral("Mot de passe invalide");

// Types each attempt into the password dialog and presses Enter, as long as
// the dialog stays open.
int answerPassword(QDialog &d, const QStringList &attempts)
{
    auto *form = qobject_cast<TFormPassWord *>(&d);
    if (!form)
        return QDialog::Rejected;
    form->show();
    for (const QString &a : attempts) {
        if (!form->isVisible())
            break;
        QTest::keyClicks(form->passwordEdit(), a);
        QTest::keyClick(form->passwordEdit(), Qt::Key_Return);
    }
    return form->result();
}

struct ClientFolder : ::testing::Test {
    QTemporaryDir dir;
    UiRecorder rec;
    QString ini() const { return dir.filePath(QStringLiteral("Strandel.ini")); }
};

} // namespace

TEST_F(ClientFolder, MissingSettingsFileEndsTheProgram)
{
    TClientForm form(dir.path(), CommandLine({"Strandel"}), rec.ui());
    EXPECT_FALSE(form.startUp());
    ASSERT_EQ(rec.messages.size(), 1);
    EXPECT_EQ(rec.messages[0].kind, MessageKind::Error);
    EXPECT_EQ(rec.messages[0].text,
              "Les paramètres de configuration sont introuvables\rLe logiciel est inutilisable.");
}

// FIFOs in place of the settings and the news: the start never waits on them, the news is
// not shown, and the settings are refused with the reason.
TEST_F(ClientFolder, FifosInPlaceOfTheSettingsAndTheNewsNeverHoldTheStart)
{
    testsupport::FifoGuard fifo;
    ASSERT_TRUE(fifo.Make(ini()));
    ASSERT_TRUE(fifo.Make(dir.filePath(QStringLiteral("StrandelNews.txt"))));
    TClientForm form(dir.path(), CommandLine({"Strandel"}), rec.ui());
    int news = 0;
    form.features().showNews = [&](TClientForm &) { ++news; };
    fifo.Start();
    EXPECT_FALSE(form.startUp());
    EXPECT_FALSE(fifo.Fired()) << "the start waited on a FIFO";
    EXPECT_EQ(news, 0);
    ASSERT_EQ(rec.messages.size(), 1);
    EXPECT_TRUE(rec.messages[0].text.startsWith("Les paramètres de configuration sont introuvables"));
    EXPECT_TRUE(rec.messages[0].text.contains("fichier ordinaire")) << rec.messages[0].text.toStdString();
}

TEST_F(ClientFolder, PasswordThreeWrongAttemptsEndTheProgram)
{
    writeFile(ini(), configuredIni());
    TClientForm form(dir.path(), CommandLine({"Strandel"}), rec.ui());
    rec.onDialog = [](QDialog &d) { return answerPassword(d, {"A", "B", "C", "SECRET"}); };
    EXPECT_FALSE(form.startUp());
    EXPECT_EQ(rec.texts(), QStringList({kInvalidPassword, kInvalidPassword, kInvalidPassword}));
}

TEST_F(ClientFolder, PasswordTypedInUpperCaseOnTheThirdAttemptOpens)
{
    writeFile(ini(), configuredIni("Requete=1\r\nDicteeActif=1\r\nBoutonDownload=Recevoir\r\n"));
    TClientForm form(dir.path(), CommandLine({"Strandel", "NOCONFIG"}), rec.ui());
    QString typed;
    rec.onDialog = [&](QDialog &d) {
        const int r = answerPassword(d, {"x", "y", "secret"});
        typed = qobject_cast<TFormPassWord *>(&d)->passwordEdit()->text();
        return r;
    };
    ASSERT_TRUE(form.startUp());
    EXPECT_EQ(typed, "SECRET");
    EXPECT_EQ(rec.texts(), QStringList({kInvalidPassword, kInvalidPassword}));
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    // Buttons as the settings ask; unbuilt features visible but disabled.
    EXPECT_TRUE(form.requestButton()->isVisible());
    EXPECT_EQ(form.downloadButton()->x(), 312);
    EXPECT_EQ(form.downloadButton()->text(), "Recevoir");
    EXPECT_TRUE(form.dictationButton()->isVisible());
    EXPECT_FALSE(form.dictationButton()->isEnabled());
    EXPECT_FALSE(form.downloadButton()->isEnabled());
    EXPECT_FALSE(form.parametresButton()->isVisible()); // NOCONFIG
    EXPECT_FALSE(form.unzipButton()->isVisible());
    EXPECT_FALSE(form.timerLabel()->isVisible());
    EXPECT_EQ(form.windowTitle(), "Strandel,  version 4.3.4");
    EXPECT_EQ(form.size(), QSize(611, 215));

    // Without requests the download button is centred and takes the caption back.
    form.settings().Requete = false;
    form.settings().BoutonDownload.clear();
    form.settings().DicteeActif = false;
    form.settings().setDefaultRate(CompressionRate::Rate0);
    form.features().download = [](TClientForm &) {};
    form.applySettings(false);
    EXPECT_FALSE(form.requestButton()->isVisible());
    EXPECT_EQ(form.downloadButton()->x(), 168);
    EXPECT_EQ(form.downloadButton()->text(), "Télécharger les images disponibles");
    EXPECT_FALSE(form.dictationButton()->isVisible());
    EXPECT_EQ(form.formRequete()->rate(), CompressionRate::Rate0);
}

TEST_F(ClientFolder, StartUpStepsCallTheirFeatures)
{
    writeFile(ini(), configuredIni("EpureAuto=1\r\n"));
    writeFile(dir.filePath("StrandelNews.txt"), "Nouveautés");
    TClientForm form(dir.path(), CommandLine({"Strandel", "DEBUG"}), rec.ui());
    QStringList calls;
    form.features().showNews = [&](TClientForm &) { calls << "news"; };
    form.features().automaticPurgeCheck = [&](TClientForm &) { calls << "purge"; };
    form.features().unzipRadiologist = [&](TClientForm &) { calls << "unzip"; };
    rec.onDialog = [&](QDialog &d) {
        calls << d.objectName();
        return answerPassword(d, {"SECRET"});
    };
    ASSERT_TRUE(form.startUp());
    EXPECT_EQ(calls, QStringList({"news", "FormPassWord", "purge"}));
    form.show();
    EXPECT_TRUE(form.unzipButton()->isVisible());
    EXPECT_TRUE(form.unzipButton()->isEnabled());
    QTest::mouseClick(form.unzipButton(), Qt::LeftButton);
    EXPECT_EQ(calls.last(), "unzip");
}

TEST_F(ClientFolder, IncompleteSettingsAskForTheFirstTimeConfiguration)
{
    writeFile(ini(), "[parametres]\r\nAdresseIp=127.0.0.1\r\nAlias=strandel\r\n");
    TClientForm form(dir.path(), CommandLine({"Strandel", "NOSCC"}), rec.ui());
    QList<std::pair<bool, bool>> shortcuts;
    form.features().createShortcuts = [&](TClientForm &, bool a, bool b) { shortcuts.append({a, b}); };
    bool serverHidden = false, shortcutsHidden = false;
    rec.onDialog = [&](QDialog &d) {
        if (auto *c = qobject_cast<TFormConfig *>(&d)) {
            c->show();
            serverHidden = c->serverGroup()->isHidden();
            shortcutsHidden = c->shortcutGroup()->isHidden();
            // Nothing typed: refused, the dialog stays open.
            QTest::mouseClick(c->configurerButton(), Qt::LeftButton);
            EXPECT_TRUE(c->isVisible());
            QTest::keyClicks(c->usagerEdit(), "u1");
            QTest::keyClicks(c->motDePasseEdit(), "secret");
            QTest::keyClicks(c->fichierZipEdit(), "clinique");
            QTest::mouseClick(c->configurerButton(), Qt::LeftButton);
            return c->result();
        }
        return answerPassword(d, {"SECRET"});
    };
    ASSERT_TRUE(form.startUp());
    EXPECT_TRUE(serverHidden);
    EXPECT_TRUE(shortcutsHidden);
    EXPECT_TRUE(shortcuts.isEmpty()); // NOSCC unticks both boxes
    EXPECT_EQ(rec.texts(), QStringList({"Erreur: Vous devez préciser tous les paramètres requis",
                                        "Voulez-vous enregistrer les paramètres ?"}));
    const QByteArray written = readFile(ini());
    EXPECT_TRUE(written.contains("FichierZip=CLINIQUE\r\n"));
    EXPECT_TRUE(written.contains("Usager=U1\r\n"));
    EXPECT_TRUE(written.contains("MotDePasse=SECRET\r\n"));
}

TEST_F(ClientFolder, FirstTimeConfigurationDeclinedEndsTheProgram)
{
    writeFile(ini(), "[parametres]\r\nFichierZip=CLINIQUE\r\n");
    TClientForm form(dir.path(), CommandLine({"Strandel"}), rec.ui());
    int shortcutCalls = 0;
    form.features().createShortcuts = [&](TClientForm &, bool, bool) { ++shortcutCalls; };
    rec.answers = {false};
    bool serverShown = false;
    rec.onDialog = [&](QDialog &d) {
        auto *c = qobject_cast<TFormConfig *>(&d);
        EXPECT_NE(c, nullptr);
        c->show();
        serverShown = c->serverGroup()->isVisible() && c->shortcutGroup()->isVisible();
        c->adresseIpEdit()->setText("127.0.0.1");
        c->aliasEdit()->setText("strandel");
        c->usagerEdit()->setText("U1");
        c->motDePasseEdit()->setText("P");
        QTest::mouseClick(c->configurerButton(), Qt::LeftButton);
        return c->result();
    };
    const QByteArray before = readFile(ini());
    EXPECT_FALSE(form.startUp());
    EXPECT_TRUE(serverShown);
    EXPECT_EQ(shortcutCalls, 0);
    EXPECT_EQ(readFile(ini()), before);
}

TEST(FormConfig, ConfirmedWritesAndCreatesTheTickedShortcuts)
{
    QTemporaryDir dir;
    UiRecorder rec;
    TransferSettings s;
    s.setFile(dir.filePath("Strandel.ini"));
    s.read();
    s.AdresseIp.clear();
    QList<std::pair<bool, bool>> made;
    TFormConfig c(s, rec.ui(), false, [&](bool a, bool b) { made.append({a, b}); });
    c.show();
    EXPECT_TRUE(c.serverGroup()->isVisible());
    c.adresseIpEdit()->setText("10.1.1.1");
    c.portEdit()->setText("8080");
    c.aliasEdit()->setText("img");
    c.usagerEdit()->setText("U1");
    c.motDePasseEdit()->setText("P");
    c.fichierZipEdit()->setText("CLINIQUE");
    c.viewerShortcut()->setChecked(false);
    QTest::mouseClick(c.configurerButton(), Qt::LeftButton);
    EXPECT_EQ(c.result(), QDialog::Accepted);
    EXPECT_EQ(made, (QList<std::pair<bool, bool>>{{true, false}}));
    TransferSettings back;
    back.setFile(s.file());
    back.read();
    EXPECT_EQ(back.AdresseIp, "10.1.1.1");
    EXPECT_EQ(back.Port, "8080");
    EXPECT_EQ(back.Alias, "img");
    EXPECT_EQ(back.FichierZip, "CLINIQUE");
}

namespace {

struct Parametres : ::testing::Test {
    QTemporaryDir dir;
    UiRecorder rec;
    TransferSettings settings;
    SoapClient soap;
    TFormRequete requete{rec.ui()};
    std::unique_ptr<TFormParametres> form;

    void SetUp() override
    {
        writeFile(path(), configuredIni("Conserver=1\r\nEpurer=30\r\n"));
        settings.setFile(path());
        open();
    }
    void open(TFormParametres::Actions actions = {})
    {
        form = std::make_unique<TFormParametres>(settings, soap, rec.ui(), &requete, std::move(actions));
        form->prepare();
        form->show();
    }
    QString path() const { return dir.filePath("Strandel.ini"); }
};

} // namespace

TEST_F(Parametres, OpensOnAccessWithTheFileValues)
{
    EXPECT_EQ(form->tabs()->count(), 3);
    EXPECT_EQ(form->tabs()->tabText(0), "Accès");
    EXPECT_EQ(form->tabs()->tabText(1), "Personnaliser");
    EXPECT_EQ(form->tabs()->tabText(2), "Options");
    EXPECT_EQ(form->tabs()->currentIndex(), 0);
    EXPECT_EQ(form->edit("AdresseIp")->text(), "127.0.0.1");
    EXPECT_EQ(form->edit("Epurer")->text(), "30");
    EXPECT_TRUE(form->check("Taux80")->isChecked());
    EXPECT_TRUE(form->check("TauxSuggere")->isChecked());
    // Features not built here: their buttons stay disabled.
    EXPECT_FALSE(form->button("Mise à jour")->isEnabled());
    EXPECT_FALSE(form->button("Épuration")->isEnabled());
    EXPECT_TRUE(form->button("Tester la connexion")->isEnabled());
}

TEST_F(Parametres, CloseBoxKeepsEditsWithoutWritingOrReading)
{
    const QByteArray before = readFile(path());
    form->tabs()->setCurrentIndex(2);
    form->edit("BoutonDownload")->setText("Recevoir");
    form->close();
    EXPECT_EQ(form->result(), QDialog::Rejected);
    EXPECT_EQ(settings.BoutonDownload, "Recevoir");
    EXPECT_EQ(readFile(path()), before);
    EXPECT_TRUE(rec.messages.isEmpty());
    // The next opening reads the file again.
    open();
    EXPECT_TRUE(settings.BoutonDownload.isEmpty());
    EXPECT_EQ(form->tabs()->currentIndex(), 0);
}

TEST_F(Parametres, SaveYesWritesSaveNoReadsBack)
{
    form->edit("Delai")->setText("25");
    qobject_cast<QRadioButton *>(form->check("Taux50"))->setChecked(true);
    rec.answers = {false};
    QTest::mouseClick(form->button("Sauvegarder"), Qt::LeftButton);
    EXPECT_EQ(form->result(), QDialog::Accepted);
    EXPECT_EQ(settings.Delai, "10");
    EXPECT_TRUE(settings.Taux80);
    EXPECT_FALSE(readFile(path()).contains("Delai"));

    open();
    form->edit("Delai")->setText("25");
    qobject_cast<QRadioButton *>(form->check("Taux50"))->setChecked(true);
    rec.answers = {true};
    QTest::mouseClick(form->button("Sauvegarder"), Qt::LeftButton);
    const QByteArray written = readFile(path());
    EXPECT_TRUE(written.contains("Delai=25\r\n"));
    EXPECT_TRUE(written.contains("Taux50=1\r\n"));
    EXPECT_TRUE(written.contains("Taux80=0\r\n"));
    EXPECT_EQ(rec.texts(), QStringList({"Voulez-vous enregistrer les paramètres ?",
                                        "Voulez-vous enregistrer les paramètres ?"}));
}

TEST_F(Parametres, TrailingBackslashRefusesToSave)
{
    const QByteArray before = readFile(path());
    form->edit("DirDictee")->setText("C:\\Dictees\\");
    form->edit("RepDestination")->setText("D:\\Images\\");
    QTest::mouseClick(form->button("Sauvegarder"), Qt::LeftButton);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(rec.texts(),
              QStringList({"Répertoire destination invalide\r\rNe pas inscrire le \"\\\" à la fin\r",
                           "L'enregistrement des paramètres est impossible."}));
    rec.messages.clear();
    form->edit("RepDestination")->setText("D:\\Images");
    QTest::mouseClick(form->button("Sauvegarder"), Qt::LeftButton);
    EXPECT_EQ(rec.texts(),
              QStringList({"Répertoire des dictées invalide\r\rNe pas inscrire le \"\\\" à la fin\r",
                           "L'enregistrement des paramètres est impossible."}));
    EXPECT_EQ(form->edit("DirDictee")->text(), "C:\\Dictees\\");
    EXPECT_EQ(readFile(path()), before);
}

TEST_F(Parametres, RetentionFieldAndKeepBoxFollowEachOther)
{
    form->tabs()->setCurrentIndex(2);
    QLineEdit *days = form->edit("Epurer");
    QAbstractButton *keep = form->check("Conserver");
    ASSERT_TRUE(keep->isChecked());
    // "abc" counts as 0: the box is unticked, which sets the days to 0.
    days->setText("abc");
    form->retentionLeft();
    EXPECT_FALSE(keep->isChecked());
    EXPECT_EQ(days->text(), "0");
    EXPECT_FALSE(settings.Conserver);
    ASSERT_EQ(rec.messages.size(), 1);
    EXPECT_TRUE(rec.messages[0].text.startsWith("Le paramètre de conservation des DICOMDIRs été désactivé"));
    // A positive number ticks it again.
    days->setText("15");
    form->retentionLeft();
    EXPECT_TRUE(keep->isChecked());
    EXPECT_EQ(settings.Epurer, "15");
    EXPECT_EQ(rec.messages.last().text, "Le paramètre de conservation des DICOMDIRs été activé");
    // Leaving the field through the focus runs the same check.
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    days->setFocus();
    days->setText("0");
    form->edit("TrUpload")->setFocus();
    EXPECT_FALSE(keep->isChecked());
    EXPECT_EQ(rec.messages.size(), 3);
}

TEST_F(Parametres, LockedValuesAreDisabledAndUntouched)
{
    CommandLine({"Strandel", "/AdresseIp=cmd.host", "/port=9000"}).applyTo(settings);
    open();
    EXPECT_EQ(form->edit("AdresseIp")->text(), "cmd.host");
    EXPECT_FALSE(form->edit("AdresseIp")->isEnabled());
    EXPECT_FALSE(form->label("AdresseIp")->isEnabled());
    EXPECT_FALSE(form->edit("Port")->isEnabled());
    EXPECT_TRUE(form->edit("Alias")->isEnabled());
    QTest::mouseClick(form->button("Sauvegarder"), Qt::LeftButton);
    const QByteArray written = readFile(path());
    EXPECT_TRUE(written.contains("AdresseIp=127.0.0.1\r\n"));
    EXPECT_FALSE(written.contains("Port="));
    EXPECT_EQ(settings.AdresseIp, "cmd.host");
}

TEST_F(Parametres, PurgeAskedFirstWhenImagesAreNotKept)
{
    int opened = 0;
    TFormParametres::Actions actions;
    actions.purgeWindow = [&](QWidget *) { ++opened; };
    settings.Conserver = false;
    writeFile(path(), configuredIni("Conserver=0\r\n"));
    open(actions);
    rec.answers = {false};
    form->epuration();
    EXPECT_EQ(opened, 0);
    ASSERT_EQ(rec.messages.size(), 2);
    EXPECT_EQ(rec.messages[0].kind, MessageKind::Confirmation);
    EXPECT_EQ(rec.messages[1].text, "Opération annulée");
    rec.answers = {true};
    form->epuration();
    EXPECT_EQ(opened, 1);
}

TEST_F(Parametres, HidingTheBirthDatePutsTodayInTheRequestDialog)
{
    requete.dateEdit()->setText("1950-01-01");
    form->tabs()->setCurrentIndex(1);
    form->check("DateNaiss")->click();
    EXPECT_EQ(requete.dateEdit()->text(), QDate::currentDate().toString("yyyy-MM-dd"));
}

TEST(FormRequete, OpeningAndValidation)
{
    UiRecorder rec;
    TFormRequete r(rec.ui());
    TransferSettings s;
    s.read(); // defaults: upper case, 80 % suggested
    s.Taux80 = true;
    s.TauxSuggere = true;
    r.prepare(s);
    r.show();
    // A blank date field receives today's date at opening.
    EXPECT_EQ(r.dateEdit()->text(), QDate::currentDate().toString("yyyy-MM-dd"));
    EXPECT_EQ(r.formatLabel()->text(), "(aaaa-mm-jj)");
    EXPECT_FALSE(r.reportBox()->isVisible());
    EXPECT_FALSE(r.imposedLabel()->isVisible());
    EXPECT_TRUE(r.rateButton(CompressionRate::Rate0)->isEnabled());
    QTest::keyClicks(r.accessionEdit(), "acc12");
    EXPECT_EQ(r.accessionNumber(), "ACC12");

    // An impossible date is refused with its text.
    r.dateEdit()->setText("2005-02-30");
    QTest::mouseClick(r.envoyerButton(), Qt::LeftButton);
    EXPECT_TRUE(r.isVisible());
    ASSERT_EQ(rec.messages.size(), 1);
    EXPECT_EQ(rec.messages[0].text, "La date:2005-02-30 est invalide");
    // A blank date is accepted and reads as empty.
    r.dateEdit()->clear();
    EXPECT_TRUE(r.dateBlank());
    QTest::mouseClick(r.envoyerButton(), Qt::LeftButton);
    EXPECT_EQ(r.result(), QDialog::Accepted);
    EXPECT_TRUE(r.birthDate().isEmpty());

    // Next opening: masked date, report offered, imposed rate, as typed.
    s.DateNaiss = true;
    s.Rapport = true;
    s.Majuscule = false;
    s.TauxSuggere = false;
    s.TauxImpose = true;
    r.dateEdit()->setText("1960-07-14");
    r.prepare(s);
    r.show();
    EXPECT_EQ(r.dateEdit()->text(), "1960-07-14"); // kept from one opening to the next
    EXPECT_EQ(r.dateEdit()->echoMode(), QLineEdit::Password);
    EXPECT_EQ(r.formatLabel()->text(), "(aaaammjj)");
    EXPECT_TRUE(r.reportBox()->isVisible());
    EXPECT_TRUE(r.imposedLabel()->isVisible());
    EXPECT_FALSE(r.rateButton(CompressionRate::Rate50)->isEnabled());
    r.accessionEdit()->clear();
    QTest::keyClicks(r.accessionEdit(), "acc");
    EXPECT_EQ(r.accessionNumber(), "acc");
}
