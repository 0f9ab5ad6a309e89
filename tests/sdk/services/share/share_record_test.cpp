// One share's record, its stored form and the name and value rules; none of
// them touches a file.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/err/vral_err.h"
#include "services/share/vexa_share.h"

namespace {

struct Template {
    const char *name = "a";
    const char *comment = nullptr;
    const char *path = "/x";
    const char *invalid = nullptr;
    const char *write = nullptr;
    const char *read = nullptr;
    int type = 1;
    int browseable = 1;
    int ftp = 0;
};

VEXASHARE *alloc(const Template &t)
{
    VEXASHARE s{};
    s.szName = const_cast<char *>(t.name);
    s.szComment = const_cast<char *>(t.comment);
    s.szPath = const_cast<char *>(t.path);
    s.szInvalidUsers = const_cast<char *>(t.invalid);
    s.szWriteList = const_cast<char *>(t.write);
    s.szReadList = const_cast<char *>(t.read);
    s.fType = t.type;
    s.fBrowseable = t.browseable;
    s.fFtpWriteOnly = t.ftp;
    return VEXAShareAlloc(&s);
}

std::vector<int32_t> words(const void *p)
{
    std::vector<int32_t> w(12);
    memcpy(w.data(), p, 48);
    return w;
}

TEST(ShareRecord, StoredFormKeepsThe32BitLayout)
{
    VEXASHARE *s = alloc({});
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->cbAlloc, static_cast<int>(sizeof(VEXASHARE)) + 5);
    int cb = 0;
    void *stored = VEXAShareDBPack(s, &cb);
    ASSERT_NE(stored, nullptr);
    ASSERT_EQ(cb, 53);
    EXPECT_EQ(words(stored), (std::vector<int32_t>{0, 47, 48, 44, 48, 48, 48, 1, 1, 0, 53, 49}));
    EXPECT_EQ(std::string(static_cast<char *>(stored) + 48, 5), std::string("/x\0a\0", 5));
    VEXAShareFree(stored);
    VEXAShareFree(s);
}

TEST(ShareRecord, UnpackRebuildsTheRecordIntoAReusedBlock)
{
    VEXASHARE *s = alloc({.name = "My Share", .comment = "say \"hi\", then go", .path = "/volume1/My Share",
                          .invalid = "bob", .write = "@staff,ann", .read = "", .type = 4, .browseable = 0,
                          .ftp = 1});
    ASSERT_NE(s, nullptr);
    int cb = 0;
    void *stored = VEXAShareDBPack(s, &cb);
    ASSERT_NE(stored, nullptr);
    // a larger block from an earlier read is reused and keeps its slack
    const std::string longer(200, 'c');
    VEXASHARE *out = alloc({.comment = longer.c_str()});
    const int cbBefore = out->cbAlloc;
    ASSERT_EQ(VEXAShareDBUnPack(stored, cb, &out), 0);
    EXPECT_EQ(out->cbAlloc, cbBefore);
    EXPECT_STREQ(out->szName, "My Share");
    EXPECT_STREQ(out->szComment, "say \"hi\", then go");
    EXPECT_STREQ(out->szPath, "/volume1/My Share");
    EXPECT_STREQ(out->szInvalidUsers, "bob");
    EXPECT_STREQ(out->szWriteList, "@staff,ann");
    EXPECT_STREQ(out->szReadList, "");
    EXPECT_EQ(out->fType, 4);
    EXPECT_EQ(out->fBrowseable, 0);
    EXPECT_EQ(out->fFtpWriteOnly, 1);
    EXPECT_EQ(out->cbRecord, s->cbRecord);
    // and packs again to a stored form that reads back the same
    int cb2 = 0;
    void *again = VEXAShareDBPack(out, &cb2);
    ASSERT_NE(again, nullptr);
    VEXASHARE *third = nullptr;
    ASSERT_EQ(VEXAShareDBUnPack(again, cb2, &third), 0);
    EXPECT_STREQ(third->szWriteList, "@staff,ann");
    for (void *p : {stored, again, static_cast<void *>(out), static_cast<void *>(third), static_cast<void *>(s)})
        VEXAShareFree(p);
}

struct Corruption {
    const char *name;
    int word;      // -1: the length given is changed instead
    int32_t value;
};

class ShareUnpackCorrupt : public ::testing::TestWithParam<Corruption> {};

TEST_P(ShareUnpackCorrupt, RefusedWithoutReadingOutside)
{
    VEXASHARE *s = alloc({});
    int cb = 0;
    auto *stored = static_cast<char *>(VEXAShareDBPack(s, &cb));
    ASSERT_NE(stored, nullptr);
    int cbGiven = cb;
    if (GetParam().word < 0)
        cbGiven += GetParam().value;
    else
        memcpy(stored + 4 * GetParam().word, &GetParam().value, 4);
    VEXASHARE *out = nullptr;
    EXPECT_EQ(VEXAShareDBUnPack(stored, cbGiven, &out), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_FORMAT);
    EXPECT_EQ(out, nullptr);
    VEXAShareFree(stored);
    VEXAShareFree(s);
}

INSTANTIATE_TEST_SUITE_P(
    Words, ShareUnpackCorrupt,
    ::testing::Values(Corruption{.name = "first_word", .word = 0, .value = 1},
                      Corruption{.name = "name_past_end", .word = 1, .value = 53},
                      Corruption{.name = "path_into_header", .word = 3, .value = 40},
                      Corruption{.name = "negative_offset", .word = 4, .value = -4},
                      Corruption{.name = "type_without_kind", .word = 7, .value = 8},
                      Corruption{.name = "size_word", .word = 10, .value = 200},
                      Corruption{.name = "record_size", .word = 11, .value = 100},
                      Corruption{.name = "value_cut", .word = -1, .value = -1},
                      Corruption{.name = "value_longer", .word = -1, .value = 4}),
    [](const auto &info) { return std::string(info.param.name); });

struct AllocCase {
    const char *name;
    Template t;
    int code;
};

class ShareAllocRefused : public ::testing::TestWithParam<AllocCase> {};

TEST_P(ShareAllocRefused, WithItsCode)
{
    EXPECT_EQ(alloc(GetParam().t), nullptr);
    EXPECT_EQ(VRALErrGet(), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    Checks, ShareAllocRefused,
    ::testing::Values(AllocCase{.name = "no_path", .t = {.path = nullptr}, .code = ERR_BAD_PARAMETERS},
                      AllocCase{.name = "negative_type", .t = {.type = -1}, .code = ERR_BAD_PARAMETERS},
                      AllocCase{.name = "type_0", .t = {.type = 0}, .code = ERR_BAD_SHARE_TYPE},
                      AllocCase{.name = "type_8", .t = {.type = 8}, .code = ERR_BAD_SHARE_TYPE},
                      AllocCase{.name = "relative_path", .t = {.path = "x"}, .code = ERR_BAD_PATH},
                      AllocCase{.name = "reserved_global", .t = {.name = "Global"}, .code = ERR_BAD_SHARE_NAME},
                      AllocCase{.name = "reserved_printers", .t = {.name = "printers"}, .code = ERR_BAD_SHARE_NAME},
                      AllocCase{.name = "quote", .t = {.name = "a\"b"}, .code = ERR_BAD_SHARE_NAME},
                      AllocCase{.name = "comma", .t = {.name = "a,b"}, .code = ERR_BAD_SHARE_NAME},
                      AllocCase{.name = "lf_in_comment", .t = {.comment = "a\nb"}, .code = ERR_BAD_PARAMETERS},
                      AllocCase{.name = "cr_in_path", .t = {.path = "/x\r"}, .code = ERR_BAD_PARAMETERS},
                      AllocCase{.name = "lf_in_read_list", .t = {.read = "a\n[x]"}, .code = ERR_BAD_PARAMETERS}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ShareNames, Rule)
{
    const std::string nonAscii32 = [] {
        std::string s;
        for (int i = 0; i < 32; ++i)
            s += "\xc3\xa9";
        return s;
    }();
    struct {
        std::string name;
        int valid;
    } cases[] = {
        {"My Share", 1}, {std::string(32, 'a'), 1}, {std::string(33, 'a'), 0}, {nonAscii32, 1},
        {"-a", 0},       {" a", 0},                 {"a ", 0},                 {"a/b", 0},
        {"a%b", 0},      {"a\"b", 0},               {"a,b", 0},                {"", 0},
        {"\xff\xfe", 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(VEXAShareNameIsValid(c.name.c_str()), c.valid) << c.name;
    EXPECT_EQ(VEXAShareNameIsValid(nullptr), 0);
}

TEST(ShareNames, Kinds)
{
    struct {
        const char *name;
        int usb;
        int sata;
    } cases[] = {
        {"usbshare", 1, 0},   {"USBSHARE12", 1, 0}, {"usbbackup", 1, 0},  {"usbshare1a", 0, 0},
        {"usbBackup", 0, 0},  {"usbbackup1", 0, 0}, {"satashare", 0, 1}, {"satabackup", 0, 1},
        {"satashare1", 0, 0}, {"Docs", 0, 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(VEXAShareIsUsbName(c.name), c.usb) << c.name;
        EXPECT_EQ(VEXAShareIsSataName(c.name), c.sata) << c.name;
    }
}

TEST(ShareNames, SectionsAndTheirNames)
{
    EXPECT_EQ(VEXAShareSectionTypeGet("GLOBAL"), 1);
    EXPECT_EQ(VEXAShareSectionTypeGet("home"), 1);
    EXPECT_EQ(VEXAShareSectionTypeGet("homes"), 0);
    EXPECT_EQ(VEXAShareSectionTypeGet(nullptr), -1);
    char b[SHARE_SECTION_SIZE];
    ASSERT_EQ(VEXAShareParseSectionName("[My Share]", b, sizeof b), 0);
    EXPECT_STREQ(b, "My Share");
    ASSERT_EQ(VEXAShareParseSectionName("[a]b]", b, sizeof b), 0);
    EXPECT_STREQ(b, "a]b");
    ASSERT_EQ(VEXAShareParseSectionName("[50%]  ", b, sizeof b), 0);
    EXPECT_STREQ(b, "50%");
    char small[4];
    ASSERT_EQ(VEXAShareParseSectionName("[abcdef]", small, sizeof small), 0);
    EXPECT_STREQ(small, "abc");
    EXPECT_EQ(VEXAShareParseSectionName("[a]", b, 0), -1);
}

TEST(ShareTypes, ConfValuesBothWays)
{
    struct {
        const char *guest;
        const char *write;
        int type;
    } from[] = {
        {"yes", "yes", 2}, {"yes", "no", 1}, {"no", "no", 4}, {"no", "yes", -1}, {"YES", "no", -1}, {nullptr, "no", -1},
    };
    for (const auto &c : from)
        EXPECT_EQ(ShareFTypeGetFromConf(c.guest, c.write), c.type) << (c.guest ? c.guest : "NULL") << c.write;

    struct {
        int type;
        const char *guest;
        const char *write;
        int code;
    } to[] = {
        {6, "no", "no", 0}, {3, "yes", "yes", 0}, {1, "yes", "no", 0}, {8, "", "", ERR_BAD_SHARE_TYPE},
        {0, "", "", ERR_BAD_PARAMETERS},
    };
    for (const auto &c : to) {
        char g[32] = "";
        char w[32] = "";
        const int r = ShareFTypeSetToConf(c.type, g, w, sizeof g, sizeof w);
        EXPECT_EQ(r, c.code == 0 ? 0 : -1) << c.type;
        if (r == 0) {
            EXPECT_STREQ(g, c.guest);
            EXPECT_STREQ(w, c.write);
        } else {
            EXPECT_EQ(VRALErrGet(), c.code);
        }
    }
    char g[3];
    char w[32];
    EXPECT_EQ(ShareFTypeSetToConf(1, g, w, sizeof g, sizeof w), -1);
    EXPECT_EQ(VRALErrGet(), ERR_BAD_PARAMETERS);
}

TEST(ShareLists, RemoveSameUsers)
{
    char list[] = "a,b,,a,B";
    ASSERT_EQ(RemoveSameUsers(list), 1);
    std::vector<std::string> names;
    for (char *t = strtok(list, ","); t != nullptr; t = strtok(nullptr, ","))
        names.emplace_back(t);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"B", "a", "b"}));
    char commas[] = ",,";
    EXPECT_EQ(RemoveSameUsers(commas), 1);
    EXPECT_STREQ(commas, "");
    char empty[] = "";
    EXPECT_EQ(RemoveSameUsers(empty), 0);
    EXPECT_EQ(RemoveSameUsers(nullptr), -1);
}

}  // namespace
