// Scrolling through a compressed CT series, each case beside bare decoding of the same
// frames by the codec alone in the same run.
//
// The series: 200 slices of 512 x 512, 12 bits, with a scanner's noise (studygen's
// ct-noise preset, about 2.3:1 lossless), stored as native (uncompressed), jpeg2000
// (JPEG 2000 lossless), jpegls (JPEG-LS lossless), jpeg14 (JPEG lossless process 14) and
// rle (RLE lossless).
//
//   BM_BareDecode/<syntax>  one frame after the other decoded by the codec alone, the
//                           compressed bytes already in memory: OpenJPEG on every core
//                           (opj_codec_set_threads), DCMTK's decoders (one core, all they
//                           use) for the others. Time per image.
//   BM_StepHeld/<syntax>    (a) the wheel held down: the control steps to the next image
//                           and draws it, as fast as it can, through the whole series.
//                           Time per image shown (real time: decoding runs on background
//                           threads).
//                           Counter process_cpu_ms: CPU time of every thread of the
//                           process per image (decoding, windowing, drawing), steadier
//                           than real time on a busy machine.
//   BM_StepPaced/<syntax>   (b) one wheel step every 40 ms, forward through the series then
//                           backward. Time = mean time the user-interface thread spent
//                           per step (step and draw). Counters: waited = steps whose image
//                           was not decoded yet when the step came (the user waited for
//                           its decode); max_step_ms; decodes_ahead = frames the background
//                           threads went to decode (one the user-interface thread was
//                           decoding at that moment counts, though it is decoded once);
//                           decodes_behind = those of them that were already behind the
//                           image shown when their decode started.
//   BM_CinePaced/<syntax>   a cine (forward once) through a multi-frame image made of the
//                           first 100 slices of the series (each slice's own compressed
//                           bytes as one frame), one frame every 40 ms (Frame Time 40).
//                           Time = mean time the user-interface thread spent per step
//                           (frame change and draw). Counters: waited = steps whose frame
//                           was not decoded yet when the cine came to it; skipped = steps
//                           the cine passed over because the control was late;
//                           max_step_ms; decodes_ahead = frames the background threads
//                           went to decode.

#include "imaging/src/decodeahead.h"
#include "imaging/src/internal.h"
#include "imaging/src/openjpegstream.h"
#include "imaging/src/viewerlight_impl.h"

#include "studygen.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dctk.h>

#include <openjpeg.h>

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDirIterator>
#include <QEventLoop>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <thread>

using namespace imaging;

namespace {

constexpr int kImages = 200;
constexpr int kStepMs = 40;
constexpr int kCineFrames = 100;

// CPU time of every thread of the process, in milliseconds.
double ProcessCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

struct SeriesFiles
{
    QTemporaryDir dir;
    QStringList files;
};

// The series in `syntax`, written once per run.
const QStringList &Files(const QString &syntax)
{
    static std::map<QString, std::unique_ptr<SeriesFiles>> all;
    auto &entry = all[syntax];
    if (!entry) {
        entry = std::make_unique<SeriesFiles>();
        studygen::Options options;
        options.outDir = entry->dir.path();
        options.preset = QStringLiteral("ct-noise");
        options.images = kImages;
        options.syntax = syntax == QLatin1String("native") ? QString() : syntax;
        QString error;
        if (studygen::generate(options, &error)) {
            QDirIterator it(entry->dir.path() + QStringLiteral("/DICOM"), QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext())
                entry->files << it.next();
            entry->files.sort();
        }
    }
    return entry->files;
}

// The first kCineFrames slices of the series in `syntax` as the frames of one image, with
// a Frame Time of kStepMs; written once per run (empty path when it cannot be).
QString CineFile(const QString &syntax)
{
    static std::map<QString, QString> made;
    static QTemporaryDir dir;
    if (made.count(syntax))
        return made[syntax];
    QString &out = made[syntax];
    const QStringList &files = Files(syntax);
    if (files.size() < kCineFrames)
        return out;
    DcmFileFormat first;
    if (first.loadFile(files[0].toLocal8Bit().constData()).bad())
        return out;
    DcmDataset *ds = first.getDataset();
    const E_TransferSyntax xfer = ds->getOriginalXfer();
    const bool native = !DcmXfer(xfer).isEncapsulated();
    std::vector<Uint8> nativeBytes;
    auto *sequence = native ? nullptr : new DcmPixelSequence(DCM_PixelSequenceTag);
    DcmOffsetList offsets;
    if (sequence)
        sequence->insert(new DcmPixelItem(DCM_PixelItemTag)); // the offset table
    for (int i = 0; i < kCineFrames; ++i) {
        DcmFileFormat ff;
        ff.loadFile(files[i].toLocal8Bit().constData());
        ff.loadAllDataIntoMemory();
        DcmDataset *slice = ff.getDataset();
        DcmElement *el = nullptr;
        if (slice->findAndGetElement(DCM_PixelData, el).bad() || !el)
            break;
        if (native) {
            Uint8 *bytes = nullptr;
            el->getUint8Array(bytes);
            nativeBytes.insert(nativeBytes.end(), bytes, bytes + el->getLength());
            continue;
        }
        DcmPixelSequence *seq = nullptr;
        static_cast<DcmPixelData *>(el)->getEncapsulatedRepresentation(xfer, nullptr, seq);
        // The frame's fragments (after the offset table) joined into one.
        std::vector<Uint8> code;
        for (unsigned long k = 1; seq && k < seq->card(); ++k) {
            DcmPixelItem *item = nullptr;
            Uint8 *bytes = nullptr;
            seq->getItem(item, k);
            item->getUint8Array(bytes);
            code.insert(code.end(), bytes, bytes + item->getLength());
        }
        sequence->storeCompressedFrame(offsets, code.data(), static_cast<Uint32>(code.size()), 0);
    }
    OFCondition st = EC_Normal;
    if (native) {
        st = ds->putAndInsertUint16Array(DCM_PixelData, reinterpret_cast<const Uint16 *>(nativeBytes.data()),
                                         static_cast<unsigned long>(nativeBytes.size() / 2));
    } else {
        static_cast<DcmPixelItem *>(sequence->nextInContainer(nullptr))->createOffsetTable(offsets);
        auto *pixelData = new DcmPixelData(DCM_PixelData);
        pixelData->putOriginalRepresentation(xfer, nullptr, sequence);
        st = ds->insert(pixelData, OFTrue);
    }
    ds->putAndInsertString(DCM_NumberOfFrames, std::to_string(kCineFrames).c_str());
    ds->putAndInsertString(DCM_FrameTime, std::to_string(kStepMs).c_str());
    const QString path = dir.filePath(syntax + QStringLiteral(".dcm"));
    if (st.good() && first.saveFile(path.toLocal8Bit().constData(), xfer).good())
        out = path;
    return out;
}

// ---- bare decoding ----------------------------------------------------------------------

// OpenJPEG alone, on every core.
bool OpenJpegDecode(const std::vector<std::uint8_t> &code)
{
    opj_codec_t *codec = opj_create_decompress(OPJ_CODEC_J2K);
    opj_dparameters_t params;
    opj_set_default_decoder_parameters(&params);
    opj_setup_decoder(codec, &params);
    opj_codec_set_threads(codec, static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
    // The same memory stream as the component's (only the decoding is measured).
    opj_stream_t *stream = detail::OpenJpegMemoryStream(code.data(), code.size());
    opj_image_t *image = nullptr;
    bool ok = opj_read_header(stream, codec, &image) && opj_decode(codec, stream, image)
              && opj_end_decompress(codec, stream);
    if (ok)
        benchmark::DoNotOptimize(image->comps[0].data[0]);
    if (image)
        opj_image_destroy(image);
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    return ok;
}

void BM_BareDecode(benchmark::State &state, const QString &syntax)
{
    const QStringList &files = Files(syntax);
    if (files.size() != kImages) {
        state.SkipWithError("the series could not be generated");
        return;
    }
    CreateImages()->ReadFile(files[0]); // registers DCMTK's decoders as the component does
    std::vector<std::unique_ptr<DcmFileFormat>> loaded;
    std::vector<std::vector<std::uint8_t>> codes;
    for (const QString &f : files) {
        auto ff = std::make_unique<DcmFileFormat>();
        ff->loadFile(f.toLocal8Bit().constData());
        ff->loadAllDataIntoMemory();
        if (syntax == QLatin1String("jpeg2000")) {
            DcmElement *el = nullptr;
            DcmPixelSequence *seq = nullptr;
            DcmPixelItem *item = nullptr;
            Uint8 *bytes = nullptr;
            DcmDataset *ds = ff->getDataset();
            ds->findAndGetElement(DCM_PixelData, el);
            static_cast<DcmPixelData *>(el)->getEncapsulatedRepresentation(ds->getOriginalXfer(), nullptr, seq);
            seq->getItem(item, 1);
            item->getUint8Array(bytes);
            codes.emplace_back(bytes, bytes + item->getLength());
        }
        loaded.push_back(std::move(ff));
    }
    std::vector<Uint8> buffer(512 * 512 * 2);
    std::size_t i = 0;
    const double cpuStart = ProcessCpuMs();
    for (auto _ : state) {
        if (!codes.empty()) {
            if (!OpenJpegDecode(codes[i])) {
                state.SkipWithError("OpenJPEG failed");
                return;
            }
        } else {
            DcmDataset *ds = loaded[i]->getDataset();
            DcmElement *el = nullptr;
            ds->findAndGetElement(DCM_PixelData, el);
            Uint32 start = 0;
            OFString model;
            if (static_cast<DcmPixelData *>(el)
                    ->getUncompressedFrame(ds, 0, start, buffer.data(), static_cast<Uint32>(buffer.size()), model)
                    .bad()) {
                state.SkipWithError("DCMTK failed");
                return;
            }
            benchmark::DoNotOptimize(buffer[1000]);
        }
        i = (i + 1) % loaded.size();
    }
    state.counters["process_cpu_ms"] = benchmark::Counter(ProcessCpuMs() - cpuStart, benchmark::Counter::kAvgIterations);
    state.SetItemsProcessed(state.iterations());
}

// ---- stepping through the series in the control -----------------------------------------

struct Stepper
{
    std::unique_ptr<detail::ViewerLight> control;
    QImage surface{512, 512, QImage::Format_ARGB32_Premultiplied};

    explicit Stepper(const QStringList &files) : control(new detail::ViewerLight(nullptr))
    {
        control->resize(512, 512);
        control->SetCellSpacing(4);
        control->show();
        const DicomImagesPtr images = control->Images();
        for (const QString &f : files) {
            DicomImagePtr image = images->ReadFile(f);
            image->SetMinificationMode(3);
            image->SetMagnificationMode(3);
        }
        // The series opens on its first image.
        Show(1);
    }
    ~Stepper() { detail::DecodeAhead::instance().WaitIdle(60000); }
    void Show(int index)
    {
        control->SetCurrentIndex(index);
        control->render(&surface);
    }
    bool Decoded(int index) const
    {
        const detail::DecodeJob job = detail::DecodeJobOf(*control->Images()->Item(index));
        return detail::FrameCache::instance().get(job.source->id(), job.frame) != nullptr;
    }
};

void BM_StepHeld(benchmark::State &state, const QString &syntax)
{
    const QStringList &files = Files(syntax);
    if (files.size() != kImages) {
        state.SkipWithError("the series could not be generated");
        return;
    }
    Stepper stepper(files);
    int next = 2;
    const double cpuStart = ProcessCpuMs();
    for (auto _ : state)
        stepper.Show(next++);
    state.counters["process_cpu_ms"] = benchmark::Counter(ProcessCpuMs() - cpuStart, benchmark::Counter::kAvgIterations);
    state.SetItemsProcessed(state.iterations());
}

void BM_StepPaced(benchmark::State &state, const QString &syntax)
{
    const QStringList &files = Files(syntax);
    if (files.size() != kImages) {
        state.SkipWithError("the series could not be generated");
        return;
    }
    for (auto _ : state) {
        Stepper stepper(files);
        std::atomic<int> current{1}, direction{1}, ahead{0}, behind{0};
        std::map<const void *, int> positions;
        for (int i = 1; i <= kImages; ++i)
            positions[detail::DecodeJobOf(*stepper.control->Images()->Item(i)).source.get()] = i;
        detail::DecodeAhead::instance().SetBeforeDecode([&](const detail::DecodeJob &job) {
            ++ahead;
            const int at = positions.at(job.source.get());
            if ((direction > 0 && at < current) || (direction < 0 && at > current))
                ++behind;
        });
        std::vector<int> order;
        for (int i = 2; i <= kImages; ++i)
            order.push_back(i);
        for (int i = kImages - 1; i >= 1; --i)
            order.push_back(i);
        int waited = 0;
        double total = 0, worst = 0;
        QElapsedTimer clock;
        clock.start();
        qint64 due = 0;
        for (std::size_t k = 0; k < order.size(); ++k) {
            due += kStepMs;
            while (clock.elapsed() < due) {
                QCoreApplication::processEvents();
                QThread::msleep(1);
            }
            const int index = order[k];
            direction = k + 1 < static_cast<std::size_t>(kImages) ? 1 : -1;
            if (!stepper.Decoded(index))
                ++waited;
            QElapsedTimer step;
            step.start();
            current = index;
            stepper.Show(index);
            const double ms = static_cast<double>(step.nsecsElapsed()) / 1e6;
            total += ms;
            worst = std::max(worst, ms);
        }
        detail::DecodeAhead::instance().WaitIdle(60000);
        detail::DecodeAhead::instance().SetBeforeDecode({});
        state.SetIterationTime(total / static_cast<double>(order.size()) / 1000.0);
        state.counters["waited"] = waited;
        state.counters["max_step_ms"] = worst;
        state.counters["decodes_ahead"] = ahead.load();
        state.counters["decodes_behind"] = behind.load();
    }
}

void BM_CinePaced(benchmark::State &state, const QString &syntax)
{
    const QString file = CineFile(syntax);
    if (file.isEmpty()) {
        state.SkipWithError("the multi-frame image could not be made");
        return;
    }
    for (auto _ : state) {
        detail::ViewerLight control(nullptr);
        control.resize(512, 512);
        control.show();
        const DicomImagePtr image = control.Images()->ReadFile(file);
        image->SetMinificationMode(3);
        image->SetMagnificationMode(3);
        if (image->FrameCount() != kCineFrames) {
            state.SkipWithError("the multi-frame image has the wrong frame count");
            return;
        }
        // Drawn once on its first frame, as the cine window finds it.
        control.Refresh();
        const detail::DecodeJob job = detail::DecodeJobOf(*image);
        auto decoded = [&](int frame) { return detail::FrameCache::instance().get(job.source->id(), frame) != nullptr; };
        std::atomic<int> ahead{0};
        detail::DecodeAhead::instance().SetBeforeDecode([&](const detail::DecodeJob &) { ++ahead; });
        int waited = 0, steps = 0, undrawn = 0;
        qint64 skipped = 0, lastStep = 0;
        double total = 0, worst = 0;
        QElapsedTimer step;
        QEventLoop loop;
        control.OnFrameChanging = [&](int, int frame) {
            if (!decoded(frame))
                ++waited;
            step.start();
        };
        control.OnCineFrame = [&](int, int frame, qint64 number, qint64) {
            const double ms = static_cast<double>(step.nsecsElapsed()) / 1e6;
            total += ms;
            worst = std::max(worst, ms);
            ++steps;
            skipped += number - lastStep - 1;
            lastStep = number;
            if (!decoded(frame))
                ++undrawn; // the frame was not drawn: the figures would mean nothing
            if (frame == kCineFrames)
                loop.quit();
        };
        image->SetCineMode(1);
        loop.exec();
        image->SetCineMode(0);
        detail::DecodeAhead::instance().WaitIdle(60000);
        detail::DecodeAhead::instance().SetBeforeDecode({});
        if (undrawn > 0) {
            state.SkipWithError("the control did not draw the cine's frames");
            return;
        }
        state.SetIterationTime(total / std::max(1, steps) / 1000.0);
        state.counters["waited"] = waited;
        state.counters["skipped"] = static_cast<double>(skipped);
        state.counters["max_step_ms"] = worst;
        state.counters["decodes_ahead"] = ahead.load();
    }
}

void Register()
{
    for (const char *syntax : {"native", "jpeg2000", "jpegls", "jpeg14", "rle"}) {
        const QString s = QString::fromLatin1(syntax);
        benchmark::RegisterBenchmark((std::string("BM_BareDecode/") + syntax).c_str(), BM_BareDecode, s)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(kImages);
        benchmark::RegisterBenchmark((std::string("BM_StepHeld/") + syntax).c_str(), BM_StepHeld, s)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(kImages - 1);
        benchmark::RegisterBenchmark((std::string("BM_StepPaced/") + syntax).c_str(), BM_StepPaced, s)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime()
            ->Iterations(1);
        benchmark::RegisterBenchmark((std::string("BM_CinePaced/") + syntax).c_str(), BM_CinePaced, s)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime()
            ->Iterations(1);
    }
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Register();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
