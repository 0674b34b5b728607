// DCMTK set-up, text decoding and small attribute readers.

#include "internal.h"
#include "safereading.h"

#include "imaging/pixelspacing.h"

#include <dcmtk/dcmdata/dcrledrg.h>
#include <dcmtk/dcmdata/dcspchrs.h>
#include <dcmtk/dcmjpeg/djdecode.h>
#include <dcmtk/dcmjpls/djdecode.h>
#include <dcmtk/oflog/oflog.h>

#include <QHash>

#include <algorithm>
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

std::vector<DcmObject *> SequenceMembers(DcmSequenceOfItems *sequence)
{
    std::vector<DcmObject *> members;
    if (!sequence)
        return members;
    members.reserve(sequence->card());
    // nextInContainer steps on from the list's current position when it is the given
    // member, which it is here.
    for (DcmObject *member = sequence->nextInContainer(nullptr); member; member = sequence->nextInContainer(member))
        members.push_back(member);
    return members;
}

QString ParseFailureReason(const OFCondition &condition)
{
    // The data ran out where a value or an item was still expected.
    if (condition == EC_StreamNotifyClient || condition == EC_EndOfStream || condition == EC_InvalidStream)
        return QStringLiteral("le fichier est tronqué, endommagé ou n'est pas un fichier DICOM.");
    if (condition == EC_MemoryExhausted)
        return QStringLiteral("mémoire insuffisante.");
    if (condition == EC_UnknownTransferSyntax || condition == EC_UnsupportedEncoding
        || condition == EC_CannotChangeRepresentation)
        return QStringLiteral("son codage n'est pas pris en charge.");
    if (condition.module() == OFM_dcmdata)
        return QStringLiteral("sa structure DICOM est invalide.");
    // Other modules report the system's errors (a file that cannot be opened ...).
    return QStringLiteral("le fichier ne peut pas être lu.");
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

// The element `key` of `item` itself (not of its sequences), found by walking the item's
// list, which DCMTK keeps in tag order, up to the tag: DCMTK's own search builds a stack
// of the way to it on every call, many times the cost for the few dozen attributes read
// from every file.
namespace {
thread_local const ElementIndexScope *tIndexScope = nullptr;

Uint32 TagNumber(const DcmTagKey &key)
{
    return (Uint32(key.getGroup()) << 16) | key.getElement();
}
} // namespace

ElementIndexScope::ElementIndexScope(DcmItem *item) : item_(item), previous_(tIndexScope)
{
    // Inside a scope of the same item already (a file's reading, then its pixels' and
    // identity's): that one serves.
    if (previous_ && previous_->item_ == item_) {
        active_ = false;
        return;
    }
    if (item_) {
        members_.reserve(item_->card());
        for (DcmObject *o = item_->nextInContainer(nullptr); o; o = item_->nextInContainer(o))
            members_.emplace_back(TagNumber(o->getTag()), static_cast<DcmElement *>(o));
        std::stable_sort(members_.begin(), members_.end(),
                         [](const auto &a, const auto &b) { return a.first < b.first; });
    }
    tIndexScope = this;
}

ElementIndexScope::~ElementIndexScope()
{
    if (active_)
        tIndexScope = previous_;
}

DcmElement *ElementIndexScope::find(const DcmTagKey &key) const
{
    const Uint32 number = TagNumber(key);
    const auto it = std::lower_bound(members_.begin(), members_.end(), number,
                                     [](const auto &member, Uint32 n) { return member.first < n; });
    return it != members_.end() && it->first == number ? it->second : nullptr;
}

DcmElement *FindElement(DcmItem *item, const DcmTagKey &key)
{
    if (tIndexScope && tIndexScope->item() == item)
        return tIndexScope->find(key);
    for (DcmObject *o = item->nextInContainer(nullptr); o; o = item->nextInContainer(o)) {
        const DcmTagKey &tag = o->getTag();
        if (tag == key)
            return static_cast<DcmElement *>(o); // every member of an item is an element
        if (key < tag)
            break;
    }
    return nullptr;
}

DcmItem *FirstSequenceItem(DcmItem *item, const DcmTagKey &key)
{
    DcmElement *el = item ? FindElement(item, key) : nullptr;
    if (!el || (el->ident() != EVR_SQ && el->ident() != EVR_pixelSQ))
        return nullptr;
    auto *sequence = static_cast<DcmSequenceOfItems *>(static_cast<DcmObject *>(el));
    return sequence->card() > 0 ? sequence->getItem(0) : nullptr;
}

QString ItemText(DcmItem *item, const DcmTagKey &key)
{
    if (!item)
        return QString();
    DcmElement *el = FindElement(item, key);
    if (!el)
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
    DcmElement *el = FindElement(item, key);
    if (!el || el->getLength() == 0)
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
    DcmElement *el = FindElement(item, key);
    if (!el || el->getLength() == 0)
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
    // Through the component's own attributes, so that the rule is imaging::PixelSpacing's.
    // The caller holds the data set's lock; this root only lends the wrappers one.
    const auto lender = std::make_shared<DataRoot>();
    return PixelSpacing(*MakeAttributes(ItemRef{lender, item}), rowSpacing, columnSpacing);
}

} // namespace imaging::detail
