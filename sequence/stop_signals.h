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

// The stop events of a session that takes one instrument after another until it is told to stop
// (the production station). While partitions are being programmed, and while a run of the
// session is between its steps, they do what they do for an update (above). While no run is
// going on they end the session instead of the program: SessionStopRequested() turns true, and
// the session prints its summary and returns.
void InstallSessionStopSignals();

// True once the session was asked to stop, by a stop event while it ran nothing or by a deferred
// one while it programmed: it takes no further instrument.
bool SessionStopRequested();

// One run of the session, from before its first step to its end. A run is begun only when its
// scope was accepted: a stop event that came while no run was going on is never followed by a
// run that started behind its back.
class SessionRunScope {
 public:
  SessionRunScope();
  ~SessionRunScope();
  SessionRunScope(const SessionRunScope&) = delete;
  SessionRunScope& operator=(const SessionRunScope&) = delete;
  // False when the session had been asked to stop: the run must not begin.
  bool accepted() const { return accepted_; }

 private:
  bool accepted_;
};

}  // namespace fg
