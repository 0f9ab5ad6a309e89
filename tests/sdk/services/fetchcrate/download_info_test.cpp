// Download-manager settings inside the appliance root: the thirty key
// lines, the records refused before anything is written, and the
// scheduler's pid file, with a stand-in scheduler recording the signals.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "root_probe.h"
#include "scheduler_standin.h"
#include "services/fetchcrate/vexa_fetchcrate.h"

namespace {

using Lines = std::vector<std::string>;
constexpr char kInfo[] = "/etc/vexainfo.conf";

VEXADOWNLOADINFO fullRecord()
{
    VEXADOWNLOADINFO r{};
    r.enabled = 7;
    strcpy(r.when, "0-23:0-59");
    r.order = 2;
    r.ulRate = 100;
    r.dlRate = -1;
    r.startPort = 6881;
    r.endPort = 6890;
    r.portMapEnabled = 0;
    r.seedingRatio = 150;
    r.seedingInterval = 90;
    r.enableDht = 1;
    r.dhtPort = 6881;
    r.btMaxPeers = 50;
    r.btEncrypt = 2;
    r.maxTasks = 20;
    r.enableAmule = 1;
    r.amuleUlRate = 30;
    r.amuleDlRate = 0;
    r.amuleTcpPort = 4662;
    r.amuleUdpPort = 4672;
    r.amuleMaxConn = 500;
    r.amuleAutoConnect = 1;
    r.ftpMaxEnable = 0;
    r.ftpMax = 3;
    strcpy(r.nzbServer, "news.example");
    r.nzbPort = 65535;
    r.nzbAuth = 1;
    strcpy(r.nzbUser, "reader");
    strcpy(r.nzbPassword, "pa\"ss word");
    r.nzbNumConn = 4;
    return r;
}

const char kThirtyLines[] =
    "download_enabled=\"yes\"\n"
    "download_order=\"request\"\n"
    "download_when=\"0-23:0-59\"\n"
    "download_ul_rate=\"100\"\n"
    "download_dl_rate=\"-1\"\n"
    "download_start_port=\"6881\"\n"
    "download_end_port=\"6890\"\n"
    "download_port_map_enabled=\"no\"\n"
    "download_seeding_interval=\"90\"\n"
    "download_seeding_ratio=\"150\"\n"
    "download_enable_dht=\"yes\"\n"
    "download_dhtport=\"6881\"\n"
    "download_btencrypt=\"always\"\n"
    "download_btmaxpeers=\"50\"\n"
    "download_enable_amule=\"yes\"\n"
    "download_amule_ul_rate=\"30\"\n"
    "download_amule_dl_rate=\"0\"\n"
    "download_amule_tcp_port=\"4662\"\n"
    "download_amule_udp_port=\"4672\"\n"
    "download_amule_max_conn=\"500\"\n"
    "download_amule_auto_connect=\"1\"\n"
    "download_maxtasks=\"20\"\n"
    "download_nzb_server=\"news.example\"\n"
    "download_nzb_port=\"65535\"\n"
    "download_nzb_auth=\"yes\"\n"
    "download_nzb_user=\"reader\"\n"
    "download_nzb_password=\"pa\"ss word\"\n"
    "download_nzb_numconn=\"4\"\n"
    "download_ftpmax_enable=\"no\"\n"
    "download_ftpmax=\"3\"\n";

// The record variants the tests pass.
bool variant(const std::string &name, VEXADOWNLOADINFO &r)
{
    r = fullRecord();
    if (name == "full")
        return true;
    if (name == "user-order") {
        r.order = 1;
        r.btEncrypt = 0;
        r.enabled = 0;
        return true;
    }
    if (name == "encrypt3")
        r.btEncrypt = 3;
    else if (name == "encrypt-1")
        r.btEncrypt = -1;
    else if (name == "when-unended")
        memset(r.when, 'x', sizeof r.when);
    else if (name == "password-unended")
        memset(r.nzbPassword, 'p', sizeof r.nzbPassword);
    else if (name == "user-linebreak")
        strcpy(r.nzbUser, "eve\ndownload_enabled=\"no\"");
    else if (name == "server-cr")
        strcpy(r.nzbServer, "host\r");
    return true;
}

// [scheduler] set VARIANT | null | signal SIG ; "scheduler" starts the
// stand-in for the operations after it and reports what it got at the end.
int probe(std::vector<std::string> ops)
{
    std::unique_ptr<vexatest::SchedulerStandIn> sched;
    for (size_t i = 0; i < ops.size(); ++i) {
        if (ops[i] == "scheduler") {
            sched = std::make_unique<vexatest::SchedulerStandIn>();
        } else if (ops[i] == "set") {
            VEXADOWNLOADINFO r;
            variant(ops[++i], r);
            vexatest::probe::say("set " + ops[i] + " " + std::to_string(VEXADownloadInfoSet(&r)));
        } else if (ops[i] == "null") {
            vexatest::probe::say("null " + std::to_string(VEXADownloadInfoSet(nullptr)));
        } else if (ops[i] == "signal") {
            const int sig = ops[++i] == "USR1" ? SIGUSR1 : SIGHUP;
            vexatest::probe::say("signal " + std::to_string(VEXADownloadSignalScheduler(sig)));
        }
    }
    if (sched) {
        // Sorted: a signal the stand-in took before the next was sent comes
        // first, so the order of two different ones is not fixed.
        std::vector<std::string> signals = sched->stop();
        std::sort(signals.begin(), signals.end());
        std::string got;
        for (const std::string &s : signals)
            got += " " + s;
        vexatest::probe::say("got" + got);
    }
    return 0;
}

VEXATEST_ROOT_PROBE(probe)

class DownloadRoot : public ::testing::Test {
protected:
    approot::Appliance app{"download"};
    const std::string before = "codepage=\"utf8\"\ndownload_order=\"user\"\nsupport_download=\"yes\"\n"
                               "download_order=\"old\"\n";

    void SetUp() override
    {
        app.writeFile(kInfo, before);
        app.mkdir("/var/run");
        app.mkdir("/tmp", 01777);
    }
    Lines run(const Lines &ops) { return vexatest::probe::run(app, ops); }
};

TEST_F(DownloadRoot, ThirtyKeysInOrderThenOneHangup)
{
    EXPECT_EQ(run({"scheduler", "set", "full"}), (Lines{"set full 0", "got HUP"}));
    // The key already there keeps its place, its later line is dropped,
    // the others follow in the order written.
    std::string expected = "codepage=\"utf8\"\ndownload_order=\"request\"\nsupport_download=\"yes\"\n";
    std::string rest = kThirtyLines;
    rest.erase(rest.find("download_order=\"request\"\n"), strlen("download_order=\"request\"\n"));
    EXPECT_EQ(app.readFile(kInfo), expected + rest);
}

TEST_F(DownloadRoot, UserOrderDisabledAndNoEncryption)
{
    app.writeFile(kInfo, "");
    EXPECT_EQ(run({"set", "user-order"}), (Lines{"set user-order 0"}));
    const std::string text = app.readFile(kInfo);
    EXPECT_NE(text.find("download_enabled=\"no\"\ndownload_order=\"user\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("download_btencrypt=\"disable\"\n"), std::string::npos) << text;
}

TEST_F(DownloadRoot, InvalidRecordWritesAndSignalsNothing)
{
    for (const char *v : {"encrypt3", "encrypt-1", "when-unended", "password-unended", "user-linebreak",
                          "server-cr"}) {
        EXPECT_EQ(run({"scheduler", "set", v}), (Lines{std::string("set ") + v + " -1", "got"}));
        EXPECT_EQ(app.readFile(kInfo), before) << v;
    }
    EXPECT_EQ(run({"scheduler", "null"}), (Lines{"null -1", "got"}));
    EXPECT_EQ(app.readFile(kInfo), before);
    for (const std::string &line : app.syslog())
        EXPECT_EQ(line.find("pa\"ss"), std::string::npos) << line;
}

TEST_F(DownloadRoot, LockHeldElsewhereFailsWithoutWriting)
{
    // A holder of the info lock that never lets go while the writer tries.
    const std::string cmd = "mkdir -p /tmp/lock && : >/tmp/lock/lock_vexainfo && exec 9</tmp/lock/lock_vexainfo && "
                            "flock -x 9 && " + vexatest::probe::command() + " scheduler set full 9<&-";
    const approot::RunResult r = app.run({"/bin/sh", "-c", cmd});
    EXPECT_EQ(vexatest::probe::said(r.out), (Lines{"set full -1", "got"})) << r.err;
    EXPECT_EQ(app.readFile(kInfo), before);
    EXPECT_EQ(app.pauses(), Lines(101, "usleep 0.050000000"));
}

struct PidCase {
    const char *name;
    const char *pidText;  // nullptr: no pid file; "DIR": a folder
    int result;
};

void PrintTo(const PidCase &c, std::ostream *os)
{
    *os << c.name;
}

class PidFile : public DownloadRoot, public ::testing::WithParamInterface<PidCase> {};

TEST_P(PidFile, SignalResult)
{
    const PidCase &c = GetParam();
    if (c.pidText == nullptr) {
    } else if (std::string(c.pidText) == "DIR") {
        app.mkdir("/var/run/scheduler.pid");
    } else {
        app.writeFile("/var/run/scheduler.pid", c.pidText);
    }
    EXPECT_EQ(run({"signal", "USR1"}), (Lines{"signal " + std::to_string(c.result)}));
}

INSTANTIATE_TEST_SUITE_P(Cases, PidFile,
                         ::testing::Values(PidCase{.name = "missing", .pidText = nullptr, .result = 0},
                                           PidCase{.name = "empty", .pidText = "", .result = -1},
                                           PidCase{.name = "zero", .pidText = "0\n", .result = 0},
                                           PidCase{.name = "negative", .pidText = "-1\n", .result = 0},
                                           PidCase{.name = "init", .pidText = "1\n", .result = 0},
                                           PidCase{.name = "not_decimal", .pidText = "12ab\n", .result = 0},
                                           PidCase{.name = "no_such_process", .pidText = "4000000\n",
                                                   .result = 0},
                                           PidCase{.name = "folder", .pidText = "DIR", .result = -1}),
                         [](const ::testing::TestParamInfo<PidCase> &i) { return std::string(i.param.name); });

TEST_F(DownloadRoot, SignalReachesTheLiveSchedulerAndAGoneOneIsNoFailure)
{
    EXPECT_EQ(run({"scheduler", "signal", "USR1", "signal", "HUP"}), (Lines{"signal 0", "signal 0", "got HUP USR1"}));
    // The pid file now names the stopped stand-in.
    EXPECT_EQ(run({"signal", "USR1"}), (Lines{"signal 0"}));
}

}  // namespace
