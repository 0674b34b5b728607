// Reading files: identity, attributes, character sets, collections, bad files.

#include "testutil.h"

#include <functional>

#include <QThread>

#include <cmath>
#include <thread>

using namespace imaging;
using namespace testutil;

namespace {

QString DemoFile(const QString &rel)
{
    return DemoVisit() + "/" + rel;
}

QJsonObject FirstOfSeries(const QString &description)
{
    return FindImage(DemoVisit(), [&](const QJsonObject &o) { return o["seriesDescription"].toString() == description; });
}

} // namespace

TEST(ReadFile, EveryDemoImageMatchesTheManifest)
{
    auto images = CreateImages();
    const auto manifest = ManifestImages(DemoVisit());
    ASSERT_GT(manifest.size(), 40u);
    for (const QJsonObject &m : manifest) {
        auto img = images->ReadFile(DemoFile(m["file"].toString()));
        ASSERT_TRUE(img);
        EXPECT_EQ(img->InstanceUID(), m["instanceUID"].toString());
        EXPECT_EQ(img->SOPClass(), m["sopClass"].toString());
        EXPECT_EQ(img->SizeX(), m["columns"].toInt());
        EXPECT_EQ(img->SizeY(), m["rows"].toInt());
        EXPECT_EQ(img->FrameCount(), m["frames"].toInt());
        // Accented names come out right (the files say ISO_IR 100).
        EXPECT_EQ(img->Name(), m["patientName"].toString());
        EXPECT_EQ(img->Frame(), 1);
    }
    // ReadFile appends and returns the entry it appended.
    EXPECT_EQ(images->Count(), static_cast<int>(manifest.size()));
    EXPECT_EQ(images->Item(images->Count())->InstanceUID(), manifest.back()["instanceUID"].toString());
    EXPECT_EQ(images->Item(0), nullptr);
    EXPECT_EQ(images->Item(images->Count() + 1), nullptr);
}

TEST(ReadFile, IdentityAndAttributeValues)
{
    const QJsonObject m = FirstOfSeries("Abdomen axial");
    auto img = Read(DemoFile(m["file"].toString()));
    EXPECT_EQ(img->Sex(), "F");
    EXPECT_EQ(img->PatientID(), "KV000123");
    EXPECT_EQ(img->DateOfBirthAsDate(), QDate(1958, 4, 12));
    auto attrs = img->Attributes();

    // Absent attributes answer too.
    auto missing = attrs->Item(0x0018, 0x9999);
    ASSERT_TRUE(missing);
    EXPECT_FALSE(missing->Exists());
    EXPECT_FALSE(missing->Value().isValid());
    EXPECT_EQ(missing->VM(), 0);
    EXPECT_EQ(missing->Group(), 0x0018);

    // Several values: an array, each value by index, empty beyond.
    auto orient = attrs->Item(0x0020, 0x0037);
    EXPECT_TRUE(orient->Exists());
    EXPECT_EQ(orient->VR(), "DS");
    EXPECT_EQ(orient->VM(), 6);
    ASSERT_EQ(orient->Value().typeId(), QMetaType::QVariantList);
    EXPECT_DOUBLE_EQ(orient->ValueByIndex(1).toDouble(), 1.0);
    EXPECT_DOUBLE_EQ(orient->ValueByIndex(5).toDouble(), 1.0);
    EXPECT_FALSE(orient->ValueByIndex(7).isValid());
    EXPECT_EQ(orient->ValueByIndex(7).toString(), "");

    // Numbers are numbers, texts are texts, accents decoded.
    EXPECT_EQ(attrs->Item(0x0028, 0x0010)->Value().toInt(), m["rows"].toInt());
    EXPECT_EQ(attrs->Item(0x0020, 0x0013)->Value().toInt(), 1);
    EXPECT_DOUBLE_EQ(attrs->Item(0x0028, 0x1052)->Value().toDouble(), -1024.0);
    EXPECT_EQ(attrs->Item(0x0008, 0x0070)->Value().toString(), QStringLiteral("Fantômes Synthétiques"));
    EXPECT_EQ(attrs->Item(0x0008, 0x0090)->Value().toString(), QStringLiteral("Bérubé^Jacques"));
    EXPECT_EQ(attrs->Item(0x0010, 0x0010)->Description(), "PatientName");
    // Dates stay as stored.
    EXPECT_EQ(attrs->Item(0x0010, 0x0030)->Value().toString(), "19580412");
    // Pixel data is listed with an empty value, never loaded for it.
    auto pixels = attrs->Item(0x7FE0, 0x0010);
    EXPECT_TRUE(pixels->Exists());
    EXPECT_EQ(pixels->Value().toString(), "");

    // ItemByIndex walks every attribute in tag order.
    int previous = -1;
    for (int i = 1; i <= attrs->Count(); ++i) {
        auto a = attrs->ItemByIndex(i);
        ASSERT_TRUE(a);
        const int key = (a->Group() << 16) | a->Element();
        EXPECT_GT(key, previous);
        previous = key;
    }
    EXPECT_EQ(attrs->ItemByIndex(attrs->Count() + 1), nullptr);
    EXPECT_EQ(attrs->ItemByIndex(0), nullptr);
}

TEST(ReadFile, AttributeTextsAgreeWithDcmdump)
{
    const QJsonObject m = FirstOfSeries("T2 double écho");
    const QString file = DemoFile(m["file"].toString());
    auto img = Read(file);
    auto attrs = img->Attributes();
    for (const char *tag : {"0008,0070", "0008,0090", "0010,0010", "0018,0081", "0020,000d", "0008,103e"}) {
        const QString dump = Dcmdump(file, QString::fromLatin1(tag));
        const qsizetype a = dump.indexOf('['), b = dump.lastIndexOf(']');
        ASSERT_GT(a, 0) << tag;
        const QString expected = dump.mid(a + 1, b - a - 1).trimmed();
        const QStringList parts = QString::fromLatin1(tag).split(',');
        auto attr = attrs->Item(parts[0].toInt(nullptr, 16), parts[1].toInt(nullptr, 16));
        EXPECT_EQ(attr->Text(), expected) << tag;
    }
    // The two echo times of the series.
    QSet<double> echoes;
    for (const QJsonObject &o : ManifestImages(DemoVisit()))
        if (o["seriesDescription"].toString() == "T2 double écho") {
            auto mr = Read(DemoFile(o["file"].toString()));
            const double te = mr->Attributes()->Item(0x0018, 0x0081)->Value().toDouble();
            EXPECT_DOUBLE_EQ(te, o["echoTime"].toDouble());
            echoes.insert(te);
        }
    EXPECT_EQ(echoes.size(), 2);
}

TEST(ReadFile, AddingAttributesChangesTheDataSet)
{
    const QJsonObject m = FirstOfSeries("Thorax axial");
    auto img = Read(DemoFile(m["file"].toString()));
    auto attrs = img->Attributes();
    const int before = attrs->Count();
    attrs->Add(0x0009, 0x0004, img->SeriesUID(), "LO");
    EXPECT_EQ(attrs->Count(), before + 1);
    EXPECT_EQ(img->Attributes()->Item(0x0009, 0x0004)->Value().toString(), img->SeriesUID());
    EXPECT_EQ(img->Attributes()->Item(0x0009, 0x0004)->VR(), "LO");

    // A sequence built from data sets, with a multi-valued attribute inside.
    auto items = CreateDataSets();
    auto item = items->AddNew();
    item->Attributes()->Add(0x0070, 0x0002, QStringLiteral("OVERLAY"));
    item->Attributes()->Add(0x0070, 0x0062, 1);
    item->Attributes()->Add(0x0070, 0x0067, QVariantList{0, 65535, 65535, 0});
    attrs->Add(0x0070, 0x0060, QVariant::fromValue(items));
    auto seq = attrs->Item(0x0070, 0x0060);
    EXPECT_EQ(seq->VR(), "SQ");
    auto sets = seq->Value().value<DicomDataSetsPtr>();
    ASSERT_TRUE(sets);
    ASSERT_EQ(sets->Count(), 1);
    auto inner = sets->Item(1)->Attributes();
    EXPECT_EQ(inner->Item(0x0070, 0x0002)->Value().toString(), "OVERLAY");
    EXPECT_EQ(inner->Item(0x0070, 0x0062)->Value().toInt(), 1);
    EXPECT_EQ(inner->Item(0x0070, 0x0067)->VM(), 4);
    EXPECT_EQ(inner->Item(0x0070, 0x0067)->ValueByIndex(2).toInt(), 65535);
    EXPECT_EQ(seq->Text(), "Sequence of 1 items");

    // Replacing keeps one attribute; a value that does not fit the VR is refused.
    attrs->Add(0x0009, 0x0004, QStringLiteral("autre"), "LO");
    EXPECT_EQ(attrs->Item(0x0009, 0x0004)->Value().toString(), "autre");
    EXPECT_THROW(attrs->Add(0x0028, 0x0010, -5), DicomError); // Rows is US
    EXPECT_TRUE(attrs->Remove(0x0009, 0x0004));
    EXPECT_FALSE(attrs->Item(0x0009, 0x0004)->Exists());
}

TEST(ReadFile, DictionaryElementsAreProcessWide)
{
    const QJsonObject m = FirstOfSeries("Images clés");
    auto img = Read(DemoFile(m["file"].toString()));
    EXPECT_EQ(img->Attributes()->Item(0x0009, 0x0003)->Value().toString(), m["comment"].toString());
    // Declared from another thread, seen by every data set of the process.
    std::thread t([] {
        auto g = CreateGlobal();
        g->AddDictionaryElement(0x0009, 0x0001, "LO", "1", "Commentaire");
        g->AddDictionaryElement(0x0009, 0x0004, "LO", "1", "Old Series UID");
    });
    t.join();
    EXPECT_EQ(img->Attributes()->Item(0x0009, 0x0001)->Description(), "Commentaire");
    auto other = Read(DemoFile(FirstOfSeries("Abdomen axial")["file"].toString()));
    EXPECT_EQ(other->Attributes()->Item(0x0009, 0x0004)->Description(), "Old Series UID");
    EXPECT_EQ(other->Attributes()->Item(0x0009, 0x0004)->Exists(), false);
}

TEST(Images, AddShareMoveAndReAdd)
{
    auto visit = CreateImages();
    auto a = visit->ReadFile(DemoFile(FirstOfSeries("Angiographie")["file"].toString()));
    auto b = visit->ReadFile(DemoFile(FirstOfSeries("Abdomen axial")["file"].toString()));
    a->Labels()->AddNew()->SetText("Fr: 1/20");
    a->SetWidth(300);
    a->SetTag(1);

    // Another collection holds the same object.
    auto frame = CreateImages();
    EXPECT_EQ(frame->Add(a).get(), a.get());
    frame->Item(1)->SetLevel(77);
    EXPECT_EQ(a->Level(), 77);

    // Re-adding a held image: an entry of its own, sharing the pixels.
    auto copy = visit->Add(a);
    ASSERT_NE(copy.get(), a.get());
    EXPECT_EQ(visit->Count(), 3);
    copy->SetFrame(2);
    EXPECT_EQ(copy->Frame(), 2);
    EXPECT_EQ(a->Frame(), 1);
    EXPECT_EQ(copy->Width(), 300);
    ASSERT_EQ(copy->Labels()->Count(), 1);
    copy->Labels()->Item(1)->SetText("Fr: 2/20");
    EXPECT_EQ(a->Labels()->Item(1)->Text(), "Fr: 1/20");
    EXPECT_EQ(copy->InstanceUID(), a->InstanceUID());
    // Frames differ, pixels shared: frame 2 differs from frame 1 in this run.
    EXPECT_NE(copy->DisplayFrame(), a->DisplayFrame());
    // The data set is shared: an attribute added through one entry is seen by the other.
    copy->Attributes()->Add(0x6000, 0x1001, QStringLiteral("OVERLAY"));
    EXPECT_TRUE(a->Attributes()->Item(0x6000, 0x1001)->Exists());
    copy->SetFrame(99);
    EXPECT_EQ(copy->FrameCount(), 20);
    EXPECT_EQ(copy->Frame(), 20);

    // Move (i, i + 1) swaps neighbours.
    visit->Move(1, 2);
    EXPECT_EQ(visit->Item(1).get(), b.get());
    EXPECT_EQ(visit->Item(2).get(), a.get());
    EXPECT_EQ(visit->IndexOf(copy.get()), 3);
    visit->Remove(3);
    EXPECT_EQ(visit->IndexOf(copy.get()), 0);
    visit->Clear();
    EXPECT_EQ(visit->Count(), 0);
    EXPECT_EQ(frame->Count(), 1); // other collections keep their entries
}

TEST(Images, AppendWhileAnotherThreadReads)
{
    auto visit = CreateImages();
    const auto manifest = ManifestImages(DemoVisit());
    std::atomic<bool> done{false};
    std::atomic<int> seen{0};
    std::thread reader([&] {
        while (!done) {
            const int n = visit->Count();
            for (int i = 1; i <= n; ++i) {
                auto e = visit->Item(i);
                if (!e || e->InstanceUID().isEmpty())
                    seen = -1000000;
            }
            seen = n;
        }
    });
    for (int k = 0; k < 30; ++k)
        visit->ReadFile(DemoFile(manifest[static_cast<size_t>(k)]["file"].toString()));
    done = true;
    reader.join();
    EXPECT_GE(seen.load(), 0);
    EXPECT_EQ(visit->Count(), 30);
}

TEST(Global, SettingsAndVersion)
{
    auto g = CreateGlobal();
    EXPECT_EQ(g->DirectionStrings(), "R\\L\\A\\P\\F\\H");
    g->SetDirectionStrings("D\\G\\A\\P\\I\\S");
    EXPECT_EQ(CreateGlobal()->DirectionStrings(), "D\\G\\A\\P\\I\\S");
    g->SetRegWord("ScaleLineWidth", 0);
    g->SetRegWord("DirectDraw", 3);
    EXPECT_EQ(CreateGlobal()->RegWord("DirectDraw"), 3);
    EXPECT_EQ(g->RegWord("Nothing"), 0);
    EXPECT_TRUE(g->Version().startsWith("4.2"));
    // The viewer's letters appear on an axial image's edges.
    const QJsonObject m = FirstOfSeries("Abdomen axial");
    auto img = Read(DemoFile(m["file"].toString()));
    EXPECT_EQ(img->EdgeOrientation("Left"), "D");
    EXPECT_EQ(img->EdgeOrientation("Bottom"), "P");
    g->SetDirectionStrings("R\\L\\A\\P\\F\\H");
    EXPECT_EQ(img->EdgeOrientation("Left"), "R");
}

// ---------------------------------------------------------------------------------------
// Bad files

TEST(BadFiles, ClearErrorsNeverCrashes)
{
    QTemporaryDir dir;
    const QByteArray good = ReadBytes(PydicomFile("CT_small.dcm"));
    QDir(dir.path()).mkdir("IM000001"); // a folder named like an image
    QByteArray wrongLength = good;
    // Patient's Name length field made huge.
    const qsizetype pn = wrongLength.indexOf(QByteArray("\x10\x00\x10\x00PN", 6));
    ASSERT_GT(pn, 0);
    wrongLength[pn + 6] = '\xF0';
    wrongLength[pn + 7] = '\xFF';
    QByteArray garbage(4096, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<char>((i * 7919 + 13) % 251);
    const struct
    {
        QString name;
        QByteArray bytes;
        QString reason;
    } cases[] = {
        {"empty.dcm", QByteArray(), "vide"},
        {"truncated.dcm", good.left(good.size() / 2), ""},
        {"header-only.dcm", good.left(200), ""},
        {"wronglength.dcm", wrongLength, ""},
        {"garbage.dcm", garbage, ""},
        {"text.dcm", QByteArray("Ceci n'est pas une image.\n"), ""},
    };
    auto images = CreateImages();
    for (const auto &c : cases) {
        const QString path = WriteBytes(dir, c.name, c.bytes);
        try {
            images->ReadFile(path);
            ADD_FAILURE() << c.name.toStdString() << " was accepted";
        } catch (const DicomError &e) {
            EXPECT_TRUE(e.Message().contains(path)) << e.what();
            EXPECT_TRUE(e.Message().contains(c.reason)) << e.what();
            ExpectFrenchOnly(e);
        }
    }
    // A meta header value declared longer than the file (DCMTK would allocate it whole).
    QByteArray meta(128, '\0');
    meta += "DICM";
    meta += QByteArray("\x02\x00\x00\x00UL\x04\x00\x20\x00\x00\x00", 12);
    meta += QByteArray("\x02\x00\x01\x00OB\x00\x00\x00\x00\x00\xF0", 12);
    meta += QByteArray(200, 'A');
    for (const QString &name : {QStringLiteral("meta.dcm"), QStringLiteral("DICOMDIR")}) {
        const QString path = WriteBytes(dir, name, meta);
        EXPECT_THROW(images->ReadFile(path), DicomError);
        EXPECT_THROW(CreateDataSets()->ReadDirectory(path), DicomError);
    }
    // A deflated data set (found by fuzzing) whose first element declares 3 GB: DCMTK
    // would reserve that much; the file is refused after inflating and checking it.
    const QString deflated = QStringLiteral(KORVANE_IMAGING_TESTS_DIR "/data/deflated-huge-element.dcm");
    EXPECT_THROW(images->ReadFile(deflated), DicomError);
    EXPECT_THROW(CreateDataSets()->ReadDirectory(deflated), DicomError);
    EXPECT_THROW(images->ReadFile(dir.filePath("IM000001")), DicomError);
    EXPECT_THROW(images->ReadFile(dir.filePath("absent.dcm")), DicomError);
    EXPECT_THROW(images->ReadFile(PydicomFile("MR_truncated.dcm")), DicomError);
    // A record sequence (found by fuzzing) on which DCMTK throws std::out_of_range from
    // its own value check instead of answering an error.
    const QString record = WriteBytes(dir, "record.dcm", QByteArray::fromHex(
        "0400201253510800e0290000feff00e06a0000000400301443537a000000375302004e20494d4147452000130245"
        "200013020037009e03c148204745200013020037204c4f1300495302009e03c120001300495302009e03c1482047"
        "452000130200372020001300495302009e03c1482000372020001300495302009e03c1482047452000130200372020"
        "0013004953020003c14820"));
    for (const auto &read : std::initializer_list<std::function<void()>>{
             [&] { images->ReadFile(record); }, [&] { CreateDataSets()->ReadDirectory(record); }}) {
        try {
            read();
            ADD_FAILURE() << "accepted";
        } catch (const DicomError &e) {
            EXPECT_TRUE(e.Message().contains(record)) << e.what();
            EXPECT_TRUE(e.Message().contains("structure DICOM est invalide")) << e.what();
            ExpectFrenchOnly(e);
            EXPECT_FALSE(e.Detail().isEmpty());
        }
    }
    EXPECT_EQ(images->Count(), 0);
}

TEST(BadFiles, DeclaredPixelsBeyondTheDataAreRefusedBeforeAllocating)
{
    // Rows = Columns = 65535 over 512 KiB of pixel data: DCMTK's own image class would
    // allocate gigabytes; the component refuses at once.
    QTemporaryDir dir;
    QByteArray data = ReadBytes(PydicomFile("CT_small.dcm"));
    auto patchUS = [&](const char *tag4, quint16 value) {
        const qsizetype at = data.indexOf(QByteArray(tag4, 4) + "US");
        ASSERT_GT(at, 0);
        data[at + 8] = static_cast<char>(value & 0xFF);
        data[at + 9] = static_cast<char>(value >> 8);
    };
    patchUS("\x28\x00\x10\x00", 65535);
    patchUS("\x28\x00\x11\x00", 65535);
    // Pixel data grown to 512 KiB, the last element of the file.
    const qsizetype pd = data.indexOf(QByteArray("\xe0\x7f\x10\x00OW\0\0", 8));
    ASSERT_GT(pd, 0);
    data.truncate(pd + 12);
    const quint32 len = 512 * 1024;
    for (int i = 0; i < 4; ++i)
        data[pd + 8 + i] = static_cast<char>((len >> (8 * i)) & 0xFF);
    data.append(QByteArray(len, '\x01'));
    const QString path = WriteBytes(dir, "huge.dcm", data);
    try {
        Read(path);
        ADD_FAILURE() << "accepted";
    } catch (const DicomError &e) {
        EXPECT_TRUE(e.Message().contains("65535")) << e.what();
    }
    // 4096 x 4096 of 16 bits (32 MiB) over the same 512 KiB: refused too, naming the
    // bytes it really carries.
    patchUS("\x28\x00\x10\x00", 4096);
    patchUS("\x28\x00\x11\x00", 4096);
    const QString path2 = WriteBytes(dir, "big.dcm", data);
    try {
        Read(path2);
        ADD_FAILURE() << "accepted";
    } catch (const DicomError &e) {
        EXPECT_TRUE(e.Message().contains(QString::number(len))) << e.what();
    }
    // The same file with its true size reads.
    patchUS("\x28\x00\x10\x00", 512);
    patchUS("\x28\x00\x11\x00", 512);
    auto ok = Read(WriteBytes(dir, "ok.dcm", data));
    EXPECT_EQ(ok->SizeX(), 512);
    EXPECT_EQ(ok->PixelValue(10, 10), 257 * ok->Attributes()->Item(0x0028, 0x1053)->Value().toDouble()
                                          + ok->Attributes()->Item(0x0028, 0x1052)->Value().toDouble());
}

TEST(BadFiles, DamagedRleSegmentsAreRefusedWithAReason)
{
    // A 16-bit RLE frame (two segments) damaged in each way a segment can be: the image
    // reads, its pixels are refused with a French reason, and an intact copy still shows.
    QTemporaryDir dir;
    const struct
    {
        const char *mode;
        const char *reason;
    } cases[] = {
        {"short", "segment RLE incomplet"},   // the last segment stops before its plane is full
        {"offset", "segment RLE hors des données"}, // the second segment starts past the data
        {"count", "nombre de segments RLE incohérent"},
        {"header", "en-tête RLE trop court"},
        {"intact", ""},
    };
    auto images = CreateImages();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.mode);
        const QString path = dir.filePath(QStringLiteral("%1.dcm").arg(c.mode));
        QProcess p;
        p.start("/usr/bin/python3", {"-c", QStringLiteral(
            "import sys, pydicom\n"
            "from pydicom.encaps import decode_data_sequence, encapsulate\n"
            "ds = pydicom.dcmread(sys.argv[1])\n"
            "f = bytearray(decode_data_sequence(ds.PixelData)[0])\n"
            "mode = sys.argv[3]\n"
            "if mode == 'short': f = f[:len(f) - 40]\n"
            "elif mode == 'offset': f[8:12] = (len(f) + 1000).to_bytes(4, 'little')\n"
            "elif mode == 'count': f[0:4] = (3).to_bytes(4, 'little')\n"
            "elif mode == 'header': f = f[:40]\n"
            "ds.PixelData = encapsulate([bytes(f)])\n"
            "ds.save_as(sys.argv[2])\n"), PydicomFile("MR_small_RLE.dcm"), path, QString::fromLatin1(c.mode)});
        ASSERT_TRUE(p.waitForFinished(60000));
        ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        const DicomImagePtr image = images->ReadFile(path);
        if (!*c.reason) {
            EXPECT_EQ(image->DisplayFrame().size(), QSize(64, 64));
            continue;
        }
        try {
            image->DisplayFrame();
            ADD_FAILURE() << "damaged pixels shown";
        } catch (const DicomError &e) {
            EXPECT_TRUE(e.Message().contains(QString::fromUtf8(c.reason))) << e.what();
            ExpectFrenchOnly(e);
        }
    }
}
