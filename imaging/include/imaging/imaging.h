#pragma once
// The imaging component: DICOM files, catalogues, images, labels and display state.
//
// Conventions of this interface
// - Every class is abstract and lives in namespace imaging; objects are shared through
//   std::shared_ptr. Collections count and index from 1.
// - A property P is read with P() and written with SetP(v) (for example Width() and
//   SetWidth(v)); methods keep their plain names (ReadFile, AddPoint, Rescale).
// - Values are QVariant, texts QString. Colours are Windows colour values held in an
//   int (red in the low byte, 0x80FF is orange); ColourToQColor() converts.
// - Errors the caller must show or handle (an unreadable file or catalogue, a
//   measurement that cannot be computed) are thrown as imaging::DicomError, whose
//   what() is a French sentence (UTF-8) naming the file and the reason, fit to show to
//   the user as it is. Other members do not throw: an index out of range gives an
//   empty result (null pointer, empty QVariant).
// - Objects may be used from any thread, one thread at a time per object, except the
//   image collection (DicomImages), which may be appended to by one thread while others
//   read it: Count and Item never see a half-added entry.
// - Nothing here includes DCMTK or OpenJPEG; the implementation keeps them private.

#include "imaging/geometry.h"
#include "imaging/module.h"

#include <QColor>
#include <QDate>
#include <QImage>
#include <QMetaType>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace imaging {

class DicomAttribute;
class DicomAttributes;
class DicomDataSet;
class DicomDataSets;
class DicomImage;
class DicomImages;
class DicomLabel;
class DicomLabels;
class DicomGlobal;
struct DisplayGeometry;

using DicomAttributePtr = std::shared_ptr<DicomAttribute>;
using DicomAttributesPtr = std::shared_ptr<DicomAttributes>;
using DicomDataSetPtr = std::shared_ptr<DicomDataSet>;
using DicomDataSetsPtr = std::shared_ptr<DicomDataSets>;
using DicomImagePtr = std::shared_ptr<DicomImage>;
using DicomImagesPtr = std::shared_ptr<DicomImages>;
using DicomLabelPtr = std::shared_ptr<DicomLabel>;
using DicomLabelsPtr = std::shared_ptr<DicomLabels>;
using DicomGlobalPtr = std::shared_ptr<DicomGlobal>;

// Error raised by the component (ReadFile, ReadDirectory, ROI statistics ...). what() is
// the French sentence for the user; Detail() the underlying library's own words (in
// English) when it gave any, for the log only.
class DicomError : public std::runtime_error
{
public:
    explicit DicomError(const std::string &message) : std::runtime_error(message) {}
    explicit DicomError(const QString &message) : std::runtime_error(message.toStdString()) {}
    DicomError(const QString &message, const QString &detail)
        : std::runtime_error(message.toStdString()), detail_(detail.toStdString())
    {
    }
    QString Message() const { return QString::fromStdString(what()); }
    QString Detail() const { return QString::fromStdString(detail_); }

private:
    std::string detail_;
};

// An error as the log keeps it: its text, then the underlying reason of a DicomError
// in brackets when it has one.
inline QString ErrorLogText(const std::exception &error)
{
    QString text = QString::fromUtf8(error.what());
    if (const auto *dicom = dynamic_cast<const DicomError *>(&error); dicom && !dicom->Detail().isEmpty())
        text += QStringLiteral(" [") + dicom->Detail() + QLatin1Char(']');
    return text;
}

// Windows colour value (0x00BBGGRR) to QColor and back.
inline QColor ColourToQColor(int colour)
{
    return QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}
inline int QColorToColour(const QColor &c)
{
    return c.red() | (c.green() << 8) | (c.blue() << 16);
}

// ---------------------------------------------------------------------------------------
// Attributes

// One attribute of a data set, read when it was asked for (a snapshot of its value).
class DicomAttribute : public ComponentObject
{
public:
    virtual int Group() const = 0;
    virtual int Element() const = 0;
    // Value representation, two letters ("PN", "SQ"); empty for an absent attribute.
    virtual QString VR() const = 0;
    // Dictionary name ("Patient's Name"), including elements declared with
    // DicomGlobal::AddDictionaryElement; "Unknown" when no dictionary knows the tag.
    virtual QString Description() const = 0;
    virtual bool Exists() const = 0;
    // The value:
    // - invalid QVariant for an absent attribute or one without value (zero length);
    // - one value: QString for texts (decoded by the Specific Character Set; dates and
    //   times as stored), double for DS/FL/FD, int (qint64 for UL/SV/UV) for IS/US/SS/UL/SL;
    // - several values: QVariantList of those;
    // - a sequence: QVariant holding DicomDataSetsPtr, whose items are DicomDataSet objects
    //   with their own Attributes;
    // - binary data (OB, OW, UN, ...): QByteArray, except Pixel Data (7FE0,0010), which is
    //   an empty QString (the pixels are never loaded just to be listed).
    virtual QVariant Value() const = 0;
    // Value number i (from 1); an empty (invalid) QVariant beyond the values.
    virtual QVariant ValueByIndex(int index) const = 0;
    // Number of values (1 for a sequence and for binary data, 0 when empty or absent).
    virtual int VM() const = 0;
    // The value as text: values joined with "\\", a sequence as "Sequence of n items".
    virtual QString Text() const = 0;
    // The value as the file stores it: decimal and integer strings (DS, IS) as their texts
    // without the blanks that pad them ("0.000000" stays "0.000000"), one QString or a
    // QVariantList of them; every other value as Value gives it.
    virtual QVariant StoredValue() const { return Value(); }

    static constexpr const char *kClassName = "DicomAttribute";
};

// One row of a data set listing (DicomAttributes::Listing): an attribute of the data set
// or of an item of one of its sequences, at any depth.
struct DicomListedAttribute
{
    int group = 0;
    int element = 0;
    QString vr;          // as DicomAttribute::VR
    QString description; // as DicomAttribute::Description
    // Number (from 1) of the sequence item that holds the attribute, 0 at the top level;
    // only the nearest item counts.
    int item = 0;
    int depth = 0; // 0 at the top level, 1 inside one sequence ...
    // A sequence: `value` is invalid and `sequenceItems` its item count; its items'
    // attributes follow it in the listing. Anything else: `value` and `vm` as
    // DicomAttribute::StoredValue and VM give them (numbers written as text keep the
    // text the file holds).
    bool sequence = false;
    int sequenceItems = 0;
    QVariant value;
    int vm = 0;
};

// The attributes of one data set (an image's, a catalogue record's or a sequence item's).
// Live: it reflects later changes of the data set.
class DicomAttributes : public ComponentObject
{
public:
    virtual int Count() const = 0;
    // The attribute (group, element); an object with Exists() false when absent.
    virtual DicomAttributePtr Item(int group, int element) const = 0;
    // Attribute number i (from 1) in tag order; nullptr outside 1..Count.
    virtual DicomAttributePtr ItemByIndex(int index) const = 0;
    // Adds or replaces an attribute. `value` as for DicomAttribute::Value (a QVariantList
    // gives several values, a DicomDataSetsPtr a sequence); `vr` empty takes the
    // dictionary's VR (unknown tags default to "LO" for text, "UN" for QByteArray).
    // Throws DicomError when the value does not fit the VR.
    virtual DicomAttributePtr Add(int group, int element, const QVariant &value,
                                  const QString &vr = QString()) = 0;
    virtual bool Remove(int group, int element) = 0;
    // Every attribute in tag order, each sequence followed by the attributes of its items,
    // item after item, as deep as the data set goes (an item without attributes adds no
    // row). The default walks Count, ItemByIndex and the items of sequence values; the
    // component's own collections walk their data set in one pass.
    virtual std::vector<DicomListedAttribute> Listing() const;

    static constexpr const char *kClassName = "DicomAttributes";
};

// ---------------------------------------------------------------------------------------
// Data sets and catalogues

// A data set: a catalogue record, a sequence item, or a free-standing data set.
class DicomDataSet : public ComponentObject
{
public:
    virtual DicomAttributesPtr Attributes() const = 0;
    // Lower-level records of a catalogue record (patients under the root, studies under a
    // patient ...); an empty collection for other data sets.
    virtual DicomDataSetsPtr Children() const = 0;
    // Shortcuts to (0010,0020), (0020,000D), (0010,0010), (0010,0040), (0008,1030),
    // trimmed; empty when absent.
    virtual QString PatientID() const = 0;
    virtual QString StudyUID() const = 0;
    virtual QString Name() const = 0;
    virtual QString Sex() const = 0;
    virtual QString StudyDescription() const = 0;
    // Directory Record Type (0004,1430) of a catalogue record ("PATIENT", "STUDY" ...).
    virtual QString RecordType() const = 0;
    // An image made of this data set (for example the item of an Icon Image Sequence
    // (0088,0200)); it shares nothing with the record afterwards. Throws DicomError when
    // the data set holds no displayable pixels.
    virtual DicomImagePtr MakeImage() const = 0;

    static constexpr const char *kClassName = "DicomDataSet";
};

// A collection of data sets: the catalogues read, a record's children, a sequence's items.
class DicomDataSets : public ComponentObject
{
public:
    virtual int Count() const = 0;
    virtual DicomDataSetPtr Item(int index) const = 0;
    // Appends a data set (for building sequences).
    virtual void Add(const DicomDataSetPtr &dataSet) = 0;
    // Appends a new empty data set and returns it.
    virtual DicomDataSetPtr AddNew() = 0;
    virtual void Clear() = 0;
    // Reads a DICOM catalogue (DICOMDIR) and returns its root record, whose Children are
    // the patient records (then studies, series, images). The root is also appended to
    // this collection. Throws DicomError with a text naming the file when it cannot be
    // read (missing, not DICOM, no directory records, broken record links).
    virtual DicomDataSetPtr ReadDirectory(const QString &path) = 0;

    static constexpr const char *kClassName = "DicomDataSets";
};

// ---------------------------------------------------------------------------------------
// Labels

// A label drawn over an image: a text, a shape, a measurement.
//
// Coordinates (Left, Top, Width, Height) are signed 16-bit values; Width and Height give
// the direction from the start point (Left, Top) to the end point (Left + Width,
// Top + Height). Their unit depends on the label:
// - ImageTied: image pixel coordinates (pixel (i, j) covers [i, i+1) x [j, j+1));
// - not tied, ScaleWithCell: cell units, 0..1000 across the cell and 0..1000 down it
//   (10..990 across and 5..500 down is the top half);
// - not tied, not ScaleWithCell: client pixels of the control that shows the image.
// Rescale turns a label drawn in client pixels into image pixel coordinates.
class DicomLabel : public ComponentObject
{
public:
    // LabelType values.
    enum Type {
        TypeText = 0, TypeEllipse = 1, TypeRectangle = 2, TypeLine = 3, TypePolyline = 4,
        TypePolygon = 5, TypePoint = 6, TypeOrientation = 7, TypeArrow = 10, TypeRuler = 11
    };

    virtual int Left() const = 0;
    virtual void SetLeft(int v) = 0; // stored as a signed 16-bit value
    virtual int Top() const = 0;
    virtual void SetTop(int v) = 0;
    virtual int Width() const = 0;
    virtual void SetWidth(int v) = 0;
    virtual int Height() const = 0;
    virtual void SetHeight(int v) = 0;
    virtual int LabelType() const = 0;
    virtual void SetLabelType(int v) = 0;
    virtual QString Text() const = 0;
    virtual void SetText(const QString &v) = 0;
    virtual QString FontName() const = 0; // default "Arial"
    virtual void SetFontName(const QString &v) = 0;
    virtual int FontSize() const = 0; // default 12
    virtual void SetFontSize(int v) = 0;
    // 0, 1, 2: left, centre, right at the box's top; 8, 9, 10: the same at its bottom.
    virtual int Alignment() const = 0;
    virtual void SetAlignment(int v) = 0;
    virtual int ForeColour() const = 0; // default white 0xFFFFFF
    virtual void SetForeColour(int v) = 0;
    virtual int BackColour() const = 0; // default black 0
    virtual void SetBackColour(int v) = 0;
    virtual bool Transparent() const = 0; // default true
    virtual void SetTransparent(bool v) = 0;
    virtual int LineWidth() const = 0; // default 1
    virtual void SetLineWidth(int v) = 0;
    virtual int LineStyle() const = 0; // Qt::PenStyle - 1: 0 solid, 1 dash, 2 dot ...
    virtual void SetLineStyle(int v) = 0;
    virtual bool XOR() const = 0;
    virtual void SetXOR(bool v) = 0;
    virtual bool Visible() const = 0; // default true
    virtual void SetVisible(bool v) = 0;
    virtual bool AutoSize() const = 0;
    virtual void SetAutoSize(bool v) = 0;
    virtual int SelectMode() const = 0; // 0 not selected, else selected (handles shown)
    virtual void SetSelectMode(int v) = 0;
    virtual bool ImageTied() const = 0;
    virtual void SetImageTied(bool v) = 0;
    virtual bool ScaleWithCell() const = 0; // default true
    virtual void SetScaleWithCell(bool v) = 0;
    virtual bool ScaleFontSize() const = 0;
    virtual void SetScaleFontSize(bool v) = 0;
    virtual bool RotateTextWithImage() const = 0;
    virtual void SetRotateTextWithImage(bool v) = 0;
    // Untied text labels: a line that does not fit the room it has (the label's box,
    // less what the cell's other texts take on that row) is drawn on several lines,
    // broken after a list separator ", " (an item too wide alone at its blanks); the
    // lines grow from the label's aligned edge. The text itself is not changed. Default
    // false.
    virtual bool WrapText() const = 0;
    virtual void SetWrapText(bool v) = 0;
    virtual int Shadow() const = 0;
    virtual void SetShadow(int v) = 0;
    // Any value; the viewer keeps QVariantList of four ints there.
    virtual QVariant Tag() const = 0;
    virtual void SetTag(const QVariant &v) = 0;

    // Points of polylines, polygons and point labels, in the label's unit.
    virtual void AddPoint(double x, double y) = 0;
    virtual int PointCount() const = 0;
    virtual QPointF PointAt(int index) const = 0; // from 1
    virtual void ClearPoints() = 0;

    // Converts a label drawn in client pixels (or cell units when ScaleWithCell) over
    // `image`, as it is displayed now (its DisplayCell, zoom, scroll, rotation and flip),
    // into image pixel coordinates; the label becomes ImageTied. The start point maps to
    // the start point, so a line keeps its direction. Does nothing on a tied label.
    virtual void Rescale(const DicomImage &image) = 0;
    // The same with an explicit display geometry.
    virtual void RescaleWith(const DisplayGeometry &geometry) = 0;

    // Measurements, computed from the image whose Labels hold the label (the last one it
    // was added to), on modality-rescaled values of that image's displayed frame.
    // Length of a line, arrow or ruler (end to end), or of a polyline (sum of its
    // segments): millimetres from Pixel Spacing (0028,0030); without it, pixels.
    virtual double ROILength() const = 0;
    //
    // Regions (ellipse, rectangle, polygon) are measured over the pixels they cover: the
    // pixels of the displayed frame whose centre (x + 0.5, y + 0.5) lies inside the shape
    // or on its border (an ellipse with centre c and half axes a, b holds the points with
    // ((x - cx) / a)^2 + ((y - cy) / b)^2 <= 1; a polygon follows the even-odd rule).
    // Pixels outside the image do not count: a region partly off the image is measured
    // on its part over the image.
    // Area: the number of those pixels x the area of one pixel (row spacing x column
    // spacing from Pixel Spacing, else 1), in square millimetres or square pixels; so the
    // area, the mean and the deviation always describe the same pixels. 0 for labels
    // that are not regions.
    virtual double ROIArea() const = 0;
    // Mean and population standard deviation of the modality values of those pixels; for
    // a point label (or a one-point label) the value of the pixel under its first point.
    // Colour pixels count as their mean of R, G, B.
    // ROIArea, ROIMean and ROIStandardDeviation throw DicomError when the label is on no
    // image, holds no pixel of the image, or the image's pixels cannot be decoded.
    virtual double ROIMean() const = 0;
    virtual double ROIStandardDeviation() const = 0;
    // "mm" when lengths are in millimetres, "pixels" otherwise.
    virtual QString ROIDistanceUnits() const = 0;

    // A copy that is in no collection.
    virtual DicomLabelPtr Clone() const = 0;

    static constexpr const char *kClassName = "DicomLabel";
};

class DicomLabels : public ComponentObject
{
public:
    virtual int Count() const = 0;
    virtual DicomLabelPtr Item(int index) const = 0; // from 1; nullptr outside
    // Appends a new label (defaults as documented in DicomLabel) and returns it.
    virtual DicomLabelPtr AddNew() = 0;
    // Appends this very label object (it may sit in other collections too).
    virtual void Add(const DicomLabelPtr &label) = 0;
    virtual void Remove(int index) = 0; // from 1; out of range does nothing
    virtual void Clear() = 0;
    virtual int IndexOf(const DicomLabel *label) const = 0; // 0 when absent

    static constexpr const char *kClassName = "DicomLabels";
};

// ---------------------------------------------------------------------------------------
// Images

// One displayable image: a DICOM file (or data set) at one of its frames, with its own
// display state and labels. Entries made by re-adding a held image to a collection share
// the data set and the decoded pixels with the original but have their own Frame, labels
// and display state.
class DicomImage : public ComponentObject
{
public:
    // Identification (initialised from the data set; SeriesUID and StudyUID may be
    // rewritten by the viewer and are then kept on this entry, the data set unchanged).
    virtual QString SOPClass() const = 0;
    virtual QString InstanceUID() const = 0;
    virtual QString SeriesUID() const = 0;
    virtual void SetSeriesUID(const QString &v) = 0;
    virtual QString StudyUID() const = 0;
    virtual void SetStudyUID(const QString &v) = 0;
    virtual QString Name() const = 0; // Patient's Name as stored (with "^")
    virtual QString PatientID() const = 0;
    virtual QString Sex() const = 0;
    virtual QDate DateOfBirthAsDate() const = 0; // invalid QDate when absent or unreadable
    virtual QString FileName() const = 0; // empty for images not read from a file

    // The data set; Add and Remove change it (shared with re-added entries).
    virtual DicomAttributesPtr Attributes() const = 0;
    virtual DicomLabelsPtr Labels() const = 0;

    // Frames, from 1.
    virtual int FrameCount() const = 0;
    virtual int Frame() const = 0;
    virtual void SetFrame(int v) = 0; // clamped to 1..FrameCount
    // Pixel columns and rows.
    virtual int SizeX() const = 0;
    virtual int SizeY() const = 0;
    virtual bool IsColour() const = 0;

    // Window: Width and Level in modality-rescaled units; a negative Width inverts.
    // Initially from Window Width/Center (0028,1051/1050) when present, else from the
    // range of the pixel values (computed on first use).
    virtual double Width() const = 0;
    virtual void SetWidth(double v) = 0;
    virtual double Level() const = 0;
    virtual void SetLevel(double v) = 0;

    // Display geometry. Zoom: screen pixels per image pixel when not stretched.
    // ScrollX/Y: screen pixels by which the displayed image is shifted left/up inside its
    // cell (negative moves it right/down). StretchToFit: the image is fitted to its cell
    // and centred; ActualZoom/ActualScrollX/Y then give the values in effect.
    virtual double Zoom() const = 0;
    virtual void SetZoom(double v) = 0;
    virtual double ActualZoom() const = 0;
    virtual int ScrollX() const = 0;
    virtual void SetScrollX(int v) = 0;
    virtual int ScrollY() const = 0;
    virtual void SetScrollY(int v) = 0;
    virtual int ActualScrollX() const = 0;
    virtual int ActualScrollY() const = 0;
    virtual bool StretchToFit() const = 0;
    virtual void SetStretchToFit(bool v) = 0;
    // FlipState: 0 none, 1 left-right mirror, 2 top-bottom mirror, 3 both.
    virtual int FlipState() const = 0;
    virtual void SetFlipState(int v) = 0;
    // RotateState: quarter turns anticlockwise (0..3), applied after the flip.
    virtual int RotateState() const = 0;
    virtual void SetRotateState(int v) = 0;
    // The cell the image is shown in, in client pixels of its control (set by the control
    // at each layout; 512 x 512 at (0, 0) until then). OriginX/Y: the cell's top-left.
    virtual QRectF DisplayCell() const = 0;
    virtual void SetDisplayCell(const QRectF &cell) = 0;
    virtual int OriginX() const = 0;
    virtual int OriginY() const = 0;
    // The geometry functions' input for this image as it is displayed now.
    virtual DisplayGeometry Geometry() const = 0;

    // Kept display switches.
    virtual bool ShowLabels() const = 0; // default true
    virtual void SetShowLabels(bool v) = 0;
    // When false, changes do not notify the change listeners (the control does not redraw).
    virtual bool ShowUpdates() const = 0; // default true
    virtual void SetShowUpdates(bool v) = 0;
    virtual int MagnificationMode() const = 0; // 0 nearest, 1 and above smooth
    virtual void SetMagnificationMode(int v) = 0;
    virtual int MinificationMode() const = 0; // 0/1 nearest, 2 and above smooth
    virtual void SetMinificationMode(int v) = 0;
    // LUT switches: 0 ignores the data set's table (linear rescale only; Width/Level only;
    // identity presentation), 1 applies the data set's Modality LUT Sequence, VOI LUT
    // Sequence, Presentation LUT Shape when present. Default 0.
    virtual int ModalityLUT() const = 0;
    virtual void SetModalityLUT(int v) = 0;
    virtual int VOILUT() const = 0;
    virtual void SetVOILUT(int v) = 0;
    virtual int PresentationLUT() const = 0;
    virtual void SetPresentationLUT(int v) = 0;
    virtual bool CacheDisplay() const = 0; // default true
    virtual void SetCacheDisplay(bool v) = 0;
    virtual int CineMode() const = 0;
    virtual void SetCineMode(int v) = 0;
    // A factor on the image's own frame rate (see DicomViewerLight::CineFramesPerSecond),
    // default 1.
    virtual double CineRate() const = 0;
    virtual void SetCineRate(double v) = 0;
    virtual int BorderWidth() const = 0;
    virtual void SetBorderWidth(int v) = 0;
    virtual int BorderStyle() const = 0;
    virtual void SetBorderStyle(int v) = 0;
    virtual int BorderColour() const = 0;
    virtual void SetBorderColour(int v) = 0;
    virtual QVariant Tag() const = 0;
    virtual void SetTag(const QVariant &v) = 0;

    // Pixels, after the modality rescale, over the current frame. Decodes when needed;
    // throws DicomError when the pixels cannot be decoded.
    virtual double MaximumPixelValue() const = 0;
    virtual double MinimumPixelValue() const = 0;
    // Modality-rescaled value of pixel (x, y) of the current frame (colour: mean of R, G,
    // B); NaN outside the image. Throws DicomError when the pixels cannot be decoded.
    virtual double PixelValue(int x, int y) const = 0;
    // The current frame after rescale, window and LUT switches, with activated overlays:
    // Format_Grayscale8 (monochrome) or Format_RGB32 (colour), SizeX x SizeY, not
    // rotated or flipped (drawing applies the geometry). Throws DicomError as above.
    virtual QImage DisplayFrame() const = 0;
    // The image as displayed (frame, window, flip and rotation) without labels, at one
    // image pixel per screen pixel.
    virtual QImage Picture() const = 0;

    // The line where the plane of `other` cuts this image's plane, as a new ImageTied line
    // label (LabelType 3) in this image's pixel coordinates, not added to Labels.
    // intersection true: only the part inside both images' extents; false: across this
    // image. nullptr when a position, orientation, spacing or size is missing, the planes
    // are parallel, or the line misses the image.
    virtual DicomLabelPtr ReferenceLine(const DicomImage &other, bool intersection) const = 0;

    // The control shows this image: its decoded frame is kept out of cache eviction.
    virtual void SetOnScreen(bool v) = 0;
    virtual bool OnScreen() const = 0;
    // Tells the listeners (the controls showing the image) to redraw; pixelsChanged
    // drops the image's display cache first.
    virtual void Refresh(bool pixelsChanged = false) = 0;
    // Listeners called (on the caller's thread) by Refresh and by every change of a
    // display property while ShowUpdates is true. Returns an id for RemoveChangeListener.
    virtual int AddChangeListener(std::function<void()> listener) = 0;
    virtual void RemoveChangeListener(int id) = 0;

    // Orientation letters of an edge ("Top", "Left", "Right", "Bottom") as displayed,
    // from Image Orientation (Patient) and DicomGlobal::DirectionStrings; empty when
    // unknown.
    virtual QString EdgeOrientation(const QString &edge) const = 0;

    static constexpr const char *kClassName = "DicomImage";
};

class DicomImages : public ComponentObject
{
public:
    virtual int Count() const = 0;
    virtual DicomImagePtr Item(int index) const = 0; // from 1; nullptr outside
    // Appends `image`. When this collection already holds it, appends a new entry that
    // shares its data set and pixels, with a copy of its display state and labels (its own
    // Frame and labels from then on). Returns the entry appended.
    virtual DicomImagePtr Add(const DicomImagePtr &image) = 0;
    // Moves entry `from` to position `to` (Move(i, i + 1) swaps neighbours).
    virtual void Move(int from, int to) = 0;
    virtual void Remove(int index) = 0;
    virtual void Clear() = 0;
    // Reads a DICOM file (Part 10 or a bare data set), appends it and returns it. The pixel
    // data stays on disk until first needed. Throws DicomError naming the file when it is
    // missing, a folder, empty, not DICOM, truncated, or declares pixels it cannot carry.
    virtual DicomImagePtr ReadFile(const QString &path) = 0;
    virtual int IndexOf(const DicomImage *image) const = 0; // 0 when absent

    static constexpr const char *kClassName = "DicomImages";
};

// Process-wide settings of the component.
class DicomGlobal : public ComponentObject
{
public:
    // Six orientation letters separated by "\\": right, left, anterior, posterior,
    // feet (inferior), head (superior). Default "R\\L\\A\\P\\F\\H".
    virtual QString DirectionStrings() const = 0;
    virtual void SetDirectionStrings(const QString &v) = 0;
    // Named integer switches ("DirectDraw", "StaticPalette", "ScaleLineWidth",
    // "CacheMegabytes" = decoded-frame cache budget). Unknown names read 0.
    virtual int RegWord(const QString &name) const = 0;
    virtual void SetRegWord(const QString &name, int value) = 0;
    virtual QString Version() const = 0;
    // Declares a data dictionary entry for every data set of the process (thread-safe).
    virtual void AddDictionaryElement(int group, int element, const QString &vr,
                                      const QString &vm, const QString &description) = 0;

    static constexpr const char *kClassName = "DicomGlobal";
};

// ---------------------------------------------------------------------------------------
// Direct creation (the static library; the module hands out the same objects through
// its class factories).

DicomImagesPtr CreateImages();
DicomImagePtr CreateImage(); // an empty image (no data set, 0 x 0)
DicomLabelPtr CreateLabel();
DicomLabelsPtr CreateLabels();
DicomDataSetsPtr CreateDataSets();
DicomDataSetPtr CreateDataSet();
DicomGlobalPtr CreateGlobal();

// The class factories of the component, as the module's entry point gives them.
// Returns 0 and sets *factory for the class names of kComponentClasses, -1 otherwise.
int GetClassObject(const char *className, ClassFactory **factory);

// Downcast of a ComponentObject made by a factory (checks the class name; no RTTI across
// the module boundary). Returns nullptr when the object is of another class.
template<class T>
T *component_cast(ComponentObject *object)
{
    if (!object || std::string(object->ClassName()) != T::kClassName)
        return nullptr;
    return static_cast<T *>(object);
}

// Size of the decoded-frame cache shared by all images (bytes); frames of images on
// screen are never evicted. Default 512 MiB.
void SetFrameCacheBudget(std::size_t bytes);
std::size_t FrameCacheBudget();
std::size_t FrameCacheUsage();

} // namespace imaging

Q_DECLARE_METATYPE(imaging::DicomDataSetsPtr)
Q_DECLARE_METATYPE(imaging::DicomDataSetPtr)
Q_DECLARE_METATYPE(imaging::DicomImagePtr)
Q_DECLARE_METATYPE(imaging::DicomLabelPtr)

namespace imaging {

inline std::vector<DicomListedAttribute> DicomAttributes::Listing() const
{
    std::vector<DicomListedAttribute> rows;
    struct Level
    {
        const DicomAttributes *attributes;
        DicomAttributesPtr hold; // keeps an item's collection alive while it is walked
        int next;
        int item;
        int depth;
    };
    struct Pending
    {
        DicomDataSetsPtr items;
        int next;
        int depth;
    };
    // Walked without recursion, so that a deeply nested data set cannot exhaust the stack.
    std::vector<std::pair<Level, Pending>> stack;
    stack.push_back({Level{this, nullptr, 1, 0, 0}, Pending{nullptr, 0, 0}});
    while (!stack.empty()) {
        auto &[level, pending] = stack.back();
        if (pending.items) {
            if (pending.next > pending.items->Count()) {
                pending.items.reset();
                continue;
            }
            const int n = pending.next++;
            const DicomDataSetPtr item = pending.items->Item(n);
            DicomAttributesPtr attributes = item ? item->Attributes() : nullptr;
            if (attributes) {
                const int depth = pending.depth;
                stack.push_back({Level{attributes.get(), attributes, 1, n, depth}, Pending{nullptr, 0, 0}});
            }
            continue;
        }
        if (level.next > level.attributes->Count()) {
            stack.pop_back();
            continue;
        }
        const DicomAttributePtr a = level.attributes->ItemByIndex(level.next++);
        if (!a)
            continue;
        DicomListedAttribute row;
        row.group = a->Group();
        row.element = a->Element();
        row.vr = a->VR();
        row.description = a->Description();
        row.item = level.item;
        row.depth = level.depth;
        const QVariant value = a->Value();
        if (value.userType() == qMetaTypeId<DicomDataSetsPtr>()) {
            const DicomDataSetsPtr items = value.value<DicomDataSetsPtr>();
            row.sequence = true;
            row.sequenceItems = items ? items->Count() : 0;
            row.vm = a->VM();
            const int depth = level.depth + 1;
            rows.push_back(std::move(row));
            if (items)
                pending = Pending{items, 1, depth};
            continue;
        }
        row.value = a->StoredValue();
        row.vm = a->VM();
        rows.push_back(std::move(row));
    }
    return rows;
}

} // namespace imaging
