#include "transfer/exchange/exchange.h"

#include "transfer/core/clientform.h"
#include "transfer/core/echoservice.h"
#include "transfer/exchange/exchangeforms.h"
#include "transfer/exchange/fragments.h"
#include "transfer/exchange/housekeeping.h"
#include "transfer/exchange/unpack.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QProgressBar>
#include <QStatusBar>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <climits>

using strandel::IEchoService;
using strandel::SoapAttachmentPtr;
using strandel::SoapError;

namespace exchange {

namespace {

// Busy cursor for the scope.
class BusyCursor
{
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
};

QString hms(qint64 seconds)
{
    if (seconds < 0)
        seconds = 0;
    return QString::asprintf("%2.2lld:%2.2lld:%2.2lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

void pump()
{
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

// The viewer's spoken prompts live in its folder, which is also the
// dictation folder: they are the viewer's, never dictations to send.
bool isViewerPrompt(const QString &fileName)
{
    return fileName.compare(QLatin1String("RES_PretDicter.wav"), Qt::CaseInsensitive) == 0
           || fileName.compare(QLatin1String("RES_ExamenSauve.wav"), Qt::CaseInsensitive) == 0;
}

} // namespace

// ------------------------------------------------------------------ messages

void Exchange::Sink::error(const QString &text)
{
    m_x.m_form.ui().error(&m_x.m_form, text);
}

void Exchange::Sink::information(const QString &text)
{
    m_x.m_form.ui().information(&m_x.m_form, text);
}

bool Exchange::Sink::confirm(const QString &text)
{
    return m_x.m_form.ui().confirm(&m_x.m_form, text);
}

// ------------------------------------------------------------------ set-up

Exchange::Exchange(strandel::TClientForm &form, ExchangeEnv env)
    : QObject(&form), m_form(form), m_env(std::move(env)), m_sink(*this)
{
    if (!m_env.now)
        m_env.now = [] { return QDateTime::currentDateTime(); };
    if (!m_env.wait)
        m_env.wait = [](int ms) {
            QDeadlineTimer deadline(ms);
            while (!deadline.hasExpired()) {
                pump();
                QThread::msleep(20);
            }
        };
    if (!m_env.beep)
        m_env.beep = [] { QApplication::beep(); };
    if (!m_env.quit)
        m_env.quit = [] { QCoreApplication::quit(); };
}

void Exchange::install()
{
    strandel::ClientFeatures &f = m_form.features();
    f.download = [this](strandel::TClientForm &) { downloadButton(); };
    f.uploadDictations = [this](strandel::TClientForm &) { uploadDictations(); };
    f.unzipRadiologist = [this](strandel::TClientForm &) { unzipRadiologist(); };
    f.updateCheck = [this](strandel::TClientForm &) { return updateCheckAtFirstUse(); };
    f.checkForUpdate = [this](strandel::TClientForm &, QWidget *parent) { CheckForUpdate(true, parent); };
    f.showNews = [this](strandel::TClientForm &) { showNews(); };
    f.automaticPurgeCheck = [this](strandel::TClientForm &) { automaticPurgeCheck(); };
    f.purgeWindow = [this](strandel::TClientForm &, QWidget *parent) { purgeWindow(parent); };
    f.createShortcuts = [this](strandel::TClientForm &, bool strandel, bool viewer) {
        createShortcuts(strandel, viewer);
    };
    f.cancelTransfer = [this](strandel::TClientForm &) { cancelTransfer(); };
    f.receivedBlock = [this](strandel::TClientForm &) {
        if (m_downloadWindow)
            m_downloadWindow->addBlock(2048);
    };
    // Received attachments wait in the working folder, so that saving one is
    // a rename on the same file system.
    m_form.soapClient().setAttachmentFolder(workingFolder());
}

Exchange *installExchange(strandel::TClientForm &form, ExchangeEnv env)
{
    auto *x = new Exchange(form, std::move(env));
    x->install();
    // The buttons follow their features (set after the window was built).
    form.applySettings(false);
    return x;
}

QString Exchange::workingFolder() const
{
    return m_form.programFolder().absolutePath();
}

void Exchange::cancelTransfer()
{
    m_cancel = true;
    m_form.soapClient().cancel();
    if (m_uploadSoap)
        m_uploadSoap->cancel();
}

bool Exchange::refusedBefore(const QString &name) const
{
    return !name.isEmpty() && m_refused.contains(name, Qt::CaseInsensitive);
}

// ------------------------------------------------------------------ download

void Exchange::downloadButton()
{
    strandel::TransferSettings &s = m_form.settings();
    // The user asks anew: an archive refused earlier in this run may be
    // fetched once more (the clash may have been cleared meanwhile).
    m_refused.clear();
    m_cancel = false;
    m_form.setStatusText(QString());
    if (!m_form.updateCheckMade() && !m_form.runUpdateCheck())
        return;
    if (!strandel::TestConnection(m_form.service())) {
        m_sink.error(QStringLiteral("ERREUR : Le test de connexion a échoué.\r"
                                    "Vérifier vos paramètres et votre connexion internet."));
        return;
    }
    if (!strandel::TestAccess(m_form.service(), s.FichierZip, s.Usager, s.MotDePasse, m_form.errorBox())) {
        m_sink.error(QStringLiteral("ERREUR : Le test d'accès a échoué.\r"
                                    "L'accès au serveur d'images vous est refusé."));
        return;
    }
    PurgeMarkers(workingFolder());
    if (!s.Conserver)
        FullPurge(workingFolder(), m_sink);
    if (!EnsureZipComponent(m_sink)) {
        m_env.quit();
        return;
    }
    m_closeWhenDone = false;
    m_form.setTransferring(true);
    if (s.ModeAttente)
        continuousMode();
    else
        singleDownload();
    m_form.setTransferring(false);
    if (m_closeWhenDone) {
        m_form.close();
        m_env.quit();
    }
}

void Exchange::singleDownload()
{
    strandel::TransferSettings &s = m_form.settings();
    QString name = strandel::AvailableArchive(m_form.service(), s.FichierZip, m_form.errorBox());
    qint64 volume = 0;
    if (name.isEmpty()) {
        if (askPeriodicCheck().isEmpty())
            return;
        m_env.beep();
        name = strandel::AvailableArchive(m_form.service(), s.FichierZip, m_form.errorBox());
        volume = strandel::ArchiveVolume(m_form.service(), name, m_form.errorBox()).trimmed().toLongLong();
        if (name.isEmpty())
            return;
    } else {
        volume = strandel::ArchiveVolume(m_form.service(), name, m_form.errorBox()).trimmed().toLongLong();
        TFormAttente dialog(&m_form);
        const QString rate = s.TauxTransfert;
        dialog.fill(name, volume, rate, formatEstimatedMinutes(EstimatedMinutes(volume, parseRate(rate))));
        emit dialogCreated(&dialog);
        if (m_form.ui().exec(dialog) != QDialog::Accepted) {
            m_sink.information(QStringLiteral("Téléchargement annulé par l'usager."));
            return;
        }
    }
    m_form.progressBar()->setMaximum(int(std::clamp<qint64>(volume, 1, INT_MAX)));
    QString fetchTime;
    if (!DownloadArchive(name, volume, &fetchTime)) {
        if (!m_cancel) // a stop asked by the user has been told already
            m_sink.error(QStringLiteral("ERREUR durant la réception des images."));
        return;
    }
    m_sink.information(QStringLiteral("La réception des images est terminée.\r\rTemps requis : ") + fetchTime);
    const QString other = strandel::AvailableArchive(m_form.service(), s.FichierZip, m_form.errorBox());
    if (!other.isEmpty())
        m_sink.information(QStringLiteral("Attention.\r\rPrenez note qu'il y a au moins un autre fichier d'images\r"
                                          "déjà disponible pour vous sur le serveur\r  : ")
                           + other);
    // The window closes once the download state is over (downloadButton).
    m_closeWhenDone = s.Rappel
                      && m_sink.confirm(QStringLiteral("Vous pouvez maintenant fermer Strandel et ouvrir KorvaneCD.\r\r"
                                                       "Voulez-vous fermer Strandel maintenant ?"));
}

QString Exchange::askPeriodicCheck()
{
    TFormVerification dialog(&m_form);
    emit dialogCreated(&dialog);
    if (m_form.ui().exec(dialog) != QDialog::Accepted)
        return QString();
    return periodicCheck(dialog.period());
}

QString Exchange::periodicCheck(int periodSeconds)
{
    const QString fichierZip = m_form.settings().FichierZip;
    TFormAttente2 window(periodSeconds, [this, fichierZip]() -> QString {
        try {
            // An archive refused for a clash earlier in this run is not
            // fetched again by itself: checking goes on as if it were not there.
            const QString name = strandel::AvailableArchive(m_form.service(), fichierZip, m_form.errorBox());
            return refusedBefore(name) ? QString() : name;
        } catch (const std::exception &) {
            m_sink.error(QStringLiteral("ERREUR : Accès au serveur distant.\r\rVérifiez votre connexion internet."));
            return QString();
        }
    }, &m_form);
    window.setTickInterval(m_env.periodicTickMs);
    emit dialogCreated(&window);
    if (m_form.ui().exec(window) != QDialog::Accepted)
        return QString();
    return window.found();
}

void Exchange::continuousMode()
{
    strandel::TransferSettings &s = m_form.settings();
    TFormVerifContinue dialog(&m_form);
    emit dialogCreated(&dialog);
    if (m_form.ui().exec(dialog) == TFormVerifContinue::NoResult)
        return;
    const int period = dialog.period();
    for (;;) {
        if (m_cancel || periodicCheck(period).isEmpty())
            break;
        const QString name = strandel::AvailableArchive(m_form.service(), s.FichierZip, m_form.errorBox());
        if (name.isEmpty() || refusedBefore(name))
            continue;
        const qint64 volume =
            strandel::ArchiveVolume(m_form.service(), name, m_form.errorBox()).trimmed().toLongLong();
        m_form.progressBar()->setMaximum(int(std::clamp<qint64>(volume, 1, INT_MAX)));
        PurgeMarkers(workingFolder());
        QString fetchTime;
        const bool ok = DownloadArchive(name, volume, &fetchTime);
        if (m_cancel)
            break; // stopped by the user, who has been told
        if (!ok && m_lastConflict) {
            // It stays on the server, rightly; fetching it again at the next
            // check would only be refused again, for ever.
            m_refused << name;
            m_form.setStatusText(QStringLiteral("ERREUR durant la réception des images : ") + name
                                 + QStringLiteral(" reste sur le serveur et ne sera plus téléchargé automatiquement."));
            continue;
        }
        m_form.setStatusText(ok ? QStringLiteral("La réception des images est terminée.")
                                : QStringLiteral("ERREUR durant la réception des images."));
    }
}

bool Exchange::DownloadArchive(const QString &name, qint64 volume, QString *fetchTime)
{
    strandel::TransferSettings &s = m_form.settings();
    const QString folder = workingFolder();
    m_lastConflict = false;
    // The name becomes a file name here: refuse anything that is not a plain name.
    if (!isPlainFileName(name)) {
        m_sink.error(QStringLiteral("ERREUR : Nom de fichier refusé : ") + name);
        return false;
    }

    // 1.
    m_form.setDownloadFlag(true);
    auto cursor = std::make_unique<BusyCursor>();
    m_form.copyAnimation()->show();
    const QDateTime start = m_env.now();
    bool ok = true;

    m_form.setStatusText(QStringLiteral("  1/4 - Fragmentation du fichier d'images..."));
    QString answer;
    try {
        answer = m_form.service().DebutDownLoadZip(name, int(FragmentSize));
    } catch (const SoapError &e) {
        if (!m_cancel)
            m_sink.error(strandel::ExceptionText(e));
        answer = QStringLiteral("ERREUR EXCEPTION");
    }
    if (m_cancel) {
        ok = false;
    } else if (answer != QLatin1String("OK")) {
        m_sink.error(QStringLiteral("Erreur au moment de la fragmentation du fichier\rcontenant les images.\r(")
                     + answer + QLatin1Char(')'));
        m_form.setStatusText(QStringLiteral("  ERREUR (1/4) Fragmentation du fichier d'images"));
        ok = false;
    }

    // 2. The download window belongs to this procedure: closing it (Escape,
    // the close box) only hides it and stops the download; it goes when the
    // procedure ends, never while a fragment is on its way.
    QStringList fragments;
    std::unique_ptr<TFormDownLoad> window;
    QMetaObject::Connection closedByUser;
    auto closeWindow = [&] {
        if (!window)
            return;
        QObject::disconnect(closedByUser);
        window->close();
    };
    if (ok) {
        m_form.setStatusText(QStringLiteral("  2/4 - Télécharger la liste des fragments de fichier..."));
        window = std::make_unique<TFormDownLoad>(&m_form);
        m_downloadWindow = window.get();
        closedByUser = connect(window.get(), &QDialog::rejected, this, &Exchange::cancelTransfer);
        emit dialogCreated(window.get());
        window->setTitle(name);
        try {
            fragments = m_form.service().GetSplitFileList(name);
        } catch (const SoapError &) {
            ok = false;
        }
        // Each fragment is saved under the name the server gives: only plain
        // names of this archive are taken.
        for (const QString &f : std::as_const(fragments)) {
            if (!ok || m_cancel)
                break;
            if (!isPlainFileName(f) || !f.toUpper().contains(name.toUpper()) || f == name) {
                m_sink.error(QStringLiteral("ERREUR : Nom de fragment refusé : ") + f);
                ok = false;
                break;
            }
        }
        if (m_cancel)
            ok = false;
        else if (ok)
            window->setFragments(fragments);
        else
            m_form.setStatusText(QStringLiteral("  ERREUR (2/4) Téléchargement de la liste des fragments"));
    }

    // 3.
    if (ok) {
        m_form.setStatusText(QStringLiteral("  3/4 - Télécharger les fragments de fichier..."));
        // Fragments left by an interrupted download would be merged with the
        // new ones: start from none.
        for (const QString &stale : fragmentFiles(folder, s.FichierZip, fragments))
            QFile::remove(folder + QLatin1Char('/') + stale);
        window->show();
        pump();
        const QDateTime fetchStart = m_env.now();
        // No fragment may be larger than the size asked for, nor the whole
        // larger than the volume the server gave: what comes beyond is
        // refused as it arrives, before it reaches the disk.
        qint64 fetched = 0;
        strandel::SoapClient &soap = m_form.soapClient();
        for (int i = 0; i < fragments.size() && ok; ++i) {
            if (m_cancel) {
                ok = false;
                break;
            }
            window->resetCounter();
            window->select(i);
            const QString &f = fragments.at(i);
            m_form.setStatusText(QStringLiteral("  3/4 A - Télécharger fragments ..."));
            qint64 limit = FragmentSize;
            if (volume > 0)
                limit = std::min(limit, std::max<qint64>(0, volume - fetched));
            SoapAttachmentPtr attachment;
            soap.setAttachmentLimit(limit);
            try {
                attachment = m_form.service().GetAttachment(f, s.Usager);
                soap.setAttachmentLimit(-1);
            } catch (const SoapError &e) {
                soap.setAttachmentLimit(-1);
                ok = false;
                if (m_cancel)
                    break;
                if (e.kind() == SoapError::Kind::LocalWrite) {
                    m_form.setStatusText(QStringLiteral("  3/4 D - Télécharger fragments ..."));
                    m_sink.error(QStringLiteral("ERREUR : Sauvegarde du fichier segment : ") + f + QLatin1Char('\r')
                                 + e.message());
                } else if (e.kind() == SoapError::Kind::TooLarge) {
                    m_form.setStatusText(QStringLiteral("  3/4 B - Télécharger fragments ..."));
                    m_sink.error(QStringLiteral("ERREUR : Le fragment ") + f
                                 + QStringLiteral(" envoyé par le serveur dépasse la taille annoncée (")
                                 + QString::number(limit)
                                 + QStringLiteral(" octets au plus) : il a été refusé.\r"
                                                  "Le téléchargement est interrompu ; le fichier d'images "
                                                  "reste sur le serveur."));
                } else {
                    m_form.setStatusText(QStringLiteral("  3/4 B - Télécharger fragments ..."));
                    m_sink.error(QStringLiteral("ERREUR : Téléchargement du fichier segment : ") + f);
                }
                break;
            }
            if (m_cancel) {
                ok = false;
                break;
            }
            m_form.setStatusText(QStringLiteral("  3/4 C - Télécharger fragments ..."));
            QString why;
            const qint64 size = attachment ? attachment->size() : 0;
            if (!attachment || !attachment->saveAs(folder + QLatin1Char('/') + f, &why)) {
                m_form.setStatusText(QStringLiteral("  3/4 D - Télécharger fragments ..."));
                m_sink.error(QStringLiteral("ERREUR : Sauvegarde du fichier segment : ") + f);
                ok = false;
                break;
            }
            fetched += size;
            m_form.setStatusText(QStringLiteral("  3/4 E - Télécharger fragments ..."));
            window->showCounter();
            window->tick(i);
            pump();
        }
        closeWindow();
        if (fetchTime)
            *fetchTime = hms(fetchStart.secsTo(m_env.now()));
        if (!ok) {
            m_form.setStatusText(QStringLiteral("  ERREUR (3/4) Téléchargement des fragments"));
            // A fragment that failed half-way is no fragment: remove what came.
            for (const QString &f : fragments)
                QFile::remove(folder + QLatin1Char('/') + f);
        }
    } else {
        closeWindow();
    }

    // 4.
    if (ok) {
        m_form.setStatusText(QStringLiteral("  4/4 - Fusionner les fragments de fichier..."));
        if (MergeFragments(folder, name, fragments, m_sink)) {
            m_form.setStatusText(QStringLiteral("  Réception terminée. Temps requis:") + (fetchTime ? *fetchTime : QString()));
        } else {
            m_form.setStatusText(QStringLiteral("  ERREUR (4/4) Fusionnement des fragments"));
            ok = false;
        }
    }

    // 6. The answer of this call still counts as received data and would
    // replace the step's status with a byte count: the status is put back.
    // After a stop asked by the user, nothing more is shown while it runs.
    if (m_cancel)
        m_form.setDownloadFlag(false);
    const QString stepStatus = m_form.statusText();
    try {
        m_form.service().FinDownLoadZip(name);
    } catch (const SoapError &) {
    }
    m_form.setDownloadFlag(false);
    m_form.setStatusText(stepStatus);
    m_form.progressBar()->setValue(0);
    const QDateTime end = m_env.now();
    m_form.copyAnimation()->hide();
    window.reset();

    // Stopped by the user: nothing received stays, nothing is installed, the
    // server keeps its archive.
    if (m_cancel) {
        for (const QString &f : fragmentFiles(folder, s.FichierZip, fragments))
            QFile::remove(folder + QLatin1Char('/') + f);
        if (ok)
            QFile::remove(folder + QLatin1Char('/') + name); // merged, never unpacked
        cursor.reset();
        m_form.setStatusText(QStringLiteral("  Téléchargement interrompu par l'usager"));
        m_sink.information(QStringLiteral("Téléchargement interrompu par l'usager.\r\r"
                                          "Les fragments reçus ont été effacés et aucune image n'a été installée.\r"
                                          "Le fichier d'images ")
                           + name + QStringLiteral(" reste disponible sur le serveur."));
        return false;
    }

    // 7, 8.
    if (!ok)
        return false;
    const QString archivePath = folder + QLatin1Char('/') + name;
    if (!QFileInfo(archivePath).isFile()) {
        m_form.setStatusText(QStringLiteral("Erreur: Le fichier ZIP est introuvable :") + archivePath);
        return false;
    }

    // 9.
    UnpackContext ctx;
    ctx.workingFolder = folder;
    ctx.repDestination = s.RepDestination;
    ctx.fichierZip = s.FichierZip;
    ctx.messages = &m_sink;
    ctx.limits = m_env.limits;
    ctx.keepVisits = s.Conserver;
    ctx.now = m_env.now();
    bool conflict = false;
    if (!UnpackArchive(ctx, name, ArchivePassword, &conflict)) {
        // A damaged archive is deleted so that the server prepares it again;
        // one that clashes with the files of the folder stays there, to be
        // fetched again once the folder has been cleared.
        m_lastConflict = conflict;
        m_form.setStatusText(conflict ? QStringLiteral("  Images non installées : conflit avec une visite conservée "
                                                       "(le fichier d'images reste sur le serveur)")
                                      : QStringLiteral("  ERREUR : Décompression du fichier d'images ") + name);
        if (!conflict)
            strandel::DeleteServerArchive(m_form.service(), name, s.Usager, s.MotDePasse, m_form.errorBox());
        return false;
    }
    // 10, 11.
    if (s.Conserver)
        KeepVisitDicomdir(folder, VisitSuffix(folder, s.FichierZip, m_env.now()), m_sink);
    strandel::DeleteServerArchive(m_form.service(), name, s.Usager, s.MotDePasse, m_form.errorBox());
    // 12, 13.
    s.TauxTransfert = DownloadTransferRate(volume, start, end);
    s.write();
    cursor.reset();
    m_form.setStatusText(QStringLiteral("  Réception terminée. Temps requis : ") + (fetchTime ? *fetchTime : QString()));
    return true;
}

void Exchange::unzipRadiologist()
{
    BusyCursor cursor;
    if (!EnsureZipComponent(m_sink)) {
        m_env.quit();
        return;
    }
    const strandel::TransferSettings &s = m_form.settings();
    UnpackContext ctx;
    ctx.workingFolder = workingFolder();
    ctx.repDestination = s.RepDestination;
    ctx.fichierZip = s.FichierZip;
    ctx.messages = &m_sink;
    ctx.limits = m_env.limits;
    ctx.keepVisits = s.Conserver;
    ctx.now = m_env.now();
    UnpackArchive(ctx, s.FichierZip + QStringLiteral(".zip"), ArchivePassword);
}

// ------------------------------------------------------------------ upload

void Exchange::fillWavList(TFormUploadWav &window)
{
    const QString folder = m_form.settings().DirDictee;
    window.list()->clear();
    // A folder that does not exist simply holds no dictation ("Relire" says so).
    QDir dir(folder);
    if (folder.isEmpty() || !dir.exists())
        return;
    const QFileInfoList files = dir.entryInfoList({QStringLiteral("*.wav")}, QDir::Files, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo &fi : files)
        if (!isViewerPrompt(fi.fileName()))
            window.list()->addItem(wavListLine(fi.lastModified(), fi.size(), fi.fileName()));
    window.list()->selectAll();
    if (window.list()->count() > 0)
        window.list()->setCurrentRow(0, QItemSelectionModel::NoUpdate);
}

void Exchange::uploadDictations()
{
    TFormUploadWav window(&m_form);
    // The window's own SOAP client object shows its sending progress.
    strandel::SoapClient soap;
    window.onReload = [&] {
        fillWavList(window);
        const int n = window.list()->count();
        if (n > 0)
            m_sink.information(QStringLiteral("J'ai trouvé ") + QString::number(n) + QStringLiteral(" fichier(s) WAV."));
        else
            m_sink.information(QStringLiteral("Je ne trouve aucun fichier WAV dans le répertoire : ")
                               + m_form.settings().DirDictee);
    };
    window.onSend = [&] { sendDictations(window); };
    window.setProperty("soapClient", QVariant::fromValue<void *>(&soap));
    fillWavList(window);
    emit dialogCreated(&window);
    m_form.ui().exec(window);
}

void Exchange::sendDictations(TFormUploadWav &window)
{
    strandel::TransferSettings &s = m_form.settings();
    const QString folder = s.DirDictee;
    // 1, 2.
    QStringList files;
    for (QListWidgetItem *item : window.list()->selectedItems()) {
        const QString name = wavNameFromLine(item->text());
        if (!isViewerPrompt(name)) // the viewer's own spoken prompts never leave
            files << folder + QLatin1Char('/') + name;
    }
    if (files.isEmpty()) {
        m_sink.information(QStringLiteral("Il n'y a présentement aucun fichier à télécharger"));
        return;
    }
    // From here on a transfer runs: closing the main window stops it.
    m_cancel = false;
    m_form.setTransferring(true);
    struct TransferEnd
    {
        Exchange *x;
        TFormUploadWav *window;
        ~TransferEnd()
        {
            x->m_uploadSoap = nullptr;
            x->m_form.setTransferring(false);
            // The main window waits to close: the upload window goes first.
            if (x->m_form.closePending())
                window->reject();
        }
    } transferEnd{this, &window};
    auto keptHere = [&] {
        return QStringLiteral("Les dictées sont conservées sur ce poste (") + folder
               + QStringLiteral(") ; vous pourrez les envoyer de nouveau.");
    };
    // The upload window's own client object, or a local one.
    std::unique_ptr<strandel::SoapClient> ownSoap;
    auto *soap = static_cast<strandel::SoapClient *>(window.property("soapClient").value<void *>());
    if (!soap) {
        ownSoap = std::make_unique<strandel::SoapClient>();
        soap = ownSoap.get();
    }
    // The call's own event loop repaints the windows; processing events from
    // inside the notification would re-enter the network code mid-send.
    soap->setPostingDataHandler([this](qint64 sent, qint64 total) {
        if (m_uploadWindow)
            m_uploadWindow->showSent(sent, total);
    });
    m_uploadSoap = soap;
    auto service = [&]() -> IEchoService & {
        return strandel::ServiceProxy(*soap, s.AdresseIp, s.Port, s.Alias);
    };
    // 3. Without the server's list, a name could be chosen that an earlier
    // dictation archive on the server already bears, and the server would
    // join the new pieces over it: nothing is sent then.
    QStringList serverNames;
    try {
        serverNames = service().GetAttachmentList(s.Usager);
    } catch (const SoapError &e) {
        window.serverNames()->clear();
        m_sink.error(QStringLiteral("ERREUR : La liste des dictées déjà reçues par le serveur n'a pas pu être lue ;\r"
                                    "aucune dictée n'a été envoyée.\r\r")
                     + strandel::ExceptionText(e) + QStringLiteral("\r\r") + keptHere());
        return;
    }
    window.serverNames()->clear();
    window.serverNames()->addItems(serverNames);
    // 4.
    const QString archive = DictationArchiveName(s.FichierZip, serverNames);
    QFile::remove(folder + QLatin1Char('/') + archive);
    // 5.
    if (!EnsureZipComponent(m_sink)) {
        m_env.quit();
        return;
    }
    {
        BusyCursor cursor;
        if (!ZipDictations(folder, archive, files, ArchivePassword)) {
            QFile::remove(folder + QLatin1Char('/') + archive);
            m_sink.error(QStringLiteral("ERREUR : Les dictées n'ont pas pu être réunies dans ") + archive
                         + QStringLiteral(".\r\r") + keptHere());
            return;
        }
    }
    // 6.
    const QString found = findNoCase(folder, archive);
    const qint64 volume = found.isEmpty() ? 0 : QFileInfo(found).size();
    TFormAttente confirm(&window);
    confirm.fill(archive, volume, s.TrUpload, formatEstimatedMinutes(EstimatedMinutes(volume, parseRate(s.TrUpload))));
    emit dialogCreated(&confirm);
    if (m_form.ui().exec(confirm) != QDialog::Accepted) {
        m_sink.information(QStringLiteral("Téléchargement annulé"));
        QFile::remove(folder + QLatin1Char('/') + archive);
        return;
    }
    // 7, 8.
    const bool ok = uploadArchive(window, service(), archive);
    QFile::remove(folder + QLatin1Char('/') + archive);
    if (!ok) {
        if (m_cancel)
            m_sink.information(QStringLiteral("Envoi des dictées interrompu par l'usager.\r\r") + keptHere());
        else
            m_sink.error(QStringLiteral("ERREUR : L'envoi des dictées a échoué.\r\r") + keptHere());
        return;
    }
    for (const QString &f : files)
        if (!QFile::remove(f))
            m_sink.error(QStringLiteral("Err. EffacerFichier: ") + f);
    fillWavList(window);
    m_sink.information(QStringLiteral("Téléchargement complété avec succès."));
}

bool Exchange::uploadArchive(TFormUploadWav &window, IEchoService &service, const QString &archive)
{
    strandel::TransferSettings &s = m_form.settings();
    const QString folder = s.DirDictee;
    auto cursor = std::make_unique<BusyCursor>();
    const QTime start = m_env.now().time();
    TFormUpload progress(&window);
    m_uploadWindow = &progress;
    emit dialogCreated(&progress);

    DeleteSplitPieces(folder, archive, m_sink);
    progress.clearPieces();
    progress.setTitle(archive);
    QString splitError;
    const QStringList pieces = SplitArchive(folder, archive, &splitError);
    if (!splitError.isEmpty())
        m_sink.error(splitError);

    bool ok = false;
    if (!pieces.isEmpty()) {
        for (const QString &p : pieces)
            progress.addPiece(pieceListLine(p, folder + QLatin1Char('/') + p));
        progress.show();
        pump();
        try {
            service.DebutEnvoiSplit(archive);
            window.progress()->setMaximum(int(pieces.size()));
            window.progress()->setValue(0);
            for (int i = 0; i < progress.list()->count() && !m_cancel; ++i) {
                progress.select(i);
                progress.progress()->setMaximum(int(FragmentSize));
                SendPiece(service, folder, pieceFromLine(progress.list()->item(i)->text()));
                progress.tick(i);
                window.progress()->setValue(window.progress()->value() + 1);
                pump();
            }
            progress.close();
            DeleteSplitPieces(folder, archive, m_sink);
            // Stopped by the user: the server is not asked to join a part.
            if (!m_cancel) {
                const QString answer = service.FinEnvoiSplit(archive);
                ok = answer == QLatin1String("OK");
                if (!ok)
                    m_sink.error(QStringLiteral("ERREUR: ") + answer);
            }
        } catch (const SoapError &e) {
            // A fault of the start or the end of the exchange ends the upload
            // here: the local pieces go, the fault is shown as every server
            // fault is, and no further call is made (the WAV files stay).
            progress.close();
            DeleteSplitPieces(folder, archive, m_sink);
            m_uploadWindow = nullptr;
            window.progress()->setValue(0);
            cursor.reset();
            if (!m_cancel)
                m_sink.error(strandel::ExceptionText(e));
            return false;
        }
    }
    // 10.
    m_uploadWindow = nullptr;
    window.progress()->setValue(0);
    progress.progress()->setValue(0);
    const QTime end = m_env.now().time();
    cursor.reset();
    s.TauxTransfert = UploadTransferRate(QFileInfo(folder + QLatin1Char('/') + archive).size(), start, end);
    s.write();
    {
        BusyCursor busy;
        try {
            const QStringList names = service.GetAttachmentList(s.Usager);
            window.serverNames()->clear();
            window.serverNames()->addItems(names);
        } catch (const SoapError &) {
        }
    }
    return ok;
}

bool Exchange::SendPiece(IEchoService &service, const QString &folder, const QString &piece)
{
    for (int attempt = 0; attempt <= 5 && !m_cancel; ++attempt) {
        try {
            service.SendAttachment(piece, folder + QLatin1Char('/') + piece);
            return true;
        } catch (const SoapError &) {
            if (m_cancel)
                return false; // stopped by the user: no more attempts
            m_sink.error(QStringLiteral("Erreur envoi du fichier sur site distant: ") + piece);
            m_sink.error(QStringLiteral("Erreur Upload5Essais : Attente de 10 secondes avant autre essais: ") + piece);
            m_env.wait(10000);
        }
    }
    return false;
}

// ------------------------------------------------------------------ news, purge

void Exchange::showNews()
{
    TFormNews news(workingFolder() + QLatin1Char('/') + NewsFileName, &m_form);
    emit dialogCreated(&news);
    m_form.ui().exec(news);
}

namespace {
int retentionDays(const QString &text)
{
    bool ok = false;
    const int days = text.trimmed().toInt(&ok);
    return ok ? days : 30;
}
} // namespace

void Exchange::automaticPurgeCheck()
{
    const strandel::TransferSettings &s = m_form.settings();
    const QDate comparison = QDate::currentDate().addDays(-retentionDays(s.Epurer));
    if (PurgeCandidates(workingFolder(), comparison, m_sink).isEmpty())
        return;
    if (m_sink.confirm(QStringLiteral("Épuration automatique des images.\r\r"
                                      "J'ai trouvé au moins un fichier d'images qui dépasse\r"
                                      "la période de conservation spécifiée dans vos paramètres :")
                       + s.Epurer
                       + QStringLiteral(" j.\r\rVous avez le choix de continuer pour accéder\r"
                                        "à la fenêtre d'épuration ou de sauter cette opération.\r\r"
                                        "Voulez vous continuer ?\r")))
        purgeWindow(&m_form);
}

void Exchange::purgeWindow(QWidget *parent)
{
    const QString folder = workingFolder();
    const QDate comparison = QDate::currentDate().addDays(-retentionDays(m_form.settings().Epurer));
    TFormEpuration::Actions actions;
    actions.build = [this, folder, comparison] { return PurgeCandidates(folder, comparison, m_sink); };
    actions.purge = [folder](const QStringList &names, TFormEpuration &window) {
        PurgeMarkers(folder);
        window.setStatus(QStringLiteral("Épuration en cours..."));
        BusyCursor cursor;
        PurgeList(
            folder, names,
            [&](const QString &name) {
                window.setStatus(QStringLiteral("Épuration en cours : ") + name);
                pump();
            },
            [&](int row) { window.tick(row); });
        window.setStatus(QStringLiteral("Épuration terminée."));
    };
    actions.information = [this](const QString &text) { m_sink.information(text); };
    TFormEpuration window(comparison, actions, parent ? parent : &m_form);
    emit dialogCreated(&window);
    m_form.ui().exec(window);
}

void Exchange::createShortcuts(bool strandel, bool viewer)
{
    const QString desk = m_env.desktopFolder.isEmpty() ? desktopFolder() : m_env.desktopFolder;
    if (!CreateProgramShortcuts(desk, workingFolder(), viewer, strandel))
        m_sink.error(QStringLiteral("Erreur : Impossible de créer les raccourcis sur le bureau : ") + desk);
}

// ------------------------------------------------------------------ update

bool Exchange::updateCheckAtFirstUse()
{
    strandel::TransferSettings &s = m_form.settings();
    if (!s.MajAuto)
        return true;
    auto cursor = std::make_unique<BusyCursor>();
    m_form.setStatusText(QStringLiteral("  Vérification de la connexion. Un instant s.v.p. ..."));
    if (!strandel::TestConnection(m_form.service())) {
        cursor.reset();
        m_form.setStatusText(QString());
        m_sink.error(QStringLiteral("ERREUR : Le test de connexion au serveur a échoué.\r"
                                    "Vérifier vos paramètres et votre connexion internet."));
        return false;
    }
    bool answer = false;
    if (strandel::TestAccess(m_form.service(), s.FichierZip, s.Usager, s.MotDePasse, m_form.errorBox())) {
        cursor.reset();
        CheckForUpdate(false, &m_form);
        answer = true;
    }
    cursor.reset();
    m_form.setStatusText(QString());
    return answer;
}

void Exchange::CheckForUpdate(bool withMessages, QWidget *parent)
{
    strandel::TransferSettings &s = m_form.settings();
    QWidget *owner = parent ? parent : &m_form;
    const strandel::ClientUi &ui = m_form.ui();
    const QString folder = workingFolder();
    // 1, 2.
    const QString name = strandel::AvailableArchive(m_form.service(), QStringLiteral("Strandel"), m_form.errorBox());
    if (name.isEmpty()) {
        if (withMessages)
            ui.information(owner, QStringLiteral("Il n'y a pas de fichier de mise à jour sur le serveur."));
        return;
    }
    if (name.toUpper() == (s.Version + QStringLiteral(".ZIP")).toUpper()) {
        if (withMessages)
            ui.information(owner, QStringLiteral("La version trouvée sur le serveur : ") + name
                                      + QStringLiteral("\ra déjà été installée sur votre poste."));
        return;
    }
    // The archive is saved under this name in the folder of the visits.
    const QString nameRefusal = isPlainFileName(name) ? UpdateArchiveNameRefusal(name) : QString();
    if (!isPlainFileName(name) || !nameRefusal.isEmpty()) {
        ui.error(owner, QStringLiteral("ERREUR : Nom de fichier de mise à jour refusé : ") + name
                            + (nameRefusal.isEmpty() ? QString() : QStringLiteral("\r") + nameRefusal));
        return;
    }
    // 3.
    if (!ui.confirm(owner, QStringLiteral("Une mise à jour de Strandel est disponible sur le serveur : ") + name
                               + QStringLiteral("\r\rVoulez-vous procéder maintenant ?")))
        return;
    // 4.
    {
        BusyCursor cursor;
        m_form.setStatusText(QStringLiteral("  Téléchargement du fichier de mise à jour..."));
        try {
            SoapAttachmentPtr attachment = m_form.service().GetAttachment(name, s.Usager);
            if (attachment && attachment->contentType().compare(QLatin1String("zip"), Qt::CaseInsensitive) == 0)
                attachment->saveAs(folder + QLatin1Char('/') + name);
            else
                ui.information(owner, QStringLiteral("Erreur : Le fichier reçu n'est pas de type ZIP"));
        } catch (const SoapError &e) {
            ui.error(owner, QStringLiteral("ERREUR D'EXCEPTION\r\r") + e.message() + QLatin1Char('\r')
                                + QString::number(e.code()));
        }
    }
    if (QFileInfo(folder + QLatin1Char('/') + name).isFile()) {
        m_form.setStatusText(QStringLiteral("  Réception du fichier de mise à jour terminée : ") + name);
    } else {
        m_form.setStatusText(QStringLiteral("  Erreur: Le fichier MAJ est introuvable sur le disque local : ") + name);
        ui.error(owner, QStringLiteral("ERREUR durant la réception du fichier de mise à jour.\r\rProcédure annulée."));
        return;
    }
    // 5.
    if (!EnsureZipComponent(m_sink)) {
        m_env.quit();
        return;
    }
    // The update shares its folder with the visits and the viewer: it writes
    // only the client's own files, and an archive that holds anything else is
    // refused whole, before any entry is written.
    const QString archive = folder + QLatin1Char('/') + name;
    ExtractBudget budget(m_env.limits, QFileInfo(archive).size());
    const ExtractOutcome unzipped = extractZip(archive, folder, ArchivePassword, &budget, UpdateEntryRefusal);
    if (unzipped.code == ExtractRefused) {
        ui.error(owner, QStringLiteral("ERREUR : La mise à jour ") + name + QStringLiteral(" est refusée.\r\r")
                            + unzipped.refusal
                            + QStringLiteral("\r\rAucun fichier n'a été installé. Procédure annulée."));
        return;
    }
    if (unzipped.code != ExtractOk) {
        m_sink.error(QStringLiteral("Erreur de décompression sur le fichier ") + archive + QLatin1Char('\r')
                     + ExtractFailureText(unzipped));
        ui.error(owner, QStringLiteral("ERREUR sur le UnZip.\r\rProcédure annulée."));
        return;
    }
    // 6.
    const QString updater = folder + QLatin1Char('/') + m_env.updaterName;
    if (!QFileInfo(updater).isFile()) {
        // Name the file that was looked for: the updater of this platform.
        ui.error(owner, QStringLiteral("ERREUR: Le programme utilisé pour faire la mise à jour est absent.\r\r")
                            + m_env.updaterName + QStringLiteral(" est introuvable.\r\rProcédure annulée."));
        return;
    }
    // 7.
    const QString base = name.left(name.size() - 4);
    s.Version = name.size() > 4 && name.toUpper().contains(QLatin1String(".ZIP")) ? base : QString();
    s.write();
    // 8, 9.
    ui.message(owner, strandel::MessageKind::Confirmation,
               QStringLiteral("Strandel va maintenant être fermé puis réouvert."), false);
    const RunResult run = RunProgram(updater, m_env.programName + QLatin1Char('/') + base, false);
    if (!run.started) {
        ui.error(owner, run.error);
        return;
    }
    pump();
    m_env.quit();
}

RunResult RunProgram(const QString &program, const QString &arguments, bool wait)
{
    RunResult r;
    const QString command = (program + QLatin1Char(' ') + arguments).trimmed();
    const QStringList args = arguments.trimmed().isEmpty() ? QStringList() : QStringList{arguments.trimmed()};
    const QFileInfo fi(program);
    if (!fi.exists()) {
        r.error = QStringLiteral("Impossible d'exécuter le programme suivant :\r") + command
                  + QStringLiteral("\rChemin non trouvé !");
        return r;
    }
    if (wait) {
        QProcess p;
        p.setWorkingDirectory(fi.absolutePath());
        p.start(fi.absoluteFilePath(), args);
        if (!p.waitForStarted()) {
            r.error = QString::asprintf("Incapable d'exécuter le programme. Code d'erreur %d", int(p.error()));
            return r;
        }
        p.waitForFinished(-1);
        r.started = true;
        r.exitCode = p.exitCode();
        return r;
    }
    QProcess p;
    p.setProgram(fi.absoluteFilePath());
    p.setArguments(args);
    p.setWorkingDirectory(fi.absolutePath());
    if (!p.startDetached()) {
        r.error = QString::asprintf("Incapable d'exécuter le programme. Code d'erreur %d", int(p.error()));
        return r;
    }
    r.started = true;
    return r;
}

} // namespace exchange
