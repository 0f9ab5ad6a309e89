// Faults of the flash during a full update (analysis, backup, write),
// through the updater itself: after each failure the flash holds its old
// bytes again, and the exit code, the last progress text, the logs and the
// backup folder say what happened.
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_fixture.h"
#include "test_tmp.h"

namespace {

using e2e::failed;

const char kDone[] = "Congratulation!! The update has been completed!!";

struct FaultRun {
    const char *name = "";
    std::vector<std::string> rules = {};                    // simulated-kernel fault rules
    std::function<void(e2e::Appliance &)> setup = nullptr;  // anything else to arrange
    int status = 0;
    std::string progress = "";                              // the progress file at the end
    std::string logLine = "";                               // last update-log text
    std::vector<std::string> syslogParts = {};              // each in some system-log line
    bool flashAsBefore = false;                             // every byte of the chip
    bool backupKept = false;                                // "b@ckup" still in the package
    bool erased = false;                                    // any erase reached the flash
    bool retried = false;                                   // the write's progress falls back to 60
};

void PrintTo(const FaultRun &f, std::ostream *os)
{
    *os << f.name;
}

const std::vector<FaultRun> &faultRuns()
{
    static const std::vector<FaultRun> all = {
        {.name = "erase_fails_three_times",
         .rules = {"fail erase dev=mtd1 nth=1", "fail erase dev=mtd1 nth=2", "fail erase dev=mtd1 nth=3"},
         .status = 20,
         .progress = "P:-20:      ",
         .logLine = failed(20),
         .syslogParts = {"Try to Update [/dev/mtd1] 3 counts failed", "fail to patch new binaries!!"},
         .flashAsBefore = true,
         .erased = true},
        // Past zImage's old size: the roll-back's write never gets there.
        {.name = "write_corrupted_every_attempt",
         .rules = {"corrupt write dev=mtd1 at=0x108000 always"},
         .status = 20,
         .progress = "P:-20:      ",
         .logLine = failed(20),
         .syslogParts = {"Try to Update [/dev/mtd1] 3 counts failed", "compare file"},
         .flashAsBefore = true,
         .erased = true,
         .retried = true},
        {.name = "readback_corrupted_once",
         .rules = {"corrupt read dev=mtd1 at=0x108000"},
         .status = 0,
         .progress = "R:0:        ",
         .logLine = kDone,
         .syslogParts = {"error at offset 0x108000", "Finish updating [zImage]"},
         .erased = true,
         .retried = true},
        {.name = "m22_fails",
         .rules = {"fail m22 dev=mtd2"},
         .status = 20,
         .progress = "P:-20:      ",
         .logLine = failed(20),
         .syslogParts = {"VEXAMTDModifyPartitionSize() fail"},
         .flashAsBefore = true,
         .erased = true},
        {.name = "m23_fails",
         .rules = {"fail m23 dev=mtd7"},
         .status = 20,
         .progress = "P:-20:      ",
         .logLine = failed(20),
         .syslogParts = {"VEXAMTDModifyFISEntry() fail"},
         .flashAsBefore = true,
         .erased = true},
        // The partial copies stay: only a finished or failed write removes them.
        {.name = "backup_read_fails",
         .rules = {"fail read dev=mtd3 after=100000"},
         .status = 15,
         .progress = "P:-15:      ",
         .logLine = failed(15),
         .syslogParts = {"read file [/dev/mtd3] error", "fail to backup old patch info "},
         .flashAsBefore = true,
         .backupKept = true},
        // Every write to zImage is spoilt, the roll-back's copy too: the
        // copies are kept, the only way back to the old firmware.
        {"rollback_fails",
         {"corrupt write dev=mtd1 at=0x100 always"},
         nullptr,
         20,
         "P:-20:      ",
         failed(20),
         {"Try to recover [/dev/mtd1] 3 counts failed", "UPDTRollBack() fail",
          "the old partitions stay in /volume1/upd@te/b@ckup"},
         false,
         true,
         true,
         true},
    };
    return all;
}

class FaultRoad : public ::testing::TestWithParam<FaultRun> {};

TEST_P(FaultRoad, FlashLogsAndBackupAfterTheFault)
{
    const FaultRun &f = GetParam();
    e2e::Appliance a("normal");
    a.install({});
    simkernel::PackageLayout contents;
    contents.images = simkernel::defaultImages("normal");
    contents.images["zImage"] = 0x110000;  // takes a block from rd.gz: ranges move too
    a.package(contents);
    for (const std::string &rule : f.rules)
        simkernel::addFault(a.state, rule);
    if (f.setup)
        f.setup(a);
    const std::string chipBefore = simkernel::chipBytes(a.state);

    const approot::RunResult r = a.run({});
    EXPECT_EQ(r.status, f.status) << r.err;
    EXPECT_EQ(a.lastProgress(), f.progress);
    const std::vector<std::string> log = a.updateLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), f.logLine);
    std::string messages;
    for (const std::string &m : a.syslog())
        messages += m + "\n";
    for (const std::string &part : f.syslogParts)
        EXPECT_NE(messages.find(part), std::string::npos) << "no system-log line with: " << part << "\n" << messages;
    if (!f.rules.empty()) {
        bool acted = false;
        for (const std::string &line : simkernel::opsLog(a.state))
            acted = acted || !simkernel::opsField(line, "fault").empty();
        EXPECT_TRUE(acted) << "the fault never acted";
    }

    // A new attempt sets the progress back to the partition's first value:
    // after the backup (P 30 to 65, then 60) the write's values only fall
    // when an attempt is repeated.
    const std::vector<std::string> seq = a.progress();
    bool fellBack = false;
    int last = -1;
    for (size_t i = 1; i < seq.size(); ++i) {
        if (last < 0) {
            if (seq[i - 1] == "P:65:      " && seq[i] == "P:60:      ")
                last = 60;
            continue;
        }
        if (seq[i].rfind("P:", 0) != 0 || seq[i][2] == '-')
            continue;
        const int value = std::stoi(seq[i].substr(2));
        fellBack = fellBack || value < last;
        last = value;
    }
    EXPECT_EQ(fellBack, f.retried);

    EXPECT_EQ(simkernel::chipBytes(a.state) == chipBefore, f.flashAsBefore) << "flash as before";
    EXPECT_EQ(a.app.exists(a.packageDir + "/b@ckup"), f.backupKept);
    EXPECT_EQ(simkernel::opsMatching(a.state, {"req=MEMERASE", "res=0"}).empty(), !f.erased);
    EXPECT_EQ(a.app.exists("/.NormalShutdown"), f.status == 0);
    if (f.status == 0) {
        for (const char *part : {"zImage", "rd.gz", "AllLib.tgz"}) {
            const std::string file = simkernel::imageFileName(part);
            const uint64_t size = contents.images.at(file);
            EXPECT_TRUE(simkernel::partitionData(a.state, part, size) == simkernel::imageBytes(file, contents.build, size))
                << part;
        }
    }
}

// The bantam table has its own devices and directory partition; a write
// that fails there is rolled back the same way.
TEST(BantamFaultRoad, FailedWriteRestoresTheFlash)
{
    e2e::Appliance a("bantam");
    a.install({});
    simkernel::PackageLayout contents;
    contents.images = simkernel::defaultImages("bantam");
    contents.images["zImage"] = 0xD8000;  // a block more, given by rd.gz
    contents.images["rd.bin"] = 0x60000;
    a.package(contents);
    for (const char *nth : {"1", "2", "3"})  // the write's three attempts
        simkernel::addFault(a.state, std::string("fail write dev=mtd2 nth=") + nth);
    const std::string chipBefore = simkernel::chipBytes(a.state);

    const approot::RunResult r = a.run({});
    EXPECT_EQ(r.status, 20) << r.err;
    EXPECT_EQ(a.lastProgress(), "P:-20:      ");
    EXPECT_EQ(a.updateLog().back(), failed(20));
    EXPECT_TRUE(a.syslogHas("This is bantam, gszDevMtdPartition=[/dev/mtd5]"));
    EXPECT_FALSE(simkernel::opsMatching(a.state, {"dev=mtd5", "req=M23", "res=0"}).empty());
    EXPECT_TRUE(simkernel::chipBytes(a.state) == chipBefore) << "the flash was not restored";
    EXPECT_FALSE(a.app.exists(a.packageDir + "/b@ckup"));
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultRoad, ::testing::ValuesIn(faultRuns()),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
