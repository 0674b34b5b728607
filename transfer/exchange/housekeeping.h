#pragma once

#include "transfer/exchange/messagesink.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <functional>

namespace exchange {

// Deletes the marker files of the working folder: "*.ok" other than "ftp.ok",
// and "*.ok2" (any case). Errors are ignored.
void PurgeMarkers(const QString &workingFolder);

// Old visits that may be purged, by name relative to the working folder:
// image folders holding only ".dcm" files (at any depth; empty ones too) and
// catalogue files "DICOMDIR*", last modified on comparison day or earlier.
// Nothing when the working folder is not named KorvaneCD (any case): then the
// message "Erreur: Le répertoire courrant n'est pas KorvaneCD" is shown.
QStringList PurgeCandidates(const QString &workingFolder, const QDate &comparison, MessageSink &messages);

// Deletes the candidates: catalogue files as files, image folders with their
// content. progress(name) runs before each deletion and ticked(index) after.
// Deletion errors are ignored (the entry stays and is listed next time).
void PurgeList(const QString &workingFolder, const QStringList &candidates,
               const std::function<void(const QString &)> &progress = {},
               const std::function<void(int)> &ticked = {});

// Candidates as of today, purged, then the markers.
void FullPurge(const QString &workingFolder, MessageSink &messages);

// The desktop folder where shortcuts go (XDG user dirs, else ~/Desktop).
QString desktopFolder();

// Writes desktopFolder/name.desktop, a freedesktop launcher for target with
// the target's folder as working folder. False when it cannot be written.
bool CreateDesktopShortcut(const QString &desktopFolder, const QString &name, const QString &target);

// The two shortcuts of the first-time configuration: "KorvaneCD" and
// "Strandel" to the programs of programFolder, for the ticked boxes.
bool CreateProgramShortcuts(const QString &desktopFolder, const QString &programFolder, bool viewer,
                            bool client);

// News shown once after an update.
inline const QString NewsFileName = QStringLiteral("StrandelNews.txt");

// The self-update unpacks into the folder of the visits. It may write only the
// transfer client's own files, directly in that folder: names beginning with
// "Strandel" (the client, its new version, the updater, "StrandelNews.txt"),
// other than its settings, and libraries (".dll", ".so", ".so.N"). Empty for
// such a name; otherwise, in French, what the entry is and that an update
// never writes it (a catalogue, an image or image folder, a report, a
// dictation or prompt, the radiologist list, the settings, a visit marker, an
// archive, or any other file).
QString UpdateEntryRefusal(const QString &path, bool folder);

// The name of an update archive, saved as such in the folder of the visits:
// empty when it is a ".zip" name that no file of the visits or of the viewer
// bears; otherwise the reason in French.
QString UpdateArchiveNameRefusal(const QString &name);

} // namespace exchange
