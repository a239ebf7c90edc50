// libFuzzer harness for the patching text rules: one input feeds the patch-name, command-line and
// build-value parsers. Whatever it holds, each returns without touching memory outside its input, and
// the results keep the rules' own promises.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "rules/ArchiveRules.h"
#include "rules/CommandLine.h"
#include "rules/PatchName.h"
#include "rules/PathRules.h"

using namespace rules;
namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Bytes as they come from a configuration file.
  ParseBuildValue(reinterpret_cast<const char*>(data), size < kBuildFileBytes ? size : kBuildFileBytes);

  // The same bytes as text: each byte one character, as an ANSI name or command line widens to.
  std::wstring text(data, data + size);

  Version from, to;
  bool parsed = ParsePatchName(text, &from, &to);
  Require(!parsed || (from.build != 0 && to.build != 0));
  Require(parsed || text.size() >= 16 || (from.build == 0 && to.build == 0));

  ArchiveScan scan;
  ScanArchiveName(text, &scan);
  Require(scan.requiredHits <= 1);

  std::wstring value = GetCommandLineValue(text, L"path");
  Require(value.size() <= text.size());
  Require(value.empty() || text.find(value) != std::wstring::npos);

  std::wstring joined = JoinPath(text, L"zav.exe");
  Require(joined.size() <= text.size() + 8);
  return 0;
}
