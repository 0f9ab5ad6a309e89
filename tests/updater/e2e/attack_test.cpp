// What a user who can write "/tmp", the package folder or the volume can
// plant for root to trip over: links, a FIFO, a hard link, a folder link
// and a PATH entry.  Each run still ends with its own code, the planted
// target keeps its bytes and mode, and the run changes nothing outside
// "/tmp", the package folder, the volume's "VexaUpgrade.tar.gz" and its
// own update log and marker.
#include <sys/stat.h>

#include <cerrno>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_fixture.h"

namespace {

const char kShadow[] = "root:$6$salt$secrethash:19000:0:99999:7:::\n";
const char kMessage[] = "/tmp/update.message";
const char kProgress[] = "/tmp/update.progress";

struct Attack {
    const char *name = "";
    std::function<void(e2e::Appliance &)> plant = nullptr;    // the hostile user's doing
    std::function<void(e2e::Appliance &)> refusal = nullptr;  // what makes the run refuse (none: it updates)
    int status = 0;
    std::string target = "";        // a file that must keep its bytes and mode
    std::string mustNotExist = "";  // a path the run must not create
    std::string message = "";       // the message file's text at the end ("" none)
};

void PrintTo(const Attack &a, std::ostream *os)
{
    *os << a.name;
}

// The refusals that write a message for the user.
void volumeTooSmall(e2e::Appliance &a)
{
    simkernel::MdArray md;
    md.sizeKib = 4096;
    md.devSize = 4096 * 1024;
    simkernel::setMd(a.state, 0, md);
}
void bufferRefused(e2e::Appliance &a)
{
    simkernel::set405Answer(a.state, EIO);
}
void upTooLong(e2e::Appliance &a)
{
    e2e::Installed inst;
    inst.build = 300;
    a.install(inst);
    simkernel::setUptime(a.state, 301);
}

const std::string kMsg16 =
    "extramsg=\"System volume is insufficient to extract upgrade patch, please backup all files and restore to "
    "factory default.\"\n";
const std::string kMsg23 = "extramsg=\"Please reboot the system and upgrade immediately.\"\n";
const std::string kMsg24 = "extramsg=\"To perform upgrade task, you have to REBOOT your Vexabox first.\"\n";

void shadowLinkAtMessage(e2e::Appliance &a)
{
    a.app.symlink("/etc/shadow", kMessage);
}

const std::vector<Attack> &attacks()
{
    static const std::vector<Attack> all = {
        {.name = "message_link_to_shadow_16",
         .plant = shadowLinkAtMessage,
         .refusal = volumeTooSmall,
         .status = 16,
         .target = "/etc/shadow",
         .message = kMsg16},
        {.name = "message_link_to_shadow_23",
         .plant = shadowLinkAtMessage,
         .refusal = bufferRefused,
         .status = 23,
         .target = "/etc/shadow",
         .message = kMsg23},
        {.name = "message_link_to_shadow_24",
         .plant = shadowLinkAtMessage,
         .refusal = upTooLong,
         .status = 24,
         .target = "/etc/shadow",
         .message = kMsg24},
        {.name = "message_dangling_link",
         .plant = [](e2e::Appliance &a) { a.app.symlink("/etc/cron.d/planted", kMessage); },
         .refusal = volumeTooSmall,
         .status = 16,
         .mustNotExist = "/etc/cron.d/planted",
         .message = kMsg16},
        {.name = "message_fifo",
         .plant = [](e2e::Appliance &a) { ASSERT_EQ(mkfifo(a.app.layerPath(kMessage).c_str(), 0666), 0); },
         .refusal = volumeTooSmall,
         .status = 16,
         .message = kMsg16},
        {.name = "progress_link_to_shadow",
         .plant = [](e2e::Appliance &a) { a.app.symlink("/etc/shadow", kProgress); },
         .status = 0,
         .target = "/etc/shadow"},
        {.name = "progress_hard_link_to_shadow",
         .plant =
             [](e2e::Appliance &a) {
                 // Made inside: the fixture's copy would not keep the link.
                 ASSERT_EQ(a.app.run({"/bin/ln", "-f", "/etc/shadow", kProgress}).status, 0);
             },
         .status = 0,
         .target = "/etc/shadow"},
        {.name = "upgrade_archive_link_to_a_folder",
         .plant = [](e2e::Appliance &a) { a.app.symlink("/etc", "/volume1/VexaUpgrade.tar.gz"); },
         .status = 0,
         .mustNotExist = "/etc/hda1.tgz"},
        {.name = "package_touch_on_a_relative_path",
         .plant =
             [](e2e::Appliance &a) {
                 a.packageFile("touch", "#!/bin/sh\necho planted >/planted\n");
                 ASSERT_EQ(chmod(a.app.layerPath(a.packageDir + "/touch").c_str(), 0755), 0);
                 a.app.setEnv("PATH", ".:/usr/sbin:/usr/bin:/sbin:/bin");
             },
         .status = 0,
         .mustNotExist = "/planted"},
    };
    return all;
}

// The run's own reports and marker besides the three places it may write.
bool allowedChange(const e2e::Appliance &a, const std::string &path)
{
    auto under = [&](const std::string &dir) { return path == dir || path.rfind(dir + "/", 0) == 0; };
    return under("/tmp") || under(a.packageDir) || path == "/volume1/VexaUpgrade.tar.gz" || path == "/var" ||
           path == "/var/log" || path == "/var/log/vexaupdate.log" || path == "/.NormalShutdown";
}

class Attacks : public ::testing::TestWithParam<Attack> {};

TEST_P(Attacks, LeaveTheirTargetAndTheSystemAlone)
{
    const Attack &t = GetParam();
    e2e::Appliance a("normal");
    a.install({});
    a.package({});
    a.packageFile("hda1.tgz", "the new system partition");
    a.app.mkdir("/etc/cron.d");
    a.app.writeFile("/etc/shadow", kShadow, 0640);
    a.app.setTimeout(30);  // a run that blocks on the FIFO fails, not hangs
    if (t.refusal)
        t.refusal(a);
    t.plant(a);
    std::vector<approot::Change> planted = a.app.changes();  // what planting inside made
    const std::string targetMode = t.target.empty() ? "" : a.statOf(t.target, "%a %u %g");

    const approot::RunResult r = a.run({});
    EXPECT_EQ(r.status, t.status) << r.err;
    EXPECT_EQ(a.updateLog().back(), t.status == 0 ? "Congratulation!! The update has been completed!!"
                                                  : e2e::failed(t.status));
    if (!t.target.empty()) {
        EXPECT_EQ(a.app.readFile(t.target), kShadow);
        EXPECT_EQ(a.statOf(t.target, "%a %u %g"), targetMode);
    }
    if (!t.mustNotExist.empty()) {
        EXPECT_EQ(a.statOf(t.mustNotExist), "");
    }
    if (!t.message.empty()) {
        EXPECT_EQ(a.statOf(kMessage, "%F %h %u"), "regular file 1 0");
        EXPECT_EQ(a.app.readFile(kMessage), t.message);
    }
    EXPECT_EQ(a.statOf(kProgress, "%F %h %u"), "regular file 1 0");
    EXPECT_EQ(a.lastProgress().substr(0, 2), std::string(t.status == 0 ? "R:" : "A:"));
    if (t.status == 0) {
        EXPECT_EQ(a.statOf("/volume1/VexaUpgrade.tar.gz", "%F"), "regular file");
        EXPECT_EQ(a.app.readFile("/volume1/VexaUpgrade.tar.gz"), "the new system partition");
        EXPECT_EQ(a.statOf("/.NormalShutdown", "%F"), "regular empty file");
    }
    for (const approot::Change &c : a.app.changes()) {
        bool before = false;
        for (const approot::Change &p : planted)
            before = before || p == c;
        if (!before) {
            EXPECT_TRUE(allowedChange(a, c.path)) << c.kind << " " << c.path;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Attacks, ::testing::ValuesIn(attacks()),
                         [](const auto &info) { return std::string(info.param.name); });

// Signal dispositions the copy tools start with: caught signals go back to
// their default in a child, ignored ones would stay ignored.
TEST(AttackChildren, CommandsStartWithDefaultSignals)
{
    e2e::Appliance a("normal");
    a.install({});
    a.package({});
    // The last command of the run: the removal of b@ckup.
    a.app.writeFile("/usr/local/bin/rm.real", vexatest::readFile("/usr/bin/rm"), 0755);
    a.app.writeFile("/usr/bin/rm",
                    "#!/bin/sh\n"
                    "grep '^SigIgn' /proc/$$/status >>/tmp/rm.sigign\n"
                    "exec /usr/local/bin/rm.real \"$@\"\n",
                    0755);
    ASSERT_EQ(a.run({}).status, 0);
    EXPECT_FALSE(a.app.exists(a.packageDir + "/b@ckup"));
    const std::vector<std::string> seen = vexatest::splitLines(a.app.readFile("/tmp/rm.sigign"));
    ASSERT_FALSE(seen.empty());
    // HUP, INT, QUIT, PIPE and TERM: bits 0, 1, 2, 12 and 14.
    for (const std::string &line : seen) {
        const unsigned long long ignored = std::stoull(line.substr(line.find(':') + 1), nullptr, 16);
        EXPECT_EQ(ignored & 0x5007ULL, 0u) << line;
    }
}

}  // namespace
