// Stopping a run on SIGINT, SIGTERM, SIGHUP or SIGPIPE. The handlers only note the signal; the
// copy loops, the prompts and the steps of a run look at the note and end the run in
// order, removing what it made.
#pragma once

#include <signal.h>

#include <stdexcept>
#include <string>

namespace interrupt {

// Installs the handlers for SIGINT, SIGTERM, SIGHUP and SIGPIPE. Interrupted system calls
// are not restarted, so a read waiting at a prompt returns. A signal that was ignored when
// the program started (as under nohup) stays ignored. SIGPIPE comes when the reader of
// standard output has gone (`| head -1`, a pager that is quit); the write that raised it
// fails, and the run ends like on SIGTERM.
void installHandlers();

// The signal noted since the handlers were installed, 0 when none.
int noted();
bool requested();

// Forgets a noted signal.
void reset();

// "SIGINT", "SIGTERM", "SIGHUP", "SIGPIPE" or "signal N".
std::string signalName(int signal);

// Thrown where a long operation finds a signal noted.
class Interrupted : public std::runtime_error {
  public:
    explicit Interrupted(int signal);
    int signal() const { return signal_; }

  private:
    int signal_;
};

// Throws Interrupted when a signal has been noted.
void throwIfRequested();

// Holds the four signals back while it exists, so that the system calls made
// meanwhile all happen; a signal sent meanwhile is noted when the object goes away.
class Deferral {
  public:
    Deferral();
    ~Deferral();
    Deferral(const Deferral&) = delete;
    Deferral& operator=(const Deferral&) = delete;

  private:
    sigset_t previous_;
};

}  // namespace interrupt
