#include "viewer/window/ownerdrawmenu.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOptionMenuItem>

TOwnerDrawStyle::TOwnerDrawStyle(bool shortcutColumn, int *columnWidth)
    : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))), shortcutColumn_(shortcutColumn),
      columnWidth_(columnWidth)
{
}

QFont TOwnerDrawStyle::MenuFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(12);
    return font;
}

QSize TOwnerDrawStyle::ItemSize(const QString &caption, const QString &shortcut, bool separator) const
{
    const QFontMetrics metrics(MenuFont());
    const int height = metrics.height() + 3;
    if (separator)
        return QSize(metrics.horizontalAdvance(caption) + (shortcutColumn_ ? 75 : 20), height);
    int width = metrics.horizontalAdvance(caption) + (shortcutColumn_ ? 75 : 20);
    if (shortcutColumn_ && !shortcut.isEmpty()) {
        const int column = metrics.horizontalAdvance(shortcut) + 20;
        width += column;
        if (columnWidth_ && column > *columnWidth_)
            *columnWidth_ = column;
    }
    return QSize(width, height);
}

QSize TOwnerDrawStyle::sizeFromContents(ContentsType type, const QStyleOption *option, const QSize &size,
                                        const QWidget *widget) const
{
    if (type == CT_MenuItem) {
        if (const auto *item = qstyleoption_cast<const QStyleOptionMenuItem *>(option)) {
            const QString caption = item->text.section(QLatin1Char('\t'), 0, 0);
            const QString shortcut = item->text.section(QLatin1Char('\t'), 1);
            return ItemSize(caption, shortcut, item->menuItemType == QStyleOptionMenuItem::Separator);
        }
    }
    return QProxyStyle::sizeFromContents(type, option, size, widget);
}

void TOwnerDrawStyle::drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                                  const QWidget *widget) const
{
    const auto *item = qstyleoption_cast<const QStyleOptionMenuItem *>(option);
    if (element != CE_MenuItem || !item) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    painter->save();
    const QRect r = item->rect;
    const QPalette &pal = item->palette;
    const bool selected = item->state & State_Selected;
    const bool enabled = item->state & State_Enabled;
    painter->fillRect(r, selected && enabled ? pal.color(QPalette::Highlight) : pal.color(QPalette::Window));

    if (item->menuItemType == QStyleOptionMenuItem::Separator) {
        const int y = r.top() + r.height() / 2;
        painter->setPen(QColor(128, 128, 128));
        painter->drawLine(r.left(), y, r.right(), y);
        painter->setPen(pal.color(QPalette::Light));
        painter->drawLine(r.left(), y + 1, r.right(), y + 1);
        painter->restore();
        return;
    }

    painter->setFont(MenuFont());
    const QColor text = selected ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::WindowText);
    if (item->checked) {
        // Filled bullet in an 8-pixel box, 3 from the left and 6 from top and bottom.
        const QRect box(r.left() + 3, r.top() + 6, 8, std::max(2, r.height() - 12));
        const int d = std::min(box.width(), box.height());
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(enabled ? text : pal.color(QPalette::Disabled, QPalette::WindowText));
        painter->drawEllipse(QRectF(box.left() + (box.width() - d) / 2.0, box.top() + (box.height() - d) / 2.0, d, d));
    }
    const QString caption = item->text.section(QLatin1Char('\t'), 0, 0);
    const QString shortcut = item->text.section(QLatin1Char('\t'), 1);
    const QRect textRect = r.adjusted(14, 0, 0, 0);
    const int column = columnWidth_ ? *columnWidth_ : 0;
    const QRect shortcutRect(r.right() - column, r.top(), std::max(0, column - 6), r.height());
    auto drawTexts = [&](const QColor &colour, int offset) {
        painter->setPen(colour);
        painter->drawText(textRect.translated(offset, offset), Qt::AlignLeft | Qt::AlignVCenter,
                          caption);
        if (shortcutColumn_ && !shortcut.isEmpty())
            painter->drawText(shortcutRect.translated(offset, offset), Qt::AlignRight | Qt::AlignVCenter, shortcut);
    };
    if (!enabled) {
        // Embossed: once in the light colour one pixel down and right, then in grey.
        drawTexts(pal.color(QPalette::Active, QPalette::HighlightedText), 1);
        drawTexts(pal.color(QPalette::Disabled, QPalette::WindowText), 0);
    } else {
        drawTexts(text, 0);
    }
    painter->restore();
}

QMenu *NewOwnerDrawMenu(QWidget *parent, bool shortcutColumn, int *columnWidth)
{
    auto *menu = new QMenu(parent);
    auto *style = new TOwnerDrawStyle(shortcutColumn, columnWidth);
    style->setParent(menu);
    menu->setStyle(style);
    menu->setFont(TOwnerDrawStyle::MenuFont());
    return menu;
}
