// The user and the server in the middle of a transfer: windows closed while
// fragments or pieces are on their way (the loopback server holds the call
// at a known point), fragments far larger than announced, a disk that fills
// up, an archive refused for a clash in continuous mode, a listing that
// fails before an upload, and the viewer's prompts beside the dictations.
#include "exchangetestutil.h"

#include "transfer/exchange/fragments.h"
#include "transfer/exchange/zipcomponent.h"

#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include <QtTest/QTest>
#include "testsupport/qtestgtest.h"

#include <csignal>
#include <sys/resource.h>

using namespace exchange;
using strandel::MessageKind;
using ziptest::Entry;

namespace {

// A study of about 2.5 MB: three fragments.
QList<Entry> bigStudy()
{
    return {{"DICOMDIR", "catalogue"}, {"CLINIQUE_A.ok", "CLINIQUE\r\n2005-03-02\r\nA\r\n"},
            {"SERIE1.zip", ExchangeFixture::zipBytes({{"IM1.dcm", ziptest::noise(2450000)}})}, {"ftp.ok", ""}};
}

// Limits the size of the files this process writes, for the scope.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit r = m_old;
        r.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &r);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_old); }

private:
    rlimit m_old{};
};

} // namespace

struct UserStops : ExchangeFixture
{
    // Once the server holds the call it was told to hold (the client is
    // waiting inside it), runs act, then lets the server answer.
    void whenHeld(std::function<void()> act)
    {
        auto *timer = new QTimer(form.get());
        timer->setInterval(5);
        QObject::connect(timer, &QTimer::timeout, timer, [this, timer, act] {
            if (!QFile::exists(server->root() + "/held"))
                return;
            timer->stop();
            act();
            server->control("release");
            timer->deleteLater();
        });
        timer->start();
    }
    int calls(const QString &op) const
    {
        int n = 0;
        for (const QString &line : QString::fromUtf8(server->log()).split('\n'))
            if (line == op || line.startsWith(op + " [")) // not the line saying it is held
                ++n;
        return n;
    }
    // Nothing received stays in the folder, nothing was installed, and the
    // server still offers its archive.
    void expectNothingLeft(const QByteArray &served)
    {
        EXPECT_EQ(workFiles(), QStringList{"Strandel.ini"});
        EXPECT_EQ(ziptest::readAll(serverUser() + "/CLINIQUE.zip"), served);
        EXPECT_EQ(calls("echoEffacerZip"), 0);
    }
    static QString stopped()
    {
        return "Téléchargement interrompu par l'usager.\r\r"
               "Les fragments reçus ont été effacés et aucune image n'a été installée.\r"
               "Le fichier d'images CLINIQUE.zip reste disponible sur le serveur.";
    }
};

// Escape, or the close box, on the download window while the second
// fragment is on its way: the download stops, the window is gone, the
// program lives on and can download again.
struct DownloadWindowClosed : UserStops, ::testing::WithParamInterface<bool>
{
};

TEST_P(DownloadWindowClosed, StopsTheDownload)
{
    const bool escape = GetParam();
    {
        start();
        const QByteArray served = offerStudy(bigStudy());
        ASSERT_EQ(server->control("hold GetAttachment CLINIQUE.zip.002"), "OK");
        whenHeld([&] {
            ASSERT_TRUE(x->downloadWindow());
            ASSERT_TRUE(x->downloadWindow()->ticked(0));
            if (escape)
                QTest::keyClick(x->downloadWindow(), Qt::Key_Escape);
            else
                x->downloadWindow()->close();
        });
        form->downloadClicked();
        EXPECT_EQ(texts(MessageKind::Information), QStringList{stopped()});
        EXPECT_EQ(texts(MessageKind::Error), QStringList());
        expectNothingLeft(served);
        EXPECT_EQ(calls("GetAttachment"), 2); // the third fragment was never asked for
        EXPECT_EQ(form->statusText(), "  Téléchargement interrompu par l'usager");
        EXPECT_FALSE(x->downloadWindow());
        EXPECT_TRUE(form->isVisible());
        EXPECT_TRUE(form->downloadButton()->isEnabled());

        // The next download goes through.
        rec.messages.clear();
        form->downloadClicked();
        EXPECT_TRUE(said("La réception des images est terminée.")) << rec.texts().join(" | ").toStdString();
        EXPECT_TRUE(QFile::exists(work + "/SERIE1/IM1.dcm"));
    }
}

INSTANTIATE_TEST_SUITE_P(EscapeAndCloseBox, DownloadWindowClosed, ::testing::Bool());

// The main window closed during a download: the download stops as above,
// then the window closes.
TEST_F(UserStops, ClosingTheMainWindowDuringADownloadStopsItThenCloses)
{
    start();
    const QByteArray served = offerStudy(bigStudy());
    ASSERT_EQ(server->control("hold GetAttachment CLINIQUE.zip.002"), "OK");
    whenHeld([&] { form->close(); });
    form->downloadClicked();
    EXPECT_EQ(texts(MessageKind::Information), QStringList{stopped()});
    expectNothingLeft(served);
    QTRY_VERIFY(!form->isVisible());
}

// The main window closed while a dictation piece is on its way: no further
// piece goes, the server is not asked to join, the WAV files stay and the
// user is told; then the windows close.
TEST_F(UserStops, ClosingTheMainWindowDuringAnUploadKeepsTheDictations)
{
    const QString wavs = dir.path() + "/dictees";
    QDir().mkpath(wavs);
    for (int i = 1; i <= 3; ++i)
        ziptest::writeFile(wavs + QString("/A%1.wav").arg(i), ziptest::noise(700000, i));
    start("DicteeActif=1\r\nDirDictee=" + wavs.toUtf8() + "\r\n");
    ASSERT_EQ(server->control("hold SendAttachment CLINIQUE_wav.zip.002"), "OK");
    whenHeld([&] { form->close(); });
    onDialog = [&](QDialog &d) {
        if (auto *w = qobject_cast<TFormUploadWav *>(&d)) {
            w->show();
            w->sendButton()->click();
            EXPECT_FALSE(w->isVisible()); // closed so that the main window can go
            return int(QDialog::Rejected);
        }
        return defaultAnswer(d);
    };
    form->dictationButton()->click();
    EXPECT_EQ(texts(MessageKind::Information),
              QStringList{"Envoi des dictées interrompu par l'usager.\r\rLes dictées sont conservées sur ce poste ("
                          + wavs + ") ; vous pourrez les envoyer de nouveau."});
    EXPECT_EQ(QDir(wavs).entryList(QDir::Files), (QStringList{"A1.wav", "A2.wav", "A3.wav"}));
    EXPECT_EQ(calls("SendAttachment"), 2);
    EXPECT_EQ(calls("FinEnvoiSplit"), 0);
    EXPECT_FALSE(QFile::exists(serverUser() + "/dictees/CLINIQUE_wav.zip"));
    QTRY_VERIFY(!form->isVisible());
}

// A fragment announced far beyond the size asked for, or beyond what is left
// of the volume the server gave, is refused as it arrives; nothing stays.
TEST_F(UserStops, FragmentsBeyondWhatWasAnnouncedAreRefused)
{
    start();
    const QByteArray served = offerStudy(bigStudy());
    ASSERT_EQ(server->control("mode GetAttachment oversize 3000000000"), "OK");
    form->downloadClicked();
    EXPECT_EQ(texts(MessageKind::Error),
              (QStringList{"ERREUR : Le fragment CLINIQUE.zip.001 envoyé par le serveur dépasse la taille annoncée "
                           "(1000000 octets au plus) : il a été refusé.\rLe téléchargement est interrompu ; "
                           "le fichier d'images reste sur le serveur.",
                           "ERREUR durant la réception des images."}));
    expectNothingLeft(served);
    // How far the server got before it saw the hang-up is its network stack's
    // business (its own cut at 64 MiB ends the stream in any case); what counts
    // here is the refusal above and that nothing of the fragment stayed.

    // Without any length announced, the bytes are counted as they come.
    rec.messages.clear();
    ASSERT_EQ(server->control("mode GetAttachment oversize unannounced"), "OK");
    form->downloadClicked();
    EXPECT_TRUE(texts(MessageKind::Error).value(0).startsWith(
        "ERREUR : Le fragment CLINIQUE.zip.001 envoyé par le serveur dépasse la taille annoncée (1000000 octets au plus)"))
        << rec.texts().join(" | ").toStdString();
    expectNothingLeft(served);

    // The volume says 1,500,000 bytes: the second fragment may bring 500,000.
    rec.messages.clear();
    ASSERT_EQ(server->control("reset\nanswer echoVolumeDuZip 1500000"), "OK");
    form->downloadClicked();
    EXPECT_TRUE(texts(MessageKind::Error).value(0).startsWith(
        "ERREUR : Le fragment CLINIQUE.zip.002 envoyé par le serveur dépasse la taille annoncée (500000 octets au plus)"))
        << rec.texts().join(" | ").toStdString();
    expectNothingLeft(served);
}

// The disk fills up while a fragment streams to it: the download ends the
// same way, and no partial file is left.
TEST_F(UserStops, AFailedWriteWhileAFragmentStreamsEndsTheDownload)
{
    start();
    const QByteArray served = offerStudy(bigStudy());
    {
        FileSizeLimit limit(300000);
        form->downloadClicked();
    }
    const QStringList errors = texts(MessageKind::Error);
    ASSERT_EQ(errors.size(), 2) << rec.texts().join(" | ").toStdString();
    EXPECT_TRUE(errors[0].startsWith("ERREUR : Sauvegarde du fichier segment : CLINIQUE.zip.001\r")) << errors[0].toStdString();
    EXPECT_EQ(errors[1], "ERREUR durant la réception des images.");
    expectNothingLeft(served);
}

// Continuous mode meets an archive that clashes with a kept visit: it is
// downloaded once, the user is told once, and the checks then pass over it.
TEST_F(UserStops, ContinuousModeFetchesARefusedArchiveOnlyOnce)
{
    start("Conserver=1\r\nModeAttente=1\r\n");
    ziptest::writeFile(work + "/DICOMDIR.C", ziptest::catalogue("MARTIN^PAUL", "C77", {"DICOM/IM1"}));
    ziptest::writeFile(work + "/DICOM/IM1", "patient C");
    offerStudy({{"DICOMDIR", "catalogue"}, {"CLINIQUE_B.ok", "CLINIQUE\r\n2005-03-02\r\nB\r\n"},
                {"DICOM.zip", zipBytes({{"IM1", "patient B"}})}, {"ftp.ok", ""}});
    int windows = 0;
    onDialog = [&](QDialog &d) {
        auto *w = qobject_cast<TFormAttente2 *>(&d);
        if (!w)
            return defaultAnswer(d);
        if (++windows == 2) {
            // Let it check a few times, then "Fermer".
            QTimer poll;
            QObject::connect(&poll, &QTimer::timeout, w, [w] {
                if (w->checks() >= 3)
                    w->reject();
            });
            poll.start(1);
            return w->exec();
        }
        return windows == 1 ? w->exec() : int(QDialog::Rejected);
    };
    form->downloadClicked();
    EXPECT_EQ(windows, 2);
    EXPECT_EQ(calls("DebutDownLoadZip"), 1);
    const QStringList errors = texts(MessageKind::Error);
    ASSERT_EQ(errors.size(), 1) << rec.texts().join(" | ").toStdString();
    EXPECT_TRUE(errors[0].contains("MARTIN PAUL (accession C77, catalogue DICOMDIR.C)")) << errors[0].toStdString();
    EXPECT_TRUE(errors[0].contains("bouton \"Effacer\"")) << errors[0].toStdString();
    EXPECT_EQ(ziptest::readAll(work + "/DICOM/IM1"), QByteArray("patient C"));
    EXPECT_TRUE(QFile::exists(serverUser() + "/CLINIQUE.zip"));
    EXPECT_FALSE(form->statusText().contains("Réception terminée")) << form->statusText().toStdString();
    EXPECT_TRUE(form->statusText().contains("ne sera plus téléchargé automatiquement")) << form->statusText().toStdString();
}

// A listing of the server's dictation archives that fails stops the upload
// before anything is sent: the archive already on the server is not
// replaced, the WAV files stay, and the user is told.
TEST_F(UserStops, AFailedListingSendsNothing)
{
    const QString wavs = dir.path() + "/dictees";
    QDir().mkpath(wavs);
    ziptest::writeFile(wavs + "/A1.wav", ziptest::noise(1000, 1));
    start("DicteeActif=1\r\nDirDictee=" + wavs.toUtf8() + "\r\n");
    QDir().mkpath(serverUser() + "/dictees");
    ziptest::writeFile(serverUser() + "/dictees/CLINIQUE_wav.zip", "earlier dictations");
    ASSERT_EQ(server->control("mode GetAttachmentList fault Serveur en redémarrage"), "OK");
    onDialog = [&](QDialog &d) {
        if (auto *w = qobject_cast<TFormUploadWav *>(&d)) {
            w->sendButton()->click();
            return int(QDialog::Rejected);
        }
        return defaultAnswer(d);
    };
    form->dictationButton()->click();
    EXPECT_EQ(texts(MessageKind::Error),
              QStringList{"ERREUR : La liste des dictées déjà reçues par le serveur n'a pas pu être lue ;\r"
                          "aucune dictée n'a été envoyée.\r\rERREUR D'EXCEPTION\r\rServeur en redémarrage\r\r"
                          "Les dictées sont conservées sur ce poste ("
                          + wavs + ") ; vous pourrez les envoyer de nouveau."});
    EXPECT_TRUE(texts(MessageKind::Information).isEmpty());
    EXPECT_EQ(ziptest::readAll(serverUser() + "/dictees/CLINIQUE_wav.zip"), QByteArray("earlier dictations"));
    EXPECT_EQ(QDir(wavs).entryList(QDir::Files), QStringList{"A1.wav"});
    EXPECT_EQ(calls("SendAttachment") + calls("DebutEnvoiSplit") + calls("FinEnvoiSplit"), 0);
}

// The viewer's spoken prompts live beside the dictations: never listed,
// sent or deleted.
TEST_F(UserStops, TheViewersPromptsStayWhereTheyAre)
{
    const QString wavs = dir.path() + "/dictees";
    QDir().mkpath(wavs);
    ziptest::writeFile(wavs + "/A1.wav", ziptest::noise(1000, 1));
    ziptest::writeFile(wavs + "/RES_PretDicter.wav", "prompt 1");
    ziptest::writeFile(wavs + "/RES_ExamenSauve.wav", "prompt 2");
    start("DicteeActif=1\r\nDirDictee=" + wavs.toUtf8() + "\r\n");
    QStringList listed;
    onDialog = [&](QDialog &d) {
        if (auto *w = qobject_cast<TFormUploadWav *>(&d)) {
            for (int i = 0; i < w->list()->count(); ++i)
                listed << wavNameFromLine(w->list()->item(i)->text());
            w->sendButton()->click();
            return int(QDialog::Rejected);
        }
        return defaultAnswer(d);
    };
    form->dictationButton()->click();
    EXPECT_EQ(listed, QStringList{"A1.wav"});
    EXPECT_EQ(texts(MessageKind::Information), QStringList{"Téléchargement complété avec succès."});
    EXPECT_EQ(QDir(wavs).entryList(QDir::Files), (QStringList{"RES_ExamenSauve.wav", "RES_PretDicter.wav"}));
    QStringList names;
    RecordingSink sink;
    ASSERT_TRUE(ListArchive(serverUser() + "/dictees/CLINIQUE_wav.zip", names, sink));
    EXPECT_EQ(names, QStringList{"A1.wav"});
}
