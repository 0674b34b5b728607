#include "viewer/window/formchildmdi.h"

#include "viewer/frame/framedicomviewer.h"
#include "viewer/frame/markgrab.h"
#include "viewer/loading/cornertext.h"
#include "viewer/loading/visitdata.h"
#include "viewer/shell/templatedm.h"
#include "viewer/window/formviewer.h"
#include "viewer/window/formwinmultiple.h"
#include "viewer/window/ownerdrawmenu.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QInputDialog>
#include <QMenu>
#include <QResizeEvent>
#include <QScrollBar>
#include <QSpinBox>

namespace {

const QString kFramePrefix = QStringLiteral("FrameDicomViewer");
constexpr int kSilver = 12632256;

QString Text(const imaging::DicomImage &image, int group, int element)
{
    return loading::AttributeText(*image.Attributes(), group, element);
}

// Freezes the drawing of a widget for the lifetime of the object.
class Freeze
{
public:
    explicit Freeze(QWidget *widget) : widget_(widget), was_(widget->updatesEnabled()) { widget_->setUpdatesEnabled(false); }
    ~Freeze() { widget_->setUpdatesEnabled(was_); }

private:
    QWidget *widget_;
    bool was_;
};

void CopyLabels(const imaging::DicomImage &source, imaging::DicomImage &target)
{
    if (&source == &target)
        return;
    const auto labels = target.Labels();
    labels->Clear();
    for (int l = 1; l <= source.Labels()->Count(); ++l)
        labels->Add(source.Labels()->Item(l));
}

void PlainMarker(imaging::DicomImage &image)
{
    if (const auto marker = image.Labels()->Item(loading::kLabelSelection)) {
        marker->SetLineStyle(0);
        marker->SetForeColour(kSilver);
    }
}

} // namespace

TFormChildMDI::TFormChildMDI(TFormViewer &viewer, QWidget *parent) : QWidget(parent), viewer_(viewer)
{
    setObjectName(QStringLiteral("FormChildMDI"));
    resize(360, 320);
    scrollBox_ = new QWidget(this);
    scrollBox_->setObjectName(QStringLiteral("ScrollBox"));
    scrollBox_->setAutoFillBackground(true);
    QPalette p = scrollBox_->palette();
    p.setColor(QPalette::Window, Qt::black);
    scrollBox_->setPalette(p);
    scrollBox_->setGeometry(rect());
    popupMenuSeries_ = NewOwnerDrawMenu(this, false);
    popupMenuSeries_->setObjectName(QStringLiteral("PopupMenuSeries"));
    if (TemplateDMIfAny())
        visit_ = VisitData().Content();
}

TFormChildMDI::~TFormChildMDI()
{
    // The window is deleted when control is back in the event loop, possibly after a
    // new visit was opened and its loader started: the message names this window's visit.
    if (TTemplateDM *dm = TemplateDMIfAny())
        dm->PostRegisteredMessage(QStringLiteral("WM_CLOSECHILDMDI"), visit_);
}

QList<TFrameDicomViewer *> TFormChildMDI::Frames() const
{
    return scrollBox_->findChildren<TFrameDicomViewer *>(QString(), Qt::FindDirectChildrenOnly);
}

int TFormChildMDI::NextFrameNumber() const
{
    const auto frames = Frames();
    if (frames.isEmpty())
        return 1;
    return frames.last()->objectName().mid(kFramePrefix.size()).toInt() + 1;
}

TFrameDicomViewer *TFormChildMDI::CreateFrame(int number)
{
    auto *frame = new TFrameDicomViewer(scrollBox_);
    frame->setObjectName(kFramePrefix + QString::number(number));
    frame->IsActive = false;
    frame->CurrentImageIndex = 1;
    frame->show();
    return frame;
}

void TFormChildMDI::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    Freeze freeze(this);
    scrollBox_->setGeometry(rect());
    LayoutFrames();
}

void TFormChildMDI::LayoutFrames()
{
    const auto frames = Frames();
    if (frames.isEmpty())
        return;
    const bool exploded = viewer_.Down(QStringLiteral("TBStudyExplode"));
    const QSize client = scrollBox_->size();
    const int columns = std::max(1, SeriesColumns);
    const int cellWidth = exploded ? client.width() : client.width() / columns;
    const int cellHeight = exploded ? client.height() : client.height() / std::max(1, SeriesRows);
    int left = 0, top = 0, n = 1;
    for (TFrameDicomViewer *frame : frames) {
        if (!exploded || !frame->isHidden()) {
            frame->setGeometry(left, top, cellWidth, cellHeight);
            frame->show();
            if (n % columns == 0) {
                left = 0;
                top += cellHeight;
            } else {
                left += cellWidth;
            }
        }
        ++n;
    }
    scrollBox_->show();
}

void TFormChildMDI::CreateFrames()
{
    TVisitData &visit = VisitData();
    const bool stack = viewer_.StackDown();
    const int count = stack ? visit.CountSeries() : visit.SeriesCount();
    const int cells = std::min(count, SeriesColumns * SeriesRows);
    const auto images = visit.VisitImages();
    for (int i = 1; i <= cells; ++i) {
        if (visit.SeriesImageCount(FirstKey) == 0)
            continue;
        TFrameDicomViewer *frame = CreateFrame(i);
        viewer_.LoadFrame(frame, FirstKey);
        TFrameDicomViewer::MarkImage(*frame->DicomViewer(), frame->CurrentImageIndex, false);
        QString next = stack ? visit.NextSeriesKeys(FirstKey).value(1) : visit.NextSeriesKey(FirstKey);
        if (next.isEmpty() && images->Count() > 0)
            next = stack ? images->Item(1)->StudyUID() : images->Item(1)->SeriesUID();
        FirstKey = next;
    }
}

void TFormChildMDI::DestroyFrames()
{
    Freeze freeze(this);
    scrollBox_->hide();
    for (TFrameDicomViewer *frame : Frames()) {
        viewer_.SaveFrameState(frame);
        delete frame;
    }
}

void TFormChildMDI::Explode(bool exploded, TFrameDicomViewer *current)
{
    {
        Freeze freeze(this);
        for (TFrameDicomViewer *frame : Frames())
            if (frame != current)
                frame->setVisible(!exploded);
        LayoutFrames();
    }
    update();
}

void TFormChildMDI::SingleImage(TFrameDicomViewer *frame)
{
    imaging::DicomViewerLight &control = *frame->DicomViewer();
    TFrameDicomViewer::MarkImage(control, frame->CurrentImageIndex, false);
    control.SetMultiRows(1);
    control.SetMultiColumns(1);
    control.SetBorderStyle(0);
    control.SetCurrentIndex(frame->CurrentImageIndex);
    TFrameDicomViewer::MarkImage(control, frame->CurrentImageIndex, true);
    LayoutFrames();
    control.Refresh();
}

void TFormChildMDI::MultipleImages(TFrameDicomViewer *frame)
{
    imaging::DicomViewerLight &control = *frame->DicomViewer();
    control.SetMultiRows(2);
    control.SetMultiColumns(2);
    control.SetBorderStyle(1);
    LayoutFrames();
    control.Refresh();
}

void TFormChildMDI::CustomLayout(TFrameDicomViewer *frame, const std::function<int(TFormWinMultiple &)> &run)
{
    TFormWinMultiple dialog(this);
    dialog.setWindowFlag(Qt::Window, true);
    dialog.SpinEditSerieLigne->setValue(SeriesRows);
    dialog.SpinEditSerieColonne->setValue(SeriesColumns);
    imaging::DicomViewerLight &control = *frame->DicomViewer();
    dialog.ImageCount = control.Images()->Count();
    dialog.ImageColumns = control.MultiColumns();
    dialog.ImageRows = control.MultiRows();
    const int result = run ? run(dialog) : dialog.ShowModal();
    if (result != mrOk)
        return;
    if (dialog.ImagePreset) {
        control.SetMultiRows(dialog.SpinEditImageLigne->value());
        control.SetMultiColumns(dialog.SpinEditImageColonne->value());
        control.Refresh();
        return;
    }
    SeriesRows = dialog.SpinEditSerieLigne->value();
    SeriesColumns = dialog.SpinEditSerieColonne->value();
    if (const auto image = frame->CurrentFrameImage())
        FirstKey = viewer_.StackDown() ? image->StudyUID() : image->SeriesUID();
    DestroyFrames();
    CreateFrames();
    const auto frames = Frames();
    if (viewer_.Down(QStringLiteral("TBStudyExplode")))
        for (int i = 1; i < frames.size(); ++i)
            frames[i]->hide();
    LayoutFrames();
    if (frames.isEmpty())
        return;
    TFrameDicomViewer *first = frames.first();
    viewer_.SetCurrentFrame(first);
    TFrameDicomViewer::MarkImage(*first->DicomViewer(), first->CurrentImageIndex, true);
    first->FrameEnter();
}

void TFormChildMDI::ShareSeriesState()
{
    TFrameDicomViewer *current = viewer_.CurrentFrame();
    if (!current)
        return;
    const auto images = current->DicomViewer()->Images();
    if (images->Count() == 0)
        return;
    TVisitData &visit = VisitData();
    const bool stack = viewer_.StackDown();
    if (stack)
        viewer_.RaiseStack();
    const int first = visit.SeriesFirstIndex(images->Item(1)->SeriesUID());
    if (stack)
        viewer_.SetDown(QStringLiteral("TBStack"), true);
    const auto visitImages = visit.VisitImages();
    for (int c = 1; c <= images->Count(); ++c) {
        const auto target = visitImages->Item(first - 1 + c);
        if (!target)
            continue;
        CopyLabels(*images->Item(c), *target);
        PlainMarker(*target);
    }
    const auto currentImage = current->CurrentFrameImage();
    if (!currentImage)
        return;
    const QString series = currentImage->SeriesUID();
    for (TFrameDicomViewer *frame : Frames()) {
        if (frame == current)
            continue;
        const auto others = frame->DicomViewer()->Images();
        int from = 1;
        if (stack) {
            if (TVisitData::ViewerSeriesFirstIndex(*others, series) == 0)
                continue;
        } else {
            const auto shown = frame->CurrentFrameImage();
            if (!shown || shown->SeriesUID() != series)
                continue;
        }
        Q_UNUSED(from);
        for (int c = 1; c <= images->Count() && c <= others->Count(); ++c) {
            const auto source = images->Item(c);
            const auto target = others->Item(c);
            if (source == target) {
                PlainMarker(*target);
                continue;
            }
            target->SetWidth(source->Width());
            target->SetLevel(source->Level());
            target->SetShowLabels(source->ShowLabels());
            target->SetMagnificationMode(source->MagnificationMode());
            target->SetFlipState(source->FlipState());
            target->SetRotateState(source->RotateState());
            CopyLabels(*source, *target);
            PlainMarker(*target);
            const auto sourceMarker = source->Labels()->Item(loading::kLabelSelection);
            const auto targetMarker = target->Labels()->Item(loading::kLabelSelection);
            if (sourceMarker && targetMarker)
                targetMarker->SetTransparent(sourceMarker->Transparent());
        }
        frame->DicomViewer()->Refresh();
    }
    // The current frame's own highlight stays on its current image.
    TFrameDicomViewer::MarkImage(*current->DicomViewer(), current->CurrentImageIndex, current->IsActive);
}

// ---------------------------------------------------------------------------------------
// Series menu

QString TFormChildMDI::SeriesEntryText(const imaging::DicomImage &image)
{
    const QString comments = Text(image, 0x0020, 0x4000);
    if (!comments.isEmpty())
        return comments;
    const QString instance = Text(image, 0x0020, 0x0013);
    const QString seriesNumber = Text(image, 0x0020, 0x0011);
    auto withInstance = [&](QString text) {
        if (!instance.isEmpty())
            text += QStringLiteral(" / ") + instance;
        return text;
    };
    const QString seriesDescription = Text(image, 0x0008, 0x103E);
    if (!seriesDescription.isEmpty())
        return withInstance(seriesDescription);
    const QString studyDescription = Text(image, 0x0008, 0x1030);
    if (!studyDescription.isEmpty()) {
        QString text = studyDescription;
        if (!seriesNumber.isEmpty())
            text += QStringLiteral(" / ") + seriesNumber;
        return withInstance(text);
    }
    const QString modality = Text(image, 0x0008, 0x0060);
    if (!modality.isEmpty()) {
        QString text = modality;
        const QString date = Text(image, 0x0008, 0x0020);
        if (!date.isEmpty())
            text += QStringLiteral(" / ") + date;
        if (!seriesNumber.isEmpty())
            text += QStringLiteral(" / ") + seriesNumber;
        return withInstance(text);
    }
    return QString();
}

QString TFormChildMDI::SeriesEntryCaption(const imaging::DicomImage &image)
{
    QString caption = Text(image, 0x0020, 0x0011) + QStringLiteral(": ");
    const QString sop = image.SOPClass();
    if (sop == QLatin1String(loading::kSopClassXA)) {
        const QString primary = Text(image, 0x0018, 0x1510);
        const QString secondary = Text(image, 0x0018, 0x1511);
        if (!primary.isEmpty() && !secondary.isEmpty()) {
            const double a = primary.toDouble(), b = secondary.toDouble();
            caption += a < 0 ? QStringLiteral("RTOA = ") : a > 0 ? QStringLiteral("LTOA = ") : QStringLiteral("RTOA / LTOA = ");
            caption += primary + QStringLiteral(", ");
            caption += b < 0 ? QStringLiteral("CAU = ") : b > 0 ? QStringLiteral("CRA = ") : QStringLiteral("CAU / CRA = ");
            caption += secondary;
        } else {
            caption += SeriesEntryText(image);
        }
    } else if (sop == QLatin1String(loading::kSopClassSC)) {
        const QString description = Text(image, 0x0008, 0x103E);
        caption += description.isEmpty() ? Text(image, 0x0020, 0x4000) : description;
    } else {
        caption += loading::SeriesCaption(*image.Attributes());
    }
    return caption;
}

void TFormChildMDI::BuildSeriesMenu()
{
    QMenu *menu = popupMenuSeries_;
    for (QAction *a : menu->actions())
        if (a->menu())
            a->menu()->deleteLater();
    menu->clear();
    QAction *erase = menu->addAction(QStringLiteral("Effacer l'annotation"));
    erase->setData(-1);
    connect(erase, &QAction::triggered, this, [this] { DeleteAnnotation(); });
    editAnnotation_ = menu->addAction(QStringLiteral("Modifier l'annotation texte"));
    editAnnotation_->setData(-1);
    editAnnotation_->setEnabled(false);
    connect(editAnnotation_, &QAction::triggered, this, [this] { EditAnnotationText(); });
    menu->addSeparator();

    const auto images = VisitData().VisitImages();
    QMenu *studyEntry = nullptr;
    QString lastStudy, lastSeries;
    QAction *pendingSeries = nullptr;
    QMenu *pendingStudy = nullptr;
    int tag = 0;
    for (int i = 1; i <= images->Count(); ++i) {
        const auto image = images->Item(i);
        if (!image || image->Tag().toInt() == 1)
            continue;
        if (image->StudyUID() != lastStudy || !studyEntry) {
            QString caption = Text(*image, 0x0008, 0x0020);
            if (caption.isEmpty())
                caption = QStringLiteral("N/A");
            const QString time = Text(*image, 0x0008, 0x0030);
            if (!time.isEmpty())
                caption += QStringLiteral(" ") + time;
            const QString description = Text(*image, 0x0008, 0x1030).trimmed();
            if (!description.isEmpty())
                caption += QStringLiteral(", ") + description;
            studyEntry = NewOwnerDrawMenu(menu, false);
            studyEntry->setTitle(caption);
            studyEntry->menuAction()->setCheckable(true);
            studyEntry->menuAction()->setData(-1);
            menu->addMenu(studyEntry);
            lastStudy = image->StudyUID();
        }
        if (image->SeriesUID() != lastSeries) {
            if (pendingSeries && pendingStudy)
                pendingStudy->addAction(pendingSeries);
            auto *entry = new QAction(SeriesEntryCaption(*image), menu);
            entry->setToolTip(image->SeriesUID());
            entry->setStatusTip(image->SeriesUID());
            entry->setData(++tag);
            entry->setCheckable(true);
            connect(entry, &QAction::triggered, this, [this, entry] { SeriesMenuClick(entry); });
            pendingSeries = entry;
            pendingStudy = studyEntry;
            lastSeries = image->SeriesUID();
        }
    }
    // While loading, the last series may still grow: it is left out.
    if (pendingSeries && pendingStudy) {
        if (!viewer_.Opening().Loader())
            pendingStudy->addAction(pendingSeries);
        else
            delete pendingSeries;
    }
}

void TFormChildMDI::PopupMenuSeriesPopup()
{
    BuildSeriesMenu();
    TFrameDicomViewer *frame = viewer_.CurrentFrame();
    bool editable = false;
    QString series;
    if (frame) {
        if (frame->HitLabels && frame->HitLabels->Count() > 0) {
            const auto label = frame->HitLabels->Item(frame->HitLabels->Count());
            const int kind = MeasureKind(*label);
            editable = label->LabelType() == imaging::DicomLabel::TypeText && (kind == 3 || kind == 4);
        }
        if (const auto image = frame->CurrentFrameImage())
            series = image->SeriesUID();
    }
    editAnnotation_->setEnabled(editable);
    for (QAction *study : popupMenuSeries_->actions()) {
        if (!study->menu())
            continue;
        bool any = false;
        for (QAction *entry : study->menu()->actions()) {
            const bool current = entry->toolTip() == series;
            entry->setChecked(current);
            any = any || current;
        }
        study->setChecked(any);
    }
}

void TFormChildMDI::SeriesMenuClick(QAction *entry)
{
    const QString key = entry->toolTip();
    if (!viewer_.CurrentFrame() || key.isEmpty())
        return;
    if (viewer_.StackDown()) {
        // The frame holds a study: it moves to the study of the series.
        viewer_.StackShowSeries(key);
    } else {
        viewer_.ClearReferenceLines();
        viewer_.SaveCurrentFrame();
        viewer_.LoadSeries(key);
        // The lines of the current image followed it by themselves; all the lines of the
        // series are those of the new series.
        if (viewer_.Down(QStringLiteral("TBAllRef")))
            viewer_.DrawReferenceLines();
    }
    entry->setChecked(true);
    viewer_.UpdateControls();
}

void TFormChildMDI::DeleteAnnotation()
{
    TFrameDicomViewer *frame = viewer_.CurrentFrame();
    if (!frame || !frame->HitLabels || frame->HitLabels->Count() == 0)
        return;
    const auto image = frame->CurrentFrameImage();
    if (!image)
        return;
    const auto labels = image->Labels();
    const auto h = frame->HitLabels->Item(frame->HitLabels->Count());
    auto removeLabel = [&](const imaging::DicomLabelPtr &label) {
        if (label)
            labels->Remove(labels->IndexOf(label.get()));
    };
    const int kind = MeasureKind(*h);
    if (kind >= 1 && kind <= 3) {
        const int type = h->LabelType();
        const bool shape = type == imaging::DicomLabel::TypeEllipse || type == imaging::DicomLabel::TypeLine
                           || type == imaging::DicomLabel::TypeArrow;
        const auto partner = TMarkGrab::FindLinkedLabel(*labels, LinkTagElement(*h, 3));
        QString key;
        if (kind == 1 || kind == 2)
            key = (shape ? (partner ? partner->Text() : QString()) : h->Text()) + QLatin1Char(')');
        const auto shapeLabel = shape ? h : partner;
        removeLabel(partner);
        removeLabel(h);
        if (shapeLabel && (shapeLabel->LabelType() == imaging::DicomLabel::TypeLine
                           || shapeLabel->LabelType() == imaging::DicomLabel::TypeEllipse)) {
            if (const auto bottomLeft = labels->Item(loading::kLabelBottomLeft)) {
                const QString legend = loading::TextLine(QStringLiteral("Lgd:"), bottomLeft->Text());
                QStringList kept;
                for (const QString &entry : legend.mid(4).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                    const QString trimmed = entry.trimmed();
                    if (trimmed.left(2) != key.left(2))
                        kept << trimmed;
                }
                const QString text = loading::ReplaceTextLine(QStringLiteral("Lgd:"), bottomLeft->Text(),
                                                              QStringLiteral("Lgd:") + kept.join(QStringLiteral(", ")));
                if (!text.isEmpty())
                    bottomLeft->SetText(text);
            }
        }
    } else if (kind == 4) {
        removeLabel(h);
    } else if (kind == 5) {
        const auto second = TMarkGrab::FindLinkedLabel(*labels, LinkTagElement(*h, 3));
        const auto third = second ? TMarkGrab::FindLinkedLabel(*labels, LinkTagElement(*second, 3)) : nullptr;
        removeLabel(second);
        removeLabel(third);
        removeLabel(h);
    }
    frame->HitLabels->Clear();
    frame->HitLabels.reset();
    frame->DicomViewer()->Refresh();
    ShareSeriesState();
}

void TFormChildMDI::EditAnnotationText()
{
    TFrameDicomViewer *frame = viewer_.CurrentFrame();
    if (!frame || !frame->HitLabels || frame->HitLabels->Count() == 0)
        return;
    const auto label = frame->HitLabels->Item(frame->HitLabels->Count());
    const QString old = label->Text();
    QString answer;
    if (AskAnnotationText) {
        answer = AskAnnotationText(old);
    } else {
        bool ok = false;
        answer = QInputDialog::getText(this, QStringLiteral("Texte d'annotation"), QStringLiteral("Entrez votre texte"),
                                       QLineEdit::Normal, old, &ok);
        if (!ok)
            answer = old;
    }
    label->SetText(answer);
    QCoreApplication::processEvents();
    frame->DicomViewer()->setFocus();
    frame->DicomViewer()->Refresh();
    ShareSeriesState();
}
