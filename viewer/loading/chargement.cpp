#include "viewer/loading/chargement.h"

#include "viewer/loading/loadprogressform.h"
#include "viewer/shell/templatedm.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QDir>
#include <QSet>

namespace {

QSet<TChargement *> &LiveLoaders()
{
    static QSet<TChargement *> loaders;
    return loaders;
}

void Log(const QString &text)
{
    if (TTemplateDM *dm = TemplateDMIfAny())
        dm->WriteLog(text);
}

constexpr int kBlinkImage = 47;

TChargement::ImageHook &ImageHookForTests()
{
    static TChargement::ImageHook hook;
    return hook;
}

} // namespace

void TChargementHost::ShowLoadError(const QString &message)
{
    if (TTemplateDM *dm = TemplateDMIfAny())
        dm->ShowMessageDialog(message, TMsgDlgType::mtError, mbOK);
}

// The body's reports, on the loading thread.
class TChargement::Observer : public loading::LoadObserver
{
public:
    explicit Observer(TChargement &loader) : loader_(loader) {}

    bool StopRequested() override { return loader_.stop_.load(); }

    void ImageRead(int series, int image) override
    {
        if (loader_.imageHook_)
            loader_.imageHook_(series, image);
        loader_.progressSeries_.store(series);
        loader_.progressImage_.store(image);
        // At most one update every 40 ms: the window and the button cannot show more,
        // and each repaint would take time from the load.
        if (sinceUpdate_.isValid() && sinceUpdate_.elapsed() < 40)
            return;
        if (!loader_.progressPending_.exchange(true)) {
            sinceUpdate_.start();
            QMetaObject::invokeMethod(&loader_, [l = &loader_]() { l->ShowProgress(); }, Qt::QueuedConnection);
        }
    }

    void HandOver() override
    {
        if (loader_.stop_.load())
            return;
        QMetaObject::invokeMethod(&loader_, [l = &loader_]() { l->DoHandOver(); }, Qt::BlockingQueuedConnection);
    }

    void Log(const QString &text) override { ::Log(text); }

private:
    TChargement &loader_;
    QElapsedTimer sinceUpdate_;
};

TChargement::TChargement(const QString &patientId, const QString &studyUid, const QString &catalogue,
                         VisitContentPtr content, TChargementHost *host)
    : content_(std::move(content)), host_(host), imageHook_(ImageHookForTests())
{
    request_.patientId = patientId;
    request_.studyUid = studyUid;
    request_.catalogue = catalogue;
    if (TTemplateDM *dm = TemplateDMIfAny()) {
        request_.programFolder = dm->ProgramFolder;
        request_.demo = dm->HasOption(QStringLiteral("/DEMO"));
    }
    LiveLoaders().insert(this);

    progress_ = new LoadProgressForm();
    progress_->setAttribute(Qt::WA_DeleteOnClose);
    TTemplateDM *dm = TemplateDMIfAny();
    progress_->ShowAt(dm ? dm->MonitorLeft(480, 1) : 0);
    QCoreApplication::processEvents();

    connect(this, &QThread::finished, this, &TChargement::ThreadTerminate);
    start(QThread::HighPriority);
}

TChargement::~TChargement()
{
    // "finished" is sent from the thread just before it returns: wait for that last
    // step, so the thread object is never destroyed under a running thread.
    wait();
    LiveLoaders().remove(this);
    CloseProgress();
}

void TChargement::run()
{
    Observer observer(*this);
    outcome_ = loading::RunVisitLoad(request_, *content_, observer);
}

void TChargement::RequestStop()
{
    stop_.store(true);
    host_ = nullptr;
    requestInterruption();
}

void TChargement::ShowProgress()
{
    progressPending_.store(false);
    if (stop_.load() || !host_)
        return;
    // The open-visit button blinks while the visit loads.
    host_->SetOpenButtonImage(host_->OpenButtonImage() == kBlinkImage ? 0 : kBlinkImage);
    if (progress_ && progress_->isVisible())
        progress_->SetProgress(progressSeries_.load(), progressImage_.load());
}

void TChargement::CloseProgress()
{
    if (progress_)
        progress_->close();
    progress_.clear();
}

void TChargement::DoHandOver()
{
    if (stop_.load() || !host_)
        return;
    CloseProgress();
    handedOver_ = true;
    host_->AfterThreadLoading();
}

QString TChargement::UnreadableFileMessage(const QString &file, bool nothingShown)
{
    return QStringLiteral("Le chargement de la visite s'est arrêté sur un fichier illisible :\r%1\r%2")
        .arg(QDir::toNativeSeparators(file),
             nothingShown ? QStringLiteral("Aucune image n'a pu être affichée.")
                          : QStringLiteral("Les images lues jusque-là restent affichées."));
}

void TChargement::SetImageHookForTests(ImageHook hook)
{
    ImageHookForTests() = std::move(hook);
}

void TChargement::ThreadTerminate()
{
    Log(QStringLiteral("TCHARGEMENT.THREADTERMINATE Begin"));
    CloseProgress();
    // A stopped loader leaves the window and the new visit alone.
    TChargementHost *host = stop_.load() ? nullptr : host_;
    if (host) {
        if (host->OpenButtonImage() == kBlinkImage)
            host->SetOpenButtonImage(0);
        if (!handedOver_) {
            handedOver_ = true;
            host->AfterThreadLoading();
        }
        if (outcome_.failed()) {
            Log(QStringLiteral("TCHARGEMENT.EXECUTE Error %1: %2").arg(outcome_.errorFile, outcome_.errorText));
            const auto images = content_->Images();
            const bool nothingShown = !images || images->Count() == 0;
            host->ShowLoadError(UnreadableFileMessage(outcome_.errorFile, nothingShown));
        }
        // The main window forgets the loader on this message (it asks it to stop,
        // which only detaches it now that the body has ended).
        host->PostThreadTerminate();
        QCoreApplication::processEvents();
        host->AfterThreadTerminate();
    }
    Log(QStringLiteral("TCHARGEMENT.THREADTERMINATE End"));
    emit Ended();
    LiveLoaders().remove(this);
    deleteLater();
}

int TChargement::LiveCount()
{
    return LiveLoaders().size();
}

bool TChargement::StopAll(int timeoutMs)
{
    const auto loaders = LiveLoaders();
    for (TChargement *loader : loaders)
        loader->RequestStop();
    QDeadlineTimer deadline(timeoutMs);
    while (!LiveLoaders().isEmpty() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(1);
    }
    return LiveLoaders().isEmpty();
}

LoadProgressForm *TChargement::ProgressForm() const
{
    return progress_.data();
}
