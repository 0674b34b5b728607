// Pixel data: description checks, per-frame decoding and the decoded-frame cache.

#include "internal.h"
#include "safereading.h"

#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

namespace imaging::detail {

namespace {

std::atomic<std::uint64_t> g_nextSourceId{1};

[[noreturn]] void Fail(const QString &file, const QString &reason)
{
    if (file.isEmpty())
        throw DicomError(QStringLiteral("Image illisible : %1").arg(reason));
    throw DicomError(QStringLiteral("Image illisible %1 : %2").arg(file, reason));
}

bool IsJpeg2000(E_TransferSyntax x)
{
    return x == EXS_JPEG2000LosslessOnly || x == EXS_JPEG2000
        || x == EXS_JPEG2000MulticomponentLosslessOnly || x == EXS_JPEG2000Multicomponent;
}

void ReadPalette(DcmItem *ds, const DcmTagKey &descKey, const DcmTagKey &dataKey, PaletteLut &lut,
                 const QString &file)
{
    long entries = 0, first = 0, bits = 0;
    if (!ItemInt(ds, descKey, entries, 0) || !ItemInt(ds, descKey, first, 1)
        || !ItemInt(ds, descKey, bits, 2))
        Fail(file, QStringLiteral("palette de couleurs sans descripteur."));
    if (entries <= 0)
        entries += 65536; // 0 means 65536 entries; a negative value is a misread US
    if (entries <= 0 || entries > 65536 || (bits != 8 && bits != 16))
        Fail(file, QStringLiteral("descripteur de palette invalide."));
    lut.entries = static_cast<int>(entries);
    lut.firstMapped = static_cast<int>(first);
    lut.bits = static_cast<int>(bits);
    DcmElement *el = nullptr;
    if (ds->findAndGetElement(dataKey, el, OFFalse).bad() || !el)
        Fail(file, QStringLiteral("palette de couleurs sans données (palette segmentée non prise en charge)."));
    const Uint32 len = el->getLength();
    if (len / 2 >= static_cast<Uint32>(lut.entries)) {
        Uint16 *w = nullptr;
        if (el->getUint16Array(w).bad() || !w)
            Fail(file, QStringLiteral("données de palette illisibles."));
        lut.data.assign(w, w + lut.entries);
    } else if (bits == 8 && len >= static_cast<Uint32>(lut.entries)) {
        // Some writers pack 8-bit entries two per word.
        Uint8 *b = nullptr;
        if (el->getUint8Array(b).bad() || !b)
            Fail(file, QStringLiteral("données de palette illisibles."));
        lut.data.assign(b, b + lut.entries);
    } else {
        Fail(file, QStringLiteral("palette de couleurs trop courte."));
    }
}

inline std::uint8_t Clamp8(double v)
{
    return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : std::lround(v));
}

inline std::uint32_t YbrToRgb(int y, int cb, int cr, bool partial)
{
    double r, g, b;
    if (partial) {
        const double yy = 1.1644 * (y - 16);
        r = yy + 1.5960 * (cr - 128);
        g = yy - 0.3918 * (cb - 128) - 0.8130 * (cr - 128);
        b = yy + 2.0172 * (cb - 128);
    } else {
        r = y + 1.402 * (cr - 128);
        g = y - 0.344136 * (cb - 128) - 0.714136 * (cr - 128);
        b = y + 1.772 * (cb - 128);
    }
    return 0xFF000000u | (Clamp8(r) << 16) | (Clamp8(g) << 8) | Clamp8(b);
}

// The items of a pixel sequence (the offset table first) in one pass: DCMTK's getItem(i)
// walks the list from its start each time.
std::vector<DcmPixelItem *> PixelItems(DcmPixelSequence *seq)
{
    std::vector<DcmPixelItem *> items;
    for (DcmObject *o : SequenceMembers(seq))
        items.push_back(static_cast<DcmPixelItem *>(o));
    return items;
}

bool FragmentBytes(const std::vector<DcmPixelItem *> &items, unsigned long i, std::vector<std::uint8_t> &into)
{
    DcmPixelItem *item = i < items.size() ? items[i] : nullptr;
    if (!item)
        return false;
    const Uint32 len = item->getLength();
    if (len == 0)
        return true;
    // Copied out without loading the value into the data set (where it would stay for as
    // long as the image is open, outside the decoded-frame cache's budget): a value left on
    // disk is read from the file.
    const std::size_t at = into.size();
    into.resize(at + len);
    if (item->getPartialValue(into.data() + at, 0, len).bad()) {
        into.resize(at);
        return false;
    }
    return true;
}

// The compressed bytes of frame n (1-based): by the basic offset table when there is
// one, else one fragment per frame, else (single frame) every fragment; JPEG 2000 frames
// may also be found by their start markers.
void FrameCode(DcmPixelSequence *seq, int n, int frames, bool j2k, const QString &file, std::vector<std::uint8_t> &code)
{
    code.clear();
    const std::vector<DcmPixelItem *> items = PixelItems(seq);
    const unsigned long fragments = items.empty() ? 0 : static_cast<unsigned long>(items.size() - 1);
    std::vector<std::uint8_t> table;
    FragmentBytes(items, 0, table);
    const std::size_t entries = table.size() / 4;
    auto fail = [&] { Fail(file, QStringLiteral("fragments compressés illisibles.")); };
    if (frames == 1) {
        for (unsigned long i = 1; i <= fragments; ++i)
            if (!FragmentBytes(items, i, code))
                fail();
    } else if (entries >= static_cast<std::size_t>(frames)) {
        auto entry = [&](std::size_t k) {
            Uint32 v;
            std::memcpy(&v, table.data() + 4 * k, 4);
            return static_cast<std::uint64_t>(v);
        };
        const std::uint64_t begin = entry(static_cast<std::size_t>(n - 1));
        const std::uint64_t end = n < frames ? entry(static_cast<std::size_t>(n)) : UINT64_MAX;
        std::uint64_t pos = 0;
        for (unsigned long i = 1; i <= fragments; ++i) {
            DcmPixelItem *item = items[i];
            if (!item)
                fail();
            if (pos >= begin && pos < end && !FragmentBytes(items, i, code))
                fail();
            pos += 8ull + item->getLength();
        }
    } else if (fragments == static_cast<unsigned long>(frames)) {
        if (!FragmentBytes(items, static_cast<unsigned long>(n), code))
            fail();
    } else if (j2k) {
        int current = 0;
        for (unsigned long i = 1; i <= fragments && current <= n; ++i) {
            std::vector<std::uint8_t> frag;
            if (!FragmentBytes(items, i, frag))
                fail();
            const bool starts = frag.size() >= 4
                                && ((frag[0] == 0xFF && frag[1] == 0x4F && frag[2] == 0xFF && frag[3] == 0x51)
                                    || (frag[0] == 0 && frag[1] == 0 && frag[2] == 0 && frag[3] == 0x0C));
            if (starts)
                ++current;
            if (current == n)
                code.insert(code.end(), frag.begin(), frag.end());
        }
    }
    if (code.empty())
        Fail(file, QStringLiteral("image %1 absente des données compressées.").arg(n));
}

// Working buffers of the decoding thread, kept from one frame to the next: for the fast
// codecs, fresh megabytes at every frame cost more in page faults than the decoding.
struct DecodeScratch
{
    std::vector<std::uint8_t> raw;  // the frame's bytes as stored, or as the codec gives them
    std::vector<std::uint8_t> code; // the compressed bytes of the frame
    std::vector<std::uint8_t> planes; // RLE segments unpacked, before they are woven

    // Gives back what an unusually large frame took, so that no thread keeps it.
    void Trim()
    {
        constexpr std::size_t kKeep = 32u * 1024 * 1024;
        if (raw.capacity() > kKeep)
            std::vector<std::uint8_t>().swap(raw);
        if (code.capacity() > kKeep)
            std::vector<std::uint8_t>().swap(code);
        if (planes.capacity() > kKeep)
            std::vector<std::uint8_t>().swap(planes);
    }
};

DecodeScratch &ThreadScratch()
{
    thread_local DecodeScratch scratch;
    return scratch;
}

// One PackBits segment, code[pos, end), unpacked into `plane` (`pixels` bytes); false
// when the segment ends before the plane is full. Runs longer than what is left are cut.
bool UnpackSegment(const std::uint8_t *code, std::size_t pos, std::size_t end, std::uint8_t *plane,
                   std::size_t pixels)
{
    std::size_t written = 0;
    while (pos < end && written < pixels) {
        const auto n = static_cast<std::int8_t>(code[pos++]);
        if (n >= 0) {
            const std::size_t count = static_cast<std::size_t>(n) + 1;
            if (pos + count > end)
                break;
            std::memcpy(plane + written, code + pos, std::min(count, pixels - written));
            written += std::min(count, pixels - written);
            pos += count;
        } else if (n != -128) {
            if (pos >= end)
                break;
            const std::size_t count = static_cast<std::size_t>(-n) + 1;
            std::memset(plane + written, code[pos++], std::min(count, pixels - written));
            written += std::min(count, pixels - written);
        }
    }
    return written == pixels;
}

// For frame n of an encapsulated image that DCMTK's decoders read: a data set of its own
// holding the pixel description and that frame's compressed bytes as a single frame, so
// that the frame is decoded without the image's data set (the display reads that data set
// at every draw, and a cine decodes the next frames of the same image meanwhile), and the
// compressed bytes are not left loaded in the image's data set once decoded. Null when the
// frame's fragments cannot be told apart here: DCMTK's decoders then read them in place.
std::unique_ptr<DcmDataset> FrameDataSet(DcmDataset *ds, DcmPixelData *pix, int n, int frames, const QString &file)
{
    const E_TransferSyntax xfer = ds->getOriginalXfer();
    DcmPixelSequence *seq = nullptr;
    if (pix->getEncapsulatedRepresentation(xfer, nullptr, seq).bad() || !seq)
        return nullptr;
    std::vector<std::uint8_t> code;
    try {
        FrameCode(seq, n, frames, false, file, code);
    } catch (const DicomError &) {
        return nullptr;
    }
    if (code.size() & 1)
        code.push_back(0); // fragments have even lengths
    auto own = std::make_unique<DcmDataset>();
    // What the decoders read: the image pixel description and the SOP class (its rules for
    // the planar configuration).
    for (unsigned long i = 0; i < ds->card(); ++i) {
        DcmElement *e = ds->getElement(i);
        if (!e)
            continue;
        const DcmTagKey tag = e->getTag();
        const bool wanted = (tag.getGroup() == 0x0028 && e->ident() != EVR_SQ && tag != DCM_NumberOfFrames)
                            || tag == DCM_SOPClassUID;
        if (wanted && own->insert(static_cast<DcmElement *>(e->clone()), OFTrue).bad())
            return nullptr;
    }
    auto *sequence = new DcmPixelSequence(DCM_PixelSequenceTag);
    sequence->insert(new DcmPixelItem(DCM_PixelItemTag)); // an empty offset table
    auto *item = new DcmPixelItem(DCM_PixelItemTag);
    if (item->putUint8Array(code.data(), static_cast<Uint32>(code.size())).bad() || sequence->insert(item).bad()) {
        delete item;
        delete sequence;
        return nullptr;
    }
    auto *pixelData = new DcmPixelData(DCM_PixelData);
    pixelData->putOriginalRepresentation(xfer, nullptr, sequence);
    if (own->insert(pixelData, OFTrue).bad()) {
        delete pixelData;
        return nullptr;
    }
    return own;
}

// DICOM RLE (PackBits segments, one per byte of each sample, most significant first)
// into native little-endian samples, colour by pixel. Every read and write is checked.
// Each segment is unpacked whole into a plane of its own, then the planes are woven
// into the samples.
void DecodeRle(const std::vector<std::uint8_t> &code, std::size_t pixels, int samples, int bytesPerSample,
               std::vector<std::uint8_t> &out, const QString &file)
{
    if (code.size() < 64)
        Fail(file, QStringLiteral("en-tête RLE trop court."));
    auto ul = [&](std::size_t at) {
        Uint32 v;
        std::memcpy(&v, code.data() + at, 4);
        return static_cast<std::size_t>(v);
    };
    const std::size_t segments = ul(0);
    if (segments != static_cast<std::size_t>(samples * bytesPerSample) || segments > 15)
        Fail(file, QStringLiteral("nombre de segments RLE incohérent."));
    const std::size_t stride = segments;
    out.resize(pixels * stride);
    std::vector<std::uint8_t> &planes = ThreadScratch().planes;
    planes.resize(pixels * std::min<std::size_t>(segments, 2));
    for (std::size_t s = 0; s < segments; ++s) {
        const std::size_t pos = ul(4 + 4 * s);
        const std::size_t end = s + 1 < segments ? ul(8 + 4 * s) : code.size();
        if (pos < 64 || pos > code.size() || end > code.size() || end < pos)
            Fail(file, QStringLiteral("segment RLE hors des données."));
        // A 16-bit grey frame's two segments are kept and woven together below.
        std::uint8_t *plane = planes.data() + (segments == 2 ? pixels * s : 0);
        if (!UnpackSegment(code.data(), pos, end, plane, pixels))
            Fail(file, QStringLiteral("segment RLE incomplet."));
        if (segments == 2)
            continue;
        const std::size_t sample = s / static_cast<std::size_t>(bytesPerSample);
        const std::size_t byte = static_cast<std::size_t>(bytesPerSample) - 1 - s % static_cast<std::size_t>(bytesPerSample);
        std::uint8_t *dst = out.data() + sample * static_cast<std::size_t>(bytesPerSample) + byte;
        if (stride == 1)
            std::memcpy(dst, plane, pixels);
        else
            for (std::size_t i = 0; i < pixels; ++i)
                dst[i * stride] = plane[i];
    }
    if (segments == 2) {
        const std::uint8_t *high = planes.data(), *low = planes.data() + pixels;
        std::uint8_t *dst = out.data();
        for (std::size_t i = 0; i < pixels; ++i) {
            dst[2 * i] = low[i];
            dst[2 * i + 1] = high[i];
        }
    }
}

// One frame's stored values as signed numbers: the bits stored, taken from above
// `shift`, sign-extended when the pixel representation says so; with their smallest and
// largest. Everything by value, so that the loop runs on whole vectors (values stored
// through `out` could otherwise alias a captured int and force a reload per pixel).
template <typename Word, typename Value>
void StoredValues(const Word *in, Value *out, std::size_t count, int shift, int bitsStored, bool isSigned,
                  std::int32_t &smallest, std::int32_t &largest)
{
    std::int32_t lo = std::numeric_limits<std::int32_t>::max();
    std::int32_t hi = std::numeric_limits<std::int32_t>::min();
    if (isSigned) {
        // The value's top bit to bit 31, then back down with the sign carried along.
        const int up = 32 - shift - bitsStored;
        const int down = 32 - bitsStored;
        for (std::size_t i = 0; i < count; ++i) {
            const auto v = static_cast<std::int32_t>(static_cast<std::uint32_t>(in[i]) << up) >> down;
            out[i] = static_cast<Value>(v);
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    } else {
        const std::uint32_t mask = (1u << bitsStored) - 1u;
        for (std::size_t i = 0; i < count; ++i) {
            const auto v = static_cast<std::int32_t>((static_cast<std::uint32_t>(in[i]) >> shift) & mask);
            out[i] = static_cast<Value>(v);
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    if (count > 0) {
        smallest = lo;
        largest = hi;
    }
}

} // namespace

// ---------------------------------------------------------------------------------------
// Frame cache

FrameCache &FrameCache::instance()
{
    static FrameCache cache;
    return cache;
}

FramePtr FrameCache::beginDecode(std::uint64_t source, int frame)
{
    std::unique_lock lock(decodingMutex_);
    const std::pair key{source, frame};
    decodeDone_.wait(lock, [&] { return decoding_.count(key) == 0; });
    if (FramePtr f = get(source, frame))
        return f;
    decoding_.insert(key);
    return nullptr;
}

void FrameCache::endDecode(std::uint64_t source, int frame)
{
    {
        std::lock_guard lock(decodingMutex_);
        decoding_.erase({source, frame});
    }
    decodeDone_.notify_all();
}

FramePtr FrameCache::get(std::uint64_t source, int frame)
{
    std::lock_guard lock(mutex_);
    for (Entry &e : entries_) {
        if (e.source == source && e.frame == frame) {
            e.lastUse = ++clock_;
            return e.data;
        }
    }
    return nullptr;
}

void FrameCache::put(std::uint64_t source, int frame, FramePtr f, const PixelSource *owner)
{
    {
        std::lock_guard lock(mutex_);
        for (Entry &e : entries_) {
            if (e.source == source && e.frame == frame)
                return;
        }
        const std::size_t bytes = f->bytes();
        entries_.push_back(Entry{source, frame, std::move(f), bytes, owner, ++clock_});
        usage_ += bytes;
    }
    evict();
}

void FrameCache::evict()
{
    std::lock_guard lock(mutex_);
    while (usage_ > budget_) {
        std::size_t victim = entries_.size();
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            const Entry &e = entries_[i];
            if (e.owner && e.owner->pinned(e.frame))
                continue;
            if (victim == entries_.size() || e.lastUse < entries_[victim].lastUse)
                victim = i;
        }
        if (victim == entries_.size())
            return; // everything left is on screen
        usage_ -= entries_[victim].bytes;
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(victim));
    }
}

void FrameCache::dropSource(std::uint64_t source)
{
    std::lock_guard lock(mutex_);
    for (std::size_t i = entries_.size(); i-- > 0;) {
        if (entries_[i].source == source) {
            usage_ -= entries_[i].bytes;
            entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
}

void FrameCache::setBudget(std::size_t bytes)
{
    {
        std::lock_guard lock(mutex_);
        budget_ = bytes;
    }
    evict();
}

std::size_t FrameCache::budget() const
{
    std::lock_guard lock(mutex_);
    return budget_;
}

std::size_t FrameCache::usage() const
{
    std::lock_guard lock(mutex_);
    return usage_;
}

// ---------------------------------------------------------------------------------------
// Pixel source

PixelSource::PixelSource(DataRootPtr root) : root_(std::move(root)), id_(g_nextSourceId++)
{
    std::lock_guard lock(root_->mutex);
    DcmDataset *ds = root_->dataset();
    const QString file = root_->fileName;
    DcmElement *pd = nullptr;
    if (!ds || !(pd = FindElement(ds, DCM_PixelData)))
        return;
    PixelInfo &p = info_;
    long v = 0;
    // Pixel data without any description (some non-image objects carry a stray one) is
    // no image; a description that is there but wrong is an error.
    const ElementIndexScope index(ds); // many attributes read below
    if (!FindElement(ds, DCM_Rows) && !FindElement(ds, DCM_Columns) && !FindElement(ds, DCM_BitsAllocated))
        return;
    if (!ItemInt(ds, DCM_Rows, v) || v <= 0 || v > 65535)
        Fail(file, QStringLiteral("nombre de lignes (0028,0010) absent ou invalide."));
    p.rows = static_cast<int>(v);
    if (!ItemInt(ds, DCM_Columns, v) || v <= 0 || v > 65535)
        Fail(file, QStringLiteral("nombre de colonnes (0028,0011) absent ou invalide."));
    p.cols = static_cast<int>(v);
    p.samples = ItemInt(ds, DCM_SamplesPerPixel, v) ? static_cast<int>(v) : 1;
    if (p.samples != 1 && p.samples != 3)
        Fail(file, QStringLiteral("%1 échantillons par pixel : non pris en charge.").arg(p.samples));
    if (!ItemInt(ds, DCM_BitsAllocated, v))
        Fail(file, QStringLiteral("bits alloués (0028,0100) absents."));
    p.bitsAllocated = static_cast<int>(v);
    if (p.bitsAllocated != 1 && p.bitsAllocated != 8 && p.bitsAllocated != 16 && p.bitsAllocated != 32)
        Fail(file, QStringLiteral("%1 bits alloués : non pris en charge.").arg(p.bitsAllocated));
    p.bitsStored = ItemInt(ds, DCM_BitsStored, v) ? static_cast<int>(v) : p.bitsAllocated;
    if (p.bitsStored < 1 || p.bitsStored > p.bitsAllocated)
        Fail(file, QStringLiteral("bits enregistrés (0028,0101) invalides."));
    p.highBit = ItemInt(ds, DCM_HighBit, v) ? static_cast<int>(v) : p.bitsStored - 1;
    if (p.highBit < p.bitsStored - 1 || p.highBit >= p.bitsAllocated)
        p.highBit = p.bitsStored - 1; // a wrong high bit is common and harmless
    p.pixelRepresentation = ItemInt(ds, DCM_PixelRepresentation, v) && v == 1 ? 1 : 0;
    p.planar = ItemInt(ds, DCM_PlanarConfiguration, v) && v == 1 ? 1 : 0;
    p.photometric = ItemText(ds, DCM_PhotometricInterpretation).toUpper();
    if (p.photometric.isEmpty())
        p.photometric = p.samples == 1 ? QStringLiteral("MONOCHROME2") : QStringLiteral("RGB");
    if (p.samples == 1 && !p.photometric.startsWith("MONOCHROME") && !p.photometric.startsWith("PALETTE"))
        p.photometric = QStringLiteral("MONOCHROME2");
    long frames = 1;
    if (ItemInt(ds, DCM_NumberOfFrames, frames) && frames > 0)
        p.frames = static_cast<int>(std::min<long>(frames, 1 << 20));
    if (p.bitsAllocated == 1 && p.samples != 1)
        Fail(file, QStringLiteral("image couleur d'un bit par échantillon."));

    const E_TransferSyntax xfer = ds->getOriginalXfer();
    const DcmXfer dx(xfer);
    p.encapsulated = dx.isEncapsulated();
    p.jpeg2000 = IsJpeg2000(xfer);
    p.ybr422Native = !p.encapsulated && p.samples == 3 && p.photometric == "YBR_FULL_422"
                     && p.bitsAllocated == 8;

    const std::uint64_t pixels = static_cast<std::uint64_t>(p.rows) * static_cast<std::uint64_t>(p.cols);
    if (p.bitsAllocated == 1)
        p.frameBytes = (pixels + 7) / 8;
    else if (p.ybr422Native)
        p.frameBytes = pixels * 2;
    else
        p.frameBytes = pixels * static_cast<std::uint64_t>(p.samples) * static_cast<std::uint64_t>(p.bitsAllocated / 8);
    if (p.frameBytes > kMaxFrameBytes)
        Fail(file, QStringLiteral("image de %1 x %2 pixels : trop grande.").arg(p.cols).arg(p.rows));

    if (p.encapsulated) {
        DcmPixelData *pix = dynamic_cast<DcmPixelData *>(pd);
        DcmPixelSequence *seq = nullptr;
        if (!pix || pix->getEncapsulatedRepresentation(xfer, nullptr, seq).bad() || !seq)
            Fail(file, QStringLiteral("données d'image compressées sans fragments."));
        std::uint64_t stored = 0;
        const std::vector<DcmPixelItem *> items = PixelItems(seq);
        for (std::size_t i = 1; i < items.size(); ++i)
            stored += items[i]->getLength();
        p.storedBytes = stored;
        if (stored == 0)
            Fail(file, QStringLiteral("données d'image compressées vides."));
        // A compressed frame cannot stand for more than a bounded multiple of its bytes.
        const std::uint64_t justified = stored * kMaxCompressionRatio + kCompressedSlack;
        if (p.frameBytes > justified
            || p.frameBytes * static_cast<std::uint64_t>(p.frames) > justified * 4)
            Fail(file, QStringLiteral("l'image déclare %1 x %2 pixels et %3 images pour %4 octets compressés.")
                           .arg(p.cols).arg(p.rows).arg(p.frames).arg(stored));
    } else {
        p.storedBytes = pd->getLength();
        if (p.bitsAllocated == 1) {
            const std::uint64_t need = (pixels * static_cast<std::uint64_t>(p.frames) + 7) / 8;
            if (p.storedBytes < need) {
                const std::uint64_t carried = p.storedBytes * 8 / std::max<std::uint64_t>(pixels, 1);
                if (carried == 0)
                    Fail(file, QStringLiteral("les données d'image sont plus courtes que l'image déclarée."));
                p.frames = static_cast<int>(carried);
            }
        } else {
            if (p.storedBytes < p.frameBytes)
                Fail(file, QStringLiteral("l'image déclare %1 x %2 pixels mais ne porte que %3 octets.")
                               .arg(p.cols).arg(p.rows).arg(p.storedBytes));
            // Fewer frames than declared: keep the frames that are really there.
            p.frames = static_cast<int>(std::min<std::uint64_t>(static_cast<std::uint64_t>(p.frames),
                                                                p.storedBytes / p.frameBytes));
        }
    }

    double d = 0;
    if (ItemDouble(ds, DCM_RescaleSlope, d) && d != 0)
        p.slope = d;
    if (ItemDouble(ds, DCM_RescaleIntercept, d))
        p.intercept = d;
    if (p.photometric.startsWith("PALETTE")) {
        ReadPalette(ds, DCM_RedPaletteColorLookupTableDescriptor, DCM_RedPaletteColorLookupTableData, p.palette[0], file);
        ReadPalette(ds, DCM_GreenPaletteColorLookupTableDescriptor, DCM_GreenPaletteColorLookupTableData, p.palette[1], file);
        ReadPalette(ds, DCM_BluePaletteColorLookupTableDescriptor, DCM_BluePaletteColorLookupTableData, p.palette[2], file);
    }
    readModalityLut();
    p.hasPixels = true;
}

PixelSource::~PixelSource()
{
    FrameCache::instance().dropSource(id_);
}

void PixelSource::readModalityLut()
{
    DcmDataset *ds = root_->dataset();
    DcmItem *item = FirstSequenceItem(ds, DCM_ModalityLUTSequence);
    if (!item)
        return;
    long entries = 0, first = 0, bits = 0;
    if (!ItemInt(item, DCM_LUTDescriptor, entries, 0) || !ItemInt(item, DCM_LUTDescriptor, first, 1)
        || !ItemInt(item, DCM_LUTDescriptor, bits, 2))
        return;
    if (entries <= 0)
        entries += 65536;
    DcmElement *el = nullptr;
    if (entries <= 0 || entries > 65536 || item->findAndGetElement(DCM_LUTData, el, OFFalse).bad() || !el)
        return;
    Uint16 *w = nullptr;
    if (el->getLength() / 2 < static_cast<Uint32>(entries) || el->getUint16Array(w).bad() || !w)
        return;
    mlut_.assign(w, w + entries);
    mlutFirst_ = static_cast<int>(info_.pixelRepresentation ? static_cast<Sint16>(first) : first);
    hasModalityLut_ = true;
}

double PixelSource::rescale(std::int32_t stored, bool useModalityLut) const
{
    if (useModalityLut && hasModalityLut_) {
        long i = static_cast<long>(stored) - mlutFirst_;
        i = std::clamp<long>(i, 0, static_cast<long>(mlut_.size()) - 1);
        return mlut_[static_cast<size_t>(i)];
    }
    return info_.slope * stored + info_.intercept;
}

void PixelSource::pin(int n)
{
    std::lock_guard lock(pinMutex_);
    ++pins_[n];
}

void PixelSource::unpin(int n)
{
    std::lock_guard lock(pinMutex_);
    auto it = pins_.find(n);
    if (it != pins_.end() && --it->second <= 0)
        pins_.erase(it);
}

bool PixelSource::pinned(int n) const
{
    std::lock_guard lock(pinMutex_);
    return pins_.count(n) != 0;
}

FramePtr PixelSource::frame(int n)
{
    if (!info_.hasPixels)
        Fail(root_->fileName, QStringLiteral("pas de données d'image."));
    if (n < 1 || n > info_.frames)
        Fail(root_->fileName, QStringLiteral("l'image %1 n'existe pas.").arg(n));
    FrameCache &cache = FrameCache::instance();
    if (FramePtr f = cache.get(id_, n))
        return f;
    // A caller that finds the frame being decoded waits for it; other frames of the image
    // (a cine's next ones) are decoded side by side.
    if (FramePtr f = cache.beginDecode(id_, n))
        return f;
    struct Done
    {
        FrameCache &cache;
        std::uint64_t source;
        int n;
        ~Done() { cache.endDecode(source, n); }
    } done{cache, id_, n};
    FramePtr f = decode(n);
    cache.put(id_, n, f, this);
    return f;
}

namespace {

// Frame `index` (from 0) of `ds` decoded by DCMTK's decoders into `buf` (native layout);
// `colourModel` becomes the decoded colour model when the decoder gives one.
void DcmtkFrame(DcmDataset *ds, DcmPixelData *pix, int index, std::vector<std::uint8_t> &buf, QString &colourModel,
                const QString &file)
{
    Uint32 start = 0;
    OFString model;
    OFCondition c = pix->getUncompressedFrame(ds, static_cast<Uint32>(index), start, buf.data(),
                                              static_cast<Uint32>(buf.size()), model);
    if (c.bad())
        Fail(file, QStringLiteral("décompression impossible (%1).").arg(QString::fromLatin1(c.text())));
    if (!model.empty())
        colourModel = QString::fromLatin1(model.c_str()).toUpper();
}

} // namespace

FramePtr PixelSource::decode(int n)
{
    const PixelInfo &p = info_;
    const QString file = root_->fileName;
    const std::size_t count = static_cast<std::size_t>(p.rows) * static_cast<std::size_t>(p.cols);
    auto out = std::make_shared<Frame>();
    out->width = p.cols;
    out->height = p.rows;

    DecodeScratch &scratch = ThreadScratch();
    struct TrimOnExit
    {
        DecodeScratch &s;
        ~TrimOnExit() { s.Trim(); }
    } trim{scratch};
    std::vector<std::uint8_t> &buf = scratch.raw;
    std::vector<std::uint8_t> &code = scratch.code; // JPEG 2000 or RLE bytes of the frame
    buf.clear();
    code.clear();
    QString colourModel = p.photometric;
    bool planar = p.planar == 1;
    int bitsAllocated = p.bitsAllocated, bitsStored = p.bitsStored, highBit = p.highBit;
    bool isSigned = p.pixelRepresentation == 1;
    J2kImage j2k;
    bool fromJ2k = false;
    std::unique_ptr<DcmDataset> own; // the frame for DCMTK's decoders, apart (FrameDataSet)
    {
        std::lock_guard lock(root_->mutex);
        DcmDataset *ds = root_->dataset();
        DcmElement *pd = nullptr;
        if (ds->findAndGetElement(DCM_PixelData, pd, OFFalse).bad() || !pd)
            Fail(file, QStringLiteral("pas de données d'image."));
        if (!p.encapsulated) {
            std::uint64_t offset = 0, length = p.frameBytes;
            if (p.bitsAllocated == 1) {
                length = (static_cast<std::uint64_t>(count) * static_cast<std::uint64_t>(p.frames) + 7) / 8;
            } else {
                offset = p.frameBytes * static_cast<std::uint64_t>(n - 1);
            }
            buf.resize(static_cast<std::size_t>(length + (length & 1)));
            // Odd lengths cannot be read as words; read the even part and pad.
            Uint32 readLen = static_cast<Uint32>(length);
            OFCondition c = pd->getPartialValue(buf.data(), static_cast<Uint32>(offset), readLen);
            if (c.bad())
                Fail(file, QStringLiteral("lecture des pixels impossible (%1).").arg(QString::fromLatin1(c.text())));
            // Big-endian data arrives swapped by 16-bit words (its VR is OW); 32-bit values
            // then still have their two halves in the wrong order.
            const DcmXfer x(ds->getOriginalXfer());
            if (p.bitsAllocated == 32 && x.getByteOrder() == EBO_BigEndian) {
                auto *w = reinterpret_cast<std::uint16_t *>(buf.data());
                for (std::size_t i = 0; i + 1 < buf.size() / 2; i += 2)
                    std::swap(w[i], w[i + 1]);
            }
        } else if (p.jpeg2000 || ds->getOriginalXfer() == EXS_RLELossless) {
            DcmPixelData *pix = dynamic_cast<DcmPixelData *>(pd);
            DcmPixelSequence *seq = nullptr;
            if (!pix || pix->getEncapsulatedRepresentation(ds->getOriginalXfer(), nullptr, seq).bad() || !seq)
                Fail(file, QStringLiteral("données compressées sans fragments."));
            // The compressed bytes are copied out so that the decoding below leaves the
            // data set free for other threads.
            FrameCode(seq, n, p.frames, p.jpeg2000, file, code);
        } else {
            DcmPixelData *pix = dynamic_cast<DcmPixelData *>(pd);
            if (!pix)
                Fail(file, QStringLiteral("données d'image compressées illisibles."));
            buf.resize(static_cast<std::size_t>(p.frameBytes + (p.frameBytes & 1)));
            own = FrameDataSet(ds, pix, n, p.frames, file);
            if (!own)
                DcmtkFrame(ds, pix, n - 1, buf, colourModel, file);
        }
    }
    if (own) {
        DcmElement *ownPd = nullptr;
        if (own->findAndGetElement(DCM_PixelData, ownPd, OFFalse).bad() || !ownPd)
            Fail(file, QStringLiteral("données d'image compressées illisibles."));
        DcmtkFrame(own.get(), static_cast<DcmPixelData *>(ownPd), 0, buf, colourModel, file);
        own.reset();
    }

    if (!code.empty()) {
        if (!p.jpeg2000) {
            // Our own RLE decoder: DCMTK's reads past its buffers on damaged segments.
            DecodeRle(code, count, p.samples, p.bitsAllocated / 8, buf, file);
            planar = false;
        } else {
            j2k = DecodeJpeg2000(code.data(), code.size(), p.frameBytes * 2 + 1024 * 1024);
            fromJ2k = true;
        }
    }

    const bool palette = p.photometric.startsWith("PALETTE");
    bool rangeKnown = false; // smallest and largest values found while converting
    if (fromJ2k) {
        if (j2k.width != p.cols || j2k.height != p.rows)
            Fail(file, QStringLiteral("taille JPEG 2000 (%1 x %2) différente de l'image (%3 x %4).")
                           .arg(j2k.width).arg(j2k.height).arg(p.cols).arg(p.rows));
        if ((p.samples == 3 && j2k.components < 3) || j2k.components < 1)
            Fail(file, QStringLiteral("composantes JPEG 2000 manquantes."));
        if (p.samples == 1) {
            out->mono = std::move(j2k.planes[0]);
            // The data set's pixel representation wins over the code stream's (some writers
            // disagree): reinterpret values accordingly.
            if (isSigned && !j2k.isSigned && p.bitsStored < 32) {
                const std::int32_t half = 1 << (p.bitsStored - 1);
                for (auto &x : out->mono)
                    if (x >= half)
                        x -= 2 * half;
            }
        } else {
            out->colour = true;
            out->rgb.resize(count);
            const int shift = std::max(0, j2k.precision - 8);
            for (std::size_t i = 0; i < count; ++i) {
                auto c8 = [&](int k) {
                    std::int32_t x = j2k.planes[static_cast<size_t>(k)][i] >> shift;
                    return static_cast<std::uint32_t>(std::clamp(x, 0, 255));
                };
                std::uint32_t r = c8(0), g = c8(1), b = c8(2);
                if (colourModel == "YBR_FULL" || colourModel == "YBR_FULL_422")
                    out->rgb[i] = YbrToRgb(static_cast<int>(r), static_cast<int>(g), static_cast<int>(b), false);
                else
                    out->rgb[i] = 0xFF000000u | (r << 16) | (g << 8) | b;
            }
        }
    } else if (p.samples == 1) {
        const bool narrow = p.narrowValues();
        if (narrow)
            out->mono16.resize(count);
        else
            out->mono.resize(count);
        const int shift = highBit + 1 - bitsStored;
        const std::uint32_t mask = bitsStored >= 32 ? 0xFFFFFFFFu : ((1u << bitsStored) - 1u);
        const std::uint32_t signBit = 1u << (bitsStored - 1);
        if (bitsAllocated == 1) {
            const std::size_t base = count * static_cast<std::size_t>(n - 1);
            for (std::size_t i = 0; i < count; ++i) {
                const std::size_t bit = base + i;
                out->mono[i] = (buf[bit / 8] >> (bit % 8)) & 1;
            }
        } else if (bitsAllocated == 8 || bitsAllocated == 16) {
            auto convert = [&](const auto *words) {
                if (narrow)
                    StoredValues(words, out->mono16.data(), count, shift, bitsStored, isSigned, out->minStored,
                                 out->maxStored);
                else
                    StoredValues(words, out->mono.data(), count, shift, bitsStored, isSigned, out->minStored,
                                 out->maxStored);
            };
            if (bitsAllocated == 8)
                convert(buf.data());
            else
                convert(reinterpret_cast<const std::uint16_t *>(buf.data()));
            rangeKnown = true;
        } else {
            const auto *d = reinterpret_cast<const std::uint32_t *>(buf.data());
            for (std::size_t i = 0; i < count; ++i) {
                std::uint32_t raw = d[i];
                std::int64_t v = (raw >> shift) & mask;
                if (isSigned && (raw >> shift & signBit))
                    v = static_cast<std::int32_t>(static_cast<std::uint32_t>(v) | ~mask);
                // Unsigned 32-bit values above 2^31 are clamped; such images do not occur
                // in practice.
                out->mono[i] = static_cast<std::int32_t>(std::min<std::int64_t>(v, INT32_MAX));
            }
        }
    } else {
        out->colour = true;
        out->rgb.resize(count);
        const int bytes = bitsAllocated / 8;
        const int shift = std::max(0, bitsStored - 8);
        auto sample = [&](std::size_t index) -> int {
            std::uint32_t raw;
            if (bytes == 1)
                raw = buf[index];
            else if (bytes == 2)
                raw = reinterpret_cast<const std::uint16_t *>(buf.data())[index];
            else
                raw = reinterpret_cast<const std::uint32_t *>(buf.data())[index];
            return static_cast<int>(std::min<std::uint32_t>(raw >> shift, 255));
        };
        if (p.ybr422Native && colourModel == "YBR_FULL_422") {
            // Two pixels share Cb and Cr: Y1 Y2 Cb Cr.
            for (std::size_t i = 0; i < count; i += 2) {
                const std::size_t b = i * 2;
                if (b + 3 >= buf.size())
                    break;
                const int y1 = buf[b], y2 = buf[b + 1], cb = buf[b + 2], cr = buf[b + 3];
                out->rgb[i] = YbrToRgb(y1, cb, cr, false);
                if (i + 1 < count)
                    out->rgb[i + 1] = YbrToRgb(y2, cb, cr, false);
            }
        } else {
            const bool ybr = colourModel.startsWith("YBR");
            const bool partial = colourModel.startsWith("YBR_PARTIAL");
            for (std::size_t i = 0; i < count; ++i) {
                int c0, c1, c2;
                if (planar) {
                    c0 = sample(i);
                    c1 = sample(count + i);
                    c2 = sample(2 * count + i);
                } else {
                    c0 = sample(3 * i);
                    c1 = sample(3 * i + 1);
                    c2 = sample(3 * i + 2);
                }
                out->rgb[i] = ybr ? YbrToRgb(c0, c1, c2, partial)
                                  : 0xFF000000u | (static_cast<std::uint32_t>(c0) << 16)
                                        | (static_cast<std::uint32_t>(c1) << 8) | static_cast<std::uint32_t>(c2);
            }
        }
    }

    if (palette && !out->colour) {
        // Palette colour: stored values index three tables.
        std::vector<std::uint32_t> rgb(count);
        auto entry = [&](const PaletteLut &lut, std::int32_t v) -> std::uint32_t {
            long i = static_cast<long>(v) - lut.firstMapped;
            i = std::clamp<long>(i, 0, lut.entries - 1);
            const std::uint16_t x = lut.data[static_cast<size_t>(i)];
            return lut.bits == 16 ? (x >> 8) : (x & 0xFF);
        };
        for (std::size_t i = 0; i < count; ++i) {
            const std::int32_t v = out->mono[i];
            rgb[i] = 0xFF000000u | (entry(p.palette[0], v) << 16) | (entry(p.palette[1], v) << 8)
                     | entry(p.palette[2], v);
        }
        out->mono.clear();
        out->mono.shrink_to_fit();
        out->rgb = std::move(rgb);
        out->colour = true;
    }

    if (!out->colour && !out->mono.empty() && !rangeKnown) {
        auto [mn, mx] = std::minmax_element(out->mono.begin(), out->mono.end());
        out->minStored = *mn;
        out->maxStored = *mx;
    }
    return out;
}

} // namespace imaging::detail

namespace imaging {

void SetFrameCacheBudget(std::size_t bytes)
{
    detail::FrameCache::instance().setBudget(bytes);
}

std::size_t FrameCacheBudget()
{
    return detail::FrameCache::instance().budget();
}

std::size_t FrameCacheUsage()
{
    return detail::FrameCache::instance().usage();
}

} // namespace imaging
