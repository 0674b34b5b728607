#pragma once

#include <QByteArray>
#include <QString>

namespace common {

// Windows-1252 ("ANSI" code page of western Windows) text conversion.
// Files written by the workstation programs (profiles, request files) use it.

// Decodes Windows-1252 bytes. The five unassigned bytes (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) map to the C1 control characters of the same value, as
// Windows does, so every byte sequence decodes and re-encodes unchanged.
QString fromCp1252(const QByteArray &bytes);

// Encodes to Windows-1252. Characters the code page cannot hold become '?'.
QByteArray toCp1252(const QString &text);

// True when every character of text has a Windows-1252 byte.
bool isCp1252(const QString &text);

} // namespace common
