// The binary log files inside the appliance root, read back with a reader
// of the test's own: layout, wrapping, shrinking, damaged logs, limits,
// the configuration file and the recorded user name.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "failcall.h"
#include "log_reader.h"
#include "root_probe.h"
#include "services/log/vexa_log.h"

namespace {

using Lines = std::vector<std::string>;
using logtest::readLog;
constexpr char kSys[] = "/var/log/vexasys.log";
constexpr char kProgram[] = "test_sdk_services_log";

std::string fileBytes(const char *path)
{
    std::string s;
    const int fd = open(path, O_RDONLY);
    if (fd < 0)
        return s;
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        s.append(buf, static_cast<size_t>(n));
    close(fd);
    return s;
}

const char *text(const std::string &t)
{
    return t == "NULL" ? nullptr : t.c_str();
}

// Writes n events numbered from 0 with random padding, reading the log
// back after every one: the file stays within the limit and holds a run of
// the newest events, oldest first, each once.
std::string many(int n, uint32_t limit, uint32_t padMax, unsigned seed)
{
    std::mt19937 rng(seed);
    int wraps = 0;
    bool wasWrapped = false;
    size_t lastSurvivors = 0;
    for (int i = 0; i < n; ++i) {
        const std::string seq = std::to_string(i);
        const std::string pad(rng() % padMax, static_cast<char>('a' + i % 26));
        if (VEXALogSet(1, 1, 7, seq.c_str(), pad.c_str(), "", nullptr) != 0)
            return "write " + seq + " failed";
        const std::string bytes = fileBytes(kSys);
        const logtest::Log log = readLog(bytes);
        if (!log.error.empty())
            return "after " + seq + ": " + log.error;
        if (bytes.size() > limit)
            return "after " + seq + ": size " + std::to_string(bytes.size());
        if (log.records.empty() || log.records.back().texts[0] != seq)
            return "after " + seq + ": newest missing";
        for (size_t k = 0; k < log.records.size(); ++k) {
            const int want = i - static_cast<int>(log.records.size() - 1 - k);
            if (log.records[k].texts[0] != std::to_string(want) || log.records[k].texts[1].size() >= padMax)
                return "after " + seq + ": record " + std::to_string(k) + " is " + log.records[k].texts[0];
        }
        if (log.wrapped && !wasWrapped)
            ++wraps;
        wasWrapped = log.wrapped;
        lastSurvivors = log.records.size();
    }
    return "ok wraps>10 " + std::to_string(wraps > 10) + " survivors>3 " + std::to_string(lastSurvivors > 3);
}

// Events in batches to a log the limit of which goes down and up between
// them, read back after every one: the chain is followed, the newest last,
// each event once and in order; once two limits' worth of records went in
// under a new limit, every record lies below it.
std::string churn(unsigned seed)
{
    static const uint32_t kLimits[] = {16384, 4096, 9000, 65536, 5000, 12000, 4096, 30000};
    const char *path = "/var/log/churn.log";
    std::mt19937 rng(seed);
    int seq = 0;
    size_t wrapped = 0;
    for (uint32_t limit : kLimits) {
        FILE *conf = fopen(VEXA_LOG_CONF, "we");
        fprintf(conf, "syslogfile=\"%s\"\nsyslogfilesize_MAX=\"%u\"\n", path, limit);
        fclose(conf);
        uint64_t sinceChange = 0;
        for (int i = 0; i < 150; ++i, ++seq) {
            const std::string text = std::to_string(seq);
            const std::string pad(rng() % 700, 'p');
            if (VEXALogSet(1, 1, 7, text.c_str(), pad.c_str(), nullptr, nullptr) != 0)
                return "write " + text + " failed";
            const logtest::Log log = readLog(fileBytes(path));
            if (!log.error.empty())
                return "after " + text + ": " + log.error;
            wrapped += log.wrapped;
            if (log.records.empty() || log.records.back().texts[0] != text)
                return "after " + text + ": newest missing";
            for (size_t k = 0; k < log.records.size(); ++k)
                if (log.records[k].texts[0] != std::to_string(seq - static_cast<int>(log.records.size() - 1 - k)))
                    return "after " + text + ": record " + std::to_string(k) + " is " + log.records[k].texts[0];
            sinceChange += log.records.back().length;
            for (const logtest::Record &r : log.records)
                if (sinceChange >= 2 * limit && r.offset + r.length + 2 > limit)
                    return "after " + text + ": record at " + std::to_string(r.offset) + " past " +
                           std::to_string(limit);
        }
    }
    return "churn ok wrapped " + std::to_string(wrapped > 100);
}

const std::map<std::string, failcall::Call> &kCalls()
{
    static const std::map<std::string, failcall::Call> table = {{"fsync", failcall::Call::Fsync},
                                                                 {"fchown", failcall::Call::Fchown},
                                                                 {"fchmod", failcall::Call::Fchmod},
                                                                 {"fclose", failcall::Call::Fclose}};
    return table;
}

// set CLASS T1 T2 T3 T4 | big CLASS LEN | change MAX CLASS | many N LIMIT
// PADMAX | tmpfs | limit | rmconf | fill CLASS COUNT PAD | churn SEED |
// umask OCTAL | fsize BYTES | fail CALL (on the settings file's copy)
int probe(std::vector<std::string> ops)
{
    for (size_t i = 0; i < ops.size(); ++i) {
        const std::string &op = ops[i];
        if (op == "set") {
            const int cls = atoi(ops[i + 1].c_str());
            const int r = VEXALogSet(cls, 0x10001, 0x11800E02, text(ops[i + 2]), text(ops[i + 3]), text(ops[i + 4]),
                                     text(ops[i + 5]));
            i += 5;
            vexatest::probe::say("set " + std::to_string(r));
        } else if (op == "big") {
            const std::string t(static_cast<size_t>(atoi(ops[i + 2].c_str())), 'b');
            const int r = VEXALogSet(atoi(ops[i + 1].c_str()), 1, 1, t.c_str(), nullptr, nullptr, nullptr);
            i += 2;
            vexatest::probe::say("big " + std::to_string(r));
        } else if (op == "change") {
            const int r = VEXALogChangeSize(atoi(ops[i + 1].c_str()), atoi(ops[i + 2].c_str()));
            i += 2;
            vexatest::probe::say("change " + std::to_string(r));
        } else if (op == "many") {
            vexatest::probe::say(many(atoi(ops[i + 1].c_str()), static_cast<uint32_t>(atoi(ops[i + 2].c_str())),
                                      static_cast<uint32_t>(atoi(ops[i + 3].c_str())), 13));
            i += 3;
        } else if (op == "tmpfs") {
            // The log folder in memory, inside this root's own mounts: the
            // writer's syncs then cost nothing.
            if (mount("tmpfs", "/var/log", "tmpfs", 0, nullptr) != 0)
                vexatest::probe::say("mount failed");
        } else if (op == "limit") {
            vexatest::probe::say("limit " + std::to_string(gLogSizeLimit));
        } else if (op == "rmconf") {
            unlink(VEXA_LOG_CONF);
        } else if (op == "fill") {
            const int cls = atoi(ops[i + 1].c_str());
            const int count = atoi(ops[i + 2].c_str());
            const std::string pad(static_cast<size_t>(atoi(ops[i + 3].c_str())), 'f');
            i += 3;
            int k = 0;
            while (k < count && VEXALogSet(cls, 1, 7, std::to_string(k).c_str(), pad.c_str(), nullptr, nullptr) == 0)
                ++k;
            vexatest::probe::say("fill " + std::to_string(k));
        } else if (op == "churn") {
            if (mount("tmpfs", "/var/log", "tmpfs", 0, nullptr) != 0)
                vexatest::probe::say("mount failed");
            vexatest::probe::say(churn(static_cast<unsigned>(atoi(ops[++i].c_str()))));
        } else if (op == "umask") {
            umask(static_cast<mode_t>(strtol(ops[++i].c_str(), nullptr, 8)));
        } else if (op == "fsize") {
            // Writes past this size fail (EFBIG) instead of killing us.
            signal(SIGXFSZ, SIG_IGN);
            const rlim_t n = static_cast<rlim_t>(atol(ops[++i].c_str()));
            const struct rlimit lim = {n, n};
            setrlimit(RLIMIT_FSIZE, &lim);
        } else if (op == "fail") {
            failcall::Arm({.call = kCalls().at(ops[++i]), .pathPrefix = std::string(VEXA_LOG_CONF) + "."});
        }
    }
    return 0;
}

VEXATEST_ROOT_PROBE(probe)

std::string confWith(const std::string &sizeKey, const std::string &size)
{
    return "syslogfile\t=\t\"/var/log/vexasys.log\"\n" + sizeKey + "\t=\t\"" + size + "\"\n";
}

const char kDefaultConf[] =
    "syslogfile\t=\t\"/var/log/vexasys.log\"\n"
    "syslogfilesize_MAX\t=\t\"65536\"\n"
    "manlogfile\t=\t\"/var/log/vexaman1.log\"\n"
    "manlogfilesize_MAX\t=\t\"65536\"\n"
    "connlogfile\t=\t\"/var/log/vexaconn.log\"\n"
    "connlogfilesize_MAX\t=\t\"65536\"\n"
    "bkplogfile\t=\t\"/var/log/vexabackup.log\"\n"
    "bkplogfilesize_MAX\t=\t\"65536\"\n"
    "copylogfile\t=\t\"/var/log/vexacopy.log\"\n"
    "copylogfilesize_MAX\t=\t\"65536\"\n"
    "netbkplogfile\t=\t\"/var/log/vexanetbkp.log\"\n"
    "netbkplogfilesize_MAX\t=\t\"65536\"\n"
    "surlogfile\t=\t\"/var/log/vexasur.log\"\n"
    "surlogfilesize_MAX\t=\t\"65536\"\n";

class LogRoot : public ::testing::Test {
protected:
    approot::Appliance app{"vexalog"};

    void SetUp() override
    {
        app.mkdir("/var/log");
        app.mkdir("/tmp", 01777);
        app.setEnv("USERNAME", "tester");
    }
    Lines run(const Lines &ops) { return vexatest::probe::run(app, ops); }
    logtest::Log log(const char *path = kSys) { return readLog(app.readFile(path)); }
    bool syslogHas(const std::string &text)
    {
        for (const std::string &l : app.syslog())
            if (l.find(text) != std::string::npos)
                return true;
        return false;
    }
};

TEST_F(LogRoot, MissingConfigurationComesBackAndTheFirstRecordLandsAt16)
{
    EXPECT_EQ(run({"set", "2", "a", "NULL", "", "bc", "limit"}), (Lines{"set 0", "limit 131072"}));
    EXPECT_EQ(app.readFile(VEXA_LOG_CONF), kDefaultConf);
    const std::string bytes = app.readFile(kSys);
    const logtest::Log l = readLog(bytes);
    ASSERT_EQ(l.error, "");
    ASSERT_EQ(l.records.size(), 1u);
    const logtest::Record &r = l.records[0];
    EXPECT_EQ(r.offset, 16u);
    EXPECT_EQ(r.level, 1u);  // the low 16 bits
    EXPECT_EQ(r.event, 0x11800E02u);
    EXPECT_EQ(r.program, kProgram);
    EXPECT_EQ(r.user, "tester");
    EXPECT_EQ(r.texts[0], "a");
    EXPECT_EQ(r.texts[1], "");
    EXPECT_EQ(r.texts[2], " ");
    EXPECT_EQ(r.texts[3], "bc");
    EXPECT_NEAR(static_cast<double>(r.time), static_cast<double>(time(nullptr)), 60);
    EXPECT_EQ(r.length, 24 + strlen(kProgram) + 6 + 1 + 0 + 1 + 2);
    EXPECT_EQ(l.oldest, 16u);
    EXPECT_EQ(l.write, 16 + r.length);
    EXPECT_EQ(bytes.size(), l.write);
    EXPECT_EQ(bytes.substr(4, 4), std::string(4, '\0'));
    EXPECT_EQ(app.run({"/usr/bin/stat", "-c", "%a", kSys}).out, "600\n");
    EXPECT_FALSE(app.exists("/var/log/vexaman1.log"));
}

TEST_F(LogRoot, ThousandsOfEventsStayWithinTheLimitNewestKeptInOrder)
{
    app.writeFile(VEXA_LOG_CONF, confWith("syslogfilesize_MAX", "4096"));
    EXPECT_EQ(run({"tmpfs", "many", "3000", "4096", "400"}), (Lines{"ok wraps>10 1 survivors>3 1"}));
}

TEST_F(LogRoot, ExactFitIsWrittenInPlaceOneByteMoreWraps)
{
    app.writeFile(VEXA_LOG_CONF, confWith("syslogfilesize_MAX", "4096"));
    run({"set", "1", std::string(1000, 'x'), "NULL", "NULL", "NULL"});
    const logtest::Log first = log();
    ASSERT_EQ(first.records.size(), 1u);
    const uint32_t fixed = first.records[0].length - 1000;  // everything but text 1
    const uint32_t fit = 4096 - 2 - first.write - fixed;    // W + n + 2 == limit

    run({"set", "1", std::string(fit, 'y'), "NULL", "NULL", "NULL"});
    const logtest::Log exact = log();
    EXPECT_FALSE(exact.wrapped);
    EXPECT_EQ(exact.write, 4094u);
    EXPECT_EQ(exact.records.size(), 2u);

    app.writeFile(kSys, app.readFile(kSys).substr(0, first.write));  // back to one record
    std::string h = app.readFile(kSys);
    run({"set", "1", std::string(fit + 1, 'z'), "NULL", "NULL", "NULL"});
    const logtest::Log wrapped = log();
    EXPECT_EQ(wrapped.error, "");
    ASSERT_EQ(wrapped.records.size(), 1u);  // the first record made room
    EXPECT_EQ(wrapped.records[0].offset, 16u);
    EXPECT_EQ(wrapped.records[0].texts[0], std::string(fit + 1, 'z'));
    EXPECT_EQ(wrapped.oldest, 16u);  // nothing older left: unwrapped again at 16
}

TEST_F(LogRoot, WriteOffsetLeftAboveALoweredLimitWraps)
{
    app.writeFile(VEXA_LOG_CONF, confWith("syslogfilesize_MAX", "65536"));
    run({"set", "1", std::string(1000, 'a'), "NULL", "NULL", "NULL"});
    const logtest::Log first = log();
    const uint32_t fixed = first.records[0].length - 1000;
    const uint32_t t2 = 4095 - first.write - fixed;  // ends at 4095, above 4096 - 2
    run({"set", "1", std::string(t2, 'b'), "NULL", "NULL", "NULL"});
    ASSERT_EQ(log().write, 4095u);

    app.writeFile(VEXA_LOG_CONF, confWith("syslogfilesize_MAX", "4096"));
    EXPECT_EQ(run({"set", "1", "c", "NULL", "NULL", "NULL"}), (Lines{"set 0"}));
    const std::string bytes = app.readFile(kSys);
    const logtest::Log l = readLog(bytes);
    EXPECT_EQ(l.error, "");
    EXPECT_LE(bytes.size(), 4096u);
    EXPECT_TRUE(l.wrapped);
    EXPECT_GT(l.oldest, l.write);
    ASSERT_EQ(l.records.size(), 2u);
    EXPECT_EQ(l.records[0].texts[0], std::string(t2, 'b'));
    EXPECT_EQ(l.records[1].texts[0], "c");
    EXPECT_EQ(l.records[1].offset, 16u);
}

TEST_F(LogRoot, OversizedEventsAreRefusedAndLeaveTheFileUntouched)
{
    app.writeFile(VEXA_LOG_CONF, confWith("syslogfilesize_MAX", "4096"));
    run({"set", "1", "first", "NULL", "NULL", "NULL"});
    const std::string before = app.readFile(kSys);
    const uint32_t fixed = readLog(before).records[0].length - 5;
    const int most = static_cast<int>(4096 - 18 - fixed);  // n == limit - 18
    EXPECT_EQ(run({"big", "1", std::to_string(most + 1)}), (Lines{"big -1"}));
    EXPECT_EQ(app.readFile(kSys), before);
    EXPECT_EQ(run({"big", "1", std::to_string(most)}), (Lines{"big 0"}));
    const logtest::Log l = log();
    EXPECT_EQ(l.error, "");
    EXPECT_EQ(l.records.back().length, 4096u - 18);

    app.writeFile(VEXA_LOG_CONF, confWith("syslogfilesize_MAX", "16777216"));
    const std::string now = app.readFile(kSys);
    EXPECT_EQ(run({"big", "1", "65536"}), (Lines{"big -1"}));
    EXPECT_EQ(app.readFile(kSys), now);
}

TEST_F(LogRoot, ConfigurationMissingUsesTheSystemLimitOnceThenShrinks)
{
    app.writeFile(VEXA_LOG_CONF, confWith("syslogfilesize_MAX", "131072"));
    run({"many", "60", "131072", "3000"});
    const std::string grown = app.readFile(kSys);
    ASSERT_GT(grown.size(), 65536u);
    ASSERT_FALSE(readLog(grown).wrapped);
    EXPECT_EQ(run({"rmconf", "set", "1", "once", "NULL", "NULL", "NULL", "limit"}), (Lines{"set 0", "limit 131072"}));
    EXPECT_EQ(app.readFile(VEXA_LOG_CONF), kDefaultConf);
    EXPECT_GT(app.readFile(kSys).size(), grown.size());  // not shrunk on that call

    const logtest::Log full = log();
    EXPECT_EQ(run({"set", "1", "after", "NULL", "NULL", "NULL", "limit"}), (Lines{"set 0", "limit 65536"}));
    const std::string bytes = app.readFile(kSys);
    const logtest::Log l = readLog(bytes);
    EXPECT_EQ(l.error, "");
    EXPECT_LE(bytes.size(), 65536u);
    EXPECT_EQ(l.oldest, 16u);
    ASSERT_GE(l.records.size(), 3u);
    EXPECT_EQ(l.records.back().texts[0], "after");
    // The newest records of before, in order, with nothing left out between.
    const size_t kept = l.records.size() - 1;
    for (size_t k = 0; k < kept; ++k)
        EXPECT_EQ(l.records[k].texts[0], full.records[full.records.size() - kept + k].texts[0]) << k;
}

TEST_F(LogRoot, ShrinkOfAWrappedLogKeepsTheNewestInOrderUnwrapped)
{
    app.writeFile(VEXA_LOG_CONF, confWith("syslogfilesize_MAX", "8192"));
    EXPECT_EQ(run({"many", "120", "8192", "400"}).at(0).substr(0, 3), "ok ");
    const std::string before = app.readFile(kSys);
    const logtest::Log full = readLog(before);
    ASSERT_TRUE(full.wrapped);
    ASSERT_GT(before.size(), 4096u);
    EXPECT_EQ(run({"change", "4096", "1"}), (Lines{"change 0"}));
    const std::string bytes = app.readFile(kSys);
    const logtest::Log l = readLog(bytes);
    EXPECT_EQ(l.error, "");
    EXPECT_FALSE(l.wrapped);
    EXPECT_EQ(l.oldest, 16u);
    EXPECT_EQ(bytes.size(), l.write);
    EXPECT_LE(bytes.size(), 4096u);
    ASSERT_GE(l.records.size(), 2u);
    const size_t dropped = full.records.size() - l.records.size();
    uint32_t cbDropped = 0;
    for (size_t k = 0; k < dropped; ++k)
        cbDropped += full.records[k].length;
    EXPECT_GE(cbDropped, before.size() - 4096);
    EXPECT_LT(cbDropped - full.records[dropped - 1].length, before.size() - 4096);  // no more than needed
    for (size_t k = 0; k < l.records.size(); ++k)
        EXPECT_EQ(l.records[k].texts[0], full.records[dropped + k].texts[0]) << k;
    EXPECT_EQ(app.run({"/usr/bin/stat", "-c", "%a", kSys}).out, "600\n");
}

TEST_F(LogRoot, ChangeSizeLeavesSmallOrMissingFilesAndRefusesBadMaxima)
{
    EXPECT_EQ(run({"change", "4096", "3"}), (Lines{"change 0"}));
    EXPECT_TRUE(syslogHas("VEXALogChangeSize : logfile /var/log/vexaconn.log not existed"));
    app.writeFile(VEXA_LOG_CONF, confWith("connlogfilesize_MAX", "65536"));
    run({"set", "3", "a", "b", "c", "d"});
    const std::string before = app.readFile("/var/log/vexaconn.log");
    EXPECT_EQ(run({"change", std::to_string(before.size()), "3", "change", "4096", "4", "change", "4095", "3",
                   "change", "16777217", "3"}),
              (Lines{"change -1", "change 0", "change -1", "change -1"}));
    EXPECT_EQ(run({"change", "4096", "3"}), (Lines{"change 0"}));
    EXPECT_EQ(app.readFile("/var/log/vexaconn.log"), before);
}

TEST_F(LogRoot, SizeKeyThatIsNoSaneDecimalCountsAsMissing)
{
    for (const char *bad : {"4095", "16777217", "12ab", "", "-4096", "99999999999"}) {
        app.writeFile(VEXA_LOG_CONF, confWith("connlogfilesize_MAX", bad));
        EXPECT_EQ(run({"big", "3", "5000", "limit"}), (Lines{"big 0", "limit 65536"})) << bad;
    }
    app.writeFile(VEXA_LOG_CONF, confWith("connlogfilesize_MAX", "4096"));
    EXPECT_EQ(run({"big", "3", "5000", "limit"}), (Lines{"big -1", "limit 4096"}));
}

TEST_F(LogRoot, ClassesAndTheirFiles)
{
    app.writeFile(VEXA_LOG_CONF, kDefaultConf);
    EXPECT_EQ(run({"set", "2", "two", "NULL", "NULL", "NULL", "set", "4", "x", "NULL", "NULL", "NULL", "set", "9",
                   "x", "NULL", "NULL", "NULL", "set", "0", "x", "NULL", "NULL", "NULL", "set", "8", "sur", "NULL",
                   "NULL", "NULL"}),
              (Lines{"set 0", "set -1", "set -1", "set -1", "set 0"}));
    EXPECT_EQ(log().records.at(0).texts[0], "two");
    EXPECT_EQ(log("/var/log/vexasur.log").records.at(0).texts[0], "sur");
    const Lines sl = app.syslog();
    int classErrors = 0;
    int opened = 0;
    for (const std::string &l : sl) {
        classErrors += l.find("logclass error!") != std::string::npos;
        opened += l.find("<14>") == 0 && l.find("VEXA : log file /etc/vexalog.conf opened") != std::string::npos;
    }
    EXPECT_EQ(classErrors, 2);
    EXPECT_EQ(opened, 1);  // class 8 only
}

struct Damage {
    const char *name;
    uint32_t oldest, write;
    uint32_t size;                       // bytes of the file
    std::vector<std::pair<uint32_t, uint32_t>> lengths;  // u16 at offset
};

void PrintTo(const Damage &d, std::ostream *os)
{
    *os << d.name;
}

class DamagedLog : public LogRoot, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedLog, StartsAgainEmptyWithTheNewRecord)
{
    const Damage &d = GetParam();
    std::string b(d.size, '\x7f');
    b.replace(0, 4, "VEXA");
    auto put = [&](uint32_t at, uint32_t v, int bytes) {
        for (int k = 0; k < bytes; ++k)
            b[at + k] = static_cast<char>((v >> (8 * k)) & 0xff);
    };
    put(8, d.oldest, 4);
    put(12, d.write, 4);
    for (const auto &[at, len] : d.lengths)
        put(at, len, 2);
    app.writeFile(VEXA_LOG_CONF, confWith("syslogfilesize_MAX", "4096"));
    app.writeFile(kSys, b, 0600);
    EXPECT_EQ(run({"set", "1", std::string(300, 'n'), "NULL", "NULL", "NULL"}), (Lines{"set 0"}));
    const logtest::Log l = log();
    EXPECT_EQ(l.error, "");
    EXPECT_EQ(l.oldest, 16u);
    ASSERT_EQ(l.records.size(), 1u);
    EXPECT_EQ(l.records[0].texts[0], std::string(300, 'n'));
    EXPECT_TRUE(syslogHas("logfile /var/log/vexasys.log damaged, started anew"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedLog,
    ::testing::Values(Damage{.name = "oldest_below_16", .oldest = 8, .write = 16, .size = 100, .lengths = {}},
                      Damage{.name = "oldest_past_the_file", .oldest = 3000, .write = 16, .size = 100, .lengths = {}},
                      Damage{.name = "write_past_the_file", .oldest = 16, .write = 4000, .size = 200, .lengths = {}},
                      Damage{.name = "wrap_meets_no_record", .oldest = 16, .write = 4090, .size = 4096,
                             .lengths = {}},
                      Damage{.name = "record_below_24", .oldest = 16, .write = 4000, .size = 4000,
                             .lengths = {{16, 10}}},
                      Damage{.name = "record_past_the_limit", .oldest = 16, .write = 4000, .size = 4000,
                             .lengths = {{16, 5000}}},
                      Damage{.name = "wrapped_record_past_the_limit", .oldest = 300, .write = 100, .size = 4000,
                             .lengths = {{300, 5000}}},
                      Damage{.name = "wrapped_record_below_24", .oldest = 300, .write = 100, .size = 4000,
                             .lengths = {{300, 23}}},
                      // 16 to 99 no record, the older lap empty at 100.
                      Damage{.name = "newer_lap_not_followed", .oldest = 100, .write = 60, .size = 102,
                             .lengths = {{100, 0}}},
                      Damage{.name = "older_lap_past_the_file", .oldest = 200, .write = 16, .size = 300,
                             .lengths = {}}),
    [](const ::testing::TestParamInfo<Damage> &i) { return std::string(i.param.name); });

TEST_F(LogRoot, HeaderWithoutMagicIsRenewedWithoutTruncating)
{
    app.writeFile(VEXA_LOG_CONF, confWith("syslogfilesize_MAX", "4096"));
    app.writeFile(kSys, std::string(1000, 'q'), 0644);
    run({"set", "1", "fresh", "NULL", "NULL", "NULL"});
    const std::string bytes = app.readFile(kSys);
    const logtest::Log l = readLog(bytes);
    EXPECT_EQ(bytes.size(), 1000u);
    ASSERT_EQ(l.records.size(), 1u);
    EXPECT_EQ(l.records[0].texts[0], "fresh");
    EXPECT_EQ(bytes.substr(l.write), std::string(1000 - l.write, 'q'));
    EXPECT_EQ(app.run({"/usr/bin/stat", "-c", "%a", kSys}).out, "600\n");
}

TEST_F(LogRoot, UnopenableLogCostsTenRetriesAndBusyLockIsWrittenAnyway)
{
    app.writeFile(VEXA_LOG_CONF, "syslogfile=\"/var/log/none/sys.log\"\n");
    EXPECT_EQ(run({"set", "1", "x", "NULL", "NULL", "NULL"}), (Lines{"set -1"}));
    EXPECT_EQ(app.pauses(), Lines(10, "sleep 1.000000000"));
    EXPECT_TRUE(syslogHas("logfile /var/log/none/sys.log open error while writing!"));

    app.clearPauses();
    app.writeFile(VEXA_LOG_CONF, kDefaultConf);
    run({"set", "1", "first", "NULL", "NULL", "NULL"});
    const std::string cmd = "exec 9<" + std::string(kSys) + " && flock -x 9 && " + vexatest::probe::command() +
                            " set 1 second NULL NULL NULL 9<&-";
    const approot::RunResult r = app.run({"/bin/sh", "-c", cmd});
    EXPECT_EQ(vexatest::probe::said(r.out), (Lines{"set 0"})) << r.err;
    EXPECT_EQ(app.pauses(), Lines(10, "sleep 1.000000000"));
    ASSERT_EQ(log().records.size(), 2u);
    EXPECT_EQ(log().records[1].texts[0], "second");
}

TEST(LogUser, RootIsRecordedAsAdminAndAnEmptyUserNameStays)
{
    approot::Appliance app("vexalog-user");
    app.mkdir("/var/log");
    app.mkdir("/tmp", 01777);
    app.writeFile("/etc/passwd", "root:x:0:0:root:/root:/bin/ash\nbob:x:1026:100::/home/bob:/bin/sh\n");
    app.writeFile("/etc/shadow", "root:*:19000:0:99999:7:::\nbob:*:19000:0:99999:7:::\n", 0600);
    app.writeFile("/etc/vexauser.conf", "");
    app.writeFile("/usr/vexa/etc/private/smbpasswd", "", 0600);
    app.writeFile("/usr/vexa/etc/smb.conf", "[global]\n\tsecurity = user\n");
    app.writeFile(VEXA_LOG_CONF, kDefaultConf);
    EXPECT_EQ(vexatest::probe::run(app, {"set", "1", "by-uid", "NULL", "NULL", "NULL"}), (Lines{"set 0"}));
    const approot::RunResult r = app.run({"/bin/sh", "-c", "USERNAME= " + vexatest::probe::command() +
                                                               " set 1 empty NULL NULL NULL"});
    EXPECT_EQ(vexatest::probe::said(r.out), (Lines{"set 0"})) << r.err;
    const logtest::Log l = readLog(app.readFile(kSys));
    ASSERT_EQ(l.records.size(), 2u);
    EXPECT_EQ(l.records[0].user, "admin");
    EXPECT_EQ(l.records[1].user, "");
}

}  // namespace

namespace {

constexpr uint32_t kOwnFields = 24 + sizeof kProgram - 1 + 6;  // program and user "tester"

std::vector<std::string> firstTexts(const logtest::Log &l)
{
    std::vector<std::string> t;
    for (const logtest::Record &r : l.records)
        t.push_back(r.texts[0]);
    return t;
}

// What a reader walks after one more event: the records before but the
// dropped oldest ones, then the new one.
std::vector<std::string> keptThen(const logtest::Log &before, size_t dropped, const std::string &text)
{
    std::vector<std::string> t = firstTexts(before);
    t.erase(t.begin(), t.begin() + static_cast<long>(std::min(dropped, t.size())));
    t.push_back(text);
    return t;
}

TEST_F(LogRoot, SoundRingLosesOnlyTheOldestTheNewRecordNeeds)
{
    app.writeFile(VEXA_LOG_CONF, confWith("syslogfilesize_MAX", "4096"));
    const std::string pad(400 - kOwnFields - 1, 'p');  // records of 400 bytes
    EXPECT_EQ(run({"fill", "1", "10", std::to_string(pad.size())}), Lines{"fill 10"});
    const logtest::Log full = log();
    ASSERT_EQ(full.write, 4016u);
    // Unwrapped: to 16, dropping the records at 16 and 416 (the oldest
    // offset must end above the new record's end).
    EXPECT_EQ(run({"set", "1", "a", pad, "NULL", "NULL"}), Lines{"set 0"});
    const logtest::Log once = log();
    EXPECT_EQ(once.error, "");
    EXPECT_EQ(firstTexts(once), keptThen(full, 2, "a"));
    EXPECT_EQ(once.oldest, 816u);
    // Wrapped: at the write offset, dropping the one at 816.
    EXPECT_EQ(run({"set", "1", "b", pad, "NULL", "NULL"}), Lines{"set 0"});
    EXPECT_EQ(firstTexts(log()), keptThen(once, 1, "b"));
    EXPECT_EQ(log().oldest, 1216u);
}

struct Lowered {
    const char *name;
    int cls;
    const char *file;      // the log written
    std::string fullConf;  // while it fills
    std::string lowConf;   // for the one more event
    int count, pad;        // events that fill it
    Lines pre;             // probe operations before the event
    const char *limit;     // the limit the event is written under
};

void PrintTo(const Lowered &c, std::ostream *os)
{
    *os << c.name;
}

class LoweredLimit : public LogRoot, public ::testing::WithParamInterface<Lowered> {};

TEST_P(LoweredLimit, RingWrapsWithinTheNewLimitKeepingItsRecords)
{
    const Lowered &c = GetParam();
    app.writeFile(VEXA_LOG_CONF, c.fullConf);
    EXPECT_EQ(run({"fill", std::to_string(c.cls), std::to_string(c.count), std::to_string(c.pad)}),
              Lines{"fill " + std::to_string(c.count)});
    const logtest::Log full = log(c.file);
    ASSERT_FALSE(full.wrapped);
    ASSERT_GT(full.write, static_cast<uint32_t>(atoi(c.limit)));
    app.writeFile(VEXA_LOG_CONF, c.lowConf);
    Lines ops = c.pre;
    ops.insert(ops.end(), {"set", std::to_string(c.cls), "new", "NULL", "NULL", "NULL", "limit"});
    EXPECT_EQ(run(ops), (Lines{"set 0", std::string("limit ") + c.limit}));
    const logtest::Log l = log(c.file);
    EXPECT_EQ(l.error, "");
    EXPECT_EQ(firstTexts(l), keptThen(full, 1, "new"));
    EXPECT_EQ(l.records.back().offset, 16u);
    EXPECT_FALSE(syslogHas("damaged"));
}

std::string conf(const std::string &lines)
{
    return lines;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoweredLimit,
    ::testing::Values(
        Lowered{"failed_shrink", 1, kSys, confWith("syslogfilesize_MAX", "65536"),
                confWith("syslogfilesize_MAX", "32768"), 60, 1000, {"fsize", "16384"}, "32768"},
        Lowered{"configured_file", 1, "/var/log/other.log",
                conf("syslogfile=\"/var/log/other.log\"\nsyslogfilesize_MAX=\"65536\"\n"),
                conf("syslogfile=\"/var/log/other.log\"\nsyslogfilesize_MAX=\"32768\"\n"), 60, 1000, {}, "32768"},
        Lowered{"size_key_missing_system", 1, kSys, confWith("syslogfilesize_MAX", "262144"),
                conf("syslogfile=\"/var/log/vexasys.log\"\n"), 45, 3000, {}, "131072"},
        Lowered{"size_key_missing_connection", 3, "/var/log/vexaconn.log", confWith("connlogfilesize_MAX", "131072"),
                conf("connlogfile=\"/var/log/vexaconn.log\"\n"), 70, 1000, {}, "65536"},
        Lowered{"size_key_6e4", 3, "/var/log/vexaconn.log", confWith("connlogfilesize_MAX", "131072"),
                confWith("connlogfilesize_MAX", "6e4"), 70, 1000, {}, "65536"}),
    [](const ::testing::TestParamInfo<Lowered> &i) { return std::string(i.param.name); });

TEST_F(LogRoot, RandomEventsUnderLimitsLoweredAndRaised)
{
    EXPECT_EQ(run({"churn", "7"}), Lines{"churn ok wrapped 1"});
}

TEST_F(LogRoot, HeaderCutShortGetsOffsets16ThenTheEvent)
{
    app.writeFile(VEXA_LOG_CONF, confWith("syslogfilesize_MAX", "4096"));
    for (size_t len = 4; len < 16; ++len) {
        app.clearSyslog();
        app.writeFile(kSys, "VEXA" + std::string(len - 4, '\x11'), 0600);
        EXPECT_EQ(run({"set", "1", "only", "NULL", "NULL", "NULL"}), Lines{"set 0"}) << len;
        const logtest::Log l = log();
        EXPECT_EQ(l.error, "") << len;
        EXPECT_EQ(firstTexts(l), Lines{"only"}) << len;
        EXPECT_TRUE(syslogHas("logfile /var/log/vexasys.log header cut short, started anew")) << len;
    }
}

TEST_F(LogRoot, LinkIsFollowedWhereOnlyRootWritesItsFolder)
{
    constexpr char kTarget[] = "/volume1/@logs/vexasys.log";
    app.mkdir("/volume1");
    app.mkdir("/volume1/@logs");
    app.writeFile(VEXA_LOG_CONF, confWith("syslogfilesize_MAX", "8192"));
    EXPECT_EQ(run({"fill", "1", "5", "500"}), Lines{"fill 5"});
    app.writeFile(kTarget, app.readFile(kSys), 0600);
    app.symlink(kTarget, kSys);
    const logtest::Log before = log(kTarget);
    app.clearPauses();
    EXPECT_EQ(run({"set", "1", "linked", "NULL", "NULL", "NULL"}), Lines{"set 0"});
    EXPECT_EQ(app.pauses(), Lines{});
    EXPECT_EQ(firstTexts(log(kTarget)), keptThen(before, 0, "linked"));
    EXPECT_EQ(app.run({"/usr/bin/readlink", kSys}).out, std::string(kTarget) + "\n");

    // The shrink replaces the file the link names.
    EXPECT_EQ(run({"change", "4096", "1"}), Lines{"change 0"});
    EXPECT_EQ(app.run({"/usr/bin/readlink", kSys}).out, std::string(kTarget) + "\n");
    const logtest::Log shrunk = log(kTarget);
    EXPECT_EQ(shrunk.error, "");
    EXPECT_LE(app.readFile(kTarget).size(), 4096u);
    EXPECT_EQ(shrunk.records.back().texts[0], "linked");
}

TEST_F(LogRoot, LinkInAFolderOthersWriteIsRefusedAtOnce)
{
    app.mkdir("/volume1");
    app.mkdir("/volume1/public", 01777);
    app.writeFile("/etc/secret", "root:secret\n", 0600);
    app.symlink("/etc/secret", "/volume1/public/sys.log");
    app.writeFile(VEXA_LOG_CONF, "syslogfile=\"/volume1/public/sys.log\"\nsyslogfilesize_MAX=\"4096\"\n");
    app.clearPauses();
    EXPECT_EQ(run({"set", "1", "x", "NULL", "NULL", "NULL"}), Lines{"set -1"});
    EXPECT_EQ(app.pauses(), Lines{});
    EXPECT_EQ(app.readFile("/etc/secret"), "root:secret\n");
    EXPECT_TRUE(syslogHas("logfile /volume1/public/sys.log is a link in a folder others can write, not followed"));
}

std::string statOf(approot::Appliance &app, const char *path)
{
    return app.run({"/usr/bin/stat", "-c", "%a %U", path}).out;
}

TEST_F(LogRoot, SettingsFileIsRootsAndReadableWhateverTheUmask)
{
    EXPECT_EQ(run({"umask", "000", "set", "1", "x", "NULL", "NULL", "NULL"}), Lines{"set 0"});
    EXPECT_EQ(app.readFile(VEXA_LOG_CONF), kDefaultConf);
    EXPECT_EQ(statOf(app, VEXA_LOG_CONF), "644 root\n");
}

TEST_F(LogRoot, SettingsFileFailingOnceIsMissingThenWrittenWhole)
{
    const Lines failures[] = {{"fsize", "100"}, {"fail", "fsync"}, {"fail", "fchown"}, {"fail", "fchmod"},
                              {"fail", "fclose"}};
    for (const Lines &failure : failures) {
        app.clearSyslog();
        Lines ops = failure;
        ops.insert(ops.end(), {"set", "1", "x", "NULL", "NULL", "NULL"});
        EXPECT_EQ(run(ops), Lines{"set -1"}) << failure[1];
        EXPECT_EQ(app.run({"/bin/sh", "-c", "ls -a /etc | grep vexalog"}).out, "") << failure[1];
        EXPECT_TRUE(syslogHas("VEXALogSetLogConf : /etc/vexalog.conf not written")) << failure[1];
        EXPECT_EQ(run({"set", "1", "y", "NULL", "NULL", "NULL"}), Lines{"set 0"}) << failure[1];
        EXPECT_EQ(app.readFile(VEXA_LOG_CONF), kDefaultConf) << failure[1];
        EXPECT_EQ(statOf(app, VEXA_LOG_CONF), "644 root\n");
        run({"rmconf"});
    }
}

TEST_F(LogRoot, SettingsFileCutInsideAFileNameLeavesTheBuiltInFile)
{
    app.writeFile(VEXA_LOG_CONF, "syslogfile\t=\t\"/var/log/vexas");
    app.clearPauses();
    EXPECT_EQ(run({"set", "1", "x", "NULL", "NULL", "NULL"}), Lines{"set 0"});
    EXPECT_EQ(app.pauses(), Lines{});
    EXPECT_EQ(firstTexts(log()), Lines{"x"});
}

}  // namespace
