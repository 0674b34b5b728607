// Labels and corner texts of real (generated) images.
#include "loadingtesting.h"
#include "viewer/loading/cornertext.h"

#include <gtest/gtest.h>

using namespace loading;
using loadingtest::ReadImage;
using loadingtest::TestVisit;

namespace {

QString DemoFile(const char *relative)
{
    return TestVisit("demo") + "/DICOM/ST000001/" + QLatin1String(relative);
}

QStringList LinesOf(const QString &text)
{
    return text.split(QLatin1Char('\r'));
}

CornerTextContext Context(int counter = 1, int records = 7, bool demo = false)
{
    CornerTextContext c;
    c.seriesCounter = counter;
    c.seriesRecords = records;
    c.demo = demo;
    return c;
}

} // namespace

TEST(CornerText, AxialCtSliceHasItsPositionAndFixedLines)
{
    auto image = ReadImage(DemoFile("SE000001/IM000001"));
    auto context = Context();
    AddImageLabels(*image, context);
    ASSERT_EQ(image->Labels()->Count(), 11);
    const QStringList lines = LinesOf(image->Labels()->Item(kLabelTopLeft)->Text());
    EXPECT_EQ(lines.first(), "CT");
    EXPECT_TRUE(lines.contains("Se: 1/7")) << lines.join('|').toStdString();
    EXPECT_TRUE(lines.contains("Im: 1/"));
    EXPECT_TRUE(lines.contains("Ax: I85.5")) << lines.join('|').toStdString();
    EXPECT_TRUE(lines.contains("Dim: 512 x 512"));
    EXPECT_TRUE(lines.last().startsWith("Zoom: ") && lines.last().endsWith("x"));
    EXPECT_FALSE(image->Labels()->Item(kLabelTopLeft)->Text().contains("Fr:"));
    // Bottom-left: the legend line first, the window last.
    const QStringList bottom = LinesOf(image->Labels()->Item(kLabelBottomLeft)->Text());
    EXPECT_EQ(bottom, (QStringList{"Lgd:", "120 kVP", "250 mA", "Tilt: 0", "1.0 s", "W: 400 L: 40"}));
    // Field of view from rows, columns and spacing.
    EXPECT_TRUE(image->Labels()->Item(kLabelBottomRight)->Text().endsWith("DFOV: 50.0 x 50.0 cm"))
        << image->Labels()->Item(kLabelBottomRight)->Text().toStdString();
    EXPECT_EQ(image->VOILUT(), 0);
    EXPECT_EQ(image->ModalityLUT(), 0);
    EXPECT_EQ(image->PresentationLUT(), 0);
}

TEST(CornerText, LabelsInTheirFixedOrder)
{
    auto image = ReadImage(DemoFile("SE000001/IM000002"));
    auto context = Context();
    AddImageLabels(*image, context);
    const auto labels = image->Labels();
    const char *markers[] = {"Top", "Left", "Right", "Bottom"};
    const int alignments[] = {1, 8, 10, 9};
    for (int n = 1; n <= 4; ++n) {
        EXPECT_EQ(labels->Item(n)->LabelType(), 7);
        EXPECT_EQ(labels->Item(n)->Text(), markers[n - 1]);
        EXPECT_EQ(labels->Item(n)->Alignment(), alignments[n - 1]);
        EXPECT_EQ(labels->Item(n)->ForeColour(), 0x00FFFF); // yellow
        EXPECT_EQ(labels->Item(n)->FontSize(), 20);
    }
    EXPECT_EQ(labels->Item(4)->Top(), 500);
    EXPECT_EQ(labels->Item(5)->LabelType(), 11);
    EXPECT_EQ(labels->Item(5)->Width(), -25);
    EXPECT_EQ(labels->Item(6)->Height(), -25);
    const int cornerAlignments[] = {0, 8, 2, 10};
    for (int n = 7; n <= 10; ++n) {
        EXPECT_EQ(labels->Item(n)->LabelType(), 0);
        EXPECT_EQ(labels->Item(n)->Alignment(), cornerAlignments[n - 7]);
        EXPECT_EQ(labels->Item(n)->ForeColour(), 0xFFFFFF);
        EXPECT_FALSE(labels->Item(n)->ImageTied());
        EXPECT_TRUE(labels->Item(n)->ScaleWithCell());
    }
    EXPECT_EQ(labels->Item(11)->LabelType(), 2);
    EXPECT_EQ(labels->Item(11)->Width(), 14);
    EXPECT_EQ(labels->Item(11)->ForeColour(), 0xC0C0C0);
    EXPECT_EQ(labels->Item(11)->BackColour(), 0xFF0000);
}

TEST(CornerText, NoOrientationMeansNoSliceLineAndNothingElseChanges)
{
    auto with = ReadImage(DemoFile("SE000001/IM000003"));
    auto without = ReadImage(DemoFile("SE000001/IM000003"));
    without->Attributes()->Remove(0x0020, 0x0037);
    auto c1 = Context();
    auto c2 = Context();
    const QString a = TopLeftText(*with, c1);
    const QString b = TopLeftText(*without, c2);
    const QString sliceLine = TextLine("Ax:", a);
    ASSERT_FALSE(sliceLine.isEmpty());
    EXPECT_EQ(QString(a).replace(sliceLine + "\r", ""), b);
}

TEST(CornerText, SeriesWithoutNumberShowsTheCounterAndGainsIt)
{
    auto image = ReadImage(DemoFile("SE000005/IM000001")); // colour capture, no Series Number
    ASSERT_TRUE(AttributeText(*image->Attributes(), 0x0020, 0x0011).isEmpty());
    auto context = Context(5, 7);
    AddImageLabels(*image, context);
    EXPECT_TRUE(LinesOf(image->Labels()->Item(kLabelTopLeft)->Text()).contains("Se: 5/7"));
    EXPECT_EQ(AttributeText(*image->Attributes(), 0x0020, 0x0011), "5");

    // With a Series Number, that number becomes the counter.
    auto numbered = ReadImage(DemoFile("SE000007/IM000001"));
    auto c2 = Context(2, 7);
    AddImageLabels(*numbered, c2);
    EXPECT_EQ(c2.seriesCounter, 7);
    EXPECT_TRUE(LinesOf(numbered->Labels()->Item(kLabelTopLeft)->Text()).contains("Se: 7/7"));
}

TEST(CornerText, MagneticResonanceLines)
{
    auto image = ReadImage(DemoFile("SE000003/IM000001"));
    auto context = Context(3);
    AddImageLabels(*image, context);
    const QStringList bottom = LinesOf(image->Labels()->Item(kLabelBottomLeft)->Text());
    EXPECT_TRUE(bottom.contains("5.0thk/1.0sp")) << bottom.join('|').toStdString();
    EXPECT_TRUE(bottom.contains("TE: 15.0")) << bottom.join('|').toStdString();
    const QStringList right = LinesOf(image->Labels()->Item(kLabelBottomRight)->Text());
    bool equipment = false;
    for (const QString &line : right)
        equipment = equipment || line.startsWith("1.5T ");
    EXPECT_TRUE(equipment) << right.join('|').toStdString();
}

TEST(CornerText, AngiographyAnglesFrameLineAndCache)
{
    auto image = ReadImage(DemoFile("SE000004/IM000001"));
    ASSERT_EQ(image->FrameCount(), 20);
    auto context = Context(4);
    AddImageLabels(*image, context);
    const QStringList bottom = LinesOf(image->Labels()->Item(kLabelBottomLeft)->Text());
    EXPECT_TRUE(bottom.contains("RTOA: -30")) << bottom.join('|').toStdString();
    EXPECT_TRUE(bottom.contains("CRA: 20")) << bottom.join('|').toStdString();
    EXPECT_TRUE(LinesOf(image->Labels()->Item(kLabelTopLeft)->Text()).contains("Fr: 1/20"));
    EXPECT_FALSE(image->CacheDisplay());
}

TEST(CornerText, DemoOptionHidesNamesOnly)
{
    auto image = ReadImage(DemoFile("SE000001/IM000001"));
    const QString normal = TopRightText(*image, false);
    const QString demo = TopRightText(*image, true);
    EXPECT_TRUE(normal.contains(QString::fromUtf8("LEFÈVRE Hélène"))) << normal.toStdString();
    EXPECT_FALSE(demo.contains(QString::fromUtf8("LEFÈVRE")));
    const QStringList lines = LinesOf(demo);
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines[0], "NOM INSTITUTION");
    EXPECT_EQ(lines[1], "NOM PATIENT");
    EXPECT_EQ(lines[2], "1958-04-12 068Y F KV000123") << lines[2].toStdString();
    EXPECT_TRUE(LinesOf(normal).contains(lines[2]));
    EXPECT_TRUE(demo.contains("Acc: CT20261109001"));
}

TEST(CornerText, ValuesThatMustBeNumbers)
{
    // Repetition time must be a number: the image gets no label and the error names it.
    auto image = ReadImage(DemoFile("SE000003/IM000002"));
    image->Attributes()->Add(0x0018, 0x0080, QStringLiteral("abc"), "LO");
    auto context = Context(3);
    try {
        AddImageLabels(*image, context);
        FAIL() << "no error";
    } catch (const ValueError &error) {
        EXPECT_TRUE(error.Message().contains("(0018,0080)")) << error.what();
    }
    EXPECT_EQ(image->Labels()->Count(), 0);

    // The thickness line is protected: a bad spacing only drops that line.
    auto protectedImage = ReadImage(DemoFile("SE000003/IM000003"));
    protectedImage->Attributes()->Add(0x0018, 0x0088, QStringLiteral("n/a"), "LO");
    auto c2 = Context(3);
    AddImageLabels(*protectedImage, c2);
    EXPECT_FALSE(protectedImage->Labels()->Item(kLabelBottomLeft)->Text().contains("thk"));
}

TEST(CornerText, SlicePositionSignsAndTies)
{
    auto dataSet = imaging::CreateDataSet();
    auto a = dataSet->Attributes();
    a->Add(0x0028, 0x0030, QVariantList{1.0, 1.0}, "DS");
    a->Add(0x0028, 0x0010, 100, "US");
    a->Add(0x0028, 0x0011, 100, "US");
    // Sagittal plane (rows along y, columns along -z): x is the normal.
    a->Add(0x0020, 0x0032, QVariantList{12.5, -50.0, 50.0}, "DS");
    a->Add(0x0020, 0x0037, QVariantList{0.0, 1.0, 0.0, 0.0, 0.0, -1.0}, "DS");
    EXPECT_EQ(SlicePositionLine(*a), "Sag: G12.5");
    a->Add(0x0020, 0x0032, QVariantList{-3.0, -50.0, 50.0}, "DS");
    EXPECT_EQ(SlicePositionLine(*a), "Sag: D3.0");
    // Coronal, exactly at 0: no letter.
    a->Add(0x0020, 0x0032, QVariantList{-50.0, 0.0, 50.0}, "DS");
    a->Add(0x0020, 0x0037, QVariantList{1.0, 0.0, 0.0, 0.0, 0.0, -1.0}, "DS");
    EXPECT_EQ(SlicePositionLine(*a), "Cor: 0.0");
    a->Remove(0x0028, 0x0030);
    EXPECT_EQ(SlicePositionLine(*a), "");
}

TEST(CornerText, SpacingThatIsNotTwoPositiveNumbersCountsAsAbsent)
{
    // No field of view, no slice position, and measurements in pixels, as the
    // component's rulers and lengths see the same image.
    auto image = ReadImage(DemoFile("SE000001/IM000001"));
    const auto attributes = image->Attributes();
    auto line = image->Labels()->AddNew();
    line->SetLabelType(imaging::DicomLabel::TypeLine);
    line->SetImageTied(true);
    line->SetWidth(100);
    line->SetHeight(0);
    const struct
    {
        const char *what;
        QVariant value;
        const char *vr;
    } absent[] = {
        {"negative", QVariantList{-1.0, -1.0}, "DS"},
        {"zero", QVariantList{0.0, 0.0}, "DS"},
        {"one negative", QVariantList{0.5, -0.5}, "DS"},
        {"one value", 0.5, "DS"},
        {"not numbers", QStringLiteral("a\\b"), "LO"},
    };
    for (const auto &c : absent) {
        SCOPED_TRACE(c.what);
        attributes->Add(0x0028, 0x0030, c.value, c.vr);
        EXPECT_FALSE(BottomRightText(*image).contains("DFOV")) << BottomRightText(*image).toStdString();
        EXPECT_EQ(SlicePositionLine(*attributes), "");
        EXPECT_EQ(line->ROIDistanceUnits(), "pixels");
    }

    attributes->Add(0x0028, 0x0030, QVariantList{0.5, 0.25}, "DS");
    EXPECT_TRUE(BottomRightText(*image).endsWith("DFOV: 25.6 x 12.8 cm")) << BottomRightText(*image).toStdString();
    EXPECT_EQ(line->ROIDistanceUnits(), "mm");
    EXPECT_DOUBLE_EQ(line->ROILength(), 25.0);

    // An enhanced image keeps its spacing in the shared functional groups.
    auto measures = imaging::CreateDataSets();
    measures->Add(imaging::CreateDataSet());
    measures->Item(1)->Attributes()->Add(0x0028, 0x0030, QVariantList{0.5, 0.5}, "DS");
    auto shared = imaging::CreateDataSets();
    shared->Add(imaging::CreateDataSet());
    shared->Item(1)->Attributes()->Add(0x0028, 0x9110, QVariant::fromValue(measures), "SQ");
    attributes->Remove(0x0028, 0x0030);
    attributes->Add(0x5200, 0x9229, QVariant::fromValue(shared), "SQ");
    EXPECT_TRUE(BottomRightText(*image).endsWith("DFOV: 25.6 x 25.6 cm")) << BottomRightText(*image).toStdString();
    EXPECT_EQ(line->ROIDistanceUnits(), "mm");
}
