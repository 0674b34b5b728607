#pragma once
// The loading thread: reads the chosen visit into a VisitContent in the background,
// shows its progress window meanwhile, hands the first two series to the main window
// and reports the end.
//
// The thread reaches the user interface only through calls run on the main thread:
// the hand-over (blocking: the loader waits until the window has built its first
// frames), the progress text and the blinking open-visit button (queued, at most one
// pending at a time so a fast load is not slowed down by them), and the end of thread
// step, which runs on the main thread once the body has finished.
//
// Stopping (a new visit opened meanwhile): RequestStop() sets a flag the body tests
// between image records and detaches the loader from its host; from then on the
// loader touches neither the user interface nor any visit but the one it was given,
// and it deletes itself when its body returns.

#include "viewer/loading/visitdata.h"
#include "viewer/loading/visitload.h"

#include <QPointer>
#include <QThread>

#include <atomic>
#include <functional>

class LoadProgressForm;

// The main window's side of a load.
class TChargementHost
{
public:
    virtual ~TChargementHost() = default;
    virtual void AfterThreadLoading() = 0;
    virtual void AfterThreadTerminate() = 0;
    // Posts "WM_THREADTERMINATE" to the application (the main window then forgets
    // the loader and shows the study count).
    virtual void PostThreadTerminate() = 0;
    // Picture of the open-visit button: 0 normally, 47 on the blink.
    virtual int OpenButtonImage() const = 0;
    virtual void SetOpenButtonImage(int image) = 0;
    // The load ended on a file it could not read (runs before AfterThreadTerminate);
    // by default the message is shown in the viewer's message box.
    virtual void ShowLoadError(const QString &message);
};

class TChargement : public QThread
{
    Q_OBJECT
public:
    // Shows the progress window, lets the screen update and starts at once, one step
    // above normal priority. The loader deletes itself when it has ended.
    TChargement(const QString &patientId, const QString &studyUid, const QString &catalogue,
                VisitContentPtr content, TChargementHost *host);
    ~TChargement() override;

    const QString &PatientID() const { return request_.patientId; }
    const QString &StudyUID() const { return request_.studyUid; }
    const QString &Catalogue() const { return request_.catalogue; }

    // Asks the loader to stop and detaches it from the main window (main thread).
    void RequestStop();
    bool StopRequested() const { return stop_.load(); }
    bool HandedOver() const { return handedOver_; }
    // Marks the visit as handed over (the main window does it before a stop).
    void SetHandedOver() { handedOver_ = true; }
    // What the body ended with (valid once it has ended).
    const loading::LoadOutcome &Outcome() const { return outcome_; }
    LoadProgressForm *ProgressForm() const;

    // Loaders alive now (main thread).
    static int LiveCount();
    // Stops every loader and runs the event loop until all have ended, or until
    // `timeoutMs` has passed (the application's exit uses it). True when none is left.
    static bool StopAll(int timeoutMs = 30000);

    // The French message shown when a load ends on a file it cannot read: the images
    // read before it stay shown, or, when none reached the visit, nothing could be shown.
    static QString UnreadableFileMessage(const QString &file, bool nothingShown = false);

    // For tests: run on the loading thread just before each image file is read, with
    // the series and image counters, so that a test can hold the loader at a known
    // point. A loader keeps the hook that was set when it was created.
    using ImageHook = std::function<void(int series, int image)>;
    static void SetImageHookForTests(ImageHook hook);

signals:
    // Emitted on the main thread at the end of ThreadTerminate (before deletion).
    void Ended();

protected:
    void run() override;

private:
    class Observer;
    friend class Observer;

    void ThreadTerminate();
    void DoHandOver();
    void ShowProgress();
    void CloseProgress();

    loading::LoadRequest request_;
    VisitContentPtr content_;
    TChargementHost *host_ = nullptr;
    ImageHook imageHook_;
    QPointer<LoadProgressForm> progress_;
    std::atomic<bool> stop_{false};
    bool handedOver_ = false;
    loading::LoadOutcome outcome_;
    std::atomic<int> progressSeries_{0};
    std::atomic<int> progressImage_{0};
    std::atomic<bool> progressPending_{false};
};
