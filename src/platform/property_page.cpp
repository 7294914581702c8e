#include "platform/toolkit.h"

namespace skelder::platform {

inline constexpr const char* kPropertiesOk = "btnPropertiesOK";
inline constexpr const char* kPropertiesCancel = "btnPropertiesCancel";

bool Toolkit::RunPropertyPage(Form& page) {
  if (!page.Find(kPropertiesOk)) {
    // Under the page, at its right edge, as a properties dialog has them; the page grows by
    // their row.
    constexpr int kWidth = 75, kHeight = 25, kGap = 8;
    Component& ok = page.Add(kPropertiesOk, ComponentKind::Button);
    ok.caption = "OK";
    ok.isDefault = true;
    ok.modalResult = mrOk;
    Component& cancel = page.Add(kPropertiesCancel, ComponentKind::Button);
    cancel.caption = "Cancel";
    cancel.isCancel = true;
    cancel.modalResult = mrCancel;
    cancel.left = page.clientWidth - kGap - kWidth;
    ok.left = cancel.left - kGap - kWidth;
    ok.top = cancel.top = page.clientHeight + kGap;
    ok.width = cancel.width = kWidth;
    ok.height = cancel.height = kHeight;
    page.clientHeight += kHeight + 2 * kGap;
  }
  return ShowModal(page) == mrOk;
}

}  // namespace skelder::platform
