#pragma once
// Reading hostile files safely: what is checked before DCMTK parses a file, how DCMTK's
// failures are told in French, and a linear walk over long sequences.

#include "internal.h"

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

// What a failed DCMTK read means, as a French phrase for the user (DCMTK's own text,
// in English, belongs in DicomError::Detail).
QString ParseFailureReason(const OFCondition &condition);

// The members of a sequence (items, or the fragments of a pixel sequence) in one pass:
// DCMTK's getItem(i) walks its list from the start each time, which makes a loop over a
// long sequence quadratic.
std::vector<DcmObject *> SequenceMembers(DcmSequenceOfItems *sequence);

} // namespace imaging::detail
