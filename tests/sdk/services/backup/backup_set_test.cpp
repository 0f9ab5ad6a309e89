// Backup sets written and counted inside an appliance root.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "approot.h"
#include "base/err/vral_err.h"
#include "root_probe.h"
#include "services/backup/vexa_backup.h"
#include "set_file.h"

namespace {

using Lines = std::vector<std::string>;
using vexatest::probe::hex;
using vexatest::probe::orNull;
using vexatest::probe::say;

using vexatest::Keys;
using vexatest::Section;
using vexatest::Sections;

// "key=value" operands into the fields of a record; unnamed strings stay NULL.
template <typename Record>
bool fill(Record *r, std::vector<std::string>::const_iterator from, std::vector<std::string>::const_iterator to,
          const std::map<std::string, char * Record::*> &strings, const std::map<std::string, int Record::*> &ints)
{
    for (auto it = from; it != to; ++it) {
        const size_t eq = it->find('=');
        const std::string key = it->substr(0, eq);
        const std::string value = it->substr(eq + 1);
        if (strings.count(key) != 0)
            r->*strings.at(key) = strdup(value.c_str());
        else if (ints.count(key) != 0)
            r->*ints.at(key) = atoi(value.c_str());
        else
            return false;
    }
    return true;
}

// The probe runs before the globals are made: the tables are built on use.
const std::map<std::string, char * VEXANETBKPCONF::*> &kNetStrings()
{
    static const std::map<std::string, char *VEXANETBKPCONF::*> table = {
        {"bkp_server", &VEXANETBKPCONF::bkp_server},
        {"bkp_ip", &VEXANETBKPCONF::bkp_ip},
        {"bkp_auth_user", &VEXANETBKPCONF::bkp_auth_user},
        {"server_pass", &VEXANETBKPCONF::server_pass},
        {"last_bkp_time", &VEXANETBKPCONF::last_bkp_time},
        {"bkp_module", &VEXANETBKPCONF::bkp_module},
        {"server_pass2", &VEXANETBKPCONF::server_pass2},
        {"bkp_shares", &VEXANETBKPCONF::bkp_shares},
        {"bkp_apps", &VEXANETBKPCONF::bkp_apps}};
    return table;
}
const std::map<std::string, int VEXANETBKPCONF::*> &kNetInts()
{
    static const std::map<std::string, int VEXANETBKPCONF::*> table = {
        {"last_bkp_status", &VEXANETBKPCONF::last_bkp_status},
        {"ssh", &VEXANETBKPCONF::ssh},
        {"blockbkp", &VEXANETBKPCONF::blockbkp},
        {"incrbkp", &VEXANETBKPCONF::incrbkp},
        {"server_type", &VEXANETBKPCONF::server_type}};
    return table;
}
const std::map<std::string, char * VEXALOCALBKPCONF::*> &kLocalStrings()
{
    static const std::map<std::string, char *VEXALOCALBKPCONF::*> table = {
        {"dest_id", &VEXALOCALBKPCONF::dest_id},
        {"dest_share", &VEXALOCALBKPCONF::dest_share},
        {"bkp_shares", &VEXALOCALBKPCONF::bkp_shares},
        {"bkp_apps", &VEXALOCALBKPCONF::bkp_apps},
        {"last_bkp_time", &VEXALOCALBKPCONF::last_bkp_time},
        {"last_bkp_result", &VEXALOCALBKPCONF::last_bkp_result}};
    return table;
}
const std::map<std::string, int VEXALOCALBKPCONF::*> &kLocalInts()
{
    static const std::map<std::string, int VEXALOCALBKPCONF::*> table = {{"dest_type", &VEXALOCALBKPCONF::dest_type},
                                                                         {"incrbkp", &VEXALOCALBKPCONF::incrbkp}};
    return table;
}

std::string result(const char *op, int r)
{
    return std::string(op) + " " + std::to_string(r) +
           (r < 0 && VRALErrGet() == ERR_BAD_PARAMETERS ? " " + hex(VRALErrGet()) : "");
}

std::string netText(const VEXANETBKPCONF *r)
{
    std::string t = std::string(r->szSetName) + "|" + std::to_string(r->last_bkp_status) + "," +
                    std::to_string(r->ssh) + "," + std::to_string(r->blockbkp) + "," + std::to_string(r->incrbkp) +
                    "," + std::to_string(r->server_type);
    for (const char *f : {r->bkp_server, r->bkp_ip, r->bkp_auth_user, r->server_pass, r->last_bkp_time, r->bkp_module,
                          r->server_pass2, r->bkp_shares, r->bkp_apps})
        t += std::string("|") + f;
    return t;
}

std::string localText(const VEXALOCALBKPCONF *r)
{
    std::string t = std::string(r->szSetName) + "|" + std::to_string(r->dest_type) + "," + std::to_string(r->incrbkp);
    for (const char *f : {r->dest_id, r->dest_share, r->bkp_shares, r->bkp_apps, r->last_bkp_time, r->last_bkp_result})
        t += std::string("|") + f;
    return t;
}

// Operations (each up to the next operation word): umask OCTAL;
// net|local OLD NAME key=value...; netnull, localnull (no record or no
// name); count PATH|-; mode PATH; getall TYPE; freeall TYPE; leaks (under
// ASan: whether any block is left unreachable).
int probe(std::vector<std::string> ops)
{
    static const std::vector<std::string> kWords = {"umask", "net",  "local",   "netnull", "localnull",
                                                    "count", "mode", "getall", "freeall", "leaks"};
    auto isWord = [&](const std::string &s) { return std::find(kWords.begin(), kWords.end(), s) != kWords.end(); };
    for (auto it = ops.begin(); it != ops.end();) {
        const std::string op = *it++;
        auto end = std::find_if(it, ops.end(), isWord);
        const std::vector<std::string> args(it, end);
        it = end;
        VRALErrSetCode(0);
        if (op == "umask") {
            umask(static_cast<mode_t>(strtol(args.at(0).c_str(), nullptr, 8)));
        } else if (op == "net" || op == "local") {
            const char *old = args.at(0).empty() ? nullptr : args.at(0).c_str();
            int r = -1;
            if (op == "net") {
                auto *rec = static_cast<VEXANETBKPCONF *>(calloc(1, sizeof(VEXANETBKPCONF)));
                rec->szSetName = strdup(args.at(1).c_str());
                if (!fill(rec, args.begin() + 2, args.end(), kNetStrings(), kNetInts()))
                    return 94;
                r = VEXANetBkpConfSetOne(old, rec);
                VEXANetBkpConfFree(rec);
            } else {
                auto *rec = static_cast<VEXALOCALBKPCONF *>(calloc(1, sizeof(VEXALOCALBKPCONF)));
                rec->szSetName = strdup(args.at(1).c_str());
                if (!fill(rec, args.begin() + 2, args.end(), kLocalStrings(), kLocalInts()))
                    return 94;
                r = VEXALocalBkpConfSetOne(old, rec);
                VEXALocalBkpConfFree(rec);
            }
            say(result(op.c_str(), r));
        } else if (op == "netnull") {
            VEXANETBKPCONF rec{};
            say(result("net", VEXANetBkpConfSetOne(nullptr, &rec)));
        } else if (op == "localnull") {
            say(result("local", VEXALocalBkpConfSetOne(nullptr, nullptr)));
        } else if (op == "count") {
            say(result("count", VEXABackupConfSectionCount(orNull(args.at(0)))));
        } else if (op == "mode") {
            struct stat st { };
            say("mode " + std::to_string(stat(args.at(0).c_str(), &st) == 0 ? st.st_mode & 07777 : -1));
        } else if (op == "getall") {
            void **rg = reinterpret_cast<void **>(1);
            const int type = atoi(args.at(0).c_str());
            const int n = VEXABackupConfGetAll(&rg, type);
            say("getall " + std::to_string(n) + (rg == nullptr ? " null" : ""));
            for (int i = 0; i < n; ++i)
                say(type == BACKUP_TYPE_NETBKP ? netText(static_cast<VEXANETBKPCONF *>(rg[i]))
                                               : localText(static_cast<VEXALOCALBKPCONF *>(rg[i])));
            VEXABackupConfFreeAll(rg, n, type == BACKUP_TYPE_NETBKP ? BACKUP_TYPE_NETBKP : BACKUP_TYPE_LOCALBKP);
        } else if (op == "freeall") {
            // A type it does not know must leave the records alone: the
            // array is still ours to free afterwards.
            auto **rg = static_cast<void **>(calloc(1, sizeof(void *)));
            rg[0] = calloc(1, sizeof(VEXALOCALBKPCONF));
            VEXABackupConfFreeAll(rg, 1, atoi(args.at(0).c_str()));
            say(rg[0] != nullptr ? "freeall kept" : "freeall cleared");
            VEXALocalBkpConfFreeAll(reinterpret_cast<VEXALOCALBKPCONF **>(rg), 1);
        } else if (op == "leaks") {
            // The probe ends with _exit: the leak check runs here or never.
#if defined(__SANITIZE_ADDRESS__)
            say(std::string("leaks ") + (__lsan_do_recoverable_leak_check() != 0 ? "found" : "none"));
#else
            say("leaks none");
#endif
        } else {
            return 92;
        }
    }
    return 0;
}

VEXATEST_ROOT_PROBE(probe)

class BackupRoot : public ::testing::Test {
protected:
    approot::Appliance app{"backup"};

    Lines run(const Lines &ops) { return vexatest::probe::run(app, ops); }
    Sections sections(const char *path) { return vexatest::parseSections(app.readFile(path)); }
};

constexpr char kOffice[] =
    "[office]\n\tbkp_server=\"srv\"\n\tfuture_key=\"kept\"\n\tserver_pass=\"old\"\n\tincrbkp=\"1\"\n"
    "[empty]\n"
    "[home]\n\tbkp_shares=\"photo\"\n";

TEST_F(BackupRoot, FirstNetworkSetCreatesAFileForRootAlone)
{
    EXPECT_EQ(run({"umask", "022", "net", "", "office", "bkp_server=srv", "server_pass=secret", "incrbkp=12",
                   "last_bkp_status=-1"}),
              Lines{"net 0"});
    const std::string text = app.readFile(VEXA_NETBKP_CONF);
    EXPECT_EQ(text.substr(0, 10), "\n[office]\n");
    EXPECT_EQ(sections(VEXA_NETBKP_CONF), (Sections{{"office",
                                                     {{"bkp_server", "srv"},
                                                      {"server_pass", "secret"},
                                                      {"incrbkp", "12"},
                                                      {"last_bkp_status", "-1"},
                                                      {"ssh", "0"},
                                                      {"server_type", "0"},
                                                      {"blockbkp", "0"}}}}));
    EXPECT_EQ(run({"mode", VEXA_NETBKP_CONF}), Lines{"mode 384"});  // 0600
}

TEST_F(BackupRoot, FirstLocalSetCreatesAFileWithoutExecuteBits)
{
    EXPECT_EQ(run({"umask", "002", "local", "", "MySet", "dest_type=3", "dest_id=X-1"}), Lines{"local 0"});
    EXPECT_EQ(app.readFile(VEXA_LOCALBKP_CONF).substr(0, 9), "\n[MySet]\n");
    EXPECT_EQ(sections(VEXA_LOCALBKP_CONF), (Sections{{"MySet",
                                                       {{"dest_type", "usbbkp"},
                                                        {"incrbkp", "0"},
                                                        {"dest_id", "X-1"},
                                                        {"dest_share", ""},
                                                        {"bkp_shares", ""},
                                                        {"bkp_apps", ""},
                                                        {"last_bkp_time", ""},
                                                        {"last_bkp_result", ""}}}}));
    EXPECT_EQ(run({"mode", VEXA_LOCALBKP_CONF}), Lines{"mode 436"});  // 0664
}

TEST_F(BackupRoot, DestTypeOutsideTheWordsIsWrittenEmpty)
{
    EXPECT_EQ(run({"local", "", "a", "dest_type=5", "local", "", "b", "dest_type=0", "local", "", "c", "dest_type=-1"}),
              (Lines{"local 0", "local 0", "local 0"}));
    const Sections s = sections(VEXA_LOCALBKP_CONF);
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0].second.at("dest_type"), "");
    EXPECT_EQ(s[1].second.at("dest_type"), "internal");
    EXPECT_EQ(s[2].second.at("dest_type"), "");
}

TEST_F(BackupRoot, ReplaceKeepsKeysTheRecordDoesNotKnow)
{
    app.writeFile(VEXA_NETBKP_CONF, kOffice);
    EXPECT_EQ(run({"net", "office", "office", "bkp_shares=office"}), Lines{"net 0"});
    const Sections s = sections(VEXA_NETBKP_CONF);
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0].first, "office");
    // NULL strings keep the old values; the ints are the record's
    EXPECT_EQ(s[0].second, (std::map<std::string, std::string>{{"bkp_server", "srv"},
                                                               {"future_key", "kept"},
                                                               {"server_pass", "old"},
                                                               {"bkp_shares", "office"},
                                                               {"incrbkp", "0"},
                                                               {"last_bkp_status", "0"},
                                                               {"ssh", "0"},
                                                               {"server_type", "0"},
                                                               {"blockbkp", "0"}}));
    EXPECT_EQ(s[1], (Section{"empty", {}}));
    EXPECT_EQ(s[2], (Section{"home", {{"bkp_shares", "photo"}}}));
}

TEST_F(BackupRoot, SetWithoutKeysIsReplacedNotAddedAgain)
{
    app.writeFile(VEXA_NETBKP_CONF, kOffice);
    EXPECT_EQ(run({"net", "empty", "empty", "bkp_shares=empty"}), Lines{"net 0"});
    const Sections s = sections(VEXA_NETBKP_CONF);
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[1].first, "empty");
    EXPECT_EQ(s[1].second.at("bkp_shares"), "empty");
}

TEST_F(BackupRoot, RenameLeavesOneSectionWithTheMergedKeys)
{
    app.writeFile(VEXA_NETBKP_CONF, kOffice);
    EXPECT_EQ(run({"net", "office", "branch", "bkp_ip=10.0.0.1"}), Lines{"net 0"});
    const Sections s = sections(VEXA_NETBKP_CONF);
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0].first, "branch");
    EXPECT_EQ(s[0].second.at("future_key"), "kept");
    EXPECT_EQ(s[0].second.at("bkp_ip"), "10.0.0.1");
    EXPECT_EQ(s[0].second.at("bkp_server"), "srv");
}

TEST_F(BackupRoot, OldNameNotInTheFileAddsTheSet)
{
    app.writeFile(VEXA_NETBKP_CONF, kOffice);
    EXPECT_EQ(run({"net", "gone", "new"}), Lines{"net 0"});
    const Sections s = sections(VEXA_NETBKP_CONF);
    ASSERT_EQ(s.size(), 4u);
    EXPECT_EQ(s[3].first, "new");
    EXPECT_EQ(s[3].second.size(), 5u);  // the ints; NULL strings are not written
    EXPECT_EQ(app.readFile(VEXA_NETBKP_CONF).substr(0, strlen(kOffice)), kOffice);
}

struct Refused {
    const char *name;
    Lines ops;
    const char *result;
};

void PrintTo(const Refused &c, std::ostream *os)
{
    *os << c.name;
}

class BackupRefused : public BackupRoot, public ::testing::WithParamInterface<Refused> { };

TEST_P(BackupRefused, LeavesTheFileByteForByte)
{
    app.writeFile(VEXA_NETBKP_CONF, kOffice);
    app.writeFile(VEXA_LOCALBKP_CONF, "\n[MySet]\n\tdest_type=\"usb\"\n");
    EXPECT_EQ(run(GetParam().ops), Lines{GetParam().result});
    EXPECT_EQ(app.readFile(VEXA_NETBKP_CONF), kOffice);
    EXPECT_EQ(app.readFile(VEXA_LOCALBKP_CONF), "\n[MySet]\n\tdest_type=\"usb\"\n");
    EXPECT_EQ(app.changes(), std::vector<approot::Change>{});
}

const std::string kLongName(VEXA_BKPSET_NAME_MAX + 1, 'n');

INSTANTIATE_TEST_SUITE_P(
    Cases, BackupRefused,
    ::testing::Values(Refused{.name = "add_existing", .ops = {"net", "", "home", "bkp_shares=x"}, .result = "net -1"},
                      Refused{.name = "add_existing_local", .ops = {"local", "", "MySet"}, .result = "local -1"},
                      Refused{.name = "rename_onto_other_set",
                              .ops = {"net", "office", "home", "bkp_ip=1"},
                              .result = "net -1 0x0D00"},
                      Refused{.name = "empty_name", .ops = {"net", "", ""}, .result = "net -1 0x0D00"},
                      Refused{.name = "no_name", .ops = {"netnull"}, .result = "net -1 0x0D00"},
                      Refused{.name = "name_too_long", .ops = {"net", "", kLongName}, .result = "net -1 0x0D00"},
                      Refused{.name = "name_opens_section", .ops = {"net", "", "a[b"}, .result = "net -1 0x0D00"},
                      Refused{.name = "name_closes_section", .ops = {"local", "", "a]b"}, .result = "local -1 0x0D00"},
                      Refused{.name = "name_with_lf", .ops = {"net", "", "a\n[evil"}, .result = "net -1 0x0D00"},
                      Refused{.name = "name_with_cr", .ops = {"net", "", "a\r"}, .result = "net -1 0x0D00"},
                      Refused{.name = "rename_to_bad_name", .ops = {"net", "office", "x]"}, .result = "net -1 0x0D00"},
                      Refused{.name = "value_with_lf",
                              .ops = {"net", "office", "office", "server_pass=a\n\tssh=\"1\""},
                              .result = "net -1 0x0D00"},
                      Refused{.name = "local_value_with_lf",
                              .ops = {"local", "", "Other", "dest_share=a\n[x]"},
                              .result = "local -1 0x0D00"},
                      Refused{.name = "no_record", .ops = {"localnull"}, .result = "local -1 0x0D00"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(BackupRoot, LongestNameIsWritten)
{
    const std::string name(VEXA_BKPSET_NAME_MAX, 'n');
    EXPECT_EQ(run({"local", "", name}), Lines{"local 0"});
    EXPECT_EQ(sections(VEXA_LOCALBKP_CONF).at(0).first, name);
}

TEST_F(BackupRoot, SectionCount)
{
    EXPECT_EQ(run({"count", VEXA_NETBKP_CONF}), Lines{"count 0"});
    app.writeFile(VEXA_NETBKP_CONF, std::string("# [not]\n") + kOffice + " [indented]\n[last]  \n[open");
    EXPECT_EQ(run({"count", VEXA_NETBKP_CONF, "count", "-"}), (Lines{"count 4", "count -1 0x0D00"}));
}

TEST_F(BackupRoot, FreeAllWithAnUnknownTypeLogsAndFreesNothing)
{
    EXPECT_EQ(run({"freeall", "2"}), Lines{"freeall kept"});
    bool logged = false;
    for (const std::string &m : app.syslog())
        logged = logged || m.find("bad backup type [2]!") != std::string::npos;
    EXPECT_TRUE(logged);
}

TEST_F(BackupRoot, ReadingWithoutSets)
{
    EXPECT_EQ(run({"getall", "0", "getall", "1"}), (Lines{"getall 0 null", "getall 0 null"}));
    app.writeFile(VEXA_NETBKP_CONF, "bkp_server=\"srv\"\n# [x]\n");
    EXPECT_EQ(run({"getall", "0"}), Lines{"getall 0 null"});
}

TEST_F(BackupRoot, MissingKeysReadAsTheirDefaults)
{
    app.writeFile(VEXA_NETBKP_CONF, "\n[bare]\n");
    app.writeFile(VEXA_LOCALBKP_CONF, "[bare]\n[upper]\n\tdest_type=\"USBBKP\"\n[usb]\n\tdest_type=\"usbbkp\"\n");
    EXPECT_EQ(run({"getall", "0", "getall", "1", "getall", "7"}),
              (Lines{"getall 1", "bare|-1,0,0,0,1|||||||||", "getall 3", "bare|-1,0||||||", "upper|-1,0||||||",
                     "usb|3,0||||||", "getall 3", "bare|-1,0||||||", "upper|-1,0||||||", "usb|3,0||||||"}));
}

TEST_F(BackupRoot, WrittenSetsReadBack)
{
    EXPECT_EQ(run({"net",
                   "",
                   "office",
                   "incrbkp=12",
                   "last_bkp_status=-1",
                   "server_type=2",
                   "ssh=1",
                   "blockbkp=-5",
                   "bkp_server=srv",
                   "server_pass=p w=\"x\"",
                   "bkp_shares=a,b",
                   "local",
                   "",
                   "usb",
                   "dest_type=3",
                   "incrbkp=-1",
                   "dest_id=20070315093000-A1B2",
                   "getall",
                   "0",
                   "getall",
                   "1"}),
              (Lines{"net 0", "local 0", "getall 1", "office|-1,1,-5,12,2|srv|||p w=\"x\"||||a,b|", "getall 1",
                     "usb|3,-1|20070315093000-A1B2|||||"}));
}

TEST_F(BackupRoot, ReaderTakesTheSectionsAsTheFileHasThem)
{
    app.writeFile(VEXA_NETBKP_CONF, "bkp_ip=\"before any set\"\n"
                                    "[a b]  \n"
                                    "  bkp_ip = \"10.0.0.1\" \r\n"
                                    "\tbkp_ip=\"10.0.0.2\"\n"
                                    "no pair here\n"
                                    "\n"
                                    "[]\n"
                                    "\tbkp_ip=\"lost\"\n"
                                    "[last]\n"
                                    "\tbkp_module=\"m=1\"");
    EXPECT_EQ(run({"getall", "0"}),
              (Lines{"getall 2", "a b|-1,0,0,0,1||10.0.0.2|||||||", "last|-1,0,0,0,1||||||m=1|||"}));
    bool logged = false;
    for (const std::string &m : app.syslog())
        logged = logged || m.find("VRALStrSepPair [no pair here] failed!!") != std::string::npos;
    EXPECT_TRUE(logged);
}

}  // namespace

namespace {

// A set holding lines a hand may have added, between two sets the writer
// must leave byte for byte.
struct HandEdited {
    const char *name;
    const char *path;
    Lines ops;            // the replace or rename, named "S" to "to"
    std::string to;       // the set's name afterwards
    std::string body;     // the set's lines before
    std::string kept;     // the lines that stay, in order, after the record's keys
    Keys recordKeys;      // the record's key lines written
    Lines readBack;       // VEXABackupConfGetAll afterwards
};

void PrintTo(const HandEdited &c, std::ostream *os)
{
    *os << c.name;
}

class BackupHandEdited : public BackupRoot, public ::testing::WithParamInterface<HandEdited> { };

const std::string kHandLines = "# set by admin=bob\n\t\" note \"=\"x\"\n";
const std::string kBefore = "\n[first]\n\tbkp_shares=\"a\"\n";
const std::string kAfter = "[home]\n\tbkp_shares=\"photo\"\n; end\n";

TEST_P(BackupHandEdited, KeepsEveryLineButTheRecordsKeys)
{
    const HandEdited &c = GetParam();
    app.writeFile(c.path, kBefore + "[S]\n" + c.body + kAfter);
    const std::string type = std::string(c.path) == VEXA_NETBKP_CONF ? "0" : "1";
    const Lines before = run({"getall", type});
    Lines ops = c.ops;
    ops.insert(ops.end(), {"getall", type});
    Lines want = {std::string(c.ops[0]) + " 0"};
    want.insert(want.end(), c.readBack.begin(), c.readBack.end());
    EXPECT_EQ(run(ops), want);
    // The other sets read as before.
    EXPECT_EQ(before.at(1), want.at(2));
    EXPECT_EQ(before.at(3), want.at(4));

    const std::string text = app.readFile(c.path);
    const std::string head = kBefore + "[" + c.to + "]\n";
    ASSERT_EQ(text.substr(0, head.size()), head);
    ASSERT_GE(text.size(), head.size() + c.kept.size() + kAfter.size());
    EXPECT_EQ(text.substr(text.size() - kAfter.size()), kAfter);
    const std::string section = text.substr(head.size(), text.size() - head.size() - kAfter.size());
    EXPECT_EQ(section.substr(section.size() - c.kept.size()), c.kept);
    const Sections written = vexatest::parseSections("[" + c.to + "]\n" +
                                                     section.substr(0, section.size() - c.kept.size()));
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0].second, c.recordKeys);
}

const std::string kNetBody = kHandLines + "\tbkp_server=\"srv\"\n[junk\n\tbkp_ip=\"10.0.0.9\"\n\"incrbkp=\"\n" +
                             "\tfuture_key=\"kept\"\n";
const std::string kLocalBody = kHandLines + "\tdest_share=\"usb1\"\n[junk\n\tdest_id=\"X-1\"\n\"incrbkp=\"\n" +
                               "\tfuture_key=\"kept\"\n";
const std::string kKept = kHandLines + "[junk\n\tfuture_key=\"kept\"\n";
const Keys kNetKeys = {{"bkp_server", "srv"}, {"bkp_ip", "10.0.0.9"}, {"bkp_shares", "new"},
                       {"last_bkp_status", "0"}, {"ssh", "1"},          {"server_type", "0"},
                       {"blockbkp", "0"},        {"incrbkp", "1"}};
const Keys kLocalKeys = {{"dest_type", "usb"}, {"incrbkp", "1"},  {"dest_id", ""},         {"dest_share", ""},
                         {"bkp_shares", "new"}, {"bkp_apps", ""}, {"last_bkp_time", ""}, {"last_bkp_result", ""}};

INSTANTIATE_TEST_SUITE_P(
    Cases, BackupHandEdited,
    ::testing::Values(
        HandEdited{"net_replaced", VEXA_NETBKP_CONF, {"net", "S", "S", "incrbkp=1", "ssh=1", "bkp_shares=new"}, "S",
                   kNetBody, kKept, kNetKeys,
                   {"getall 3", "first|-1,0,0,0,1||||||||a|", "S|0,1,0,1,0|srv|10.0.0.9||||||new|",
                    "home|-1,0,0,0,1||||||||photo|"}},
        HandEdited{"net_renamed", VEXA_NETBKP_CONF, {"net", "S", "to", "incrbkp=1", "ssh=1", "bkp_shares=new"}, "to",
                   kNetBody, kKept, kNetKeys,
                   {"getall 3", "first|-1,0,0,0,1||||||||a|", "to|0,1,0,1,0|srv|10.0.0.9||||||new|",
                    "home|-1,0,0,0,1||||||||photo|"}},
        HandEdited{"local_replaced", VEXA_LOCALBKP_CONF, {"local", "S", "S", "dest_type=1", "incrbkp=1",
                   "bkp_shares=new"}, "S", kLocalBody, kKept, kLocalKeys,
                   {"getall 3", "first|-1,0|||a|||", "S|1,1|||new|||", "home|-1,0|||photo|||"}},
        HandEdited{"local_renamed", VEXA_LOCALBKP_CONF, {"local", "S", "to", "dest_type=1", "incrbkp=1",
                   "bkp_shares=new"}, "to", kLocalBody, kKept, kLocalKeys,
                   {"getall 3", "first|-1,0|||a|||", "to|1,1|||new|||", "home|-1,0|||photo|||"}}),
    [](const auto &info) { return std::string(info.param.name); });

bool logged(approot::Appliance &app, const std::string &text)
{
    for (const std::string &m : app.syslog())
        if (m.find(text) != std::string::npos)
            return true;
    return false;
}

TEST_F(BackupRoot, BracketedNameKeptByItsSetRefusedAsANewName)
{
    const std::string file = "\n[Daily [NAS]]\n\tbkp_server=\"srv\"\n[home]\n\tbkp_shares=\"photo\"\n";
    app.writeFile(VEXA_NETBKP_CONF, file);
    for (const Lines &ops : {Lines{"net", "", "[x]"}, Lines{"net", "Daily [NAS]", "[x]"}, Lines{"net", "home", "a]"}}) {
        app.clearSyslog();
        EXPECT_EQ(run(ops), Lines{"net -1 0x0D00"}) << ops[2];
        EXPECT_EQ(app.readFile(VEXA_NETBKP_CONF), file);
        EXPECT_TRUE(logged(app, "set name [" + ops[2] + "] refused: brackets")) << ops[2];
    }
    EXPECT_EQ(run({"net", "Daily [NAS]", "Daily [NAS]", "bkp_ip=1", "getall", "0"}),
              (Lines{"net 0", "getall 2", "Daily [NAS]|0,0,0,0,0|srv|1|||||||", "home|-1,0,0,0,1||||||||photo|"}));
    EXPECT_EQ(run({"net", "Daily [NAS]", "Daily", "getall", "0"}),
              (Lines{"net 0", "getall 2", "Daily|0,0,0,0,0|srv|1|||||||", "home|-1,0,0,0,1||||||||photo|"}));
}

TEST_F(BackupRoot, HeadersWithoutNamesGiveNoArray)
{
    app.writeFile(VEXA_NETBKP_CONF, "[]\n\tbkp_ip=\"1\"\n[]\n");
    app.writeFile(VEXA_LOCALBKP_CONF, "\n[]\n");
    EXPECT_EQ(run({"getall", "0", "getall", "1", "leaks"}), (Lines{"getall 0 null", "getall 0 null", "leaks none"}));
}

}  // namespace
