// One probe serves the test files of this folder: the pre-flash steps'
// words are read in preflash_root_test.cpp, the table rows' in
// migrate_steps_test.cpp.
#ifndef VEXA_TEST_MIGRATE_PROBE_H
#define VEXA_TEST_MIGRATE_PROBE_H

#include <string>

// Runs one word naming a table row or arming a failure; false when the
// word is neither.
bool runStepOp(const std::string &op);

#endif
