// Decoding ahead on background threads (see decodeahead.h).

#include "decodeahead.h"
#include "internal.h"

#include <algorithm>
#include <chrono>

namespace imaging::detail {

namespace {

thread_local bool tJpeg2000SingleThreaded = false;

// Bytes a decoded frame takes in the cache (see Frame::bytes).
std::size_t FrameBytes(const PixelSource &source)
{
    const PixelInfo &p = source.info();
    return static_cast<std::size_t>(p.rows) * static_cast<std::size_t>(p.cols) * (p.narrowValues() ? 2 : 4)
           + sizeof(Frame);
}

} // namespace

int Jpeg2000Threads()
{
    if (tJpeg2000SingleThreaded)
        return 1;
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

void SetJpeg2000SingleThreaded(bool single)
{
    tJpeg2000SingleThreaded = single;
}

DecodeAhead &DecodeAhead::instance()
{
    static DecodeAhead service;
    return service;
}

DecodeAhead::DecodeAhead()
{
    // The cache must outlive the threads that fill it: made first, it is destroyed last.
    FrameCache::instance();
}

DecodeAhead::~DecodeAhead()
{
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        queues_.clear();
        threads.swap(threads_);
    }
    wake_.notify_all();
    for (std::thread &t : threads)
        if (t.joinable())
            t.join();
}

int DecodeAhead::WantedThreads() const
{
    if (threadCount_ > 0)
        return threadCount_;
    return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, static_cast<unsigned>(kMaxThreads)));
}

void DecodeAhead::StartThreads()
{
    while (static_cast<int>(threads_.size()) < WantedThreads()) {
        const int index = static_cast<int>(threads_.size());
        threads_.emplace_back([this, index] { Run(index); });
    }
}

void DecodeAhead::Plan(const void *owner, const std::vector<DecodeJob> &jobs)
{
    const std::size_t allowance = FrameCache::instance().budget() / 2;
    std::deque<DecodeJob> wanted;
    std::size_t bytes = 0;
    for (const DecodeJob &job : jobs) {
        if (!job.source || !job.source->info().hasPixels)
            continue;
        bytes += FrameBytes(*job.source);
        if (bytes > allowance)
            break;
        if (FrameCache::instance().get(job.source->id(), job.frame))
            continue; // decoded already (and now counted as just used)
        if (std::find(wanted.begin(), wanted.end(), job) == wanted.end())
            wanted.push_back(job);
    }
    {
        std::lock_guard lock(mutex_);
        if (stop_)
            return;
        // A frame a thread is decoding now lands in the cache without being asked again
        // (another thread would only wait for it).
        for (const DecodeJob &job : inFlight_)
            wanted.erase(std::remove(wanted.begin(), wanted.end(), job), wanted.end());
        if (wanted.empty()) {
            queues_.erase(owner);
        } else {
            queues_[owner] = std::move(wanted);
            StartThreads();
        }
    }
    wake_.notify_all();
}

void DecodeAhead::Cancel(const void *owner)
{
    {
        std::lock_guard lock(mutex_);
        queues_.erase(owner);
    }
    idle_.notify_all();
}

std::vector<DecodeJob> DecodeAhead::Pending(const void *owner) const
{
    std::lock_guard lock(mutex_);
    auto it = queues_.find(owner);
    if (it == queues_.end())
        return {};
    return {it->second.begin(), it->second.end()};
}

void DecodeAhead::SetThreadCount(int count)
{
    std::vector<std::thread> surplus;
    {
        std::lock_guard lock(mutex_);
        threadCount_ = std::max(0, count);
        const auto keep = static_cast<std::size_t>(WantedThreads());
        while (threads_.size() > keep) {
            surplus.push_back(std::move(threads_.back()));
            threads_.pop_back();
        }
        if (!queues_.empty())
            StartThreads();
    }
    wake_.notify_all();
    for (std::thread &t : surplus)
        t.join();
}

int DecodeAhead::ThreadCount() const
{
    std::lock_guard lock(mutex_);
    return WantedThreads();
}

void DecodeAhead::SetBeforeDecode(std::function<void(const DecodeJob &)> hook)
{
    std::lock_guard lock(mutex_);
    beforeDecode_ = std::move(hook);
}

bool DecodeAhead::WaitIdle(int milliseconds)
{
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                          [this] { return running_ == 0 && queues_.empty(); });
}

// Takes the next frame of the owner after the one served last (owners in turn), with
// mutex_ held.
bool DecodeAhead::TakeJob(DecodeJob &job)
{
    if (queues_.empty())
        return false;
    auto it = queues_.upper_bound(lastOwner_);
    if (it == queues_.end())
        it = queues_.begin();
    job = std::move(it->second.front());
    it->second.pop_front();
    lastOwner_ = it->first;
    if (it->second.empty())
        queues_.erase(it);
    return true;
}

void DecodeAhead::Run(int index)
{
    SetJpeg2000SingleThreaded(true);
    std::unique_lock lock(mutex_);
    for (;;) {
        DecodeJob job;
        wake_.wait(lock, [&] {
            return stop_ || index >= WantedThreads()
                   || (!queues_.empty() && (index == 0 || meanDecodeMs_ > kSpreadMilliseconds));
        });
        if (stop_ || index >= WantedThreads())
            return;
        if (!TakeJob(job))
            continue;
        ++running_;
        inFlight_.push_back(job);
        const auto hook = beforeDecode_;
        lock.unlock();
        double decodeMs = -1;
        if (!FrameCache::instance().get(job.source->id(), job.frame)) {
            if (hook)
                hook(job);
            const auto start = std::chrono::steady_clock::now();
            try {
                job.source->frame(job.frame);
            } catch (const std::exception &) {
                // The user sees the error when the image comes on screen.
            }
            decodeMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        }
        lock.lock();
        if (decodeMs >= 0) {
            const bool spread = meanDecodeMs_ > kSpreadMilliseconds;
            meanDecodeMs_ = 0.8 * meanDecodeMs_ + 0.2 * decodeMs;
            if (!spread && meanDecodeMs_ > kSpreadMilliseconds)
                wake_.notify_all();
        }
        inFlight_.erase(std::find(inFlight_.begin(), inFlight_.end(), job));
        job = DecodeJob();
        --running_;
        if (running_ == 0 && queues_.empty())
            idle_.notify_all();
    }
}

} // namespace imaging::detail
