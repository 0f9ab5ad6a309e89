// The test program's dbopen: the library's own, with the handle's put
// passed through a check that fails one store when armed.
#include "failput.h"

#include <db_185.h>
#include <dlfcn.h>

#include <cerrno>
#include <map>
#include <string>

namespace {

using PutFn = int (*)(const DB *, DBT *, const DBT *, u_int);

// Built on first use: the probe runs before the program's statics are.
std::map<const DB *, std::pair<std::string, PutFn>> &opened()
{
    static auto *m = new std::map<const DB *, std::pair<std::string, PutFn>>;
    return *m;
}
std::string &armedSuffix()
{
    static auto *s = new std::string;
    return *s;
}

bool endsWith(const std::string &s, const std::string &suffix)
{
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

int checkedPut(const DB *db, DBT *key, const DBT *data, u_int flags)
{
    const auto &[path, put] = opened().at(db);
    const bool marker = key->size > 0 && static_cast<const char *>(key->data)[0] == '#';
    if (!armedSuffix().empty() && !marker && endsWith(path, armedSuffix())) {
        armedSuffix().clear();
        errno = EIO;
        return -1;
    }
    return put(db, key, data, flags);
}

}  // namespace

namespace usertest {

void failNextPut(const std::string &suffix)
{
    armedSuffix() = suffix;
}

}  // namespace usertest

extern "C" DB *dbopen(const char *file, int flags, int mode, DBTYPE type, const void *info)
{
    using OpenFn = DB *(*)(const char *, int, int, DBTYPE, const void *);
    // this definition is the program's only user of the library, which the
    // linker therefore left out: it is loaded here
    static const auto real =
        reinterpret_cast<OpenFn>(dlsym(dlopen(VEXA_BDB_LIBRARY, RTLD_NOW | RTLD_LOCAL), "__db185_open"));
    DB *db = real(file, flags, mode, type, info);
    if (db != nullptr && file != nullptr) {
        opened()[db] = {file, db->put};
        db->put = checkedPut;
    }
    return db;
}
