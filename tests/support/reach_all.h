// Tests that act as another user on the host (not in an appliance root)
// must reach the build tree wherever it lies, also under a folder closed to
// others ("/root", mode 0700), without any host folder's mode changing.
#ifndef VEXA_TEST_REACH_ALL_H
#define VEXA_TEST_REACH_ALL_H

#include <string>

namespace vexatest {

// For a child process before it drops root: gives it a mount namespace of
// its own in which every user may pass the folders down to `path`.  The
// first closed folder above it is covered by a small tmpfs holding only the
// way down, at whose end `path` itself is bound.  False (errno set) when
// that fails.
bool reachFromEveryUser(const std::string &path);

struct ShellRun {
    int status;       // exit code, or 128+signal
    std::string out;  // standard output
    std::string err;  // standard error
};

// Runs `/bin/sh -c command` (as root) in such a namespace, with the build
// tree reachable by every user.
ShellRun runWithBuildReachable(const std::string &command);

}  // namespace vexatest

#endif
