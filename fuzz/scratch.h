// Scratch files of the fuzz targets, under the fuzz build's tmp folder,
// and the splitting of an input into its parts.
#ifndef VEXA_FUZZ_SCRATCH_H
#define VEXA_FUZZ_SCRATCH_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzscratch {

// Path of a per-process scratch file named after tag.
const std::string &Path(const char *tag);

// Replaces the scratch file's content; false when it cannot be written.
bool Write(const std::string &path, const uint8_t *data, size_t size);

// Cuts the first line (without its newline) off rest and returns it.
std::string TakeLine(std::string &rest);

}  // namespace fuzzscratch

#endif
