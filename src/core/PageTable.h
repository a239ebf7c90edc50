#pragma once
// What each page of the wizard is and shows: the flow (CRunCore::SetPage) decides what happens on a page,
// the dialog shows it from this table, and painting asks it whether a page is a result page.
#include <cstdint>

#include "core/Outcome.h"
#include "rules/resource.h"

namespace core {

struct PageLook {
  int32_t page;
  uint32_t titleId;
  uint32_t startTextId;  // the start button's text; 0: the button is hidden (Enter then does nothing)
  uint32_t cancelTextId;
  int shown[3];  // the controls shown besides the buttons (0: none); a failed page adds its offer
  bool result;   // the run's message and hint are painted
};

inline constexpr PageLook kPageLooks[] = {
    {PageWelcome, IDS_WELCOME_TITLE, IDS_START_BUTTON, IDS_CANCEL_BUTTON, {IDC_NOTES_FRAME}, false},
    {PageInstalling,
     IDS_INSTALLING_TITLE,
     0,
     IDS_CANCEL_BUTTON,
     {IDC_DETAILS, IDC_FILE_PROGRESS, IDC_TOTAL_PROGRESS},
     false},
    {PageFinished, IDS_FINISHED_TITLE, 0, IDS_END_BUTTON, {IDC_LAUNCH}, true},
    {PageFailed, IDS_FAILED_TITLE, 0, IDS_END_BUTTON, {}, true},
};

// The look of `page`; null for a number that is no page.
inline const PageLook* LookOf(int32_t page) {
  for (const PageLook& look : kPageLooks)
    if (look.page == page) return &look;
  return nullptr;
}

}  // namespace core
