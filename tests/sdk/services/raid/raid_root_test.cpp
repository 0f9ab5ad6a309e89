// md arrays through the simulated device kernel, sysfs member folders,
// the sfdisk query and the model line, inside the appliance root.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "approot.h"
#include "base/err/vral_err.h"
#include "root_probe.h"
#include "services/raid/vexa_raid.h"
#include "simfixture.h"
#include "test_tmp.h"

namespace {

using vexatest::probe::hex;
using vexatest::probe::say;
using Lines = std::vector<std::string>;

int probe(vexatest::probe::Ops next)
{
    while (next.more()) {
        const std::string op = next();
        if (op == "info") {
            const std::string path = next();
            VEXARAIDINFO *info = nullptr;
            VRALErrSetCode(0);
            const int r = VEXARaidInfoGet(path.c_str(), &info);
            say("info " + std::to_string(r) + " " + hex(VRALErrGet()));
            if (r == 1) {
                say("md " + std::to_string(info->mdNumber) + " path " + info->szPath + " first " +
                    std::to_string(info->firstDisk));
                say("level " + std::to_string(info->level) + " status " + std::to_string(info->status) +
                    " disks " + std::to_string(info->raidDisks));
                say("sync " + std::to_string(info->sync[0]) + " " + std::to_string(info->sync[1]) + " " +
                    std::to_string(info->sync[2]));
                say("size " + std::to_string(info->deviceSize) + " array " + std::to_string(info->arraySize));
                std::string m = "members";
                for (const VEXARAIDDISK *d = info->pMembers; d != nullptr; d = d->next)
                    m += " " + std::string(d->szDevice) + ":" + std::to_string(d->state);
                say(m);
                VEXARaidInfoFree(info);
            } else if (info != nullptr) {
                say("out set on failure");
            }
        } else if (op == "part") {
            const int n = std::stoi(next());
            const std::string dev = next();
            unsigned long start = 7, id = 7;
            const long long size = RCPartitionConfigs(n, dev.c_str(), &start, &id);
            char b[96];
            snprintf(b, sizeof b, "part %lld %lu 0x%lx", size, start, id);
            say(b);
        } else if (op == "bantam") {
            say("bantam " + std::to_string(VEXAIsBantamModel()));
        } else {
            return 92;
        }
    }
    return 0;
}

VEXATEST_ROOT_PROBE(probe)

class RaidRoot : public ::testing::Test {
protected:
    approot::Appliance app{"raid"};
    vexatest::TempDir state{"raidsk"};
    vexatest::TempDir sysfs{"raidsys"};

    void SetUp() override
    {
        simkernel::makeChip(state.path(), "normal");
        simkernel::attach(app, state.path());
    }
    void members(int md, const std::vector<simkernel::MdMember> &m)
    {
        simkernel::writeMdSysfs(sysfs.path(), md, m);
        app.addLayer(sysfs.path());
    }
    Lines run(const Lines &ops) { return vexatest::probe::run(app, ops); }
};

}  // namespace

TEST_F(RaidRoot, DegradedRaid1WithItsMembersInReverseNameOrder)
{
    simkernel::MdArray md;
    md.level = 1;
    md.disks = 2;
    md.sizeKib = 1000;
    md.devSize = 1024000;
    md.sync[0] = 1;
    md.sync[1] = 5;
    md.sync[2] = 9;
    simkernel::setMd(state.path(), 0, md);
    members(0, {{"sda5", "in_sync", "0"}, {"sdb5", "faulty", "1"}});
    EXPECT_EQ(run({"info", "/dev/md0"}),
              (Lines{"info 1 0x0000", "md 0 path /dev/md0 first -1", "level 2 status 2 disks 2", "sync 1 5 9",
                     "size 1024000 array 1024000", "members /dev/sdb5:1 /dev/sda5:0"}));
}

TEST_F(RaidRoot, LevelsSyncStatesAndFirstDisk)
{
    struct Case {
        int level, disks;
        int sync[3];
        std::vector<simkernel::MdMember> m;
        Lines expect;
    };
    const Case cases[] = {
        {5, 3, {0, 7, 7}, {{"sdb", "in_sync", "1"}, {"sdc", "in_sync", "2"}, {"sdd", "spare", "none"}},
         {"level 3 status 2 disks 3", "sync 0 0 0", "members /dev/sdd:4 /dev/sdc:0 /dev/sdb:0"}},
        {6, 4, {3, 0, 4}, {{"sdaa", "in_sync", "0"}, {"sdab", "in_sync", "1"}},
         {"level 4 status 2 disks 4", "sync 2 0 0", "members /dev/sdab:0 /dev/sdaa:0"}},
        {-1, 2, {0, 0, 0}, {{"sda1", "in_sync", "0"}, {"sdb1", "in_sync", "1"}},
         {"level 5 status 1 disks 2", "sync 0 0 0", "members /dev/sdb1:0 /dev/sda1:0"}},
        {0, 2, {0, 0, 0}, {{"sda1", "write_error", "0"}, {"sdb1", "in_sync", "1"}},
         {"level 1 status 3 disks 2", "sync 0 0 0", "members /dev/sdb1:0 /dev/sda1:2"}},
        {10, 2, {0, 0, 0}, {}, {"level 0 status 3 disks 2", "sync 0 0 0", "members"}},
    };
    int n = 1;
    for (const Case &c : cases) {
        simkernel::MdArray md;
        md.level = c.level;
        md.disks = c.disks;
        md.sizeKib = 4;
        md.devSize = 4096;
        for (int k = 0; k < 3; ++k)
            md.sync[k] = c.sync[k];
        simkernel::setMd(state.path(), n, md);
        members(n, c.m);
        const Lines out = run({"info", "/dev/md" + std::to_string(n)});
        ASSERT_EQ(out.size(), 6u) << n;
        EXPECT_EQ(out[2], c.expect[0]) << n;
        EXPECT_EQ(out[3], c.expect[1]) << n;
        EXPECT_EQ(out[5], c.expect[2]) << n;
        ++n;
    }
    // the head /dev/sdab: two letters after /dev/sd give the first disk
    EXPECT_EQ(run({"info", "/dev/md2"})[1], "md 2 path /dev/md2 first 0");
}

TEST_F(RaidRoot, MissingArrayIsNoFailure)
{
    simkernel::MdArray md;
    md.running = false;
    simkernel::setMd(state.path(), 0, md);
    EXPECT_EQ(run({"info", "/dev/md0"}), (Lines{"info 0 0x0600"}));
}

TEST_F(RaidRoot, HugeArrayKeepsItsSize)
{
    simkernel::MdArray md;
    md.level = 1;
    md.disks = 1;
    md.sizeKib = 0x7fffffff;
    md.devSize = 5ULL << 40;  // 5 TiB
    simkernel::setMd(state.path(), 0, md);
    members(0, {{"sda3", "in_sync", "0"}});
    const Lines out = run({"info", "/dev/md0"});
    ASSERT_EQ(out.size(), 6u);
    EXPECT_EQ(out[4], "size " + std::to_string(5ULL << 40) + " array " + std::to_string(0x7fffffffULL * 1024));
}

TEST_F(RaidRoot, PartitionQueryReadsTheFirstLineOfSfdisk)
{
    app.writeFile("/sbin/sfdisk",
                  "#!/bin/sh\n"
                  "printf '%s\\n' \"$@\" > /tmp/sfdisk.args\n"
                  "case \"$3\" in\n"
                  "-N1) echo '/dev/hda1            63    273104    273042  83  Linux'; echo '/dev/hda9 1 2 3 4 x' ;;\n"
                  "-N2) echo '/dev/hda2 273105 1333331 1060227' ;;\n"
                  "-N3) echo '/dev/hda3   1333332   9000000   7666669  fd  Linux raid' ;;\n"
                  "esac\n",
                  0755);
    EXPECT_EQ(run({"part", "1", "/dev/hda", "part", "3", "hda", "part", "2", "/dev/hda", "part", "4", "/dev/hda"}),
              (Lines{"part 273042 63 0x83", "part 7666669 1333332 0xfd", "part -1 7 0x7", "part -1 7 0x7"}));
    EXPECT_EQ(app.readFile("/tmp/sfdisk.args"), "-l\n-uS\n-N4\n/dev/hda\n");
}

TEST_F(RaidRoot, DeviceNameIsOneQuotedWordAndNeverCut)
{
    app.writeFile("/sbin/sfdisk",
                  "#!/bin/sh\n"
                  "printf '[%s]\\n' \"$@\" > /tmp/sfdisk.args\n"
                  "echo '/dev/x 1 2 3 83 Linux'\n",
                  0755);
    const std::string nasty = "hda'; touch /tmp/pwned; echo '$(touch /tmp/pwned2)`touch /tmp/pwned3`";
    EXPECT_EQ(run({"part", "1", nasty}), (Lines{"part 3 1 0x83"}));
    EXPECT_EQ(app.readFile("/tmp/sfdisk.args"), "[-l]\n[-uS]\n[-N1]\n[/dev/" + nasty + "]\n");
    EXPECT_FALSE(app.exists("/tmp/pwned"));
    EXPECT_FALSE(app.exists("/tmp/pwned2"));
    EXPECT_FALSE(app.exists("/tmp/pwned3"));

    const std::string longName(120, 'd');
    EXPECT_EQ(run({"part", "12", "/dev/" + longName}), (Lines{"part 3 1 0x83"}));
    EXPECT_EQ(app.readFile("/tmp/sfdisk.args"), "[-l]\n[-uS]\n[-N12]\n[/dev/" + longName + "]\n");
}

TEST_F(RaidRoot, NoSfdiskGivesNoPartition)
{
    EXPECT_EQ(run({"part", "1", "/dev/hda"}), (Lines{"part -1 7 0x7"}));
}

TEST_F(RaidRoot, BantamFromTheModelIdOrTheHardwareLine)
{
    const struct {
        const char *unique;  // nullptr: no key
        const char *hw;      // nullptr: no entry
        int bantam;
    } cases[] = {
        {"vexalink_bantam", nullptr, 1},
        {"x_bantam", nullptr, 1},
        {"vexalink_BANTAM", nullptr, 0},
        {"sdkdebug", nullptr, 1},
        {"sdkdebug_anything", nullptr, 1},
        {"_bantam", nullptr, 1},
        {"short", "board-b\n", 0},   // below 6 characters: not even the line is read
        {nullptr, "board-b\n", 0},
        {"vexa_q80", "board-b\n", 1},
        {"vexa_q80", "-b\n", 1},
        {"vexa_q80", "-b", 0},       // one character left once the last is cut
        {"vexa_q80", "board-B\n", 0},
        {"vexa_q80", "board-a\n", 0},
        {"vexa_q80", nullptr, 0},
    };
    for (const auto &c : cases) {
        approot::Appliance a("bantam");
        a.writeFile("/etc.defaults/vexainfo.conf",
                    c.unique ? std::string("unique=\"") + c.unique + "\"\n" : std::string("other=\"1\"\n"));
        if (c.hw != nullptr)
            a.setHwVersion(c.hw);
        const approot::RunResult r = a.run(vexatest::probe::argv({"bantam"}));
        EXPECT_EQ(vexatest::probe::said(r.out), (Lines{"bantam " + std::to_string(c.bantam)}))
            << (c.unique ? c.unique : "-") << " / " << (c.hw ? c.hw : "-") << r.err;
    }
}
