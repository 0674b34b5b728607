// DCMTK set-up, text decoding and small attribute readers.

#include "internal.h"

#include <dcmtk/dcmdata/dcrledrg.h>
#include <dcmtk/dcmdata/dcspchrs.h>
#include <dcmtk/dcmjpeg/djdecode.h>
#include <dcmtk/dcmjpls/djdecode.h>
#include <dcmtk/oflog/oflog.h>

#include <QFile>
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
    // DCMTK loads every value of the meta header (and the element that ends it) whole,
    // at the length it declares: check those lengths against the file first.
    qsizetype pos = 132;
    while (pos + 8 <= head.size()) {
        const quint32 group = u16(pos);
        const QByteArray vr = head.mid(pos + 4, 2);
        bool shortLength = false;
        for (const char *v : shortVRs)
            shortLength = shortLength || vr == v;
        quint64 length;
        qsizetype header;
        if (shortLength) {
            length = u16(pos + 6);
            header = 8;
        } else {
            if (pos + 12 > head.size())
                return true;
            length = u16(pos + 8) | (static_cast<quint64>(u16(pos + 10)) << 16);
            header = 12;
        }
        if (length != 0xFFFFFFFFu && pos + header + static_cast<qint64>(length) > size)
            return false;
        if (group != 0x0002)
            return true;
        if (length == 0xFFFFFFFFu)
            return true;
        pos += header + static_cast<qsizetype>(length);
    }
    return true;
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
