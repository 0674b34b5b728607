// libFuzzer target: any bytes as a DICOM file, read as an image (then every reading the
// viewer does: attributes, frames, windowing, measurements) and as a catalogue.
//
// Byte-level mutation almost never builds what breaks a DICOM parser by its structure:
// sequences nested hundreds or thousands of levels deep (DCMTK reads them by recursion)
// and long runs of items (loops that index items one by one turn quadratic). The custom
// mutator below splices such structures into the input now and then, in the encodings
// DCMTK reads; dicom.dict gives the byte-level mutations the tags and VRs that matter.

#include "imaging/imaging.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <unistd.h>

extern "C" size_t LLVMFuzzerMutate(uint8_t *data, size_t size, size_t maxSize);

namespace {

QString TempPath()
{
    static const QString path = QStringLiteral("/tmp/korvane_imaging_fuzz_%1.dcm").arg(getpid());
    return path;
}

void Walk(const imaging::DicomAttributesPtr &attrs, int depth)
{
    if (!attrs || depth > 6)
        return;
    for (int i = 1; i <= attrs->Count() && i <= 500; ++i) {
        auto a = attrs->ItemByIndex(i);
        if (!a)
            continue;
        (void)a->Description();
        (void)a->Text();
        (void)a->ValueByIndex(a->VM() + 1);
        const QVariant v = a->Value();
        if (v.userType() == qMetaTypeId<imaging::DicomDataSetsPtr>()) {
            auto items = v.value<imaging::DicomDataSetsPtr>();
            for (int k = 1; items && k <= items->Count() && k <= 20; ++k)
                Walk(items->Item(k)->Attributes(), depth + 1);
        }
    }
}

void Exercise(const imaging::DicomImagePtr &img)
{
    Walk(img->Attributes(), 0);
    (void)img->Name();
    (void)img->DateOfBirthAsDate();
    const int frames = img->FrameCount();
    for (int f : {1, 2, frames}) {
        img->SetFrame(f);
        try {
            (void)img->Width();
            (void)img->MaximumPixelValue();
            (void)img->MinimumPixelValue();
            (void)img->DisplayFrame();
            (void)img->PixelValue(img->SizeX() / 2, img->SizeY() / 2);
            auto e = img->Labels()->AddNew();
            e->SetLabelType(imaging::DicomLabel::TypeEllipse);
            e->SetImageTied(true);
            e->SetWidth(img->SizeX());
            e->SetHeight(img->SizeY());
            (void)e->ROIMean();
            (void)e->ROIStandardDeviation();
            (void)e->ROILength();
            (void)e->ROIArea();
        } catch (const imaging::DicomError &) {
        }
    }
    (void)img->EdgeOrientation("Top");
    (void)img->ReferenceLine(*img, true);
}

void Catalogue(const imaging::DicomDataSetPtr &ds, int depth)
{
    if (!ds || depth > 6)
        return;
    (void)ds->PatientID();
    (void)ds->Name();
    auto attrs = ds->Attributes();
    auto icon = attrs->Item(0x0088, 0x0200);
    if (icon->Exists()) {
        auto items = icon->Value().value<imaging::DicomDataSetsPtr>();
        if (items && items->Count() > 0) {
            try {
                auto img = items->Item(1)->MakeImage();
                (void)img->DisplayFrame();
            } catch (const imaging::DicomError &) {
            }
        }
    }
    auto kids = ds->Children();
    for (int i = 1; i <= kids->Count() && i <= 200; ++i)
        Catalogue(kids->Item(i), depth + 1);
}

// Bytes of elements and items in one encoding.
struct Bytes
{
    bool big = false;
    std::string out;

    void u16(uint32_t v)
    {
        const char b[2] = {char(big ? v >> 8 : v), char(big ? v : v >> 8)};
        out.append(b, 2);
    }
    void u32(uint32_t v)
    {
        if (big) {
            u16(v >> 16);
            u16(v & 0xFFFF);
        } else {
            u16(v & 0xFFFF);
            u16(v >> 16);
        }
    }
    void tag(uint32_t group, uint32_t element)
    {
        u16(group);
        u16(element);
    }
    // A sequence header: explicit VR (SQ, UN, OB ...) with a 4-byte length, or implicit.
    void sequence(uint32_t group, uint32_t element, const char *vr, uint32_t length)
    {
        tag(group, element);
        if (vr) {
            out.append(vr, 2);
            u16(0);
        }
        u32(length);
    }
    void delimiter(uint32_t element, uint32_t length = 0)
    {
        tag(0xFFFE, element);
        u32(length);
    }
};

// A tag to nest under: ordinary, catalogue, meta header, private, pixel data.
void PickTag(std::minstd_rand &rng, uint32_t &group, uint32_t &element)
{
    static const uint32_t tags[][2] = {{0x0008, 0x1115}, {0x0004, 0x1220}, {0x0004, 0x1214}, {0x0002, 0x0100},
                                       {0x0009, 0x1010}, {0x7FE0, 0x0010}, {0x0040, 0xA730}, {0x5200, 0x9229}};
    const auto &t = tags[rng() % (sizeof tags / sizeof tags[0])];
    group = t[0];
    element = t[1];
}

// A depth to nest to within `budget` bytes at `perLevel` bytes a level: often just
// around the reader's limit of 256 levels, else anywhere up to what fits.
size_t PickDepth(std::minstd_rand &rng, size_t budget, size_t perLevel)
{
    const size_t most = budget / perLevel;
    if (most == 0)
        return 0;
    if (rng() % 2 == 0 && most >= 250)
        return std::min<size_t>(most, 250 + rng() % 12);
    return 1 + rng() % most;
}

// A structure that nests deep or runs long, at most `budget` bytes.
std::string Structure(std::minstd_rand &rng, size_t budget)
{
    Bytes b;
    b.big = rng() % 6 == 0;
    uint32_t group = 0, element = 0;
    PickTag(rng, group, element);
    const bool closed = rng() % 4 != 0; // else cut short, as a truncated file
    switch (rng() % 5) {
    case 0: { // explicit VR, undefined lengths (SQ, or OB/UN that DCMTK reads as sequences)
        static const char *const vrs[] = {"SQ", "SQ", "UN", "OB"};
        const char *vr = vrs[rng() % 4];
        const size_t depth = PickDepth(rng, budget, 36);
        for (size_t i = 0; i < depth; ++i) {
            b.sequence(group, element, vr, 0xFFFFFFFFu);
            b.delimiter(0xE000, 0xFFFFFFFFu);
        }
        for (size_t i = 0; closed && i < depth; ++i) {
            b.delimiter(0xE00D);
            b.delimiter(0xE0DD);
        }
        break;
    }
    case 1: { // implicit VR, undefined lengths
        const size_t depth = PickDepth(rng, budget, 32);
        for (size_t i = 0; i < depth; ++i) {
            b.sequence(group, element, nullptr, 0xFFFFFFFFu);
            b.delimiter(0xE000, 0xFFFFFFFFu);
        }
        for (size_t i = 0; closed && i < depth; ++i) {
            b.delimiter(0xE00D);
            b.delimiter(0xE0DD);
        }
        break;
    }
    case 2:
    case 3: { // known lengths, built from the inside out (implicit: 16 bytes a level)
        const bool explicitVR = rng() % 2 == 0;
        const size_t depth = PickDepth(rng, budget, explicitVR ? 20 : 16);
        std::string content;
        for (size_t i = 0; i < depth; ++i) {
            Bytes level;
            level.big = b.big;
            level.delimiter(0xE000, uint32_t(content.size()));
            level.out += content;
            const std::string item = level.out;
            level.out.clear();
            level.sequence(group, element, explicitVR ? "SQ" : nullptr, uint32_t(item.size()));
            level.out += item;
            content = level.out;
        }
        b.out = content;
        break;
    }
    default: { // a long run of items in one sequence
        const bool undefined = rng() % 2 == 0;
        const size_t items = budget > 24 ? (budget - 24) / 8 : 0;
        const size_t count = items == 0 ? 0 : 1 + rng() % items;
        b.sequence(group, element, rng() % 2 ? "SQ" : nullptr, undefined ? 0xFFFFFFFFu : uint32_t(count * 8));
        for (size_t i = 0; i < count; ++i)
            b.delimiter(0xE000, 0);
        if (undefined && closed)
            b.delimiter(0xE0DD);
        break;
    }
    }
    if (b.out.size() > budget)
        b.out.resize(budget);
    return b.out;
}

} // namespace

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t *data, size_t size, size_t maxSize, unsigned int seed)
{
    std::minstd_rand rng(seed);
    if (rng() % 8 != 0 || maxSize <= size)
        return LLVMFuzzerMutate(data, size, maxSize);
    // Splice a structure in at an even offset (elements start at even offsets).
    const size_t at = size == 0 ? 0 : (rng() % (size + 1)) & ~size_t(1);
    const std::string piece = Structure(rng, maxSize - size);
    std::memmove(data + at + piece.size(), data + at, size - at);
    std::memcpy(data + at, piece.data(), piece.size());
    return size + piece.size();
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    imaging::SetFrameCacheBudget(64 * 1024 * 1024);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    {
        QFile f(TempPath());
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
    }
    try {
        auto images = imaging::CreateImages();
        auto img = images->ReadFile(TempPath());
        Exercise(img);
        Exercise(images->Add(img)); // a second entry sharing the pixels
    } catch (const imaging::DicomError &) {
    }
    try {
        auto root = imaging::CreateDataSets()->ReadDirectory(TempPath());
        Catalogue(root, 0);
    } catch (const imaging::DicomError &) {
    }
    return 0;
}
