#include "studygen.h"
#include "phantom.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcddirif.h>
#include <dcmtk/dcmdata/dcdicdir.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcmetinf.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcrleerg.h>
#include <dcmtk/dcmjpeg/ddpiimpl.h>
#include <dcmtk/dcmjpeg/djencode.h>
#include <dcmtk/dcmjpeg/djrplol.h>
#include <dcmtk/dcmjpls/djencode.h>
#include <openjpeg.h>
#include <dcmtk/oflog/oflog.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringConverter>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <vector>

namespace studygen {
namespace {

constexpr const char *kCT = "1.2.840.10008.5.1.4.1.1.2";
constexpr const char *kMR = "1.2.840.10008.5.1.4.1.1.4";
constexpr const char *kXA = "1.2.840.10008.5.1.4.1.1.12.1";
constexpr const char *kSC = "1.2.840.10008.5.1.4.1.1.7";
constexpr const char *kCR = "1.2.840.10008.5.1.4.1.1.1";
constexpr const char *kUS = "1.2.840.10008.5.1.4.1.1.6.1";

// DCMTK's logger prints an information line for every file that goes into a catalogue ("I: adding file:
// ..."); the generator's users (tests, benchmarks, the demo) want its warnings and errors only.
void QuietDcmtkLog()
{
    static const bool once = [] {
        OFLog::configure(OFLogger::WARN_LOG_LEVEL);
        return true;
    }();
    (void)once;
}

// Latin-1 bytes of a UTF-8 literal, as stored under ISO_IR 100.
std::string latin1(const QString &s)
{
    const QByteArray b = s.toLatin1();
    return std::string(b.constData(), static_cast<size_t>(b.size()));
}

std::string fmt(double v, int decimals = 6)
{
    QString s = QString::number(v, 'f', decimals);
    if (s.contains('.')) {
        while (s.endsWith('0'))
            s.chop(1);
        if (s.endsWith('.'))
            s.chop(1);
    }
    if (s == "-0")
        s = "0";
    return s.toStdString();
}

struct Patient
{
    QString name; // DICOM person name, with accents
    QString id;
    QString birth; // YYYYMMDD
    QString sex;
    QString age;
};

struct Study
{
    QString uid;
    QString id;
    QString date;
    QString time;
    QString description;
    QString accession;
    QString institution;
};

struct Series
{
    QString uid;
    int number = -1; // -1: no Series Number in the files
    QString modality;
    QString description;
    QString frameOfReference;
};

// One image to write: the pixel module plus a hook for modality attributes.
struct Image
{
    const char *sopClass = kCT;
    QString sopUid;
    int instanceNumber = 1;
    int rows = 0, cols = 0, frames = 1;
    int bitsAllocated = 16, bitsStored = 12, samples = 1;
    bool signedPixels = false;
    QString photometric = QStringLiteral("MONOCHROME2");
    std::vector<uint8_t> pixels;
    std::function<void(DcmDataset &)> extra;
    QJsonObject manifest; // filled with what tests may check
};

void put(DcmDataset &ds, const DcmTagKey &key, const std::string &value)
{
    ds.putAndInsertString(DcmTag(key), value.c_str());
}

void put(DcmDataset &ds, const DcmTagKey &key, const QString &value)
{
    put(ds, key, latin1(value));
}

// Patient-space geometry of a planar image.
struct Plane
{
    double ipp[3];
    double row[3]; // direction of increasing column index
    double col[3]; // direction of increasing row index
    double rowSpacing, colSpacing; // between rows, between columns

    void point(int c, int r, double out[3]) const
    {
        for (int a = 0; a < 3; ++a)
            out[a] = ipp[a] + c * colSpacing * row[a] + r * rowSpacing * col[a];
    }
    std::string orientation() const
    {
        return fmt(row[0]) + "\\" + fmt(row[1]) + "\\" + fmt(row[2]) + "\\" + fmt(col[0]) + "\\" +
               fmt(col[1]) + "\\" + fmt(col[2]);
    }
    std::string position() const { return fmt(ipp[0]) + "\\" + fmt(ipp[1]) + "\\" + fmt(ipp[2]); }
    std::string spacing() const { return fmt(rowSpacing, 7) + "\\" + fmt(colSpacing, 7); }
};

void putPlane(DcmDataset &ds, const Plane &p)
{
    put(ds, DCM_ImagePositionPatient, p.position());
    put(ds, DCM_ImageOrientationPatient, p.orientation());
    put(ds, DCM_PixelSpacing, p.spacing());
}

QJsonObject planeJson(const Plane &p)
{
    QJsonObject o;
    o["position"] = QJsonArray{p.ipp[0], p.ipp[1], p.ipp[2]};
    o["orientation"] = QJsonArray{p.row[0], p.row[1], p.row[2], p.col[0], p.col[1], p.col[2]};
    o["pixelSpacing"] = QJsonArray{p.rowSpacing, p.colSpacing};
    return o;
}

// Stored CT values: HU + 1024, rescale intercept -1024. With `noise` > 0, Gaussian noise
// of that standard deviation (HU) inside the body and a fifth of it in the air around,
// as a scanner's reconstruction gives; the values stay in 12 bits. `noiseSeed` makes
// each slice's noise its own and the same at every run.
std::vector<uint8_t> ctPixels(const Plane &p, int rows, int cols, double noise = 0, unsigned noiseSeed = 0)
{
    std::vector<uint8_t> px(static_cast<size_t>(rows) * cols * 2);
    std::mt19937 random(noiseSeed);
    std::normal_distribution<double> gauss(0.0, 1.0);
    double pt[3];
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            p.point(c, r, pt);
            int hu = Phantom::hu(pt[0], pt[1], pt[2]);
            if (noise > 0) {
                const double sigma = hu == Phantom::kAir ? noise / 5 : noise;
                hu = static_cast<int>(std::lround(hu + sigma * gauss(random)));
            }
            const uint16_t v = static_cast<uint16_t>(std::clamp(hu + 1024, 0, 4095));
            const size_t i = (static_cast<size_t>(r) * cols + c) * 2;
            px[i] = static_cast<uint8_t>(v & 0xff);
            px[i + 1] = static_cast<uint8_t>(v >> 8);
        }
    return px;
}

// MR signal by tissue and echo time (a crude T2 weighting).
int mrSignal(int hu, double te)
{
    double s0 = 0, t2 = 1;
    switch (hu) {
    case Phantom::kAir: return 0;
    case Phantom::kBone: s0 = 300; t2 = 40; break;
    case -100: s0 = 1400; t2 = 80; break; // fat
    case 200: s0 = 1000; t2 = 120; break;  // contrast
    case 50: s0 = 900; t2 = 45; break;     // muscle
    default: s0 = 1100; t2 = 200; break;   // water
    }
    return static_cast<int>(std::lround(s0 * std::exp(-te / t2)));
}

// DCMTK gives a new catalogue a random instance UID; replace it so that the
// same seed always writes the same bytes.
OFCondition fixCatalogueUid(const QString &path, const QString &uid)
{
    DcmDicomDir dd(path.toLocal8Bit().constData());
    if (dd.error().bad())
        return dd.error();
    DcmMetaInfo *meta = dd.getDirFileFormat().getMetaInfo();
    const std::string u = uid.toStdString();
    OFCondition st = meta->putAndInsertString(DCM_MediaStorageSOPInstanceUID, u.c_str());
    if (st.good())
        st = dd.write(EXS_LittleEndianExplicit, EET_UndefinedLength, EGL_withoutGL);
    return st;
}

// ---- compression ----------------------------------------------------------

struct ByteSink
{
    std::vector<uint8_t> bytes;
    size_t pos = 0;
    void reach(size_t end)
    {
        if (end > bytes.size())
            bytes.resize(end);
    }
};

OPJ_SIZE_T sinkWrite(void *buffer, OPJ_SIZE_T n, void *user)
{
    auto *s = static_cast<ByteSink *>(user);
    s->reach(s->pos + n);
    std::memcpy(s->bytes.data() + s->pos, buffer, n);
    s->pos += n;
    return n;
}

OPJ_OFF_T sinkSkip(OPJ_OFF_T n, void *user)
{
    auto *s = static_cast<ByteSink *>(user);
    s->pos = static_cast<size_t>(static_cast<OPJ_OFF_T>(s->pos) + n);
    s->reach(s->pos);
    return n;
}

OPJ_BOOL sinkSeek(OPJ_OFF_T n, void *user)
{
    auto *s = static_cast<ByteSink *>(user);
    s->pos = static_cast<size_t>(n);
    s->reach(s->pos);
    return OPJ_TRUE;
}

// One monochrome frame (8- or 16-bit little-endian samples) as a lossless JPEG 2000 code
// stream (reversible 5/3 wavelet, one quality layer).
bool encodeJpeg2000(const uint8_t *samples, const Image &img, std::vector<uint8_t> &out)
{
    opj_cparameters_t params;
    opj_set_default_encoder_parameters(&params);
    params.tcp_numlayers = 1;
    params.tcp_rates[0] = 0;
    params.cp_disto_alloc = 1;
    params.irreversible = 0;
    opj_image_cmptparm_t component;
    std::memset(&component, 0, sizeof component);
    component.dx = component.dy = 1;
    component.w = static_cast<OPJ_UINT32>(img.cols);
    component.h = static_cast<OPJ_UINT32>(img.rows);
    component.prec = static_cast<OPJ_UINT32>(img.bitsStored);
    component.sgnd = img.signedPixels ? 1 : 0;
    opj_image_t *image = opj_image_create(1, &component, OPJ_CLRSPC_GRAY);
    if (!image)
        return false;
    image->x0 = image->y0 = 0;
    image->x1 = component.w;
    image->y1 = component.h;
    const size_t count = static_cast<size_t>(img.rows) * img.cols;
    for (size_t i = 0; i < count; ++i) {
        int v;
        if (img.bitsAllocated == 8)
            v = img.signedPixels ? static_cast<int8_t>(samples[i]) : samples[i];
        else {
            const uint16_t w = static_cast<uint16_t>(samples[2 * i] | (samples[2 * i + 1] << 8));
            v = img.signedPixels ? static_cast<int16_t>(w) : w;
        }
        image->comps[0].data[i] = v;
    }
    opj_codec_t *codec = opj_create_compress(OPJ_CODEC_J2K);
    ByteSink sink;
    opj_stream_t *stream = opj_stream_create(1 << 20, OPJ_FALSE);
    opj_stream_set_user_data(stream, &sink, nullptr);
    opj_stream_set_write_function(stream, sinkWrite);
    opj_stream_set_skip_function(stream, sinkSkip);
    opj_stream_set_seek_function(stream, sinkSeek);
    const bool ok = opj_setup_encoder(codec, &params, image) && opj_start_compress(codec, image, stream)
                    && opj_encode(codec, stream) && opj_end_compress(codec, stream);
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    opj_image_destroy(image);
    if (!ok)
        return false;
    out = std::move(sink.bytes);
    return true;
}

void registerEncoders()
{
    static const bool once = [] {
        DJEncoderRegistration::registerCodecs();
        DJLSEncoderRegistration::registerCodecs();
        DcmRLEEncoderRegistration::registerCodecs();
        return true;
    }();
    (void)once;
}

// Puts the data set's native pixel data into `syntax` (lossless); sets `xfer` to the
// transfer syntax the file is to be written with.
bool compress(DcmDataset &ds, const Image &img, const QString &syntax, E_TransferSyntax &xfer, QString *error)
{
    xfer = EXS_LittleEndianExplicit;
    if (syntax.isEmpty())
        return true;
    registerEncoders();
    OFCondition st = EC_Normal;
    if (syntax == QLatin1String("jpegls")) {
        xfer = EXS_JPEGLSLossless;
        st = ds.chooseRepresentation(xfer, nullptr);
    } else if (syntax == QLatin1String("jpeg14")) {
        xfer = EXS_JPEGProcess14SV1;
        const DJ_RPLossless lossless(1, 0);
        st = ds.chooseRepresentation(xfer, &lossless);
    } else if (syntax == QLatin1String("rle")) {
        xfer = EXS_RLELossless;
        st = ds.chooseRepresentation(xfer, nullptr);
    } else if (syntax == QLatin1String("jpeg2000")) {
        xfer = EXS_JPEG2000LosslessOnly;
        if (img.samples != 1) {
            *error = QStringLiteral("jpeg2000: monochrome images only");
            return false;
        }
        auto *sequence = new DcmPixelSequence(DCM_PixelSequenceTag);
        sequence->insert(new DcmPixelItem(DCM_PixelItemTag)); // the offset table
        DcmOffsetList offsets;
        const size_t frameBytes = img.pixels.size() / static_cast<size_t>(img.frames);
        for (int f = 0; f < img.frames && st.good(); ++f) {
            std::vector<uint8_t> code;
            if (!encodeJpeg2000(img.pixels.data() + frameBytes * static_cast<size_t>(f), img, code)) {
                delete sequence;
                *error = QStringLiteral("jpeg2000: the encoder failed");
                return false;
            }
            st = sequence->storeCompressedFrame(offsets, code.data(), static_cast<Uint32>(code.size()), 0);
        }
        if (st.good() && img.frames > 1)
            st = static_cast<DcmPixelItem *>(sequence->nextInContainer(nullptr))->createOffsetTable(offsets);
        if (st.bad()) {
            delete sequence;
        } else {
            auto *pixelData = new DcmPixelData(DCM_PixelData);
            pixelData->putOriginalRepresentation(xfer, nullptr, sequence);
            st = ds.insert(pixelData, OFTrue);
        }
    } else {
        *error = QStringLiteral("unknown transfer syntax %1 (%2)").arg(syntax, syntaxes().join(", "));
        return false;
    }
    if (st.good() && !ds.canWriteXfer(xfer))
        st = EC_CannotChangeRepresentation;
    if (st.bad()) {
        *error = QStringLiteral("cannot compress to %1: %2").arg(syntax, QString::fromLatin1(st.text()));
        return false;
    }
    return true;
}

class Writer
{
public:
    Writer(QString root, unsigned seed, QString syntax = QString())
        : root_(std::move(root)), seed_(seed), syntax_(std::move(syntax))
    {
    }
    unsigned seed() const { return seed_; }

    QString uid() { return QStringLiteral("2.25.%1%2").arg(seed_).arg(++counter_, 8, 10, QChar('0')); }
    QString productUid()
    {
        return QString::fromLatin1(kProductUidRoot) + QStringLiteral("%1.%2").arg(seed_).arg(++counter_);
    }

    // Starts a new catalogue whose image files go under `imageFolder`.
    void beginCatalogue(const QString &catalogueName, const QString &imageFolder)
    {
        catalogue_ = catalogueName;
        imageFolder_ = imageFolder;
        studyIndex_ = 0;
        files_.clear();
        catalogueJson_ = QJsonObject();
        catalogueJson_["name"] = catalogueName;
        patientsJson_ = QJsonArray();
    }

    void beginPatient(const Patient &p)
    {
        flushPatient();
        patient_ = p;
        patientJson_ = QJsonObject();
        patientJson_["name"] = p.name;
        patientJson_["id"] = p.id;
        patientJson_["birth"] = p.birth;
        patientJson_["sex"] = p.sex;
        studiesJson_ = QJsonArray();
    }

    void beginStudy(const Study &s)
    {
        flushStudy();
        study_ = s;
        ++studyIndex_;
        seriesIndex_ = 0;
        studyJson_ = QJsonObject();
        studyJson_["uid"] = s.uid;
        studyJson_["id"] = s.id;
        studyJson_["description"] = s.description;
        studyJson_["accession"] = s.accession;
        studyJson_["folder"] = QStringLiteral("%1/ST%2").arg(imageFolder_).arg(studyIndex_, 6, 10, QChar('0'));
        seriesJson_ = QJsonArray();
    }

    void beginSeries(const Series &s)
    {
        flushSeries();
        series_ = s;
        ++seriesIndex_;
        imageIndex_ = 0;
        seriesObj_ = QJsonObject();
        seriesObj_["uid"] = s.uid;
        seriesObj_["number"] = s.number;
        seriesObj_["modality"] = s.modality;
        seriesObj_["description"] = s.description;
        imagesJson_ = QJsonArray();
    }

    bool write(Image img, QString *error)
    {
        ++imageIndex_;
        const QString rel = QStringLiteral("%1/ST%2/SE%3/IM%4")
                                .arg(imageFolder_)
                                .arg(studyIndex_, 6, 10, QChar('0'))
                                .arg(seriesIndex_, 6, 10, QChar('0'))
                                .arg(imageIndex_, 6, 10, QChar('0'));
        const QString path = root_ + "/" + rel;
        QDir().mkpath(QFileInfo(path).absolutePath());

        DcmFileFormat file;
        DcmDataset &ds = *file.getDataset();
        put(ds, DCM_SpecificCharacterSet, std::string("ISO_IR 100"));
        put(ds, DCM_SOPClassUID, std::string(img.sopClass));
        put(ds, DCM_SOPInstanceUID, img.sopUid);
        put(ds, DCM_StudyDate, study_.date);
        put(ds, DCM_StudyTime, study_.time);
        put(ds, DCM_AccessionNumber, study_.accession);
        put(ds, DCM_Modality, series_.modality);
        put(ds, DCM_Manufacturer, QStringLiteral("Fantômes Synthétiques"));
        put(ds, DCM_InstitutionName, study_.institution);
        put(ds, DCM_ReferringPhysicianName, QStringLiteral("Bérubé^Jacques"));
        put(ds, DCM_StudyDescription, study_.description);
        put(ds, DCM_SeriesDescription, series_.description);
        put(ds, DCM_PatientName, patient_.name);
        put(ds, DCM_PatientID, patient_.id);
        put(ds, DCM_PatientBirthDate, patient_.birth);
        put(ds, DCM_PatientSex, patient_.sex);
        put(ds, DCM_PatientAge, patient_.age);
        put(ds, DCM_StudyInstanceUID, study_.uid);
        put(ds, DCM_SeriesInstanceUID, series_.uid);
        put(ds, DCM_StudyID, study_.id);
        if (series_.number >= 0)
            put(ds, DCM_SeriesNumber, std::to_string(series_.number));
        put(ds, DCM_InstanceNumber, std::to_string(img.instanceNumber));
        if (!series_.frameOfReference.isEmpty())
            put(ds, DCM_FrameOfReferenceUID, series_.frameOfReference);
        put(ds, DCM_SamplesPerPixel, std::to_string(img.samples));
        put(ds, DCM_PhotometricInterpretation, img.photometric);
        if (img.samples > 1)
            put(ds, DCM_PlanarConfiguration, std::string("0"));
        ds.putAndInsertUint16(DCM_Rows, static_cast<Uint16>(img.rows));
        ds.putAndInsertUint16(DCM_Columns, static_cast<Uint16>(img.cols));
        ds.putAndInsertUint16(DCM_BitsAllocated, static_cast<Uint16>(img.bitsAllocated));
        ds.putAndInsertUint16(DCM_BitsStored, static_cast<Uint16>(img.bitsStored));
        ds.putAndInsertUint16(DCM_HighBit, static_cast<Uint16>(img.bitsStored - 1));
        ds.putAndInsertUint16(DCM_PixelRepresentation, img.signedPixels ? 1 : 0);
        if (img.frames > 1)
            put(ds, DCM_NumberOfFrames, std::to_string(img.frames));
        if (img.extra)
            img.extra(ds);
        const size_t expected = static_cast<size_t>(img.rows) * img.cols * img.frames * img.samples *
                                (img.bitsAllocated / 8);
        if (img.pixels.size() != expected) {
            *error = QStringLiteral("internal: pixel buffer size %1, expected %2").arg(img.pixels.size()).arg(expected);
            return false;
        }
        if (img.bitsAllocated == 8)
            ds.putAndInsertUint8Array(DCM_PixelData, img.pixels.data(), static_cast<unsigned long>(img.pixels.size()));
        else
            ds.putAndInsertUint16Array(DCM_PixelData, reinterpret_cast<const Uint16 *>(img.pixels.data()),
                                       static_cast<unsigned long>(img.pixels.size() / 2));

        E_TransferSyntax xfer = EXS_LittleEndianExplicit;
        if (!compress(ds, img, syntax_, xfer, error))
            return false;
        const OFCondition st = file.saveFile(path.toLocal8Bit().constData(), xfer);
        if (st.bad()) {
            *error = QStringLiteral("cannot write %1: %2").arg(path, QString::fromLatin1(st.text()));
            return false;
        }
        files_.push_back(rel);

        QJsonObject o = img.manifest;
        o["file"] = rel;
        o["sopClass"] = QString::fromLatin1(img.sopClass);
        o["instanceUID"] = img.sopUid;
        o["instanceNumber"] = img.instanceNumber;
        o["rows"] = img.rows;
        o["columns"] = img.cols;
        o["frames"] = img.frames;
        o["photometric"] = img.photometric;
        imagesJson_.append(o);
        return true;
    }

    // Writes the catalogue of every file since beginCatalogue.
    bool endCatalogue(QString *error)
    {
        flushPatient();
        catalogueJson_["patients"] = patientsJson_;
        cataloguesJson_.append(catalogueJson_);

        const QString dirPath = root_ + "/" + catalogue_;
        QFile::remove(dirPath);
        DicomDirInterface dd;
        DicomDirImageImplementation imagePlugin;
        dd.addImageSupport(&imagePlugin);
        // DCMTK cannot draw icons from JPEG 2000 files, nor put compressed files in a
        // general-purpose catalogue without this check turned off.
        dd.enableIconImageMode(syntax_.isEmpty() ? OFTrue : OFFalse);
        if (!syntax_.isEmpty())
            dd.disableTransferSyntaxCheck(OFFalse);
        dd.setIconSize(64);
        dd.enableInventMode(OFTrue); // a series without Series Number still gets a catalogue record
        dd.disableBackupMode();
        OFCondition st = dd.createNewDicomDir(DicomDirInterface::AP_GeneralPurpose,
                                              OFFilename(dirPath.toLocal8Bit().constData()),
                                              OFString("KORVANE_DEMO"));
        for (const QString &rel : files_) {
            if (st.bad())
                break;
            st = dd.addDicomFile(OFFilename(rel.toLocal8Bit().constData()),
                                 OFFilename(root_.toLocal8Bit().constData()));
        }
        if (st.good())
            st = dd.writeDicomDir();
        if (st.good())
            st = fixCatalogueUid(dirPath, uid());
        if (st.bad()) {
            *error = QStringLiteral("cannot write catalogue %1: %2").arg(dirPath, QString::fromLatin1(st.text()));
            return false;
        }
        return true;
    }

    QJsonArray catalogues() const { return cataloguesJson_; }
    const Series &series() const { return series_; }
    const Study &study() const { return study_; }

private:
    void flushSeries()
    {
        if (seriesObj_.isEmpty())
            return;
        seriesObj_["images"] = imagesJson_;
        seriesJson_.append(seriesObj_);
        seriesObj_ = QJsonObject();
    }
    void flushStudy()
    {
        flushSeries();
        if (studyJson_.isEmpty())
            return;
        studyJson_["series"] = seriesJson_;
        studiesJson_.append(studyJson_);
        studyJson_ = QJsonObject();
    }
    void flushPatient()
    {
        flushStudy();
        if (patientJson_.isEmpty())
            return;
        patientJson_["studies"] = studiesJson_;
        patientsJson_.append(patientJson_);
        patientJson_ = QJsonObject();
    }

    QString root_;
    unsigned seed_;
    QString syntax_;
    int counter_ = 0;
    QString catalogue_, imageFolder_;
    int studyIndex_ = 0, seriesIndex_ = 0, imageIndex_ = 0;
    QStringList files_;
    Patient patient_;
    Study study_;
    Series series_;
    QJsonObject catalogueJson_, patientJson_, studyJson_, seriesObj_;
    QJsonArray cataloguesJson_, patientsJson_, studiesJson_, seriesJson_, imagesJson_;
};

QJsonArray rodsJson()
{
    QJsonArray a;
    for (const Rod &r : Phantom::rods())
        a.append(QJsonObject{{"name", r.name}, {"x", r.x}, {"y", r.y}, {"radius", r.radius}, {"hu", r.hu}});
    return a;
}

// ---- series builders ------------------------------------------------------

// Noise (HU) of the ct-noise preset: about what a scanner leaves in soft tissue, so that
// the slices compress losslessly about as much as real CT (2.3:1 or so).
constexpr double kScannerNoise = 60.0;

struct CtSeriesParams
{
    int count = 20;
    int rows = 512, cols = 512;
    double pixel = 0.9765625;
    double z0 = -85.5;
    double step = 5.0;
    bool overlayOnFirst = false;
    double noise = 0; // HU, see ctPixels
};

bool axialCt(Writer &w, const CtSeriesParams &p, QString *error)
{
    for (int i = 0; i < p.count; ++i) {
        Plane plane{{-250.0, -250.0, p.z0 + i * p.step}, {1, 0, 0}, {0, 1, 0}, p.pixel, p.pixel};
        if (p.cols != 512) {
            // Keep the field of view centred on the body.
            plane.ipp[0] = -p.cols * p.pixel / 2.0;
            plane.ipp[1] = -p.rows * p.pixel / 2.0;
        }
        Image img;
        img.sopClass = kCT;
        img.sopUid = w.uid();
        img.instanceNumber = i + 1;
        img.rows = p.rows;
        img.cols = p.cols;
        img.pixels = ctPixels(plane, p.rows, p.cols, p.noise, w.seed() * 100003u + static_cast<unsigned>(i));
        const double thickness = p.step;
        img.extra = [plane, thickness, i](DcmDataset &ds) {
            putPlane(ds, plane);
            put(ds, DCM_ImageType, std::string("ORIGINAL\\PRIMARY\\AXIAL"));
            put(ds, DCM_SliceThickness, fmt(thickness));
            put(ds, DCM_SliceLocation, fmt(plane.ipp[2]));
            put(ds, DCM_KVP, std::string("120"));
            put(ds, DCM_XRayTubeCurrent, std::string("250"));
            put(ds, DCM_ExposureTime, std::string("1000"));
            put(ds, DCM_GantryDetectorTilt, std::string("0"));
            put(ds, DCM_ConvolutionKernel, std::string("STANDARD"));
            put(ds, DCM_BodyPartExamined, std::string("ABDOMEN"));
            put(ds, DCM_PatientPosition, std::string("HFS"));
            put(ds, DCM_ManufacturerModelName, std::string("Phantom CT 64"));
            put(ds, DCM_PositionReferenceIndicator, std::string(""));
            put(ds, DCM_RescaleIntercept, std::string("-1024"));
            put(ds, DCM_RescaleSlope, std::string("1"));
            put(ds, DCM_RescaleType, std::string("HU"));
            put(ds, DCM_WindowCenter, std::string("40"));
            put(ds, DCM_WindowWidth, std::string("400"));
            put(ds, DCM_AcquisitionNumber, std::string("1"));
            (void)i;
        };
        img.manifest = planeJson(plane);
        img.manifest["rescaleIntercept"] = -1024;
        img.manifest["rescaleSlope"] = 1;
        if (i == 0 && p.overlayOnFirst) {
            // A rectangle outline in overlay plane 6000.
            const int rows = p.rows, cols = p.cols;
            auto base = img.extra;
            img.extra = [base, rows, cols](DcmDataset &ds) {
                base(ds);
                ds.putAndInsertUint16(DcmTagKey(0x6000, 0x0010), static_cast<Uint16>(rows));
                ds.putAndInsertUint16(DcmTagKey(0x6000, 0x0011), static_cast<Uint16>(cols));
                ds.putAndInsertString(DcmTag(0x6000, 0x0040, EVR_CS), "G");
                ds.putAndInsertString(DcmTag(0x6000, 0x0050, EVR_SS), "1\\1");
                ds.putAndInsertUint16(DcmTagKey(0x6000, 0x0100), 1);
                ds.putAndInsertUint16(DcmTagKey(0x6000, 0x0102), 0);
                std::vector<Uint16> bits((static_cast<size_t>(rows) * cols + 15) / 16, 0);
                for (int r = 0; r < rows; ++r)
                    for (int c = 0; c < cols; ++c) {
                        const bool edge = (r >= rows / 8 && r <= rows * 7 / 8 && (c == cols / 8 || c == cols * 7 / 8)) ||
                                          (c >= cols / 8 && c <= cols * 7 / 8 && (r == rows / 8 || r == rows * 7 / 8));
                        if (edge) {
                            const size_t bit = static_cast<size_t>(r) * cols + c;
                            bits[bit / 16] |= static_cast<Uint16>(1u << (bit % 16));
                        }
                    }
                ds.putAndInsertUint16Array(DcmTag(0x6000, 0x3000, EVR_OW), bits.data(),
                                           static_cast<unsigned long>(bits.size()));
            };
            img.manifest["overlay"] = true;
        }
        if (!w.write(std::move(img), error))
            return false;
    }
    return true;
}

bool coronalCt(Writer &w, QString *error)
{
    const double ys[] = {-40.0, -20.0, 0.0, 20.0, 40.0};
    int n = 0;
    for (double y : ys) {
        const int rows = 256, cols = 512;
        Plane plane{{-250.0, y, 100.0}, {1, 0, 0}, {0, 0, -1}, 0.9765625, 0.9765625};
        Image img;
        img.sopClass = kCT;
        img.sopUid = w.uid();
        img.instanceNumber = ++n;
        img.rows = rows;
        img.cols = cols;
        img.pixels = ctPixels(plane, rows, cols);
        img.extra = [plane](DcmDataset &ds) {
            putPlane(ds, plane);
            put(ds, DCM_ImageType, std::string("DERIVED\\SECONDARY\\REFORMATTED"));
            put(ds, DCM_SliceThickness, std::string("2"));
            put(ds, DCM_KVP, std::string("120"));
            put(ds, DCM_ManufacturerModelName, std::string("Phantom CT 64"));
            put(ds, DCM_RescaleIntercept, std::string("-1024"));
            put(ds, DCM_RescaleSlope, std::string("1"));
            put(ds, DCM_WindowCenter, std::string("40"));
            put(ds, DCM_WindowWidth, std::string("400"));
        };
        img.manifest = planeJson(plane);
        if (!w.write(std::move(img), error))
            return false;
    }
    return true;
}

// Images alternate between the two echo times in instance order.
bool mrSeries(Writer &w, int count, QString *error)
{
    const int rows = 256, cols = 256;
    for (int k = 0; k < count; ++k) {
        const double te = (k % 2 == 0) ? 15.0 : 90.0;
        const int slice = k / 2;
        Plane plane{{-128.0, -128.0, -60.0 + slice * 6.0}, {1, 0, 0}, {0, 1, 0}, 1.0, 1.0};
        Image img;
        img.sopClass = kMR;
        img.sopUid = w.uid();
        img.instanceNumber = k + 1;
        img.rows = rows;
        img.cols = cols;
        img.pixels.resize(static_cast<size_t>(rows) * cols * 2);
        double pt[3];
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c) {
                plane.point(c, r, pt);
                const uint16_t v = static_cast<uint16_t>(mrSignal(Phantom::hu(pt[0], pt[1], pt[2]), te));
                const size_t i = (static_cast<size_t>(r) * cols + c) * 2;
                img.pixels[i] = static_cast<uint8_t>(v & 0xff);
                img.pixels[i + 1] = static_cast<uint8_t>(v >> 8);
            }
        img.extra = [plane, te](DcmDataset &ds) {
            putPlane(ds, plane);
            put(ds, DCM_ImageType, std::string("ORIGINAL\\PRIMARY\\M\\ND"));
            put(ds, DCM_ScanningSequence, std::string("SE"));
            put(ds, DCM_SequenceVariant, std::string("NONE"));
            put(ds, DCM_EchoTrainLength, std::string("8"));
            put(ds, DCM_RepetitionTime, std::string("3000"));
            put(ds, DCM_EchoTime, fmt(te));
            put(ds, DCM_SliceThickness, std::string("5"));
            put(ds, DCM_SpacingBetweenSlices, std::string("6"));
            // Older systems store the field strength in gauss; the viewer divides by 10000.
            put(ds, DCM_MagneticFieldStrength, std::string("15000"));
            put(ds, DCM_ReceiveCoilName, std::string("HEAD"));
            put(ds, DCM_ManufacturerModelName, std::string("Phantom MR 1.5"));
            put(ds, DCM_BodyPartExamined, std::string("HEAD"));
            put(ds, DCM_PatientPosition, std::string("HFS"));
            put(ds, DCM_WindowCenter, std::string("600"));
            put(ds, DCM_WindowWidth, std::string("1200"));
        };
        img.manifest = planeJson(plane);
        img.manifest["echoTime"] = te;
        if (!w.write(std::move(img), error))
            return false;
    }
    return true;
}

bool xaRun(Writer &w, QString *error)
{
    const int rows = 256, cols = 256, frames = 20;
    Image img;
    img.sopClass = kXA;
    img.sopUid = w.uid();
    img.instanceNumber = 1;
    img.rows = rows;
    img.cols = cols;
    img.frames = frames;
    img.bitsAllocated = 8;
    img.bitsStored = 8;
    img.pixels.resize(static_cast<size_t>(rows) * cols * frames);
    for (int f = 0; f < frames; ++f) {
        // A dark vessel that fills with contrast frame by frame.
        const int filled = (rows * (f + 1)) / frames;
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c) {
                const double centre = cols / 2.0 + 40.0 * std::sin(r / 40.0);
                const bool vessel = std::fabs(c - centre) < 6.0 && r < filled;
                const uint8_t bg = static_cast<uint8_t>(180 + (r + c) % 20);
                img.pixels[(static_cast<size_t>(f) * rows + r) * cols + c] = vessel ? 40 : bg;
            }
    }
    img.extra = [](DcmDataset &ds) {
        put(ds, DCM_ImageType, std::string("ORIGINAL\\PRIMARY\\SINGLE PLANE"));
        put(ds, DCM_FrameTime, std::string("50"));
        put(ds, DCM_CineRate, std::string("20"));
        ds.putAndInsertTagKey(DCM_FrameIncrementPointer, DCM_FrameTime);
        put(ds, DCM_PositionerPrimaryAngle, std::string("-30"));
        put(ds, DCM_PositionerSecondaryAngle, std::string("20"));
        put(ds, DCM_KVP, std::string("80"));
        put(ds, DCM_RadiationSetting, std::string("GR"));
        put(ds, DCM_ManufacturerModelName, std::string("Phantom Angio"));
        put(ds, DCM_WindowCenter, std::string("128"));
        put(ds, DCM_WindowWidth, std::string("256"));
    };
    img.manifest["frameTime"] = 50;
    img.manifest["primaryAngle"] = -30;
    img.manifest["secondaryAngle"] = 20;
    return w.write(std::move(img), error);
}

bool colourCapture(Writer &w, int instance, QString *error)
{
    const int rows = 128, cols = 128;
    Image img;
    img.sopClass = kSC;
    img.sopUid = w.uid();
    img.instanceNumber = instance;
    img.rows = rows;
    img.cols = cols;
    img.samples = 3;
    img.bitsAllocated = 8;
    img.bitsStored = 8;
    img.photometric = QStringLiteral("RGB");
    img.pixels.resize(static_cast<size_t>(rows) * cols * 3);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            uint8_t *p = &img.pixels[(static_cast<size_t>(r) * cols + c) * 3];
            // Four quadrants: red, green, blue, white.
            const bool top = r < rows / 2, left = c < cols / 2;
            p[0] = (top && left) || (!top && !left) ? 255 : 0;
            p[1] = (top && !left) || (!top && !left) ? 255 : 0;
            p[2] = (!top && left) || (!top && !left) ? 255 : 0;
        }
    img.extra = [](DcmDataset &ds) { put(ds, DCM_ConversionType, std::string("WSD")); };
    img.manifest["quadrants"] = QJsonArray{"red", "green", "blue", "white"};
    return w.write(std::move(img), error);
}

// A monochrome secondary capture with modality CT; with `comment`, the visit
// comment in the private attributes (0009,0001) and (0009,0003).
bool ctCapture(Writer &w, int instance, const QString &comment, QString *error)
{
    const int rows = 256, cols = 256;
    Plane plane{{-250.0, -250.0, -40.0}, {1, 0, 0}, {0, 1, 0}, 500.0 / 256, 500.0 / 256};
    Image img;
    img.sopClass = kSC;
    img.sopUid = w.uid();
    img.instanceNumber = instance;
    img.rows = rows;
    img.cols = cols;
    img.pixels = ctPixels(plane, rows, cols);
    img.extra = [comment](DcmDataset &ds) {
        put(ds, DCM_ConversionType, std::string("WSD"));
        put(ds, DCM_RescaleIntercept, std::string("-1024"));
        put(ds, DCM_RescaleSlope, std::string("1"));
        put(ds, DCM_WindowCenter, std::string("40"));
        put(ds, DCM_WindowWidth, std::string("400"));
        if (!comment.isEmpty()) {
            ds.putAndInsertString(DcmTag(0x0009, 0x0001, EVR_LO), "O");
            ds.putAndInsertString(DcmTag(0x0009, 0x0003, EVR_LO), latin1(comment).c_str());
        }
    };
    if (!comment.isEmpty())
        img.manifest["comment"] = comment;
    return w.write(std::move(img), error);
}

bool computedRadiography(Writer &w, QString *error)
{
    const int rows = 512, cols = 400;
    Image img;
    img.sopClass = kCR;
    img.sopUid = w.uid();
    img.instanceNumber = 1;
    img.rows = rows;
    img.cols = cols;
    img.pixels.resize(static_cast<size_t>(rows) * cols * 2);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            // Stored values: bright body, two darker lungs; rescale 2x - 100.
            const double dxl = (c - cols * 0.3) / (cols * 0.16), dxr = (c - cols * 0.7) / (cols * 0.16);
            const double dy = (r - rows * 0.45) / (rows * 0.3);
            int v = 1500;
            if (dxl * dxl + dy * dy < 1.0 || dxr * dxr + dy * dy < 1.0)
                v = 400;
            if (c < 20 || c >= cols - 20)
                v = 50;
            const size_t i = (static_cast<size_t>(r) * cols + c) * 2;
            img.pixels[i] = static_cast<uint8_t>(v & 0xff);
            img.pixels[i + 1] = static_cast<uint8_t>(v >> 8);
        }
    img.extra = [](DcmDataset &ds) {
        put(ds, DCM_ImageType, std::string("ORIGINAL\\PRIMARY"));
        put(ds, DCM_BodyPartExamined, std::string("CHEST"));
        put(ds, DCM_ViewPosition, std::string("PA"));
        put(ds, DCM_ImagerPixelSpacing, std::string("0.2\\0.2"));
        put(ds, DCM_RescaleIntercept, std::string("-100"));
        put(ds, DCM_RescaleSlope, std::string("2"));
        put(ds, DCM_RescaleType, std::string("US"));
        put(ds, DCM_WindowCenter, std::string("1500"));
        put(ds, DCM_WindowWidth, std::string("3000"));
        put(ds, DCM_ManufacturerModelName, std::string("Phantom CR"));
    };
    img.manifest["rescaleSlope"] = 2;
    img.manifest["rescaleIntercept"] = -100;
    img.manifest["lungStored"] = 400;
    img.manifest["bodyStored"] = 1500;
    return w.write(std::move(img), error);
}

// The reports file of a study: fields separated by "|", the first unused,
// then records of seven fields, in Windows-1252.
bool writeReports(const QString &root, const QString &accession, QString *error)
{
    const QString text = QStringLiteral(
        "KORVANE|Tomodensitométrie abdominale|OUI|2026-11-02|Dr Anne Martin|radiologiste|Rapport final|"
        "Indication : douleur abdominale.\r\nRésultat : pas d'anomalie décelée. Fantôme conforme.|"
        "Radiographie pulmonaire|NON|2026-10-15|Dr Paul Gagné|radiologiste|Rapport préliminaire||");
    QFile f(root + "/" + accession + ".RAP");
    if (!f.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write %1").arg(f.fileName());
        return false;
    }
    auto enc = QStringEncoder("Windows-1252");
    f.write(enc.encode(text));
    return true;
}

bool demoVisit(Writer &w, const Options &o, QJsonObject &info, QString *error)
{
    w.beginCatalogue(QStringLiteral("DICOMDIR"), QStringLiteral("DICOM"));

    const Patient helene{QStringLiteral("LEFÈVRE^Hélène"), QStringLiteral("KV000123"), QStringLiteral("19580412"),
                         QStringLiteral("F"), QStringLiteral("068Y")};
    w.beginPatient(helene);
    const QString accession = QStringLiteral("CT20261109001");
    Study main{w.uid(), QStringLiteral("4471"), QStringLiteral("20261109"), QStringLiteral("101500"),
               QStringLiteral("Abdomen et thorax"), accession, QStringLiteral("Clinique Sainte-Émilie")};
    w.beginStudy(main);
    info["mainStudyUID"] = main.uid;
    info["mainPatientID"] = helene.id;
    info["accession"] = accession;
    const QString frame = w.uid();

    w.beginSeries({w.uid(), 1, "CT", QStringLiteral("Abdomen axial"), frame});
    CtSeriesParams ct;
    ct.count = o.images > 0 ? o.images : 20;
    if (!axialCt(w, ct, error))
        return false;
    w.beginSeries({w.uid(), 2, "CT", QStringLiteral("Reconstruction coronale"), frame});
    if (!coronalCt(w, error))
        return false;
    w.beginSeries({w.uid(), 3, "MR", QStringLiteral("T2 double écho"), w.uid()});
    if (!mrSeries(w, 12, error))
        return false;
    w.beginSeries({w.uid(), 4, "XA", QStringLiteral("Angiographie"), QString()});
    if (!xaRun(w, error))
        return false;
    w.beginSeries({w.uid(), -1, "OT", QStringLiteral("Capture couleur"), QString()});
    if (!colourCapture(w, 1, error))
        return false;
    w.beginSeries({w.productUid(), 6, "CT", QStringLiteral("Images clés"), QString()});
    if (!ctCapture(w, 1, QStringLiteral("Patiente à jeun. Comparer avec l'examen précédent."), error))
        return false;
    w.beginSeries({w.uid(), 7, "CR", QStringLiteral("Thorax PA"), QString()});
    if (!computedRadiography(w, error))
        return false;
    if (!writeReports(QDir(o.outDir).absolutePath(), accession, error))
        return false;

    // The same patient's earlier study.
    Study earlier{w.uid(), QStringLiteral("4102"), QStringLiteral("20260315"), QStringLiteral("083000"),
                  QStringLiteral("Abdomen contrôle"), QStringLiteral("CT20260315004"),
                  QStringLiteral("Clinique Sainte-Émilie")};
    w.beginStudy(earlier);
    w.beginSeries({w.uid(), 1, "CT", QStringLiteral("Abdomen axial"), w.uid()});
    CtSeriesParams small;
    small.count = 4;
    small.rows = small.cols = 256;
    small.pixel = 500.0 / 256;
    if (!axialCt(w, small, error))
        return false;

    // A second patient.
    w.beginPatient({QStringLiteral("GÉRARD^François"), QStringLiteral("KV000456"), QStringLiteral("19710930"),
                    QStringLiteral("M"), QStringLiteral("055Y")});
    w.beginStudy({w.uid(), QStringLiteral("5120"), QStringLiteral("20261108"), QStringLiteral("154500"),
                  QStringLiteral("Thorax"), QStringLiteral("CR20261108017"), QStringLiteral("Hôpital Notre-Dame")});
    w.beginSeries({w.uid(), 1, "CT", QStringLiteral("Thorax axial"), w.uid()});
    CtSeriesParams chest = small;
    chest.count = 3;
    chest.z0 = -20.0;
    chest.overlayOnFirst = true;
    if (!axialCt(w, chest, error))
        return false;
    return w.endCatalogue(error);
}

bool largeVisit(Writer &w, const Options &o, QJsonObject &info, QString *error, double noise = 0)
{
    w.beginCatalogue(QStringLiteral("DICOMDIR"), QStringLiteral("DICOM"));
    w.beginPatient({QStringLiteral("MASSE^Étienne"), QStringLiteral("KV009999"), QStringLiteral("19660101"),
                    QStringLiteral("M"), QStringLiteral("060Y")});
    Study s{w.uid(), QStringLiteral("9001"), QStringLiteral("20261201"), QStringLiteral("090000"),
            QStringLiteral("Thorax-abdomen-pelvis"), QStringLiteral("CT20261201099"), QStringLiteral("Clinique")};
    w.beginStudy(s);
    info["mainStudyUID"] = s.uid;
    info["mainPatientID"] = QStringLiteral("KV009999");
    CtSeriesParams ct;
    ct.count = o.images > 0 ? o.images : noise > 0 ? 200 : 1000;
    ct.step = ct.count <= 60 ? 5.0 : 300.0 / ct.count;
    ct.noise = noise;
    w.beginSeries({w.uid(), 1, "CT", QStringLiteral("TAP axial"), w.uid()});
    if (!axialCt(w, ct, error))
        return false;
    return w.endCatalogue(error);
}

// Images whose pixels are not square, each showing a disc that is round only when the
// pixel's shape is honoured: an ultrasound-like image with Pixel Aspect Ratio 3\2
// (pixels half as tall again as wide) and a radiograph whose Pixel Spacing is 0.2 mm
// between rows and 0.1 mm between columns.
bool discImage(Writer &w, const char *sopClass, int rows, int cols, double rowStretch, int bits,
               const std::function<void(DcmDataset &)> &extra, QString *error)
{
    Image img;
    img.sopClass = sopClass;
    img.sopUid = w.uid();
    img.instanceNumber = 1;
    img.rows = rows;
    img.cols = cols;
    img.bitsAllocated = bits;
    img.bitsStored = bits == 8 ? 8 : 12;
    const int bytes = bits / 8;
    img.pixels.resize(static_cast<size_t>(rows) * cols * bytes);
    // The disc's radius is a third of the picture's smaller side, in column widths.
    const double radius = std::min(double(cols), rows * rowStretch) / 3;
    const int inside = bits == 8 ? 230 : 3000, outside = bits == 8 ? 30 : 300;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            const double dx = (c + 0.5 - cols / 2.0) / radius;
            const double dy = (r + 0.5 - rows / 2.0) * rowStretch / radius;
            const int v = dx * dx + dy * dy <= 1.0 ? inside : outside;
            const size_t i = (static_cast<size_t>(r) * cols + c) * bytes;
            img.pixels[i] = static_cast<uint8_t>(v & 0xff);
            if (bytes == 2)
                img.pixels[i + 1] = static_cast<uint8_t>(v >> 8);
        }
    img.extra = extra;
    img.manifest["discRadiusColumns"] = radius;
    img.manifest["discRadiusRows"] = radius / rowStretch;
    img.manifest["pixelAspect"] = rowStretch;
    return w.write(std::move(img), error);
}

// One angiography run of 20 frames: a multi-frame image for the cine, in any syntax.
bool cineVisit(Writer &w, QJsonObject &info, QString *error)
{
    w.beginCatalogue(QStringLiteral("DICOMDIR"), QStringLiteral("DICOM"));
    w.beginPatient({QStringLiteral("GARNIER^Paul"), QStringLiteral("KV000777"), QStringLiteral("19610203"),
                    QStringLiteral("M"), QStringLiteral("065Y")});
    Study s{w.uid(), QStringLiteral("7002"), QStringLiteral("20261119"), QStringLiteral("141500"),
            QStringLiteral("Coronarographie"), QStringLiteral("XA20261119001"), QStringLiteral("Clinique")};
    w.beginStudy(s);
    info["mainStudyUID"] = s.uid;
    info["mainPatientID"] = QStringLiteral("KV000777");
    w.beginSeries({w.uid(), 1, "XA", QStringLiteral("Angiographie"), QString()});
    return xaRun(w, error);
}

bool nonSquareVisit(Writer &w, const Options &, QJsonObject &info, QString *error)
{
    w.beginCatalogue(QStringLiteral("DICOMDIR"), QStringLiteral("DICOM"));
    w.beginPatient({QStringLiteral("MOREAU^Claire"), QStringLiteral("KV000555"), QStringLiteral("19850620"),
                    QStringLiteral("F"), QStringLiteral("041Y")});
    Study s{w.uid(), QStringLiteral("7001"), QStringLiteral("20261118"), QStringLiteral("093000"),
            QStringLiteral("Échographie et radiographie"), QStringLiteral("US20261118002"), QStringLiteral("Clinique")};
    w.beginStudy(s);
    info["mainStudyUID"] = s.uid;
    info["mainPatientID"] = QStringLiteral("KV000555");
    w.beginSeries({w.uid(), 1, "US", QStringLiteral("Échographie"), QString()});
    if (!discImage(w, kUS, 240, 320, 1.5, 8, [](DcmDataset &ds) {
            put(ds, DCM_PixelAspectRatio, std::string("3\\2"));
            put(ds, DCM_WindowCenter, std::string("128"));
            put(ds, DCM_WindowWidth, std::string("256"));
            put(ds, DCM_ManufacturerModelName, std::string("Phantom US"));
        }, error))
        return false;
    w.beginSeries({w.uid(), 2, "CR", QStringLiteral("Radiographie"), QString()});
    if (!discImage(w, kCR, 300, 500, 2.0, 16, [](DcmDataset &ds) {
            put(ds, DCM_PixelSpacing, std::string("0.2\\0.1"));
            put(ds, DCM_ImagerPixelSpacing, std::string("0.2\\0.1"));
            put(ds, DCM_RescaleIntercept, std::string("0"));
            put(ds, DCM_RescaleSlope, std::string("1"));
            put(ds, DCM_WindowCenter, std::string("1650"));
            put(ds, DCM_WindowWidth, std::string("3300"));
            put(ds, DCM_ViewPosition, std::string("PA"));
            put(ds, DCM_ManufacturerModelName, std::string("Phantom CR"));
        }, error))
        return false;
    return w.endCatalogue(error);
}

// Two catalogues side by side: "DICOMDIR" and "DICOMDIR.B".
bool mixedVisits(Writer &w, const Options &o, QJsonObject &info, QString *error)
{
    w.beginCatalogue(QStringLiteral("DICOMDIR"), QStringLiteral("DICOM"));
    w.beginPatient({QStringLiteral("DUPONT^Émile"), QStringLiteral("KV000777"), QStringLiteral("19800214"),
                    QStringLiteral("M"), QStringLiteral("046Y")});
    Study a{w.uid(), QStringLiteral("6001"), QStringLiteral("20261120"), QStringLiteral("110000"),
            QStringLiteral("Crâne"), QStringLiteral("MR20261120003"), QStringLiteral("Clinique")};
    w.beginStudy(a);
    info["mainStudyUID"] = a.uid;
    info["mainPatientID"] = QStringLiteral("KV000777");
    CtSeriesParams ct;
    ct.count = o.images > 0 ? o.images : 6;
    ct.rows = ct.cols = 256;
    ct.pixel = 500.0 / 256;
    w.beginSeries({w.uid(), 1, "CT", QStringLiteral("Axial"), w.uid()});
    if (!axialCt(w, ct, error))
        return false;
    w.beginSeries({w.uid(), 2, "MR", QStringLiteral("T2"), w.uid()});
    if (!mrSeries(w, 4, error))
        return false;
    if (!w.endCatalogue(error))
        return false;

    w.beginCatalogue(QStringLiteral("DICOMDIR.B"), QStringLiteral("DICOMB"));
    w.beginPatient({QStringLiteral("ROUX^Zoé"), QStringLiteral("KV000888"), QStringLiteral("19920707"),
                    QStringLiteral("F"), QStringLiteral("034Y")});
    w.beginStudy({w.uid(), QStringLiteral("6002"), QStringLiteral("20261121"), QStringLiteral("143000"),
                  QStringLiteral("Abdomen"), QStringLiteral("CT20261121008"), QStringLiteral("Clinique")});
    ct.count = 4;
    w.beginSeries({w.uid(), 1, "CT", QStringLiteral("Axial"), w.uid()});
    if (!axialCt(w, ct, error))
        return false;
    return w.endCatalogue(error);
}

} // namespace

QStringList syntaxes()
{
    return {QStringLiteral("jpeg2000"), QStringLiteral("jpegls"), QStringLiteral("jpeg14"), QStringLiteral("rle")};
}

bool generate(const Options &options, QString *error)
{
    QuietDcmtkLog();
    QDir out(options.outDir);
    if (!out.mkpath(QStringLiteral("."))) {
        *error = QStringLiteral("cannot create %1").arg(options.outDir);
        return false;
    }
    const QString root = out.absolutePath();
    Writer w(root, options.seed, options.syntax);
    if (!options.syntax.isEmpty() && !syntaxes().contains(options.syntax)) {
        *error = QStringLiteral("unknown transfer syntax %1 (%2)").arg(options.syntax, syntaxes().join(", "));
        return false;
    }
    QJsonObject info;
    info["preset"] = options.preset;
    info["seed"] = static_cast<int>(options.seed);
    info["productUidRoot"] = QString::fromLatin1(kProductUidRoot);
    info["rods"] = rodsJson();
    bool ok = false;
    if (options.preset == QLatin1String("demo"))
        ok = demoVisit(w, options, info, error);
    else if (options.preset == QLatin1String("ct-large"))
        ok = largeVisit(w, options, info, error);
    else if (options.preset == QLatin1String("ct-noise"))
        ok = largeVisit(w, options, info, error, kScannerNoise);
    else if (options.preset == QLatin1String("mixed"))
        ok = mixedVisits(w, options, info, error);
    else if (options.preset == QLatin1String("nonsquare"))
        ok = nonSquareVisit(w, options, info, error);
    else if (options.preset == QLatin1String("cine"))
        ok = cineVisit(w, info, error);
    else
        *error = QStringLiteral("unknown preset %1 (demo, ct-large, ct-noise, mixed, nonsquare, cine)").arg(options.preset);
    if (!ok)
        return false;
    info["catalogues"] = w.catalogues();
    QFile manifest(root + "/manifest.json");
    if (!manifest.open(QIODevice::WriteOnly) ||
        manifest.write(QJsonDocument(info).toJson()) < 0) {
        *error = QStringLiteral("cannot write %1").arg(manifest.fileName());
        return false;
    }
    return true;
}

// ---- read-back ------------------------------------------------------------

namespace {

QString text(DcmItem *item, const DcmTagKey &key)
{
    OFString v;
    if (item->findAndGetOFStringArray(key, v).bad())
        return {};
    return QString::fromLatin1(v.c_str()).trimmed();
}

} // namespace

int summarize(const QString &folder, QStringList *lines)
{
    QuietDcmtkLog();
    QDir dir(folder);
    const QStringList catalogues =
        dir.entryList({QStringLiteral("DICOMDIR"), QStringLiteral("DICOMDIR.*")}, QDir::Files, QDir::Name);
    if (catalogues.isEmpty()) {
        lines->append(QStringLiteral("no DICOMDIR in %1").arg(dir.absolutePath()));
        return -1;
    }
    int problems = 0;
    for (const QString &name : catalogues) {
        DcmDicomDir dd(dir.absoluteFilePath(name).toLocal8Bit().constData());
        if (dd.error().bad()) {
            lines->append(QStringLiteral("%1: unreadable (%2)").arg(name, QString::fromLatin1(dd.error().text())));
            ++problems;
            continue;
        }
        lines->append(QStringLiteral("Catalogue %1").arg(name));
        DcmDirectoryRecord &root = dd.getRootRecord();
        for (unsigned long p = 0; p < root.cardSub(); ++p) {
            DcmDirectoryRecord *pat = root.getSub(p);
            lines->append(QStringLiteral("  Patient %1 (%2)").arg(text(pat, DCM_PatientName), text(pat, DCM_PatientID)));
            for (unsigned long s = 0; s < pat->cardSub(); ++s) {
                DcmDirectoryRecord *st = pat->getSub(s);
                lines->append(QStringLiteral("    Study %1 %2 [%3]")
                                  .arg(text(st, DCM_StudyDate), text(st, DCM_StudyDescription), text(st, DCM_StudyInstanceUID)));
                for (unsigned long e = 0; e < st->cardSub(); ++e) {
                    DcmDirectoryRecord *se = st->getSub(e);
                    int missing = 0;
                    for (unsigned long i = 0; i < se->cardSub(); ++i) {
                        QString rel = text(se->getSub(i), DCM_ReferencedFileID);
                        rel.replace('\\', '/');
                        if (!QFileInfo::exists(dir.absoluteFilePath(rel)))
                            ++missing;
                    }
                    problems += missing;
                    lines->append(QStringLiteral("      Series %1 %2 %3: %4 image(s)%5")
                                      .arg(text(se, DCM_SeriesNumber), text(se, DCM_Modality),
                                           text(se, DCM_SeriesDescription))
                                      .arg(se->cardSub())
                                      .arg(missing ? QStringLiteral(", %1 missing").arg(missing) : QString()));
                }
            }
        }
    }
    return problems;
}

} // namespace studygen
