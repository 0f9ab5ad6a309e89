// Fault rules of the simulated device kernel: each kind fires where its rule
// says, and only there.
#include <cstring>
#include <string>
#include <vector>

#include "sk_helpers.h"

using namespace simkernel;
using sktest::hex;
using sktest::SimKernel;

namespace {

class Faults : public SimKernel {
protected:
    void SetUp() override { makeChip(state, "normal"); }
    void openUp(const std::string &dev, const std::string &len) {
        auto r = probe({dev, "unlock", "0", len, ",", "erase", "0", len});
        ASSERT_EQ(r.status, 0) << r.out;
    }
};

// Rules that make one request fail with the errno they name.
struct FailCase {
    const char *rule;
    std::vector<std::string> probe;  // the failing step runs last
    const char *expect;              // in the probe's output
};

TEST_F(Faults, FailRulesHitTheNamedRequest) {
    const FailCase cases[] = {
        {"fail erase dev=mtd1 errno=EIO", {"/dev/mtd1", "unlock", "0", "0x10000", ",", "erase", "0", "0x10000"},
         "err erase EIO"},
        {"fail lock dev=mtd2 errno=EPERM", {"/dev/mtd2", "lock", "0", "0x10000"}, "err lock EPERM"},
        {"fail unlock errno=EBUSY", {"/dev/mtd3", "unlock", "0", "0x10000"}, "err unlock EBUSY"},
        {"fail m22 dev=mtd1 errno=EINVAL", {"/dev/mtd1", "m22", "0xFF840000", "0x100000"}, "err m22 EINVAL"},
        {"fail m23 errno=ENOMEM", {"/dev/mtd7", "m23", "zImage", "0xFF840000", "0x100000", "5"},
         "err m23 ENOMEM"},
        {"fail getinfo dev=mtd5 errno=ENODEV", {"/dev/mtd5", "getinfo"}, "err getinfo ENODEV"},
        {"fail write dev=mtd1 errno=ETIMEDOUT", {"/dev/mtd1", "unlock", "0", "0x10000", ",", "write", "0", "00"},
         "err write ETIMEDOUT"},
        {"fail read dev=mtd1 nth=2", {"/dev/mtd1", "read", "0", "4", ",", "read", "0", "4"}, "err read EIO"},
        {"fail sys405 errno=EFAULT", {"-", "sys405", "1"}, "err sys405 EFAULT"},
        {"fail sys401 errno=ENOSYS", {"-", "sys401"}, "err sys401 ENOSYS"},
        {"fail mdinfo dev=md0 errno=EBUSY", {"-r", "/dev/md0", "mdinfo"}, "err mdinfo EBUSY"},
        {"fail mdsync errno=EIO", {"-r", "/dev/md0", "mdinfo", ",", "mdsync"}, "err mdsync EIO"},
        {"fail blksize dev=md0 errno=ENOTTY", {"-r", "/dev/md0", "blksize64"}, "err blksize64 ENOTTY"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.rule);
        makeChip(state, "normal");
        setMd(state, 0, MdArray{});
        const std::string chip = chipBytes(state);
        const sk::State st = loadState(state);
        addFault(state, c.rule);
        auto r = probe(c.probe);
        EXPECT_NE(r.out.find(c.expect), std::string::npos) << r.out;
        EXPECT_EQ(r.status, 1) << r.out;  // only the faulted step failed
        EXPECT_EQ(ops({"fault=1"}).size(), 1u);
        // A failed request changes nothing: not the flash, not the windows.
        EXPECT_TRUE(chipBytes(state) == chip);
        EXPECT_EQ(std::memcmp(loadState(state).part, st.part, sizeof st.part), 0);
    }
}

TEST_F(Faults, NthOpenFailsOnceUnlessAlways) {
    addFault(state, "fail open dev=mtd1 nth=2 errno=EBUSY");
    EXPECT_EQ(probe({"/dev/mtd1", "getinfo"}).status, 0);
    EXPECT_EQ(probe({"/dev/mtd2", "getinfo"}).status, 0);  // another device does not count
    auto r = probe({"/dev/mtd1", "getinfo"});
    EXPECT_NE(r.out.find("err open EBUSY"), std::string::npos) << r.out;
    EXPECT_EQ(probe({"/dev/mtd1", "getinfo"}).status, 0);

    makeChip(state, "normal");
    addFault(state, "fail open dev=mtd1 nth=2 always");
    EXPECT_EQ(probe({"/dev/mtd1", "getinfo"}).status, 0);
    EXPECT_NE(probe({"/dev/mtd1", "getinfo"}).status, 0);
    EXPECT_NE(probe({"/dev/mtd1", "getinfo"}).status, 0);
}

TEST_F(Faults, WriteFailsAfterKBytesWithThoseBytesStored) {
    openUp("/dev/mtd1", "0x10000");
    addFault(state, "fail write dev=mtd1 after=100 errno=EIO");
    auto r = probe({"/dev/mtd1", "fill", "0", "60", "0", ",", "fill", "60", "60", "0"});
    EXPECT_NE(r.out.find("ok 60"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("err fill EIO"), std::string::npos) << r.out;
    std::string z = partitionData(state, "zImage", 200);
    EXPECT_EQ(z.substr(0, 100), std::string(100, '\0'));
    EXPECT_EQ(z.substr(100), std::string(100, '\xff'));
    auto l = ops({"op=write", "fault=1"});
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(opsField(l[0], "stored"), "40");
}

TEST_F(Faults, CorruptWriteChangesTheStoredByteOnce) {
    openUp("/dev/mtd1", "0x10000");
    addFault(state, "corrupt write dev=mtd1 at=5 xor=0x10");
    probe({"/dev/mtd1", "write", "0", "0000000000000000"});
    EXPECT_EQ(hex(partitionData(state, "zImage", 8)), "0000000000100000");
    probe({"/dev/mtd1", "unlock", "0", "0x10000", ",", "erase", "0", "0x10000", ",", "write", "0",
           "0000000000000000"});
    EXPECT_EQ(hex(partitionData(state, "zImage", 8)), "0000000000000000");
}

TEST_F(Faults, CorruptReadAlwaysLeavesTheFlashAlone) {
    addFault(state, "corrupt read dev=mtd2 at=0x4e20 always");
    std::string want = hex(partitionPattern(2, 0x4e21).substr(0x4e20));
    std::string bad = hex(std::string(1, char(partitionPattern(2, 0x4e21)[0x4e20] ^ 1)));
    auto r = probe({"/dev/mtd2", "read", "0x4e20", "1", ",", "read", "0x4e00", "0x40"});
    EXPECT_NE(r.out.find("ok 1 " + bad + "\n"), std::string::npos) << r.out;
    EXPECT_EQ(hex(partitionData(state, "rd.gz", 0x4e21).substr(0x4e20)), want);
    EXPECT_EQ(ops({"op=pread", "fault=1"}).size(), 2u);
}

TEST_F(Faults, NoEraseReportsSuccessButKeepsTheBlock) {
    addFault(state, "noerase dev=mtd1 block=1");
    openUp("/dev/mtd1", "0x30000");
    std::string z = partitionBytes(state, "zImage");
    EXPECT_EQ(z.substr(0, 0x10000), std::string(0x10000, '\xff'));
    EXPECT_EQ(z.substr(0x10000, 0x10000), partitionPattern(1, 0x20000).substr(0x10000));
    EXPECT_EQ(z.substr(0x20000, 0x10000), std::string(0x10000, '\xff'));
    auto l = ops({"req=MEMERASE", "res=0", "fault=1"});
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(opsField(l[0], "kept"), "1");
}

TEST_F(Faults, SignalEndsADdChildAfterKBytes) {
    openUp("/dev/mtd1", "0x100000");
    addFault(state, "signal write proc=dd dev=mtd1 after=40000 sig=KILL");
    std::string img = tmp / "img";
    vexatest::writeFile(img, std::string(0x20000, '\0'));
    auto r = sh("/bin/dd if='" + img + "' of=/dev/mtd1 bs=16384; echo status=$?");
    EXPECT_NE(r.out.find("status=137"), std::string::npos) << r.out;
    std::string z = partitionData(state, "zImage", 0x20000);
    EXPECT_EQ(z.substr(0, 40000), std::string(40000, '\0'));
    EXPECT_EQ(z.substr(40000), std::string(0x20000 - 40000, '\xff'));
    // The probe is not dd: the rule leaves it alone.
    EXPECT_EQ(probe({"/dev/mtd1", "fill", "0x30000", "0x10000", "0"}).status, 0);
}

TEST_F(Faults, PowerCutKillsTheMainProcessAtItsNthFlashOperation) {
    addFault(state, "powercut nth=2");
    auto r = probe({"/dev/mtd1", "getinfo", ",", "unlock", "0", "0x10000", ",", "erase", "0", "0x10000",
                    ",", "getinfo"});
    EXPECT_EQ(r.status, 128 + 9) << r.out;
    EXPECT_EQ(r.out.find("ok\nok\n"), std::string::npos) << r.out;  // the erase never answered
    EXPECT_EQ(partitionData(state, "zImage", 0x10000), partitionPattern(1, 0x10000));
    auto l = ops({"op=powercut"});
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(opsField(l[0], "cut"), "erase");
    EXPECT_EQ(opsField(l[0], "fault"), "1");
}

TEST_F(Faults, ProcessSelectorsChooseMainChildrenOrNames) {
    // The shell does no device request; the first probe does and is main.
    // It stays alive until the second, a child, has made its request.
    struct Case {
        const char *rule;
        const char *first;   // errno of the main probe's request on mtd1, "" when it passed
        const char *second;  // of the child's on mtd2
    };
    const Case cases[] = {
        {.rule = "fail getinfo proc=main errno=EPERM", .first = "EPERM", .second = ""},
        {.rule = "fail getinfo proc=child errno=EPERM", .first = "", .second = "EPERM"},
        {.rule = "fail getinfo proc=simprobe always errno=EPERM", .first = "EPERM", .second = "EPERM"},
        {.rule = "fail getinfo proc=dd errno=EPERM", .first = "", .second = ""},
    };
    const std::string prog = "'" + probePath() + "'";
    const std::string ready = tmp / "ready", go = tmp / "go";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.rule);
        makeChip(state, "normal");
        addFault(state, c.rule);
        auto r = sh("rm -f '" + ready + "' '" + go + "'; mkfifo '" + ready + "' '" + go + "'\n" +
                    prog + " /dev/mtd1 getinfo , tell '" + ready + "' , await '" + go + "' &\n" +
                    "read x < '" + ready + "'\n" +
                    prog + " /dev/mtd2 getinfo\n" +
                    "echo > '" + go + "'; wait\n");
        auto first = ops({"dev=mtd1", "req=MEMGETINFO"});
        auto second = ops({"dev=mtd2", "req=MEMGETINFO"});
        ASSERT_EQ(first.size(), 1u) << r.out;
        ASSERT_EQ(second.size(), 1u) << r.out;
        EXPECT_EQ(opsField(first[0], "errno"), c.first);
        EXPECT_EQ(opsField(second[0], "errno"), c.second);
        EXPECT_NE(opsField(first[0], "pid"), opsField(second[0], "pid"));
    }

    makeChip(state, "normal");
    addFault(state, "fail getinfo proc=dd errno=EPERM");
    EXPECT_EQ(probe({"/dev/mtd1", "getinfo"}).status, 0);
    addFault(state, "fail getinfo proc=simprobe errno=EPERM");
    EXPECT_NE(probe({"/dev/mtd1", "getinfo"}).status, 0);
}

TEST_F(Faults, BadRulesAreRefusedByTheFixture) {
    const char *bad[] = {"explode erase", "fail", "fail erase errno=EWHAT", "fail erase dev=mtd9",
                         "corrupt write", "signal write", "fail erase after=3", "fail erase nth=0",
                         "powercut after=10", "corrupt read at=1 nth=2"};
    for (const char *b : bad) EXPECT_THROW(addFault(state, b), std::runtime_error) << b;
}

TEST_F(Faults, ABrokenRulesFileIsReportedInTheLog) {
    vexatest::writeFile(state + "/faults", "fail erase errno=EWHAT\n");
    probe({"/dev/mtd1", "getinfo"});
    EXPECT_EQ(ops({"op=faults", "errno=EINVAL"}).size(), 1u);
}

}  // namespace
