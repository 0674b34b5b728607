// DCMTK set-up, text decoding and small attribute readers.

#include "internal.h"

#include <dcmtk/dcmdata/dcrledrg.h>
#include <dcmtk/dcmdata/dcspchrs.h>
#include <dcmtk/dcmjpeg/djdecode.h>
#include <dcmtk/dcmjpls/djdecode.h>
#include <dcmtk/oflog/oflog.h>

#include <QFile>
#include <zlib.h>
#include <QHash>

#include <mutex>

namespace imaging::detail {

void EnsureDcmtkInitialised()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // DCMTK logs parse warnings of odd files to the console; the component reports
        // failures through its own errors instead.
        OFLog::configure(OFLogger::FATAL_LOG_LEVEL);

        DJDecoderRegistration::registerCodecs(EDC_photometricInterpretation, EUC_default,
                                              EPC_default, OFFalse);
        DJLSDecoderRegistration::registerCodecs();
        DcmRLEDecoderRegistration::registerCodecs();
    });
}

DataRootPtr NewEmptyRoot()
{
    auto root = std::make_shared<DataRoot>();
    root->file = std::make_unique<DcmFileFormat>();
    return root;
}

namespace {

bool IsPlainAscii(const OFString &s)
{
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x80 || c == 0x1B)
            return false;
    }
    return true;
}

// Specific Character Set in force for an item: its own, else its parents'.
OFString CharsetOf(DcmItem *item)
{
    for (DcmItem *it = item; it; it = it->getParentItem()) {
        OFString cs;
        if (it->findAndGetOFStringArray(DCM_SpecificCharacterSet, cs, OFFalse).good())
            return cs;
        if (!it->getParent())
            break;
    }
    return OFString();
}

// Converters are costly to set up; keep one per character set text per thread.
QString Convert(const OFString &charset, const OFString &raw)
{
    thread_local QHash<QByteArray, std::shared_ptr<DcmSpecificCharacterSet>> converters;
    QByteArray key(charset.c_str(), static_cast<int>(charset.size()));
    auto it = converters.find(key);
    if (it == converters.end()) {
        auto conv = std::make_shared<DcmSpecificCharacterSet>();
        if (conv->selectCharacterSet(charset).bad())
            conv.reset();
        it = converters.insert(key, conv);
    }
    if (*it) {
        OFString out;
        if ((*it)->convertString(raw, out, "\\^=").good())
            return QString::fromUtf8(out.c_str(), static_cast<qsizetype>(out.size()));
    }
    return QString();
}

} // namespace

namespace {

// Walks explicit VR little-endian elements of a data set held in memory (items entered,
// encapsulated fragments skipped) and answers false when a value runs past the end.
// Anything it does not understand ends the walk with true: only sure faults count.
bool DataSetFits(const QByteArray &data, qsizetype pos)
{
    auto u16 = [&](qsizetype at) {
        return static_cast<quint32>(static_cast<quint8>(data[at])) | (static_cast<quint32>(static_cast<quint8>(data[at + 1])) << 8);
    };
    auto u32 = [&](qsizetype at) { return static_cast<quint64>(u16(at)) | (static_cast<quint64>(u16(at + 2)) << 16); };
    static const char *shortVRs[] = {"AE", "AS", "AT", "CS", "DA", "DS", "DT", "FL", "FD", "IS", "LO",
                                      "LT", "PN", "SH", "SL", "SS", "ST", "TM", "UI", "UL", "US"};
    const qsizetype end = data.size();
    bool fragments = false; // inside encapsulated pixel data
    while (pos + 8 <= end) {
        const quint32 group = u16(pos), element = u16(pos + 2);
        if (group == 0xFFFE) {
            const quint64 length = u32(pos + 4);
            if (element == 0xE0DD) { // sequence delimiter
                fragments = false;
                pos += 8;
            } else if (element == 0xE000 && fragments) {
                if (length == 0xFFFFFFFFu || pos + 8 + static_cast<qint64>(length) > end)
                    return false;
                pos += 8 + static_cast<qsizetype>(length);
            } else {
                pos += 8; // an item (entered) or an item delimiter
            }
            continue;
        }
        if (fragments)
            return true;
        const QByteArray vr = data.mid(pos + 4, 2);
        if (vr.size() < 2 || vr[0] < 'A' || vr[0] > 'Z' || vr[1] < 'A' || vr[1] > 'Z')
            return true;
        bool isShort = false;
        for (const char *v : shortVRs)
            isShort = isShort || vr == v;
        quint64 length;
        qsizetype header;
        if (isShort) {
            length = u16(pos + 6);
            header = 8;
        } else {
            if (pos + 12 > end)
                return false;
            length = u32(pos + 8);
            header = 12;
        }
        if (length == 0xFFFFFFFFu) {
            if (vr == "SQ") {
                pos += header;
            } else if (vr == "OB" || vr == "OW") {
                fragments = true;
                pos += header;
            } else {
                return true;
            }
            continue;
        }
        if (pos + header + static_cast<qint64>(length) > end)
            return false;
        pos += header + (vr == "SQ" ? 0 : static_cast<qsizetype>(length));
    }
    return true;
}

// A deflated data set, inflated with a cap on its size; empty when it cannot be.
QByteArray Inflate(const QByteArray &compressed, qsizetype cap)
{
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
        return QByteArray();
    QByteArray out;
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(compressed.constData()));
    z.avail_in = static_cast<uInt>(compressed.size());
    char chunk[65536];
    int rc = Z_OK;
    while (rc == Z_OK && out.size() <= cap) {
        z.next_out = reinterpret_cast<Bytef *>(chunk);
        z.avail_out = sizeof chunk;
        rc = inflate(&z, Z_NO_FLUSH);
        out.append(chunk, static_cast<qsizetype>(sizeof chunk - z.avail_out));
        if (rc == Z_BUF_ERROR && z.avail_in == 0)
            break;
    }
    inflateEnd(&z);
    return out.size() > cap ? QByteArray() : out;
}

} // namespace

bool MetaHeaderFits(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return true; // the reader reports what is wrong with it
    const qint64 size = f.size();
    const QByteArray head = f.read(16 * 1024);
    if (head.size() < 132 || head.mid(128, 4) != "DICM")
        return true;
    auto u16 = [&](qsizetype at) {
        return static_cast<quint32>(static_cast<quint8>(head[at])) | (static_cast<quint32>(static_cast<quint8>(head[at + 1])) << 8);
    };
    static const char *shortVRs[] = {"AE", "AS", "AT", "CS", "DA", "DS", "DT", "FL", "FD", "IS", "LO",
                                      "LT", "PN", "SH", "SL", "SS", "ST", "TM", "UI", "UL", "US"};
    // DCMTK loads every value of the meta header whole, at the length it declares, and
    // the first element after it too: those must fit in the file. The meta header is the
    // group length it states (else its group 0002 elements), explicit VR little endian.
    auto isShort = [&](const QByteArray &vr) {
        for (const char *v : shortVRs)
            if (vr == v)
                return true;
        return false;
    };
    qsizetype pos = 132;
    qint64 metaEnd = -1;
    QByteArray syntax;
    while (pos + 8 <= head.size()) {
        const quint32 group = u16(pos);
        if (metaEnd < 0 ? group != 0x0002 : pos >= metaEnd)
            break;
        const QByteArray vr = head.mid(pos + 4, 2);
        quint64 length;
        qsizetype header;
        if (isShort(vr)) {
            length = u16(pos + 6);
            header = 8;
        } else {
            if (pos + 12 > head.size())
                return true;
            length = u16(pos + 8) | (static_cast<quint64>(u16(pos + 10)) << 16);
            header = 12;
        }
        if (length == 0xFFFFFFFFu)
            return true;
        if (pos + header + static_cast<qint64>(length) > size)
            return false;
        if (group == 0x0002 && u16(pos + 2) == 0 && length == 4 && pos + 12 <= head.size())
            metaEnd = pos + 12 + static_cast<qint64>(u16(pos + 8) | (static_cast<quint64>(u16(pos + 10)) << 16));
        if (group == 0x0002 && u16(pos + 2) == 0x0010)
            syntax = head.mid(pos + header, static_cast<qsizetype>(length)).trimmed();
        pos += header + static_cast<qsizetype>(length);
    }
    while (syntax.endsWith('\0'))
        syntax.chop(1);
    if (syntax == "1.2.840.10008.1.2.1.99") {
        // Deflated: DCMTK cannot defer values of a compressed stream and reserves every
        // declared length. Inflate here (at most 256 MiB) and check the lengths first.
        if (size > 256ll * 1024 * 1024)
            return false;
        f.seek(pos);
        const QByteArray inflated = Inflate(f.readAll(), 256ll * 1024 * 1024);
        return !inflated.isEmpty() && DataSetFits(inflated, 0);
    }
    // The first data set element, in the encoding the meta header announces.
    if (pos + 12 > head.size())
        return true;
    quint64 length;
    qsizetype header = 8;
    if (syntax == "1.2.840.10008.1.2") {
        length = u16(pos + 4) | (static_cast<quint64>(u16(pos + 6)) << 16);
    } else {
        const bool big = syntax == "1.2.840.10008.1.2.2";
        auto be16 = [&](qsizetype at) {
            return (static_cast<quint32>(static_cast<quint8>(head[at])) << 8) | static_cast<quint8>(head[at + 1]);
        };
        const QByteArray vr = head.mid(pos + 4, 2);
        if (isShort(vr)) {
            length = big ? be16(pos + 6) : u16(pos + 6);
        } else {
            length = big ? (static_cast<quint64>(be16(pos + 8)) << 16) | be16(pos + 10)
                         : u16(pos + 8) | (static_cast<quint64>(u16(pos + 10)) << 16);
            header = 12;
        }
    }
    return length == 0xFFFFFFFFu || pos + header + static_cast<qint64>(length) <= size;
}

QString DecodeText(DcmItem *item, const OFString &raw)
{
    if (IsPlainAscii(raw))
        return QString::fromLatin1(raw.c_str(), static_cast<qsizetype>(raw.size()));
    OFString cs = item ? CharsetOf(item) : OFString();
    // Files without a character set that still carry 8-bit texts are, in practice,
    // Latin-1 (the French workstations this kit serves write them so).
    if (cs.empty())
        cs = "ISO_IR 100";
    QString s = Convert(cs, raw);
    if (s.isNull() && cs != "ISO_IR 100")
        s = Convert("ISO_IR 100", raw);
    if (s.isNull())
        s = QString::fromLatin1(raw.c_str(), static_cast<qsizetype>(raw.size()));
    return s;
}

DcmElement *EffectiveElement(DcmElement *el, std::unique_ptr<DcmElement> &holder)
{
    if (!el || el->ident() != EVR_UN)
        return el;
    // Some writers store known attributes as UN: read them with their dictionary VR.
    DcmTag tag(el->getTag().getXTag());
    const DcmEVR vr = tag.getEVR();
    if (vr == EVR_UN || vr == EVR_UNKNOWN || vr == EVR_UNKNOWN2B || vr == EVR_SQ || vr == EVR_ox
        || vr == EVR_xs || vr == EVR_lt || vr == EVR_OB || vr == EVR_OW || vr == EVR_na)
        return el;
    Uint8 *bytes = nullptr;
    const Uint32 len = el->getLength();
    if (len > 1024 * 1024 || (len > 0 && (el->getUint8Array(bytes).bad() || !bytes)))
        return el;
    DcmElement *typed = nullptr;
    if (DcmItem::newDicomElement(typed, tag).bad() || !typed || typed->ident() != vr) {
        delete typed;
        return el;
    }
    holder.reset(typed);
    OFCondition c = EC_Normal;
    if (len == 0)
        return typed;
    switch (vr) {
    // UN values are little-endian, as this machine.
    case EVR_US: c = typed->putUint16Array(reinterpret_cast<const Uint16 *>(bytes), len / 2); break;
    case EVR_SS: c = typed->putSint16Array(reinterpret_cast<const Sint16 *>(bytes), len / 2); break;
    case EVR_UL: c = typed->putUint32Array(reinterpret_cast<const Uint32 *>(bytes), len / 4); break;
    case EVR_SL: c = typed->putSint32Array(reinterpret_cast<const Sint32 *>(bytes), len / 4); break;
    case EVR_FL: c = typed->putFloat32Array(reinterpret_cast<const Float32 *>(bytes), len / 4); break;
    case EVR_FD: c = typed->putFloat64Array(reinterpret_cast<const Float64 *>(bytes), len / 8); break;
    case EVR_AT: c = EC_IllegalCall; break;
    default:
        c = typed->putString(reinterpret_cast<const char *>(bytes), len);
        break;
    }
    if (c.bad()) {
        holder.reset();
        return el;
    }
    return typed;
}

QString ItemText(DcmItem *item, const DcmTagKey &key)
{
    if (!item)
        return QString();
    DcmElement *el = nullptr;
    if (item->findAndGetElement(key, el, OFFalse).bad() || !el)
        return QString();
    std::unique_ptr<DcmElement> holder;
    el = EffectiveElement(el, holder);
    OFString v;
    if (el->getOFString(v, 0).bad())
        return QString();
    return DecodeText(item, v).trimmed();
}

bool ItemDouble(DcmItem *item, const DcmTagKey &key, double &value, unsigned long pos)
{
    if (!item)
        return false;
    DcmElement *el = nullptr;
    if (item->findAndGetElement(key, el, OFFalse).bad() || !el || el->getLength() == 0)
        return false;
    std::unique_ptr<DcmElement> holder;
    el = EffectiveElement(el, holder);
    Float64 f = 0;
    if (el->getFloat64(f, pos).good()) {
        value = f;
        return std::isfinite(value);
    }
    OFString s;
    if (el->getOFString(s, pos).bad())
        return false;
    bool ok = false;
    double d = QString::fromLatin1(s.c_str()).trimmed().toDouble(&ok);
    if (ok && std::isfinite(d))
        value = d;
    return ok && std::isfinite(d);
}

bool ItemInt(DcmItem *item, const DcmTagKey &key, long &value, unsigned long pos)
{
    if (!item)
        return false;
    DcmElement *el = nullptr;
    if (item->findAndGetElement(key, el, OFFalse).bad() || !el || el->getLength() == 0)
        return false;
    std::unique_ptr<DcmElement> holder;
    el = EffectiveElement(el, holder);
    switch (el->ident()) {
    case EVR_US: {
        Uint16 v;
        if (el->getUint16(v, pos).bad())
            return false;
        value = v;
        return true;
    }
    case EVR_SS: {
        Sint16 v;
        if (el->getSint16(v, pos).bad())
            return false;
        value = v;
        return true;
    }
    case EVR_UL: {
        Uint32 v;
        if (el->getUint32(v, pos).bad())
            return false;
        value = static_cast<long>(v);
        return true;
    }
    case EVR_SL: {
        Sint32 v;
        if (el->getSint32(v, pos).bad())
            return false;
        value = v;
        return true;
    }
    default:
        break;
    }
    OFString s;
    if (el->getOFString(s, pos).bad())
        return false;
    bool ok = false;
    long v = QString::fromLatin1(s.c_str()).trimmed().toLong(&ok);
    if (!ok) {
        double d = QString::fromLatin1(s.c_str()).trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(d) || std::fabs(d) > 2e9)
            return false;
        v = static_cast<long>(d);
    }
    value = v;
    return true;
}

bool PatientPixelSpacing(DcmItem *item, double &rowSpacing, double &columnSpacing)
{
    if (!item)
        return false;
    auto read = [&](DcmItem *it) {
        double r = 0, c = 0;
        if (ItemDouble(it, DCM_PixelSpacing, r, 0) && ItemDouble(it, DCM_PixelSpacing, c, 1)
            && r > 0 && c > 0) {
            rowSpacing = r;
            columnSpacing = c;
            return true;
        }
        return false;
    };
    if (read(item))
        return true;
    // Enhanced multi-frame objects keep it in the shared functional groups.
    DcmItem *shared = nullptr;
    if (item->findAndGetSequenceItem(DCM_SharedFunctionalGroupsSequence, shared, 0).good()
        && shared) {
        DcmItem *measures = nullptr;
        if (shared->findAndGetSequenceItem(DCM_PixelMeasuresSequence, measures, 0).good()
            && measures && read(measures))
            return true;
    }
    return false;
}

} // namespace imaging::detail
