#pragma once
// Base form of the radiologist dialogs: a single border (fixed size, no maximize) with the
// system menu and the minimize box, placed on the last monitor before it is first shown,
// a vertical gradient from light blue to white, a title panel with a raised title over a
// horizontal gradient, a white content panel and two flat buttons, "Confirmer" (Enter)
// and "Annuler" (Escape).

#include "viewer/shell/forms.h"

#include <QWidget>

class QLabel;
class QToolButton;

class TTemplate6 : public QWidget
{
    Q_OBJECT
public:
    explicit TTemplate6(const QString &title, QWidget *parent = nullptr);

    int ModalResult = mrNone;
    int ShowModal();
    void CloseWithResult(int result);

    QLabel *TitleLabel() const { return title_; }
    QWidget *Content() const { return content_; }
    QToolButton *ConfirmButton() const { return confirm_; }
    QToolButton *CancelButton() const { return cancel_; }

    // The actions: "Confirmer" checks and ends the dialog confirmed, "Annuler" ends it
    // cancelled. Subclasses refine Confirm.
    virtual void Confirm() { CloseWithResult(mrOk); }
    virtual void Cancel() { CloseWithResult(mrCancel); }

    static QColor GradientTop() { return QColor(158, 210, 253); }

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool event(QEvent *event) override;

private:
    QLabel *title_ = nullptr;
    QWidget *content_ = nullptr;
    QToolButton *confirm_ = nullptr;
    QToolButton *cancel_ = nullptr;
    bool shownOnce_ = false;
    bool placed_ = false;
};
