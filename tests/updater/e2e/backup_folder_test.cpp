// The backup folder in a package folder that another user owns: swapped
// while the copies are made, and kept by a failed roll-back (the only way
// back to the old firmware) when the updater runs again.
#include <signal.h>

#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

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
}

// -g makes no backup: an earlier b@ckup is kept under a new name, whether
// the write succeeds or fails, and the log says where.
TEST(BackupFolder, GroupUpdateKeepsAnEarlierBackup)
{
    for (const bool failWrite : {false, true}) {
        e2e::Appliance a("normal");
        a.install({});
        a.package({});
        const std::string pkg = a.packageDir;
        // Made inside, as a run makes it.
        ASSERT_EQ(a.app.run({"/bin/sh", "-c", "mkdir -m 700 '" + pkg + "/b@ckup' && echo old >'" + pkg +
                                                  "/b@ckup/mtd_zImage'"})
                      .status,
                  0);
        if (failWrite)
            simkernel::addFault(a.state, "fail write dev=mtd1 proc=updater always");
        const approot::RunResult r = a.run({"-g"});
        EXPECT_EQ(r.status, failWrite ? 20 : 0) << r.err;
        EXPECT_EQ(a.app.readFile(pkg + "/b@ckup.1/mtd_zImage"), "old\n") << failWrite;
        EXPECT_TRUE(a.syslogHas(pkg + "/b@ckup of an earlier run is kept as " + pkg + "/b@ckup.1")) << failWrite;
        EXPECT_FALSE(a.app.exists(pkg + "/b@ckup")) << failWrite;
    }
}

// The package folder's owner (an ordinary user) swaps b@ckup for a folder
// of links to "/etc/shadow" while the updater copies the second partition;
// the test-side racer stops the updater there, lets the owner act, and goes on.
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
    simkernel::addFault(a.state, "signal read proc=updater dev=mtd1 after=1 sig=" + std::to_string(SIGSTOP));
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

// What the package folder or the flash may hold that stops the run before
// the first erase, with the code of its stage.
struct Refusal {
    const char *name;
    std::function<void(e2e::Appliance &)> setup;
    int status;
    std::string logged;  // part of a system-log message
};

void PrintTo(const Refusal &c, std::ostream *os)
{
    *os << c.name;
}

class Refused : public ::testing::TestWithParam<Refusal> {};

TEST_P(Refused, BeforeAnyErase)
{
    const Refusal &c = GetParam();
    e2e::Appliance a("normal");
    a.install({});
    const std::string shadow = "root:$6$salt$hash:19000:0:99999:7:::\n";
    a.app.writeFile("/etc/shadow", shadow, 0600);
    simkernel::PackageLayout contents;
    contents.images = simkernel::defaultImages("normal");
    contents.images.erase("zImage");
    a.package(contents);
    c.setup(a);
    const std::string chipBefore = simkernel::chipBytes(a.state);
    const approot::RunResult r = a.run({});
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_TRUE(a.syslogHas(c.logged)) << c.logged;
    EXPECT_TRUE(simkernel::opsMatching(a.state, {"req=MEMERASE"}).empty());
    EXPECT_TRUE(simkernel::chipBytes(a.state) == chipBefore) << "the flash changed";
    EXPECT_EQ(a.app.readFile("/etc/shadow"), shadow);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Refused,
    ::testing::Values(
        Refusal{.name = "zImage_links_to_a_secret",
                .setup = [](e2e::Appliance &a) { a.app.symlink("/etc/shadow", a.packageDir + "/zImage"); },
                .status = 19,
                .logged = "file [zImage] is not a regular file"},
        Refusal{.name = "directory_overlaps",
                .setup =
                    [](e2e::Appliance &a) {
                        a.packageFile("zImage", std::string(0x10000, 'Z'));
                        std::vector<simkernel::DirEntry> dir = a.directory();
                        for (simkernel::DirEntry &e : dir) {
                            e.raw.clear();
                            if (e.name == "zImage")
                                e.size += 0x10000;  // into rd.gz
                        }
                        simkernel::writeDirectory(a.state, dir);
                        // zImage's device follows the directory, as the
                        // kernel reads it at boot.
                        sk::State st = simkernel::loadState(a.state);
                        st.part[1].size += 0x10000;
                        simkernel::saveState(a.state, st);
                    },
                .status = 19,
                .logged = "partitions [zImage] and [rd.gz] overlap"},
        // One bit read wrongly while zImage is copied.
        Refusal{.name = "copy_reads_differently",
                .setup =
                    [](e2e::Appliance &a) {
                        a.packageFile("zImage", std::string(0x10000, 'Z'));
                        simkernel::addFault(a.state, "corrupt read dev=mtd1 proc=updater at=20000");
                    },
                .status = 15,
                .logged = "b@ckup/mtd_zImage] differs from /dev/mtd1"}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
