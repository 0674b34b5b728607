// Draws the viewer's toolbar and menu pictures (32 x 32) at build time with QPainter,
// one PNG per button, named after the button ("TBScroll.png"), and the resource file
// that embeds them under ":/toolbar/". Nothing is taken from elsewhere.
//
//   korvane_drawtoolbar <output folder>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

#include <cmath>
#include <cstdio>
#include <functional>
#include <map>

namespace {

const QColor kInk(31, 58, 95);        // dark navy strokes
const QColor kAccent(255, 128, 0);    // orange
const QColor kSky(158, 210, 253);     // light blue
const QColor kFilm(24, 24, 24);       // image background
const QColor kBone(225, 225, 215);    // image content
const QColor kGreen(40, 150, 70);
const QColor kRed(200, 40, 40);

QPen Pen(const QColor &c, qreal w = 2.0)
{
    return QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// A small "film": a dark rectangle with a round shape in it, the usual image symbol.
void Film(QPainter &p, const QRectF &r, bool content = true)
{
    p.setPen(Pen(kInk, 1.5));
    p.setBrush(kFilm);
    p.drawRoundedRect(r, 2, 2);
    if (content) {
        p.setPen(Qt::NoPen);
        QRadialGradient g(r.center(), r.width() * 0.35);
        g.setColorAt(0, kBone);
        g.setColorAt(1, QColor(90, 90, 90));
        p.setBrush(g);
        p.drawEllipse(r.center(), r.width() * 0.28, r.height() * 0.3);
    }
}

void Arrow(QPainter &p, QPointF from, QPointF to, const QColor &c, qreal w = 2.5, qreal head = 5)
{
    p.setPen(Pen(c, w));
    p.drawLine(from, to);
    const QPointF d = to - from;
    const qreal len = std::hypot(d.x(), d.y());
    if (len == 0)
        return;
    const QPointF u = d / len, n(-u.y(), u.x());
    QPainterPath path;
    path.moveTo(to + u * 1.5);
    path.lineTo(to - u * head + n * head * 0.8);
    path.lineTo(to - u * head - n * head * 0.8);
    path.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPath(path);
}

void Triangle(QPainter &p, QPointF tip, qreal size, bool left, const QColor &c)
{
    QPainterPath path;
    const qreal dx = left ? size : -size;
    path.moveTo(tip);
    path.lineTo(tip + QPointF(dx, -size));
    path.lineTo(tip + QPointF(dx, size));
    path.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPath(path);
}

void Bar(QPainter &p, qreal x, qreal y, qreal h, const QColor &c)
{
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawRect(QRectF(x, y - h / 2, 3, h));
}

// Navigation: a stack of series (several films) or one film, with a direction mark.
void Navigation(QPainter &p, bool series, int kind)
{
    // kind: 0 first, 1 prior, 2 next, 3 last
    if (series) {
        Film(p, QRectF(11, 5, 16, 14), false);
        Film(p, QRectF(8, 8, 16, 14), false);
        Film(p, QRectF(5, 11, 16, 14));
    } else {
        Film(p, QRectF(8, 6, 17, 17));
    }
    const qreal y = 27, size = 4.5;
    const QColor c = kAccent;
    switch (kind) {
    case 0:
        Bar(p, 8, y, 9, c);
        Triangle(p, {12, y}, size, true, c);
        Triangle(p, {18, y}, size, true, c);
        break;
    case 1:
        Triangle(p, {12, y}, size, true, c);
        break;
    case 2:
        Triangle(p, {21, y}, size, false, c);
        break;
    case 3:
        Triangle(p, {14, y}, size, false, c);
        Triangle(p, {20, y}, size, false, c);
        Bar(p, 21, y, 9, c);
        break;
    }
}

void Magnifier(QPainter &p, QPointF centre, qreal radius, bool plus)
{
    p.setPen(Pen(kInk, 3.5));
    p.drawLine(centre + QPointF(radius * 0.7, radius * 0.7), centre + QPointF(radius * 1.7, radius * 1.7));
    p.setPen(Pen(kInk, 2));
    QRadialGradient g(centre - QPointF(radius / 3, radius / 3), radius);
    g.setColorAt(0, Qt::white);
    g.setColorAt(1, kSky);
    p.setBrush(g);
    p.drawEllipse(centre, radius, radius);
    if (plus) {
        p.setPen(Pen(kAccent, 2.2));
        p.drawLine(centre - QPointF(radius / 2, 0), centre + QPointF(radius / 2, 0));
        p.drawLine(centre - QPointF(0, radius / 2), centre + QPointF(0, radius / 2));
    }
}

void Letter(QPainter &p, const QRectF &r, const QString &text, const QColor &c, int pixels, bool bold = true)
{
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(pixels);
    f.setBold(bold);
    p.setFont(f);
    p.setPen(c);
    p.drawText(r, Qt::AlignCenter, text);
}

void Grid(QPainter &p, int columns, int rows, const QRectF &r)
{
    const qreal w = r.width() / columns, h = r.height() / rows;
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < columns; ++j)
            Film(p, QRectF(r.left() + j * w + 0.5, r.top() + i * h + 0.5, w - 1.5, h - 1.5), columns * rows < 4 || true);
}

// Two crossing planes with a reference line.
void Reference(QPainter &p, int lines)
{
    Film(p, QRectF(4, 5, 24, 22), false);
    p.setPen(Pen(kAccent, 1.8));
    const qreal xs[] = {9, 16, 23};
    const int count = lines == 3 ? 3 : lines == 2 ? 2 : 1;
    for (int i = 0; i < count; ++i) {
        const qreal x = lines == 2 ? (i == 0 ? 9 : 23) : lines == 1 ? 16 : xs[i];
        p.setPen(QPen(kAccent, 1.8, Qt::DotLine));
        p.drawLine(QPointF(x, 7), QPointF(x, 25));
    }
    if (lines == 2) {
        p.setPen(QPen(kAccent, 1.8, Qt::DotLine));
        p.drawLine(QPointF(16, 7), QPointF(16, 25));
    }
}

void Chain(QPainter &p, bool automatic)
{
    Film(p, QRectF(2, 6, 13, 16), true);
    Film(p, QRectF(17, 6, 13, 16), true);
    p.setPen(Pen(automatic ? kGreen : kAccent, 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(9, 22, 8, 6));
    p.drawEllipse(QRectF(15, 22, 8, 6));
    if (!automatic)
        Letter(p, QRectF(0, 0, 32, 8), QStringLiteral("M"), kInk, 8);
}

using Painter = std::function<void(QPainter &)>;

std::map<QString, Painter> Pictures()
{
    std::map<QString, Painter> m;
    m["TBVisiteOuvrir"] = [](QPainter &p) {
        // A folder opening, with a disc.
        p.setPen(Pen(kInk, 1.5));
        p.setBrush(QColor(245, 200, 90));
        QPainterPath back;
        back.moveTo(3, 8); back.lineTo(12, 8); back.lineTo(14, 11); back.lineTo(27, 11); back.lineTo(27, 26);
        back.lineTo(3, 26); back.closeSubpath();
        p.drawPath(back);
        p.setBrush(QColor(255, 222, 130));
        QPainterPath front;
        front.moveTo(3, 26); front.lineTo(8, 15); front.lineTo(30, 15); front.lineTo(27, 26); front.closeSubpath();
        p.drawPath(front);
        QRadialGradient g(QPointF(22, 8), 7);
        g.setColorAt(0, Qt::white); g.setColorAt(0.6, kSky); g.setColorAt(1, QColor(150, 150, 210));
        p.setBrush(g);
        p.drawEllipse(QPointF(22, 8), 6.5, 6.5);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(22, 8), 1.5, 1.5);
    };
    m["TBVisiteOuvrir_blink"] = [m](QPainter &p) {
        m.at("TBVisiteOuvrir")(p);
        p.setPen(Pen(kAccent, 2.5));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(1.5, 1.5, 29, 29), 4, 4);
    };
    m["TBVisiteFermer"] = [](QPainter &p) {
        // A door with an arrow leaving.
        p.setPen(Pen(kInk, 1.5));
        p.setBrush(QColor(160, 110, 70));
        p.drawRect(QRectF(5, 4, 14, 24));
        p.setBrush(kAccent);
        p.drawEllipse(QPointF(16, 17), 1.4, 1.4);
        Arrow(p, {17, 16}, {29, 16}, kRed, 3, 5);
    };
    const char *nav[] = {"TBSerieFirst", "TBSeriePrior", "TBSerieNext", "TBSerieLast",
                         "TBImageFirst", "TBImagePrior", "TBImageNext", "TBImageLast"};
    for (int i = 0; i < 8; ++i)
        m[QLatin1String(nav[i])] = [i](QPainter &p) { Navigation(p, i < 4, i % 4); };
    m["TBScroll"] = [](QPainter &p) {
        Film(p, QRectF(9, 9, 14, 14));
        Arrow(p, {16, 9}, {16, 2}, kAccent, 2.5, 4);
        Arrow(p, {16, 23}, {16, 30}, kAccent, 2.5, 4);
    };
    m["TBZoom"] = [](QPainter &p) {
        Film(p, QRectF(3, 3, 12, 12), false);
        p.setPen(Pen(kInk, 1.5));
        p.setBrush(kFilm);
        p.drawRoundedRect(QRectF(10, 10, 19, 19), 2, 2);
        p.setPen(Qt::NoPen);
        p.setBrush(kBone);
        p.drawEllipse(QPointF(19.5, 19.5), 6, 6.5);
        Arrow(p, {7, 7}, {14, 14}, kAccent, 2.2, 4);
    };
    m["TBMagnify"] = [](QPainter &p) { Magnifier(p, {13, 13}, 9, true); };
    m["TBMagnify2"] = [](QPainter &p) {
        Film(p, QRectF(3, 3, 26, 26), false);
        p.setPen(Pen(kAccent, 2));
        QRadialGradient g(QPointF(15, 15), 9);
        g.setColorAt(0, Qt::white); g.setColorAt(1, QColor(120, 120, 120));
        p.setBrush(g);
        p.drawEllipse(QPointF(16, 16), 9, 9);
    };
    m["TBImageIntensite"] = [](QPainter &p) {
        // Half dark, half light disc: contrast.
        p.setPen(Pen(kInk, 1.5));
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(16, 16), 12, 12);
        p.setBrush(kFilm);
        p.drawPie(QRectF(4, 4, 24, 24), 90 * 16, 180 * 16);
        p.setPen(Pen(kAccent, 2));
        p.drawLine(QPointF(16, 2), QPointF(16, 30));
    };
    m["TBMove"] = [](QPainter &p) {
        Arrow(p, {16, 16}, {16, 3}, kInk, 2.5, 4.5);
        Arrow(p, {16, 16}, {16, 29}, kInk, 2.5, 4.5);
        Arrow(p, {16, 16}, {3, 16}, kInk, 2.5, 4.5);
        Arrow(p, {16, 16}, {29, 16}, kInk, 2.5, 4.5);
        p.setPen(Qt::NoPen);
        p.setBrush(kAccent);
        p.drawEllipse(QPointF(16, 16), 3.5, 3.5);
    };
    m["TBLbl"] = [](QPainter &p) {
        p.setPen(Pen(kInk, 1.5));
        p.setBrush(QColor(255, 250, 200));
        p.drawRoundedRect(QRectF(3, 6, 26, 20), 3, 3);
        Letter(p, QRectF(3, 6, 26, 20), QStringLiteral("Abc"), kInk, 11);
    };
    m["TBMesureLine"] = [](QPainter &p) {
        Film(p, QRectF(2, 2, 28, 28), false);
        p.setPen(Pen(QColor(0, 255, 255), 2));
        p.drawLine(QPointF(7, 24), QPointF(25, 8));
        p.setBrush(QColor(0, 255, 255));
        p.drawEllipse(QPointF(7, 24), 2, 2);
        p.drawEllipse(QPointF(25, 8), 2, 2);
        Letter(p, QRectF(4, 3, 14, 12), QStringLiteral("A"), QColor(0, 255, 255), 10);
    };
    m["TBMesureEllipse"] = [](QPainter &p) {
        Film(p, QRectF(2, 2, 28, 28), false);
        p.setPen(Pen(QColor(0, 255, 255), 2));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(6, 9, 20, 15));
    };
    m["TBMesureAngle"] = [](QPainter &p) {
        Film(p, QRectF(2, 2, 28, 28), false);
        p.setPen(Pen(QColor(0, 255, 255), 2));
        p.drawLine(QPointF(6, 25), QPointF(26, 25));
        p.drawLine(QPointF(6, 25), QPointF(21, 7));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(-2, 17, 16, 16), 0, 50 * 16);
    };
    m["TBIndication"] = [](QPainter &p) {
        Film(p, QRectF(2, 2, 28, 28), true);
        Arrow(p, {26, 26}, {12, 12}, QColor(0, 255, 255), 2.2, 5);
    };
    m["TBImageReset"] = [](QPainter &p) {
        Film(p, QRectF(7, 7, 18, 18));
        p.setPen(Pen(kGreen, 2.5));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(3, 3, 26, 26), 30 * 16, 300 * 16);
        Triangle(p, {29, 10}, 4, false, kGreen);
    };
    m["TBStretch"] = [](QPainter &p) {
        p.setPen(Pen(kInk, 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(2, 2, 28, 28));
        Film(p, QRectF(11, 11, 10, 10));
        Arrow(p, {10, 10}, {4, 4}, kAccent, 2, 3.5);
        Arrow(p, {22, 10}, {28, 4}, kAccent, 2, 3.5);
        Arrow(p, {10, 22}, {4, 28}, kAccent, 2, 3.5);
        Arrow(p, {22, 22}, {28, 28}, kAccent, 2, 3.5);
    };
    m["TBSmoothing"] = [](QPainter &p) {
        // Steps on the left, a smooth curve on the right.
        p.setPen(Pen(kInk, 2));
        QPainterPath steps;
        steps.moveTo(3, 26); steps.lineTo(3, 20); steps.lineTo(7, 20); steps.lineTo(7, 14); steps.lineTo(11, 14);
        steps.lineTo(11, 8); steps.lineTo(15, 8);
        p.drawPath(steps);
        p.setPen(Pen(kAccent, 2.5));
        QPainterPath curve;
        curve.moveTo(16, 26);
        curve.cubicTo(20, 26, 22, 8, 29, 8);
        p.drawPath(curve);
    };
    m["TBInvert"] = [](QPainter &p) {
        p.setPen(Pen(kInk, 1.5));
        p.setBrush(kFilm);
        p.drawRect(QRectF(3, 5, 13, 22));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(16, 5, 13, 22));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(11, 16), 4, 6);
        p.setBrush(kFilm);
        p.drawEllipse(QPointF(21, 16), 4, 6);
    };
    m["TBStudyExplode"] = [](QPainter &p) {
        Grid(p, 2, 2, QRectF(2, 2, 15, 15));
        Film(p, QRectF(13, 13, 17, 17));
        Arrow(p, {9, 23}, {4, 28}, kAccent, 2, 3.5);
    };
    m["TBWinSimple"] = [](QPainter &p) { Film(p, QRectF(4, 4, 24, 24)); };
    m["TBWinMultiple"] = [](QPainter &p) { Grid(p, 2, 2, QRectF(3, 3, 27, 27)); };
    m["Rotationdroite"] = [](QPainter &p) {
        Film(p, QRectF(8, 10, 16, 16));
        p.setPen(Pen(kAccent, 2.5));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(5, 3, 22, 16), 160 * 16, -140 * 16);
        Triangle(p, {27, 9}, 4, false, kAccent);
    };
    m["Rotationgauche"] = [](QPainter &p) {
        Film(p, QRectF(8, 10, 16, 16));
        p.setPen(Pen(kAccent, 2.5));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(5, 3, 22, 16), 20 * 16, 140 * 16);
        Triangle(p, {5, 9}, 4, true, kAccent);
    };
    m["Miroirhorizontal"] = [](QPainter &p) {
        p.setPen(QPen(kInk, 1.5, Qt::DashLine));
        p.drawLine(QPointF(16, 2), QPointF(16, 30));
        QPainterPath left;
        left.moveTo(14, 8); left.lineTo(4, 24); left.lineTo(14, 24); left.closeSubpath();
        QPainterPath right;
        right.moveTo(18, 8); right.lineTo(28, 24); right.lineTo(18, 24); right.closeSubpath();
        p.setPen(Pen(kInk, 1.5));
        p.setBrush(kInk);
        p.drawPath(left);
        p.setBrush(kSky);
        p.drawPath(right);
    };
    m["Miroirvertical"] = [](QPainter &p) {
        p.setPen(QPen(kInk, 1.5, Qt::DashLine));
        p.drawLine(QPointF(2, 16), QPointF(30, 16));
        QPainterPath top;
        top.moveTo(8, 14); top.lineTo(24, 4); top.lineTo(24, 14); top.closeSubpath();
        QPainterPath bottom;
        bottom.moveTo(8, 18); bottom.lineTo(24, 28); bottom.lineTo(24, 18); bottom.closeSubpath();
        p.setPen(Pen(kInk, 1.5));
        p.setBrush(kInk);
        p.drawPath(top);
        p.setBrush(kSky);
        p.drawPath(bottom);
    };
    m["TBAllRef"] = [](QPainter &p) { Reference(p, 3); };
    m["TBFirstLastRef"] = [](QPainter &p) { Reference(p, 2); };
    m["TBCurrentRef"] = [](QPainter &p) { Reference(p, 1); };
    m["TBSeriesAuto"] = [](QPainter &p) { Chain(p, true); };
    m["TBSeriesManual"] = [](QPainter &p) { Chain(p, false); };
    m["TBLabelOvl"] = [](QPainter &p) {
        Film(p, QRectF(2, 2, 28, 28));
        Letter(p, QRectF(3, 2, 16, 10), QStringLiteral("Txt"), kSky, 8);
        Letter(p, QRectF(13, 20, 16, 10), QStringLiteral("W L"), kSky, 7);
    };
    m["TBMesureCancel"] = [](QPainter &p) {
        Film(p, QRectF(2, 2, 28, 28), false);
        p.setPen(Pen(QColor(0, 255, 255), 2));
        p.drawLine(QPointF(6, 24), QPointF(24, 8));
        p.setPen(Pen(kRed, 3));
        p.drawLine(QPointF(8, 8), QPointF(24, 24));
        p.drawLine(QPointF(24, 8), QPointF(8, 24));
    };
    m["TBCalibration"] = [](QPainter &p) {
        // A ruler.
        p.setPen(Pen(kInk, 1.5));
        p.setBrush(QColor(250, 225, 120));
        p.translate(16, 16);
        p.rotate(-35);
        p.drawRect(QRectF(-14, -5, 28, 10));
        for (int i = -12; i <= 12; i += 3)
            p.drawLine(QPointF(i, -5), QPointF(i, (i % 6 == 0) ? 0 : -2));
        p.resetTransform();
    };
    m["TBCine"] = [](QPainter &p) {
        p.setPen(Pen(kInk, 1.5));
        p.setBrush(kFilm);
        p.drawRect(QRectF(3, 6, 26, 20));
        p.setBrush(Qt::white);
        for (int x = 5; x < 28; x += 5) {
            p.drawRect(QRectF(x, 7.5, 2.5, 2.5));
            p.drawRect(QRectF(x, 22, 2.5, 2.5));
        }
        Triangle(p, {21, 16}, 5, false, kAccent);
    };
    m["TBInfos"] = [](QPainter &p) {
        p.setPen(Pen(kInk, 1.5));
        p.setBrush(QColor(60, 110, 200));
        p.drawEllipse(QPointF(16, 16), 13, 13);
        Letter(p, QRectF(3, 3, 26, 26), QStringLiteral("i"), Qt::white, 20);
    };
    m["TBReport"] = [](QPainter &p) {
        p.setPen(Pen(kInk, 1.5));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(7, 3, 18, 26));
        for (int y = 8; y < 26; y += 4)
            p.drawLine(QPointF(10, y), QPointF(22, y));
    };
    m["TBThumbnails"] = [](QPainter &p) { Grid(p, 3, 3, QRectF(2, 2, 28, 28)); };
    m["TBPellux"] = [](QPainter &p) {
        // A microphone.
        p.setPen(Pen(kInk, 1.5));
        p.setBrush(QColor(90, 90, 100));
        p.drawRoundedRect(QRectF(11, 3, 10, 16), 5, 5);
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(7, 8, 18, 16), 180 * 16, 180 * 16);
        p.drawLine(QPointF(16, 24), QPointF(16, 29));
        p.drawLine(QPointF(11, 29), QPointF(21, 29));
        p.setPen(Qt::NoPen);
        p.setBrush(kRed);
        p.drawEllipse(QPointF(25, 6), 3, 3);
    };
    // The dictation button's pictures, one per state of the recorder: 55 no recorder,
    // 56 paused or stopped, 57 recording, 58 recorder created, 59 dictation saved,
    // 60 playing.
    auto microphone = [](QPainter &p, const QColor &body) {
        p.setPen(Pen(kInk, 1.5));
        p.setBrush(body);
        p.drawRoundedRect(QRectF(8, 3, 10, 16), 5, 5);
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(4, 8, 18, 16), 180 * 16, 180 * 16);
        p.drawLine(QPointF(13, 24), QPointF(13, 29));
        p.drawLine(QPointF(8, 29), QPointF(18, 29));
    };
    m["TBPellux55"] = [microphone](QPainter &p) { microphone(p, QColor(150, 150, 158)); };
    m["TBPellux56"] = [microphone](QPainter &p) {
        microphone(p, QColor(90, 90, 100));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(30, 90, 200));
        p.drawRect(QRectF(21, 14, 3.5, 12));
        p.drawRect(QRectF(26.5, 14, 3.5, 12));
    };
    m["TBPellux57"] = [microphone](QPainter &p) {
        microphone(p, QColor(90, 90, 100));
        p.setPen(Pen(QColor(120, 0, 0), 1));
        p.setBrush(kRed);
        p.drawEllipse(QPointF(25, 20), 5.5, 5.5);
    };
    m["TBPellux58"] = [microphone](QPainter &p) {
        microphone(p, QColor(90, 90, 100));
        p.setPen(Pen(QColor(0, 80, 0), 1));
        p.setBrush(kGreen);
        p.drawEllipse(QPointF(25, 7), 4, 4);
    };
    m["TBPellux59"] = [microphone](QPainter &p) {
        microphone(p, QColor(90, 90, 100));
        p.setPen(Pen(kGreen, 3));
        p.drawLine(QPointF(19, 19), QPointF(23, 24));
        p.drawLine(QPointF(23, 24), QPointF(30, 13));
    };
    m["TBPellux60"] = [microphone](QPainter &p) {
        microphone(p, QColor(90, 90, 100));
        Triangle(p, {31, 20}, 6.5, false, kGreen);
    };
    m["TBStack"] = [](QPainter &p) {
        for (int i = 0; i < 4; ++i) {
            p.setPen(Pen(kInk, 1.2));
            p.setBrush(i == 3 ? kSky : QColor(200, 200, 200));
            QPolygonF sheet;
            const qreal y = 22 - i * 5;
            sheet << QPointF(4, y) << QPointF(20, y - 4) << QPointF(28, y) << QPointF(12, y + 4);
            p.drawPolygon(sheet);
        }
    };
    m["TBMPR"] = [](QPainter &p) { Letter(p, QRectF(0, 0, 32, 32), QStringLiteral("MPR"), kInk, 11); };
    m["Configurationusager1"] = [](QPainter &p) {
        p.setPen(Pen(kInk, 1.5));
        p.setBrush(kSky);
        p.drawEllipse(QPointF(16, 10), 6, 6);
        p.drawPie(QRectF(5, 17, 22, 22), 0, 180 * 16);
    };
    return m;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: korvane_drawtoolbar <output folder>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(out.absolutePath());
    QString qrc = QStringLiteral("<!DOCTYPE RCC><RCC version=\"1.0\">\n<qresource prefix=\"/toolbar\">\n");
    for (const auto &[name, paint] : Pictures()) {
        QImage image(32, 32, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        {
            QPainter p(&image);
            p.setRenderHint(QPainter::Antialiasing);
            p.setRenderHint(QPainter::TextAntialiasing);
            paint(p);
        }
        const QString file = out.filePath(name + QStringLiteral(".png"));
        if (!image.save(file, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
        qrc += QStringLiteral("  <file alias=\"%1.png\">%2</file>\n").arg(name, file);
    }
    qrc += QStringLiteral("</qresource>\n</RCC>\n");
    QFile qrcFile(out.filePath(QStringLiteral("toolbar.qrc")));
    if (!qrcFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 1;
    QTextStream(&qrcFile) << qrc;
    return 0;
}
