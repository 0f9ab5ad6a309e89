// The endings of one run: exit code, the last progress text, the last
// update-log line, the system-log line of the failing step, and what the
// ending leaves behind (driver buffer, flash, message file).
#include <cerrno>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_fixture.h"

namespace {

using e2e::failed;
using e2e::kFailPrefix;

struct Ending {
    const char *name;
    std::vector<std::string> args;         // after the program path
    std::function<void(e2e::Appliance &)> setup;
    int status;                            // as the shell sees it
    std::string progress;                  // the progress file at the end
    std::string logLine;                   // last update-log text
    std::string syslogPart;                // part of a system-log message
    int reserved, released;                // system call 405 counts
    bool flashChanged;
    std::string message;                   // message file ("" none)
    std::function<approot::RunResult(e2e::Appliance &)> runner = nullptr;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const Ending &e, std::ostream *os)
{
    *os << e.name;
}

void fault(e2e::Appliance &a, const std::string &rule)
{
    simkernel::addFault(a.state, rule);
}

e2e::Installed installedBuild(int build)
{
    e2e::Installed inst;
    inst.build = build;
    return inst;
}

std::string longProgramPath()
{
    std::string p = "/volume1";
    while (p.size() < 260)
        p += "/deeper";
    return p + "/updater";
}

const std::vector<Ending> &endings()
{
    static const std::vector<Ending> all = {
        {"help", {"-h"}, nullptr, 0, "A:0:      ", "Start of the update...", "Start of the updater...", 0, 0, false, ""},
        {"bad_option", {"-x"}, nullptr, 255, "A:0:      ", "Start of the update...", "updater: invalid option [?]", 0,
         0, false, ""},
        {"volume_without_argument", {"-g", "-v"}, nullptr, 255, "A:0:      ", "Start of the update...",
         "updater: invalid option [?]", 0, 0, false, ""},
        {"volume_too_long", {"-g", "-v", "/volume1/" + std::string(23, 'v')}, nullptr, 255, "A:0:      ",
         "Start of the update...", "volume name too long", 0, 0, false, ""},
        {"open_start_folder", {"-g"}, [](e2e::Appliance &a) { a.watchFail = {"opendot"}; }, 1, "A:-1:      ",
         failed(1), "fail to open current directory. errno=13", 0, 0, false, ""},
        {"package_folder_is_root_name", {"-g"}, nullptr, 3, "A:-3:      ", failed(3), "fail to chdir, errno = 2", 0,
         1, false, "",
         [](e2e::Appliance &a) {
             a.app.symlink(e2e::updaterPath(), "/updater");
             return a.runAs({"/updater", "-g"});
         }},
        {"program_path_too_long", {"-g"}, nullptr, 3, "A:-3:      ", failed(3), "program path too long", 0, 1, false,
         "",
         [](e2e::Appliance &a) {
             return a.runAs({"/bin/bash", "-c", "exec -a \"$0\" /volume1/upd@te/updater -g", longProgramPath()});
         }},
        {"package_folder_unreadable", {"-g"}, [](e2e::Appliance &a) { a.watchFail = {"getcwd"}; }, 3, "A:-3:      ",
         failed(3), "fail to get the package folder", 0, 1, false, ""},
        {"older_package", {}, [](e2e::Appliance &a) { a.install(installedBuild(1000)); }, 10, "A:-10:      ", failed(10),
         "fail to analyze, error = 10", 0, 1, false, ""},
        {"system_volume_too_small", {},
         [](e2e::Appliance &a) {
             simkernel::MdArray md;
             md.sizeKib = 4096;
             md.devSize = 4096 * 1024;
             simkernel::setMd(a.state, 0, md);
         },
         16, "A:-16:      ", failed(16), "fail to analyze, error = 16", 0, 1, false,
         "extramsg=\"System volume is insufficient to extract upgrade patch, please backup all files and restore "
         "to factory default.\"\n"},
        {"backup_fails", {}, [](e2e::Appliance &a) { fault(a, "fail read dev=mtd3 proc=dd"); }, 15, "P:-15:      ",
         failed(15), "fail to backup old patch info ", 1, 1, false, ""},
        {"directory_unreadable", {"-g"}, [](e2e::Appliance &a) { fault(a, "fail read dev=mtd7 always"); }, 18,
         "P:-18:      ", failed(18), "fail to get partition info", 1, 1, false, ""},
        {"patch_table_fails", {"-g"}, [](e2e::Appliance &a) { fault(a, "fail getinfo dev=mtd7 always"); }, 19,
         "P:-19:      ", failed(19), "fail to initialize patch info ", 1, 1, false, ""},
        {"flash_write_fails_group", {"-g"}, [](e2e::Appliance &a) { fault(a, "fail erase dev=mtd1 always"); }, 20,
         "P:-20:      ", failed(20), "fail to patch new binaries!!", 1, 1, false, ""},
        {"buffer_refused", {"-g"}, [](e2e::Appliance &a) { simkernel::set405Answer(a.state, EIO); }, 23,
         "A:-23:      ", failed(23), "fail to malloc mtd driver buffer, error = 5", 1, 1, false,
         "extramsg=\"Please reboot the system and upgrade immediately.\"\n"},
        {"up_too_long", {},
         [](e2e::Appliance &a) {
             a.install(installedBuild(300));
             simkernel::setUptime(a.state, 301);
         },
         24, "A:-24:      ", failed(24), "", 0, 0, false,
         "extramsg=\"To perform upgrade task, you have to REBOOT your Vexabox first.\"\n"},
        // Exactly the limit still passes.
        {"up_not_too_long", {},
         [](e2e::Appliance &a) {
             a.install(installedBuild(300));
             simkernel::setUptime(a.state, 300);
         },
         0, "R:0:        ", "Congratulation!! The update has been completed!!", "Congratulation!!", 0, 0, true, ""},
        {"buffer_call_unknown", {"-g"}, [](e2e::Appliance &a) { simkernel::set405Answer(a.state, ENOSYS); }, 0,
         "R:0:        ", "Congratulation!! The update has been completed!!", "fail to free mtd driver buffer, error = 38",
         1, 1, true, ""},
        {"return_to_start_fails", {"-g"}, [](e2e::Appliance &a) { a.watchFail = {"fchdir"}; }, 2, "R:-2:       ",
         failed(2), "exit code 0 becomes 2", 1, 1, true, ""},
    };
    return all;
}

class Endings : public ::testing::TestWithParam<Ending> {};

TEST_P(Endings, ReportEverywhere)
{
    const Ending &e = GetParam();
    e2e::Appliance a("normal");
    a.install({});
    simkernel::PackageLayout contents;
    a.package(contents);
    if (e.setup)
        e.setup(a);
    const std::string zImageBefore = simkernel::partitionBytes(a.state, "zImage");

    const approot::RunResult r = e.runner ? e.runner(a) : a.run(e.args);
    EXPECT_EQ(r.status, e.status) << r.err;
    EXPECT_EQ(a.lastProgress(), e.progress);
    const std::vector<std::string> log = a.updateLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), e.logLine);
    EXPECT_EQ(log.front(), "Start of the update...");
    if (!e.syslogPart.empty()) {
        EXPECT_TRUE(a.syslogHas(e.syslogPart)) << "no system-log line with: " << e.syslogPart;
    }
    if (e.status != 0 && e.status != 255) {
        EXPECT_TRUE(a.syslogHas(failed(e.status)));
    } else {
        EXPECT_FALSE(a.syslogHas(kFailPrefix));
    }

    const simkernel::Counters405 calls = simkernel::counters405(a.state);
    EXPECT_EQ(calls.reserve, static_cast<uint64_t>(e.reserved));
    EXPECT_EQ(calls.release, static_cast<uint64_t>(e.released));
    EXPECT_EQ(simkernel::partitionBytes(a.state, "zImage") != zImageBefore, e.flashChanged);
    if (e.message.empty()) {
        EXPECT_FALSE(a.app.exists("/tmp/update.message"));
    } else {
        EXPECT_EQ(a.app.readFile("/tmp/update.message"), e.message);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Endings, ::testing::ValuesIn(endings()),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(EndingsHelp, PrintsTheBannerAndUsage)
{
    e2e::Appliance a("normal");
    a.install({});
    a.package({});
    const approot::RunResult r = a.run({"-h"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "Vexa firmware updater\n"
              "updater [-h][-g][-v vol]\n"
              " -g: for group update\n"
              " -v: specify an avaible volume for upgrade task.\n");
    EXPECT_EQ(a.progress(), std::vector<std::string>{"A:0:      "});
}

TEST(EndingsRepair, FailedDirectoryRepairStopsBeforeTheWrite)
{
    // Installed build 284 of the one model whose directory is repaired.
    e2e::Appliance a("bantam");
    e2e::Installed inst;
    inst.build = 284;
    inst.model = "vexalink_powerpc_q80z+_1hd";
    a.install(inst);
    a.app.setHwVersion("vexalink-q80z-b\n");
    a.package({});
    simkernel::addFault(a.state, "fail erase dev=mtd5 always");
    const std::string chipBefore = simkernel::chipBytes(a.state);

    const approot::RunResult r = a.run({});
    EXPECT_EQ(r.status, 20) << r.err;
    EXPECT_EQ(a.lastProgress(), "A:-20:      ");
    EXPECT_EQ(a.updateLog().back(), failed(20));
    EXPECT_TRUE(a.syslogHas("fail to recover the flash directory"));
    // Old build: the buffer is neither reserved nor released; nothing was
    // written, rolled back or removed.
    const simkernel::Counters405 calls = simkernel::counters405(a.state);
    EXPECT_EQ(calls.reserve + calls.release, 0u);
    EXPECT_TRUE(simkernel::chipBytes(a.state) == chipBefore);
    EXPECT_TRUE(simkernel::opsMatching(a.state, {"dev=mtd1"}).empty());
}

TEST(EndingsDirectory, AnEmptyFlashDirectoryCannotBeRead)
{
    e2e::Appliance a("normal");
    a.install({});
    a.package({});
    simkernel::writeDirectory(a.state, {});
    const approot::RunResult r = a.run({"-g"});
    EXPECT_EQ(r.status, 18) << r.err;
    EXPECT_EQ(a.lastProgress(), "P:-18:      ");
    EXPECT_EQ(a.updateLog().back(), failed(18));
    EXPECT_TRUE(a.syslogHas("fail to get partition info"));
    EXPECT_TRUE(simkernel::opsMatching(a.state, {"req=MEMERASE"}).empty());
}

TEST(EndingsMSys, MSysFlashIsLeftAlone)
{
    e2e::Appliance a("normal");
    simkernel::makeMSysChip(a.state);
    a.install({});
    a.package({});
    const std::string chipBefore = simkernel::chipBytes(a.state);
    const approot::RunResult r = a.run({"-g"});
    EXPECT_EQ(r.status, 20) << r.err;
    EXPECT_EQ(a.lastProgress(), "A:-20:      ");
    EXPECT_TRUE(a.syslogHas("MSys flash is not supported by this updater"));
    EXPECT_TRUE(simkernel::chipBytes(a.state) == chipBefore);
    const simkernel::Counters405 calls = simkernel::counters405(a.state);
    EXPECT_EQ(calls.reserve, 1u);
    EXPECT_EQ(calls.release, 1u);
}

}  // namespace
