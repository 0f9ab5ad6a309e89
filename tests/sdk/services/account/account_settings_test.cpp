// Guest support, the file-server switch and the domain mode, read from the
// appliance root's files.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "approot.h"
#include "base/err/vral_err.h"
#include "base/lock/vral_lock.h"
#include "root_probe.h"
#include "services/account/vexa_account.h"

namespace {

using vexatest::probe::hex;
using vexatest::probe::num;
using vexatest::probe::say;

const char kDefaults[] = "/etc.defaults/vexainfo.conf";
const char kInfo[] = "/etc/vexainfo.conf";
const char kSmbConf[] = "/usr/vexa/etc/smb.conf";

bool lockHeld()
{
    for (const VRALLockFile *e = gLockFileTable; e->bit != 0; ++e) {
        if (e->bit == LOCK_ID_VEXAINFO)
            return e->fp != nullptr;
    }
    return false;
}

void writeText(const char *path, const std::string &text)
{
    FILE *fp = fopen(path, "w");
    if (fp != nullptr) {
        fputs(text.c_str(), fp);
        fclose(fp);
    }
}

// "guest"; "samba" (also whether the lock is still held after it);
// "wins CB" and "wins-nosamba CB": result, the buffer as hex up to one byte
// past CB, isDomain, sambaOn; "write PATH TEXT": replaces a file.
int probe(std::vector<std::string> ops)
{
    for (size_t i = 0; i < ops.size();) {
        const std::string op = ops[i++];
        if (op == "guest") {
            say("guest " + std::to_string(VEXAGuestSupportGet()));
        } else if (op == "samba") {
            const int r = VEXARunSambaGet();
            say("samba " + std::to_string(r) + (lockHeld() ? " held" : ""));
        } else if ((op == "wins" || op == "wins-nosamba") && i < ops.size()) {
            const int cb = num(ops[i++]);
            std::vector<char> buf(static_cast<size_t>(cb) + 1, '\x01');
            int isDomain = 7, sambaOn = 7;
            VRALErrSetCode(0);
            const int r = VEXAWinsQuery1(buf.data(), cb, &isDomain, op == "wins" ? &sambaOn : nullptr);
            std::string shown;
            for (char c : buf)
                shown += c == '\0' ? std::string("\\0") : c == '\x01' ? std::string("~") : std::string(1, c);
            say(std::to_string(r) + " " + shown + " " + std::to_string(isDomain) + " " + std::to_string(sambaOn) + " " +
                hex(VRALErrGet()));
        } else if (op == "write" && i + 1 < ops.size()) {
            writeText(ops[i].c_str(), ops[i + 1]);
            i += 2;
        } else {
            say("bad op " + op);
            return 2;
        }
    }
    return 0;
}

VEXATEST_ROOT_PROBE(probe)

// The probe's view of a buffer of cb bytes holding name, zero-filled, and
// the untouched byte behind it.
std::string shown(const std::string &name, int cb)
{
    std::string s = name;
    for (int i = static_cast<int>(name.size()); i < cb; ++i)
        s += "\\0";
    return s + "~";
}

TEST(GuestSupport, OnlyLowerCaseNoTurnsItOff)
{
    struct Case {
        const char *name;
        const char *defaults;  // nullptr: no file
        const char *answer;
    } const kCases[] = {
        {.name = "no_file", .defaults = nullptr, .answer = "guest 1"},
        {.name = "no_key", .defaults = "unique=\"vx207\"\n", .answer = "guest 1"},
        {.name = "no", .defaults = "guestsupport=\"no\"\n", .answer = "guest 0"},
        {.name = "No", .defaults = "guestsupport=\"No\"\n", .answer = "guest 1"},
        {.name = "yes", .defaults = "guestsupport=\"yes\"\n", .answer = "guest 1"},
        {.name = "no_with_tail", .defaults = "guestsupport=\"no \"\n", .answer = "guest 1"},
        {.name = "too_long", .defaults = "guestsupport=\"nononononononononononononononono\"\n", .answer = "guest 1"},
    };
    for (const Case &c : kCases) {
        // One process per setting: the answer is read once.
        approot::Appliance app("guest");
        if (c.defaults != nullptr)
            app.writeFile(kDefaults, c.defaults);
        EXPECT_EQ(vexatest::probe::run(app, {"guest"}), std::vector<std::string>{c.answer}) << c.name;
        EXPECT_TRUE(app.syslog().empty()) << c.name;
    }
}

TEST(GuestSupport, ReadOncePerProcess)
{
    approot::Appliance app("guestonce");
    app.writeFile(kDefaults, "guestsupport=\"no\"\n");
    EXPECT_EQ(vexatest::probe::run(app, {"guest", "write", kDefaults, "guestsupport=\"yes\"\n", "guest"}),
              (std::vector<std::string>{"guest 0", "guest 0"}));
    EXPECT_EQ(vexatest::probe::run(app, {"guest"}), std::vector<std::string>{"guest 1"});
}

TEST(RunSamba, YesInAnyCaseReadEveryCall)
{
    approot::Appliance app("samba");
    app.writeFile(kInfo, "hostname=\"box\"\nrunsamba=\"YES\"\n");
    EXPECT_EQ(vexatest::probe::run(app, {"samba", "write", kInfo, "runsamba=\"no\"\n", "samba", "write", kInfo,
                                         "runsamba=\"yes\"\n", "samba", "write", kInfo, "hostname=\"box\"\n", "samba"}),
              (std::vector<std::string>{"samba 1", "samba 0", "samba 1", "samba 0"}));
    EXPECT_TRUE(app.syslog().empty());
}

TEST(RunSamba, MissingFileOrLockGivesZero)
{
    approot::Appliance none("sambanone");
    EXPECT_EQ(vexatest::probe::run(none, {"samba"}), std::vector<std::string>{"samba 0"});

    // A lock folder that cannot be made: the answer is 0 at once.
    approot::Appliance blocked("sambalock");
    blocked.writeFile(kInfo, "runsamba=\"yes\"\n");
    blocked.writeFile("/tmp/lock", "not a folder\n");
    EXPECT_EQ(vexatest::probe::run(blocked, {"samba"}), std::vector<std::string>{"samba 0"});
}

TEST(WinsQuery, SecurityChoosesTheNameAndMode)
{
    struct Case {
        const char *name;
        const char *global;  // lines of [global]
        std::string said;
    } const kCases[] = {
        {.name = "ads",
         .global = "security = ads\nrealm = CORP.EXAMPLE.COM\nworkgroup = CORP\n",
         .said = "0 " + shown("CORP.EXAMPLE.COM", 32) + " 1 1 0x0000"},
        {.name = "domain",
         .global = "security = domain\nrealm = CORP.EXAMPLE.COM\nworkgroup = CORP\n",
         .said = "0 " + shown("CORP", 32) + " 1 1 0x0000"},
        {.name = "user",
         .global = "  security   =   user  \n\tworkgroup = HOME  \n",
         .said = "0 " + shown("HOME", 32) + " 0 1 0x0000"},
        {.name = "ADS_upper_is_no_domain",
         .global = "security = ADS\nrealm = CORP.EXAMPLE.COM\nworkgroup = CORP\n",
         .said = "0 " + shown("CORP", 32) + " 0 1 0x0000"},
    };
    for (const Case &c : kCases) {
        approot::Appliance app("wins");
        app.writeFile(kInfo, "runsamba=\"yes\"\n");
        app.writeFile(kSmbConf, std::string("[homes]\nsecurity = share\n[global]\n") + c.global +
                                    "[public]\nworkgroup = OTHER\n");
        EXPECT_EQ(vexatest::probe::run(app, {"wins", "32"}), std::vector<std::string>{c.said}) << c.name;
        EXPECT_TRUE(app.syslog().empty()) << c.name;
    }
}

TEST(WinsQuery, NameCutToFitWithItsTerminator)
{
    approot::Appliance app("winscut");
    app.writeFile(kSmbConf, "[global]\nsecurity = user\nworkgroup = WORKGROUP\n");
    app.writeFile(kInfo, "runsamba=\"no\"\n");
    EXPECT_EQ(
        vexatest::probe::run(
            app, {"wins-nosamba", "5", "wins-nosamba", "9", "wins-nosamba", "10", "wins-nosamba", "1", "wins", "10"}),
        (std::vector<std::string>{"0 " + shown("WORK", 5) + " 0 7 0x0000", "0 " + shown("WORKGROU", 9) + " 0 7 0x0000",
                                  "0 " + shown("WORKGROUP", 10) + " 0 7 0x0000", "0 " + shown("", 1) + " 0 7 0x0000",
                                  "0 " + shown("WORKGROUP", 10) + " 0 0 0x0000"}));
}

TEST(WinsQuery, FailuresAreLoggedAndWriteNothing)
{
    struct Case {
        const char *name;
        const char *smbConf;  // nullptr: no file
        const char *log;
    } const kCases[] = {
        {.name = "no_file", .smbConf = nullptr, .log = "VRALFileGetSection failed [900]!!"},
        {.name = "no_global",
         .smbConf = "[homes]\nsecurity = user\nworkgroup = HOME\n",
         .log = "key [security] not found or error!!"},
        {.name = "key_case",
         .smbConf = "[global]\nSecurity = user\nworkgroup = HOME\n",
         .log = "key [security] not found or error!!"},
        {.name = "ads_no_realm",
         .smbConf = "[global]\nsecurity = ads\nworkgroup = HOME\n",
         .log = "key [realm] not found or error!!"},
        {.name = "user_no_workgroup",
         .smbConf = "[global]\nsecurity = user\nrealm = R.COM\n",
         .log = "key [workgroup] not found or error!!"},
    };
    for (const Case &c : kCases) {
        approot::Appliance app("winsfail");
        if (c.smbConf != nullptr)
            app.writeFile(kSmbConf, c.smbConf);
        const std::vector<std::string> said = vexatest::probe::run(app, {"wins", "8"});
        ASSERT_EQ(said.size(), 1u) << c.name;
        EXPECT_EQ(said[0].substr(0, 16), "-1 ~~~~~~~~~ 7 7") << c.name;
        const std::vector<std::string> log = app.syslog();
        ASSERT_EQ(log.size(), 1u) << c.name;
        EXPECT_EQ(log[0].rfind("<11>", 0), 0u) << log[0];
        EXPECT_NE(log[0].find("wins_query1.cpp:"), std::string::npos) << log[0];
        EXPECT_NE(log[0].find(c.log), std::string::npos) << c.name << ": " << log[0];
    }
}

TEST(WinsQuery, RefusesBadArguments)
{
    char buf[8] = "keep";
    int isDomain = 7;
    VRALErrSetCode(0);
    EXPECT_EQ(VEXAWinsQuery1(nullptr, 8, &isDomain, nullptr), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(VEXAWinsQuery1(buf, 0, &isDomain, nullptr), -1);
    EXPECT_EQ(VEXAWinsQuery1(buf, 8, nullptr, nullptr), -1);
    EXPECT_STREQ(buf, "keep");
    EXPECT_EQ(isDomain, 7);
}

}  // namespace
