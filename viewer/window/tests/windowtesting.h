#pragma once
// Helpers of the navigation and adjustment tests: the main window on a synthetic visit
// loaded without the loading thread, extra frames in its child window, the files behind
// the visit's images (from the generator's manifest) and screenshots.

#include "viewer/frame/tests/frametesting.h"
#include "viewer/loading/cornertext.h"
#include "viewer/window/formchildmdi.h"
#include "viewer/window/formviewer.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QJsonArray>
#include <QMdiArea>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

namespace windowtest {

using namespace frametest;

inline QString ScreenshotPath(const QString &name)
{
    const QString folder = QStringLiteral(KORVANE_BINARY_DIR "/screenshots/window");
    QDir().mkpath(folder);
    return folder + QLatin1Char('/') + name;
}

// The file of an image instance of the demo visit (absolute path); empty when unknown.
inline QString FileOfInstance(const QString &instanceUid)
{
    QFile file(VisitFolder("demo") + QStringLiteral("/manifest.json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    for (const auto &catalogue : root.value(QStringLiteral("catalogues")).toArray())
        for (const auto &patient : catalogue.toObject().value(QStringLiteral("patients")).toArray())
            for (const auto &study : patient.toObject().value(QStringLiteral("studies")).toArray())
                for (const auto &series : study.toObject().value(QStringLiteral("series")).toArray())
                    for (const auto &image : series.toObject().value(QStringLiteral("images")).toArray())
                        if (image.toObject().value(QStringLiteral("instanceUID")).toString() == instanceUid)
                            return VisitFolder("demo") + QLatin1Char('/')
                                   + image.toObject().value(QStringLiteral("file")).toString();
    return {};
}

// The series UID of the first entry of VisitImages with a modality and an image size.
inline QString SeriesOf(const QString &modality, int rows = 0)
{
    const auto images = VisitData().VisitImages();
    for (int i = 1; i <= images->Count(); ++i) {
        const auto image = images->Item(i);
        if (loading::AttributeText(*image->Attributes(), 0x0008, 0x0060) == modality
            && (rows == 0 || image->SizeY() == rows))
            return image->SeriesUID();
    }
    return {};
}

class ViewerTest : public ::testing::Test
{
protected:
    void SetUp() override { shell.Create(); }

    // The demo patient's visit in the main window, its first two series in two frames.
    void OpenVisit()
    {
        // Messages a previous window posted (its child window's closing) must not reach
        // this one and empty the visit.
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::sendPostedEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCoreApplication::processEvents();
        }
        ASSERT_TRUE(LoadVisit("demo", QStringLiteral("KV000123")));
        window = std::make_unique<TFormViewer>();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        QCoreApplication::processEvents();
        const auto images = VisitData().VisitImages();
        const QString first = images->Item(1)->SeriesUID();
        window->ShowVisit(first, VisitData().NextSeriesKey(first));
        QCoreApplication::processEvents();
        ASSERT_NE(window->ActiveChild(), nullptr);
        axialKey = SeriesOf(QStringLiteral("CT"), 512);
        coronalKey = SeriesOf(QStringLiteral("CT"), 256);
        mrKey = SeriesOf(QStringLiteral("MR"));
        ASSERT_FALSE(axialKey.isEmpty());
        ASSERT_FALSE(coronalKey.isEmpty());
        ASSERT_FALSE(mrKey.isEmpty());
    }

    // A new frame at the end of the grid, filled with `key` (left empty when key is empty).
    TFrameDicomViewer *AddFrame(const QString &key)
    {
        TFormChildMDI *child = window->ActiveChild();
        child->SeriesColumns = static_cast<int>(child->Frames().size()) + 1;
        TFrameDicomViewer *frame = child->CreateFrame(child->NextFrameNumber());
        if (!key.isEmpty()) {
            window->LoadFrame(frame, key);
            TFrameDicomViewer::MarkImage(*frame->DicomViewer(), frame->CurrentImageIndex, false);
        }
        frame->show();
        child->LayoutFrames();
        QCoreApplication::processEvents();
        return frame;
    }

    QAction *A(const char *name) { return window->Action(QLatin1String(name)); }
    QList<TFrameDicomViewer *> Frames() { return window->ActiveChild()->Frames(); }
    static imaging::DicomImagePtr Shown(TFrameDicomViewer *frame)
    {
        return frame->DicomViewer()->Images()->Item(frame->CurrentImageIndex);
    }
    // Labels added after the eleven of every image whose colour is the reference colour.
    static int ReferenceLabels(const imaging::DicomImage &image)
    {
        int count = 0;
        const auto labels = image.Labels();
        for (int i = 12; i <= labels->Count(); ++i)
            if (labels->Item(i)->ForeColour() == 0x80FF)
                ++count;
        return count;
    }

    ShellFixture shell;
    std::unique_ptr<TFormViewer> window;
    QString axialKey, coronalKey, mrKey;
};

} // namespace windowtest
