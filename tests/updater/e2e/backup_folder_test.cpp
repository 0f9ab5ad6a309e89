// The backup folder in a package folder that another user owns: swapped
// while the copies are made, and kept by a failed roll-back (the only way
// back to the old firmware) when the updater runs again.
#include <signal.h>

#include <map>
#include <string>

#include <gtest/gtest.h>

#include "e2e_fixture.h"

namespace {

TEST(BackupFolder, ARetryAfterAFailedRollBackKeepsTheFirstCopies)
{
    e2e::Appliance a("normal");
    a.install({});
    simkernel::PackageLayout contents;
    contents.images = simkernel::defaultImages("normal");
    contents.images["zImage"] = 0x110000;  // rd.gz gives a block: it moves
    a.package(contents);
    std::map<std::string, std::string> old;
    for (const simkernel::DirEntry &e : a.directory())
        old[e.name] = simkernel::partitionBytes(a.state, e.name);

    // rd.gz can be written neither by the updater nor by its roll-back.
    simkernel::addFault(a.state, "fail write dev=mtd2 always");
    approot::RunResult r = a.run({});
    ASSERT_EQ(r.status, 20) << r.err;
    ASSERT_TRUE(a.syslogHas("UPDTRollBack() fail"));
    const std::string pkg = a.packageDir;
    for (const auto &[name, bytes] : old)
        ASSERT_TRUE(a.app.readFile(pkg + "/b@ckup/mtd_" + name) == bytes) << name;

    simkernel::clearFaults(a.state);
    a.app.clearSyslog();
    r = a.run({});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(a.syslogHas(pkg + "/b@ckup of an earlier run is kept as " + pkg + "/b@ckup.1"));
    for (const auto &[name, bytes] : old)
        EXPECT_TRUE(a.app.readFile(pkg + "/b@ckup.1/mtd_" + name) == bytes) << name;
    EXPECT_FALSE(a.app.exists(pkg + "/b@ckup"));  // the second run's own, after its success
    for (const char *part : {"zImage", "rd.gz", "AllLib.tgz"}) {
        const std::string file = simkernel::imageFileName(part);
        const uint64_t size = contents.images.at(file);
        EXPECT_TRUE(simkernel::partitionData(a.state, part, size) == simkernel::imageBytes(file, contents.build, size))
            << part;
    }
}

// The package folder's owner (an ordinary user) swaps b@ckup for a folder
// of links to "/etc/shadow" while the updater copies the second partition;
// the test-side racer stops the copy there, lets the owner act, and goes on.
TEST(BackupFolder, SwappedDuringTheBackupRedirectsNoCopy)
{
    e2e::Appliance a("normal");
    a.install({});
    a.package({});
    const std::string shadow = "root:$6$salt$hash:19000:0:99999:7:::\n";
    a.app.writeFile("/etc/shadow", shadow, 0600);
    a.app.mkdir("/initrd");
    std::map<std::string, std::string> old;
    for (const simkernel::DirEntry &e : a.directory())
        old[e.name] = simkernel::partitionBytes(a.state, e.name);
    simkernel::addFault(a.state, "signal read proc=dd dev=mtd1 after=1 sig=" + std::to_string(SIGSTOP));
    const std::string racer = std::string(VEXA_BINARY_DIR) + "/tests/patchprobe";
    const approot::RunResult r = a.app.run(
        {racer, "--race-as", "65534", "/etc/shadow", "--exec", a.packageDir + "/updater"}, a.packageDir);
    ASSERT_NE(r.out.find("race=0\n"), std::string::npos) << r.out << r.err;
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(a.app.readFile("/etc/shadow"), shadow);
    for (const approot::Change &c : a.app.changes())
        EXPECT_NE(c.path.rfind("/etc/", 0), 0u) << c.kind << " " << c.path;
    // The copies went on into the folder the updater made, wherever its
    // owner moved it.
    for (const auto &[name, bytes] : old)
        EXPECT_TRUE(a.app.readFile(a.packageDir + "/b@ckup.swapped/mtd_" + name) == bytes) << name;
}

}  // namespace
