// Where the host lives: its installation directory (registry, else the add-in's own folder) and
// the current user's per-user folder.
#include <string>

#include "host/xr_direct_intf.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/registry.h"

namespace skelder::host {

namespace {

using platform::kPathSeparator;

std::string WithSeparator(std::string path) {
  if (path.empty() || path.back() != kPathSeparator) path += kPathSeparator;
  return path;
}

}  // namespace

std::string ClientInstallDir() {
  std::string dir = platform::registry::ReadString(kRegistryKey, kRegistryInstallDir).value_or(std::string());
  if (dir.empty() || !platform::DirectoryExists(dir)) {
    const std::string module = platform::ModuleFileName();
    const size_t cut = module.find_last_of(kPathSeparator);
    dir = cut == std::string::npos ? std::string() : module.substr(0, cut + 1);
    // Remember it for the host, but only where the host's key is there already.
    if (platform::registry::KeyExists(kRegistryKey))
      platform::registry::WriteString(kRegistryKey, kRegistryInstallDir, dir);
  }
  return dir;
}

std::string ClientUserDir() {
  const std::string dir = WithSeparator(platform::UserApplicationDataDir() + "Ardmoor");
  bool made = false;
  try {
    made = platform::ForceDirectories(dir) && platform::DirectoryExists(dir);
  } catch (...) {
    made = false;
  }
  // Callers append file names, so the fall-back carries its separator too.
  return made ? dir : WithSeparator(ClientInstallDir());
}

}  // namespace skelder::host
