#pragma once

class QCoreApplication;

namespace platform {

// Turns SIGTERM, SIGINT and SIGHUP into a normal end of the event loop
// (exit code 0), so that the program cleans up as when its window closes.
// Call once, after the application object exists.
void QuitOnTerminationSignals(QCoreApplication &application);

} // namespace platform
