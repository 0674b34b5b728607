#pragma once

#include "transfer/exchange/messagesink.h"
#include "transfer/exchange/zipcomponent.h"

#include <QDateTime>
#include <QString>

namespace exchange {

// What unpacking a received study archive needs from the settings.
struct UnpackContext
{
    QString workingFolder;  // the program folder, shared with the viewer
    QString repDestination; // RepDestination: empty means the working folder
    QString fichierZip;     // the user's archive base name
    MessageSink *messages = nullptr;
    ExtractLimits limits;
    // Conserver: the folder keeps earlier visits. A new visit then never
    // changes a file that is already there with another content, unless it
    // replaces the same visit (its catalogue "DICOMDIR." + suffix is there).
    bool keepVisits = false;
    // The time that names a visit without a marker file (VisitSuffix).
    QDateTime now;
};

// Folder that receives an unpacked archive.
QString destinationFolder(const UnpackContext &ctx);

// Finds name in folder without regard to case; the real path, or empty.
QString findNoCase(const QString &folder, const QString &name);

// Unpacks workingFolder/archiveName into the destination, then every nested
// zip it held, and checks the "ftp.ok" marker of current server tools.
//
// Every level is unpacked into a staging folder inside the destination first;
// the destination changes only when all levels came out whole, and then the
// images go in before the catalogue and the markers, so that the viewer never
// lists a visit whose images are not all there. A file of the destination that
// the visit may not replace (see keepVisits), or a folder or link where one of
// its files must go, stops the visit before anything is placed: *conflict is
// then set, so that the caller leaves the archive on the server, to be fetched
// again once the folder has been cleared.
bool UnpackArchive(const UnpackContext &ctx, const QString &archiveName, const QString &password,
                   bool *conflict = nullptr);

// Unpacks folder/archiveName into folder/<name without its extension>, deletes
// it, and does the same for every zip that came out of it, to any depth.
bool UnpackNested(const QString &folder, const QString &archiveName, const QString &password,
                  MessageSink &messages, ExtractBudget *budget = nullptr);

// The visit's name: third line of the marker file "<FichierZip>*.ok", cleaned
// of anything that could make it a path; the time stamp "yymmddhhnnss" of now
// when there is no marker or it names nothing usable.
QString VisitSuffix(const QString &workingFolder, const QString &fichierZip, const QDateTime &now);

// Renames the received "DICOMDIR" to "DICOMDIR." + suffix (replacing a file of
// that name). True when the visit's catalogue now has its own name.
bool KeepVisitDicomdir(const QString &workingFolder, const QString &suffix, MessageSink &messages);

} // namespace exchange
