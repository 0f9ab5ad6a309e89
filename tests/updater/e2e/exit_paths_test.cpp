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
    const char *name = "";
    std::vector<std::string> args = {};                    // after the program path
    std::function<void(e2e::Appliance &)> setup = nullptr;
    int status = 0;                                        // as the shell sees it
    std::string progress = "";                             // the progress file at the end
    std::string logLine = "";                              // last update-log text
    std::string syslogPart = "";                           // part of a system-log message
    int reserved = 0;                                      // system call 405 counts
    int released = 0;
    bool flashChanged = false;
    std::string message = "";                              // message file ("" none)
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
        {.name = "help",
         .args = {"-h"},
         .status = 0,
         .progress = "A:0:      ",
         .logLine = "Start of the update...",
         .syslogPart = "Start of the updater..."},
        {.name = "bad_option",
         .args = {"-x"},
         .status = 255,
         .progress = "A:0:      ",
         .logLine = "Start of the update...",
         .syslogPart = "updater: invalid option [?]"},
        {.name = "volume_without_argument",
         .args = {"-g", "-v"},
         .status = 255,
         .progress = "A:0:      ",
         .logLine = "Start of the update...",
         .syslogPart = "updater: invalid option [?]"},
        {.name = "volume_too_long",
         .args = {"-g", "-v", "/volume1/" + std::string(23, 'v')},
         .status = 255,
         .progress = "A:0:      ",
         .logLine = "Start of the update...",
         .syslogPart = "volume name too long"},
        {.name = "open_start_folder",
         .args = {"-g"},
         .setup = [](e2e::Appliance &a) { a.watchFail = {"opendot"}; },
         .status = 1,
         .progress = "A:-1:      ",
         .logLine = failed(1),
         .syslogPart = "fail to open current directory. errno=13"},
        {.name = "package_folder_is_root_name",
         .args = {"-g"},
         .status = 3,
         .progress = "A:-3:      ",
         .logLine = failed(3),
         .syslogPart = "fail to chdir, errno = 2",
         .released = 1,
         .runner =
             [](e2e::Appliance &a) {
                 a.app.symlink(e2e::updaterPath(), "/updater");
                 return a.runAs({"/updater", "-g"});
             }},
        {.name = "program_path_too_long",
         .args = {"-g"},
         .status = 3,
         .progress = "A:-3:      ",
         .logLine = failed(3),
         .syslogPart = "program path too long",
         .released = 1,
         .runner =
             [](e2e::Appliance &a) {
                 return a.runAs({"/bin/bash", "-c", "exec -a \"$0\" /volume1/upd@te/updater -g", longProgramPath()});
             }},
        {.name = "package_folder_unreadable",
         .args = {"-g"},
         .setup = [](e2e::Appliance &a) { a.watchFail = {"getcwd"}; },
         .status = 3,
         .progress = "A:-3:      ",
         .logLine = failed(3),
         .syslogPart = "fail to get the package folder",
         .released = 1},
        {.name = "system_volume_too_small",
         .setup =
             [](e2e::Appliance &a) {
                 simkernel::MdArray md;
                 md.sizeKib = 4096;
                 md.devSize = 4096 * 1024;
                 simkernel::setMd(a.state, 0, md);
             },
         .status = 16,
         .progress = "A:-16:      ",
         .logLine = failed(16),
         .syslogPart = "fail to analyze, error = 16",
         .released = 1,
         .message =
             "extramsg=\"System volume is insufficient to extract upgrade patch, please backup all files and restore "
             "to factory default.\"\n"},
        {.name = "backup_fails",
         .setup = [](e2e::Appliance &a) { fault(a, "fail read dev=mtd3 proc=updater"); },
         .status = 15,
         .progress = "P:-15:      ",
         .logLine = failed(15),
         .syslogPart = "fail to backup old patch info ",
         .reserved = 1,
         .released = 1},
        {.name = "directory_unreadable",
         .args = {"-g"},
         .setup = [](e2e::Appliance &a) { fault(a, "fail read dev=mtd7 always"); },
         .status = 18,
         .progress = "P:-18:      ",
         .logLine = failed(18),
         .syslogPart = "fail to get partition info",
         .reserved = 1,
         .released = 1},
        {.name = "patch_table_fails",
         .args = {"-g"},
         .setup = [](e2e::Appliance &a) { fault(a, "fail getinfo dev=mtd7 always"); },
         .status = 19,
         .progress = "P:-19:      ",
         .logLine = failed(19),
         .syslogPart = "fail to initialize patch info ",
         .reserved = 1,
         .released = 1},
        {.name = "flash_write_fails_group",
         .args = {"-g"},
         .setup = [](e2e::Appliance &a) { fault(a, "fail erase dev=mtd1 always"); },
         .status = 20,
         .progress = "P:-20:      ",
         .logLine = failed(20),
         .syslogPart = "fail to patch new binaries!!",
         .reserved = 1,
         .released = 1},
        {.name = "buffer_refused",
         .args = {"-g"},
         .setup = [](e2e::Appliance &a) { simkernel::set405Answer(a.state, EIO); },
         .status = 23,
         .progress = "A:-23:      ",
         .logLine = failed(23),
         .syslogPart = "fail to malloc mtd driver buffer, error = 5",
         .reserved = 1,
         .released = 1,
         .message = "extramsg=\"Please reboot the system and upgrade immediately.\"\n"},
        {.name = "buffer_call_unknown",
         .args = {"-g"},
         .setup = [](e2e::Appliance &a) { simkernel::set405Answer(a.state, ENOSYS); },
         .status = 0,
         .progress = "R:0:        ",
         .logLine = "Congratulation!! The update has been completed!!",
         .syslogPart = "fail to free mtd driver buffer, error = 38",
         .reserved = 1,
         .released = 1,
         .flashChanged = true},
        {.name = "return_to_start_fails",
         .args = {"-g"},
         .setup = [](e2e::Appliance &a) { a.watchFail = {"fchdir"}; },
         .status = 2,
         .progress = "R:-2:       ",
         .logLine = failed(2),
         .syslogPart = "exit code 0 becomes 2",
         .reserved = 1,
         .released = 1,
         .flashChanged = true},
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

}  // namespace
