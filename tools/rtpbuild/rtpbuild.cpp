// rtpbuild: the operator tool of the patch engine. It builds a patch from two client folders, describes
// a patch, and applies one with the engine's own code, printing every callback. Built in both trees
// (rtpbuild.exe in the Windows one).
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdlib>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tools/common/Progress.h"
#include "tools/common/ToolMain.h"

#include "engine/apply/Apply.h"
#include "engine/apply/Callbacks.h"
#include "engine/apply/Errors.h"
#include "engine/build/Builder.h"
#include "engine/format/PatchFormat.h"

#ifdef _WIN32
#include "engine/fs/WinFileSystem.h"
#else
#include "engine/fs/PosixFileSystem.h"
#endif

namespace tool {
namespace {

const char kMainHelp[] =
    "usage: rtpbuild COMMAND [OPTIONS] ...\n"
    "\n"
    "Builds and inspects patch files of the patch engine (patchw32.dll).\n"
    "\n"
    "commands:\n"
    "  build   compare an old and a new client folder and write a patch between them\n"
    "  info    describe a patch: its streams, cost and every file\n"
    "  apply   apply a patch to a client folder with the engine's code, printing every callback\n"
    "  verify  apply a patch to a scratch copy of an old folder and compare the result with the new one\n"
    "\n"
    "\"rtpbuild COMMAND --help\" describes one command. Exit codes: 0 done, 1 refused or failed,\n"
    "2 wrong usage.\n";

const char kBuildHelp[] =
    "usage: rtpbuild build [OPTIONS] OLD_DIR NEW_DIR OUT.rtp\n"
    "\n"
    "Writes OUT.rtp, a patch that turns a client folder like OLD_DIR into one like NEW_DIR: deleted\n"
    "files first, then added and changed files by kind (extension, then name without its folder), so\n"
    "files that resemble each other are coded one after another; unchanged files are left out. A new\n"
    "file copies from whichever old files hold its bytes. Names are matched ignoring the case of ASCII\n"
    "letters; they go into the patch as UTF-8 (Chinese names too), without control characters and\n"
    "<>:\"|?*, at most 1023 bytes with their folders.\n"
    "\n"
    "options:\n"
    "  --quiet            no progress line (on a terminal one line says what the build does meanwhile:\n"
    "                     the phase, its share done, the time so far and what is left of the phase)\n"
    "  --max-memory MIB   the memory the build may take (8192 unless given; 1024 in a 32-bit build):\n"
    "                     old data beyond what fits is matched window by window, a little larger patch\n"
    "  --help   show this text\n";

const char kInfoHelp[] =
    "usage: rtpbuild info PATCH [CLIENT]\n"
    "\n"
    "Checks PATCH as the engine does, then prints what applying it costs (as RTPatchGetCost reports\n"
    "it), its streams, the old files it reads and one line per file. Exits 1 with the engine's error\n"
    "text when the patch is refused. The patch names most old files by the hash of their name (shown\n"
    "as #HASH); with CLIENT, a folder of the old version, they are named as the apply finds them there.\n"
    "\n"
    "options:\n"
    "  --help   show this text\n";

const char kVerifyHelp[] =
    "usage: rtpbuild verify [--quiet] OLD_DIR NEW_DIR PATCH\n"
    "\n"
    "Copies OLD_DIR to a scratch folder, applies PATCH there with the engine's code and compares every\n"
    "file with NEW_DIR. Exits 0 when they are the same, 1 with what differs otherwise. OLD_DIR is only\n"
    "read; the scratch folder is removed. On a terminal one line says what it does meanwhile.\n"
    "\n"
    "options:\n"
    "  --quiet  no progress line\n"
    "  --help   show this text\n";

const char kApplyHelp[] =
    "usage: rtpbuild apply [--abort-at N] CLIENT_DIR PATCH\n"
    "\n"
    "Applies PATCH to CLIENT_DIR with the engine's code and prints every callback as a line: its id,\n"
    "then its text or number. Exits 0 when the engine succeeded, 1 otherwise.\n"
    "\n"
    "options:\n"
    "  --abort-at N   answer the N-th callback (from 1) as a caller asking to stop would\n"
    "  --help         show this text\n";

// The platform edge. Arguments arrive as UTF-8 (converted from UTF-16 on Windows).
#ifdef _WIN32
std::wstring WidePath(const std::string& utf8) {
  return Widen(utf8, CP_UTF8);
}
std::unique_ptr<rtp::FileSystem> OpenFolder(const std::string& path) {
  return std::make_unique<rtp::WinFileSystem>(WidePath(path));
}
bool OpenForReading(const std::string& path, std::unique_ptr<rtp::Source>* out) {
  return rtp::OpenFileForReading(WidePath(path), FILE_SHARE_READ, out) == rtp::FsStatus::Ok;
}
bool CreateForWriting(const std::string& path, std::unique_ptr<rtp::Sink>* out) {
  return rtp::CreateFileForWriting(WidePath(path), out) == rtp::FsStatus::Ok;
}
void RemoveFile(const std::string& path) {
  ::DeleteFileW(WidePath(path).c_str());
}
// A new empty folder under the user's temporary folder, as UTF-8.
bool MakeScratchFolder(std::string* out) {
  wchar_t base[MAX_PATH];
  const DWORD length = ::GetTempPathW(MAX_PATH, base);
  if (length == 0 || length >= MAX_PATH) return false;
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::wstring path = std::wstring(base) + L"rtpverify-" + std::to_wstring(::GetCurrentProcessId()) +
                              L"-" + std::to_wstring(attempt);
    if (::CreateDirectoryW(path.c_str(), nullptr)) return Narrow(path, CP_UTF8, out);
  }
  return false;
}
void RemoveFolder(const std::string& path) {
  ::RemoveDirectoryW(WidePath(path).c_str());
}
#else
std::unique_ptr<rtp::FileSystem> OpenFolder(const std::string& path) {
  return std::make_unique<rtp::PosixFileSystem>(path);
}
bool OpenForReading(const std::string& path, std::unique_ptr<rtp::Source>* out) {
  return rtp::OpenHostFile(path, out) == rtp::FsStatus::Ok;
}
bool CreateForWriting(const std::string& path, std::unique_ptr<rtp::Sink>* out) {
  return rtp::CreateHostFile(path, out) == rtp::FsStatus::Ok;
}
void RemoveFile(const std::string& path) {
  std::remove(path.c_str());
}
bool MakeScratchFolder(std::string* out) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/rtpverify-XXXXXX";
  if (!::mkdtemp(&pattern[0])) return false;
  *out = pattern;
  return true;
}
void RemoveFolder(const std::string& path) {
  ::rmdir(path.c_str());
}
#endif

bool FolderExists(const std::string& path) {
  return OpenFolder(path)->RootExists();
}

// A count below 2^32; false when the text is no such number.
bool CountOf(const std::string& text, uint32_t* count) {
  uint64_t value = 0;
  if (!tool::ParseNumber(text, &value) || value > UINT32_MAX) return false;
  *count = static_cast<uint32_t>(value);
  return true;
}

// A count of MiB ("4096") in bytes; false when it is no such number.
bool MebibytesOf(const std::string& text, uint64_t* bytes) {
  uint32_t mebibytes = 0;
  if (!CountOf(text, &mebibytes)) return false;
  *bytes = uint64_t{mebibytes} << 20;
  return true;
}

int Build(const std::vector<std::string>& args) {
  std::vector<std::string> positional;
  bool quiet = false;
  uint64_t maxMemory = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (IsHelp(arg)) {
      std::fputs(kBuildHelp, stdout);
      return kExitOk;
    }
    if (arg == "--quiet") {
      quiet = true;
      continue;
    }
    if (arg == "--max-memory") {
      if (i + 1 >= args.size() || !MebibytesOf(args[++i], &maxMemory) || maxMemory < (16u << 20))
        return Usage("--max-memory takes a number of MiB, at least 16", kBuildHelp);
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') return Usage("unknown option " + arg, kBuildHelp);
    positional.push_back(arg);
  }
  if (positional.size() != 3) return Usage("build takes OLD_DIR NEW_DIR OUT.rtp", kBuildHelp);
  for (int i = 0; i < 2; ++i)
    if (!FolderExists(positional[i])) return Failed("no such folder: " + positional[i]);
  const std::unique_ptr<rtp::FileSystem> oldTree = OpenFolder(positional[0]);
  const std::unique_ptr<rtp::FileSystem> newTree = OpenFolder(positional[1]);
  const auto started = std::chrono::steady_clock::now();
  ProgressLine line(quiet);
  rtp::BuildOptions options;
  options.maxMemory = maxMemory;
  options.progress = [&line](const char* phase, uint64_t done, uint64_t total) {
    line.Show(phase, done, total);
  };
  rtp::BuildPlan plan;
  rtp::BuildSummary summary;
  std::string error;
  line.Show("comparing the folders", 0, 1);
  if (!rtp::PlanPatch(*oldTree, *newTree, options, &plan, &error)) return Failed(error);
  // Nothing is written for a refused build; a build that fails while writing leaves no patch behind.
  std::unique_ptr<rtp::Sink> out;
  if (!CreateForWriting(positional[2], &out)) return Failed("cannot write " + positional[2]);
  const bool written = rtp::WritePlannedPatch(*oldTree, *newTree, plan, *out, &summary, &error);
  line.Clear();
  if (!written || !out->Close()) {
    out.reset();
    RemoveFile(positional[2]);
    return Failed(written ? "cannot write " + positional[2] : error);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("%s: %u added, %u patched, %u deleted, %u unchanged, %" PRIu64 " bytes in %.2f s\n",
              positional[2].c_str(), summary.added, summary.patched, summary.deleted, summary.unchanged,
              summary.bytes, seconds);
  return kExitOk;
}

std::string Printable(const rtp::ByteView& bytes) {
  std::string text;
  for (size_t i = 0; i < bytes.size; ++i) {
    const unsigned char c = bytes.data[i];
    if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      text += escaped;
    } else {
      text += static_cast<char>(c);
    }
  }
  return text;
}

// A source's name, or "#" and its hash for one the patch names by hash, until it is found.
std::string SourceName(const rtp::SourceFile& source) {
  return source.name.empty() ? "#" + rtp::NameHashText(source.nameHash, source.hashBytes) : source.name;
}

void PrintInfo(const std::string& path, const rtp::Patch& patch) {
  const rtp::PatchCost cost = rtp::ComputeCost(patch);
  std::printf("patch: %s\nformat version: %u\nfiles: %zu (%u written), sources: %zu\n", path.c_str(),
              patch.version, patch.files.size(), patch.WrittenCount(), patch.sources.size());
  std::printf("cost: biggest %u, new %u, old %u, files %u\n", cost.biggest, cost.newSize, cost.oldSize,
              cost.files);
  static const char* const kStreamNames[rtp::kStreamCount] = {"literal lengths", "cover lengths", "moves",
                                                              "segments",        "diff",          "literals"};
  for (int s = 0; s < rtp::kStreamCount; ++s) {
    const rtp::StreamInfo& stream = patch.streams[s];
    std::printf("stream %s: %s, %" PRIu64 " bytes stored, %" PRIu64 " decoded\n", kStreamNames[s],
                rtp::EntryOf(stream.codec).name, stream.storedSize, stream.decodedSize);
  }
  for (const rtp::SourceFile& source : patch.sources)
    std::printf("source %s %" PRIu64 "\n", SourceName(source).c_str(), source.size);
  for (size_t i = 0; i < patch.files.size(); ++i) {
    rtp::TreeFile f = patch.files[i];
    if (f.name.empty()) f.name = SourceName(patch.sources[f.oldSource - 1]);
    if (f.kind == rtp::FileKind::Delete)
      std::printf("%zu delete %s\n", i + 1, f.name.c_str());
    else
      std::printf("%zu %s %s new %" PRIu64 "/%08X\n", i + 1, f.oldSource ? "patch" : "add", f.name.c_str(),
                  f.newSize, f.newCrc);
  }
}

int Info(const std::vector<std::string>& args) {
  std::vector<std::string> positional;
  int exit = kExitOk;
  if (!TakeOperands(args, kInfoHelp, "", &positional, &exit)) return exit;
  if (positional.empty() || positional.size() > 2) return Usage("info takes a PATCH and a CLIENT", kInfoHelp);
  std::unique_ptr<rtp::Source> bytes;
  if (!OpenForReading(positional[0], &bytes)) return Failed("cannot read " + positional[0]);
  rtp::FormatError error;
  rtp::Patch patch;
  if (!rtp::ParsePatch(*bytes, &patch, &error))
    return Failed(positional[0] + ": " + rtp::ErrorText(error.number, error.detail));
  if (positional.size() == 2) {
    const std::unique_ptr<rtp::FileSystem> client = OpenFolder(positional[1]);
    std::vector<std::string> clientFiles;
    if (!client->ListReadable(&clientFiles)) return Failed("cannot list " + positional[1]);
    const auto sizeOf = [&](const std::string& name, uint64_t* size) { return client->SizeOf(name, size); };
    if (!rtp::ResolveNames(&patch, clientFiles, sizeOf, &error))
      return Failed(positional[1] + ": " + rtp::ErrorText(error.number, error.detail));
  }
  PrintInfo(positional[0], patch);
  return kExitOk;
}

class PrintingListener : public rtp::Listener {
 public:
  explicit PrintingListener(uint32_t abortAt) : mAbortAt(abortAt) {}
  bool Notify(uint32_t id, void* param) override {
    ++mCount;
    std::printf("%u", id);
    if (param && rtp::ParamKindOf(id) == rtp::ParamKind::Text) {
      const char* text = static_cast<const char*>(param);
      std::printf(
          " %s", Printable(rtp::ByteView(reinterpret_cast<const uint8_t*>(text), std::strlen(text))).c_str());
    } else if (param) {
      std::printf(" 0x%08X", *static_cast<const uint32_t*>(param));
    }
    std::printf("\n");
    std::fflush(stdout);
    return mCount != mAbortAt;
  }

 private:
  uint32_t mAbortAt;
  uint32_t mCount = 0;
};

int Apply(const std::vector<std::string>& args) {
  std::vector<std::string> positional;
  uint32_t abortAt = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (IsHelp(arg)) {
      std::fputs(kApplyHelp, stdout);
      return kExitOk;
    }
    if (arg == "--abort-at") {
      if (i + 1 >= args.size() || !CountOf(args[i + 1], &abortAt) || abortAt == 0)
        return Usage("--abort-at takes a callback number from 1", kApplyHelp);
      ++i;
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') return Usage("unknown option " + arg, kApplyHelp);
    positional.push_back(arg);
  }
  if (positional.size() != 2) return Usage("apply takes CLIENT_DIR PATCH", kApplyHelp);
  std::unique_ptr<rtp::Source> bytes;
  if (!OpenForReading(positional[1], &bytes)) return Failed("cannot read " + positional[1]);
  const std::unique_ptr<rtp::FileSystem> client = OpenFolder(positional[0]);
  PrintingListener listener(abortAt);
  const uint32_t result = rtp::ApplyPatch(*bytes, *client, listener);
  if (result == rtp::kOk) return kExitOk;
  std::fprintf(stderr, "rtpbuild: engine returned %u (%s)\n", result, rtp::ErrorName(result));
  return kExitFailed;
}

// Copies every file of one folder to another, in pieces.
bool CopyTree(rtp::FileSystem& from, rtp::FileSystem& to, std::vector<std::string>* names,
              std::string* error) {
  if (!from.List(names)) return (*error = "cannot list the old folder", false);
  std::unique_ptr<uint8_t[]> buffer = rtp::NewBytes(rtp::kChunkSize);
  for (const std::string& name : *names) {
    std::unique_ptr<rtp::Source> in;
    std::unique_ptr<rtp::Sink> out;
    if (from.OpenRead(name, &in) != rtp::FsStatus::Ok) return (*error = "cannot read " + name, false);
    if (to.Create(name, &out) != rtp::FsStatus::Ok)
      return (*error = "cannot write the scratch copy of " + name, false);
    for (uint64_t at = 0; at < in->Size();) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(rtp::kChunkSize, in->Size() - at));
      if (!in->ReadAt(at, buffer.get(), n) || !out->WriteAt(at, rtp::ByteView(buffer.get(), n)))
        return (*error = "cannot copy " + name, false);
      at += n;
    }
    if (!out->Close()) return (*error = "cannot write the scratch copy of " + name, false);
  }
  return true;
}

// The first difference between two folders, or an empty text when they hold the same files.
std::string CompareTrees(rtp::FileSystem& got, rtp::FileSystem& want) {
  std::vector<std::string> a, b;
  if (!got.List(&a) || !want.List(&b)) return "cannot list a folder";
  // Names as Windows compares them, each with its spelling in its own folder.
  const auto fold = [](const std::vector<std::string>& names) {
    std::vector<std::pair<std::string, std::string>> folded;
    for (const std::string& name : names) folded.emplace_back(rtp::FoldName(name), name);
    std::sort(folded.begin(), folded.end());
    return folded;
  };
  const auto x = fold(a), y = fold(b);
  for (size_t i = 0; i < std::max(x.size(), y.size()); ++i) {
    if (i >= x.size() || (i < y.size() && y[i].first < x[i].first))
      return "missing after the patch: " + y[i].second;
    if (i >= y.size() || x[i].first < y[i].first) return "not in the new folder: " + x[i].second;
  }
  std::unique_ptr<uint8_t[]> p1 = rtp::NewBytes(rtp::kChunkSize), p2 = rtp::NewBytes(rtp::kChunkSize);
  for (size_t i = 0; i < x.size(); ++i) {
    std::unique_ptr<rtp::Source> p, q;
    if (got.OpenRead(x[i].second, &p) != rtp::FsStatus::Ok ||
        want.OpenRead(y[i].second, &q) != rtp::FsStatus::Ok)
      return "cannot read " + y[i].second;
    if (p->Size() != q->Size()) return "differs in size: " + y[i].second;
    for (uint64_t at = 0; at < p->Size();) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(rtp::kChunkSize, p->Size() - at));
      if (!p->ReadAt(at, p1.get(), n) || !q->ReadAt(at, p2.get(), n)) return "cannot read " + y[i].second;
      if (std::memcmp(p1.get(), p2.get(), n) != 0) return "differs: " + y[i].second;
      at += n;
    }
  }
  return std::string();
}

// Keeps the engine's last error text.
// Keeps the engine's error text and moves the progress line on with each file.
class QuietListener : public rtp::Listener {
 public:
  explicit QuietListener(ProgressLine& line) : mLine(line) {}
  bool Notify(uint32_t id, void* param) override {
    if (id == rtp::kIdError && param) error = static_cast<const char*>(param);
    if (id == rtp::kIdFileCount && param) mFiles = *static_cast<uint32_t*>(param);
    if (id == rtp::kIdFileStart) mLine.Show("applying", mStarted++, mFiles);
    return true;
  }
  std::string error;

 private:
  ProgressLine& mLine;
  uint32_t mFiles = 0;
  uint32_t mStarted = 0;
};

int Verify(const std::vector<std::string>& args) {
  std::vector<std::string> positional;
  std::vector<std::string> operands;
  bool quiet = false;
  for (const std::string& arg : args) {
    if (arg == "--quiet")
      quiet = true;
    else
      operands.push_back(arg);
  }
  int exit = kExitOk;
  if (!TakeOperands(operands, kVerifyHelp, "", &positional, &exit)) return exit;
  if (positional.size() != 3) return Usage("verify takes OLD_DIR NEW_DIR PATCH", kVerifyHelp);
  ProgressLine line(quiet);
  for (int i = 0; i < 2; ++i)
    if (!FolderExists(positional[i])) return Failed("no such folder: " + positional[i]);
  std::unique_ptr<rtp::Source> patch;
  if (!OpenForReading(positional[2], &patch)) return Failed("cannot read " + positional[2]);
  std::string scratch, error;
  if (!MakeScratchFolder(&scratch)) return Failed("cannot make a scratch folder");
  const std::unique_ptr<rtp::FileSystem> old = OpenFolder(positional[0]);
  const std::unique_ptr<rtp::FileSystem> copy = OpenFolder(scratch);
  const std::unique_ptr<rtp::FileSystem> fresh = OpenFolder(positional[1]);
  std::vector<std::string> copied;
  std::string outcome;
  line.Show("copying the old folder", 0, 1);
  if (!CopyTree(*old, *copy, &copied, &error)) {
    outcome = error;
  } else {
    QuietListener listener(line);
    const auto started = std::chrono::steady_clock::now();
    const uint32_t result = rtp::ApplyPatch(*patch, *copy, listener);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    line.Show("comparing with the new folder", 0, 1);
    if (result != rtp::kOk)
      outcome = "the engine refused it: " +
                (listener.error.empty() ? std::string(rtp::ErrorName(result)) : listener.error);
    else
      outcome = CompareTrees(*copy, *fresh);
    line.Clear();
    if (outcome.empty()) std::printf("%s: verified, applied in %.2f s\n", positional[2].c_str(), seconds);
  }
  std::vector<std::string> left;
  if (copy->List(&left))
    for (const std::string& name : left) {
      copy->Remove(name);
      copy->RemoveEmptyFolders(name);
    }
  RemoveFolder(scratch);
  return outcome.empty() ? kExitOk : Failed(positional[2] + ": " + outcome);
}

}  // namespace

const char kName[] = "rtpbuild";

int Main(const std::vector<std::string>& args) {
  return RunCommand(args, kMainHelp,
                    {{"build", Build}, {"info", Info}, {"apply", Apply}, {"verify", Verify}});
}

}  // namespace tool
