// MSys flash, system calls 401 and 405, md arrays, the package builder and
// the state text of the simulated device kernel.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "sk_helpers.h"

using namespace simkernel;
using sktest::SimKernel;

namespace {

TEST_F(SimKernel, SystemCall405AnswersAndCounts) {
    makeChip(state, "normal");
    auto r = probe({"-", "sys405", "1", ",", "sys405", "0", ",", "sys405", "0"});
    EXPECT_EQ(r.status, 0) << r.out;
    set405Answer(state, ENOSYS);
    r = probe({"-", "sys405", "1", ",", "sys405", "7"});
    EXPECT_NE(r.out.find("err sys405 ENOSYS"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("err sys405 EINVAL"), std::string::npos) << r.out;
    auto c = counters405(state);
    EXPECT_EQ(c.reserve, 2u);
    EXPECT_EQ(c.release, 2u);
    EXPECT_EQ(c.other, 1u);
    EXPECT_EQ(ops({"op=sys405", "arg=1", "errno=ENOSYS"}).size(), 1u);
}

TEST_F(SimKernel, ReserveAndReleaseFailApart) {
    makeChip(state, "normal");
    addFault(state, "fail release errno=EBUSY always");
    auto r = probe({"-", "sys405", "1", ",", "sys405", "0", ",", "sys405", "1", ",", "sys405", "0"});
    EXPECT_EQ(r.out, "ok\nerr sys405 EBUSY\nok\nerr sys405 EBUSY\n");
    EXPECT_EQ(counters405(state).release, 2u);
}

TEST_F(SimKernel, SystemCall401TellsMSysApart) {
    makeChip(state, "normal");
    auto r = probe({"-", "sys401"});
    EXPECT_NE(r.out.find("ok 0x10"), std::string::npos) << r.out;
    makeMSysChip(state);
    r = probe({"-", "sys401"});
    EXPECT_NE(r.out.find("ok 0x11"), std::string::npos) << r.out;
}

TEST_F(SimKernel, MSysListsFormatsAndPartitions) {
    makeMSysChip(state);
    auto r = probe({"/dev/mtd0", "m26"});
    EXPECT_NE(r.out.find("ok 262144:196608 1310720:983040"), std::string::npos) << r.out;
    EXPECT_EQ(partitionData(state, "zImage", 16), partitionPattern(1, 16));

    // Unit counts that exceed the flash are refused; 967 in all is fine.
    r = probe({"/dev/mtd0", "m25", "900", "68", "0", "0", "0", "0", "0", "0"});
    EXPECT_NE(r.out.find("err m25 EINVAL"), std::string::npos) << r.out;
    r = probe({"/dev/mtd0", "m24", "966"});
    EXPECT_NE(r.out.find("err m24 EINVAL"), std::string::npos) << r.out;
    r = probe({"/dev/mtd0", "m24", "967", ",", "m25", "16", "90", "190", "600", "4", "8", "4", "55", ",",
               "m26"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("ok 262144:0 1474560:0 3112960:0"), std::string::npos) << r.out;
    // The flash was wiped and partition 1 now starts at unit 16, 90 units long.
    r = probe({"/dev/mtd1", "getinfo", ",", "read", "0", "4"});
    EXPECT_NE(r.out.find("size=0x168000 erasesize=0x4000"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("ok 4 ffffffff"), std::string::npos) << r.out;
}

TEST_F(SimKernel, MSysWritesOverwriteAndSetTheDataLength) {
    makeMSysChip(state);
    std::string img = tmp / "img";
    vexatest::writeFile(img, std::string(20000, '\x0f'));
    auto r = sh("/bin/dd if='" + img + "' of=/dev/mtd1 bs=16384");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(partitionData(state, "zImage", 20000), std::string(20000, '\x0f'));
    EXPECT_EQ(loadState(state).part[1].datalen, 983040u);  // longer old data is kept
    probe({"/dev/mtd0", "m24", "967", ",", "m25", "16", "80", "200", "600", "4", "8", "4", "4"});
    sh("/bin/dd if='" + img + "' of=/dev/mtd1 bs=16384");
    EXPECT_EQ(loadState(state).part[1].datalen, 20000u);
}

TEST_F(SimKernel, MSysRequestsOnlyOnMtd0AndOnlyOnMSys) {
    makeMSysChip(state);
    auto r = probe({"/dev/mtd1", "m26"});
    EXPECT_NE(r.out.find("err m26 EINVAL"), std::string::npos) << r.out;
    makeChip(state, "normal");
    r = probe({"/dev/mtd0", "m26"});
    EXPECT_NE(r.out.find("err m26 ENOTTY"), std::string::npos) << r.out;
}

TEST_F(SimKernel, MSysFaultsHitTheirRequest) {
    const char *rules[] = {"fail m24 errno=EIO", "fail m25 errno=EIO", "fail m26 errno=EIO"};
    const char *steps[][2] = {{"m24", "967"}, {"m25", ""}, {"m26", ""}};
    for (int i = 0; i < 3; ++i) {
        makeMSysChip(state);
        addFault(state, rules[i]);
        std::vector<std::string> a = {"/dev/mtd0", steps[i][0]};
        if (i == 0) a.push_back("967");
        if (i == 1) a.insert(a.end(), {"1", "1", "1", "1", "1", "1", "1", "1"});
        auto r = probe(a);
        EXPECT_NE(r.out.find(std::string("err ") + steps[i][0] + " EIO"), std::string::npos) << r.out;
        EXPECT_EQ(partitionData(state, "zImage", 4), partitionPattern(1, 4));
    }
}

TEST_F(SimKernel, UptimeKeyDecidesWhatSysinfoReports) {
    makeChip(state, "normal");
    // Without the key: the machine's own uptime.
    auto r = probe({"-", "sysinfo"});
    long up = -1;
    ASSERT_EQ(std::sscanf(r.out.c_str(), "ok uptime=%ld", &up), 1) << r.out;
    EXPECT_GT(up, 0);
    EXPECT_FALSE(loadState(state).hasUptime);

    for (long n : {0L, 299L, 300L, 86400L * 400}) {
        setUptime(state, n);
        r = probe({"-", "sysinfo", ",", "syscall-sysinfo"});
        std::string want = "ok uptime=" + std::to_string(n) + " mem=yes\n";
        EXPECT_EQ(r.out, want + want) << n;
    }
    // The request makes no main process: a power cut still finds the first
    // flash user.
    EXPECT_EQ(loadState(state).mainpid, 0);
    EXPECT_THROW(setUptime(state, -1), std::runtime_error);
    clearUptime(state);
    EXPECT_FALSE(loadState(state).hasUptime);
}

TEST_F(SimKernel, MdRequestsAnswerFromTheState) {
    makeChip(state, "normal");
    MdArray m;
    m.level = 5;
    m.disks = 4;
    m.sizeKib = 3000;
    m.devSize = 3000 * 1024;
    m.sync[0] = 1;
    m.sync[1] = 40;
    m.sync[2] = 100;
    setMd(state, 0, m);
    MdArray stopped;
    stopped.running = false;
    setMd(state, 1, stopped);
    auto r = probe({"-r", "/dev/md0", "mdinfo", ",", "mdsync", ",", "blksize64", ",", "blksize", ",",
                    "fstat"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("ok level=5 size=3000 raid_disks=4"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("ok 1 40 100"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("ok 3072000\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("ok 6000\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("type=blk rdev=9:0"), std::string::npos) << r.out;

    r = probe({"-r", "/dev/md1", "mdinfo"});
    EXPECT_NE(r.out.find("err mdinfo ENODEV"), std::string::npos) << r.out;
    r = probe({"-r", "/dev/md2", "mdinfo"});
    EXPECT_NE(r.out.find("err open ENOENT"), std::string::npos) << r.out;
    r = probe({"-r", "/dev/md0", "getinfo"});
    EXPECT_NE(r.out.find("err getinfo ENOTTY"), std::string::npos) << r.out;
}

TEST_F(SimKernel, MdSysfsFixtureWritesStateAndSlot) {
    writeMdSysfs(tmp / "root", 0, {{"sda5", "in_sync", "0"}, {"sdb5", "spare", "none"}});
    EXPECT_EQ(vexatest::readFile(tmp / "root/sys/block/md0/md/dev-sda5/state"), "in_sync\n");
    EXPECT_EQ(vexatest::readFile(tmp / "root/sys/block/md0/md/dev-sdb5/slot"), "none\n");
}

TEST_F(SimKernel, PackageHoldsVersionAndImages) {
    PackageLayout p;
    p.build = 1234;
    p.model = "vexa_x1";
    p.images = defaultImages("normal");
    p.images["zImage"] = 0x100001;  // one byte more than its partition
    makePackage(tmp / "pkg", p);
    EXPECT_EQ(vexatest::readFile(tmp / "pkg/VERSION"),
              "majorversion=\"2\"\nminorversion=\"0\"\nbuildphase=\"0\"\nbuildnumber=\"1234\"\n"
              "unique=\"vexa_x1\"\nextractsize=\"1024\"\n");
    std::string z = vexatest::readFile(tmp / "pkg/zImage");
    EXPECT_EQ(z.size(), 0x100001u);
    EXPECT_EQ(z, imageBytes("zImage", 1234, 0x100001));
    EXPECT_NE(z.substr(0, 64), imageBytes("zImage", 1235, 64));
    EXPECT_TRUE(std::filesystem::exists(tmp / "pkg/rd.bin"));
    EXPECT_TRUE(std::filesystem::exists(tmp / "pkg/AllLib.tgz"));
    EXPECT_FALSE(std::filesystem::exists(tmp / "pkg/RedBoot.msys"));
    EXPECT_EQ(imageFileName("rd.gz"), "rd.bin");
    EXPECT_EQ(imageFileName("RedBoot"), "RedBoot.msys");
}

TEST_F(SimKernel, DefaultPackagesFitTheirChipsAsTheUpdaterCounts) {
    // Every partition's blocks (image, else present data) against the span
    // from zImage's flash base to the directory's end.
    for (const char *table : {"normal", "bantam"}) {
        SCOPED_TRACE(table);
        makeChip(state, table);
        const uint32_t ebs = loadState(state).erasesize;
        auto images = defaultImages(table);
        uint64_t total = 0, zBase = 0, dirEnd = 0;
        for (const auto &e : readDirectory(state)) {
            auto img = images.find(imageFileName(e.name));
            uint64_t len = img != images.end() ? img->second : e.dataLength;
            EXPECT_LE(len, e.size) << e.name;
            total += (len + ebs - 1) / ebs;
            if (e.name == "zImage") zBase = e.flashBase;
            if (e.name == "FIS Directory") dirEnd = uint64_t(e.flashBase) + e.size;
        }
        EXPECT_LE(total, (dirEnd - zBase) / ebs);
    }
}

TEST_F(SimKernel, SimflashBuildsAndShows) {
    auto run = [&](const std::vector<std::string> &a) {
        std::vector<std::string> argv = {simflashPath()};
        argv.insert(argv.end(), a.begin(), a.end());
        return runPreloaded(state, argv, {"LD_PRELOAD=", "VEXA_SIMKERNEL_STATE="});
    };
    ASSERT_EQ(run({"make-chip", "--state", state, "--table", "bantam"}).status, 0);
    ASSERT_EQ(run({"make-package", "--dir", tmp / "pkg", "--build", "900", "--table", "bantam",
                   "--grow", "zImage=0xE0000"}).status, 0);
    EXPECT_EQ(vexatest::readFile(tmp / "pkg/zImage").size(), 0xE0000u);
    auto r = run({"show", "--state", state, "--package", tmp / "pkg"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("/dev/mtd1  zImage          0xFFE40000-0xFFF10000"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("[image does not fit]"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("[differs from image]"), std::string::npos) << r.out;
    EXPECT_EQ(run({"fault", "--state", state, "fail", "erase", "dev=mtd1"}).status, 0);
    EXPECT_NE(run({"fault", "--state", state, "fail", "nothing"}).status, 0);
    EXPECT_EQ(vexatest::readFile(state + "/faults"), "fail erase dev=mtd1\n");
    EXPECT_EQ(run({"uptime", "--state", state, "300"}).status, 0);
    EXPECT_NE(run({"show", "--state", state}).out.find("uptime: 300 seconds\n"), std::string::npos);
    EXPECT_NE(run({"uptime", "--state", state, "-5"}).status, 0);
    EXPECT_EQ(run({"uptime", "--state", state, "none"}).status, 0);
    EXPECT_FALSE(loadState(state).hasUptime);
}

TEST(SimKernelState, TextRoundTrips) {
    sk::State a;
    sk::initState(&a);
    a.mode = sk::MODE_NOR;
    a.base = 0xFF800000;
    a.erasesize = 0x10000;
    a.chipsize = 0x800000;
    a.dirdev = 7;
    a.part[7] = {1, 0, 0xFFFF0000, 0x10000, 0, "FIS Directory"};
    a.part[1] = {1, 1, 0, 0, 0, "zImage"};
    std::snprintf(a.locks, sizeof a.locks, "LLUU");
    a.answer405 = ENOSYS;
    a.reserve405 = 3;
    a.hasUptime = 1;
    a.uptime = 300;
    a.md[0] = {1, 1, -1, 2, 100, 102400, {0, 0, 0}};
    a.nrules = 1;
    a.rules[0] = {0xdeadbeef, 4, 5, 1};
    char buf[8192];
    size_t n = sk::formatState(&a, buf, sizeof buf);
    ASSERT_GT(n, 0u);
    sk::State b;
    ASSERT_EQ(sk::parseState(buf, n, &b), 0) << std::string(buf, n);
    char buf2[8192];
    ASSERT_EQ(sk::formatState(&b, buf2, sizeof buf2), n);
    EXPECT_EQ(std::string(buf, n), std::string(buf2, n));
    EXPECT_EQ(b.part[1].fromdir, 1);
    EXPECT_EQ(b.answer405, ENOSYS);
    EXPECT_EQ(b.md[0].level, -1);
    EXPECT_EQ(b.rules[0].bytes, 5u);
    EXPECT_EQ(b.uptime, 300u);
    EXPECT_NE(std::string(buf, n).find("answer405=ENOSYS\n"), std::string::npos);
}

TEST(SimKernelState, BadLinesAreNamed) {
    const char *bad[] = {"mode=weird\n", "base=0x1\nerasesize=0\n", "mtd9=0 0 0 x\n", "locks=LXU\n",
                         "nonsense\n", "md0=running level=x\n", "uptime=-3\n"};
    int lines[] = {1, 2, 1, 1, 1, 1, 1};
    for (size_t i = 0; i < sizeof bad / sizeof bad[0]; ++i) {
        sk::State s;
        EXPECT_EQ(sk::parseState(bad[i], std::strlen(bad[i]), &s), lines[i]) << bad[i];
    }
}

}  // namespace
