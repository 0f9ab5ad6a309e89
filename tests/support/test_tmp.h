// Scratch folders for tests: under the build tree, never the host's /tmp.
#ifndef VEXA_TEST_TMP_H
#define VEXA_TEST_TMP_H

#include <string>
#include <vector>

namespace vexatest {

// A fresh folder under <build>/testtmp, removed with everything in it when
// the object goes away (kept when VEXA_KEEP_TMP is set, for inspection).
class TempDir {
public:
    explicit TempDir(const std::string &tag = "t");
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The build tree the tests run from.
std::string buildDir();

// Whole-file helpers that fail the current test on error.
std::string readFile(const std::string &path);
void writeFile(const std::string &path, const std::string &content, int mode = 0644);

// The lines of a text, without their newlines; a last line may lack one.
std::vector<std::string> splitLines(const std::string &text);

// Quotes one word for /bin/sh.
std::string shellQuote(const std::string &word);

}  // namespace vexatest

#endif
