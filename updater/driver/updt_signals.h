// The signals a caller may send while a run changes the system.  From the
// run's start, before its first change (the MTU, the driver buffer, the
// directory repair, any migration), until its exit they are caught and
// noted instead of ending the run half-way: a half-written flash, the
// driver buffer left reserved or the MTU left lowered cannot be put right
// by any later run.  A caught signal goes back to its default in every
// program the updater starts (exec resets it), unlike an ignored one.
#ifndef UPDT_SIGNALS_H
#define UPDT_SIGNALS_H

#include <csignal>

namespace updt {

class SignalHold {
public:
    static constexpr int kCount = 5;  // HUP, INT, QUIT, TERM, PIPE

    SignalHold();
    ~SignalHold();  // logs what is left to log, puts the old actions back
    SignalHold(const SignalHold &) = delete;
    SignalHold &operator=(const SignalHold &) = delete;

    // Logs each signal that arrived since the last call, once.
    void logArrived();

private:
    struct sigaction old_[kCount];
    bool installed_[kCount] = {};
};

}  // namespace updt

#endif
