// Holding off the caller's signals while the flash is changed.
#include <syslog.h>

#include <csignal>
#include <cstring>
#include <iterator>

#include "updt_signals.h"

namespace {

constexpr int kHeld[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE};

// Set by the handler, read and cleared by the main flow.
volatile sig_atomic_t gArrived[std::size(kHeld)] = {};
// Already logged by the main flow: each signal is logged once.
bool gLogged[std::size(kHeld)] = {};

extern "C" void noteSignal(int sig)
{
    for (size_t i = 0; i < std::size(kHeld); ++i)
        if (kHeld[i] == sig)
            gArrived[i] = 1;
}

}  // namespace

namespace updt {

static_assert(std::size(kHeld) == SignalHold::kCount);

SignalHold::SignalHold()
{
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = noteSignal;
    sigemptyset(&sa.sa_mask);
    // Restarted calls: a wait for a copy tool must not end early.
    sa.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(kHeld); ++i) {
        gArrived[i] = 0;
        gLogged[i] = false;
        installed_[i] = sigaction(kHeld[i], &sa, &old_[i]) == 0;
    }
}

SignalHold::~SignalHold()
{
    logArrived();
    for (size_t i = 0; i < std::size(kHeld); ++i)
        if (installed_[i])
            sigaction(kHeld[i], &old_[i], nullptr);
}

void SignalHold::logArrived()
{
    for (size_t i = 0; i < std::size(kHeld); ++i) {
        if (gArrived[i] == 0 || gLogged[i])
            continue;
        gLogged[i] = true;
        syslog(LOG_ERR, "%s(%d): signal %d (%s) arrived during the update, ignored", "main", __LINE__,
               kHeld[i], sigabbrev_np(kHeld[i]));
    }
}

}  // namespace updt
