#include "scratch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <map>

namespace fuzzscratch {

const std::string &Path(const char *tag)
{
    static std::map<std::string, std::string> paths;
    auto it = paths.find(tag);
    if (it == paths.end()) {
        mkdir(VEXA_FUZZ_TMP, 0755);
        std::string path = std::string(VEXA_FUZZ_TMP) + "/" + tag + "." + std::to_string(getpid()) + ".conf";
        it = paths.emplace(tag, path).first;
    }
    return it->second;
}

bool Write(const std::string &path, const uint8_t *data, size_t size)
{
    FILE *fp = fopen(path.c_str(), "w");
    if (fp == nullptr)
        return false;
    bool ok = fwrite(data, 1, size, fp) == size;
    return fclose(fp) == 0 && ok;
}

std::string TakeLine(std::string &rest)
{
    size_t nl = rest.find('\n');
    std::string line = rest.substr(0, nl);
    rest = nl == std::string::npos ? std::string() : rest.substr(nl + 1);
    return line;
}

}  // namespace fuzzscratch
