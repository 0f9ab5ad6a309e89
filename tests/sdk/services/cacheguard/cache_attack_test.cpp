// An unprivileged user plants, in a loop, links (to a database file of
// root's, to "/etc/shadow", to a live cache it holds open), files, FIFOs and
// folders at every live, temporary, library and lock name of the three
// sets while root opens, rebuilds and writes each of them many times.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "cache_attacker.h"
#include "cacheguard_fixture.h"

namespace {

using guardtest::Lines;

using CacheAttack = guardtest::GuardRoot;

TEST_F(CacheAttack, PlantsAtEveryNameWhileRootWorks)
{
    app.writeFile("/etc/keep.db", "root's own database\n", 0600);
    const std::string nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    const std::string probe = vexatest::probe::command();
    const std::string script =
        "chmod 1777 /tmp\n" + probe + " open user\n" +
        // folders first, at every name, so that some are there for sure
        nobody + "sh -c 'for n in $NAMES; do mkdir \"$n\"; done 2>/dev/null'\n" + nobody + "sh -c " +
        vexatest::shellQuote(vexatest::kCacheAttack) + " &\n" +
        "while [ ! -e /tmp/attacking ]; do :; done\n" + probe + " work 12\n" + "touch /tmp/stop; wait\n" +
        "echo held: $(grep -c '\\$1\\$' /tmp/held.out)\n" + "echo readable: $(cat /tmp/readable.out)\n" +
        "echo keep: $(stat -c '%a %u' /etc/keep.db) $(cat /etc/keep.db)\n" +
        "echo shadow: $(stat -c '%a %u' /etc/shadow) $(grep -cv '^[^:]*:[^:]*:[0-9]*:[0-9]*:[0-9]*:[0-9]*:[^:]*:[^:]*:[^:]*$' "
        "/etc/shadow)\n" +
        "echo build folders: $(find /tmp -mindepth 1 -maxdepth 1 -type d -user 0 -name '.db.*.tmp.*')\n" +
        "echo aside: $(find /tmp -mindepth 1 -maxdepth 1 -type d -user 65534 -name '*.aside.*' | wc -l)\n";
    app.setEnv("NAMES", vexatest::cacheAttackNames());
    const approot::RunResult r = app.run({"/bin/sh", "-c", script});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    Lines got;
    std::string aside;
    for (const std::string &l : vexatest::splitLines(r.out)) {
        if (l.rfind("@ ", 0) == 0)
            got.push_back(l.substr(2));
        else if (l.rfind("aside: ", 0) == 0)
            aside = l.substr(7);
        else if (l.find(": ") != std::string::npos || l.back() == ':')
            got.push_back(l);
    }
    EXPECT_EQ(got, (Lines{"open user ok", "work", "held: 0", "readable:", "keep: 600 0 root's own database",
                          "shadow: 600 0 0", "build folders:"}))
        << r.out << r.err;
    // the folders planted first at the group and share names and locks,
    // where nothing stood yet, were moved aside, not entered
    EXPECT_GE(atoi(aside.c_str()), 6) << r.out;
    EXPECT_EQ(liveStat(), liveWanted());
}

}  // namespace
