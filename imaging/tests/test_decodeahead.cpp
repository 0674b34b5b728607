// Decoding ahead: which frames the control asks for while the user scrolls, when its
// requests are dropped, and how far the cache's budget lets it go. The background
// decoder is held at a known point (just before it decodes a frame) by a gate the test
// opens; nothing here depends on timing.

#include "imaging/src/decodeahead.h"
#include "imaging/src/viewerlight_impl.h"
#include "imaging/tests/viewerlight_testimages.h"

#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>

using namespace imaging;
using imaging::detail::DecodeAhead;
using imaging::detail::DecodeJob;
using imaging::detail::DecodeJobOf;
using viewerlight_test::MakeMonoImage;

namespace {

constexpr int kWaitMs = 60000; // a bound on waiting for an event, never a measure

// Holds the background decoder before each frame until the test opens it, and records
// the frames it started, in order.
class Gate
{
public:
    Gate(const Gate &) = delete;
    Gate &operator=(const Gate &) = delete;
    Gate()
    {
        DecodeAhead::instance().WaitIdle(kWaitMs);
        DecodeAhead::instance().SetThreadCount(1);
        DecodeAhead::instance().SetBeforeDecode([this](const DecodeJob &job) {
            std::unique_lock lock(mutex_);
            started_.push_back(job);
            changed_.notify_all();
            changed_.wait(lock, [this] { return open_; });
        });
    }
    ~Gate()
    {
        Open();
        DecodeAhead::instance().WaitIdle(kWaitMs);
        DecodeAhead::instance().SetBeforeDecode({});
        DecodeAhead::instance().SetThreadCount(0);
    }
    // Waits until the decoder has reached its n-th frame (and is held there).
    bool WaitStarted(std::size_t n)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] { return started_.size() >= n; });
    }
    void Open()
    {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    std::vector<DecodeJob> Started()
    {
        std::lock_guard lock(mutex_);
        return started_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<DecodeJob> started_;
    bool open_ = false;
};

std::unique_ptr<detail::ViewerLight> ShownControl()
{
    auto control = std::make_unique<detail::ViewerLight>(nullptr);
    control->resize(64, 64);
    control->show();
    return control;
}

// `count` images of `size` x `size`, each with its own values.
std::vector<DicomImagePtr> Series(int count, int size = 32)
{
    std::vector<DicomImagePtr> out;
    for (int i = 0; i < count; ++i)
        out.push_back(MakeMonoImage(size, size, [i](int x, int y, int) { return i * 100 + x + y; }, 1, 100, 200));
    return out;
}

void Fill(DicomViewerLight &control, const std::vector<DicomImagePtr> &images)
{
    control.Images()->Clear();
    for (const DicomImagePtr &image : images)
        control.Images()->Add(image);
}

// The jobs of images first..last (1-based positions in `series`, either way round).
std::vector<DecodeJob> Jobs(const std::vector<DicomImagePtr> &series, int first, int last)
{
    std::vector<DecodeJob> out;
    const int step = last >= first ? 1 : -1;
    for (int i = first;; i += step) {
        out.push_back(DecodeJobOf(*series[static_cast<size_t>(i - 1)]));
        if (i == last)
            break;
    }
    return out;
}

// Which images of `series` (1-based) the jobs are, for readable failures.
std::vector<int> Positions(const std::vector<DicomImagePtr> &series, const std::vector<DecodeJob> &jobs)
{
    std::vector<int> out;
    for (const DecodeJob &job : jobs) {
        int found = 0;
        for (size_t i = 0; i < series.size(); ++i)
            if (DecodeJobOf(*series[i]) == job)
                found = static_cast<int>(i) + 1;
        out.push_back(found);
    }
    return out;
}

} // namespace

TEST(DecodeAhead, FollowsTheWayOfScrollingAndNeverStartsWhatWasLeftBehind)
{
    SetFrameCacheBudget(512u << 20);
    const auto series = Series(20);
    Gate gate;
    auto control = ShownControl();
    Fill(*control, series);
    control->SetCurrentIndex(1);
    // From the first image: the next ones, nearest first, as deep as the control looks.
    ASSERT_TRUE(gate.WaitStarted(1));
    EXPECT_EQ(Positions(series, gate.Started()), std::vector<int>{2});
    EXPECT_EQ(Positions(series, DecodeAhead::instance().Pending(control.get())),
              Positions(series, Jobs(series, 3, 1 + DecodeAhead::kDepth)));

    // Two steps forward: the list moves on with the cells.
    control->SetCurrentIndex(2);
    control->SetCurrentIndex(3);
    EXPECT_EQ(Positions(series, DecodeAhead::instance().Pending(control.get())),
              Positions(series, Jobs(series, 4, 3 + DecodeAhead::kDepth)));

    // One step back: the user now scrolls backward; what lies ahead that way is image 1
    // (image 2 is being decoded already), and nothing forward is wanted any more.
    control->SetCurrentIndex(2);
    EXPECT_EQ(Positions(series, DecodeAhead::instance().Pending(control.get())), std::vector<int>{1});

    gate.Open();
    ASSERT_TRUE(DecodeAhead::instance().WaitIdle(kWaitMs));
    EXPECT_EQ(Positions(series, gate.Started()), (std::vector<int>{2, 1}));

    // Frames decoded already are not asked for again: forward from 1 again asks for 3 on
    // (2 is in the cache), and a step into the last images asks for nothing past the end.
    // (The decoder is held again first: an open one could take the list before it is read.)
    Gate again;
    control->SetCurrentIndex(1);
    ASSERT_TRUE(again.WaitStarted(1));
    EXPECT_EQ(Positions(series, again.Started()), std::vector<int>{3});
    EXPECT_EQ(Positions(series, DecodeAhead::instance().Pending(control.get())),
              Positions(series, Jobs(series, 4, 1 + DecodeAhead::kDepth)));
    control->SetCurrentIndex(20);
    control->SetCurrentIndex(19);
    control->SetCurrentIndex(20);
    EXPECT_TRUE(DecodeAhead::instance().Pending(control.get()).empty());
}

TEST(DecodeAhead, DroppedWhenTheSeriesChangesTheControlHidesOrCloses)
{
    SetFrameCacheBudget(512u << 20);
    const auto first = Series(12);
    const auto second = Series(12);
    Gate gate;
    auto control = ShownControl();
    Fill(*control, first);
    control->SetCurrentIndex(1);
    ASSERT_TRUE(gate.WaitStarted(1));
    ASSERT_FALSE(DecodeAhead::instance().Pending(control.get()).empty());

    // Another series in the same control (as the frame fills it): only its images.
    Fill(*control, second);
    control->SetCurrentIndex(1);
    EXPECT_EQ(Positions(second, DecodeAhead::instance().Pending(control.get())),
              Positions(second, Jobs(second, 2, 1 + DecodeAhead::kDepth)));

    // Another collection (a new visit), hiding, closing: nothing is left to decode.
    control->SetImages(CreateImages());
    EXPECT_TRUE(DecodeAhead::instance().Pending(control.get()).empty());
    Fill(*control, second);
    control->Refresh();
    EXPECT_FALSE(DecodeAhead::instance().Pending(control.get()).empty());
    control->hide();
    EXPECT_TRUE(DecodeAhead::instance().Pending(control.get()).empty());
    control->show();
    control->SetCurrentIndex(1);
    EXPECT_FALSE(DecodeAhead::instance().Pending(control.get()).empty());
    const void *owner = control.get();
    control.reset();
    EXPECT_TRUE(DecodeAhead::instance().Pending(owner).empty());

    // The frame held when all this happened is the only one ever started.
    gate.Open();
    ASSERT_TRUE(DecodeAhead::instance().WaitIdle(kWaitMs));
    EXPECT_EQ(Positions(first, gate.Started()), std::vector<int>{2});
}

TEST(DecodeAhead, StaysWithinHalfTheCacheBudgetAndNeverBlocksTheControl)
{
    // 256 x 256 frames take 256 KiB each decoded: a budget of five frames leaves room
    // for two ahead.
    constexpr std::size_t kFrame = 256 * 256 * 4;
    const std::size_t old = FrameCacheBudget();
    SetFrameCacheBudget(5 * kFrame + 4096);
    const auto series = Series(10, 256);
    {
        Gate gate;
        auto control = ShownControl();
        Fill(*control, series);
        control->SetCurrentIndex(1);
        ASSERT_TRUE(gate.WaitStarted(1));
        EXPECT_EQ(Positions(series, gate.Started()), std::vector<int>{2});
        EXPECT_EQ(Positions(series, DecodeAhead::instance().Pending(control.get())), std::vector<int>{3});

        // While the decoder is held before image 2, the control steps onto it and draws it
        // (decoding it itself): the user never waits for the background.
        control->SetCurrentIndex(2);
        QImage surface(64, 64, QImage::Format_ARGB32_Premultiplied);
        control->render(&surface);
        EXPECT_EQ(qGray(surface.pixel(32, 32)), qGray(QImage(series[1]->DisplayFrame()).pixel(128, 128)));

        gate.Open();
        ASSERT_TRUE(DecodeAhead::instance().WaitIdle(kWaitMs));
        EXPECT_LE(FrameCacheUsage(), FrameCacheBudget());
    }
    SetFrameCacheBudget(old);
}

TEST(CineSchedule, NextFramesFollowTheModeToTheEndRoundOrBackWithoutMovingTheCine)
{
    using Frames = std::vector<int>;
    auto next = [](int mode, int start, int count, int n = DecodeAhead::kDepth) {
        detail::CineSchedule cine;
        cine.Start(0, 10.0, mode, start, count);
        return cine.NextFrames(n);
    };
    // Forward and backward once: up to the end, then nothing.
    EXPECT_EQ(next(1, 3, 6), (Frames{4, 5, 6}));
    EXPECT_EQ(next(1, 2, 40), (Frames{3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(next(1, 6, 6), Frames{});
    EXPECT_EQ(next(2, 4, 6), (Frames{3, 2, 1}));
    EXPECT_EQ(next(2, 1, 6), Frames{});
    // Repeat: round from the last frame to the first; a loop shorter than the depth gives
    // each of its other frames once.
    EXPECT_EQ(next(3, 37, 40), (Frames{38, 39, 40, 1, 2, 3, 4, 5}));
    EXPECT_EQ(next(3, 5, 6), (Frames{6, 1, 2, 3, 4}));
    EXPECT_EQ(next(3, 1, 40, 3), (Frames{2, 3, 4}));
    // Oscillate: back at the end, frames shown again on the way back listed once.
    EXPECT_EQ(next(4, 18, 20), (Frames{19, 20, 17, 16, 15, 14, 13, 12}));
    EXPECT_EQ(next(4, 4, 6), (Frames{5, 6, 3, 2, 1}));
    // One or two frames; a stopped cine; nothing asked.
    EXPECT_EQ(next(3, 1, 1), Frames{});
    EXPECT_EQ(next(4, 1, 1), Frames{});
    EXPECT_EQ(next(1, 1, 2), Frames{2});
    EXPECT_EQ(next(1, 2, 2), Frames{});
    EXPECT_EQ(next(2, 2, 2), Frames{1});
    EXPECT_EQ(next(3, 2, 2), Frames{1});
    EXPECT_EQ(next(4, 1, 2), Frames{2});
    EXPECT_EQ(next(4, 2, 2), Frames{1});
    EXPECT_EQ(next(0, 3, 6), Frames{});
    EXPECT_EQ(next(3, 3, 6, 0), Frames{});

    // An oscillation on its way down goes on down, and asking leaves the cine as it was.
    detail::CineSchedule cine;
    cine.Start(0, 10.0, 4, 5, 6);
    cine.Advance(cine.DueNs(2)); // 6, then back to 5
    ASSERT_EQ(cine.Frame(), 5);
    EXPECT_EQ(cine.NextFrames(8), (Frames{4, 3, 2, 1, 6}));
    EXPECT_EQ(cine.Frame(), 5);
    EXPECT_EQ(cine.Advance(cine.NextDueNs()).frame, 4);
    // A one-way cine that has come to its end asks for nothing.
    cine.Start(0, 10.0, 1, 4, 6);
    cine.Advance(cine.DueNs(10));
    ASSERT_TRUE(cine.Finished());
    EXPECT_EQ(cine.NextFrames(8), Frames{});
}

namespace {

// The jobs as "<name><frame>" of the named images they belong to ("?" for others).
std::vector<std::string> Describe(const std::vector<std::pair<std::string, DicomImagePtr>> &named,
                                  const std::vector<DecodeJob> &jobs)
{
    std::vector<std::string> out;
    for (const DecodeJob &job : jobs) {
        std::string name = "?";
        for (const auto &[n, image] : named)
            if (DecodeJobOf(*image).source == job.source)
                name = n;
        out.push_back(name + std::to_string(job.frame));
    }
    return out;
}

// `frames` frames of 32 x 32 with their own values, 20 ms apart.
DicomImagePtr CineImage(int frames)
{
    return MakeMonoImage(32, 32, [](int x, int y, int f) { return f * 7 + x + y; }, frames, 100, 200,
                         {{0x0018, 0x1063, 20.0, QStringLiteral("DS")}});
}

} // namespace

TEST(DecodeAhead, CinesAskForTheFramesTheyShowNextAndDropThoseTheyPassed)
{
    SetFrameCacheBudget(512u << 20);
    // Two cines side by side, one forward round and round, one backward, and an image
    // after the cells. Long loops: the frames ahead are never ones already shown.
    const DicomImagePtr a = CineImage(120), b = CineImage(120);
    const DicomImagePtr c = Series(1)[0];
    const std::vector<std::pair<std::string, DicomImagePtr>> named{{"a", a}, {"b", b}, {"c", c}};
    a->SetCineMode(3);
    b->SetCineMode(2); // from frame 1, a backward cine starts over from the last frame
    Gate gate;
    auto control = ShownControl();
    control->SetMultiColumns(2);
    Fill(*control, {a, b, c});
    control->Refresh();

    // What the list must be with the cines on these frames: each one's next frames taken
    // in turn, then the image after the cells.
    auto expected = [&](int frameA, int frameB) {
        std::vector<std::string> out;
        for (int k = 1; k <= DecodeAhead::kDepth; ++k) {
            if (frameA > 0)
                out.push_back("a" + std::to_string(frameA + k));
            if (frameB > 0)
                out.push_back("b" + std::to_string(frameB - k));
        }
        out.push_back("c1");
        return out;
    };
    ASSERT_TRUE(gate.WaitStarted(1));
    EXPECT_EQ(Describe(named, gate.Started()), std::vector<std::string>{"a2"});
    std::vector<std::string> rest = expected(1, 120);
    rest.erase(rest.begin());
    EXPECT_EQ(Describe(named, DecodeAhead::instance().Pending(control.get())), rest);

    // At each step (the decoder still held on frame 2 of a): the list has moved on with
    // the cines and holds nothing they have passed.
    struct Seen
    {
        int frameA, frameB;
        std::vector<std::string> pending;
    };
    std::vector<Seen> seen;
    control->OnCineFrame = [&](int, int, qint64, qint64) {
        seen.push_back({a->Frame(), b->Frame(), Describe(named, DecodeAhead::instance().Pending(control.get()))});
    };
    QTRY_VERIFY_WITH_TIMEOUT(seen.size() >= 4, kWaitMs);
    control->OnCineFrame = nullptr;
    for (const Seen &s : seen) {
        ASSERT_GT(s.frameA, 1);
        ASSERT_LT(s.frameB, 120);
        EXPECT_EQ(s.pending, expected(s.frameA, s.frameB)) << s.frameA << " " << s.frameB;
    }

    // One cine stopped: only the other's frames, then the image after the cells.
    b->SetCineMode(0);
    EXPECT_EQ(Describe(named, DecodeAhead::instance().Pending(control.get())), expected(a->Frame(), 0));
    a->SetCineMode(0);
    EXPECT_EQ(Describe(named, DecodeAhead::instance().Pending(control.get())), std::vector<std::string>{"c1"});

    // Hidden, the control asks for nothing, not even as its cine goes on.
    a->SetCineMode(3);
    EXPECT_EQ(Describe(named, DecodeAhead::instance().Pending(control.get())).size(),
              static_cast<std::size_t>(DecodeAhead::kDepth + 1));
    control->hide();
    EXPECT_TRUE(DecodeAhead::instance().Pending(control.get()).empty());
    int hiddenSteps = 0;
    bool askedWhileHidden = false;
    control->OnCineFrame = [&](int, int, qint64, qint64) {
        ++hiddenSteps;
        askedWhileHidden = askedWhileHidden || !DecodeAhead::instance().Pending(control.get()).empty();
    };
    QTRY_VERIFY_WITH_TIMEOUT(hiddenSteps >= 2, kWaitMs);
    EXPECT_FALSE(askedWhileHidden);
    control->OnCineFrame = nullptr;
    a->SetCineMode(0);

    // Nothing but the frame held from the start was ever started.
    gate.Open();
    ASSERT_TRUE(DecodeAhead::instance().WaitIdle(kWaitMs));
    EXPECT_EQ(Describe(named, gate.Started()), std::vector<std::string>{"a2"});
}

TEST(DecodeAhead, AShortLoopEndsUpCachedWholeAndIsDecodedOnce)
{
    SetFrameCacheBudget(512u << 20);
    const DicomImagePtr loop = CineImage(4);
    const std::vector<std::pair<std::string, DicomImagePtr>> named{{"f", loop}};
    loop->SetCineMode(4);
    Gate gate;
    gate.Open();
    auto control = ShownControl();
    Fill(*control, {loop});
    // Every frame the control has shown is in the cache: once it has shown all four, the
    // list is empty step after step, round and back.
    std::set<int> shown{1};
    int stepsAfter = 0;
    control->OnCineFrame = [&](int, int frame, qint64, qint64) {
        shown.insert(frame);
        if (shown.size() < 4)
            return;
        ++stepsAfter;
        EXPECT_TRUE(DecodeAhead::instance().Pending(control.get()).empty()) << "step " << stepsAfter;
    };
    control->Refresh();
    QTRY_VERIFY_WITH_TIMEOUT(stepsAfter >= 8, kWaitMs);
    control->OnCineFrame = nullptr;
    loop->SetCineMode(0);
    ASSERT_TRUE(DecodeAhead::instance().WaitIdle(kWaitMs));
    // No frame was decoded twice in the background.
    std::vector<std::string> started = Describe(named, gate.Started());
    std::sort(started.begin(), started.end());
    EXPECT_EQ(std::adjacent_find(started.begin(), started.end()), started.end());
}

TEST(DecodeAhead, AFrameBeingDecodedIsNotAskedForAgain)
{
    SetFrameCacheBudget(512u << 20);
    const DicomImagePtr image = CineImage(6);
    const std::vector<std::pair<std::string, DicomImagePtr>> named{{"f", image}};
    std::vector<DecodeJob> jobs;
    for (int frame = 2; frame <= 5; ++frame) {
        jobs.push_back(DecodeJobOf(*image));
        jobs.back().frame = frame;
    }
    Gate gate;
    const int owner = 0;
    DecodeAhead::instance().Plan(&owner, jobs);
    ASSERT_TRUE(gate.WaitStarted(1));
    // The same frames asked for again (as a cine's next step asks from where it is): the
    // one being decoded is not listed, so no second thread goes to wait for it.
    DecodeAhead::instance().Plan(&owner, jobs);
    EXPECT_EQ(Describe(named, DecodeAhead::instance().Pending(&owner)), (std::vector<std::string>{"f3", "f4", "f5"}));
    gate.Open();
    ASSERT_TRUE(DecodeAhead::instance().WaitIdle(kWaitMs));
    EXPECT_EQ(Describe(named, gate.Started()), (std::vector<std::string>{"f2", "f3", "f4", "f5"}));
}
