// A store into one cache file made to fail once, as a full disk would: the
// test program's own dbopen (failput.cpp) hands out handles whose put it
// can refuse.
#ifndef VEXA_TEST_FAILPUT_H
#define VEXA_TEST_FAILPUT_H

#include <string>

namespace usertest {

// The next put of a record (no "#" marker) into a file whose path ends with
// suffix fails with EIO; the later ones pass.
void failNextPut(const std::string &suffix);

}  // namespace usertest

#endif
