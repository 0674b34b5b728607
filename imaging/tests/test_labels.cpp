// Labels: properties, collections, rescaling to image pixels, measurements, reference
// lines.

#include "testutil.h"

#include <QJsonDocument>
#include <QProcess>

#include <cmath>

using namespace imaging;
using namespace testutil;

namespace {

QJsonObject FirstOfSeries(const QString &description, int index = 0)
{
    int seen = 0;
    return FindImage(DemoVisit(), [&](const QJsonObject &o) {
        return o["seriesDescription"].toString() == description && seen++ == index;
    });
}

DicomImagePtr ReadDemo(const QString &description, int index = 0)
{
    return Read(DemoVisit() + "/" + FirstOfSeries(description, index)["file"].toString());
}

} // namespace

TEST(Labels, PropertiesCollectionsAndTags)
{
    auto label = CreateLabel();
    EXPECT_EQ(label->FontName(), "Arial");
    EXPECT_TRUE(label->Visible());
    EXPECT_TRUE(label->ScaleWithCell());
    EXPECT_FALSE(label->ImageTied());
    // Coordinates are signed 16-bit values.
    label->SetWidth(70000);
    EXPECT_EQ(label->Width(), 70000 - 65536);
    label->SetLeft(-25);
    EXPECT_EQ(label->Left(), -25);
    label->SetHeight(40000);
    EXPECT_EQ(label->Height(), 40000 - 65536);
    // Tag holds the viewer's four integers.
    label->SetTag(QVariantList{0, 1, 100, 101});
    EXPECT_EQ(label->Tag().toList().at(2).toInt(), 100);

    auto labels = CreateLabels();
    auto first = labels->AddNew();
    labels->Add(label);
    EXPECT_EQ(labels->Count(), 2);
    EXPECT_EQ(labels->Item(2).get(), label.get());
    EXPECT_EQ(labels->IndexOf(label.get()), 2);
    auto other = CreateLabels();
    other->Add(label); // the same object in two collections
    label->SetText("A");
    EXPECT_EQ(other->Item(1)->Text(), "A");
    labels->Remove(1);
    EXPECT_EQ(labels->Item(1).get(), label.get());
    labels->Remove(5);
    EXPECT_EQ(labels->Count(), 1);
    labels->Clear();
    EXPECT_EQ(labels->Count(), 0);
    EXPECT_EQ(labels->Item(1), nullptr);
    auto clone = label->Clone();
    clone->SetText("B");
    EXPECT_EQ(label->Text(), "A");
    label->AddPoint(3, 4);
    EXPECT_EQ(label->PointCount(), 1);
    EXPECT_EQ(label->PointAt(1), QPointF(3, 4));
}

TEST(Labels, RescaleTurnsClientGeometryIntoImagePixels)
{
    auto img = ReadDemo("Abdomen axial");
    img->SetDisplayCell(QRectF(0, 0, 256, 256));
    img->SetStretchToFit(false); // zoom and scroll as set (a new image is fitted)
    img->SetZoom(0.5);
    img->SetScrollX(-10); // image shifted 10 screen pixels right
    auto line = CreateLabel();
    line->SetLabelType(DicomLabel::TypeLine);
    line->SetScaleWithCell(false);
    line->SetLeft(20);
    line->SetTop(30);
    line->SetWidth(50);
    line->SetHeight(-10);
    line->Rescale(*img);
    EXPECT_TRUE(line->ImageTied());
    // Client pixels by their centres, as the control's image positions: (20.5 - 10) / 0.5.
    EXPECT_EQ(line->Left(), 21);
    EXPECT_EQ(line->Top(), 61);    // 30.5 / 0.5
    EXPECT_EQ(line->Width(), 100);
    EXPECT_EQ(line->Height(), -20);
    // A tied label does not move again.
    line->Rescale(*img);
    EXPECT_EQ(line->Left(), 21);
    // Cell units: 500, 500 is the centre of the cell.
    auto mark = CreateLabel();
    mark->SetLeft(500);
    mark->SetTop(500);
    img->SetScrollX(0);
    img->SetRotateState(2); // upside down: the centre stays the centre
    mark->Rescale(*img);
    EXPECT_EQ(mark->Left(), 256);
    EXPECT_EQ(mark->Top(), 256);
}

TEST(Labels, LengthsUsePixelSpacingOnly)
{
    auto ct = ReadDemo("Abdomen axial");
    auto line = ct->Labels()->AddNew();
    line->SetLabelType(DicomLabel::TypeLine);
    line->SetImageTied(true);
    line->SetWidth(100);
    line->SetHeight(0);
    EXPECT_DOUBLE_EQ(line->ROILength(), 97.65625);
    EXPECT_EQ(line->ROIDistanceUnits(), "mm");
    line->SetWidth(30);
    line->SetHeight(40);
    EXPECT_DOUBLE_EQ(line->ROILength(), 50 * 0.9765625);
    // The radiograph has Imager Pixel Spacing only: lengths stay in pixels.
    auto cr = ReadDemo("Thorax PA");
    auto l2 = cr->Labels()->AddNew();
    l2->SetLabelType(DicomLabel::TypeLine);
    l2->SetImageTied(true);
    l2->SetWidth(30);
    l2->SetHeight(40);
    EXPECT_DOUBLE_EQ(l2->ROILength(), 50);
    EXPECT_EQ(l2->ROIDistanceUnits(), "pixels");
    // A polyline sums its segments.
    auto poly = ct->Labels()->AddNew();
    poly->SetLabelType(DicomLabel::TypePolyline);
    poly->SetImageTied(true);
    poly->AddPoint(0, 0);
    poly->AddPoint(0, 10);
    poly->AddPoint(10, 10);
    EXPECT_DOUBLE_EQ(poly->ROILength(), 20 * 0.9765625);
}

TEST(Labels, EllipseOverAPhantomRodGivesItsValue)
{
    const QJsonObject m = FirstOfSeries("Abdomen axial");
    auto img = Read(DemoVisit() + "/" + m["file"].toString());
    const double spacing = m["pixelSpacing"].toArray()[0].toDouble();
    const double px = m["position"].toArray()[0].toDouble(), py = m["position"].toArray()[1].toDouble();
    const QJsonArray rods = Manifest(DemoVisit())["rods"].toArray();
    ASSERT_EQ(rods.size(), 3);
    for (const auto &r : rods) {
        const QJsonObject rod = r.toObject();
        SCOPED_TRACE(rod["name"].toString().toStdString());
        // Centre of the rod in pixel coordinates; an ellipse well inside it.
        const double cx = (rod["x"].toDouble() - px) / spacing + 0.5;
        const double cy = (rod["y"].toDouble() - py) / spacing + 0.5;
        const int radius = static_cast<int>(rod["radius"].toDouble() / spacing * 0.7);
        auto e = img->Labels()->AddNew();
        e->SetLabelType(DicomLabel::TypeEllipse);
        e->SetImageTied(true);
        // Drawn from bottom right to top left: negative width and height.
        e->SetLeft(static_cast<int>(std::lround(cx + radius)));
        e->SetTop(static_cast<int>(std::lround(cy + radius)));
        e->SetWidth(-2 * radius);
        e->SetHeight(-2 * radius);
        EXPECT_DOUBLE_EQ(e->ROIMean(), rod["hu"].toDouble());
        EXPECT_NEAR(e->ROIStandardDeviation(), 0.0, 1e-9);
        // The area is that of the pixels counted, close to the drawn circle's.
        int count = 0;
        for (int y = 0; y < img->SizeY(); ++y)
            for (int x = 0; x < img->SizeX(); ++x) {
                const double u = (x + 0.5 - (e->Left() - radius)) / radius, v = (y + 0.5 - (e->Top() - radius)) / radius;
                count += u * u + v * v <= 1.0 ? 1 : 0;
            }
        EXPECT_DOUBLE_EQ(e->ROIArea(), count * spacing * spacing);
        EXPECT_NEAR(e->ROIArea(), M_PI * radius * radius * spacing * spacing, 0.05 * M_PI * radius * radius * spacing * spacing);
        // One-point label: the value of the pixel in HU, as the status bar shows it.
        auto p = img->Labels()->AddNew();
        p->SetLabelType(DicomLabel::TypePoint);
        p->SetImageTied(true);
        p->AddPoint(std::floor(cx), std::floor(cy));
        EXPECT_DOUBLE_EQ(p->ROIMean(), rod["hu"].toDouble());
        img->Labels()->Remove(img->Labels()->Count());
    }
    // Outside the body: air.
    auto air = img->Labels()->AddNew();
    air->SetLabelType(DicomLabel::TypePoint);
    air->SetImageTied(true);
    air->AddPoint(1, 1);
    EXPECT_DOUBLE_EQ(air->ROIMean(), -1000);
    // An ellipse straddling the rod edge has a spread.
    auto wide = img->Labels()->AddNew();
    wide->SetLabelType(DicomLabel::TypeEllipse);
    wide->SetImageTied(true);
    wide->SetLeft(180);
    wide->SetTop(120);
    wide->SetWidth(150);
    wide->SetHeight(150);
    EXPECT_GT(wide->ROIStandardDeviation(), 10);
}

TEST(Labels, StatisticsNeedAnImageAndPixels)
{
    auto lone = CreateLabel();
    lone->SetLabelType(DicomLabel::TypeEllipse);
    lone->SetWidth(10);
    lone->SetHeight(10);
    EXPECT_THROW(lone->ROIMean(), DicomError);
    auto img = ReadDemo("Abdomen axial");
    auto outside = img->Labels()->AddNew();
    outside->SetLabelType(DicomLabel::TypeEllipse);
    outside->SetImageTied(true);
    outside->SetLeft(-100);
    outside->SetTop(-100);
    outside->SetWidth(20);
    outside->SetHeight(20);
    EXPECT_THROW(outside->ROIMean(), DicomError);
    // A re-added entry's labels measure on its own frame.
    auto images = CreateImages();
    auto xa = images->ReadFile(DemoVisit() + "/" + FirstOfSeries("Angiographie")["file"].toString());
    auto second = images->Add(xa);
    second->SetFrame(20);
    auto p1 = xa->Labels()->AddNew(), p2 = second->Labels()->AddNew();
    for (auto &p : {p1, p2}) {
        p->SetLabelType(DicomLabel::TypePoint);
        p->SetImageTied(true);
        p->AddPoint(128, 128);
    }
    EXPECT_EQ(p1->ROIMean(), xa->PixelValue(128, 128));
    second->SetFrame(20);
    EXPECT_EQ(p2->ROIMean(), second->PixelValue(128, 128));
}

TEST(ReferenceLine, AxialAndCoronalCrossWhereTheGeometrySays)
{
    // Axial slice at z = -85.5 (512 x 512 from (-250, -250)); coronal slices at
    // y = -40 .. 40 (512 x 256 from (-250, y, 100), columns down towards the feet).
    const QJsonObject am = FirstOfSeries("Abdomen axial");
    const QJsonObject cm = FirstOfSeries("Reconstruction coronale");
    auto axial = Read(DemoVisit() + "/" + am["file"].toString());
    auto coronal = Read(DemoVisit() + "/" + cm["file"].toString());
    const double z = am["position"].toArray()[2].toDouble();
    const double y = cm["position"].toArray()[1].toDouble();
    const double s = 0.9765625;

    // On the coronal image: the row where z equals the axial slice's, across its width.
    auto onCoronal = coronal->ReferenceLine(*axial, true);
    ASSERT_TRUE(onCoronal);
    EXPECT_EQ(onCoronal->LabelType(), DicomLabel::TypeLine);
    EXPECT_TRUE(onCoronal->ImageTied());
    EXPECT_EQ(onCoronal->Top(), static_cast<int>(std::lround((100 - z) / s + 0.5)));
    EXPECT_EQ(onCoronal->Height(), 0);
    EXPECT_EQ(std::min(onCoronal->Left(), onCoronal->Left() + onCoronal->Width()), 0);
    EXPECT_EQ(std::abs(onCoronal->Width()), 512);

    // On the axial image: the row where y equals the coronal plane's.
    auto onAxial = axial->ReferenceLine(*coronal, true);
    ASSERT_TRUE(onAxial);
    EXPECT_EQ(onAxial->Top(), static_cast<int>(std::lround((y + 250) / s + 0.5)));
    EXPECT_EQ(onAxial->Height(), 0);
    EXPECT_EQ(std::abs(onAxial->Width()), 512);

    // Parallel planes: nothing.
    auto axial2 = ReadDemo("Abdomen axial", 5);
    EXPECT_EQ(axial->ReferenceLine(*axial2, true), nullptr);
    // A plane that misses the other image's extent: nothing with intersection, a line
    // without it.
    auto low = CreateImages()->ReadFile(DemoVisit() + "/" + am["file"].toString());
    low->Attributes()->Add(0x0020, 0x0032, QVariantList{-250.0, -250.0, -500.0});
    EXPECT_EQ(coronal->ReferenceLine(*low, true), nullptr);
    EXPECT_EQ(coronal->ReferenceLine(*low, false), nullptr); // z = -500 is below the coronal image too
    // An axial image covering only x >= 0: the line is clipped to it with intersection,
    // and runs across the coronal image without.
    low->Attributes()->Add(0x0020, 0x0032, QVariantList{0.0, -250.0, 0.0});
    auto clipped = coronal->ReferenceLine(*low, true);
    ASSERT_TRUE(clipped);
    EXPECT_NEAR(std::min(clipped->Left(), clipped->Left() + clipped->Width()), 256, 1);
    EXPECT_NEAR(std::abs(clipped->Width()), 256, 1);
    auto across = coronal->ReferenceLine(*low, false);
    ASSERT_TRUE(across);
    EXPECT_EQ(std::abs(across->Width()), 512);
    // Missing geometry: nothing.
    auto rgb = ReadDemo("Capture couleur");
    EXPECT_EQ(axial->ReferenceLine(*rgb, true), nullptr);
}

TEST(Labels, RowAndColumnSpacingCountSeparatelyAndABadSpacingMeansPixels)
{
    auto ct = ReadDemo("Abdomen axial");
    auto line = ct->Labels()->AddNew();
    line->SetLabelType(DicomLabel::TypeLine);
    line->SetImageTied(true);
    line->SetLeft(10);
    line->SetTop(20);
    line->SetWidth(30);  // columns: 30 x column spacing
    line->SetHeight(-40); // rows: 40 x row spacing
    // Row spacing 0.5 (first value), column spacing 0.25 (second value).
    ct->Attributes()->Add(0x0028, 0x0030, QVariantList{0.5, 0.25});
    EXPECT_DOUBLE_EQ(line->ROILength(), std::sqrt(std::pow(30 * 0.25, 2) + std::pow(40 * 0.5, 2)));
    EXPECT_EQ(line->ROIDistanceUnits(), "mm");
    auto ellipse = ct->Labels()->AddNew();
    ellipse->SetLabelType(DicomLabel::TypeEllipse);
    ellipse->SetImageTied(true);
    ellipse->SetLeft(100);
    ellipse->SetTop(100);
    ellipse->SetWidth(40);
    ellipse->SetHeight(20);
    const double pixels = ellipse->ROIArea() / (0.5 * 0.25);
    EXPECT_DOUBLE_EQ(pixels, std::round(pixels));
    // A zero or negative spacing is no spacing: pixels.
    for (const QVariantList &bad : {QVariantList{0.0, 0.5}, QVariantList{0.5, -1.0}}) {
        ct->Attributes()->Add(0x0028, 0x0030, bad);
        EXPECT_DOUBLE_EQ(line->ROILength(), 50);
        EXPECT_EQ(line->ROIDistanceUnits(), "pixels");
        EXPECT_DOUBLE_EQ(ellipse->ROIArea(), pixels);
    }
}

TEST(Labels, AnEllipsePartlyOffTheImageCountsThePixelsOnIt)
{
    auto ct = ReadDemo("Abdomen axial");
    const double spacing = 0.9765625;
    // Centred on the top-left corner: only its lower right quarter lies on the image.
    auto corner = ct->Labels()->AddNew();
    corner->SetLabelType(DicomLabel::TypeEllipse);
    corner->SetImageTied(true);
    corner->SetLeft(-20);
    corner->SetTop(-20);
    corner->SetWidth(40);
    corner->SetHeight(40);
    int count = 0;
    double sum = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) {
            const double u = (x + 0.5) / 20, v = (y + 0.5) / 20;
            if (u * u + v * v <= 1.0) {
                ++count;
                sum += ct->PixelValue(x, y);
            }
        }
    EXPECT_DOUBLE_EQ(corner->ROIArea(), count * spacing * spacing);
    EXPECT_DOUBLE_EQ(corner->ROIMean(), sum / count);
    // A 2 x 2 ellipse over pixels (0..1, 0..1) holds their four centres (u, v = +-0.5).
    auto small = ct->Labels()->AddNew();
    small->SetLabelType(DicomLabel::TypeEllipse);
    small->SetImageTied(true);
    small->SetLeft(0);
    small->SetTop(0);
    small->SetWidth(2);
    small->SetHeight(2);
    EXPECT_DOUBLE_EQ(small->ROIArea(), 4 * spacing * spacing);
    // Off the image entirely: an error, for the area too.
    small->SetLeft(-50);
    EXPECT_THROW(small->ROIArea(), DicomError);
}

TEST(Labels, EllipseStatisticsAgreeWithNumpyOnAThirdPartyCt)
{
    const QString file = QStringLiteral("/usr/lib/python3/dist-packages/pydicom/data/test_files/CT_small.dcm");
    if (!QFile::exists(file))
        GTEST_SKIP() << "pydicom's test files are not installed";
    auto ct = Read(file);
    const struct { int left, top, width, height; } cases[] = {
        {20, 16, 30, 24}, {60, 60, -25, -41}, {-10, 40, 35, 30}, {0, 0, 128, 128}, {5, 90, 7, 3}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.left << " " << c.top << " " << c.width << " " << c.height);
        auto e = ct->Labels()->AddNew();
        e->SetLabelType(DicomLabel::TypeEllipse);
        e->SetImageTied(true);
        e->SetLeft(c.left);
        e->SetTop(c.top);
        e->SetWidth(c.width);
        e->SetHeight(c.height);
        QProcess p;
        p.start(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral(KORVANE_IMAGING_TESTS_DIR "/roi_expected.py"), file, QString::number(c.left),
                 QString::number(c.top), QString::number(c.width), QString::number(c.height)});
        ASSERT_TRUE(p.waitForFinished(60000));
        ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        const QJsonObject expected = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
        ASSERT_GT(expected["count"].toInt(), 0);
        EXPECT_NEAR(e->ROIArea(), expected["area"].toDouble(), 0.05);
        EXPECT_NEAR(e->ROIMean(), expected["mean"].toDouble(), 0.05);
        EXPECT_NEAR(e->ROIStandardDeviation(), expected["sd"].toDouble(), 0.05);
    }
}
