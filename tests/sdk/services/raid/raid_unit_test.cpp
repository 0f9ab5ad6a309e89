// RAID pieces that work on any descriptor or folder: the status decision,
// members built from sysfs-like folders, the partition line parser.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/err/vral_err.h"
#include "services/raid/raid_internal.h"
#include "services/raid/vexa_raid.h"

#include "test_tmp.h"

namespace {

using namespace std::literals;
using vexatest::writeFile;

// A member list built from states, freed with the list.
struct Members {
    VEXARAIDDISK *head = nullptr;
    explicit Members(const std::vector<int> &states)
    {
        for (int s : states) {
            auto *d = static_cast<VEXARAIDDISK *>(calloc(1, sizeof(VEXARAIDDISK)));
            d->state = s;
            VEXARaidDiskListPush(&head, d);
        }
    }
    ~Members() { VEXARaidDiskListFree(head); }
};

VEXAMDARRAYINFO arrayOf(int level, int raidDisks)
{
    VEXAMDARRAYINFO a{};
    a.level = level;
    a.raid_disks = raidDisks;
    return a;
}

constexpr int S = VEXA_RAID_DISK_IN_SYNC;
constexpr int F = VEXA_RAID_DISK_FAULTY;
constexpr int E = VEXA_RAID_DISK_ERROR;
constexpr int P = VEXA_RAID_DISK_SPARE;
constexpr int N = VEXA_RAID_DISK_SPARE_NONE;

}  // namespace

TEST(RaidDecideStatus, StatusByLevelAndMembers)
{
    struct Case {
        const char *what;
        int level, raidDisks;
        std::vector<int> members;
        int status;
    };
    const Case cases[] = {
        {"raid5 4 disks, 3 in sync, 1 faulty", 5, 4, {S, S, S, F}, VEXA_RAID_STATUS_DEGRADED},
        {"raid5 4 disks, 2 in sync", 5, 4, {S, S, F, F}, VEXA_RAID_STATUS_CRASHED},
        {"raid5 complete", 5, 4, {S, S, S, S}, VEXA_RAID_STATUS_NORMAL},
        {"raid1 2 disks, 1 in sync", 1, 2, {S}, VEXA_RAID_STATUS_DEGRADED},
        {"raid1 2 disks, only spares", 1, 2, {P, N}, VEXA_RAID_STATUS_CRASHED},
        {"raid1 3 disks, 1 in sync", 1, 3, {S, F, F}, VEXA_RAID_STATUS_DEGRADED},
        {"raid6 5 disks, 3 in sync", 6, 5, {S, S, S}, VEXA_RAID_STATUS_DEGRADED},
        {"raid6 5 disks, 2 in sync", 6, 5, {S, S}, VEXA_RAID_STATUS_CRASHED},
        {"raid0 missing one", 0, 2, {S}, VEXA_RAID_STATUS_CRASHED},
        {"linear missing one", -1, 3, {S, S, F}, VEXA_RAID_STATUS_CRASHED},
        {"linear complete", -1, 2, {S, S}, VEXA_RAID_STATUS_NORMAL},
        {"an error member crashes even raid1", 1, 2, {S, S, E}, VEXA_RAID_STATUS_CRASHED},
        {"no member at all", 1, 2, {}, VEXA_RAID_STATUS_CRASHED},
        {"more in sync than raid disks", 1, 2, {S, S, S}, VEXA_RAID_STATUS_NORMAL},
    };
    for (const Case &c : cases) {
        Members m(c.members);
        const VEXAMDARRAYINFO a = arrayOf(c.level, c.raidDisks);
        int status = -7;
        ASSERT_EQ(VEXARaidDecideStatus(&a, m.head, &status), 0) << c.what;
        EXPECT_EQ(status, c.status) << c.what;
    }
}

TEST(RaidDecideStatus, RefusesNullArguments)
{
    int status = 0;
    const VEXAMDARRAYINFO a = arrayOf(1, 2);
    EXPECT_EQ(VEXARaidDecideStatus(nullptr, nullptr, &status), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(VEXARaidDecideStatus(&a, nullptr, nullptr), -1);
}

TEST(RaidDiskList, PushMakesNewHeadAndRefusesNull)
{
    VEXARAIDDISK a{}, b{};
    VEXARAIDDISK *list = nullptr;
    VEXARaidDiskListPush(&list, &a);
    VEXARaidDiskListPush(&list, &b);
    EXPECT_EQ(list, &b);
    EXPECT_EQ(b.next, &a);
    EXPECT_EQ(a.next, nullptr);

    VRALErrSetCode(0);
    VEXARaidDiskListPush(&list, nullptr);
    EXPECT_EQ(VRALErrGet(), ERR_OUT_OF_MEMORY);
    EXPECT_EQ(list, &b);
    VEXARaidDiskListPush(nullptr, &a);
    EXPECT_EQ(VRALErrGet(), ERR_OUT_OF_MEMORY);
}

class RaidMemberDir : public ::testing::Test {
protected:
    vexatest::TempDir tmp{"raid"};

    std::string member(const std::string &name, const std::string &state, const char *slot = nullptr)
    {
        const std::string dir = tmp / ("dev-" + name);
        mkdir(dir.c_str(), 0755);
        writeFile(dir + "/state", state);
        if (slot != nullptr)
            writeFile(dir + "/slot", slot);
        return dir;
    }
};

TEST_F(RaidMemberDir, StateFromTheStateAndSlotFiles)
{
    struct Case {
        const char *state;
        const char *slot;
        int expected;
    };
    const Case cases[] = {
        {"in_sync\n", nullptr, S},
        {"faulty,in_sync\n", nullptr, F},
        {"write_error\n", nullptr, E},
        {"spare\n", "none\n", N},
        {"spare\n", "2\n", P},
        {"blocked\n", nullptr, S},
        {"", nullptr, -1},  // an empty state file cannot be read as a line
    };
    int i = 0;
    for (const Case &c : cases) {
        const std::string dir = member("sd" + std::string(1, static_cast<char>('a' + i++)) + "5", c.state, c.slot);
        VEXARAIDDISK *d = nullptr;
        const int r = VEXARaidDiskCreate(dir.c_str(), &d);
        if (c.expected < 0) {
            EXPECT_EQ(r, -1) << c.state;
            EXPECT_EQ(d, nullptr);
            EXPECT_EQ(VRALErrGet(), ERR_READ_FAILED);
            continue;
        }
        ASSERT_EQ(r, 0) << c.state;
        EXPECT_EQ(d->state, c.expected) << c.state;
        EXPECT_EQ(std::string(d->szDevice), "/dev/sd" + std::string(1, static_cast<char>('a' + i - 1)) + "5");
        EXPECT_EQ(d->next, nullptr);
        VEXARaidDiskListFree(d);
    }
}

TEST_F(RaidMemberDir, RefusesFoldersWithoutAMemberName)
{
    VEXARAIDDISK *d = nullptr;
    EXPECT_EQ(VEXARaidDiskCreate(tmp.path().c_str(), &d), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PATH);
    EXPECT_EQ(d, nullptr);

    // a name that does not fit is refused, not cut into another disk's name
    const std::string longDir = member(std::string(32, 'x'), "in_sync\n");
    EXPECT_EQ(VEXARaidDiskCreate(longDir.c_str(), &d), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PATH);

    const std::string spareNoSlot = member("sdz1", "spare\n");
    EXPECT_EQ(VEXARaidDiskCreate(spareNoSlot.c_str(), &d), -1);
    EXPECT_EQ(VRALErrGet(), ERR_OPEN_FAILED);

    EXPECT_EQ(VEXARaidDiskCreate(nullptr, &d), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
}

TEST_F(RaidMemberDir, ReadSysfsLineKeepsNewlineAndBounds)
{
    const std::string f = tmp / "line";
    writeFile(f, "in_sync\nsecond\n");
    char buf[32];
    ASSERT_EQ(VEXARaidReadSysfsLine(f.c_str(), buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "in_sync\n");
    char small[4];
    ASSERT_EQ(VEXARaidReadSysfsLine(f.c_str(), small, sizeof small), 0);
    EXPECT_STREQ(small, "in_");

    EXPECT_EQ(VEXARaidReadSysfsLine(f.c_str(), buf, 0), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(VEXARaidReadSysfsLine((tmp / "missing").c_str(), buf, sizeof buf), -1);
    EXPECT_EQ(VRALErrGet(), ERR_OPEN_FAILED);
}

TEST(RaidInfoGet, RefusesPathsThatAreNotMdArrays)
{
    VEXARAIDINFO *info = nullptr;
    for (const char *p : {"/dev/sda", "/dev/md", "/dev/md0p1", "/dev/md-1", "/dev/md 1", "/dev/mdx"}) {
        EXPECT_EQ(VEXARaidInfoGet(p, &info), -1) << p;
        EXPECT_EQ(VRALErrGet(), ERR_BAD_MD_PATH) << p;
        VEXARAIDDISK *list = nullptr;
        EXPECT_EQ(VEXARaidDiskListGet(p, &list), -1) << p;
        EXPECT_EQ(VRALErrGet(), ERR_BAD_MD_PATH) << p;
    }
    EXPECT_EQ(info, nullptr);
    EXPECT_EQ(VEXARaidInfoGet(nullptr, &info), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(VEXARaidInfoGet("/dev/md0", nullptr), -1);
    VEXARaidInfoFree(nullptr);
}

TEST(RaidIoctl, RequestsOnADescriptorThatIsNoArray)
{
    const int fd = open("/dev/null", O_RDONLY);
    ASSERT_GE(fd, 0);
    VEXAMDARRAYINFO a{};
    EXPECT_EQ(VEXARaidIoctlInfo(fd, &a), -1);
    EXPECT_EQ(VRALErrGet(), ERR_CONVERSION_FAILED);
    uint64_t size = 77;
    EXPECT_EQ(VEXARaidIoctlSize(fd, &size), -1);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(VRALErrGet(), ERR_CONVERSION_FAILED);
    int sync[3];
    EXPECT_EQ(VEXARaidRebuildStatusGet(fd, sync), -1);
    EXPECT_EQ(VRALErrGet(), ERR_CONVERSION_FAILED);
    close(fd);

    EXPECT_EQ(VEXARaidRebuildStatusGet(-1, sync), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(VEXARaidIoctlSize(0, nullptr), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(VEXARaidIoctlInfo(0, nullptr), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
}

TEST(PartitionLine, FieldsByPosition)
{
    struct Case {
        std::string_view line;
        long long size;
        unsigned long start, id;
    };
    const Case cases[] = {
        {"/dev/hda1            63    273104    273042  83  Linux\n", 273042, 63, 0x83},
        {"/dev/hda3\t1333332\t2000000\t666669\tfd\tLinux raid autodetect", 666669, 1333332, 0xfd},
        // a size beyond 32 bits stays whole: 8 TiB of sectors
        {"/dev/sdb1 2048 17179871231 17179869184 83 Linux", 17179869184LL, 2048, 0x83},
        {"/dev/hda1 63 273104 273042 83 ", 273042, 63, 0x83},
        {"/dev/hda1 63 273104 273042 83", -1, 0, 0},     // id not followed by a blank
        {"/dev/hda1 63 273104 273042", -1, 0, 0},        // four fields
        {"", -1, 0, 0},
        {"Disk /dev/hda: cannot open", -1, 0, 0},
        {"/dev/hda1 x63 273104 273042 83 Linux", -1, 0, 0},
        {"/dev/hda1 63 273104 -5 83 Linux", -1, 0, 0},
        // numbers are digits from the field's first character on: no sign,
        // and a vertical tab is neither a separator nor skipped
        {"/dev/hda1 \v-1 273104 273042 83 Linux", -1, 0, 0},
        {"/dev/hda1 -1 273104 273042 83 Linux", -1, 0, 0},
        {"/dev/hda1 +63 273104 273042 83 Linux", -1, 0, 0},
        {"/dev/hda1 63 273104 273042 \v83 Linux", -1, 0, 0},
        {"/dev/hda1 63\v273104 273042 83 Linux 1", -1, 0, 0},
        {"/dev/hda1 63 273104 273042\v 83 Linux", -1, 0, 0},
        // a NUL ends the line, also inside a field
        {"/dev/hda1 63 273104 2730\0" "42 83 Linux"sv, -1, 0, 0},
        {"/dev/hda1 63 273104 273042 83\0 Linux"sv, -1, 0, 0},
        {"/dev/hda1 63 273104 273042 83 Linux\0 junk"sv, 273042, 63, 0x83},
    };
    for (const Case &c : cases) {
        unsigned long start = 999, id = 999;
        EXPECT_EQ(vexa::raid::parsePartitionLine(c.line, &start, &id), c.size) << c.line;
        if (c.size >= 0) {
            EXPECT_EQ(start, c.start) << c.line;
            EXPECT_EQ(id, c.id) << c.line;
        } else {
            EXPECT_EQ(start, 999u) << c.line;
            EXPECT_EQ(id, 999u) << c.line;
        }
    }
}

TEST(PartitionConfigs, RefusesBadArguments)
{
    unsigned long start = 1, id = 2;
    EXPECT_EQ(RCPartitionConfigs(0, "/dev/hda", &start, &id), -1);
    EXPECT_EQ(RCPartitionConfigs(-3, "/dev/hda", &start, &id), -1);
    EXPECT_EQ(RCPartitionConfigs(1, nullptr, &start, &id), -1);
    EXPECT_EQ(RCPartitionConfigs(1, "/dev/", &start, &id), -1);
    EXPECT_EQ(start, 1u);
    EXPECT_EQ(id, 2u);
}
