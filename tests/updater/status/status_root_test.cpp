// The progress file, the message file, the update log and the command
// runner at their fixed paths, inside the appliance root.
#include <csignal>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "approot.h"
#include "root_probe.h"
#include "base/proc/vral_proc.h"
#include "updt_signals.h"
#include "updt_status.h"

namespace {

namespace probe = vexatest::probe;

// Operations, one argument each: "progress:<letter>:<value>",
// "message:<key>:<value>", "log:<text>", "log-null", "check-log",
// "exec:<command line>", "exec-null", "procexec:<shell command>" (through
// VEXAProcExec), "hold-signals", "raise:<signal>", "log-signals".  Each
// says "<op>=<result>".
int runOps(std::vector<std::string> ops)
{
    std::optional<updt::SignalHold> hold;
    for (const std::string &op : ops) {
        const size_t colon = op.find(':');
        const std::string name = op.substr(0, colon);
        const std::string arg = colon == std::string::npos ? "" : op.substr(colon + 1);
        if (name == "progress") {
            const char letter = arg.empty() ? '?' : arg[0];
            const int value = std::stoi(arg.substr(2));
            probe::say("progress=" + std::to_string(UPDTSetProgress(letter, value)));
        } else if (name == "message") {
            const size_t c = arg.find(':');
            probe::say("message=" +
                       std::to_string(UPDTWriteMessage(arg.substr(0, c).c_str(), arg.substr(c + 1).c_str())));
        } else if (name == "log") {
            UPDTWriteLog(arg.c_str());
        } else if (name == "log-null") {
            UPDTWriteLog(nullptr);
        } else if (name == "check-log") {
            UPDTCheckLogSize();
        } else if (name == "exec") {
            probe::say("exec=" + std::to_string(UPDTExecute(arg.c_str())));
        } else if (name == "exec-null") {
            probe::say("exec=" + std::to_string(UPDTExecute(nullptr)));
        } else if (name == "procexec") {
            probe::say("procexec=" + std::to_string(VEXAProcExec("/bin/sh", "-c", arg.c_str(), nullptr, nullptr)));
        } else if (name == "hold-signals") {
            hold.emplace();
        } else if (name == "raise") {
            probe::say("raise=" + std::to_string(raise(std::stoi(arg))));
        } else if (name == "log-signals") {
            hold->logArrived();
        } else {
            probe::say("unknown op " + op);
            return 2;
        }
    }
    return 0;
}

VEXATEST_ROOT_PROBE(runOps)

struct Root {
    approot::Appliance app{"status"};

    std::vector<std::string> run(const std::vector<std::string> &ops) { return probe::run(app, ops); }
    std::vector<std::string> syslogMatching(const std::string &word) const
    {
        std::vector<std::string> hits;
        for (const std::string &line : app.syslog())
            if (line.find(word) != std::string::npos)
                hits.push_back(line);
        return hits;
    }
};

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) {
            out.push_back(text.substr(pos));
            break;
        }
        out.push_back(text.substr(pos, nl - pos));
        pos = nl + 1;
    }
    return out;
}

TEST(StatusProgressFile, TextsAndRewrites)
{
    Root root;
    struct Step {
        const char *op;
        const char *file;  // the whole progress file after the step
    };
    const Step steps[] = {
        {"progress:A:0", "A:0:      "},
        {"progress:P:100", "P:100:      "},
        {"progress:P:-24", "P:-24:      "},
        {"progress:R:0", "R:0:        "},
        {"progress:C:-17", "C:-17:      "},
    };
    for (const Step &s : steps) {
        EXPECT_EQ(root.run({s.op}), std::vector<std::string>{"progress=0"}) << s.op;
        EXPECT_EQ(root.app.readFile(UPDT_PROGRESS_FILE), s.file) << s.op;
    }
}

TEST(StatusMessageFile, OneKeyValueLineAndBounded)
{
    Root root;
    EXPECT_EQ(root.run({"message:extramsg:Please reboot"}), std::vector<std::string>{"message=0"});
    EXPECT_EQ(root.app.readFile(UPDT_MESSAGE_FILE), "extramsg=\"Please reboot\"\n");
    // A shorter text leaves nothing of a longer one behind it.
    EXPECT_EQ(root.run({"message:extramsg:Short"}), std::vector<std::string>{"message=0"});
    EXPECT_EQ(root.app.readFile(UPDT_MESSAGE_FILE), "extramsg=\"Short\"\n");

    // The text is cut at 1023 characters, never written past its buffer.
    const std::string longValue(2000, 'x');
    EXPECT_EQ(root.run({"message:extramsg:" + longValue}), std::vector<std::string>{"message=0"});
    const std::string expect = ("extramsg=\"" + longValue).substr(0, 1023);
    EXPECT_EQ(root.app.readFile(UPDT_MESSAGE_FILE), expect);
}

TEST(StatusUpdateLog, StampedLinesTextUnchanged)
{
    Root root;
    root.run({"log:Start of the update...", "log:100% done %s %d", "log-null", "log:"});
    const std::vector<std::string> got = lines(root.app.readFile(UPDT_LOG_FILE));
    ASSERT_EQ(got.size(), 3u);
    const std::regex stamped(R"(^\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\t(.*)$)");
    const char *texts[] = {"Start of the update...", "100% done %s %d", ""};
    for (size_t i = 0; i < got.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(got[i], m, stamped)) << got[i];
        EXPECT_EQ(m[1].str(), texts[i]);
    }
}

TEST(StatusUpdateLog, EmptiedOnlyWhenLargerThanTheLimit)
{
    struct Case {
        size_t size;
        bool emptied;
    };
    for (const Case c : {Case{10000, false}, Case{10001, true}, Case{0, false}}) {
        Root root;
        const std::string content(c.size, 'l');
        root.app.writeFile(UPDT_LOG_FILE, content);
        root.run({"check-log"});
        EXPECT_EQ(root.app.readFile(UPDT_LOG_FILE), c.emptied ? "" : content) << c.size;
    }
    Root missing;
    missing.run({"check-log"});
    EXPECT_FALSE(missing.app.exists(UPDT_LOG_FILE));
}

TEST(StatusExecute, ResultsAndMessages)
{
    Root root;
    struct Case {
        std::string cmd;
        int result;
        std::string logged;  // part of the system-log line, "" for none
    };
    const Case cases[] = {
        {"exit 0", 0, ""},
        {"true; echo ran >/dev/null", 0, ""},
        {"exit 1", -1, "failed to execute cmd=[exit 1], ret = 1"},
        {"exit 3", -1, "failed to execute cmd=[exit 3], ret = 3"},
        {"/no/such/program", -1, "failed to execute cmd=[/no/such/program], ret = 127"},
        // Cut off by a signal, the command did not do its work.
        {"kill -TERM $$", -1, "failed to execute cmd=[kill -TERM $$], ended by signal 15"},
        {"kill -KILL $$", -1, "failed to execute cmd=[kill -KILL $$], ended by signal 9"},
    };
    for (const Case &c : cases) {
        root.app.clearSyslog();
        EXPECT_EQ(root.run({"exec:" + c.cmd}), std::vector<std::string>{"exec=" + std::to_string(c.result)})
            << c.cmd;
        const std::vector<std::string> hits = root.syslogMatching("UPDTExecute(");
        if (c.logged.empty()) {
            EXPECT_TRUE(hits.empty()) << c.cmd;
        } else {
            ASSERT_EQ(hits.size(), 1u) << c.cmd;
            EXPECT_NE(hits[0].find(c.logged), std::string::npos) << hits[0];
            EXPECT_EQ(hits[0].rfind("<11>", 0), 0u) << hits[0];  // user.err
        }
    }
    root.app.clearSyslog();
    EXPECT_EQ(root.run({"exec-null"}), std::vector<std::string>{"exec=-1"});
    EXPECT_TRUE(root.syslogMatching("UPDTExecute(").empty());
}

// From the flash stage on, the caller's HUP, INT, QUIT, TERM and PIPE are
// noted, logged once each and survived; the commands the updater starts
// get them at their defaults, not ignored.
TEST(StatusSignals, HeldInTheUpdaterDefaultInItsChildren)
{
    Root root;
    const std::string dump = "grep '^SigIgn' /proc/self/status >>/tmp/sigign";
    const std::vector<std::string> out =
        root.run({"hold-signals", "raise:15", "raise:15", "raise:1", "raise:13", "exec:" + dump, "procexec:" + dump,
                  "log-signals", "raise:15", "log-signals"});
    EXPECT_EQ(out, (std::vector<std::string>{"raise=0", "raise=0", "raise=0", "raise=0", "exec=0", "procexec=0",
                                             "raise=0"}));
    for (const char *line : {"signal 15 (TERM) arrived during the update, ignored",
                             "signal 1 (HUP) arrived during the update, ignored",
                             "signal 13 (PIPE) arrived during the update, ignored"})
        EXPECT_EQ(root.syslogMatching(line).size(), 1u) << line;
    const std::vector<std::string> seen = lines(root.app.readFile("/tmp/sigign"));
    ASSERT_EQ(seen.size(), 2u);
    // HUP, INT, QUIT, PIPE and TERM: bits 0, 1, 2, 12 and 14.
    for (const std::string &l : seen)
        EXPECT_EQ(std::stoull(l.substr(l.find(':') + 1), nullptr, 16) & 0x5007ULL, 0u) << l;
}

}  // namespace
