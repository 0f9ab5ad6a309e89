// Reads an appliance root's layers from the host side, the way the overlay
// inside shows them: lookups in the merged view and the list of changes the
// upper layer holds.
#ifndef VEXA_TOOLS_APPROOT_OVERLAY_VIEW_H
#define VEXA_TOOLS_APPROOT_OVERLAY_VIEW_H

#include "approot.h"

#include <set>
#include <string>
#include <vector>

namespace approot::view {

struct Mount {
    std::string inside;  // normalised inside path
    std::string host;    // host folder shown there
    bool readOnly = false;  // shown read-only, without the mounts below it
};

struct Stack {
    std::string upper;                      // host folder of the upper layer
    std::vector<std::string> lowers;        // fixture layers, top first
    std::vector<std::string> hiddenOnHost;  // inside folders whose host content is hidden
    std::vector<Mount> mounts;              // inside paths served by host folders
    std::vector<std::string> ignored;       // inside paths never reported
    bool compareOwners = true;              // off when a user namespace wrote the upper layer
};

// The names in a host folder, without "." and ".."; empty, with *ok false,
// when it cannot be listed.
std::set<std::string> listDir(const std::string &host, bool *ok = nullptr);

// "/a/b" form: slashes collapsed, "." and ".." applied, relative taken from "/".
std::string normalise(const std::string &inside);

// Host path that holds `inside` in the merged view, symlinks resolved
// (the last one only when followLast), or "" when absent.
std::string resolve(const Stack &stack, const std::string &inside, bool followLast = true);

// What the upper layer holds against the lower ones, sorted by path.
std::vector<Change> changes(const Stack &stack);

// Makes a fixture write at `inside` show through: removes what the upper
// layer holds there (a whiteout, a file; a folder only when !keepDir) and
// whiteouts or files on the way to it; an opaque folder on the way becomes
// a plain one with explicit whiteouts, so what it hid stays hidden.
void dropUpper(const Stack &stack, const std::string &inside, bool keepDir);

// The stack the tool builds for a scratch folder and its options.
Stack stackFor(const std::string &scratch, const std::vector<std::string> &layers,
               const std::vector<Mount> &binds);

}  // namespace approot::view

#endif
