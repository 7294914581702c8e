#include "deploy/file_group.h"

#include "deploy/u_utils.h"
#include "host/xr_direct_intf.h"
#include "platform/files.h"

namespace skelder::deploy {

std::string ExtractFileExt(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  const size_t sep = path.find_last_of("/\\");
  if (dot == std::string::npos || (sep != std::string::npos && dot < sep)) return {};
  return path.substr(dot);
}

std::vector<std::string> FileGroupCandidates(const std::string& source) {
  std::string extensions;
  if (host::VcsGetFileGroupExtensions(source, extensions) != host::kStatusOk) extensions = ExtractFileExt(source);
  for (char& c : extensions)
    if (c == ';') c = '\n';
  std::vector<std::string> candidates;
  for (const auto& ext : SplitLines(extensions)) {
    if (ext.find_first_of("/\\") != std::string::npos) continue;
    const std::string candidate = ChangeFileExt(source, ext);
    if (platform::FileExists(candidate)) candidates.push_back(candidate);
  }
  return candidates;
}

}  // namespace skelder::deploy
