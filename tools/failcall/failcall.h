// Making single calls fail inside a test program.  Linking the library
// replaces fsync, fchown, fchmod, fclose, write, waitpid, crypt, strdup,
// rename and the plain and nothrow operator new and delete for the whole
// program; each passes straight through until a test arms it.
#ifndef VEXA_FAILCALL_H
#define VEXA_FAILCALL_H

#include <string>

namespace failcall {

enum class Call { Fsync, Fchown, Fchmod, Fclose, Write, Waitpid, Crypt, Strdup, Alloc, Rename };

struct Rule {
    Call call;
    // Only descriptors whose file's path begins with this (all when empty);
    // rename matches its new path; waitpid and allocations have none.
    std::string pathPrefix = {};
    // errno of the failure.  For write, 0 makes the call move no byte and
    // return 0.  waitpid reaps the child first, as if another waiter had,
    // and then fails.  crypt gives "*0", as libcrypt does on failure.
    // strdup gives NULL with errno err.  An allocation throws
    // std::bad_alloc (a nothrow one gives NULL).  A failed rename moves
    // nothing.
    int err = 5;  // EIO
    // The first matching call that fails; those before it pass.
    int nth = 1;
    // How many matching calls fail, from the first on; 0: all of them.
    int times = 1;
};

// Arms one rule, replacing any other; Disarm() puts everything back.
void Arm(const Rule &rule);
void Disarm();
// How many calls the armed rule made fail so far.
int Fired();

// Disarms when it goes out of scope.
struct Armed {
    explicit Armed(const Rule &rule) { Arm(rule); }
    ~Armed() { Disarm(); }
    Armed(const Armed &) = delete;
    Armed &operator=(const Armed &) = delete;
};

}  // namespace failcall

#endif
