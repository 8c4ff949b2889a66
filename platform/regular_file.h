// Opening files to read them. Every reader of files from disk comes here: the file is opened
// without blocking, so a named pipe or a device that happens to be called "x.bmp" can never
// stall a reader, and it is used only when it is a regular file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace scopa {

// A read-only descriptor of the regular file at `path` (symbolic links followed), or -1 for
// a missing file, a folder, a pipe, a socket or a device. `size`, when given, receives the
// file's size.
int OpenRegularFile(const std::string& path, std::uint64_t* size = nullptr);

// The same as a stdio stream opened for binary reading; null on failure.
std::FILE* OpenRegularFileStream(const std::string& path);

}  // namespace scopa
