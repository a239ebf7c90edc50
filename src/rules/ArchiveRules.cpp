#include "rules/ArchiveRules.h"

#include <iterator>

#include "rules/Product.h"

namespace rules {

void ScanArchiveName(const std::wstring& lowerName, ArchiveScan* scan) {
  if (!scan) return;
  if (lowerName.find(L"test") != std::wstring::npos) scan->testPatch = true;
  if (lowerName.find(NotesMark) != std::wstring::npos) scan->notesName = lowerName;
  // One entry counts once, however many fragments it holds ("zav_patch.rtp" is still one file).
  for (const wchar_t* fragment : RequiredEntryNames) {
    if (lowerName.find(fragment) != std::wstring::npos) {
      ++scan->requiredHits;
      break;
    }
  }
  scan->complete = scan->requiredHits >= std::size(RequiredEntryNames);
}

}  // namespace rules
