// embedfs: the operator tool that builds installers by appending an "EmbedFs 1.0" archive to a host
// executable, and lists, extracts and verifies the archive of a built installer. It reads archives with
// the same code as the installer.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "tools/common/ToolMain.h"

#include "archive/EmbedFsFormat.h"
#include "archive/EmbedFsStdio.h"
#include "archive/EmbedFsWriter.h"

#ifdef _WIN32
#include "winbase/Text.h"
#endif

namespace tool {
namespace {

constexpr size_t kChunkSize = 1 << 20;

const char kMainHelp[] =
    "usage: embedfs COMMAND [OPTIONS] ...\n"
    "\n"
    "Builds and inspects installers that carry an \"EmbedFs 1.0\" archive appended to their executable.\n"
    "\n"
    "commands:\n"
    "  pack     append an archive of files to a host executable, writing a new installer\n"
    "  list     list the entries of an installer's archive: index, name, size and data offset\n"
    "  extract  copy entries of an installer's archive to files\n"
    "  verify   check that an installer's archive keeps every rule of the format, and optionally\n"
    "           that its entries hold the bytes of given files\n"
    "\n"
    "\"embedfs COMMAND --help\" describes one command. Exit codes: 0 done, 1 refused or failed,\n"
    "2 wrong usage.\n";

const char kPackHelp[] =
    "usage: embedfs pack [--pad-to LENGTH] HOST OUTPUT [NAME=]FILE...\n"
    "\n"
    "Writes OUTPUT: the bytes of HOST, zero bytes up to LENGTH if --pad-to is given, then an archive of\n"
    "the FILEs in the order given. Each entry is named NAME, or the FILE's last path component when no\n"
    "NAME= is given (the text before the first '=' is the name, so a path holding '=' needs NAME=).\n"
    "No FILE at all makes an archive of 0 entries. OUTPUT may be HOST itself.\n"
    "\n"
    "options:\n"
    "  --pad-to LENGTH   pad the host with zero bytes to LENGTH bytes (decimal, or hex with 0x), as in\n"
    "                    the shipped installer (0x110000); the archive then starts at LENGTH\n"
    "  --help            show this text\n"
    "\n"
    "Refused, with nothing written: names that are empty, longer than 259 bytes, hold '/' or '\\', a\n"
    "control byte or one of <>:\"|?*, are a Windows device name (CON, PRN, AUX, NUL, COM1 to COM9,\n"
    "LPT1 to LPT9, with any extension), or equal another name ignoring case as the installer compares\n"
    "them (embedfs.exe compares exactly as the installer; on Linux, Unicode case mappings of UTF-8);\n"
    "a host (with padding) of 2 GiB or more; a result of 4 GiB or more, or shorter than 8192 bytes (use\n"
    "--pad-to); the bytes \"EmbedFs 1.0\\0\" anywhere in the result's last 8192 bytes before the trailer.\n"
    "Names are stored as bytes in the installer's ANSI code page: keep them ASCII.\n"
    "Sign the OUTPUT afterwards, not the HOST: a signature ends the file.\n";

const char kListHelp[] =
    "usage: embedfs list ARCHIVE\n"
    "\n"
    "Prints where the archive's parts lie (and the certificate table of a signed installer), then one\n"
    "line per entry: index, name, size in bytes and the absolute file offset of its data.\n"
    "\n"
    "options:\n"
    "  --help   show this text\n";

const char kExtractHelp[] =
    "usage: embedfs extract [-C DIR] [--force] ARCHIVE [NAME...]\n"
    "\n"
    "Copies the named entries (all entries when no NAME is given) into files of the same names in DIR\n"
    "(default: the current folder). NAME is looked up ignoring case as the installer does; the first\n"
    "match wins.\n"
    "\n"
    "options:\n"
    "  -C DIR    write the files into DIR (it must exist)\n"
    "  --force   overwrite files that exist\n"
    "  --help    show this text\n";

const char kVerifyHelp[] =
    "usage: embedfs verify ARCHIVE [NAME=FILE...]\n"
    "\n"
    "Reads the archive as the installer does and checks the rules every packed archive keeps: the\n"
    "trailer ends the file (in a signed installer, only the padding to the certificate table follows\n"
    "it), the data ends at the trailer, names are valid file names and unique ignoring case. Each\n"
    "NAME=FILE also checks that entry NAME holds exactly the bytes of FILE. Says whether the installer\n"
    "is signed (carries a certificate table after its archive).\n"
    "Prints \"OK\" and exits 0 when all holds; otherwise prints each problem and exits 1.\n"
    "\n"
    "options:\n"
    "  --help   show this text\n";

// Text conversions at the edge. Arguments and paths are UTF-8 inside the tool; entry names are bytes in
// the installer's ANSI code page (on Linux, the bytes given).
#ifdef _WIN32
bool StoredName(const std::string& utf8, std::string* name) {
  return Narrow(Widen(utf8, CP_UTF8), CP_ACP, name);
}

std::string NameAsPath(const std::string& stored) {
  std::string path;
  Narrow(Widen(stored, CP_ACP), CP_UTF8, &path);
  return path;
}
const char kSeparators[] = "/\\";
#else
bool StoredName(const std::string& utf8, std::string* name) {
  *name = utf8;
  return true;
}
std::string NameAsPath(const std::string& stored) {
  return stored;
}
const char kSeparators[] = "/";
#endif

std::string LastComponent(const std::string& path) {
  const size_t slash = path.find_last_of(kSeparators);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  const char last = folder.back();
  if (std::strchr(kSeparators, last) != nullptr) return folder + name;
  return folder + "/" + name;
}

std::string Hex(uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

// Opens and reads an archive's directory, or prints why not.
bool OpenArchive(const std::string& path, embedfs::StdioFileSource* source, embedfs::Directory* directory) {
  if (!source->Open(path)) {
    Failed("cannot open \"" + path + "\"");
    return false;
  }
  const embedfs::ReadResult result = directory->Read(*source);
  if (result != embedfs::ReadResult::kOk) {
    Failed("\"" + path + "\" holds no readable archive: " + embedfs::DescribeReadResult(result));
    return false;
  }
  return true;
}

// The first entry whose name the installer takes for name.
bool FindByName(const embedfs::Directory& directory, const std::string& name, uint32_t* offset,
                uint32_t* size, uint32_t* index) {
  return embedfs::FindEntry(
      directory.Entries(), directory.Count(), directory.GetLayout().dataStart,
      [&name](const embedfs::Entry& entry) { return embedfs::NamesEqualIgnoringCase(entry.name, name); },
      offset, size, index);
}

// One line on the certificate table after the archive, and the table (size 0 when there is none).
embedfs::CertificateTable ShowSignature(embedfs::StdioFileSource& source,
                                        const embedfs::Directory& directory) {
  embedfs::CertificateTable table = {};
  if (!embedfs::FindSignature(source, directory.GetLayout(), &table)) {
    std::printf("not signed: no certificate table follows the archive\n");
    return embedfs::CertificateTable{};
  }
  std::printf("signed: a certificate table of %u bytes at %s follows the archive\n", table.size,
              Hex(table.offset).c_str());
  return table;
}

int Pack(const std::vector<std::string>& args) {
  embedfs::PackOptions options;
  std::vector<std::string> operands;
  bool optionsDone = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsDone && IsHelp(arg)) {
      std::fputs(kPackHelp, stdout);
      return kExitOk;
    }
    if (!optionsDone && (arg == "--pad-to" || arg.rfind("--pad-to=", 0) == 0)) {
      std::string value;
      if (arg == "--pad-to") {
        if (i + 1 >= args.size()) return Usage("--pad-to needs a length", kPackHelp);
        value = args[++i];
      } else {
        value = arg.substr(std::strlen("--pad-to="));
      }
      if (!tool::ParseNumber(value, &options.padHostTo) || options.padHostTo == 0) {
        return Usage(("--pad-to: \"" + value + "\" is not a length in bytes").c_str(), kPackHelp);
      }
    } else if (!optionsDone && arg == "--") {
      optionsDone = true;
    } else if (!optionsDone && arg.size() > 1 && arg[0] == '-') {
      return Usage(("pack: unknown option " + arg).c_str(), kPackHelp);
    } else {
      operands.push_back(arg);
    }
  }
  if (operands.size() < 2) return Usage("pack needs a HOST and an OUTPUT", kPackHelp);

  std::vector<embedfs::PackInput> entries;
  for (size_t i = 2; i < operands.size(); ++i) {
    const std::string& operand = operands[i];
    const size_t equals = operand.find('=');
    const std::string path = equals == std::string::npos ? operand : operand.substr(equals + 1);
    const std::string given =
        equals == std::string::npos ? LastComponent(operand) : operand.substr(0, equals);
    if (path.empty()) return Usage(("\"" + operand + "\" names no file").c_str(), kPackHelp);
    embedfs::PackInput input;
    if (!StoredName(given, &input.name)) {
      return Failed("entry name \"" + given + "\" cannot be written in this system's ANSI code page");
    }
    input.path = path;
    entries.push_back(input);
  }

  std::string error;
  if (!embedfs::Pack(operands[0], entries, options, operands[1], &error)) return Failed(error);
  std::printf("packed %zu entries into \"%s\"\n", entries.size(), operands[1].c_str());
  return kExitOk;
}

int List(const std::vector<std::string>& args) {
  std::vector<std::string> operands;
  int exit = kExitOk;
  if (!TakeOperands(args, kListHelp, "list: ", &operands, &exit)) return exit;
  if (operands.size() != 1) return Usage("list needs exactly one ARCHIVE", kListHelp);

  embedfs::StdioFileSource source;
  embedfs::Directory directory;
  if (!OpenArchive(operands[0], &source, &directory)) return kExitFailed;
  const embedfs::Layout& layout = directory.GetLayout();
  std::printf("%u entries; directory at %s, data at %s, trailer at %s, file length %llu\n", directory.Count(),
              Hex(layout.orgsize).c_str(), Hex(layout.dataStart).c_str(), Hex(layout.trailerOffset).c_str(),
              static_cast<unsigned long long>(layout.fileSize));
  int width = 4;
  for (uint32_t i = 0; i < directory.Count(); ++i) {
    const int length = static_cast<int>(std::strlen(directory[i].name));
    if (length > width) width = length;
  }
  ShowSignature(source, directory);
  std::printf("%5s  %-*s  %10s  %s\n", "index", width, "name", "size", "offset");
  uint64_t offset = layout.dataStart;
  for (uint32_t i = 0; i < directory.Count(); ++i) {
    std::printf("%5u  %-*s  %10u  0x%08llX\n", i, width, directory[i].name, directory[i].size,
                static_cast<unsigned long long>(offset));
    offset += directory[i].size;
  }
  return kExitOk;
}

bool CopyOut(embedfs::StdioFileSource& source, uint32_t offset, uint32_t size, const std::string& target,
             std::string* error) {
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kChunkSize]);
  embedfs::StdioFile out;
  if (!buffer || !out.Open(target, "wb")) {
    *error = "cannot create \"" + target + "\"";
    return false;
  }
  uint32_t done = 0;
  while (done < size) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(size - done, kChunkSize));
    if (!source.ReadAt(uint64_t{offset} + done, buffer.get(), n)) {
      *error = "cannot read the archive";
      return false;
    }
    if (!out.WriteAll(buffer.get(), n)) {
      *error = "cannot write \"" + target + "\" (disk full?)";
      return false;
    }
    done += n;
  }
  if (!out.Close()) {
    *error = "cannot write \"" + target + "\" (disk full?)";
    return false;
  }
  return true;
}

int Extract(const std::vector<std::string>& args) {
  std::string folder;
  bool force = false;
  bool optionsDone = false;
  std::vector<std::string> operands;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsDone && IsHelp(arg)) {
      std::fputs(kExtractHelp, stdout);
      return kExitOk;
    }
    if (!optionsDone && arg == "-C") {
      if (i + 1 >= args.size()) return Usage("-C needs a folder", kExtractHelp);
      folder = args[++i];
    } else if (!optionsDone && arg == "--force") {
      force = true;
    } else if (!optionsDone && arg == "--") {
      optionsDone = true;
    } else if (!optionsDone && arg.size() > 1 && arg[0] == '-') {
      return Usage(("extract: unknown option " + arg).c_str(), kExtractHelp);
    } else {
      operands.push_back(arg);
    }
  }
  if (operands.empty()) return Usage("extract needs an ARCHIVE", kExtractHelp);

  embedfs::StdioFileSource source;
  embedfs::Directory directory;
  if (!OpenArchive(operands[0], &source, &directory)) return kExitFailed;

  std::vector<uint32_t> chosen;
  if (operands.size() == 1) {
    for (uint32_t i = 0; i < directory.Count(); ++i) chosen.push_back(i);
  }
  for (size_t k = 1; k < operands.size(); ++k) {
    std::string name;
    uint32_t offset = 0, size = 0, index = 0;
    if (!StoredName(operands[k], &name) || !FindByName(directory, name, &offset, &size, &index)) {
      return Failed("the archive has no entry named \"" + operands[k] + "\"");
    }
    chosen.push_back(index);
  }

  int status = kExitOk;
  for (uint32_t index : chosen) {
    const embedfs::Entry& entry = directory[index];
    std::string why;
    // Names come from a file that may not have been made by this tool: never write outside the folder.
    if (!embedfs::CheckEntryName(entry.name, &why)) {
      Failed("entry " + std::to_string(index) + " is not extracted: " + why);
      status = kExitFailed;
      continue;
    }
    // The offset by index: an earlier case-equal name must not hide this entry.
    uint64_t o = directory.GetLayout().dataStart;
    for (uint32_t i = 0; i < index; ++i) o += directory[i].size;
    const std::string target = JoinPath(folder, NameAsPath(entry.name));
    if (!force && embedfs::FileExists(target)) {
      Failed("\"" + target + "\" exists; use --force to overwrite it");
      status = kExitFailed;
      continue;
    }
    std::string error;
    if (!CopyOut(source, static_cast<uint32_t>(o), entry.size, target, &error)) {
      embedfs::RemoveFile(target);
      Failed(error);
      status = kExitFailed;
      continue;
    }
    std::printf("extracted %s (%u bytes) to \"%s\"\n", embedfs::QuoteName(entry.name).c_str(), entry.size,
                target.c_str());
  }
  return status;
}

// Compares size bytes of the archive at offset with the file at path.
bool SameBytes(embedfs::StdioFileSource& source, uint32_t offset, uint32_t size, const std::string& path,
               std::string* problem) {
  embedfs::StdioFile file;
  uint64_t length = 0;
  if (!file.Open(path, "rb") || !file.Length(&length)) {
    *problem = "cannot open \"" + path + "\"";
    return false;
  }
  if (length != size) {
    *problem = "holds " + std::to_string(size) + " bytes, \"" + path + "\" " + std::to_string(length);
    return false;
  }
  std::unique_ptr<uint8_t[]> a(new (std::nothrow) uint8_t[kChunkSize]);
  std::unique_ptr<uint8_t[]> b(new (std::nothrow) uint8_t[kChunkSize]);
  if (!a || !b) {
    *problem = "not enough memory to compare";
    return false;
  }
  uint32_t done = 0;
  while (done < size) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(size - done, kChunkSize));
    if (!source.ReadAt(uint64_t{offset} + done, a.get(), n) || !file.ReadExactly(b.get(), n)) {
      *problem = "cannot be read to the end";
      return false;
    }
    if (std::memcmp(a.get(), b.get(), n) != 0) {
      size_t at = 0;
      while (a[at] == b[at]) ++at;
      *problem = "differs from \"" + path + "\" at byte " + std::to_string(done + at);
      return false;
    }
    done += n;
  }
  return true;
}

int Verify(const std::vector<std::string>& args) {
  std::vector<std::string> operands;
  int exit = kExitOk;
  if (!TakeOperands(args, kVerifyHelp, "verify: ", &operands, &exit)) return exit;
  if (operands.empty()) return Usage("verify needs an ARCHIVE", kVerifyHelp);
  for (size_t k = 1; k < operands.size(); ++k) {
    const size_t equals = operands[k].find('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == operands[k].size()) {
      return Usage(("\"" + operands[k] + "\" is not NAME=FILE").c_str(), kVerifyHelp);
    }
  }

  embedfs::StdioFileSource source;
  embedfs::Directory directory;
  if (!OpenArchive(operands[0], &source, &directory)) return kExitFailed;
  const embedfs::CertificateTable signature = ShowSignature(source, directory);
  std::vector<std::string> problems;
  embedfs::CheckConformance(directory, &problems, signature);
  for (size_t k = 1; k < operands.size(); ++k) {
    const size_t equals = operands[k].find('=');
    const std::string given = operands[k].substr(0, equals);
    const std::string path = operands[k].substr(equals + 1);
    std::string name;
    uint32_t offset = 0, size = 0;
    if (!StoredName(given, &name) || !FindByName(directory, name, &offset, &size, nullptr)) {
      problems.push_back("the archive has no entry named \"" + given + "\"");
      continue;
    }
    std::string problem;
    if (!SameBytes(source, offset, size, path, &problem)) {
      problems.push_back("entry \"" + given + "\" " + problem);
    }
  }
  if (!problems.empty()) {
    for (const std::string& problem : problems) std::fprintf(stderr, "embedfs: %s\n", problem.c_str());
    std::printf("FAILED: %zu problem(s) in \"%s\"\n", problems.size(), operands[0].c_str());
    return kExitFailed;
  }
  std::printf("OK: \"%s\" holds %u entries, all rules kept\n", operands[0].c_str(), directory.Count());
  return kExitOk;
}

}  // namespace

const char kName[] = "embedfs";

int Main(const std::vector<std::string>& args) {
  return RunCommand(args, kMainHelp,
                    {{"pack", Pack}, {"list", List}, {"extract", Extract}, {"verify", Verify}});
}

}  // namespace tool
