// Helpers shared by the configuration-file engine tests.
#ifndef VEXA_TEST_FILE_UTIL_H
#define VEXA_TEST_FILE_UTIL_H

#include <dirent.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/file/vral_file.h"
#include "base/hash/vral_hash.h"
#include "test_tmp.h"

namespace filetest {

// Adds a section holding the one pair k=v at the end of file, or with
// oldSection puts it in that section's place.
inline int sectionOfOnePair(const char *file, const char *section, const char *oldSection = nullptr)
{
    VRALSzHash *m = VRALSzHashAlloc(64);
    VRALSzHashSetValue(&m, "k", "v");
    int r = oldSection == nullptr ? ErrVRALFileAddSection(file, section, m, nullptr)
                                  : ErrVRALFileSetSection(file, oldSection, section, m, nullptr);
    VRALSzHashFree(m);
    return r;
}

inline bool exists(const std::string &path)
{
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// Names in a folder, "." and ".." left out: a rewrite leaves no stray
// temporary file behind.
inline std::vector<std::string> listDir(const std::string &dir)
{
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..")
                names.push_back(n);
        }
        closedir(d);
    }
    return names;
}

inline struct stat statOf(const std::string &path)
{
    struct stat st {};
    stat(path.c_str(), &st);
    return st;
}

// Lays source over path, in a mount namespace of this test process only.
// By default the source is the memory file of this process: opening path
// then works but every read from its start fails with EIO.  The file's own
// bytes lie untouched beneath.  Nothing can be renamed over a mount point.
class UnreadableFile {
public:
    explicit UnreadableFile(const std::string &path, std::string source = "") : path_(path)
    {
        if (unshare(CLONE_NEWNS) != 0)
            return;
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return;
        if (source.empty())
            source = "/proc/" + std::to_string(getpid()) + "/mem";
        active_ = mount(source.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) == 0;
    }
    ~UnreadableFile()
    {
        if (active_)
            umount2(path_.c_str(), MNT_DETACH);
    }
    UnreadableFile(const UnreadableFile &) = delete;
    UnreadableFile &operator=(const UnreadableFile &) = delete;

    bool active() const { return active_; }
    void release()
    {
        if (active_)
            umount2(path_.c_str(), MNT_DETACH);
        active_ = false;
    }

private:
    std::string path_;
    bool active_ = false;
};

}  // namespace filetest

#endif
