// The smbpasswd file as samba reads it: every line written, and hashes
// samba derives itself from the same passwords.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "samba_oracle.h"
#include "user_fixture.h"

namespace {

using usertest::Lines;

struct Password {
    const char *name;
    std::string pw;
    bool lmAsSamba;  // samba's LM is comparable: at most 14 characters, no "ß"
};

// name -> "LM:NT" of a smbpasswd text
std::map<std::string, std::string> hashFields(const std::string &text)
{
    std::map<std::string, std::string> out;
    for (const std::string &line : vexatest::splitLines(text)) {
        const size_t c1 = line.find(':');
        const size_t c2 = line.find(':', c1 + 1);
        std::string fields = line.substr(c2 + 1, 65);
        // samba lists the "no password" marker as its field for none
        for (size_t at = 0; (at = fields.find("NO PASSWORD", at)) != std::string::npos;)
            fields.replace(at, 11, std::string(11, 'X'));
        out[line.substr(0, c1)] = fields;
    }
    return out;
}

using UserSamba = usertest::UserRoot;

TEST_F(UserSamba, ReadsEverySmbpasswdLineAndDerivesTheSameHashes)
{
    app.writeFile("/etc/vexainfo.conf", "codepage=\"enu\"\nrunsamba=\"yes\"\n");
    const std::vector<Password> cases = {
        {"ascii", "password", true},
        {"western", "Caf\xc3\xa9-\xe2\x82\xac" "1", true},
        {"empty", "", true},
        // not in the code page: no LM hash, samba's field for none
        {"cyr1", "\xd0\x9f\xd0\xb0\xd1\x80\xd0\xbe\xd0\xbb\xd1\x8c-1", true},
        {"cyr2", "\xd0\x90\xd0\xb1\xd0\xb2\xd0\xb3\xd0\xb4\xd0\xb5-1", true},
        // upper-cased to "SS" here, kept by samba
        {"sharp", "stra\xc3\x9f" "e", false},
        // samba writes no LM hash for more than 14 characters
        {"long", "a passphrase of 26 letters", false},
    };
    Lines ops = {"codepages", "db"};
    Lines want = {"db ok"};
    int uid = 2001;
    for (const Password &c : cases) {
        ops.insert(ops.end(), {"set", "-", c.name, c.pw, std::to_string(uid++), "100", "-", "-", "/bin/sh", "0", "-",
                               "0"});
        want.push_back("set 0 home=NULL shell=/bin/sh");
    }
    ops.push_back("dump");
    want.push_back("dump 0");
    ASSERT_EQ(run(ops), want);

    const std::string smb = app.readFile("/usr/vexa/etc/private/smbpasswd");
    app.writeFile("/oracle/smbpasswd", smb, 0600);
    const approot::RunResult listed = vexatest::samba::pdbeditList(app, "smbpasswd:/oracle/smbpasswd");
    ASSERT_EQ(listed.status, 0) << listed.err;
    const std::map<std::string, std::string> ours = hashFields(smb);
    EXPECT_EQ(hashFields(listed.out), ours) << listed.out << listed.err;

    for (const Password &c : cases) {
        const std::string samba = vexatest::samba::hashes(app, c.pw);
        ASSERT_EQ(samba.size(), 65u) << c.name;
        const std::string &mine = ours.at(c.name);
        EXPECT_EQ(mine.substr(33), samba.substr(33)) << c.name << " NT";
        if (c.lmAsSamba) {
            EXPECT_EQ(mine.substr(0, 32), samba.substr(0, 32)) << c.name << " LM";
        }
    }
    EXPECT_EQ(ours.at("cyr1").substr(0, 32), std::string(32, 'X'));
    EXPECT_NE(ours.at("cyr1"), ours.at("cyr2"));
}

}  // namespace
