#pragma once
// Helpers of the frame and window tests: a data module over a temporary folder, a
// synthetic visit loaded without the loading thread, and a small window stand-in that
// records what a frame asks of it.

#include "viewer/frame/framedicomviewer.h"
#include "viewer/frame/framehost.h"
#include "viewer/loading/visitdata.h"
#include "viewer/loading/visitload.h"
#include "viewer/shell/tests/shelltesting.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QScrollBar>

namespace frametest {

inline QString VisitFolder(const char *preset) { return QStringLiteral(KORVANE_TESTDATA_DIR "/") + QLatin1String(preset); }

// The main study UID of a generated visit (from its manifest).
inline QString MainStudy(const char *preset)
{
    QFile file(VisitFolder(preset) + QStringLiteral("/manifest.json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("mainStudyUID")).toString();
}

// Loads a patient (or, with an empty patient, one study) of a generated visit into the
// data module's visit; true when at least one series was read.
inline bool LoadVisit(const char *preset, const QString &patientId, const QString &studyUid = {})
{
    VisitData().ResetVisitImages();
    loading::LoadRequest request;
    request.programFolder = VisitFolder(preset);
    request.catalogue = QStringLiteral("DICOMDIR");
    request.patientId = patientId;
    request.studyUid = studyUid;
    loading::LoadObserver observer;
    const loading::LoadOutcome outcome = loading::RunVisitLoad(request, *VisitData().Content(), observer);
    return !outcome.failed() && VisitData().SeriesCount() > 0;
}

// Index in VisitImages of the first image whose modality is `modality`; 0 when none.
inline int FirstOfModality(const QString &modality)
{
    const auto images = VisitData().VisitImages();
    for (int i = 1; i <= images->Count(); ++i)
        if (loading::AttributeText(*images->Item(i)->Attributes(), 0x0008, 0x0060) == modality)
            return i;
    return 0;
}

// Puts the run of `key` into a frame, as the series loading does (without its automatics).
inline void Fill(TFrameDicomViewer &frame, const QString &key)
{
    TVisitData &visit = VisitData();
    const auto images = frame.DicomViewer()->Images();
    images->Clear();
    const int first = visit.SeriesFirstIndex(key);
    const int last = visit.SeriesLastIndex(key);
    for (int i = first; i <= last; ++i)
        images->Add(visit.VisitImages()->Item(i));
    frame.SetScrollRange(images->Count());
    frame.ScrollBar()->setVisible(images->Count() >= 2);
}

class RecordingHost : public TFrameHost
{
public:
    int left = toolScroll;
    int right = toolIntensite;
    bool smoothing = false;
    bool cine = false;
    QString status;
    TFrameDicomViewer *current = nullptr;
    int updates = 0;
    int shares = 0;
    int seriesMenus = 0;
    bool labelOvl = false;

    int LeftTool() const override { return left; }
    int RightTool() const override { return right; }
    int MagnifyZoom() const override { return 2; }
    int LoupeZoom() const override { return 2; }
    bool ButtonDown(TFrameButton b) const override
    {
        return (b == TFrameButton::Smoothing && smoothing) || (b == TFrameButton::Cine && cine);
    }
    void SetLabelOvlDown(bool down) override { labelOvl = down; }
    void SetStatusText(const QString &text) override { status = text; }
    TFrameDicomViewer *CurrentFrame() const override { return current; }
    void SetCurrentFrame(TFrameDicomViewer *frame) override { current = frame; }
    void UpdateControls() override { ++updates; }
    void DrawReferenceLines() override {}
    void ClearReferenceLines() override {}
    void SynchroniseFrames() override {}
    void RecordSyncOffsets() override {}
    void SetChildCaption(TFrameDicomViewer *, const QString &) override {}
    void PopupSeriesMenu(TFrameDicomViewer *, const QPoint &) override { ++seriesMenus; }
    void ShareSeriesState(TFrameDicomViewer *) override { ++shares; }
    imaging::DicomViewerLight *Magnifier() const override { return nullptr; }
    void PrepareMagnifier() override {}
    void ReleaseMagnifier() override {}
    imaging::DicomViewerLight *CreateLoupe() override { return nullptr; }
    imaging::DicomViewerLight *Loupe() const override { return nullptr; }
    void ReleaseLoupe() override {}
};

} // namespace frametest
