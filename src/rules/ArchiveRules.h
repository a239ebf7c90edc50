#pragma once

#include <cstdint>
#include <string>

namespace rules {

// A run needs the engine library and the patch file: the archive must hold entries whose names contain
// each of these fragments (lower case).
extern const wchar_t* const RequiredEntryNames[2];

// What the archive's entry names say, gathered one name at a time in directory order.
struct ArchiveScan {
  bool testPatch = false;     // some name contains "test"; never cleared once set
  std::wstring notesName;     // the last name containing "patchnotes"
  uint32_t requiredHits = 0;  // names containing at least one required fragment
  bool complete = false;      // requiredHits reached the number of required fragments
};

// Adds one already lower-cased entry name to the scan. The caller stops at the first empty name.
void ScanArchiveName(const std::wstring& lowerName, ArchiveScan* scan);

}  // namespace rules
