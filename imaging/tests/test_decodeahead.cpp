// Decoding ahead: which frames the control asks for while the user scrolls, when its
// requests are dropped, and how far the cache's budget lets it go. The background
// decoder is held at a known point (just before it decodes a frame) by a gate the test
// opens; nothing here depends on timing.

#include "imaging/src/decodeahead.h"
#include "imaging/src/viewerlight_impl.h"
#include "imaging/tests/viewerlight_testimages.h"

#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

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
    control->SetCurrentIndex(1);
    EXPECT_EQ(Positions(series, DecodeAhead::instance().Pending(control.get()))[0], 3);
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
