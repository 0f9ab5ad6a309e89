// Whole updater runs in the appliance root: the analysis' verdict with its
// exit code and reports, the preparation's refusals and the MTU.
#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <vector>

#include "analysis_fixture.h"
#include "e2e_fixture.h"
#include "approot.h"
#include "simfixture.h"
#include "test_tmp.h"

namespace {

using Lines = std::vector<std::string>;
using vexatest::splitLines;

const char *const kPkgDir = "/volume1/upd@te";  // the fixture's package folder

// The text of each update-log line, without its time stamp.
Lines logTexts(const std::string &log)
{
    Lines out;
    for (const std::string &l : splitLines(log)) {
        const size_t tab = l.find('\t');
        out.push_back(tab == std::string::npos ? l : l.substr(tab + 1));
    }
    return out;
}

class UpdaterRun : public ::testing::Test {
public:
    e2e::Appliance a{"normal"};
    approot::Appliance &app = a.app;
    simkernel::PackageLayout pkg;
    e2e::Installed inst;
    void (*afterWrite)(UpdaterRun &) = nullptr;  // changes to the fixture files
    std::string confBefore;                      // "/etc/vexainfo.conf" before the run

    void SetUp() override
    {
        app.mkdir("/volume1");
        inst.raid = false;
        pkg.build = 1000;
        pkg.model = "vexa_test";
        pkg.extractSize = 1024;
        // the first disk partition: 600000 sectors, the third far out
        disk(600000, 1400000);
    }

    void disk(long long sectors1, long long start3) { a.disk(sectors1, start3); }

    void useRaid(uint64_t bytes)
    {
        inst.raid = true;
        raidBytes_ = bytes;
        analysistest::md0Members(app, sysfs_.path());
    }

    approot::RunResult run()
    {
        a.install(inst);
        if (raidBytes_ != 0)
            analysistest::md0Of(a.state, raidBytes_);
        // The package's model as given, even where it is the installed one
        // in another case.
        simkernel::makePackage(app.layerPath(kPkgDir), pkg);
        app.symlink(e2e::updaterPath(), std::string(kPkgDir) + "/updater");
        if (afterWrite)
            afterWrite(*this);
        confBefore = app.readFile("/etc/vexainfo.conf");
        return a.run({});
    }

    // Every progress text the updater wrote, in order, blanks cut.
    Lines progressSeen() const
    {
        Lines out;
        for (std::string l : a.progress()) {
            while (!l.empty() && l.back() == ' ')
                l.pop_back();
            out.push_back(l);
        }
        return out;
    }
    // A normal update's progress: A 0, A 10, A 100, then the flash stage
    // from P 0 up to P 100, C 0, C 100, R 0 and the exit's R 0.
    void expectFullRoadProgress() const
    {
        const Lines seen = progressSeen();
        ASSERT_GE(seen.size(), 9u);
        EXPECT_EQ(Lines(seen.begin(), seen.begin() + 4), (Lines{"A:0:", "A:10:", "A:100:", "P:0:"}));
        EXPECT_EQ(Lines(seen.end() - 5, seen.end()), (Lines{"P:100:", "C:0:", "C:100:", "R:0:", "R:0:"}));
        for (auto it = seen.begin() + 3; it != seen.end() - 4; ++it)
            EXPECT_EQ(it->substr(0, 2), "P:") << *it;
    }

    std::string progress() const
    {
        std::string p = app.readFile("/tmp/update.progress");
        while (!p.empty() && p.back() == ' ')
            p.pop_back();
        return p;
    }
    std::string syslogText() const
    {
        std::string all;
        for (const std::string &l : app.syslog())
            all += l + "\n";
        return all;
    }
    bool flashTouched() const
    {
        for (const std::string &l : simkernel::opsLog(a.state)) {
            if (l.find("dev=mtd") != std::string::npos)
                return true;
        }
        return false;
    }
    // Files the run changed other than its reports (which must be there).
    Lines otherChanges() const
    {
        Lines out;
        bool progressSeen = false;
        for (const approot::Change &c : app.changes()) {
            progressSeen = progressSeen || c.path == "/tmp/update.progress";
            if (c.path == "/tmp/update.progress" || c.path == "/tmp/update.message" ||
                c.path == "/var/log/vexaupdate.log" || c.path == "/tmp" || c.path == "/var/log" ||
                c.path == "/var")
                continue;
            out.push_back(std::string(1, c.kind) + " " + c.path);
        }
        if (!progressSeen)
            out.push_back("no progress file written");
        return out;
    }

private:
    vexatest::TempDir sysfs_{"updrunsys"};
    uint64_t raidBytes_ = 0;
};

}  // namespace

TEST_F(UpdaterRun, NewerPackageUpdatesADiskModel)
{
    const approot::RunResult r = run();
    ASSERT_EQ(r.status, 0) << r.err << syslogText();
    EXPECT_EQ(progress(), "R:0:");
    expectFullRoadProgress();
    const Lines log = logTexts(app.readFile("/var/log/vexaupdate.log"));
    EXPECT_NE(std::find(log.begin(), log.end(), "Upgrade from version 2.0.0.900 to version 2.0.0.1000"), log.end());
    EXPECT_EQ(log.back(), "Congratulation!! The update has been completed!!");
}

TEST_F(UpdaterRun, NewerPackageUpdatesARaidModel)
{
    useRaid(64ULL << 30);
    const approot::RunResult r = run();
    ASSERT_EQ(r.status, 0) << r.err << syslogText();
    EXPECT_EQ(progress(), "R:0:");
    expectFullRoadProgress();
    EXPECT_FALSE(simkernel::opsMatching(a.state, {"dev=md0", "req=BLKGETSIZE64"}).empty());
}

struct Refusal {
    const char *name;
    void (*change)(UpdaterRun &t);
    int code;
    const char *syslogWords;  // must appear in the system log
};

void PrintTo(const Refusal &r, std::ostream *os) { *os << r.name; }

void noInstalledVersion(UpdaterRun &t) { t.app.writeFile("/etc.defaults/VERSION", "other=\"1\"\n"); }
void unreadablePackageVersion(UpdaterRun &t)
{
    chmod(t.app.layerPath(std::string(kPkgDir) + "/VERSION").c_str(), 0044);
}
void emptyPackageVersion(UpdaterRun &t) { t.app.writeFile(std::string(kPkgDir) + "/VERSION", ""); }
void noInstalledModelKey(UpdaterRun &t) { t.app.writeFile("/etc.defaults/vexainfo.conf", "supportraid=\"no\"\n"); }
void noPackageModelKey(UpdaterRun &t)
{
    t.app.writeFile(std::string(kPkgDir) + "/VERSION", "majorversion=\"2\"\nminorversion=\"0\"\nbuildphase=\"0\"\n"
                                                       "buildnumber=\"1000\"\nextractsize=\"1024\"\n");
}

class AnalysisRefusal : public UpdaterRun, public ::testing::WithParamInterface<Refusal> {
public:
    void noInstalledVersion() { app.run({"/bin/rm", "-f", "/etc.defaults/VERSION"}); }
};

const Refusal kRefusals[] = {
    {.name = "SameBuild",
     .change = [](UpdaterRun &t) { t.pkg.build = t.inst.build; },
     .code = 10,
     .syslogWords = "orgBuildNumber = 900, newBuildNumber=900"},
    {.name = "OlderBuild",
     .change = [](UpdaterRun &t) { t.pkg.build = 899; },
     .code = 10,
     .syslogWords = "orgBuildNumber = 900, newBuildNumber=899"},
    {.name = "OtherModel",
     .change = [](UpdaterRun &t) { t.pkg.model = "vexa_other"; },
     .code = 12,
     .syslogWords = "szOrgCompany = [vexa_test], szNewCompany=[vexa_other]"},
    {.name = "PackageModelTooLong",
     .change = [](UpdaterRun &t) { t.pkg.model = std::string(33, 'v'); },
     .code = 9,
     .syslogWords = "fail to analyze, error = 9"},
    {.name = "InstalledMajor1",
     .change = [](UpdaterRun &t) { t.inst.major = "1"; },
     .code = 13,
     .syslogWords = "orgMajorVersion=1"},
    {.name = "PackageMajor1",
     .change = [](UpdaterRun &t) { t.pkg.major = 1; },
     .code = 13,
     .syslogWords = "orgMajorVersion=2"},
    {.name = "InstalledBuildZero",
     .change = [](UpdaterRun &t) { t.inst.build = 0; },
     .code = 6,
     .syslogWords = "buildnumber or major version == 0"},
    {.name = "PackageBuildNegative",
     .change = [](UpdaterRun &t) { t.pkg.build = -3; },
     .code = 7,
     .syslogWords = "buildnumber or major version == 0"},
    {.name = "NoInstalledModel",
     .change = [](UpdaterRun &t) { t.inst.model = std::string(40, 'm'); },
     .code = 8,
     .syslogWords = "fail to analyze, error = 8"},
    {.name = "TooLittleSpace",
     .change = [](UpdaterRun &t) { t.pkg.extractSize = 300000 - 10240 + 1; },
     .code = 16,
     .syslogWords = "System Partition is not sufficient. (300000 < 300001)"},
    {.name = "ExtractSizeZero",
     .change = [](UpdaterRun &t) { t.pkg.extractSize = 0; },
     .code = 7,
     .syslogWords = "invalid patch size [0]"},
    {.name = "NoInstalledVersion",
     .change = [](UpdaterRun &t) { t.afterWrite = noInstalledVersion; },
     .code = 6,
     .syslogWords = "fail to read major version"},
    {.name = "UnreadablePackageVersion",
     .change = [](UpdaterRun &t) { t.afterWrite = unreadablePackageVersion; },
     .code = 7,
     .syslogWords = "the file [/volume1/upd@te/VERSION]"},
    {.name = "EmptyPackageVersion",
     .change = [](UpdaterRun &t) { t.afterWrite = emptyPackageVersion; },
     .code = 7,
     .syslogWords = "the file [/volume1/upd@te/VERSION]"},
    {.name = "NoInstalledModelKey",
     .change = [](UpdaterRun &t) { t.afterWrite = noInstalledModelKey; },
     .code = 8,
     .syslogWords = "fail to analyze, error = 8"},
    {.name = "NoPackageModelKey",
     .change = [](UpdaterRun &t) { t.afterWrite = noPackageModelKey; },
     .code = 9,
     .syslogWords = "fail to analyze, error = 9"},
};

TEST_P(AnalysisRefusal, ChangesNothingButTheReports)
{
    const Refusal &c = GetParam();
    c.change(*this);
    const approot::RunResult r = run();
    EXPECT_EQ(r.status, c.code) << r.err;
    EXPECT_EQ(progress(), "A:-" + std::to_string(c.code) + ":");
    EXPECT_EQ(progressSeen(), (Lines{"A:0:", "A:10:", "A:-" + std::to_string(c.code) + ":"}));
    const Lines log = logTexts(app.readFile("/var/log/vexaupdate.log"));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "Start of the update...");
    EXPECT_EQ(log.back(), "Failed to accomplish the update! (errno = " + std::to_string(c.code) + ")");
    const std::string sys = syslogText();
    EXPECT_NE(sys.find("fail to analyze, error = " + std::to_string(c.code)), std::string::npos) << sys;
    EXPECT_NE(sys.find(c.syslogWords), std::string::npos) << sys;
    EXPECT_TRUE(a.syslogHas(e2e::failed(c.code))) << sys;
    EXPECT_FALSE(flashTouched());
    EXPECT_EQ(otherChanges(), Lines{});
    // the buffer was never reserved, and its release is asked all the same
    const simkernel::Counters405 calls = simkernel::counters405(a.state);
    EXPECT_EQ(calls.reserve, 0u);
    EXPECT_EQ(calls.release, 1u);
    if (c.code == 16)
        EXPECT_EQ(app.readFile("/tmp/update.message"),
                  "extramsg=\"System volume is insufficient to extract upgrade patch, please backup all files "
                  "and restore to factory default.\"\n");
    else
        EXPECT_FALSE(app.exists("/tmp/update.message"));
}

INSTANTIATE_TEST_SUITE_P(Updater, AnalysisRefusal, ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<Refusal> &i) { return std::string(i.param.name); });

TEST_F(UpdaterRun, TooLittleSpaceOnAnOldBuildAsksNoRelease)
{
    // the analysis has found the build too old for the driver's buffer
    inst.build = 350;
    pkg.extractSize = 300000 - 10240 + 1;
    const approot::RunResult r = run();
    EXPECT_EQ(r.status, 16);
    EXPECT_EQ(progressSeen(), (Lines{"A:0:", "A:10:", "A:-16:"}));
    const simkernel::Counters405 c = simkernel::counters405(a.state);
    EXPECT_EQ(c.reserve + c.release, 0u);
    EXPECT_FALSE(flashTouched());
}

TEST_F(UpdaterRun, RefusedReservationStopsWithItsMessage)
{
    simkernel::set405Answer(a.state, EPERM);
    const approot::RunResult r = run();
    EXPECT_EQ(r.status, 23);
    EXPECT_EQ(progressSeen(), (Lines{"A:0:", "A:10:", "A:100:", "A:-23:"}));
    EXPECT_EQ(app.readFile("/tmp/update.message"), "extramsg=\"Please reboot the system and upgrade immediately.\"\n");
    EXPECT_NE(syslogText().find("fail to malloc mtd driver buffer, error = 1"), std::string::npos);
    EXPECT_EQ(logTexts(app.readFile("/var/log/vexaupdate.log")).back(), "Failed to accomplish the update! (errno = 23)");
    EXPECT_NE(syslogText().find("Failed to accomplish the update! (errno = 23)"), std::string::npos);
    EXPECT_FALSE(flashTouched());
    EXPECT_EQ(otherChanges(), Lines{});
}

TEST_F(UpdaterRun, KernelWithoutTheReservationCallGoesOn)
{
    simkernel::set405Answer(a.state, ENOSYS);
    const approot::RunResult r = run();
    EXPECT_EQ(r.status, 0) << syslogText();
    EXPECT_NE(syslogText().find("fail to malloc mtd driver buffer, error = 38"), std::string::npos);
    EXPECT_FALSE(app.exists("/tmp/update.message"));
}

TEST_F(UpdaterRun, OldBuildUpTooLongMustReboot)
{
    // sysinfo rounds a started second up: 301 s at the start reads as 301
    // or 302, both over the limit
    inst.build = 350;
    app.setUptime(301);
    const approot::RunResult r = run();
    EXPECT_EQ(r.status, 24);
    EXPECT_EQ(progressSeen(), (Lines{"A:0:", "A:10:", "A:100:", "A:-24:"}));
    EXPECT_EQ(app.readFile("/tmp/update.message"),
              "extramsg=\"To perform upgrade task, you have to REBOOT your Vexabox first.\"\n");
    EXPECT_EQ(logTexts(app.readFile("/var/log/vexaupdate.log")).back(), "Failed to accomplish the update! (errno = 24)");
    EXPECT_NE(syslogText().find("Failed to accomplish the update! (errno = 24)"), std::string::npos);
    EXPECT_FALSE(flashTouched());
    EXPECT_EQ(otherChanges(), Lines{});
    const simkernel::Counters405 c = simkernel::counters405(a.state);
    EXPECT_EQ(c.reserve + c.release, 0u);
}

TEST_F(UpdaterRun, OldBuildUpToTheLimitGoesOn)
{
    // sysinfo rounds a started second up: 298 s at the start reads as at
    // most 300 s if the updater gets there within two seconds
    inst.build = 350;
    app.setUptime(298);
    const approot::RunResult r = run();
    EXPECT_EQ(r.status, 0) << syslogText();
    const simkernel::Counters405 c = simkernel::counters405(a.state);
    EXPECT_EQ(c.reserve + c.release, 0u);
}

// The simulated kernel's sysinfo reports the uptime to the second.
TEST_F(UpdaterRun, OldBuildUpExactly300SecondsGoesOn)
{
    inst.build = 350;
    simkernel::setUptime(a.state, 300);
    const approot::RunResult r = run();
    EXPECT_EQ(r.status, 0) << syslogText();
    EXPECT_FALSE(simkernel::opsMatching(a.state, {"op=sysinfo", "uptime=300"}).empty());
    EXPECT_FALSE(app.exists("/tmp/update.message"));
    EXPECT_EQ(a.lastProgress(), "R:0:        ");
    EXPECT_EQ(a.updateLog().back(), "Congratulation!! The update has been completed!!");
    EXPECT_FALSE(a.syslogHas(e2e::kFailPrefix));
    const simkernel::Counters405 c = simkernel::counters405(a.state);
    EXPECT_EQ(c.reserve + c.release, 0u);
    EXPECT_TRUE(flashTouched());
}

TEST_F(UpdaterRun, OldBuildUp301SecondsMustReboot)
{
    inst.build = 350;
    simkernel::setUptime(a.state, 301);
    const approot::RunResult r = run();
    EXPECT_EQ(r.status, 24);
    EXPECT_EQ(progressSeen(), (Lines{"A:0:", "A:10:", "A:100:", "A:-24:"}));
    EXPECT_EQ(app.readFile("/tmp/update.message"),
              "extramsg=\"To perform upgrade task, you have to REBOOT your Vexabox first.\"\n");
    EXPECT_FALSE(flashTouched());
    EXPECT_EQ(otherChanges(), Lines{});
    EXPECT_EQ(a.updateLog().back(), e2e::failed(24));
    EXPECT_TRUE(a.syslogHas(e2e::failed(24)));
    const simkernel::Counters405 c = simkernel::counters405(a.state);
    EXPECT_EQ(c.reserve + c.release, 0u);
}

TEST_F(UpdaterRun, UptimeIsNotAskedOnNewerBuilds)
{
    simkernel::setUptime(a.state, 100000);
    const approot::RunResult r = run();
    EXPECT_EQ(r.status, 0) << syslogText();
    EXPECT_TRUE(simkernel::opsMatching(a.state, {"op=sysinfo"}).empty());
}

class MtuRun : public UpdaterRun {
protected:
    void SetUp() override
    {
        UpdaterRun::SetUp();
        app.setEth0(9000, 1000);
        inst.extraDefaults = "supportMTU=\"Yes\"\n";
        inst.eth0Mtu = "9000";
    }
    // eth0 and eth0_mtu are 9000 again after the run, and the key was
    // written on the way (lowered, then put back).
    void expectPutBack() const
    {
        EXPECT_EQ(app.eth0MtuAfterRun(), 9000);
        EXPECT_EQ(app.readFile("/etc/vexainfo.conf"), confBefore);
        const std::vector<approot::Change> changes = app.changes();
        EXPECT_NE(std::find(changes.begin(), changes.end(), approot::Change{'M', "/etc/vexainfo.conf"}),
                  changes.end());
    }
    // eth0 ran at 1500 at every erase of the flash, and was put back.
    void expectLoweredForTheWriteAndPutBack() const
    {
        const Lines mtus = mtuAtErases();
        ASSERT_FALSE(mtus.empty());
        EXPECT_EQ(mtus, Lines(mtus.size(), "1500"));
        expectPutBack();
    }
    // eth0's MTU at every erase of the flash.
    Lines mtuAtErases() const
    {
        Lines out;
        for (const std::string &l : simkernel::opsMatching(a.state, {"req=MEMERASE"}))
            out.push_back(simkernel::opsField(l, "mtu"));
        return out;
    }
};

TEST_F(MtuRun, LoweredWhileTheFlashIsWrittenAndPutBack)
{
    const approot::RunResult r = run();
    ASSERT_EQ(r.status, 0) << syslogText();
    expectLoweredForTheWriteAndPutBack();
    // a gigabit link is given five seconds after each change: lowered, put back
    EXPECT_EQ(app.pauses(), Lines(2, "sleep 5.000000000"));
}

TEST_F(MtuRun, PutBackAfterAFailedWrite)
{
    simkernel::addFault(a.state, "fail write dev=mtd1 proc=updater always");
    const approot::RunResult r = run();
    ASSERT_EQ(r.status, 20) << syslogText();
    expectLoweredForTheWriteAndPutBack();
}

TEST_F(MtuRun, PutBackAfterARefusedReservation)
{
    // lowered before the reservation is asked, so it must go back
    simkernel::set405Answer(a.state, EPERM);
    const approot::RunResult r = run();
    ASSERT_EQ(r.status, 23) << syslogText();
    EXPECT_TRUE(mtuAtErases().empty());
    expectPutBack();
}

TEST_F(MtuRun, AlreadyAt1500NothingIsTouched)
{
    inst.eth0Mtu = "1500";
    const approot::RunResult r = run();
    ASSERT_EQ(r.status, 0) << syslogText();
    const Lines mtus = mtuAtErases();
    ASSERT_FALSE(mtus.empty());
    EXPECT_EQ(mtus, Lines(mtus.size(), "9000"));
    EXPECT_EQ(app.eth0MtuAfterRun(), 9000);
    EXPECT_EQ(app.readFile("/etc/vexainfo.conf"), confBefore);
    for (const approot::Change &c : app.changes())
        EXPECT_NE(c.path, "/etc/vexainfo.conf");
}

TEST_F(MtuRun, WithoutSupportNothingIsTouched)
{
    inst.extraDefaults = "supportMTU=\"no\"\n";
    const approot::RunResult r = run();
    ASSERT_EQ(r.status, 0) << syslogText();
    const Lines mtus = mtuAtErases();
    ASSERT_FALSE(mtus.empty());
    EXPECT_EQ(mtus, Lines(mtus.size(), "9000"));
    EXPECT_EQ(app.readFile("/etc/vexainfo.conf"), confBefore);
}
