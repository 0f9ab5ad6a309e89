// Writing a map as a section of a configuration file.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/err/vral_err.h"
#include "base/hash/vral_hash.h"
#include "test_tmp.h"

namespace {

// What VRALSzHashWriteFile wrote into a memory stream, and its result.
struct Written {
    int rc;
    std::string text;
};

Written writeTo(const char *section, VRALSzHash *map, const char *format)
{
    char *buf = nullptr;
    size_t cb = 0;
    FILE *fp = open_memstream(&buf, &cb);
    Written w;
    w.rc = VRALSzHashWriteFile(fp, section, map, format);
    fclose(fp);
    w.text.assign(buf, cb);
    free(buf);
    return w;
}

TEST(HashFormat, Check)
{
    struct Case {
        const char *format;
        int ok;
    } cases[] = {
        {nullptr, 1},
        {"%s=%s\n", 1},
        {"\t%s=\"%s\"\n", 1},
        {"%s = %s ;\n", 1},
        {"100%% %s=%s\n", 1},
        {"%s=%s", 0},          // no newline
        {"%s\n=%s", 0},        // newline before the second string
        {"%s %s\n", 0},        // no "="
        {"=%s%s\n", 0},        // "=" before the first string
        {"%s=\n", 0},
        {"", 0},
        // Conversions other than the two strings would read missing arguments.
        {"%s=%s %d\n", 0},
        {"%s=%s%s\n", 0},
        {"%n%s=%s\n", 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(VRALSzHashFormatCheck(c.format), c.ok) << (c.format ? c.format : "NULL");
}

TEST(HashWriteFile, SectionAndPairsInSlotOrder)
{
    VRALSzHash *map = VRALSzHashAlloc(0);
    VRALSzHashSetValue(&map, "path", "/volume1/public");
    VRALSzHashSetValue(&map, "comment", "");
    VRALSzHashSetValue(&map, "gone", "x");
    SzVRALSzHashRemove(map, "gone");

    std::string want = "[public]\n";
    for (int i = 0; i < map->nSlot; ++i) {
        if (VRALSzHashSlotKey(map, i) != nullptr)
            want += std::string(VRALSzHashSlotKey(map, i)) + "=" + VRALSzHashSlotValue(map, i) + "\n";
    }
    Written w = writeTo("public", map, nullptr);
    EXPECT_EQ(w.rc, 0);
    EXPECT_EQ(w.text, want);
    EXPECT_EQ(want.find("gone"), std::string::npos);

    w = writeTo(nullptr, map, "\t%s=\"%s\"\n");
    EXPECT_EQ(w.rc, 0);
    EXPECT_NE(w.text.find("\tpath=\"/volume1/public\"\n"), std::string::npos);
    EXPECT_NE(w.text.find("\tcomment=\"\"\n"), std::string::npos);
    EXPECT_EQ(w.text.find('['), std::string::npos);

    w = writeTo("only", nullptr, nullptr);
    EXPECT_EQ(w.rc, 0);
    EXPECT_EQ(w.text, "[only]\n");
    VRALSzHashFree(map);
}

TEST(HashWriteFile, Failures)
{
    VRALSzHash *map = VRALSzHashAlloc(0);
    VRALSzHashSetValue(&map, "k", "v");
    VRALErrSetCode(0);
    Written w = writeTo("sec", map, "%s=%s");
    EXPECT_EQ(w.rc, -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
    EXPECT_EQ(w.text, "");

    VRALErrSetCode(0);
    EXPECT_EQ(VRALSzHashWriteFile(nullptr, "sec", map, nullptr), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);

    // A stream that cannot be written.
    vexatest::TempDir dir("hashfile");
    vexatest::writeFile(dir / "ro", "");
    FILE *fp = fopen((dir / "ro").c_str(), "r");
    ASSERT_NE(fp, nullptr);
    VRALErrSetCode(0);
    EXPECT_EQ(VRALSzHashWriteFile(fp, nullptr, map, nullptr), -1);
    EXPECT_EQ(VRALErrGet(), ERR_WRITE_FAILED);
    fclose(fp);
    VRALSzHashFree(map);
}

}  // namespace
