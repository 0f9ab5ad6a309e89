// scripts/check-includes: the updater's stages include only what lies
// below them, and of the SDK only its public headers.  The tree as it is
// passes; a copy with one planted include fails, naming it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string>

#include "test_tmp.h"

namespace {

namespace fs = std::filesystem;

struct Case {
    const char *name;
    const char *file;     // "" plants nothing; else the file (or folder) to plant in
    const char *include;  // the line put first into it
    int status;
    const char *said;  // the check's output, the copy's path written as @
};

void PrintTo(const Case &c, std::ostream *os)
{
    *os << c.name;
}

class IncludeCheck : public ::testing::TestWithParam<Case> {};

TEST_P(IncludeCheck, NamesEveryIncludeFromAboveOrOfAnInternal)
{
    const Case &c = GetParam();
    vexatest::TempDir tmp("includes");
    const std::string copy = tmp / "updater";
    fs::copy(std::string(VEXA_SOURCE_DIR) + "/updater", copy, fs::copy_options::recursive);
    if (std::string(c.file).find('.') == std::string::npos && c.file[0] != '\0') {
        fs::create_directories(copy + "/" + c.file);
    } else if (c.file[0] != '\0') {
        const std::string path = copy + "/" + c.file;
        ASSERT_TRUE(fs::exists(path)) << path;
        vexatest::writeFile(path, std::string(c.include) + "\n" + vexatest::readFile(path));
    }
    const std::string cmd = "/bin/bash " + vexatest::shellQuote(std::string(VEXA_SOURCE_DIR) + "/scripts/check-includes") +
                            " " + vexatest::shellQuote(copy) + " " +
                            vexatest::shellQuote(std::string(VEXA_SOURCE_DIR) + "/sdk") + " 2>&1";
    FILE *p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[1024];
    while (size_t n = fread(buf, 1, sizeof buf, p))
        out.append(buf, n);
    const int rc = pclose(p);
    EXPECT_EQ(WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, c.status) << out;
    std::string said = c.said;
    for (size_t at; (at = said.find('@')) != std::string::npos;)
        said.replace(at, 1, copy);
    EXPECT_EQ(out, said);
}

INSTANTIATE_TEST_SUITE_P(
    Planted, IncludeCheck,
    ::testing::Values(
        Case{"TheTreeAsItIs", "", "", 0, ""},
        Case{"StageAbove", "flash/patch_write.cpp", "#include \"updt_analysis.h\"", 1,
             "@/flash/patch_write.cpp: includes \"updt_analysis.h\" of analysis, a stage above flash\n"},
        Case{"DriverFromCommon", "common/status_files.cpp", "#include \"updt_signals.h\"", 1,
             "@/common/status_files.cpp: includes \"updt_signals.h\" of driver, a stage above common\n"},
        Case{"AboveByRelativePath", "migrate/migrate_crontab.cpp", "#include \"../analysis/analysis_internal.h\"", 1,
             "@/migrate/migrate_crontab.cpp: includes \"../analysis/analysis_internal.h\" of analysis, a stage "
             "above migrate\n"},
        Case{"BelowIsFine", "analysis/analysis.cpp", "#include \"patch_internal.h\"", 0, ""},
        Case{"SdkInternal", "analysis/analysis.cpp", "#include \"services/user/user_internal.h\"", 1,
             "@/analysis/analysis.cpp: includes \"services/user/user_internal.h\", which is no public SDK header\n"},
        Case{"SdkInternalInAHeader", "migrate/migrate_steps.h", "#include \"base/file/file_internal.h\"", 1,
             "@/migrate/migrate_steps.h: includes \"base/file/file_internal.h\", which is no public SDK header\n"},
        Case{"SdkHelperOfferedOnPurpose", "flash/patch_write.cpp", "#include \"base/string/heap_ptr.h\"", 0, ""},
        Case{"FolderThatIsNoStage", "tools", "", 1, "@/tools: a folder that is no stage (add it to the layers)\n"}),
    [](const ::testing::TestParamInfo<Case> &i) { return std::string(i.param.name); });

}  // namespace
