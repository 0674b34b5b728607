// Dictation upload to the loopback server: naming, pieces, retries, and when
// the WAV files may go.
#include "exchangetestutil.h"

#include "transfer/exchange/fragments.h"
#include "transfer/exchange/zipcomponent.h"

#include <QLineEdit>
#include <QProcess>
#include <QListWidget>
#include <QPushButton>
#include <QProgressBar>

using namespace exchange;
using strandel::MessageKind;

struct Upload : ExchangeFixture
{
    QString wavs;
    QString dictees() const { return serverUser() + "/dictees"; }
    void startWith(int files)
    {
        wavs = dir.path() + "/dictees";
        QDir().mkpath(wavs);
        for (int i = 1; i <= files; ++i)
            ziptest::writeFile(wavs + QString("/A%1.wav").arg(i), ziptest::noise(700000, i));
        ziptest::writeFile(wavs + "/notes.txt", "not a dictation");
        start("DicteeActif=1\r\nDirDictee=" + wavs.toUtf8() + "\r\nTrUpload=0.22\r\n");
        QDir().mkpath(dictees());
    }
    // The last message of an upload that failed.
    QString keptMessage() const
    {
        return "ERREUR : L'envoi des dictées a échoué.\r\rLes dictées sont conservées sur ce poste (" + wavs
               + ") ; vous pourrez les envoyer de nouveau.";
    }
    // Opens the window and presses "Envoyer" with every line selected.
    void send()
    {
        auto previous = onDialog;
        onDialog = [&, previous](QDialog &d) {
            if (auto *w = qobject_cast<TFormUploadWav *>(&d)) {
                w->sendButton()->click();
                return int(QDialog::Rejected);
            }
            return previous ? previous(d) : defaultAnswer(d);
        };
        form->dictationButton()->click();
        onDialog = previous;
    }
};

TEST_F(Upload, ArchiveTakesTheFirstFreeNameAndTheWavFilesGoAfterOK)
{
    startWith(3);
    ziptest::writeFile(dictees() + "/CLINIQUE_wav.ZIP", "older");
    ziptest::writeFile(dictees() + "/CLINIQUE_wav__1.zip", "older");
    QString confirmed;
    onDialog = [&](QDialog &d) {
        if (auto *a = qobject_cast<TFormAttente *>(&d))
            confirmed = a->nameField()->text() + "|" + a->rateField()->text() + "|" + a->minutesField()->text().trimmed();
        return defaultAnswer(d);
    };
    send();
    EXPECT_EQ(confirmed, "CLINIQUE_wav__2.zip|0.22|1");
    EXPECT_EQ(texts(MessageKind::Information), QStringList{"Téléchargement complété avec succès."});
    EXPECT_EQ(QDir(wavs).entryList(QDir::Files), QStringList{"notes.txt"}); // WAVs and the local archive gone
    // The server joined the pieces into a readable archive of the three files.
    QStringList names;
    RecordingSink sink;
    ASSERT_TRUE(ListArchive(dictees() + "/CLINIQUE_wav__2.zip", names, sink));
    EXPECT_EQ(names, (QStringList{"A1.wav", "A2.wav", "A3.wav"}));
    ASSERT_EQ(extractZip(dictees() + "/CLINIQUE_wav__2.zip", dir.path() + "/check", ArchivePassword).code, ExtractOk);
    EXPECT_EQ(ziptest::readAll(dir.path() + "/check/A2.wav"), ziptest::noise(700000, 2));
    EXPECT_TRUE(QDir(dictees()).entryList({"*.0*"}).isEmpty());
    EXPECT_TRUE(waits.isEmpty());
}

TEST_F(Upload, SixFailedAttemptsStillAskTheServerToJoin)
{
    startWith(1);
    ASSERT_EQ(server->control("mode SendAttachment fault Disque plein"), "OK");
    send();
    const QStringList errors = texts(MessageKind::Error);
    EXPECT_EQ(errors.count("Erreur envoi du fichier sur site distant: CLINIQUE_wav.zip.001"), 6);
    EXPECT_EQ(errors.count("Erreur Upload5Essais : Attente de 10 secondes avant autre essais: CLINIQUE_wav.zip.001"), 6);
    EXPECT_EQ(waits, QList<int>(6, 10000));
    // FinEnvoiSplit was asked and refused: its answer is shown, the WAV stays
    // and the last message says so.
    ASSERT_GE(errors.size(), 2);
    EXPECT_TRUE(errors[errors.size() - 2].startsWith("ERREUR: ERREUR")) << errors.last().toStdString();
    EXPECT_EQ(errors.last(), keptMessage());
    EXPECT_TRUE(QFile::exists(wavs + "/A1.wav"));
    EXPECT_FALSE(QFile::exists(wavs + "/CLINIQUE_wav.zip"));
    EXPECT_TRUE(QDir(wavs).entryList({"*.001"}).isEmpty());
}

TEST_F(Upload, CancelKeepsTheWavFilesAndLeavesNoArchive)
{
    startWith(2);
    onDialog = [](QDialog &d) {
        return qobject_cast<TFormAttente *>(&d) ? int(QDialog::Rejected) : defaultAnswer(d);
    };
    send();
    EXPECT_EQ(texts(MessageKind::Information), QStringList{"Téléchargement annulé"});
    EXPECT_EQ(QDir(wavs).entryList(QDir::Files), (QStringList{"A1.wav", "A2.wav", "notes.txt"}));
    EXPECT_TRUE(QDir(dictees()).entryList(QDir::Files).isEmpty());
}

TEST_F(Upload, EmptyFolderAndReload)
{
    startWith(0);
    send();
    EXPECT_EQ(texts(MessageKind::Information), QStringList{"Il n'y a présentement aucun fichier à télécharger"});
    rec.messages.clear();
    onDialog = [](QDialog &d) {
        if (auto *w = qobject_cast<TFormUploadWav *>(&d)) {
            w->reloadButton()->click();
            return int(QDialog::Rejected);
        }
        return defaultAnswer(d);
    };
    form->dictationButton()->click();
    EXPECT_EQ(texts(MessageKind::Information), QStringList{"Je ne trouve aucun fichier WAV dans le répertoire : " + wavs});
}

// A fault of the start or of the end of the exchange is shown as a server
// fault and ends the upload: no later call reaches the server, the rate is
// not rewritten, the WAV files stay and no piece is left behind.
TEST_F(Upload, StartOrEndFaultIsShownAndEndsTheUpload)
{
    for (const QString &op : {QStringLiteral("DebutEnvoiSplit"), QStringLiteral("FinEnvoiSplit")}) {
        SCOPED_TRACE(op.toStdString());
        startWith(1);
        const QString rateBefore = form->settings().TauxTransfert;
        ASSERT_EQ(server->control("mode " + op + " fault Jonction impossible"), "OK");
        send();
        EXPECT_EQ(texts(MessageKind::Error), (QStringList{"ERREUR D'EXCEPTION\r\rJonction impossible", keptMessage()}));
        EXPECT_TRUE(texts(MessageKind::Information).isEmpty());
        const QStringList calls = QString::fromUtf8(server->log()).split('\n', Qt::SkipEmptyParts);
        ASSERT_FALSE(calls.isEmpty());
        EXPECT_EQ(calls.last(), op + " [fault]");
        EXPECT_EQ(form->settings().TauxTransfert, rateBefore);
        EXPECT_TRUE(QFile::exists(wavs + "/A1.wav"));
        EXPECT_FALSE(QFile::exists(wavs + "/CLINIQUE_wav.zip"));
        EXPECT_TRUE(QDir(wavs).entryList({"*.001"}).isEmpty());
        form.reset();
        rec.messages.clear();
    }
}

#ifdef KORVANE_RECORD_DICTATION
// The end of the road: a dictation recorded by the viewer's own recorder goes to the server inside the dictation
// archive, byte for byte, and leaves the folder only once the server has said "OK".
TEST_F(Upload, ADictationRecordedByTheViewerArrivesWhole)
{
    startWith(0);
    QProcess recorder;
    recorder.start(QStringLiteral(KORVANE_RECORD_DICTATION), {wavs, QStringLiteral("CT20261109001"), QStringLiteral("3")});
    ASSERT_TRUE(recorder.waitForFinished(120000));
    ASSERT_EQ(recorder.exitCode(), 0) << recorder.readAllStandardError().toStdString();
    const QString wav = wavs + "/CT20261109001.wav";
    const QByteArray recorded = ziptest::readAll(wav);
    ASSERT_GT(recorded.size(), 3 * 22050); // three seconds of 16-bit mono at 11,025 Hz, and the header
    EXPECT_EQ(recorded.left(4), "RIFF");
    EXPECT_EQ(recorded.mid(8, 4), "WAVE");
    // The recorder's radiologist list lies beside the dictation, as in the program folder; it is not a dictation.
    QFile::remove(wavs + "/KorvaneCD.INI");

    send();
    EXPECT_EQ(texts(MessageKind::Information), QStringList{"Téléchargement complété avec succès."});
    EXPECT_FALSE(QFile::exists(wav)); // sent, and the server said OK
    const QStringList archives = QDir(dictees()).entryList({"*.zip"}, QDir::Files);
    ASSERT_EQ(archives.size(), 1);
    QStringList names;
    RecordingSink sink;
    ASSERT_TRUE(ListArchive(dictees() + "/" + archives[0], names, sink));
    EXPECT_EQ(names, QStringList{"CT20261109001.wav"});
    ASSERT_EQ(extractZip(dictees() + "/" + archives[0], dir.path() + "/check", ArchivePassword).code, ExtractOk);
    EXPECT_EQ(ziptest::readAll(dir.path() + "/check/CT20261109001.wav"), recorded);
}
#endif
