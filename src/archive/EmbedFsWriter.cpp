#include "archive/EmbedFsWriter.h"

#include "rules/FileNames.h"
#include "rules/Hex.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <new>

#include "archive/EmbedFsStdio.h"

#ifdef _WIN32
#include "winbase/Text.h"
#else
#include <locale.h>
#include <wctype.h>
#endif

namespace embedfs {

namespace {

// Entries may be gigabytes long: they are streamed through this buffer.
constexpr size_t kCopyBufferSize = 1 << 20;
// A certificate table starts on an 8-byte boundary: signing pads the file with up to 7 bytes before it.
constexpr uint64_t kCertificateAlignment = 8;

std::string Number(uint64_t value) {
  return std::to_string(value);
}

// One piece of the output file, in order: a range of a source file, zero padding, or bytes in memory.
struct Segment {
  enum class Kind { kFile, kZeros, kBytes };
  Kind kind;
  uint64_t length;
  std::string path;   // kFile
  std::string bytes;  // kBytes
  std::string what;   // for messages: "the host", "entry \"x\"", ...
};

uint64_t TotalLength(const std::vector<Segment>& segments) {
  uint64_t total = 0;
  for (const Segment& s : segments) total += s.length;
  return total;
}

// Copies bytes [start, start + length) of the concatenated segments into out.
bool ReadSegments(const std::vector<Segment>& segments, uint64_t start, uint8_t* out, size_t length,
                  std::string* error) {
  uint64_t segmentStart = 0;
  for (const Segment& s : segments) {
    const uint64_t segmentEnd = segmentStart + s.length;
    if (length > 0 && start < segmentEnd && start + length > segmentStart) {
      const uint64_t from = std::max(start, segmentStart);
      const uint64_t to = std::min<uint64_t>(start + length, segmentEnd);
      uint8_t* target = out + (from - start);
      const size_t n = static_cast<size_t>(to - from);
      switch (s.kind) {
        case Segment::Kind::kZeros:
          std::memset(target, 0, n);
          break;
        case Segment::Kind::kBytes:
          std::memcpy(target, s.bytes.data() + (from - segmentStart), n);
          break;
        case Segment::Kind::kFile: {
          StdioFile file;
          if (!file.Open(s.path, "rb") || !file.Seek(from - segmentStart) || !file.ReadExactly(target, n)) {
            *error = "cannot read " + s.what + " from \"" + s.path + "\"";
            return false;
          }
          break;
        }
      }
    }
    segmentStart = segmentEnd;
  }
  return true;
}

// The segment holding byte offset, for messages.
const Segment* SegmentAt(const std::vector<Segment>& segments, uint64_t offset) {
  uint64_t segmentStart = 0;
  for (const Segment& s : segments) {
    if (offset < segmentStart + s.length) return &s;
    segmentStart += s.length;
  }
  return nullptr;
}

bool CopyFileInto(const Segment& s, StdioFile& out, uint8_t* buffer, std::string* error) {
  StdioFile in;
  uint64_t length = 0;
  if (!in.Open(s.path, "rb") || !in.Length(&length)) {
    *error = "cannot open " + s.what + " \"" + s.path + "\"";
    return false;
  }
  if (length != s.length) {
    *error = s.what + " \"" + s.path + "\" changed its length while it was packed";
    return false;
  }
  uint64_t remaining = length;
  while (remaining > 0) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(remaining, kCopyBufferSize));
    if (!in.ReadExactly(buffer, n)) {
      *error = "cannot read " + s.what + " \"" + s.path + "\"";
      return false;
    }
    if (!out.WriteAll(buffer, n)) {
      *error = "cannot write the output (disk full?)";
      return false;
    }
    remaining -= n;
  }
  return true;
}

bool WriteSegments(const std::vector<Segment>& segments, const std::string& path, std::string* error) {
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kCopyBufferSize]);
  if (!buffer) {
    *error = "not enough memory for the copy buffer";
    return false;
  }
  StdioFile out;
  if (!out.Open(path, "wb")) {
    *error = "cannot create \"" + path + "\"";
    return false;
  }
  for (const Segment& s : segments) {
    switch (s.kind) {
      case Segment::Kind::kFile:
        if (!CopyFileInto(s, out, buffer.get(), error)) return false;
        break;
      case Segment::Kind::kZeros: {
        std::memset(buffer.get(), 0, kCopyBufferSize);
        uint64_t remaining = s.length;
        while (remaining > 0) {
          const size_t n = static_cast<size_t>(std::min<uint64_t>(remaining, kCopyBufferSize));
          if (!out.WriteAll(buffer.get(), n)) {
            *error = "cannot write the output (disk full?)";
            return false;
          }
          remaining -= n;
        }
        break;
      }
      case Segment::Kind::kBytes:
        if (!out.WriteAll(s.bytes.data(), s.bytes.size())) {
          *error = "cannot write the output (disk full?)";
          return false;
        }
        break;
    }
  }
  if (!out.Close()) {
    *error = "cannot write the output (disk full?)";
    return false;
  }
  return true;
}

void AppendU32(std::string* out, uint32_t value) {
  uint8_t bytes[4];
  StoreU32(bytes, value);
  out->append(reinterpret_cast<const char*>(bytes), 4);
}

// Reads the written file back as the installer will and checks it holds what was meant.
bool ReadBack(const std::string& path, const std::vector<PackInput>& entries,
              const std::vector<uint64_t>& sizes, uint32_t orgsize, uint64_t total, std::string* error) {
  StdioFileSource source;
  if (!source.Open(path)) {
    *error = "cannot reopen \"" + path + "\" to check it";
    return false;
  }
  Directory directory;
  const ReadResult result = directory.Read(source);
  if (result != ReadResult::kOk) {
    *error = std::string("the written archive does not read back: ") + DescribeReadResult(result);
    return false;
  }
  const Layout& layout = directory.GetLayout();
  bool same = directory.Count() == entries.size() && layout.orgsize == orgsize && layout.fileSize == total &&
              layout.dataEnd == layout.trailerOffset && layout.trailerOffset + kTrailerSize == total;
  for (uint32_t i = 0; same && i < directory.Count(); ++i) {
    same = directory[i].size == sizes[i] && directory[i].nameLen == entries[i].name.size() &&
           entries[i].name == directory[i].name;
  }
  if (!same) {
    *error = "the written archive reads back differently (did an input change while it was packed?)";
    return false;
  }
  return true;
}

bool Fail(std::string* error, const std::string& message) {
  if (error != nullptr) *error = message;
  return false;
}

}  // namespace

std::string QuoteName(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F && c != '"' && c != '\\') {
      out.push_back(c);
    } else if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else {
      out += "\\x";
      rules::AppendHexByte(&out, u);
    }
  }
  out.push_back('"');
  return out;
}

bool CheckEntryName(const std::string& name, std::string* why) {
  if (name.empty()) return Fail(why, "an entry name is empty");
  if (name.size() > kMaxNameLength) {
    return Fail(why, "entry name " + QuoteName(name) + " is " + Number(name.size()) +
                         " bytes long; at most " + Number(kMaxNameLength) + " fit");
  }
  if (name == "." || name == "..") return Fail(why, "entry name " + QuoteName(name) + " is not a file name");
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\') {
      return Fail(why, "entry name " + QuoteName(name) +
                           " holds a folder separator; entries are extracted under their names, so a name "
                           "holds no folders");
    }
    if (u < 0x20) {
      return Fail(why, "entry name " + QuoteName(name) + " holds a zero byte or a control character");
    }
    if (std::strchr("<>:\"|?*", c) != nullptr) {
      return Fail(why, "entry name " + QuoteName(name) + " holds '" + std::string(1, c) +
                           "', which Windows does not allow in file names");
    }
  }
  if (rules::IsDeviceName(name)) {
    return Fail(why,
                "entry name " + QuoteName(name) +
                    " is a Windows device name (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, with any "
                    "extension), which cannot be a file");
  }
  return true;
}

#ifdef _WIN32

bool NamesEqualIgnoringCase(const std::string& a, const std::string& b) {
  // Exactly the installer's lookup: widened with the ANSI code page, compared by the user's locale.
  const std::wstring wideA = Widen(a, CP_ACP);
  const std::wstring wideB = Widen(b, CP_ACP);
  return ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, wideA.c_str(), -1, wideB.c_str(), -1) ==
         CSTR_EQUAL;
}

#else

namespace {

// The C library's UTF-8 locale, for its case mappings; null where the library has none.
class CaseLocale {
 public:
  CaseLocale() : mLocale(newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{})) {}
  ~CaseLocale() {
    if (mLocale != locale_t{}) freelocale(mLocale);
  }
  CaseLocale(const CaseLocale&) = delete;
  CaseLocale& operator=(const CaseLocale&) = delete;
  locale_t Get() const { return mLocale; }

 private:
  locale_t mLocale;
};

// A byte that is not part of a UTF-8 sequence becomes a character of its own that no letter folds to.
constexpr char32_t kStrayByteBase = 0xDC00;

// The length of the UTF-8 sequence at name[i] and its character, or 0 when it is not one.
size_t DecodeUtf8(const std::string& name, size_t i, char32_t* c) {
  const auto byte = [&name](size_t k) { return static_cast<unsigned char>(name[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) {
    *c = lead;
    return 1;
  }
  // The lead byte gives the length; a value below the least of its length is an overlong form.
  size_t length = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
  } else {
    return 0;
  }
  static const char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  char32_t value = lead & (0x7F >> length);
  const char32_t least = kLeast[length];
  if (name.size() - i < length) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(i + k) & 0x3F);
  }
  if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *c = value;
  return length;
}

// The name with every character mapped to upper and back to lower case by the C library's UTF-8 locale
// (Unicode's one-to-one case mappings: Latin, Greek, Cyrillic, Armenian, fullwidth forms and the rest;
// not the mappings that change a string's length, such as "SS" for the German sharp s).
std::u32string FoldCase(const std::string& name) {
  static const CaseLocale locale;
  std::u32string folded;
  for (size_t i = 0; i < name.size();) {
    char32_t c = 0;
    const size_t length = DecodeUtf8(name, i, &c);
    if (length == 0) {
      folded.push_back(kStrayByteBase + static_cast<unsigned char>(name[i]));
      ++i;
      continue;
    }
    // Without that locale, the program's own "C" locale maps ASCII only.
    const wint_t wide = static_cast<wint_t>(c);
    folded.push_back(static_cast<char32_t>(locale.Get() != locale_t{}
                                               ? towlower_l(towupper_l(wide, locale.Get()), locale.Get())
                                               : towlower(towupper(wide))));
    i += length;
  }
  return folded;
}

}  // namespace

bool NamesEqualIgnoringCase(const std::string& a, const std::string& b) {
  return FoldCase(a) == FoldCase(b);
}

#endif

namespace {

// The first pair of names equal ignoring case, as indexes in the order given (the earliest second name,
// then the earliest first). Pairwise, because the installer's comparison yields no key to sort by; an
// installer holds a handful of entries.
bool FindCaseEqualNames(const std::vector<std::string>& names, size_t* first, size_t* second) {
  for (size_t j = 1; j < names.size(); ++j) {
    for (size_t i = 0; i < j; ++i) {
      if (NamesEqualIgnoringCase(names[i], names[j])) {
        *first = i;
        *second = j;
        return true;
      }
    }
  }
  return false;
}

}  // namespace

bool CheckConformance(const Directory& directory, std::vector<std::string>* problems,
                      const CertificateTable& signature) {
  const size_t before = problems->size();
  const Layout& layout = directory.GetLayout();
  const uint64_t trailerEnd = layout.trailerOffset + uint64_t{kTrailerSize};
  if (signature.size != 0) {
    if (signature.offset - trailerEnd >= kCertificateAlignment) {
      problems->push_back(Number(signature.offset - trailerEnd) +
                          " bytes lie between the trailer and the certificate table; signing pads with at "
                          "most 7");
    }
  } else if (trailerEnd != layout.fileSize) {
    problems->push_back(Number(layout.fileSize - trailerEnd) +
                        " bytes follow the trailer; the trailer must end the file");
  }
  if (layout.dataEnd != layout.trailerOffset) {
    problems->push_back(Number(layout.trailerOffset - layout.dataEnd) +
                        " bytes lie between the last entry's data and the trailer");
  }
  std::vector<std::string> names;
  for (uint32_t i = 0; i < directory.Count(); ++i) {
    const Entry& entry = directory[i];
    const std::string name(entry.name);
    if (name.size() != entry.nameLen) {
      problems->push_back("entry " + Number(i) + " " + QuoteName(name) + " has a zero byte inside its " +
                          Number(entry.nameLen) + "-byte name");
    }
    std::string why;
    if (!CheckEntryName(name, &why)) problems->push_back("entry " + Number(i) + ": " + why);
    names.push_back(name);
  }
  size_t first = 0;
  size_t second = 0;
  if (FindCaseEqualNames(names, &first, &second)) {
    problems->push_back("entries " + Number(first) + " and " + Number(second) + " (" +
                        QuoteName(names[first]) + ", " + QuoteName(names[second]) +
                        ") have names equal ignoring case; lookups find only the first");
  }
  return problems->size() == before;
}

bool Pack(const std::string& hostPath, const std::vector<PackInput>& entries, const PackOptions& options,
          const std::string& outPath, std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;

  std::vector<std::string> names;
  for (const PackInput& input : entries) {
    std::string why;
    if (!CheckEntryName(input.name, &why)) return Fail(error, why);
    names.push_back(input.name);
  }
  size_t first = 0;
  size_t second = 0;
  if (FindCaseEqualNames(names, &first, &second)) {
    return Fail(error, "entry names " + QuoteName(names[first]) + " and " + QuoteName(names[second]) +
                           " are equal ignoring case; the installer looks names up without case and would "
                           "only ever find the first");
  }

  uint64_t hostLength = 0;
  {
    StdioFile host;
    if (!host.Open(hostPath, "rb") || !host.Length(&hostLength)) {
      return Fail(error, "cannot open the host \"" + hostPath + "\"");
    }
  }
  uint64_t orgsize = hostLength;
  if (options.padHostTo != 0) {
    if (options.padHostTo < hostLength) {
      return Fail(error, "the host \"" + hostPath + "\" is " + Number(hostLength) +
                             " bytes long, longer than the padding length " + Number(options.padHostTo));
    }
    orgsize = options.padHostTo;
  }
  if (orgsize > kMaxOrgsize) {
    return Fail(error, "the host region is " + Number(orgsize) +
                           " bytes long; the directory offset must stay below 2 GiB (2147483648)");
  }

  std::vector<Segment> segments;
  segments.push_back({Segment::Kind::kFile, hostLength, hostPath, "", "the host"});
  if (orgsize > hostLength)
    segments.push_back({Segment::Kind::kZeros, orgsize - hostLength, "", "", "padding"});

  std::string directory;
  AppendU32(&directory, static_cast<uint32_t>(entries.size()));
  std::vector<uint64_t> sizes;
  uint64_t dataSize = 0;
  for (const PackInput& input : entries) {
    StdioFile file;
    uint64_t length = 0;
    if (!file.Open(input.path, "rb") || !file.Length(&length)) {
      return Fail(error, "cannot open the file \"" + input.path + "\" for entry " + QuoteName(input.name));
    }
    if (length > kMaxFileSize) {
      return Fail(error, "entry " + QuoteName(input.name) + " (\"" + input.path + "\") is " + Number(length) +
                             " bytes long; an archive must stay below 4 GiB");
    }
    sizes.push_back(length);
    dataSize += length;
    AppendU32(&directory, static_cast<uint32_t>(length));
    AppendU32(&directory, static_cast<uint32_t>(input.name.size()));
    directory += input.name;
    directory.push_back('\0');
  }
  const uint64_t total = orgsize + directory.size() + dataSize + kTrailerSize;
  if (total > kMaxFileSize) {
    return Fail(error, "the installer would be " + Number(total) +
                           " bytes long; an archive and its host must stay below 4 GiB (4294967296)");
  }
  if (total < kTailWindowSize) {
    return Fail(error, "the installer would be only " + Number(total) +
                           " bytes long; the reader needs at least 8192: pad the host to at least " +
                           Number(orgsize + (kTailWindowSize - total)) + " bytes");
  }

  segments.push_back({Segment::Kind::kBytes, directory.size(), "", directory, "the directory"});
  for (size_t i = 0; i < entries.size(); ++i) {
    segments.push_back(
        {Segment::Kind::kFile, sizes[i], entries[i].path, "", "entry " + QuoteName(entries[i].name)});
  }
  std::string trailer;
  AppendU32(&trailer, static_cast<uint32_t>(orgsize));
  trailer.append(kMagic, kMagicSize);
  segments.push_back({Segment::Kind::kBytes, trailer.size(), "", trailer, "the trailer"});

  // The reader takes the first magic in the last 8192 bytes, so the trailer's must be the only one there,
  // including any that would straddle into the trailer's own bytes.
  uint8_t window[kTailWindowSize];
  const uint64_t windowStart = total - kTailWindowSize;
  if (!ReadSegments(segments, windowStart, window, kTailWindowSize, error)) return false;
  const int64_t magicAt = FindMagic(window, kTailWindowSize);
  if (magicAt != static_cast<int64_t>(kLastMagicPosition)) {
    const uint64_t offset = windowStart + static_cast<uint64_t>(magicAt);
    const Segment* where = SegmentAt(segments, offset);
    std::string advice;
    if (where == &segments.front()) {
      // Padding pushes the host's bytes out of the window.
      const uint64_t archiveLength = total - orgsize;
      advice = "pad the host to at least " + Number(offset + kMagicSize + kTailWindowSize - archiveLength) +
               " bytes";
    } else if (where != nullptr && where->kind == Segment::Kind::kFile) {
      advice = "put an entry of at least 8192 bytes after it";
    } else {
      advice = "rename the entry whose name holds them";
    }
    return Fail(error, "the bytes \"EmbedFs 1.0\\0\" would occur at offset " + Number(offset) + " (in " +
                           (where != nullptr ? where->what : std::string("the output")) +
                           "), within the last 8192 bytes before the trailer, where the installer would take "
                           "them for the trailer: " +
                           advice);
  }
  if (TotalLength(segments) != total) return Fail(error, "internal error: the layout does not add up");

  const std::string partial = outPath + ".partial";
  if (!WriteSegments(segments, partial, error) ||
      !ReadBack(partial, entries, sizes, static_cast<uint32_t>(orgsize), total, error)) {
    RemoveFile(partial);
    return false;
  }
  if (!MoveOver(partial, outPath)) {
    RemoveFile(partial);
    return Fail(error, "cannot move the finished installer to \"" + outPath + "\"");
  }
  return true;
}

}  // namespace embedfs
