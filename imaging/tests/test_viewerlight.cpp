// The on-screen control: drawing, grid, coordinates, labels, XOR marks, cine, callbacks,
// pictures and sub-images, on synthetic images with known pixels, offscreen.

#include "imaging/viewerlight.h"
#include "imaging/src/cellrenderer.h"
#include "imaging/src/viewerlight_impl.h"
#include "imaging/tests/viewerlight_testimages.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include "testsupport/qtestgtest.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <thread>

using namespace imaging;
using viewerlight_test::AxialGeometry;
using viewerlight_test::MakeMonoImage;

namespace {

std::unique_ptr<DicomViewerLight> MakeControl(int width, int height)
{
    ClassFactory *factory = nullptr;
    if (GetClassObject("DicomViewerLight", &factory) != 0 || !factory)
        return nullptr;
    ComponentObject *object = factory->CreateInstance(nullptr);
    DicomViewerLight *control = component_cast<DicomViewerLight>(object);
    if (!control) {
        delete object;
        return nullptr;
    }
    control->resize(width, height);
    return std::unique_ptr<DicomViewerLight>(control);
}

QImage Grab(DicomViewerLight &control)
{
    control.Refresh();
    return control.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

int Grey(const QImage &image, int x, int y)
{
    return qGray(image.pixel(x, y));
}

void PlainDisplay(DicomImage &image)
{
    image.SetStretchToFit(false);
    image.SetZoom(1.0);
    image.SetScrollX(0);
    image.SetScrollY(0);
    image.SetMagnificationMode(0);
    image.SetMinificationMode(0);
    image.SetBorderWidth(0);
}

} // namespace

TEST(ViewerLight, FactoryMakesAWidgetControl)
{
    QWidget parent;
    ClassFactory *factory = nullptr;
    ASSERT_EQ(GetClassObject("DicomViewerLight", &factory), 0);
    ComponentObject *object = factory->CreateInstance(&parent);
    ASSERT_NE(object, nullptr);
    EXPECT_STREQ(object->ClassName(), "DicomViewerLight");
    DicomViewerLight *control = component_cast<DicomViewerLight>(object);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->parentWidget(), &parent); // owned by the parent from here on
    EXPECT_EQ(control->MultiRows(), 1);
    EXPECT_EQ(control->CurrentIndex(), 1);
    EXPECT_EQ(control->Images()->Count(), 0);
    EXPECT_EQ(control->CurrentImage(), nullptr);
}

TEST(ViewerLight, WindowedPhantomPixelsHaveTheExpectedGrey)
{
    // Three bands of stored values 0, 500 and 1000; window centre 500, width 1000.
    auto image = MakeMonoImage(60, 40, [](int x, int, int) { return x < 20 ? 0 : x < 40 ? 500 : 1000; },
                               1, 500, 1000);
    auto control = MakeControl(60, 40);
    ASSERT_TRUE(control);
    control->Images()->Add(image);
    PlainDisplay(*image);
    image->SetWidth(1000);
    image->SetLevel(500);
    QImage shot = Grab(*control);
    EXPECT_LE(Grey(shot, 10, 20), 2);
    EXPECT_NEAR(Grey(shot, 30, 20), 128, 2);
    EXPECT_GE(Grey(shot, 50, 20), 253);
    // The control draws exactly the component's display frame, pixel for pixel.
    const QImage frame = image->DisplayFrame();
    for (int x : {0, 19, 20, 39, 40, 59})
        EXPECT_EQ(Grey(shot, x, 5), qGray(frame.pixel(x, 5))) << "x " << x;

    // A negative width inverts.
    image->SetWidth(-1000);
    shot = Grab(*control);
    EXPECT_GE(Grey(shot, 10, 20), 253);
    EXPECT_LE(Grey(shot, 50, 20), 2);
}

TEST(ViewerLight, GridShowsImagesInReadingOrderFromCurrentIndex)
{
    auto control = MakeControl(200, 200);
    ASSERT_TRUE(control);
    // Six uniform images of grey 10, 50, 90, 130, 170, 210 (window 0..255).
    for (int i = 0; i < 6; ++i) {
        auto image = MakeMonoImage(16, 16, [i](int, int, int) { return 10 + 40 * i; }, 1, 127.5, 256);
        control->Images()->Add(image);
        image->SetStretchToFit(true);
        image->SetWidth(256);
        image->SetLevel(128);
    }
    control->SetMultiRows(2);
    control->SetMultiColumns(2);
    control->SetCellSpacing(4);
    control->SetCurrentIndex(2);
    const QImage shot = Grab(*control);
    const QPoint centres[4] = {{50, 50}, {150, 50}, {50, 150}, {150, 150}};
    for (int k = 0; k < 4; ++k) {
        const int expected = 10 + 40 * (k + 1); // images 2, 3, 4, 5
        EXPECT_NEAR(Grey(shot, centres[k].x(), centres[k].y()), expected, 2) << "cell " << k;
        EXPECT_EQ(control->ImageIndex(centres[k].x(), centres[k].y()), 2 + k);
    }
    // The spacing between cells belongs to no image.
    EXPECT_EQ(control->ImageIndex(100, 50), 0);
    EXPECT_EQ(control->ImageIndex(50, 100), 0);
    EXPECT_EQ(control->ImageXPosition(100, 50), -1);

    // Past the end of the collection the cells stay empty (background, index 0).
    control->SetCurrentIndex(5);
    const QImage tail = Grab(*control);
    EXPECT_EQ(control->ImageIndex(50, 50), 5);
    EXPECT_EQ(control->ImageIndex(150, 50), 6);
    EXPECT_EQ(control->ImageIndex(50, 150), 0);
    EXPECT_EQ(control->ImageIndex(150, 150), 0);
    EXPECT_EQ(Grey(tail, 50, 150), 0);
    EXPECT_EQ(control->CurrentImage(), control->Images()->Item(5));
}

TEST(ViewerLight, PositionsInvertTheDrawingForEveryRotationFlipZoomAndScroll)
{
    // A 40 x 30 image, dark but for one bright pixel at (5, 7).
    auto image = MakeMonoImage(40, 30, [](int x, int y, int) { return x == 5 && y == 7 ? 1000 : 0; }, 1,
                               500, 1000);
    auto control = MakeControl(160, 120);
    ASSERT_TRUE(control);
    control->Images()->Add(image);
    PlainDisplay(*image);
    image->SetWidth(1000);
    image->SetLevel(500);

    struct Framing { double zoom; bool stretch; int scrollX, scrollY; };
    const Framing framings[] = {{1.0, false, 0, 0}, {2.0, false, -10, 7}, {3.5, false, 13, -4}, {1.0, true, 0, 0}};
    for (int rotate = 0; rotate < 4; ++rotate)
        for (int flip = 0; flip < 4; ++flip)
            for (const Framing &f : framings) {
                image->SetRotateState(rotate);
                image->SetFlipState(flip);
                image->SetZoom(f.zoom);
                image->SetStretchToFit(f.stretch);
                image->SetScrollX(f.scrollX);
                image->SetScrollY(f.scrollY);
                const QImage shot = Grab(*control);
                const DisplayGeometry g = image->Geometry();
                SCOPED_TRACE(testing::Message() << "rotate " << rotate << " flip " << flip << " zoom "
                                                << f.zoom << " stretch " << f.stretch);
                // Every drawn bright pixel is reported as image pixel (5, 7) ...
                int bright = 0;
                for (int y = 0; y < shot.height(); ++y)
                    for (int x = 0; x < shot.width(); ++x)
                        if (Grey(shot, x, y) > 128) {
                            ++bright;
                            ASSERT_EQ(control->ImageXPosition(x, y), 5) << x << "," << y;
                            ASSERT_EQ(control->ImageYPosition(x, y), 7) << x << "," << y;
                        }
                const double z = ActualZoom(g);
                const QPointF spot = ImageToClient(g, QPointF(5.5, 7.5));
                if (QRectF(0, 0, 160, 120).adjusted(z, z, -z, -z).contains(spot)) {
                    EXPECT_NEAR(bright, z * z, 2 * z + 2);
                } else if (!QRectF(0, 0, 160, 120).adjusted(-z, -z, z, z).contains(spot)) {
                    EXPECT_EQ(bright, 0);
                }
                // ... and every image pixel's centre comes back to that pixel.
                for (int py = 0; py < 30; py += 3)
                    for (int px = 0; px < 40; px += 3) {
                        const QPointF c = ImageToClient(g, QPointF(px + 0.5, py + 0.5));
                        const int cx = int(std::floor(c.x())), cy = int(std::floor(c.y()));
                        if (cx < 0 || cy < 0 || cx >= 160 || cy >= 120)
                            continue;
                        ASSERT_EQ(control->ImageXPosition(cx, cy), px) << px << "," << py;
                        ASSERT_EQ(control->ImageYPosition(cx, cy), py) << px << "," << py;
                        ASSERT_EQ(control->ImageIndex(cx, cy), 1);
                    }
            }
    // Outside the image but inside the cell: negative positions, same image index.
    image->SetRotateState(0);
    image->SetFlipState(0);
    image->SetZoom(1);
    image->SetStretchToFit(false);
    image->SetScrollX(0);
    image->SetScrollY(0);
    control->Refresh();
    EXPECT_EQ(control->ImageIndex(100, 100), 1);
    EXPECT_LT(control->ImageXPosition(100, 100), 0);
    EXPECT_LT(control->ImageYPosition(100, 100), 0);
    EXPECT_EQ(control->ImageIndex(-1, 5), 0);
}

TEST(ViewerLight, OrientationLettersFollowDirectionStringsRotationAndFlip)
{
    auto image = MakeMonoImage(64, 64, [](int, int, int) { return 0; }, 1, 0, 0, AxialGeometry());
    DicomGlobalPtr global = CreateGlobal();
    const QString saved = global->DirectionStrings();
    global->SetDirectionStrings(QStringLiteral("D\\G\\A\\P\\I\\S"));
    // The four orientation labels as every image gets them.
    struct Marker { const char *edge; int top; int alignment; };
    const Marker markers[] = {{"Top", 5, 1}, {"Left", 5, 8}, {"Right", 5, 10}, {"Bottom", 500, 9}};
    std::vector<DicomLabelPtr> labels;
    for (const Marker &m : markers) {
        DicomLabelPtr l = image->Labels()->AddNew();
        l->SetLabelType(DicomLabel::TypeOrientation);
        l->SetText(QString::fromLatin1(m.edge));
        l->SetLeft(10);
        l->SetTop(m.top);
        l->SetWidth(980);
        l->SetHeight(495);
        l->SetAlignment(m.alignment);
        l->SetScaleWithCell(true);
        l->SetImageTied(false);
        l->SetScaleFontSize(true);
        l->SetFontSize(20);
        labels.push_back(l);
    }
    const QRectF cell(0, 0, 512, 512);
    image->SetDisplayCell(cell);
    struct Case { int rotate, flip; const char *top, *left, *right, *bottom; };
    const Case cases[] = {
        {0, 0, "A", "D", "G", "P"}, {0, 1, "A", "G", "D", "P"}, {0, 2, "P", "D", "G", "A"},
        {1, 0, "G", "A", "P", "D"}, {2, 0, "P", "G", "D", "A"}, {3, 0, "D", "P", "A", "G"},
        // Mirrors act on the screen after the turn: left and right swap, or top and bottom.
        {1, 1, "G", "P", "A", "D"}, {1, 2, "D", "A", "P", "G"}, {3, 1, "D", "A", "P", "G"},
    };
    for (const Case &c : cases) {
        image->SetRotateState(c.rotate);
        image->SetFlipState(c.flip);
        detail::LabelSpace space{cell, image.get(), ImageToClientTransform(image->Geometry()), {}};
        const char *expected[4] = {c.top, c.left, c.right, c.bottom};
        for (int i = 0; i < 4; ++i) {
            const detail::TextLayout layout = detail::LayOutText(*labels[size_t(i)], space);
            ASSERT_EQ(layout.lines.size(), 1);
            EXPECT_EQ(layout.lines[0], QString::fromLatin1(expected[i]))
                << "rotate " << c.rotate << " flip " << c.flip << " edge " << markers[i].edge;
            // Placed at its edge of the cell.
            const QPointF centre = layout.bounds.center();
            switch (i) {
            case 0: EXPECT_LT(centre.y(), 60); EXPECT_NEAR(centre.x(), 256, 20); break;
            case 1: EXPECT_LT(centre.x(), 60); EXPECT_NEAR(centre.y(), 245, 25); break;
            case 2: EXPECT_GT(centre.x(), 452); EXPECT_NEAR(centre.y(), 245, 25); break;
            case 3: EXPECT_GT(centre.y(), 452); EXPECT_NEAR(centre.x(), 256, 20); break;
            }
        }
    }
    global->SetDirectionStrings(saved);
}

TEST(ViewerLight, LabelHitsListTheLabelsUnderThePointTopOneLast)
{
    auto image = MakeMonoImage(100, 100, [](int, int, int) { return 0; });
    auto control = MakeControl(100, 100);
    ASSERT_TRUE(control);
    control->Images()->Add(image);
    PlainDisplay(*image);
    auto tied = [&](int type, int l, int t, int w, int h) {
        DicomLabelPtr label = image->Labels()->AddNew();
        label->SetLabelType(type);
        label->SetImageTied(true);
        label->SetLeft(l);
        label->SetTop(t);
        label->SetWidth(w);
        label->SetHeight(h);
        return label;
    };
    DicomLabelPtr rectangle = tied(DicomLabel::TypeRectangle, 10, 10, 40, 40);
    DicomLabelPtr ellipse = tied(DicomLabel::TypeEllipse, 20, 20, 40, 40);
    DicomLabelPtr line = tied(DicomLabel::TypeLine, 60, 80, 30, 0);
    DicomLabelPtr hidden = tied(DicomLabel::TypeRectangle, 0, 0, 100, 100);
    hidden->SetVisible(false);
    DicomLabelPtr cross = control->Labels()->AddNew();
    cross->SetLabelType(DicomLabel::TypeLine);
    cross->SetScaleWithCell(false);
    cross->SetLeft(30);
    cross->SetTop(35);
    cross->SetWidth(20);
    cross->SetHeight(0);
    control->Refresh();

    DicomLabelsPtr hits = control->LabelHits(35, 35, true, true, true);
    ASSERT_EQ(hits->Count(), 3);
    EXPECT_EQ(hits->Item(1), rectangle);
    EXPECT_EQ(hits->Item(2), ellipse);
    EXPECT_EQ(hits->Item(3), cross); // the control's labels are drawn over the image's

    hits = control->LabelHits(75, 81, true, true, true);
    ASSERT_EQ(hits->Count(), 1);
    EXPECT_EQ(hits->Item(1), line);
    EXPECT_EQ(control->LabelHits(75, 90, true, true, true)->Count(), 0);

    // Invisible labels count only when asked; the switches pick the sources.
    EXPECT_EQ(control->LabelHits(95, 5, true, true, false)->Item(1), hidden);
    EXPECT_EQ(control->LabelHits(35, 35, false, true, true)->Count(), 1);
    EXPECT_EQ(control->LabelHits(35, 35, true, false, true)->Count(), 2);
    // Hidden image labels cannot be hit.
    image->SetShowLabels(false);
    EXPECT_EQ(control->LabelHits(35, 35, true, true, true)->Count(), 1);
    image->SetShowLabels(true);

    // A corner text is hit on its text, not on the empty rest of its box.
    DicomLabelPtr text = image->Labels()->AddNew();
    text->SetLabelType(DicomLabel::TypeText);
    text->SetImageTied(false);
    text->SetScaleWithCell(true);
    text->SetLeft(10);
    text->SetTop(500);
    text->SetWidth(980);
    text->SetHeight(495);
    text->SetAlignment(8);
    text->SetFontSize(12);
    text->SetText(QStringLiteral("W: 400 L: 40"));
    control->Refresh();
    DicomLabelsPtr onText = control->LabelHits(4, 95, true, true, true);
    ASSERT_GE(onText->Count(), 1);
    EXPECT_EQ(onText->Item(onText->Count()), text);
    EXPECT_EQ(control->LabelHits(90, 60, true, false, true)->Count(), 0);
}

TEST(ViewerLight, XorDrawingTwiceRestoresThePixels)
{
    auto image = MakeMonoImage(80, 80, [](int x, int y, int) { return (x * 7 + y * 3) % 1000; }, 1, 500, 1000);
    auto control = MakeControl(80, 80);
    ASSERT_TRUE(control);
    control->Images()->Add(image);
    PlainDisplay(*image);
    const QImage before = Grab(*control);

    DicomLabelPtr band = CreateLabel();
    band->SetLabelType(DicomLabel::TypeText); // drawn as its rectangle
    band->SetScaleWithCell(false);
    band->SetLeft(10);
    band->SetTop(10);
    band->SetWidth(30);
    band->SetHeight(20);
    band->SetText(QStringLiteral("not drawn as text"));
    control->XorDrawLabel(*band, 0);
    const QImage drawn = control->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_NE(drawn, before);
    // The rectangle's outline is inverted (XOR with white), its inside untouched.
    EXPECT_EQ(drawn.pixel(10, 20) & 0xFFFFFF, ~before.pixel(10, 20) & 0xFFFFFF);
    EXPECT_EQ(drawn.pixel(25, 20), before.pixel(25, 20));
    EXPECT_EQ(band->LabelType(), DicomLabel::TypeText);

    control->XorDrawLabel(*band, 0);
    EXPECT_EQ(control->grab().toImage().convertToFormat(QImage::Format_RGB32), before);

    // A moved band: erase the old one, draw the new one; Refresh wipes what is left.
    control->XorDrawLabel(*band, 0);
    control->XorDrawLabel(*band, 0);
    band->SetWidth(40);
    control->XorDrawLabel(*band, 0);
    EXPECT_NE(control->grab().toImage().convertToFormat(QImage::Format_RGB32), before);
    EXPECT_EQ(Grab(*control), before);
}

TEST(ViewerLight, CineSequencesForEveryMode)
{
    auto run = [](int mode, int start, int count, int steps) {
        QList<int> frames;
        int direction = mode == 2 ? -1 : 1;
        int frame = start;
        for (int i = 0; i < steps; ++i) {
            frame = detail::NextCineFrame(mode, frame, count, direction);
            frames << frame;
        }
        return frames;
    };
    EXPECT_EQ(run(1, 2, 4, 4), (QList<int>{3, 4, 4, 4}));
    EXPECT_EQ(run(2, 3, 4, 4), (QList<int>{2, 1, 1, 1}));
    EXPECT_EQ(run(3, 3, 4, 4), (QList<int>{4, 1, 2, 3}));
    EXPECT_EQ(run(4, 3, 4, 6), (QList<int>{4, 3, 2, 1, 2, 3}));
    EXPECT_EQ(run(0, 2, 4, 2), (QList<int>{2, 2}));
    EXPECT_EQ(run(3, 1, 1, 2), (QList<int>{1, 1}));
}

TEST(ViewerLight, CineFrameRateComesFromTheImage)
{
    auto control = MakeControl(64, 64);
    ASSERT_TRUE(control);
    auto byFrameTime = MakeMonoImage(8, 8, [](int, int, int) { return 0; }, 2, 0, 0,
                                     {{0x0018, 0x1063, 40.0, QStringLiteral("DS")}});
    auto byCineRate = MakeMonoImage(8, 8, [](int, int, int) { return 0; }, 2, 0, 0,
                                    {{0x0018, 0x0040, 15, QStringLiteral("IS")}});
    auto plain = MakeMonoImage(8, 8, [](int, int, int) { return 0; }, 2);
    for (auto &image : {byFrameTime, byCineRate, plain})
        image->SetCineRate(1.0);
    EXPECT_DOUBLE_EQ(control->CineFramesPerSecond(*byFrameTime), 25.0);
    EXPECT_DOUBLE_EQ(control->CineFramesPerSecond(*byCineRate), 15.0);
    EXPECT_DOUBLE_EQ(control->CineFramesPerSecond(*plain), detail::kDefaultCineFramesPerSecond);
    plain->SetCineRate(1.75);
    EXPECT_DOUBLE_EQ(control->CineFramesPerSecond(*plain), 17.5);
}

constexpr qint64 kMs = 1000000;

TEST(CineSchedule, StepsFallDueOnAFixedGridWhateverTheTicks)
{
    detail::CineSchedule cine;
    cine.Start(1000 * kMs, 20.0, 3, 1, 20); // 50 ms a frame
    EXPECT_FALSE(cine.Advance(1000 * kMs + 50 * kMs - 1).changed);
    auto step = cine.Advance(1050 * kMs);
    EXPECT_TRUE(step.changed);
    EXPECT_EQ(step.frame, 2);
    EXPECT_EQ(step.dueNs, 1050 * kMs);
    // Every tick 10 ms late: the steps stay on the grid, one frame per tick.
    for (int k = 2; k <= 25; ++k) {
        step = cine.Advance(1000 * kMs + k * 50 * kMs + 10 * kMs);
        ASSERT_TRUE(step.changed);
        EXPECT_EQ(step.number, k);
        EXPECT_EQ(step.frame, 1 + k % 20);
        EXPECT_EQ(step.dueNs, 1000 * kMs + k * 50 * kMs);
    }
    // A paint that held the control 180 ms: the frame due now, the ones between skipped,
    // and the next step keeps its place.
    step = cine.Advance(1000 * kMs + 25 * 50 * kMs + 190 * kMs);
    EXPECT_EQ(step.number, 28);
    EXPECT_EQ(step.frame, 9);
    EXPECT_EQ(cine.NextDueNs(), 1000 * kMs + 29 * 50 * kMs);
    // An hour's stall lands on the right frame without walking every step.
    step = cine.Advance(1000 * kMs + 3600000 * kMs + 20 * kMs);
    EXPECT_EQ(step.number, 72000);
    EXPECT_EQ(step.frame, 1);
}

TEST(CineSchedule, ModesEndReverseAndRetime)
{
    auto frames = [](int mode, int start, int count, int steps, double fps = 10.0) {
        detail::CineSchedule cine;
        cine.Start(0, fps, mode, start, count);
        QList<int> shown;
        for (int k = 1; k <= steps; ++k) {
            const auto step = cine.Advance(cine.DueNs(k));
            if (step.changed)
                shown << step.frame;
        }
        return std::make_pair(shown, cine.Finished());
    };
    EXPECT_EQ(frames(1, 2, 5, 6), std::make_pair(QList<int>{3, 4, 5}, true));
    EXPECT_EQ(frames(2, 4, 5, 6), std::make_pair(QList<int>{3, 2, 1}, true));
    EXPECT_EQ(frames(4, 3, 4, 7), std::make_pair(QList<int>{4, 3, 2, 1, 2, 3, 4}, false));
    EXPECT_EQ(frames(3, 4, 4, 3), std::make_pair(QList<int>{1, 2, 3}, false));
    // An oscillation long stalled keeps its way: 2 * (4 - 1) = 6 steps a cycle.
    detail::CineSchedule cine;
    cine.Start(0, 10.0, 4, 1, 4);
    auto step = cine.Advance(100 * 6 * 1000 * kMs + 200 * kMs); // 1000 cycles + 2 steps
    EXPECT_EQ(step.frame, 3);
    EXPECT_EQ(cine.Advance(cine.NextDueNs()).frame, 4);
    EXPECT_EQ(cine.Advance(cine.NextDueNs()).frame, 3);
    // A new rate: the frame and the way down are kept; the next step one new period on.
    cine.Retime(7000 * kMs, 40.0);
    EXPECT_FALSE(cine.Advance(7000 * kMs + 25 * kMs - 1).changed);
    step = cine.Advance(7000 * kMs + 25 * kMs);
    EXPECT_EQ(step.frame, 2);
    EXPECT_EQ(step.number, 1);
    EXPECT_EQ(step.dueNs, 7025 * kMs);
}

// What a control's cine reported: the frame, the step and when the step fell due.
struct CineReport
{
    int frame = 0;
    qint64 step = 0, dueNs = 0;
};

TEST(ViewerLight, CineStartsAndRetimesAtOnceAndKeepsItsPace)
{
    auto image = MakeMonoImage(32, 32, [](int x, int, int f) { return x * 10 + f; }, 20, 200, 400,
                               {{0x0018, 0x1063, 50.0, QStringLiteral("DS")}});
    auto control = MakeControl(64, 64);
    ASSERT_TRUE(control);
    control->Images()->Add(image);
    control->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(control.get()));
    QList<CineReport> reports;
    bool notifiedBeforeChange = true;
    bool slowPaint = false;
    control->OnFrameChanging = [&](int index, int frame) {
        EXPECT_EQ(index, 1);
        notifiedBeforeChange = notifiedBeforeChange && image->Frame() != frame;
        image->Refresh(false); // what the image frame does after rewriting its "Fr:" line
        if (slowPaint) {
            slowPaint = false;
            std::this_thread::sleep_for(std::chrono::milliseconds(130)); // a slow paint
        }
    };
    control->OnCineFrame = [&](int index, int frame, qint64 step, qint64 dueNs) {
        EXPECT_EQ(index, 1);
        EXPECT_EQ(image->Frame(), frame);
        reports.append({frame, step, dueNs});
    };
    EXPECT_DOUBLE_EQ(image->CineRate(), 1.0); // the image's own rate
    image->SetFrame(1);
    const qint64 before = DicomViewerLight::CineClockNs();
    image->SetCineMode(3); // no refresh: the control hears of it at once
    const qint64 after = DicomViewerLight::CineClockNs();
    QTRY_VERIFY_WITH_TIMEOUT(!reports.isEmpty() && reports.last().step >= 21, 60000);
    // Frame Time 50 ms: step k falls due k * 50 ms after the mode was set, on frame
    // 1 + k mod 20; the twentieth step (back on frame 1) one second after the start.
    const qint64 start = reports.first().dueNs - reports.first().step * 50 * kMs;
    EXPECT_GE(start, before);
    EXPECT_LE(start, after);
    for (const CineReport &r : reports) {
        EXPECT_EQ(r.frame, 1 + r.step % 20) << r.step;
        EXPECT_NEAR(double(r.dueNs - start), double(r.step * 50 * kMs), 1.0) << r.step;
    }
    for (int i = 1; i < reports.size(); ++i)
        EXPECT_GT(reports[i].step, reports[i - 1].step);
    EXPECT_TRUE(notifiedBeforeChange);

    // 1.75 while it runs: re-timed from the change on, from the frame it was on.
    const int onFrame = image->Frame();
    reports.clear();
    const qint64 before2 = DicomViewerLight::CineClockNs();
    image->SetCineRate(1.75);
    const qint64 after2 = DicomViewerLight::CineClockNs();
    slowPaint = true;
    QTRY_VERIFY_WITH_TIMEOUT(!reports.isEmpty() && reports.last().step >= 12, 60000);
    const double period = 1e9 / (20.0 * 1.75);
    const qint64 start2 = reports.first().dueNs - qint64(std::llround(reports.first().step * period));
    EXPECT_GE(start2, before2 - 1);
    EXPECT_LE(start2, after2 + 1);
    for (const CineReport &r : reports) {
        EXPECT_EQ(r.frame, 1 + (onFrame - 1 + r.step) % 20) << r.step;
        EXPECT_NEAR(double(r.dueNs - start2), r.step * period, 1.0) << r.step;
    }
    // The slow paint of the first step cost about three steps, skipped, not replayed.
    ASSERT_GE(reports.size(), 2);
    EXPECT_GE(reports[1].step - reports[0].step, 2);

    // Stopped at once: no frame changes after the mode is 0.
    image->SetCineMode(0);
    const int stoppedAt = image->Frame();
    const int count = reports.size();
    QTest::qWait(150);
    EXPECT_EQ(image->Frame(), stoppedAt);
    EXPECT_EQ(reports.size(), count);
}

TEST(ViewerLight, ForwardCineStopsAtTheLastFrameAndRestartsFromTheFirst)
{
    auto image = MakeMonoImage(16, 16, [](int x, int, int f) { return x + f; }, 6, 100, 200,
                               {{0x0018, 0x1063, 10.0, QStringLiteral("DS")}});
    auto control = MakeControl(64, 64);
    ASSERT_TRUE(control);
    control->Images()->Add(image);
    control->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(control.get()));
    QList<int> frames;
    control->OnCineFrame = [&](int, int frame, qint64, qint64) { frames << frame; };
    image->SetFrame(6); // at the end it runs towards: starts over from frame 1
    image->SetCineMode(1);
    EXPECT_EQ(image->Frame(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(image->Frame(), 6, 60000);
    QTest::qWait(100);
    EXPECT_EQ(image->Frame(), 6);
    ASSERT_FALSE(frames.isEmpty());
    EXPECT_EQ(frames.last(), 6);
    for (int i = 1; i < frames.size(); ++i)
        EXPECT_GT(frames[i], frames[i - 1]);
}

TEST(ViewerLight, MouseWheelAndFocusReachTheOwner)
{
    auto control = MakeControl(100, 80);
    ASSERT_TRUE(control);
    control->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(control.get()));
    QStringList events;
    control->OnMouseDown = [&](Qt::MouseButton b, Qt::KeyboardModifiers m, int x, int y) {
        events << QStringLiteral("down %1 %2 %3 %4").arg(int(b)).arg(int(m)).arg(x).arg(y);
    };
    control->OnMouseMove = [&](Qt::MouseButtons b, Qt::KeyboardModifiers, int x, int y) {
        events << QStringLiteral("move %1 %2 %3").arg(int(b)).arg(x).arg(y);
    };
    control->OnMouseUp = [&](Qt::MouseButton b, Qt::KeyboardModifiers, int x, int y) {
        events << QStringLiteral("up %1 %2 %3").arg(int(b)).arg(x).arg(y);
    };
    control->OnMouseWheel = [&](int delta, Qt::KeyboardModifiers, int x, int y) {
        events << QStringLiteral("wheel %1 %2 %3").arg(delta).arg(x).arg(y);
    };
    control->OnFocusOut = [&] { events << QStringLiteral("focus out"); };
    QTest::mousePress(control.get(), Qt::RightButton, Qt::ShiftModifier, QPoint(10, 20));
    QTest::mouseMove(control.get(), QPoint(30, 40));
    QTest::mouseRelease(control.get(), Qt::RightButton, Qt::NoModifier, QPoint(30, 40));
    QWheelEvent wheel(QPointF(5, 6), control->mapToGlobal(QPointF(5, 6)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(control.get(), &wheel);
    ASSERT_GE(events.size(), 4);
    EXPECT_EQ(events.first(), QStringLiteral("down %1 %2 10 20").arg(int(Qt::RightButton)).arg(int(Qt::ShiftModifier)));
    EXPECT_TRUE(events.contains(QStringLiteral("up %1 30 40").arg(int(Qt::RightButton))));
    EXPECT_TRUE(events.contains(QStringLiteral("wheel -120 5 6")));
    EXPECT_TRUE(std::any_of(events.begin(), events.end(),
                            [](const QString &e) { return e.startsWith(QStringLiteral("move")) && e.endsWith(QStringLiteral("30 40")); }));

    // A double click: press, release, press, double click, release.
    events.clear();
    control->OnDoubleClick = [&](Qt::MouseButton, Qt::KeyboardModifiers, int x, int y) {
        events << QStringLiteral("double %1 %2").arg(x).arg(y);
    };
    control->OnMouseMove = nullptr;
    auto send = [&](QEvent::Type type, Qt::MouseButtons held) {
        QMouseEvent e(type, QPointF(7, 8), control->mapToGlobal(QPointF(7, 8)), Qt::LeftButton, held,
                      Qt::NoModifier);
        QApplication::sendEvent(control.get(), &e);
    };
    // What a window system delivers for a double click.
    send(QEvent::MouseButtonPress, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, Qt::NoButton);
    send(QEvent::MouseButtonDblClick, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, Qt::NoButton);
    const QString down = QStringLiteral("down %1 0 7 8").arg(int(Qt::LeftButton));
    const QString up = QStringLiteral("up %1 7 8").arg(int(Qt::LeftButton));
    EXPECT_EQ(events, (QStringList{down, up, down, QStringLiteral("double 7 8"), up}));

    bool focused = false;
    control->OnFocusIn = [&] { focused = true; };
    QWidget other;
    other.show();
    control->activateWindow();
    control->setFocus(Qt::OtherFocusReason);
    QTRY_VERIFY(focused);
}

TEST(ViewerLight, PictureDrawsTheCellWithItsLabelsAtAnySize)
{
    auto image = MakeMonoImage(50, 50, [](int, int, int) { return 100; }, 1, 500, 1000);
    auto control = MakeControl(100, 100);
    ASSERT_TRUE(control);
    control->Images()->Add(image);
    image->SetStretchToFit(true);
    DicomLabelPtr box = image->Labels()->AddNew();
    box->SetLabelType(DicomLabel::TypeRectangle);
    box->SetImageTied(true);
    box->SetLeft(10);
    box->SetTop(10);
    box->SetWidth(30);
    box->SetHeight(30);
    box->SetForeColour(0x0000FF); // red
    control->Refresh();
    ASSERT_EQ(image->DisplayCell(), QRectF(0, 0, 100, 100));

    const QImage onScreen = control->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage same = control->Picture(image, QSize());
    ASSERT_EQ(same.size(), QSize(100, 100));
    EXPECT_EQ(same, onScreen);

    // Twice as large: the red outline (image x 10, zoom 2 in the cell) sits at x 40.
    const QImage large = control->Picture(image, QSize(200, 200));
    ASSERT_EQ(large.size(), QSize(200, 200));
    EXPECT_EQ(QColor(large.pixel(40, 100)).red(), 255);
    EXPECT_LT(QColor(large.pixel(100, 100)).red(), 60);
    // A wider target keeps the proportions and centres the cell.
    const QImage wide = control->Picture(image, QSize(300, 200));
    EXPECT_EQ(QColor(wide.pixel(90, 100)).red(), 255);
    EXPECT_EQ(QColor(wide.pixel(20, 100)), QColor(0, 0, 0));
    // Without labels no red at all.
    image->SetShowLabels(false);
    const QImage bare = control->Picture(image, QSize(200, 200));
    EXPECT_LT(QColor(bare.pixel(40, 100)).red(), 60);
    EXPECT_TRUE(control->Picture(nullptr, QSize(10, 10)).isNull());
}

TEST(ViewerLight, SubImageCopiesARegionOfAFrameAsANewImage)
{
    // Frame f has value 100 * f; pixel (20, 10) of every frame is 1000.
    auto image = MakeMonoImage(40, 30, [](int x, int y, int f) { return x == 20 && y == 10 ? 1000 : 100 * f; },
                               4, 500, 1000);
    auto control = MakeControl(60, 60);
    ASSERT_TRUE(control);
    image->SetWidth(1000);
    image->SetLevel(500);
    image->SetMagnificationMode(0);
    image->SetRotateState(1);
    const int frameBefore = image->Frame();

    DicomImagePtr sub = control->SubImage(image, 11, 6, 20, 10, 2.0, 3);
    ASSERT_TRUE(sub);
    EXPECT_EQ(sub->SizeX(), 40);
    EXPECT_EQ(sub->SizeY(), 20);
    EXPECT_TRUE(sub->StretchToFit());
    EXPECT_EQ(sub->SOPClass(), QStringLiteral("1.2.840.10008.5.1.4.1.1.7"));
    EXPECT_EQ(sub->StudyUID(), image->StudyUID());
    EXPECT_EQ(sub->PatientID(), image->PatientID());
    EXPECT_TRUE(sub->InstanceUID().startsWith(QStringLiteral("2.25.")));
    EXPECT_LE(sub->InstanceUID().size(), 64);
    EXPECT_NE(control->SubImage(image, 1, 1, 4, 4, 1.0, 1)->InstanceUID(), sub->InstanceUID());
    const QImage frame = sub->DisplayFrame();
    // Frame 3 (value 300) windowed 0..1000: about 77; the bright pixel (20, 10) lands at
    // ((20 - 10) * 2, (10 - 5) * 2) = (20, 10) in the sub-image, 2 x 2 pixels.
    EXPECT_NEAR(qGray(frame.pixel(2, 2)), 77, 3);
    EXPECT_GE(qGray(frame.pixel(20, 10)), 250);
    EXPECT_GE(qGray(frame.pixel(21, 11)), 250);
    EXPECT_LT(qGray(frame.pixel(22, 10)), 100);
    // The source keeps its frame and rotation.
    EXPECT_EQ(image->Frame(), frameBefore);
    EXPECT_EQ(image->RotateState(), 1);

    EXPECT_THROW(control->SubImage(image, 0, 1, 10, 10, 1.0, 1), DicomError);
    EXPECT_THROW(control->SubImage(image, 35, 1, 10, 10, 1.0, 1), DicomError);
    EXPECT_THROW(control->SubImage(image, 1, 1, 10, 10, 0.0, 1), DicomError);
}

TEST(ViewerLight, ImageBordersAndShowLabels)
{
    auto image = MakeMonoImage(20, 20, [](int, int, int) { return 0; }, 1, 500, 1000);
    auto control = MakeControl(60, 60);
    ASSERT_TRUE(control);
    control->Images()->Add(image);
    control->SetCellSpacing(4);
    image->SetStretchToFit(true);
    image->SetBorderWidth(1);
    image->SetBorderStyle(0);
    image->SetBorderColour(0x80FF); // orange
    QImage shot = Grab(*control);
    // The cell is (2, 2) .. (57, 57); the border runs just outside it.
    EXPECT_EQ(QColor(shot.pixel(1, 30)), QColor(255, 128, 0));
    EXPECT_EQ(QColor(shot.pixel(30, 58)), QColor(255, 128, 0));
    EXPECT_EQ(QColor(shot.pixel(30, 30)), QColor(0, 0, 0));

    DicomLabelPtr line = image->Labels()->AddNew();
    line->SetLabelType(DicomLabel::TypeLine);
    line->SetImageTied(false);
    line->SetScaleWithCell(true);
    line->SetLeft(0);
    line->SetTop(500);
    line->SetWidth(1000);
    line->SetHeight(0);
    line->SetShadow(0);
    line->SetForeColour(0xFFFFFF);
    shot = Grab(*control);
    EXPECT_EQ(Grey(shot, 30, 29) + Grey(shot, 30, 30), 255); // one white row across the middle
    image->SetShowLabels(false);
    shot = Grab(*control);
    EXPECT_EQ(Grey(shot, 30, 29) + Grey(shot, 30, 30), 0);

    // A selected label shows handles at its ends.
    image->SetShowLabels(true);
    line->SetLeft(200);
    line->SetWidth(600);
    const QImage unselected = Grab(*control);
    line->SetSelectMode(2);
    const QImage selected = Grab(*control);
    const QPointF end = CellUnitsToClient(QRectF(2, 2, 56, 56), QPointF(800, 500));
    EXPECT_EQ(Grey(unselected, int(end.x()), int(end.y()) + 1), 0);
    EXPECT_EQ(Grey(selected, int(end.x()), int(end.y()) + 1), 255);
}

namespace {
// Counts the paint events of a widget.
class PaintCounter : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// Lets the paints already asked for (exposure, updates) happen, however slow the
// machine: the event loop runs until two rounds in a row paint nothing (bounded, so a
// control that repaints itself forever is left to the check that follows).
void SettlePaints(const std::function<int()> &paints)
{
    int quiet = 0;
    for (int round = 0; round < 250 && quiet < 2; ++round) {
        const int before = paints();
        QTest::qWait(20);
        quiet = paints() == before ? quiet + 1 : 0;
    }
}
} // namespace

TEST(ViewerLight, SharedImageSettlesAndChangesFromAnotherThreadRepaint)
{
    // One image object in two controls of different sizes (a frame and its magnifier):
    // each writes its own DisplayCell, which must not make them repaint each other forever.
    auto image = MakeMonoImage(32, 32, [](int x, int, int) { return x * 30; }, 1, 500, 1000);
    auto frame = MakeControl(200, 150);
    auto magnifier = MakeControl(90, 70);
    ASSERT_TRUE(frame && magnifier);
    frame->Images()->Add(image);
    magnifier->Images()->Add(image);
    image->SetStretchToFit(true);
    PaintCounter frameCounter, magnifierCounter;
    frame->installEventFilter(&frameCounter);
    magnifier->installEventFilter(&magnifierCounter);
    frame->show();
    magnifier->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(magnifier.get()));
    SettlePaints([&] { return frameCounter.paints + magnifierCounter.paints; });
    const int settled = frameCounter.paints + magnifierCounter.paints;
    QTest::qWait(200);
    EXPECT_EQ(frameCounter.paints + magnifierCounter.paints, settled);
    EXPECT_TRUE(image->OnScreen());

    // A display change made by another thread reaches both controls through the event loop.
    std::thread worker([&] { image->SetWidth(400); });
    worker.join();
    QTRY_VERIFY(frameCounter.paints + magnifierCounter.paints >= settled + 2);
    // Both pictures fit the image into their own cell.
    EXPECT_EQ(frame->ImageXPosition(174, 75), 31);
    EXPECT_EQ(frame->ImageXPosition(176, 75), -1);
    EXPECT_EQ(magnifier->ImageXPosition(79, 35), 31);

    // Leaving the cells releases the image.
    frame->Images()->Clear();
    magnifier->Images()->Clear();
    frame->Refresh();
    magnifier->Refresh();
    EXPECT_FALSE(image->OnScreen());
}

TEST(ViewerLight, ChangesMadeWithShowUpdatesOffAreDrawnOnceItIsBackOn)
{
    auto image = MakeMonoImage(40, 40, [](int, int, int) { return 250; }, 1, 500, 1000);
    auto control = MakeControl(40, 40);
    ASSERT_TRUE(control);
    control->Images()->Add(image);
    PlainDisplay(*image);
    PaintCounter counter;
    control->installEventFilter(&counter);
    control->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(control.get()));
    SettlePaints([&] { return counter.paints; });
    EXPECT_NEAR(Grey(control->grab().toImage(), 20, 20), 64, 2);
    const int before = counter.paints;
    // A drag step: updates off, change, updates on again (which announces nothing).
    image->SetShowUpdates(false);
    image->SetWidth(200);
    QTest::qWait(250);
    EXPECT_EQ(counter.paints, before); // deferred
    image->SetShowUpdates(true);
    QTRY_VERIFY_WITH_TIMEOUT(counter.paints > before, 1000);
    // Stored 250 was grey in the 0..1000 window; in 400..600 it is black.
    EXPECT_LE(Grey(control->grab().toImage(), 20, 20), 2);
}

TEST(ViewerLight, NewImagesAreFittedAndTheOwnerHearsOfEveryZoomChange)
{
    auto control = MakeControl(300, 200);
    ASSERT_TRUE(control);
    std::vector<std::pair<int, double>> heard;
    control->OnZoomChanged = [&](int index) {
        heard.emplace_back(index, control->Images()->Item(index)->ActualZoom());
    };
    for (int i = 0; i < 6; ++i)
        control->Images()->Add(MakeMonoImage(64, 64, [](int, int, int) { return 1000; }, 1, 500, 1000));
    const DicomImagePtr first = control->Images()->Item(1);
    EXPECT_TRUE(first->StretchToFit());
    // Whole and centred: the bright square is 200 x 200 in the middle of the 300 x 200 cell.
    QImage shot = Grab(*control);
    EXPECT_DOUBLE_EQ(first->ActualZoom(), 200.0 / 64);
    EXPECT_EQ(Grey(shot, 49, 100), 0);
    EXPECT_GE(Grey(shot, 50, 100), 250);
    EXPECT_GE(Grey(shot, 249, 100), 250);
    EXPECT_EQ(Grey(shot, 250, 100), 0);
    EXPECT_GE(Grey(shot, 150, 0), 250);
    EXPECT_GE(Grey(shot, 150, 199), 250);
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0], std::make_pair(1, 200.0 / 64));

    // Nothing changed: nothing heard. A wider control: the image grows, heard once.
    heard.clear();
    Grab(*control);
    EXPECT_TRUE(heard.empty());
    control->resize(600, 400);
    Grab(*control);
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0], std::make_pair(1, 400.0 / 64));

    // A 2 x 2 grid from image 2: each image entering a cell is heard with its cell's zoom.
    heard.clear();
    control->SetMultiRows(2);
    control->SetMultiColumns(2);
    control->SetCellSpacing(4);
    control->SetCurrentIndex(2);
    Grab(*control);
    ASSERT_EQ(heard.size(), 4u);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(heard[size_t(k)].first, 2 + k);
        EXPECT_DOUBLE_EQ(heard[size_t(k)].second, 196.0 / 64); // 200 less the spacing
    }
    // A zoom change of an image in a cell is heard too.
    heard.clear();
    control->Images()->Item(3)->SetStretchToFit(false);
    control->Images()->Item(3)->SetZoom(1.5);
    Grab(*control);
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0], std::make_pair(3, 1.5));
    control->OnZoomChanged = nullptr;
}

TEST(ViewerLight, NonSquarePixelsAreShownWithTheirProportions)
{
    using viewerlight_test::ExtraAttribute;
    auto aspectOf = [](const std::vector<ExtraAttribute> &extra) {
        return MakeMonoImage(8, 8, [](int, int, int) { return 0; }, 1, 0, 0, extra)->Geometry().pixelAspect;
    };
    // Pixel Spacing is rows \ columns; Pixel Aspect Ratio vertical \ horizontal.
    EXPECT_DOUBLE_EQ(aspectOf({{0x0028, 0x0030, QVariantList{0.6, 0.3}, "DS"}}), 2.0);
    EXPECT_DOUBLE_EQ(aspectOf({{0x0018, 0x1164, QVariantList{0.1, 0.2}, "DS"}}), 0.5);
    EXPECT_DOUBLE_EQ(aspectOf({{0x0028, 0x0034, QVariantList{4, 3}, "IS"}}), 4.0 / 3);
    EXPECT_DOUBLE_EQ(aspectOf({{0x0028, 0x0030, QVariantList{0.5, 0.5}, "DS"},
                               {0x0028, 0x0034, QVariantList{4, 3}, "IS"}}),
                     1.0);
    // Values that cannot be a pixel's shape count as absent.
    EXPECT_DOUBLE_EQ(aspectOf({{0x0028, 0x0030, QVariantList{-0.6, 0.3}, "DS"}}), 1.0);
    EXPECT_DOUBLE_EQ(aspectOf({{0x0028, 0x0034, QVariantList{0, 3}, "IS"}}), 1.0);
    EXPECT_DOUBLE_EQ(aspectOf({{0x0028, 0x0030, QVariantList{1000.0, 0.001}, "DS"}}), 1.0);

    // 40 x 20 pixels twice as tall as wide: a 40 x 40 picture, drawn square in the cell;
    // the bright pixel (5, 7) is a 1 x 2 rectangle at 1:1.
    const std::vector<ExtraAttribute> spacing = {{0x0028, 0x0030, QVariantList{0.8, 0.4}, "DS"}};
    auto image = MakeMonoImage(40, 20, [](int x, int y, int) { return x == 5 && y == 7 ? 1000 : 0; }, 1, 500,
                               1000, spacing);
    auto control = MakeControl(100, 100);
    ASSERT_TRUE(control);
    control->Images()->Add(image);
    image->SetMagnificationMode(0);
    image->SetMinificationMode(0);
    image->SetWidth(1000);
    image->SetLevel(500);
    Grab(*control);
    EXPECT_DOUBLE_EQ(image->ActualZoom(), 2.5); // 100 / 40 both ways
    PlainDisplay(*image);
    const QImage shot = Grab(*control);
    QRect bright;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            if (Grey(shot, x, y) > 128) {
                bright = bright.united(QRect(x, y, 1, 1));
                EXPECT_EQ(control->ImageXPosition(x, y), 5);
                EXPECT_EQ(control->ImageYPosition(x, y), 7);
            }
    EXPECT_EQ(bright, QRect(5, 14, 1, 2));
    EXPECT_EQ(control->ImageYPosition(5, 13), 6);
    EXPECT_EQ(control->ImageYPosition(5, 39), 19);
    EXPECT_EQ(control->ImageYPosition(5, 40), -1);
    // The picture of the image and a copy of a region have the same proportions.
    EXPECT_EQ(image->Picture().size(), QSize(40, 40));
    image->SetRotateState(1);
    EXPECT_EQ(image->Picture().size(), QSize(40, 40));
    const DicomImagePtr sub = control->SubImage(image, 1, 1, 20, 10, 1.0, 1);
    EXPECT_EQ(QSize(sub->SizeX(), sub->SizeY()), QSize(20, 20));
    EXPECT_GE(qGray(sub->DisplayFrame().pixel(5, 14)), 250);
    EXPECT_GE(qGray(sub->DisplayFrame().pixel(5, 15)), 250);
    EXPECT_LT(qGray(sub->DisplayFrame().pixel(5, 16)), 100);
}

TEST(ViewerLight, RulersKeepClearOfTheCornerTexts)
{
    // A uniform dark image with a pixel spacing, the vertical ruler of every loaded image
    // (green) and a top-right text of many lines (red) that reaches below the ruler's top.
    const std::vector<viewerlight_test::ExtraAttribute> spacing = {
        {0x0028, 0x0030, QVariantList{1.0, 1.0}, "DS"}};
    auto image = MakeMonoImage(256, 256, [](int, int, int) { return 0; }, 1, 500, 1000, spacing);
    auto control = MakeControl(256, 256);
    ASSERT_TRUE(control);
    control->Images()->Add(image);
    DicomLabelPtr ruler = image->Labels()->AddNew();
    ruler->SetLabelType(DicomLabel::TypeRuler);
    ruler->SetImageTied(false);
    ruler->SetScaleWithCell(true);
    ruler->SetLeft(950);
    ruler->SetTop(200);
    ruler->SetWidth(-25);
    ruler->SetHeight(600);
    ruler->SetShadow(0);
    ruler->SetForeColour(0x00FF00);
    DicomLabelPtr text = image->Labels()->AddNew();
    text->SetLabelType(DicomLabel::TypeText);
    text->SetImageTied(false);
    text->SetScaleWithCell(true);
    text->SetLeft(10);
    text->SetTop(5);
    text->SetWidth(980);
    text->SetHeight(495);
    text->SetAlignment(2);
    text->SetTransparent(true);
    text->SetFontSize(20);
    text->SetScaleFontSize(true);
    text->SetForeColour(0x0000FF);
    text->SetText("DUPONT^JEAN\rKV000123\r1950-01-01\r2024-05-02\rHOPITAL\rDFOV: 25.6 x 25.6 cm\rXXXXXXXXXXXXXXX");
    auto green = [](const QImage &shot, const QRect &area) {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                if (QColor(shot.pixel(x, y)).green() > 200)
                    ++n;
        return n;
    };
    const detail::LabelSpace space{control->CellRect(0), image.get(),
                                   ImageToClientTransform(image->Geometry()), {}};
    const QRect textBox = detail::LayOutText(*text, space).bounds.toAlignedRect();
    ASSERT_GT(textBox.bottom(), 0.2 * 256 + 5); // the text does reach the ruler's top

    QImage shot = Grab(*control);
    EXPECT_EQ(green(shot, textBox.adjusted(-2, -2, 2, 2)), 0);
    EXPECT_GT(green(shot, QRect(220, textBox.bottom() + 3, 36, 256 - textBox.bottom() - 3)), 100);
    // Without the text the ruler starts at its own top.
    text->SetVisible(false);
    shot = Grab(*control);
    EXPECT_GT(green(shot, textBox.adjusted(-2, -2, 2, 2)), 10);
}

TEST(ViewerLight, RulersAndLengthsNeedAPositivePixelSpacing)
{
    // The ruler is drawn and lengths are in millimetres exactly when the image has a
    // Pixel Spacing of two positive numbers (or, enhanced, one in its shared Pixel
    // Measures); anything else counts as no spacing at all.
    auto measures = CreateDataSets();
    measures->Add(CreateDataSet());
    measures->Item(1)->Attributes()->Add(0x0028, 0x0030, QVariantList{0.5, 0.5}, "DS");
    auto shared = CreateDataSets();
    shared->Add(CreateDataSet());
    shared->Item(1)->Attributes()->Add(0x0028, 0x9110, QVariant::fromValue(measures), "SQ");
    struct Case
    {
        const char *what;
        std::vector<viewerlight_test::ExtraAttribute> attributes;
        bool millimetres;
    };
    const Case cases[] = {
        {"positive", {{0x0028, 0x0030, QVariantList{0.5, 0.5}, "DS"}}, true},
        {"enhanced, shared pixel measures", {{0x5200, 0x9229, QVariant::fromValue(shared), "SQ"}}, true},
        {"negative", {{0x0028, 0x0030, QVariantList{-0.5, -0.5}, "DS"}}, false},
        {"zero", {{0x0028, 0x0030, QVariantList{0.0, 0.0}, "DS"}}, false},
        {"one negative value", {{0x0028, 0x0030, QVariantList{0.5, -0.5}, "DS"}}, false},
        {"one value", {{0x0028, 0x0030, QVariantList{0.5}, "DS"}}, false},
        {"not a number", {{0x0028, 0x0030, QStringLiteral("abc\\def"), "LO"}}, false},
        {"negative, with Imager Pixel Spacing",
         {{0x0028, 0x0030, QVariantList{-0.5, -0.5}, "DS"}, {0x0018, 0x1164, QVariantList{0.2, 0.2}, "DS"}},
         false},
        {"absent", {}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        auto image = MakeMonoImage(256, 256, [](int, int, int) { return 0; }, 1, 500, 1000, c.attributes);
        auto control = MakeControl(256, 256);
        ASSERT_TRUE(control);
        control->Images()->Add(image);
        DicomLabelPtr ruler = image->Labels()->AddNew();
        ruler->SetLabelType(DicomLabel::TypeRuler);
        ruler->SetImageTied(false);
        ruler->SetScaleWithCell(true);
        ruler->SetLeft(950);
        ruler->SetTop(200);
        ruler->SetWidth(-25);
        ruler->SetHeight(600);
        ruler->SetShadow(0);
        ruler->SetForeColour(0x00FF00);
        const QImage shot = Grab(*control);
        int green = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                green += QColor(shot.pixel(x, y)).green() > 200;
        EXPECT_EQ(green > 100, c.millimetres) << green << " green pixels";

        DicomLabelPtr line = image->Labels()->AddNew();
        line->SetLabelType(DicomLabel::TypeLine);
        line->SetImageTied(true);
        line->SetWidth(100);
        line->SetHeight(0);
        EXPECT_DOUBLE_EQ(line->ROILength(), c.millimetres ? 50.0 : 100.0);
        EXPECT_EQ(line->ROIDistanceUnits(), c.millimetres ? "mm" : "pixels");
    }
}

TEST(ViewerLight, GeneratedNonSquareImagesShowTheirDiscRound)
{
    // The generator's disc is round in millimetres: fitted in a square cell it is as wide
    // as it is tall on screen, where the millimetres say it is, and the pixel under each
    // of its screen edges is the disc's edge pixel in the file.
    const QString folder = QStringLiteral(KORVANE_TESTDATA_DIR "/nonsquare");
    struct Case { const char *file; double pxPerUnitX; double pxPerUnitY; };
    // US: 320 x 240 pixels of shape 2 x 3 (Pixel Aspect Ratio 3\2): 320 x 360 units,
    // fitted by its height. CR: 500 x 300 pixels of 0.1 x 0.2 mm: 50 x 60 mm.
    const Case cases[] = {{"DICOM/ST000001/SE000001/IM000001", 400.0 / 360, 400.0 / 360 * 1.5},
                          {"DICOM/ST000001/SE000002/IM000001", 400.0 / 600, 400.0 / 600 * 2}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        const DicomImagePtr image = CreateImages()->ReadFile(folder + "/" + QLatin1String(c.file));
        ASSERT_TRUE(image);
        auto control = MakeControl(400, 400);
        ASSERT_TRUE(control);
        control->Images()->Add(image);
        image->SetMagnificationMode(0);
        image->SetMinificationMode(0);
        const QImage shot = Grab(*control);
        QRect disc;
        for (int y = 0; y < 400; ++y)
            for (int x = 0; x < 400; ++x)
                if (Grey(shot, x, y) > 160)
                    disc = disc.united(QRect(x, y, 1, 1));
        const double cx = image->SizeX() / 2.0, cy = image->SizeY() / 2.0;
        // Radius: a third of the picture's smaller side, in column widths.
        const double unitsX = image->SizeX(), unitsY = image->SizeY() * (c.pxPerUnitY / c.pxPerUnitX);
        const double radiusUnits = std::min(unitsX, unitsY) / 3;
        const double radiusPx = radiusUnits * c.pxPerUnitX;
        EXPECT_NEAR(disc.width(), 2 * radiusPx, 2.0);
        EXPECT_NEAR(disc.height(), 2 * radiusPx, 2.0);
        EXPECT_NEAR(disc.center().x() + 0.5, 200, 1.5);
        EXPECT_NEAR(disc.center().y() + 0.5, 200, 1.5);
        // The readout maps the screen onto the file's pixels with their own shape.
        const double radiusColumns = radiusUnits, radiusRows = radiusUnits * c.pxPerUnitX / c.pxPerUnitY;
        // (within a screen pixel and a half, in the file's pixels)
        EXPECT_NEAR(control->ImageXPosition(disc.right(), 200), cx + radiusColumns, 1.5 / c.pxPerUnitX);
        EXPECT_NEAR(control->ImageYPosition(200, disc.bottom()), cy + radiusRows, 1.5 / c.pxPerUnitY + 0.5);
        EXPECT_NEAR(control->ImageYPosition(200, disc.top()), cy - radiusRows, 1.5 / c.pxPerUnitY + 0.5);
    }
}

// A single-bit image (a segmentation mask, pydicom's liver_1frame.dcm) shows its values 0
// and 1 as black and white, on screen, printed and as a thumbnail: its lit pixels are the
// ones that pydicom reads as 1.
TEST(ViewerLight, ASingleBitMaskShowsItsOnesWhiteOnBlack)
{
    const QString file = QStringLiteral(KORVANE_PYDICOM_FILES "/liver_1frame.dcm");
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sys, pydicom\n"
                                 "a = pydicom.dcmread(sys.argv[1]).pixel_array\n"
                                 "print(int((a == 1).sum()), int((a == 0).sum()), a.shape[1], a.shape[0])"),
                  file});
    ASSERT_TRUE(python.waitForFinished(120000));
    const QStringList counts = QString::fromLatin1(python.readAllStandardOutput()).split(QLatin1Char(' '));
    ASSERT_EQ(counts.size(), 4) << python.readAllStandardError().toStdString();
    const int ones = counts[0].toInt(), zeros = counts[1].toInt();
    const int columns = counts[2].toInt(), rows = counts[3].trimmed().toInt();
    ASSERT_GT(ones, 0);
    ASSERT_EQ(ones + zeros, columns * rows);

    auto lit = [](const QImage &picture) {
        int white = 0, black = 0;
        const QImage grey = picture.convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < grey.height(); ++y)
            for (int x = 0; x < grey.width(); ++x) {
                const int g = qGray(grey.pixel(x, y));
                white += g > 250;
                black += g < 5;
            }
        return std::pair{white, black};
    };
    const DicomImagePtr image = CreateImages()->ReadFile(file);
    ASSERT_EQ(image->SizeX(), columns);
    // The window the image starts with, then the frame shown.
    EXPECT_EQ(lit(image->DisplayFrame()), std::pair(ones, zeros))
        << "W " << image->Width() << " L " << image->Level();

    // Printed: the picture of a cell that shows the image one to one.
    auto control = MakeControl(columns, rows);
    ASSERT_TRUE(control);
    control->Images()->Add(image);
    control->Refresh();
    ASSERT_DOUBLE_EQ(image->ActualZoom(), 1.0);
    EXPECT_EQ(lit(control->Picture(image, QSize())), std::pair(ones, zeros));
    // The thumbnail's copy.
    const DicomImagePtr thumbnail = control->SubImage(image, 1, 1, columns, rows, 1.0, 1);
    ASSERT_TRUE(thumbnail);
    EXPECT_EQ(lit(thumbnail->DisplayFrame()), std::pair(ones, zeros));
}
