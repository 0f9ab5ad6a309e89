// The folder part of a path, as the SDK's own code names folders: "." for
// a bare name, "/" for a name at the root.
#ifndef VRAL_IO_PATH_H
#define VRAL_IO_PATH_H

#include <string>

namespace vralio {

inline std::string folderOf(const std::string &path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace vralio

#endif
