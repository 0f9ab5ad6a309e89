// Owner of a malloc'd block: freed with free() on scope exit.
#ifndef VRAL_STRING_HEAP_PTR_H
#define VRAL_STRING_HEAP_PTR_H

#include <cstdlib>
#include <memory>

namespace vral {

struct FreeDeleter {
    void operator()(void *p) const { free(p); }
};

template <typename T>
using HeapPtr = std::unique_ptr<T, FreeDeleter>;

}  // namespace vral

#endif
