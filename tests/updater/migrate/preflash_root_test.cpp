// The steps before the flash write, each on its own, inside the appliance
// root: the FTP port range, the rsync files, the smmsp group line and the
// code-page keys.
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "approot.h"
#include "migrate_probe.h"
#include "root_probe.h"
#include "services/netbkp/vexa_netbkp.h"
#include "updt_preflash.h"

namespace {

using vexatest::probe::readOr;
using vexatest::probe::say;
using Lines = std::vector<std::string>;

constexpr char kInfo[] = "/etc/vexainfo.conf";
constexpr char kNone[] = "<missing>";

int probe(vexatest::probe::Ops next)
{
    while (next.more()) {
        const std::string op = next();
        if (op == "ftp") {
            say("ftp " + std::to_string(UpdateFTPPassivePortRange()));
        } else if (op == "rsyncdconf") {
            UpdateRsyncdConf();
        } else if (op == "secrets") {
            CheckAndUpdateRsyncdSecrets();
        } else if (op == "smmsp") {
            CheckAndUpdateSmmspGroup();
        } else if (op == "codepage") {
            UpdateCodepageConfig();
        } else if (op == "stat") {
            say(vexatest::probe::statLine(next()));
        } else if (!runStepOp(op)) {
            return 92;
        }
    }
    return 0;
}

VEXATEST_ROOT_PROBE(probe)

// One file before and after one step.
struct FileCase {
    const char *name;
    std::string before;  // kNone: no file
    std::string after;
    Lines said = {};
};

void PrintTo(const FileCase &c, std::ostream *os)
{
    *os << c.name;
}

std::string caseName(const ::testing::TestParamInfo<FileCase> &i)
{
    return i.param.name;
}

Lines runStep(approot::Appliance &app, const std::string &path, const FileCase &c, const Lines &ops)
{
    if (c.before != kNone)
        app.writeFile(path, c.before, 0600);
    const Lines said = vexatest::probe::run(app, ops);
    EXPECT_EQ(readOr(app, path, kNone), c.after);
    return said;
}

// ---- FTP passive port range ---------------------------------------------

class FtpRange : public ::testing::TestWithParam<FileCase> {};

TEST_P(FtpRange, CappedOnlyWhenSound)
{
    approot::Appliance app("ftp");
    EXPECT_EQ(runStep(app, kInfo, GetParam(), {"ftp"}), GetParam().said);
}

std::vector<FileCase> ftpCases()
{
    auto conf = [](const std::string &keys) { return "hostname=\"box\"\n" + keys + "lang=\"enu\"\n"; };
    return {
        {.name = "exactly_128_ports_stay",
         .before = conf("ftplowport=\"5000\"\nftphighport=\"5127\"\n"),
         .after = conf("ftplowport=\"5000\"\nftphighport=\"5127\"\n"),
         .said = {"ftp 0"}},
        {.name = "129_ports_are_capped",
         .before = conf("ftplowport=\"5000\"\nftphighport=\"5128\"\n"),
         .after = conf("ftplowport=\"5000\"\nftphighport=\"5127\"\n"),
         .said = {"ftp 0"}},
        {.name = "whole_range_is_capped",
         .before = conf("ftplowport=\"1\"\nftphighport=\"65535\"\n"),
         .after = conf("ftplowport=\"1\"\nftphighport=\"128\"\n"),
         .said = {"ftp 0"}},
        {.name = "missing_low_port_changes_nothing",
         .before = conf("ftphighport=\"6500\"\n"),
         .after = conf("ftphighport=\"6500\"\n"),
         .said = {"ftp 0"}},
        {.name = "missing_high_port_changes_nothing",
         .before = conf("ftplowport=\"6000\"\n"),
         .after = conf("ftplowport=\"6000\"\n"),
         .said = {"ftp 0"}},
        {.name = "text_changes_nothing",
         .before = conf("ftplowport=\"low\"\nftphighport=\"6500\"\n"),
         .after = conf("ftplowport=\"low\"\nftphighport=\"6500\"\n"),
         .said = {"ftp 0"}},
        {.name = "number_with_text_changes_nothing",
         .before = conf("ftplowport=\"6000\"\nftphighport=\"6500x\"\n"),
         .after = conf("ftplowport=\"6000\"\nftphighport=\"6500x\"\n"),
         .said = {"ftp 0"}},
        {.name = "reversed_range_changes_nothing",
         .before = conf("ftplowport=\"6500\"\nftphighport=\"6000\"\n"),
         .after = conf("ftplowport=\"6500\"\nftphighport=\"6000\"\n"),
         .said = {"ftp 0"}},
        {.name = "port_zero_changes_nothing",
         .before = conf("ftplowport=\"0\"\nftphighport=\"6000\"\n"),
         .after = conf("ftplowport=\"0\"\nftphighport=\"6000\"\n"),
         .said = {"ftp 0"}},
        {.name = "port_beyond_65535_changes_nothing",
         .before = conf("ftplowport=\"6000\"\nftphighport=\"65536\"\n"),
         .after = conf("ftplowport=\"6000\"\nftphighport=\"65536\"\n"),
         .said = {"ftp 0"}},
        {.name = "overflowing_number_changes_nothing",
         .before = conf("ftplowport=\"-18446744073709551615\"\nftphighport=\"6000\"\n"),
         .after = conf("ftplowport=\"-18446744073709551615\"\nftphighport=\"6000\"\n"),
         .said = {"ftp 0"}},
        {.name = "missing_file_fails", .before = kNone, .after = kNone, .said = {"ftp -1"}},
        {.name = "unreadable_value_fails",
         .before = conf("ftplowport=\"" + std::string(130, '1') + "\"\n"),
         .after = conf("ftplowport=\"" + std::string(130, '1') + "\"\n"),
         .said = {"ftp -1"}},
    };
}

INSTANTIATE_TEST_SUITE_P(Table, FtpRange, ::testing::ValuesIn(ftpCases()), caseName);

// ---- rsyncd.conf ----------------------------------------------------------

class RsyncdConf : public ::testing::TestWithParam<FileCase> {};

TEST_P(RsyncdConf, NoChrootAfterTheLockFileLine)
{
    approot::Appliance app("rsyncdconf");
    app.writeFile(SZF_RSYNCD_SECRETS, "root:x|eA==\n", 0644);
    EXPECT_EQ(runStep(app, SZF_RSYNCD_CONF, GetParam(), {"rsyncdconf", "stat", SZF_RSYNCD_CONF, "stat",
                                                          SZF_RSYNCD_SECRETS}),
              GetParam().said);
    EXPECT_EQ(app.readFile(SZF_RSYNCD_SECRETS), "root:x|eA==\n");
}

std::vector<FileCase> rsyncdConfCases()
{
    constexpr char kSecretsProtected[] = "stat 0 640 0:25";
    return {
        {.name = "inserted_after_the_lock_file_line",
         .before = "uid = nobody\nlock file = /var/run/rsyncd.lock\nlog file = /var/log/rsyncd.log\n",
         .after = "uid = nobody\nlock file = /var/run/rsyncd.lock\nuse chroot = no\nlog file = /var/log/rsyncd.log\n",
         .said = {"stat 0 644 0:0", kSecretsProtected}},
        {.name = "inserted_after_a_last_line_without_newline",
         .before = "uid = nobody\nlock file = /var/run/rsyncd.lock",
         .after = "uid = nobody\nlock file = /var/run/rsyncd.lock\nuse chroot = no\n",
         .said = {"stat 0 644 0:0", kSecretsProtected}},
        {.name = "present_line_only_gets_the_mode",
         .before = "lock file = /var/run/rsyncd.lock\n  use chroot = no\n",
         .after = "lock file = /var/run/rsyncd.lock\n  use chroot = no\n",
         .said = {"stat 0 644 0:0", kSecretsProtected}},
        {.name = "commented_line_does_not_count",
         .before = "#use chroot = no\nlock file = /var/run/rsyncd.lock\n",
         .after = "#use chroot = no\nlock file = /var/run/rsyncd.lock\nuse chroot = no\n",
         .said = {"stat 0 644 0:0", kSecretsProtected}},
        {.name = "without_lock_file_line_only_the_mode_changes",
         .before = "uid = nobody\n",
         .after = "uid = nobody\n",
         .said = {"stat 0 644 0:0", kSecretsProtected}},
        {.name = "missing_file_stays_missing",
         .before = kNone,
         .after = kNone,
         .said = {"stat -1 0 0:0", kSecretsProtected}},
    };
}

INSTANTIATE_TEST_SUITE_P(Table, RsyncdConf, ::testing::ValuesIn(rsyncdConfCases()), caseName);

// ---- rsyncd.secrets -------------------------------------------------------

constexpr char kSecretsBefore[] =
    "root:tuQ/8RzuuEul2|cGFzcw==\n"
    "  \"rsync:tuQ/8RzuuEul2|pass!\"  \n"
    "nobar\n"
    "admin:tuQ/8RzuuEul2|\n"
    "guest:tuQ/8RzuuEul2|abc\n";
constexpr char kSecretsAfter[] =
    "root:tuQ/8RzuuEul2|cGFzcw==\n"
    "rsync:tuQ/8RzuuEul2|cGFzcyEA\n"
    "admin:tuQ/8RzuuEul2|\n"
    "guest:tuQ/8RzuuEul2|YWJj\n";

void expectNoSecretInLog(const approot::Appliance &app)
{
    for (const std::string &line : app.syslog()) {
        for (const char *secret : {"pass!", "cGFzcw==", "cGFzcyEA", "YWJj", "tuQ/8RzuuEul2"})
            EXPECT_EQ(line.find(secret), std::string::npos) << line;
    }
}

TEST(RsyncdSecrets, EverySecretBecomesBase64)
{
    approot::Appliance app("secrets");
    app.writeFile(SZF_RSYNCD_SECRETS, kSecretsBefore, 0644);
    app.writeFile(SZF_RSYNCD_SECRETS ".tmp", "left over\n", 0644);
    EXPECT_EQ(vexatest::probe::run(app, {"secrets", "stat", SZF_RSYNCD_SECRETS}), Lines{"stat 0 640 0:25"});
    EXPECT_EQ(app.readFile(SZF_RSYNCD_SECRETS), kSecretsAfter);
    EXPECT_FALSE(app.exists(SZF_RSYNCD_SECRETS ".tmp"));
    expectNoSecretInLog(app);
}

TEST(RsyncdSecrets, LinkAtTheTemporaryNameIsNotFollowed)
{
    approot::Appliance app("secrets");
    app.writeFile(SZF_RSYNCD_SECRETS, kSecretsBefore, 0644);
    app.writeFile("/var/spool/elsewhere", "theirs\n", 0644);
    app.symlink("/var/spool/elsewhere", SZF_RSYNCD_SECRETS ".tmp");
    EXPECT_EQ(vexatest::probe::run(app, {"secrets"}), Lines{});
    EXPECT_EQ(app.readFile(SZF_RSYNCD_SECRETS), kSecretsAfter);
    EXPECT_EQ(app.readFile("/var/spool/elsewhere"), "theirs\n");
}

TEST(RsyncdSecrets, FailedWriteKeepsTheOldFileWhole)
{
    approot::Appliance app("secrets");
    // Plain secrets that grow when encoded, past a file-size limit of one
    // 512-byte block.
    std::string before;
    for (int i = 0; i < 40; ++i)
        before += "user" + std::to_string(i) + ":tuQ/8RzuuEul2|plain!\n";
    app.writeFile(SZF_RSYNCD_SECRETS, before, 0640);
    const approot::RunResult r =
        app.run({"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 1; " + vexatest::probe::command() + " secrets"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(app.readFile(SZF_RSYNCD_SECRETS), before);
    EXPECT_FALSE(app.exists(SZF_RSYNCD_SECRETS ".tmp"));
    EXPECT_EQ(app.changes(), (std::vector<approot::Change>{}));
    expectNoSecretInLog(app);
}

TEST(RsyncdSecrets, FullFileSystemKeepsTheOldFileWhole)
{
    approot::Appliance app("secrets");
    std::string before;
    for (int i = 0; i < 40; ++i)
        before += "user" + std::to_string(i) + ":tuQ/8RzuuEul2|plain!\n";
    app.writeFile(SZF_RSYNCD_SECRETS, before, 0640);
    // "/etc" becomes a small file system, filled up, that holds the
    // secrets file (and the loader's cache); the checks run in the same
    // mount namespace.
    const std::string cmd =
        "mkdir -p /run/save && cp /etc/rsyncd.secrets /run/save/ && "
        "{ cp /etc/ld.so.cache /run/save/ 2>/dev/null || true; } && "
        "mount -t tmpfs -o size=64k none /etc && cp /run/save/* /etc/ && "
        "{ dd if=/dev/zero of=/etc/fill bs=4096 2>/dev/null || true; } && " +
        vexatest::probe::command() +
        " secrets && cmp -s /etc/rsyncd.secrets /run/save/rsyncd.secrets && echo same && "
        "{ test -e /etc/rsyncd.secrets.tmp || echo 'no temporary'; }";
    const approot::RunResult r = app.run({"/bin/sh", "-c", cmd});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(vexatest::splitLines(r.out), (Lines{"same", "no temporary"}));
    expectNoSecretInLog(app);
}

TEST(RsyncdSecrets, MissingFileChangesNothing)
{
    approot::Appliance app("secrets");
    EXPECT_EQ(vexatest::probe::run(app, {"secrets"}), Lines{});
    EXPECT_EQ(app.changes(), (std::vector<approot::Change>{}));
    // The failed open is named as such.
    bool named = false;
    for (const std::string &line : app.syslog())
        named = named || (line.find("(CheckAndUpdateRsyncdSecrets):") != std::string::npos &&
                          line.find(" fail to open [/etc/rsyncd.secrets]! errno=2/") != std::string::npos);
    EXPECT_TRUE(named);
}

// ---- smmsp group line -----------------------------------------------------

class SmmspGroup : public ::testing::TestWithParam<FileCase> {};

TEST_P(SmmspGroup, AdminBeforeALastNobody)
{
    approot::Appliance app("smmsp");
    EXPECT_EQ(runStep(app, "/etc/group", GetParam(), {"smmsp"}), GetParam().said);
}

std::vector<FileCase> smmspCases()
{
    auto group = [](const std::string &members) {
        return "root:x:0:\nsmmsp:x:25:" + members + "\nusers:x:100:nobody\n";
    };
    const std::string longMembers = std::string(1000, 'm') + ",nobody";
    return {
        {.name = "postfix", .before = group("postfix"), .after = group("postfix,admin")},
        {.name = "nobody_alone", .before = group("nobody"), .after = group("admin,nobody")},
        {.name = "postfix_nobody", .before = group("postfix,nobody"), .after = group("postfix,admin,nobody")},
        {.name = "nobody_postfix", .before = group("nobody,postfix"), .after = group("nobody,postfix,admin")},
        {.name = "no_members", .before = group(""), .after = group("admin")},
        {.name = "administrator_stays", .before = group("administrator"), .after = group("administrator")},
        {.name = "line_too_long_stays", .before = group(longMembers), .after = group(longMembers)},
        {.name = "no_smmsp_line", .before = "root:x:0:\n", .after = "root:x:0:\n"},
    };
}

INSTANTIATE_TEST_SUITE_P(Table, SmmspGroup, ::testing::ValuesIn(smmspCases()), caseName);

// ---- code pages -----------------------------------------------------------

class CodePages : public ::testing::TestWithParam<FileCase> {};

TEST_P(CodePages, NumbersBecomeLanguageCodes)
{
    approot::Appliance app("codepage");
    EXPECT_EQ(runStep(app, kInfo, GetParam(), {"codepage"}), GetParam().said);
}

std::vector<FileCase> codePageCases()
{
    auto conf = [](const std::string &cp, const std::string &media) {
        return "hostname=\"box\"\n" + cp + "lang=\"enu\"\n" + media;
    };
    auto key = [](const char *k, const std::string &v) { return std::string(k) + "=\"" + v + "\"\n"; };
    return {
        {.name = "936_and_missing",
         .before = conf(key("codepage", "936"), "codepage_apple=\"10000\"\n"),
         .after = conf(key("codepage", "chs"), "") + key("codepage_mediaservice", "enu")},
        {.name = "437", .before = conf(key("codepage", "437"), key("codepage_mediaservice", "932")),
         .after = conf(key("codepage", "enu"), key("codepage_mediaservice", "jpn"))},
        {.name = "language_codes_stay",
         .before = conf(key("codepage", "jpn"), key("codepage_mediaservice", "UTF8")),
         .after = conf(key("codepage", "jpn"), key("codepage_mediaservice", "UTF8"))},
        {.name = "long_number_and_text",
         .before = conf(key("codepage", "12345678"), key("codepage_mediaservice", "936x")),
         .after = conf(key("codepage", "enu"), key("codepage_mediaservice", "enu"))},
        {.name = "empty_and_unknown_code",
         .before = conf(key("codepage", ""), key("codepage_mediaservice", "xyz") + "codepage_apple=\"1\"\n"),
         .after = conf(key("codepage", "enu"), key("codepage_mediaservice", "enu"))},
        {.name = "every_table_row",
         .before = key("codepage", "852") + key("codepage_mediaservice", "866"),
         .after = key("codepage", "plk") + key("codepage_mediaservice", "rus")},
        {.name = "more_rows",
         .before = key("codepage", "949") + key("codepage_mediaservice", "950"),
         .after = key("codepage", "krn") + key("codepage_mediaservice", "cht")},
        {.name = "turkish",
         .before = key("codepage", "1254") + key("codepage_mediaservice", "850"),
         .after = key("codepage", "trk") + key("codepage_mediaservice", "enu")},
    };
}

INSTANTIATE_TEST_SUITE_P(Table, CodePages, ::testing::ValuesIn(codePageCases()), caseName);

}  // namespace
