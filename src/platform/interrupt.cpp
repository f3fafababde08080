#include "platform/interrupt.h"

#include <csignal>
#include <string>

namespace interrupt {

namespace {

volatile sig_atomic_t notedSignal = 0;

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

extern "C" void noteSignal(int signal) {
    notedSignal = signal;
}

sigset_t signalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kSignals) {
        sigaddset(&set, signal);
    }
    return set;
}

}  // namespace

void installHandlers() {
    for (int signal : kSignals) {
        struct sigaction previous;
        if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction action = {};
        action.sa_handler = noteSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;  // no SA_RESTART
        ::sigaction(signal, &action, nullptr);
    }
}

int noted() {
    return notedSignal;
}

bool requested() {
    return notedSignal != 0;
}

void reset() {
    notedSignal = 0;
}

std::string signalName(int signal) {
    switch (signal) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        case SIGPIPE:
            return "SIGPIPE";
        default:
            return "signal " + std::to_string(signal);
    }
}

Interrupted::Interrupted(int signal)
    : std::runtime_error("interrupted by " + signalName(signal)), signal_(signal) {}

void throwIfRequested() {
    const int signal = notedSignal;
    if (signal != 0) {
        throw Interrupted(signal);
    }
}

Deferral::Deferral() {
    const sigset_t set = signalSet();
    ::sigprocmask(SIG_BLOCK, &set, &previous_);
}

Deferral::~Deferral() {
    ::sigprocmask(SIG_SETMASK, &previous_, nullptr);
}

}  // namespace interrupt
