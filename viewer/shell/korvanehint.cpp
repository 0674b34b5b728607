#include "viewer/shell/korvanehint.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

namespace {
constexpr int kIconSize = 32;
}

TKorvaneHint::TKorvaneHint(QWidget *parent)
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    QFont arial(QStringLiteral("Arial"));
    arial.setPointSize(12);
    setFont(arial);
    hideTimer_.setSingleShot(true);
    hideTimer_.setInterval(10000);
    connect(&hideTimer_, &QTimer::timeout, this, &TKorvaneHint::HideHint);
}

QPixmap TKorvaneHint::Icon() const
{
    return QApplication::windowIcon().pixmap(kIconSize, kIconSize);
}

QSize TKorvaneHint::SizeFor(const QString &text) const
{
    const QFontMetrics metrics(font());
    return QSize(kIconSize + metrics.horizontalAdvance(text) + 18, kIconSize + 8);
}

void TKorvaneHint::ShowHint(const QString &text, const QPoint &position)
{
    text_ = text;
    resize(SizeFor(text));
    QPoint where = position + QPoint(0, 20);
    if (const QScreen *screen = QGuiApplication::screenAt(position)) {
        const QRect area = screen->availableGeometry();
        where.setX(std::min(where.x(), area.right() - width()));
        where.setY(std::min(where.y(), area.bottom() - height()));
    }
    move(where);
    show();
    update();
    hideTimer_.start();
}

void TKorvaneHint::HideHint()
{
    hideTimer_.stop();
    hide();
}

void TKorvaneHint::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(255, 255, 225));
    painter.setPen(Qt::black);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    painter.drawPixmap(5, 5, Icon());
    const QRect textArea(kIconSize + 10, 0, width() - kIconSize - 10, height());
    // Plain drawing: no ampersand turns into an underline.
    painter.drawText(textArea, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, text_);
}
