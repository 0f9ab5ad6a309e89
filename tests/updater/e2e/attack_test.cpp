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
        // Another key of the file stays; the key's lines become one.
        {.name = "message_other_lines_kept",
         .plant =
             [](e2e::Appliance &a) {
                 a.app.writeFile(kMessage, "extramsg=\"old one\"\nnote=\"keep\"\nextramsg=\"old two\"\n", 0644);
             },
         .refusal = upTooLong,
         .status = 24,
         .message = kMsg24 + "note=\"keep\"\n"},
        {.name = "message_hard_link_to_shadow",
         .plant =
             [](e2e::Appliance &a) {
                 ASSERT_EQ(a.app.run({"/bin/ln", "-f", "/etc/shadow", kMessage}).status, 0);
             },
         .refusal = upTooLong,
         .status = 24,
         .target = "/etc/shadow",
         .message = kMsg24},
        // Another user's file is not read: the new one holds only the key.
        {.name = "message_of_another_user",
         .plant =
             [](e2e::Appliance &a) {
                 a.app.mkdir("/tmp", 01777);
                 ASSERT_EQ(a.app.run({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                      "/bin/sh", "-c", "echo 'note=\"planted\"' >/tmp/update.message"})
                               .status,
                           0);
             },
         .refusal = upTooLong,
         .status = 24,
         .message = kMsg24},
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

// ---- The migrations over what the volume's users own ----------------------
//
// An installed build for which every migration is due, on a "/writeable"
// model: the migrations walk, open up, make, copy into and move within
// folders that an unprivileged user (uid 65534) owns or has written.

constexpr char kWriteableModel[] = "quorlan_ixp420_1hd";
const char kSecret[] = "only root reads this\n";

// Runs a shell text inside the root as root (what a layer cannot hold:
// hard links, folders a run may rename, other owners' files) or, with
// asUser, as uid 65534.
void inside(e2e::Appliance &a, const std::string &script, bool asUser = false)
{
    std::vector<std::string> argv = {"/bin/sh", "-c", script};
    if (asUser)
        argv.insert(argv.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    const approot::RunResult r = a.app.run(argv);
    ASSERT_EQ(r.status, 0) << script << "\n" << r.err;
}

struct MigrationAttack {
    const char *name = "";
    std::function<void(e2e::Appliance &)> plant = nullptr;  // the user's doing, before the run
    std::string target = "";                                 // keeps its bytes and mode
    std::function<void(e2e::Appliance &)> check = nullptr;   // what the run must have left
    bool firstRunFails = false;  // run 1 ends 17 for another cause; run 2, once it is gone, must not
};

void PrintTo(const MigrationAttack &a, std::ostream *os)
{
    *os << a.name;
}

const std::vector<MigrationAttack> &migrationAttacks()
{
    static const std::vector<MigrationAttack> all = {
        // Where the kernel lets a user link another's file into a folder of
        // theirs (made here by root, as such a kernel would let the user).
        {.name = "eadir_hard_link_to_a_secret",
         .plant =
             [](e2e::Appliance &a) {
                 inside(a, "mkdir -p /var/services/photo/album/@eaDir && "
                           "chown -R 65534:65534 /var/services/photo/album && "
                           "ln /etc/secret /var/services/photo/album/@eaDir/thumb.jpg");
             },
         .target = "/etc/secret",
         .check =
             [](e2e::Appliance &a) {
                 EXPECT_EQ(a.statOf("/var/services/photo/album/@eaDir", "%a"), "777");
             }},
        // Links the user put there before the run: an @eaDir naming "/etc",
        // and one in a real @eaDir naming the secret.
        {.name = "eadir_links_planted",
         .plant =
             [](e2e::Appliance &a) {
                 inside(a, "mkdir -p /var/services/photo/a1/@eaDir /var/services/photo/a2 && "
                           "chown -R 65534:65534 /var/services/photo/a1 /var/services/photo/a2");
                 inside(a, "ln -s /etc /var/services/photo/a2/@eaDir && "
                           "ln -s /etc/secret /var/services/photo/a1/@eaDir/thumb.jpg", true);
             },
         .target = "/etc/secret",
         .check =
             [](e2e::Appliance &a) {
                 EXPECT_EQ(a.statOf("/var/services/photo/a1/@eaDir", "%a"), "777");
                 EXPECT_EQ(a.statOf("/var/services/photo/a2/@eaDir", "%F"), "symbolic link");
             }},
        // The user swaps the album's @eaDir for a link to "/etc" once it has
        // been found: the moment the old command started chmod on it.
        {.name = "eadir_swapped_for_a_link",
         .plant =
             [](e2e::Appliance &a) {
                 inside(a, "mkdir -p /var/services/photo/album/@eaDir/sub && "
                           "echo thumb >/var/services/photo/album/@eaDir/sub/a.jpg && "
                           "chown -R 65534:65534 /var/services/photo/album");
                 a.wrapTool("chmod", "#!/bin/sh\n"
                                     "case \"$3\" in *@eaDir) /usr/bin/setpriv --reuid=65534 --regid=65534 "
                                     "--clear-groups /bin/sh -c 'cd \"$(dirname \"$1\")\" && mv @eaDir @eaDir.real && "
                                     "ln -s /etc @eaDir' x \"$3\";; esac\n"
                                     "exec /usr/local/bin/chmod.real \"$@\"\n");
             },
         .target = "/etc/secret",
         .check =
             [](e2e::Appliance &a) {
                 EXPECT_EQ(a.statOf("/etc", "%a"), "755");
                 EXPECT_EQ(a.statOf("/var/services/photo/album/@eaDir/sub/a.jpg", "%a"), "777");
             }},
        {.name = "saved_folder_of_another_user",
         .plant =
             [](e2e::Appliance &a) {
                 inside(a, "mkdir /volume1/s@vedconfig && ln -s /etc/secret /volume1/s@vedconfig/smb.conf", true);
             },
         .target = "/etc/secret",
         .check =
             [](e2e::Appliance &a) {
                 EXPECT_EQ(a.statOf("/volume1/s@vedconfig", "%a %u"), "755 0");
                 EXPECT_EQ(a.app.readFile("/volume1/s@vedconfig/smb.conf"), "[global]\n");
                 EXPECT_EQ(a.statOf("/volume1/s@vedconfig.1/smb.conf", "%F %u"), "symbolic link 65534");
                 EXPECT_TRUE(a.syslogHas("[/volume1/s@vedconfig] belongs to uid 65534: kept as "
                                         "[/volume1/s@vedconfig.1]"));
             }},
        // Root's, left open by a run at umask 000: the user's links in it.
        {.name = "saved_folder_open_to_all_holding_links",
         .plant =
             [](e2e::Appliance &a) {
                 inside(a, "mkdir -m 777 /volume1/s@vedconfig");
                 inside(a, "ln -s /etc/secret /volume1/s@vedconfig/smb.conf", true);
             },
         .target = "/etc/secret",
         .check =
             [](e2e::Appliance &a) {
                 EXPECT_EQ(a.statOf("/volume1/s@vedconfig", "%a %u"), "755 0");
                 EXPECT_EQ(a.app.readFile("/volume1/s@vedconfig/smb.conf"), "[global]\n");
                 EXPECT_EQ(a.statOf("/volume1/s@vedconfig.1/smb.conf", "%F"), "symbolic link");
             }},
        // "/writeable/logs" the user's and open to all: its owner and mode
        // must not reach the saved folder, which a retry must still take.
        {.name = "writeable_logs_of_another_user",
         .plant = [](e2e::Appliance &a) { inside(a, "chown 65534:65534 /writeable/logs && chmod 777 /writeable/logs"); },
         .target = "/etc/secret",
         .check =
             [](e2e::Appliance &a) {
                 EXPECT_EQ(a.statOf("/volume1/s@vedconfig", "%a %u"), "755 0");
                 EXPECT_EQ(a.app.readFile("/volume1/s@vedconfig/messages"), "boot\n");
             },
         .firstRunFails = true},
        // A link where the configuration backup goes: it is replaced, never
        // entered.
        {.name = "netbackup_link_at_the_target",
         .plant =
             [](e2e::Appliance &a) {
                 inside(a, "mkdir -p /var/services/NetBackup/set1/@app && "
                           "echo '* * * * * root /tmp/x' >/var/services/NetBackup/set1/configbackup.dss && "
                           "ln -s /etc/cron.d /var/services/NetBackup/set1/@app/configbackup.dss && "
                           "chown -R 65534:65534 /var/services/NetBackup/set1");
             },
         .target = "/etc/secret",
         .check =
             [](e2e::Appliance &a) {
                 EXPECT_EQ(a.statOf("/etc/cron.d/configbackup.dss"), "");
                 EXPECT_EQ(a.statOf("/var/services/NetBackup/set1/@app/configbackup.dss", "%F"), "regular file");
                 EXPECT_EQ(a.app.readFile("/var/services/NetBackup/set1/@app/configbackup.dss"),
                           "* * * * * root /tmp/x\n");
             }},
        {.name = "netbackup_set_folder_a_link",
         .plant =
             [](e2e::Appliance &a) {
                 inside(a, "mkdir -p /var/services/NetBackup && echo x >/etc/configbackup.dss && "
                           "ln -s /etc /var/services/NetBackup/set2");
             },
         .target = "/etc/secret",
         .check =
             [](e2e::Appliance &a) {
                 EXPECT_EQ(a.statOf("/etc/@app"), "");
                 EXPECT_EQ(a.app.readFile("/etc/configbackup.dss"), "x\n");
             }},
    };
    return all;
}

class MigrationAttacks : public ::testing::TestWithParam<MigrationAttack> {};

TEST_P(MigrationAttacks, LeaveTheirTargetAloneAndTheRunItsCode)
{
    const MigrationAttack &t = GetParam();
    e2e::Appliance a("normal");
    e2e::Installed inst;
    inst.build = 200;
    inst.model = kWriteableModel;
    a.install(inst);
    simkernel::setUptime(a.state, 100);
    a.stubServices();
    a.package({});
    a.app.writeFile("/etc/secret", kSecret, 0600);
    a.app.mkdir("/etc/cron.d");
    a.app.writeFile("/writeable/configs/smb.conf", "[global]\n");
    a.app.writeFile("/writeable/logs/messages", "boot\n");
    a.app.writeFile("/etc/rc", "#!/bin/sh\n", 0755);
    a.app.writeFile("/etc/fstab", "/dev/hda1 / ext3\n");
    a.app.mkdir("/var/services/photo", 0777);
    // The volume's users may make and rename names at its top.
    inside(a, "chmod 777 /volume1");
    t.plant(a);
    if (t.firstRunFails)
        inside(a, "rm -f /etc/profile && mkdir /etc/profile");
    const std::string targetMode = a.statOf(t.target, "%a %u %g");

    approot::RunResult r = a.run({});
    if (t.firstRunFails) {
        ASSERT_NO_FATAL_FAILURE(e2e::expectExit17(a, r));
        inside(a, "rmdir /etc/profile");
        a.app.clearSyslog();
        r = a.run({});
    }
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(a.app.readFile(t.target), kSecret);
    EXPECT_EQ(a.statOf(t.target, "%a %u %g"), targetMode);
    EXPECT_EQ(a.statOf("/etc", "%a %u"), "755 0");
    for (const approot::Change &c : a.app.changes()) {
        EXPECT_NE(c.path.rfind("/etc/cron.d/", 0), 0u) << c.kind << " " << c.path;
    }
    t.check(a);
}

INSTANTIATE_TEST_SUITE_P(Table, MigrationAttacks, ::testing::ValuesIn(migrationAttacks()),
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
