#include "viewer/window/measurecommands.h"

#include "viewer/frame/markgrab.h"
#include "viewer/frame/measures.h"
#include "viewer/loading/cornertext.h"
#include "viewer/loading/visitdata.h"
#include "viewer/window/formchildmdi.h"
#include "viewer/window/formviewer.h"

#include <QLocale>
#include <QRegularExpression>

#include <cmath>

using imaging::DicomLabel;
using imaging::DicomLabelPtr;

namespace measurecommands {

namespace {

bool IsMeasureLine(const DicomLabel &label)
{
    return label.LabelType() == DicomLabel::TypeLine && MeasureKind(label) == 1;
}

// A length as the report writes it: two decimals, and read back.
double TwoDecimals(double value) { return QString::number(value, 'f', 2).toDouble(); }

} // namespace

void ClearMarks(imaging::DicomImage &image)
{
    const auto labels = image.Labels();
    for (int i = labels->Count(); i >= measures::kFirstLabel; --i)
        labels->Remove(i);
    measures::WriteLegend(image, QStringLiteral("Lgd:"));
}

DicomLabelPtr SelectedLine(const imaging::DicomImage &image)
{
    const auto labels = image.Labels();
    for (int i = measures::kFirstLabel; i <= labels->Count(); ++i) {
        const auto label = labels->Item(i);
        if (IsMeasureLine(*label) && label->SelectMode() != 0)
            return label;
    }
    return nullptr;
}

CalibrationAnswer CalibrationFactorFor(const QString &answer, double length, double &factor)
{
    const QString text = answer.trimmed();
    if (text.isEmpty())
        return CalibrationAnswer::Missing;
    // A plain decimal number only: digits with at most one "." and nothing else. The C
    // locale would also take "2,500" as 2500 (a group separator) and "1e3" as 1000, where
    // a French user typing a decimal comma means 2.5.
    static const QRegularExpression plain(QStringLiteral("^(?:[0-9]+(?:\\.[0-9]*)?|\\.[0-9]+)$"));
    if (!plain.match(text).hasMatch())
        return CalibrationAnswer::Invalid;
    bool ok = false;
    const double millimetres = QLocale::c().toDouble(text, &ok);
    // A factor must make lengths positive and finite: 0 would mean "not calibrated".
    if (!ok || !std::isfinite(millimetres) || millimetres <= 0 || !(length > 0))
        return CalibrationAnswer::Invalid;
    factor = millimetres * 100 / length;
    return CalibrationAnswer::Accepted;
}

void CalibrateLegend(imaging::DicomImage &image, double factor)
{
    const auto labels = image.Labels();
    QString legend = measures::Legend(image);
    for (int i = measures::kFirstLabel; i <= labels->Count(); ++i) {
        const auto line = labels->Item(i);
        if (!IsMeasureLine(*line))
            continue;
        // Its letter: the label it links to (the one that follows it when the ring is broken).
        DicomLabelPtr letter = TMarkGrab::FindLinkedLabel(*labels, LinkTagElement(*line, 3));
        if (!letter)
            letter = labels->Item(i + 1);
        if (!letter)
            continue;
        const QString key = letter->Text() + QLatin1Char(')');
        legend = measures::ReplaceLegendEntry(legend, key, key + measures::LineValue(*line, factor));
    }
    measures::WriteLegend(image, legend);
}

StenosisResult Stenosis(imaging::DicomImage &image, double factor)
{
    StenosisResult result;
    const auto labels = image.Labels();
    double longest = 0, shortest = 0;
    for (int i = measures::kFirstLabel; i <= labels->Count(); ++i) {
        const auto label = labels->Item(i);
        if (label->LabelType() != DicomLabel::TypeLine)
            continue;
        label->SetSelectMode(0);
        // Only the lines of line marks: angle legs and reference lines are no lengths.
        if (MeasureKind(*label) != 1)
            continue;
        const double length = label->ROILength();
        if (!result.found) {
            result.found = true;
            result.longLine = result.shortLine = label;
            longest = shortest = length;
            continue;
        }
        if (length > longest) {
            longest = length;
            result.longLine = label;
        }
        if (length < shortest) {
            shortest = length;
            result.shortLine = label;
        }
    }
    if (!result.found)
        return result;
    QString longUnit = result.longLine->ROIDistanceUnits(), shortUnit = result.shortLine->ROIDistanceUnits();
    if (factor != 0) {
        longest = longest * factor / 100;
        shortest = shortest * factor / 100;
        // Calibrated lengths are millimetres, whatever the image's own unit.
        longUnit = shortUnit = QStringLiteral("mm");
    }
    longest = TwoDecimals(longest);
    shortest = TwoDecimals(shortest);
    const double percent = longest > 0 ? (longest - shortest) / longest * 100 : 0.0;
    result.text = QStringLiteral("Sténose: Grande Mesure: ") + QString::number(longest, 'f', 2) + QLatin1Char(' ')
                  + longUnit + QStringLiteral(", ") + QStringLiteral("Petite Mesure: ")
                  + QString::number(shortest, 'f', 2) + QLatin1Char(' ') + shortUnit + QStringLiteral(" = ")
                  + QString::number(percent, 'f', 2) + QStringLiteral(" %");
    return result;
}

} // namespace measurecommands

// ---------------------------------------------------------------------------------------
// The window's commands

namespace {

imaging::DicomImagePtr ImageOnScreen(const TFormViewer &viewer)
{
    TFrameDicomViewer *frame = viewer.CurrentFrame();
    return viewer.ActiveChild() && frame ? frame->CurrentFrameImage() : nullptr;
}

void Share(TFormViewer &viewer)
{
    if (TFormChildMDI *child = viewer.ActiveChild())
        child->ShareSeriesState();
}

} // namespace

void TFormViewer::TBMesureCancelClick()
{
    const auto image = ImageOnScreen(*this);
    if (!image)
        return;
    if (TemplateDM().ShowMessageDialog(QStringLiteral("Désirez-vous effacer toutes les annotations?"),
                                       TMsgDlgType::mtConfirmation, mbYes | mbNo)
        != mrYes)
        return;
    measurecommands::ClearMarks(*image);
    TFrameDicomViewer *frame = CurrentFrame();
    frame->DicomViewer()->Refresh();
    SaveCurrentFrame();
    Share(*this);
    // The reference lines were labels of the image too: they come back.
    if (Down(QStringLiteral("TBAllRef")) || Down(QStringLiteral("TBCurrentRef")) || Down(QStringLiteral("TBFirstLastRef")))
        DrawReferenceLines();
}

void TFormViewer::TBCalibrationClick()
{
    const auto image = ImageOnScreen(*this);
    if (!image)
        return;
    TTemplateDM &dm = TemplateDM();
    const auto line = measurecommands::SelectedLine(*image);
    if (!line) {
        dm.ShowMessageDialog(QStringLiteral("Vous devez sélectionner une ligne de mesure avant de pouvoir calibrer."),
                             TMsgDlgType::mtError, mbOK);
        Share(*this);
        return;
    }
    line->SetSelectMode(2);
    CurrentFrame()->DicomViewer()->Refresh();
    QString answer;
    bool ok = false;
    const QString title = QStringLiteral("Outil de calibration.");
    const QString prompt = QStringLiteral("Mesure correspondante en \"MM\"");
    if (RunCalibrationBox)
        ok = RunCalibrationBox(title, prompt, answer);
    else
        ok = measures::InputBox(this, title, prompt, answer);
    if (ok)
        CalibrateSeries(line, answer.trimmed());
    line->SetSelectMode(0);
    if (TFrameDicomViewer *frame = CurrentFrame())
        frame->DicomViewer()->Refresh();
    Share(*this);
}

void TFormViewer::CalibrateSeries(const imaging::DicomLabelPtr &line, const QString &answer)
{
    const auto image = ImageOnScreen(*this);
    if (!image || !line)
        return;
    TTemplateDM &dm = TemplateDM();
    double factor = 0;
    switch (measurecommands::CalibrationFactorFor(answer, line->ROILength(), factor)) {
    case measurecommands::CalibrationAnswer::Missing:
        dm.ShowMessageDialog(QStringLiteral("Impossible de calibrer car la mesure est manquante."),
                             TMsgDlgType::mtInformation, mbOK);
        return;
    case measurecommands::CalibrationAnswer::Invalid:
        dm.ShowMessageDialog(QStringLiteral("La mesure entrée est invalide."), TMsgDlgType::mtError, mbOK);
        return;
    case measurecommands::CalibrationAnswer::Accepted:
        break;
    }
    TVisitData &visit = VisitData();
    if (!visit.SetCalibrationFactor(visit.SeriesOrdinal(image->SeriesUID()), factor)) {
        // Lengths in millimetres that no factor stands behind would be wrong on every
        // later line: the legend stays as it is.
        dm.ShowMessageDialog(QStringLiteral("La calibration n'a pas pu être enregistrée pour cette série."),
                             TMsgDlgType::mtError, mbOK);
        return;
    }
    // The factor holds for the whole series: every image of it in the frame lists its
    // lines in millimetres from now on, not only the one on screen.
    const auto images = CurrentFrame()->DicomViewer()->Images();
    for (int i = 1; i <= images->Count(); ++i) {
        const auto other = images->Item(i);
        if (other && other->SeriesUID() == image->SeriesUID())
            measurecommands::CalibrateLegend(*other, factor);
    }
}

void TFormViewer::ActionF11Execute()
{
    const auto image = ImageOnScreen(*this);
    if (!image)
        return;
    TTemplateDM &dm = TemplateDM();
    TVisitData &visit = VisitData();
    imaging::DicomViewerLight &control = *CurrentFrame()->DicomViewer();
    const double factor = visit.CalibrationFactor(visit.SeriesOrdinal(image->SeriesUID()));
    const measurecommands::StenosisResult result = measurecommands::Stenosis(*image, factor);
    if (!result.found) {
        dm.ShowMessageDialog(QStringLiteral("Mesure de sténose impossible."), TMsgDlgType::mtInformation, mbOK);
    } else {
        result.longLine->SetSelectMode(2);
        result.shortLine->SetSelectMode(2);
        control.Refresh();
        dm.ShowMessageDialog(result.text, TMsgDlgType::mtInformation, mbOK);
    }
    const auto labels = image->Labels();
    for (int i = measures::kFirstLabel; i <= labels->Count(); ++i)
        if (labels->Item(i)->LabelType() == DicomLabel::TypeLine)
            labels->Item(i)->SetSelectMode(0);
    control.Refresh();
}
