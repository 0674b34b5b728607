#include "viewer/frame/measures.h"

#include "imaging/geometry.h"
#include "imaging/pixelspacing.h"
#include "imaging/viewerlight.h"

#include "viewer/frame/framedicomviewer.h"
#include "viewer/loading/components.h"
#include "viewer/loading/cornertext.h"
#include "viewer/loading/visitdata.h"
#include "viewer/shell/templatedm.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QPolygonF>
#include <QInputDialog>
#include <QLineEdit>
#include <QVariantList>

#include <cmath>

namespace measures {

namespace {

int g_nextLinkId = 100;
TextEntryFunction g_textEntry;

using imaging::DicomLabel;
using imaging::DicomLabelPtr;

int RoundEven(double value) { return static_cast<int>(loading::RoundHalfEven(value)); }

QVariantList LinkTag(int first, int kind, int own, int next) { return QVariantList{first, kind, own, next}; }

void RemoveLabel(imaging::DicomLabels &labels, const DicomLabelPtr &label)
{
    if (label)
        labels.Remove(labels.IndexOf(label.get()));
}

// The entries after "Lgd:", trimmed.
QStringList LegendEntries(const QString &legend)
{
    QStringList entries;
    for (const QString &entry : legend.mid(4).split(QLatin1Char(','), Qt::SkipEmptyParts))
        if (!entry.trimmed().isEmpty())
            entries << entry.trimmed();
    return entries;
}

QString JoinLegend(const QStringList &entries) { return QStringLiteral("Lgd:") + entries.join(QStringLiteral(", ")); }

void ShowError(const QString &text)
{
    if (TTemplateDM *dm = TemplateDMIfAny())
        dm->ShowMessageDialog(text, TMsgDlgType::mtError, mbOK);
}

} // namespace

int NextLinkId() { return g_nextLinkId++; }

MarkStyle CurrentStyle()
{
    MarkStyle style;
    if (TTemplateDM *dm = TemplateDMIfAny()) {
        const int lineWidth = dm->ReadUserInteger(QStringLiteral("LineWidth"));
        const int fontSize = dm->ReadUserInteger(QStringLiteral("FontSize"));
        if (lineWidth > 0)
            style.lineWidth = lineWidth;
        if (fontSize > 0)
            style.fontSize = fontSize;
    }
    return style;
}

void ApplyTextStyle(DicomLabel &label, const MarkStyle &style)
{
    label.SetLabelType(DicomLabel::TypeText);
    label.SetForeColour(kMarkColour);
    label.SetFontName(QStringLiteral("Arial"));
    label.SetFontSize(style.fontSize);
    label.SetScaleFontSize(false);
    label.SetShadow(1);
    label.SetTransparent(true);
    label.SetImageTied(true);
}

void ApplyShapeStyle(DicomLabel &shape, const imaging::DicomImage &image, const MarkStyle &style)
{
    shape.SetScaleWithCell(false);
    shape.SetShadow(1);
    if (const auto topLeft = image.Labels()->Item(loading::kLabelTopLeft)) {
        shape.SetTransparent(topLeft->Transparent());
        shape.SetBackColour(topLeft->BackColour());
        shape.SetAlignment(topLeft->Alignment());
    }
    shape.SetForeColour(kMarkColour);
    shape.SetLineWidth(style.lineWidth);
}

// ---------------------------------------------------------------------------------------
// Legend

QString Legend(const imaging::DicomImage &image)
{
    const auto bottomLeft = image.Labels()->Item(loading::kLabelBottomLeft);
    return bottomLeft ? loading::TextLine(QStringLiteral("Lgd:"), bottomLeft->Text()) : QString();
}

void WriteLegend(imaging::DicomImage &image, const QString &line)
{
    const auto bottomLeft = image.Labels()->Item(loading::kLabelBottomLeft);
    if (!bottomLeft)
        return;
    const QString text = loading::ReplaceTextLine(QStringLiteral("Lgd:"), bottomLeft->Text(), line);
    if (!text.isEmpty())
        bottomLeft->SetText(text);
}

QString NextLetter(const QString &legend)
{
    const int last = legend.lastIndexOf(QLatin1Char(')'));
    if (last < 1)
        return QStringLiteral("A");
    return QString(QChar(legend.at(last - 1).unicode() + 1));
}

QString ReplaceLegendEntry(const QString &legend, const QString &key, const QString &entry)
{
    QStringList entries = LegendEntries(legend);
    for (QString &e : entries) {
        if (e.startsWith(key)) {
            e = entry;
            return JoinLegend(entries);
        }
    }
    return legend;
}

QString RemoveLegendEntry(const QString &legend, const QString &key)
{
    QStringList kept;
    for (const QString &e : LegendEntries(legend))
        if (!e.startsWith(key))
            kept << e;
    return JoinLegend(kept);
}

double CalibrationFactor(const imaging::DicomImage &image)
{
    if (!TemplateDMIfAny())
        return 0;
    TVisitData &visit = VisitData();
    return visit.CalibrationFactor(visit.SeriesOrdinal(image.SeriesUID()));
}

QString LineValue(const DicomLabel &line, double factor)
{
    const double length = line.ROILength();
    if (factor != 0)
        return QString::number(length * factor / 100, 'f', 2) + QStringLiteral("mm");
    return QString::number(length, 'f', 2) + line.ROIDistanceUnits();
}

QString EllipseValue(const DicomLabel &ellipse)
{
    const double area = ellipse.ROIArea();
    const double mean = ellipse.ROIMean();
    const double deviation = ellipse.ROIStandardDeviation();
    return QString::number(area, 'f', 1) + ellipse.ROIDistanceUnits() + QStringLiteral(" carré") + QStringLiteral(" Moy=")
           + QString::number(mean, 'f', 1) + QStringLiteral(" Dev Std=") + QString::number(deviation, 'f', 1);
}

namespace {

// The size on screen (client pixels) of a text label's text, as the component draws a
// text whose font does not scale with the cell.
QSizeF TextExtent(const DicomLabel &label)
{
    QFont font(label.FontName().isEmpty() ? QStringLiteral("Arial") : label.FontName());
    font.setPixelSize(std::max(1, label.FontSize()));
    const QFontMetricsF metrics(font);
    return QSizeF(metrics.horizontalAdvance(label.Text()), metrics.height());
}

// Moves a mark's letter (tied to the image) by the least amount that brings its drawn
// text inside the image's cell as the image is shown now: a letter above a mark at the
// top edge would be drawn where nobody sees it.
void KeepInsideCell(DicomLabel &letter, const imaging::DicomImage &image)
{
    const imaging::DisplayGeometry g = image.Geometry();
    const QRectF cell = g.cell;
    if (cell.isEmpty() || g.sizeX <= 0 || g.sizeY <= 0)
        return;
    const QSizeF extent = TextExtent(letter);
    const QPointF start = imaging::ImageToClient(g, QPointF(letter.Left(), letter.Top()));
    QRectF text(start, extent);
    if (!letter.AutoSize() && (letter.Alignment() & 3) == 1) {
        // Centred across its box (an ellipse's letter).
        QPolygonF corners;
        for (const QPointF &p : {QPointF(letter.Left(), letter.Top()),
                                 QPointF(letter.Left() + letter.Width(), letter.Top() + letter.Height())})
            corners << imaging::ImageToClient(g, p);
        const QRectF box = corners.boundingRect();
        text = QRectF(box.center().x() - extent.width() / 2, box.top(), extent.width(), extent.height());
    }
    auto shift = [](double low, double high, double from, double to) {
        if (low < from || high - low > to - from)
            return from - low;
        return high > to ? to - high : 0.0;
    };
    const double dx = shift(text.left(), text.right(), cell.left(), cell.right());
    const double dy = shift(text.top(), text.bottom(), cell.top(), cell.bottom());
    if (dx == 0 && dy == 0)
        return;
    const QPointF d = imaging::ClientToImage(g, start + QPointF(dx, dy)) - imaging::ClientToImage(g, start);
    // Whole image pixels, never short of the way in.
    auto away = [](double v) { return static_cast<int>(v > 0 ? std::ceil(v - 1e-9) : std::floor(v + 1e-9)); };
    letter.SetLeft(letter.Left() + away(d.x()));
    letter.SetTop(letter.Top() + away(d.y()));
}

} // namespace

void PlaceLineLetter(DicomLabel &letter, const DicomLabel &line, const imaging::DicomImage &image)
{
    letter.SetAutoSize(true);
    letter.SetAlignment(0);
    // The letter's size in image pixels, as the component writes it back once it has
    // drawn the letter: known now, the letter is centred from its first drawing on.
    const imaging::DisplayGeometry g = image.Geometry();
    const QSizeF extent = TextExtent(letter);
    const QPointF size = imaging::ClientToImage(g, QPointF(extent.width(), extent.height()))
                         - imaging::ClientToImage(g, QPointF(0, 0));
    letter.SetWidth(static_cast<int>(std::lround(std::abs(size.x()))));
    letter.SetHeight(static_cast<int>(std::lround(std::abs(size.y()))));
    if (line.Height() < 0) {
        letter.SetTop(line.Top() - std::abs(line.Height()) - letter.FontSize());
        letter.SetLeft(line.Left() + line.Width() - letter.Width() / 2);
    } else {
        letter.SetTop(line.Top() - letter.FontSize());
        letter.SetLeft(line.Left() - letter.Width() / 2);
    }
    KeepInsideCell(letter, image);
}

void PlaceEllipseLetter(DicomLabel &letter, const DicomLabel &ellipse, const imaging::DicomImage &image)
{
    letter.SetAlignment(1);
    letter.SetTop(ellipse.Top() - letter.FontSize());
    letter.SetLeft(ellipse.Left());
    letter.SetWidth(ellipse.Width());
    KeepInsideCell(letter, image);
}

void Normalise(DicomLabel &label)
{
    if (label.Height() < 0) {
        label.SetTop(label.Top() + label.Height());
        label.SetHeight(-label.Height());
    }
    if (label.Width() < 0) {
        label.SetLeft(label.Left() + label.Width());
        label.SetWidth(-label.Width());
    }
}

// ---------------------------------------------------------------------------------------
// Angles

double PixelAspect(const imaging::DicomImage &image)
{
    // The component's one rule, the one the image is drawn with: an angle reads what the
    // screen shows.
    const auto attributes = image.Attributes();
    return attributes ? imaging::PixelAspect(*attributes) : 1.0;
}

double AngleBetweenLines(const DicomLabel &p, const DicomLabel &q, double aspect)
{
    double pw = p.Width(), ph = p.Height();
    if (std::abs(p.Left() - q.Left()) > 5 || std::abs(p.Top() - q.Top()) > 5) {
        pw = -pw;
        ph = -ph;
    }
    ph *= aspect;
    const double qw = q.Width(), qh = q.Height() * aspect;
    const double lengths = std::hypot(pw, ph) * std::hypot(qw, qh);
    if (lengths == 0)
        return 0;
    const double c = std::clamp((pw * qw + ph * qh) / lengths, -1.0, 1.0);
    return std::acos(c) * 180.0 / M_PI;
}

void MatchLegLength(const DicomLabel &a, DicomLabel &b, double aspect)
{
    const float la = std::sqrt(float(a.Width()) * float(a.Width())
                               + float(a.Height() * aspect) * float(a.Height() * aspect));
    const float lb = std::sqrt(float(b.Width()) * float(b.Width())
                               + float(b.Height() * aspect) * float(b.Height() * aspect));
    if (lb == 0)
        return;
    const double r = double(la) / double(lb);
    b.SetWidth(RoundEven(b.Width() * r));
    b.SetHeight(RoundEven(b.Height() * r));
}

QString LegText(int leg, const DicomLabel &second, int angle)
{
    return QStringLiteral("angle%1;%2;%3;%4").arg(leg).arg(second.Width()).arg(second.Height()).arg(angle);
}

QString AngleText(int angle) { return QString::number(angle) + QChar(0x00BA); }

// ---------------------------------------------------------------------------------------
// Marks

bool AddMeasureText(imaging::DicomImage &image, const DicomLabelPtr &shape, QString *error)
{
    const MarkStyle style = CurrentStyle();
    const auto labels = image.Labels();
    const DicomLabelPtr letter = labels->AddNew();
    ApplyTextStyle(*letter, style);
    letter->SetLabelType(DicomLabel::TypeText);
    letter->SetImageTied(true);
    letter->SetScaleFontSize(false);

    QString legend = Legend(image);
    if (legend.isEmpty())
        legend = QStringLiteral("Lgd:");
    if (!legend.mid(4).isEmpty())
        legend += QStringLiteral(", ");
    letter->SetText(NextLetter(legend));
    legend += letter->Text() + QLatin1Char(')');

    const bool line = shape->LabelType() == DicomLabel::TypeLine || shape->LabelType() == DicomLabel::TypePolyline;
    const int kind = line ? 1 : 2;
    QString value;
    try {
        if (line) {
            PlaceLineLetter(*letter, *shape, image);
            value = LineValue(*shape, CalibrationFactor(image));
        } else {
            PlaceEllipseLetter(*letter, *shape, image);
            value = EllipseValue(*shape);
        }
    } catch (const imaging::DicomError &e) {
        // No mark without its values: the shape and its letter go, the legend stays.
        RemoveLabel(*labels, letter);
        RemoveLabel(*labels, shape);
        if (error)
            *error = e.Message();
        return false;
    }
    WriteLegend(image, legend + value);

    const int own = NextLinkId();
    const int next = NextLinkId();
    shape->SetTag(LinkTag(0, kind, own, next));
    shape->SetText(letter->Text());
    letter->SetTag(LinkTag(0, kind, next, own));
    return true;
}

DicomLabelPtr AddTextAnnotation(imaging::DicomImage &image, const QString &text, int px, int py)
{
    if (text == QLatin1String(kInitialText))
        return nullptr;
    const DicomLabelPtr label = image.Labels()->AddNew();
    ApplyTextStyle(*label, CurrentStyle());
    label->SetLeft(px);
    label->SetTop(py);
    label->SetText(text);
    label->SetAutoSize(true);
    label->SetTag(LinkTag(1, 4, 0, 0));
    return label;
}

DicomLabelPtr AddIndicationText(imaging::DicomImage &image, const DicomLabelPtr &arrow, const QString &text, int px,
                                int py)
{
    const DicomLabelPtr label = image.Labels()->AddNew();
    ApplyTextStyle(*label, CurrentStyle());
    label->SetLeft(px);
    label->SetTop(py);
    label->SetText(text == QLatin1String(kInitialText) ? QString() : text);
    label->SetAutoSize(true);
    const int own = NextLinkId();
    const int next = NextLinkId();
    if (arrow) {
        arrow->SetText(label->Text());
        arrow->SetTag(LinkTag(0, 3, own, next));
    }
    label->SetTag(LinkTag(0, 3, next, own));
    return label;
}

bool CompleteAngle(imaging::DicomImage &image, const DicomLabelPtr &first)
{
    const auto labels = image.Labels();
    if (std::hypot(first->Width(), first->Height()) < 10) {
        RemoveLabel(*labels, first);
        return false;
    }
    // The first leg starts at the release point: the vertex.
    first->SetLeft(first->Left() + first->Width());
    first->SetTop(first->Top() + first->Height());
    first->SetWidth(-first->Width());
    first->SetHeight(-first->Height());

    const MarkStyle style = CurrentStyle();
    const double aspect = PixelAspect(image);
    // The second leg: the first turned by 45 degrees (on the pixels' true shape).
    const DicomLabelPtr second = labels->AddNew();
    second->SetLabelType(DicomLabel::TypeLine);
    ApplyShapeStyle(*second, image, style);
    second->SetImageTied(true);
    second->SetLeft(first->Left());
    second->SetTop(first->Top());
    const double x = first->Width(), y = first->Height() * aspect;
    const double c = std::cos(M_PI / 4), s = std::sin(M_PI / 4);
    second->SetWidth(RoundEven(x * c - y * s));
    second->SetHeight(RoundEven((x * s + y * c) / aspect));

    const int angle = RoundEven(180.0 - AngleBetweenLines(*second, *first, aspect));
    first->SetText(LegText(1, *second, angle));
    second->SetText(LegText(2, *second, angle));

    const DicomLabelPtr text = labels->AddNew();
    ApplyTextStyle(*text, style);
    text->SetTop(first->Height() < 0 ? first->Top() : first->Top() - text->FontSize());
    text->SetLeft(first->Left());
    text->SetText(AngleText(angle));
    text->SetAutoSize(true);

    const int a = NextLinkId(), b = NextLinkId(), cId = NextLinkId();
    first->SetTag(LinkTag(0, 5, a, b));
    second->SetTag(LinkTag(0, 5, b, cId));
    text->SetTag(LinkTag(0, 5, cId, a));
    return true;
}

// ---------------------------------------------------------------------------------------
// Values of a reshaped mark

void TMeasureGrab::RefreshGroupText(int imageIndex)
{
    if (!frame_)
        return;
    const auto image = frame_->DicomViewer()->Images()->Item(imageIndex);
    if (!image)
        return;
    QString error;
    if (!RefreshGroupTextOn(*image, &error)) {
        frame_->DicomViewer()->Refresh();
        ShowError(error);
    }
}

bool TMeasureGrab::RefreshGroupTextOn(imaging::DicomImage &image, QString *error)
{
    if (!GroupFirst)
        return true;
    DicomLabel &first = *GroupFirst;
    const int kind = MeasureKind(first);
    const auto labels = image.Labels();
    bool ok = true;
    if (first.LabelType() == DicomLabel::TypeLine && kind == 1) {
        if (GroupSecond) {
            PlaceLineLetter(*GroupSecond, first, image);
            const QString key = GroupSecond->Text() + QLatin1Char(')');
            // The line's own entry only, whatever its unit.
            WriteLegend(image, ReplaceLegendEntry(Legend(image), key, key + LineValue(first, CalibrationFactor(image))));
        }
    } else if (first.LabelType() == DicomLabel::TypeEllipse) {
        Normalise(first);
        if (GroupSecond) {
            GroupSecond->SetHeight(GroupSecond->FontSize());
            PlaceEllipseLetter(*GroupSecond, first, image);
            const QString key = GroupSecond->Text() + QLatin1Char(')');
            try {
                WriteLegend(image, ReplaceLegendEntry(Legend(image), key, key + EllipseValue(first)));
            } catch (const imaging::DicomError &e) {
                // A region that can no longer be measured (moved off the image) keeps no
                // stale values: it goes with its letter and its entry.
                WriteLegend(image, RemoveLegendEntry(Legend(image), key));
                RemoveLabel(*labels, GroupSecond);
                RemoveLabel(*labels, GroupFirst);
                if (error)
                    *error = e.Message();
                ok = false;
            }
        }
    } else if (first.LabelType() == DicomLabel::TypeLine && kind == 5) {
        const DicomLabelPtr group[] = {GroupFirst, GroupSecond, GroupThird};
        DicomLabelPtr firstLeg, other, text;
        for (const auto &label : group)
            if (label && !firstLeg && label->LabelType() == DicomLabel::TypeLine
                && label->Text().contains(QLatin1String("angle1")))
                firstLeg = label;
        for (const auto &label : group) {
            if (!label)
                continue;
            if (label->LabelType() == DicomLabel::TypeLine && label != GroupFirst)
                other = label;
            else if (label->LabelType() != DicomLabel::TypeLine)
                text = label;
        }
        if (firstLeg && other) {
            const double aspect = PixelAspect(image);
            MatchLegLength(first, *other, aspect);
            const DicomLabelPtr secondLeg = firstLeg == GroupFirst ? other : GroupFirst;
            const int angle = 180 - RoundEven(AngleBetweenLines(*secondLeg, *firstLeg, aspect));
            firstLeg->SetText(LegText(1, *secondLeg, angle));
            secondLeg->SetText(LegText(2, *secondLeg, angle));
            if (text)
                text->SetText(AngleText(angle));
        }
    }
    if (GroupSecond)
        GroupSecond->SetVisible(true);
    return ok;
}

// ---------------------------------------------------------------------------------------
// Text entry

void SetTextEntryFunction(TextEntryFunction function) { g_textEntry = std::move(function); }

QString AskText(QWidget *parent, const QString &initial)
{
    if (g_textEntry)
        return g_textEntry(parent, initial);
    QString text = initial;
    return InputBox(parent, QStringLiteral("Texte d'annotation"), QStringLiteral("Entrez votre texte"), text)
               ? text
               : QString();
}

bool InputBox(QWidget *parent, const QString &title, const QString &prompt, QString &text)
{
    QInputDialog box(parent);
    box.setWindowTitle(title);
    box.setLabelText(prompt);
    box.setTextValue(text);
    // Wide enough for its title and its starting text, which a window manager would
    // otherwise cut.
    const QFontMetrics metrics(box.font());
    const int width = std::max(metrics.horizontalAdvance(title) + 120, metrics.horizontalAdvance(text) + 20);
    if (auto *edit = box.findChild<QLineEdit *>())
        edit->setMinimumWidth(width);
    if (box.exec() != QDialog::Accepted)
        return false;
    text = box.textValue();
    return true;
}

// ---------------------------------------------------------------------------------------
// Frame glue

void InstallMeasureTools(TFrameDicomViewer &frame)
{
    frame.BeginShape = [](TFrameDicomViewer &f, int tool, int x, int y) { BeginShape(f, tool, x, y); };
    frame.FinishShape = [](TFrameDicomViewer &f, int tool, int x, int y) { FinishShape(f, tool, x, y); };
    frame.SetGrab(std::make_unique<TMeasureGrab>(&frame));
}

void BeginShape(TFrameDicomViewer &frame, int tool, int x, int y)
{
    const auto image = frame.CurrentFrameImage();
    if (!image)
        return;
    // A label of the component itself (the program loads it as a module: a label made
    // by any other code could not be measured on the component's images).
    const DicomLabelPtr label = loading::NewComponent<DicomLabel>();
    label->SetTag(LinkTag(0, 0, 0, 0));
    switch (tool) {
    case toolMesureLine:
    case toolMesureAngle:
        label->SetLabelType(DicomLabel::TypeLine);
        break;
    case toolMesureEllipse:
        label->SetLabelType(DicomLabel::TypeEllipse);
        break;
    case toolIndication:
        label->SetLabelType(DicomLabel::TypeArrow);
        break;
    default:
        return;
    }
    ApplyShapeStyle(*label, *image, CurrentStyle());
    label->SetLeft(x);
    label->SetTop(y);
    label->SetWidth(0);
    label->SetHeight(0);
    frame.NewLabel = label;
}

void FinishShape(TFrameDicomViewer &frame, int tool, int x, int y)
{
    const auto image = frame.CurrentFrameImage();
    TFrameHost *host = TFrameDicomViewer::Host();
    if (!image)
        return;
    imaging::DicomViewerLight &control = *frame.DicomViewer();
    const DicomLabelPtr shape = frame.NewLabel;
    frame.NewLabel.reset();
    if (tool != toolLbl) {
        if (!shape)
            return;
        shape->SetImageTied(false);
        shape->Rescale(*image);
        shape->SetLineWidth(CurrentStyle().lineWidth);
        image->Labels()->Add(shape);
    }
    const auto share = [&] {
        if (host)
            host->ShareSeriesState(&frame);
    };
    switch (tool) {
    case toolMesureLine:
    case toolMesureEllipse: {
        QString error;
        if (!AddMeasureText(*image, shape, &error)) {
            control.Refresh();
            ShowError(error);
        }
        share();
        break;
    }
    case toolIndication:
    case toolLbl: {
        const QString text = AskText(&frame, QLatin1String(kInitialText));
        const int px = control.ImageXPosition(x, y);
        const int py = control.ImageYPosition(x, y);
        if (tool == toolLbl)
            AddTextAnnotation(*image, text, px, py);
        else
            AddIndicationText(*image, shape, text, shape->Left() + shape->Width(), shape->Top() + shape->Height());
        QCoreApplication::processEvents();
        control.setFocus(Qt::OtherFocusReason);
        share();
        break;
    }
    case toolMesureAngle:
        CompleteAngle(*image, shape);
        frame.Grab().Forget();
        share();
        break;
    default:
        break;
    }
}

} // namespace measures
