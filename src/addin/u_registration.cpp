// The add-in's entry in the host's add-in list, KVOAddins.dat.
#include "addin/u_main.h"
#include "deploy/u_utils.h"
#include "host/xr_direct_intf.h"
#include "platform/ascii.h"
#include "platform/files.h"
#include "platform/profile.h"

namespace skelder::addin {

std::string AddinListPath() {
  std::string userFile = host::ClientUserDir() + kAddinListFile;
  if (!platform::FileExists(userFile)) {
    std::string installFile = deploy::AddBackslash(host::ClientInstallDir()) + kAddinListFile;
    // A copy that fails leaves the per-user file absent; the first write then creates it.
    if (platform::FileExists(installFile) && platform::CopyFileWithTimes(installFile, userFile, false)) {
      // The copy keeps the attributes; a read-only installation copy must not make the user's
      // own list unwritable.
      deploy::ClearReadOnly(userFile);
    }
  }
  return userFile;
}

void RegisterAddin() {
  platform::ProfileFile list(AddinListPath());
  for (const auto& [key, value] : list.ReadSection(kAddinListSection)) {
    if (platform::EqualsIgnoringAsciiCase(value, kLibraryFileName)) return;
  }
  list.WriteString(kAddinListSection, kHandlerName, kLibraryFileName);
}

void UnregisterAddin() {
  platform::ProfileFile list(AddinListPath());
  if (!list.ReadString(kAddinListSection, kHandlerName, "").empty()) list.DeleteKey(kAddinListSection, kHandlerName);
}

}  // namespace skelder::addin
