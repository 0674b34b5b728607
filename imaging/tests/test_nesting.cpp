// Hostile structures: sequences nested far deeper than any real data set (DCMTK reads
// nesting by recursion and runs out of stack some thousands of levels down), in every
// encoding DCMTK reads, and long runs of items. Deep files are refused with a French
// sentence naming the file; long runs are read whole.

#include "testutil.h"
#include "hostilefiles.h"

#include <QtEndian>

#include <zlib.h>

#include <functional>

using namespace imaging;
using namespace testutil;
using namespace hostilefiles;

namespace {

QByteArray Deflate(const QByteArray &raw)
{
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&z, uLong(raw.size()))), '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(raw.constData()));
    z.avail_in = uInt(raw.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(int(z.total_out));
    deflateEnd(&z);
    return out;
}

// A secondary capture image of `depth` nested sequences in the given shape.
QByteArray DeepImage(const QString &shape, int depth)
{
    Encoder e;
    e.element(0x0008, 0x0016, "UI", kSecondaryCapture);
    e.element(0x0008, 0x0018, "UI", "2.25.5678");
    if (shape == "implicit, known lengths") {
        Encoder i{false, false, {}};
        i.element(0x0008, 0x0016, "UI", kSecondaryCapture);
        return Meta("1.2.840.10008.1.2") + i.out + NestedWithLengths(i, depth, 0x0008, 0x1115);
    }
    if (shape == "explicit, undefined lengths") {
        e.nest(depth, 0x0008, 0x1115);
        return Meta("1.2.840.10008.1.2.1") + e.out;
    }
    if (shape == "explicit, known lengths") {
        return Meta("1.2.840.10008.1.2.1") + e.out + NestedWithLengths(e, depth, 0x0008, 0x1115);
    }
    if (shape == "explicit big endian") {
        Encoder b{true, true, {}};
        b.element(0x0008, 0x0016, "UI", kSecondaryCapture);
        b.nest(depth, 0x0008, 0x1115);
        return Meta("1.2.840.10008.1.2.2") + b.out;
    }
    if (shape == "deflated") {
        e.nest(depth, 0x0008, 0x1115);
        return Meta("1.2.840.10008.1.2.1.99") + Deflate(e.out);
    }
    if (shape == "no meta header, implicit") {
        Encoder i{false, false, {}};
        i.element(0x0008, 0x0016, "UI", kSecondaryCapture);
        return i.out + NestedWithLengths(i, depth, 0x0008, 0x1115);
    }
    if (shape == "no meta header, explicit") {
        e.nest(depth, 0x0008, 0x1115);
        return e.out;
    }
    if (shape == "private UN of undefined length") {
        // Read as implicit VR inside an explicit VR file.
        e.header(0x0009, 0x0010, "LO", 6);
        e.out += "KORVAN";
        e.header(0x0009, 0x1010, "UN", kUndefined);
        e.item();
        Encoder i{false, false, {}};
        i.nest(depth, 0x0009, 0x1010);
        e.out += i.out;
        e.itemEnd();
        e.sequenceEnd();
        return Meta("1.2.840.10008.1.2.1") + e.out;
    }
    if (shape == "in the meta header") {
        Encoder m;
        m.nest(depth, 0x0002, 0x0100);
        return Meta("1.2.840.10008.1.2.1", kSecondaryCapture, m.out) + e.out;
    }
    ADD_FAILURE() << "unknown shape " << shape.toStdString();
    return {};
}

void ExpectRefusedAsTooDeep(const std::function<void()> &read, const QString &path, const QString &what)
{
    try {
        read();
        ADD_FAILURE() << what.toStdString() << ": accepted";
    } catch (const DicomError &e) {
        EXPECT_TRUE(e.Message().contains(path)) << what.toStdString() << ": " << e.what();
        EXPECT_TRUE(e.Message().contains("imbriquées sur plus de 256 niveaux")) << what.toStdString() << ": " << e.what();
    }
}

} // namespace

TEST(Nesting, DeepFilesAreRefusedInEveryEncoding)
{
    QTemporaryDir dir;
    const QStringList shapes = {"implicit, known lengths",  "explicit, undefined lengths",   "explicit, known lengths",
                                "explicit big endian",      "deflated",                      "no meta header, implicit",
                                "no meta header, explicit", "private UN of undefined length", "in the meta header"};
    auto images = CreateImages();
    for (const QString &shape : shapes) {
        const QString path = WriteBytes(dir, QString("deep%1.dcm").arg(shapes.indexOf(shape)), DeepImage(shape, kDeep));
        ExpectRefusedAsTooDeep([&] { images->ReadFile(path); }, path, shape);
        ExpectRefusedAsTooDeep([&] { CreateDataSets()->ReadDirectory(path); }, path, shape + " as a catalogue");
    }
    EXPECT_EQ(images->Count(), 0);
    // The reported image: 10,000 levels in implicit VR, about 160 KB more than its image.
    EXPECT_LT(DeepImage("implicit, known lengths", kDeep).size(), 170 * 1024);

    const QString catalogue = WriteBytes(dir, "DICOMDIR", DeepCatalogue(kDeep));
    ExpectRefusedAsTooDeep([&] { CreateDataSets()->ReadDirectory(catalogue); }, catalogue, "catalogue");
}

TEST(Nesting, DepthUpToTheLimitReadsWhole)
{
    QTemporaryDir dir;
    for (const QString &shape : {QStringLiteral("implicit, known lengths"), QStringLiteral("explicit, undefined lengths")}) {
        const QString path = WriteBytes(dir, "ok.dcm", DeepImage(shape, 256));
        const DicomImagePtr image = Read(path);
        // Down the 256 levels to the innermost item.
        DicomAttributesPtr attributes = image->Attributes();
        int levels = 0;
        for (;;) {
            const auto sequence = attributes->Item(0x0008, 0x1115);
            if (!sequence->Exists())
                break;
            const auto items = sequence->Value().value<DicomDataSetsPtr>();
            ASSERT_TRUE(items && items->Count() == 1) << shape.toStdString() << " level " << levels;
            attributes = items->Item(1)->Attributes();
            ++levels;
        }
        EXPECT_EQ(levels, 256) << shape.toStdString();
        if (shape.startsWith("implicit")) {
            EXPECT_EQ(attributes->Item(0x0008, 0x0100)->Value().toString(), "INNER");
        }

        const QString deeper = WriteBytes(dir, "deeper.dcm", DeepImage(shape, 257));
        ExpectRefusedAsTooDeep([&] { Read(deeper); }, deeper, shape);
    }
    const QString catalogue = WriteBytes(dir, "DICOMDIR", DeepCatalogue(256));
    EXPECT_NO_THROW(CreateDataSets()->ReadDirectory(catalogue));
}

TEST(Nesting, LongRunsOfItemsAreReadWholeAndInOrder)
{
    // 30,000 records in a catalogue and 30,000 items in an image's sequence (walking
    // DCMTK's item list from its start for each of them made this quadratic).
    constexpr int kItems = 30000;
    QTemporaryDir dir;
    Encoder records;
    Encoder sequence;
    for (int i = 0; i < kItems; ++i) {
        Encoder item;
        item.element(0x0004, 0x1430, "CS", "IMAGE");
        item.element(0x0004, 0x1500, "CS", QByteArray("IM") + QByteArray::number(i).rightJustified(6, '0'));
        records.item(quint32(item.out.size()));
        records.out += item.out;
        Encoder value;
        value.element(0x0008, 0x1155, "UI", "2.25." + QByteArray::number(i + 1));
        sequence.item(quint32(value.out.size()));
        sequence.out += value.out;
    }
    Encoder catalogue;
    catalogue.header(0x0004, 0x1220, "SQ", quint32(records.out.size()));
    const QString dirPath = WriteBytes(dir, "DICOMDIR", Meta("1.2.840.10008.1.2.1", "1.2.840.10008.1.3.10") + catalogue.out + records.out);
    const auto root = CreateDataSets()->ReadDirectory(dirPath);
    const auto children = root->Children();
    ASSERT_EQ(children->Count(), kItems);
    for (int i : {1, kItems / 2, kItems})
        EXPECT_EQ(children->Item(i)->Attributes()->Item(0x0004, 0x1500)->Value().toString(),
                  QString("IM%1").arg(i - 1, 6, 10, QChar('0')));

    Encoder image;
    image.element(0x0008, 0x0016, "UI", kSecondaryCapture);
    image.header(0x0008, 0x1115, "SQ", quint32(sequence.out.size()));
    const QString imagePath = WriteBytes(dir, "long.dcm", Meta("1.2.840.10008.1.2.1") + image.out + sequence.out);
    const auto items = Read(imagePath)->Attributes()->Item(0x0008, 0x1115)->Value().value<DicomDataSetsPtr>();
    ASSERT_TRUE(items);
    ASSERT_EQ(items->Count(), kItems);
    for (int i : {1, kItems / 2, kItems})
        EXPECT_EQ(items->Item(i)->Attributes()->Item(0x0008, 0x1155)->Value().toString(), QString("2.25.%1").arg(i));
}

TEST(Nesting, HeadersFarLongerThanTheFirstBytesReadReadBackWhole)
{
    // The checks read a file's first bytes and DCMTK's reading goes on from them in the
    // same open file; values longer than the reading limit stay on disk and are read when
    // asked for. A header of about 330 KB, with values of every length around that limit
    // and across every boundary, then 64 x 64 pixels: every byte comes back where it lies.
    QTemporaryDir dir;
    Encoder e;
    e.element(0x0008, 0x0016, "UI", kSecondaryCapture);
    e.element(0x0008, 0x0018, "UI", "2.25.9876");
    e.element(0x0009, 0x0010, "LO", "KORVAN");
    const int lengths[] = {10, 4094, 4096, 4098, 9000, 70000, 1, 16383, 3};
    std::vector<QByteArray> values;
    for (int i = 0; i < 24; ++i) {
        QByteArray v(lengths[i % 9] + (lengths[i % 9] % 2), '\0');
        for (qsizetype k = 0; k < v.size(); ++k)
            v[k] = char((i * 31 + k * 7) & 0xFF);
        e.element(0x0009, quint16(0x1000 + i), "OB", v);
        values.push_back(v);
    }
    auto us = [](quint16 v) {
        QByteArray b(2, '\0');
        qToLittleEndian(v, b.data());
        return b;
    };
    e.element(0x0028, 0x0002, "US", us(1));
    e.element(0x0028, 0x0004, "CS", "MONOCHROME2");
    e.element(0x0028, 0x0010, "US", us(64));
    e.element(0x0028, 0x0011, "US", us(64));
    e.element(0x0028, 0x0100, "US", us(16));
    e.element(0x0028, 0x0101, "US", us(16));
    e.element(0x0028, 0x0102, "US", us(15));
    e.element(0x0028, 0x0103, "US", us(0));
    QByteArray pixels;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            pixels += us(quint16(x + 1000 * y));
    e.element(0x7FE0, 0x0010, "OW", pixels);
    const QString path = WriteBytes(dir, "long-header.dcm", Meta("1.2.840.10008.1.2.1") + e.out);
    ASSERT_GT(QFileInfo(path).size(), 300 * 1024);
    // The same data set deflated: read through DCMTK's inflating filter over the same
    // open file, every value loaded at once.
    const QString deflated = WriteBytes(dir, "long-header-deflated.dcm", Meta("1.2.840.10008.1.2.1.99") + Deflate(e.out));

    for (const QString &file : {path, deflated}) {
        SCOPED_TRACE(file.toStdString());
        const DicomImagePtr image = Read(file);
        for (int i = 0; i < 24; ++i)
            EXPECT_EQ(image->Attributes()->Item(0x0009, 0x1000 + i)->Value().toByteArray(), values[std::size_t(i)])
                << "value " << i << " of " << values[std::size_t(i)].size() << " bytes";
        EXPECT_EQ(image->Attributes()->Item(0x0008, 0x0018)->Value().toString(), "2.25.9876");
        ASSERT_EQ(image->SizeX(), 64);
        ASSERT_EQ(image->SizeY(), 64);
        for (int y : {0, 17, 63})
            for (int x : {0, 40, 63})
                EXPECT_EQ(image->PixelValue(x, y), x + 1000 * y) << x << "," << y;
    }
}
