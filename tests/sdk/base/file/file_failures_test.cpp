// Failures while the engine writes: whatever call fails, the file keeps
// its bytes, owner and mode, and no copy or partial tail stays behind.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <span>
#include <string>

#include "base/err/vral_err.h"
#include "base/file/vral_file.h"
#include "base/hash/vral_hash.h"

#include "failcall.h"
#include "file_test_util.h"
#include "test_tmp.h"

using filetest::listDir;
using filetest::statOf;
using vexatest::readFile;

namespace {

// Writes past limit bytes of any file fail with EFBIG (SIGXFSZ ignored),
// for the life of the object.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit)
    {
        getrlimit(RLIMIT_FSIZE, &old_);
        struct rlimit now = old_;
        now.rlim_cur = limit;
        active_ = setrlimit(RLIMIT_FSIZE, &now) == 0;
        oldSig_ = signal(SIGXFSZ, SIG_IGN);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &old_);
        signal(SIGXFSZ, oldSig_);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;
    bool active() const { return active_; }

private:
    struct rlimit old_ {};
    sighandler_t oldSig_ = SIG_DFL;
    bool active_ = false;
};

// What fails: one call, or every write past a size.
struct Failure {
    const char *name;
    std::optional<failcall::Call> call;
    // Without a call: the file-size limit, from the file's size.
    rlim_t (*limit)(size_t size) = nullptr;
    // errno of the failed call; a write with 0 moves no byte.
    int err = EIO;
};

const Failure kRewriteFailures[] = {
    {.name = "write_half_way", .call = std::nullopt, .limit = [](size_t n) -> rlim_t { return n / 2; }},
    // In the last round, when the copy is flushed before the commit.
    {.name = "write_at_the_end", .call = std::nullopt, .limit = [](size_t n) -> rlim_t { return n - 64; }},
    {.name = "fsync", .call = failcall::Call::Fsync},
    {.name = "fchown", .call = failcall::Call::Fchown},
    {.name = "fchmod", .call = failcall::Call::Fchmod},
    {.name = "close", .call = failcall::Call::Fclose},
};

struct Op {
    const char *name;
    int (*call)(const char *file);
};

const Op kRewrites[] = {
    {.name = "set_key", .call = [](const char *f) { return VRALFileSetKeyValue(f, "key", "new", nullptr); }},
    {.name = "remove_key", .call = [](const char *f) { return VRALFileRemoveKey(f, "key"); }},
    {.name = "set_line", .call = [](const char *f) { return VRALFileSetLine(f, "key=", "key=new", 0); }},
    {.name = "add_line", .call = [](const char *f) { return VRALFileAddLine(f, "key=", "new=1", 0); }},
    {.name = "replace_text", .call = [](const char *f) { return VRALFileReplaceSubStr(f, "old", "new"); }},
    {.name = "set_section", .call = [](const char *f) { return filetest::sectionOfOnePair(f, "sect", "sect"); }},
};

struct WriteFailure : ::testing::Test {
    vexatest::TempDir dir{"filefail"};
    std::string path = dir / "vexainfo.conf";
    std::string before;

    void SetUp() override
    {
        // Larger than a stream's buffer, so the copy is written in several
        // rounds before its end.
        for (int i = 0; i < 300; ++i)
            before += "line" + std::to_string(i) + "=\"" + std::string(60, 'v') + "\"\n";
        before += "[sect]\nkey=old\ntail=old";
    }

    void prepare()
    {
        vexatest::writeFile(path, before, 0640);
        ASSERT_EQ(chown(path.c_str(), 1234, 5678), 0);
    }

    // How a file differs from before, in a line.
    std::string describe(const std::string &now) const
    {
        size_t at = 0;
        while (at < now.size() && at < before.size() && now[at] == before[at])
            ++at;
        return "size " + std::to_string(now.size()) + " (before " + std::to_string(before.size()) +
               "), first difference at " + std::to_string(at) + ": [" + now.substr(at, 40) + "]";
    }

    // The file exactly as before and nothing else in its folder.
    void expectUntouched(ino_t ino)
    {
        // Compared whole, not printed: the file is long.
        EXPECT_TRUE(readFile(path) == before) << describe(readFile(path));
        struct stat st = statOf(path);
        EXPECT_EQ(st.st_ino, ino);
        EXPECT_EQ(st.st_uid, 1234u);
        EXPECT_EQ(st.st_gid, 5678u);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        EXPECT_EQ(listDir(dir.path()), std::vector<std::string>{"vexainfo.conf"});
    }

    int runFailing(const Failure &f, const std::string &failPrefix, int (*call)(const char *))
    {
        if (f.call) {
            failcall::Armed armed({.call = *f.call, .pathPrefix = failPrefix, .err = f.err});
            int r = call(path.c_str());
            EXPECT_EQ(failcall::Fired(), 1);
            return r;
        }
        FileSizeLimit limit(f.limit(before.size()));
        EXPECT_TRUE(limit.active());
        return call(path.c_str());
    }

    // Each operation under each failure (calls on files whose path begins
    // with failPrefix): -1, ERR_WRITE_FAILED, the file as before.
    void expectEachFailureLeavesTheFile(std::span<const Op> ops, std::span<const Failure> failures,
                                        const std::string &failPrefix)
    {
        for (const Op &op : ops) {
            for (const Failure &f : failures) {
                SCOPED_TRACE(std::string(op.name) + " / " + f.name);
                prepare();
                const ino_t ino = statOf(path).st_ino;
                VRALErrSetCode(0);
                EXPECT_EQ(runFailing(f, failPrefix, op.call), -1);
                EXPECT_EQ(VRALErrGet(), ERR_WRITE_FAILED);
                expectUntouched(ino);
            }
        }
    }
};

TEST_F(WriteFailure, AFailedRewriteLeavesTheFileAndNoCopy)
{
    // The temporary copy's name begins with the file's and a dot.
    expectEachFailureLeavesTheFile(kRewrites, kRewriteFailures, path + ".");
    for (const Op &op : kRewrites) {
        // Without a failure each of them does change the file.
        prepare();
        EXPECT_GT(op.call(path.c_str()), 0) << op.name;
        EXPECT_FALSE(readFile(path) == before) << op.name;
    }
}

// A failed allocation anywhere in a rewrite is an error of the call, never
// an exception through the C interface, and changes nothing.
TEST_F(WriteFailure, EveryFailedAllocationOfARewriteLeavesTheFile)
{
    for (const Op &op : kRewrites) {
        SCOPED_TRACE(op.name);
        bool done = false;
        for (int nth = 1; nth < 200 && !done; ++nth) {
            prepare();
            const ino_t ino = statOf(path).st_ino;
            int r;
            int fired;
            {
                failcall::Armed armed({.call = failcall::Call::Alloc, .nth = nth});
                r = op.call(path.c_str());
                fired = failcall::Fired();
            }
            if (fired == 0) {
                // Past the call's last allocation: it went through.
                EXPECT_GT(r, 0);
                done = true;
                continue;
            }
            SCOPED_TRACE("allocation " + std::to_string(nth));
            EXPECT_EQ(r, -1);
            EXPECT_EQ(VRALErrGet(), ERR_OUT_OF_MEMORY);
            expectUntouched(ino);
        }
        EXPECT_TRUE(done);
    }
}

const Op kAppends[] = {
    {.name = "append_line", .call = [](const char *f) { return VRALFileAddLine(f, nullptr, "new=1", OP_FIND_PREFIX); }},
    {.name = "add_section", .call = [](const char *f) { return filetest::sectionOfOnePair(f, "new"); }},
};

// An append in place that fails part-way is cut back to where it began.
TEST_F(WriteFailure, AFailedAppendLeavesNoPartialTail)
{
    const Failure failures[] = {
        // A few bytes of the new text fit, the rest fails.
        {.name = "write_part_way", .call = std::nullopt, .limit = [](size_t n) -> rlim_t { return n + 3; }},
        {.name = "fsync", .call = failcall::Call::Fsync},
        {.name = "write_moves_nothing", .call = failcall::Call::Write, .err = 0},
    };
    expectEachFailureLeavesTheFile(kAppends, failures, path);
}

// A missing file that cannot be written whole is not left half-made.
TEST_F(WriteFailure, AFailedCreationLeavesNoFile)
{
    const Op creations[] = {
        {.name = "set_key", .call = [](const char *f) { return VRALFileSetKeyValue(f, "k", "v", nullptr); }},
        {.name = "add_line", .call = [](const char *f) { return VRALFileAddLine(f, nullptr, "x=1", 0); }},
        {.name = "set_line", .call = [](const char *f) { return VRALFileSetLine(f, "x", "x=1", 0); }},
    };
    for (const Op &op : creations) {
        SCOPED_TRACE(op.name);
        {
            failcall::Armed armed({.call = failcall::Call::Fsync, .pathPrefix = path});
            EXPECT_EQ(op.call(path.c_str()), -1);
        }
        EXPECT_EQ(VRALErrGet(), ERR_WRITE_FAILED);
        {
            FileSizeLimit limit(2);
            EXPECT_EQ(op.call(path.c_str()), -1);
        }
        EXPECT_EQ(VRALErrGet(), ERR_WRITE_FAILED);
        EXPECT_FALSE(filetest::exists(path));
        EXPECT_TRUE(listDir(dir.path()).empty());
    }
}

}  // namespace

// A pair that cannot be split for want of memory fails the read: passed
// over, it would read as a missing key and a caller would write the set
// back without it.  Lines without '=' or without a key are still passed.
TEST(ReadFailure, ASectionPairLostForWantOfMemoryFailsTheRead)
{
    vexatest::TempDir dir{"fileread"};
    const std::string path = dir / "vexalocalbkp.conf";
    vexatest::writeFile(path, "[daily]\nname=\"daily\"\nno pair here\n=\"keyless\"\nretention=\"30\"\n", 0644);
    for (int nth = 1;; ++nth) {
        SCOPED_TRACE("copy " + std::to_string(nth));
        VRALSzHash *map = VRALSzHashAlloc(64);
        ASSERT_NE(map, nullptr);
        int r;
        int fired;
        {
            failcall::Armed armed({.call = failcall::Call::Strdup, .err = ENOMEM, .nth = nth});
            r = VRALFileGetSection(path.c_str(), "daily", &map);
            fired = failcall::Fired();
        }
        const bool kept = SzVRALSzHashGetValue(map, "retention") != nullptr;
        VRALSzHashFree(map);
        if (fired == 0) {
            // Past the read's last copy: both pairs, the other lines passed.
            EXPECT_EQ(r, 2);
            EXPECT_TRUE(kept);
            EXPECT_GE(nth, 5);
            break;
        }
        EXPECT_EQ(r, -1);
        EXPECT_EQ(VRALErrGet(), ERR_OUT_OF_MEMORY);
    }
}
