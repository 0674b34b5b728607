#pragma once
// The viewer's main window: a black multiple-document frame with seven toolbars, the
// main menu and the status bar. It remembers the tool of each mouse button, keeps the
// buttons' enabled and pressed states in step with the image on screen (UpdateControls),
// opens visits (through TVisitOpening), shows them in a child window of image frames,
// and frees the tool windows when their closing messages arrive.
//
// Commands act on CurrentFrame, the frame that has the focus, and through it on the
// active child window. The frames reach the window through TFrameHost.

#include "viewer/frame/framedicomviewer.h"
#include "viewer/frame/framehost.h"
#include "viewer/loading/visitopening.h"
#include "viewer/shell/forms.h"
#include "viewer/window/formmagnify.h"

#include <QHash>
#include <QKeySequence>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>

class QAction;
class QActionGroup;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QToolBar;
class QToolButton;
class QUrl;
class TDictationControl;
class TFormChildMDI;
class TFormCine;
class TFormInformations;
class TFormIntensite;
class TFormMagnify;
class TFormMagnify2;
class TFormThumbnails;
class TFormWinMultiple;
class TFrameDicomViewer;
namespace platform {
class CdTrayLock;
}

class TFormViewer : public TTemplate1, public TFrameHost, public TVisitWindow
{
    Q_OBJECT
public:
    explicit TFormViewer(QWidget *parent = nullptr);
    ~TFormViewer() override;

    bool StartupFinished = false;
    QMdiArea *MdiArea() const { return mdiArea_; }

    // ---- Components, by their names ("TBScroll", "ToolBar3", "PopupMenuMagnify") ----
    QAction *Action(const QString &name) const { return actions_.value(name); }
    QToolBar *ToolBar(int number) const; // 1 .. 7
    QToolButton *Button(const QString &name) const;
    QMenu *Menu(const QString &name) const { return menus_.value(name); }
    QString StatusPanel(int panel) const;
    QLabel *StatusLabel(int panel) const;
    // Whether a command is built in this edition (the others stay disabled).
    bool IsBuilt(const QString &name) const { return !notBuilt_.contains(name); }
    QStringList NotBuiltCommands() const;

    // ---- State ----
    int ShortcutColumnWidth = 0;
    int MagnifyZoomValue = 2;
    int LoupeZoomValue = 2;
    int SyncMode = 0;
    void SetLeftTool(int tool) { leftTool_ = static_cast<quint8>(tool); }
    void SetRightTool(int tool) { rightTool_ = static_cast<quint8>(tool); }
    bool Down(const QString &button) const;
    void SetDown(const QString &button, bool down);

    TFormChildMDI *ActiveChild() const;
    QMdiSubWindow *ActiveSubWindow() const;
    TFormMagnify *FormMagnify() const { return magnify_; }
    TFormMagnify2 *FormMagnify2() const { return loupe_; }
    TVisitOpening &Opening() { return *opening_; }

    // ---- TFrameHost ----
    int LeftTool() const override { return leftTool_; }
    int RightTool() const override { return rightTool_; }
    int MagnifyZoom() const override { return MagnifyZoomValue; }
    int LoupeZoom() const override { return LoupeZoomValue; }
    bool ButtonDown(TFrameButton button) const override;
    void SetLabelOvlDown(bool down) override;
    void SetStatusText(const QString &text) override { SetStatusPanel(0, text); }
    TFrameDicomViewer *CurrentFrame() const override { return currentFrame_; }
    void SetCurrentFrame(TFrameDicomViewer *frame) override;
    void UpdateControls() override;
    void DrawReferenceLines() override;
    void ClearReferenceLines() override;
    void SynchroniseFrames() override;
    void RecordSyncOffsets() override;
    void SetChildCaption(TFrameDicomViewer *frame, const QString &caption) override;
    void PopupSeriesMenu(TFrameDicomViewer *frame, const QPoint &globalPos) override;
    void ShareSeriesState(TFrameDicomViewer *frame) override;
    imaging::DicomViewerLight *Magnifier() const override;
    void PrepareMagnifier() override;
    void ReleaseMagnifier() override;
    imaging::DicomViewerLight *CreateLoupe() override;
    imaging::DicomViewerLight *Loupe() const override;
    void ReleaseLoupe() override;
    QList<TFrameDicomViewer *> ChildFrames(TFrameDicomViewer *frame) override;
    QMenu *NewSelectionMenu(QWidget *parent) override;
    // "Impression standard": prints the selected images of the visit (formviewer_printing.cpp).
    void Appercuavantimpression1Click();

    // ---- TVisitWindow ----
    QWidget *Widget() override { return this; }
    bool StackDown() const override;
    void RaiseStack() override;
    int OpenButtonImage() const override { return openButtonImage_; }
    void SetOpenButtonImage(int image) override;
    void SetStatusPanel(int panel, const QString &text) override;
    bool HasChildWindow() const override;
    void CloseActiveChildWindow() override;
    void ShowVisit(const QString &firstKey, const QString &secondKey) override;

    // ---- Series into frames and back ----
    void LoadSeries(const QString &key);
    void LoadFrame(TFrameDicomViewer *frame, const QString &key);
    void SaveFrameState(TFrameDicomViewer *frame);
    void SaveCurrentFrame() override;
    void DrawReferenceLine(int imageNumber, TFrameDicomViewer *frame);
    bool SyncCompatible(const imaging::DicomImage &a, const imaging::DicomImage &b) const;

    // ---- Stack mode (stackmode.cpp) ----
    void TBStackClick();
    // The series commands while TBStack is down: 0 first, 1 prior, 2 next, 3 last.
    void StackSeriesMove(int which);
    // The series menu while TBStack is down: the current frame shows the study that holds
    // `series`, on the series' first image (the reference buttons come up).
    void StackShowSeries(const QString &series);
    // ---- Window presets and the custom window (adjustments.cpp) ----
    void RebuildPresetMenu();
    void ApplyPreset(QAction *item);
    void Personnaliser1Click();
    // A key offered to the preset items first; true when one took it.
    bool PresetShortcut(const QKeyCombination &key);
    bool PresetShortcutEvent(QObject *receiver, QEvent *event);
    // A preset's shortcut text as a key ("F5", "Alt+F2"); empty when not recognised.
    static QKeySequence PresetKey(const QString &text);
    // Runs the custom window dialog modally (tests replace it).
    std::function<int(TFormIntensite &)> RunIntensite;

    // ---- Commands ----
    void TBVisiteOuvrirClick();
    void TBVisiteFermerClick();
    void TBSerieFirstClick();
    void TBSeriePriorClick();
    void TBSerieNextClick();
    void TBSerieLastClick();
    void TBImageFirstClick();
    void TBImagePriorClick();
    void TBImageNextClick();
    void TBImageLastClick();
    void TBScrollClick();
    void TBZoomClick();
    void TBMoveClick();
    void TBMagnifyClick();
    void TBMagnify2Click();
    void TBImageIntensiteClick();
    void TBAllRefClick(QAction *button);
    void TBSeriesAutoClick();
    void TBSeriesManualClick();
    void TBStretchClick();
    void TBSmoothingClick();
    void TBInvertClick();
    void TBLabelOvlClick();
    void TBImageResetClick();
    void Rotationgauchede901Click();
    void Rotationdroitede901Click();
    void Effetmiroirhorizontal1Click();
    void Effetmiroirvertical1Click();
    void TBStudyExplodeClick();
    void TBWinSimpleClick();
    void TBWinMultipleClick();
    void Personnaliser2Click();
    void SetMagnifyZoom(int value);
    void SetLoupeZoom(int value);
    // "Configuration usager": the user configuration dialog, modal; the preset menu is
    // rebuilt from what it wrote.
    void ConfigurationClick();
    void Aproposde1Click();
    void CourrielKorvane1Click();
    void CourrielOmbrix1Click();
    // TBPellux: creates the hidden dictation recorder, or closes it.
    void ToggleDictation();
    // "Ajouter un radiologiste" of the dictation button's menu.
    void AddRadiologist();
    TDictationControl *Dictation() const { return dictation_; }
    // TBInfos: opens the information window on the current image, or closes it.
    void TBInfosClick();
    // After loading, when the visit carries a comment: TBInfos's tag 1, then its click.
    void OpenInformationsAutomatically() override;
    // Closes the information window when it is open (no visit on screen; cine playback
    // calls it when it starts).
    void CloseInformations();
    TFormInformations *FormInformations() const;

    // ---- Measurement commands (measurecommands.cpp) ----
    // "Annuler les mesures": every mark of the image on screen, after a confirmation.
    void TBMesureCancelClick();
    // "Outil de calibration": the true length of the selected measurement line.
    void TBCalibrationClick();
    // The factor of the current image's series from the length `answer` of `line`.
    void CalibrateSeries(const imaging::DicomLabelPtr &line, const QString &answer);
    // "Calcul de sténose" (F11).
    void ActionF11Execute();
    // The calibration input box (title, prompt; the answer); false when cancelled. Tests
    // answer it.
    std::function<bool(const QString &, const QString &, QString &)> RunCalibrationBox;

    // ---- Thumbnails and cine (formviewer_toolwindows.cpp) ----
    // TBCine: closes the cine window when it exists, else creates it (hidden), which
    // starts the cine on the current image; then UpdateControls.
    void TBCineClick();
    // A new series came into the current frame while the cine runs: the cine goes on
    // with its mode and speed on that series' image.
    void RestartCine();
    // PopupMenuCine: "Afficher la fenêtre de contrôle" / "Ne pas afficher la fenêtre de
    // contrôle", each enabled only when TBCine is down and the window hidden / visible.
    void PopupMenuCinePopup();
    void Afficherlafentredecontrle1Click();
    void Nepasafficherlafentredecontrle1Click();
    TFormCine *FormCine() const;
    // TBThumbnails: closes the thumbnails window when it exists, else creates and shows it.
    void TBThumbnailsClick();
    TFormThumbnails *FormThumbnails() const;

    // Pops up one of the button menus (PopupMenuMagnify ...) with its check marks set;
    // answers the menu.
    QMenu *PreparePopup(const QString &name);

    // How dialogs and the mail program are run (tests replace them).
    std::function<int(TFormWinMultiple &)> RunWinMultiple;
    std::function<bool(const QUrl &)> OpenUrl;
    std::function<void(QMenu *, const QPoint &)> RunPopup;

    static constexpr const char *kSupportKorvane = "support@korvane.quellarix.fr";
    static constexpr const char *kSupportOmbrix = "support@ombrix.quellarix.fr";

signals:
    // The visit is on screen and its load has ended (the screenshot may be taken).
    void screenshotReady();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool event(QEvent *event) override;

private:
    void MoveToNeighbourSeries(bool next);
    void StackMoveTo(const QString &study, const QString &series);
    bool AnyReferenceDown() const;
    // Takes every reference line off the visit's images and the frames' images.
    void RemoveAllReferenceLines();
    void CreateActions();
    void CreateToolBars();
    void CreateMenus();
    void CreateStatusBar();
    QAction *NewAction(const QString &name, const QString &hint, const QString &iconName,
                       bool checkable = false);
    QMenu *NewPopupMenu(const QString &name, bool shortcutColumn);
    void AttachRightMenu(const QString &button, const QString &menu);
    void Enable(const QString &name, bool enabled);
    void EnableAll(const QStringList &names, bool enabled);
    bool NeedsChild() const;
    void Mail(const QString &address);

    // The application-wide message handler.
    bool AppMessage(QObject *receiver, QEvent *event);
    bool WheelOverFrame(QObject *receiver, QEvent *event);
    void MagnifierClosed();
    void CineClosed();
    void ThumbnailsClosed();
    // Closes the cine and thumbnails windows when they are open (no visit on screen).
    void CloseToolWindows();
    void InformationsClosed();
    void ScreenIfIdle();
    // "WM_CLOSECHILDMDI": empties the visit the closed window showed (when it still exists).
    void ChildWindowClosed(const std::shared_ptr<VisitContent> &visit);

    QMdiArea *mdiArea_ = nullptr;
    QHash<QString, QAction *> actions_;
    QHash<QString, QMenu *> menus_;
    QList<QToolBar *> toolBars_;
    QList<QLabel *> panels_;
    QActionGroup *leftGroup_ = nullptr;
    QActionGroup *rightGroup_ = nullptr;
    QActionGroup *refGroup_ = nullptr;
    QActionGroup *syncGroup_ = nullptr;
    QActionGroup *winGroup_ = nullptr;
    QStringList notBuilt_;
    TDictationControl *dictation_ = nullptr;
    QHash<QString, QEvent::Type> messages_;

    quint8 leftTool_ = toolScroll;
    quint8 rightTool_ = toolIntensite;
    int openButtonImage_ = 0;
    QPointer<TFrameDicomViewer> currentFrame_;
    QPointer<TFormMagnify> magnify_;
    QPointer<TFormMagnify2> loupe_;
    QPointer<TFormCine> cine_;
    QPointer<TFormThumbnails> thumbnails_;
    QPointer<TFormInformations> informations_;
    std::unique_ptr<TVisitOpening> opening_;
    std::unique_ptr<platform::CdTrayLock> cdLock_;
    int hookId_ = 0;
    bool visitShown_ = false;
    bool activatedOnce_ = false;
    // While frames move together (synchronisation), their reference lines wait and are
    // drawn once at the end.
    int referenceHold_ = 0;
    bool referencePending_ = false;
    std::function<void()> rotationRepeat_;
};

// The process's main window, when one exists.
TFormViewer *FormViewer();
