#include "engine/apply/Callbacks.h"

namespace rtp {

ParamKind ParamKindOf(uint32_t id) {
  switch (id) {
    case kIdWarning:
    case kIdWarning2:
    case kIdError:
    case kIdWarning4:
    case kIdFileStart:
    case kIdDetail:
      return ParamKind::Text;
    case kIdProgress:
    case kIdFileCount:
      return ParamKind::Number;
    default:
      return ParamKind::None;
  }
}

}  // namespace rtp
