// Attributes of a data set: reading values as QVariant, adding attributes.

#include "internal.h"
#include "safereading.h"

#include <QByteArray>
#include <QStringList>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace imaging::detail {

namespace {

QString DescriptionOf(const DcmTagKey &key);

class AttributeImpl final : public DicomAttribute
{
public:
    const char *ClassName() const override { return kClassName; }
    int Group() const override { return group; }
    int Element() const override { return element; }
    QString VR() const override { return vr; }
    // Looked up in the dictionary when first asked for: most readers want only the value.
    QString Description() const override
    {
        if (!descriptionKnown) {
            description = DescriptionOf(DcmTagKey(static_cast<Uint16>(group), static_cast<Uint16>(element)));
            descriptionKnown = true;
        }
        return description;
    }
    bool Exists() const override { return exists; }
    QVariant Value() const override { return value; }
    QVariant StoredValue() const override { return stored.isValid() ? stored : value; }
    QVariant ValueByIndex(int index) const override
    {
        if (index < 1 || index > vm)
            return QVariant();
        if (value.typeId() == QMetaType::QVariantList) {
            const QVariantList l = value.toList();
            return index <= l.size() ? l.at(index - 1) : QVariant();
        }
        return index == 1 ? value : QVariant();
    }
    int VM() const override { return vm; }
    QString Text() const override
    {
        if (!value.isValid())
            return QString();
        if (value.canConvert<DicomDataSetsPtr>() && value.userType() == qMetaTypeId<DicomDataSetsPtr>()) {
            auto s = value.value<DicomDataSetsPtr>();
            return QStringLiteral("Sequence of %1 items").arg(s ? s->Count() : 0);
        }
        if (value.typeId() == QMetaType::QVariantList) {
            QStringList parts;
            for (const QVariant &v : value.toList())
                parts << v.toString();
            return parts.join('\\');
        }
        return value.toString();
    }

    int group = 0, element = 0, vm = 0;
    QString vr;
    mutable QString description;
    mutable bool descriptionKnown = false;
    bool exists = false;
    QVariant value;
    // Decimal and integer strings as stored (invalid for every other value).
    QVariant stored;
};

QString DescriptionOf(const DcmTagKey &key)
{
    DcmTag tag(key);
    const char *name = tag.getTagName();
    if (!name || !*name || QString::fromLatin1(name).startsWith("Unknown"))
        return QStringLiteral("Unknown");
    // DCMTK's names are identifiers ("PatientName"); keep them as they are.
    return QString::fromLatin1(name);
}

bool IsStringVR(DcmEVR vr)
{
    switch (vr) {
    case EVR_AE: case EVR_AS: case EVR_CS: case EVR_DA: case EVR_DS: case EVR_DT:
    case EVR_IS: case EVR_LO: case EVR_LT: case EVR_PN: case EVR_SH: case EVR_ST:
    case EVR_TM: case EVR_UC: case EVR_UI: case EVR_UR: case EVR_UT:
        return true;
    default:
        return false;
    }
}

bool IsSingleValuedText(DcmEVR vr)
{
    return vr == EVR_LT || vr == EVR_ST || vr == EVR_UT || vr == EVR_UR;
}

QString TrimPadding(QString s, DcmEVR vr)
{
    // Values are padded with a blank (or a NUL for UI); leading blanks are significant
    // only in the long texts.
    while (!s.isEmpty() && (s.back() == QChar(' ') || s.back() == QChar(0)))
        s.chop(1);
    if (vr != EVR_LT && vr != EVR_ST && vr != EVR_UT) {
        int i = 0;
        while (i < s.size() && s.at(i) == QChar(' '))
            ++i;
        s.remove(0, i);
    }
    return s;
}

QVariant StringValue(DcmEVR vr, const QString &text)
{
    if (vr == EVR_DS) {
        const QString trimmed = text.trimmed();
        // The plain forms ("-12.5", "1e-3") read directly from their bytes; anything else
        // (a sign '+', other digits) as QString reads it. Both round correctly.
        const QByteArray bytes = trimmed.toLatin1();
        double d = 0;
        const auto [end, error] = std::from_chars(bytes.constData(), bytes.constData() + bytes.size(), d);
        bool ok = error == std::errc() && end == bytes.constData() + bytes.size() && !bytes.isEmpty();
        if (!ok)
            d = trimmed.toDouble(&ok);
        if (ok && std::isfinite(d))
            return d;
        return text;
    }
    if (vr == EVR_IS) {
        bool ok = false;
        qint64 v = text.trimmed().toLongLong(&ok);
        if (ok) {
            if (v >= INT32_MIN && v <= INT32_MAX)
                return static_cast<int>(v);
            return v;
        }
        return text;
    }
    return text;
}

} // namespace

QVariant StoredNumberTexts(const ItemRef &ref, DcmElement *el, int &vm)
{
    vm = 0;
    const DcmEVR evr = el->ident();
    if ((evr != EVR_DS && evr != EVR_IS) || el->getLength() == 0)
        return QVariant();
    OFString raw;
    if (el->getOFStringArray(raw, OFFalse).bad())
        return QVariant();
    // The characters of numbers are plain ASCII; anything else is decoded as text is.
    const bool ascii = std::all_of(raw.begin(), raw.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    const QString text = ascii ? QString::fromLatin1(raw.c_str(), static_cast<qsizetype>(raw.size()))
                               : DecodeText(ref.item, raw);
    QVariantList values;
    for (const QString &part : text.split(QLatin1Char('\\')))
        values << TrimPadding(part, evr);
    vm = static_cast<int>(values.size());
    return vm == 1 ? values.first() : QVariant(values);
}

namespace {

QVariant ConvertElement(const ItemRef &ref, DcmElement *el, int &vm)
{
    vm = 0;
    const DcmEVR evr = el->ident();
    const DcmTagKey key = el->getTag().getXTag();
    if (evr == EVR_SQ) {
        auto *seq = static_cast<DcmSequenceOfItems *>(static_cast<DcmObject *>(el));
        DicomDataSetsPtr sets = CreateDataSets();
        for (DcmObject *item : SequenceMembers(seq))
            sets->Add(MakeDataSet(ItemRef{ref.root, static_cast<DcmItem *>(item)}));
        vm = 1;
        return QVariant::fromValue(sets);
    }
    if (key == DCM_PixelData || evr == EVR_pixelSQ) {
        vm = 1;
        return QString("");
    }
    if (el->getLength() == 0)
        return QVariant();
    if (IsStringVR(evr)) {
        OFString raw;
        if (el->getOFStringArray(raw, OFFalse).bad())
            return QVariant();
        QString text = DecodeText(ref.item, raw);
        QStringList parts = IsSingleValuedText(evr) ? QStringList{text} : text.split('\\');
        QVariantList values;
        for (QString &p : parts)
            values << StringValue(evr, TrimPadding(p, evr));
        vm = static_cast<int>(values.size());
        return vm == 1 ? values.first() : QVariant(values);
    }
    QVariantList values;
    const unsigned long n = el->getVM();
    switch (evr) {
    case EVR_US: case EVR_xs: case EVR_lt:
        for (unsigned long i = 0; i < n; ++i) {
            Uint16 v;
            if (el->getUint16(v, i).good())
                values << static_cast<int>(v);
        }
        break;
    case EVR_SS:
        for (unsigned long i = 0; i < n; ++i) {
            Sint16 v;
            if (el->getSint16(v, i).good())
                values << static_cast<int>(v);
        }
        break;
    case EVR_UL:
        for (unsigned long i = 0; i < n; ++i) {
            Uint32 v;
            if (el->getUint32(v, i).good())
                values << static_cast<qint64>(v);
        }
        break;
    case EVR_SL:
        for (unsigned long i = 0; i < n; ++i) {
            Sint32 v;
            if (el->getSint32(v, i).good())
                values << static_cast<int>(v);
        }
        break;
    case EVR_FL: case EVR_OF:
        if (evr == EVR_FL) {
            for (unsigned long i = 0; i < n; ++i) {
                Float32 v;
                if (el->getFloat32(v, i).good())
                    values << static_cast<double>(v);
            }
            break;
        }
        [[fallthrough]];
    case EVR_FD:
        if (evr == EVR_FD) {
            for (unsigned long i = 0; i < n; ++i) {
                Float64 v;
                if (el->getFloat64(v, i).good())
                    values << static_cast<double>(v);
            }
            break;
        }
        [[fallthrough]];
    case EVR_AT:
        if (evr == EVR_AT) {
            for (unsigned long i = 0; i < n; ++i) {
                DcmTagKey t;
                if (el->getTagVal(t, i).good())
                    values << QString::asprintf("(%04X,%04X)", t.getGroup(), t.getElement());
            }
            break;
        }
        [[fallthrough]];
    default: {
        // Binary data: the bytes as stored (in the machine's byte order for OW).
        Uint8 *bytes = nullptr;
        Uint32 len = el->getLength();
        if (evr == EVR_OW || evr == EVR_ox) {
            Uint16 *w = nullptr;
            if (el->getUint16Array(w).good() && w)
                bytes = reinterpret_cast<Uint8 *>(w);
        } else if (el->getUint8Array(bytes).bad()) {
            bytes = nullptr;
        }
        if (!bytes)
            return QVariant();
        vm = 1;
        return QByteArray(reinterpret_cast<const char *>(bytes), static_cast<qsizetype>(len));
    }
    }
    vm = static_cast<int>(values.size());
    if (vm == 0)
        return QVariant();
    return vm == 1 ? values.first() : QVariant(values);
}

std::shared_ptr<AttributeImpl> Snapshot(const ItemRef &ref, DcmElement *el, const DcmTagKey &key)
{
    auto a = std::make_shared<AttributeImpl>();
    a->group = key.getGroup();
    a->element = key.getElement();
    std::unique_ptr<DcmElement> holder;
    el = EffectiveElement(el, holder);
    if (el) {
        a->exists = true;
        a->vr = QString::fromLatin1(DcmVR(el->ident()).getValidVRName());
        a->value = ConvertElement(ref, el, a->vm);
        int storedVm = 0;
        a->stored = StoredNumberTexts(ref, el, storedVm);
    }
    return a;
}

// An element of exactly the tag's VR (DCMTK's generic factory substitutes its own idea of
// the VR for private tags without a creator).
DcmElement *NewElement(const DcmTag &tag)
{
    switch (tag.getEVR()) {
    case EVR_AE: return new DcmApplicationEntity(tag);
    case EVR_AS: return new DcmAgeString(tag);
    case EVR_CS: return new DcmCodeString(tag);
    case EVR_DA: return new DcmDate(tag);
    case EVR_DS: return new DcmDecimalString(tag);
    case EVR_DT: return new DcmDateTime(tag);
    case EVR_IS: return new DcmIntegerString(tag);
    case EVR_LO: return new DcmLongString(tag);
    case EVR_LT: return new DcmLongText(tag);
    case EVR_PN: return new DcmPersonName(tag);
    case EVR_SH: return new DcmShortString(tag);
    case EVR_ST: return new DcmShortText(tag);
    case EVR_TM: return new DcmTime(tag);
    case EVR_UC: return new DcmUnlimitedCharacters(tag);
    case EVR_UI: return new DcmUniqueIdentifier(tag);
    case EVR_UR: return new DcmUniversalResourceIdentifierOrLocator(tag);
    case EVR_UT: return new DcmUnlimitedText(tag);
    case EVR_US: return new DcmUnsignedShort(tag);
    case EVR_SS: return new DcmSignedShort(tag);
    case EVR_UL: return new DcmUnsignedLong(tag);
    case EVR_SL: return new DcmSignedLong(tag);
    case EVR_FL: return new DcmFloatingPointSingle(tag);
    case EVR_FD: return new DcmFloatingPointDouble(tag);
    case EVR_AT: return new DcmAttributeTag(tag);
    case EVR_SQ: return new DcmSequenceOfItems(tag);
    case EVR_OB: case EVR_OW: case EVR_UN: return new DcmOtherByteOtherWord(tag);
    default: {
        DcmElement *el = nullptr;
        DcmTag copy(tag);
        if (DcmItem::newDicomElement(el, copy).bad())
            return nullptr;
        return el;
    }
    }
}

QByteArray EncodeText(DcmItem *item, const QString &text)
{
    OFString cs;
    for (DcmItem *it = item; it; it = it->getParentItem()) {
        if (it->findAndGetOFStringArray(DCM_SpecificCharacterSet, cs, OFFalse).good())
            break;
        if (!it->getParent())
            break;
    }
    if (QString::fromLatin1(cs.c_str()).contains("192"))
        return text.toUtf8();
    return text.toLatin1();
}

class AttributesImpl final : public DicomAttributes
{
public:
    explicit AttributesImpl(ItemRef ref) : ref_(std::move(ref)) {}
    const char *ClassName() const override { return kClassName; }

    int Count() const override
    {
        std::lock_guard lock(ref_.root->mutex);
        return ref_.item ? static_cast<int>(ref_.item->card()) : 0;
    }

    DicomAttributePtr Item(int group, int element) const override
    {
        std::lock_guard lock(ref_.root->mutex);
        DcmTagKey key(static_cast<Uint16>(group), static_cast<Uint16>(element));
        DcmElement *el = ref_.item ? FindElement(ref_.item, key) : nullptr;
        return Snapshot(ref_, el, key);
    }

    DicomAttributePtr ItemByIndex(int index) const override
    {
        std::lock_guard lock(ref_.root->mutex);
        if (!ref_.item || index < 1 || index > static_cast<int>(ref_.item->card()))
            return nullptr;
        DcmElement *el = ref_.item->getElement(static_cast<unsigned long>(index - 1));
        if (!el)
            return nullptr;
        return Snapshot(ref_, el, el->getTag().getXTag());
    }

    DicomAttributePtr Add(int group, int element, const QVariant &value, const QString &vrText) override
    {
        std::lock_guard lock(ref_.root->mutex);
        if (!ref_.item)
            throw DicomError(QStringLiteral("Jeu de données vide : impossible d'ajouter un attribut."));
        DcmTagKey key(static_cast<Uint16>(group), static_cast<Uint16>(element));
        DcmTag tag(key);
        const bool isSeq = value.userType() == qMetaTypeId<DicomDataSetsPtr>();
        if (!vrText.isEmpty()) {
            DcmVR vr(vrText.toLatin1().constData());
            if (vr.getEVR() == EVR_UNKNOWN || vr.getEVR() == EVR_UNKNOWN2B)
                throw DicomError(QStringLiteral("Représentation de valeur inconnue : %1").arg(vrText));
            tag.setVR(vr);
        } else if (isSeq) {
            tag.setVR(DcmVR(EVR_SQ));
        } else if (tag.getEVR() == EVR_UNKNOWN || tag.getEVR() == EVR_UN
                   || tag.getEVR() == EVR_UNKNOWN2B) {
            tag.setVR(DcmVR(value.typeId() == QMetaType::QByteArray ? EVR_OB : EVR_LO));
        } else if (tag.getEVR() == EVR_xs || tag.getEVR() == EVR_lt) {
            tag.setVR(DcmVR(EVR_US));
        } else if (tag.getEVR() == EVR_ox) {
            tag.setVR(DcmVR(EVR_OW));
        }
        DcmElement *el = NewElement(tag);
        if (!el)
            throw DicomError(QStringLiteral("Impossible de créer l'attribut (%1,%2).")
                                 .arg(group, 4, 16, QChar('0')).arg(element, 4, 16, QChar('0')));
        std::unique_ptr<DcmElement> owned(el);
        OFCondition cond = Fill(el, value);
        if (cond.bad())
            throw DicomError(QStringLiteral("Valeur invalide pour l'attribut (%1,%2) : %3")
                                 .arg(group, 4, 16, QChar('0'))
                                 .arg(element, 4, 16, QChar('0'))
                                 .arg(QString::fromLatin1(cond.text())));
        if (ref_.item->insert(owned.get(), OFTrue).bad())
            throw DicomError(QStringLiteral("Impossible d'ajouter l'attribut (%1,%2).")
                                 .arg(group, 4, 16, QChar('0')).arg(element, 4, 16, QChar('0')));
        DcmElement *inserted = owned.release();
        return Snapshot(ref_, inserted, key);
    }

    std::vector<DicomListedAttribute> Listing() const override { return ListDataSet(ref_); }

    bool Remove(int group, int element) override
    {
        std::lock_guard lock(ref_.root->mutex);
        if (!ref_.item)
            return false;
        DcmTagKey key(static_cast<Uint16>(group), static_cast<Uint16>(element));
        return ref_.item->findAndDeleteElement(key, OFFalse, OFFalse).good();
    }

private:
    OFCondition Fill(DcmElement *el, const QVariant &value)
    {
        const DcmEVR evr = el->ident();
        if (!value.isValid() || value.isNull())
            return EC_Normal; // an empty value
        if (evr == EVR_SQ) {
            if (value.userType() != qMetaTypeId<DicomDataSetsPtr>())
                return EC_IllegalParameter;
            auto sets = value.value<DicomDataSetsPtr>();
            auto *seq = static_cast<DcmSequenceOfItems *>(static_cast<DcmObject *>(el));
            for (int i = 1; sets && i <= sets->Count(); ++i) {
                auto ds = sets->Item(i);
                auto *copy = new DcmItem();
                DicomAttributesPtr attrs = ds ? ds->Attributes() : nullptr;
                for (int k = 1; attrs && k <= attrs->Count(); ++k) {
                    auto a = attrs->ItemByIndex(k);
                    if (!a)
                        continue;
                    AttributesImpl target(ItemRef{ref_.root, copy});
                    // Recursion through the public API keeps nested sequences working.
                    try {
                        target.AddRaw(a);
                    } catch (const DicomError &) {
                        delete copy;
                        return EC_IllegalParameter;
                    }
                }
                seq->insert(copy);
            }
            return EC_Normal;
        }
        QVariantList values = value.typeId() == QMetaType::QVariantList ? value.toList()
                                                                         : QVariantList{value};
        if (IsStringVR(evr)) {
            QStringList parts;
            for (const QVariant &v : values) {
                if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float)
                    parts << QString::number(v.toDouble(), 'g', 12);
                else
                    parts << v.toString();
            }
            QByteArray bytes = EncodeText(ref_.item, parts.join('\\'));
            return el->putString(bytes.constData(), static_cast<Uint32>(bytes.size()));
        }
        const bool binary = evr == EVR_OB || evr == EVR_OW || evr == EVR_UN || evr == EVR_OF
                            || evr == EVR_OD || evr == EVR_OL || evr == EVR_ox;
        if (binary && value.typeId() != QMetaType::QByteArray)
            return value.toString().isEmpty() ? EC_Normal : EC_IllegalParameter;
        if (value.typeId() == QMetaType::QByteArray) {
            QByteArray b = value.toByteArray();
            if (evr == EVR_OW) {
                if (b.size() % 2)
                    b.append('\0');
                return el->putUint16Array(reinterpret_cast<const Uint16 *>(b.constData()),
                                          static_cast<unsigned long>(b.size() / 2));
            }
            return el->putUint8Array(reinterpret_cast<const Uint8 *>(b.constData()),
                                     static_cast<unsigned long>(b.size()));
        }
        for (int i = 0; i < values.size(); ++i) {
            bool ok = false;
            const QVariant &v = values.at(i);
            OFCondition c = EC_Normal;
            auto pos = static_cast<unsigned long>(i);
            switch (evr) {
            case EVR_US: { qlonglong x = v.toLongLong(&ok); if (!ok || x < 0 || x > 65535) return EC_IllegalParameter; c = el->putUint16(static_cast<Uint16>(x), pos); break; }
            case EVR_SS: { qlonglong x = v.toLongLong(&ok); if (!ok || x < -32768 || x > 32767) return EC_IllegalParameter; c = el->putSint16(static_cast<Sint16>(x), pos); break; }
            case EVR_UL: { qlonglong x = v.toLongLong(&ok); if (!ok || x < 0 || x > 0xFFFFFFFFll) return EC_IllegalParameter; c = el->putUint32(static_cast<Uint32>(x), pos); break; }
            case EVR_SL: { qlonglong x = v.toLongLong(&ok); if (!ok || x < INT32_MIN || x > INT32_MAX) return EC_IllegalParameter; c = el->putSint32(static_cast<Sint32>(x), pos); break; }
            case EVR_FL: { double x = v.toDouble(&ok); if (!ok) return EC_IllegalParameter; c = el->putFloat32(static_cast<Float32>(x), pos); break; }
            case EVR_FD: { double x = v.toDouble(&ok); if (!ok) return EC_IllegalParameter; c = el->putFloat64(x, pos); break; }
            default:
                return EC_IllegalParameter;
            }
            if (c.bad())
                return c;
        }
        return EC_Normal;
    }

public:
    // Adds a copy of an attribute read elsewhere (used to copy sequence items).
    void AddRaw(const DicomAttributePtr &a)
    {
        Add(a->Group(), a->Element(), a->Value(), a->VR());
    }

private:
    ItemRef ref_;
};

} // namespace

QVariant ElementValue(const ItemRef &ref, DcmElement *el, int &vm)
{
    return ConvertElement(ref, el, vm);
}

QString TagDescription(const DcmTagKey &key)
{
    return DescriptionOf(key);
}

DicomAttributesPtr MakeAttributes(const ItemRef &ref)
{
    return std::make_shared<AttributesImpl>(ref);
}

} // namespace imaging::detail
