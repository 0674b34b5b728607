#pragma once

#include "transfer/core/clientui.h"
#include "transfer/core/echoservice.h"
#include "transfer/core/transfersettings.h"

#include <QDir>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>

#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace strandel {

class IEchoService;
class TClientForm;
class TFormRequete;

// The features of the transfer client that live outside this window
// (download, dictation upload, news, purge, update, shortcuts). The window
// calls them at the points where they belong; a button whose feature is not
// set stays visible but disabled, and a start-up step whose feature is not
// set is skipped.
struct ClientFeatures {
    // The download button's procedure; also offered when wait mode sees an
    // archive become available.
    std::function<void(TClientForm &)> download;
    // "Télécharger les Dictées en amont": the dictation upload window.
    std::function<void(TClientForm &)> uploadDictations;
    // "Unzip fichier radiologiste" (first argument DEBUG).
    std::function<void(TClientForm &)> unzipRadiologist;
    // The update check made before the first request or download of each
    // run; false stops that request or download. Not set: nothing to check.
    std::function<bool(TClientForm &)> updateCheck;
    // The parameters dialog's "Mise à jour": the update with its messages.
    std::function<void(TClientForm &, QWidget *parent)> checkForUpdate;
    // The news window, shown modally at start-up when "StrandelNews.txt"
    // exists in the working folder.
    std::function<void(TClientForm &)> showNews;
    // The automatic purge check at start-up (EpureAuto).
    std::function<void(TClientForm &)> automaticPurgeCheck;
    // The purge window, from the parameters dialog's "Épuration".
    std::function<void(TClientForm &, QWidget *parent)> purgeWindow;
    // The desktop shortcuts chosen in the first-time configuration.
    std::function<void(TClientForm &, bool strandel, bool viewer)> createShortcuts;
    // Called for every block counted while a download runs (after the main
    // window's own counters), for the download window's fragment counter.
    std::function<void(TClientForm &)> receivedBlock;
    // Stops the transfer in progress as cleanly as it can (the main window
    // was closed during it); the transfer itself tells the user.
    std::function<void(TClientForm &)> cancelTransfer;
};

// The transfer client's main window: requests by accession number and the
// wait mode that polls the server for their answer.
class TClientForm : public QMainWindow {
    Q_OBJECT
public:
    // programFolder: where the executable, "Strandel.ini" and the shared
    // studies are (the working folder).
    TClientForm(const QString &programFolder, const CommandLine &commandLine,
                const ClientUi &ui = defaultClientUi(), QWidget *parent = nullptr);
    ~TClientForm() override;

    ClientFeatures &features() { return m_features; }

    // The start-up sequence: news, settings file check, settings and
    // command-line values, first-time configuration, password, buttons,
    // automatic purge, default rate, connection test. False when the program
    // must end (the reason has been shown).
    bool startUp();

    // Shared state for the features of the client.
    TransferSettings &settings() { return m_settings; }
    const ClientUi &ui() const { return m_ui; }
    const CommandLine &commandLine() const { return m_commandLine; }
    const QDir &programFolder() const { return m_folder; }
    QString programPath(const QString &name) const { return m_folder.filePath(name); }
    SoapClient &soapClient() { return m_soap; }
    // The server interface at the address of the current settings.
    IEchoService &service();
    // The error box that the SOAP operations take.
    ErrorBox errorBox();

    // The update check at first use: made at most once per run.
    bool updateCheckMade() const { return m_updateChecked; }
    bool runUpdateCheck();

    // Status bar text (one panel).
    void setStatusText(const QString &text);
    QString statusText() const;

    // Downloading state: request, download and "Paramètres" disabled. Calls
    // nest (an upload window may run while a download is asked from a wait
    // tick); the state ends with the last. While it lasts, closing the window
    // stops the transfer instead, and the window closes once it has ended.
    void setTransferring(bool on);
    bool transferring() const { return m_transferring > 0; }
    // The window was closed during a transfer: it closes when the transfer ends.
    bool closePending() const { return m_closePending; }
    // Download flag and counters: while set, every receive notification of
    // the main SOAP client object adds 2048 bytes to the counter shown on
    // the progress bar and the status bar ("  counter/maximum").
    void setDownloadFlag(bool on);
    bool downloadFlag() const { return m_downloading; }
    qint64 receivedBytes() const { return m_received; }

    // Settings re-applied to the buttons (after start-up and after the
    // parameters dialog): request button and download position, dictation
    // button, download caption, default rate of the request dialog.
    void applySettings(bool moveFocus);

    // The buttons' procedures.
    void requestClicked();
    void downloadClicked();
    void parametresClicked();
    // SendRequest: writes the request file and sends it; true when the
    // server took it.
    bool SendRequest(const QString &accession, const QString &quality, const QString &report,
                     const QString &birthDate);
    const QString &currentRequestName() const { return m_requestName; }

    // Wait mode.
    void StartWaitMode();
    void StopWaitMode();
    bool waiting() const { return m_timer.isActive() || m_waitMode; }
    int waitCounter() const { return m_counter; }
    void timerTick();
    // The timer's period (one second; tests use less).
    void setTickInterval(int milliseconds) { m_timer.setInterval(milliseconds); }

    // Controls.
    QPushButton *requestButton() const { return m_request; }
    QPushButton *downloadButton() const { return m_download; }
    QPushButton *parametresButton() const { return m_parametres; }
    QPushButton *dictationButton() const { return m_dictations; }
    QPushButton *unzipButton() const { return m_unzip; }
    QLabel *timerLabel() const { return m_timerLabel; }
    QLabel *answerLabel() const { return m_answer; }
    QLabel *copyAnimation() const { return m_animation; }
    QProgressBar *progressBar() const { return m_progress; }
    TFormRequete *formRequete() const { return m_requete; }

    static QString requestCaption();
    static QString cancelWaitCaption();
    static QString downloadCaption();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void receivedData();
    void updateFeatureButtons();

    QDir m_folder;
    CommandLine m_commandLine;
    ClientUi m_ui;
    ClientFeatures m_features;
    TransferSettings m_settings;
    SoapClient m_soap;
    QTimer m_timer;
    bool m_waitMode = false;
    bool m_updateChecked = false;
    bool m_downloading = false;
    int m_transferring = 0;
    bool m_closePending = false;
    qint64 m_received = 0;
    QElapsedTimer m_lastShown; // last redraw of the download counter
    int m_counter = 0;
    QString m_requestName;
    bool m_centred = false;

    QPushButton *m_request;
    QPushButton *m_download;
    QPushButton *m_parametres;
    QPushButton *m_dictations;
    QPushButton *m_unzip;
    QLabel *m_timerLabel;
    QLabel *m_answer;
    QLabel *m_animation;
    QProgressBar *m_progress;
    TFormRequete *m_requete;
};

} // namespace strandel
