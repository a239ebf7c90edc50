#pragma once
// Message-box styles and answers as the window system numbers them; the flow asks its questions with them.
#include <cstdint>

namespace core {

namespace box {

constexpr uint32_t kOk = 0x0;
constexpr uint32_t kYesNoCancel = 0x3;
constexpr uint32_t kYesNo = 0x4;
constexpr uint32_t kRetryCancel = 0x5;
constexpr uint32_t kIconHand = 0x10;  // the error (stop) icon
constexpr uint32_t kIconExclamation = 0x30;
constexpr uint32_t kIconInformation = 0x40;

constexpr int kAnswerOk = 1;
constexpr int kAnswerCancel = 2;
constexpr int kAnswerRetry = 4;
constexpr int kAnswerYes = 6;
constexpr int kAnswerNo = 7;

}  // namespace box

}  // namespace core
