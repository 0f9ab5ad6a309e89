// Home folders on a volume that another user can write: an unprivileged
// user (uid 65534) swaps the homes folder for a link or plants a link or a
// folder of its own at a rename's target, before the batch or while it runs
// (from the rsync service script, which the batch waits for before the
// homes step).  Nothing is made, chowned or moved outside the homes folder,
// the planted targets keep their bytes, owner and mode, the old home stays,
// and the refusal is logged.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <tuple>
#include <string>
#include <vector>

#include "../user/user_fixture.h"

namespace {

using usertest::Lines;

const char kSmbConf[] =
    "[global]\n"
    "\tsecurity = user\n"
    "\tworkgroup = WG\n"
    "[homes]\n"
    "\tpath = /volume1/homes\n";

const char kAsOther[] = "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups ";

struct Attack {
    const char *name;
    std::string plant;  // shell text the other user runs
    Lines batch;        // entries of the probe's batch
    const char *logLine;
};

// A row of the table, before or during the batch.
class HomeAttack : public usertest::UserRoot, public ::testing::WithParamInterface<std::tuple<size_t, bool>> {
protected:
    void SetUp() override
    {
        UserRoot::SetUp();
        // a volume anyone may write, its homes folder too
        bindVolume();
        volumeDir("homes/Anna");
        volumeDir("homes", 0777);
        volumeDir(".", 0777);
        app.writeFile("/etc/group", "#$_@GID__INDEX@_$65536$\nroot:x:0:\nsmmsp:x:25:\nusers:x:100:admin,Anna\n", 0644);
        app.writeFile("/etc/group_desc", "", 0644);
        app.writeFile("/usr/vexa/etc/smb.conf", kSmbConf, 0644);
        app.writeFile("/etc.defaults/vexainfo.conf", "support_download=\"no\"\n");
        app.writeFile("/etc/cron.d/keep", "# kept\n", 0644);
        app.writeFile("/etc/rsyncd.conf", "auth users = root\nsecrets file = /etc/rsyncd.secrets\n", 0644);
        app.writeFile("/etc/rsyncd.secrets", "root:stored|c2VjcmV0\n", 0600);
        // the service script the batch waits for runs the other user's doing
        app.writeFile("/usr/vexa/etc/rc.d/S84rsyncd.sh",
                      std::string("#!/bin/sh\nif [ \"$1\" = start ] && [ -x /usr/local/attack ]; then ") + kAsOther +
                          "/usr/local/attack; fi\nexit 0\n",
                      0755);
    }
    void asOther(const std::string &plant)
    {
        const approot::RunResult r = app.run({"/bin/sh", "-c", kAsOther + std::string("/bin/sh -c ") +
                                                                   vexatest::shellQuote(plant)});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    // Changes outside the account files, the caches, the services' files
    // and the volume (whose writes are not listed).
    std::vector<std::string> strays()
    {
        static const char *const kOwn[] = {"/tmp/", "/var/", "/usr/vexa/etc/", "/usr/local/attack", "/etc/passwd",
                                           "/etc/shadow", "/etc/vexauser.conf", "/etc/group", "/etc/rsyncd."};
        std::vector<std::string> out;
        for (const approot::Change &c : app.changes()) {
            bool own = false;
            for (const char *p : kOwn)
                own = own || c.path.rfind(p, 0) == 0;
            if (!own)
                out.push_back(std::string(1, c.kind) + " " + c.path);
        }
        return out;
    }
};

const std::vector<Attack> &attacks()
{
    static const std::vector<Attack> k = {
        {.name = "homes swapped for a link",
         .plant = "mv /volume1/homes /volume1/old && ln -s /etc/cron.d /volume1/homes",
         .batch = {"user", "-", "ftp1", "pw"},
         .logLine = "open homes folder [/volume1/homes] at [homes] failed"},
        {.name = "link at the rename target",
         .plant = "ln -s /etc /volume1/homes/Bea",
         .batch = {"user", "Anna", "Bea", "x"},
         .logLine = "move user home folder [/volume1/homes/Anna] to [Bea] failed"},
        {.name = "another user's folder at the rename target",
         .plant = "mkdir -m 0755 /volume1/homes/Bea && echo mine > /volume1/homes/Bea/f",
         .batch = {"user", "Anna", "Bea", "x"},
         .logLine = "move user home folder [/volume1/homes/Anna] to [Bea] failed"},
    };
    return k;
}

TEST_P(HomeAttack, NothingOutsideTheHomesFolder)
{
    const Attack &a = attacks()[std::get<0>(GetParam())];
    const bool during = std::get<1>(GetParam());
    const std::string cron = sh("ls -ln /etc/cron.d; cat /etc/cron.d/keep");
    Lines ops;
    if (during) {
        app.writeFile("/usr/local/attack", "#!/bin/sh\n" + a.plant + "\n", 0755);
        ops = {"user", "-", "rsync", "s3cret"};
    } else {
        asOther(a.plant);
    }
    ops.insert(ops.end(), a.batch.begin(), a.batch.end());
    ops.push_back("go");
    const Lines out = run(ops);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out[0], "go 0");
    EXPECT_EQ(sh("ls -ln /etc/cron.d; cat /etc/cron.d/keep"), cron);
    EXPECT_EQ(sh("test -e /etc/Anna || echo none"), "none\n");
    EXPECT_EQ(strays(), std::vector<std::string>{});
    bool logged = false;
    for (const std::string &l : app.syslog())
        logged = logged || l.find(a.logLine) != std::string::npos;
    EXPECT_TRUE(logged);
    if (a.batch[1] == "Anna") {
        EXPECT_EQ(sh("stat -c '%F %u' /volume1/homes/Anna"), "directory 0\n");
        EXPECT_EQ(sh("test -e /volume1/homes/Bea/Anna || echo none"), "none\n");
    }
    if (a.plant.rfind("ln -s /etc ", 0) == 0) {
        EXPECT_EQ(sh("stat -c '%F %u' /volume1/homes/Bea; readlink /volume1/homes/Bea"), "symbolic link 65534\n/etc\n");
    } else if (a.plant.rfind("mkdir", 0) == 0) {
        EXPECT_EQ(sh("stat -c '%F %a %u %g' /volume1/homes/Bea; ls -A /volume1/homes/Bea; cat /volume1/homes/Bea/f"),
                  "directory 755 65534 65534\nf\nmine\n");
    }
}

std::string rowName(const ::testing::TestParamInfo<std::tuple<size_t, bool>> &info)
{
    std::string n = attacks()[std::get<0>(info.param)].name;
    for (char &c : n)
        c = isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return n + (std::get<1>(info.param) ? "_during" : "_before");
}

INSTANTIATE_TEST_SUITE_P(Rows, HomeAttack,
                         ::testing::Combine(::testing::Range<size_t>(0, 3), ::testing::Bool()), rowName);

}  // namespace
