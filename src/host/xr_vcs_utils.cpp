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

// Makes a directory and its missing parents. A path that is its own parent (the root, a bare
// drive) or an existing directory counts as made.
bool ForceDirectories(std::string path) {
  if (!path.empty() && path.back() == kPathSeparator) path.pop_back();
#if defined(_WIN32)
  if (path.size() < 3) return true;
#else
  if (path.empty()) return true;
#endif
  if (platform::DirectoryExists(path)) return true;
  size_t cut = path.find_last_of(kPathSeparator);
  if (cut == std::string::npos) return platform::MakeDirectory(path) || platform::DirectoryExists(path);
  std::string parent = path.substr(0, cut);
  if (parent != path && !ForceDirectories(parent)) return false;
  return platform::MakeDirectory(path) || platform::DirectoryExists(path);
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
    made = ForceDirectories(dir) && platform::DirectoryExists(dir);
  } catch (...) {
    made = false;
  }
  // Callers append file names, so the fall-back carries its separator too.
  return made ? dir : WithSeparator(ClientInstallDir());
}

}  // namespace skelder::host
