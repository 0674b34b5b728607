// Download of a study archive from the loopback SOAP server (1,000,000-byte
// fragments, merge, unpack) against a plain HTTP GET of the same bytes from a
// server in the same process, streamed to a file. Also samples the resident
// memory during each run: its growth must not follow the archive size.
#include "transfer/core/clientform.h"
#include "transfer/exchange/exchange.h"
#include "transfer/exchange/zipcomponent.h"
#include "ziptestkit.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <httplib.h>

#include <atomic>
#include <fstream>
#include <map>
#include <thread>

namespace {

qint64 residentBytes()
{
    std::ifstream f("/proc/self/statm");
    long pages = 0, resident = 0;
    f >> pages >> resident;
    return qint64(resident) * 4096;
}

// Highest resident size seen while it lives, sampled every 5 ms.
class PeakSampler
{
public:
    PeakSampler() : m_start(residentBytes()), m_peak(m_start)
    {
        m_thread = std::thread([this] {
            while (!m_stop) {
                const qint64 r = residentBytes();
                qint64 p = m_peak.load();
                while (r > p && !m_peak.compare_exchange_weak(p, r)) {
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    }
    ~PeakSampler() { stop(); }
    qint64 stop()
    {
        if (m_thread.joinable()) {
            m_stop = true;
            m_thread.join();
        }
        return m_peak - m_start;
    }

private:
    qint64 m_start;
    std::atomic<qint64> m_peak;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

struct World
{
    QTemporaryDir root;
    QString serverRoot;
    QProcess server;
    int port = 0;
    std::map<int, QString> archives; // size in MB -> archive with that much data
    httplib::Server http;
    std::thread httpThread;
    int httpPort = 0;

    World()
    {
        serverRoot = root.filePath("server");
        QDir().mkpath(serverRoot + "/users/CLINIQUE");
        server.setProgram(QStringLiteral(KORVANE_TESTSERVER));
        server.setArguments({serverRoot, "0", "CLINIQUE/U1/SECRET"});
        server.setStandardErrorFile(root.filePath("server.log"));
        server.start();
        server.waitForStarted();
        while (port == 0 && server.waitForReadyRead(10000)) {
            const QByteArray line = server.readLine().trimmed();
            if (line.startsWith("PORT "))
                port = line.mid(5).toInt();
        }
        // The plain baseline: the same file served by GET, streamed from disk.
        http.Get("/file", [this](const httplib::Request &req, httplib::Response &res) {
            const std::string path = req.get_param_value("p");
            auto in = std::make_shared<std::ifstream>(path, std::ios::binary);
            in->seekg(0, std::ios::end);
            const size_t size = size_t(in->tellg());
            in->seekg(0);
            res.set_content_provider(size, "application/octet-stream",
                                     [in](size_t offset, size_t length, httplib::DataSink &sink) {
                                         std::vector<char> buf(std::min<size_t>(length, 1 << 20));
                                         in->seekg(std::streamoff(offset));
                                         in->read(buf.data(), std::streamsize(buf.size()));
                                         sink.write(buf.data(), size_t(in->gcount()));
                                         return true;
                                     });
        });
        httpPort = http.bind_to_any_port("127.0.0.1");
        httpThread = std::thread([this] { http.listen_after_bind(); });
    }
    ~World()
    {
        http.stop();
        if (httpThread.joinable())
            httpThread.join();
        server.kill();
        server.waitForFinished();
    }

    // A study archive: DICOMDIR, ftp.ok and `mb` image files of 1 MB each.
    QString archive(int mb)
    {
        auto it = archives.find(mb);
        if (it != archives.end())
            return it->second;
        QList<ziptest::Entry> entries{{"DICOMDIR", "catalogue"}, {"ftp.ok", ""}};
        for (int i = 0; i < mb; ++i)
            entries.append({QString("DICOM/SE%1/IM%2").arg(i / 10).arg(i), ziptest::noise(1000000, quint32(i + 1))});
        const QString path = root.filePath(QString("study-%1.zip").arg(mb));
        ziptest::writeZip(path, entries);
        archives[mb] = path;
        return path;
    }
};

World *world = nullptr;

strandel::ClientUi quietUi()
{
    strandel::ClientUi ui;
    ui.message = [](QWidget *, strandel::MessageKind kind, const QString &text, bool) {
        if (kind == strandel::MessageKind::Error)
            qWarning("%s", qPrintable(text));
        return true;
    };
    ui.exec = [](QDialog &) { return 0; };
    return ui;
}

void BM_ExchangeDownload(benchmark::State &state)
{
    const int mb = int(state.range(0));
    const QString archive = world->archive(mb);
    const qint64 size = QFileInfo(archive).size();
    QTemporaryDir dir;
    const QString work = dir.filePath("KorvaneCD");
    QDir().mkpath(work);
    ziptest::writeFile(work + "/Strandel.ini",
                       "[parametres]\r\nAdresseIp=127.0.0.1\r\nPort=" + QByteArray::number(world->port)
                           + "\r\nAlias=strandel\r\nFichierZip=CLINIQUE\r\nUsager=U1\r\nMotDePasse=SECRET\r\n");
    strandel::TClientForm form(work, strandel::CommandLine({"Strandel"}), quietUi());
    form.settings().read();
    exchange::ExchangeEnv env;
    env.quit = [] {};
    exchange::Exchange *x = exchange::installExchange(form, env);
    form.show(); // its progress bar and status bar follow the download, as for the user
    qint64 peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QDir(work + "/DICOM").removeRecursively();
        QFile::remove(work + "/CLINIQUE.zip");
        QFile::copy(archive, world->serverRoot + "/users/CLINIQUE/CLINIQUE.zip");
        state.ResumeTiming();
        PeakSampler sampler;
        QString t;
        if (!x->DownloadArchive("CLINIQUE.zip", size, &t))
            state.SkipWithError("download failed");
        peak = std::max(peak, sampler.stop());
    }
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["peak_rss_growth_MB"] = double(peak) / 1e6;
    state.counters["archive_MB"] = double(size) / 1e6;
}

// GET of the archive to a file; false when the bytes did not all arrive.
bool plainGet(QNetworkAccessManager &net, const QString &archive, const QString &target, qint64 size)
{
    QFile out(target);
    out.open(QIODevice::WriteOnly | QIODevice::Truncate);
    QUrl url(QString("http://127.0.0.1:%1/file").arg(world->httpPort));
    url.setQuery("p=" + QUrl::toPercentEncoding(archive));
    QNetworkReply *reply = net.get(QNetworkRequest(url));
    QObject::connect(reply, &QNetworkReply::readyRead, [&] { out.write(reply->readAll()); });
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    out.write(reply->readAll());
    out.close();
    const bool ok = reply->error() == QNetworkReply::NoError && out.size() == size;
    reply->deleteLater();
    return ok;
}

// The plain transfer followed by the same extraction: the part of the cost
// that any way of receiving a zipped study pays.
void BM_PlainGetThenUnpack(benchmark::State &state)
{
    const int mb = int(state.range(0));
    const QString archive = world->archive(mb);
    const qint64 size = QFileInfo(archive).size();
    QTemporaryDir dir;
    QNetworkAccessManager net;
    for (auto _ : state) {
        state.PauseTiming();
        QDir(dir.filePath("out")).removeRecursively();
        state.ResumeTiming();
        if (!plainGet(net, archive, dir.filePath("copy.zip"), size)
            || exchange::extractZip(dir.filePath("copy.zip"), dir.filePath("out"), exchange::ArchivePassword).code != 0)
            state.SkipWithError("plain transfer or unpack failed");
    }
    state.SetBytesProcessed(state.iterations() * size);
}

void BM_PlainHttpGet(benchmark::State &state)
{
    const int mb = int(state.range(0));
    const QString archive = world->archive(mb);
    const qint64 size = QFileInfo(archive).size();
    QTemporaryDir dir;
    QNetworkAccessManager net;
    qint64 peak = 0;
    for (auto _ : state) {
        PeakSampler sampler;
        if (!plainGet(net, archive, dir.filePath("copy.zip"), size))
            state.SkipWithError("plain transfer failed");
        peak = std::max(peak, sampler.stop());
    }
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["peak_rss_growth_MB"] = double(peak) / 1e6;
    state.counters["archive_MB"] = double(size) / 1e6;
}

BENCHMARK(BM_PlainHttpGet)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_PlainGetThenUnpack)->Arg(50)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ExchangeDownload)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    World w;
    world = &w;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    world = nullptr;
    return 0;
}
