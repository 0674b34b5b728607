// Windowing to 8 bits, default windows, inversion, LUT switches, overlays, the cache.

#include "testutil.h"

#include <cmath>
#include <functional>

using namespace imaging;
using namespace testutil;

namespace {

QJsonObject FirstOfSeries(const QString &description)
{
    return FindImage(DemoVisit(), [&](const QJsonObject &o) { return o["seriesDescription"].toString() == description; });
}

DicomImagePtr ReadDemo(const QString &description)
{
    return Read(DemoVisit() + "/" + FirstOfSeries(description)["file"].toString());
}

// The linear VOI function of the DICOM standard, to 8 bits.
int Windowed(double x, double width, double level)
{
    const double w = std::fabs(width);
    double y;
    if (x <= level - 0.5 - (w - 1) / 2)
        y = 0;
    else if (x > level - 0.5 + (w - 1) / 2)
        y = 1;
    else
        y = (x - (level - 0.5)) / (w - 1) + 0.5;
    const int b = static_cast<int>(std::lround(y * 255));
    return width < 0 ? 255 - b : b;
}

// Writes a 64 x 64 16-bit image with pydicom; `extra` is Python run on `ds`.
QString WriteWithPydicom(const QTemporaryDir &dir, const QString &name, const QString &extra)
{
    const QString path = dir.filePath(name);
    QProcess p;
    p.start("/usr/bin/python3", {"-c", QStringLiteral(
        "import sys, numpy as np, pydicom\n"
        "from pydicom.dataset import Dataset, FileMetaDataset\n"
        "from pydicom.uid import ExplicitVRLittleEndian, generate_uid\n"
        "ds=Dataset(); ds.file_meta=FileMetaDataset()\n"
        "ds.file_meta.TransferSyntaxUID=ExplicitVRLittleEndian\n"
        "ds.file_meta.MediaStorageSOPClassUID='1.2.840.10008.5.1.4.1.1.7'\n"
        "ds.file_meta.MediaStorageSOPInstanceUID=generate_uid()\n"
        "ds.is_little_endian=True; ds.is_implicit_VR=False\n"
        "ds.SOPClassUID='1.2.840.10008.5.1.4.1.1.7'; ds.SOPInstanceUID=ds.file_meta.MediaStorageSOPInstanceUID\n"
        "ds.Rows=64; ds.Columns=64; ds.SamplesPerPixel=1; ds.PhotometricInterpretation='MONOCHROME2'\n"
        "ds.BitsAllocated=16; ds.BitsStored=12; ds.HighBit=11; ds.PixelRepresentation=0\n"
        "a=(np.arange(64*64)%4096).astype(np.uint16).reshape(64,64)\n"
        "%1\n"
        "ds.PixelData=a.tobytes()\n"
        "ds.save_as(sys.argv[1], write_like_original=False)\n").arg(extra), path});
    p.waitForFinished(60000);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    return path;
}

} // namespace

TEST(Display, WindowFromAttributesAndTheStandardFunction)
{
    auto img = ReadDemo("Abdomen axial");
    EXPECT_EQ(img->Width(), 400);
    EXPECT_EQ(img->Level(), 40);
    // Pixels of the contrast rod (200 HU), the air (-1000) and the water (0).
    const QImage f = img->DisplayFrame();
    ASSERT_EQ(f.format(), QImage::Format_Grayscale8);
    const int rodX = 256, rodY = static_cast<int>((-60 + 250) / 0.9765625);
    EXPECT_EQ(img->PixelValue(rodX, rodY), 200);
    EXPECT_EQ(qGray(f.pixel(rodX, rodY)), Windowed(200, 400, 40));
    EXPECT_EQ(qGray(f.pixel(2, 2)), 0);
    // Every stored value maps as the standard says.
    for (int x = 0; x < img->SizeX(); x += 7) {
        const double v = img->PixelValue(x, 300);
        EXPECT_EQ(qGray(f.pixel(x, 300)), Windowed(v, 400, 40)) << x;
    }
    // A negative width inverts.
    img->SetWidth(-400);
    const QImage g = img->DisplayFrame();
    EXPECT_EQ(qGray(g.pixel(rodX, rodY)), 255 - Windowed(200, 400, 40));
    EXPECT_EQ(qGray(g.pixel(2, 2)), 255);
    // No pixel was decoded just to read the file.
    auto other = ReadDemo("Reconstruction coronale");
    EXPECT_EQ(other->Width(), 400);
}

TEST(Display, DefaultWindowFromThePixelRange)
{
    // Values 0 .. 4095 without window attributes: level 2048 (2047.5 to even), width 4096.
    QTemporaryDir dir;
    auto img = Read(WriteWithPydicom(dir, "range.dcm", ""));
    EXPECT_EQ(img->MinimumPixelValue(), 0);
    EXPECT_EQ(img->MaximumPixelValue(), 4095);
    EXPECT_EQ(img->Width(), 4096);
    EXPECT_EQ(img->Level(), 2048);
    // Values after the rescale.
    auto scaled = Read(WriteWithPydicom(dir, "scaled.dcm", "ds.RescaleSlope='2'; ds.RescaleIntercept='-100'"));
    EXPECT_EQ(scaled->MinimumPixelValue(), -100);
    EXPECT_EQ(scaled->MaximumPixelValue(), 4095 * 2 - 100);
    EXPECT_EQ(scaled->PixelValue(5, 0), 5 * 2 - 100);
    // A window set by the caller wins, and setting one half keeps the other computed.
    auto half = Read(WriteWithPydicom(dir, "half.dcm", ""));
    half->SetLevel(100);
    EXPECT_EQ(half->Level(), 100);
    EXPECT_EQ(half->Width(), 4096);
    // The computed radiograph: slope 2, intercept -100, stored 50 .. 1500.
    auto cr = ReadDemo("Thorax PA");
    EXPECT_EQ(cr->MinimumPixelValue(), 0);
    EXPECT_EQ(cr->MaximumPixelValue(), 2900);
}

TEST(Display, StoredValuesOfEveryBitLayout)
{
    // Each layout: what pydicom writes (`a` is 64 x 64, pixel k = row * 64 + column) and
    // the value pixel k must read as: the bits stored below the high bit, sign-extended
    // when signed, whatever lies above or below them.
    struct Layout
    {
        const char *name;
        QString python;
        std::function<double(int)> expected;
    };
    const std::vector<Layout> layouts = {
        {"haut", "ds.BitsStored=12; ds.HighBit=15\n"
                 "a=(((np.arange(64*64)%4096)<<4)|0x9).astype(np.uint16).reshape(64,64)",
         [](int k) { return k % 4096; }},
        {"signe12", "ds.PixelRepresentation=1\n"
                    "a=((np.arange(64*64)%4096)|0xA000).astype(np.uint16).reshape(64,64)",
         [](int k) { const int v = k % 4096; return v >= 2048 ? v - 4096 : v; }},
        {"signe12haut", "ds.PixelRepresentation=1; ds.HighBit=13\n"
                        "a=((((np.arange(64*64)%4096))<<2)|0xC001).astype(np.uint16).reshape(64,64)",
         [](int k) { const int v = k % 4096; return v >= 2048 ? v - 4096 : v; }},
        {"dixbits", "ds.BitsStored=10; ds.HighBit=9\n"
                    "a=((np.arange(64*64)%1024)|0xFC00).astype(np.uint16).reshape(64,64)",
         [](int k) { return k % 1024; }},
        {"signe16", "ds.PixelRepresentation=1; ds.BitsStored=16; ds.HighBit=15\n"
                    "a=((np.arange(64*64)*16)-32768).astype(np.int16).reshape(64,64)",
         [](int k) { return k * 16 - 32768; }},
        {"plein16", "ds.BitsStored=16; ds.HighBit=15\n"
                    "a=(65535-np.arange(64*64)*16).astype(np.uint16).reshape(64,64)",
         [](int k) { return 65535 - k * 16; }},
        {"octet", "ds.BitsAllocated=8; ds.BitsStored=8; ds.HighBit=7; ds.PixelRepresentation=1\n"
                  "a=(np.arange(64*64)%256).astype(np.uint8).reshape(64,64)",
         [](int k) { const int v = k % 256; return v >= 128 ? v - 256 : v; }},
        {"septbits", "ds.BitsAllocated=8; ds.BitsStored=7; ds.HighBit=7\n"
                     "a=(((np.arange(64*64)%128)<<1)|1).astype(np.uint8).reshape(64,64)",
         [](int k) { return k % 128; }},
    };
    QTemporaryDir dir;
    for (const Layout &layout : layouts) {
        SCOPED_TRACE(layout.name);
        auto img = Read(WriteWithPydicom(dir, QStringLiteral("%1.dcm").arg(layout.name), layout.python));
        double lowest = 1e9, highest = -1e9;
        for (int k = 0; k < 64 * 64; ++k) {
            const double v = layout.expected(k);
            lowest = std::min(lowest, v);
            highest = std::max(highest, v);
            ASSERT_EQ(img->PixelValue(k % 64, k / 64), v) << "pixel " << k;
        }
        EXPECT_EQ(img->MinimumPixelValue(), lowest);
        EXPECT_EQ(img->MaximumPixelValue(), highest);
        // The displayed frame windows the same values.
        img->SetWidth(highest - lowest + 1);
        img->SetLevel((highest + lowest + 1) / 2);
        const QImage f = img->DisplayFrame();
        for (int k = 0; k < 64 * 64; k += 61)
            EXPECT_EQ(qGray(f.pixel(k % 64, k / 64)), Windowed(layout.expected(k), img->Width(), img->Level()))
                << "pixel " << k;
    }
}

TEST(Display, MonochromeOneAndPresentationInversion)
{
    QTemporaryDir dir;
    auto m2 = Read(WriteWithPydicom(dir, "m2.dcm", "ds.WindowCenter='2048'; ds.WindowWidth='4096'"));
    auto m1 = Read(WriteWithPydicom(dir, "m1.dcm",
                                    "ds.WindowCenter='2048'; ds.WindowWidth='4096'; ds.PhotometricInterpretation='MONOCHROME1'"));
    const QImage a = m2->DisplayFrame(), b = m1->DisplayFrame();
    for (int x = 0; x < 64; x += 5)
        EXPECT_EQ(qGray(a.pixel(x, 10)), 255 - qGray(b.pixel(x, 10)));
    // Presentation LUT Shape INVERSE counts only when the switch is on.
    m2->Attributes()->Add(0x2050, 0x0020, QStringLiteral("INVERSE"));
    EXPECT_EQ(m2->DisplayFrame(), a);
    m2->SetPresentationLUT(1);
    EXPECT_EQ(qGray(m2->DisplayFrame().pixel(7, 10)), 255 - qGray(a.pixel(7, 10)));
}

TEST(Display, ModalityAndVoiTablesWhenSwitchedOn)
{
    QTemporaryDir dir;
    // Modality LUT: stored v -> 4095 - v; VOI LUT: identity over 0..4095 in 12 bits.
    auto img = Read(WriteWithPydicom(dir, "luts.dcm",
        "m=Dataset(); m.LUTDescriptor=[4096,0,16]; m.ModalityLUTType='US'\n"
        "m.add_new(0x00283006,'OW',np.arange(4095,-1,-1,dtype='<u2').tobytes()); ds.ModalityLUTSequence=[m]\n"
        "v=Dataset(); v.LUTDescriptor=[4096,0,12]\n"
        "v.add_new(0x00283006,'OW',np.arange(4096,dtype='<u2').tobytes()); ds.VOILUTSequence=[v]\n"
        "ds.WindowCenter='1000'; ds.WindowWidth='10'"));
    EXPECT_EQ(img->PixelValue(10, 0), 10); // switch off: no table
    img->SetModalityLUT(1);
    EXPECT_EQ(img->PixelValue(10, 0), 4085);
    EXPECT_EQ(img->MaximumPixelValue(), 4095);
    img->SetModalityLUT(0);
    img->SetVOILUT(1);
    // Identity table: 8-bit output follows the value, whatever Width and Level say.
    const QImage f = img->DisplayFrame();
    EXPECT_EQ(qGray(f.pixel(0, 32)), static_cast<int>(std::lround((32 * 64 % 4096) / 4095.0 * 255)));
}

TEST(Display, OverlayShownOnlyWhenActivated)
{
    const QJsonObject m = FindImage(DemoVisit(), [](const QJsonObject &o) { return o["overlay"].toBool(); });
    ASSERT_FALSE(m.isEmpty());
    auto img = Read(DemoVisit() + "/" + m["file"].toString());
    const int rows = img->SizeY(), cols = img->SizeX();
    const int x = cols / 8, y = rows / 2; // on the overlay's left edge, inside the body
    const QImage before = img->DisplayFrame();
    EXPECT_NE(qGray(before.pixel(x, y)), 255);
    // The loader's activation: a graphic layer and the overlay's activation layer.
    auto items = CreateDataSets();
    auto item = items->AddNew();
    item->Attributes()->Add(0x0070, 0x0002, QStringLiteral("OVERLAY"));
    item->Attributes()->Add(0x0070, 0x0062, 1);
    item->Attributes()->Add(0x0070, 0x0067, QVariantList{0, 65535, 65535, 0});
    img->Attributes()->Add(0x0070, 0x0060, QVariant::fromValue(items));
    img->Attributes()->Add(0x6000, 0x1001, QStringLiteral("OVERLAY"));
    const QImage after = img->DisplayFrame();
    EXPECT_EQ(qGray(after.pixel(x, y)), 255);
    EXPECT_EQ(after.pixel(x + 3, y), before.pixel(x + 3, y));
}

TEST(Display, ColourPaletteAndMultiFrame)
{
    auto rgb = ReadDemo("Capture couleur");
    EXPECT_TRUE(rgb->IsColour());
    const QImage f = rgb->DisplayFrame();
    EXPECT_EQ(f.pixel(10, 10), qRgb(255, 0, 0));
    EXPECT_EQ(f.pixel(100, 10), qRgb(0, 255, 0));
    EXPECT_EQ(f.pixel(10, 100), qRgb(0, 0, 255));
    EXPECT_EQ(f.pixel(100, 100), qRgb(255, 255, 255));
    // Palette colour written with pydicom: red ramp in the table.
    QTemporaryDir dir;
    auto pal = Read(WriteWithPydicom(dir, "pal.dcm",
        "ds.PhotometricInterpretation='PALETTE COLOR'; ds.BitsStored=8; ds.HighBit=7; ds.BitsAllocated=8\n"
        "a=(np.arange(64*64)%256).astype(np.uint8).reshape(64,64)\n"
        "ds.RedPaletteColorLookupTableDescriptor=[256,0,16]; ds.GreenPaletteColorLookupTableDescriptor=[256,0,16]\n"
        "ds.BluePaletteColorLookupTableDescriptor=[256,0,16]\n"
        "ds.RedPaletteColorLookupTableData=np.arange(0,65536,256,dtype='<u2').tobytes()\n"
        "ds.GreenPaletteColorLookupTableData=np.zeros(256,dtype='<u2').tobytes()\n"
        "ds.BluePaletteColorLookupTableData=np.full(256,65535,dtype='<u2').tobytes()"));
    EXPECT_TRUE(pal->IsColour());
    EXPECT_EQ(pal->DisplayFrame().pixel(100 % 64, 100 / 64), qRgb(100, 0, 255));
    // Multi-frame: each frame decodes on its own.
    auto xa = ReadDemo("Angiographie");
    EXPECT_EQ(xa->FrameCount(), 20);
    const QImage f1 = xa->DisplayFrame();
    xa->SetFrame(20);
    EXPECT_NE(xa->DisplayFrame(), f1);
    xa->SetFrame(1);
    EXPECT_EQ(xa->DisplayFrame(), f1);
}

TEST(Display, PictureAppliesFlipAndRotation)
{
    auto img = ReadDemo("Reconstruction coronale"); // 512 x 256
    const QImage plain = img->Picture();
    EXPECT_EQ(plain.size(), QSize(512, 256));
    img->SetRotateState(1);
    const QImage turned = img->Picture();
    EXPECT_EQ(turned.size(), QSize(256, 512));
    // Anticlockwise: the top-right pixel lands top-left.
    EXPECT_EQ(turned.pixel(0, 0), plain.pixel(511, 0));
    img->SetRotateState(0);
    img->SetFlipState(1);
    EXPECT_EQ(img->Picture().pixel(0, 100), plain.pixel(511, 100));
}

TEST(Display, ChangeListenersAndShowUpdates)
{
    auto img = ReadDemo("Abdomen axial");
    int calls = 0;
    const int id = img->AddChangeListener([&] { ++calls; });
    img->SetWidth(100);
    EXPECT_EQ(calls, 1);
    img->SetShowUpdates(false);
    img->SetLevel(10);
    img->SetZoom(2);
    EXPECT_EQ(calls, 1);
    img->SetShowUpdates(true);
    img->Refresh();
    EXPECT_EQ(calls, 2);
    img->RemoveChangeListener(id);
    img->SetWidth(5);
    EXPECT_EQ(calls, 2);
}

TEST(Display, CacheKeepsToItsBudgetButNeverEvictsWhatIsOnScreen)
{
    const std::size_t oldBudget = FrameCacheBudget();
    // A decoded 512 x 512 CT frame keeps its 12-bit values in 16 bits: 512 KiB.
    constexpr std::size_t kFrame = 512 * 512 * 2;
    SetFrameCacheBudget(3 * kFrame); // three decoded frames
    auto images = CreateImages();
    std::vector<DicomImagePtr> imgs;
    for (const QJsonObject &o : ManifestImages(DemoVisit()))
        if (o["seriesDescription"].toString() == "Abdomen axial")
            imgs.push_back(images->ReadFile(DemoVisit() + "/" + o["file"].toString()));
    ASSERT_GE(imgs.size(), 10u);
    const std::size_t start = FrameCacheUsage();
    EXPECT_LE(start, FrameCacheBudget()); // reading decodes nothing beyond the budget
    for (size_t i = 0; i < 5; ++i)
        imgs[i]->SetOnScreen(true);
    for (auto &img : imgs)
        img->DisplayFrame();
    // Five frames on screen stay although they exceed the budget.
    EXPECT_GT(FrameCacheUsage(), FrameCacheBudget());
    EXPECT_LE(FrameCacheUsage(), 5u * (kFrame + 4096));
    for (size_t i = 0; i < 5; ++i)
        imgs[i]->SetOnScreen(false);
    EXPECT_LE(FrameCacheUsage(), FrameCacheBudget());
    SetFrameCacheBudget(oldBudget);
}
