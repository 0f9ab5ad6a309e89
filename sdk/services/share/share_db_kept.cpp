// The sections the parse refused and keeps as read: samba still reads
// them, so a share of the same name is never added beside one, and user
// and group renames reach their user lists.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/string/heap_ptr.h"
#include "services/share/share_internal.h"
#include "services/user/user_internal.h"

namespace {

bool listSeparator(char c)
{
    return c == ' ' || c == '\t' || c == ',' || c == ';' || c == '\r' || c == '\n';
}

// One item of a list value: where it stands, and its text.
struct Item {
    size_t begin = 0;
    size_t end = 0;
    std::string text;
};

// The items of a list value as samba splits it: at blanks, "," and ";"
// outside double quotes, the quotes taken off.
std::vector<Item> items(const std::string &value)
{
    std::vector<Item> out;
    size_t i = 0;
    while (true) {
        while (i < value.size() && listSeparator(value[i]))
            ++i;
        if (i >= value.size())
            return out;
        Item item;
        item.begin = i;
        bool quoted = false;
        for (; i < value.size() && (quoted || !listSeparator(value[i])); ++i) {
            if (value[i] == '"')
                quoted = !quoted;
            else
                item.text += value[i];
        }
        item.end = i;
        out.push_back(std::move(item));
    }
}

// A list line with its items renamed; false when it is no list line or
// nothing in it changes.
bool renamedLine(const std::string &line, const vexashare::Rename &rename, std::string *out)
{
    const size_t first = line.find_first_not_of(" \t");
    const size_t eq = line.find('=');
    if (first == std::string::npos || line[first] == '#' || line[first] == ';' || eq == std::string::npos ||
        !vexashare::isListKey(vexashare::confKey(std::string_view(line).substr(0, eq))))
        return false;
    const std::string value = line.substr(eq + 1);
    *out = line.substr(0, eq + 1);
    size_t at = 0;
    bool changed = false;
    for (const Item &item : items(value)) {
        const std::optional<std::string> to = rename(item.text);
        if (!to)
            continue;
        *out += value.substr(at, item.begin - at);
        bool quote = false;
        for (char c : *to)
            quote = quote || listSeparator(c);
        *out += quote ? "\"" + *to + "\"" : *to;
        at = item.end;
        changed = true;
    }
    *out += value.substr(at);
    return changed;
}

struct KeptKey {
    char text[32];
    int len;
    explicit KeptKey(int n) { len = snprintf(text, sizeof text, "%s%06d", vexashare::kKeptPrefix, n) + 1; }
};

// body(n, list) for each kept section in file order, until it returns
// other than 0; 0 at the last one, body's result, or -1.
template <typename Body>
int forEachKept(VEXABDB *h, Body body)
{
    for (int n = 1;; ++n) {
        const KeptKey key(n);
        char *data = nullptr;
        int cb = 0;
        const int got = VEXABDbGet(h, key.text, key.len, &data, &cb);
        vral::HeapPtr<char> own(data);
        if (got != 0)
            return VRALErrGet() == ERR_NOT_FOUND ? 0 : -1;
        vral::HeapPtr<VRALSzList> list(VEXAListDBUnpack(data, cb));
        if (!list || list->nItem < 1) {
            if (list)
                VRAL_ERR_SET(ERR_BAD_FORMAT);
            return -1;
        }
        const int r = body(n, list.get());
        if (r != 0)
            return r;
    }
}

}  // namespace

namespace vexashare {

int keptStore(VEXABDB *h, int n, const VRALSzList *lines)
{
    const KeptKey key(n);
    vral::HeapPtr<void> packed(VEXAListDBPack(lines, lines->cbAlloc));
    if (!packed || VEXABDbSet(h, key.text, key.len, packed.get(), lines->cbAlloc) != 0)
        return -1;
    return 0;
}

int keptHolds(VEXABDB *h, const char *key, int len)
{
    return forEachKept(h, [&](int, const VRALSzList *list) {
        char name[SHARE_SECTION_SIZE];
        char NAME[SHARE_KEY_SIZE];
        if (VEXAShareParseSectionName(VRALSzListItem(list, 0), name, sizeof name) != 0)
            return 0;
        const int nameLen = vexauser::keyForm(name, NAME, sizeof NAME);
        return nameLen == len && memcmp(NAME, key, static_cast<size_t>(len)) == 0 ? 1 : 0;
    });
}

int keptRename(VEXABDB *h, const Rename &rename)
{
    int changed = 0;
    const int r = forEachKept(h, [&](int n, const VRALSzList *list) {
        std::vector<std::string> lines;
        bool any = false;
        for (int i = 0; i < list->nItem; ++i) {
            std::string line = VRALSzListItem(list, i);
            std::string renamed;
            if (i > 0 && renamedLine(line, rename, &renamed)) {
                line = renamed;
                any = true;
            }
            lines.push_back(std::move(line));
        }
        if (!any)
            return 0;
        // the list functions may move the list: owned once it is complete
        VRALSzList *raw = PslVRALSzListAlloc(512);
        bool pushed = raw != nullptr;
        for (const std::string &line : lines)
            pushed = pushed && VRALSzListPush(&raw, line.c_str()) >= 0;
        vral::HeapPtr<VRALSzList> fresh(raw);
        if (!pushed)
            return -1;
        if (keptStore(h, n, fresh.get()) != 0) {
            VRAL_LOG_ERR("cannot store kept section %s. vexaerr=0x%04X", VRALSzListItem(list, 0), VRALErrGet());
            return -1;
        }
        ++changed;
        return 0;
    });
    return r < 0 ? -1 : changed;
}

int keptRenameUsers(VEXASHAREDB *db, VRALSzHash *map)
{
    return keptRename(db->pShareDB, [&](const std::string &item) -> std::optional<std::string> {
        char NAME[SHARE_KEY_SIZE];
        if (item.empty() || strchr("@+&", item[0]) != nullptr || vexauser::keyForm(item.c_str(), NAME, sizeof NAME) < 0)
            return std::nullopt;
        const char *to = SzVRALSzHashGetValue(map, NAME);
        return to != nullptr ? std::optional<std::string>(to) : std::nullopt;
    });
}

int keptRenameGroup(VEXASHAREDB *db, const char *oldGroup, const char *newGroup)
{
    return keptRename(db->pShareDB, [&](const std::string &item) -> std::optional<std::string> {
        // "@", "+" and "&" before a group name
        const size_t name = item.find_first_not_of("@+&");
        if (name == 0 || name == std::string::npos || item.compare(name, std::string::npos, oldGroup) != 0)
            return std::nullopt;
        return item.substr(0, name) + newGroup;
    });
}

}  // namespace vexashare
