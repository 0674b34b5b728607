#pragma once

class QCoreApplication;

namespace platform {

// Turns SIGTERM, SIGINT and SIGHUP into a normal end of the event loop
// (exit code 0), so that the program cleans up as when its window closes.
// Also ignores SIGXFSZ: a write past the file size limit then fails with EFBIG and is
// reported by its writer. Call once, after the application object exists.
void QuitOnTerminationSignals(QCoreApplication &application);

} // namespace platform
