// A caller's SIGTERM while the flash is changed: at the backup, the write
// and the roll-back the updater goes on, ends with its own code, leaves
// the flash either as before or fully new, and puts the MTU and
// "/etc/vexainfo.conf" back as they were.
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_fixture.h"
#include "test_tmp.h"

namespace {

struct SignalRun {
    const char *name = "";
    std::vector<std::string> rules = {};      // simulated-kernel fault rules
    std::string ddSignalsOn = "";             // a copy with this argument signals the updater
    int status = 0;
    bool flashAsBefore = false;               // else every image is in place
};

void PrintTo(const SignalRun &s, std::ostream *os)
{
    *os << s.name;
}

// A copy tool that, the first time it gets the given argument, sends
// SIGTERM to the updater above it (as a caller would), then copies.
void signallingCopyTool(e2e::Appliance &a, const std::string &argument)
{
    a.wrapCopyTool(
        "#!/bin/sh\n"
        "for a in \"$@\"; do\n"
        "  if [ \"$a\" = '" + argument + "' ] && [ ! -e /tmp/signal.sent ]; then\n"
        "    : >/tmp/signal.sent\n"
        "    p=$PPID\n"
        "    while [ \"$(cat /proc/$p/comm)\" != updater ]; do p=$(cut -d' ' -f4 /proc/$p/stat); done\n"
                    "    kill -TERM $p\n"
                    "  fi\n"
                    "done\n"
                    "exec /usr/local/bin/dd.real \"$@\"\n");
}

const SignalRun kRuns[] = {
    {.name = "at_the_backup", .ddSignalsOn = "if=/dev/mtd3", .status = 0},
    {.name = "at_the_write", .rules = {"signal write proc=main dev=mtd1 after=65536 sig=TERM"}, .status = 0},
    {.name = "at_the_roll_back",
     .rules = {"fail write dev=mtd2 proc=updater always"},
     .ddSignalsOn = "of=/dev/mtd1",
     .status = 20,
     .flashAsBefore = true},
};

class Signals : public ::testing::TestWithParam<SignalRun> {};

TEST_P(Signals, TheRunEndsWithItsOwnCode)
{
    const SignalRun &s = GetParam();
    e2e::Appliance a("normal");
    // A 100 Mb/s link: the MTU is recorded lowered and put back, without
    // the pause a gigabit link's change costs.
    a.installWithMtu(9000, 100);
    simkernel::PackageLayout contents;
    contents.images = simkernel::defaultImages("normal");
    contents.images["zImage"] = 0x110000;
    a.package(contents);
    for (const std::string &rule : s.rules)
        simkernel::addFault(a.state, rule);
    if (!s.ddSignalsOn.empty())
        signallingCopyTool(a, s.ddSignalsOn);
    const std::string chipBefore = simkernel::chipBytes(a.state);
    const std::string confBefore = a.app.readFile("/etc/vexainfo.conf");

    const approot::RunResult r = a.run({});
    EXPECT_EQ(r.status, s.status) << r.err;
    EXPECT_EQ(a.updateLog().back(), s.status == 0 ? "Congratulation!! The update has been completed!!"
                                                  : e2e::failed(s.status));
    if (s.ddSignalsOn.empty()) {
        EXPECT_FALSE(simkernel::opsMatching(a.state, {"signal=TERM"}).empty());
    } else {
        EXPECT_TRUE(a.app.exists("/tmp/signal.sent"));
    }
    EXPECT_EQ(a.syslogCount("signal 15 (TERM) arrived while the flash is updated, ignored"), 1u);
    if (s.flashAsBefore) {
        EXPECT_TRUE(simkernel::chipBytes(a.state) == chipBefore) << "the flash was not restored";
    } else {
        for (const char *part : {"zImage", "rd.gz", "AllLib.tgz"}) {
            const std::string file = simkernel::imageFileName(part);
            const uint64_t size = contents.images.at(file);
            EXPECT_TRUE(simkernel::partitionData(a.state, part, size) ==
                        simkernel::imageBytes(file, contents.build, size))
                << part;
        }
    }
    EXPECT_EQ(a.app.eth0MtuAfterRun(), 9000);
    EXPECT_EQ(a.app.readFile("/etc/vexainfo.conf"), confBefore);
    const simkernel::Counters405 calls = simkernel::counters405(a.state);
    EXPECT_EQ(calls.reserve, 1u);
    EXPECT_EQ(calls.release, 1u);
}

INSTANTIATE_TEST_SUITE_P(Term, Signals, ::testing::ValuesIn(kRuns),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
