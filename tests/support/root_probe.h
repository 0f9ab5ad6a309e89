// Running a test program's own code inside the appliance root: the test
// starts its own binary there with VEXA_ROOT_PROBE=1 and a list of
// operations; a constructor in the test file runs them before gtest starts
// and exits with their result.  Each test file keeps its own operations.
#ifndef VEXA_TEST_ROOT_PROBE_H
#define VEXA_TEST_ROOT_PROBE_H

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "approot.h"
#include "base/err/vral_err.h"
#include "test_tmp.h"

namespace vexatest::probe {

inline std::string selfExe()
{
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// argv that runs this binary as a probe with the given operations.
inline std::vector<std::string> argv(const std::vector<std::string> &ops)
{
    std::vector<std::string> a = {"/usr/bin/env", "VEXA_ROOT_PROBE=1", selfExe()};
    a.insert(a.end(), ops.begin(), ops.end());
    return a;
}

// The same start as a line of /bin/sh text, for runs that need a shell
// around the probe; the operations follow it.
inline std::string command()
{
    return "/usr/bin/env VEXA_ROOT_PROBE=1 " + shellQuote(selfExe());
}

// Lines the probe printed with say(), in order.
inline std::vector<std::string> said(const std::string &out)
{
    std::vector<std::string> lines;
    for (const std::string &line : splitLines(out)) {
        if (line.rfind("@ ", 0) == 0)
            lines.push_back(line.substr(2));
    }
    return lines;
}

// Runs the probe in app with the given operations, expects it to end
// with status 0, and returns what it said.
inline std::vector<std::string> run(approot::Appliance &app, const std::vector<std::string> &ops)
{
    const approot::RunResult r = app.run(argv(ops));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    return said(r.out);
}

inline void say(const std::string &line)
{
    const std::string l = "@ " + line + "\n";
    fwrite(l.data(), 1, l.size(), stdout);
    fflush(stdout);
}

// An error code or other small number as the probes report it: "0x0000".
inline std::string hex(int v)
{
    char b[16];
    snprintf(b, sizeof b, "0x%04X", v);
    return b;
}

// "OP R", and the recorded error code after a failure: "OP -1 0x0900".
inline std::string result(const std::string &op, int r)
{
    return op + " " + std::to_string(r) + (r < 0 ? " " + hex(VRALErrGet()) : "");
}

// An operand that stands for a NULL argument when given as "-".
inline const char *orNull(const std::string &s)
{
    return s == "-" ? nullptr : s.c_str();
}

// "stat RESULT MODE UID:GID" of a path as the probe sees it: the result of
// stat(), the permission bits in octal and the owner.
inline std::string statLine(const std::string &path)
{
    struct stat st {};
    const int r = stat(path.c_str(), &st);
    char b[64];
    snprintf(b, sizeof b, "stat %d %o %u:%u", r, st.st_mode & 07777, st.st_uid, st.st_gid);
    return b;
}

// The file's text in the appliance, or missing when it is not there.
inline std::string readOr(const approot::Appliance &app, const std::string &path, const std::string &missing)
{
    return app.exists(path) ? app.readFile(path) : missing;
}

// A probe's operations, taken one at a time: next() gives the next one, or
// "" once they are used up.  Built from the list the probe entry passes.
class Ops {
public:
    Ops(std::vector<std::string> ops) : ops_(std::move(ops)) {}
    bool more() const { return at_ < ops_.size(); }
    std::string operator()() { return more() ? ops_[at_++] : std::string(); }

private:
    std::vector<std::string> ops_;
    size_t at_ = 0;
};

// An operand given in decimal, hex ("0x15") or octal.
inline int num(const std::string &s) { return static_cast<int>(strtol(s.c_str(), nullptr, 0)); }

}  // namespace vexatest::probe

// Declares the probe entry of a test program: int fn(std::vector<std::string>
// ops).  One per program (the first constructor to run would take every
// probe's operations): a second one fails to link.
#define VEXATEST_ROOT_PROBE(fn)                                                  \
    __asm__(".pushsection .rodata\n.globl vexatest_one_root_probe_per_program\n"  \
            "vexatest_one_root_probe_per_program: .byte 0\n.popsection");         \
    __attribute__((constructor)) static void vexatestRootProbe(int argc, char **argv, char **) \
    {                                                                            \
        if (getenv("VEXA_ROOT_PROBE") == nullptr)                                \
            return;                                                              \
        unsetenv("VEXA_ROOT_PROBE");                                             \
        std::vector<std::string> ops(argv + 1, argv + argc);                     \
        const int status = fn(ops);                                              \
        fflush(stdout);                                                          \
        approot::flushCoverage();                                                \
        _exit(status);                                                           \
    }

#endif
