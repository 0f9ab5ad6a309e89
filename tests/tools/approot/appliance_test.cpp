#include "approot.h"
#include "reach_all.h"
#include "test_tmp.h"

#include <gtest/gtest.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <csignal>
#include <cstring>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

using approot::Appliance;
using approot::Change;

namespace {

const std::string kProbe = APPROOT_PROBE;

std::string hostFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Host interfaces with their MTUs.
std::map<std::string, int> hostInterfaces()
{
    std::map<std::string, int> out;
    int sock = socket(AF_INET, SOCK_DGRAM, 0);
    struct if_nameindex *names = if_nameindex();
    for (auto *n = names; n != nullptr && n->if_index != 0; ++n) {
        ifreq ifr{};
        strncpy(ifr.ifr_name, n->if_name, IFNAMSIZ - 1);
        out[n->if_name] = ioctl(sock, SIOCGIFMTU, &ifr) == 0 ? ifr.ifr_mtu : -1;
    }
    if_freenameindex(names);
    close(sock);
    return out;
}

approot::RunResult sh(Appliance &app, const std::string &script)
{
    return app.run({"/bin/sh", "-c", script});
}

std::string changesText(const std::vector<Change> &changes)
{
    std::string out;
    for (const auto &c : changes)
        out += std::string(1, c.kind) + " " + c.path + "\n";
    return out;
}

// What `ls -A /tmp` shows inside, given the fixture's names there: those
// and, for a build tree under /tmp, the first folder of its path.
std::string tmpListing(std::set<std::string> names)
{
    const std::string build = VEXA_BINARY_DIR;
    if (build.rfind("/tmp/", 0) == 0)
        names.insert(build.substr(5, build.find('/', 5) - 5));
    std::string out;
    for (const auto &n : names)
        out += n + "\n";
    return out;
}

}  // namespace

TEST(ApplianceTest, HostPasswdAndNetworkStayUntouched)
{
    const std::string passwdBefore = hostFile("/etc/passwd");
    const auto netBefore = hostInterfaces();
    Appliance app("host");
    app.setEth0(1500, 1000);
    auto r = sh(app, "echo 'intruder:x:0:0::/root:/bin/sh' > /etc/passwd && ip link set eth0 mtu 9000 && "
                     "ip link set lo mtu 1280 && cat /etc/passwd");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "intruder:x:0:0::/root:/bin/sh\n");
    EXPECT_EQ(app.readFile("/etc/passwd"), "intruder:x:0:0::/root:/bin/sh\n");
    EXPECT_EQ(app.eth0MtuAfterRun(), 9000);
    EXPECT_EQ(hostFile("/etc/passwd"), passwdBefore);
    EXPECT_EQ(hostInterfaces(), netBefore);
    EXPECT_EQ(changesText(app.changes()), "M /etc/passwd\n");
}

TEST(ApplianceTest, ChangesListCreatedModifiedAndRemovedFiles)
{
    Appliance app("changes");
    app.writeFile("/etc/keep.conf", "same\n");
    app.writeFile("/etc/edit.conf", "old\n");
    app.writeFile("/etc/mode.conf", "x\n", 0644);
    app.writeFile("/etc/gone.conf", "bye\n");
    app.writeFile("/etc/tree/a", "a\n");
    app.writeFile("/etc/tree/b", "b\n");
    app.writeFile("/usr/vexa/etc/old/x", "x\n");
    app.writeFile("/tmp/fixture", "pre\n");
    auto r = sh(app,
                "set -e; echo new > /etc/edit.conf; chmod 600 /etc/mode.conf; rm /etc/gone.conf; "
                "mkdir -p /var/fresh/sub; echo n > /var/fresh/sub/file; "
                "rm -rf /etc/tree; mkdir /etc/tree; echo b2 > /etc/tree/b; echo c > /etc/tree/c; "
                "rm -r /usr/vexa/etc/old; echo t > /tmp/made; rm /tmp/fixture; "
                "echo console > /dev/console; cat /etc/keep.conf > /dev/null");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(changesText(app.changes()),
              "M /etc/edit.conf\n"
              "D /etc/gone.conf\n"
              "M /etc/mode.conf\n"
              "D /etc/tree/a\n"
              "M /etc/tree/b\n"
              "A /etc/tree/c\n"
              "D /tmp/fixture\n"
              "A /tmp/made\n"
              "D /usr/vexa/etc/old\n"
              "A /var/fresh\n"
              "A /var/fresh/sub\n"
              "A /var/fresh/sub/file\n");
    EXPECT_EQ(app.readFile("/etc/edit.conf"), "new\n");
    EXPECT_EQ(app.readFile("/etc/keep.conf"), "same\n");
    EXPECT_FALSE(app.exists("/etc/gone.conf"));
    EXPECT_FALSE(app.exists("/etc/tree/a"));
    EXPECT_EQ(app.readFile("/etc/tree/b"), "b2\n");
    EXPECT_EQ(app.console(), "console\n");
}

TEST(ApplianceTest, RunsAccumulateOnOneAppliance)
{
    Appliance app("accumulate");
    ASSERT_EQ(sh(app, "echo one > /etc/first").status, 0);
    auto r = sh(app, "cat /etc/first && echo two > /etc/second && rm /etc/first");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "one\n");
    EXPECT_EQ(changesText(app.changes()), "A /etc/second\n");
}

TEST(ApplianceTest, FixtureLayersStackAndHideTheHostTmp)
{
    vexatest::TempDir extra("layer");
    std::filesystem::create_directories(extra / "etc");
    vexatest::writeFile(extra / "etc/both", "extra\n");
    vexatest::writeFile(extra / "etc/only-extra", "from extra\n");
    Appliance app("layers");
    app.addLayer(extra.path());
    app.writeFile("/etc/both", "own\n");
    app.writeFile("/tmp/pre", "p\n");
    app.symlink("/etc/both", "/etc/link");
    app.symlink("/nowhere", "/etc/dangling");
    auto r = sh(app, "cat /etc/both /etc/only-extra /etc/link; ls -A /tmp; stat -c %a /tmp");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "own\nfrom extra\nown\n" + tmpListing({"pre"}) + "1777\n");
    EXPECT_EQ(app.readFile("/etc/link"), "own\n");
    EXPECT_EQ(app.readFile("/etc/only-extra"), "from extra\n");
    EXPECT_FALSE(app.exists("/etc/dangling"));
    EXPECT_TRUE(app.exists("/bin/sh"));  // the host's "/" lies below
    EXPECT_TRUE(app.changes().empty()) << changesText(app.changes());
}

TEST(ApplianceTest, SystemLogIsRecordedInOrder)
{
    Appliance app("syslog");
    auto r = app.run({kProbe, "syslog", "11", "first message"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = sh(app, kProbe + " syslog 14 'two\nlines'; logger -u /dev/log -p user.notice -t tagged third");
    ASSERT_EQ(r.status, 0) << r.err;
    auto log = app.syslog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].rfind("<11>", 0), 0u) << log[0];
    EXPECT_NE(log[0].find("approot_probe: first message"), std::string::npos) << log[0];
    EXPECT_EQ(log[1].rfind("<14>", 0), 0u) << log[1];
    EXPECT_NE(log[1].find("two#012lines"), std::string::npos) << log[1];
    EXPECT_EQ(log[2].rfind("<13>", 0), 0u) << log[2];
    EXPECT_NE(log[2].find("tagged: third"), std::string::npos) << log[2];
    app.clearSyslog();
    EXPECT_TRUE(app.syslog().empty());
}

TEST(ApplianceTest, UptimeShowsInProcAndSysinfo)
{
    for (long uptime : {120L, 400L, 5000000L}) {
        Appliance app("uptime");
        app.setUptime(uptime);
        auto r = sh(app, "cut -d. -f1 /proc/uptime; " + kProbe + " uptime");
        ASSERT_EQ(r.status, 0) << r.err;
        std::istringstream in(r.out);
        long proc = -1, info = -1;
        in >> proc >> info;
        EXPECT_GE(proc, uptime);
        EXPECT_LT(proc, uptime + 60);
        EXPECT_GE(info, uptime);
        EXPECT_LT(info, uptime + 60);
    }
}

TEST(ApplianceTest, HardwareVersionEntryReadsBackWhenGiven)
{
    Appliance app("hw");
    const std::string entry = "/proc/sys/kernel/vexa_hw_version";
    auto r = sh(app, "test -e " + entry + " && echo present || echo absent");
    EXPECT_EQ(r.out, "absent\n");
    app.setHwVersion("VX207-b\n");
    r = sh(app, "cat " + entry + "; cat /proc/sys/kernel/ostype");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "VX207-b\nLinux\n");
    EXPECT_TRUE(app.changes().empty()) << changesText(app.changes());
}

TEST(ApplianceTest, CpuFolderOfSysShowsReadOnlyBesideTheFixturesSys)
{
    if (access("/sys/devices/system/cpu/online", R_OK) != 0)
        GTEST_SKIP() << "the host shows no CPU folder";
    Appliance app("syscpu");
    app.writeFile("/sys/block/md0/md/dev-sda3/state", "in_sync\n");
    auto r = sh(app, "cat /sys/devices/system/cpu/online /sys/block/md0/md/dev-sda3/state; "
                     "touch /sys/devices/system/cpu/x 2>/dev/null || echo read-only");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, hostFile("/sys/devices/system/cpu/online") + "in_sync\nread-only\n");
    EXPECT_TRUE(app.changes().empty()) << changesText(app.changes());
}

TEST(ApplianceTest, Eth0MtuAndSpeedAreSetAndRead)
{
    Appliance app("eth0");
    app.setEth0(9000, 1000);
    auto r = sh(app, kProbe + " mtu eth0; " + kProbe + " speed eth0; " + kProbe + " speed eth9; " + kProbe +
                         " mtu eth9; " + kProbe + " mtu eth0 1500");
    EXPECT_EQ(r.out, "9000\n1000\nENODEV\nENODEV\n1500\n") << r.err;
    EXPECT_EQ(app.eth0MtuAfterRun(), 1500);
    // Each run starts from the configured interface again.
    r = app.run({kProbe, "mtu", "eth0"});
    EXPECT_EQ(r.out, "9000\n");
    EXPECT_EQ(app.eth0MtuAfterRun(), 9000);
}

TEST(ApplianceTest, NoEth0WithoutSetup)
{
    Appliance app("noeth0");
    auto r = app.run({kProbe, "speed", "eth0"});
    EXPECT_EQ(r.out, "ENODEV\n");
    EXPECT_EQ(app.eth0MtuAfterRun(), -1);
}

TEST(ApplianceTest, BoundFoldersAreSharedWithTheHost)
{
    vexatest::TempDir state("state");
    vexatest::TempDir other("other");
    vexatest::writeFile(state / "seed", "seed\n");
    Appliance app("bind");
    app.bind(state.path(), state.path());
    app.bind(other.path(), "/var/sim/state");
    auto r = sh(app, "cat " + state.path() + "/seed && echo in > " + state.path() +
                         "/written && echo there > /var/sim/state/file");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "seed\n");
    EXPECT_EQ(hostFile(state / "written"), "in\n");
    EXPECT_EQ(hostFile(other / "file"), "there\n");
    EXPECT_EQ(app.readFile("/var/sim/state/file"), "there\n");
    EXPECT_TRUE(app.changes().empty()) << changesText(app.changes());
}

// The build tree reaches a root this way when it lies under /tmp.  A
// read-write folder bound below it, though given first, stays on top.
TEST(ApplianceTest, ReadOnlyFolderShowsUnderTheHiddenTmp)
{
    vexatest::TempDir ro("ro");
    vexatest::TempDir state("state");
    vexatest::writeFile(ro / "seed", "seed\n");
    std::filesystem::create_directories(ro / "sub");
    Appliance app("bindro");
    app.bind(state.path(), "/tmp/view/sub");
    app.bindReadOnly(ro.path(), "/tmp/view");
    auto r = sh(app, "cat /tmp/view/seed; ls -A /tmp; echo no > /tmp/view/new || echo refused; "
                     "echo yes > /tmp/view/sub/file");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "seed\n" + tmpListing({"view"}) + "refused\n");
    EXPECT_FALSE(std::filesystem::exists(ro / "new"));
    EXPECT_EQ(hostFile(state / "file"), "yes\n");
    EXPECT_TRUE(app.changes().empty()) << changesText(app.changes());
}

TEST(ApplianceTest, ExitStatusAndSignalsPropagate)
{
    struct Case {
        std::vector<std::string> argv;
        int status;
    } cases[] = {
        {{"/bin/true"}, 0},
        {{"/bin/sh", "-c", "exit 7"}, 7},
        {{"/bin/sh", "-c", "kill -TERM $$"}, 128 + SIGTERM},
        {{"/bin/sh", "-c", "kill -KILL $$"}, 128 + SIGKILL},
        {{"/no/such/program"}, 127},
    };
    Appliance app("status");
    for (const auto &c : cases) {
        auto r = app.run(c.argv);
        EXPECT_EQ(r.status, c.status) << c.argv.back() << ": " << r.err;
    }
}

TEST(ApplianceTest, HungCommandTimesOutAndLeavesNothingRunning)
{
    // Markers of this run only: other runs of this test may share the machine.
    const std::string hung = "approot-hung-" + std::to_string(getpid()) + ".";
    const std::string daemon = "approot-daemon-" + std::to_string(getpid()) + ".";
    Appliance app("timeout");
    // Hung on a FIFO that nobody writes: no pause, which the root would
    // end at once; the marker is the blocked shell's $0.
    const std::string block = "mkfifo /tmp/never 2>/dev/null; /bin/sh -c 'read x < /tmp/never' ";
    app.setTimeout(1);
    auto start = std::chrono::steady_clock::now();
    auto r = sh(app, block + hung + " & read y < /tmp/never");
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.status, 124);
    EXPECT_LT(took, std::chrono::seconds(30));
    // A daemon left behind by a command that ended goes with the root, too.
    app.setTimeout(120);
    r = sh(app, block + daemon + " & echo started");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "started\n");
    DIR *d = opendir("/proc");
    while (struct dirent *de = readdir(d)) {
        std::string cmdline = hostFile(std::string("/proc/") + de->d_name + "/cmdline");
        EXPECT_EQ(cmdline.find(hung), std::string::npos);
        EXPECT_EQ(cmdline.find(daemon), std::string::npos);
    }
    closedir(d);
}

TEST(ApplianceTest, EnvironmentIsCleanAndControlled)
{
    setenv("APPROOT_TEST_LEAK", "host", 1);
    Appliance app("env");
    app.setEnv("ICU_DATA", "/usr/share/icu");
    app.mkdir("/srv/work", 0750);
    auto r = app.run({"/usr/bin/env"}, "/srv/work");
    unsetenv("APPROOT_TEST_LEAK");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("PATH=/usr/sbin:/usr/bin:/sbin:/bin\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("HOME=/root\n"), std::string::npos);
    EXPECT_NE(r.out.find("ICU_DATA=/usr/share/icu\n"), std::string::npos);
    EXPECT_NE(r.out.find("verify_asan_link_order=0"), std::string::npos);
    EXPECT_EQ(r.out.find("APPROOT_TEST_LEAK"), std::string::npos);
    r = app.run({"/bin/pwd"}, "/srv/work");
    EXPECT_EQ(r.out, "/srv/work\n");
    EXPECT_EQ(app.run({"/bin/true"}, "/no/such/folder").status, 125);
}

TEST(ApplianceTest, DevHoldsTheUsualNodes)
{
    Appliance app("dev");
    app.writeFile("/dev/mtd7", "flash\n");
    auto r = sh(app, "head -c 4 /dev/zero | od -An -tx1; echo gone > /dev/null; cat /dev/mtd7; "
                     "head -c 8 /dev/urandom | wc -c; test -S /dev/log && echo log");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, " 00 00 00 00\nflash\n8\nlog\n");
    EXPECT_TRUE(app.changes().empty()) << changesText(app.changes());
}

TEST(ApplianceTest, FixtureWrittenAfterARunShowsThrough)
{
    Appliance app("refix");
    app.writeFile("/etc/tree/a", "a\n");
    app.writeFile("/etc/tree/b", "b\n");
    app.writeFile("/etc/opq/old", "o\n");
    app.writeFile("/etc/file", "f\n");
    ASSERT_EQ(sh(app, "rm -r /etc/tree /etc/file; rm -rf /etc/opq; mkdir /etc/opq; echo n > /etc/opq/new").status,
              0);
    app.writeFile("/etc/tree/c", "c\n");  // under a removed folder
    app.writeFile("/etc/file", "again\n");
    app.writeFile("/etc/opq/fix", "x\n");  // under a folder made anew
    auto r = sh(app, "ls /etc/tree /etc/opq; cat /etc/file");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "/etc/opq:\nfix\nnew\n\n/etc/tree:\nc\nagain\n");
    EXPECT_EQ(changesText(app.changes()),
              "A /etc/opq/new\n"
              "D /etc/opq/old\n"
              "D /etc/tree/a\n"
              "D /etc/tree/b\n");
}

TEST(ApplianceTest, OrdinaryUserGetsARootThroughAUserNamespace)
{
    if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "needs root to switch to an ordinary user";
    vexatest::TempDir tmp("userns");
    ASSERT_EQ(chown(tmp.path().c_str(), 65534, 65534), 0);
    const std::string as = "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups ";
    const std::string tool = vexatest::shellQuote(Appliance::toolPath());
    const std::string scratch = vexatest::shellQuote(tmp / "s");
    std::string cmd = as + tool + " --dir " + scratch + " --uptime 50 -- /bin/sh -c " +
                      vexatest::shellQuote("test \"$(id -u)\" = 0 && echo made > /etc/userns-made && "
                                           "cut -d. -f1 /proc/uptime > /etc/up") +
                      " && " + as + tool + " --dir " + scratch + " --changes";
    // The user reaches the tool and its scratch folder wherever the build
    // lies (also under a folder closed to others).
    const vexatest::ShellRun run = vexatest::runWithBuildReachable(cmd);
    const std::string &out = run.out;
    if (run.status == 125 && run.err.find("approot: cannot mount the overlay") != std::string::npos)
        GTEST_SKIP() << "this kernel gives ordinary users no overlay: " << run.err;
    ASSERT_EQ(run.status, 0) << out << run.err;
    EXPECT_EQ(out, "A /etc/up\nA /etc/userns-made\n");
    long up = atol(hostFile(tmp / "s/upper/etc/up").c_str());
    EXPECT_GE(up, 50);
    EXPECT_LT(up, 110);
    EXPECT_EQ(hostFile("/etc/userns-made"), "");
    // The work folders a user namespace leaves must not stop the clean-up.
    std::filesystem::permissions(tmp.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add);
}
