#include "cellrenderer.h"

#include "imaging/pixelspacing.h"

#include <QFontMetricsF>
#include <QPaintEngine>
#include <QLineF>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPolygonF>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace imaging::detail {

namespace {

// Reference cell size for fonts that scale with the cell: a FontSize of 20 gives 16
// pixels in a 512-pixel cell.
constexpr double kFontReferenceCell = 640.0;
constexpr int kMinimumScaledFont = 7;
// Distance, in client pixels, within which a line-like label counts as hit.
constexpr double kHitTolerance = 4.0;

QColor Colour(int windowsColour)
{
    return ColourToQColor(windowsColour);
}

Qt::PenStyle PenStyleOf(int lineStyle)
{
    // LineStyle is the pen style minus one: 0 solid, 1 dash, 2 dot, 3 dash-dot, 4 dash-dot-dot.
    const int style = std::clamp(lineStyle, 0, 4) + 1;
    return static_cast<Qt::PenStyle>(style);
}

QPen LabelPen(const DicomLabel &label, const QColor &colour)
{
    QPen pen(colour);
    pen.setWidthF(std::max(1, label.LineWidth()));
    pen.setStyle(PenStyleOf(label.LineStyle()));
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::MiterJoin);
    return pen;
}

QStringList SplitLines(const QString &text)
{
    static const QRegularExpression breaks(QStringLiteral("\r\n|\r|\n"));
    return text.split(breaks);
}

QPointF StartPoint(const DicomLabel &label, const LabelSpace &space)
{
    return LabelPointToClient(label, space, QPointF(label.Left(), label.Top()));
}

QPointF EndPoint(const DicomLabel &label, const LabelSpace &space)
{
    return LabelPointToClient(label, space,
                              QPointF(label.Left() + label.Width(), label.Top() + label.Height()));
}

// The label's box in client pixels (its four corners mapped, then their bounds).
QRectF BoxRect(const DicomLabel &label, const LabelSpace &space)
{
    const double l = label.Left(), t = label.Top();
    const double r = l + label.Width(), b = t + label.Height();
    QPolygonF corners;
    for (const QPointF &p : {QPointF(l, t), QPointF(r, t), QPointF(r, b), QPointF(l, b)})
        corners << LabelPointToClient(label, space, p);
    return corners.boundingRect();
}

// The points of a polyline or polygon, or its start and end when it has none.
QPolygonF PolyPoints(const DicomLabel &label, const LabelSpace &space)
{
    QPolygonF poly;
    const int n = label.PointCount();
    for (int i = 1; i <= n; ++i)
        poly << LabelPointToClient(label, space, label.PointAt(i));
    if (poly.size() < 2) {
        poly.clear();
        poly << StartPoint(label, space) << EndPoint(label, space);
    }
    return poly;
}

QPointF PointLabelPosition(const DicomLabel &label, const LabelSpace &space)
{
    if (label.PointCount() > 0)
        return LabelPointToClient(label, space, label.PointAt(1));
    return StartPoint(label, space);
}

// Arrow head at the start point (the arrow points at what the text, at its end, names).
QPolygonF ArrowHead(QPointF tip, QPointF tail, double lineWidth)
{
    QLineF shaft(tip, tail);
    if (shaft.length() < 1e-6)
        return {};
    const double size = std::max(9.0, 3.5 * lineWidth);
    QLineF wing1 = QLineF::fromPolar(size, shaft.angle() + 25.0).translated(tip);
    QLineF wing2 = QLineF::fromPolar(size, shaft.angle() - 25.0).translated(tip);
    return QPolygonF() << wing1.p2() << tip << wing2.p2();
}

// A ruler: main line along the longer side of its box, ticks across it towards the
// shorter side, one every 10 mm (50 or 100 mm when the ticks would crowd), every fifth
// full length. Drawn only on images with a pixel spacing.
struct RulerShape
{
    QLineF main;
    std::vector<QLineF> ticks;
};

bool LayOutRuler(const DicomLabel &label, const LabelSpace &space, RulerShape &shape)
{
    if (!space.image)
        return false;
    double colSpacing = 0, rowSpacing = 0;
    if (!ImagePixelSpacing(*space.image, colSpacing, rowSpacing))
        return false;
    const bool vertical = std::abs(label.Height()) >= std::abs(label.Width());
    QPointF a0 = StartPoint(label, space);
    QPointF a1, tickEnd;
    if (vertical) {
        a1 = LabelPointToClient(label, space, QPointF(label.Left(), label.Top() + label.Height()));
        tickEnd = LabelPointToClient(label, space, QPointF(label.Left() + label.Width(), label.Top()));
    } else {
        a1 = LabelPointToClient(label, space, QPointF(label.Left() + label.Width(), label.Top()));
        tickEnd = LabelPointToClient(label, space, QPointF(label.Left(), label.Top() + label.Height()));
    }
    const QPointF along = a1 - a0;
    double lengthPx = std::hypot(along.x(), along.y());
    if (lengthPx < 2)
        return false;
    const QPointF unit = along / lengthPx;
    // Texts in the ruler's band push its ends back: the part of the ruler between the
    // texts stays, measured from its new start.
    if (!space.keepClear.empty() && (std::abs(unit.x()) > 0.999 || std::abs(unit.y()) > 0.999)) {
        constexpr double kClearance = 3.0;
        const bool vertical = std::abs(unit.y()) > 0.999;
        const double bandLow = std::min({vertical ? a0.x() : a0.y(), vertical ? tickEnd.x() : tickEnd.y()});
        const double bandHigh = std::max({vertical ? a0.x() : a0.y(), vertical ? tickEnd.x() : tickEnd.y()});
        const double origin = vertical ? a0.y() : a0.x();
        const double sign = vertical ? (unit.y() > 0 ? 1 : -1) : (unit.x() > 0 ? 1 : -1);
        double s0 = 0, s1 = lengthPx;
        for (const QRectF &r : space.keepClear) {
            const double acrossLow = (vertical ? r.left() : r.top()) - kClearance;
            const double acrossHigh = (vertical ? r.right() : r.bottom()) + kClearance;
            if (acrossHigh < bandLow - 1 || acrossLow > bandHigh + 1)
                continue;
            double lo = ((vertical ? r.top() : r.left()) - origin) * sign;
            double hi = ((vertical ? r.bottom() : r.right()) - origin) * sign;
            if (lo > hi)
                std::swap(lo, hi);
            lo -= kClearance;
            hi += kClearance;
            if (hi <= s0 || lo >= s1)
                continue;
            if ((lo + hi) / 2 < (s0 + s1) / 2)
                s0 = std::max(s0, hi);
            else
                s1 = std::min(s1, lo);
        }
        if (s1 - s0 < 2)
            return false;
        if (s0 > 0) {
            const QPointF shift = unit * s0;
            a0 += shift;
            tickEnd += shift;
        }
        lengthPx = s1 - s0;
    }
    // Millimetres per client pixel along the ruler: a client step mapped back to image
    // pixels, then through the spacing of columns (x) and rows (y).
    bool invertible = false;
    const QTransform inverse = space.imageToClient.inverted(&invertible);
    if (!invertible)
        return false;
    const QPointF imageStep = inverse.map(unit) - inverse.map(QPointF(0, 0));
    const double mmPerPixel = std::hypot(imageStep.x() * colSpacing, imageStep.y() * rowSpacing);
    if (!(mmPerPixel > 0) || !std::isfinite(mmPerPixel))
        return false;
    double stepMm = 10;
    for (double candidate : {10.0, 50.0, 100.0, 500.0}) {
        stepMm = candidate;
        if (candidate / mmPerPixel >= 5.0)
            break;
    }
    const double stepPx = stepMm / mmPerPixel;
    const int steps = static_cast<int>(std::floor(lengthPx / stepPx + 1e-9));
    if (steps < 1)
        return false;
    const QPointF tick = tickEnd - a0;
    shape.main = QLineF(a0, a0 + unit * (steps * stepPx));
    shape.ticks.clear();
    for (int k = 0; k <= steps; ++k) {
        const QPointF base = a0 + unit * (k * stepPx);
        const bool major = k % 5 == 0 || k == steps;
        shape.ticks.emplace_back(base, base + (major ? tick : tick * 0.5));
    }
    return true;
}

double DistanceToSegment(QPointF p, QPointF a, QPointF b)
{
    const QPointF ab = b - a;
    const double len2 = ab.x() * ab.x() + ab.y() * ab.y();
    double t = 0;
    if (len2 > 0)
        t = std::clamp(((p.x() - a.x()) * ab.x() + (p.y() - a.y()) * ab.y()) / len2, 0.0, 1.0);
    const QPointF q = a + ab * t;
    return std::hypot(p.x() - q.x(), p.y() - q.y());
}

bool NearPolyline(const QPolygonF &poly, QPointF p, double tolerance)
{
    for (int i = 0; i + 1 < poly.size(); ++i)
        if (DistanceToSegment(p, poly[i], poly[i + 1]) <= tolerance)
            return true;
    return poly.size() == 1 && QLineF(poly[0], p).length() <= tolerance;
}

void DrawTextLayout(QPainter &painter, const DicomLabel &label, const TextLayout &layout)
{
    painter.save();
    if (layout.rotation != 0) {
        painter.translate(layout.anchor);
        painter.rotate(layout.rotation);
        painter.translate(-layout.anchor);
    }
    painter.setFont(layout.font);
    if (!label.Transparent())
        painter.fillRect(layout.bounds.adjusted(-2, -1, 2, 1), Colour(label.BackColour()));
    const QFontMetricsF fm(layout.font);
    const double ascent = fm.ascent();
    const int shadow = label.Shadow();
    if (shadow > 0) {
        painter.setPen(Colour(label.BackColour()));
        for (int i = 0; i < int(layout.lines.size()); ++i)
            painter.drawText(layout.lineRects[size_t(i)].topLeft() + QPointF(shadow, shadow + ascent),
                             layout.lines[i]);
    }
    painter.setPen(Colour(label.ForeColour()));
    for (int i = 0; i < int(layout.lines.size()); ++i)
        painter.drawText(layout.lineRects[size_t(i)].topLeft() + QPointF(0, ascent), layout.lines[i]);
    painter.restore();
}

// Draws the shape of a non-text label with `pen`; fills closed shapes with `fill` when
// it is valid.
void DrawShape(QPainter &painter, const DicomLabel &label, int type, const LabelSpace &space,
               const QPen &pen, const QBrush &fill, bool xorMode)
{
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    switch (type) {
    case DicomLabel::TypeEllipse:
    case DicomLabel::TypeRectangle: {
        const QRectF box = BoxRect(label, space);
        if (fill.style() != Qt::NoBrush)
            painter.setBrush(fill);
        if (type == DicomLabel::TypeEllipse) {
            painter.setRenderHint(QPainter::Antialiasing, !xorMode);
            painter.drawEllipse(box);
        } else {
            painter.drawRect(box);
        }
        break;
    }
    case DicomLabel::TypeLine:
        painter.drawLine(StartPoint(label, space), EndPoint(label, space));
        break;
    case DicomLabel::TypeArrow: {
        const QPointF tip = StartPoint(label, space), tail = EndPoint(label, space);
        painter.drawLine(tip, tail);
        QPen headPen = pen;
        headPen.setStyle(Qt::SolidLine);
        painter.setPen(headPen);
        painter.drawPolyline(ArrowHead(tip, tail, pen.widthF()));
        break;
    }
    case DicomLabel::TypePolyline:
        painter.drawPolyline(PolyPoints(label, space));
        break;
    case DicomLabel::TypePolygon:
        if (fill.style() != Qt::NoBrush)
            painter.setBrush(fill);
        painter.drawPolygon(PolyPoints(label, space));
        break;
    case DicomLabel::TypePoint: {
        const QPointF c = PointLabelPosition(label, space);
        painter.drawLine(c - QPointF(3, 0), c + QPointF(3, 0));
        painter.drawLine(c - QPointF(0, 3), c + QPointF(0, 3));
        break;
    }
    case DicomLabel::TypeRuler: {
        RulerShape ruler;
        if (!LayOutRuler(label, space, ruler))
            break;
        painter.drawLine(ruler.main);
        for (const QLineF &t : ruler.ticks)
            painter.drawLine(t);
        break;
    }
    default:
        break;
    }
}

// Handles of a selected label: small squares on its key points.
constexpr double kHandleSize = 5.0;

QPolygonF HandlePoints(const DicomLabel &label, int type, const LabelSpace &space, const QRectF &textBounds)
{
    QPolygonF points;
    auto corners = [&](const QRectF &r) { points << r.topLeft() << r.topRight() << r.bottomRight() << r.bottomLeft(); };
    switch (type) {
    case DicomLabel::TypeLine:
    case DicomLabel::TypeArrow:
        points << StartPoint(label, space) << EndPoint(label, space);
        break;
    case DicomLabel::TypeRectangle:
    case DicomLabel::TypeEllipse:
        corners(BoxRect(label, space));
        break;
    case DicomLabel::TypePolyline:
    case DicomLabel::TypePolygon:
        points = PolyPoints(label, space);
        break;
    case DicomLabel::TypePoint:
        points << PointLabelPosition(label, space);
        break;
    case DicomLabel::TypeRuler: {
        RulerShape ruler;
        if (LayOutRuler(label, space, ruler))
            points << ruler.main.p1() << ruler.main.p2();
        break;
    }
    case DicomLabel::TypeText:
    case DicomLabel::TypeOrientation:
        if (!textBounds.isEmpty())
            corners(textBounds);
        break;
    default:
        break;
    }
    return points;
}

void DrawHandles(QPainter &painter, const DicomLabel &label, const QPolygonF &points)
{
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(Colour(label.BackColour()), 1));
    painter.setBrush(Colour(label.ForeColour()));
    for (const QPointF &p : points)
        painter.drawRect(QRectF(p.x() - kHandleSize / 2, p.y() - kHandleSize / 2, kHandleSize, kHandleSize));
    painter.restore();
}

} // namespace

QPointF LabelPointToClient(const DicomLabel &label, const LabelSpace &space, QPointF point)
{
    if (label.ImageTied())
        return space.image ? space.imageToClient.map(point) : point;
    if (label.ScaleWithCell())
        return CellUnitsToClient(space.cell, point);
    return point;
}

int LabelFontPixelSize(const DicomLabel &label, const QRectF &cell)
{
    const int size = std::max(1, label.FontSize());
    if (!label.ScaleFontSize())
        return size;
    const double side = std::min(cell.width(), cell.height());
    return std::max(kMinimumScaledFont, int(std::lround(size * side / kFontReferenceCell)));
}

void KeepRulersClearOfTexts(LabelSpace &space, const DicomLabels *labels)
{
    space.keepClear.clear();
    const int n = labels ? labels->Count() : 0;
    bool ruler = false;
    for (int i = 1; i <= n && !ruler; ++i) {
        const DicomLabelPtr label = labels->Item(i);
        ruler = label && label->Visible() && label->LabelType() == DicomLabel::TypeRuler;
    }
    if (!ruler)
        return;
    for (int i = 1; i <= n; ++i) {
        const DicomLabelPtr label = labels->Item(i);
        if (!label || !label->Visible() || label->LabelType() != DicomLabel::TypeText || label->ImageTied())
            continue;
        const TextLayout layout = LayOutText(*label, space);
        // Line by line: a text drawn on rows of different widths (a wrapped legend above
        // short lines) does not claim the whole rectangle around them.
        if (!layout.lines.isEmpty() && layout.rotation == 0)
            for (const QRectF &line : layout.lineRects)
                if (line.width() > 0)
                    space.keepClear.push_back(line);
    }
}

bool ImagePixelSpacing(const DicomImage &image, double &columnSpacing, double &rowSpacing)
{
    const DicomAttributesPtr attributes = image.Attributes();
    return attributes && PixelSpacing(*attributes, rowSpacing, columnSpacing);
}

namespace {

// The stretch of a row that a wrapped text may use.
struct RowRoom
{
    double lo = 0, hi = 0;
    bool blocked = false; // another text covers the row where this one starts
    double Width() const { return blocked ? 0 : std::max(0.0, hi - lo); }
};

// The room of the row [top, top + height) between `left` and `right`, less the other
// texts of the cell on that row (kept `gap` away). A left-aligned text gives up the end
// of its row, a right-aligned one its start; a centred one keeps the box.
RowRoom RoomOfRow(const DicomLabel &label, const LabelSpace &space, double left, double right, int horizontal,
                  double top, double height, double gap)
{
    RowRoom room{left, right, false};
    if (horizontal == 1)
        return room;
    for (const auto &[other, rect] : space.texts) {
        if (other == &label || rect.isEmpty() || rect.top() >= top + height - 0.5 || rect.bottom() <= top + 0.5)
            continue;
        if (rect.right() <= room.lo || rect.left() >= room.hi)
            continue;
        if (horizontal == 0) {
            if (rect.left() > room.lo + gap)
                room.hi = std::min(room.hi, rect.left() - gap);
            else
                room.blocked = true;
        } else {
            if (rect.right() < room.hi - gap)
                room.lo = std::max(room.lo, rect.right() + gap);
            else
                room.blocked = true;
        }
    }
    return room;
}

// Puts the items of one line into rows of the given widths, top row first: as many whole
// items per row as fit, joined by ", ", a row that more items follow ending with ","; an
// item too wide alone is broken at its blanks (a word too wide alone is put alone).
// False when the rows are not enough.
bool PackItems(const QStringList &items, const std::vector<double> &widths, const QFontMetricsF &fm,
               std::vector<QString> &rows)
{
    rows.assign(widths.size(), QString());
    auto fits = [&](const QString &text, double width) { return fm.horizontalAdvance(text) <= width + 0.5; };
    std::size_t r = 0;
    qsizetype i = 0;
    while (i < items.size()) {
        while (r < widths.size() && widths[r] <= 0)
            ++r;
        if (r >= widths.size())
            return false;
        QString row;
        qsizetype j = i;
        while (j < items.size()) {
            const QString candidate = row.isEmpty() ? items[j] : row + QStringLiteral(", ") + items[j];
            const QString shown = j + 1 < items.size() ? candidate + QLatin1Char(',') : candidate;
            if (!fits(shown, widths[r]))
                break;
            row = candidate;
            ++j;
        }
        if (j > i) {
            rows[r++] = j < items.size() ? row + QLatin1Char(',') : row;
            i = j;
            continue;
        }
        // The item alone is too wide: its words, as many per row as fit.
        const bool more = i + 1 < items.size();
        const QStringList words = items[i].split(QLatin1Char(' '), Qt::SkipEmptyParts);
        qsizetype w = 0;
        while (w < words.size()) {
            while (r < widths.size() && widths[r] <= 0)
                ++r;
            if (r >= widths.size())
                return false;
            QString piece = words[w];
            qsizetype k = w + 1;
            while (k < words.size()) {
                const QString candidate = piece + QLatin1Char(' ') + words[k];
                const QString shown = k + 1 == words.size() && more ? candidate + QLatin1Char(',') : candidate;
                if (!fits(shown, widths[r]))
                    break;
                piece = candidate;
                ++k;
            }
            rows[r++] = k == words.size() && more ? piece + QLatin1Char(',') : piece;
            w = k;
        }
        ++i;
    }
    return true;
}

// The lines of a WrapText label laid out in rows from its aligned edge, each source line
// on as many rows as its items need within the room of those rows.
void WrapLines(TextLayout &layout, const DicomLabel &label, const LabelSpace &space, const QRectF &box,
               const QFontMetricsF &fm)
{
    const double lineHeight = fm.height();
    const int horizontal = label.Alignment() & 3;
    const bool bottom = (label.Alignment() & 8) != 0;
    const double left = label.AutoSize() ? space.cell.left() : box.left();
    const double right = label.AutoSize() ? space.cell.right() : box.right();
    const double gap = lineHeight / 2;
    // Rows are numbered from the aligned edge: 0 is the bottom row of a bottom-aligned
    // text, the top row of a top-aligned one.
    auto rowTop = [&](int index) {
        return bottom ? box.bottom() - (index + 1) * lineHeight : box.top() + index * lineHeight;
    };
    struct Placed
    {
        int index;
        QString text;
        RowRoom room;
    };
    std::vector<Placed> placed;
    const QStringList source = layout.lines;
    const int count = int(source.size());
    // A bottom-aligned text is built from its last line up.
    const int maximumRows = 200;
    int used = 0;
    for (int n = 0; n < count; ++n) {
        const QString &line = source[bottom ? count - 1 - n : n];
        QStringList items;
        for (const QString &item : line.split(QStringLiteral(", ")))
            if (!item.trimmed().isEmpty())
                items << item.trimmed();
        bool done = items.isEmpty();
        if (done)
            placed.push_back({used++, QString(), RowRoom{left, right, false}});
        for (int k = 1; !done && k <= maximumRows; ++k) {
            // Rows of this line, top first.
            std::vector<int> indexes;
            for (int t = 0; t < k; ++t)
                indexes.push_back(bottom ? used + k - 1 - t : used + t);
            std::vector<RowRoom> rooms;
            std::vector<double> widths;
            for (int index : indexes) {
                rooms.push_back(RoomOfRow(label, space, left, right, horizontal, rowTop(index), lineHeight, gap));
                widths.push_back(rooms.back().Width());
            }
            std::vector<QString> rows;
            if (!PackItems(items, widths, fm, rows))
                continue;
            for (int t = 0; t < k; ++t)
                placed.push_back({indexes[std::size_t(t)], rows[std::size_t(t)], rooms[std::size_t(t)]});
            used += k;
            done = true;
        }
        if (!done) // no room anywhere: the line as it is
            placed.push_back({used++, line, RowRoom{left, right, false}});
    }
    std::sort(placed.begin(), placed.end(), [&](const Placed &a, const Placed &b) {
        return bottom ? a.index > b.index : a.index < b.index;
    });
    layout.lines.clear();
    layout.lineRects.clear();
    layout.bounds = QRectF();
    for (const Placed &p : placed) {
        const double width = fm.horizontalAdvance(p.text);
        double x = p.room.lo;
        if (horizontal == 1)
            x = box.center().x() - width / 2;
        else if (horizontal == 2)
            x = p.room.hi - width;
        layout.lines << p.text;
        layout.lineRects.emplace_back(x, rowTop(p.index), width, lineHeight);
        layout.bounds = layout.bounds.isNull() ? layout.lineRects.back() : layout.bounds.united(layout.lineRects.back());
    }
}

} // namespace

void NoteCellTexts(LabelSpace &space, const DicomLabels *labels)
{
    space.texts.clear();
    const int n = labels ? labels->Count() : 0;
    LabelSpace plain = space;
    plain.texts.clear();
    for (int i = 1; i <= n; ++i) {
        const DicomLabelPtr label = labels->Item(i);
        if (!label || !label->Visible() || label->ImageTied()
            || (label->LabelType() != DicomLabel::TypeText && label->LabelType() != DicomLabel::TypeOrientation))
            continue;
        const TextLayout layout = LayOutText(*label, plain);
        if (layout.rotation != 0)
            continue;
        for (const QRectF &rect : layout.lineRects)
            if (rect.width() > 0)
                space.texts.emplace_back(label.get(), rect);
    }
}

TextLayout LayOutText(const DicomLabel &label, const LabelSpace &space)
{
    TextLayout layout;
    QString text = label.Text();
    if (label.LabelType() == DicomLabel::TypeOrientation)
        text = space.image ? space.image->EdgeOrientation(text.trimmed()) : QString();
    if (text.isEmpty())
        return layout;

    layout.font = QFont(label.FontName().isEmpty() ? QStringLiteral("Arial") : label.FontName());
    layout.font.setPixelSize(LabelFontPixelSize(label, space.cell));
    layout.lines = SplitLines(text);
    const QFontMetricsF fm(layout.font);
    const double lineHeight = fm.height();

    double textWidth = 0;
    std::vector<double> widths;
    for (const QString &line : layout.lines) {
        widths.push_back(fm.horizontalAdvance(line));
        textWidth = std::max(textWidth, widths.back());
    }
    const double textHeight = lineHeight * layout.lines.size();

    const QPointF start = StartPoint(label, space);
    QRectF box = label.AutoSize() ? QRectF(start, QSizeF(textWidth, textHeight))
                                  : BoxRect(label, space);
    const int alignment = label.Alignment();
    const int horizontal = alignment & 3;
    const bool bottom = (alignment & 8) != 0;
    layout.anchor = start;
    if (label.RotateTextWithImage() && space.image)
        layout.rotation = -90.0 * (space.image->RotateState() & 3);
    if (label.WrapText() && !label.ImageTied() && label.LabelType() == DicomLabel::TypeText
        && layout.rotation == 0) {
        WrapLines(layout, label, space, box, fm);
        return layout;
    }
    double y = bottom ? box.bottom() - textHeight : box.top();
    for (size_t i = 0; i < widths.size(); ++i) {
        double x = box.left();
        if (horizontal == 1)
            x = box.center().x() - widths[i] / 2;
        else if (horizontal == 2)
            x = box.right() - widths[i];
        layout.lineRects.emplace_back(x, y, widths[i], lineHeight);
        layout.bounds = layout.bounds.isNull() ? layout.lineRects.back()
                                               : layout.bounds.united(layout.lineRects.back());
        y += lineHeight;
    }
    return layout;
}

void DrawLabel(QPainter &painter, DicomLabel &label, const LabelSpace &space,
               const LabelDrawOptions &options)
{
    int type = label.LabelType();
    const bool xorMode = options.forceXor || label.XOR();
    bool transparent = label.Transparent();
    if (options.outlineOnly) {
        if (type == DicomLabel::TypeText)
            type = DicomLabel::TypeRectangle;
        else if (type == DicomLabel::TypePolygon)
            type = DicomLabel::TypePolyline;
        transparent = true;
    }

    painter.save();
    if (xorMode)
        painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);

    if (type == DicomLabel::TypeText || type == DicomLabel::TypeOrientation) {
        const TextLayout layout = LayOutText(label, space);
        if (!layout.lines.isEmpty()) {
            DrawTextLayout(painter, label, layout);
            if (options.updateAutoSize && label.AutoSize() && type == DicomLabel::TypeText) {
                // Write the text's extent back in the label's own unit.
                const QPointF s = StartPoint(label, space);
                const QPointF e = s + QPointF(layout.bounds.width(), layout.bounds.height());
                QPointF startUnits(label.Left(), label.Top()), endUnits = startUnits;
                if (label.ImageTied() && space.image) {
                    const QTransform inv = space.imageToClient.inverted();
                    endUnits = inv.map(e);
                    startUnits = inv.map(s);
                } else if (label.ScaleWithCell()) {
                    endUnits = ClientToCellUnits(space.cell, e);
                    startUnits = ClientToCellUnits(space.cell, s);
                } else {
                    endUnits = e;
                }
                const int w = int(std::lround(std::abs(endUnits.x() - startUnits.x())));
                const int h = int(std::lround(std::abs(endUnits.y() - startUnits.y())));
                if (w != label.Width())
                    label.SetWidth(w);
                if (h != label.Height())
                    label.SetHeight(h);
            }
            if (label.SelectMode() != 0 && !options.outlineOnly)
                DrawHandles(painter, label, HandlePoints(label, type, space, layout.bounds));
        }
        painter.restore();
        return;
    }

    const QColor fore = Colour(label.ForeColour());
    const QBrush fill = (!transparent && !xorMode) ? QBrush(Colour(label.BackColour())) : QBrush();
    const int shadow = label.Shadow();
    if (shadow > 0 && !xorMode) {
        painter.save();
        painter.translate(shadow, shadow);
        DrawShape(painter, label, type, space, LabelPen(label, Colour(label.BackColour())),
                  QBrush(), xorMode);
        painter.restore();
    }
    DrawShape(painter, label, type, space, LabelPen(label, fore), fill, xorMode);
    if (label.SelectMode() != 0 && !options.outlineOnly)
        DrawHandles(painter, label, HandlePoints(label, type, space, QRectF()));
    painter.restore();
}

bool LabelHit(const DicomLabel &label, const LabelSpace &space, QPointF client)
{
    const int type = label.LabelType();
    const double tolerance = std::max(kHitTolerance, label.LineWidth() / 2.0 + 2.0);
    switch (type) {
    case DicomLabel::TypeText:
    case DicomLabel::TypeOrientation: {
        const TextLayout layout = LayOutText(label, space);
        if (layout.lines.isEmpty())
            return false;
        QPointF p = client;
        if (layout.rotation != 0) {
            QTransform t;
            t.translate(layout.anchor.x(), layout.anchor.y());
            t.rotate(layout.rotation);
            t.translate(-layout.anchor.x(), -layout.anchor.y());
            p = t.inverted().map(client);
        }
        for (const QRectF &r : layout.lineRects)
            if (r.contains(p))
                return true;
        return false;
    }
    case DicomLabel::TypeRectangle:
        return BoxRect(label, space).adjusted(-tolerance, -tolerance, tolerance, tolerance).contains(client);
    case DicomLabel::TypeEllipse: {
        const QRectF box = BoxRect(label, space).adjusted(-tolerance, -tolerance, tolerance, tolerance);
        const double rx = box.width() / 2, ry = box.height() / 2;
        if (rx <= 0 || ry <= 0)
            return false;
        const double dx = (client.x() - box.center().x()) / rx;
        const double dy = (client.y() - box.center().y()) / ry;
        return dx * dx + dy * dy <= 1.0;
    }
    case DicomLabel::TypeLine:
    case DicomLabel::TypeArrow:
        return DistanceToSegment(client, StartPoint(label, space), EndPoint(label, space)) <= tolerance;
    case DicomLabel::TypePolyline:
        return NearPolyline(PolyPoints(label, space), client, tolerance);
    case DicomLabel::TypePolygon: {
        QPolygonF poly = PolyPoints(label, space);
        if (poly.containsPoint(client, Qt::OddEvenFill))
            return true;
        poly << poly.first();
        return NearPolyline(poly, client, tolerance);
    }
    case DicomLabel::TypePoint:
        return QLineF(PointLabelPosition(label, space), client).length() <= tolerance + 1;
    case DicomLabel::TypeRuler: {
        RulerShape ruler;
        if (!LayOutRuler(label, space, ruler))
            return false;
        if (DistanceToSegment(client, ruler.main.p1(), ruler.main.p2()) <= tolerance)
            return true;
        for (const QLineF &t : ruler.ticks)
            if (DistanceToSegment(client, t.p1(), t.p2()) <= tolerance)
                return true;
        return false;
    }
    default:
        return false;
    }
}

namespace {

// A grey display frame as 32-bit pixels. Done here in one pass on the calling thread:
// QImage's own conversion hands a frame of this size to several pool threads and waits
// for them, which costs more than the conversion itself while other threads decode.
QImage GreyToRgb32(const QImage &frame)
{
    if (frame.format() != QImage::Format_Grayscale8)
        return frame.convertToFormat(QImage::Format_RGB32);
    QImage out(frame.size(), QImage::Format_RGB32);
    if (out.isNull())
        return frame.convertToFormat(QImage::Format_RGB32);
    const int w = frame.width(), h = frame.height();
    const uchar *from = frame.constBits();
    const qsizetype fromStride = frame.bytesPerLine();
    uchar *to = out.bits();
    const qsizetype toStride = out.bytesPerLine();
    for (int y = 0; y < h; ++y) {
        const uchar *src = from + fromStride * y;
        auto *dst = reinterpret_cast<QRgb *>(to + toStride * y);
        for (int x = 0; x < w; ++x)
            dst[x] = 0xFF000000u | (std::uint32_t(src[x]) * 0x010101u);
    }
    return out;
}

} // namespace

void FrameConverter::Clear()
{
    for (Entry &e : entries_)
        if (!e.prepared.isNull())
            spare_ = std::move(e.prepared);
    entries_.clear();
}

QImage FrameConverter::Prepared(const DicomImage &image)
{
    const State state{image.Frame(), image.Width(), image.Level(), image.ModalityLUT(), image.VOILUT(),
                      image.PresentationLUT()};
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&](const Entry &e) { return e.image == &image; });
    if (it != entries_.end() && it->state == state && image.CacheDisplay())
        return it->prepared;
    // The picture this image or one that left the cells had is written over rather than
    // allocated anew at every step (it is only when nothing else holds it).
    QImage reuse;
    if (it != entries_.end()) {
        reuse = std::exchange(it->prepared, QImage());
        it->state.frame = -1; // not valid until written again below
    } else {
        reuse = std::exchange(spare_, QImage());
    }
    auto keep = [&](qint64 sourceKey, const QImage &prepared) {
        if (it == entries_.end()) {
            entries_.push_back({&image, state, sourceKey, prepared});
        } else {
            it->state = state;
            it->sourceKey = sourceKey;
            it->prepared = prepared;
        }
        return prepared;
    };
    const QImage direct = DisplayFrameRgb32(image, reuse);
    if (!direct.isNull())
        return keep(direct.cacheKey(), direct);
    // Not one of ours: the picture goes back where it came from.
    if (it != entries_.end())
        it->prepared = std::move(reuse);
    else
        spare_ = std::move(reuse);
    const QImage frame = image.DisplayFrame();
    if (it != entries_.end() && it->sourceKey == frame.cacheKey()) {
        it->state = state;
        return it->prepared;
    }
    // The raster engine's transformed, filtered fetch is fastest from 32-bit pixels.
    return keep(frame.cacheKey(), frame.format() == QImage::Format_RGB32 ? frame : GreyToRgb32(frame));
}

void FrameConverter::Forget(const DicomImage *image)
{
    for (Entry &e : entries_)
        if (e.image == image && !e.prepared.isNull())
            spare_ = std::move(e.prepared);
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [&](const Entry &e) { return e.image == image; }),
                   entries_.end());
}

bool SmoothDrawing(double actualZoom, int magnificationMode, int minificationMode)
{
    if (actualZoom > 1.0 + 1e-9)
        return magnificationMode >= 1;
    if (actualZoom < 1.0 - 1e-9)
        return minificationMode >= 2;
    return false;
}

namespace {

// Draws `frame` at the painter's transform. On the raster engine, a picture covering
// many rows of the device is drawn in bands of rows (clipped on the device, so that
// filtering still reads the rows beyond each band): drawn whole, the engine splits the
// rows among its pool threads and waits for them, which while other threads decode
// costs more than it saves.
void DrawInBands(QPainter &painter, const QImage &frame)
{
    constexpr int kBand = 48; // rows; the engine keeps fewer than 96 on its own thread
    const QRect device = painter.worldTransform().mapRect(QRectF(frame.rect())).toAlignedRect();
    if (!painter.paintEngine() || painter.paintEngine()->type() != QPaintEngine::Raster
        || device.height() <= 2 * kBand) {
        painter.drawImage(QPointF(0, 0), frame);
        return;
    }
    const QTransform transform = painter.worldTransform();
    for (int y = device.top(); y <= device.bottom(); y += kBand) {
        painter.save();
        painter.resetTransform();
        painter.setClipRect(QRect(device.left(), y, device.width(), kBand), Qt::IntersectClip);
        painter.setTransform(transform);
        painter.drawImage(QPointF(0, 0), frame);
        painter.restore();
    }
}

} // namespace

bool DrawImageCell(QPainter &painter, DicomImage &image, const DisplayGeometry &geometry,
                   const CellDrawOptions &options)
{
    const QRectF cell = geometry.cell;
    bool ok = true;
    painter.save();
    painter.setClipRect(cell, Qt::IntersectClip);
    const QTransform toClient = ImageToClientTransform(geometry);
    if (image.SizeX() > 0 && image.SizeY() > 0) {
        try {
            const QImage frame = options.converter ? options.converter->Prepared(image) : image.DisplayFrame();
            // The painter may itself scale (a picture for printing): what counts is the
            // size of an image pixel on the device.
            const double deviceScale = std::sqrt(std::abs(painter.worldTransform().determinant()));
            painter.save();
            painter.setTransform(toClient, true);
            const bool smooth = SmoothDrawing(ActualZoom(geometry) * deviceScale, image.MagnificationMode(),
                                              image.MinificationMode());
            painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
            DrawInBands(painter, frame);
            painter.restore();
        } catch (const DicomError &) {
            ok = false;
            painter.setPen(QColor(255, 96, 96));
            QFont font(QStringLiteral("Arial"));
            font.setPixelSize(std::max(9, int(std::min(cell.width(), cell.height()) / 20)));
            painter.setFont(font);
            painter.drawText(cell, Qt::AlignCenter | Qt::TextWordWrap,
                             QStringLiteral("Image illisible : les pixels ne peuvent pas être décodés."));
        }
    }

    if (options.drawLabels && image.ShowLabels()) {
        const DicomLabelsPtr labels = image.Labels();
        LabelSpace space{cell, &image, toClient, {}, {}};
        NoteCellTexts(space, labels.get());
        KeepRulersClearOfTexts(space, labels.get());
        LabelDrawOptions labelOptions;
        labelOptions.updateAutoSize = options.updateAutoSize;
        const int n = labels ? labels->Count() : 0;
        for (int i = 1; i <= n; ++i) {
            const DicomLabelPtr label = labels->Item(i);
            if (label && label->Visible())
                DrawLabel(painter, *label, space, labelOptions);
        }
    }
    painter.restore();

    const int borderWidth = image.BorderWidth();
    if (options.drawBorder && borderWidth > 0) {
        painter.save();
        if (!options.borderClip.isEmpty())
            painter.setClipRect(options.borderClip, Qt::IntersectClip);
        QPen pen(Colour(image.BorderColour()));
        pen.setWidth(borderWidth);
        pen.setStyle(PenStyleOf(image.BorderStyle()));
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        // Just outside the cell when the spacing leaves room, else just inside it.
        const double half = borderWidth / 2.0;
        const bool outside = options.borderClip.isEmpty()
                             || options.borderClip.contains(cell.adjusted(-borderWidth, -borderWidth,
                                                                          borderWidth, borderWidth));
        painter.drawRect(outside ? cell.adjusted(-half, -half, half, half)
                                 : cell.adjusted(half, half, -half, -half));
        painter.restore();
    }
    return ok;
}

} // namespace imaging::detail
