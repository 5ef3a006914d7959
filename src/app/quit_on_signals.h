#pragma once

class QObject;

namespace brevalo {

// SIGINT, SIGTERM and SIGHUP end the application through the normal quit path, so the
// termination hook stops monitoring (and saves a running take) as the Quit command does. The
// handler only writes a byte to a pipe; the main loop does the rest.
void quitOnTerminationSignals(QObject* parent);

} // namespace brevalo
