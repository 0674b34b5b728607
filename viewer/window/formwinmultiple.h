#pragma once
// The layout dialog "Personnaliser Colonnes/Lignes": the grid of frames of the child
// window (series) and the grid of cells of the current frame (images), each with nine
// preset buttons and two spin edits.

#include "viewer/shell/forms.h"

class QSpinBox;
class QToolButton;

class TFormWinMultiple : public TTemplate3
{
    Q_OBJECT
public:
    explicit TFormWinMultiple(QWidget *parent = nullptr);

    QSpinBox *SpinEditSerieColonne = nullptr;
    QSpinBox *SpinEditSerieLigne = nullptr;
    QSpinBox *SpinEditImageColonne = nullptr;
    QSpinBox *SpinEditImageLigne = nullptr;
    QToolButton *SBOK = nullptr;
    QToolButton *SBCancel = nullptr;
    // Whether an image preset button closed the dialog.
    bool ImagePreset = false;
    // Number of images of the current frame: the maximum of the image spin edits.
    int ImageCount = 1;
    // Their values when shown.
    int ImageColumns = 1;
    int ImageRows = 1;

    // Preset button by name ("SBSerie2x2", "SBImage8x4").
    QToolButton *Preset(const QString &name) const;

    // The nine presets, columns x rows.
    static constexpr int kPresets[9][2] = {{1, 1}, {1, 2}, {2, 1}, {2, 2}, {2, 4}, {4, 2}, {4, 4}, {6, 4}, {8, 4}};

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void SeriesPreset(int columns, int rows);
    void ImagePresetClick(int columns, int rows);
};
