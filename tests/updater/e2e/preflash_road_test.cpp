// The steps before the flash write in a whole run: which of them the
// installed build selects, what each leaves in the system's files, and
// the run that a broken FTP port range ends before the flash is touched.
#include <sys/stat.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_fixture.h"

namespace {

using Lines = std::vector<std::string>;

constexpr char kInfo[] = "/etc/vexainfo.conf";
constexpr char kConf[] = "/etc/rsyncd.conf";
constexpr char kSecrets[] = "/etc/rsyncd.secrets";
constexpr char kGroup[] = "/etc/group";

const std::string kInfoKeys =
    "ftplowport=\"6000\"\nftphighport=\"6500\"\ncodepage_apple=\"10000\"\ncodepage=\"936\"\n"
    "hostname=\"box\"\ncodepage_apple=\"10001\"\nlang=\"enu\"\n";
// The last line without its newline.
constexpr char kConfBefore[] = "uid = nobody\n#use chroot = no\nlock file = /var/run/rsyncd.lock";
constexpr char kConfAfter[] = "uid = nobody\n#use chroot = no\nlock file = /var/run/rsyncd.lock\nuse chroot = no\n";
constexpr char kSecretsBefore[] = "root:tuQ/8RzuuEul2|cGFzcw==\n\"rsync:tuQ/8RzuuEul2|pass!\"\nnobar\n";
constexpr char kSecretsAfter[] = "root:tuQ/8RzuuEul2|cGFzcw==\nrsync:tuQ/8RzuuEul2|cGFzcyEA\n";
// The mail server's groups are there, so that the account steps after the
// write leave the file to the smmsp step.
constexpr char kGroupBefore[] =
    "dovecot:x:143:dovecot\nmaildrop:x:126:\npostfix:x:125:postfix\nroot:x:0:\nsmmsp:x:25:postfix,nobody\nusers:x:100:\n";
constexpr char kGroupAfter[] = "dovecot:x:143:dovecot\nmaildrop:x:126:\npostfix:x:125:postfix\nroot:x:0:\n"
                               "smmsp:x:25:postfix,admin,nobody\nusers:x:100:\n";

// The installed firmware and the files the steps work on.
struct Fixture {
    e2e::Appliance a{"normal"};
    std::string infoBefore;

    explicit Fixture(int build, bool initrd = true)
    {
        e2e::Installed inst;
        inst.build = build;
        a.install(inst);
        a.package({});
        a.initrd = initrd;
        infoBefore = a.app.readFile(kInfo) + kInfoKeys;
        a.app.writeFile(kInfo, infoBefore);
        a.app.writeFile(kConf, kConfBefore, 0600);
        a.app.writeFile(kSecrets, kSecretsBefore, 0644);
        a.app.writeFile(kGroup, kGroupBefore);
    }

    // Mode and owner of a file as the run left it ("" when the run did
    // not change it).
    std::string modeOwner(const std::string &inside) const
    {
        struct stat st {};
        if (stat((a.app.dir() + "/upper" + inside).c_str(), &st) != 0)
            return "";
        char b[32];
        snprintf(b, sizeof b, "%o %u:%u", st.st_mode & 07777, st.st_uid, st.st_gid);
        return b;
    }

    // The step files the run changed.
    Lines changed() const
    {
        Lines out;
        for (const approot::Change &c : a.app.changes()) {
            for (const char *path : {kInfo, kConf, kSecrets, kGroup})
                if (c.path == path)
                    out.push_back(std::string(1, c.kind) + " " + c.path);
        }
        return out;
    }
};

std::string replaced(std::string text, const std::string &from, const std::string &to)
{
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

std::string withoutApple(std::string text)
{
    for (const char *line : {"codepage_apple=\"10000\"\n", "codepage_apple=\"10001\"\n"})
        text = replaced(text, line, "");
    return text;
}

TEST(PreFlashRoad, Build400UpdatesEveryFileAndLogsNoSecret)
{
    Fixture f(400);
    const approot::RunResult r = f.a.run({});
    ASSERT_EQ(r.status, 0) << r.err;

    std::string info = replaced(f.infoBefore, "ftphighport=\"6500\"", "ftphighport=\"6127\"");
    info = replaced(info, "codepage=\"936\"", "codepage=\"chs\"");
    EXPECT_EQ(f.a.app.readFile(kInfo), withoutApple(info) + "codepage_mediaservice=\"enu\"\n");
    EXPECT_EQ(f.a.app.readFile(kConf), kConfAfter);
    EXPECT_EQ(f.modeOwner(kConf), "644 0:0");
    EXPECT_EQ(f.a.app.readFile(kSecrets), kSecretsAfter);
    EXPECT_EQ(f.modeOwner(kSecrets), "640 0:25");
    EXPECT_EQ(f.a.app.readFile(kGroup), kGroupAfter);
    EXPECT_FALSE(f.a.app.exists("/etc/rsyncd.secrets.tmp"));
    for (const std::string &line : f.a.app.syslog()) {
        for (const char *secret : {"pass!", "cGFzcw==", "cGFzcyEA"})
            EXPECT_EQ(line.find(secret), std::string::npos) << line;
    }
    // The backup steps between them run too.
    EXPECT_FALSE(f.a.syslogHas("UpdateUsbBackupConfig is not available in this updater, skipped"));
    EXPECT_FALSE(f.a.syslogHas("UpdateNetBackupConfig is not available in this updater, skipped"));
}

// Which steps an installed build selects: each step's last build and the
// one after it.
struct Selection {
    const char *name;
    int build;
    bool initrd;
    bool ftp, conf, secrets, smmsp, codepage;
};

void PrintTo(const Selection &s, std::ostream *os)
{
    *os << s.name;
}

class PreFlashSelection : public ::testing::TestWithParam<Selection> {};

TEST_P(PreFlashSelection, OnlyTheSelectedStepsChangeFiles)
{
    const Selection &s = GetParam();
    Fixture f(s.build, s.initrd);
    const approot::RunResult r = f.a.run({});
    ASSERT_EQ(r.status, 0) << r.err;

    std::string info = f.infoBefore;
    if (s.ftp)
        info = replaced(info, "ftphighport=\"6500\"", "ftphighport=\"6127\"");
    if (s.codepage)
        info = withoutApple(replaced(info, "codepage=\"936\"", "codepage=\"chs\"")) + "codepage_mediaservice=\"enu\"\n";
    EXPECT_EQ(f.a.app.readFile(kInfo), info);
    EXPECT_EQ(f.a.app.readFile(kConf), s.conf ? kConfAfter : kConfBefore);
    EXPECT_EQ(f.a.app.readFile(kSecrets), s.secrets ? kSecretsAfter : kSecretsBefore);
    EXPECT_EQ(f.a.app.readFile(kGroup), s.smmsp ? kGroupAfter : kGroupBefore);

    // Sorted by path, as the change list is.
    Lines expected;
    if (s.smmsp)
        expected.push_back(std::string("M ") + kGroup);
    if (s.conf)
        expected.push_back(std::string("M ") + kConf);
    if (s.conf || s.secrets)
        expected.push_back(std::string("M ") + kSecrets);
    if (s.ftp || s.codepage)
        expected.push_back(std::string("M ") + kInfo);
    EXPECT_EQ(f.changed(), expected);
}

INSTANTIATE_TEST_SUITE_P(Table, PreFlashSelection,
                         ::testing::Values(Selection{"b483", 483, true, true, true, true, true, true},
                                           Selection{"b484", 484, true, true, false, true, true, true},
                                           Selection{"b552", 552, true, true, false, true, true, true},
                                           Selection{"b553", 553, true, true, false, false, true, true},
                                           Selection{"b555", 555, true, true, false, false, true, true},
                                           Selection{"b556", 556, true, true, false, false, false, true},
                                           Selection{"b659", 659, true, true, false, false, false, true},
                                           Selection{"b660", 660, true, false, false, false, false, true},
                                           Selection{"b807", 807, true, false, false, false, false, true},
                                           Selection{"b808", 808, true, false, false, false, false, false},
                                           Selection{"b400_without_initrd", 400, false, false, false, false, false,
                                                     false}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(PreFlashRoad, MissingInfoFileEndsWith21BeforeTheFlash)
{
    Fixture f(400);
    std::filesystem::remove(f.a.app.layerPath(kInfo));
    ASSERT_FALSE(f.a.app.exists(kInfo));
    const approot::RunResult r = f.a.run({});
    EXPECT_EQ(r.status, 21) << r.err;
    EXPECT_EQ(f.a.lastProgress(), "A:-21:      ");
    const Lines log = f.a.updateLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), e2e::failed(21));
    EXPECT_TRUE(f.a.syslogHas(e2e::failed(21)));
    EXPECT_TRUE(f.a.syslogHas("VRALFileGetKeyValue(SZF_VEXA_INFO, SZK_FTP_LOW_PORT) fail"));
    for (const std::string &op : simkernel::opsMatching(f.a.state, {}))
        EXPECT_EQ(op.find(" dev=mtd"), std::string::npos) << op;
    const simkernel::Counters405 calls = simkernel::counters405(f.a.state);
    EXPECT_EQ(calls.reserve, 1u);
    EXPECT_EQ(calls.release, 1u);
    EXPECT_EQ(f.changed(), Lines{});
}

}  // namespace
