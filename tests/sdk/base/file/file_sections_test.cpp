#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "base/err/vral_err.h"
#include "base/file/vral_file.h"
#include "base/hash/vral_hash.h"

#include "file_test_util.h"
#include "test_tmp.h"

using filetest::listDir;
using filetest::statOf;
using vexatest::readFile;
using vexatest::writeFile;

namespace {

const char *const kPair = "\t%s=\"%s\"\n";

struct Map {
    VRALSzHash *p = VRALSzHashAlloc(512);
    ~Map() { VRALSzHashFree(p); }
    const char *get(const char *key) { return SzVRALSzHashGetValue(p, key); }
    void set(const char *key, const char *value) { ASSERT_GE(VRALSzHashSetValue(&p, key, value), 0); }
};

struct SectionFile : ::testing::Test {
    vexatest::TempDir dir{"filesect"};
    std::string path = dir / "vexanetbkp.conf";
};

// ---- header tests -------------------------------------------------------

TEST(FileSectionLine, HeaderTests)
{
    struct Case {
        const char *line, *section;
        int isHeader, matches;
    } const cases[] = {
        {"[set1]\n", "set1", 1, 1},
        {"[set1]  \t\r\n", "set1", 1, 1},
        {"[set1] x\n", "set1", 0, 0},
        {"[ set1]\n", "set1", 1, 0},
        {"[ set1]\n", " set1", 1, 1},
        {"[Set1]\n", "set1", 1, 0},
        {"[]\n", "", 1, 1},
        {"[\n", "", 0, 0},
        {"[set1\n", "set1", 0, 0},
        {" [set1]\n", "set1", 0, 0},
        {"[a]b]\n", "a]b", 1, 1},
        {"[set10]\n", "set1", 1, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        int len = static_cast<int>(strlen(c.line));
        EXPECT_EQ(VRALFileIsSectionLine(c.line, len), c.isHeader);
        EXPECT_EQ(VRALFileMatchSection(c.line, len, c.section), c.matches);
    }
    EXPECT_EQ(VRALFileIsSectionLine(nullptr, 3), 0);
    EXPECT_EQ(VRALFileMatchSection(nullptr, 3, "a"), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(VRALFileMatchSection("[a]", 3, nullptr), -1);
    // The length bounds the test: a longer buffer is not looked at.
    EXPECT_EQ(VRALFileMatchSection("[abc]", 3, "abc"), 0);
}

// ---- VRALFileGetSection -------------------------------------------------

TEST_F(SectionFile, GetSectionReadsFirstSectionOnly)
{
    writeFile(path,
              "top=1\n[other]\n\tk=\"other\"\n[set1]\n\tkey=\"a value\"\n\n#note\n#c=1\n"
              "\tkey = \"later\"\n =x\nplain\n\t\"q\"=\"v=w\"\n[x\n\tafter=1\n[set1]\n\tsecond=1\n");
    Map m;
    EXPECT_EQ(VRALFileGetSection(path.c_str(), "set1", &m.p), 3);
    EXPECT_STREQ(m.get("key"), "later");
    EXPECT_STREQ(m.get("#c"), "1");
    EXPECT_STREQ(m.get("q"), "v=w");
    EXPECT_EQ(m.get("after"), nullptr);
    EXPECT_EQ(m.get("second"), nullptr);
    EXPECT_EQ(m.get("k"), nullptr);
}

TEST_F(SectionFile, GetSectionCountsWhatTheMapHeld)
{
    writeFile(path, "[a]\nx=1\n");
    Map m;
    m.set("old", "1");
    EXPECT_EQ(VRALFileGetSection(path.c_str(), "missing", &m.p), 1);
    EXPECT_EQ(VRALFileGetSection(path.c_str(), "a", &m.p), 2);
    EXPECT_EQ(VRALFileGetSection(dir.path().c_str(), "a", &m.p), 2);

    EXPECT_EQ(VRALFileGetSection((dir / "none").c_str(), "a", &m.p), -1);
    EXPECT_EQ(VRALErrGet(), ERR_OPEN_FAILED);
    EXPECT_EQ(VRALFileGetSection(path.c_str(), nullptr, &m.p), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(VRALFileGetSection(path.c_str(), "a", nullptr), -1);
}

TEST_F(SectionFile, GetSectionGrowsTheMap)
{
    std::string content = "[big]\n";
    for (int i = 0; i < 300; ++i)
        content += "\tkey" + std::to_string(i) + "=\"" + std::string(40, 'v') + "\"\n";
    writeFile(path, content);
    Map m;
    EXPECT_EQ(VRALFileGetSection(path.c_str(), "big", &m.p), 300);
    EXPECT_STREQ(m.get("key299"), std::string(40, 'v').c_str());
}

TEST_F(SectionFile, ReadErrorIsAnError)
{
    writeFile(path, "[a]\nx=1\n");
    filetest::UnreadableFile unreadable(path);
    if (!unreadable.active())
        GTEST_SKIP() << "no private mount namespace here";
    Map m;
    EXPECT_EQ(VRALFileGetSection(path.c_str(), "a", &m.p), -1);
    EXPECT_EQ(VRALErrGet(), ERR_READ_FAILED);
    EXPECT_EQ(VRALFileModifySection(path.c_str(), "a", nullptr, m.p, 1, kPair), -1);
    EXPECT_EQ(VRALErrGet(), ERR_READ_FAILED);
    EXPECT_EQ(ErrVRALFileAddSection(path.c_str(), "b", m.p, kPair), -1);
    EXPECT_EQ(VRALErrGet(), ERR_READ_FAILED);
    unreadable.release();
    EXPECT_EQ(readFile(path), "[a]\nx=1\n");
    EXPECT_EQ(listDir(dir.path()).size(), 1u);
}

// ---- ErrVRALFileAddSection ----------------------------------------------

TEST_F(SectionFile, AddSectionCases)
{
    struct Case {
        const char *before;
        int result;
        const char *after;
    } const cases[] = {
        {"", 1, "\n[new]\n\tk=\"v\"\n"},
        {"[a]\n\tx=1\n", 1, "[a]\n\tx=1\n[new]\n\tk=\"v\"\n"},
        {"[a]\n\tx=1", 1, "[a]\n\tx=1\n[new]\n\tk=\"v\"\n"},
        {"[a]\n[new] \n", 0, "[a]\n[new] \n"},
        {"[new]", 0, "[new]"},
    };
    Map m;
    m.set("k", "v");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.before);
        writeFile(path, c.before);
        EXPECT_EQ(ErrVRALFileAddSection(path.c_str(), "new", m.p, kPair), c.result);
        EXPECT_EQ(readFile(path), c.after);
    }
}

TEST_F(SectionFile, AddSectionRefusals)
{
    Map m;
    m.set("k", "v");
    EXPECT_EQ(ErrVRALFileAddSection(path.c_str(), "new", m.p, kPair), -1);  // missing file
    EXPECT_EQ(VRALErrGet(), ERR_OPEN_FAILED);
    EXPECT_EQ(ErrVRALFileAddSection(dir.path().c_str(), "new", m.p, kPair), -1);
    EXPECT_EQ(VRALErrGet(), ERR_OPEN_FAILED);

    writeFile(path, "[a]\n");
    EXPECT_EQ(ErrVRALFileAddSection(path.c_str(), "x]\n[evil", m.p, kPair), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(ErrVRALFileAddSection(path.c_str(), "new", m.p, "\t%s=%d\n"), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(ErrVRALFileAddSection(path.c_str(), "new", nullptr, kPair), -1);
    m.set("pass", "x\n[root]");
    EXPECT_EQ(ErrVRALFileAddSection(path.c_str(), "new", m.p, kPair), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(readFile(path), "[a]\n");
}

TEST_F(SectionFile, PairKeysThatWouldReadBackDifferentlyAreRefused)
{
    writeFile(path, "[a]\n\tk=\"1\"\n");
    for (const char *key : {"k=x", " k", "k\r", "\"k\""}) {
        SCOPED_TRACE(std::string("key=[") + key + "]");
        Map m;
        m.set(key, "v");
        EXPECT_EQ(ErrVRALFileAddSection(path.c_str(), "new", m.p, kPair), -1);
        EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
        EXPECT_EQ(ErrVRALFileSetSection(path.c_str(), "a", "a", m.p, kPair), -1);
        EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    }
    EXPECT_EQ(readFile(path), "[a]\n\tk=\"1\"\n");
    EXPECT_EQ(listDir(dir.path()).size(), 1u);
}

// ---- ErrVRALFileSetSection / VRALFileModifySection ----------------------

TEST_F(SectionFile, SetSectionReplacesInPlaceKeepingComments)
{
    writeFile(path, "[a]\n\tx=1\n[old]\n\tk=\"1\"\n#keep me\n\n[nohdr\n[b]\n\ty=2\n", 0640);
    ASSERT_EQ(chown(path.c_str(), 501, 502), 0);
    Map m;
    m.set("k", "2");
    EXPECT_EQ(ErrVRALFileSetSection(path.c_str(), "old", "renamed", m.p, kPair), 1);
    EXPECT_EQ(readFile(path), "[a]\n\tx=1\n[renamed]\n\tk=\"2\"\n#keep me\n[b]\n\ty=2\n");
    struct stat st = statOf(path);
    EXPECT_EQ(st.st_uid, 501u);
    EXPECT_EQ(st.st_gid, 502u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(listDir(dir.path()).size(), 1u);

    // A NULL new name keeps the old one; every section of the name is done.
    writeFile(path, "[s]\n\tk=1\n[t]\n[s]\n\tk=3\n");
    EXPECT_EQ(ErrVRALFileSetSection(path.c_str(), "s", nullptr, m.p, nullptr), 1);
    EXPECT_EQ(readFile(path), "[s]\nk=2\n[t]\n[s]\nk=2\n");
}

TEST_F(SectionFile, ModifySectionDeletesAndMisses)
{
    writeFile(path, "[a]\n\tx=1\n[del] \n\tk=1\n;c\n[b]\n\ty=2\n");
    EXPECT_EQ(VRALFileModifySection(path.c_str(), "del", nullptr, nullptr, 0, nullptr), 1);
    EXPECT_EQ(readFile(path), "[a]\n\tx=1\n;c\n[b]\n\ty=2\n");

    writeFile(path, "[a]\n\tx=1\n", 0604);
    Map m;
    EXPECT_EQ(ErrVRALFileSetSection(path.c_str(), "none", "n", m.p, kPair), 0);
    EXPECT_EQ(VRALErrGet(), ERR_NOT_FOUND);
    EXPECT_EQ(readFile(path), "[a]\n\tx=1\n");
    EXPECT_EQ(statOf(path).st_mode & 07777, 0604u);

    EXPECT_EQ(ErrVRALFileSetSection(path.c_str(), "a", "b", nullptr, kPair), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(ErrVRALFileSetSection(path.c_str(), "a", "b\n[c", m.p, kPair), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(VRALFileModifySection((dir / "none").c_str(), "a", nullptr, m.p, 1, kPair), -1);
    EXPECT_EQ(VRALErrGet(), ERR_OPEN_FAILED);
    EXPECT_EQ(VRALFileModifySection(dir.path().c_str(), "a", nullptr, m.p, 1, kPair), -1);
    EXPECT_EQ(VRALErrGet(), ERR_OPEN_FAILED);
    EXPECT_EQ(readFile(path), "[a]\n\tx=1\n");
}

TEST_F(SectionFile, WrittenSectionReadsBack)
{
    writeFile(path, "");
    Map m;
    m.set("name", "set 1");
    m.set("path", "/volume1/a=b");
    m.set("empty", "");
    ASSERT_EQ(ErrVRALFileAddSection(path.c_str(), "set 1", m.p, kPair), 1);
    Map back;
    EXPECT_EQ(VRALFileGetSection(path.c_str(), "set 1", &back.p), 3);
    EXPECT_STREQ(back.get("name"), "set 1");
    EXPECT_STREQ(back.get("path"), "/volume1/a=b");
    EXPECT_STREQ(back.get("empty"), "");
}

}  // namespace
