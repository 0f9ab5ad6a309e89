#include "overlay_view.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <filesystem>
#include <set>

namespace approot {

bool operator==(const Change &a, const Change &b)
{
    return a.kind == b.kind && a.path == b.path;
}

}  // namespace approot

namespace approot::view {
namespace {

bool under(const std::string &path, const std::string &top)
{
    if (top == "/")
        return true;
    return path == top || (path.size() > top.size() && path.compare(0, top.size(), top) == 0 &&
                           path[top.size()] == '/');
}

bool strictlyUnder(const std::string &path, const std::string &top)
{
    return path != top && under(path, top);
}

std::string join(const std::string &root, const std::string &inside)
{
    if (inside == "/")
        return root;
    return root + inside;
}

bool isWhiteout(const struct stat &st)
{
    return S_ISCHR(st.st_mode) && st.st_rdev == makedev(0, 0);
}

bool isOpaque(const std::string &hostDir)
{
    char v[4];
    for (const char *name : {"trusted.overlay.opaque", "user.overlay.opaque"}) {
        ssize_t n = lgetxattr(hostDir.c_str(), name, v, sizeof v);
        if (n == 1 && v[0] == 'y')
            return true;
    }
    return false;
}

// Parent folders of p, from the top: "/a", "/a/b" for "/a/b/c".
std::vector<std::string> ancestors(const std::string &p)
{
    std::vector<std::string> out;
    for (size_t i = 1; i < p.size(); ++i)
        if (p[i] == '/')
            out.push_back(p.substr(0, i));
    return out;
}

enum class Hit { Absent, Found, Stop };

// Looks p up in one layer: Found, Absent (look lower), or Stop (this layer
// hides everything below it for p).
Hit lookInLayer(const std::string &layer, const std::string &p, std::string &host, struct stat &st)
{
    bool opaqueAbove = false;
    for (const auto &a : ancestors(p)) {
        struct stat ast;
        std::string h = join(layer, a);
        if (lstat(h.c_str(), &ast) != 0)
            return Hit::Absent;
        if (!S_ISDIR(ast.st_mode))
            return Hit::Stop;
        if (isOpaque(h))
            opaqueAbove = true;
    }
    host = join(layer, p);
    if (lstat(host.c_str(), &st) == 0)
        return isWhiteout(st) ? Hit::Stop : Hit::Found;
    return opaqueAbove ? Hit::Stop : Hit::Absent;
}

struct Entry {
    bool found = false;
    std::string host;
    struct stat st {};
};

Entry lookupLower(const Stack &s, const std::string &p)
{
    Entry e;
    for (const auto &layer : s.lowers) {
        Hit h = lookInLayer(layer, p, e.host, e.st);
        if (h == Hit::Found) {
            e.found = true;
            return e;
        }
        if (h == Hit::Stop)
            return Entry{};
    }
    for (const auto &hidden : s.hiddenOnHost)
        if (strictlyUnder(p, hidden))
            return Entry{};
    Hit h = lookInLayer("", p, e.host, e.st);
    if (p == "/") {
        e.host = "/";
        h = lstat("/", &e.st) == 0 ? Hit::Found : Hit::Absent;
    }
    e.found = (h == Hit::Found);
    return e;
}

Entry lookupMerged(const Stack &s, const std::string &p)
{
    Entry e;
    const Mount *best = nullptr;
    for (const auto &m : s.mounts)
        if (under(p, m.inside) && (best == nullptr || m.inside.size() > best->inside.size()))
            best = &m;
    if (best != nullptr) {
        e.host = best->host + p.substr(best->inside == "/" ? 0 : best->inside.size());
        e.found = lstat(e.host.c_str(), &e.st) == 0;
        return e;
    }
    if (!s.upper.empty()) {
        Hit h = lookInLayer(s.upper, p, e.host, e.st);
        if (h == Hit::Found) {
            e.found = true;
            return e;
        }
        if (h == Hit::Stop)
            return Entry{};
    }
    return lookupLower(s, p);
}

bool isMountAncestor(const Stack &s, const std::string &p)
{
    for (const auto &m : s.mounts)
        if (under(m.inside, p))
            return true;
    return false;
}

bool ignoredPath(const Stack &s, const std::string &p)
{
    for (const auto &i : s.ignored)
        if (under(p, i))
            return true;
    for (const auto &m : s.mounts)
        if (under(p, m.inside))
            return true;
    return false;
}

std::string child(const std::string &p, const std::string &name)
{
    return p == "/" ? "/" + name : p + "/" + name;
}

// Names the lower layers show in folder p.
std::set<std::string> lowerNames(const Stack &s, const std::string &p)
{
    std::set<std::string> names;
    for (const auto &layer : s.lowers)
        for (const auto &n : listDir(join(layer, p)))
            names.insert(n);
    bool hidden = false;
    for (const auto &h : s.hiddenOnHost)
        if (under(p, h))
            hidden = true;
    if (!hidden)
        for (const auto &n : listDir(p))
            names.insert(n);
    return names;
}

void walk(const Stack &s, const std::string &p, std::vector<Change> &out)
{
    for (const auto &name : listDir(join(s.upper, p))) {
        std::string cp = child(p, name);
        if (ignoredPath(s, cp))
            continue;
        struct stat st;
        std::string host = join(s.upper, cp);
        if (lstat(host.c_str(), &st) != 0)
            continue;
        Entry low = lookupLower(s, cp);
        if (isWhiteout(st)) {
            if (low.found)
                out.push_back({'D', cp});
            continue;
        }
        if (!low.found) {
            if (!(S_ISDIR(st.st_mode) && isMountAncestor(s, cp)))
                out.push_back({'A', cp});
        } else if (S_ISDIR(st.st_mode) && S_ISDIR(low.st.st_mode)) {
            // A folder copied up for a change inside it is not itself changed.
            bool owners = s.compareOwners && (st.st_uid != low.st.st_uid || st.st_gid != low.st.st_gid);
            if ((st.st_mode & 07777) != (low.st.st_mode & 07777) || owners)
                out.push_back({'M', cp});
            if (isOpaque(host)) {
                auto now = listDir(host);
                for (const auto &n : lowerNames(s, cp)) {
                    std::string gone = child(cp, n);
                    if (now.count(n) == 0 && !ignoredPath(s, gone) && lookupLower(s, gone).found)
                        out.push_back({'D', gone});
                }
            }
        } else {
            out.push_back({'M', cp});
        }
        if (S_ISDIR(st.st_mode))
            walk(s, cp, out);
    }
}

}  // namespace

std::set<std::string> listDir(const std::string &host, bool *ok)
{
    std::set<std::string> names;
    DIR *d = opendir(host.c_str());
    if (ok != nullptr)
        *ok = d != nullptr;
    if (d == nullptr)
        return names;
    while (struct dirent *de = readdir(d)) {
        std::string n = de->d_name;
        if (n != "." && n != "..")
            names.insert(n);
    }
    closedir(d);
    return names;
}

std::string normalise(const std::string &inside)
{
    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= inside.size()) {
        size_t j = inside.find('/', i);
        if (j == std::string::npos)
            j = inside.size();
        std::string part = inside.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = j + 1;
    }
    std::string out;
    for (const auto &p : parts)
        out += "/" + p;
    return out.empty() ? "/" : out;
}

std::string resolve(const Stack &stack, const std::string &inside, bool followLast)
{
    std::string pending = normalise(inside);
    for (int depth = 0; depth < 40; ++depth) {
        std::vector<std::string> comps;
        for (const auto &a : ancestors(pending + "/"))
            comps.push_back(a);
        if (pending == "/")
            comps.clear();
        std::string restart;
        for (size_t k = 0; k < comps.size(); ++k) {
            const std::string &cur = comps[k];
            bool last = (k + 1 == comps.size());
            Entry e = lookupMerged(stack, cur);
            if (!e.found) {
                if (!last && isMountAncestor(stack, cur))
                    continue;
                return "";
            }
            if (S_ISLNK(e.st.st_mode) && (!last || followLast)) {
                char buf[4096];
                ssize_t n = readlink(e.host.c_str(), buf, sizeof buf - 1);
                if (n < 0)
                    return "";
                std::string target(buf, static_cast<size_t>(n));
                std::string parent = cur.substr(0, cur.rfind('/'));
                std::string rest = pending.substr(cur.size());
                restart = normalise((target[0] == '/' ? target : parent + "/" + target) + rest);
                break;
            }
            if (last)
                return e.host;
            if (!S_ISDIR(e.st.st_mode))
                return "";
        }
        if (restart.empty()) {
            Entry e = lookupMerged(stack, "/");
            return e.found ? e.host : "";
        }
        pending = restart;
    }
    return "";
}

std::vector<Change> changes(const Stack &stack)
{
    std::vector<Change> out;
    if (!stack.upper.empty())
        walk(stack, "/", out);
    std::sort(out.begin(), out.end(), [](const Change &a, const Change &b) { return a.path < b.path; });
    return out;
}

void dropUpper(const Stack &stack, const std::string &inside, bool keepDir)
{
    std::string p = normalise(inside);
    if (stack.upper.empty() || p == "/")
        return;
    std::vector<std::string> chain = ancestors(p);
    chain.push_back(p);
    for (size_t k = 0; k < chain.size(); ++k) {
        const std::string &a = chain[k];
        bool last = (k + 1 == chain.size());
        std::string host = join(stack.upper, a);
        struct stat st;
        if (lstat(host.c_str(), &st) != 0)
            return;  // nothing deeper in the upper layer either
        if (!S_ISDIR(st.st_mode)) {
            unlink(host.c_str());
            if (last || !isWhiteout(st))
                return;
            // A removed folder on the way: back as a folder whose old
            // content stays removed.
            Entry low = lookupLower(stack, a);
            mode_t mode = low.found && S_ISDIR(low.st.st_mode) ? (low.st.st_mode & 07777) : 0755;
            if (mkdir(host.c_str(), 0700) != 0)
                return;
            chmod(host.c_str(), mode);
            if (low.found && chown(host.c_str(), low.st.st_uid, low.st.st_gid) != 0) {
            }
            for (const auto &n : lowerNames(stack, a))
                mknod((host + "/" + n).c_str(), S_IFCHR | 0000, makedev(0, 0));
            continue;
        }
        if (last && !keepDir) {
            std::error_code ec;
            std::filesystem::remove_all(host, ec);
            return;
        }
        if (isOpaque(host)) {
            auto now = listDir(host);
            for (const auto &n : lowerNames(stack, a))
                if (now.count(n) == 0)
                    mknod((host + "/" + n).c_str(), S_IFCHR | 0000, makedev(0, 0));
            removexattr(host.c_str(), "trusted.overlay.opaque");
            removexattr(host.c_str(), "user.overlay.opaque");
        }
    }
}

Stack stackFor(const std::string &scratch, const std::vector<std::string> &layers,
               const std::vector<Mount> &binds)
{
    Stack s;
    s.upper = scratch + "/upper";
    s.lowers = layers;
    s.hiddenOnHost = {"/tmp"};
    s.mounts.push_back({"/dev", scratch + "/dev"});
    for (const auto &b : binds)
        s.mounts.push_back({normalise(b.inside), b.host});
    s.ignored = {"/proc"};
    // Everything a user namespace writes belongs to the user: owners say
    // nothing then.
    struct stat st;
    s.compareOwners = lstat(s.upper.c_str(), &st) != 0 || st.st_uid == 0;
    return s;
}

}  // namespace approot::view
