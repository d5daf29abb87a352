// The front ends' handling of INT, TERM and HUP (on Windows Ctrl-C, Ctrl-Break and the console's
// closing events), and of a closed output. While partitions are being erased or programmed the
// first stop signal is deferred (util/stop_request.h): it writes "finishing the image in
// progress, then stopping" to standard error and the runs end between images; a second one
// within 3 s, or any one outside programming, writes what each run leaves behind (its stop
// notice: util/stop_notice.h), removes the payload folders and ends the program as the signal
// would have.
#pragma once

namespace fg {

// Installs the handler for the stop signals and ignores SIGPIPE: a closed output is a write
// error for whoever writes, never a reason to stop programming.
void InstallStopSignals();

}  // namespace fg
