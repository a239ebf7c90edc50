#pragma once
// How the builder reads the folders it compares, and runs two tasks on the machine's two cores.
#include <cstdint>
#include <string>

#include "engine/base/Bytes.h"
#include "engine/fs/FileSystem.h"

namespace rtp {

// Reads a whole file into `out`, which holds `size` bytes; the file must still be that long.
bool ReadTreeFileInto(FileSystem& tree, const std::string& name, uint8_t* out, uint64_t size,
                      std::string* error);
bool ReadTreeFile(FileSystem& tree, const std::string& name, Buffer* out, std::string* error);
// Reads [at, at + size) of a file into `out`.
bool ReadRange(FileSystem& tree, const std::string& name, uint64_t at, uint64_t size, Buffer* out,
               std::string* error);
bool FileSize(FileSystem& tree, const std::string& name, uint64_t* size, std::string* error);

}  // namespace rtp
