#include "viewer/window/formintensite.h"

#include "viewer/frame/framedicomviewer.h"

#include <QAction>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

TFormIntensite::TFormIntensite(QWidget *parent) : TTemplate3(parent)
{
    setObjectName(QStringLiteral("FormIntensite"));
    CloseOnRightClick = false;
    setWindowTitle(QStringLiteral("Intensité/Contraste personnalisé"));

    auto *layout = new QVBoxLayout(this);
    auto *grid = new QGridLayout;
    SpinEditIntensite = new QSpinBox(this);
    SpinEditIntensite->setObjectName(QStringLiteral("SpinEditIntensite"));
    SpinEditIntensite->setRange(1, 32767);
    SpinEditContraste = new QSpinBox(this);
    SpinEditContraste->setObjectName(QStringLiteral("SpinEditContraste"));
    SpinEditContraste->setRange(-32767, 32767);
    grid->addWidget(new QLabel(QStringLiteral("Intensité"), this), 0, 0);
    grid->addWidget(SpinEditIntensite, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Contraste"), this), 1, 0);
    grid->addWidget(SpinEditContraste, 1, 1);
    layout->addLayout(grid);

    ActionEnter = new QAction(QStringLiteral("Appliquer"), this);
    ActionEnter->setObjectName(QStringLiteral("ActionEnter"));
    ActionEnter->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    ActionEsc = new QAction(QStringLiteral("Annuler"), this);
    ActionEsc->setObjectName(QStringLiteral("ActionEsc"));
    ActionEsc->setShortcut(QKeySequence(Qt::Key_Escape));
    for (QAction *action : {ActionEnter, ActionEsc}) {
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
    }
    connect(ActionEnter, &QAction::triggered, this, [this] { ActionEnterExecute(); });
    connect(ActionEsc, &QAction::triggered, this, [this] { ActionEscExecute(); });

    SBOK = new QToolButton(this);
    SBOK->setObjectName(QStringLiteral("SBOK"));
    SBOK->setDefaultAction(ActionEnter);
    SBBurnCDStop = new QToolButton(this);
    SBBurnCDStop->setObjectName(QStringLiteral("SBBurnCDStop"));
    SBBurnCDStop->setDefaultAction(ActionEsc);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QToolButton *b : {SBOK, SBBurnCDStop}) {
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
        b->setMinimumSize(100, 30);
        buttons->addWidget(b);
    }
    layout->addLayout(buttons);
    adjustSize();
    setMinimumSize(size());
}

void TFormIntensite::showEvent(QShowEvent *event)
{
    TTemplate3::showEvent(event);
    setWindowTitle(QStringLiteral("Intensité/Contraste personnalisé"));
    if (!Image)
        return;
    // An inverted image carries a negative width: the dialog shows its size.
    SpinEditIntensite->setValue(qRound(std::abs(Image->Width())));
    SpinEditContraste->setValue(qRound(Image->Level()));
    SpinEditIntensite->setFocus();
    SpinEditIntensite->selectAll();
}

void TFormIntensite::ActionEnterExecute()
{
    if (Image) {
        // Spin edits keep their text until they lose the focus: take what is typed.
        SpinEditIntensite->interpretText();
        SpinEditContraste->interpretText();
        const int width = SpinEditIntensite->value();
        Image->SetWidth(Image->Width() < 0 ? -width : width); // an inversion stays
        Image->SetLevel(SpinEditContraste->value());
        TFrameDicomViewer::WriteWindowLine(*Image);
    }
    CloseWithResult(mrOk);
}

void TFormIntensite::ActionEscExecute() { CloseWithResult(mrCancel); }
