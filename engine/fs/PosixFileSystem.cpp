#include "engine/fs/PosixFileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <new>

namespace rtp {

namespace {

// Deeper trees than this are taken for a link loop.
constexpr int kMaxDepth = 64;

class Fd {
 public:
  explicit Fd(int fd) : mFd(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (mFd >= 0) ::close(mFd);
  }
  int Get() const { return mFd; }
  void Release() { mFd = -1; }
  bool Close() {
    const int fd = mFd;
    mFd = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int mFd;
};

class Dir {
 public:
  explicit Dir(const std::string& path) : mDir(::opendir(path.c_str())) {}
  Dir(const Dir&) = delete;
  Dir& operator=(const Dir&) = delete;
  ~Dir() {
    if (mDir) ::closedir(mDir);
  }
  DIR* Get() const { return mDir; }

 private:
  DIR* mDir;
};

// A file read with pread, its size fixed when opened.
class FdSource : public Source {
 public:
  FdSource(int fd, uint64_t size) : mFd(fd), mSize(size) {}
  uint64_t Size() override { return mSize; }
  bool ReadAt(uint64_t offset, uint8_t* out, size_t length) override {
    if (offset > mSize || length > mSize - offset) return false;
    for (size_t done = 0; done < length;) {
      const ssize_t got = ::pread(mFd.Get(), out + done, length - done, static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      done += static_cast<size_t>(got);
    }
    return true;
  }

 private:
  Fd mFd;
  uint64_t mSize;
};

class FdSink : public Sink {
 public:
  explicit FdSink(int fd) : mFd(fd) {}
  bool WriteAt(uint64_t offset, ByteView bytes) override {
    for (size_t done = 0; done < bytes.size;) {
      const ssize_t put =
          ::pwrite(mFd.Get(), bytes.data + done, bytes.size - done, static_cast<off_t>(offset + done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      done += static_cast<size_t>(put);
    }
    return true;
  }
  bool Close() override { return mFd.Close(); }
  bool Sync() override { return ::fsync(mFd.Get()) == 0; }

 private:
  Fd mFd;
};

// Takes an open descriptor into a sink.
FsStatus SinkOf(Fd* fd, std::unique_ptr<Sink>* out) {
  out->reset(new (std::nothrow) FdSink(fd->Get()));
  if (!*out) return FsStatus::NoMemory;
  fd->Release();
  return FsStatus::Ok;
}

FsStatus StatusOfErrno(int error) {
  if (error == EEXIST) return FsStatus::Exists;
  return (error == ENOENT || error == ENOTDIR || error == EISDIR) ? FsStatus::NotFound : FsStatus::Failed;
}

FsStatus ReadFd(int fd, Buffer* out) {
  struct stat info;
  if (::fstat(fd, &info) != 0) return FsStatus::Failed;
  if (!S_ISREG(info.st_mode)) return FsStatus::NotFound;
  if (static_cast<uint64_t>(info.st_size) > SIZE_MAX) return FsStatus::NoMemory;
  if (!out->Resize(static_cast<size_t>(info.st_size))) return FsStatus::NoMemory;
  size_t done = 0;
  while (done < out->size()) {
    const ssize_t got = ::read(fd, out->data() + done, out->size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return FsStatus::Failed;
    done += static_cast<size_t>(got);
  }
  return FsStatus::Ok;
}

FsStatus WriteFd(int fd, ByteView bytes) {
  size_t done = 0;
  while (done < bytes.size) {
    const ssize_t put = ::write(fd, bytes.data + done, bytes.size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return FsStatus::Failed;
    done += static_cast<size_t>(put);
  }
  return FsStatus::Ok;
}

}  // namespace

std::string PosixFileSystem::PathOf(const std::string& name) const {
  std::string path = mRoot;
  if (!path.empty() && path.back() != '/') path += '/';
  for (char c : name) path += c == '\\' ? '/' : c;
  return path;
}

bool PosixFileSystem::RootExists() {
  struct stat info;
  return ::stat(mRoot.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool PosixFileSystem::FreeSpace(uint64_t* bytes) {
  struct statvfs volume;
  if (::statvfs(mRoot.c_str(), &volume) != 0) return false;
  *bytes = static_cast<uint64_t>(volume.f_bavail) * volume.f_frsize;
  return true;
}

bool PosixFileSystem::ListFolder(const std::string& prefix, std::vector<std::string>* names, int depth,
                                 bool readable) {
  if (depth > kMaxDepth) return readable;
  Dir dir(prefix.empty() ? mRoot : PathOf(prefix));
  if (!dir.Get()) return readable && !prefix.empty();
  while (const dirent* item = ::readdir(dir.Get())) {
    const std::string leaf = item->d_name;
    if (leaf == "." || leaf == "..") continue;
    const std::string name = prefix.empty() ? leaf : prefix + '\\' + leaf;
    struct stat info;
    if (::stat(PathOf(name).c_str(), &info) != 0) {
      if (readable) continue;
      return false;
    }
    struct stat link;
    const bool linked = ::lstat(PathOf(name).c_str(), &link) == 0 && S_ISLNK(link.st_mode);
    if (S_ISDIR(info.st_mode)) {
      if (readable && linked) continue;
      if (!ListFolder(name, names, depth + 1, readable)) return false;
    } else if (S_ISREG(info.st_mode)) {
      names->push_back(name);
    }
  }
  return true;
}

bool PosixFileSystem::ListNames(const std::string& folder, std::vector<std::string>* names) {
  names->clear();
  Dir dir(folder.empty() ? mRoot : PathOf(folder));
  if (!dir.Get()) return errno == ENOENT;
  while (const dirent* item = ::readdir(dir.Get())) {
    const std::string leaf = item->d_name;
    if (leaf != "." && leaf != "..") names->push_back(leaf);
  }
  return true;
}

bool PosixFileSystem::List(std::vector<std::string>* names) {
  names->clear();
  return ListFolder(std::string(), names, 0, false);
}

bool PosixFileSystem::ListReadable(std::vector<std::string>* names) {
  names->clear();
  return ListFolder(std::string(), names, 0, true);
}

FsStatus PosixFileSystem::OpenRead(const std::string& name, std::unique_ptr<Source>* out) {
  return OpenHostFile(PathOf(name), out);
}

FsStatus PosixFileSystem::Create(const std::string& name, std::unique_ptr<Sink>* out) {
  return CreateAs(name, O_TRUNC, out);
}

FsStatus PosixFileSystem::CreateNew(const std::string& name, std::unique_ptr<Sink>* out) {
  return CreateAs(name, O_EXCL, out);
}

FsStatus PosixFileSystem::Overwrite(const std::string& name, uint64_t size, std::unique_ptr<Sink>* out) {
  return CreateAs(name, 0, out, &size);
}

FsStatus PosixFileSystem::CreateAs(const std::string& name, int mode, std::unique_ptr<Sink>* out,
                                   const uint64_t* size) {
  for (size_t at = name.find('\\'); at != std::string::npos; at = name.find('\\', at + 1)) {
    const std::string folder = PathOf(name.substr(0, at));
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) return FsStatus::Failed;
  }
  Fd fd(::open(PathOf(name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | mode, 0644));
  if (fd.Get() < 0) return StatusOfErrno(errno);
  struct stat info;
  if (size && (::fstat(fd.Get(), &info) != 0 || (static_cast<uint64_t>(info.st_size) != *size &&
                                                 ::ftruncate(fd.Get(), static_cast<off_t>(*size)) != 0)))
    return FsStatus::Failed;
  return SinkOf(&fd, out);
}

FsStatus PosixFileSystem::WriteDurable(const std::string& name, ByteView bytes) {
  Fd fd(::open(PathOf(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (fd.Get() < 0) return StatusOfErrno(errno);
  if (WriteFd(fd.Get(), bytes) != FsStatus::Ok || ::fsync(fd.Get()) != 0) return FsStatus::Failed;
  return fd.Close() ? FsStatus::Ok : FsStatus::Failed;
}

FsStatus PosixFileSystem::Replace(const std::string& from, const std::string& to) {
  return ::rename(PathOf(from).c_str(), PathOf(to).c_str()) == 0 ? FsStatus::Ok : StatusOfErrno(errno);
}

FsStatus PosixFileSystem::ScheduleReplace(const std::string&, const std::string&) {
  return FsStatus::Failed;
}

FsStatus PosixFileSystem::Remove(const std::string& name) {
  return ::unlink(PathOf(name).c_str()) == 0 ? FsStatus::Ok : StatusOfErrno(errno);
}

FsStatus PosixFileSystem::ScheduleRemove(const std::string&) {
  return FsStatus::Failed;
}

void PosixFileSystem::RemoveEmptyFolders(const std::string& name) {
  for (size_t at = name.rfind('\\'); at != std::string::npos && at > 0; at = name.rfind('\\', at - 1)) {
    if (::rmdir(PathOf(name.substr(0, at)).c_str()) != 0) return;
  }
}

void PosixFileSystem::Sleep(uint32_t ms) {
  timespec wait{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

FsStatus PosixFileSystem::SyncFolder(const std::string& name) {
  const size_t slash = name.rfind('\\');
  const std::string folder = slash == std::string::npos ? mRoot : PathOf(name.substr(0, slash));
  Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return fd.Get() >= 0 && ::fsync(fd.Get()) == 0 ? FsStatus::Ok : FsStatus::Failed;
}

FsStatus OpenHostFile(const std::string& path, std::unique_ptr<Source>* out) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) return StatusOfErrno(errno);
  struct stat info;
  if (::fstat(fd.Get(), &info) != 0) return FsStatus::Failed;
  if (!S_ISREG(info.st_mode)) return FsStatus::NotFound;
  out->reset(new (std::nothrow) FdSource(fd.Get(), static_cast<uint64_t>(info.st_size)));
  if (!*out) return FsStatus::NoMemory;
  fd.Release();
  return FsStatus::Ok;
}

FsStatus CreateHostFile(const std::string& path, std::unique_ptr<Sink>* out) {
  Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  return fd.Get() < 0 ? FsStatus::Failed : SinkOf(&fd, out);
}

bool ReadHostFile(const std::string& path, Buffer* out) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  return fd.Get() >= 0 && ReadFd(fd.Get(), out) == FsStatus::Ok;
}

bool WriteHostFile(const std::string& path, ByteView bytes) {
  Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (fd.Get() < 0) return false;
  const bool written = WriteFd(fd.Get(), bytes) == FsStatus::Ok;
  return fd.Close() && written;
}

}  // namespace rtp
