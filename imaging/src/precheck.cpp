// Checks made on a file's bytes before DCMTK parses it.
//
// DCMTK trusts what a file declares: it reserves the length a value announces before
// reading it, and it reads a sequence inside an item inside a sequence ... by recursion,
// so a file nested some thousands of levels deep runs the thread out of stack. Both are
// found here from the element headers alone, with loops and an explicit stack, before
// DCMTK sees the file.

#include "internal.h"
#include "safereading.h"

#include <QFile>
#include <dcmtk/dcmdata/dcistrma.h>
#include <dcmtk/dcmdata/dcistrmf.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace imaging::detail {

namespace {

constexpr quint32 kUndefinedLength = 0xFFFFFFFFu;

quint32 U16(const uchar *p, bool big)
{
    return big ? (quint32(p[0]) << 8) | p[1] : quint32(p[0]) | (quint32(p[1]) << 8);
}

quint32 U32(const uchar *p, bool big)
{
    return big ? (U16(p, true) << 16) | U16(p + 2, true) : U16(p, false) | (U16(p + 2, false) << 16);
}

// Random access to the bytes of a file (through a window, so that walking the headers
// of a large file reads little of it) or of a buffer.
class ByteSource
{
public:
    // `head`: the file's first bytes, already read (the first window); `size`: the file's.
    ByteSource(QFile *file, qint64 size, const QByteArray &head) : file_(file), size_(size), window_(head), windowStart_(0) {}
    explicit ByteSource(const QByteArray *data) : data_(data), size_(data->size()) {}

    qint64 size() const { return size_; }

    // The n bytes at pos; false when they are not all there.
    bool read(qint64 pos, uchar *out, int n)
    {
        if (pos < 0 || n < 0 || n > size_ - pos)
            return false;
        if (data_) {
            std::memcpy(out, data_->constData() + pos, size_t(n));
            return true;
        }
        if (windowStart_ < 0 || pos < windowStart_ || pos + n > windowStart_ + window_.size()) {
            if (!file_->seek(pos))
                return false;
            window_ = file_->read(kWindow);
            windowStart_ = pos;
            if (window_.size() < n)
                return false;
        }
        std::memcpy(out, window_.constData() + (pos - windowStart_), size_t(n));
        return true;
    }

private:
    static constexpr qint64 kWindow = 64 * 1024;
    QFile *file_ = nullptr;
    const QByteArray *data_ = nullptr;
    qint64 size_ = 0;
    QByteArray window_;
    qint64 windowStart_ = -1;
};

struct Syntax
{
    bool explicitVR;
    bool bigEndian;
};
constexpr Syntax kImplicitLittle{false, false};
constexpr Syntax kExplicitLittle{true, false};
constexpr Syntax kExplicitBig{true, true};

// A deflated data set is inflated at most to this size (DCMTK keeps it all in memory).
constexpr qint64 kMaxInflated = 256ll * 1024 * 1024;

// A deflated data set and where in the file it begins.
struct Inflated
{
    qint64 from = -1;
    QByteArray data;
};

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

// DCMTK's guess at the encoding of data that does not say it (its checkTransferSyntax):
// explicit VR when the bytes after the first tag name a standard VR, big endian when only
// the swapped tag is in the dictionary (or both are and the swapped group is the smaller).
Syntax GuessSyntax(ByteSource &source, qint64 pos)
{
    uchar b[6];
    if (!source.read(pos, b, 6))
        return kExplicitLittle;
    const Uint16 group = Uint16(U16(b, false)), element = Uint16(U16(b + 2, false));
    const Uint16 swappedGroup = Uint16(U16(b, true)), swappedElement = Uint16(U16(b + 2, true));
    const bool little = DcmTag(group, element).error().good();
    const bool big = DcmTag(swappedGroup, swappedElement).error().good();
    auto letter = [](uchar c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    const char name[3] = {char(b[4]), char(b[5]), '\0'};
    const bool explicitVR = letter(b[4]) && letter(b[5]) && DcmVR(name).isStandard();
    bool bigEndian = false;
    if (little && big)
        bigEndian = group > 0xFF && swappedGroup <= 0xFF;
    else
        bigEndian = big;
    return {explicitVR, bigEndian};
}

// What DCMTK knows of a two-letter VR name, looked up in a table made once (DcmVR finds
// a name by comparing it with every VR it knows, and the walk asks for every element).
struct VRInfo
{
    DcmEVR evr = EVR_UNKNOWN;
    bool standard = false;
    bool extended = false; // a 4-byte length after two reserved bytes
};

VRInfo MakeVRInfo(uchar first, uchar second)
{
    const char name[3] = {char(first), char(second), '\0'};
    const DcmVR vr(name);
    return {vr.getEVR(), bool(vr.isStandard()), bool(vr.usesExtendedLengthEncoding())};
}

VRInfo VRInfoOf(uchar first, uchar second)
{
    static const std::vector<VRInfo> upper = [] {
        std::vector<VRInfo> t;
        for (uchar a = 'A'; a <= 'Z'; ++a)
            for (uchar b = 'A'; b <= 'Z'; ++b)
                t.push_back(MakeVRInfo(a, b));
        return t;
    }();
    if (first >= 'A' && first <= 'Z' && second >= 'A' && second <= 'Z')
        return upper[static_cast<std::size_t>((first - 'A') * 26 + (second - 'A'))];
    return MakeVRInfo(first, second); // not a VR a writer meant: rare
}

// What a level of the walk is reading: the elements of a data set or an item, the items
// of a sequence, or the fragments of encapsulated pixel data.
enum class Level { Elements, Items, Fragments };

struct Frame
{
    Level level;
    qint64 end;   // where a value of known length ends; -1 when a delimiter ends it
    Syntax syntax;
    qint64 bound; // the end of the innermost value of known length around it (or the data)
};

// Walks the element headers of one data set as DCMTK reads them and stops as soon as
// sequences nest deeper than kMaxSequenceDepth. Where DCMTK's reading could take another
// turn than this walk, the walk takes the one that opens more sequences: a value of
// known length that begins with an item is entered as a sequence (DCMTK may know it as
// one from a private dictionary, or turn a UN value into one), and every value of
// undefined length but pixel data is a sequence. Where the structure is broken DCMTK
// stops; the walk goes on after the innermost value of known length, or stops too.
class NestingWalk
{
public:
    explicit NestingWalk(ByteSource &source) : source_(source) {}

    bool tooDeep() const { return tooDeep_; }
    // Where the walk stopped at the top (after the meta header, for a meta header walk).
    qint64 position() const { return pos_; }
    // The meta header's Transfer Syntax UID, as stored (a meta header walk).
    const QByteArray &transferSyntax() const { return transferSyntax_; }

    // A data set from `start` to the end of the data.
    void dataSet(qint64 start, Syntax syntax) { walk(start, syntax, false); }
    // A file meta header at `start`: its elements up to the end its group length gives,
    // else as long as the next tag is of group 0002 (either byte order), as DCMTK does.
    void metaHeader(qint64 start, Syntax syntax) { walk(start, syntax, true); }

private:
    bool open(Level level, qint64 end, Syntax syntax)
    {
        const qint64 bound = end >= 0 ? end : frames_.back().bound;
        frames_.push_back({level, end, syntax, bound});
        if (level == Level::Items && ++sequences_ > kMaxSequenceDepth)
            tooDeep_ = true;
        return !tooDeep_;
    }

    void close()
    {
        if (frames_.back().level == Level::Items)
            --sequences_;
        frames_.pop_back();
    }

    // After a structure error: on after the innermost value of known length; false when
    // there is none (DCMTK's reading ends there).
    bool resume()
    {
        while (frames_.size() > 1) {
            const qint64 end = frames_.back().end;
            close();
            if (end >= 0) {
                pos_ = end;
                return true;
            }
        }
        return false;
    }

    // Whether the meta header goes on at pos_.
    bool moreMeta(qint64 metaEnd)
    {
        if (metaEnd >= 0)
            return pos_ < metaEnd;
        uchar g[2];
        return source_.read(pos_, g, 2) && ((g[0] == 0x02 && g[1] == 0x00) || (g[0] == 0x00 && g[1] == 0x02));
    }

    void walk(qint64 start, Syntax syntax, bool meta);

    ByteSource &source_;
    std::vector<Frame> frames_;
    qint64 pos_ = 0;
    int sequences_ = 0;
    bool tooDeep_ = false;
    QByteArray transferSyntax_;
};

void NestingWalk::walk(qint64 start, Syntax syntax, bool meta)
{
    frames_.assign(1, Frame{Level::Elements, source_.size(), syntax, source_.size()});
    sequences_ = 0;
    pos_ = start;
    qint64 metaEnd = -1;
    bool firstElement = true;
    uchar h[12];
    for (;;) {
        const Frame f = frames_.back();
        if (f.end >= 0 && pos_ >= f.end) {
            if (frames_.size() == 1)
                return;
            pos_ = f.end;
            close();
            continue;
        }
        if (meta && frames_.size() == 1 && !moreMeta(metaEnd))
            return;
        if (pos_ + 8 > f.bound || !source_.read(pos_, h, 8)) {
            if (!resume())
                return;
            continue;
        }
        const Syntax s = f.syntax;
        const quint32 group = U16(h, s.bigEndian);
        const quint32 element = U16(h + 2, s.bigEndian);
        const quint32 length = U32(h + 4, s.bigEndian);

        if (group == 0xFFFE && (element == 0xE000 || element == 0xE00D || element == 0xE0DD)) {
            pos_ += 8;
            switch (f.level) {
            case Level::Elements:
                if (frames_.size() == 1) {
                    if (element == 0xE000)
                        return; // an item in the data set: DCMTK stops
                } else if (element == 0xE00D) {
                    close(); // the end of the item
                } else if (element == 0xE0DD) {
                    close(); // the end of the sequence, its item's delimiter missing
                    if (frames_.size() > 1 && frames_.back().level == Level::Items)
                        close();
                } else if (!resume()) {
                    return;
                }
                break;
            case Level::Items:
                if (element == 0xE000) {
                    const qint64 end = length == kUndefinedLength ? -1 : pos_ + qint64(length);
                    if (end > f.bound) {
                        if (!resume())
                            return;
                    } else {
                        open(Level::Elements, end, s);
                    }
                } else if (element == 0xE0DD) {
                    close();
                }
                break; // a stray item delimiter is passed over
            case Level::Fragments:
                if (element == 0xE000 && length != kUndefinedLength && pos_ + qint64(length) <= f.bound)
                    pos_ += qint64(length);
                else if (element == 0xE0DD)
                    close();
                else if (element == 0xE000 && !resume())
                    return;
                break;
            }
            continue;
        }
        if (f.level != Level::Elements) {
            // Something else where an item was expected.
            if (!resume())
                return;
            continue;
        }

        quint32 valueLength = length;
        qint64 header = 8;
        DcmEVR evr;
        if (s.explicitVR) {
            const VRInfo vr = VRInfoOf(h[4], h[5]);
            evr = vr.evr;
            if (!vr.standard && group == 0x7FE0 && element == 0x0010 && h[4] == 'O' && h[5] == 'X')
                evr = EVR_OW; // DCMTK's own repair of a known writer's mistake
            if (vr.extended) {
                if (pos_ + 12 > f.bound || !source_.read(pos_ + 8, h + 8, 4)) {
                    if (!resume())
                        return;
                    continue;
                }
                valueLength = U32(h + 8, s.bigEndian);
                header = 12;
            } else {
                valueLength = U16(h + 6, s.bigEndian);
            }
        } else {
            evr = DcmTag(Uint16(group), Uint16(element)).getEVR();
        }
        const qint64 valueStart = pos_ + header;

        if (valueLength == kUndefinedLength) {
            firstElement = false;
            pos_ = valueStart;
            if (group == 0x7FE0 && element == 0x0010 && (evr == EVR_OB || evr == EVR_OW || evr == EVR_ox)) {
                open(Level::Fragments, -1, s);
                continue;
            }
            // DCMTK reads SQ, OB and OW of undefined length in the data set's encoding,
            // UN and unknown VRs as implicit VR little endian.
            const bool sameEncoding = evr == EVR_SQ || evr == EVR_OB || evr == EVR_OW;
            if (!open(Level::Items, -1, sameEncoding ? s : kImplicitLittle))
                return;
            continue;
        }
        const qint64 end = valueStart + qint64(valueLength);
        if (end > f.bound) {
            // The value runs past its item or the data: DCMTK stops there.
            if (!resume())
                return;
            continue;
        }
        if (meta && frames_.size() == 1) {
            uchar v[64];
            const int n = int(std::min<quint32>(valueLength, sizeof v));
            if (firstElement && group == 0x0002 && element == 0x0000 && valueLength >= 4 && source_.read(valueStart, v, 4))
                metaEnd = end + qint64(U32(v, s.bigEndian));
            if (group == 0x0002 && element == 0x0010 && source_.read(valueStart, v, n))
                transferSyntax_ = QByteArray(reinterpret_cast<const char *>(v), n);
        }
        firstElement = false;
        bool sequence = evr == EVR_SQ;
        Syntax inner = s;
        if (!sequence && valueLength >= 8
            && (!s.explicitVR || evr == EVR_UN || evr == EVR_UNKNOWN || evr == EVR_UNKNOWN2B)) {
            if (s.explicitVR)
                inner = kImplicitLittle;
            uchar first[4];
            sequence = source_.read(valueStart, first, 4) && U16(first, inner.bigEndian) == 0xFFFE
                       && U16(first + 2, inner.bigEndian) == 0xE000;
        }
        if (sequence) {
            pos_ = valueStart;
            if (!open(Level::Items, end, inner))
                return;
        } else {
            pos_ = end;
        }
    }
}

// The encoding DCMTK reads a data set in: the one its transfer syntax names, else its
// guess from the first bytes. Sets `deflated` for a deflated data set.
Syntax DataSetSyntax(ByteSource &source, qint64 start, QByteArray transferSyntax, bool &deflated)
{
    while (transferSyntax.endsWith('\0') || transferSyntax.endsWith(' '))
        transferSyntax.chop(1);
    deflated = false;
    const DcmXfer xfer(transferSyntax.constData());
    if (transferSyntax.isEmpty() || xfer.getXfer() == EXS_Unknown)
        return GuessSyntax(source, start);
    deflated = xfer.getStreamCompression() == ESC_zlib;
    return {bool(xfer.isExplicitVR()), xfer.getByteOrder() == EBO_BigEndian};
}

// Whether the nesting of a file stays within kMaxSequenceDepth: its meta header (when
// there is one) and its data set, each in the encoding DCMTK reads it in. A deflated
// data set is walked inflated (in `inflated` when that was inflated from the same place).
bool NestingWithinLimit(QFile &file, qint64 size, const QByteArray &head, Inflated &inflated)
{
    ByteSource source(&file, size, head);
    uchar magic[4];
    const qint64 start = source.read(128, magic, 4) && std::memcmp(magic, "DICM", 4) == 0 ? 132 : 0;
    NestingWalk walk(source);
    qint64 dataStart = start;
    QByteArray transferSyntax;
    uchar g[2];
    if (source.read(start, g, 2) && ((g[0] == 0x02 && g[1] == 0x00) || (g[0] == 0x00 && g[1] == 0x02))) {
        walk.metaHeader(start, GuessSyntax(source, start));
        if (walk.tooDeep())
            return false;
        dataStart = walk.position();
        transferSyntax = walk.transferSyntax();
    }
    bool deflated = false;
    const Syntax syntax = DataSetSyntax(source, dataStart, transferSyntax, deflated);
    if (!deflated) {
        walk.dataSet(dataStart, syntax);
        return !walk.tooDeep();
    }
    if (inflated.from != dataStart) {
        if (size > kMaxInflated)
            return true; // too large to inflate: refused as a bad header already
        inflated.from = dataStart;
        file.seek(dataStart);
        inflated.data = Inflate(file.readAll(), kMaxInflated);
    }
    ByteSource inflatedSource(&inflated.data);
    NestingWalk inflatedWalk(inflatedSource);
    inflatedWalk.dataSet(0, kExplicitLittle);
    return !inflatedWalk.tooDeep();
}

const char *const kShortVRs[] = {"AE", "AS", "AT", "CS", "DA", "DS", "DT", "FL", "FD", "IS", "LO",
                                 "LT", "PN", "SH", "SL", "SS", "ST", "TM", "UI", "UL", "US"};

bool IsShortVR(const QByteArray &vr)
{
    if (vr.size() != 2)
        return false;
    for (const char *v : kShortVRs)
        if (vr[0] == v[0] && vr[1] == v[1])
            return true;
    return false;
}

// Walks explicit VR little-endian elements of a data set held in memory (items entered,
// encapsulated fragments skipped) and answers false when a value runs past the end.
// Anything it does not understand ends the walk with true: only sure faults count.
bool DataSetFits(const QByteArray &data, qsizetype pos)
{
    auto u16 = [&](qsizetype at) { return U16(reinterpret_cast<const uchar *>(data.constData()) + at, false); };
    auto u32 = [&](qsizetype at) { return quint64(U32(reinterpret_cast<const uchar *>(data.constData()) + at, false)); };
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
                if (length == kUndefinedLength || pos + 8 + static_cast<qint64>(length) > end)
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
        quint64 length;
        qsizetype header;
        if (IsShortVR(vr)) {
            length = u16(pos + 6);
            header = 8;
        } else {
            if (pos + 12 > end)
                return false;
            length = u32(pos + 8);
            header = 12;
        }
        if (length == kUndefinedLength) {
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

// DCMTK loads every value of the meta header whole, at the length it declares, and the
// first element after it too: those must fit in the file. The meta header is the group
// length it states (else its group 0002 elements), explicit VR little endian. A deflated
// data set is inflated into `inflated` and its lengths checked the same way.
bool MetaHeaderFits(QFile &f, qint64 size, const QByteArray &head, Inflated &inflated)
{
    if (head.size() < 132 || head.mid(128, 4) != "DICM")
        return true;
    auto u16 = [&](qsizetype at) { return U16(reinterpret_cast<const uchar *>(head.constData()) + at, false); };
    auto u32 = [&](qsizetype at) { return quint64(U32(reinterpret_cast<const uchar *>(head.constData()) + at, false)); };
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
        if (IsShortVR(vr)) {
            length = u16(pos + 6);
            header = 8;
        } else {
            if (pos + 12 > head.size())
                return true;
            length = u32(pos + 8);
            header = 12;
        }
        if (length == kUndefinedLength)
            return true;
        if (pos + header + static_cast<qint64>(length) > size)
            return false;
        if (group == 0x0002 && u16(pos + 2) == 0 && length == 4 && pos + 12 <= head.size())
            metaEnd = pos + 12 + static_cast<qint64>(u32(pos + 8));
        if (group == 0x0002 && u16(pos + 2) == 0x0010)
            syntax = head.mid(pos + header, static_cast<qsizetype>(length)).trimmed();
        pos += header + static_cast<qsizetype>(length);
    }
    while (syntax.endsWith('\0'))
        syntax.chop(1);
    if (syntax == "1.2.840.10008.1.2.1.99") {
        // Deflated: DCMTK cannot defer values of a compressed stream and reserves every
        // declared length. Inflate here (at most kMaxInflated) and check the lengths first.
        if (size > kMaxInflated)
            return false;
        inflated.from = pos;
        f.seek(pos);
        inflated.data = Inflate(f.readAll(), kMaxInflated);
        return !inflated.data.isEmpty() && DataSetFits(inflated.data, 0);
    }
    // The first data set element, in the encoding the meta header announces.
    if (pos + 12 > head.size())
        return true;
    quint64 length;
    qsizetype header = 8;
    if (syntax == "1.2.840.10008.1.2") {
        length = u32(pos + 4);
    } else {
        const bool big = syntax == "1.2.840.10008.1.2.2";
        const auto *at = reinterpret_cast<const uchar *>(head.constData()) + pos;
        if (IsShortVR(head.mid(pos + 4, 2))) {
            length = U16(at + 6, big);
        } else {
            length = U32(at + 8, big);
            header = 12;
        }
    }
    return length == kUndefinedLength || pos + header + static_cast<qint64>(length) <= size;
}

// DCMTK's reading of a file from the bytes the checks read and then from the same open
// file: what DcmFileProducer does for DcmInputFileStream (its position, what is left,
// stepping back), without opening the file a second time.
class CheckedFileProducer : public DcmProducer
{
public:
    CheckedFileProducer(QFile &file, qint64 size, const QByteArray &head) : file_(file), head_(head), size_(size) {}

    OFBool good() const override { return status_.good(); }
    OFCondition status() const override { return status_; }
    OFBool eos() override { return pos_ >= size_; }
    offile_off_t avail() override { return status_.good() ? size_ - pos_ : 0; }

    offile_off_t read(void *buf, offile_off_t buflen) override
    {
        if (!status_.good() || buflen <= 0)
            return 0;
        const offile_off_t wanted = std::min<offile_off_t>(buflen, size_ - pos_);
        char *out = static_cast<char *>(buf);
        offile_off_t done = 0;
        while (done < wanted) {
            const offile_off_t left = wanted - done;
            offile_off_t n = 0;
            if (pos_ < head_.size()) {
                n = std::min<offile_off_t>(left, head_.size() - pos_);
                std::memcpy(out + done, head_.constData() + pos_, size_t(n));
            } else if (pos_ >= windowStart_ && pos_ < windowStart_ + window_.size()) {
                n = std::min<offile_off_t>(left, windowStart_ + window_.size() - pos_);
                std::memcpy(out + done, window_.constData() + (pos_ - windowStart_), size_t(n));
            } else if (!file_.seek(pos_)) {
                break;
            } else if (left >= kWindow) {
                n = file_.read(out + done, left);
                if (n <= 0)
                    break;
            } else {
                window_ = file_.read(kWindow);
                windowStart_ = pos_;
                if (window_.isEmpty())
                    break;
                continue;
            }
            pos_ += n;
            done += n;
        }
        return done;
    }

    offile_off_t skip(offile_off_t skiplen) override
    {
        if (!status_.good() || skiplen <= 0)
            return 0;
        const offile_off_t n = std::min<offile_off_t>(skiplen, size_ - pos_);
        pos_ += n;
        return n;
    }

    void putback(offile_off_t num) override
    {
        if (!status_.good() || num <= 0)
            return;
        if (num <= pos_)
            pos_ -= num;
        else
            status_ = EC_PutbackFailed;
    }

private:
    static constexpr offile_off_t kWindow = 64 * 1024;
    QFile &file_;
    const QByteArray &head_;
    const offile_off_t size_;
    offile_off_t pos_ = 0;
    OFCondition status_ = EC_Normal;
    QByteArray window_;
    offile_off_t windowStart_ = -1;
};

class CheckedFileStream : public DcmInputStream
{
public:
    CheckedFileStream(QFile &file, qint64 size, const QByteArray &head, const OFFilename &name)
        : DcmInputStream(&producer_), producer_(file, size, head), name_(name)
    {
    }

    // Where a value left on disk is read from later: the file itself, reopened, at this
    // position. None when the data set is deflated (DCMTK then loads every value).
    DcmInputStreamFactory *newFactory() const override
    {
        if (currentProducer() != &producer_)
            return nullptr;
        return new DcmInputFileStreamFactory(name_, tell());
    }

private:
    CheckedFileProducer producer_;
    OFFilename name_;
};

} // namespace

QString ReasonNotToParse(const QString &path)
{
    CheckedFile file(path);
    return file.reasonNotToParse();
}

CheckedFile::CheckedFile(const QString &path) : path_(path), file_(path)
{
    // The first bytes are read once for both checks and for DCMTK (the nesting walk reads
    // on from them only when the element headers go further).
    // Its size is taken once: QFile asks the system at each call.
    if (file_.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        size_ = file_.size();
        const qint64 n = file_.read(headBytes_, kHeadBytes);
        head_ = QByteArray::fromRawData(headBytes_, n > 0 ? n : 0);
    }
}

QString CheckedFile::reasonNotToParse()
{
    if (!file_.isOpen())
        return QString(); // the reader reports what is wrong with it
    Inflated inflated;
    if (!MetaHeaderFits(file_, size_, head_, inflated))
        return QStringLiteral("en-tête de fichier tronqué ou invalide.");
    if (!NestingWithinLimit(file_, size_, head_, inflated))
        return QStringLiteral("ses séquences sont imbriquées sur plus de %1 niveaux.").arg(kMaxSequenceDepth);
    return QString();
}

OFCondition CheckedFile::load(DcmFileFormat &format, Uint32 maxReadLength)
{
    if (!file_.isOpen())
        return EC_InvalidFilename;
    CheckedFileStream stream(file_, size_, head_, OFFilename(QFile::encodeName(path_).constData()));
    OFCondition cond = stream.status();
    if (cond.good())
        cond = format.clear();
    if (cond.bad())
        return cond;
    const E_FileReadMode oldMode = format.getReadMode();
    format.setReadMode(ERM_autoDetect);
    format.transferInit();
    cond = format.read(stream, EXS_Unknown, EGL_noChange, maxReadLength);
    format.transferEnd();
    format.setReadMode(oldMode);
    return cond;
}

} // namespace imaging::detail
