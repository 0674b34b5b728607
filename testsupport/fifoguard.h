#pragma once
// FIFOs put in place of files a program opens by a fixed name, and a bound on how long the
// code under test may wait on them. Opening a FIFO the usual way waits for the other end
// for good; should the code under test do so, the guard opens the other end of every FIFO
// after its bound, which frees the waiting open, and Fired() tells the test it happened.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

class FifoGuard
{
public:
    explicit FifoGuard(std::chrono::seconds bound = std::chrono::seconds(20)) : bound_(bound) {}
    ~FifoGuard() { Stop(); }
    FifoGuard(const FifoGuard &) = delete;
    FifoGuard &operator=(const FifoGuard &) = delete;

    // Makes a FIFO at `path`; false when it cannot.
    bool Make(const QString &path)
    {
        if (::mkfifo(QFile::encodeName(path).constData(), 0600) != 0)
            return false;
        paths_ << path;
        return true;
    }

    // Starts the bound: call just before the code under test.
    void Start()
    {
        thread_ = std::thread([this] {
            std::unique_lock lock(mutex_);
            if (wake_.wait_for(lock, bound_, [this] { return stopped_; }))
                return;
            fired_ = true;
            // Read-write on a FIFO never waits and counts as both ends: the waiting open
            // returns, and once closed again its reads find the end of the file.
            for (const QString &path : paths_) {
                const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK);
                if (fd >= 0)
                    ::close(fd);
            }
        });
    }

    // Ends the bound; true when the code under test had to be freed.
    bool Fired()
    {
        Stop();
        return fired_;
    }

private:
    void Stop()
    {
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

    std::chrono::seconds bound_;
    QStringList paths_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopped_ = false;
    std::atomic<bool> fired_{false};
};

} // namespace testsupport
