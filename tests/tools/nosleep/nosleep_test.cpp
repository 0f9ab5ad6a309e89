// The pause stand-in preloaded into every appliance run: each pause returns
// at once and is recorded, in the call's own terms.
#include <gtest/gtest.h>

#include <errno.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "approot.h"
#include "root_probe.h"

namespace {

using Lines = std::vector<std::string>;

// One pause by the named call; what the call returned (and errno, and
// what nanosleep left in its remainder).
std::string pause(const std::string &call, long sec, long ns)
{
    timespec req{sec, ns};
    if (call == "sleep")
        return std::to_string(sleep(static_cast<unsigned>(sec)));
    if (call == "usleep")
        return std::to_string(usleep(static_cast<useconds_t>(sec * 1000000 + ns / 1000)));
    if (call == "nanosleep") {
        timespec rem{9, 9};
        const int r = nanosleep(&req, &rem);
        return std::to_string(r) + (r != 0 ? " " + std::to_string(errno) : "") + " rem " +
               std::to_string(rem.tv_sec) + "." + std::to_string(rem.tv_nsec);
    }
    if (call == "until") {
        // an absolute monotonic time this far ahead
        timespec at{};
        clock_gettime(CLOCK_MONOTONIC, &at);
        at.tv_sec += sec;
        return std::to_string(clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr));
    }
    return std::to_string(clock_nanosleep(CLOCK_MONOTONIC, 0, &req, nullptr));
}

// The pauses below return at once only through the stand-in: without it
// loaded, or with it passing pauses on (VEXA_PAUSES=real), they would
// really wait, so the probe then makes none but empty ones.
bool standInLoaded()
{
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);)
        if (line.find("/libnosleep.so") != std::string::npos)
            return true;
    return false;
}

bool passedOn()
{
    const char *mode = getenv("VEXA_PAUSES");
    return mode != nullptr && strcmp(mode, "real") == 0;
}

// Operands come in threes: CALL SECONDS NANOSECONDS.
int probe(std::vector<std::string> ops)
{
    if (!standInLoaded()) {
        vexatest::probe::say("no pause stand-in");
        return 0;
    }
    for (size_t i = 0; i + 3 <= ops.size(); i += 3) {
        const long sec = vexatest::probe::num(ops[i + 1]), ns = vexatest::probe::num(ops[i + 2]);
        if (passedOn() && (sec != 0 || ns != 0))
            vexatest::probe::say(ops[i] + " would really wait");
        else
            vexatest::probe::say(ops[i] + " " + pause(ops[i], sec, ns));
    }
    return 0;
}

VEXATEST_ROOT_PROBE(probe)

Lines run(approot::Appliance &app, const Lines &ops)
{
    return vexatest::probe::run(app, ops);
}

}  // namespace

TEST(NoSleep, EveryPauseReturnsAtOnceAndIsRecorded)
{
    approot::Appliance app("nosleep");
    EXPECT_EQ(run(app, {"sleep", "300", "0", "usleep", "1", "500000000", "nanosleep", "2", "5", "clock", "0",
                        "20000000"}),
              (Lines{"sleep 0", "usleep 0", "nanosleep 0 rem 0.0", "clock 0"}));
    EXPECT_EQ(app.pauses(), (Lines{"sleep 300.000000000", "usleep 1.500000000", "nanosleep 2.000000005",
                                   "clock_nanosleep 0.020000000"}));
}

TEST(NoSleep, AnAbsoluteWakeUpIsRecordedAsWhatWasLeft)
{
    approot::Appliance app("nosleep");
    EXPECT_EQ(run(app, {"until", "60", "0"}), (Lines{"until 0"}));
    const Lines p = app.pauses();
    ASSERT_EQ(p.size(), 1u);
    EXPECT_TRUE(p[0].rfind("clock_nanosleep 59.", 0) == 0 || p[0] == "clock_nanosleep 60.000000000") << p[0];
}

TEST(NoSleep, BadSpansAreRefusedAndNotRecorded)
{
    approot::Appliance app("nosleep");
    EXPECT_EQ(run(app, {"nanosleep", "0", "1000000000", "nanosleep", "-1", "0", "clock", "0", "-1"}),
              (Lines{"nanosleep -1 22 rem 9.9", "nanosleep -1 22 rem 9.9", "clock 22"}));
    EXPECT_EQ(app.pauses(), Lines{});
}

TEST(NoSleep, EachPauseIsToldAndWaitsAtTheGate)
{
    // the second pause is told only once the first has been let through;
    // without the gate the probe would end before the shell reads
    approot::Appliance app("nosleep");
    const approot::RunResult r = app.run(
        {"/bin/sh", "-c",
         "mkfifo /tmp/gate /tmp/paused\n"
         "exec 3<>/tmp/gate 4<>/tmp/paused\n"
         "VEXA_PAUSE_TELL=/tmp/paused VEXA_PAUSE_GATE=/tmp/gate " + vexatest::probe::command() +
             " usleep 0 1000 usleep 0 2000 >/tmp/said &\n"
         "read a <&4; echo \"first $a\" >> /tmp/order\n"
         "echo >&3\n"
         "read b <&4; echo \"second $b\" >> /tmp/order\n"
         "cat /tmp/said >> /tmp/order\n"
         "echo >&3\n"
         "wait\n"});
    ASSERT_EQ(r.status, 0) << r.err;
    // the first usleep has returned before the second pause is told
    EXPECT_EQ(app.readFile("/tmp/order"), "first usleep 0.000001000\nsecond usleep 0.000002000\n@ usleep 0\n");
    EXPECT_EQ(app.pauses(), (Lines{"usleep 0.000001000", "usleep 0.000002000"}));
}

TEST(NoSleep, RealPausesWhenAsked)
{
    approot::Appliance app("nosleep");
    app.setEnv("VEXA_PAUSES", "real");
    // an empty pause: passed on to the system, nothing recorded
    EXPECT_EQ(run(app, {"usleep", "0", "0", "sleep", "1", "0"}), (Lines{"usleep 0", "sleep would really wait"}));
    EXPECT_EQ(app.pauses(), Lines{});
}
