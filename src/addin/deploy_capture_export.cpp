// Extension export for hosts that drive the add-in only through its exports (tests, tools): the
// Deploy command's lists go to a file instead of the dialog.
#include <cstdint>

#include "deploy/deploy_dialog_seam.h"
#include "platform/callconv.h"

// A non-empty path: every later Deploy command writes the folders and files it collected to
// that file (replacing it) and shows no dialog. Null or empty: the dialog again.
SKELDER_EXPORT uint8_t SKELDER_STDCALL SkelderCaptureDeployLists(const char* path) {
  try {
    skelder::deploy::SetDeployListsCapture(path ? path : "");
    return 1;
  } catch (...) {
    return 0;
  }
}
