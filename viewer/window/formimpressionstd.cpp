#include "viewer/window/formimpressionstd.h"

#include <QAction>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPainter>
#include <QShowEvent>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// A sheet of paper with columns x rows pictures on it and a footer line.
QIcon PageIcon(int columns, int rows)
{
    QPixmap pixmap(40, 52);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setPen(QColor(90, 90, 90));
    p.setBrush(Qt::white);
    p.drawRect(QRect(1, 1, 37, 49));
    const QRectF area(4, 4, 32, 38);
    const double w = area.width() / columns, h = area.height() / rows;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c)
            p.fillRect(QRectF(area.left() + c * w + 0.5, area.top() + r * h + 0.5, std::max(1.0, w - 1),
                              std::max(1.0, h - 1)),
                       QColor(30, 30, 30));
    p.fillRect(QRectF(12, 45, 16, 2), QColor(120, 120, 120));
    return QIcon(pixmap);
}

} // namespace

TFormImpressionStd::TFormImpressionStd(QWidget *parent) : TTemplate3(parent)
{
    setObjectName(QStringLiteral("FormImpressionStd"));
    setWindowTitle(QStringLiteral("Formats d'impression"));
    CloseOnRightClick = false;
    auto *layout = new QVBoxLayout(this);
    auto *box = new QGroupBox(QStringLiteral("Formats disponibles"), this);
    box->setObjectName(QStringLiteral("GroupBox1"));
    auto *row = new QHBoxLayout(box);
    auto button = [&](QToolButton *&b, const char *name, int columns, int rows) {
        b = new QToolButton(box);
        b->setObjectName(QLatin1String(name));
        b->setIcon(PageIcon(columns, rows));
        b->setIconSize(QSize(40, 52));
        b->setText(QStringLiteral("%1 x %2").arg(columns).arg(rows));
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setMinimumSize(64, 80);
        row->addWidget(b);
        connect(b, &QToolButton::clicked, this, [this, b] { SBImage1x1Click(b); });
    };
    button(SBImage1x1, "SBImage1x1", 1, 1);
    button(SBImage1x2, "SBImage1x2", 1, 2);
    button(SBImage2x2, "SBImage2x2", 2, 2);
    button(SBImage4x4, "SBImage4x4", 4, 4);
    layout->addWidget(box);

    ActionEsc = new QAction(QStringLiteral("Annuler"), this);
    ActionEsc->setObjectName(QStringLiteral("ActionEsc"));
    ActionEsc->setShortcut(QKeySequence(Qt::Key_Escape));
    ActionEsc->setShortcutContext(Qt::WindowShortcut);
    addAction(ActionEsc);
    connect(ActionEsc, &QAction::triggered, this, [this] { ActionEscExecute(); });
    SBCancel = new QToolButton(this);
    SBCancel->setObjectName(QStringLiteral("SBCancel"));
    SBCancel->setDefaultAction(ActionEsc);
    SBCancel->setToolButtonStyle(Qt::ToolButtonTextOnly);
    SBCancel->setMinimumSize(100, 30);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(SBCancel);
    layout->addLayout(buttons);
    adjustSize();
    setMinimumSize(size());
}

void TFormImpressionStd::showEvent(QShowEvent *event)
{
    // Reset when the dialog opens, not when it comes back after the application was minimized.
    if (!event->spontaneous()) {
        Columns = 0;
        Rows = 0;
    }
    TTemplate3::showEvent(event);
    setWindowTitle(QStringLiteral("Formats d'impression"));
}

void TFormImpressionStd::SBImage1x1Click(QObject *sender)
{
    const QString name = sender ? sender->objectName().toUpper() : QString();
    if (name == QLatin1String("SBIMAGE1X1")) {
        Columns = 1;
        Rows = 1;
    } else if (name == QLatin1String("SBIMAGE1X2")) {
        Columns = 1;
        Rows = 2;
    } else if (name == QLatin1String("SBIMAGE2X2")) {
        Columns = 2;
        Rows = 2;
    } else if (name == QLatin1String("SBIMAGE4X4")) {
        Columns = 4;
        Rows = 4;
    } else {
        return;
    }
    CloseWithResult(mrOk);
}

void TFormImpressionStd::ActionEscExecute()
{
    Columns = 0;
    Rows = 0;
    CloseWithResult(mrCancel);
}
