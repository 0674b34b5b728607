#include "viewer/frame/selection.h"

#include "viewer/frame/framedicomviewer.h"
#include "viewer/frame/framehost.h"
#include "viewer/loading/cornertext.h"
#include "viewer/loading/visitdata.h"

#include <QAction>
#include <QCursor>
#include <QMenu>

#include <functional>

QMenu *TFrameHost::NewSelectionMenu(QWidget *parent) { return new QMenu(parent); }

namespace selection {

namespace {

imaging::DicomLabelPtr Marker(const imaging::DicomImage &image)
{
    return image.Labels()->Item(loading::kLabelSelection);
}

// Sets the marker of an image and paints it red (the group commands).
void MarkRed(imaging::DicomImage &image, bool select)
{
    if (const auto marker = Marker(image)) {
        marker->SetTransparent(!select);
        marker->SetBackColour(kAllSelectedColour);
    }
}

// For every frame of the child window, the images from 1 up to the first whose key
// differs get the command's value; then every image of the visit with the key.
void SelectByKey(TFrameDicomViewer &frame, bool select, const QString &key,
                 const std::function<QString(const imaging::DicomImage &)> &keyOf)
{
    TFrameHost *host = TFrameDicomViewer::Host();
    const QList<TFrameDicomViewer *> frames = host ? host->ChildFrames(&frame) : QList<TFrameDicomViewer *>{&frame};
    for (TFrameDicomViewer *other : frames) {
        const auto images = other->DicomViewer()->Images();
        for (int i = 1; i <= images->Count(); ++i) {
            const auto image = images->Item(i);
            if (keyOf(*image) != key)
                break;
            MarkRed(*image, select);
        }
        other->DicomViewer()->Refresh();
    }
    const auto visit = VisitData().VisitImages();
    for (int i = 1; i <= visit->Count(); ++i) {
        const auto image = visit->Item(i);
        if (keyOf(*image) == key)
            MarkRed(*image, select);
    }
    RecolourSelectionMarkers(frame);
}

} // namespace

bool IsSelected(const imaging::DicomImage &image)
{
    const auto marker = Marker(image);
    return marker && !marker->Transparent();
}

void SetSelected(imaging::DicomImage &image, bool selected)
{
    if (const auto marker = Marker(image))
        marker->SetTransparent(!selected);
}

int CountSelected(const imaging::DicomImages &images)
{
    int n = 0;
    for (int i = 1; i <= images.Count(); ++i)
        if (const auto image = images.Item(i); image && IsSelected(*image))
            ++n;
    return n;
}

QString AccessionOf(const imaging::DicomImage &image)
{
    const auto label = image.Labels()->Item(loading::kLabelTopRight);
    if (!label)
        return {};
    return loading::TextLine(QStringLiteral("Acc:"), label->Text()).mid(5);
}

void RecolourSelectionMarkers(TFrameDicomViewer &frame)
{
    const auto images = frame.DicomViewer()->Images();
    bool allSelected = true;
    for (int i = 1; i <= images->Count() && allSelected; ++i)
        if (const auto marker = Marker(*images->Item(i)); marker && marker->Transparent())
            allSelected = false;
    for (int i = 1; i <= images->Count(); ++i)
        if (const auto marker = Marker(*images->Item(i)))
            marker->SetBackColour(allSelected ? kAllSelectedColour : kPartlySelectedColour);
    frame.DicomViewer()->Refresh();
    if (TFrameHost *host = TFrameDicomViewer::Host()) {
        host->SaveCurrentFrame();
        host->ShareSeriesState(&frame);
    }
}

void ToggleSelection(TFrameDicomViewer &frame, int index)
{
    TFrameHost *host = TFrameDicomViewer::Host();
    if (host && host->ButtonDown(TFrameButton::Smoothing))
        frame.ApplyToSeries(18);
    const auto image = frame.DicomViewer()->Images()->Item(index);
    if (!image)
        return;
    if (const auto marker = Marker(*image))
        marker->SetTransparent(!marker->Transparent());
    if (frame.HitLabels) {
        frame.HitLabels->Clear();
        frame.HitLabels.reset();
    }
    RecolourSelectionMarkers(frame);
}

void SelectSeries(TFrameDicomViewer &frame, bool select)
{
    const auto images = frame.DicomViewer()->Images();
    int first = 1;
    int last = images->Count();
    TFrameHost *host = TFrameDicomViewer::Host();
    if (host && host->ButtonDown(TFrameButton::Stack)) {
        // One study per frame: only the run of the current image's series.
        const auto current = frame.DicomViewer()->CurrentImage();
        if (!current)
            return;
        first = loading::ViewerSeriesFirstIndex(*images, current->SeriesUID());
        last = loading::ViewerSeriesLastIndex(*images, current->SeriesUID());
    }
    for (int i = first; i >= 1 && i <= last; ++i)
        SetSelected(*images->Item(i), select);
    RecolourSelectionMarkers(frame);
}

void SelectAllSeries(TFrameDicomViewer &frame, bool select)
{
    TFrameHost *host = TFrameDicomViewer::Host();
    const QList<TFrameDicomViewer *> frames = host ? host->ChildFrames(&frame) : QList<TFrameDicomViewer *>{&frame};
    for (TFrameDicomViewer *other : frames) {
        const auto images = other->DicomViewer()->Images();
        for (int i = 1; i <= images->Count(); ++i)
            MarkRed(*images->Item(i), select);
        other->DicomViewer()->Refresh();
    }
    const auto visit = VisitData().VisitImages();
    for (int i = 1; i <= visit->Count(); ++i)
        MarkRed(*visit->Item(i), select);
    frame.DicomViewer()->Refresh();
}

void SelectStudy(TFrameDicomViewer &frame, bool select)
{
    const auto head = frame.DicomViewer()->Images()->Item(1);
    if (!head)
        return;
    SelectByKey(frame, select, head->StudyUID(), [](const imaging::DicomImage &image) { return image.StudyUID(); });
}

void SelectVisit(TFrameDicomViewer &frame, bool select)
{
    const auto head = frame.DicomViewer()->Images()->Item(1);
    if (!head)
        return;
    SelectByKey(frame, select, AccessionOf(*head), [](const imaging::DicomImage &image) { return AccessionOf(image); });
}

bool SelectsByName(const QObject &sender) { return sender.objectName().startsWith(QLatin1String("Slectionner")); }

QMenu *PopupMenuSelect(TFrameDicomViewer &frame)
{
    if (auto *menu = frame.findChild<QMenu *>(QStringLiteral("PopupMenuSelect"), Qt::FindDirectChildrenOnly))
        return menu;
    TFrameHost *host = TFrameDicomViewer::Host();
    QMenu *menu = host ? host->NewSelectionMenu(&frame) : new QMenu(&frame);
    menu->setParent(&frame, menu->windowFlags());
    menu->setObjectName(QStringLiteral("PopupMenuSelect"));
    using Handler = void (*)(TFrameDicomViewer &, bool);
    auto item = [&](const char *caption, const char *name, Handler handler) {
        QAction *a = menu->addAction(QString::fromUtf8(caption));
        a->setObjectName(QLatin1String(name));
        QObject::connect(a, &QAction::triggered, &frame, [&frame, a, handler] { handler(frame, SelectsByName(*a)); });
    };
    auto separator = [&](const char *name) { menu->addSeparator()->setObjectName(QLatin1String(name)); };
    // Slectionnertouteslesimagesdelavisite1Click serves the visit pair, and so on.
    item("Sélectionner toutes les images de la visite", "Slectionnertouteslesimagesdelavisite1", SelectVisit);
    item("Désélectionner toutes les images de la visite", "Dslectionnertouteslesimagesdelavisite1", SelectVisit);
    separator("N3");
    item("Sélectionner toutes les images de la série", "Slectionnertouteslesimagesdelasrie1", SelectSeries);
    item("Désélectionner toutes les images de la série", "Dslectionnertouteslesimages1", SelectSeries);
    separator("N1");
    item("Sélectionner toutes les images de toutes les séries", "Slectionnertouteslesimagesdetouteslessries1",
         SelectAllSeries);
    item("Désélectionner toutes les images de toutes les séries", "Dslectionnertouteslesimagesdetouteslessries1",
         SelectAllSeries);
    separator("N2");
    item("Sélectionner toutes les images de l'étude", "Slectionnertouteslesimagesdeltude1", SelectStudy);
    item("Désélectionner toutes les images de l'étude", "Dslectionnertouteslesimagesdeltude1", SelectStudy);
    return menu;
}

} // namespace selection
