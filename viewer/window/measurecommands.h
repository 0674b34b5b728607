#pragma once
// The main window's commands on the marks of the image on screen: cancelling every mark
// ("Annuler les mesures"), calibrating the lengths of a series on a line of known length
// ("Outil de calibration") and the stenosis report ("Calcul de sténose", F11).
//
// The work on an image's labels needs no widget and is here; the window's commands
// (TFormViewer::TBMesureCancelClick, TBCalibrationClick, ActionF11Execute) ask, show
// and share around it.

#include "imaging/imaging.h"

#include <QString>

namespace measurecommands {

// Removes every label from 12 up and empties the legend ("Lgd:" alone).
void ClearMarks(imaging::DicomImage &image);

// The first measurement line of the image (a line of a line mark) that is selected; null
// when none.
imaging::DicomLabelPtr SelectedLine(const imaging::DicomImage &image);

enum class CalibrationAnswer { Accepted, Missing, Invalid };
// The factor (percentage applied to measured lengths) that makes a line measured
// `length` read `answer` millimetres. Missing: an empty answer. Invalid: not a decimal
// number (digits with at most one ".", nothing else), not above 0, or a line without
// length.
CalibrationAnswer CalibrationFactorFor(const QString &answer, double length, double &factor);
// Every line entry of the image's legend in millimetres with `factor`.
void CalibrateLegend(imaging::DicomImage &image, double factor);

struct StenosisResult
{
    bool found = false; // at least one measurement line
    imaging::DicomLabelPtr longLine;
    imaging::DicomLabelPtr shortLine;
    QString text;
};
// The longest and the shortest measurement lines of the image (the first one on ties),
// their lengths with `factor` when it is not 0, and the report's text. Every line's
// selection is cleared.
StenosisResult Stenosis(imaging::DicomImage &image, double factor);

} // namespace measurecommands
