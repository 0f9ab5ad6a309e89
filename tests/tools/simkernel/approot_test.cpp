// The simulated device kernel inside an appliance root, as the updater will
// meet it: preloaded into every process, /bin/sh and /bin/dd included.
#include "sk_helpers.h"

#if defined(SIMKERNEL_WITH_APPROOT)

#include <cstdio>
#include <string>

#include "approot.h"

using namespace simkernel;
using sktest::hex;

namespace {

class InRoot : public ::testing::Test {
protected:
    vexatest::TempDir tmp{"skroot"};
    std::string state = tmp / "state";
    approot::Appliance app{"skroot"};

    void SetUp() override {
        makeChip(state, "normal");
        attach(app, state);
    }
    approot::RunResult sh(const std::string &cmd) { return app.run({"/bin/sh", "-c", cmd}); }
    std::string probe() { return "'" + probePath() + "'"; }
};

TEST_F(InRoot, DdReadsAWindowAndWritesWithTheAndRule) {
    auto r = sh("/bin/dd if=/dev/mtd2 of=/root/rd.copy bs=16384 2>/dev/null");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(app.readFile("/root/rd.copy"), partitionBytes(state, "rd.gz"));

    app.writeFile("/root/img", std::string(50000, '\x3c'));
    r = sh(probe() + " /dev/mtd1 unlock 0 0x100000 , erase 0 0x100000 >/dev/null && "
           "/bin/dd if=/root/img of=/dev/mtd1 bs=16384 2>/dev/null");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(partitionData(state, "zImage", 50000), std::string(50000, '\x3c'));
    app.writeFile("/root/img", std::string(50000, '\xc3'));
    r = sh("/bin/dd if=/root/img of=/dev/mtd1 bs=16384 2>/dev/null");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(partitionData(state, "zImage", 50000), std::string(50000, '\0'));
    EXPECT_FALSE(opsMatching(state, {"proc=dd", "op=write", "dev=mtd1"}).empty());
}

TEST_F(InRoot, ALaterProcessSeesTheMovedWindowAndTheNewEntry) {
    auto r = app.run({probePath(), "/dev/mtd1", "m22", "0xFF840000", "0x110000"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    r = app.run({probePath(), "/dev/mtd7", "m23", "zImage", "0xFF840000", "0x110000", "0x100001"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    r = sh("/bin/dd if=/dev/mtd1 bs=65536 2>/dev/null | /usr/bin/wc -c");
    EXPECT_EQ(r.out, "1114112\n") << r.err;
    auto dir = readDirectory(state);
    EXPECT_EQ(dir[1].size, 0x110000u);
    EXPECT_EQ(dir[1].dataLength, 0x100001u);
    EXPECT_EQ(dir[2].size, 0x200000u);
}

TEST_F(InRoot, LockedFlashRefusesEraseAndTheMtuIsLogged) {
    app.setEth0(1500, 1000);
    auto r = app.run({probePath(), "/dev/mtd3", "erase", "0", "0x10000"});
    EXPECT_NE(r.out.find("err erase EROFS"), std::string::npos) << r.out << r.err;
    auto l = opsMatching(state, {"req=MEMERASE", "errno=EROFS"});
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(opsField(l[0], "mtu"), "1500");
}

TEST_F(InRoot, FaultsReachTheUpdatersChildren) {
    addFault(state, "signal read proc=dd dev=mtd3 after=100000");
    auto r = sh(probe() + " - sys405 1 >/dev/null; /bin/dd if=/dev/mtd3 of=/root/all bs=16384; "
                "echo dd=$?");
    EXPECT_NE(r.out.find("dd=137"), std::string::npos) << r.out << r.err;
    EXPECT_EQ(opsMatching(state, {"op=read", "fault=1"}).size(), 1u);
    EXPECT_EQ(counters405(state).reserve, 1u);
}

TEST_F(InRoot, PowerCutStopsTheNamedProcess) {
    addFault(state, "powercut proc=simprobe nth=3");
    auto r = app.run({probePath(), "/dev/mtd1", "unlock", "0", "0x10000", ",", "erase", "0",
                      "0x10000", ",", "write", "0", "00", ",", "getinfo"});
    EXPECT_EQ(r.status, 128 + 9) << r.out << r.err;
    EXPECT_EQ(hex(partitionData(state, "zImage", 1)), "ff");  // erased, never written
    EXPECT_EQ(opsField(opsMatching(state, {"op=powercut"}).at(0), "cut"), "write");
}

TEST_F(InRoot, SysinfoReadsTheStatesUptimeExactly) {
    app.setUptime(5000);  // the time namespace's clock, as sysinfo rounds it
    setUptime(state, 300);
    auto r = sh(probe() + " - sysinfo , syscall-sysinfo; /bin/sh -c \"" + probe() + " - sysinfo\"");
    EXPECT_EQ(r.out, "ok uptime=300 mem=yes\nok uptime=300 mem=yes\nok uptime=300 mem=yes\n") << r.err;
    EXPECT_EQ(opsMatching(state, {"op=sysinfo", "uptime=300", "res=0"}).size(), 3u);

    // Without the key the namespace's uptime comes through, and nothing is logged.
    clearUptime(state);
    clearOpsLog(state);
    r = app.run({probePath(), "-", "sysinfo"});
    long up = -1;
    ASSERT_EQ(std::sscanf(r.out.c_str(), "ok uptime=%ld", &up), 1) << r.out << r.err;
    EXPECT_GE(up, 5000);
    EXPECT_LT(up, 5060);
    EXPECT_TRUE(opsLog(state).empty());
}

TEST_F(InRoot, MdRequestsAndSysfsFiles) {
    MdArray m;
    m.sizeKib = 1000;
    m.devSize = 1024000;
    setMd(state, 0, m);
    writeMdSysfs(app, 0, {{"sda5", "in_sync", "0"}, {"sdb5", "faulty", "1"}});
    auto r = sh(probe() + " -r /dev/md0 mdinfo , blksize64 , mdsync; "
                "/bin/cat /sys/block/md0/md/dev-sdb5/state");
    EXPECT_NE(r.out.find("ok level=1 size=1000 raid_disks=2"), std::string::npos) << r.out << r.err;
    EXPECT_NE(r.out.find("ok 1024000"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("ok 0 0 0"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("faulty\n"), std::string::npos) << r.out;
}

}  // namespace

#endif
