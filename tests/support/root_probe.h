// Running a test program's own code inside the appliance root: the test
// starts its own binary there with VEXA_ROOT_PROBE=1 and a list of
// operations; a constructor in the test file runs them before gtest starts
// and exits with their result.  Each test file keeps its own operations.
#ifndef VEXA_TEST_ROOT_PROBE_H
#define VEXA_TEST_ROOT_PROBE_H

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

// Lines the probe printed with say(), in order.
inline std::vector<std::string> said(const std::string &out)
{
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < out.size()) {
        size_t nl = out.find('\n', pos);
        if (nl == std::string::npos)
            nl = out.size();
        const std::string line = out.substr(pos, nl - pos);
        if (line.rfind("@ ", 0) == 0)
            lines.push_back(line.substr(2));
        pos = nl + 1;
    }
    return lines;
}

inline void say(const std::string &line)
{
    const std::string l = "@ " + line + "\n";
    fwrite(l.data(), 1, l.size(), stdout);
    fflush(stdout);
}

}  // namespace vexatest::probe

// Declares the probe entry of one test file: int fn(std::vector<std::string> ops).
#define VEXATEST_ROOT_PROBE(fn)                                                  \
    __attribute__((constructor)) static void vexatestRootProbe(int argc, char **argv, char **) \
    {                                                                            \
        if (getenv("VEXA_ROOT_PROBE") == nullptr)                                \
            return;                                                              \
        unsetenv("VEXA_ROOT_PROBE");                                             \
        std::vector<std::string> ops(argv + 1, argv + argc);                     \
        fflush(stdout);                                                          \
        _exit(fn(ops));                                                          \
    }

#endif
