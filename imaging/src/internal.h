#pragma once
// Shared internals of the imaging component. Only imaging/src includes this (and DCMTK).

#include "imaging/imaging.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctk.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace imaging::detail {

// Registers DCMTK's decoders once per process.
void EnsureDcmtkInitialised();

// Decoded frames may not exceed this many bytes each, whatever a file declares.
constexpr std::uint64_t kMaxFrameBytes = 1024ull * 1024 * 1024;
// Compressed pixel data may justify at most this many decoded bytes per stored byte
// (plus kCompressedSlack), so a small file cannot make a decoder allocate gigabytes.
constexpr std::uint64_t kMaxCompressionRatio = 1024;
constexpr std::uint64_t kCompressedSlack = 16ull * 1024 * 1024;

// A DICOM data set tree with the lock that guards it. Images, attributes and sequence
// items hold it through shared pointers; every access to the DCMTK objects inside takes
// the lock.
struct DataRoot
{
    std::recursive_mutex mutex;
    std::unique_ptr<DcmFileFormat> file; // set for files read from disk and new data sets
    QString fileName;

    DcmDataset *dataset() const { return file ? file->getDataset() : nullptr; }
};
using DataRootPtr = std::shared_ptr<DataRoot>;

// One item of a tree: the data set itself or an item of a sequence inside it.
struct ItemRef
{
    DataRootPtr root;
    DcmItem *item = nullptr;
};

DataRootPtr NewEmptyRoot();

// The element `key` of `item` itself (not inside its sequences); null when absent.
// Cheaper than DcmItem::findAndGetElement, which builds a search stack at each call.
DcmElement *FindElement(DcmItem *item, const DcmTagKey &key);
// The first item of the sequence `key` of `item` itself, as findAndGetSequenceItem(key,
// item, 0) gives it, found by FindElement; null when there is none.
DcmItem *FirstSequenceItem(DcmItem *item, const DcmTagKey &key);
// While one lives on a thread, FindElement (and the Item* readers below) find the members
// of its item by bisection in a table made by one walk of the item's list: for reading
// many attributes of one data set in a row. The item must not change while it lives
// (the caller holds its data set's lock and only reads).
class ElementIndexScope
{
public:
    explicit ElementIndexScope(DcmItem *item);
    ~ElementIndexScope();
    ElementIndexScope(const ElementIndexScope &) = delete;
    ElementIndexScope &operator=(const ElementIndexScope &) = delete;
    DcmItem *item() const { return item_; }
    DcmElement *find(const DcmTagKey &key) const;

private:
    DcmItem *item_;
    const ElementIndexScope *previous_;
    bool active_ = true;
    std::vector<std::pair<Uint32, DcmElement *>> members_;
};
// Text of an element decoded by the Specific Character Set in force for its item.
QString DecodeText(DcmItem *item, const OFString &raw);
// A known attribute stored as UN, as an element of its dictionary VR (kept in `holder`);
// any other element as it is.
DcmElement *EffectiveElement(DcmElement *el, std::unique_ptr<DcmElement> &holder);
// The first value of a string attribute, decoded and trimmed; empty when absent.
QString ItemText(DcmItem *item, const DcmTagKey &key);
bool ItemDouble(DcmItem *item, const DcmTagKey &key, double &value, unsigned long pos = 0);
bool ItemInt(DcmItem *item, const DcmTagKey &key, long &value, unsigned long pos = 0);

// The value of one element of `ref.item` as DicomAttribute::Value gives it (sets vm), and
// the description of a tag as DicomAttribute::Description gives it.
QVariant ElementValue(const ItemRef &ref, DcmElement *el, int &vm);
// A decimal or integer string (DS, IS) as DicomAttribute::StoredValue gives it (sets vm);
// an invalid QVariant for any other element and for an empty one.
QVariant StoredNumberTexts(const ItemRef &ref, DcmElement *el, int &vm);
QString TagDescription(const DcmTagKey &key);
// DicomAttributes::Listing of `ref.item`, in one pass over the DCMTK tree (listing.cpp).
std::vector<DicomListedAttribute> ListDataSet(const ItemRef &ref);

// Wrappers around an ItemRef.
DicomAttributesPtr MakeAttributes(const ItemRef &ref);
DicomDataSetPtr MakeDataSet(const ItemRef &ref, DicomDataSetsPtr children = nullptr);

// ---------------------------------------------------------------------------------------
// Pixels

struct PaletteLut
{
    int entries = 0;
    int firstMapped = 0;
    int bits = 8;
    std::vector<std::uint16_t> data;
};

// What the data set says about its pixels, checked at reading.
struct PixelInfo
{
    bool hasPixels = false;
    int rows = 0, cols = 0, frames = 1, samples = 1;
    int bitsAllocated = 8, bitsStored = 8, highBit = 7, pixelRepresentation = 0, planar = 0;
    QString photometric;
    bool encapsulated = false;
    bool jpeg2000 = false;
    bool ybr422Native = false;
    std::uint64_t frameBytes = 0; // bytes of one native frame
    std::uint64_t storedBytes = 0; // length of the pixel data as stored
    double slope = 1.0, intercept = 0.0;
    PaletteLut palette[3];
    bool monochrome() const { return samples == 1 && !photometric.startsWith("PALETTE"); }
    // Whether decoded frames keep their values in 16 bits (Frame::mono16): grey values of
    // at most 16 bits stored (15 unsigned), outside JPEG 2000.
    bool narrowValues() const
    {
        return monochrome() && !jpeg2000 && (bitsAllocated == 8 || bitsAllocated == 16)
               && bitsStored <= (pixelRepresentation == 1 ? 16 : 15);
    }
};

// One decoded frame: monochrome stored values (in 16 bits when they fit, see
// PixelInfo::narrowValues, else in 32) or 0xFFRRGGBB colour pixels.
struct Frame
{
    int width = 0, height = 0;
    bool colour = false;
    std::vector<std::int32_t> mono;
    std::vector<std::int16_t> mono16;
    std::vector<std::uint32_t> rgb;
    std::int32_t minStored = 0, maxStored = 0;
    bool narrow() const { return !mono16.empty(); }
    // Stored value of pixel i of a monochrome frame.
    std::int32_t value(std::size_t i) const { return narrow() ? mono16[i] : mono[i]; }
    std::size_t bytes() const { return mono.size() * 4 + mono16.size() * 2 + rgb.size() * 4 + sizeof(Frame); }
};
using FramePtr = std::shared_ptr<const Frame>;

class PixelSource
{
public:
    // Reads and checks the pixel description of `root`; throws DicomError when the pixel
    // data cannot be what it declares (sizes, lengths, bit depths).
    explicit PixelSource(DataRootPtr root);
    ~PixelSource();

    const PixelInfo &info() const { return info_; }
    // Decoded frame n (1-based), from the cache or decoded now. Throws DicomError.
    FramePtr frame(int n);
    void pin(int n);
    void unpin(int n);
    bool pinned(int n) const;
    std::uint64_t id() const { return id_; }
    const DataRootPtr &root() const { return root_; }

    // Modality rescale of one stored value (slope/intercept, or the data set's Modality LUT
    // when useModalityLut and present).
    double rescale(std::int32_t stored, bool useModalityLut) const;

private:
    FramePtr decode(int n);
    void readModalityLut();

    DataRootPtr root_;
    PixelInfo info_;
    std::uint64_t id_;
    mutable std::mutex pinMutex_;
    std::map<int, int> pins_;
    // The frames being decoded now (each by one thread; see frame()).
    // Modality LUT Sequence (first item), when present.
    bool hasModalityLut_ = false;
    int mlutFirst_ = 0;
    std::vector<double> mlut_;
};
using PixelSourcePtr = std::shared_ptr<PixelSource>;

// Process-wide cache of decoded frames, least recently used first out, never evicting a
// pinned frame (an image on screen).
class FrameCache
{
public:
    static FrameCache &instance();
    FramePtr get(std::uint64_t source, int frame);
    void put(std::uint64_t source, int frame, FramePtr f, const PixelSource *owner);
    void dropSource(std::uint64_t source);
    void setBudget(std::size_t bytes);
    std::size_t budget() const;
    std::size_t usage() const;
    void evict();

    // One decode of a frame at a time, process-wide (the frames being decoded are few):
    // waits while another thread decodes frame `frame` of `source`, then gives the frame
    // when it is in the cache, or null when the caller is to decode it; the caller then
    // calls endDecode, whatever happens.
    FramePtr beginDecode(std::uint64_t source, int frame);
    void endDecode(std::uint64_t source, int frame);

private:
    struct Entry
    {
        std::uint64_t source;
        int frame;
        FramePtr data;
        std::size_t bytes;
        const PixelSource *owner;
        std::uint64_t lastUse;
    };
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
    std::size_t budget_ = 512ull * 1024 * 1024;
    std::size_t usage_ = 0;
    std::uint64_t clock_ = 0;
    std::mutex decodingMutex_;
    std::condition_variable decodeDone_;
    std::set<std::pair<std::uint64_t, int>> decoding_;
};

// JPEG 2000 code stream (or JP2 file) to samples. Throws DicomError.
struct J2kImage
{
    int width = 0, height = 0, components = 0, precision = 0;
    bool isSigned = false;
    std::vector<std::vector<std::int32_t>> planes;
};
J2kImage DecodeJpeg2000(const std::uint8_t *data, std::size_t size, std::uint64_t maxBytes);

// ---------------------------------------------------------------------------------------
// Images and labels

// What all entries made from one file share.
struct ImageShared
{
    DataRootPtr root;
    PixelSourcePtr pixels; // null when the data set has no pixel data
};
using ImageSharedPtr = std::shared_ptr<ImageShared>;

// The part of an image entry that its labels refer to for measurements.
struct EntryState
{
    ImageSharedPtr shared;
    std::atomic<int> frame{1};
    std::atomic<int> modalityLut{0};
};
using EntryStatePtr = std::shared_ptr<EntryState>;

// Pixel spacing in mm (row spacing = between rows, column spacing = between columns)
// from Pixel Spacing (0028,0030) or the multi-frame Pixel Measures; false without it.
bool PatientPixelSpacing(DcmItem *item, double &rowSpacing, double &columnSpacing);

DicomLabelsPtr MakeLabels(std::weak_ptr<EntryState> owner);
void SetLabelOwner(DicomLabel &label, std::weak_ptr<EntryState> owner);
DicomImagePtr MakeImage(ImageSharedPtr shared, const QString &fileName);
DicomImagePtr ReadImageFile(const QString &path);
DicomLabelPtr ReferenceLineBetween(const DicomImage &target, const DicomImage &other, bool intersection);

// Heap objects for the class factories (the caller owns them).
ComponentObject *NewDataSetObject();
ComponentObject *NewDataSetsObject();
ComponentObject *NewGlobalObject();
ComponentObject *NewImageObject();
ComponentObject *NewImagesObject();
ComponentObject *NewLabelObject();
ComponentObject *NewLabelsObject();

// The on-screen control; defined by the viewer control's source when it is built,
// else a placeholder that returns null.
ComponentObject *CreateViewerLightObject(QWidget *parent);

// Default Directions strings and the process-wide settings behind DicomGlobal.
QString GlobalDirectionStrings();

} // namespace imaging::detail
