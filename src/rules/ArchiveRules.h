#pragma once

#include <cstdint>
#include <string>

#include "rules/Product.h"

namespace rules {

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
