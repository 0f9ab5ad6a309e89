// Sets one key of a key="value" file, creating the file when it is missing.
#include <cstdio>
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
    // A newline would smuggle extra lines into the file.
    if (!vralfile::KeyWritable(szKey) || vralfile::HasNewline(value) || !vralfile::KeyFormatValid(format)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    return vralfile::Guarded([&] {
        vralfile::UniqueFile in;
        struct stat st {};
        int rc = vralfile::OpenOrCreate(szFile, "r", Format(format, szKey, value), &in, &st);
        if (rc != 0)
            return rc;
        vralfile::Rewriter out;
        bool found = false;
        bool endsWithNewline = true;
        std::string key;
        rc = vralfile::RewriteLines(szFile, in.get(), st, out, [&](std::string_view line) {
            endsWithNewline = vralfile::EndsWithNewline(line);
            size_t eq = 0;
            if (!vralfile::IsKeyLine(line, szKey, &key, &eq)) {
                out.Write(line);
                return;
            }
            // The first key line takes the value, later ones go.
            if (!found)
                out.WriteKeyLine(format, OwnKeyText(line, eq).c_str(), value);
            found = true;
        });
        if (rc != 0)
            return -1;
        if (!found) {
            if (!endsWithNewline)
                out.Write("\n");
            out.WriteKeyLine(format, szKey, value);
        }
        return out.Commit() == 0 ? 1 : -1;
    });
}
