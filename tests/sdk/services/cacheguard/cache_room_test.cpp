// Builds that cannot be written whole (a full "/tmp", a file-size limit)
// fail, leave nothing behind and leave a current set as it was; with room
// again the next open builds the whole set.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "cacheguard_fixture.h"

namespace {

using guardtest::Lines;

struct RoomCase {
    const char *name;
    const char *set;     // the probe's name of the set
    const char *files;   // its live files, as a shell pattern
    const char *add;     // shell text that adds NAME to the sources
    const char *added;
    int roomKib;         // what a full "/tmp" leaves free
    bool fsize;          // a file-size limit instead of a full "/tmp"
};

void PrintTo(const RoomCase &c, std::ostream *os)
{
    *os << c.name;
}

const RoomCase kCases[] = {
    {"user_full", "user", "/tmp/.db.user.*.0832", "echo 'late:x:1800:100::/l:/bin/sh' >> /etc/passwd; echo 'late:!:19000:0:99999:7:::' >> /etc/shadow", "late", 176, false},
    {"group_full", "group", "/tmp/.db.group.*.0832", "echo 'late:x:65600:' >> /etc/group", "late", 112, false},
    {"share_full", "share", "/tmp/.db.vexashare.0832", "printf '[Late]\\n\\tpath = /volume1/Late\\n' >> /usr/vexa/etc/smb.conf", "Late", 48, false},
    {"user_fsize", "user", "/tmp/.db.user.*.0832", "echo 'late:x:1800:100::/l:/bin/sh' >> /etc/passwd; echo 'late:!:19000:0:99999:7:::' >> /etc/shadow", "late", 0, true},
    {"group_fsize", "group", "/tmp/.db.group.*.0832", "echo 'late:x:65600:' >> /etc/group", "late", 0, true},
    {"share_fsize", "share", "/tmp/.db.vexashare.0832", "printf '[Late]\\n\\tpath = /volume1/Late\\n' >> /usr/vexa/etc/smb.conf", "Late", 0, true},
};

// 600 more users, groups and shares: sets of more than two pages a file.
class CacheRoom : public guardtest::GuardRoot, public ::testing::WithParamInterface<RoomCase> {
protected:
    void SetUp() override
    {
        GuardRoot::SetUp();
        const usertest::Accounts a = usertest::baseAccounts();
        std::string passwd = a.passwd;
        std::string shadow = a.shadow;
        std::string group = grouptest::baseGroup();
        std::string conf = guardtest::kSmbConf;
        for (int i = 0; i < 600; ++i) {
            const std::string n = std::to_string(i);
            passwd += "user" + n + ":x:" + std::to_string(2000 + i) + ":100::/var/services/homes/user" + n +
                      ":/bin/sh\n";
            shadow += "user" + n + ":!:19000:0:99999:7:::\n";
            group += "group" + n + ":x:" + std::to_string(66000 + i) + ":admin\n";
            conf += "[share" + n + "]\n\tpath = /volume1/share" + n + "\n";
        }
        app.writeFile("/etc/passwd", passwd, 0644);
        app.writeFile("/etc/shadow", shadow, 0600);
        app.writeFile("/etc/group", group, 0644);
        app.writeFile("/usr/vexa/etc/smb.conf", conf, 0644);
    }
};

TEST_P(CacheRoom, BuildThatCannotBeWrittenLeavesTheLiveSet)
{
    const RoomCase &c = GetParam();
    const std::string probe = vexatest::probe::command();
    const std::string set = c.set;
    // the build's own process runs short of room: "/tmp" filled up to the
    // room left, or a limit on the size of the files it writes
    const std::string shortOfRoom =
        c.fsize ? probe + " fsize 36864 open " + set
                : "avail=$(( $(stat -f -c %a /tmp) * $(stat -f -c %S /tmp) )); dd if=/dev/zero of=/tmp/filler bs=4096 count=$(( (avail - " +
                      std::to_string(c.roomKib) + "*1024) / 4096 )) 2>/dev/null; " + probe + " open " + set +
                      "; rm -f /tmp/filler";
    const std::string script =
        // a build tree under "/tmp" stays reachable through the small one
        "b=" + vexatest::shellQuote(vexatest::buildDir()) + "\n" +
        "case \"$b\" in /tmp/*) mkdir -p /run/vexa-build && mount --rbind \"$b\" /run/vexa-build;; esac\n"
        "mount -t tmpfs -o size=4m tmpfs /tmp; mkdir /tmp/lock\n"
        "case \"$b\" in /tmp/*) mkdir -p \"$b\" && mount --rbind /run/vexa-build \"$b\";; esac\n"
        // every set built with room; then this one gone
        + probe + " open user open group open share\n" + "rm -f " + c.files + "\n" + shortOfRoom + "\n" +
        "echo left: $(find /tmp -mindepth 1 -maxdepth 1 -type d -name '.db.*.tmp.*')\n" +
        "echo files: $(ls " + c.files + " 2>/dev/null)\n" +
        // with room again, the whole set
        probe + " open " + set + "\n" +
        // a current set, made stale, stays as it was
        "before=$(stat -c '%i %s' " + c.files + "; md5sum " + c.files + ")\n" +
        c.add + "\n" + shortOfRoom + "\n" +
        "after=$(stat -c '%i %s' " + c.files + "; md5sum " + c.files + ")\n" +
        "[ \"$before\" = \"$after\" ] && echo kept || echo changed\n" +
        "echo left: $(find /tmp -mindepth 1 -maxdepth 1 -type d -name '.db.*.tmp.*')\n" +
        probe + " get " + set + " " + c.added + "\n" + "echo modes: $(stat -c '%a %u %h' " + c.files + " | sort -u)\n";
    const approot::RunResult r = app.run({"/bin/sh", "-c", script});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    Lines got;
    for (const std::string &l : vexatest::splitLines(r.out)) {
        if (l.rfind("@ ", 0) == 0)
            got.push_back(l.substr(2));
        else if (l.rfind("left:", 0) == 0 || l.rfind("files:", 0) == 0 || l.rfind("modes:", 0) == 0 || l == "kept" || l == "changed")
            got.push_back(l);
    }
    Lines want = {"open user ok", "open group ok", "open share ok"};
    if (c.fsize)
        want.push_back("fsize 0");
    want.insert(want.end(), {"open " + set + " null 0x0900", "left:", "files:", "open " + set + " ok"});
    if (c.fsize)
        want.push_back("fsize 0");
    // root goes on with the stale set it has open; its files are untouched
    want.insert(want.end(), {"open " + set + " ok", "kept", "left:", "get " + set + " " + c.added + " 0",
                             set == "user" ? "modes: 600 0 1 644 0 1" : "modes: 644 0 1"});
    EXPECT_EQ(got, want) << r.out << r.err;
}

INSTANTIATE_TEST_SUITE_P(Sets, CacheRoom, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<RoomCase> &p) { return std::string(p.param.name); });

}  // namespace

namespace {

// On a "/tmp" of 1 KiB blocks a built set is never taken for one cut short:
// it is current at the next open, and a user write is dumped.
using SmallBlocks = guardtest::GuardRoot;

TEST_F(SmallBlocks, SetBuiltOnSmallBlocksIsCurrentAndWritesAreDumped)
{
    app.setEnv("LD_PRELOAD", SMALLBLOCKS_LIB);
    EXPECT_EQ(run({"open", "user", "open", "group", "open", "share"}),
              (Lines{"open user ok", "open group ok", "open share ok"}));
    const std::string inodes = sh("stat -c %i /tmp/.db.user.*.0832 /tmp/.db.group.*.0832 /tmp/.db.vexashare.0832");
    EXPECT_EQ(run({"open", "user", "open", "group", "open", "share"}),
              (Lines{"open user ok", "open group ok", "open share ok"}));
    EXPECT_EQ(sh("stat -c %i /tmp/.db.user.*.0832 /tmp/.db.group.*.0832 /tmp/.db.vexashare.0832"), inodes);
    EXPECT_EQ(run({"passwd", "Anna", "$1$ab$smallblocksmallblock00"}), (Lines{"passwd 0"}));
    EXPECT_NE(app.readFile("/etc/shadow").find("Anna:$1$ab$smallblocksmallblock00:"), std::string::npos);
}

}  // namespace
