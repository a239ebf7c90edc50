// Building an installer: the host executable, then the archive directory, the entries' bytes and the
// trailer. Used by the operator tool `embedfs pack` and by tests that pack installers in-process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/EmbedFsFormat.h"

namespace embedfs {

struct PackInput {
  std::string name;  // the entry name: 8-bit text in the installer's ANSI code page, stored as given
  std::string path;  // the file holding the entry's bytes (UTF-8 path)
};

struct PackOptions {
  uint64_t padHostTo = 0;  // 0: no padding; otherwise the host is followed by zero bytes up to this length
};

// Writes host + archive to outPath, entries in the order given. Refuses, with false and a message in
// *error, every input that the reader would misread or that breaks the format's rules: names that are
// empty, longer than 259 bytes, hold a folder separator, a control byte or a character Windows forbids in
// file names, name a Windows device, or equal another name ignoring case (NamesEqualIgnoringCase); a
// directory offset of 2 GiB or more; a result of
// 4 GiB or more or shorter than 8192 bytes; the magic anywhere in the last 8192 bytes before the trailer.
// The result is written beside outPath and moved over it only when complete and read back correctly, so a
// refused or failed pack leaves no output file (and an existing outPath untouched). outPath may be the
// host itself.
bool Pack(const std::string& hostPath, const std::vector<PackInput>& entries, const PackOptions& options,
          const std::string& outPath, std::string* error);

// Whether name may be stored as an entry name; otherwise false with the reason in *why.
bool CheckEntryName(const std::string& name, std::string* why);

// Whether the installer would take two stored names for the same entry. On Windows exactly its own
// comparison: both widened with the ANSI code page, then CompareStringW(LOCALE_USER_DEFAULT,
// NORM_IGNORECASE). Elsewhere names are the bytes given, taken as UTF-8: equal when their characters are
// after Unicode's one-to-one case mappings (from the C library's C.UTF-8 locale, which covers every script
// with case; where that locale is missing, ASCII only); bytes that are not UTF-8 must match exactly.
bool NamesEqualIgnoringCase(const std::string& a, const std::string& b);

// The rules a packed archive keeps beyond what the reader needs: the trailer ends the file (or, when the
// file is signed, only the padding to the certificate table follows it), the data region ends at the
// trailer, every name passes CheckEntryName and no two are equal ignoring case. Adds one sentence per
// broken rule to *problems; true when there is none.
bool CheckConformance(const Directory& directory, std::vector<std::string>* problems,
                      const CertificateTable& signature = CertificateTable{});

// A name for messages: printable ASCII as is, other bytes as \xNN, in double quotes.
std::string QuoteName(const std::string& name);

}  // namespace embedfs
