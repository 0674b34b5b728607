#include "viewer/loading/loadprogressform.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>

namespace {

constexpr int kWidth = 480;
constexpr int kHeight = 100;

// Text with a light edge above-left and a dark one below-right, as a raised label.
void DrawRaised(QPainter &painter, const QRect &box, const QString &text)
{
    painter.setPen(Qt::white);
    painter.drawText(box.translated(-1, -1), Qt::AlignCenter, text);
    painter.setPen(QColor(128, 128, 128));
    painter.drawText(box.translated(1, 1), Qt::AlignCenter, text);
    painter.setPen(Qt::black);
    painter.drawText(box, Qt::AlignCenter, text);
}

} // namespace

LoadProgressForm::LoadProgressForm(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("LoadProgressForm"));
    setWindowTitle(QStringLiteral("Chargement des séries"));
    setFixedSize(kWidth, kHeight);
    setAttribute(Qt::WA_ShowWithoutActivating);
}

QFont LoadProgressForm::TextFont() const
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(12);
    font.setBold(true);
    font.setItalic(true);
    return font;
}

void LoadProgressForm::SetProgress(int series, int image)
{
    progress_ = QStringLiteral("Série: %1  Image: %2").arg(series).arg(image);
    update();
}

void LoadProgressForm::ShowAt(int left)
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    move(left, area.top() + (area.height() - kHeight) / 2);
    show();
    raise();
}

void LoadProgressForm::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QLinearGradient gradient(0, 0, width(), 0);
    gradient.setColorAt(0, Qt::white);
    gradient.setColorAt(1, QColor(192, 192, 192));
    painter.fillRect(rect(), gradient);
    painter.setPen(Qt::black);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(0, 0, width() - 1, height() - 1); // the window's border
    painter.drawRect(9, 9, kWidth - 20, kHeight - 20);
    painter.drawRect(12, 12, kWidth - 26, kHeight - 26);

    painter.setFont(TextFont());
    const int textHeight = QFontMetrics(TextFont()).height();
    DrawRaised(painter, QRect(2, 28, 477, textHeight), TitleText());
    if (!progress_.isEmpty())
        DrawRaised(painter, QRect(2, kHeight - 28 - textHeight / 2, 477, textHeight), progress_);
}
