// Opening an archive and listing its names costs the same whatever the payload: the reader reads the
// 8192-byte tail and the directory, nothing else. This measures both, for a 2 GiB archive (a sparse file,
// so it takes no disk) and a 20 KiB one, with the bytes asked of the operating system per open.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "archive/EmbedFsFormat.h"

namespace {

// Reads straight from the file descriptor, so every byte counted is a byte the system was asked for.
class PreadSource : public embedfs::FileSource {
 public:
  explicit PreadSource(const std::string& path) : mFd(open(path.c_str(), O_RDONLY)) {}
  ~PreadSource() override {
    if (mFd >= 0) close(mFd);
  }
  bool IsOpen() const { return mFd >= 0; }
  bool Size(uint64_t* size) override {
    struct stat info;
    if (fstat(mFd, &info) != 0) return false;
    *size = static_cast<uint64_t>(info.st_size);
    return true;
  }
  bool ReadAt(uint64_t offset, void* buffer, uint32_t length) override {
    const ssize_t n = pread(mFd, buffer, length, static_cast<off_t>(offset));
    if (n != static_cast<ssize_t>(length)) return false;
    mBytesRead += length;
    ++mReads;
    return true;
  }
  uint64_t BytesRead() const { return mBytesRead; }
  uint64_t Reads() const { return mReads; }

 private:
  int mFd;
  uint64_t mBytesRead = 0;
  uint64_t mReads = 0;
};

void PutU32(std::string* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

struct Piece {
  std::string name;
  uint32_t size;
};

// Writes host (zeros), directory, data (a hole) and trailer, with the directory and trailer the only bytes
// on disk.
bool MakeArchive(const std::string& path, uint32_t orgsize, const std::vector<Piece>& pieces) {
  std::string directory;
  PutU32(&directory, static_cast<uint32_t>(pieces.size()));
  uint64_t data = 0;
  for (const Piece& piece : pieces) {
    PutU32(&directory, piece.size);
    PutU32(&directory, static_cast<uint32_t>(piece.name.size()));
    directory += piece.name;
    directory.push_back('\0');
    data += piece.size;
  }
  std::string trailer;
  PutU32(&trailer, orgsize);
  trailer.append(embedfs::kMagic, embedfs::kMagicSize);
  const uint64_t trailerOffset = orgsize + directory.size() + data;
  const int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  if (fd < 0) return false;
  bool ok =
      ftruncate(fd, static_cast<off_t>(trailerOffset + trailer.size())) == 0 &&
      pwrite(fd, directory.data(), directory.size(), orgsize) == static_cast<ssize_t>(directory.size()) &&
      pwrite(fd, trailer.data(), trailer.size(), static_cast<off_t>(trailerOffset)) ==
          static_cast<ssize_t>(trailer.size());
  return close(fd) == 0 && ok;
}

void OpenAndList(benchmark::State& state, const std::string& path) {
  uint64_t bytes = 0, reads = 0, fileSize = 0, names = 0;
  for (auto _ : state) {
    PreadSource source(path);
    embedfs::Directory directory;
    if (!source.IsOpen() || directory.Read(source) != embedfs::ReadResult::kOk) {
      state.SkipWithError("the archive does not open");
      return;
    }
    for (uint32_t i = 0; i < directory.Count(); ++i) names += std::strlen(directory[i].name);
    benchmark::DoNotOptimize(names);
    bytes = source.BytesRead();
    reads = source.Reads();
    fileSize = directory.GetLayout().fileSize;
  }
  state.counters["file_bytes"] = static_cast<double>(fileSize);
  state.counters["bytes_read"] = static_cast<double>(bytes);
  state.counters["reads"] = static_cast<double>(reads);
}

}  // namespace

int main(int argc, char** argv) {
  char pattern[] = "/tmp/embedfs-bench-XXXXXX";
  const char* folder = mkdtemp(pattern);
  if (folder == nullptr) return 1;
  const std::string large = std::string(folder) + "/large.exe";
  const std::string small = std::string(folder) + "/small.exe";

  // The shipped installer's entries, with the patch grown until the file is 2 GiB long.
  const uint32_t orgsize = 0x110000;
  const uint32_t directoryBytes = 4 + (9 + 12) + (9 + 18) + (9 + 27);
  const uint64_t twoGiB = 0x80000000ull;
  const uint32_t patch = static_cast<uint32_t>(twoGiB - orgsize - directoryBytes - 207872 - 1169 - 16);
  const bool made =
      MakeArchive(
          large, orgsize,
          {{"patchw32.dll", 207872}, {"patchnotes4536.rtf", 1169}, {"ZAV.2.12.4526-2.12.4536.rtp", patch}}) &&
      MakeArchive(small, 16384,
                  {{"patchw32.dll", 2048},
                   {"patchnotes4536.rtf", 1169},
                   {"ZAV.2.12.4526-2.12.4536.rtp", 20480 - 16384 - directoryBytes - 2048 - 1169 - 16}});
  if (made) {
    benchmark::RegisterBenchmark("OpenAndList/2GiB", OpenAndList, large);
    benchmark::RegisterBenchmark("OpenAndList/20KiB", OpenAndList, small);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
  } else {
    std::fprintf(stderr, "embedfs_bench: cannot write the archives in %s\n", folder);
  }
  unlink(large.c_str());
  unlink(small.c_str());
  rmdir(folder);
  return made ? 0 : 1;
}
