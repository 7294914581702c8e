#include "platform/toolkit.h"

namespace skelder::platform {

inline constexpr const char* kPropertiesOk = "btnPropertiesOK";
inline constexpr const char* kPropertiesCancel = "btnPropertiesCancel";

bool Toolkit::RunPropertyPage(Form& page) {
  if (!page.Find(kPropertiesOk)) {
    Component& ok = page.Add(kPropertiesOk, ComponentKind::Button);
    ok.caption = "OK";
    ok.isDefault = true;
    ok.modalResult = mrOk;
    Component& cancel = page.Add(kPropertiesCancel, ComponentKind::Button);
    cancel.caption = "Cancel";
    cancel.isCancel = true;
    cancel.modalResult = mrCancel;
  }
  return ShowModal(page) == mrOk;
}

}  // namespace skelder::platform
