// Heap copy of a string for the splitters, freed on scope exit.
#ifndef VRAL_STRING_DUP_H
#define VRAL_STRING_DUP_H

#include <cstdlib>
#include <cstring>
#include <memory>

namespace vral::string {

struct FreeDeleter {
    void operator()(char *p) const { free(p); }
};
using Dup = std::unique_ptr<char, FreeDeleter>;

inline Dup dup(const char *sz)
{
    return Dup(strdup(sz));
}

}  // namespace vral::string

#endif
