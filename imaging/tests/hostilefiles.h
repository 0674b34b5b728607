#pragma once
// Byte-level writers for hostile DICOM files (sequences nested past any real data set,
// long runs of items), shared by the component's tests and the viewer's.

#include <QByteArray>
#include <QtEndian>

namespace hostilefiles {

constexpr quint32 kUndefined = 0xFFFFFFFFu;
// Deeper than DCMTK's recursion survives on a thread's stack.
constexpr int kDeep = 10000;

inline const char *const kSecondaryCapture = "1.2.840.10008.5.1.4.1.1.7";

// Element bytes in one encoding.
struct Encoder
{
    bool explicitVR = true;
    bool big = false;
    QByteArray out;

    void u16(quint32 v)
    {
        char b[2];
        big ? qToBigEndian(quint16(v), b) : qToLittleEndian(quint16(v), b);
        out.append(b, 2);
    }
    void u32(quint32 v)
    {
        char b[4];
        big ? qToBigEndian(v, b) : qToLittleEndian(v, b);
        out.append(b, 4);
    }
    static bool LongLength(const char *vr)
    {
        for (const char *v : {"OB", "OW", "OF", "OD", "OL", "SQ", "UN", "UT", "UC", "UR"})
            if (qstrcmp(vr, v) == 0)
                return true;
        return false;
    }
    // Tag, VR and length of an element (no VR in implicit VR).
    void header(quint16 group, quint16 element, const char *vr, quint32 length)
    {
        u16(group);
        u16(element);
        if (!explicitVR) {
            u32(length);
            return;
        }
        out.append(vr, 2);
        if (LongLength(vr)) {
            u16(0);
            u32(length);
        } else {
            u16(length);
        }
    }
    void element(quint16 group, quint16 element, const char *vr, QByteArray value)
    {
        if (value.size() % 2)
            value.append(vr[0] == 'U' && vr[1] == 'I' ? '\0' : ' ');
        header(group, element, vr, quint32(value.size()));
        out += value;
    }
    void delimiter(quint16 element, quint32 length = 0)
    {
        u16(0xFFFE);
        u16(element);
        u32(length);
    }
    void item(quint32 length = kUndefined) { delimiter(0xE000, length); }
    void itemEnd() { delimiter(0xE00D); }
    void sequenceEnd() { delimiter(0xE0DD); }

    // `depth` sequences of undefined length, each in the only item of the one above.
    void nest(int depth, quint16 group, quint16 element, const char *vr = "SQ")
    {
        for (int i = 0; i < depth; ++i) {
            header(group, element, vr, kUndefined);
            item();
        }
        for (int i = 0; i < depth; ++i) {
            itemEnd();
            sequenceEnd();
        }
    }
};

// `depth` sequences of known length (built from the inside out, as the reported file):
// 16 bytes a level in implicit VR.
inline QByteArray NestedWithLengths(const Encoder &encoding, int depth, quint16 group, quint16 element)
{
    Encoder inner = encoding;
    inner.out.clear();
    inner.element(0x0008, 0x0100, "SH", "INNER");
    QByteArray content = inner.out;
    for (int i = 0; i < depth; ++i) {
        Encoder level = encoding;
        level.out.clear();
        level.item(quint32(content.size()));
        level.out += content;
        const QByteArray item = level.out;
        level.out.clear();
        level.header(group, element, "SQ", quint32(item.size()));
        level.out += item;
        content = level.out;
    }
    return content;
}

// Preamble and file meta header (explicit VR little endian); `more` goes at its end,
// within its group length.
inline QByteArray Meta(const char *transferSyntax, const char *sopClass = kSecondaryCapture, const QByteArray &more = {})
{
    Encoder body;
    body.element(0x0002, 0x0001, "OB", QByteArray("\0\1", 2));
    body.element(0x0002, 0x0002, "UI", sopClass);
    body.element(0x0002, 0x0003, "UI", "2.25.1234");
    body.element(0x0002, 0x0010, "UI", transferSyntax);
    body.out += more;
    Encoder meta;
    meta.out = QByteArray(128, '\0') + "DICM";
    QByteArray length(4, '\0');
    qToLittleEndian(quint32(body.out.size()), length.data());
    meta.element(0x0002, 0x0000, "UL", length);
    return meta.out + body.out;
}

// A catalogue whose root holds the nested sequences (in an unknown tag of its group,
// as found) before its record sequence.
inline QByteArray DeepCatalogue(int depth)
{
    Encoder e;
    QByteArray zero(4, '\0');
    e.element(0x0004, 0x1200, "UL", zero);
    e.element(0x0004, 0x1202, "UL", zero);
    e.nest(depth, 0x0004, 0x1214);
    e.header(0x0004, 0x1220, "SQ", 0);
    return Meta("1.2.840.10008.1.2.1", "1.2.840.10008.1.3.10") + e.out;
}

// A secondary capture image whose data set holds `depth` nested sequences of undefined
// length (explicit VR little endian).
inline QByteArray DeepImage(int depth)
{
    Encoder e;
    e.element(0x0008, 0x0016, "UI", kSecondaryCapture);
    e.element(0x0008, 0x0018, "UI", "2.25.5678");
    e.nest(depth, 0x0008, 0x1115);
    return Meta("1.2.840.10008.1.2.1") + e.out;
}

} // namespace hostilefiles
