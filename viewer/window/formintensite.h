#pragma once
// The custom window dialog "Intensité/Contraste personnalisé": the window width
// ("Intensité") and level ("Contraste") of one image, applied with Enter or "Appliquer",
// dropped with Escape or "Annuler".

#include "imaging/imaging.h"
#include "viewer/shell/forms.h"

class QAction;
class QSpinBox;
class QToolButton;

class TFormIntensite : public TTemplate3
{
    Q_OBJECT
public:
    explicit TFormIntensite(QWidget *parent = nullptr);

    // The image whose window the dialog shows and changes (set before showing).
    imaging::DicomImagePtr Image;

    QSpinBox *SpinEditIntensite = nullptr;
    QSpinBox *SpinEditContraste = nullptr;
    QToolButton *SBOK = nullptr;
    QToolButton *SBBurnCDStop = nullptr;
    QAction *ActionEnter = nullptr;
    QAction *ActionEsc = nullptr;

    // "Appliquer": the spin edits' values become the image's window; closes.
    void ActionEnterExecute();
    // "Annuler": closes without a change.
    void ActionEscExecute();

protected:
    void showEvent(QShowEvent *event) override;
};
