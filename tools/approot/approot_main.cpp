// approot: runs one command in a throw-away appliance root.
#include "overlay_view.h"
#include "sandbox.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kHelp[] =
    "usage: approot --dir SCRATCH [options] -- COMMAND [ARG]...\n"
    "       approot --dir SCRATCH [--layer DIR]... [--bind[-ro] HOST[:INSIDE]]... --changes\n"
    "\n"
    "Runs COMMAND chrooted in a copy-on-write view of the host's \"/\" with the\n"
    "fixture layers on top, in its own mount, pid, ipc, uts and network\n"
    "namespaces (and a time namespace with --uptime).  Nothing it writes reaches\n"
    "the host, except inside folders given with --bind.\n"
    "\n"
    "Options:\n"
    "  --dir SCRATCH        scratch folder (created); runs on one folder accumulate\n"
    "  --layer DIR          fixture layer; the first one given lies on top\n"
    "  --bind HOST[:INSIDE] host folder shown read-write at INSIDE (default: the\n"
    "                       same path); writes there reach HOST\n"
    "  --bind-ro HOST[:INSIDE]  the same, read-only and without the mounts below\n"
    "                       HOST; bound folders are attached parents first\n"
    "  --reach DIR          every user inside may pass the folders above DIR: those\n"
    "                       closed to others get their search bits in the root's\n"
    "                       own lowest layer; the host's folders keep their modes\n"
    "  --eth0-mtu N         create eth0 (a tap device) with MTU N\n"
    "  --eth0-speed N       create eth0 reporting a link of N Mb/s (default 10000)\n"
    "  --uptime SECONDS     what sysinfo and /proc/uptime report at the start\n"
    "  --hw-version TEXT    content of /proc/sys/kernel/vexa_hw_version, exactly\n"
    "                       as given (add the newline yourself)\n"
    "  --env KEY=VALUE      environment for COMMAND (repeatable)\n"
    "  --cwd DIR            working folder inside (default /)\n"
    "  --timeout SECONDS    kill everything after SECONDS (default 120, 0 = never)\n"
    "  --changes            print the upper layer's changes, one \"A|M|D PATH\" a\n"
    "                       line, and exit (no command)\n"
    "  --help               this text\n"
    "\n"
    "Inside: PATH=/usr/sbin:/usr/bin:/sbin:/bin and HOME=/root, ASAN_OPTIONS,\n"
    "UBSAN_OPTIONS and LSAN_OPTIONS passed through from the caller,\n"
    "verify_asan_link_order=0 added to ASAN_OPTIONS, then the --env values.\n"
    "/dev is the folder SCRATCH/dev: null, zero, full, random, urandom and tty\n"
    "bound from the host, console a plain file, log a datagram socket whose\n"
    "messages are recorded; /proc is fresh; /tmp shows only what the layers give.\n"
    "\n"
    "Files in SCRATCH:\n"
    "  upper/           the overlay's upper layer: what the runs changed\n"
    "  syslog           one line per message sent to /dev/log, as sent (\"<pri>\"\n"
    "                   kept); control characters written as #ooo; appended\n"
    "  dev/console      what was written to /dev/console; appended\n"
    "  eth0_mtu_after   eth0's MTU when the command ended, -1 without eth0\n"
    "  work/, root/, .layers/   the tool's own\n"
    "\n"
    "Exit status: COMMAND's, 128+N when it was killed by signal N, 124 when it\n"
    "timed out, 125 when the root could not be set up, 126/127 when COMMAND\n"
    "could not be run.  Works as root; an ordinary user gets a user namespace\n"
    "(no eth0 then).\n";

int usage(const std::string &msg)
{
    fprintf(stderr, "approot: %s\n(approot --help for usage)\n", msg.c_str());
    return approot::kStatusSetup;
}

bool toInt(const std::string &s, long lo, long hi, long &out)
{
    if (s.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    long v = strtol(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

std::string absolute(const std::string &path)
{
    if (!path.empty() && path[0] == '/')
        return approot::view::normalise(path);
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr)
        return path;
    return approot::view::normalise(std::string(cwd) + "/" + path);
}

bool isDir(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

int main(int argc, char **argv)
{
    approot::SandboxOptions opt;
    bool listChanges = false;
    std::vector<std::pair<std::string, std::string>> userEnv;
    int i = 1;
    for (; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--") {
            ++i;
            break;
        }
        if (a == "--help" || a == "-h") {
            fputs(kHelp, stdout);
            return 0;
        }
        if (a == "--changes") {
            listChanges = true;
            continue;
        }
        if (a.rfind("--", 0) != 0)
            break;  // the command, without "--"
        std::string value;
        size_t eq = a.find('=');
        if (eq != std::string::npos) {
            value = a.substr(eq + 1);
            a = a.substr(0, eq);
        } else {
            if (i + 1 >= argc)
                return usage(a + " needs a value");
            value = argv[++i];
        }
        long n = 0;
        if (a == "--dir") {
            opt.dir = absolute(value);
        } else if (a == "--layer") {
            if (!isDir(value))
                return usage("layer " + value + " is not a folder");
            opt.layers.push_back(absolute(value));
        } else if (a == "--bind" || a == "--bind-ro") {
            size_t colon = value.find(':');
            std::string host = value.substr(0, colon);
            std::string inside = colon == std::string::npos ? host : value.substr(colon + 1);
            if (!isDir(host))
                return usage("bound folder " + host + " is not a folder");
            host = absolute(host);
            if (colon == std::string::npos)
                inside = host;
            if (inside.empty() || inside[0] != '/')
                return usage("the inside path of " + a + " must be absolute: " + inside);
            inside = approot::view::normalise(inside);
            if (inside == "/" || inside == "/dev" || inside.rfind("/dev/", 0) == 0 || inside == "/proc" ||
                inside.rfind("/proc/", 0) == 0)
                return usage("cannot bind over " + inside);
            opt.binds.push_back({inside, host, a == "--bind-ro"});
        } else if (a == "--reach") {
            if (value.empty() || value[0] != '/')
                return usage("the path of --reach must be absolute: " + value);
            opt.reach.push_back(approot::view::normalise(value));
        } else if (a == "--eth0-mtu") {
            if (!toInt(value, 68, 65535, n))
                return usage("bad MTU " + value);
            opt.eth0 = true;
            opt.eth0Mtu = static_cast<int>(n);
        } else if (a == "--eth0-speed") {
            if (!toInt(value, 1, INT_MAX, n))
                return usage("bad link speed " + value);
            opt.eth0 = true;
            opt.eth0Speed = static_cast<int>(n);
        } else if (a == "--uptime") {
            if (!toInt(value, 0, 100L * 365 * 86400, n))
                return usage("bad uptime " + value);
            opt.hasUptime = true;
            opt.uptime = n;
        } else if (a == "--hw-version") {
            opt.hasHw = true;
            opt.hw = value;
        } else if (a == "--env") {
            size_t e = value.find('=');
            if (e == std::string::npos || e == 0)
                return usage("--env needs KEY=VALUE, got " + value);
            userEnv.push_back({value.substr(0, e), value.substr(e + 1)});
        } else if (a == "--cwd") {
            if (value.empty() || value[0] != '/')
                return usage("--cwd needs an absolute path");
            opt.cwd = value;
        } else if (a == "--timeout") {
            if (!toInt(value, 0, INT_MAX, n))
                return usage("bad timeout " + value);
            opt.timeout = static_cast<int>(n);
        } else {
            return usage("unknown option " + a);
        }
    }
    for (; i < argc; ++i)
        opt.argv.push_back(argv[i]);
    if (opt.dir.empty())
        return usage("--dir is required");

    if (listChanges) {
        if (!opt.argv.empty())
            return usage("--changes takes no command");
        for (const auto &c : approot::view::changes(approot::view::stackFor(opt.dir, opt.layers, opt.binds)))
            printf("%c %s\n", c.kind, c.path.c_str());
        return 0;
    }
    if (opt.argv.empty())
        return usage("no command given");

    opt.env = {{"PATH", "/usr/sbin:/usr/bin:/sbin:/bin"}, {"HOME", "/root"}};
    for (const char *k : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
        if (const char *v = getenv(k))
            opt.env.push_back({k, v});
    for (const auto &kv : userEnv) {
        bool replaced = false;
        for (auto &e : opt.env)
            if (e.first == kv.first) {
                e.second = kv.second;
                replaced = true;
            }
        if (!replaced)
            opt.env.push_back(kv);
    }
    // A library preloaded into sanitized programs must not stop them.
    bool asan = false;
    for (auto &e : opt.env)
        if (e.first == "ASAN_OPTIONS") {
            e.second += e.second.empty() ? "verify_asan_link_order=0" : ":verify_asan_link_order=0";
            asan = true;
        }
    if (!asan)
        opt.env.push_back({"ASAN_OPTIONS", "verify_asan_link_order=0"});

    return approot::runSandbox(opt);
}
