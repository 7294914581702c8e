// The command and event exports of the add-in.
#include <cstdint>

#include "addin/u_main.h"
#include "deploy/deploy_command.h"

// "Deploy" (any letter case) with the folder id as decimal text runs the Deploy command and
// answers 1 whatever became of it; every other command answers 0 and does nothing.
SKELDER_EXPORT uint8_t SKELDER_STDCALL VcsHandleCommand(const char* command, const char* data) {
  try {
    return skelder::deploy::HandleCommand(command ? command : "", data ? data : "") ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

// ---------------------------------------------------------------------------------------------
// The other command and event exports, the menu interface and the property-page interface.
// Each one catches everything at its boundary: nothing the host passes ends in an exception or
// a crash on the host's side.

#include <cstring>

#include "addin/dm_menus.h"
#include "addin/frm_main.h"
#include "addin/u_main.h"
#include "platform/toolkit.h"

namespace {

int32_t gInitValueA = 0;
int32_t gInitValueB = 0;

// The add-in writes at most 29 bytes into a host's text buffer.
void CopyOut(char* buffer, const char* text) {
  if (buffer) std::memcpy(buffer, text, std::strlen(text) + 1);
}

void ShowInformation(const char* text) {
  skelder::platform::CurrentToolkit().ShowMessageBox(text, skelder::addin::kAddinName,
                                                     skelder::platform::MessageIcon::Information,
                                                     skelder::platform::MessageButtons::Ok);
}

}  // namespace

int32_t skelder::addin::InitValueA() { return gInitValueA; }
int32_t skelder::addin::InitValueB() { return gInitValueB; }

SKELDER_EXPORT void SKELDER_STDCALL VcsInitEventAddin(char* name, int32_t valueA, int32_t valueB) {
  try {
    CopyOut(name, skelder::addin::kHandlerName);
    gInitValueA = valueA;
    gInitValueB = valueB;
    skelder::addin::RegisterAddin();
  } catch (...) {
  }
}

SKELDER_EXPORT void SKELDER_STDCALL VcsInstalled() {
  try {
    skelder::addin::RegisterAddin();
  } catch (...) {
  }
}

SKELDER_EXPORT void SKELDER_STDCALL VcsUninstalled() {
  try {
    skelder::addin::UnregisterAddin();
  } catch (...) {
  }
}

SKELDER_EXPORT void SKELDER_STDCALL VcsConfigureAddin() {
  try {
    ShowInformation("This procedure can be used to configure the addin");
  } catch (...) {
  }
}

SKELDER_EXPORT void SKELDER_STDCALL VcsShowAbout() {
  try {
    ShowInformation("This procedure can be used to show an About Box containing information about the addin");
  } catch (...) {
  }
}

SKELDER_EXPORT void SKELDER_STDCALL VcsReleaseAddin() {}

SKELDER_EXPORT void SKELDER_STDCALL GetAddinInfo(char* name, char* description) {
  try {
    CopyOut(name, skelder::addin::kAddinName);
    CopyOut(description, skelder::addin::kAddinDescription);
    skelder::addin::CreateMenuModule();
  } catch (...) {
  }
}

SKELDER_EXPORT void SKELDER_STDCALL ReleaseVcsAddin() {
  try {
    skelder::addin::DestroyMenuModule();
  } catch (...) {
  }
}

SKELDER_EXPORT int32_t SKELDER_STDCALL MTGetTopMenuCount() {
  try {
    return skelder::addin::TopMenuCount();
  } catch (...) {
    return 0;
  }
}

SKELDER_EXPORT uint8_t SKELDER_STDCALL MTGetTopMenuInfo(int32_t index, uint8_t* record) {
  try {
    return skelder::addin::TopMenuInfo(index, record) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

SKELDER_EXPORT uint8_t SKELDER_STDCALL MTGetMenuInfo(int32_t top, int32_t item, int32_t* count, uint8_t* record) {
  try {
    return skelder::addin::MenuInfo(top, item, count, record) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

SKELDER_EXPORT uint8_t SKELDER_STDCALL MTActionStatus(int32_t id, uint8_t* enabled, uint8_t* checked, uint8_t* visible,
                                                      int32_t reserved) {
  try {
    return skelder::addin::ActionStatus(id, enabled, checked, visible) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

SKELDER_EXPORT uint8_t SKELDER_STDCALL MTActionExecute(int32_t id) {
  try {
    return skelder::addin::ActionExecute(id) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

SKELDER_EXPORT void SKELDER_STDCALL MTNotifySelection(int32_t kind, const void* selection) {
  try {
    skelder::addin::NotifySelection(kind, selection);
  } catch (...) {
  }
}

SKELDER_EXPORT uint8_t SKELDER_STDCALL HasDlgAddin(int32_t dialogId, int32_t flags) {
  try {
    return skelder::addin::HasPage(dialogId, flags) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

SKELDER_EXPORT uint32_t SKELDER_STDCALL GetDlgAddin(int32_t dialogId, uint32_t parent, int32_t objectId,
                                                    const char* notes, char* caption, int32_t reserved) {
  try {
    return skelder::addin::CreatePage(dialogId, parent, objectId, notes, caption);
  } catch (...) {
    return 0;
  }
}

SKELDER_EXPORT void SKELDER_STDCALL DlgAddinParentResized(int32_t dialogId, uint32_t page, int32_t left, int32_t top,
                                                          int32_t right, int32_t bottom) {
  try {
    skelder::addin::PagePlace(dialogId, page, left, top, right, bottom);
  } catch (...) {
  }
}

SKELDER_EXPORT uint8_t SKELDER_STDCALL DlgAddinGetData(int32_t dialogId, uint32_t page, char* notes) {
  try {
    return skelder::addin::PageGetData(dialogId, page, notes) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

SKELDER_EXPORT uint8_t SKELDER_STDCALL DlgAddinValidate(int32_t dialogId, uint32_t page) {
  try {
    return skelder::addin::PageValidate(dialogId, page) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

SKELDER_EXPORT void SKELDER_STDCALL DlgAddinRelease(int32_t dialogId, uint32_t page) {
  try {
    skelder::addin::PageRelease(dialogId, page);
  } catch (...) {
  }
}
