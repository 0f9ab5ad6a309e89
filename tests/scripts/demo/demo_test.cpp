// scripts/demo ends 0 only when its road ends as expected, and otherwise
// names why: here on a build folder of the test's own whose updater cannot
// run or whose flash refuses a write; and the configuration road shows
// what it carried across.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "approot.h"
#include "test_tmp.h"

namespace {

namespace fs = std::filesystem;

struct DemoRun {
    int status;
    std::string out;  // standard output and error together
};

// A build folder holding this build's tools, with `updater` as given.
class Demo : public ::testing::Test {
protected:
    vexatest::TempDir build{"demo"};

    void link(const std::string &target, const std::string &rel)
    {
        fs::create_directories(fs::path(build / rel).parent_path());
        fs::create_symlink(target, build / rel);
    }
    void SetUp() override
    {
        link(approot::Appliance::toolPath(), "tools/approot/approot");
        link(SIMFLASH_BIN, "tools/simkernel/simflash");
        link(SIMKERNEL_LIB, "tools/simkernel/libsimkernel.so");
        link(UPDTWATCH_LIB, "tools/updtwatch/libupdtwatch.so");
        link(UPDTRESULT_BIN, "tools/updtresult/updtresult");
    }
    DemoRun run(const std::string &args)
    {
        const std::string cmd = "VEXA_BUILD_DIR=" + vexatest::shellQuote(build.path()) + " /bin/bash " +
                                vexatest::shellQuote(std::string(VEXA_SOURCE_DIR) + "/scripts/demo") + " " +
                                args + " 2>&1 </dev/null";
        FILE *p = popen(cmd.c_str(), "r");
        if (p == nullptr)
            return {-1, "popen failed"};
        std::string out;
        char buf[4096];
        while (size_t n = fread(buf, 1, sizeof buf, p))
            out.append(buf, n);
        const int rc = pclose(p);
        return {WIFEXITED(rc) ? WEXITSTATUS(rc) : 128 + WTERMSIG(rc), out};
    }
};

struct Case {
    const char *name;
    const char *updater;  // "" the real one; else the script put in its place
    const char *args;
    int status;
    std::vector<std::string> said;  // each in the output
};

void PrintTo(const Case &c, std::ostream *os)
{
    *os << c.name;
}

class DemoRoad : public Demo, public ::testing::WithParamInterface<Case> {};

TEST_P(DemoRoad, EndsAsTheRoadGoes)
{
    const Case &c = GetParam();
    if (std::string(c.updater).empty()) {
        link(UPDATER_BIN, "updater/updater");
    } else {
        fs::create_directories(build / "updater");
        vexatest::writeFile(build / "updater/updater", c.updater, 0755);
    }
    const DemoRun r = run(c.args);
    EXPECT_EQ(r.status, c.status) << r.out;
    for (const std::string &s : c.said)
        EXPECT_NE(r.out.find(s), std::string::npos) << "no \"" << s << "\" in:\n" << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Demo, DemoRoad,
    ::testing::Values(
        Case{"FullRoad",
             "",
             "",
             0,
             {"== exit code 0: upgrade_success", "/dev/mtd1  zImage", "equals the package image",
              "== the run ended as the road expects"}},
        // the configuration road: the files shown before and after, none of
        // the fixture's secrets among them (the demo checks that itself)
        Case{"ConfigurationRoad",
             "",
             "--from 200",
             0,
             {"== exit code 0: upgrade_success", "-0\t3\t*\t*\t*\troot\t/usr/vexa/pgsql/bin/vacuumdb -a\n",
              "-5\t*\t*\t*\t*\troot\t/bin/rm -f /var/log/*.html\n", "-MTUValue=\"9000\"\n",
              "+eth0_mtu=\"8000\"\n", "+ftp1:x:1031:100:ftp of old:", "-- /volume1/s@vedconfig: created",
              "-- /etc/rc: removed", "-- /etc/fstab: removed", "    ftp:1030:<hash>:<hash>:",
              "pg_dump [-C] [-o] [-U] [admin] [photo]", "== the run ended as the road expects"}},
        // the program is there but cannot start (its interpreter is missing)
        Case{"UpdaterCannotRun",
             "#!/nonexistent/interpreter\n",
             "",
             1,
             {"== FAILED: the run did not end as the road expects",
              "the updater did not run to its end: exit status 127 (approot: cannot run "
              "/volume1/upd@te/updater: No such file or directory)"}},
        Case{"WriteFails",
             "",
             "--fault 'fail write dev=mtd2 proc=updater always'",
             1,
             {"== FAILED: the run did not end as the road expects",
              "the updater ended with exit code 20 (error_update_unknown), not 0 (upgrade_success)",
              "/dev/mtd2 (rd.gz) does not hold what it should: differs from image"}}),
    [](const ::testing::TestParamInfo<Case> &i) { return std::string(i.param.name); });

}  // namespace
