#pragma once
// Reading hostile files safely: what is checked before DCMTK parses a file, how DCMTK's
// failures are told in French, and a linear walk over long sequences.

#include "internal.h"

#include <QByteArray>
#include <QFile>

#include <vector>

namespace imaging::detail {

// Sequences may nest this deep in a file; DCMTK reads nesting by recursion, and real
// data sets stay within a few tens of levels.
constexpr int kMaxSequenceDepth = 256;

// Why DCMTK must not parse the file at `path` (a French phrase ending with a full stop),
// found from its bytes alone: a meta header declaring a value running past the end of
// the file (DCMTK would allocate the declared length before noticing), or sequences
// nested deeper than kMaxSequenceDepth. Empty when nothing stands against parsing it.
QString ReasonNotToParse(const QString &path);

// A file opened once for both the checks and DCMTK's reading: its first bytes are read
// for the checks, and DCMTK then reads the file from those bytes and from the same open
// file. Values longer than the reading limit stay on disk and are read from the file
// when wanted, as with DCMTK's own loadFile.
class CheckedFile
{
public:
    explicit CheckedFile(const QString &path);
    CheckedFile(const CheckedFile &) = delete;
    CheckedFile &operator=(const CheckedFile &) = delete;

    bool isOpen() const { return file_.isOpen(); }
    // What ReasonNotToParse(path) says of it (empty when it could not be opened).
    QString reasonNotToParse();
    // Reads the file into `format` as DcmFileFormat::loadFile does (any encoding, group
    // lengths as stored, values longer than `maxReadLength` left on disk).
    OFCondition load(DcmFileFormat &format, Uint32 maxReadLength);

private:
    QString path_;
    // Bytes read from the start of every file for the checks: kept here rather than on
    // the heap (a fresh 16 KiB block costs more than reading it).
    static constexpr qint64 kHeadBytes = 16 * 1024;
    QFile file_;
    qint64 size_ = 0;
    char headBytes_[kHeadBytes];
    QByteArray head_; // headBytes_ as read
};

// What a failed DCMTK read means, as a French phrase for the user (DCMTK's own text,
// in English, belongs in DicomError::Detail).
QString ParseFailureReason(const OFCondition &condition);

// The members of a sequence (items, or the fragments of a pixel sequence) in one pass:
// DCMTK's getItem(i) walks its list from the start each time, which makes a loop over a
// long sequence quadratic.
std::vector<DcmObject *> SequenceMembers(DcmSequenceOfItems *sequence);

} // namespace imaging::detail
