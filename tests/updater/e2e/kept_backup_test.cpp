// The copies a failed roll-back leaves behind are the only way back to the
// old firmware: a second run of the updater keeps them under a new name.
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "e2e_fixture.h"

namespace {

TEST(KeptBackup, ARetryAfterAFailedRollBackKeepsTheFirstCopies)
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

}  // namespace
