// The btree wrapper on files in a scratch folder: markers, duplicates,
// walks, checked values and stored lists.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "base/err/vral_err.h"
#include "services/bdb/vexa_bdb.h"
#include "test_tmp.h"

namespace {

class Bdb : public ::testing::Test {
protected:
    vexatest::TempDir dir{"bdb"};
    VEXABDB *h = nullptr;

    VEXABDB *open(const std::string &name, int fDup)
    {
        VEXABDB *p = VEXABDbOpen((dir / name).c_str(), O_RDWR | O_CREAT, fDup);
        EXPECT_NE(p, nullptr) << std::hex << VRALErrGet();
        return p;
    }
    void TearDown() override
    {
        if (h != nullptr)
            VEXABDbClose(h);
    }
    // Every record of a walk from the first, as "key=value" (texts).
    std::vector<std::string> walk(int fSkipMeta)
    {
        std::vector<std::string> out;
        char *k = nullptr;
        char *v = nullptr;
        int ck = 0;
        int cv = 0;
        EXPECT_EQ(VEXABDbCursorSetType(h, BDB_CURSOR_FIRST), 0);
        while (VEXABDbCursorGet(h, fSkipMeta, &k, &ck, &v, &cv) == 0) {
            out.push_back(std::string(k, strnlen(k, ck)) + "=" + std::string(v, strnlen(v, cv)));
            VEXABDbCursorSetType(h, BDB_CURSOR_NEXT);
        }
        EXPECT_EQ(VRALErrGet(), ERR_END_OF_RECORDS);
        free(k);
        free(v);
        return out;
    }
    void put(const char *k, const char *v)
    {
        ASSERT_EQ(VEXABDbSet(h, k, static_cast<int>(strlen(k)) + 1, v, static_cast<int>(strlen(v)) + 1), 0);
    }
};

TEST_F(Bdb, MarkerKeepsOneRecordWhereOrdinaryKeysDuplicate)
{
    h = open("dup.db", 1);
    ASSERT_EQ(VEXABDbConfSyncTimeSet(h, 7), 0);
    ASSERT_EQ(VEXABDbConfSyncTimeSet(h, 9), 0);
    char *p = nullptr;
    ASSERT_EQ(VEXABDbConfSyncTimeGet(h, &p), 0);
    int v = 0;
    memcpy(&v, p, 4);
    EXPECT_EQ(v, 9);
    VEXABDbDataFree(p);
    put("001025", "ANNA");
    put("001025", "BEN");
    put("001025", "CARL");
    put("001026", "DORA");
    EXPECT_EQ(walk(1), (std::vector<std::string>{"001025=ANNA", "001025=BEN", "001025=CARL", "001026=DORA"}));

    // one (key, value) pair goes, the other users of the id stay
    ASSERT_EQ(VEXABDbDeleteDup(h, "001025", 7, "BEN", 4), 0);
    EXPECT_EQ(VEXABDbDeleteDup(h, "001025", 7, "BEN", 4), -1);
    EXPECT_EQ(VRALErrGet(), ERR_NOT_FOUND);
    EXPECT_EQ(VEXABDbDeleteDup(h, "001026", 7, "ANNA", 5), -1);
    EXPECT_EQ(walk(1), (std::vector<std::string>{"001025=ANNA", "001025=CARL", "001026=DORA"}));

    ASSERT_EQ(VEXABDbDelete(h, "001025", 7), 0);
    EXPECT_EQ(walk(1), (std::vector<std::string>{"001026=DORA"}));
    EXPECT_EQ(VEXABDbDelete(h, "001025", 7), -1);
    EXPECT_EQ(VRALErrGet(), ERR_NOT_FOUND);
}

TEST_F(Bdb, EmptyKeyOrValueIsRefused)
{
    h = open("a.db", 0);
    EXPECT_EQ(VEXABDbSet(h, "k", 0, "v", 2), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(VEXABDbSet(h, "k", 2, "v", 0), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(VEXABDbCursorSetType(h, 6), -1);
}

TEST_F(Bdb, WalkSkippingMarkersOverOnlyMarkersEnds)
{
    h = open("m.db", 0);
    ASSERT_EQ(VEXABDbDeprecatedSet(h, 0), 0);
    ASSERT_EQ(VEXABDbConfSyncTimeSet(h, 1), 0);
    char *k = nullptr;
    char *v = nullptr;
    int ck = 0;
    int cv = 0;
    VEXABDbCursorSetType(h, BDB_CURSOR_FIRST);
    EXPECT_EQ(VEXABDbCursorGet(h, 1, &k, &ck, &v, &cv), -1);
    EXPECT_EQ(VRALErrGet(), ERR_END_OF_RECORDS);
    EXPECT_EQ(h->cursorType, BDB_CURSOR_NEXT);
    EXPECT_EQ(walk(0).size(), 2u);
    free(k);
    free(v);
}

TEST_F(Bdb, MarkersAreReadOnlyWhenTheyHoldOneInt)
{
    h = open("s.db", 0);
    // no sync time: rebuild, not a failure
    EXPECT_EQ(VEXABDbIsNeedToRebuild(h, 5), 1);
    ASSERT_EQ(VEXABDbConfSyncTimeSet(h, 5), 0);
    EXPECT_EQ(VEXABDbIsNeedToRebuild(h, 5), 0);
    EXPECT_EQ(VEXABDbIsNeedToRebuild(h, 6), 1);
    ASSERT_EQ(VEXABDbSet(h, BDB_KEY_SYNC_TIME, BDB_KEY_SYNC_TIME_LEN, "\5\0\0\0\0", 5), 0);
    EXPECT_EQ(VEXABDbIsNeedToRebuild(h, 5), 1);
    char *p = nullptr;
    EXPECT_EQ(VEXABDbConfSyncTimeGet(h, &p), -1);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_FORMAT);

    EXPECT_EQ(VEXABDbDeprecatedGet(h), -1);
    ASSERT_EQ(VEXABDbDeprecatedSet(h, 1), 0);
    EXPECT_EQ(VEXABDbDeprecatedGet(h), 1);
    ASSERT_EQ(VEXABDbSet(h, BDB_KEY_DEPRECATED, BDB_KEY_DEPRECATED_LEN, "\1\0\0", 3), 0);
    EXPECT_EQ(VEXABDbDeprecatedGet(h), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_FORMAT);
}

TEST_F(Bdb, DomainUsersAreReloadedWhenOlderThanFiveMinutes)
{
    h = open("d.db", 0);
    EXPECT_EQ(VEXABDbDomainIsNeedToRebuild(h), 1);
    EXPECT_EQ(VEXABDbDomainIsNeedToRebuild(nullptr), 0);
    struct Case {
        int age;
        int want;
    };
    // seconds that pass during the test only make the ages larger
    for (const Case c : {Case{.age = 0, .want = 0}, Case{.age = 298, .want = 0}, Case{.age = 302, .want = 1},
                         Case{.age = -2, .want = 1}}) {
        const int t = static_cast<int>(time(nullptr)) - c.age;
        ASSERT_EQ(VEXABDbSet(h, BDB_KEY_EXPIRE_TIME, BDB_KEY_EXPIRE_TIME_LEN, &t, 4), 0);
        EXPECT_EQ(VEXABDbDomainIsNeedToRebuild(h), c.want) << c.age;
    }
}

TEST_F(Bdb, StoredListComesBackWholeAndABrokenOneIsRefused)
{
    h = open("l.db", 0);
    VRALSzList *l = PslVRALSzListAlloc(512);
    ASSERT_NE(l, nullptr);
    for (const char *s : {"path = /x", "", "read only = no"})
        ASSERT_GE(VRALSzListPush(&l, s), 0);
    ASSERT_EQ(VEXAListDBSet(h, "global", l), 0);
    char *v = nullptr;
    int cv = 0;
    ASSERT_EQ(VEXABDbGet(h, "#GLOBAL", 8, &v, &cv), 0);
    ASSERT_EQ(cv, l->cbAlloc);
    VRALSzList *back = VEXAListDBUnpack(v, cv);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->nItem, 3);
    EXPECT_EQ(back->cbFree, l->cbFree);
    EXPECT_EQ(back->sortMode, l->sortMode);
    EXPECT_STREQ(VRALSzListItem(back, 2), "read only = no");
    EXPECT_STREQ(VRALSzListItem(back, 1), "");
    VRALSzListFree(back);

    // an item offset outside the block is never followed
    VRALSzList *bad = reinterpret_cast<VRALSzList *>(v);
    bad->pszItem[1] = cv + 40;
    EXPECT_EQ(VEXAListDBUnpack(v, cv), nullptr);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_FORMAT);
    EXPECT_EQ(VEXAListDBUnpack(v, cv - 1), nullptr);
    free(v);
    VRALSzListFree(l);
}

TEST_F(Bdb, RootOpensOnlyItsOwnRegularFileAndSetsTheModeOnIt)
{
    const mode_t old = umask(0);
    h = open("new.db", 0);
    umask(old);
    struct stat st {};
    ASSERT_EQ(stat((dir / "new.db").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);

    vexatest::writeFile(dir / "target", "keep", 0640);
    ASSERT_EQ(symlink((dir / "target").c_str(), (dir / "link.db").c_str()), 0);
    EXPECT_EQ(VEXABDbOpen((dir / "link.db").c_str(), O_RDWR, 0), nullptr);
    EXPECT_EQ(vexatest::readFile(dir / "target"), "keep");
    ASSERT_EQ(stat((dir / "target").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // a btree file of another user's
    VEXABDB *other = open("other.db", 0);
    VEXABDbClose(other);
    ASSERT_EQ(chown((dir / "other.db").c_str(), 65534, 65534), 0);
    EXPECT_EQ(VEXABDbOpen((dir / "other.db").c_str(), O_RDWR, 0), nullptr);
    EXPECT_EQ(VRALErrGet(), ERR_OPEN_FAILED);

    vexatest::writeFile(dir / "junk.db", std::string(9000, 'x'));
    EXPECT_EQ(VEXABDbOpen((dir / "junk.db").c_str(), O_RDWR, 0), nullptr);
}

}  // namespace
