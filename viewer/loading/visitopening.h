#pragma once

#include "common/productuid.h"
// Opening a visit from the main window: the automatic open at the first activation,
// the open-visit command ("Ouvrir une visite"), the hand-over of the loaded visit
// (AfterThreadLoading), the end of a load (AfterThreadTerminate, "WM_THREADTERMINATE")
// and stopping a running load.
//
// The main window takes part through TVisitWindow, a few small operations on its
// buttons, status bar and child windows. It creates one TVisitOpening for itself and
// calls TBVisiteOuvrirClick from its open-visit button; the rest (first activation,
// the "WM_THREADTERMINATE" message, the stack-mode key of the series functions) is
// hooked up by TVisitOpening itself.

#include "viewer/loading/chargement.h"

#include <QObject>
#include <QPointer>

#include <functional>

class TFormOuvrirVisite;

// What opening a visit needs from the main window.
class TVisitWindow
{
public:
    virtual ~TVisitWindow() = default;
    // The main window itself (shown before the open-visit dialog; its first
    // activation opens the visit).
    virtual QWidget *Widget() = 0;
    // The "Mise en pile" button (TBStack).
    virtual bool StackDown() const = 0;
    virtual void RaiseStack() = 0;
    // Picture index of the open-visit button (TBVisiteOuvrir): 0, or 47 on the blink.
    virtual int OpenButtonImage() const = 0;
    virtual void SetOpenButtonImage(int image) = 0;
    // Text of a status bar panel (0 .. 3).
    virtual void SetStatusPanel(int panel, const QString &text) = 0;
    // Whether a child window is open; closing the active one (its closing empties the
    // visit through "WM_CLOSECHILDMDI").
    virtual bool HasChildWindow() const = 0;
    virtual void CloseActiveChildWindow() = 0;
    // Builds the first child window: a frame showing the series `firstKey` made
    // current, and, when `secondKey` is not empty, a second frame showing that series.
    virtual void ShowVisit(const QString &firstKey, const QString &secondKey) = 0;
    // The visit carries a comment: open the information window as if TBInfos were
    // clicked, marked as opened automatically.
    virtual void OpenInformationsAutomatically() {}
};

class TVisitOpening : public QObject, public TChargementHost
{
    Q_OBJECT
public:
    // The product's own UID root, looked for in series UIDs after loading.
    static constexpr const char *kProductUidRoot = common::kProductUidRoot;

    explicit TVisitOpening(TVisitWindow &window, QObject *parent = nullptr);
    ~TVisitOpening() override;

    // The automatic open, run once at the main window's first activation.
    void FirstActivation();
    // "Ouvrir une visite".
    void TBVisiteOuvrirClick();
    // Stops the running loader without waiting and forgets it.
    void StopLoading();
    // The "WM_THREADTERMINATE" message: study count in status panel 2, then StopLoading.
    void ThreadTerminateMessage();

    // TChargementHost
    void AfterThreadLoading() override;
    void AfterThreadTerminate() override;
    void PostThreadTerminate() override;
    void ShowLoadError(const QString &message) override;
    int OpenButtonImage() const override { return window_.OpenButtonImage(); }
    void SetOpenButtonImage(int image) override { window_.SetOpenButtonImage(image); }

    TChargement *Loader() const { return loader_.data(); }

    // How the open-visit dialog is run (tests answer it); by default Execute().
    using DialogRunner = std::function<int(TFormOuvrirVisite &dialog)>;
    void SetDialogRunner(DialogRunner runner) { runDialog_ = std::move(runner); }

    // "V: n": the number of studies of the visit (places where StudyUID changes).
    static int CountStudies(const imaging::DicomImages &images);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void StartLoader(const QString &patientId, const QString &studyUid, const QString &catalogue);
    void OpenCommentIfAny();

    TVisitWindow &window_;
    QPointer<TChargement> loader_;
    DialogRunner runDialog_;
    bool activated_ = false;
    // "/UID=" names the visit until a load of it gives nothing; the dialog is shown from then on.
    bool uidOptionSpent_ = false;
    // The running (or last) load is the one that "/UID=" named.
    bool uidLoad_ = false;
    // The running load's end was already explained to the user (a file it could not read).
    bool loadErrorShown_ = false;
    int hookId_ = 0;
};
