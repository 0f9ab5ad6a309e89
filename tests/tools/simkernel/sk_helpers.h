// Shared set-up for the simulated device kernel's own tests: a fresh chip in
// a scratch folder and a way to run probes with the library preloaded.
#ifndef TESTS_SIMKERNEL_SK_HELPERS_H
#define TESTS_SIMKERNEL_SK_HELPERS_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simfixture.h"
#include "test_tmp.h"

namespace sktest {

class SimKernel : public ::testing::Test {
protected:
    vexatest::TempDir tmp{"simkernel"};
    std::string state = tmp / "state";

    // simprobe DEVICE steps..., steps separated by ","
    simkernel::RunResult probe(const std::vector<std::string> &args,
                               const std::vector<std::string> &env = {}) {
        std::vector<std::string> argv = {simkernel::probePath()};
        argv.insert(argv.end(), args.begin(), args.end());
        return simkernel::runPreloaded(state, argv, env);
    }
    simkernel::RunResult sh(const std::string &cmd) {
        return simkernel::runPreloaded(state, {"/bin/sh", "-c", cmd});
    }
    std::vector<std::string> ops(const std::vector<std::string> &words) {
        return simkernel::opsMatching(state, words);
    }
};

// "ff00a1" for bytes
inline std::string hex(const std::string &bytes) {
    static const char *d = "0123456789abcdef";
    std::string s;
    for (unsigned char c : bytes) {
        s += d[c >> 4];
        s += d[c & 15];
    }
    return s;
}

}  // namespace sktest

#endif
