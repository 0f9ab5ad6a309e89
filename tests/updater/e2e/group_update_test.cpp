// A -g update of each partition table, with a zImage that needs an erase
// block from rd.gz: the progress, the flash and its directory, the driver
// buffer, the upgrade archive and the marker.
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_fixture.h"

namespace {

constexpr uint32_t kBlock = 0x10000;

struct Table {
    const char *name;
    uint32_t zImageSize;  // one erase block more than the partition holds
    uint32_t rdSize;      // leaves the blocks to give (the capacity rule
                          // counts RedBoot, which lies outside the span)
};

void PrintTo(const Table &t, std::ostream *os)
{
    *os << t.name;
}

class GroupUpdate : public ::testing::TestWithParam<Table> {};

// Parses "L:n:      " (blanks included); false for any other text.
bool parseProgress(const std::string &text, char &letter, int &value)
{
    static const std::regex form(R"(^([APCR]):(-?\d+):      $)");
    std::smatch m;
    if (!std::regex_match(text, m, form))
        return false;
    letter = m[1].str()[0];
    value = std::stoi(m[2].str());
    return true;
}

TEST_P(GroupUpdate, WritesMovesAndRecordsEveryImage)
{
    const Table t = GetParam();
    e2e::Appliance a(t.name);
    a.install({});
    simkernel::PackageLayout contents;
    contents.images = simkernel::defaultImages(t.name);
    contents.images["zImage"] = t.zImageSize;
    contents.images["rd.bin"] = t.rdSize;
    a.package(contents);
    a.packageFile("hda1.tgz", "the new system partition");
    const std::vector<simkernel::DirEntry> before = a.directory();
    const std::vector<std::string> &names = simkernel::tableNames(t.name);

    const approot::RunResult r = a.run({"-g"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "");

    // Progress: the fixed stages, the write rising from 60 to 100, the end.
    const std::vector<std::string> seq = a.progress();
    const std::vector<std::string> head = {"A:0:      ", "A:10:      ", "P:0:      ",
                                           "P:10:      ", "P:20:      ", "P:60:      "};
    const std::vector<std::string> tail = {"P:100:      ", "C:0:      ", "C:100:      ", "R:0:      ", "R:0:      "};
    ASSERT_GT(seq.size(), head.size() + tail.size());
    EXPECT_EQ(std::vector<std::string>(seq.begin(), seq.begin() + head.size()), head);
    EXPECT_EQ(std::vector<std::string>(seq.end() - tail.size(), seq.end()), tail);
    int last = 60;
    for (size_t i = head.size(); i < seq.size() - tail.size(); ++i) {
        char letter = 0;
        int value = 0;
        ASSERT_TRUE(parseProgress(seq[i], letter, value)) << seq[i];
        EXPECT_EQ(letter, 'P') << seq[i];
        EXPECT_GE(value, last) << "progress fell back at " << i;
        EXPECT_LE(value, 100);
        last = value;
    }
    EXPECT_GT(seq.size(), head.size() + tail.size() + 4) << "the write reports its way up";
    EXPECT_EQ(a.lastProgress(), "R:0:        ");

    // zImage grew by a block taken from rd.gz, which now starts a block
    // later; every partition with an image holds it, the rest are intact.
    const std::vector<simkernel::DirEntry> after = a.directory();
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string &name = names[i];
        const std::string file = simkernel::imageFileName(name);
        simkernel::DirEntry want = before[i];
        ASSERT_EQ(want.name, name);
        auto image = contents.images.find(file);
        if (image != contents.images.end())
            want.dataLength = static_cast<uint32_t>(image->second);
        if (name == "zImage")
            want.size += kBlock;
        if (name == "rd.gz") {
            want.flashBase += kBlock;
            want.size -= kBlock;
        }
        EXPECT_EQ(after[i].flashBase, want.flashBase) << name;
        EXPECT_EQ(after[i].size, want.size) << name;
        EXPECT_EQ(after[i].dataLength, want.dataLength) << name;
        if (image != contents.images.end()) {
            EXPECT_TRUE(simkernel::partitionData(a.state, name, image->second) ==
                        simkernel::imageBytes(file, contents.build, image->second))
                << name << " does not hold its image";
        } else if (name != "FIS Directory") {  // it holds the entries checked above
            EXPECT_TRUE(simkernel::partitionData(a.state, name, want.dataLength) ==
                        simkernel::partitionPattern(static_cast<int>(i), want.dataLength))
                << name << " was changed";
        }
    }

    // The buffer was reserved and released; no backup was taken.
    const simkernel::Counters405 calls = simkernel::counters405(a.state);
    EXPECT_EQ(calls.reserve, 1u);
    EXPECT_EQ(calls.release, 1u);
    EXPECT_TRUE(simkernel::opsMatching(a.state, {"proc=dd"}).empty());
    EXPECT_FALSE(a.app.exists(a.packageDir + "/b@ckup"));

    // Finish: the archive moved to the volume, the marker made.
    EXPECT_EQ(a.app.readFile("/volume1/VexaUpgrade.tar.gz"), "the new system partition");
    EXPECT_FALSE(a.app.exists(a.packageDir + "/hda1.tgz"));
    EXPECT_TRUE(a.app.exists("/.NormalShutdown"));
    EXPECT_EQ(a.updateLog(),
              (std::vector<std::string>{"Start of the update...", "Congratulation!! The update has been completed!!"}));
    EXPECT_FALSE(a.syslogHas("Failed to accomplish"));
}

INSTANTIATE_TEST_SUITE_P(Tables, GroupUpdate,
                         ::testing::Values(Table{.name = "normal", .zImageSize = 0x110000, .rdSize = 0xA0000},
                                           Table{.name = "bantam", .zImageSize = 0xD8000, .rdSize = 0x60000}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(GroupUpdateFinish, WithoutInitrdTheMarkerGoesToTheSystemPartition)
{
    e2e::Appliance a("normal");
    a.initrd = false;
    a.install({});
    a.package({});
    const approot::RunResult r = a.run({"-g"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(a.app.exists("/tmpRoot/.NormalShutdown"));
    EXPECT_FALSE(a.app.exists("/.NormalShutdown"));
    // No archive in the package: nothing moved.
    EXPECT_FALSE(a.app.exists("/volume1/VexaUpgrade.tar.gz"));
}

TEST(GroupUpdateStart, BareNameUsesTheVolumesUpdateFolder)
{
    e2e::Appliance a("normal", "/volume2/upd@te");
    a.install({});
    a.package({});
    a.app.symlink(e2e::updaterPath(), "/usr/sbin/updater");
    const approot::RunResult r = a.runAs({"updater", "-g", "-v", "/volume2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(simkernel::partitionData(a.state, "zImage", simkernel::defaultImages("normal")["zImage"]) ==
                simkernel::imageBytes("zImage", 1000, simkernel::defaultImages("normal")["zImage"]));
}

TEST(GroupUpdateStart, VolumeOf31CharactersIsTakenWhole)
{
    const std::string volume = "/volume1/" + std::string(22, 'v');
    ASSERT_EQ(volume.size(), 31u);
    e2e::Appliance a("normal");
    a.install({});
    a.package({});
    a.packageFile("hda1.tgz", "archive");
    a.app.mkdir(volume);
    const approot::RunResult r = a.run({"-g", "-v", volume});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(a.app.readFile(volume + "/VexaUpgrade.tar.gz"), "archive");
}

}  // namespace
