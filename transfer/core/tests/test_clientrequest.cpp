// Requests and wait mode against the loopback test server.

#include "clienttestutil.h"

#include "transfer/core/clientform.h"
#include "transfer/core/formparametres.h"
#include "transfer/core/formpassword.h"
#include "transfer/core/formrequete.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>
#include "testsupport/qtestgtest.h"

#include <gtest/gtest.h>

using namespace strandel;
using namespace clienttest;

namespace {

const QString kSent = QStringLiteral("Votre requête a été transmise avec succès.\r\r"
                                     "Strandel va maintenant passer en mode attente\r"
                                     "et vous informez lorsque les images seront disponibles.\r");
const QString kArchiveReady = QStringLiteral("Un nouveau fichier d'images est maintenant disponible\r\r"
                                             "Voulez-vous télécharger maintenant ?");

// What the user types in the request dialog.
struct Typed {
    QString accession;
    QString birthDate; // empty: the field is cleared
    CompressionRate rate = CompressionRate::Rate80;
    bool report = false;
    bool cancel = false;
};

struct ClientRequest : ::testing::Test {
    QTemporaryDir dir;
    UiRecorder rec;
    std::unique_ptr<TestServer> server;
    std::unique_ptr<TClientForm> form;
    Typed typed;
    int downloads = 0;

    void start(int port, const QByteArray &extra = "Requete=1\r\nDelai=3\r\n", int prepareMs = 300)
    {
        if (port < 0) {
            server = std::make_unique<TestServer>(prepareMs);
            ASSERT_GT(server->port(), 0) << "test server did not start";
            port = server->port();
        }
        writeFile(dir.filePath("Strandel.ini"), "[parametres]\r\nAdresseIp=127.0.0.1\r\nPort="
                                                    + QByteArray::number(port)
                                                    + "\r\nAlias=strandel\r\nFichierZip=CLINIQUE\r\n"
                                                      "Usager=U1\r\nMotDePasse=SECRET\r\nVersion=Strandel__50\r\n"
                                                    + extra);
        form = std::make_unique<TClientForm>(dir.path(), CommandLine({"Strandel"}), rec.ui());
        form->features().download = [this](TClientForm &) { ++downloads; };
        rec.onDialog = [this](QDialog &d) { return answer(d); };
        ASSERT_TRUE(form->startUp());
        form->setTickInterval(20);
        form->show();
        rec.messages.clear();
    }

    int answer(QDialog &d)
    {
        if (auto *p = qobject_cast<TFormPassWord *>(&d)) {
            p->passwordEdit()->setText("SECRET");
            p->tryPassword();
            return p->result();
        }
        if (auto *r = qobject_cast<TFormRequete *>(&d)) {
            r->show();
            r->accessionEdit()->clear();
            QTest::keyClicks(r->accessionEdit(), typed.accession);
            r->dateEdit()->clear();
            if (!typed.birthDate.isEmpty())
                r->dateEdit()->setText(typed.birthDate);
            r->rateButton(typed.rate)->setChecked(true);
            r->reportBox()->setChecked(typed.report);
            QTest::mouseClick(typed.cancel ? r->annulerButton() : r->envoyerButton(), Qt::LeftButton);
            return r->result();
        }
        return QDialog::Rejected;
    }

    QStringList requestFilesOnServer() const
    {
        return QDir(server->userFolder()).entryList({"*.req"}, QDir::Files);
    }
};

// Stays true until a message with this text was shown.
bool shown(const UiRecorder &rec, const QString &text)
{
    return rec.texts().contains(text);
}

} // namespace

TEST_F(ClientRequest, RequestFileAndWaitModeUntilTheArchiveIsReady)
{
    start(-1, "Requete=1\r\nDelai=3\r\nRapport=1\r\n", 800);
    server->addStudy("ACC1");
    typed = {"acc1", "", CompressionRate::Rate50, true, false};
    form->requestClicked();
    ASSERT_EQ(rec.texts(), QStringList({kSent}));

    // The request file reached the server under its name; none stays here.
    const QString name = form->currentRequestName();
    const QRegularExpression pattern(R"(^CLINIQUE\[(\d{4}-\d\d-\d\d \d{6})\]\.req$)");
    const auto match = pattern.match(name);
    ASSERT_TRUE(match.hasMatch()) << name.toStdString();
    EXPECT_EQ(requestFilesOnServer(), QStringList({name}));
    EXPECT_EQ(readFile(server->userFolder() + "/" + name),
              "CLINIQUE\r\n" + match.captured(1).toLatin1() + "\r\nACC1\r\n50\r\n\r\nStrandel__50\r\nRAPPORT=OUI\r\n");
    EXPECT_TRUE(QDir(dir.path()).entryList({"*.req"}).isEmpty());

    // Waiting: cancel caption, download and parameters disabled, clock shown.
    EXPECT_TRUE(form->waiting());
    EXPECT_EQ(form->requestButton()->text(), "Annuler le mode attente");
    EXPECT_TRUE(form->requestButton()->isEnabled());
    EXPECT_FALSE(form->downloadButton()->isEnabled());
    EXPECT_FALSE(form->parametresButton()->isEnabled());
    EXPECT_TRUE(form->timerLabel()->isVisible());
    EXPECT_EQ(form->timerLabel()->text(), "00:00");

    // First check at once: the server is preparing ("OK2").
    QTRY_COMPARE_WITH_TIMEOUT(form->answerLabel()->text(), "Requête conforme et en préparation : ACC1", 5000);
    QTRY_VERIFY_WITH_TIMEOUT(form->statusText().startsWith("  Prochaine vérification "), 5000);
    EXPECT_TRUE(form->waiting());

    // Then the archive: wait mode stops and offers the download.
    rec.answers = {true};
    QTRY_VERIFY_WITH_TIMEOUT(shown(rec, kArchiveReady), 10000);
    EXPECT_EQ(downloads, 1);
    EXPECT_FALSE(form->waiting());
    EXPECT_EQ(form->requestButton()->text(), "Requête no. d'accession");
    EXPECT_FALSE(form->timerLabel()->isVisible());
    EXPECT_TRUE(form->answerLabel()->text().isEmpty());
    EXPECT_TRUE(form->statusText().isEmpty());
    EXPECT_TRUE(form->downloadButton()->isEnabled());
    EXPECT_TRUE(form->parametresButton()->isEnabled());
    // No further tick after the stop.
    const int count = rec.messages.size();
    QTest::qWait(200);
    EXPECT_EQ(rec.messages.size(), count);
}

TEST_F(ClientRequest, WrongBirthDateIsRefusedWithErr)
{
    start(-1);
    server->addStudy("ACC2", "1950-01-01");
    typed = {"ACC2", "1960-02-02"};
    form->requestClicked();
    ASSERT_TRUE(form->waiting());
    const QString name = form->currentRequestName();
    EXPECT_TRUE(readFile(server->userFolder() + "/" + name).contains("\r\n1960-02-02\r\n"));
    const QString refused = QStringLiteral("Votre requête a été refusée.\r\r"
                                           "La date de naissance que vous avez donnée ne correspond pas\r"
                                           "au no d'accession demandé :ACC2\r");
    QTRY_VERIFY_WITH_TIMEOUT(shown(rec, refused), 5000);
    EXPECT_FALSE(form->waiting());
    EXPECT_EQ(rec.messages.last().kind, MessageKind::Error);
    // The server's answer was deleted (".ERR" of the same request).
    QTRY_VERIFY_WITH_TIMEOUT(requestFilesOnServer().isEmpty(), 2000);
}

TEST_F(ClientRequest, UnknownAccessionIsRefusedWithAck)
{
    start(-1);
    typed = {"NOPE9", ""};
    form->requestClicked();
    const QString refused = QStringLiteral("Votre requête a été refusée.\r\rLe no d'accession : NOPE9\r"
                                           "n'existe pas sur le serveur Korvane.");
    QTRY_VERIFY_WITH_TIMEOUT(shown(rec, refused), 5000);
    EXPECT_FALSE(form->waiting());
    EXPECT_TRUE(form->answerLabel()->text().isEmpty());
}

TEST_F(ClientRequest, CheckFaultIsShownAndWaitingGoesOn)
{
    start(-1);
    server->addStudy("ACC3");
    ASSERT_EQ(server->control("mode echoAckErrOk2 fault Base occupee"), "OK");
    typed = {"ACC3", ""};
    form->requestClicked();
    QTRY_VERIFY_WITH_TIMEOUT(rec.texts().filter("ERREUR D'EXCEPTION\r\r").size() >= 1, 5000);
    EXPECT_EQ(rec.texts().filter("ERREUR D'EXCEPTION\r\r").first(), "ERREUR D'EXCEPTION\r\rBase occupee");
    EXPECT_TRUE(form->waiting());
    // The user stops waiting.
    ASSERT_EQ(server->control("reset"), "OK");
    rec.messages.clear();
    form->requestClicked();
    EXPECT_EQ(rec.texts(), QStringList({"Le mode attente a été stoppé.\rStrandel est passé en mode manuel."}));
    EXPECT_FALSE(form->waiting());
}

TEST_F(ClientRequest, CancelledOrEmptyRequestSendsNothing)
{
    start(-1);
    typed = {"ACC1", "", CompressionRate::Rate80, false, true};
    form->requestClicked();
    typed = {"", ""};
    form->requestClicked();
    EXPECT_EQ(rec.texts(), QStringList({"Opération annulée par l'usager.", "Opération annulée par l'usager."}));
    EXPECT_TRUE(requestFilesOnServer().isEmpty());
    EXPECT_FALSE(form->waiting());
}

TEST_F(ClientRequest, ArchiveWaitingOrRequestPendingBlocksANewRequest)
{
    start(-1, "Requete=1\r\nDelai=3\r\n", 60000);
    server->addStudy("ACC1");
    writeFile(server->userFolder() + "/CLINIQUE.zip", "PK");
    typed = {"ACC1", ""};
    form->requestClicked();
    const QString head = QStringLiteral("Il y a déjà un fichier d'images sur le serveur (CLINIQUE.zip)\r"
                                        "présentement disponible pour vous.\r\r");
    EXPECT_EQ(rec.texts(), QStringList({"ERREUR: " + head
                                        + "Vous devez d'abord recevoir ces images avant\rde faire une "
                                          "nouvelle requête."}));
    // Only a warning when archives are not checked; "No" ends.
    form->settings().VerifierZip = false;
    rec.messages.clear();
    rec.answers = {false};
    form->requestClicked();
    EXPECT_EQ(rec.texts(), QStringList({"AVERTISSEMENT: " + head
                                        + "Voulez-vous quand même envoyer cette nouvelle requête ?"}));
    EXPECT_TRUE(requestFilesOnServer().isEmpty());

    // "Yes" sends it; a second request then finds it pending on the server.
    rec.messages.clear();
    rec.answers = {true};
    form->requestClicked();
    ASSERT_EQ(rec.texts().last(), kSent);
    const QString first = form->currentRequestName();
    form->StopWaitMode();
    QFile::remove(server->userFolder() + "/CLINIQUE.zip");
    rec.messages.clear();
    form->requestClicked();
    EXPECT_EQ(rec.texts(), QStringList({"ERREUR : Il y a déjà une requète pour CLINIQUE.\rRequête: " + first
                                        + "\rAttendez qu'elle soit traitée par le serveur ou contactez le "
                                          "responsable."}));
    EXPECT_FALSE(form->waiting());
}

TEST_F(ClientRequest, RefusedAccessAndUnwritableRequest)
{
    start(-1);
    form->settings().MotDePasse = "WRONG";
    typed = {"ACC1", ""};
    form->requestClicked();
    EXPECT_EQ(rec.texts(), QStringList({"ERREUR : Le test d'accès a échoué.\r"
                                        "L'accès au serveur d'images vous est refusé."}));
    // A user name that is not a plain file name cannot make a request file.
    form->settings().MotDePasse = "SECRET";
    form->settings().FichierZip = "../CLINIQUE";
    rec.messages.clear();
    EXPECT_FALSE(form->SendRequest("ACC1", "20", "RAPPORT=NON", ""));
    QDir parent(dir.path());
    parent.cdUp();
    EXPECT_TRUE(parent.entryList({"*.req"}).isEmpty());
}

TEST_F(ClientRequest, UnreachableServer)
{
    // A port that nobody listens on.
    int port = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    start(port);
    // Silent connection test, then the request procedure's own message.
    typed = {"ACC1", ""};
    form->requestClicked();
    EXPECT_EQ(rec.texts(), QStringList({"ERREUR : Le test de connexion a échoué.\r"
                                        "Vérifier votre connexion internet et recommencez."}));
    EXPECT_FALSE(form->waiting());

    // In the parameters dialog: the connection test fails quietly, the
    // access test shows the exception first.
    rec.messages.clear();
    TFormParametres p(form->settings(), form->soapClient(), rec.ui(), form->formRequete(), {});
    p.prepare();
    p.testerConnexion();
    EXPECT_EQ(rec.texts(), QStringList({"ERREUR : Le test de connexion a échoué"}));
    rec.messages.clear();
    p.testerAcces();
    ASSERT_EQ(rec.messages.size(), 2);
    EXPECT_TRUE(rec.messages[0].text.startsWith("ERREUR D'EXCEPTION\r\r"));
    EXPECT_EQ(rec.messages[1].text, "ERREUR : Le test d'accès a échoué");
}

TEST_F(ClientRequest, ParametersDialogServerButtons)
{
    start(-1);
    TFormParametres p(form->settings(), form->soapClient(), rec.ui(), form->formRequete(), {});
    p.prepare();
    p.testerConnexion();
    p.testerAcces();
    p.fichierDisponible();
    writeFile(server->userFolder() + "/CLINIQUE.zip", "PK");
    p.fichierDisponible();
    EXPECT_EQ(rec.texts(), QStringList({"Test de connexion réussi", "Test d'accès réussi",
                                        "Aucun fichier disponible",
                                        "Il y a un fichier zip disponible:CLINIQUE.zip"}));
    // The typed address is used at once, without saving.
    rec.messages.clear();
    p.edit("Alias")->setText("autre");
    p.testerConnexion();
    EXPECT_EQ(rec.texts(), QStringList({"ERREUR : Le test de connexion a échoué"}));
}

TEST_F(ClientRequest, CountdownBetweenChecksAndClock)
{
    start(-1, "Requete=1\r\nDelai=10\r\n", 600000);
    server->addStudy("ACC5");
    typed = {"ACC5", ""};
    form->setTickInterval(24 * 3600 * 1000); // the test makes the ticks itself
    form->requestClicked();
    ASSERT_TRUE(form->waiting());
    QStringList statuses;
    QList<int> checks;
    for (int i = 1; i <= 20; ++i) {
        form->answerLabel()->clear();
        form->timerTick();
        statuses << form->statusText();
        if (!form->answerLabel()->text().isEmpty())
            checks << i;
    }
    // The server is asked at once, then every ten seconds.
    EXPECT_EQ(checks, QList<int>({1, 10, 20}));
    EXPECT_EQ(statuses.mid(10, 9),
              QStringList({"  Prochaine vérification 9", "  Prochaine vérification 8", "  Prochaine vérification 7",
                           "  Prochaine vérification 6", "  Prochaine vérification 5", "  Prochaine vérification 4",
                           "  Prochaine vérification 3", "  Prochaine vérification 2",
                           "  Prochaine vérification 1"}));
    EXPECT_EQ(form->timerLabel()->text(), "00:20");
    EXPECT_TRUE(form->waiting());
    EXPECT_EQ(rec.texts(), QStringList({kSent}));
}

TEST_F(ClientRequest, FaultWhileDeletingTheErrAnswerEndsTheTick)
{
    start(-1);
    server->addStudy("ACC6", "1950-01-01");
    ASSERT_EQ(server->control("mode echoEffacerERR fault Effacement impossible"), "OK");
    typed = {"ACC6", "1999-09-09"};
    form->requestClicked();
    QTRY_VERIFY_WITH_TIMEOUT(rec.messages.size() >= 3, 5000);
    QTest::qWait(100);
    // Refusal, then the fault as a plain error; the tick ends there.
    ASSERT_EQ(rec.messages.size(), 3);
    EXPECT_TRUE(rec.messages[1].text.startsWith("Votre requête a été refusée."));
    EXPECT_EQ(rec.messages[2].kind, MessageKind::Error);
    EXPECT_EQ(rec.messages[2].text, "Effacement impossible");
    EXPECT_FALSE(form->waiting());
}

TEST_F(ClientRequest, ReceiveNotificationsCountOnlyDuringADownload)
{
    start(-1);
    writeFile(server->userFolder() + "/CLINIQUE.zip.001", QByteArray(50000, 'z'));
    form->progressBar()->setMaximum(1000000);
    int blocks = 0;
    form->features().receivedBlock = [&](TClientForm &) { ++blocks; };
    form->service().GetAttachment("CLINIQUE.zip.001", "U1");
    EXPECT_EQ(form->receivedBytes(), 0);
    EXPECT_EQ(blocks, 0);

    form->setDownloadFlag(true);
    auto attachment = form->service().GetAttachment("CLINIQUE.zip.001", "U1");
    ASSERT_TRUE(attachment);
    EXPECT_EQ(attachment->size(), 50000);
    EXPECT_GT(blocks, 0);
    EXPECT_EQ(form->receivedBytes(), 2048 * blocks);
    EXPECT_EQ(form->progressBar()->value(), 2048 * blocks);
    EXPECT_EQ(form->statusText(), QStringLiteral("  %1/1000000").arg(2048 * blocks));
    form->setDownloadFlag(false);
}

// While a transfer runs (the dictation upload opened during the wait), the
// checks wait for its end instead of calling the server under it; closing
// the window then stops the transfer rather than the window, which closes
// once the transfer is over.
TEST_F(ClientRequest, ChecksAndClosingWaitForTheTransferInProgress)
{
    start(-1, "Requete=1\r\nDelai=10\r\n", 600000);
    server->addStudy("ACC7");
    typed = {"ACC7", ""};
    form->setTickInterval(24 * 3600 * 1000); // the test makes the ticks itself
    int cancels = 0;
    form->features().cancelTransfer = [&](TClientForm &) { ++cancels; };
    form->requestClicked();
    ASSERT_TRUE(form->waiting());
    form->setTransferring(true);
    EXPECT_FALSE(form->dictationButton()->isEnabled());
    for (int i = 1; i <= 10; ++i)
        form->timerTick();
    EXPECT_TRUE(form->answerLabel()->text().isEmpty()); // the server was not asked
    EXPECT_FALSE(form->close());
    EXPECT_EQ(cancels, 1);
    EXPECT_TRUE(form->isVisible());
    form->setTransferring(false);
    for (int i = 11; i <= 20; ++i) // the next check comes at its time
        form->timerTick();
    EXPECT_FALSE(form->answerLabel()->text().isEmpty());
    QTRY_VERIFY(!form->isVisible());
}
