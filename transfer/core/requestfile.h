#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace strandel {

// Stamp of a request: the date "yyyy-mm-dd", one blank, then hour, minute
// and second as two digits each ("2005-03-02 143005").
QString RequestStamp(const QDateTime &moment);

// FichierZip + "[" + stamp + "].req".
QString RequestFileName(const QString &fichierZip, const QString &stamp);

struct RequestContent {
    QString fichierZip;
    QString stamp;
    QString accession;
    QString quality;   // "100", "80", "50" or "20"
    QString birthDate; // "yyyy-mm-dd" or empty
    QString version;
    QString report;    // "RAPPORT=OUI" or "RAPPORT=NON"
};

// The seven lines of a request file in Windows-1252, each ended by CR LF.
// A line break inside a value would shift every line after it, so CR and LF
// inside values are written as blanks.
QByteArray RequestFileBytes(const RequestContent &request);

// Name of the server's answer file for a request: the part of the request
// name before the first ".REQ" (without regard to case) followed by suffix
// (".ERR", ".ACK", ".ok2").
QString AnswerFileName(const QString &requestName, const QString &suffix);

// Wait-mode clock: minutes and seconds as two digits each ("07:05"); the
// minutes take more digits past 99.
QString WaitClock(int seconds);

// True when the wait-mode tick number `counter` asks the server: the first
// tick, then every `delay` seconds.
bool IsCheckTick(int counter, int delay);

} // namespace strandel
