// The life of a cache set, on a small set of two files (one holding
// secrets) mirroring one source file in a scratch folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/err/vral_err.h"
#include "services/bdb/bdb_cache.h"
#include "test_tmp.h"

namespace {

struct Rec {
    VEXABDB *plain;
    VEXABDB *secret;
};

const vexabdb::CacheFile kFiles[] = {
    {".plain", offsetof(Rec, plain), false, false},
    {".secret", offsetof(Rec, secret), false, true},
};

std::string gSource;
int gBuilds = 0;
vexabdb::CacheSet *gSet = nullptr;

// Each source line "key:value" goes into both files; a line "bad" fails.
int build(void *p);

class Cache : public ::testing::Test {
protected:
    vexatest::TempDir dir{"cache"};
    std::string prefix = dir / "db";
    std::string tmpPrefix = dir / "db.tmp";
    std::string lock = dir / "db.lock";
    vexabdb::CacheSource src[1] = {{nullptr, 0, true}};
    vexabdb::CacheSet set{};
    Rec *rec = nullptr;

    void SetUp() override
    {
        ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
        gSource = dir / "source";
        gBuilds = 0;
        src[0].path = gSource.c_str();
        set = {prefix.c_str(), tmpPrefix.c_str(), lock.c_str(), kFiles, 2, src, 1, sizeof(Rec), build,
               "TestOpen", "TestRebuild"};
        vexatest::writeFile(gSource, "a:1\nb:2\n");
        gSet = &set;
    }
    void TearDown() override { vexabdb::cacheClose(set, rec); }

    int open() { return vexabdb::cacheOpen(set, reinterpret_cast<void **>(&rec), prefix.c_str()); }
    int check() { return vexabdb::cacheCheck(set, reinterpret_cast<void **>(&rec)); }
    std::string get(VEXABDB *h, const char *key)
    {
        char *v = nullptr;
        int cv = 0;
        if (VEXABDbGet(h, key, static_cast<int>(strlen(key)) + 1, &v, &cv) != 0)
            return "(none)";
        std::string s(v);
        free(v);
        return s;
    }
    std::vector<std::string> entries()
    {
        std::vector<std::string> out;
        for (const char *n : {"db.plain", "db.secret", "db.tmp.plain", "db.tmp.secret"}) {
            struct stat st {};
            if (lstat((dir / n).c_str(), &st) == 0) {
                char b[64];
                snprintf(b, sizeof b, "%s %o %d", n, st.st_mode & 07777, static_cast<int>(st.st_uid));
                out.push_back(b);
            }
        }
        return out;
    }
    // The result of fn run as nobody in a child.
    template <typename Fn>
    int asNobody(Fn fn)
    {
        const pid_t pid = fork();
        if (pid == 0) {
            if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0)
                _exit(99);
            _exit(fn());
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 200;
    }
};

int build(void *p)
{
    Rec *r = static_cast<Rec *>(p);
    ++gBuilds;
    struct stat st {};
    if (stat(gSource.c_str(), &st) != 0)
        return -1;
    const std::string text = vexatest::readFile(gSource);
    for (const std::string &line : vexatest::splitLines(text)) {
        if (line == "bad") {
            VRAL_ERR_SET(ERR_BAD_FORMAT);
            return -1;
        }
        const std::string key = line.substr(0, line.find(':'));
        for (VEXABDB *h : {r->plain, r->secret}) {
            if (VEXABDbSet(h, key.c_str(), static_cast<int>(key.size()) + 1, line.c_str(),
                           static_cast<int>(line.size()) + 1) != 0)
                return -1;
        }
    }
    return vexabdb::cacheStoreSources(*gSet, r, &st);
}

using CacheSet = Cache;

TEST_F(CacheSet, MissingSetIsBuiltAsideAndMovedInRootOwned)
{
    const mode_t old = umask(0);
    EXPECT_EQ(open(), 1);
    umask(old);
    EXPECT_EQ(entries(), (std::vector<std::string>{"db.plain 644 0", "db.secret 600 0"}));
    EXPECT_EQ(get(rec->secret, "b"), "b:2");
    EXPECT_EQ(VEXABDbDeprecatedGet(rec->plain), 0);
    EXPECT_EQ(check(), 0);
    EXPECT_EQ(open(), 0);
    EXPECT_EQ(gBuilds, 1);
}

TEST_F(CacheSet, FailedBuildLeavesNothingBehind)
{
    vexatest::writeFile(gSource, "a:1\nbad\n");
    EXPECT_EQ(open(), -1);
    EXPECT_EQ(rec, nullptr);
    EXPECT_EQ(entries(), std::vector<std::string>{});

    // a set that was current stays served when its rebuild fails, and is
    // still not current
    vexatest::writeFile(gSource, "a:1\n");
    ASSERT_EQ(open(), 1);
    vexatest::writeFile(gSource, "a:1\nbad\n");
    EXPECT_EQ(check(), -1);
    EXPECT_EQ(get(rec->plain, "a"), "a:1");
    EXPECT_EQ(vexabdb::cacheIsCurrent(set, rec), 0);
    EXPECT_EQ(entries(), (std::vector<std::string>{"db.plain 644 0", "db.secret 600 0"}));
}

TEST_F(CacheSet, LeftoverTemporaryFilesAreNeverMovedIn)
{
    // a complete stale set at the temporary name, from another source
    const std::string real = gSource;
    gSource = dir / "stale";
    src[0].path = gSource.c_str();
    vexatest::writeFile(gSource, "z:9\n");
    ASSERT_EQ(vexabdb::cacheOpen(set, reinterpret_cast<void **>(&rec), tmpPrefix.c_str()), 1);
    vexabdb::cacheClose(set, rec);
    rec = nullptr;
    gSource = real;
    src[0].path = gSource.c_str();

    EXPECT_EQ(open(), 1);
    EXPECT_EQ(get(rec->plain, "z"), "(none)");
    EXPECT_EQ(get(rec->plain, "a"), "a:1");
    // a set is built in a folder of its own: the old names are not touched
    EXPECT_EQ(entries(), (std::vector<std::string>{"db.plain 644 0", "db.secret 600 0", "db.tmp.plain 644 0",
                                                   "db.tmp.secret 600 0"}));
}

TEST_F(CacheSet, LinksAndOtherUsersFilesAtCachePathsAreReplaced)
{
    vexatest::writeFile(dir / "target1", "keep1", 0640);
    vexatest::writeFile(dir / "target2", "keep2", 0604);
    ASSERT_EQ(symlink((dir / "target1").c_str(), (prefix + ".plain").c_str()), 0);
    ASSERT_EQ(symlink((dir / "target2").c_str(), (tmpPrefix + ".secret").c_str()), 0);
    vexatest::writeFile(prefix + ".secret", std::string(9000, 'x'), 0666);
    ASSERT_EQ(chown((prefix + ".secret").c_str(), 65534, 65534), 0);
    // where the library first creates a file
    vexatest::writeFile(dir / "__db.db.tmp.plain", "", 0644);
    ASSERT_EQ(chown((dir / "__db.db.tmp.plain").c_str(), 65534, 65534), 0);

    EXPECT_EQ(open(), 1);
    EXPECT_EQ(entries(), (std::vector<std::string>{"db.plain 644 0", "db.secret 600 0", "db.tmp.secret 777 0"}));
    EXPECT_EQ(get(rec->secret, "a"), "a:1");
    for (const char *t : {"target1", "target2"}) {
        struct stat st {};
        ASSERT_EQ(stat((dir / t).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, t[6] == '1' ? 0640u : 0604u);
        EXPECT_EQ(vexatest::readFile(dir / t), t[6] == '1' ? "keep1" : "keep2");
    }
}

TEST_F(CacheSet, FileTheLibraryRejectsIsRebuilt)
{
    ASSERT_EQ(open(), 1);
    vexabdb::cacheClose(set, rec);
    rec = nullptr;
    vexatest::writeFile(prefix + ".plain", std::string(9000, 'x'), 0644);
    EXPECT_EQ(open(), 1);
    EXPECT_EQ(get(rec->plain, "b"), "b:2");
}

TEST_F(CacheSet, SameSecondEditOfTheSourceIsSeen)
{
    ASSERT_EQ(open(), 1);
    struct stat before {};
    ASSERT_EQ(stat(gSource.c_str(), &before), 0);
    struct Case {
        const char *name;
        std::string text;
        long nsec;
    };
    for (const Case &c : {Case{.name = "size", .text = "a:1\nb:2\nc:3\n", .nsec = before.st_mtim.tv_nsec},
                          Case{.name = "nanoseconds", .text = "a:1\nb:3\nc:3\n", .nsec = 1},
                          Case{.name = "inode", .text = "a:1\nb:4\nc:3\n", .nsec = 1}}) {
        if (std::string(c.name) == "inode") {
            vexatest::writeFile(gSource + ".new", c.text);
            ASSERT_EQ(rename((gSource + ".new").c_str(), gSource.c_str()), 0);
        } else {
            vexatest::writeFile(gSource, c.text);
        }
        const struct timespec ts[2] = {before.st_atim, {before.st_mtim.tv_sec, c.nsec}};
        ASSERT_EQ(utimensat(AT_FDCWD, gSource.c_str(), ts, 0), 0);
        EXPECT_EQ(check(), 1) << c.name;
        EXPECT_EQ(get(rec->plain, "b"), c.text.substr(4, 3)) << c.name;
    }
}

TEST_F(CacheSet, SmallFileOrMissingMarkerRebuildsAndAWholeOneDoesNot)
{
    ASSERT_EQ(open(), 1);
    struct stat st {};
    ASSERT_EQ(stat((prefix + ".plain").c_str(), &st), 0);
    // pages of 16 KiB whatever the file system's block
    ASSERT_EQ(st.st_size % 16384, 0);
    ASSERT_GE(st.st_size, 8192);
    EXPECT_EQ(check(), 0);
    ASSERT_EQ(truncate((prefix + ".plain").c_str(), 8191), 0);
    EXPECT_EQ(check(), 1);
    EXPECT_EQ(gBuilds, 2);
    ASSERT_EQ(VEXABDbDelete(rec->secret, BDB_KEY_DEPRECATED, BDB_KEY_DEPRECATED_LEN), 0);
    EXPECT_EQ(check(), 1);
    ASSERT_EQ(VEXABDbDelete(rec->plain, BDB_KEY_SYNC_TIME, BDB_KEY_SYNC_TIME_LEN), 0);
    EXPECT_EQ(check(), 1);
    EXPECT_EQ(gBuilds, 4);
}

TEST_F(CacheSet, HandleHeldAcrossARebuildReopens)
{
    ASSERT_EQ(open(), 1);
    Rec *held = nullptr;
    ASSERT_EQ(vexabdb::cacheOpen(set, reinterpret_cast<void **>(&held), prefix.c_str()), 0);
    vexatest::writeFile(gSource, "a:5\n");
    ASSERT_EQ(check(), 1);
    EXPECT_EQ(get(held->plain, "a"), "a:1");
    EXPECT_EQ(vexabdb::cacheIsCurrent(set, held), 0);
    EXPECT_EQ(vexabdb::cacheCheck(set, reinterpret_cast<void **>(&held)), 1);
    EXPECT_EQ(get(held->plain, "a"), "a:5");
    EXPECT_EQ(gBuilds, 2);
    vexabdb::cacheClose(set, held);
}

TEST_F(CacheSet, FailedWriteMarksTheSetForRebuild)
{
    ASSERT_EQ(open(), 1);
    ASSERT_EQ(VEXABDbSet(rec->plain, "x", 2, "x:half", 7), 0);
    vexabdb::cacheMarkStale(set, rec);
    EXPECT_EQ(vexabdb::cacheIsCurrent(set, rec), 0);
    EXPECT_EQ(check(), 1);
    EXPECT_EQ(get(rec->plain, "x"), "(none)");
    EXPECT_EQ(vexabdb::cacheIsCurrent(set, rec), 1);
}

TEST_F(CacheSet, OtherUsersReadWithoutSecretsAndNeverBuild)
{
    // nothing there: no build
    EXPECT_EQ(asNobody([&] {
                  Rec *r = static_cast<Rec *>(vexabdb::cacheOpenChecked(set));
                  return r == nullptr && VRALErrGet() == ERR_OPEN_FAILED ? 0 : 1;
              }),
              0);
    EXPECT_EQ(entries(), std::vector<std::string>{});

    ASSERT_EQ(open(), 1);
    EXPECT_EQ(asNobody([&] {
                  Rec *r = static_cast<Rec *>(vexabdb::cacheOpenChecked(set));
                  if (r == nullptr || r->secret != nullptr || r->plain == nullptr)
                      return 1;
                  return get(r->plain, "a") == "a:1" ? 0 : 2;
              }),
              0);

    // stale: refused, and left for root to rebuild
    vexatest::writeFile(gSource, "a:7\n");
    EXPECT_EQ(asNobody([&] {
                  Rec *r = static_cast<Rec *>(vexabdb::cacheOpenChecked(set));
                  return r == nullptr && VRALErrGet() == ERR_OPEN_FAILED ? 0 : 1;
              }),
              0);
    EXPECT_EQ(gBuilds, 1);
}

}  // namespace
