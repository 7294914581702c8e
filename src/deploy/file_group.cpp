#include "deploy/file_group.h"

#include <algorithm>

#include "deploy/u_utils.h"
#include "host/xr_direct_intf.h"
#include "platform/ascii.h"
#include "platform/display_text.h"
#include "platform/file_names.h"
#include "platform/files.h"
#include "platform/text.h"

namespace skelder::deploy {

namespace {

// The companion named by `candidate` as it is on disk: the exact name, else the spelling whose
// extension differs in letter case only (the base name must match exactly: "Page.htm" is no
// companion of "page.html"). Empty when there is none.
std::string RealCompanion(const std::string& candidate, const std::string& base) {
  if (platform::RegularFileExistsExact(candidate)) return candidate;
  const std::string real = platform::ResolvePath(candidate);
  if (real == candidate || real.compare(0, base.size(), base) != 0 || real.size() != candidate.size() ||
      real.find_first_of("/\\", base.size()) != std::string::npos || !platform::RegularFileExistsExact(real))
    return {};
  return real;
}

}  // namespace

std::vector<std::string> FileGroupCandidates(const std::string& source, std::string* missing) {
  if (!platform::RegularFileExistsExact(source)) {
    *missing = "The checked-out copy '" + platform::EscapeControls(source) + "' is missing or not a file";
    return {};
  }
  missing->clear();
  std::string extensions;
  if (host::VcsGetFileGroupExtensions(source, extensions) != host::kStatusOk)
    extensions = platform::ExtractFileExt(source);
  for (char& c : extensions)
    if (c == ';') c = '\n';
  const std::string base = platform::ChangeFileExt(source, "");
  std::vector<std::string> candidates;
  bool sourceListed = false;
  for (const auto& ext : platform::SplitLines(extensions)) {
    if (ext.find_first_of("/\\") != std::string::npos) continue;
    const std::string candidate = platform::ChangeFileExt(source, ext);
    std::string real;
    if (platform::EqualsIgnoringAsciiCase(candidate, source)) {
      // The source's own extension, perhaps written in another case by the group: the file
      // goes under its own name.
      if (sourceListed) continue;
      sourceListed = true;
      real = source;
    } else {
      real = RealCompanion(candidate, base);
    }
    if (!real.empty() && std::find(candidates.begin(), candidates.end(), real) == candidates.end())
      candidates.push_back(real);
  }
  if (!sourceListed) candidates.insert(candidates.begin(), source);
  return candidates;
}

}  // namespace skelder::deploy
