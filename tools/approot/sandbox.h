// The run itself: namespaces, overlay, /dev, /proc, eth0, clock, command.
#ifndef VEXA_TOOLS_APPROOT_SANDBOX_H
#define VEXA_TOOLS_APPROOT_SANDBOX_H

#include "overlay_view.h"

#include <string>
#include <utility>
#include <vector>

namespace approot {

struct SandboxOptions {
    std::string dir;                        // scratch folder, absolute
    std::vector<std::string> layers;        // fixture layers, top first, absolute
    std::vector<view::Mount> binds;         // host folder -> inside path
    std::vector<std::string> reach;         // folders every user inside may reach
    int eth0Mtu = -1;                       // -1: tap default
    int eth0Speed = -1;                     // -1: tap default
    bool eth0 = false;
    bool hasUptime = false;
    long uptime = 0;
    bool hasHw = false;
    std::string hw;
    std::vector<std::pair<std::string, std::string>> env;
    std::string cwd = "/";
    int timeout = 120;                      // seconds, 0 = none
    std::vector<std::string> argv;
};

// Exit statuses of the tool besides the command's own.
constexpr int kStatusTimeout = 124;
constexpr int kStatusSetup = 125;

// Runs the command; returns its status (or 128+signal, 124, 125).
int runSandbox(const SandboxOptions &opt);

}  // namespace approot

#endif
