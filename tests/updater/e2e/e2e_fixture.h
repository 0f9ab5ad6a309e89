// One simulated appliance for an end-to-end run of the updater: the flash
// chip, the package folder with the program in it, the system's files, and
// readers for what the run left behind.
#ifndef VEXA_TEST_E2E_FIXTURE_H
#define VEXA_TEST_E2E_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "approot.h"
#include "simfixture.h"
#include "test_tmp.h"

namespace e2e {

struct Installed {
    int build = 900;
    std::string model;  // "" takes the table's test model
    bool raid = true;
    bool supportMtu = false;
    std::string eth0Mtu;  // "" leaves the key out
    std::string major = "2";
    std::string extraDefaults;  // more lines of "/etc.defaults/vexainfo.conf"
};

class Appliance {
public:
    // table: "normal" or "bantam" (bantam models are named "*_bantam").
    explicit Appliance(const std::string &table, const std::string &packageDir = "/volume1/upd@te");

    // Installed firmware and system files (call before run).
    void install(const Installed &inst);
    // The same with MTU support, eth0_mtu and eth0 at that MTU and speed.
    void installWithMtu(int mtu, int speedMbps);
    // The package: VERSION and images (contents.model is set from the table
    // unless given); the updater program is linked into the folder.
    void package(simkernel::PackageLayout contents);
    void packageFile(const std::string &name, const std::string &content);
    // Puts a shell script in place of the copy tool "/usr/bin/dd"; the
    // real one stays reachable as "/usr/local/bin/dd.real".
    void wrapCopyTool(const std::string &script);
    // The same for any tool of "/usr/bin": the real one stays reachable as
    // "/usr/local/bin/<tool>.real".
    void wrapTool(const std::string &tool, const std::string &script);
    // A disk model's "/dev/hda" as "/sbin/sfdisk" reports it: partition 1
    // of sectors1 sectors, partition 3 from sector start3.
    void disk(long long sectors1, long long start3);
    // Stand-ins for the database service, its tools (su, pg_dump) and the
    // media indexer, each call one line in stubCalls(): the program's name
    // and its arguments in brackets; pg_dump prints "-- dump of <db>".  And
    // "/etc/nsswitch.conf" with files only, so that the account lookups read
    // the root's own files.
    void stubServices();
    std::vector<std::string> stubCalls() const;

    approot::RunResult run(const std::vector<std::string> &args);
    approot::RunResult runAs(const std::vector<std::string> &argv);  // argv[0] as given

    std::vector<std::string> progress() const;   // every text written, in order
    std::string lastProgress() const;            // the file's content
    std::vector<std::string> updateLog() const;  // texts, stamps removed
    std::vector<std::string> syslog() const;     // messages, "<pri>" and header removed
    bool syslogHas(const std::string &part) const;
    // How many system-log messages hold part.
    size_t syslogCount(const std::string &part) const;
    // "stat -c format" of a path inside, without following a link; "" when
    // it is not there.
    std::string statOf(const std::string &path, const std::string &format = "%F %a %u %h");

    std::string table;
    std::string packageDir;  // inside
    std::string model;
    vexatest::TempDir tmp{"e2e"};
    std::string state;
    approot::Appliance app{"e2e"};
    std::vector<std::string> watchFail;
    bool initrd = true;  // "/initrd" exists (the system runs from it)

    // Flash directory and partition bytes as the chip holds them now.
    std::vector<simkernel::DirEntry> directory() const;
    simkernel::DirEntry entry(const std::string &name) const;
};

std::string updaterPath();

// The updater's last update-log line and system-log message when it fails
// with this exit code.
inline constexpr char kFailPrefix[] = "Failed to accomplish the update! (errno = ";
inline std::string failed(int code)
{
    return kFailPrefix + std::to_string(code) + ")";
}

// What a run that ends with exit code 17 leaves: its status, the last
// progress text, and the failure line last in the update log and in the
// system log.  Call it under ASSERT_NO_FATAL_FAILURE: an empty update log
// ends the test.
inline void expectExit17(const Appliance &a, const approot::RunResult &r)
{
    EXPECT_EQ(r.status, 17) << r.err;
    EXPECT_EQ(a.lastProgress(), "C:-17:      ");
    ASSERT_FALSE(a.updateLog().empty());
    EXPECT_EQ(a.updateLog().back(), failed(17));
    EXPECT_TRUE(a.syslogHas(failed(17)));
}

}  // namespace e2e

#endif
