#pragma once
// Measurements and annotations drawn with the right-button tools of an image frame: a
// line (length), an ellipse (area, mean, deviation), an indication (an arrow with a text
// at its head), a free text and an angle.
//
// Every mark is a small group of labels added to the image's Labels after its eleven
// fixed labels, tied to image pixels and linked into a ring through their Tag (see
// markgrab.h). Lines and ellipses carry a letter; their values are listed in the
// "Lgd:" line of label 8 (the legend): "Lgd:" then entries "A)12.34mm" joined by ", ".
//
// The functions on images and labels need no widget; the frame glue at the end turns a
// frame's gesture into them.

#include "imaging/imaging.h"
#include "viewer/frame/markgrab.h"

#include <QString>

#include <functional>

class QWidget;
class TFrameDicomViewer;

namespace measures {

inline constexpr int kMarkColour = 0xFFFF00;
// The text the entry box starts with; left unchanged, it means "no text".
inline constexpr const char *kInitialText = "---> Entrez votre texte ici! <---";
inline constexpr int kFirstLabel = 12;

// The process-wide link counter: 100, 101, ... (never reset while the program runs).
int NextLinkId();

struct MarkStyle
{
    int lineWidth = 2;
    int fontSize = 15;
};
// From the user settings "LineWidth" and "FontSize" when above 0.
MarkStyle CurrentStyle();
// The style of a mark's text label (LabelType 0, Arial, tied to the image ...).
void ApplyTextStyle(imaging::DicomLabel &label, const MarkStyle &style);
// The style of a shape at the press: colours, alignment and transparency of label 7.
void ApplyShapeStyle(imaging::DicomLabel &shape, const imaging::DicomImage &image, const MarkStyle &style);

// ---- Legend ----
// The whole "Lgd:" line of label 8 (empty when the image has none).
QString Legend(const imaging::DicomImage &image);
void WriteLegend(imaging::DicomImage &image, const QString &line);
// The letter of the next mark: "A" for a legend without ")", else the character after
// the one before its last ")" (after "Z" comes "[").
QString NextLetter(const QString &legend);
// The legend with the entry that starts with `key` ("A)") replaced by `entry`; unchanged
// when no entry starts with it.
QString ReplaceLegendEntry(const QString &legend, const QString &key, const QString &entry);
// The legend without the entries that start with `key`.
QString RemoveLegendEntry(const QString &legend, const QString &key);

// The calibration factor of the image's series (0: not calibrated).
double CalibrationFactor(const imaging::DicomImage &image);
// "12.34mm" calibrated (length x factor / 100), else the length and the distance unit.
QString LineValue(const imaging::DicomLabel &line, double factor);
// "153.9mm carré Moy=47.2 Dev Std=12.5"; throws imaging::DicomError when the statistics
// cannot be computed.
QString EllipseValue(const imaging::DicomLabel &ellipse);
// Where the letter of a line sits: above the upper end of the line, centred on it; moved
// into the image's cell (as the image is shown now) when it would fall outside.
void PlaceLineLetter(imaging::DicomLabel &letter, const imaging::DicomLabel &line, const imaging::DicomImage &image);
// The letter of an ellipse: above it, centred across its width; inside the cell as well.
void PlaceEllipseLetter(imaging::DicomLabel &letter, const imaging::DicomLabel &ellipse,
                        const imaging::DicomImage &image);
// Negative width or height turned positive, the box unchanged.
void Normalise(imaging::DicomLabel &label);

// ---- Angles ----
// Height over width of one pixel, as the image is displayed (imaging::PixelAspect: Pixel
// Spacing, else Imager Pixel Spacing, else Pixel Aspect Ratio; 1 for none): angles and
// leg lengths are measured with the pixels' true shape.
double PixelAspect(const imaging::DicomImage &image);
// Degrees between two lines. When their start points are more than 5 pixels apart in
// x or in y, p is taken from its end (for the computation only; p is not changed).
double AngleBetweenLines(const imaging::DicomLabel &p, const imaging::DicomLabel &q, double aspect = 1.0);
// b's length becomes a's, b keeps its direction.
void MatchLegLength(const imaging::DicomLabel &a, imaging::DicomLabel &b, double aspect = 1.0);
// "angle1;" / "angle2;" + second leg width;height;angle.
QString LegText(int leg, const imaging::DicomLabel &second, int angle);
QString AngleText(int angle);

// ---- Marks on an image (the shape is already among the image's labels) ----
// Adds the letter and the legend entry of a new line or ellipse. Returns false when the
// values could not be computed: the shape and its letter are then removed, the legend
// is unchanged and `error` holds the reason.
bool AddMeasureText(imaging::DicomImage &image, const imaging::DicomLabelPtr &shape, QString *error = nullptr);
// A free text at image pixel (px, py); none for the unchanged initial text.
imaging::DicomLabelPtr AddTextAnnotation(imaging::DicomImage &image, const QString &text, int px, int py);
// The text of an arrow at its end (px, py); the initial text gives an empty text.
imaging::DicomLabelPtr AddIndicationText(imaging::DicomImage &image, const imaging::DicomLabelPtr &arrow,
                                         const QString &text, int px, int py);
// Completes an angle whose first leg (drawn from the press to the release, in image
// pixels) is among the image's labels: turns it to start at the release point (the
// vertex), adds the second leg at 45 degrees and the angle text. A leg shorter than 10
// pixels is removed and nothing is created (false).
bool CompleteAngle(imaging::DicomImage &image, const imaging::DicomLabelPtr &firstLeg);

// The grab of marks that recomputes the values of a reshaped mark at the release.
class TMeasureGrab : public TMarkGrab
{
public:
    explicit TMeasureGrab(TFrameDicomViewer *frame = nullptr) : frame_(frame) {}
    void RefreshGroupText(int imageIndex) override;
    // The same on an image (no widget); false with `error` when an ellipse could no
    // longer be measured (it is then removed with its letter and its legend entry).
    bool RefreshGroupTextOn(imaging::DicomImage &image, QString *error = nullptr);

private:
    TFrameDicomViewer *frame_;
};

// ---- Text entry ----
// Asks for a text (title "Texte d'annotation", prompt "Entrez votre texte", starting
// with `initial`); a cancelled box gives the empty text. Tests replace the dialog.
using TextEntryFunction = std::function<QString(QWidget *parent, const QString &initial)>;
void SetTextEntryFunction(TextEntryFunction function);
QString AskText(QWidget *parent, const QString &initial);
// The platform's input box, starting with `text`; false when cancelled.
bool InputBox(QWidget *parent, const QString &title, const QString &prompt, QString &text);

// ---- Frame glue ----
// Gives a frame its shape tools and the grab that recomputes values.
void InstallMeasureTools(TFrameDicomViewer &frame);
void BeginShape(TFrameDicomViewer &frame, int tool, int x, int y);
void FinishShape(TFrameDicomViewer &frame, int tool, int x, int y);

} // namespace measures
