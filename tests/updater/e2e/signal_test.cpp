// A caller's SIGTERM, SIGHUP or SIGINT at any point of a run, from its
// first change of the system to its exit: the run goes on, ends with the
// code it would have had, and leaves the flash, "/etc/vexainfo.conf", the
// link's MTU and the driver buffer as the same run without the signal
// leaves them.
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_fixture.h"
#include "test_tmp.h"
#include "../patch/msys_layout.h"

namespace {

constexpr uint64_t kZImage = 0x110000;  // a block more than zImage has

enum class Road {
    Update,   // MTU 9000 on a gigabit link, zImage grows
    Steps,    // installed build 400: every step before and after the write
    Repair,   // the bantam model whose flash directory is repaired (the
              // simulated chip's windows then differ from the new
              // directory: the backup refuses, 15)
    MSys,     // MSys flash
};

struct SignalRun {
    const char *name = "";
    Road road = Road::Update;
    int sig = SIGTERM;
    std::string watch = "";                   // the observer's event ("mtu", "rename=/etc/group", ...)
    std::string rule = "";                    // or a simulated-kernel rule that signals
    std::vector<std::string> faults = {};     // in both runs
    int status = 0;                           // of both runs
    bool flashAsBefore = false;               // rolled back
};

void PrintTo(const SignalRun &s, std::ostream *os)
{
    *os << s.name;
}

constexpr char kInfoKeys[] = "ftplowport=\"6000\"\nftphighport=\"6500\"\ncodepage=\"936\"\nlang=\"enu\"\n";

// One appliance on the road of the case, with the faults that both runs
// share.
std::unique_ptr<e2e::Appliance> build(const SignalRun &s)
{
    auto a = std::make_unique<e2e::Appliance>(s.road == Road::Repair ? "bantam" : "normal");
    e2e::Installed inst;
    inst.supportMtu = true;
    inst.eth0Mtu = "9000";
    simkernel::PackageLayout contents;
    contents.images = simkernel::defaultImages(a->table);
    switch (s.road) {
    case Road::Update:
        contents.images["zImage"] = kZImage;
        break;
    case Road::Steps:
        inst.build = 400;
        break;
    case Road::Repair:
        inst.build = 284;
        inst.model = "vexalink_powerpc_q80z+_1hd";
        a->app.setHwVersion("vexalink-q80z-b\n");
        break;
    case Road::MSys:
        simkernel::makeMSysChip(a->state, msystest::kUnits, msystest::kData);
        contents.images = {{"zImage", 5 * msystest::kUnit + 3}};
        break;
    }
    a->install(inst);
    a->app.setEth0(9000, 1000);
    if (s.road == Road::Steps) {
        a->app.writeFile("/etc/vexainfo.conf", a->app.readFile("/etc/vexainfo.conf") + kInfoKeys);
        a->app.writeFile("/etc/rsyncd.conf", "uid = nobody\n#use chroot = no\nlock file = /var/run/rsyncd.lock\n", 0600);
        a->app.writeFile("/etc/rsyncd.secrets", "root:tuQ/8RzuuEul2|cGFzcw==\n", 0644);
        a->app.writeFile("/etc/group", "root:x:0:\nsmmsp:x:25:postfix,nobody\nusers:x:100:\n");
    }
    a->package(contents);
    for (const std::string &rule : s.faults)
        simkernel::addFault(a->state, rule);
    return a;
}

// What a run leaves that the signal must not change.
struct Outcome {
    int status = -1;
    std::string chip, info, lastProgress, logLast;
    int mtu = 0;
    simkernel::Counters405 calls;
};

Outcome runOf(e2e::Appliance &a)
{
    Outcome o;
    o.status = a.run({}).status;
    o.chip = simkernel::chipBytes(a.state);
    o.info = a.app.readFile("/etc/vexainfo.conf");
    o.lastProgress = a.lastProgress();
    o.logLast = a.updateLog().empty() ? "" : a.updateLog().back();
    o.mtu = a.app.eth0MtuAfterRun();
    o.calls = simkernel::counters405(a.state);
    return o;
}

const SignalRun kRuns[] = {
    {.name = "term_after_the_mtu_change", .watch = "mtu"},
    {.name = "hup_after_the_reservation", .sig = SIGHUP, .watch = "reserve"},
    {.name = "term_at_the_repair_erase",
     .road = Road::Repair,
     .rule = "powercut erase dev=mtd5 nth=1 sig=TERM",
     .status = 15},
    {.name = "int_in_the_repair_write",
     .road = Road::Repair,
     .sig = SIGINT,
     .rule = "signal write dev=mtd5 after=512 sig=INT",
     .status = 15},
    {.name = "term_after_the_ftp_ports", .road = Road::Steps, .watch = "rename=/etc/vexainfo.conf"},
    {.name = "hup_after_the_rsync_conf", .road = Road::Steps, .sig = SIGHUP, .watch = "rename=/etc/rsyncd.conf"},
    {.name = "int_after_the_smmsp_group", .road = Road::Steps, .sig = SIGINT, .watch = "rename=/etc/group"},
    {.name = "term_in_the_backup", .rule = "signal read dev=mtd3 after=100000 sig=TERM"},
    {.name = "hup_in_the_write", .sig = SIGHUP, .rule = "signal write dev=mtd1 after=65536 sig=HUP"},
    // rd.gz fails its three attempts; zImage's restore is signalled.
    {.name = "int_in_the_roll_back",
     .sig = SIGINT,
     .rule = "signal write dev=mtd1 after=" + std::to_string(kZImage + 0x10000) + " sig=INT",
     .faults = {"fail write dev=mtd2 nth=1", "fail write dev=mtd2 nth=2", "fail write dev=mtd2 nth=3"},
     .status = 20,
     .flashAsBefore = true},
    {.name = "term_after_the_passwd_homes", .road = Road::Steps, .watch = "rename=/etc/passwd"},
    {.name = "int_after_the_shadow_lines", .road = Road::Steps, .sig = SIGINT, .watch = "rename=/etc/shadow"},
    {.name = "hup_in_the_msys_write", .road = Road::MSys, .sig = SIGHUP, .rule = "signal write dev=mtd1 after=20000 sig=HUP"},
};

class Signals : public ::testing::TestWithParam<SignalRun> {};

TEST_P(Signals, TheRunEndsAsWithoutTheSignal)
{
    const SignalRun &s = GetParam();
    std::unique_ptr<e2e::Appliance> plain = build(s);
    const std::string chipBefore = simkernel::chipBytes(plain->state);
    const std::string infoBefore = plain->app.readFile("/etc/vexainfo.conf");
    const Outcome want = runOf(*plain);
    ASSERT_EQ(want.status, s.status);

    std::unique_ptr<e2e::Appliance> a = build(s);
    if (!s.watch.empty())
        a->app.setEnv("VEXA_WATCH_SIGNAL", std::to_string(s.sig) + " " + s.watch);
    if (!s.rule.empty())
        simkernel::addFault(a->state, s.rule);
    const Outcome got = runOf(*a);

    const std::string arrived = "signal " + std::to_string(s.sig) + " (" + sigabbrev_np(s.sig) + ") arrived";
    EXPECT_EQ(a->syslogCount(arrived), 1u) << "the signal was not sent, or not logged once";
    EXPECT_EQ(got.status, want.status);
    EXPECT_EQ(got.lastProgress, want.lastProgress);
    EXPECT_EQ(got.logLast, want.logLast);
    EXPECT_TRUE(got.chip == want.chip) << "the flash differs from the run without the signal";
    EXPECT_EQ(got.chip == chipBefore, s.flashAsBefore);
    EXPECT_EQ(got.info, want.info);
    if (s.road == Road::Update) {
        EXPECT_EQ(got.info, infoBefore);
    }
    EXPECT_EQ(got.mtu, 9000);
    EXPECT_EQ(got.calls.reserve, want.calls.reserve);
    EXPECT_EQ(got.calls.release, want.calls.release);
    EXPECT_EQ(got.calls.release, got.calls.reserve == 0 ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(Caller, Signals, ::testing::ValuesIn(kRuns),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
