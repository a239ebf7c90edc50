#include "core/EngineErrors.h"

#include <cstring>

#include "core/Outcome.h"
#include "engine/EngineAbi.h"
#include "rules/EngineErrorNumber.h"
#include "rules/Format.h"
#include "rules/resource.h"

namespace core {

using namespace rules;

namespace {

// The engine vendor's own wording for error 8; it stays English inside the Chinese message.
const char kIncompatibleEngineText[] = "This patch was created with an incompatible version of RTPatch.";

}  // namespace

std::wstring EngineErrorText(const char* engineText, uint32_t* outcome, Texts& texts) {
  const char* text = engineText ? engineText : "";
  uint32_t code = OutcomeNone;
  std::wstring userText;
  switch (EngineErrorNumber(text)) {
    case rtp::kErrFormatVersion:
      userText = texts.Widen(kIncompatibleEngineText, std::strlen(kIncompatibleEngineText));
      break;
    case rtp::kErrCorrupt:
      userText = texts.Load(IDS_CORRUPT_PATCH);
      code = OutcomeNewPatch;
      break;
    case rtp::kErrFileNotFound:
      userText = texts.Load(IDS_FILE_NOT_FOUND);
      code = OutcomeReinstallClient;
      break;
    case rtp::kErrMismatch:
      userText = texts.Load(IDS_BAD_CRC);
      code = OutcomeReinstallClient;
      break;
    default:
      userText = FormatText(texts.Load(IDS_UNKNOWN_ERROR), {texts.Widen(text, std::strlen(text))});
      break;
  }
  if (outcome) *outcome = code;
  return userText;
}

}  // namespace core
