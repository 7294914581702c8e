// Extension export for hosts without windows of their own (ardmoor): the host's property dialog
// around the page, presented by the add-in's toolkit backend.
#include <cstdint>

#include "addin/frm_main.h"
#include "platform/callconv.h"
#include "platform/toolkit.h"

// Runs the page the host got from GetDlgAddin until the user saves (1) or cancels (0); 0 as
// well for a window that is not the page. The host then validates and collects as usual.
SKELDER_EXPORT uint8_t SKELDER_STDCALL SkelderRunPropertyPage(uint32_t page) {
  try {
    skelder::addin::TdlgWebFolder* p = skelder::addin::PropertyPage();
    if (!p || page == 0 || p->Handle() != page) return 0;
    return skelder::platform::CurrentToolkit().RunPropertyPage(*p) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
