// The one line reader, offered to the updater on purpose: whole lines of
// any length, and a read cut short never passing for the file's end.
#ifndef VEXA_FILE_LINE_READER_H
#define VEXA_FILE_LINE_READER_H

#include <cstddef>
#include <cstdio>
#include <string_view>

namespace vralfile {

// Reads whole lines of any length, newline included.  Next() is false at the
// end of the file and on a read error; Failed() tells the two apart.
class LineReader {
public:
    explicit LineReader(FILE *fp) : fp_(fp) {}
    ~LineReader();
    LineReader(const LineReader &) = delete;
    LineReader &operator=(const LineReader &) = delete;

    bool Next();
    bool Failed() const { return failed_; }

    // The line's bytes, newline included; data() is NUL-terminated.
    std::string_view Line() const { return {buf_, len_}; }
    char *Data() { return buf_; }
    size_t Length() const { return len_; }
    bool EndsWithNewline() const { return len_ > 0 && buf_[len_ - 1] == '\n'; }

private:
    FILE *fp_;
    char *buf_ = nullptr;
    size_t cap_ = 0;
    size_t len_ = 0;
    bool failed_ = false;
};

}  // namespace vralfile

#endif
