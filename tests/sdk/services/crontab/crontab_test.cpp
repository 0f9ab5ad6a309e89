// Crontab schedules inside an appliance root, with a cron daemon stand-in
// that counts the reload signals.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "approot.h"
#include "base/err/vral_err.h"
#include "crond_standin.h"
#include "root_probe.h"
#include "services/crontab/vexa_crontab.h"

namespace {

using vexatest::probe::hex;
using vexatest::probe::num;
using vexatest::probe::say;
using Lines = std::vector<std::string>;

std::string scheduleText(const VEXASCHEDULE &s)
{
    return std::to_string(s.wdayMask) + " " + std::to_string(s.hourFirst) + "-" + std::to_string(s.hourLast) + "/" +
           std::to_string(s.hourInterval) + " :" + std::to_string(s.minute) + " x" + std::to_string(s.runsPerDay) +
           " " + s.szCmd;
}

// Operations: crond, hups, pidfile TEXT ("PID" stands for the stand-in's
// pid), nopidfile, rmtab, set MASK FIRST INTERVAL LAST MINUTE CMD, setlong N (a command of N
// bytes), setfull (a command filling its field), get CMD, remove CMD,
// update CMD LINE|-.
int probe(vexatest::probe::Ops next)
{
    vexatest::CrondStandIn crond;
    while (next.more()) {
        const std::string op = next();
        if (op == "crond") {
            if (!crond.start(CRONDSTUB_PATH))
                return 91;
        } else if (op == "hups") {
            say(crond.hups());
        } else if (op == "pidfile") {
            std::string text = next();
            const size_t at = text.find("PID");
            if (at != std::string::npos)
                text.replace(at, 3, std::to_string(crond.pid()));
            FILE *fp = fopen("/var/run/crond.pid", "w");
            if (fp == nullptr || fputs(text.c_str(), fp) < 0 || fclose(fp) != 0)
                return 93;
        } else if (op == "nopidfile" || op == "rmtab") {
            if (unlink(op == "rmtab" ? "/etc/crontab" : "/var/run/crond.pid") != 0)
                return 93;
        } else if (op == "set" || op == "setlong" || op == "setfull") {
            VEXASCHEDULE s{};
            s.wdayMask = 127;
            s.hourFirst = s.hourLast = 3;
            if (op == "set") {
                s.wdayMask = num(next());
                s.hourFirst = num(next());
                s.hourInterval = num(next());
                s.hourLast = num(next());
                s.minute = num(next());
                snprintf(s.szCmd, sizeof s.szCmd, "%s", next().c_str());
            } else if (op == "setlong") {
                memset(s.szCmd, 'x', static_cast<size_t>(num(next())));
            } else {
                memset(s.szCmd, 'x', sizeof s.szCmd);
            }
            say(vexatest::probe::result("set", VEXAScheduleSet(&s)));
        } else if (op == "get") {
            VEXASCHEDULE s{};
            const int r = VEXAScheduleGet(next().c_str(), &s);
            say(vexatest::probe::result("get", r) + (r == 0 ? " " + hex(VRALErrGet()) : "") +
                (r > 0 ? " " + scheduleText(s) : ""));
        } else if (op == "remove") {
            say(vexatest::probe::result("remove", VEXAScheduleRemove(next().c_str())));
        } else if (op == "update") {
            const std::string cmd = next();
            const std::string line = next();
            say(vexatest::probe::result("update", VEXAUpdateCrontab(cmd.c_str(), vexatest::probe::orNull(line))));
        } else {
            return 92;
        }
    }
    return 0;
}

VEXATEST_ROOT_PROBE(probe)

// What cron makes of a line of the system crontab, read here as
// crontab(5) tells it, not with the code under test: five time fields, the
// user, then the command up to its first unescaped "%" ("\%" is a "%");
// what follows that "%" goes to the command's input.
struct CronJob {
    bool valid = false;
    std::string user;
    std::string command;
    std::string input;
};

bool cronFieldValid(const std::string &field, int lo, int hi)
{
    auto number = [&](const std::string &t, int *v) {
        if (t.empty() || t.size() > 2 || t.find_first_not_of("0123456789") != std::string::npos)
            return false;
        *v = std::stoi(t);
        return *v >= lo && *v <= hi;
    };
    size_t at = 0;
    while (true) {
        const size_t comma = field.find(',', at);
        std::string item = field.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        const size_t slash = item.find('/');
        if (slash != std::string::npos) {
            int step = 0;
            if (!number(item.substr(slash + 1), &step) || step == 0)
                return false;
            item.resize(slash);
        }
        const size_t dash = item.find('-');
        int a = 0;
        int b = 0;
        if (item == "*") {
        } else if (dash != std::string::npos) {
            if (!number(item.substr(0, dash), &a) || !number(item.substr(dash + 1), &b) || a > b)
                return false;
        } else if (!number(item, &a) || slash != std::string::npos) {
            return false;
        }
        if (comma == std::string::npos)
            return true;
        at = comma + 1;
    }
}

CronJob cronRead(const std::string &line)
{
    CronJob job;
    static const struct {
        int lo, hi;
    } kRanges[5] = {{0, 59}, {0, 23}, {1, 31}, {1, 12}, {0, 7}};
    size_t at = 0;
    auto field = [&]() {
        at = line.find_first_not_of(" \t", at);
        if (at == std::string::npos)
            return std::string();
        const size_t end = line.find_first_of(" \t", at);
        std::string f = line.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? line.size() : end;
        return f;
    };
    for (const auto &r : kRanges) {
        if (!cronFieldValid(field(), r.lo, r.hi))
            return job;
    }
    job.user = field();
    at = line.find_first_not_of(" \t", at);
    if (job.user.empty() || at == std::string::npos)
        return job;
    std::string *into = &job.command;
    for (size_t i = at; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '%') {
            *into += '%';
            ++i;
        } else if (line[i] == '%') {
            if (into == &job.input)
                *into += '\n';
            into = &job.input;
        } else {
            *into += line[i];
        }
    }
    job.valid = true;
    return job;
}

// Every job line of the crontab (no comment, no variable) as cron reads it.
std::vector<CronJob> cronJobs(const std::string &tab)
{
    std::vector<CronJob> jobs;
    size_t at = 0;
    while (at < tab.size()) {
        const size_t nl = tab.find('\n', at);
        const std::string line = tab.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
        at = nl == std::string::npos ? tab.size() : nl + 1;
        if (line.empty() || line[0] == '#' || line.find('=') < line.find_first_of(" \t"))
            continue;
        jobs.push_back(cronRead(line));
    }
    return jobs;
}

// The crontab holds exactly one job, and cron runs it as cmd, as root.
void expectOneJob(const std::string &tab, const std::string &cmd)
{
    const std::vector<CronJob> jobs = cronJobs(tab);
    ASSERT_EQ(jobs.size(), 1u) << tab;
    EXPECT_TRUE(jobs[0].valid) << tab;
    EXPECT_EQ(jobs[0].user, "root");
    EXPECT_EQ(jobs[0].command, cmd);
    EXPECT_EQ(jobs[0].input, "");
}

constexpr char kTab[] = "# m h dom mon dow user command\nSHELL=/bin/sh\n";
constexpr char kJob[] = "/usr/vexa/bin/job";

class CrontabRoot : public ::testing::Test {
protected:
    approot::Appliance app{"crontab"};

    void SetUp() override
    {
        app.mkdir("/var/run");
        app.setEnv("LD_PRELOAD", CRONDSYNC_PATH);
        app.writeFile("/etc/crontab", kTab);
    }

    Lines run(const Lines &ops) { return vexatest::probe::run(app, ops); }

    bool logged(const std::string &part) const
    {
        for (const std::string &m : app.syslog()) {
            if (m.find(part) != std::string::npos)
                return true;
        }
        return false;
    }

    // Only the stand-in's pid file changed.
    void expectCrontabUntouched(const std::string &tab = kTab)
    {
        EXPECT_EQ(app.readFile("/etc/crontab"), tab);
        for (const approot::Change &c : app.changes())
            EXPECT_EQ(c.path, "/var/run/crond.pid") << c.kind;
    }
};

struct RoundTrip {
    const char *name;
    Lines record;      // mask first interval last minute
    const char *line;  // as written, the command appended
    const char *read;  // as read back
};

void PrintTo(const RoundTrip &c, std::ostream *os)
{
    *os << c.name;
}

class CrontabRoundTrip : public CrontabRoot, public ::testing::WithParamInterface<RoundTrip> { };

TEST_P(CrontabRoundTrip, RecordToLineAndBack)
{
    const RoundTrip &c = GetParam();
    Lines ops = {"crond", "set"};
    ops.insert(ops.end(), c.record.begin(), c.record.end());
    ops.insert(ops.end(), {kJob, "hups", "get", kJob});
    EXPECT_EQ(run(ops), (Lines{"set 0", "hups 1", std::string("get 1 ") + c.read + " " + kJob}));
    EXPECT_EQ(app.readFile("/etc/crontab"), std::string(kTab) + c.line + kJob + "\n");
    expectOneJob(app.readFile("/etc/crontab"), kJob);
}

INSTANTIATE_TEST_SUITE_P(Cases, CrontabRoundTrip,
                         ::testing::Values(RoundTrip{.name = "every_day_once",
                                                     .record = {"127", "3", "0", "3", "30"},
                                                     .line = "30\t3\t*\t*\t*\troot\t",
                                                     .read = "127 3-3/0 :30 x1"},
                                           RoundTrip{.name = "odd_days_every_four_hours",
                                                     .record = {"0x2A", "8", "4", "20", "0"},
                                                     .line = "0\t8-20/4\t*\t*\t1,3,5\troot\t",
                                                     .read = "42 8-20/4 :0 x4"},
                                           RoundTrip{.name = "first_equals_last_with_interval",
                                                     .record = {"0x41", "6", "5", "6", "59"},
                                                     .line = "59\t6\t*\t*\t0,6\troot\t",
                                                     .read = "65 6-6/0 :59 x1"}),
                         [](const auto &info) { return std::string(info.param.name); });

// Bit 7 has no weekday: it is dropped, not written as a second Sunday.
TEST_F(CrontabRoot, WeekdayBitsAboveSaturdayAreNotWritten)
{
    EXPECT_EQ(run({"set", "0x81", "0", "0", "0", "0", kJob}), Lines{"set 0"});
    EXPECT_EQ(app.readFile("/etc/crontab"), std::string(kTab) + "0\t0\t*\t*\t0\troot\t" + kJob + "\n");
}

struct Refused {
    const char *name;
    Lines ops;
    const char *tab = kTab;  // the crontab before and after
};

void PrintTo(const Refused &c, std::ostream *os)
{
    *os << c.name;
}

class CrontabRefused : public CrontabRoot, public ::testing::WithParamInterface<Refused> { };

TEST_P(CrontabRefused, LeavesTheFileAndTheDaemonAlone)
{
    app.writeFile("/etc/crontab", GetParam().tab);
    Lines ops = {"crond"};
    ops.insert(ops.end(), GetParam().ops.begin(), GetParam().ops.end());
    ops.push_back("hups");
    const Lines out = run(ops);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].substr(out[0].find(' ') + 1), "-1 0x0D00");
    EXPECT_EQ(out[1], "hups 0");
    expectCrontabUntouched(GetParam().tab);
}

// Lines are matched with their line break: "t\n" would name the job
// ending in "t", "t\r" the one ending in "t" on a CRLF line.
constexpr char kJobsEndingInT[] = "# m h dom mon dow user command\nSHELL=/bin/sh\n"
                                  "0\t1\t*\t*\t*\troot\t/bin/out\r\n0\t2\t*\t*\t*\troot\t/bin/cat\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, CrontabRefused,
    ::testing::Values(Refused{.name = "no_weekday", .ops = {"set", "0", "3", "0", "3", "0", kJob}},
                      Refused{.name = "only_bit_seven", .ops = {"set", "0x80", "3", "0", "3", "0", kJob}},
                      Refused{.name = "hour_24", .ops = {"set", "127", "24", "0", "24", "0", kJob}},
                      Refused{.name = "interval_24", .ops = {"set", "127", "0", "24", "23", "0", kJob}},
                      Refused{.name = "first_above_last", .ops = {"set", "127", "9", "1", "8", "0", kJob}},
                      Refused{.name = "minute_60", .ops = {"set", "127", "3", "0", "3", "60", kJob}},
                      Refused{.name = "minute_negative", .ops = {"set", "127", "3", "0", "3", "-1", kJob}},
                      Refused{.name = "empty_command", .ops = {"set", "127", "3", "0", "3", "0", ""}},
                      Refused{.name = "command_with_lf",
                              .ops = {"set", "127", "3", "0", "3", "0", "/bin/true\n* * * * * root /bin/evil"}},
                      Refused{.name = "command_with_cr", .ops = {"set", "127", "3", "0", "3", "0", "/bin/true\r"}},
                      Refused{.name = "line_over_1024_bytes", .ops = {"setlong", "1010"}},
                      Refused{.name = "command_without_terminator", .ops = {"setfull"}},
                      // an empty command matches the first line that is no comment
                      Refused{.name = "get_empty", .ops = {"get", ""}},
                      Refused{.name = "remove_empty", .ops = {"remove", ""}},
                      Refused{.name = "update_empty", .ops = {"update", "", "-"}},
                      Refused{.name = "update_empty_with_line", .ops = {"update", "", "x"}},
                      Refused{.name = "get_lf", .ops = {"get", "t\n"}, .tab = kJobsEndingInT},
                      Refused{.name = "get_cr", .ops = {"get", "t\r"}, .tab = kJobsEndingInT},
                      Refused{.name = "remove_lf", .ops = {"remove", "t\n"}, .tab = kJobsEndingInT},
                      Refused{.name = "remove_cr", .ops = {"remove", "t\r"}, .tab = kJobsEndingInT},
                      Refused{.name = "update_delete_lf", .ops = {"update", "t\n", "-"}, .tab = kJobsEndingInT},
                      Refused{.name = "update_replace_cr",
                              .ops = {"update", "t\r", "0\t3\t*\t*\t*\troot\tx"},
                              .tab = kJobsEndingInT},
                      // no crontab line makes cron run a command holding "\%"
                      Refused{.name = "escaped_percent", .ops = {"set", "127", "3", "0", "3", "0", "date +\\%Y"}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(CrontabRoot, LongestCommandThatFitsIsWritten)
{
    // "0\t3\t*\t*\t*\troot\t" is 15 bytes: 1008 more fill the line buffer
    EXPECT_EQ(run({"crond", "setlong", "1008", "hups"}), (Lines{"set 0", "hups 1"}));
    EXPECT_EQ(app.readFile("/etc/crontab"),
              std::string(kTab) + "0\t3\t*\t*\t*\troot\t" + std::string(1008, 'x') + "\n");
}

struct Parse {
    const char *name;
    const char *line;
    const char *result;  // after "get "
    const char *log;     // a message that must be logged, or ""
};

void PrintTo(const Parse &c, std::ostream *os)
{
    *os << c.name;
}

class CrontabParse : public CrontabRoot, public ::testing::WithParamInterface<Parse> { };

TEST_P(CrontabParse, ReadsTheLine)
{
    const Parse &c = GetParam();
    app.writeFile("/etc/crontab", std::string(kTab) + c.line + "\n");
    EXPECT_EQ(run({"get", kJob}), Lines{std::string("get ") + c.result});
    if (c.log[0] != '\0') {
        EXPECT_TRUE(logged(c.log)) << c.log;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, CrontabParse,
                         ::testing::Values(Parse{.name = "sunday_as_0_and_7",
                                                 .line = "5\t1\t*\t*\t0,7\troot\t/usr/vexa/bin/job",
                                                 .result = "1 1 1-1/0 :5 x1 /usr/vexa/bin/job",
                                                 .log = ""},
                                           Parse{.name = "day_twice_is_one_day",
                                                 .line = "5\t1\t*\t*\t1,1\troot\t/usr/vexa/bin/job",
                                                 .result = "1 2 1-1/0 :5 x1 /usr/vexa/bin/job",
                                                 .log = ""},
                                           Parse{.name = "day_9_skipped",
                                                 .line = "5\t1\t*\t*\t9,2\troot\t/usr/vexa/bin/job",
                                                 .result = "1 4 1-1/0 :5 x1 /usr/vexa/bin/job",
                                                 .log = "VEXAScheduleGet("},
                                           Parse{.name = "range_every_3",
                                                 .line = "0\t2-23/3\t*\t*\t*\troot\t/usr/vexa/bin/job -a \"Set\"",
                                                 .result = "1 127 2-23/3 :0 x8 /usr/vexa/bin/job",
                                                 .log = ""},
                                           Parse{.name = "range_without_step",
                                                 .line = "0\t1-5\t*\t*\t*\troot\t/usr/vexa/bin/job",
                                                 .result = "-1 0x4000",
                                                 .log = "hour field format error. : 1-5"},
                                           Parse{.name = "first_above_last",
                                                 .line = "0\t20-8/4\t*\t*\t*\troot\t/usr/vexa/bin/job",
                                                 .result = "-1 0x4000",
                                                 .log = "hour field exceeded. : 20-8/4"},
                                           Parse{.name = "hour_24",
                                                 .line = "0\t24\t*\t*\t*\troot\t/usr/vexa/bin/job",
                                                 .result = "-1 0x4000",
                                                 .log = "hour field exceeded. : 24"},
                                           Parse{.name = "hour_field_20_chars",
                                                 .line = "0\t1-2/1,1-2/1,1-2/1,12\t*\t*\t*\troot\t/usr/vexa/bin/job",
                                                 .result = "-1 0x4000",
                                                 .log = "is too long"},
                                           Parse{.name = "weekday_field_20_chars",
                                                 .line = "0\t1\t*\t*\t0,1,2,3,4,5,6,0,1,2,\troot\t/usr/vexa/bin/job",
                                                 .result = "-1 0x4000",
                                                 .log = "is too long"},
                                           Parse{.name = "weekday_field_19_chars",
                                                 .line = "0\t1\t*\t*\t0,1,2,3,4,5,6,0,1,2\troot\t/usr/vexa/bin/job",
                                                 .result = "1 127 1-1/0 :0 x1 /usr/vexa/bin/job",
                                                 .log = ""},
                                           Parse{.name = "user_job_line",
                                                 .line = "0\t1\t*\t*\t*\t/usr/vexa/bin/job",
                                                 .result = "-1 0x4000",
                                                 .log = "not a root job line"},
                                           Parse{.name = "commented_out",
                                                 .line = "#0\t1\t*\t*\t*\troot\t/usr/vexa/bin/job",
                                                 .result = "0 0x2000",
                                                 .log = ""}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(CrontabRoot, GetWithoutCrontabFails)
{
    app.writeFile("/etc/crontab", "");
    EXPECT_EQ(run({"get", kJob}), Lines{"get 0 0x2000"});
    EXPECT_EQ(run({"rmtab", "get", kJob}), Lines{"get -1 0x0900"});
    EXPECT_TRUE(logged("VEXAScheduleGet"));
}

TEST_F(CrontabRoot, SettingTwiceLeavesOneLine)
{
    app.writeFile("/etc/crontab",
                  std::string(kTab) + "0\t1\t*\t*\t*\troot\t/usr/vexa/bin/job\n1\t1\t*\t*\t*\troot\t/bin/other");
    EXPECT_EQ(run({"crond", "set", "2", "4", "0", "4", "10", kJob, "set", "4", "5", "0", "5", "11", kJob, "hups"}),
              (Lines{"set 0", "set 0", "hups 2"}));
    EXPECT_EQ(app.readFile("/etc/crontab"),
              std::string(kTab) + "11\t5\t*\t*\t2\troot\t/usr/vexa/bin/job\n1\t1\t*\t*\t*\troot\t/bin/other");
}

// A job is found by its command anywhere in a line: a longer command that
// holds it and comes first is the line replaced.
TEST_F(CrontabRoot, CommandInsideAnotherJobsCommandMatchesThatLine)
{
    app.writeFile("/etc/crontab", std::string(kTab) + "0\t1\t*\t*\t*\troot\t/usr/vexa/bin/job-extra\n" +
                                      "0\t1\t*\t*\t*\troot\t/usr/vexa/bin/job\n");
    EXPECT_EQ(run({"crond", "set", "127", "2", "0", "2", "0", kJob, "hups"}), (Lines{"set 0", "hups 1"}));
    EXPECT_EQ(app.readFile("/etc/crontab"), std::string(kTab) + "0\t2\t*\t*\t*\troot\t/usr/vexa/bin/job\n" +
                                                "0\t1\t*\t*\t*\troot\t/usr/vexa/bin/job\n");
}

TEST_F(CrontabRoot, AppendAfterUnterminatedLastLineEndsItFirst)
{
    app.writeFile("/etc/crontab", "1\t1\t*\t*\t*\troot\t/bin/other");
    EXPECT_EQ(run({"crond", "set", "127", "2", "0", "2", "0", kJob, "hups"}), (Lines{"set 0", "hups 1"}));
    EXPECT_EQ(app.readFile("/etc/crontab"),
              "1\t1\t*\t*\t*\troot\t/bin/other\n0\t2\t*\t*\t*\troot\t/usr/vexa/bin/job\n");
}

TEST_F(CrontabRoot, ExistingLineOf128BytesIsNotReplaced)
{
    const std::string tab =
        std::string(kTab) + "0\t1\t*\t*\t*\troot\t/usr/vexa/bin/job " + std::string(100, 'a') + "\n";
    app.writeFile("/etc/crontab", tab);
    EXPECT_EQ(run({"crond", "set", "127", "2", "0", "2", "0", kJob, "hups"}), (Lines{"set -1 0x0100", "hups 0"}));
    EXPECT_EQ(app.readFile("/etc/crontab"), tab);
    EXPECT_TRUE(logged("Failed to get line in crontab (0x100)"));
}

TEST_F(CrontabRoot, RemoveDeletesTheFirstMatchingLine)
{
    app.writeFile("/etc/crontab",
                  std::string(kTab) +
                      "#0\t1\t*\t*\t*\troot\t/usr/vexa/bin/job\r\n0\t1\t*\t*\t*\troot\t/usr/vexa/bin/job\n"
                      "0\t2\t*\t*\t*\troot\t/usr/vexa/bin/job\nlast");
    EXPECT_EQ(run({"crond", "remove", kJob, "hups"}), (Lines{"remove 0", "hups 1"}));
    EXPECT_EQ(app.readFile("/etc/crontab"), std::string(kTab) + "#0\t1\t*\t*\t*\troot\t/usr/vexa/bin/job\r\n"
                                                                "0\t2\t*\t*\t*\troot\t/usr/vexa/bin/job\nlast");
}

TEST_F(CrontabRoot, RemovingAnAbsentJobSucceedsAndSignals)
{
    EXPECT_EQ(run({"crond", "remove", kJob, "hups"}), (Lines{"remove 0", "hups 1"}));
    expectCrontabUntouched();
}

struct PidFile {
    const char *name;
    const char *text;  // "PID" is the stand-in's pid; nullptr: no file
    const char *hups;
};

void PrintTo(const PidFile &c, std::ostream *os)
{
    *os << c.name;
}

class CrontabReload : public CrontabRoot, public ::testing::WithParamInterface<PidFile> { };

// Only a plain decimal pid above 1 is signalled; anything else is logged and
// the edit still succeeds.  "-1" would reach every process (the probe too).
TEST_P(CrontabReload, SignalsOnlyAPlainPid)
{
    const PidFile &c = GetParam();
    Lines ops = {"crond"};
    if (c.text != nullptr)
        ops.insert(ops.end(), {"pidfile", c.text});
    else
        ops.push_back("nopidfile");
    ops.insert(ops.end(), {"remove", kJob, "hups"});
    const Lines out = run(ops);
    EXPECT_EQ(out, (Lines{"remove 0", c.hups}));
    EXPECT_EQ(logged("Failed to hup crond"), std::string(c.hups) == "hups 0");
}

INSTANTIATE_TEST_SUITE_P(Cases, CrontabReload,
                         ::testing::Values(PidFile{.name = "with_newline", .text = "PID\n", .hups = "hups 1"},
                                           PidFile{.name = "without_newline", .text = "PID", .hups = "hups 1"},
                                           PidFile{.name = "leading_zero", .text = "0PID\n", .hups = "hups 1"},
                                           PidFile{.name = "minus_one", .text = "-1\n", .hups = "hups 0"},
                                           PidFile{.name = "one", .text = "1\n", .hups = "hups 0"},
                                           PidFile{.name = "zero", .text = "0\n", .hups = "hups 0"},
                                           PidFile{.name = "plus", .text = "+PID\n", .hups = "hups 0"},
                                           PidFile{.name = "blank_first", .text = " PID\n", .hups = "hups 0"},
                                           PidFile{.name = "trailing_text", .text = "PIDx\n", .hups = "hups 0"},
                                           PidFile{.name = "two_lines", .text = "PID\nPID\n", .hups = "hups 0"},
                                           PidFile{.name = "too_large", .text = "99999999999\n", .hups = "hups 0"},
                                           PidFile{.name = "empty", .text = "", .hups = "hups 0"},
                                           PidFile{.name = "missing", .text = nullptr, .hups = "hups 0"}),
                         [](const auto &info) { return std::string(info.param.name); });

// The reader above knows cron's rule.
TEST(CronReader, AppliesThePercentRule)
{
    const CronJob job = cronRead("0\t1-5/2\t*\t*\t1,3\troot\techo a\\%b%in%put");
    EXPECT_TRUE(job.valid);
    EXPECT_EQ(job.user, "root");
    EXPECT_EQ(job.command, "echo a%b");
    EXPECT_EQ(job.input, "in\nput");
    EXPECT_FALSE(cronRead("60\t1\t*\t*\t*\troot\tx").valid);
    EXPECT_FALSE(cronRead("0\t1-5\t*\t*\t9\troot\tx").valid);
    EXPECT_FALSE(cronRead("0\t1\t*\t*\t*\troot").valid);
}

constexpr char kTar[] = "tar czf /b/etc-$(date +%Y%m%d).tgz /etc";
constexpr char kTarLine[] = "tar czf /b/etc-$(date +\\%Y\\%m\\%d).tgz /etc";

using CrontabPercent = CrontabRoot;

TEST_F(CrontabPercent, CronRunsTheCommandAsSet)
{
    EXPECT_EQ(run({"crond", "set", "127", "3", "0", "3", "30", kTar, "hups", "get", kTar}),
              (Lines{"set 0", "hups 1", "get 1 127 3-3/0 :30 x1 tar"}));
    EXPECT_EQ(app.readFile("/etc/crontab"), std::string(kTab) + "30\t3\t*\t*\t*\troot\t" + kTarLine + "\n");
    expectOneJob(app.readFile("/etc/crontab"), kTar);

    EXPECT_EQ(run({"crond", "set", "0x2A", "8", "4", "20", "5", kTar, "hups"}), (Lines{"set 0", "hups 1"}));
    EXPECT_EQ(app.readFile("/etc/crontab"), std::string(kTab) + "5\t8-20/4\t*\t*\t1,3,5\troot\t" + kTarLine + "\n");
    expectOneJob(app.readFile("/etc/crontab"), kTar);

    EXPECT_EQ(run({"crond", "remove", kTar, "hups"}), (Lines{"remove 0", "hups 1"}));
    EXPECT_EQ(app.readFile("/etc/crontab"), kTab);
}

// The first word comes back as cron runs it.
TEST_F(CrontabPercent, GetUnescapesTheCommand)
{
    const char kCmd[] = "/usr/vexa/bin/job%1 -a";
    EXPECT_EQ(run({"set", "127", "3", "0", "3", "0", kCmd, "get", kCmd}),
              (Lines{"set 0", "get 1 127 3-3/0 :0 x1 /usr/vexa/bin/job%1"}));
    EXPECT_EQ(app.readFile("/etc/crontab"), std::string(kTab) + "0\t3\t*\t*\t*\troot\t/usr/vexa/bin/job\\%1 -a\n");
    expectOneJob(app.readFile("/etc/crontab"), kCmd);
}

// A line written before "%" was escaped is still the job's line.
TEST_F(CrontabPercent, OlderUnescapedLineIsTheJobsLine)
{
    const std::string older = std::string(kTab) + "0\t1\t*\t*\t*\troot\t" + kTar + "\n";
    app.writeFile("/etc/crontab", older);
    EXPECT_EQ(run({"get", kTar}), Lines{"get 1 127 1-1/0 :0 x1 tar"});
    EXPECT_EQ(run({"crond", "set", "127", "2", "0", "2", "0", kTar, "hups"}), (Lines{"set 0", "hups 1"}));
    EXPECT_EQ(app.readFile("/etc/crontab"), std::string(kTab) + "0\t2\t*\t*\t*\troot\t" + kTarLine + "\n");
    expectOneJob(app.readFile("/etc/crontab"), kTar);

    app.writeFile("/etc/crontab", older);
    EXPECT_EQ(run({"crond", "remove", kTar, "hups"}), (Lines{"remove 0", "hups 1"}));
    EXPECT_EQ(app.readFile("/etc/crontab"), kTab);
}

}  // namespace
