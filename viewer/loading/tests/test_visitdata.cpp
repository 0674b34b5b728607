// Series runs, series keys in stack mode, and the text and attribute functions.
#include "loadingtesting.h"

#include <gtest/gtest.h>

using namespace loading;

namespace {

// A collection of bare images with the given series and study UIDs.
imaging::DicomImagesPtr Entries(const std::vector<std::pair<QString, QString>> &uids)
{
    auto images = NewImages();
    for (const auto &[series, study] : uids) {
        auto image = imaging::CreateImage();
        image->SetSeriesUID(series);
        image->SetStudyUID(study);
        images->Add(image);
    }
    return images;
}

} // namespace

TEST(SeriesFunctions, RunsOfEqualKeys)
{
    const auto images = Entries({{"A", "S1"}, {"A", "S1"}, {"B", "S1"}, {"A", "S1"}});
    EXPECT_EQ(CountSeries(*images, false), 3);
    EXPECT_EQ(SeriesFirstIndex(*images, "A", false), 1);
    EXPECT_EQ(SeriesLastIndex(*images, "A", false), 2);
    EXPECT_EQ(SeriesImageCount(*images, "A", false), 2);
    EXPECT_EQ(SeriesOrdinal(*images, "B"), 2);
    EXPECT_EQ(NextSeriesKey(*images, "A", false), "B");
    EXPECT_EQ(NextSeriesKey(*images, "B", false), "A");
    EXPECT_EQ(PriorSeriesKey(*images, "B", false), "A");
    EXPECT_EQ(PriorSeriesKey(*images, "A", false), "");
    EXPECT_EQ(NextSeriesKeys(*images, "A", false), (QStringList{"B", "S1"}));
    EXPECT_EQ(PriorSeriesKeys(*images, "A", false), (QStringList{"", ""}));
    // A control's own collection: first and last entry of a UID, wherever it lies.
    EXPECT_EQ(ViewerSeriesFirstIndex(*images, "A"), 1);
    EXPECT_EQ(ViewerSeriesLastIndex(*images, "A"), 4);
    EXPECT_EQ(ViewerSeriesFirstIndex(*images, "C"), 0);
    EXPECT_EQ(ViewerSeriesLastIndex(*images, "C"), 0);
}

TEST(SeriesFunctions, AbsentKeyAndEmptyCollection)
{
    const auto images = Entries({{"A", "S1"}, {"B", "S1"}});
    EXPECT_EQ(SeriesFirstIndex(*images, "Z", false), 3);
    EXPECT_EQ(SeriesImageCount(*images, "Z", false), 0);
    EXPECT_EQ(NextSeriesKey(*images, "Z", false), "");
    EXPECT_EQ(NextSeriesKeys(*images, "B", false), (QStringList{"", ""}));

    const auto empty = NewImages();
    EXPECT_EQ(SeriesFirstIndex(*empty, "A", false), 0);
    EXPECT_EQ(SeriesLastIndex(*empty, "A", false), 0);
    EXPECT_EQ(SeriesImageCount(*empty, "A", false), 0);
    EXPECT_EQ(CountSeries(*empty, false), 0);
}

TEST(SeriesFunctions, StackModeTurnsStudiesIntoSeries)
{
    TVisitData visit;
    bool stack = false;
    visit.SetStackModeSource([&stack]() { return stack; });
    VisitContent &content = *visit.Content();
    std::vector<imaging::DicomImagePtr> entries;
    for (const auto &[series, study] : std::vector<std::pair<QString, QString>>{
             {"A", "S1"}, {"A", "S1"}, {"B", "S1"}, {"C", "S2"}}) {
        auto image = imaging::CreateImage();
        image->SetSeriesUID(series);
        image->SetStudyUID(study);
        entries.push_back(image);
    }
    content.AppendEntries(entries);
    EXPECT_EQ(visit.CountSeries(), 3);
    stack = true;
    EXPECT_EQ(visit.CountSeries(), 2);
    EXPECT_EQ(visit.SeriesImageCount("S1"), 3);
    EXPECT_EQ(visit.SeriesKey(*entries[2]), "S1");
    // The next "series" in stack mode is named by the next entry's SeriesUID and StudyUID.
    EXPECT_EQ(visit.NextSeriesKeys("S1"), (QStringList{"C", "S2"}));
    stack = false;
    EXPECT_EQ(visit.SeriesKey(*entries[2]), "B");
}

TEST(SeriesFunctions, SeriesCountAndCalibrationFactorsGrowTogether)
{
    TVisitData visit;
    const VisitContentPtr first = visit.Content();
    first->AddSeries();
    first->AddSeries();
    visit.SetCalibrationFactor(2, 0.5);
    EXPECT_EQ(visit.SeriesCount(), 2);
    EXPECT_EQ(visit.CalibrationFactors(), (std::vector<double>{0.0, 0.5}));
    EXPECT_EQ(visit.CalibrationFactor(3), 0.0);
    // A new visit starts from nothing; the old content lives on for whoever holds it.
    visit.ResetVisitImages();
    EXPECT_EQ(visit.SeriesCount(), 0);
    EXPECT_TRUE(visit.CalibrationFactors().empty());
    EXPECT_EQ(first->SeriesCount(), 2);
}

TEST(TextFunctions, TextLineFindsThePrefixedLine)
{
    const QString text = "CT\rIm: 3/20\rDim: 512 x 512";
    EXPECT_EQ(TextLine("Im:", text), "Im: 3/20");
    EXPECT_EQ(TextLine("Dim:", text), "Dim: 512 x 512");
    EXPECT_EQ(TextLine("Fr:", text), "");
}

TEST(TextFunctions, ReplaceTextLineKeepsLinePlaces)
{
    const QString text = "Lgd: 12.0 mm\rTR: 500.0\rW: 400 L: 40";
    EXPECT_EQ(ReplaceTextLine("Lgd:", text, ""), "Lgd:\rTR: 500.0\rW: 400 L: 40");
    EXPECT_EQ(ReplaceTextLine("W:", text, ""), "Lgd: 12.0 mm\rTR: 500.0\r");
    EXPECT_EQ(ReplaceTextLine("TR:", text, ""), "Lgd: 12.0 mm\r\rW: 400 L: 40");
    EXPECT_EQ(ReplaceTextLine("W:", text, "W: 1 L: 2"), "Lgd: 12.0 mm\rTR: 500.0\rW: 1 L: 2");
    EXPECT_EQ(ReplaceTextLine("Zoom:", text, "Zoom: 1.0x"), "");
}

TEST(TextFunctions, AttributeTextAndCaptions)
{
    auto dataSet = imaging::CreateDataSet();
    auto attributes = dataSet->Attributes();
    attributes->Add(0x0008, 0x103E, QStringLiteral("  Abdomen  "));
    attributes->Add(0x0018, 0x0015, QStringLiteral("CHEST"));
    EXPECT_EQ(AttributeText(*attributes, 0x0008, 0x103E), "Abdomen");
    EXPECT_EQ(AttributeText(*attributes, 0x0008, 0x0060), "");
    EXPECT_EQ(SeriesCaption(*attributes), "Abdomen");
    attributes->Remove(0x0008, 0x103E);
    EXPECT_EQ(SeriesCaption(*attributes), "CHEST");
    attributes->Remove(0x0018, 0x0015);
    EXPECT_EQ(SeriesCaption(*attributes), "N/A");
}

TEST(TextFunctions, DefaultWindowFromPixelRangeRoundsHalfToEven)
{
    auto dataSet = imaging::CreateDataSet();
    auto a = dataSet->Attributes();
    a->Add(0x0028, 0x0002, 1, "US");
    a->Add(0x0028, 0x0004, QStringLiteral("MONOCHROME2"), "CS");
    a->Add(0x0028, 0x0010, 2, "US");
    a->Add(0x0028, 0x0011, 2, "US");
    a->Add(0x0028, 0x0100, 16, "US");
    a->Add(0x0028, 0x0101, 12, "US");
    a->Add(0x0028, 0x0102, 11, "US");
    a->Add(0x0028, 0x0103, 0, "US");
    QByteArray pixels;
    for (quint16 v : {quint16(0), quint16(4095), quint16(100), quint16(200)}) {
        pixels.append(char(v & 0xFF));
        pixels.append(char(v >> 8));
    }
    a->Add(0x7FE0, 0x0010, pixels, "OW");
    auto image = dataSet->MakeImage();
    image->SetLevel(1);
    image->SetWidth(1);
    DefaultWindow(*image);
    EXPECT_EQ(image->Level(), 2048); // 2047.5 to even
    EXPECT_EQ(image->Width(), 4096);

    // With Window Center / Width present, their first values win.
    auto withWindow = dataSet->MakeImage();
    withWindow->Attributes()->Add(0x0028, 0x1050, QVariantList{40.0, 60.0}, "DS");
    withWindow->Attributes()->Add(0x0028, 0x1051, QVariantList{400.0, 600.0}, "DS");
    DefaultWindow(*withWindow);
    EXPECT_EQ(withWindow->Level(), 40);
    EXPECT_EQ(withWindow->Width(), 400);
    EXPECT_EQ(RoundHalfEven(2046.5), 2046);

    // A single-bit mask (values 0 and 1): level 1, width 2, so that 0 is black and 1
    // white; the rounded mean 0 would show both white.
    const auto mask = loadingtest::ReadImage(QStringLiteral(KORVANE_PYDICOM_FILES "/liver_1frame.dcm"));
    mask->SetLevel(7);
    mask->SetWidth(7);
    DefaultWindow(*mask);
    EXPECT_EQ(mask->Level(), 1);
    EXPECT_EQ(mask->Width(), 2);
}

TEST(TextFunctions, StudyCaptionOfARealImage)
{
    const auto image = loadingtest::ReadImage(loadingtest::TestVisit("demo") + "/DICOM/ST000001/SE000001/IM000001");
    const QString caption = StudyCaption(*image);
    EXPECT_TRUE(caption.startsWith(QString::fromUtf8("LEFÈVRE^Hélène / "))) << caption.toStdString();
    EXPECT_EQ(caption.count(' '), 3) << caption.toStdString();
    // A demonstration hides the name in the child window's caption too.
    const QString hidden = StudyCaption(*image, true);
    EXPECT_TRUE(hidden.startsWith(QStringLiteral("NOM PATIENT / "))) << hidden.toStdString();
    EXPECT_TRUE(hidden.endsWith(caption.mid(caption.indexOf(QStringLiteral(" / "))))) << hidden.toStdString();
}
