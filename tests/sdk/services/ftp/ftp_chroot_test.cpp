// The FTP chroot list inside the appliance root: reading, adding,
// deleting and the combined rewrite, and what a failure leaves.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/err/vral_err.h"
#include "failcall.h"
#include "root_probe.h"
#include "services/ftp/vexa_ftp.h"

namespace {

using Lines = std::vector<std::string>;
constexpr char kConf[] = "/usr/vexa/etc/ftpchroot.conf";

std::vector<std::string> split(const std::string &csv)
{
    std::vector<std::string> out;
    size_t p = 0;
    while (!csv.empty() && p <= csv.size()) {
        const size_t q = csv.find(',', p);
        out.push_back(csv.substr(p, q == std::string::npos ? std::string::npos : q - p));
        if (q == std::string::npos)
            break;
        p = q + 1;
    }
    return out;
}

// "-" is no list; a leading "byte:" makes a byte-ordered one, "case:" a
// case-ordered one.
VRALSzList *makeList(std::string text)
{
    if (text == "-")
        return nullptr;
    int mode = VRAL_SZLIST_UNSORTED;
    if (text.rfind("byte:", 0) == 0) {
        mode = VRAL_SZLIST_SORT_BYTE;
        text = text.substr(5);
    } else if (text.rfind("case:", 0) == 0) {
        mode = VRAL_SZLIST_SORT_CASE;
        text = text.substr(5);
    }
    VRALSzList *p = PslVRALSzListAlloc(512);
    p->sortMode = mode;
    for (const std::string &name : split(text))
        VRALSzListPush(&p, name.c_str());
    return p;
}

std::string items(VRALSzList *p)
{
    std::string s;
    for (int i = 0; p != nullptr && i < p->nItem; ++i)
        s += std::string(i ? "," : "") + VRALSzListItem(p, i);
    for (size_t at; (at = s.find('\n')) != std::string::npos;)
        s.replace(at, 1, "\\n");
    return s;
}

// enum [byte|case] | add LIST | del LIST | replace DEL ADD | fsync-fails OP...
int probe(std::vector<std::string> ops)
{
    for (size_t i = 0; i < ops.size(); ++i) {
        const std::string op = ops[i];
        if (op == "fsync-fails") {
            failcall::Arm({.call = failcall::Call::Fsync, .pathPrefix = std::string(kConf) + "."});
            continue;
        }
        int r = 0;
        VRALSzList *a = nullptr;
        VRALSzList *b = nullptr;
        if (op == "enum") {
            a = makeList(ops[++i]);
            r = VEXAFTPEnumChrootUser(&a);
        } else if (op == "add") {
            a = makeList(ops[++i]);
            r = VEXAFTPAddChrootUser(a);
        } else if (op == "del") {
            a = makeList(ops[++i]);
            r = VEXAFTPDeleteChrootUser(a);
        } else if (op == "replace") {
            a = makeList(ops[++i]);
            b = makeList(ops[++i]);
            r = VEXAFTPReplaceChrootUser(a, b);
        }
        std::string line = op + " " + std::to_string(r) + " [" + items(a) + "]";
        if (b != nullptr)
            line += " [" + items(b) + "]";
        if (r < 0)
            line += " " + vexatest::probe::hex(VRALErrGet());
        vexatest::probe::say(line);
        VRALSzListFree(a);
        VRALSzListFree(b);
    }
    failcall::Disarm();
    return 0;
}

VEXATEST_ROOT_PROBE(probe)

class FtpChroot : public ::testing::Test {
protected:
    approot::Appliance app{"ftpchroot"};
    const std::string sample = "# chrooted users\nAnna\n\nbob\n";

    void SetUp() override { app.mkdir("/usr/vexa/etc"); }
    Lines run(const Lines &ops) { return vexatest::probe::run(app, ops); }
    std::string conf() { return app.readFile(kConf); }
};

struct Case {
    const char *name;
    std::string before;       // "" with missing = true: no file
    bool missing;
    Lines ops;
    Lines said;
    std::string after;        // the file afterwards
    bool existsAfter;
};

void PrintTo(const Case &c, std::ostream *os)
{
    *os << c.name;
}

class FtpChrootCases : public FtpChroot, public ::testing::WithParamInterface<Case> {};

TEST_P(FtpChrootCases, ListAndFileAfterwards)
{
    const Case &c = GetParam();
    if (!c.missing) {
        app.writeFile(kConf, c.before, 0640);
    }
    EXPECT_EQ(run(c.ops), c.said);
    ASSERT_EQ(app.exists(kConf), c.existsAfter);
    if (c.existsAfter) {
        EXPECT_EQ(conf(), c.after);
    }
}

const std::string kSample = "# chrooted users\nAnna\n\nbob\n";

INSTANTIATE_TEST_SUITE_P(
    Ops, FtpChrootCases,
    ::testing::Values(
        Case{.name = "enum_skips_comment_and_empty", .before = kSample, .missing = false,
             .ops = {"enum", "zed"}, .said = {"enum 3 [zed,Anna,bob]"}, .after = kSample, .existsAfter = true},
        Case{.name = "enum_case_ordered", .before = kSample, .missing = false, .ops = {"enum", "case:Carl"},
             .said = {"enum 3 [Anna,bob,Carl]"}, .after = kSample, .existsAfter = true},
        Case{.name = "last_line_without_newline", .before = "Anna\nbob", .missing = false, .ops = {"enum", ""},
             .said = {"enum 2 [Anna,bob]"}, .after = "Anna\nbob", .existsAfter = true},
        Case{.name = "delete_other_case", .before = kSample, .missing = false, .ops = {"del", "ANNA"},
             .said = {"del 0 [ANNA]"}, .after = "bob\n", .existsAfter = true},
        Case{.name = "delete_absent_drops_comments", .before = kSample, .missing = false, .ops = {"del", "zed"},
             .said = {"del 0 [zed]"}, .after = "Anna\nbob\n", .existsAfter = true},
        Case{.name = "add_present_and_new", .before = kSample, .missing = false, .ops = {"add", "BOB,carl"},
             .said = {"add 0 [carl]"}, .after = "Anna\nbob\ncarl\n", .existsAfter = true},
        Case{.name = "missing_enum_delete", .before = "", .missing = true, .ops = {"enum", "", "del", "Anna"},
             .said = {"enum 0 []", "del 0 [Anna]"}, .after = "", .existsAfter = false},
        Case{.name = "missing_add_creates", .before = "", .missing = true, .ops = {"add", "zed,Anna"},
             .said = {"add 0 [zed,Anna]"}, .after = "zed\nAnna\n", .existsAfter = true},
        Case{.name = "replace_rename", .before = kSample, .missing = false, .ops = {"replace", "bob", "robert"},
             .said = {"replace 0 [bob] [robert]"}, .after = "Anna\nrobert\n", .existsAfter = true},
        Case{.name = "replace_case_only_rename", .before = kSample, .missing = false,
             .ops = {"replace", "bob", "Bob"}, .said = {"replace 0 [bob] [Bob]"}, .after = "Anna\nBob\n",
             .existsAfter = true},
        Case{.name = "replace_missing_delete_only", .before = "", .missing = true, .ops = {"replace", "bob", "-"},
             .said = {"replace 0 [bob]"}, .after = "", .existsAfter = false},
        Case{.name = "byte_ordered_list_refused", .before = kSample, .missing = false,
             .ops = {"del", "byte:bob", "add", "byte:zed"},
             .said = {"del -1 [bob] 0x0D00", "add -1 [zed] 0x0D00"}, .after = kSample, .existsAfter = true},
        Case{.name = "line_break_in_name_refused", .before = kSample, .missing = false,
             .ops = {"add", "eve\nroot"}, .said = {"add -1 [eve\\nroot] 0x0D00"}, .after = kSample,
             .existsAfter = true}),
    [](const ::testing::TestParamInfo<Case> &i) { return std::string(i.param.name); });

TEST_F(FtpChroot, ReplaceGivesTheBytesOfDeleteThenAdd)
{
    const Lines del = {"bob", "ANNA", "zed"};
    const Lines add = {"anna", "Carl", "robert"};
    for (const std::string &before : {kSample, std::string("robert\nbob\n#x\ncarl\n")}) {
        app.writeFile(kConf, before);
        run({"del", "bob,ANNA,zed", "add", "anna,Carl,robert"});
        const std::string twoCalls = conf();
        app.writeFile(kConf, before);
        run({"replace", "bob,ANNA,zed", "anna,Carl,robert"});
        EXPECT_EQ(conf(), twoCalls) << before;
    }
}

TEST_F(FtpChroot, ListThatCannotBeReadIsNeitherEmptiedNorReplaced)
{
    app.mkdir(kConf);  // opens, but every read fails
    EXPECT_EQ(run({"enum", "", "add", "zed", "del", "zed", "replace", "bob", "zed"}),
              (Lines{"enum -1 [] 0x0A00", "add -1 [zed] 0x0A00", "del -1 [zed] 0x0A00",
                     "replace -1 [bob] [zed] 0x0A00"}));
    EXPECT_TRUE(app.changes().empty());
}

TEST_F(FtpChroot, FailedRewriteLeavesTheListAndNoTemporaryFile)
{
    app.writeFile(kConf, sample, 0640);
    EXPECT_EQ(run({"fsync-fails", "replace", "bob", "robert"}), (Lines{"replace -1 [bob] [robert] 0x0B00"}));
    EXPECT_EQ(conf(), sample);
    EXPECT_TRUE(app.changes().empty());
}

TEST_F(FtpChroot, RewriteKeepsTheModeAndReplacesALinkInsteadOfWritingThroughIt)
{
    app.writeFile(kConf, sample, 0640);
    EXPECT_EQ(run({"del", "zed"}), (Lines{"del 0 [zed]"}));
    const approot::RunResult st = app.run({"/usr/bin/stat", "-c", "%a %F", kConf});
    EXPECT_EQ(st.out, "640 regular file\n");

    app.writeFile("/var/other", "keep\n");
    app.symlink("/var/other", kConf);
    EXPECT_EQ(run({"add", "zed"}), (Lines{"add 0 [zed]"}));
    EXPECT_EQ(app.readFile("/var/other"), "keep\n");
    EXPECT_EQ(conf(), "keep\nzed\n");
    EXPECT_EQ(app.run({"/usr/bin/stat", "-c", "%F", kConf}).out, "regular file\n");
}

}  // namespace
