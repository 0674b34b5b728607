#pragma once
// Decoding ahead: the frames a control is about to show are decoded on background
// threads into the decoded-frame cache, so that stepping through a compressed series
// finds each image decoded when it comes on screen.

#include "imaging/imaging.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// No DCMTK here: the control's tests include this header.
namespace imaging::detail {

class PixelSource;
using PixelSourcePtr = std::shared_ptr<PixelSource>;

// One frame to decode: the pixels of an image entry and its frame number.
struct DecodeJob
{
    PixelSourcePtr source;
    int frame = 1;
    bool operator==(const DecodeJob &other) const { return source == other.source && frame == other.frame; }
};

// The frame an image entry shows (no source when it has no pixels).
DecodeJob DecodeJobOf(const DicomImage &image);

// Process-wide: each owner (a control) has its own list of frames to decode, nearest
// first; the threads take them in turn from the owners that have some. An owner's new
// list replaces its old one, so frames it has left behind are dropped before any
// thread starts them. A frame already being decoded when it is dropped is finished (a
// codec cannot be stopped half-way) and lands in the cache like any other.
class DecodeAhead
{
public:
    // How many images beyond the cells a control asks for.
    static constexpr int kDepth = 8;
    // Background threads when none is set: one per core, at most this many.
    static constexpr int kMaxThreads = 4;
    // Frames that take longer than this to decode (on average) are decoded on every
    // background thread; quicker ones on the first alone, which then keeps ahead of the
    // drawing by itself and leaves the other cores to the user-interface thread.
    static constexpr double kSpreadMilliseconds = 1.5;

    static DecodeAhead &instance();
    ~DecodeAhead();
    DecodeAhead(const DecodeAhead &) = delete;
    DecodeAhead &operator=(const DecodeAhead &) = delete;

    // The frames `owner` will show next, nearest first, replacing what it asked for
    // before. Frames in the cache already or being decoded now are left out, and the list
    // ends before the frames it asks for would together take more than half the cache's
    // budget, so that what is decoded ahead never pushes out what is on screen or was
    // just seen.
    void Plan(const void *owner, const std::vector<DecodeJob> &jobs);
    // Drops every frame `owner` asked for and has not been started.
    void Cancel(const void *owner);
    // What `owner` still waits for, in the order it will be decoded.
    std::vector<DecodeJob> Pending(const void *owner) const;

    // Number of background threads (0: one per core, at most kMaxThreads).
    void SetThreadCount(int count);
    int ThreadCount() const;
    // Called on the decoding thread just before each frame is decoded (tests hold the
    // decoder there); an empty function removes it.
    void SetBeforeDecode(std::function<void(const DecodeJob &)> hook);
    // Blocks until no frame is waiting or being decoded, or `milliseconds` have passed;
    // true when idle.
    bool WaitIdle(int milliseconds);

private:
    DecodeAhead();
    void Run(int index);
    bool TakeJob(DecodeJob &job);
    int WantedThreads() const;
    void StartThreads(); // with mutex_ held

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::map<const void *, std::deque<DecodeJob>> queues_;
    std::vector<DecodeJob> inFlight_; // being decoded now
    const void *lastOwner_ = nullptr;
    std::vector<std::thread> threads_;
    int threadCount_ = 0;
    int running_ = 0;
    // Running mean of the time a frame took to decode here, starting high: the first
    // frames of a series go to every thread.
    double meanDecodeMs_ = 2 * kSpreadMilliseconds;
    bool stop_ = false;
    std::function<void(const DecodeJob &)> beforeDecode_;
};

// JPEG 2000 code blocks are decoded on this many threads by the calling thread
// (background decoding threads use one each: they run side by side already).
int Jpeg2000Threads();
void SetJpeg2000SingleThreaded(bool single);

} // namespace imaging::detail
