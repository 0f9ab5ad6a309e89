// The backtrace log, which writes to "/dev/console" and the system log, run
// inside the appliance root.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "approot.h"
#include "base/err/vral_err.h"
#include "root_probe.h"
#include "test_tmp.h"

namespace {

using vexatest::splitLines;
using vexatest::probe::say;

__attribute__((noinline)) void failDeep(int depth)
{
    volatile int keep = depth;
    if (depth == 0)
        VRAL_ERR_SET(ERR_WRITE_FAILED);
    else
        failDeep(depth - 1);
    (void)keep;
}

// "fail" records an error, "print" writes the frames to standard output,
// "log" sends them to the console and the system log.
int probe(std::vector<std::string> ops)
{
    for (const std::string &op : ops) {
        if (op == "fail") {
            failDeep(3);
        } else if (op == "print") {
            say("frames");
            VRALErrBacktracePrint();
            fflush(stdout);
            say("end");
        } else if (op == "log") {
            VRALErrBacktraceLog();
            say("logged");
        } else {
            say("unknown " + op);
            return 92;
        }
    }
    return 0;
}

VEXATEST_ROOT_PROBE(probe)

// The lines that "print" put between its two markers.
std::vector<std::string> printedFrames(const std::string &out)
{
    std::vector<std::string> frames;
    bool in = false;
    for (const std::string &line : splitLines(out)) {
        if (line == "@ frames")
            in = true;
        else if (line == "@ end")
            in = false;
        else if (in)
            frames.push_back(line);
    }
    return frames;
}

}  // namespace

TEST(ErrBacktraceLogRoot, FramesGoToConsoleAndSystemLogAtPriorityError)
{
    approot::Appliance app{"errlog"};
    const approot::RunResult r = app.run(vexatest::probe::argv({"fail", "print", "log"}));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> frames = printedFrames(r.out);
    ASSERT_GE(frames.size(), 4u) << r.out;

    EXPECT_EQ(splitLines(app.console()), frames);

    std::vector<std::string> logged;
    for (const std::string &line : app.syslog()) {
        if (line.empty())
            continue;
        // LOG_USER | LOG_ERR
        EXPECT_EQ(line.rfind("<11>", 0), 0u) << line;
        size_t sep = line.find(": ");
        logged.push_back(sep == std::string::npos ? line : line.substr(sep + 2));
    }
    EXPECT_EQ(logged, frames);
}

TEST(ErrBacktraceLogRoot, NothingIsLoggedBeforeAFailure)
{
    approot::Appliance app{"errlog"};
    const approot::RunResult r = app.run(vexatest::probe::argv({"print", "log"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(printedFrames(r.out).empty()) << r.out;
    EXPECT_EQ(app.console(), "");
    EXPECT_TRUE(app.syslog().empty());
}
