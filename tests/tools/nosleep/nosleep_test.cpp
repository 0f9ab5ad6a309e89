// The pause stand-in preloaded into every appliance run: each pause returns
// at once and is recorded, in the call's own terms.
#include <gtest/gtest.h>

#include <errno.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "approot.h"
#include "root_probe.h"

namespace {

using vexatest::probe::num;
using vexatest::probe::say;
using Lines = std::vector<std::string>;

int probe(std::vector<std::string> ops)
{
    size_t i = 0;
    auto next = [&]() { return i < ops.size() ? ops[i++] : std::string(); };
    while (i < ops.size()) {
        const std::string op = next();
        if (op == "sleep") {
            say("sleep " + std::to_string(sleep(static_cast<unsigned>(num(next())))));
        } else if (op == "usleep") {
            say("usleep " + std::to_string(usleep(static_cast<useconds_t>(num(next())))));
        } else if (op == "nanosleep") {
            const long sec = num(next());
            const long ns = num(next());
            timespec req{sec, ns};
            timespec rem{9, 9};
            const int r = nanosleep(&req, &rem);
            say("nanosleep " + std::to_string(r) + (r != 0 ? " " + std::to_string(errno) : "") + " rem " +
                std::to_string(rem.tv_sec) + "." + std::to_string(rem.tv_nsec));
        } else if (op == "clock") {
            const long sec = num(next());
            const long ns = num(next());
            timespec req{sec, ns};
            say("clock " + std::to_string(clock_nanosleep(CLOCK_MONOTONIC, 0, &req, nullptr)));
        } else if (op == "until") {
            // an absolute monotonic time this many seconds ahead
            timespec at{};
            clock_gettime(CLOCK_MONOTONIC, &at);
            at.tv_sec += num(next());
            say("until " + std::to_string(clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr)));
        } else {
            return 92;
        }
    }
    return 0;
}

VEXATEST_ROOT_PROBE(probe)

class NoSleep : public ::testing::Test {
protected:
    approot::Appliance app{"nosleep"};

    Lines run(const Lines &ops) { return vexatest::probe::run(app, ops); }
};

}  // namespace

TEST_F(NoSleep, EveryPauseReturnsAtOnceAndIsRecorded)
{
    EXPECT_EQ(run({"sleep", "300", "usleep", "1500000", "nanosleep", "2", "5", "clock", "0", "20000000"}),
              (Lines{"sleep 0", "usleep 0", "nanosleep 0 rem 0.0", "clock 0"}));
    EXPECT_EQ(app.pauses(), (Lines{"sleep 300.000000000", "usleep 1.500000000", "nanosleep 2.000000005",
                                   "clock_nanosleep 0.020000000"}));
}

TEST_F(NoSleep, AnAbsoluteWakeUpIsRecordedAsWhatWasLeft)
{
    EXPECT_EQ(run({"until", "60"}), (Lines{"until 0"}));
    const Lines p = app.pauses();
    ASSERT_EQ(p.size(), 1u);
    EXPECT_TRUE(p[0].rfind("clock_nanosleep 59.", 0) == 0 || p[0] == "clock_nanosleep 60.000000000") << p[0];
}

TEST_F(NoSleep, BadSpansAreRefusedAndNotRecorded)
{
    EXPECT_EQ(run({"nanosleep", "0", "1000000000", "nanosleep", "-1", "0", "clock", "0", "-1"}),
              (Lines{"nanosleep -1 22 rem 9.9", "nanosleep -1 22 rem 9.9", "clock 22"}));
    EXPECT_EQ(app.pauses(), Lines{});
}

TEST_F(NoSleep, EachPauseIsToldAndWaitsAtTheGate)
{
    // the second pause is told only once the first has been let through;
    // without the gate the probe would end before the shell reads
    const approot::RunResult r = app.run(
        {"/bin/sh", "-c",
         "mkfifo /tmp/gate /tmp/paused\n"
         "exec 3<>/tmp/gate 4<>/tmp/paused\n"
         "VEXA_PAUSE_TELL=/tmp/paused VEXA_PAUSE_GATE=/tmp/gate " + vexatest::probe::command() +
             " usleep 1 usleep 2 >/tmp/said &\n"
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

TEST_F(NoSleep, RealPausesWhenAsked)
{
    app.setEnv("VEXA_PAUSES", "real");
    EXPECT_EQ(run({"usleep", "1000"}), (Lines{"usleep 0"}));
    EXPECT_EQ(app.pauses(), Lines{});
}
