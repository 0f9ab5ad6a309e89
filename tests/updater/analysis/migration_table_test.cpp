// The migration table drives the flags the analysis sets, the steps the
// driver runs and the names the tests know: a row that only this test
// adds reaches all three.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis_fixture.h"
#include "migration_table.h"
#include "updt_analysis.h"

namespace {

using updt::migrate::Stage;
using updt::migrate::Step;

int gTestOnlyStep = 0;
std::vector<std::string> gRan;

int record(const Step &s)
{
    gRan.push_back(s.name);
    return 0;
}
int recordAndFail(const Step &s)
{
    gRan.push_back(s.name);
    return -1;
}

void clearFlags(const std::vector<Step> &table)
{
    for (const Step &s : table)
        if (s.flag != nullptr)
            *s.flag = 0;
}

// The product's table with every step recording instead of running, and
// the test's own row after them.
std::vector<Step> tableWithTestRow(Stage stage, int failCode = 0, updt::migrate::StepFn run = record)
{
    std::vector<Step> table(updt::migrate::steps().begin(), updt::migrate::steps().end());
    for (Step &s : table)
        s.run = record;
    table.push_back({.name = "TestOnlyStep",
                     .flag = &gTestOnlyStep,
                     .flagName = "gTestOnlyStep",
                     .firstBuild = updt::migrate::kAnyBuild,
                     .lastBuild = 500,
                     .bits = 1,
                     .stage = stage,
                     .failCode = failCode,
                     .run = run});
    return table;
}

// The names of the rows of a stage whose flags are set, in table order.
std::vector<std::string> selected(const std::vector<Step> &table, Stage stage)
{
    std::vector<std::string> names;
    for (const Step &s : table)
        if (s.stage == stage && (s.flag == nullptr || (*s.flag & s.bits) != 0))
            names.push_back(s.name);
    return names;
}

}  // namespace

TEST(MigrationTable, ARowOnlyInTheTestReachesFlagsStepsAndNames)
{
    std::vector<Step> table = tableWithTestRow(Stage::BeforeWrite);
    EXPECT_EQ(analysistest::thresholdFlags(table).count("gTestOnlyStep"), 1u);

    clearFlags(table);
    updt::migrate::setFlags(table, 501);
    EXPECT_EQ(gTestOnlyStep, 0);
    updt::migrate::setFlags(table, 500);
    EXPECT_EQ(gTestOnlyStep, 1);

    gRan.clear();
    EXPECT_EQ(updt::migrate::runStage(table, Stage::BeforeWrite), 0);
    ASSERT_FALSE(gRan.empty());
    EXPECT_EQ(gRan, selected(table, Stage::BeforeWrite));
    EXPECT_EQ(gRan.back(), "TestOnlyStep");

    // After the write it runs there instead.
    table = tableWithTestRow(Stage::AfterWrite);
    gRan.clear();
    EXPECT_EQ(updt::migrate::runStage(table, Stage::AfterWrite), 0);
    EXPECT_EQ(gRan, selected(table, Stage::AfterWrite));
    EXPECT_EQ(gRan.back(), "TestOnlyStep");
    clearFlags(table);
}

TEST(MigrationTable, FailuresEndTheStageBeforeTheWriteButNotAfter)
{
    struct Case {
        const char *name;
        Stage stage;
        int failCode;
        int result;
        bool laterRowsRun;
    };
    const Case cases[] = {
        {.name = "before_with_code", .stage = Stage::BeforeWrite, .failCode = 21, .result = 21, .laterRowsRun = false},
        {.name = "before_logged_only", .stage = Stage::BeforeWrite, .failCode = 0, .result = 0, .laterRowsRun = true},
        {.name = "after_required", .stage = Stage::AfterWrite, .failCode = 17, .result = 17, .laterRowsRun = true},
        {.name = "after_logged_only", .stage = Stage::AfterWrite, .failCode = 0, .result = 0, .laterRowsRun = true},
    };
    for (const Case &c : cases) {
        std::vector<Step> table = tableWithTestRow(c.stage, c.failCode, recordAndFail);
        // The failing row first among the rows of its stage.
        Step row = table.back();
        table.pop_back();
        size_t at = 0;
        while (table[at].stage != c.stage)
            ++at;
        table.insert(table.begin() + static_cast<long>(at), row);
        clearFlags(table);
        updt::migrate::setFlags(table, 100);
        gRan.clear();
        EXPECT_EQ(updt::migrate::runStage(table, c.stage), c.result) << c.name;
        ASSERT_FALSE(gRan.empty()) << c.name;
        EXPECT_EQ(gRan.front(), "TestOnlyStep") << c.name;
        EXPECT_EQ(gRan.size() > 1, c.laterRowsRun) << c.name;
        clearFlags(table);
    }
}
