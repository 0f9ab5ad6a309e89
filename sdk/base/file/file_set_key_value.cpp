// Sets one key of a key="value" file, creating the file when it is missing.
#include <cerrno>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "base/err/vral_err.h"
#include "base/file/file_internal.h"
#include "base/file/vral_file.h"

namespace {

// The line's own spelling of its key: its text up to the "=" that ends the
// key, blanks included.
std::string OwnKeyText(std::string_view line, size_t eq)
{
    size_t nul = line.find('\0');
    if (nul != std::string_view::npos)
        line = line.substr(0, nul);
    if (eq != std::string_view::npos)
        return std::string(line.substr(0, eq));
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    return std::string(line);
}

std::string Format(const char *format, const char *key, const char *value)
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    int n = snprintf(nullptr, 0, format, key, value);
    if (n < 0)
        return {};
    std::vector<char> out(static_cast<size_t>(n) + 1);
    snprintf(out.data(), out.size(), format, key, value);
#pragma GCC diagnostic pop
    return std::string(out.data(), static_cast<size_t>(n));
}

}  // namespace

extern "C" int VRALFileSetKeyValue(const char *szFile, const char *szKey, const char *value, const char *format)
{
    if (szFile == nullptr || szKey == nullptr || value == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    if (format == nullptr)
        format = VRAL_FILE_DEFAULT_FORMAT;
    // A newline would smuggle extra lines into the file; an empty key would
    // take blank lines for its own.
    if (szKey[0] == '\0' || vralfile::HasNewline(szKey) || vralfile::HasNewline(value) ||
        !vralfile::KeyFormatValid(format)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    try {
        vralfile::UniqueFile in(vralfile::OpenStream(szFile, "r"));
        if (!in) {
            if (errno != ENOENT) {
                VRAL_ERR_SET(ERR_OPEN_FAILED);
                return -1;
            }
            return vralfile::CreateMissing(szFile, Format(format, szKey, value));
        }
        struct stat st {};
        if (vralfile::StatForRewrite(in.get(), &st) != 0)
            return -1;
        vralfile::Rewriter out;
        if (out.Begin(szFile, st) != 0)
            return -1;

        vralfile::LineReader reader(in.get());
        bool found = false;
        bool endsWithNewline = true;
        std::string key;
        while (reader.Next()) {
            std::string_view line = reader.Line();
            endsWithNewline = reader.EndsWithNewline();
            size_t eq = 0;
            if (!vralfile::IsComment(line) && vralfile::LineKey(line, &key, &eq) && key == szKey) {
                // The first key line takes the value, later ones go.
                if (!found)
                    out.WriteKeyLine(format, OwnKeyText(line, eq).c_str(), value);
                found = true;
                continue;
            }
            out.Write(line);
        }
        if (reader.Failed()) {
            VRAL_ERR_SET(ERR_READ_FAILED);
            return -1;
        }
        if (!found) {
            if (!endsWithNewline)
                out.Write("\n");
            out.WriteKeyLine(format, szKey, value);
        }
        return out.Commit() == 0 ? 1 : -1;
    } catch (const std::bad_alloc &) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
}
