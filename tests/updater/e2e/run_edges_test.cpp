// Edges of a whole run: options that name no volume, an MTU the exit
// could not put back, empty partitions that grow, give their block or are
// rolled back, and an appliance whose copy tool is a small one.
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_fixture.h"
#include "../patch/msys_layout.h"

namespace {

using e2e::failed;

constexpr uint32_t kBlock = 0x10000;

// A volume that is empty or relative names no folder to leave the archive
// in: refused as a bad option, before anything is touched.
TEST(RunOptions, AVolumeThatIsNoAbsolutePathIsABadOption)
{
    for (const char *volume : {"", "g"}) {
        SCOPED_TRACE(std::string("-v '") + volume + "'");
        e2e::Appliance a("normal");
        a.installWithMtu(9000, 100);
        a.package({});
        a.packageFile("hda1.tgz", "the new system partition");
        const std::string infoBefore = a.app.readFile("/etc/vexainfo.conf");
        const approot::RunResult r = a.run({"-v", volume});
        EXPECT_EQ(r.status, 255) << r.err;
        EXPECT_EQ(a.progress(), std::vector<std::string>{"A:0:      "});
        EXPECT_TRUE(a.syslogHas("is not an absolute path"));
        EXPECT_TRUE(simkernel::opsMatching(a.state, {}).empty());
        EXPECT_EQ(a.app.readFile("/etc/vexainfo.conf"), infoBefore);
        EXPECT_TRUE(a.app.exists(a.packageDir + "/hda1.tgz"));
        for (const approot::Change &c : a.app.changes())
            EXPECT_TRUE(c.path == "/tmp" || c.path.rfind("/tmp/", 0) == 0 || c.path.rfind("/var/log", 0) == 0)
                << c.kind << " " << c.path;
    }
}

// A saved MTU that the exit could not write back: the link keeps it and
// the file is not touched.
TEST(RunMtu, ASavedValueThatIsNoNumberIsNotLowered)
{
    e2e::Appliance a("normal");
    a.installWithMtu(9000, 1000);
    std::string info = a.app.readFile("/etc/vexainfo.conf");
    const std::string good = "eth0_mtu=\"9000\"";
    info.replace(info.find(good), good.size(), "eth0_mtu=9000\"");
    a.app.writeFile("/etc/vexainfo.conf", info);
    a.package({});
    const approot::RunResult r = a.run({});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(a.app.eth0MtuAfterRun(), 9000);
    EXPECT_EQ(a.app.readFile("/etc/vexainfo.conf"), info);
    EXPECT_TRUE(a.syslogHas("is not a number, the MTU is left as it is"));
    for (const std::string &erase : simkernel::opsMatching(a.state, {"req=MEMERASE"}))
        EXPECT_EQ(simkernel::opsField(erase, "mtu"), "9000") << erase;
}

// AllLib.tgz recorded with no block at all (its block of the chip left
// out of the directory), and its device reaching nothing.
void emptyAllLib(e2e::Appliance &a)
{
    std::vector<simkernel::DirEntry> dir = a.directory();
    for (simkernel::DirEntry &e : dir) {
        e.raw.clear();
        if (e.name == "AllLib.tgz") {
            e.size = 0;
            e.dataLength = 0;
        }
    }
    simkernel::writeDirectory(a.state, dir);
    sk::State st = simkernel::loadState(a.state);
    st.part[3].fromdir = 0;
    st.part[3].start = a.entry("AllLib.tgz").flashBase;
    st.part[3].size = 0;
    simkernel::saveState(a.state, st);
}

// The package gives AllLib.tgz an image of one block, which rd.gz (five
// blocks to spare) gives; vexacfg has an image too.
simkernel::PackageLayout growingAllLib()
{
    simkernel::PackageLayout contents;
    contents.images = {{"AllLib.tgz", kBlock}, {"vexacfg", 0x12345}};
    return contents;
}

struct EmptyRun {
    const char *name;
    const char *dev;  // its write fails in each of its three attempts
};

void PrintTo(const EmptyRun &r, std::ostream *os)
{
    *os << r.name;
}

class EmptyPartition : public ::testing::TestWithParam<EmptyRun> {};

TEST_P(EmptyPartition, AFailedWriteRestoresItsEntryAndTheNextRunUpdates)
{
    e2e::Appliance a("normal");
    a.install({});
    emptyAllLib(a);
    const uint32_t libBase = a.entry("AllLib.tgz").flashBase;
    a.package(growingAllLib());
    const std::string chipBefore = simkernel::chipBytes(a.state);
    for (const char *nth : {"1", "2", "3"})
        simkernel::addFault(a.state, std::string("fail write dev=") + GetParam().dev + " nth=" + nth);

    approot::RunResult r = a.run({});
    EXPECT_EQ(r.status, 20) << r.err;
    EXPECT_TRUE(a.syslogHas("Finish recovering [AllLib.tgz]"));
    EXPECT_FALSE(a.syslogHas("roll-back incomplete"));
    EXPECT_TRUE(simkernel::chipBytes(a.state) == chipBefore) << "flash or directory not restored";
    EXPECT_FALSE(a.app.exists(a.packageDir + "/b@ckup"));

    simkernel::clearFaults(a.state);
    r = a.run({});
    EXPECT_EQ(r.status, 0) << r.err;
    const simkernel::DirEntry lib = a.entry("AllLib.tgz");
    EXPECT_EQ(lib.size, kBlock);
    EXPECT_EQ(lib.dataLength, kBlock);
    EXPECT_EQ(lib.flashBase, libBase - kBlock);  // rd.gz's last block
    EXPECT_TRUE(simkernel::partitionData(a.state, "AllLib.tgz", kBlock) ==
                simkernel::imageBytes("AllLib.tgz", 1000, kBlock));
}

INSTANTIATE_TEST_SUITE_P(Grown, EmptyPartition,
                         ::testing::Values(EmptyRun{"a_later_write_fails", "mtd5"},
                                           EmptyRun{"its_own_write_fails", "mtd3"}),
                         [](const auto &info) { return std::string(info.param.name); });

// AllLib.tgz of one block holding no data is the only partition with a
// block to spare, and rd.bin needs one more: it gives its block and stays
// recorded, empty, behind rd.gz.
TEST(EmptyDonor, GivesItsBlockAndIsRecordedEmpty)
{
    for (const bool group : {false, true}) {
        SCOPED_TRACE(group ? "-g" : "full run");
        e2e::Appliance a("normal");
        simkernel::ChipLayout layout = simkernel::normalChip();
        for (simkernel::PartLayout &p : layout.parts) {
            if (p.name == "AllLib.tgz") {
                p.blocks = 1;
                p.datalen = 0;
            }
            // Blocks no partition owns, so that the package fits the
            // flash; none of them is any partition's to give.
            if (p.name == "vendor")
                p.at = 61;
        }
        simkernel::makeChip(a.state, layout);
        a.install({});
        const simkernel::DirEntry rdBefore = a.entry("rd.gz");
        const simkernel::DirEntry libBefore = a.entry("AllLib.tgz");
        simkernel::PackageLayout contents;
        contents.images = {{"RedBoot.msys", 4 * kBlock}, {"zImage", 16 * kBlock}, {"rd.bin", 32 * kBlock + 1}};
        a.package(contents);

        const approot::RunResult r = a.run(group ? std::vector<std::string>{"-g"} : std::vector<std::string>{});
        EXPECT_EQ(r.status, 0) << r.err;
        const simkernel::DirEntry rd = a.entry("rd.gz");
        EXPECT_EQ(rd.flashBase, rdBefore.flashBase);
        EXPECT_EQ(rd.size, rdBefore.size + kBlock);
        const simkernel::DirEntry lib = a.entry("AllLib.tgz");
        EXPECT_EQ(lib.flashBase, libBefore.flashBase + kBlock);
        EXPECT_EQ(lib.size, 0u);
        EXPECT_EQ(lib.dataLength, 0u);
        EXPECT_TRUE(simkernel::partitionData(a.state, "rd.gz", 32 * kBlock + 1) ==
                    simkernel::imageBytes("rd.bin", 1000, 32 * kBlock + 1));
        EXPECT_TRUE(simkernel::opsMatching(a.state, {"dev=mtd3", "req=MEMERASE"}).empty());
        EXPECT_TRUE(simkernel::opsMatching(a.state, {"dev=mtd3", "op=write"}).empty());
    }
}

// An appliance whose "/bin/dd" takes only if=, of=, bs=, count= and skip=
// and which has no "/usr/bin/cmp": the backup, its check and the roll-back
// need neither.
void smallTools(e2e::Appliance &a)
{
    a.wrapCopyTool("#!/bin/sh\n"
                   "echo \"$*\" >>/tmp/dd.calls\n"
                   "for a in \"$@\"; do case $a in if=*|of=*|bs=*|count=*|skip=*) ;; "
                   "*) echo \"dd: invalid argument '$a'\" >&2; exit 1;; esac; done\n"
                   "exec /usr/local/bin/dd.real \"$@\"\n");
    a.app.writeFile("/usr/bin/cmp", "#!/bin/sh\necho 'cmp: not found' >&2\nexit 127\n", 0755);
}

TEST(SmallTools, CleanAndRolledBackRunsNeedNoCopyTool)
{
    for (const bool fails : {false, true}) {
        SCOPED_TRACE(fails ? "rolled back" : "clean");
        e2e::Appliance a("normal");
        a.install({});
        simkernel::PackageLayout contents;
        contents.images = simkernel::defaultImages("normal");
        contents.images["zImage"] = 0x110000;
        a.package(contents);
        smallTools(a);
        const std::string chipBefore = simkernel::chipBytes(a.state);
        if (fails)
            for (const char *nth : {"1", "2", "3"})
                simkernel::addFault(a.state, std::string("fail write dev=mtd2 nth=") + nth);
        const approot::RunResult r = a.run({});
        EXPECT_EQ(r.status, fails ? 20 : 0) << r.err;
        EXPECT_FALSE(a.app.exists("/tmp/dd.calls"));
        EXPECT_FALSE(a.app.exists(a.packageDir + "/b@ckup"));
        if (fails) {
            EXPECT_TRUE(simkernel::chipBytes(a.state) == chipBefore) << "the flash was not restored";
            EXPECT_FALSE(a.syslogHas("UPDTRollBack() fail"));
        } else {
            EXPECT_TRUE(simkernel::partitionData(a.state, "zImage", 0x110000) ==
                        simkernel::imageBytes("zImage", 1000, 0x110000));
        }
    }
}

}  // namespace

namespace {

struct Sweep {
    const char *name;
    std::function<void(e2e::Appliance &)> setup;  // chip and package
};

void PrintTo(const Sweep &s, std::ostream *os)
{
    *os << s.name;
}

class AllocSweep : public ::testing::TestWithParam<Sweep> {};

// A run whose write of rd.gz fails, with each of its allocations failing
// in turn: it ends with 20 or the code of the step that failed (a version
// file that could not be read, the backup, ...), the flash as before, and
// every exit step done: the buffer released (asked at every exit after the
// start folder was opened), the MTU and "/etc/vexainfo.conf" as before,
// the negated code last in the progress file.

TEST_P(AllocSweep, EveryFailedAllocationOfAFailingRunEndsCleanly)
{
    // A 100 Mb/s link, on which the MTU is lowered in "/etc/vexainfo.conf"
    // only (each change of a link costs the host's kernel some time).
    e2e::Appliance a(std::string(GetParam().name) == "bantam" ? "bantam" : "normal");
    GetParam().setup(a);
    a.installWithMtu(9000, 100);
    for (const char *nth : {"1", "2", "3"})
        simkernel::addFault(a.state, std::string("fail write dev=mtd2 nth=") + nth);
    a.app.setTimeout(600);
    const approot::RunResult r = a.app.run({ALLOCPROBE_PATH, a.packageDir + "/updater"}, a.packageDir);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::vector<std::string> runs = vexatest::splitLines(r.out);
    ASSERT_GT(runs.size(), 100u) << r.out;
    EXPECT_EQ(runs.front().substr(0, 22), "run=0 code=20 fired=0 ");
    size_t rolledBack = 0;
    for (const std::string &run : runs) {
        SCOPED_TRACE(run);
        const auto field = [&](const std::string &key) {
            const size_t at = run.find(" " + key + "=") + key.size() + 2;
            return run.substr(at, run.find(' ', at) - at);
        };
        const std::string code = field("code");
        EXPECT_NE(code, "0");
        EXPECT_EQ(field("flash"), "before");
        EXPECT_EQ(field("conf"), "same");
        EXPECT_EQ(field("mtu"), "9000");
        const std::string progress = field("progress");
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.substr(1), ":-" + code + ":");
        const std::string calls = field("calls");
        if (progress[0] == 'P') {
            EXPECT_EQ(calls, "1/1");
        } else {
            EXPECT_EQ(progress[0], 'A');
            EXPECT_TRUE(calls == "0/1" || calls == "0/0") << calls;
        }
        rolledBack += code == "20";
    }
    // The write itself, and every run that failed in the write or the
    // roll-back, were rolled back.
    EXPECT_GT(rolledBack, 10u);
}

// The small NOR chip: the same road with fewer bytes to copy; and MSys
// flash.  Either way rd.gz, the second partition written, fails.
INSTANTIATE_TEST_SUITE_P(
    Flash, AllocSweep,
    ::testing::Values(Sweep{"bantam",
                            [](e2e::Appliance &a) {
                                simkernel::PackageLayout contents;
                                contents.images = simkernel::defaultImages("bantam");
                                contents.images["zImage"] = 0xD8000;  // a block more, given by rd.gz
                                contents.images["rd.bin"] = 0x60000;
                                a.package(contents);
                            }},
                      Sweep{"msys",
                            [](e2e::Appliance &a) {
                                simkernel::makeMSysChip(a.state, msystest::kUnits, msystest::kData);
                                simkernel::PackageLayout contents;
                                contents.images = {{"zImage", 5 * msystest::kUnit + 3},
                                                   {"rd.bin", 4 * msystest::kUnit}};
                                a.package(contents);
                            }}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
