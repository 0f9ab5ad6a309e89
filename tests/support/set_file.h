// Sectioned set files ("[name]" over tab-indented key="value" lines) read
// back as sections of key maps.
#ifndef VEXA_TEST_SET_FILE_H
#define VEXA_TEST_SET_FILE_H

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "test_tmp.h"

namespace vexatest {

using Keys = std::map<std::string, std::string>;
using Section = std::pair<std::string, Keys>;
using Sections = std::vector<Section>;

// Sections of a set file as key maps, in file order: keys come in the
// writer's hash order.  Every key line must be in the written form.
inline Sections parseSections(const std::string &text)
{
    Sections out;
    for (const std::string &line : vexatest::splitLines(text)) {
        if (line.empty())
            continue;
        if (line.front() == '[') {
            out.emplace_back(line.substr(1, line.rfind(']') - 1), Keys{});
            continue;
        }
        const size_t eq = line.find('=');
        if (out.empty() || line[0] != '\t' || eq == std::string::npos || line.size() < eq + 3 || line[eq + 1] != '"' ||
            line.back() != '"') {
            ADD_FAILURE() << "not a key line: " << line;
            continue;
        }
        out.back().second[line.substr(1, eq - 1)] = line.substr(eq + 2, line.size() - eq - 3);
    }
    return out;
}

}  // namespace vexatest

#endif
