// smb.conf as samba reads it: merged global sections, keys in samba's
// spellings, list items holding blanks, sections kept as read that renames
// reach and share names may not join.  testparm reads every smb.conf
// written.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "base/err/vral_err.h"
#include "samba_oracle.h"
#include "services/share/vexa_share.h"
#include "share_fixture.h"

namespace {

using sharetest::Lines;
using vexatest::probe::hex;

// The items of a list as testparm prints it: blank-separated, an item
// holding a blank in double quotes.
std::vector<std::string> sambaItems(const std::string &value)
{
    std::vector<std::string> out;
    std::string item;
    bool quoted = false;
    bool any = false;
    for (char c : value + " ") {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (c == ' ' && !quoted) {
            if (any || !item.empty())
                out.push_back(item);
            item.clear();
            any = false;
        } else {
            item += c;
        }
    }
    return out;
}

std::string removeSame(const std::string &list)
{
    std::string s = list;
    RemoveSameUsers(s.data());
    return s.c_str();
}

// As the dump writes a list: an item holding a blank in double quotes.
std::string quoted(const std::string &list)
{
    std::string out;
    size_t at = 0;
    while (true) {
        const size_t comma = list.find(',', at);
        const std::string item = list.substr(at, comma - at);
        out += item.find(' ') != std::string::npos ? "\"" + item + "\"" : item;
        if (comma == std::string::npos)
            return out;
        out += ",";
        at = comma + 1;
    }
}

class ShareConf : public sharetest::ShareRoot {
protected:
    void SetUp() override
    {
        ShareRoot::SetUp();
        app.writeFile("/etc/group", std::string(sharetest::kGroups) + "sales team:x:65542:nobody,Anna,nobody\n",
                      0644);
    }

    // testparm on the smb.conf as it is now: read whole, nothing refused
    // but the one parameter samba does not know.
    vexatest::samba::Testparm samba()
    {
        vexatest::samba::Testparm t = vexatest::samba::testparm(app, app.readFile(SHARE_CONF));
        EXPECT_EQ(t.status, 0) << t.err;
        for (const std::string &u : t.unknown)
            EXPECT_EQ(u, "ftp write only") << t.err;
        return t;
    }

    bool logged(const std::string &part)
    {
        for (const std::string &m : app.syslog()) {
            if (m.find(part) != std::string::npos)
                return true;
        }
        return false;
    }
};

// The eleven lines of a share as the dump writes them.
std::string shareText(const std::string &name, const std::string &invalid, const std::string &valid,
                      const std::string &path, const char *guestOk, const std::string &read, const std::string &write,
                      const char *writeable)
{
    auto list = [](const std::string &l) { return "nobody," + (l.empty() ? "" : l + ",") + "nobody\n"; };
    return "[" + name + "]\n\tinvalid users=" + list(invalid) + "\tvalid users=" + list(valid) +
           "\tcomment=\"\"\n\tpath=" + path + "\n\tguest ok=" + guestOk +
           "\n\tbrowseable=yes\n\tftp write only=no\n\tread list=" + list(read) + "\twrite list=" + list(write) +
           "\twriteable=" + writeable + "\n";
}

struct Globals {
    const char *name;
    const char *first;   // spelling of the first global section
    const char *second;  // and of the later one
};

void PrintTo(const Globals &c, std::ostream *os)
{
    *os << c.name;
}

class ShareConfGlobals : public ShareConf, public ::testing::WithParamInterface<Globals> { };

// samba reads both global sections as one: so do the cache, the dump and
// the domain-mode question, before the dump and after it.
TEST_P(ShareConfGlobals, MergeIntoTheFirst)
{
    const Globals &c = GetParam();
    app.writeFile("/usr/vexa/etc/private/domain_user", "DOM\\eve:S-1-5\n");
    const std::string docs = "[docs]\n\tpath = /volume1/docs\n\twrite list = DOM\\eve\n\tguest ok = no\n"
                             "\twriteable = no\n";
    conf(std::string("[") + c.first + "]\n\tsecurity = domain\n\tworkgroup = DOM\n" + docs + "[" + c.second +
         "]\n\tserver string = NAS\n");
    const vexatest::samba::Testparm before = samba();
    EXPECT_EQ(before.parsed.at("global").at("workgroup"), "DOM");

    EXPECT_EQ(run({"wins", "db", "dump", "dbget", "docs", "wins"}),
              (Lines{"wins 0 DOM 1", "db ok", "dump 0", "dbget docs||/volume1/docs||DOM\\eve||4|1|0",
                     "wins 0 DOM 1"}));
    const std::string want = std::string("[") + c.first +
                             "]\n\tsecurity = domain\n\tworkgroup = DOM\n\tserver string = NAS\n" +
                             shareText("docs", "", "DOM\\eve", "/volume1/docs", "no", "", "DOM\\eve", "no");
    EXPECT_EQ(app.readFile(SHARE_CONF), want);
    const vexatest::samba::Testparm after = samba();
    EXPECT_EQ(after.parsed.at("global"), before.parsed.at("global"));
    EXPECT_EQ(sambaItems(after.parsed.at("docs").at("write list")), (std::vector<std::string>{"nobody", "DOM\\eve", "nobody"}));

    // read again from what was written: the same share, the same bytes
    dropCache();
    EXPECT_EQ(run({"db", "dbget", "docs", "dump", "wins"}),
              (Lines{"db ok", "dbget docs||/volume1/docs||DOM\\eve||4|1|0", "dump 0", "wins 0 DOM 1"}));
    EXPECT_EQ(app.readFile(SHARE_CONF), want);
}

INSTANTIATE_TEST_SUITE_P(Cases, ShareConfGlobals,
                         ::testing::Values(Globals{.name = "lower_first", .first = "global", .second = "Global"},
                                           Globals{.name = "capital_first", .first = "Global", .second = "global"}),
                         [](const auto &info) { return std::string(info.param.name); });

// Keys as samba matches them, any ASCII case and blanks; items holding a
// blank quoted, so samba reads one item and the parse takes the quotes off.
TEST_F(ShareConf, KeysInSambasSpellingsAndItemsHoldingBlanks)
{
    conf("[global]\n\tsecurity = user\n\tworkgroup = WG\n"
         "[data]\n\tPath = /volume1/data\n\tInvalid Users = Anna\n\tWRITELIST = @staff\n"
         "\tWrite List = admin, \"@users2\"\n\tread list = \"@sales team\"\n\tGuest OK = no\n\tWriteable = no\n"
         "[pub]\n\tpath = /volume1/pub\n\tINVALIDUSERS = nomisc,\"@sales team\"\n\tguestok = yes\n"
         "\twrite able = yes\n\tBrowseable = no\n");
    EXPECT_EQ(run({"db", "dump", "dbget", "data", "dbget", "pub"}),
              (Lines{"db ok", "dump 0", "dbget data||/volume1/data|Anna|admin,@users2|@sales team|4|1|0",
                     "dbget pub||/volume1/pub|nomisc,@sales team|||2|0|0"}));
    std::string pub = shareText("pub", quoted("nomisc,@sales team"), "", "/volume1/pub", "yes", "", "", "yes");
    pub.replace(pub.find("browseable=yes"), 14, "browseable=no");
    const std::string want = "[global]\n\tsecurity = user\n\tworkgroup = WG\n" +
                             shareText("data", "Anna", quoted(removeSame("@sales team,admin,@users2")),
                                       "/volume1/data", "no", "\"@sales team\"", "admin,@users2", "no") +
                             pub;
    EXPECT_EQ(app.readFile(SHARE_CONF), want);

    const vexatest::samba::Testparm t = samba();
    EXPECT_EQ(sambaItems(t.parsed.at("data").at("invalid users")), (std::vector<std::string>{"nobody", "Anna", "nobody"}));
    EXPECT_EQ(sambaItems(t.parsed.at("data").at("read list")),
              (std::vector<std::string>{"nobody", "@sales team", "nobody"}));
    EXPECT_EQ(sambaItems(t.parsed.at("pub").at("invalid users")),
              (std::vector<std::string>{"nobody", "nomisc", "@sales team", "nobody"}));

    // read back, the same bytes; the meta keys make no warning
    dropCache();
    EXPECT_EQ(run({"db", "dump"}), (Lines{"db ok", "dump 0"}));
    EXPECT_EQ(app.readFile(SHARE_CONF), want);
    EXPECT_FALSE(logged("NULL key"));
}

const char kKept[] =
    "[Data$]\n"
    "\tpath = /volume1/data\n"
    "\tinvalid users = @staff, Anna @staff2\n"
    "\tWrite List = \"@staff\";anna\n"
    "\t# @staff stays in a comment\n"
    "\tcomment = @staff\n";

// A user or group rename reaches the lists of a section kept as read:
// left there, the old name would let the new name's members in.
TEST_F(ShareConf, RenamesReachKeptSections)
{
    const std::string head = "[global]\n\tsecurity = user\n\tworkgroup = WG\n";
    const std::string docs = "[docs]\n\tpath = /volume1/docs\n\tinvalid users = @staff\n\tguest ok = no\n"
                             "\twriteable = no\n";
    conf(head + docs + kKept);
    EXPECT_EQ(run({"db", "dump", "rengroup", "staff", "crew", "renuser", "Anna", "Bea"}),
              (Lines{"db ok", "dump 0", "rengroup 0", "renuser 0"}));
    const std::string want = head + shareText("docs", "@crew", "", "/volume1/docs", "no", "", "", "no") +
                             "[Data$]\n"
                             "\tpath = /volume1/data\n"
                             "\tinvalid users = @crew, Bea @staff2\n"
                             "\tWrite List = @crew;Bea\n"
                             "\t# @staff stays in a comment\n"
                             "\tcomment = @staff\n";
    EXPECT_EQ(app.readFile(SHARE_CONF), want);
    const vexatest::samba::Testparm t = samba();
    EXPECT_EQ(sambaItems(t.parsed.at("Data$").at("invalid users")),
              (std::vector<std::string>{"@crew", "Bea", "@staff2"}));
    EXPECT_EQ(sambaItems(t.parsed.at("Data$").at("write list")), (std::vector<std::string>{"@crew", "Bea"}));

    // a new name with a blank is quoted
    EXPECT_EQ(run({"rengroup", "crew", "new crew"}), (Lines{"rengroup 0"}));
    const std::string text = app.readFile(SHARE_CONF);
    EXPECT_NE(text.find("\tinvalid users = \"@new crew\", Bea @staff2\n"), std::string::npos) << text;
    EXPECT_EQ(sambaItems(samba().parsed.at("Data$").at("invalid users")),
              (std::vector<std::string>{"@new crew", "Bea", "@staff2"}));
}

// samba merges a share with a kept section of the same name: a share is
// neither added nor renamed onto one.
TEST_F(ShareConf, NoShareJoinsAKeptSection)
{
    conf("[global]\n\tsecurity = user\n\tworkgroup = WG\n"
         "[docs]\n\tpath = /volume1/docs\n\tguest ok = no\n\twriteable = no\n"
         "[Media]\n\tguest ok = yes\n\twriteable = yes\n");
    EXPECT_EQ(run({"db", "dump"}), (Lines{"db ok", "dump 0"}));
    const std::string dumped = app.readFile(SHARE_CONF);
    const std::string exists = "-1 " + hex(ERR_SHARE_EXISTS);
    EXPECT_EQ(run({"db", "set", "-", "Media", "/volume1/media", "4", "-", "-", "-", "-", "set", "-", "MEDIA",
                   "/volume1/media", "4", "-", "-", "-", "-", "set", "docs", "media", "/volume1/docs", "4", "-", "-",
                   "-", "-", "dbget", "media", "dbget", "docs", "dump"}),
              (Lines{"db ok", "set " + exists, "set " + exists, "set " + exists,
                     "dbget -1 " + hex(ERR_SHARE_NOT_FOUND), "dbget docs||/volume1/docs||||4|1|0", "dump 0"}));
    EXPECT_EQ(app.readFile(SHARE_CONF), dumped);
    // samba still reads the kept section alone, closed to no one it was open to
    const vexatest::samba::Testparm t = samba();
    EXPECT_EQ(t.parsed.count("media") + t.parsed.count("MEDIA"), 0u);
    EXPECT_EQ(t.parsed.at("Media").at("guest ok"), "Yes");
}

}  // namespace
