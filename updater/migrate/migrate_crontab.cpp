// Two kinds of jobs the new firmware no longer runs, taken out of the
// crontab: the database vacuum and the removal of the log pages.
#include <fcntl.h>
#include <regex.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "base/io/vral_io.h"
#include "base/string/vral_string.h"
#include "migrate_steps.h"
#include "base/file/file_tmp_file.h"

namespace updt::migrate {

namespace {

constexpr char kCrontab[] = "/etc/crontab";
constexpr char kRmPattern[] = "/bin/rm -f /var/log/\\*.html";

// The text without the lines that keep is false for; the others byte
// for byte, the last one with or without its newline as it was.
template <typename Keep>
std::string filterLines(std::string_view text, Keep keep)
{
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        const std::string_view whole = end == std::string_view::npos ? text : text.substr(0, end + 1);
        if (keep(line))
            out.append(whole);
        text.remove_prefix(whole.size());
    }
    return out;
}

enum class Read { Text, Missing, Failed };

// The crontab's text.
Read readCrontab(std::string &text)
{
    text.clear();
    vralio::Fd fd(open(kCrontab, O_RDONLY | O_CLOEXEC));
    if (!fd.ok())
        return errno == ENOENT ? Read::Missing : Read::Failed;
    char buf[4096];
    ssize_t n;
    while ((n = VRALIoReadAll(fd.get(), buf, sizeof(buf))) > 0)
        text.append(buf, static_cast<size_t>(n));
    return n == 0 ? Read::Text : Read::Failed;
}

// Writes the kept lines beside the crontab, with its owner and mode, and
// renames them over it; the crontab stays as it was on any failure.
template <typename Keep>
int filterCrontab(Keep keep, const char *readFailed, const char *writeFailed)
{
    std::string text;
    switch (readCrontab(text)) {
    case Read::Missing:
        return 0;  // none to clean, and none is made
    case Read::Failed:
        UPDT_LOG_LINE("%s", readFailed);
        return -1;
    case Read::Text:
        break;
    }
    char tmpName[64];
    if (VRALFileTempNameGet("/etc/crontab.", tmpName, sizeof(tmpName)) != 0) {
        UPDT_LOG_LINE("%s", writeFailed);
        return -1;
    }
    vralfile::TmpFile tmp(kCrontab, tmpName, 0644);
    tmp.text() = filterLines(text, keep);
    if (tmp.finish() != 0 || tmp.moveIn() != 0) {
        UPDT_LOG_LINE("%s", writeFailed);
        return -1;
    }
    return 0;
}

}  // namespace

int cleanCrontab(const Step &)
{
    int result = filterCrontab(
        [](std::string_view line) { return line.find("vacuumdb") == std::string_view::npos; },
        "Failed to remove vacuumdb from crontab.", "Failed to remove vacuumdb from crontab.");
    regex_t rm;
    if (regcomp(&rm, kRmPattern, REG_NOSUB) != 0) {
        UPDT_LOG_LINE("Failed to remove \"rm -f /var/log/\\*.html\" from crontab.");
        return -1;
    }
    if (filterCrontab([&rm](std::string_view line) { return regexec(&rm, std::string(line).c_str(), 0, nullptr, 0) != 0; },
                      "Failed to remove \"rm -f /var/log/\\*.html\" from crontab.",
                      "Failed to remove \"rm -f /var/log/*.html\" from crontab.") != 0)
        result = -1;
    regfree(&rm);
    return result;
}

}  // namespace updt::migrate
