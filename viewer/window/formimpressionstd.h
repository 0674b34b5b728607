#pragma once
// The dialog "Formats d'impression": four buttons for the grid of pictures on a printed
// page (1 x 1, 1 x 2, 2 x 2, 4 x 4) and "Annuler" (also on Escape). A button closes the
// dialog at once; Columns x Rows is 0 x 0 when it was cancelled.

#include "viewer/shell/forms.h"

class QAction;
class QToolButton;

class TFormImpressionStd : public TTemplate3
{
    Q_OBJECT
public:
    explicit TFormImpressionStd(QWidget *parent = nullptr);

    int Columns = 0;
    int Rows = 0;

    QToolButton *SBImage1x1 = nullptr;
    QToolButton *SBImage1x2 = nullptr;
    QToolButton *SBImage2x2 = nullptr;
    QToolButton *SBImage4x4 = nullptr;
    QToolButton *SBCancel = nullptr;
    QAction *ActionEsc = nullptr;

    // The four format buttons' one handler: the grid from the sender's name.
    void SBImage1x1Click(QObject *sender);
    void ActionEscExecute();

protected:
    void showEvent(QShowEvent *event) override;
};
