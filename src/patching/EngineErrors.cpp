#include "patching/EngineErrors.h"

#include "ui/Outcome.h"
#include "patching/EngineErrorNumber.h"
#include "ui/resource.h"

namespace {

// The engine vendor's own wording for error 8; it stays English inside the Chinese message.
const char kIncompatibleEngineText[] = "This patch was created with an incompatible version of RTPatch.";

}  // namespace

CString EngineErrorText(const char* engineText, uint32_t* outcome) {
  const char* text = engineText ? engineText : "";
  uint32_t code = OutcomeNone;
  CString userText;
  switch (EngineErrorNumber(text)) {
    case 8:
      userText = Widen(kIncompatibleEngineText);
      break;
    case 9:
      userText.LoadString(IDS_CORRUPT_PATCH);
      code = OutcomeNewPatch;
      break;
    case 15:
      userText.LoadString(IDS_FILE_NOT_FOUND);
      code = OutcomeReinstallClient;
      break;
    case 36:
      userText.LoadString(IDS_BAD_CRC);
      code = OutcomeReinstallClient;
      break;
    default:
      userText.Format(CString::Load(IDS_UNKNOWN_ERROR).c_str(), Widen(text).c_str());
      break;
  }
  if (outcome) *outcome = code;
  return userText;
}
