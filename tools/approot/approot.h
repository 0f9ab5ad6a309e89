// Throw-away appliance root for tests: a copy-on-write view of the host's
// "/" with fixture layers on top, run in its own mount, pid, network and
// time namespaces by the `approot` tool.  Nothing a command does inside
// reaches the host, except through folders bound in on purpose.
#ifndef VEXA_TOOLS_APPROOT_H
#define VEXA_TOOLS_APPROOT_H

#include <string>
#include <utility>
#include <vector>

namespace approot {

struct RunResult {
    int status;       // exit code, or 128+signal; 124 timeout, 125 root setup failed
    std::string out;  // the command's standard output
    std::string err;  // its standard error (and the tool's own messages)
};

struct Change {
    char kind;         // 'A' created, 'M' modified (incl. metadata), 'D' removed
    std::string path;  // as seen inside ("/etc/passwd")
};

bool operator==(const Change &a, const Change &b);

// Writes this process's coverage counters in a coverage build (nothing
// otherwise).  Whatever ends with _exit calls it first: _exit skips the
// exit-time write.
void flushCoverage();

class Appliance {
public:
    // A fresh scratch folder under <build>/testtmp, removed in the
    // destructor unless VEXA_KEEP_TMP is set.
    explicit Appliance(const std::string &tag);
    ~Appliance();
    Appliance(const Appliance &) = delete;
    Appliance &operator=(const Appliance &) = delete;

    const std::string &dir() const;

    // Host path of `inside` in the test's own fixture layer, parents
    // created.  Paths under /dev land in the appliance's own /dev folder.
    // Fixture writes after a run replace what the runs left at that path
    // (it is fixture again, no longer a change).
    std::string layerPath(const std::string &inside) const;
    void writeFile(const std::string &inside, const std::string &content, int mode = 0644);
    void mkdir(const std::string &inside, int mode = 0755);
    void symlink(const std::string &target, const std::string &inside);

    // Extra fixture layer, below the test's own layer; the first added
    // lies highest.
    void addLayer(const std::string &hostDir);
    // Host folder shown read-write at `inside` (writes reach the host).
    void bind(const std::string &hostDir, const std::string &inside);
    // Host folder shown read-only at `inside`, without the mounts below it.
    void bindReadOnly(const std::string &hostDir, const std::string &inside);
    // Every user inside may pass the folders down to `inside`, whatever
    // their modes on the host (which stay as they are).  The build tree is
    // always reachable: programs run as other users inside reach what is
    // under test wherever the build lies.
    void reach(const std::string &inside);
    void setEnv(const std::string &key, const std::string &value);
    void setEth0(int mtu, int speedMbps);
    void setUptime(long seconds);
    void setHwVersion(const std::string &text);
    void setTimeout(int seconds);  // default 120; 0 waits for ever

    // Runs argv inside; standard input is /dev/null.  Runs accumulate:
    // the second run sees what the first one left.
    RunResult run(const std::vector<std::string> &argv, const std::string &cwd = "/");

    std::vector<Change> changes() const;      // sorted by path
    std::vector<std::string> syslog() const;  // messages in order, "<pri>" kept
    void clearSyslog();
    std::string console() const;              // what went to /dev/console
    // Pauses (sleep, usleep, nanosleep) made inside, which return at once:
    // "usleep 0.050000000", one line each, in order.
    std::vector<std::string> pauses() const;
    void clearPauses();
    // Merged view: upper layer, fixture layers, then the host's "/".
    std::string readFile(const std::string &inside) const;
    bool exists(const std::string &inside) const;
    int eth0MtuAfterRun() const;  // -1 when the last run had no eth0

    // Path of the approot binary the runs use.
    static std::string toolPath();

private:
    std::vector<std::string> commonArgs() const;
    static std::vector<std::string> linesOf(const std::string &path);
    std::string fixturePath(const std::string &inside, bool keepDir) const;

    std::string dir_;
    std::vector<std::string> layers_;  // top first; the test's own layer first
    struct Bound {
        std::string host;
        std::string inside;
        bool readOnly;
    };
    std::vector<Bound> binds_;
    std::vector<std::string> reach_;
    std::vector<std::pair<std::string, std::string>> env_;
    int eth0Mtu_ = -1;
    int eth0Speed_ = -1;
    bool hasUptime_ = false;
    long uptime_ = 0;
    bool hasHw_ = false;
    std::string hw_;
    int timeout_ = 120;
};

}  // namespace approot

#endif
