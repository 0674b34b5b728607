#pragma once
// Owner-drawn popup menus: Arial 12, items one text line plus 3 pixels high, the
// selected item on the highlight colour, disabled items embossed, separators as a grey
// line over a light one, and a filled bullet in front of checked items.

#include <QMenu>
#include <QProxyStyle>

class TOwnerDrawStyle : public QProxyStyle
{
    Q_OBJECT
public:
    // `shortcutColumn`: the main window's menus keep a column for shortcut texts,
    // `columnWidth` holds its width (widest shortcut measured + 20); the series menu has
    // none (`columnWidth` null).
    TOwnerDrawStyle(bool shortcutColumn, int *columnWidth);

    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget = nullptr) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption *option, const QSize &size,
                           const QWidget *widget = nullptr) const override;

    static QFont MenuFont();
    // Item box for a caption (and shortcut text), as measured.
    QSize ItemSize(const QString &caption, const QString &shortcut, bool separator) const;

private:
    bool shortcutColumn_;
    int *columnWidth_;
};

// A popup menu drawn that way, owned by `parent`. No automatic hot keys: ampersands are
// shown as they are.
QMenu *NewOwnerDrawMenu(QWidget *parent, bool shortcutColumn, int *columnWidth = nullptr);
