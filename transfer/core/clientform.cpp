#include "transfer/core/clientform.h"

#include "transfer/core/formconfig.h"
#include "transfer/core/formparametres.h"
#include "transfer/core/formpassword.h"
#include "transfer/core/formrequete.h"
#include "transfer/core/requestfile.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QStatusBar>

namespace strandel {

namespace {
constexpr int kButtonWidth = 275;
constexpr int kButtonHeight = 41;
constexpr int kRequestLeft = 24;
constexpr int kDownloadRight = 312;  // beside the request button
constexpr int kDownloadCentre = 168; // alone, centred
} // namespace

QString TClientForm::requestCaption()
{
    return QStringLiteral("Requête no. d'accession");
}

QString TClientForm::cancelWaitCaption()
{
    return QStringLiteral("Annuler le mode attente");
}

QString TClientForm::downloadCaption()
{
    return QStringLiteral("Télécharger les images disponibles");
}

TClientForm::TClientForm(const QString &programFolder, const CommandLine &commandLine, const ClientUi &ui,
                         QWidget *parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                              | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , m_folder(programFolder)
    , m_commandLine(commandLine)
    , m_ui(ui)
{
    setObjectName(QStringLiteral("ClientForm"));
    setWindowTitle(kApplicationTitle);
    m_settings.setFile(m_folder.filePath(kSettingsFileName));
    m_soap.setAttachmentFolder(m_folder.absolutePath());

    auto *central = new QWidget(this);
    setCentralWidget(central);

    m_answer = new QLabel(central);
    m_answer->setGeometry(8, 6, 595, 20);
    m_answer->setAlignment(Qt::AlignCenter);
    m_answer->setStyleSheet(QStringLiteral("color: green; font-weight: bold;"));

    m_request = new QPushButton(requestCaption(), central);
    m_request->setObjectName(QStringLiteral("BtnRequete"));
    m_request->setGeometry(kRequestLeft, 30, kButtonWidth, kButtonHeight);
    m_download = new QPushButton(downloadCaption(), central);
    m_download->setObjectName(QStringLiteral("BtnDownload"));
    m_download->setGeometry(kDownloadRight, 30, kButtonWidth, kButtonHeight);
    QFont big = m_request->font();
    big.setBold(true);
    m_request->setFont(big);
    m_download->setFont(big);

    m_parametres = new QPushButton(QStringLiteral("Paramètres"), central);
    m_parametres->setObjectName(QStringLiteral("BtnParametres"));
    m_parametres->setToolTip(QStringLiteral("Fenêtre des paramètres"));
    m_parametres->setGeometry(kRequestLeft, 82, 130, 28);
    m_dictations = new QPushButton(QStringLiteral("Télécharger les Dictées en amont"), central);
    m_dictations->setObjectName(QStringLiteral("BtnDictees"));
    m_dictations->setGeometry(168, 82, 275, 28);
    m_unzip = new QPushButton(QStringLiteral("Unzip fichier radiologiste"), central);
    m_unzip->setObjectName(QStringLiteral("BtnUnzip"));
    m_unzip->setGeometry(168, 114, 275, 24);
    m_unzip->hide();

    m_timerLabel = new QLabel(QStringLiteral("00:00"), central);
    m_timerLabel->setGeometry(480, 82, 107, 28);
    m_timerLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont clock = m_timerLabel->font();
    clock.setBold(true);
    clock.setPointSize(clock.pointSize() + 4);
    m_timerLabel->setFont(clock);
    m_timerLabel->hide();

    // Shown while a transfer runs; the animation file is not shipped, so a
    // text stands in for it.
    m_animation = new QLabel(QStringLiteral("Transfert en cours..."), central);
    m_animation->setGeometry(24, 114, 130, 24);
    m_animation->hide();

    m_progress = new QProgressBar(central);
    m_progress->setGeometry(8, 144, 595, 16);
    m_progress->setTextVisible(false);
    m_progress->setValue(0);

    statusBar()->setSizeGripEnabled(false);
    setFixedSize(611, 215);

    m_requete = new TFormRequete(m_ui, this);

    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &TClientForm::timerTick);
    m_soap.setReceivingDataHandler([this](qint64, qint64) { receivedData(); });

    connect(m_request, &QPushButton::clicked, this, &TClientForm::requestClicked);
    connect(m_download, &QPushButton::clicked, this, &TClientForm::downloadClicked);
    connect(m_parametres, &QPushButton::clicked, this, &TClientForm::parametresClicked);
    connect(m_dictations, &QPushButton::clicked, this, [this] {
        if (m_features.uploadDictations)
            m_features.uploadDictations(*this);
    });
    connect(m_unzip, &QPushButton::clicked, this, [this] {
        if (m_features.unzipRadiologist)
            m_features.unzipRadiologist(*this);
    });
    updateFeatureButtons();
}

TClientForm::~TClientForm() = default;

IEchoService &TClientForm::service()
{
    return ServiceProxy(m_soap, m_settings.AdresseIp, m_settings.Port, m_settings.Alias);
}

ErrorBox TClientForm::errorBox()
{
    return m_ui.errorBox(this);
}

void TClientForm::setStatusText(const QString &text)
{
    statusBar()->showMessage(text);
}

QString TClientForm::statusText() const
{
    return statusBar()->currentMessage();
}

void TClientForm::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!m_centred) {
        m_centred = true;
        if (QScreen *s = screen()) {
            const QRect area = s->availableGeometry();
            move(area.center() - rect().center());
        }
    }
    updateFeatureButtons();
}

void TClientForm::closeEvent(QCloseEvent *event)
{
    // Closing the window in the middle of a transfer would leave it running
    // against a window on its way out: the transfer is stopped instead, and
    // the window closes once it has cleaned up after itself.
    if (m_transferring > 0) {
        event->ignore();
        m_closePending = true;
        if (m_features.cancelTransfer)
            m_features.cancelTransfer(*this);
        return;
    }
    QMainWindow::closeEvent(event);
}

void TClientForm::updateFeatureButtons()
{
    const bool idle = !m_waitMode && m_transferring == 0;
    m_request->setEnabled(m_transferring == 0);
    m_parametres->setEnabled(idle);
    m_download->setEnabled(idle && bool(m_features.download));
    // A transfer processes the user's events while it runs: nothing may
    // start another one, or unpack, under it.
    m_dictations->setEnabled(bool(m_features.uploadDictations) && m_transferring == 0);
    m_unzip->setEnabled(bool(m_features.unzipRadiologist) && m_transferring == 0);
}

bool TClientForm::startUp()
{
    // 1. News of a new version: a regular file only (anything else, a FIFO, is not opened).
    if (QFileInfo(m_folder.filePath(QStringLiteral("StrandelNews.txt"))).isFile() && m_features.showNews)
        m_features.showNews(*this);
    // 2 to 5.
    m_answer->clear();
    m_unzip->setVisible(m_commandLine.debug());
    setWindowTitle(kApplicationTitle);
    // 6. Without its settings file the client cannot work.
    if (!QFile::exists(m_settings.file())) {
        m_ui.error(this, QStringLiteral("Les paramètres de configuration sont introuvables\r"
                                        "Le logiciel est inutilisable."));
        return false;
    }
    // 7.
    if (!m_settings.read()) {
        m_ui.error(this, QStringLiteral("Les paramètres de configuration sont introuvables\r"
                                        "Le logiciel est inutilisable.\r\r")
                             + m_settings.file() + QStringLiteral("\r") + m_settings.errorString());
        return false;
    }
    m_commandLine.applyTo(m_settings);
    // 8. First-time configuration.
    if (m_settings.AdresseIp.isEmpty() || m_settings.Alias.isEmpty() || m_settings.FichierZip.isEmpty()
        || m_settings.Usager.isEmpty() || m_settings.MotDePasse.isEmpty()) {
        TFormConfig::ShortcutFunction shortcuts;
        if (m_features.createShortcuts) {
            shortcuts = [this](bool strandel, bool viewer) {
                m_features.createShortcuts(*this, strandel, viewer);
            };
        }
        TFormConfig config(m_settings, m_ui, m_commandLine.noShortcuts(), shortcuts, this);
        if (m_ui.exec(config) != QDialog::Accepted)
            return false;
    }
    // 9. Password.
    {
        TFormPassWord password(m_settings, m_ui, this);
        password.prepare();
        if (m_ui.exec(password) != QDialog::Accepted)
            return false;
    }
    // 10 to 13, 15.
    m_parametres->setVisible(!m_commandLine.noConfig());
    applySettings(true);
    // 14.
    if (m_settings.EpureAuto && m_features.automaticPurgeCheck)
        m_features.automaticPurgeCheck(*this);
    // 16. A connection test whose answer is not used (it wakes the remote side).
    if (m_settings.Tessarune)
        TestConnection(service());
    updateFeatureButtons();
    return true;
}

void TClientForm::applySettings(bool moveFocus)
{
    const int top = m_download->y();
    if (m_settings.Requete) {
        m_request->show();
        m_download->move(kDownloadRight, top);
        if (moveFocus)
            m_request->setFocus();
    } else {
        m_request->hide();
        m_download->move(kDownloadCentre, top);
        if (moveFocus)
            m_download->setFocus();
    }
    m_dictations->setVisible(m_settings.DicteeActif);
    m_download->setText(m_settings.BoutonDownload.isEmpty() ? downloadCaption() : m_settings.BoutonDownload);
    m_requete->setRate(m_settings.defaultRate());
}

bool TClientForm::runUpdateCheck()
{
    m_updateChecked = true;
    return m_features.updateCheck ? m_features.updateCheck(*this) : true;
}

void TClientForm::setTransferring(bool on)
{
    m_transferring = std::max(0, m_transferring + (on ? 1 : -1));
    updateFeatureButtons();
    if (m_transferring == 0 && m_closePending)
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void TClientForm::setDownloadFlag(bool on)
{
    m_downloading = on;
    if (on) {
        m_received = 0;
        m_lastShown.invalidate();
    }
}

void TClientForm::receivedData()
{
    if (!m_downloading)
        return;
    m_received += 2048;
    m_progress->setValue(int(std::min<qint64>(m_received, m_progress->maximum())));
    setStatusText(QStringLiteral("  %1/%2").arg(m_received).arg(m_progress->maximum()));
    if (m_features.receivedBlock)
        m_features.receivedBlock(*this);
    // Every block is counted and shown, but pending window events are run at
    // most every 50 ms: a study arrives in tens of thousands of blocks.
    if (!m_lastShown.isValid() || m_lastShown.elapsed() >= 50 || m_received >= m_progress->maximum()) {
        m_lastShown.start();
        QCoreApplication::processEvents();
    }
}

void TClientForm::downloadClicked()
{
    if (m_features.download)
        m_features.download(*this);
}

void TClientForm::parametresClicked()
{
    TFormParametres::Actions actions;
    if (m_features.checkForUpdate)
        actions.checkForUpdate = [this](QWidget *parent) { m_features.checkForUpdate(*this, parent); };
    if (m_features.purgeWindow)
        actions.purgeWindow = [this](QWidget *parent) { m_features.purgeWindow(*this, parent); };
    TFormParametres dialog(m_settings, m_soap, m_ui, m_requete, actions, this);
    dialog.prepare();
    m_ui.exec(dialog);
    applySettings(false);
}

void TClientForm::requestClicked()
{
    // 1, 2.
    m_answer->clear();
    if (m_request->text() == cancelWaitCaption()) {
        StopWaitMode();
        m_ui.information(this, QStringLiteral("Le mode attente a été stoppé.\rStrandel est passé en mode manuel."));
        return;
    }
    // 3.
    if (!m_updateChecked && !runUpdateCheck())
        return;
    // 4 to 6.
    m_requete->reportBox()->setChecked(m_settings.Rapport);
    m_requete->prepare(m_settings);
    const int result = m_ui.exec(*m_requete);
    const QString accession = m_requete->accessionNumber();
    const QString birthDate = m_requete->birthDate();
    if (result != QDialog::Accepted || accession.isEmpty()) {
        m_ui.information(this, QStringLiteral("Opération annulée par l'usager."));
        return;
    }
    // 7.
    const QString quality = qualityForRate(m_requete->rate());
    // 8, 9.
    if (!TestConnection(service())) {
        m_ui.error(this, QStringLiteral("ERREUR : Le test de connexion a échoué.\r"
                                        "Vérifier votre connexion internet et recommencez."));
        return;
    }
    if (!TestAccess(service(), m_settings.FichierZip, m_settings.Usager, m_settings.MotDePasse, errorBox())) {
        m_ui.error(this, QStringLiteral("ERREUR : Le test d'accès a échoué.\r"
                                        "L'accès au serveur d'images vous est refusé."));
        return;
    }
    // 10. An archive already waits for this user.
    const QString archive = AvailableArchive(service(), m_settings.FichierZip, errorBox());
    if (!archive.isEmpty()) {
        const QString head = QStringLiteral("Il y a déjà un fichier d'images sur le serveur (") + archive
                           + QStringLiteral(")\rprésentement disponible pour vous.\r\r");
        if (m_settings.VerifierZip) {
            m_ui.error(this, QStringLiteral("ERREUR: ") + head
                                 + QStringLiteral("Vous devez d'abord recevoir ces images avant\r"
                                                  "de faire une nouvelle requête."));
            return;
        }
        if (!m_ui.confirm(this, QStringLiteral("AVERTISSEMENT: ") + head
                                    + QStringLiteral("Voulez-vous quand même envoyer cette nouvelle requête ?")))
            return;
    }
    // 11. One request at a time.
    if (m_settings.UneReqAlafois) {
        QString pending;
        if (PendingRequest(service(), m_settings.FichierZip, &pending, errorBox())) {
            m_ui.error(this, QStringLiteral("ERREUR : Il y a déjà une requète pour ") + m_settings.FichierZip
                                 + QStringLiteral(".\rRequête: ") + pending
                                 + QStringLiteral("\rAttendez qu'elle soit traitée par le serveur ou "
                                                  "contactez le responsable."));
            return;
        }
    }
    // 12, 13.
    const QString report = m_requete->reportBox()->isChecked() ? QStringLiteral("RAPPORT=OUI")
                                                               : QStringLiteral("RAPPORT=NON");
    if (SendRequest(accession, quality, report, birthDate)) {
        m_ui.information(this, QStringLiteral("Votre requête a été transmise avec succès.\r\r"
                                              "Strandel va maintenant passer en mode attente\r"
                                              "et vous informez lorsque les images seront disponibles.\r"));
        StartWaitMode();
    } else {
        m_ui.error(this, QStringLiteral("ERREUR : L'envoi de la requête a échoué."));
    }
}

bool TClientForm::SendRequest(const QString &accession, const QString &quality, const QString &report,
                              const QString &birthDate)
{
    const QString stamp = RequestStamp(QDateTime::currentDateTime());
    m_requestName = RequestFileName(m_settings.FichierZip, stamp);
    // The user name becomes part of a file name: it must stay a plain name.
    if (m_settings.FichierZip.contains(u'/') || m_settings.FichierZip.contains(u'\\'))
        return false;
    const QString path = m_folder.filePath(m_requestName);
    {
        QSaveFile file(path);
        const QByteArray bytes = RequestFileBytes(
            {m_settings.FichierZip, stamp, accession, quality, birthDate, m_settings.Version, report});
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
            return false;
    }
    bool sent = false;
    try {
        service().SendAttachment(m_requestName, path);
        sent = true;
    } catch (const SoapError &) {
        sent = false;
    }
    QFile::remove(path);
    return sent;
}

void TClientForm::StartWaitMode()
{
    m_counter = 0;
    m_waitMode = true;
    m_timerLabel->setText(WaitClock(0));
    m_timerLabel->show();
    m_request->setText(cancelWaitCaption());
    updateFeatureButtons();
    m_timer.start();
}

void TClientForm::StopWaitMode()
{
    m_timer.stop();
    m_waitMode = false;
    m_counter = 0;
    m_request->setText(requestCaption());
    updateFeatureButtons();
    m_timerLabel->hide();
    m_answer->clear();
    setStatusText(QString());
}

void TClientForm::timerTick()
{
    const int delay = m_settings.delaySeconds();
    ++m_counter;
    m_timerLabel->setText(WaitClock(m_counter));
    if (!IsCheckTick(m_counter, delay)) {
        setStatusText(QStringLiteral("  Prochaine vérification ") + QString::number(delay - m_counter % delay));
        return;
    }
    // A transfer runs (the dictation upload window was opened while
    // waiting): the server is asked at the next check, after it.
    if (m_transferring > 0) {
        setStatusText(QStringLiteral("  Prochaine vérification ") + QString::number(delay));
        return;
    }
    // No tick while the server is asked, however long it takes.
    m_timer.stop();
    bool stopped = false;
    QString acces;
    QString answer;
    try {
        answer = service().echoAckErrOk2(m_requestName, acces);
    } catch (const SoapError &e) {
        m_ui.error(this, ExceptionText(e));
        answer.clear();
    }
    if (!answer.isEmpty()) {
        if (acces == QLatin1String("ERR")) {
            StopWaitMode();
            stopped = true;
            m_ui.error(this, QStringLiteral("Votre requête a été refusée.\r\r"
                                            "La date de naissance que vous avez donnée ne correspond pas\r"
                                            "au no d'accession demandé :")
                                 + answer + QStringLiteral("\r"));
            try {
                service().echoEffacerERR(AnswerFileName(m_requestName, QStringLiteral(".ERR")));
            } catch (const SoapError &e) {
                m_ui.error(this, e.message());
                return;
            }
        } else if (acces == QLatin1String("ACK")) {
            StopWaitMode();
            stopped = true;
            m_ui.error(this, QStringLiteral("Votre requête a été refusée.\r\rLe no d'accession : ") + answer
                                 + QStringLiteral("\rn'existe pas sur le serveur Korvane."));
            try {
                service().echoEffacerACK(AnswerFileName(m_requestName, QStringLiteral(".ACK")));
            } catch (const SoapError &) {
            }
        } else {
            m_answer->setText(QStringLiteral("Requête conforme et en préparation : ") + answer);
            try {
                service().echoEffacerOk2(AnswerFileName(m_requestName, QStringLiteral(".ok2")));
            } catch (const SoapError &) {
            }
        }
    }
    const QString archive = AvailableArchive(service(), m_settings.FichierZip, errorBox());
    if (!archive.isEmpty()) {
        StopWaitMode();
        stopped = true;
        if (m_ui.confirm(this, QStringLiteral("Un nouveau fichier d'images est maintenant disponible\r\r"
                                              "Voulez-vous télécharger maintenant ?")))
            downloadClicked();
    }
    if (!stopped)
        m_timer.start();
}

} // namespace strandel
