// Draws the viewer's pictures at build time: the cursors of the image tools,
// the application icon and the splash picture. Everything is drawn here with
// QPainter; nothing is taken from elsewhere.
//
//   korvane_drawresources <output folder>

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <cstdio>

namespace {

QImage NewCursor()
{
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return image;
}

// Black strokes with a white outline so the cursor shows on any image.
void Outlined(QPainter &p, const QPainterPath &path, qreal width = 2.0)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.strokePath(path, QPen(Qt::white, width + 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.strokePath(path, QPen(Qt::black, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
}

QPainterPath Arrow(QPointF from, QPointF to)
{
    QPainterPath path;
    path.moveTo(from);
    path.lineTo(to);
    const QPointF d = to - from;
    const qreal len = std::hypot(d.x(), d.y());
    const QPointF u = d / len;
    const QPointF n(-u.y(), u.x());
    path.moveTo(to - u * 5 + n * 4);
    path.lineTo(to);
    path.lineTo(to - u * 5 - n * 4);
    return path;
}

QImage ScrollCursor()
{
    QImage image = NewCursor();
    QPainter p(&image);
    QPainterPath path = Arrow({16, 16}, {16, 3});
    path.addPath(Arrow({16, 16}, {16, 29}));
    Outlined(p, path);
    p.setBrush(Qt::black);
    p.setPen(QPen(Qt::white, 1));
    p.drawRect(10, 13, 12, 6);
    return image;
}

QImage WidthLevelCursor()
{
    QImage image = NewCursor();
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 2));
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(16, 16), 11, 11);
    QPainterPath half;
    half.moveTo(16, 5);
    half.arcTo(QRectF(5, 5, 22, 22), 90, 180);
    half.closeSubpath();
    p.fillPath(half, Qt::black);
    p.setPen(QPen(Qt::white, 1));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(16, 16), 12.5, 12.5);
    return image;
}

QImage LensCursor(bool plus)
{
    QImage image = NewCursor();
    QPainter p(&image);
    QPainterPath path;
    path.addEllipse(QPointF(13, 13), 8, 8);
    path.moveTo(19, 19);
    path.lineTo(28, 28);
    Outlined(p, path, 2.5);
    if (plus) {
        QPainterPath cross;
        cross.moveTo(9, 13);
        cross.lineTo(17, 13);
        cross.moveTo(13, 9);
        cross.lineTo(13, 17);
        p.strokePath(cross, QPen(Qt::black, 2));
    } else {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(158, 210, 253, 180));
        p.drawEllipse(QPointF(13, 13), 6.5, 6.5);
    }
    return image;
}

QImage MoveCursor()
{
    QImage image = NewCursor();
    QPainter p(&image);
    QPainterPath path = Arrow({16, 16}, {16, 3});
    path.addPath(Arrow({16, 16}, {16, 29}));
    path.addPath(Arrow({16, 16}, {3, 16}));
    path.addPath(Arrow({16, 16}, {29, 16}));
    Outlined(p, path);
    return image;
}

// A fine cross whose centre (the hot spot) is left open so that the pixel aimed at stays
// visible, and a small ruler in the lower right quarter.
QImage MeasureCursor()
{
    QImage image = NewCursor();
    QPainter p(&image);
    QPainterPath cross;
    cross.moveTo(16, 3);
    cross.lineTo(16, 12);
    cross.moveTo(16, 20);
    cross.lineTo(16, 29);
    cross.moveTo(3, 16);
    cross.lineTo(12, 16);
    cross.moveTo(20, 16);
    cross.lineTo(29, 16);
    Outlined(p, cross, 1.5);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(255, 220, 80));
    p.drawRect(20, 24, 10, 5);
    for (int x = 22; x <= 28; x += 2)
        p.drawLine(x, 24, x, x % 4 == 0 ? 27 : 26);
    return image;
}

QImage Icon()
{
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 0, 32);
    fill.setColorAt(0, QColor(40, 110, 190));
    fill.setColorAt(1, QColor(10, 40, 90));
    p.setBrush(fill);
    p.setPen(QPen(QColor(10, 30, 60), 1));
    p.drawRoundedRect(QRectF(1.5, 1.5, 29, 29), 6, 6);
    // A slice seen from above: the body outline and two lungs.
    p.setPen(QPen(Qt::white, 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(5, 8, 22, 16));
    p.setBrush(QColor(255, 255, 255, 110));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(9, 11, 6, 10));
    p.drawEllipse(QRectF(17, 11, 6, 10));
    return image;
}

QImage Splash()
{
    const int w = 634, h = 443;
    QImage image(w, h, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, h);
    sky.setColorAt(0, QColor(14, 38, 78));
    sky.setColorAt(0.65, QColor(28, 78, 140));
    sky.setColorAt(1, QColor(8, 22, 48));
    p.fillRect(image.rect(), sky);

    // A stylised axial slice on the right.
    const QPointF c(450, 180);
    QRadialGradient body(c, 150);
    body.setColorAt(0, QColor(200, 200, 200));
    body.setColorAt(1, QColor(90, 90, 90));
    p.setPen(QPen(QColor(230, 230, 230), 2));
    p.setBrush(body);
    p.drawEllipse(c, 140, 105);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(25, 25, 25));
    p.drawEllipse(c + QPointF(-58, -8), 46, 62);
    p.drawEllipse(c + QPointF(58, -8), 46, 62);
    p.setBrush(QColor(245, 245, 240));
    p.drawEllipse(c + QPointF(0, 70), 16, 13);
    p.setBrush(QColor(160, 60, 60));
    p.drawEllipse(c + QPointF(8, 5), 24, 28);

    // Scan lines across the picture.
    p.setPen(QPen(QColor(158, 210, 253, 60), 1));
    for (int y = 20; y < h; y += 24)
        p.drawLine(0, y, w, y);

    QFont title(QStringLiteral("Liberation Sans"));
    title.setPixelSize(54);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRect(28, 40, 360, 70), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("KorvaneCD"));
    QFont sub(QStringLiteral("Liberation Sans"));
    sub.setPixelSize(20);
    p.setFont(sub);
    p.setPen(QColor(158, 210, 253));
    p.drawText(QRect(30, 108, 360, 30), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Quellarix"));

    // A darker band at the bottom carries the labels and buttons.
    p.fillRect(QRect(0, h - 112, w, 112), QColor(0, 0, 0, 120));
    return image;
}

bool Save(const QImage &image, const QString &path, const char *format, int quality = -1)
{
    if (!image.save(path, format, quality)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(out.path());
    bool ok = true;
    ok &= Save(ScrollCursor(), out.filePath("cursor_scroll.png"), "PNG");
    ok &= Save(WidthLevelCursor(), out.filePath("cursor_widthlevel.png"), "PNG");
    ok &= Save(LensCursor(false), out.filePath("cursor_magnify.png"), "PNG");
    ok &= Save(MoveCursor(), out.filePath("cursor_move.png"), "PNG");
    ok &= Save(LensCursor(true), out.filePath("cursor_zoom.png"), "PNG");
    ok &= Save(MeasureCursor(), out.filePath("cursor_measure.png"), "PNG");
    ok &= Save(Icon(), out.filePath("korvanecd.png"), "PNG");
    ok &= Save(Splash(), out.filePath("splash.jpg"), "JPG", 90);
    return ok ? 0 : 1;
}
