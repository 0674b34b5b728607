#pragma once
// The eleven labels every loaded image carries and the four corner texts composed
// from its attributes:
//   1-4 orientation markers ("Top", "Left", "Right", "Bottom"), 5 and 6 rulers,
//   7 top-left, 8 bottom-left, 9 top-right, 10 bottom-right text, 11 selection marker.
// Texts are lines separated by a carriage return; each line that later code rewrites
// starts with a fixed prefix ("Im:", "Fr:", "Zoom:", "W:", "Lgd:").

#include "imaging/imaging.h"

#include <QString>

#include <stdexcept>

namespace loading {

// Label numbers.
enum LabelNumber {
    kLabelTop = 1, kLabelLeft = 2, kLabelRight = 3, kLabelBottom = 4,
    kLabelVerticalRuler = 5, kLabelHorizontalRuler = 6,
    kLabelTopLeft = 7, kLabelBottomLeft = 8, kLabelTopRight = 9, kLabelBottomRight = 10,
    kLabelSelection = 11
};

inline constexpr const char *kSopClassCT = "1.2.840.10008.5.1.4.1.1.2";
inline constexpr const char *kSopClassMR = "1.2.840.10008.5.1.4.1.1.4";
inline constexpr const char *kSopClassXA = "1.2.840.10008.5.1.4.1.1.12.1";
inline constexpr const char *kSopClassSC = "1.2.840.10008.5.1.4.1.1.7";
inline constexpr const char *kSopClassCR = "1.2.840.10008.5.1.4.1.1.1";

// A value that must be a number and is not (the load ends on it).
class ValueError : public std::runtime_error
{
public:
    explicit ValueError(const QString &message) : std::runtime_error(message.toStdString()) {}
    QString Message() const { return QString::fromStdString(what()); }
};

// What the corner texts need beyond the image itself.
struct CornerTextContext
{
    bool demo = false;        // the "/DEMO" option: names hidden
    int seriesRecords = 0;    // series records of the catalogue study ("Se: n/records")
    int seriesCounter = 0;    // the loader's series counter; Series Number replaces it
    int backColour = 0;       // the main window's colour (black)
};

// The texts, as the labels get them. TopLeftText reads and may update
// context.seriesCounter and adds (0020,0011) when the image has no Series Number.
// Throw ValueError when a value that must be a number is not.
QString TopLeftText(imaging::DicomImage &image, CornerTextContext &context);
QString BottomLeftText(const imaging::DicomImage &image);
QString TopRightText(const imaging::DicomImage &image, bool demo);
QString BottomRightText(const imaging::DicomImage &image);
// The slice position line ("Ax: I85.5"); empty when a value is missing or unreadable.
QString SlicePositionLine(const imaging::DicomAttributes &attributes);

// Creates the eleven labels on the image (its labels must be empty) and fills the four
// corner texts; for X-ray angiography also turns the display cache off; sets the three
// LUT switches to 0. Throws ValueError as above (the image then has no labels).
void AddImageLabels(imaging::DicomImage &image, CornerTextContext &context);

} // namespace loading
