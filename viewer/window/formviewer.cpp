#include "viewer/window/formviewer.h"

#include "viewer/dictation/dictationcontrol.h"

#include "viewer/information/forminformations.h"

#include "platform/cdtraylock.h"
#include "viewer/frame/framedicomviewer.h"
#include "viewer/loading/visitdata.h"
#include "viewer/shell/apphook.h"
#include "viewer/shell/formconfigurationuser.h"
#include "viewer/shell/formpassword.h"
#include "viewer/window/formchildmdi.h"
#include "viewer/window/formcine.h"
#include "viewer/window/formmagnify.h"
#include "viewer/window/formthumbnails.h"
#include "viewer/window/ownerdrawmenu.h"

#include <algorithm>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QWheelEvent>

namespace {

TFormViewer *g_formViewer = nullptr;

const QStringList kSeriesButtons{QStringLiteral("TBSerieFirst"), QStringLiteral("TBSeriePrior"),
                                 QStringLiteral("TBSerieNext"), QStringLiteral("TBSerieLast")};
const QStringList kImageButtons{QStringLiteral("TBImageFirst"), QStringLiteral("TBImagePrior"),
                                QStringLiteral("TBImageNext"), QStringLiteral("TBImageLast")};
const QStringList kRefButtons{QStringLiteral("TBAllRef"), QStringLiteral("TBFirstLastRef"),
                              QStringLiteral("TBCurrentRef")};
const QStringList kSyncButtons{QStringLiteral("TBSeriesAuto"), QStringLiteral("TBSeriesManual")};
const QStringList kMeasureButtons{QStringLiteral("TBMesureLine"), QStringLiteral("TBMesureEllipse"),
                                  QStringLiteral("TBMesureAngle")};

// Commands whose windows or work are not part of this edition yet: present, disabled.
const QStringList kNotBuilt{
};

QIcon ToolIcon(const QString &name)
{
    const QString path = QStringLiteral(":/toolbar/") + name + QStringLiteral(".png");
    return QFile::exists(path) ? QIcon(path) : QIcon();
}

} // namespace

TFormViewer *FormViewer() { return g_formViewer; }

static void InitToolbarPictures()
{
    Q_INIT_RESOURCE(toolbar);
}

TFormViewer::TFormViewer(QWidget *parent) : TTemplate1(parent)
{
    g_formViewer = this;
    InitToolbarPictures();
    TFrameDicomViewer::SetHost(this);
    setObjectName(QStringLiteral("FormViewer"));
    setWindowTitle(QStringLiteral("Korvane"));
    mdiArea_ = new QMdiArea(this);
    mdiArea_->setObjectName(QStringLiteral("MdiArea"));
    mdiArea_->setBackground(Qt::black);
    setCentralWidget(mdiArea_);
    // The client area (the multiple-document area) is black; the bars around it keep
    // the usual colours.
    resize(1024, 768);

    TTemplateDM &dm = TemplateDM();
    for (const char *name : kRegisteredMessageNames)
        messages_.insert(QLatin1String(name), dm.RegisteredMessage(QLatin1String(name)));
    // The patient CD stays in its tray while the window exists, unless the machine's
    // "CDLocking" switch is 0 (a missing value counts as on).
    if (dm.ReadMachineInteger(QStringLiteral("*CDLocking")) != 0) {
        cdLock_ = std::make_unique<platform::CdTrayLock>(dm.CdDevices(), [](const QString &line) {
            if (TTemplateDM *module = TemplateDMIfAny())
                module->WriteLog(line);
        });
        cdLock_->Lock();
    }
    notBuilt_ = kNotBuilt;

    CreateActions();
    CreateToolBars();
    CreateMenus();
    CreateStatusBar();
    // The dictation button, its menu and the recorder it drives.
    dictation_ = new TDictationControl(this, Action(QStringLiteral("TBPellux")),
                                       [this](int panel, const QString &text) { SetStatusPanel(panel, text); });
    for (const QString &name : notBuilt_)
        if (QAction *a = actions_.value(name))
            a->setEnabled(false);
    // Only the client area is black: bars keep the usual light colours.
    const QPalette standard = QApplication::palette();
    for (QWidget *bar : std::initializer_list<QWidget *>{menuBar(), statusBar()}) {
        bar->setPalette(standard);
        bar->setAutoFillBackground(true);
    }
    for (QToolBar *bar : toolBars_) {
        bar->setPalette(standard);
        bar->setAutoFillBackground(true);
    }

    if (TApplicationHook *hook = dm.ApplicationHook())
        hookId_ = hook->AddHandler([this](QObject *receiver, QEvent *event) { return AppMessage(receiver, event); });
    PostMaximize();

    SetDown(QStringLiteral("TBScroll"), true);
    leftTool_ = toolScroll;
    SetDown(QStringLiteral("TBImageIntensite"), true);
    rightTool_ = toolIntensite;
    MagnifyZoomValue = 2;
    LoupeZoomValue = 2;

    dm.SeedDefaultPresets();
    opening_ = std::make_unique<TVisitOpening>(*this);
    UpdateControls();
}

TFormViewer::~TFormViewer()
{
    // Unlocks what the creation locked, whatever the switch says by now.
    cdLock_.reset();
    if (TTemplateDM *dm = TemplateDMIfAny())
        if (TApplicationHook *hook = dm->ApplicationHook())
            hook->RemoveHandler(hookId_);
    opening_.reset();
    delete dictation_;
    dictation_ = nullptr;
    delete magnify_.data();
    delete loupe_.data();
    delete cine_.data();
    delete thumbnails_.data();
    delete informations_.data();
    if (g_formViewer == this)
        g_formViewer = nullptr;
    if (TFrameDicomViewer::Host() == this)
        TFrameDicomViewer::SetHost(nullptr);
}

// ---------------------------------------------------------------------------------------
// Components

QAction *TFormViewer::NewAction(const QString &name, const QString &hint, const QString &iconName, bool checkable)
{
    auto *action = new QAction(ToolIcon(iconName.isEmpty() ? name : iconName), hint, this);
    action->setObjectName(name);
    action->setToolTip(hint);
    action->setCheckable(checkable);
    actions_.insert(name, action);
    return action;
}

QMenu *TFormViewer::NewPopupMenu(const QString &name, bool shortcutColumn)
{
    QMenu *menu = NewOwnerDrawMenu(this, shortcutColumn, &ShortcutColumnWidth);
    menu->setObjectName(name);
    menus_.insert(name, menu);
    return menu;
}

void TFormViewer::CreateActions()
{
    // Communes
    connect(NewAction(QStringLiteral("TBVisiteOuvrir"), QStringLiteral("Ouvrir une visite"), {}), &QAction::triggered,
            this, [this] { TBVisiteOuvrirClick(); });
    connect(NewAction(QStringLiteral("TBVisiteFermer"), QStringLiteral("Terminer"), {}), &QAction::triggered, this,
            [this] { TBVisiteFermerClick(); });
    // Navigation
    const QStringList navHints{QStringLiteral("Première série"), QStringLiteral("Série précédente"),
                               QStringLiteral("Série suivante"), QStringLiteral("Dernière série"),
                               QStringLiteral("Première image"), QStringLiteral("Image précédente"),
                               QStringLiteral("Image suivante"), QStringLiteral("Dernière image")};
    const QList<std::function<void()>> navClicks{
        [this] { TBSerieFirstClick(); }, [this] { TBSeriePriorClick(); }, [this] { TBSerieNextClick(); },
        [this] { TBSerieLastClick(); },  [this] { TBImageFirstClick(); }, [this] { TBImagePriorClick(); },
        [this] { TBImageNextClick(); },  [this] { TBImageLastClick(); }};
    const QStringList navNames = kSeriesButtons + kImageButtons;
    for (int i = 0; i < navNames.size(); ++i)
        connect(NewAction(navNames[i], navHints[i], {}), &QAction::triggered, this, navClicks[i]);

    // Left tools
    leftGroup_ = new QActionGroup(this);
    leftGroup_->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
    auto left = [this](const QString &name, const QString &hint, std::function<void()> click) {
        QAction *a = NewAction(name, hint, {}, true);
        leftGroup_->addAction(a);
        connect(a, &QAction::triggered, this, std::move(click));
    };
    left(QStringLiteral("TBScroll"), QStringLiteral("Défilement des images"), [this] { TBScrollClick(); });
    left(QStringLiteral("TBZoom"), QStringLiteral("Zoom"), [this] { TBZoomClick(); });
    left(QStringLiteral("TBMagnify"), QStringLiteral("Grossir"), [this] { TBMagnifyClick(); });
    left(QStringLiteral("TBMagnify2"), QStringLiteral("Loupe"), [this] { TBMagnify2Click(); });

    // Right tools
    rightGroup_ = new QActionGroup(this);
    rightGroup_->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
    auto right = [this](const QString &name, const QString &hint, std::function<void()> click) {
        QAction *a = NewAction(name, hint, {}, true);
        rightGroup_->addAction(a);
        connect(a, &QAction::triggered, this, std::move(click));
    };
    right(QStringLiteral("TBImageIntensite"), QStringLiteral("Intensité/Contraste"), [this] { TBImageIntensiteClick(); });
    right(QStringLiteral("TBMove"), QStringLiteral("Déplacer"), [this] { TBMoveClick(); });
    right(QStringLiteral("TBLbl"), QStringLiteral("Ajouter une annotation"), [this] {
        if (NeedsChild())
            rightTool_ = toolLbl;
    });
    right(QStringLiteral("TBMesureLine"), QStringLiteral("Mesure - Ligne"), [this] {
        if (NeedsChild())
            rightTool_ = toolMesureLine;
    });
    right(QStringLiteral("TBMesureEllipse"), QStringLiteral("Mesure - Ellipse"), [this] {
        if (NeedsChild())
            rightTool_ = toolMesureEllipse;
    });
    right(QStringLiteral("TBMesureAngle"), QStringLiteral("Mesure - Angle"), [this] {
        if (NeedsChild())
            rightTool_ = toolMesureAngle;
    });
    right(QStringLiteral("TBIndication"), QStringLiteral("Indication"), [this] {
        if (NeedsChild())
            rightTool_ = toolIndication;
    });

    // Divers #1
    connect(NewAction(QStringLiteral("TBImageReset"), QStringLiteral("Etat original"), {}), &QAction::triggered, this,
            [this] { TBImageResetClick(); });
    connect(NewAction(QStringLiteral("TBStretch"), QStringLiteral("Etirer/Ne pas étirer"), {}, true),
            &QAction::triggered, this, [this] { TBStretchClick(); });
    connect(NewAction(QStringLiteral("TBSmoothing"), QStringLiteral("Lissage"), {}, true), &QAction::triggered, this,
            [this] { TBSmoothingClick(); });
    connect(NewAction(QStringLiteral("TBInvert"), QStringLiteral("Inversion"), {}, true), &QAction::triggered, this,
            [this] { TBInvertClick(); });
    connect(NewAction(QStringLiteral("TBStudyExplode"), QStringLiteral("Etude/Démontrer"), {}, true),
            &QAction::triggered, this, [this] { TBStudyExplodeClick(); });
    winGroup_ = new QActionGroup(this);
    winGroup_->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
    QAction *simple = NewAction(QStringLiteral("TBWinSimple"), QStringLiteral("Image simple"), {}, true);
    QAction *multiple = NewAction(QStringLiteral("TBWinMultiple"), QStringLiteral("Images multiples"), {}, true);
    winGroup_->addAction(simple);
    winGroup_->addAction(multiple);
    simple->setChecked(true);
    connect(simple, &QAction::triggered, this, [this] { TBWinSimpleClick(); });
    connect(multiple, &QAction::triggered, this, [this] { TBWinMultipleClick(); });
    connect(NewAction(QStringLiteral("TBRotation"), QStringLiteral("Rotations"), QStringLiteral("Rotationdroite")),
            &QAction::triggered, this, [this] {
                if (rotationRepeat_)
                    rotationRepeat_();
            });
    rotationRepeat_ = [this] { Rotationdroitede901Click(); };

    // Références
    refGroup_ = new QActionGroup(this);
    refGroup_->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    refGroup_->addAction(NewAction(QStringLiteral("TBAllRef"), QStringLiteral("Toutes les lignes de référence"), {}, true));
    refGroup_->addAction(NewAction(QStringLiteral("TBFirstLastRef"),
                                   QStringLiteral("Première/Dernière ligne de référence"), {}, true));
    refGroup_->addAction(NewAction(QStringLiteral("TBCurrentRef"), QStringLiteral("Ligne de référence courante"), {}, true));
    for (const QString &name : kRefButtons) {
        QAction *a = actions_.value(name);
        connect(a, &QAction::triggered, this, [this, a] { TBAllRefClick(a); });
        // However the buttons come up (clicked, raised by a command, popped up by another
        // frame of reference), no line may stay on screen without its button.
        connect(a, &QAction::toggled, this, [this](bool down) {
            if (!down && !AnyReferenceDown())
                ClearReferenceLines();
        });
    }
    syncGroup_ = new QActionGroup(this);
    syncGroup_->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    syncGroup_->addAction(NewAction(QStringLiteral("TBSeriesAuto"), QStringLiteral("Synchronisation automatique"), {}, true));
    syncGroup_->addAction(NewAction(QStringLiteral("TBSeriesManual"), QStringLiteral("Synchronisation manuelle"), {}, true));
    connect(actions_.value(QStringLiteral("TBSeriesAuto")), &QAction::triggered, this, [this] { TBSeriesAutoClick(); });
    connect(actions_.value(QStringLiteral("TBSeriesManual")), &QAction::triggered, this,
            [this] { TBSeriesManualClick(); });

    // Divers #2
    connect(NewAction(QStringLiteral("TBLabelOvl"), QStringLiteral("Afficher/Ne pas afficher texte"), {}, true),
            &QAction::triggered, this, [this] { TBLabelOvlClick(); });
    connect(NewAction(QStringLiteral("TBMesureCancel"), QStringLiteral("Annuler les mesures"), {}),
            &QAction::triggered, this, [this] { TBMesureCancelClick(); });
    connect(NewAction(QStringLiteral("TBCalibration"), QStringLiteral("Outil de calibration"), {}),
            &QAction::triggered, this, [this] { TBCalibrationClick(); });
    connect(NewAction(QStringLiteral("TBCine"), QStringLiteral("Ciné"), {}, true), &QAction::triggered, this,
            [this] { TBCineClick(); });
    connect(NewAction(QStringLiteral("TBInfos"), QStringLiteral("Informations"), {}, true), &QAction::triggered, this,
            [this] { TBInfosClick(); });
    NewAction(QStringLiteral("TBReport"), QStringLiteral("Rapport"), {})->setVisible(false);
    connect(NewAction(QStringLiteral("TBThumbnails"), QStringLiteral("Miniatures"), {}, true), &QAction::triggered,
            this, [this] { TBThumbnailsClick(); });
    connect(NewAction(QStringLiteral("TBPellux"), QStringLiteral("Dicter"), {}), &QAction::triggered, this,
            [this] { ToggleDictation(); });
    connect(NewAction(QStringLiteral("TBStack"), QStringLiteral("Mise en pile"), {}, true), &QAction::triggered, this,
            [this] { TBStackClick(); });
    NewAction(QStringLiteral("TBMPR"), QStringLiteral("MPR"), {})->setVisible(false);

    // Button menus.
    QMenu *magnify = NewPopupMenu(QStringLiteral("PopupMenuMagnify"), true);
    QMenu *loupe = NewPopupMenu(QStringLiteral("PopupMenuMagnify2"), true);
    for (int value = 1; value <= 5; ++value) {
        QAction *m = magnify->addAction(QStringLiteral("%1%").arg(value * 100));
        m->setCheckable(true);
        m->setData(value);
        connect(m, &QAction::triggered, this, [this, value] { SetMagnifyZoom(value); });
        QAction *l = loupe->addAction(QStringLiteral("%1%").arg(value * 100));
        l->setCheckable(true);
        l->setData(value);
        connect(l, &QAction::triggered, this, [this, value] { SetLoupeZoom(value); });
    }
    QMenu *intensite = NewPopupMenu(QStringLiteral("PopupMenuIntensite"), true);
    QAction *custom = intensite->addAction(QStringLiteral("Personnaliser"));
    custom->setObjectName(QStringLiteral("Personnaliser1"));
    actions_.insert(QStringLiteral("Personnaliser1"), custom);
    connect(custom, &QAction::triggered, this, [this] { Personnaliser1Click(); });
    connect(intensite, &QMenu::aboutToShow, this, [this] { ShortcutColumnWidth = 0; });
    QMenu *winMultiple = NewPopupMenu(QStringLiteral("PopupMenuWinMultiple"), true);
    QAction *custom2 = winMultiple->addAction(QStringLiteral("Personnaliser"));
    custom2->setObjectName(QStringLiteral("Personnaliser2"));
    actions_.insert(QStringLiteral("Personnaliser2"), custom2);
    connect(custom2, &QAction::triggered, this, [this] { Personnaliser2Click(); });
    QMenu *rotations = NewPopupMenu(QStringLiteral("PopupMenuRotations"), true);
    struct RotationItem { const char *name; const char *caption; const char *icon; void (TFormViewer::*click)(); };
    const RotationItem items[] = {
        {"Rotationgauchede901", "Rotation gauche de 90°", "Rotationgauche", &TFormViewer::Rotationgauchede901Click},
        {"Rotationdroitede901", "Rotation droite de 90°", "Rotationdroite", &TFormViewer::Rotationdroitede901Click},
        {nullptr, nullptr, nullptr, nullptr},
        {"Effetmiroirhorizontal1", "Effet miroir horizontal", "Miroirhorizontal", &TFormViewer::Effetmiroirhorizontal1Click},
        {"Effetmiroirvertical1", "Effet miroir vertical", "Miroirvertical", &TFormViewer::Effetmiroirvertical1Click},
    };
    for (const RotationItem &item : items) {
        if (!item.name) {
            rotations->addSeparator();
            continue;
        }
        QAction *a = rotations->addAction(ToolIcon(QLatin1String(item.icon)), QString::fromUtf8(item.caption));
        a->setObjectName(QLatin1String(item.name));
        actions_.insert(QLatin1String(item.name), a);
        const auto click = item.click;
        const QString icon = QLatin1String(item.icon);
        connect(a, &QAction::triggered, this, [this, click, icon] {
            // The button repeats the operation last chosen from its menu.
            (this->*click)();
            rotationRepeat_ = [this, click] { (this->*click)(); };
            Action(QStringLiteral("TBRotation"))->setIcon(ToolIcon(icon));
        });
    }
    QMenu *cine = NewPopupMenu(QStringLiteral("PopupMenuCine"), true);
    QAction *showCine = cine->addAction(QStringLiteral("Afficher la fenêtre de contrôle"));
    showCine->setObjectName(QStringLiteral("Afficherlafentredecontrle1"));
    showCine->setEnabled(false);
    connect(showCine, &QAction::triggered, this, [this] { Afficherlafentredecontrle1Click(); });
    QAction *hideCine = cine->addAction(QStringLiteral("Ne pas afficher la fenêtre de contrôle"));
    hideCine->setObjectName(QStringLiteral("Nepasafficherlafentredecontrle1"));
    hideCine->setEnabled(false);
    connect(hideCine, &QAction::triggered, this, [this] { Nepasafficherlafentredecontrle1Click(); });
    connect(cine, &QMenu::aboutToShow, this, [this] { PopupMenuCinePopup(); });
    QMenu *pellux = NewPopupMenu(QStringLiteral("PopupMenuKorvaneCDPellux"), true);
    QAction *add = pellux->addAction(QStringLiteral("Ajouter un radiologiste"));
    actions_.insert(QStringLiteral("AddRadiologist"), add);
    connect(add, &QAction::triggered, this, [this] { AddRadiologist(); });
    for (const char *caption : {"Effacer la dictée", "-", "0 : Dictée / Pause", "1 : Reculer", "2 : Pause en écoute",
                                "3 : Terminer la dictée", "4 : Réécouter", "8 : Avancer"}) {
        if (QLatin1String(caption) == QLatin1String("-"))
            pellux->addSeparator();
        else
            pellux->addAction(QString::fromUtf8(caption))->setEnabled(false);
    }
    // Shown by no control in this edition.
    QMenu *luPasLu = NewPopupMenu(QStringLiteral("PopupMenuLuPasLu"), true);
    for (const char *caption :
         {"Dicter un rapport amendé", "Cas discordant", "Annuler la dictée", "Ecouter la dictée",
          "Marquer le cas comme étant lu", "Marquer le cas comme étant non-lu", "Cas discordant validé",
          "Marquer le cas en lecture comme étant prioritaire", "Marquer le cas en lecture comme étant non-prioritaire",
          "Mettre en attente", "Textes pré-inscrits"})
        luPasLu->addAction(QString::fromUtf8(caption));
    connect(magnify, &QMenu::aboutToShow, this, [this] { PreparePopup(QStringLiteral("PopupMenuMagnify")); });
    connect(loupe, &QMenu::aboutToShow, this, [this] { PreparePopup(QStringLiteral("PopupMenuMagnify2")); });
}

void TFormViewer::CreateToolBars()
{
    struct Bar { const char *name; const char *caption; QStringList buttons; };
    const QList<Bar> bars{
        {"ToolBar1", "Communes", {QStringLiteral("TBVisiteOuvrir"), QStringLiteral("TBVisiteFermer")}},
        {"ToolBar2", "Navigation", kSeriesButtons + kImageButtons},
        {"ToolBar3", "Boutons gauches",
         {QStringLiteral("TBScroll"), QStringLiteral("TBZoom"), QStringLiteral("TBMagnify"), QStringLiteral("TBMagnify2")}},
        {"ToolBar4", "Boutons droits",
         {QStringLiteral("TBImageIntensite"), QStringLiteral("TBMove"), QStringLiteral("TBLbl"),
          QStringLiteral("TBMesureLine"), QStringLiteral("TBMesureEllipse"), QStringLiteral("TBMesureAngle"),
          QStringLiteral("TBIndication")}},
        {"ToolBar6", "Divers #1",
         {QStringLiteral("TBImageReset"), QStringLiteral("TBStretch"), QStringLiteral("TBSmoothing"),
          QStringLiteral("TBInvert"), QStringLiteral("TBStudyExplode"), QStringLiteral("TBWinSimple"),
          QStringLiteral("TBWinMultiple"), QStringLiteral("TBRotation")}},
        {"ToolBar5", "Références",
         {QStringLiteral("TBAllRef"), QStringLiteral("TBFirstLastRef"), QStringLiteral("TBCurrentRef"), QStringLiteral("-"),
          QStringLiteral("TBSeriesAuto"), QStringLiteral("TBSeriesManual")}},
        {"ToolBar7", "Divers #2",
         {QStringLiteral("TBLabelOvl"), QStringLiteral("TBMesureCancel"), QStringLiteral("TBCalibration"),
          QStringLiteral("TBCine"), QStringLiteral("TBInfos"), QStringLiteral("TBReport"), QStringLiteral("TBThumbnails"),
          QStringLiteral("TBPellux"), QStringLiteral("TBStack"), QStringLiteral("TBMPR")}},
    };
    setIconSize(QSize(32, 32));
    for (int i = 0; i < bars.size(); ++i) {
        const Bar &bar = bars[i];
        if (i == 4)
            addToolBarBreak(Qt::TopToolBarArea);
        auto *toolBar = new QToolBar(QString::fromUtf8(bar.caption), this);
        toolBar->setObjectName(QLatin1String(bar.name));
        toolBar->setIconSize(QSize(32, 32));
        toolBar->setMovable(true);
        toolBar->setFloatable(true);
        toolBar->setAllowedAreas(Qt::TopToolBarArea | Qt::BottomToolBarArea);
        toolBar->setMinimumHeight(45);
        for (const QString &name : bar.buttons) {
            if (name == QLatin1String("-")) {
                toolBar->addSeparator();
                continue;
            }
            QAction *action = actions_.value(name);
            toolBar->addAction(action);
            if (QWidget *button = toolBar->widgetForAction(action))
                button->setFixedSize(38, 39);
        }
        addToolBar(Qt::TopToolBarArea, toolBar);
        toolBars_.append(toolBar);
    }
    if (QToolButton *rotation = Button(QStringLiteral("TBRotation"))) {
        rotation->setMenu(menus_.value(QStringLiteral("PopupMenuRotations")));
        rotation->setPopupMode(QToolButton::MenuButtonPopup);
        rotation->setFixedSize(50, 39);
    }
    AttachRightMenu(QStringLiteral("TBMagnify"), QStringLiteral("PopupMenuMagnify"));
    AttachRightMenu(QStringLiteral("TBMagnify2"), QStringLiteral("PopupMenuMagnify2"));
    AttachRightMenu(QStringLiteral("TBImageIntensite"), QStringLiteral("PopupMenuIntensite"));
    AttachRightMenu(QStringLiteral("TBWinMultiple"), QStringLiteral("PopupMenuWinMultiple"));
    AttachRightMenu(QStringLiteral("TBCine"), QStringLiteral("PopupMenuCine"));
    AttachRightMenu(QStringLiteral("TBPellux"), QStringLiteral("PopupMenuKorvaneCDPellux"));
}

void TFormViewer::AttachRightMenu(const QString &button, const QString &menu)
{
    QToolButton *widget = Button(button);
    if (!widget)
        return;
    widget->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(widget, &QWidget::customContextMenuRequested, this, [this, widget, menu](const QPoint &pos) {
        QMenu *popup = PreparePopup(menu);
        if (!popup)
            return;
        if (RunPopup)
            RunPopup(popup, widget->mapToGlobal(pos));
        else
            popup->popup(widget->mapToGlobal(pos));
    });
}

QMenu *TFormViewer::PreparePopup(const QString &name)
{
    QMenu *menu = menus_.value(name);
    if (!menu)
        return nullptr;
    int value = 0;
    if (name == QLatin1String("PopupMenuMagnify"))
        value = MagnifyZoomValue;
    else if (name == QLatin1String("PopupMenuMagnify2"))
        value = LoupeZoomValue;
    if (value)
        for (QAction *a : menu->actions())
            a->setChecked(a->data().toInt() == value);
    return menu;
}

void TFormViewer::CreateMenus()
{
    QMenuBar *bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    bar->setNativeMenuBar(false);
    auto item = [this](QMenu *menu, const QString &name, const QString &caption, bool visible = true) {
        QAction *a = menu->addAction(caption);
        a->setObjectName(name);
        a->setVisible(visible);
        actions_.insert(name, a);
        return a;
    };
    auto separator = [](QMenu *menu, const QString &name, bool visible = true) {
        QAction *s = menu->addSeparator();
        s->setObjectName(name);
        s->setVisible(visible);
    };

    QMenu *file = bar->addMenu(QStringLiteral("Fichier"));
    menus_.insert(QStringLiteral("Fichier1"), file);
    // Hidden in this edition.
    for (const char *caption : {"Exportation CD avec gravure", "Exportation CD sans gravure", "Graver les exportations CD",
                                "Exportation RIS", "Exportation Web (html $$)", "Exportation Intranet (Tarnix)"})
        item(file, QString(), QString::fromUtf8(caption), false);
    item(file, QStringLiteral("ExportationFTP1"), QStringLiteral("Exportation FTP"), false);
    item(file, QStringLiteral("ExportationEmail1"), QStringLiteral("Exportation Email"), false)->setEnabled(false);
    separator(file, QStringLiteral("N6"), false);
    item(file, QStringLiteral("ImpressionDICOM1"), QStringLiteral("Impression DICOM"), false);
    connect(item(file, QStringLiteral("Impressionstandard1"), QStringLiteral("Impression standard")),
            &QAction::triggered, this, [this] { Appercuavantimpression1Click(); });
    separator(file, QStringLiteral("N9"), false);
    item(file, QStringLiteral("Annulerlalistedetravail1"), QStringLiteral("Annuler la liste de travail"), false);
    item(file, QStringLiteral("Annulerlalistedetravail2"),
         QStringLiteral("Annuler la liste de travail de tous les utilisateurs"), false);
    file->addSeparator();
    connect(item(file, QStringLiteral("Quitter1"), QStringLiteral("Quitter")), &QAction::triggered, this,
            [this] { TBVisiteFermerClick(); });

    QMenu *divers = bar->addMenu(QStringLiteral("Divers"));
    QAction *stenose = item(divers, QStringLiteral("ActionF11"), QStringLiteral("Calcul de sténose"));
    stenose->setShortcut(QKeySequence(Qt::Key_F11));
    connect(stenose, &QAction::triggered, this, [this] { ActionF11Execute(); });
    QAction *ris = item(divers, QStringLiteral("ActionShiftF11"), QStringLiteral("Demande d'affichage au RIS"), false);
    ris->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F11));

    QMenu *settings = bar->addMenu(QStringLiteral("Paramètres"));
    for (const char *caption : {"Gestion des usagers", "Gestion des mots clés", "Gestion des CRA", "Gestion du log IO"})
        item(settings, QString(), QString::fromUtf8(caption), false);
    separator(settings, QStringLiteral("N10"), false);
    item(settings, QStringLiteral("ConfigurationKorvane1"), QStringLiteral("Configuration Korvane"), false);
    item(settings, QStringLiteral("Configuration1"), QStringLiteral("Configuration"), false);
    QAction *user = item(settings, QStringLiteral("Configurationusager1"), QStringLiteral("Configuration usager"));
    user->setIcon(ToolIcon(QStringLiteral("Configurationusager1")));
    connect(user, &QAction::triggered, this, [this] { ConfigurationClick(); });
    QMenu *toolbars = settings->addMenu(QStringLiteral("Barre d'outils"));
    toolbars->menuAction()->setVisible(false);
    item(toolbars, QStringLiteral("Verouillerlesbarresdoutils1"), QStringLiteral("Vérouiller les barres d'outils"), false);
    item(toolbars, QStringLiteral("Retablirlesbarresdoutils1"), QStringLiteral("Rétablir les barres d'outils"), false);

    QMenu *internet = bar->addMenu(QStringLiteral("Internet"));
    item(internet, QStringLiteral("Siteinternet1"), QStringLiteral("Site internet"));
    internet->addSeparator();
    connect(item(internet, QStringLiteral("CourrielKorvane1"), QStringLiteral("Support/Suggestions Korvane")),
            &QAction::triggered, this, [this] { CourrielKorvane1Click(); });
    connect(item(internet, QStringLiteral("CourrielOmbrix1"), QStringLiteral("Support/Suggestions Ombrix")),
            &QAction::triggered, this, [this] { CourrielOmbrix1Click(); });

    QMenu *help = bar->addMenu(QStringLiteral("?"));
    separator(help, QStringLiteral("N12"), false);
    item(help, QStringLiteral("Version1"), QStringLiteral("Version"), false);
    item(help, QStringLiteral("Systemedereperagedebogues1"), QStringLiteral("Système de repérage de bogues"), false);
    connect(item(help, QStringLiteral("Aproposde1"), QStringLiteral("A propos de ...")), &QAction::triggered, this,
            [this] { Aproposde1Click(); });
}

void TFormViewer::CreateStatusBar()
{
    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setSizeGripEnabled(false);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(16);
    font.setBold(true);
    bar->setFont(font);
    for (int width : {260, 100, 200, 50}) {
        auto *panel = new QLabel(bar);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(panels_.size()));
        panel->setFixedWidth(width);
        panel->setProperty("baseWidth", width);
        panel->setAlignment(Qt::AlignCenter);
        panel->setFont(font);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        bar->addWidget(panel);
        panels_.append(panel);
    }
}

QToolBar *TFormViewer::ToolBar(int number) const
{
    for (QToolBar *bar : toolBars_)
        if (bar->objectName() == QStringLiteral("ToolBar%1").arg(number))
            return bar;
    return nullptr;
}

QToolButton *TFormViewer::Button(const QString &name) const
{
    QAction *action = Action(name);
    for (QToolBar *bar : toolBars_)
        if (QWidget *w = bar->widgetForAction(action))
            return qobject_cast<QToolButton *>(w);
    return nullptr;
}

QString TFormViewer::StatusPanel(int panel) const
{
    return panel >= 0 && panel < panels_.size() ? panels_[panel]->text() : QString();
}

QLabel *TFormViewer::StatusLabel(int panel) const
{
    return panel >= 0 && panel < panels_.size() ? panels_[panel] : nullptr;
}

void TFormViewer::SetStatusPanel(int panel, const QString &text)
{
    if (panel < 0 || panel >= panels_.size())
        return;
    QLabel *label = panels_[panel];
    label->setText(text);
    // A panel keeps its own width, and widens when its text would not fit in it (a
    // radiologist's name in the 50-pixel panel): a value cut at the panel's edge is a
    // value the user cannot read.
    const int base = label->property("baseWidth").toInt();
    const QMargins margins = label->contentsMargins();
    const int needed = label->fontMetrics().horizontalAdvance(text) + 2 * label->frameWidth() + margins.left() +
                       margins.right() + 2 * label->fontMetrics().averageCharWidth();
    label->setFixedWidth(std::max(base, needed));
}

QStringList TFormViewer::NotBuiltCommands() const { return notBuilt_; }

bool TFormViewer::Down(const QString &button) const
{
    QAction *a = Action(button);
    return a && a->isChecked();
}

void TFormViewer::SetDown(const QString &button, bool down)
{
    if (QAction *a = Action(button))
        a->setChecked(down);
}

void TFormViewer::Enable(const QString &name, bool enabled)
{
    if (QAction *a = Action(name))
        a->setEnabled(enabled && IsBuilt(name));
}

void TFormViewer::EnableAll(const QStringList &names, bool enabled)
{
    for (const QString &name : names)
        Enable(name, enabled);
}

// ---------------------------------------------------------------------------------------
// Showing, closing

void TFormViewer::showEvent(QShowEvent *event)
{
    TTemplate1::showEvent(event);
    UpdateControls();
    SetStatusPanel(1, QStringLiteral("CD"));
}

void TFormViewer::closeEvent(QCloseEvent *event)
{
    if (opening_)
        opening_->StopLoading();
    ReleaseMagnifier();
    ReleaseLoupe();
    // The child windows go first, so that their frames are freed while the visit exists.
    for (QMdiSubWindow *sub : mdiArea_->subWindowList())
        delete sub;
    VisitData().ClearVisitImages();
    TTemplate1::closeEvent(event);
}

bool TFormViewer::event(QEvent *event)
{
    // Keys reach the window presets first (they carry the presets' shortcuts), then the
    // dictation keys while the dictation window exists; neither is part of this edition,
    // so every key takes its usual course.
    if (event->type() == QEvent::WindowActivate && !activatedOnce_) {
        activatedOnce_ = true;
        // After the automatic open of the first activation has run: when it started no
        // load (no catalogue, or nothing chosen), the window is as it will stay.
        QTimer::singleShot(0, this, [this] { QTimer::singleShot(0, this, [this] { ScreenIfIdle(); }); });
    }
    return TTemplate1::event(event);
}

void TFormViewer::ScreenIfIdle()
{
    if (visitShown_ || opening_->Loader())
        return; // the end of the load announces the screen
    if (QApplication::activeModalWidget()) {
        QTimer::singleShot(200, this, [this] { ScreenIfIdle(); });
        return;
    }
    emit screenshotReady();
}

void TFormViewer::TBVisiteOuvrirClick()
{
    opening_->TBVisiteOuvrirClick();
}

void TFormViewer::TBVisiteFermerClick()
{
    close();
}

void TFormViewer::SetOpenButtonImage(int image)
{
    openButtonImage_ = image;
    if (QAction *a = Action(QStringLiteral("TBVisiteOuvrir")))
        a->setIcon(ToolIcon(image == 47 ? QStringLiteral("TBVisiteOuvrir_blink") : QStringLiteral("TBVisiteOuvrir")));
}

// ---------------------------------------------------------------------------------------
// Child windows

QMdiSubWindow *TFormViewer::ActiveSubWindow() const
{
    if (QMdiSubWindow *sub = mdiArea_->currentSubWindow())
        return sub;
    const auto list = mdiArea_->subWindowList();
    return list.isEmpty() ? nullptr : list.last();
}

TFormChildMDI *TFormViewer::ActiveChild() const
{
    QMdiSubWindow *sub = ActiveSubWindow();
    return sub ? qobject_cast<TFormChildMDI *>(sub->widget()) : nullptr;
}

bool TFormViewer::HasChildWindow() const { return !mdiArea_->subWindowList().isEmpty(); }

bool TFormViewer::NeedsChild() const { return ActiveChild() != nullptr; }

void TFormViewer::CloseActiveChildWindow()
{
    if (QMdiSubWindow *sub = ActiveSubWindow()) {
        if (TFormChildMDI *child = qobject_cast<TFormChildMDI *>(sub->widget()))
            child->DestroyFrames();
        currentFrame_ = nullptr;
        sub->close();
    }
}

void TFormViewer::ShowVisit(const QString &firstKey, const QString &secondKey)
{
    auto *child = new TFormChildMDI(*this);
    QMdiSubWindow *sub = mdiArea_->addSubWindow(child);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->showMaximized();
    mdiArea_->setActiveSubWindow(sub);
    child->ScrollBox()->hide();
    child->FirstKey = firstKey;
    TFrameDicomViewer *first = child->CreateFrame(child->NextFrameNumber());
    currentFrame_ = first;
    LoadSeries(firstKey);
    if (VisitData().SeriesCount() > 1 && !secondKey.isEmpty()) {
        TFrameDicomViewer *second = child->CreateFrame(child->NextFrameNumber());
        LoadFrame(second, secondKey);
        TFrameDicomViewer::MarkImage(*second->DicomViewer(), second->CurrentImageIndex, false);
        if (Down(QStringLiteral("TBStudyExplode")))
            second->hide();
    }
    // The frames take their grid cells at once, before the first paint.
    child->ScrollBox()->show();
    child->LayoutFrames();
    first->setFocus();
    first->FrameEnter();
    visitShown_ = true;
}

void TFormViewer::ChildWindowClosed(const std::shared_ptr<VisitContent> &visit)
{
    // The closed window's frames are gone, and the current frame with them (it is held
    // by a guarded pointer); a frame of a window made since stays current.
    if (visit)
        visit->Clear();
    UpdateControls();
}

void TFormViewer::SetCurrentFrame(TFrameDicomViewer *frame) { currentFrame_ = frame; }

void TFormViewer::SetChildCaption(TFrameDicomViewer *frame, const QString &caption)
{
    for (QWidget *w = frame; w; w = w->parentWidget()) {
        if (auto *child = qobject_cast<TFormChildMDI *>(w)) {
            child->setWindowTitle(caption);
            return;
        }
    }
}

void TFormViewer::PopupSeriesMenu(TFrameDicomViewer *frame, const QPoint &globalPos)
{
    for (QWidget *w = frame; w; w = w->parentWidget()) {
        if (auto *child = qobject_cast<TFormChildMDI *>(w)) {
            QMenu *menu = child->PopupMenuSeries();
            child->PopupMenuSeriesPopup();
            if (RunPopup)
                RunPopup(menu, globalPos);
            else
                menu->popup(globalPos);
            return;
        }
    }
}

void TFormViewer::ShareSeriesState(TFrameDicomViewer *frame)
{
    Q_UNUSED(frame);
    if (TFormChildMDI *child = ActiveChild())
        child->ShareSeriesState();
}

// ---------------------------------------------------------------------------------------
// Button states

bool TFormViewer::ButtonDown(TFrameButton button) const
{
    switch (button) {
    case TFrameButton::Cine: return Down(QStringLiteral("TBCine"));
    case TFrameButton::Smoothing: return Down(QStringLiteral("TBSmoothing"));
    case TFrameButton::AllRef: return Down(QStringLiteral("TBAllRef"));
    case TFrameButton::CurrentRef: return Down(QStringLiteral("TBCurrentRef"));
    case TFrameButton::FirstLastRef: return Down(QStringLiteral("TBFirstLastRef"));
    case TFrameButton::SeriesAuto: return Down(QStringLiteral("TBSeriesAuto"));
    case TFrameButton::SeriesManual: return Down(QStringLiteral("TBSeriesManual"));
    case TFrameButton::Stack: return Down(QStringLiteral("TBStack"));
    }
    return false;
}

void TFormViewer::SetLabelOvlDown(bool down) { SetDown(QStringLiteral("TBLabelOvl"), down); }

bool TFormViewer::StackDown() const { return Down(QStringLiteral("TBStack")); }

void TFormViewer::RaiseStack() { SetDown(QStringLiteral("TBStack"), false); }

void TFormViewer::UpdateControls()
{
    TFormChildMDI *child = ActiveChild();
    if (!magnify_)
        SetDown(QStringLiteral("TBMagnify"), false);

    const QStringList navigation = kSeriesButtons + kImageButtons;
    if (!child) {
        ReleaseMagnifier();
        SetStatusPanel(2, QString());
        Enable(QStringLiteral("TBVisiteOuvrir"), true);
        Enable(QStringLiteral("TBVisiteFermer"), true);
        EnableAll(navigation, false);
        EnableAll({QStringLiteral("TBRotation"), QStringLiteral("TBLabelOvl"), QStringLiteral("TBImageReset"),
                   QStringLiteral("TBReport"), QStringLiteral("TBWinSimple"), QStringLiteral("TBWinMultiple"),
                   QStringLiteral("TBIndication"), QStringLiteral("TBMesureCancel"), QStringLiteral("TBZoom"),
                   QStringLiteral("TBStretch"), QStringLiteral("TBInfos"), QStringLiteral("TBThumbnails"),
                   QStringLiteral("TBMove"), QStringLiteral("TBScroll"), QStringLiteral("TBMagnify"),
                   QStringLiteral("TBMagnify2"), QStringLiteral("TBStudyExplode"), QStringLiteral("TBLbl"),
                   QStringLiteral("TBPellux"), QStringLiteral("TBStack"), QStringLiteral("TBCalibration")},
                  false);
        EnableAll(kMeasureButtons + kRefButtons + kSyncButtons, false);
        for (const QString &name : QStringList{QStringLiteral("TBInvert"), QStringLiteral("TBCine"),
                                               QStringLiteral("TBSmoothing"), QStringLiteral("TBStudyExplode")}
                                       + kRefButtons + kSyncButtons) {
            Enable(name, false);
            SetDown(name, false);
        }
        SyncMode = 0;
        Enable(QStringLiteral("TBImageIntensite"), false);
        SetDown(QStringLiteral("TBImageIntensite"), true);
        rightTool_ = toolIntensite;
        SetDown(QStringLiteral("TBScroll"), true);
        leftTool_ = toolScroll;
        Enable(QStringLiteral("ActionF11"), false);
        CloseInformations();
        CloseToolWindows();
        SetStatusPanel(0, QString());
        return;
    }

    if (Down(QStringLiteral("TBCine"))) {
        EnableAll(navigation + kMeasureButtons + kRefButtons + kSyncButtons, false);
        EnableAll({QStringLiteral("TBVisiteOuvrir"), QStringLiteral("TBVisiteFermer"), QStringLiteral("TBInvert"),
                   QStringLiteral("TBRotation"), QStringLiteral("TBLabelOvl"), QStringLiteral("TBImageReset"),
                   QStringLiteral("TBImageIntensite"), QStringLiteral("TBWinSimple"), QStringLiteral("TBWinMultiple"),
                   QStringLiteral("TBIndication"), QStringLiteral("TBMesureCancel"), QStringLiteral("TBZoom"),
                   QStringLiteral("TBStretch"), QStringLiteral("TBInfos"), QStringLiteral("TBMove"),
                   QStringLiteral("TBScroll"), QStringLiteral("TBMagnify"), QStringLiteral("TBMagnify2"),
                   QStringLiteral("TBStudyExplode"), QStringLiteral("TBLbl"), QStringLiteral("TBPellux"),
                   QStringLiteral("TBStack"), QStringLiteral("TBSmoothing"), QStringLiteral("TBCalibration"),
                   QStringLiteral("TBReport")},
                  false);
        CloseInformations();
        Enable(QStringLiteral("TBThumbnails"), true);
        Enable(QStringLiteral("TBCine"), true);
        return;
    }

    EnableAll({QStringLiteral("TBVisiteOuvrir"), QStringLiteral("TBVisiteFermer")}, true);
    EnableAll(navigation, true);
    SetDown(QStringLiteral("TBCine"), false);
    TFrameDicomViewer *frame = currentFrame_;
    imaging::DicomImagePtr image;
    if (frame)
        image = frame->DicomViewer()->Images()->Item(frame->CurrentImageIndex);
    Enable(QStringLiteral("TBCine"), image && image->FrameCount() >= 2);
    Enable(QStringLiteral("TBInvert"), true);
    SetDown(QStringLiteral("TBInvert"), image && image->Width() < 0);
    EnableAll({QStringLiteral("TBRotation"), QStringLiteral("TBLabelOvl"), QStringLiteral("TBImageReset"),
               QStringLiteral("TBImageIntensite"), QStringLiteral("TBWinSimple"), QStringLiteral("TBWinMultiple"),
               QStringLiteral("TBSmoothing")},
              true);
    SetDown(QStringLiteral("TBLabelOvl"), image && image->ShowLabels());
    if (frame) {
        const bool multiple = frame->DicomViewer()->MultiRows() > 1 || frame->DicomViewer()->MultiColumns() > 1;
        SetDown(multiple ? QStringLiteral("TBWinMultiple") : QStringLiteral("TBWinSimple"), true);
        const auto current = frame->DicomViewer()->CurrentImage();
        SetDown(QStringLiteral("TBSmoothing"), current && current->MagnificationMode() != 0);
    }
    EnableAll(kMeasureButtons, true);
    EnableAll({QStringLiteral("TBIndication"), QStringLiteral("TBMesureCancel"), QStringLiteral("TBStretch")}, true);
    SetDown(QStringLiteral("TBStretch"), image && image->StretchToFit());
    if (Down(QStringLiteral("TBStretch")) && Down(QStringLiteral("TBZoom"))) {
        // Zooming does not apply to a stretched image.
        leftTool_ = toolScroll;
        SetDown(QStringLiteral("TBScroll"), true);
    }
    EnableAll({QStringLiteral("TBZoom"), QStringLiteral("TBInfos"), QStringLiteral("TBThumbnails"),
               QStringLiteral("TBMove"), QStringLiteral("TBScroll"), QStringLiteral("TBMagnify"),
               QStringLiteral("TBMagnify2"), QStringLiteral("TBStudyExplode"), QStringLiteral("TBLbl"),
               QStringLiteral("TBStack"), QStringLiteral("TBCalibration"), QStringLiteral("TBPellux")},
              true);
    EnableAll(kRefButtons + kSyncButtons, true);
    const QString sop = image ? image->SOPClass() : QString();
    Enable(QStringLiteral("ActionF11"), sop == QLatin1String("1.2.840.10008.5.1.4.1.1.12.1")
                                            || sop == QLatin1String("1.2.840.10008.5.1.4.1.1.1"));
    RebuildPresetMenu();
}

// ---------------------------------------------------------------------------------------
// Tools

void TFormViewer::TBScrollClick()
{
    if (!NeedsChild())
        return;
    ReleaseMagnifier();
    leftTool_ = toolScroll;
}

void TFormViewer::TBZoomClick()
{
    if (!NeedsChild())
        return;
    ReleaseMagnifier();
    leftTool_ = toolZoom;
    if (Down(QStringLiteral("TBStretch"))) {
        SetDown(QStringLiteral("TBStretch"), false);
        TBStretchClick();
    }
    if (!Down(QStringLiteral("TBMove"))) {
        SetDown(QStringLiteral("TBMove"), true);
        TBMoveClick();
    }
}

void TFormViewer::TBMoveClick()
{
    if (!NeedsChild())
        return;
    ReleaseMagnifier();
    rightTool_ = toolMove;
    if (Down(QStringLiteral("TBStretch"))) {
        SetDown(QStringLiteral("TBStretch"), false);
        TBStretchClick();
    }
    if (!Down(QStringLiteral("TBZoom"))) {
        SetDown(QStringLiteral("TBZoom"), true);
        TBZoomClick();
    }
}

void TFormViewer::TBMagnifyClick()
{
    if (magnify_) {
        // Its closing message brings the scroll tool back.
        magnify_->close();
        return;
    }
    magnify_ = new TFormMagnify(this);
    magnify_->setAttribute(Qt::WA_DeleteOnClose, false);
    if (currentFrame_)
        magnify_->SetSource(currentFrame_->DicomViewer()->Images()->Item(currentFrame_->CurrentImageIndex));
    leftTool_ = toolMagnify;
    magnify_->show();
}

void TFormViewer::TBMagnify2Click()
{
    if (!NeedsChild())
        return;
    ReleaseMagnifier();
    leftTool_ = toolMagnify2;
}

void TFormViewer::TBImageIntensiteClick()
{
    if (NeedsChild())
        rightTool_ = toolIntensite;
}

void TFormViewer::SetMagnifyZoom(int value) { MagnifyZoomValue = std::clamp(value, 1, 5); }

void TFormViewer::SetLoupeZoom(int value) { LoupeZoomValue = std::clamp(value, 1, 5); }

imaging::DicomViewerLight *TFormViewer::Magnifier() const { return magnify_ ? magnify_->DicomViewer() : nullptr; }

void TFormViewer::PrepareMagnifier()
{
    if (!magnify_)
        return;
    magnify_->SetSource(currentFrame_ ? currentFrame_->DicomViewer()->Images()->Item(currentFrame_->CurrentImageIndex)
                                      : nullptr);
    magnify_->Prepare();
}

void TFormViewer::ReleaseMagnifier()
{
    if (!magnify_)
        return;
    // Freed directly: no closing message, the caller chooses the next tool.
    TFormMagnify *window = magnify_;
    magnify_ = nullptr;
    window->hide();
    window->deleteLater();
}

void TFormViewer::MagnifierClosed()
{
    magnify_ = nullptr;
    TBScrollClick();
    leftTool_ = toolScroll;
    SetDown(QStringLiteral("TBScroll"), true);
    UpdateControls();
}

imaging::DicomViewerLight *TFormViewer::CreateLoupe()
{
    if (!loupe_) {
        loupe_ = new TFormMagnify2(this);
        if (currentFrame_)
            loupe_->SetSource(currentFrame_->DicomViewer()->Images()->Item(currentFrame_->CurrentImageIndex));
    }
    return loupe_->DicomViewer();
}

imaging::DicomViewerLight *TFormViewer::Loupe() const { return loupe_ ? loupe_->DicomViewer() : nullptr; }

void TFormViewer::ReleaseLoupe()
{
    if (!loupe_)
        return;
    TFormMagnify2 *window = loupe_;
    loupe_ = nullptr;
    window->hide();
    window->deleteLater();
}

// ---------------------------------------------------------------------------------------
// Display commands carried out by the frame for its series

void TFormViewer::TBStretchClick()
{
    TFormChildMDI *child = ActiveChild();
    if (!child || !currentFrame_)
        return;
    currentFrame_->ApplyToSeries(11);
    child->LayoutFrames();
    if (Down(QStringLiteral("TBStretch")) && Down(QStringLiteral("TBZoom"))) {
        SetDown(QStringLiteral("TBScroll"), true);
        TBScrollClick();
    }
}

void TFormViewer::TBSmoothingClick()
{
    TFormChildMDI *child = ActiveChild();
    if (!child || !currentFrame_)
        return;
    currentFrame_->ApplyToSeries(18);
    child->ShareSeriesState();
}

void TFormViewer::TBInvertClick()
{
    TFormChildMDI *child = ActiveChild();
    if (!child || !currentFrame_)
        return;
    currentFrame_->ApplyToSeries(17);
    SaveCurrentFrame();
    child->ShareSeriesState();
}

void TFormViewer::TBLabelOvlClick()
{
    TFormChildMDI *child = ActiveChild();
    if (!child || !currentFrame_)
        return;
    currentFrame_->ApplyToSeries(12);
    child->ShareSeriesState();
}

void TFormViewer::TBImageResetClick()
{
    TFormChildMDI *child = ActiveChild();
    if (!child || !currentFrame_)
        return;
    const auto images = currentFrame_->DicomViewer()->Images();
    for (int i = 1; i <= images->Count(); ++i) {
        const auto image = images->Item(i);
        loading::DefaultWindow(*image);
        TFrameDicomViewer::WriteWindowLine(*image);
    }
    SaveCurrentFrame();
    child->ShareSeriesState();
    QCoreApplication::processEvents();
    currentFrame_->DicomViewer()->Refresh();
    UpdateControls();
}

namespace {
void Orientation(TFormViewer &viewer, int op)
{
    TFormChildMDI *child = viewer.ActiveChild();
    TFrameDicomViewer *frame = viewer.CurrentFrame();
    if (!child || !frame)
        return;
    frame->ApplyToSeries(op);
    viewer.SaveCurrentFrame();
    child->ShareSeriesState();
}
} // namespace

void TFormViewer::Rotationgauchede901Click() { Orientation(*this, 15); }
void TFormViewer::Rotationdroitede901Click() { Orientation(*this, 16); }
void TFormViewer::Effetmiroirhorizontal1Click() { Orientation(*this, 13); }
void TFormViewer::Effetmiroirvertical1Click() { Orientation(*this, 14); }

// ---------------------------------------------------------------------------------------
// Layouts

void TFormViewer::TBStudyExplodeClick()
{
    if (TFormChildMDI *child = ActiveChild())
        child->Explode(Down(QStringLiteral("TBStudyExplode")), currentFrame_);
}

void TFormViewer::TBWinSimpleClick()
{
    if (!ActiveChild() || !currentFrame_)
        return;
    const int before = currentFrame_->DicomViewer()->CurrentIndex();
    ActiveChild()->SingleImage(currentFrame_);
    // The frame now shows the image chosen in its grid: the lines follow it.
    if (currentFrame_->DicomViewer()->CurrentIndex() != before
        && (Down(QStringLiteral("TBCurrentRef")) || Down(QStringLiteral("TBFirstLastRef"))))
        DrawReferenceLines();
}

void TFormViewer::TBWinMultipleClick()
{
    if (ActiveChild() && currentFrame_)
        ActiveChild()->MultipleImages(currentFrame_);
}

void TFormViewer::Personnaliser2Click()
{
    if (ActiveChild() && currentFrame_)
        ActiveChild()->CustomLayout(currentFrame_, RunWinMultiple);
}

// ---------------------------------------------------------------------------------------
// Help and mail

void TFormViewer::ConfigurationClick()
{
    {
        TFormConfigurationUser dialog(this);
        dialog.ShowModal();
    }
    UpdateControls();
}

void TFormViewer::Aproposde1Click()
{
    TFormPassword about(true, this);
    about.ShowModal();
}

void TFormViewer::Mail(const QString &address)
{
    QUrl url(QStringLiteral("mailto:") + address);
    url.setQuery(QStringLiteral("subject=Support technique/Suggestions"));
    const bool opened = OpenUrl ? OpenUrl(url) : QDesktopServices::openUrl(url);
    if (!opened)
        TemplateDM().ShowMessageDialog(
            QStringLiteral("Impossible de faire fonctionner votre programme de courrier électronique."),
            TMsgDlgType::mtError, mbOK);
}

void TFormViewer::CourrielKorvane1Click() { Mail(QLatin1String(kSupportKorvane)); }
void TFormViewer::CourrielOmbrix1Click() { Mail(QLatin1String(kSupportOmbrix)); }

// ---------------------------------------------------------------------------------------
// Information window

void TFormViewer::TBInfosClick()
{
    QAction *button = Action(QStringLiteral("TBInfos"));
    if (informations_) {
        button->setData(0);
        informations_->close();
        return;
    }
    const int tag = button->data().toInt();
    button->setData(0);
    imaging::DicomImagePtr image;
    if (currentFrame_)
        image = currentFrame_->DicomViewer()->Images()->Item(currentFrame_->CurrentImageIndex);
    if (!image) {
        SetDown(QStringLiteral("TBInfos"), false);
        return;
    }
    informations_ = new TFormInformations(image, tag, this);
    SetDown(QStringLiteral("TBInfos"), true);
    informations_->show();
}

void TFormViewer::OpenInformationsAutomatically()
{
    Action(QStringLiteral("TBInfos"))->setData(1);
    if (!informations_)
        TBInfosClick();
}

TFormInformations *TFormViewer::FormInformations() const { return informations_.data(); }

void TFormViewer::CloseInformations()
{
    if (informations_)
        informations_->close();
}

void TFormViewer::InformationsClosed()
{
    if (TFormInformations *window = informations_.data()) {
        informations_ = nullptr;
        window->hide();
        window->deleteLater();
    }
    SetDown(QStringLiteral("TBInfos"), false);
}

// ---------------------------------------------------------------------------------------
// Application-wide messages

bool TFormViewer::AppMessage(QObject *receiver, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (PresetShortcutEvent(receiver, event))
        return true;
    // The digit keys drive the recorder while it exists.
    if (dictation_ && dictation_->KeyEvent(receiver, event))
        return true;
    if (type == QEvent::Wheel)
        return WheelOverFrame(receiver, event);
    if (type < QEvent::User || receiver != QCoreApplication::instance())
        return false;
    const QString name = messages_.key(type);
    if (name.isEmpty())
        return false;
    if (name == QLatin1String("WM_CLOSECHILDMDI")) {
        const auto *message = dynamic_cast<TRegisteredMessageEvent *>(event);
        ChildWindowClosed(message ? std::static_pointer_cast<VisitContent>(message->About.lock()) : nullptr);
        return true;
    }
    if (name == QLatin1String("WM_CLOSEMAGNIFY")) {
        MagnifierClosed();
        return true;
    }
    if (name == QLatin1String("WM_CLOSEINFORMATIONS")) {
        InformationsClosed();
        return true;
    }
    if (name == QLatin1String("WM_CLOSETHUMBNAILS")) {
        ThumbnailsClosed();
        return true;
    }
    if (name == QLatin1String("WM_CLOSECINE")) {
        CineClosed();
        return true;
    }
    if (name == QLatin1String("WM_CLOSEFORMDICTEE")) {
        if (dictation_)
            dictation_->RecorderClosed();
        return true;
    }
    if (name == QLatin1String("WM_THREADTERMINATE")) {
        // The open-visit part shows the study count and forgets the loader; once it has,
        // the visit is complete on screen.
        if (visitShown_)
            QTimer::singleShot(0, this, [this] {
                QCoreApplication::processEvents();
                emit screenshotReady();
            });
        return false;
    }
    return false;
}

bool TFormViewer::WheelOverFrame(QObject *receiver, QEvent *event)
{
    auto *widget = qobject_cast<QWidget *>(receiver);
    if (!widget)
        return false;
    // Anywhere over a frame: its images, its scroll bar or its border (a menu of the frame
    // is a window of its own).
    TFrameDicomViewer *frame = nullptr;
    for (QWidget *w = widget; w; w = w->isWindow() ? nullptr : w->parentWidget()) {
        if ((frame = qobject_cast<TFrameDicomViewer *>(w)))
            break;
    }
    if (!frame)
        return false;
    // While the cine plays the wheel does nothing over a frame.
    if (Down(QStringLiteral("TBCine")))
        return true;
    if (frame != currentFrame_ || !frame->IsActive) {
        frame->FrameEnter();
        QCoreApplication::processEvents();
    }
    const int delta = static_cast<QWheelEvent *>(event)->angleDelta().y();
    QScrollBar *bar = frame->ScrollBar();
    if (bar->isHidden()) {
        TFrameDicomViewer::MarkImage(*frame->DicomViewer(), 1, true);
    } else if (delta < 0) {
        bar->setValue(bar->value() + 1);
    } else if (delta > 0) {
        bar->setValue(bar->value() - 1);
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// Dictation

void TFormViewer::ToggleDictation()
{
    if (dictation_)
        dictation_->ToggleDictation();
}

void TFormViewer::AddRadiologist()
{
    if (dictation_)
        dictation_->AddRadiologist();
}
