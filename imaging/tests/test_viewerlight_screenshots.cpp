// Pictures of the control on the demo visit's CT slices, saved as PNG for a person to look
// at (build folder's screenshots/, or KORVANE_SCREENSHOT_DIR), with checks of what they
// must show.

#include "imaging/viewerlight.h"

#include <QDir>
#include <QLibrary>
#include <QFileInfo>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace imaging;

namespace {

QString ScreenshotDir()
{
    QString dir = qEnvironmentVariable("KORVANE_SCREENSHOT_DIR");
    if (dir.isEmpty())
        dir = QStringLiteral(KORVANE_BINARY_DIR "/screenshots");
    QDir().mkpath(dir);
    return dir;
}

QString CtFile(int number)
{
    return QStringLiteral(KORVANE_TESTDATA_DIR "/demo/DICOM/ST000001/SE000001/IM%1")
        .arg(number, 6, 10, QLatin1Char('0'));
}

std::unique_ptr<DicomViewerLight> MakeControl(int width, int height)
{
    ClassFactory *factory = nullptr;
    if (GetClassObject("DicomViewerLight", &factory) != 0)
        return nullptr;
    auto *control = component_cast<DicomViewerLight>(factory->CreateInstance(nullptr));
    if (control)
        control->resize(width, height);
    return std::unique_ptr<DicomViewerLight>(control);
}

DicomLabelPtr AddLabel(DicomImage &image, int type, int l, int t, int w, int h)
{
    DicomLabelPtr label = image.Labels()->AddNew();
    label->SetLabelType(type);
    label->SetLeft(l);
    label->SetTop(t);
    label->SetWidth(w);
    label->SetHeight(h);
    label->SetImageTied(false);
    label->SetScaleWithCell(true);
    return label;
}

// The eleven labels every loaded image carries: orientation markers, rulers, the four
// corner texts and the selection marker.
void AddStandardLabels(DicomImage &image, const QStringList &cornerTexts)
{
    struct Marker { const char *edge; int top; int alignment; };
    for (const Marker &m : {Marker{"Top", 5, 1}, Marker{"Left", 5, 8}, Marker{"Right", 5, 10},
                            Marker{"Bottom", 500, 9}}) {
        DicomLabelPtr l = AddLabel(image, DicomLabel::TypeOrientation, 10, m.top, 980, 495);
        l->SetAlignment(m.alignment);
        l->SetText(QString::fromLatin1(m.edge));
        l->SetFontName(QStringLiteral("Arial"));
        l->SetFontSize(20);
        l->SetScaleFontSize(true);
        l->SetShadow(1);
        l->SetForeColour(0x00FFFF); // yellow
    }
    AddLabel(image, DicomLabel::TypeRuler, 950, 200, -25, 600)->SetShadow(1);
    AddLabel(image, DicomLabel::TypeRuler, 200, 950, 600, -25)->SetShadow(1);
    const int tops[4] = {5, 500, 5, 500};
    const int alignments[4] = {0, 8, 2, 10};
    for (int i = 0; i < 4; ++i) {
        DicomLabelPtr l = AddLabel(image, DicomLabel::TypeText, 10, tops[i], 980, 495);
        l->SetAlignment(alignments[i]);
        l->SetText(cornerTexts.value(i));
        l->SetFontName(QStringLiteral("Arial"));
        l->SetFontSize(20);
        l->SetScaleFontSize(true);
        l->SetShadow(1);
    }
    DicomLabelPtr marker = AddLabel(image, DicomLabel::TypeRectangle, 0, 0, 14, 14);
    marker->SetForeColour(0xC0C0C0);
    marker->SetBackColour(0xFF0000);
}

const QStringList kCorners = {
    QStringLiteral("CT\r4471\rAbdomen axial\rSe: 1/3\rIm: 10/20\rAx: I40.5\rDim: 512 x 512\rZoom: 1.0x"),
    QStringLiteral("Lgd:\r120 kVP\r250 mA\rTilt: 0\r0.8 s\rW: 400 L: 40"),
    QStringLiteral("CLINIQUE DU PARC\rLEFEVRE Helene\r1958-04-12 068Y F KV000123\rAcc: CT20261109001\r20261109\r101500"),
    QStringLiteral("ABDOMEN HFS\rSTANDARD\rSOMATOM\rDFOV: 50.0 x 50.0 cm"),
};

// Pixels of a colour in a rectangle of the picture.
int CountColour(const QImage &image, const QRect &area, const std::function<bool(QColor)> &match)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (match(QColor(image.pixel(x, y))))
                ++n;
    return n;
}

bool IsYellow(QColor c) { return c.red() > 200 && c.green() > 200 && c.blue() < 80; }
bool IsWhite(QColor c) { return c.red() > 230 && c.green() > 230 && c.blue() > 230; }

QImage Shoot(DicomViewerLight &control, const QString &name)
{
    control.Refresh();
    const QImage shot = control.grab().toImage();
    const QString path = ScreenshotDir() + QLatin1Char('/') + name;
    EXPECT_TRUE(shot.save(path)) << path.toStdString();
    return shot.convertToFormat(QImage::Format_RGB32);
}

DicomImagePtr ReadCt(DicomViewerLight &control, int number)
{
    DicomImagePtr image = control.Images()->ReadFile(CtFile(number));
    image->SetStretchToFit(true);
    image->SetWidth(400);
    image->SetLevel(40);
    image->SetMagnificationMode(1);
    image->SetMinificationMode(2);
    return image;
}

} // namespace

TEST(ViewerLightScreenshots, CtCellWithCornerTextsMarkersAndRulers)
{
    auto control = MakeControl(512, 512);
    ASSERT_TRUE(control);
    DicomImagePtr image = ReadCt(*control, 10);
    AddStandardLabels(*image, kCorners);
    DicomGlobalPtr global = CreateGlobal();
    const QString saved = global->DirectionStrings();
    global->SetDirectionStrings(QStringLiteral("D\\G\\A\\P\\I\\S"));
    const QImage shot = Shoot(*control, QStringLiteral("viewerlight_ct_cell.png"));
    // The same cell as a picture for a printer page: scaled up, centred, labels included.
    const QImage print = control->Picture(image, QSize(1536, 1024));
    EXPECT_TRUE(print.save(ScreenshotDir() + QStringLiteral("/viewerlight_picture_print.png")));
    global->SetDirectionStrings(saved);
    ASSERT_EQ(print.size(), QSize(1536, 1024));
    EXPECT_GT(CountColour(print, QRect(256, 0, 240, 120), IsWhite), 200); // corner text, twice the size
    EXPECT_EQ(CountColour(print, QRect(0, 0, 250, 1024), IsWhite), 0);    // margin left of the cell
    // White text in all four corners, yellow letters at the four edges' middles.
    EXPECT_GT(CountColour(shot, QRect(0, 0, 120, 60), IsWhite), 50);
    EXPECT_GT(CountColour(shot, QRect(0, 440, 120, 70), IsWhite), 50);
    EXPECT_GT(CountColour(shot, QRect(380, 0, 130, 60), IsWhite), 50);
    EXPECT_GT(CountColour(shot, QRect(380, 440, 130, 70), IsWhite), 50);
    EXPECT_GT(CountColour(shot, QRect(236, 0, 40, 30), IsYellow), 5);
    EXPECT_GT(CountColour(shot, QRect(0, 220, 30, 40), IsYellow), 5);
    EXPECT_GT(CountColour(shot, QRect(482, 220, 30, 40), IsYellow), 5);
    EXPECT_GT(CountColour(shot, QRect(236, 480, 40, 32), IsYellow), 5);
}

TEST(ViewerLightScreenshots, TwoByTwoGridWithHighlightedCell)
{
    auto control = MakeControl(512, 512);
    ASSERT_TRUE(control);
    for (int n = 8; n <= 12; ++n) {
        DicomImagePtr image = ReadCt(*control, n);
        AddStandardLabels(*image, {QStringLiteral("Im: %1/20").arg(n), QStringLiteral("W: 400 L: 40"), {}, {}});
        image->SetBorderWidth(1);
        image->SetBorderStyle(0);
        image->SetBorderColour(0xC0C0C0);
    }
    control->SetMultiRows(2);
    control->SetMultiColumns(2);
    control->SetCellSpacing(4);
    control->SetBorderStyle(1);
    control->SetCurrentIndex(2);
    control->Images()->Item(3)->SetBorderStyle(2);
    control->Images()->Item(3)->SetBorderColour(0x80FF);
    const QImage shot = Shoot(*control, QStringLiteral("viewerlight_grid_2x2.png"));
    // Cell 2 (top right) shows image 3 with an orange border.
    EXPECT_EQ(control->ImageIndex(384, 128), 3);
    EXPECT_EQ(control->ImageIndex(128, 384), 4);
    EXPECT_GT(CountColour(shot, QRect(256, 0, 256, 256),
                          [](QColor c) { return c.red() > 200 && c.green() > 100 && c.green() < 160 && c.blue() < 50; }),
              100);
}

TEST(ViewerLightScreenshots, RotatedAndFlippedImageWithOrientationLetters)
{
    auto control = MakeControl(400, 400);
    ASSERT_TRUE(control);
    DicomImagePtr image = ReadCt(*control, 10);
    AddStandardLabels(*image, {QStringLiteral("Rotation 1, miroir 1"), {}, {}, {}});
    image->SetRotateState(1);
    image->SetFlipState(1);
    DicomGlobalPtr global = CreateGlobal();
    const QString saved = global->DirectionStrings();
    global->SetDirectionStrings(QStringLiteral("D\\G\\A\\P\\I\\S"));
    Shoot(*control, QStringLiteral("viewerlight_rotated_flipped.png"));
    // A quarter turn to the left puts the patient's left (G) on top and the anterior (A)
    // on the left; the mirror then swaps left and right on screen.
    EXPECT_EQ(image->EdgeOrientation(QStringLiteral("Top")), QStringLiteral("G"));
    EXPECT_EQ(image->EdgeOrientation(QStringLiteral("Left")), QStringLiteral("P"));
    EXPECT_EQ(image->EdgeOrientation(QStringLiteral("Right")), QStringLiteral("A"));
    global->SetDirectionStrings(saved);
}

TEST(ViewerLightScreenshots, RulerAndMeasurementShapes)
{
    auto control = MakeControl(512, 512);
    ASSERT_TRUE(control);
    DicomImagePtr image = ReadCt(*control, 10);
    image->SetStretchToFit(false);
    image->SetZoom(2.0);
    image->SetScrollX(256);
    image->SetScrollY(256);
    AddLabel(*image, DicomLabel::TypeRuler, 950, 200, -25, 600)->SetShadow(1);
    AddLabel(*image, DicomLabel::TypeRuler, 200, 950, 600, -25)->SetShadow(1);
    auto tied = [&](int type, int l, int t, int w, int h) {
        DicomLabelPtr label = AddLabel(*image, type, l, t, w, h);
        label->SetImageTied(true);
        label->SetForeColour(0x00FFFF);
        label->SetShadow(1);
        return label;
    };
    tied(DicomLabel::TypeLine, 200, 230, 80, 40)->SetSelectMode(2); // selected: handles
    tied(DicomLabel::TypeEllipse, 300, 200, 60, 40);
    tied(DicomLabel::TypeArrow, 250, 320, 40, 30);
    DicomLabelPtr text = tied(DicomLabel::TypeText, 290, 350, 0, 0);
    text->SetText(QStringLiteral("Kyste"));
    text->SetAutoSize(true);
    text->SetFontSize(15);
    const QImage shot = Shoot(*control, QStringLiteral("viewerlight_ruler.png"));
    // The vertical ruler runs along x = 486 with ticks to its left, one every 10 mm:
    // 0.98 mm pixels at zoom 2 give 20.5 screen pixels, 15 steps (16 ticks) in its 307.
    auto whiteRun = [&](int x0, int y0, int dx, int dy, int n) {
        int count = 0;
        for (int i = 0; i < n; ++i)
            count += IsWhite(QColor(shot.pixel(x0 + i * dx, y0 + i * dy)));
        return count;
    };
    EXPECT_GT(whiteRun(486, 110, 0, 1, 280), 270);
    EXPECT_GT(whiteRun(110, 486, 1, 0, 280), 270);
    // Ticks: count the white runs one pixel left of the main line.
    int ticks = 0;
    for (int y = 100; y < 420; ++y)
        ticks += IsWhite(QColor(shot.pixel(482, y))) && !IsWhite(QColor(shot.pixel(482, y - 1)));
    EXPECT_EQ(ticks, 16);
    // The AutoSize text now knows its extent in image pixels.
    EXPECT_GT(text->Width(), 5);
    EXPECT_GT(text->Height(), 3);
}

TEST(ViewerLightScreenshots, ControlFromTheLoadedModuleShowsAnImage)
{
    // The way the viewer gets the control: from the module's one entry point.
    QLibrary library(QStringLiteral(KORVANE_IMAGING_MODULE));
    ASSERT_TRUE(library.load()) << library.errorString().toStdString();
    auto entry = reinterpret_cast<KorvaneGetClassObjectFn>(library.resolve(KORVANE_IMAGING_ENTRY_POINT));
    ASSERT_TRUE(entry);
    ClassFactory *factory = nullptr;
    ASSERT_EQ(entry("DicomViewerLight", &factory), 0);
    QWidget window;
    window.resize(300, 300);
    ComponentObject *object = factory->CreateInstance(&window);
    DicomViewerLight *control = component_cast<DicomViewerLight>(object);
    ASSERT_NE(control, nullptr) << "the module's factory made no control";
    EXPECT_EQ(dynamic_cast<QWidget *>(control), static_cast<QWidget *>(control));
    control->resize(256, 256);
    DicomImagePtr image = control->Images()->ReadFile(CtFile(10));
    image->SetStretchToFit(true);
    image->SetWidth(400);
    image->SetLevel(40);
    int downs = 0;
    control->OnMouseDown = [&](Qt::MouseButton, Qt::KeyboardModifiers, int, int) { ++downs; };
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QImage shot = Shoot(*control, QStringLiteral("viewerlight_module.png"));
    // The phantom's body (grey) fills the middle of the cell; its corners stay black.
    EXPECT_GT(qGray(shot.pixel(128, 128)), 40);
    EXPECT_EQ(qGray(shot.pixel(2, 2)), 0);
    EXPECT_EQ(control->ImageIndex(128, 128), 1);
    EXPECT_EQ(control->ImageXPosition(128, 128), 257); // centre 128.5 at zoom 0.5
    QTest::mouseClick(control, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
    EXPECT_EQ(downs, 1);
}
