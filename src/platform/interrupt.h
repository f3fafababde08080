// Stopping a run on SIGINT, SIGTERM or SIGHUP. The handlers only note the signal; the
// copy loops, the prompts and the steps of a run look at the note and end the run in
// order, removing what it made.
#pragma once

#include <signal.h>

#include <stdexcept>
#include <string>

namespace interrupt {

// Installs the handlers for SIGINT, SIGTERM and SIGHUP. Interrupted system calls are
// not restarted, so a read waiting at a prompt returns. A signal that was ignored when
// the program started (as under nohup) stays ignored.
void installHandlers();

// The signal noted since the handlers were installed, 0 when none.
int noted();
bool requested();

// Forgets a noted signal.
void reset();

// "SIGINT", "SIGTERM", "SIGHUP" or "signal N".
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

// Holds the three signals back while it exists, so that the system calls made
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
