// The small MSys flash the MSys tests build: eight partitions of a few
// units, each holding its pattern for a data length of its own.
#ifndef VEXA_TEST_MSYS_LAYOUT_H
#define VEXA_TEST_MSYS_LAYOUT_H

#include <cstdint>
#include <string>
#include <vector>

#include "simfixture.h"

namespace msystest {

inline constexpr uint32_t kUnit = 16384;
inline const std::vector<uint32_t> kUnits = {4, 6, 6, 8, 1, 1, 1, 1};
inline const std::vector<uint32_t> kData = {3 * kUnit + 100, 4 * kUnit + 5, 5 * kUnit, 6 * kUnit + 7,
                                            kUnit,           8000,          kUnit,     1000};
// Partition k is named after entry k of the normal table.
inline const std::vector<std::string> kNames = {"RedBoot", "zImage",  "rd.gz",          "AllLib.tgz",
                                                "vendor",  "vexacfg", "RedBoot Config", "FIS Directory"};

// The sizes in units that the driver reports now.
inline std::vector<uint32_t> units(const std::string &state)
{
    const sk::State st = simkernel::loadState(state);
    std::vector<uint32_t> u;
    for (int k = 0; k < 8; ++k)
        u.push_back(st.part[k].size / kUnit);
    return u;
}

}  // namespace msystest

#endif
