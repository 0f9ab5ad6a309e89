// The configuration steps keyed to the installed firmware: one row each,
// in the order they run.  The analysis sets the flags from the rows and the
// driver runs the rows of a stage.  A new migration also needs its flag,
// its function's file and tests (README: "How to add a migration step").
#ifndef UPDT_MIGRATION_TABLE_H
#define UPDT_MIGRATION_TABLE_H

#include <climits>
#include <span>

namespace updt::migrate {

enum class Stage {
    BeforeWrite,   // after the analysis, before the flash is touched
    PhotoFolders,  // after the write: the photo share's folders, by the driver
    Databases,     // then the database steps and the re-index (UpdatePgsqlDatabases)
    AfterWrite,    // then the configuration (UPDTUpdateConfig); a failure rolls it back
};

struct Step;
// 0, or negative when the step failed.
using StepFn = int (*)(const Step &step);

// Rows whose flag the analysis does not set from the build number.
inline constexpr int kNotByBuild = INT_MIN;
// A first build for rows set for every build up to their last one.
inline constexpr int kAnyBuild = INT_MIN + 1;

struct Step {
    const char *name;          // the function that runs it, as logged
    int *flag;                 // nullptr: runs on every run of its stage
    const char *flagName;      // the flag variable's name
    int firstBuild;            // set for installed builds firstBuild ...
    int lastBuild;             // ... to lastBuild; kNotByBuild: set elsewhere
    int bits;                  // ORed into *flag; the row runs when they are set
    Stage stage;
    int failCode;              // exit code of a failure; 0: only logged
    StepFn run;
};

// The updater's own table.
std::span<const Step> steps();

// Sets the flag bits of every row whose build range holds build; clears
// nothing.
void setFlags(std::span<const Step> table, int build);

// Runs the rows of one stage whose flag is set, in order.  Before the
// write the first failure with a code ends the stage; after it every row
// runs and the first failure's code is returned.  0 when none failed so.
int runStage(std::span<const Step> table, Stage stage);
// The same without the rows for which skip answers true.
int runStage(std::span<const Step> table, Stage stage, bool (*skip)(const Step &step));

// The stand-in for a step this updater does not have yet: logs
// "<name> is not available in this updater, skipped" and succeeds.
int notAvailable(const Step &step);

}  // namespace updt::migrate

extern "C" {

// The configuration after the write: the rows of Stage::AfterWrite (the
// obsolete files, "/writeable", the crontab, the MTU keys and the
// accounts).  0, or -1 when a row that must succeed failed; every row runs.
int UPDTUpdateConfig(void);
// The database rows (photo tables, the media database, the dumps) and the
// media re-index; what they leave is not looked at.  0.
int UpdatePgsqlDatabases(void);

}

#endif
