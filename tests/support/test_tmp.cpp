#include "test_tmp.h"

#include "base/string/vral_string.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifndef VEXA_BINARY_DIR
#error "VEXA_BINARY_DIR must be defined by the build"
#endif

namespace vexatest {

std::string buildDir()
{
    return VEXA_BINARY_DIR;
}

TempDir::TempDir(const std::string &tag)
{
    std::string base = std::string(VEXA_BINARY_DIR) + "/testtmp";
    std::filesystem::create_directories(base);
    std::string tmpl = base + "/" + tag + ".XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr)
        ADD_FAILURE() << "mkdtemp failed under " << base;
    path_ = tmpl;
}

TempDir::~TempDir()
{
    if (getenv("VEXA_KEEP_TMP") != nullptr || path_.empty())
        return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        ADD_FAILURE() << "cannot read " << path;
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::string &path, const std::string &content, int mode)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        ADD_FAILURE() << "cannot write " << path;
    out << content;
    out.close();
    chmod(path.c_str(), static_cast<mode_t>(mode));
}

std::vector<std::string> splitLines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string shellQuote(const std::string &word)
{
    return VRALStrShellQuoteString(word);
}

}  // namespace vexatest
