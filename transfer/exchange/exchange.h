#pragma once

#include "transfer/exchange/exchangeforms.h"
#include "transfer/exchange/messagesink.h"
#include "transfer/exchange/zipcomponent.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>

#include <functional>

namespace strandel {
class IEchoService;
class SoapClient;
class TClientForm;
} // namespace strandel

namespace exchange {

// What the file exchange takes from its surroundings; tests replace the clock,
// the waits and the end of the program.
struct ExchangeEnv
{
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };
    // Blocks for ms milliseconds while the windows keep painting (the pauses
    // between two attempts at sending a dictation piece).
    std::function<void(int ms)> wait;
    std::function<void()> beep;
    // Ends the program (after the main window closed, or for the updater).
    std::function<void()> quit;
    // Length of one second of the periodic check windows.
    int periodicTickMs = 1000;
    ExtractLimits limits;
    // Where shortcuts go; empty: the user's desktop folder.
    QString desktopFolder;
    // The running program's name and the updater beside it.
    QString programName = QStringLiteral("Strandel");
    QString updaterName = QStringLiteral("StrandelMaj");
};

// Result of starting a program.
struct RunResult
{
    bool started = false;
    int exitCode = 0;
    QString error; // the message to show when it could not start
};

// Starts program with one argument (none when arguments is empty), normal
// priority, its folder as working folder. wait: waits for its end and gives
// its exit code; otherwise it runs on its own.
RunResult RunProgram(const QString &program, const QString &arguments, bool wait);

// The transfer client's file exchange, attached to its main window: download,
// dictation upload, news, purge, update and shortcuts.
class Exchange : public QObject
{
    Q_OBJECT
public:
    Exchange(strandel::TClientForm &form, ExchangeEnv env);

    // Sets every exchange hook of the main window to this object.
    void install();

    ExchangeEnv &env() { return m_env; }
    MessageSink &messages() { return m_sink; }
    QString workingFolder() const;

    // The download button's procedure (update check, tests, purge, single or
    // continuous mode).
    void downloadButton();
    void singleDownload();
    void continuousMode();
    // The periodic check windows; the archive found, or empty.
    QString askPeriodicCheck();
    QString periodicCheck(int periodSeconds);
    // Downloads, merges and unpacks one archive of `volume` bytes.
    bool DownloadArchive(const QString &name, qint64 volume, QString *fetchTime);
    // "Unzip fichier radiologiste".
    void unzipRadiologist();
    // Stops the transfer in progress: the call under way ends at once, and
    // the download or upload cleans up after itself and tells the user.
    // Asked by closing the download window or the main window.
    void cancelTransfer();
    // Whether the current transfer was stopped by the user.
    bool cancelled() const { return m_cancel; }

    // Dictation upload window (modal).
    void uploadDictations();
    // "Envoyer" of an upload window; public for tests.
    void sendDictations(TFormUploadWav &window);
    void fillWavList(TFormUploadWav &window);
    bool uploadArchive(TFormUploadWav &window, strandel::IEchoService &service, const QString &archive);
    bool SendPiece(strandel::IEchoService &service, const QString &folder, const QString &piece);

    // News, purge, update, shortcuts.
    void showNews();
    void automaticPurgeCheck();
    void purgeWindow(QWidget *parent);
    bool updateCheckAtFirstUse();
    void CheckForUpdate(bool withMessages, QWidget *parent);
    void createShortcuts(bool strandel, bool viewer);

    TFormDownLoad *downloadWindow() const { return m_downloadWindow; }

signals:
    // A dialog of the exchange was created (tests look at it).
    void dialogCreated(QWidget *dialog);

private:
    class Sink : public MessageSink
    {
    public:
        explicit Sink(Exchange &x) : m_x(x) {}
        void error(const QString &text) override;
        void information(const QString &text) override;
        bool confirm(const QString &text) override;

    private:
        Exchange &m_x;
    };

    strandel::TClientForm &m_form;
    ExchangeEnv m_env;
    Sink m_sink;
    bool refusedBefore(const QString &name) const;

    QPointer<TFormDownLoad> m_downloadWindow;
    QPointer<TFormUpload> m_uploadWindow;
    bool m_cancel = false;       // asked during the transfer in progress
    bool m_lastConflict = false; // the last download clashed with the folder's visits
    bool m_closeWhenDone = false; // the user chose to close Strandel after the download
    strandel::SoapClient *m_uploadSoap = nullptr; // the upload window's, while it sends
    // Archives refused for a clash since the user last pressed the download
    // button: periodic checks pass over them.
    QStringList m_refused;
};

// Creates the file exchange of the main window and plugs it in.
Exchange *installExchange(strandel::TClientForm &form, ExchangeEnv env = {});

} // namespace exchange
