// Display geometry: where an image lands in its cell and the conversions both ways.

#include "imaging/geometry.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <vector>

namespace imaging {

QSizeF PixelScale(const DisplayGeometry &g)
{
    const double aspect = g.pixelAspect;
    if (!(aspect > 0) || !std::isfinite(aspect) || aspect == 1.0)
        return QSizeF(1, 1);
    return aspect > 1 ? QSizeF(1, aspect) : QSizeF(1 / aspect, 1);
}

QSizeF DisplayedSize(const DisplayGeometry &g)
{
    const QSizeF scale = PixelScale(g);
    const double w = g.sizeX * scale.width(), h = g.sizeY * scale.height();
    const bool swap = (g.rotateState & 1) != 0;
    return swap ? QSizeF(h, w) : QSizeF(w, h);
}

double ActualZoom(const DisplayGeometry &g)
{
    if (!g.stretchToFit)
        return g.zoom;
    const QSizeF s = DisplayedSize(g);
    if (s.width() <= 0 || s.height() <= 0 || g.cell.width() <= 0 || g.cell.height() <= 0)
        return g.zoom;
    return std::min(g.cell.width() / s.width(), g.cell.height() / s.height());
}

QPointF CentredScroll(const DisplayGeometry &g)
{
    const QSizeF s = DisplayedSize(g);
    const double z = ActualZoom(g);
    return QPointF(-(g.cell.width() - s.width() * z) / 2, -(g.cell.height() - s.height() * z) / 2);
}

QPointF ActualScroll(const DisplayGeometry &g)
{
    if (!g.stretchToFit)
        return QPointF(g.scrollX, g.scrollY);
    return CentredScroll(g);
}

QTransform ImageToClientTransform(const DisplayGeometry &g)
{
    // Built from the right: pixel shape, quarter turns, mirrors on the screen's axes,
    // zoom, then placement in the cell.
    QTransform t;
    const double z = ActualZoom(g);
    const QPointF scroll = ActualScroll(g);
    t.translate(g.cell.left() - scroll.x(), g.cell.top() - scroll.y());
    t.scale(z, z);
    const QSizeF scale = PixelScale(g);
    double w = g.sizeX * scale.width(), h = g.sizeY * scale.height();
    std::vector<QTransform> steps;
    if (scale != QSizeF(1, 1))
        steps.push_back(QTransform::fromScale(scale.width(), scale.height()));
    for (int k = 0; k < (g.rotateState & 3); ++k) {
        // (x, y) -> (y, w - x), w being the width before this turn.
        steps.push_back(QTransform(0, -1, 1, 0, 0, w));
        std::swap(w, h);
    }
    if (g.flipState & 1)
        steps.push_back(QTransform(-1, 0, 0, 1, w, 0));
    if (g.flipState & 2)
        steps.push_back(QTransform(1, 0, 0, -1, 0, h));
    QTransform pre;
    for (const QTransform &s : steps)
        pre = pre * s; // QTransform composes left to right: apply s after pre
    return pre * t;
}

QPointF ImageToClient(const DisplayGeometry &g, QPointF image)
{
    return ImageToClientTransform(g).map(image);
}

QPointF ClientToImage(const DisplayGeometry &g, QPointF client)
{
    bool invertible = false;
    const QTransform inv = ImageToClientTransform(g).inverted(&invertible);
    if (!invertible)
        return QPointF(-1, -1);
    return inv.map(client);
}

QRectF ImageRectInClient(const DisplayGeometry &g)
{
    return ImageToClientTransform(g).mapRect(QRectF(0, 0, g.sizeX, g.sizeY));
}

PixelPosition ImagePixelAt(const DisplayGeometry &g, QPointF client)
{
    PixelPosition p;
    if (g.sizeX <= 0 || g.sizeY <= 0)
        return p;
    const QPointF i = ClientToImage(g, client);
    const double x = std::floor(i.x()), y = std::floor(i.y());
    if (x < 0 || y < 0 || x >= g.sizeX || y >= g.sizeY)
        return p;
    p.x = static_cast<int>(x);
    p.y = static_cast<int>(y);
    return p;
}

QPointF CellUnitsToClient(const QRectF &cell, QPointF units)
{
    return QPointF(cell.left() + units.x() * cell.width() / 1000.0,
                   cell.top() + units.y() * cell.height() / 1000.0);
}

QPointF ClientToCellUnits(const QRectF &cell, QPointF client)
{
    if (cell.width() <= 0 || cell.height() <= 0)
        return QPointF();
    return QPointF((client.x() - cell.left()) * 1000.0 / cell.width(),
                   (client.y() - cell.top()) * 1000.0 / cell.height());
}

QString EdgeOrientationLetters(const double rowDirection[3], const double columnDirection[3],
                               const DisplayGeometry &g, const QString &edge,
                               const QString &directionStrings)
{
    // Patient directions of the displayed right and down axes.
    double right[3], down[3];
    for (int i = 0; i < 3; ++i) {
        right[i] = rowDirection[i];
        down[i] = columnDirection[i];
    }
    for (int k = 0; k < (g.rotateState & 3); ++k) {
        // After an anticlockwise turn the screen's right is the old down and the screen's
        // down is the old left.
        for (int i = 0; i < 3; ++i) {
            const double r = right[i];
            right[i] = down[i];
            down[i] = -r;
        }
    }
    // The mirrors act on the screen's axes, after the turns.
    if (g.flipState & 1)
        for (double &v : right) v = -v;
    if (g.flipState & 2)
        for (double &v : down) v = -v;
    double v[3];
    if (edge.compare("Right", Qt::CaseInsensitive) == 0)
        for (int i = 0; i < 3; ++i) v[i] = right[i];
    else if (edge.compare("Left", Qt::CaseInsensitive) == 0)
        for (int i = 0; i < 3; ++i) v[i] = -right[i];
    else if (edge.compare("Bottom", Qt::CaseInsensitive) == 0)
        for (int i = 0; i < 3; ++i) v[i] = down[i];
    else if (edge.compare("Top", Qt::CaseInsensitive) == 0)
        for (int i = 0; i < 3; ++i) v[i] = -down[i];
    else
        return QString();
    QStringList letters = directionStrings.split('\\');
    while (letters.size() < 6)
        letters << QString();
    int order[3] = {0, 1, 2};
    std::sort(order, order + 3, [&](int a, int b) { return std::fabs(v[a]) > std::fabs(v[b]); });
    QString out;
    for (int k : order) {
        if (std::fabs(v[k]) < 0.1)
            continue;
        // Letters come in pairs per axis: -x right, +x left, -y anterior, +y posterior,
        // -z feet, +z head.
        out += letters.at(2 * k + (v[k] > 0 ? 1 : 0));
    }
    return out;
}

} // namespace imaging
