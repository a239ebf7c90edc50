// A program that lists the archive appended to its own executable, as the installer's welcome page does:
// names by index until the first empty one, each entry mapped to take its size and a hash of its bytes,
// and each read again through OpenEntry. Writes one line per entry into the file named by its
// argument (UTF-8: "index<TAB>name<TAB>size<TAB>hash<TAB>hash-read"), and exits with the entry count.
#include <cstdint>
#include <cstdio>
#include <string>

#include "win/EmbedFs.h"

namespace {

uint32_t Fnv1a(const uint8_t* bytes, uint32_t length, uint32_t hash = 2166136261u) {
  for (uint32_t i = 0; i < length; ++i) hash = (hash ^ bytes[i]) * 16777619u;
  return hash;
}

std::string Utf8(const std::wstring& text) {
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(length > 0 ? static_cast<size_t>(length) : 1, '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], length, nullptr, nullptr);
  out.resize(out.size() - 1);
  return out;
}

uint32_t HashThroughHandle(CEmbedFs& archive, const std::wstring& name) {
  uint32_t size = 0;
  HANDLE file = archive.OpenEntry(name, size);
  if (file == nullptr) return 0;
  uint8_t buffer[8092];
  uint32_t hash = 2166136261u;
  while (size > 0) {
    const DWORD want = size < sizeof buffer ? size : sizeof buffer;
    DWORD got = 0;
    if (!::ReadFile(file, buffer, want, &got, nullptr) || got != want) return 0;
    hash = Fnv1a(buffer, got, hash);
    size -= got;
  }
  return hash;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 255;
  FILE* out = _wfopen(argv[1], L"wb");
  if (out == nullptr) return 254;
  CEmbedFs archive;  // the running executable
  uint32_t count = 0;
  for (;; ++count) {
    const std::wstring name = archive.EntryName(count);
    if (name.empty()) break;
    uint32_t size = 0;
    const uint8_t* bytes = archive.MapEntry(name, size);
    const uint32_t mapped = bytes != nullptr ? Fnv1a(bytes, size) : 0;
    archive.UnmapEntry(bytes);
    std::fprintf(out, "%u\t%s\t%u\t%08x\t%08x\n", count, Utf8(name).c_str(), size, mapped,
                 HashThroughHandle(archive, name));
  }
  std::fclose(out);
  return static_cast<int>(count);
}
