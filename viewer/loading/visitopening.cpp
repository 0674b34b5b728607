#include "viewer/loading/visitopening.h"

#include "viewer/loading/cataloguefiles.h"
#include "viewer/loading/components.h"
#include "viewer/loading/formouvrirvisite.h"
#include "viewer/loading/visitdata.h"
#include "viewer/shell/apphook.h"
#include "viewer/shell/templatedm.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>

namespace {

void Log(const QString &text)
{
    TemplateDM().WriteLog(text);
}

const QString kThreadTerminate = QStringLiteral("WM_THREADTERMINATE");

} // namespace

TVisitOpening::TVisitOpening(TVisitWindow &window, QObject *parent) : QObject(parent), window_(window)
{
    VisitData().SetStackModeSource([this]() { return window_.StackDown(); });
    if (TApplicationHook *hook = TemplateDM().ApplicationHook()) {
        const QEvent::Type type = TemplateDM().RegisteredMessage(kThreadTerminate);
        hookId_ = hook->AddHandler([this, type](QObject *, QEvent *event) {
            if (event->type() != type)
                return false;
            ThreadTerminateMessage();
            return true;
        });
    }
    if (QWidget *widget = window_.Widget())
        widget->installEventFilter(this);
}

TVisitOpening::~TVisitOpening()
{
    if (TTemplateDM *dm = TemplateDMIfAny()) {
        if (dm->ApplicationHook() && hookId_)
            dm->ApplicationHook()->RemoveHandler(hookId_);
    }
    StopLoading();
    TChargement::StopAll();
}

bool TVisitOpening::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::WindowActivate && watched == window_.Widget() && !activated_)
        QMetaObject::invokeMethod(this, [this]() { FirstActivation(); }, Qt::QueuedConnection);
    return QObject::eventFilter(watched, event);
}

int TVisitOpening::CountStudies(const imaging::DicomImages &images)
{
    int studies = 0;
    QString previous;
    for (int i = 1; i <= images.Count(); ++i) {
        const QString uid = images.Item(i)->StudyUID();
        if (i == 1 || uid != previous)
            ++studies;
        previous = uid;
    }
    return studies;
}

void TVisitOpening::FirstActivation()
{
    if (activated_)
        return;
    activated_ = true;
    TTemplateDM &dm = TemplateDM();
    const QStringList names = loading::DicomDirNames(dm.ProgramFolder);
    if (names.isEmpty()) {
        dm.ShowMessageDialog(QStringLiteral("Le fichier DICOMDIR est introuvable!"), TMsgDlgType::mtError, mbOK);
        return;
    }
    Log(QStringLiteral("TFORMVIEWER.FORMACTIVATE DICOMDIR found = %1").arg(names.size()));
    if (names.size() == 1) {
        Log(QStringLiteral("TFORMVIEWER.FORMACTIVATE DICOMDIR location = %1").arg(dm.ProgramFolder + names.first()));
        try {
            auto dataSets = loading::NewDataSets();
            const auto root = dataSets->ReadDirectory(QDir(dm.ProgramFolder).filePath(names.first()));
            const auto patients = root->Children();
            if (patients->Count() == 1 && patients->Item(1)->Children()->Count() == 1) {
                const QString patientId = patients->Item(1)->PatientID();
                const QString studyUid = patients->Item(1)->Children()->Item(1)->StudyUID();
                dataSets->Clear();
                VisitData().ResetVisitImages();
                uidLoad_ = false;
                StartLoader(patientId, studyUid, names.first());
                return;
            }
        } catch (const std::exception &) {
            // Unreadable: the open-visit command shows the component's error text.
        }
    }
    if (QWidget *widget = window_.Widget())
        widget->show();
    TBVisiteOuvrirClick();
}

void TVisitOpening::TBVisiteOuvrirClick()
{
    TTemplateDM &dm = TemplateDM();
    Log(QStringLiteral("TFORMVIEWER.TBVISITEOUVRIRCLICK Begin"));
    if (window_.StackDown())
        window_.RaiseStack();
    if (loader_)
        StopLoading();

    const QStringList names = loading::DicomDirNames(dm.ProgramFolder);
    Log(QStringLiteral("TFORMVIEWER.TBVISITEOUVRIRCLICK DICOMDIR found = %1").arg(names.size()));
    if (names.isEmpty()) {
        dm.ShowMessageDialog(QStringLiteral("Le fichier DICOMDIR est introuvable!"), TMsgDlgType::mtError, mbOK);
        return;
    }

    if (window_.HasChildWindow()) {
        window_.CloseActiveChildWindow();
        QCoreApplication::processEvents();
    }

    Log(QStringLiteral("TFORMVIEWER.TBVISITEOUVRIRCLICK Create FormOuvrirVisite"));
    QString patientId, studyUid, catalogue;
    bool cancelled = false;
    const bool useUid = dm.HasOptionPrefix(QStringLiteral("/UID=")) && names.size() == 1 && !uidOptionSpent_;
    {
        TFormOuvrirVisite dialog(window_.Widget());
        dialog.setWindowFlag(Qt::Window, true);
        if (!useUid) {
            const int result = runDialog_ ? runDialog_(dialog) : dialog.Execute();
            Log(QStringLiteral("TFORMVIEWER.TBVISITEOUVRIRCLICK Close FormOuvrirVisite"));
            if (result != mrOk) {
                Log(QStringLiteral("TFORMVIEWER.TBVISITEOUVRIRCLICK Before free FormOuvrirVisite"));
                cancelled = true;
            }
            else {
                patientId = dialog.PatientID();
                catalogue = dialog.Catalogue();
                studyUid = dialog.StudyUID();
            }
        } else {
            studyUid = dm.OptionValue(QStringLiteral("/UID="));
            catalogue = names.first();
        }
    }
    if (cancelled) {
        Log(QStringLiteral("TFORMVIEWER.TBVISITEOUVRIRCLICK After free FormOuvrirVisite"));
        return;
    }
    VisitData().ResetVisitImages();
    uidLoad_ = useUid;
    StartLoader(patientId, studyUid, catalogue);
    Log(QStringLiteral("TFORMVIEWER.TBVISITEOUVRIRCLICK End"));
}

void TVisitOpening::StartLoader(const QString &patientId, const QString &studyUid, const QString &catalogue)
{
    Log(QStringLiteral("TFORMVIEWER.FORMACTIVATE Begin thread, PatientID = %1, StudyUID = %2, DICOMDIR = %3")
            .arg(patientId, studyUid, catalogue));
    loadErrorShown_ = false;
    loader_ = new TChargement(patientId, studyUid, catalogue, VisitData().Content(), this);
}

void TVisitOpening::StopLoading()
{
    if (!loader_)
        return;
    loader_->SetHandedOver();
    loader_->RequestStop();
    loader_.clear();
    if (window_.OpenButtonImage() != 0)
        window_.SetOpenButtonImage(0);
    QCoreApplication::processEvents();
}

void TVisitOpening::ThreadTerminateMessage()
{
    const auto images = VisitData().VisitImages();
    if (images) {
        const int studies = CountStudies(*images);
        window_.SetStatusPanel(2, QStringLiteral("V: %1 %2").arg(studies).arg(QString()).trimmed());
    }
    StopLoading();
}

void TVisitOpening::PostThreadTerminate()
{
    TemplateDM().PostRegisteredMessage(kThreadTerminate);
}

void TVisitOpening::AfterThreadLoading()
{
    TVisitData &visit = VisitData();
    if (visit.SeriesCount() == 0) {
        Log(QStringLiteral("TFORMVIEWER.AFTERTHREADLOADING CoMax = 0"));
        return;
    }
    Log(QStringLiteral("TFORMVIEWER.AFTERTHREADLOADING Begin"));
    const auto images = visit.VisitImages();
    if (images->Count() > 0) {
        const QString firstKey = images->Item(1)->SeriesUID();
        const QString secondKey = visit.SeriesCount() > 1 ? visit.NextSeriesKey(firstKey) : QString();
        window_.ShowVisit(firstKey, secondKey);
        OpenCommentIfAny();
    }
    Log(QStringLiteral("TFORMVIEWER.AFTERTHREADLOADING End"));
}

void TVisitOpening::OpenCommentIfAny()
{
    const auto images = VisitData().VisitImages();
    for (int i = 1; i <= images->Count(); ++i) {
        const auto image = images->Item(i);
        if (!image->SeriesUID().contains(QLatin1String(kProductUidRoot)))
            continue;
        const auto attributes = image->Attributes();
        const auto flag = attributes->Item(0x0009, 0x0001);
        if (flag && flag->Exists()) {
            loading::DeclareCommentAttributes();
            if (loading::PrivateText(*attributes, 0x0009, 0x0001).toUpper() != QLatin1String("N")
                && !loading::PrivateText(*attributes, 0x0009, 0x0003).isEmpty())
                window_.OpenInformationsAutomatically();
        }
        return;
    }
}

void TVisitOpening::ShowLoadError(const QString &message)
{
    loadErrorShown_ = true;
    TChargementHost::ShowLoadError(message);
}

void TVisitOpening::AfterThreadTerminate()
{
    Log(QStringLiteral("TFORMVIEWER.AFTERTHREADTERMINATE Begin"));
    // Nothing to show: no series, or series records whose images could not be read
    // (missing files, or a first image that stopped the load). The user chooses
    // another visit; a load error already explained why, so it is not told twice.
    const bool explained = loadErrorShown_;
    loadErrorShown_ = false;
    const auto images = VisitData().VisitImages();
    if (VisitData().SeriesCount() == 0 || !images || images->Count() == 0) {
        // The study that "/UID=" names gave nothing: asked again, the user chooses.
        if (uidLoad_)
            uidOptionSpent_ = true;
        window_.SetStatusPanel(2, QString());
        if (!explained)
            TemplateDM().ShowMessageDialog(QStringLiteral("Il n'y a aucune série disponible pour cette visite."),
                                           TMsgDlgType::mtError, mbOK);
        TBVisiteOuvrirClick();
    }
    Log(QStringLiteral("TFORMVIEWER.AFTERTHREADTERMINATE End"));
}
