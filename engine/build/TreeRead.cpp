#include "engine/build/TreeRead.h"

#include <algorithm>
#include <memory>

#include "engine/build/Builder.h"

namespace rtp {

bool ReadTreeFileInto(FileSystem& tree, const std::string& name, uint8_t* out, uint64_t size,
                      std::string* error) {
  std::unique_ptr<Source> file;
  if (tree.OpenRead(name, &file) != FsStatus::Ok) return Fail(error, "cannot read " + name);
  if (file->Size() != size) return Fail(error, name + " changed while it was read");
  for (uint64_t at = 0; at < size;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kChunkSize, size - at));
    if (!file->ReadAt(at, out + at, n)) return Fail(error, "cannot read " + name);
    at += n;
  }
  return true;
}

bool ReadTreeFile(FileSystem& tree, const std::string& name, Buffer* out, std::string* error) {
  std::unique_ptr<Source> file;
  if (tree.OpenRead(name, &file) != FsStatus::Ok) return Fail(error, "cannot read " + name);
  const uint64_t size = file->Size();
  // Every byte is read over: a buffer of the size already (the windows of a large file) is used again.
  if (size > SIZE_MAX || (out->size() != size && !out->Resize(static_cast<size_t>(size))))
    return Fail(error, "out of memory reading " + name);
  return ReadTreeFileInto(tree, name, out->data(), size, error);
}

bool ReadRange(FileSystem& tree, const std::string& name, uint64_t at, uint64_t size, Buffer* out,
               std::string* error) {
  std::unique_ptr<Source> file;
  if (tree.OpenRead(name, &file) != FsStatus::Ok) return Fail(error, "cannot read " + name);
  // Every byte is read over: a buffer of the size already (the windows of a large file) is used again.
  if (size > SIZE_MAX || (out->size() != size && !out->Resize(static_cast<size_t>(size))))
    return Fail(error, "out of memory reading " + name);
  for (uint64_t done = 0; done < size;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kChunkSize, size - done));
    if (!file->ReadAt(at + done, out->data() + done, n)) return Fail(error, "cannot read " + name);
    done += n;
  }
  return true;
}

bool FileSize(FileSystem& tree, const std::string& name, uint64_t* size, std::string* error) {
  std::unique_ptr<Source> file;
  if (tree.OpenRead(name, &file) != FsStatus::Ok) return Fail(error, "cannot read " + name);
  *size = file->Size();
  return true;
}

}  // namespace rtp
