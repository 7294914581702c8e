// The part of the files seam that is the same on every platform: the names of partial files.
#include <cctype>

#include "platform/files.h"

namespace skelder::platform {

namespace {
constexpr char kPartialMark[] = ".partial-";
// The name is cut so that a long one still leaves room for the rest within 255 bytes.
constexpr size_t kPartialNameKept = 200;
}  // namespace

std::string PartialFileStem(const std::string& name) { return "." + name.substr(0, kPartialNameKept) + kPartialMark; }

bool ForceDirectories(const std::string& path, Lookup lookup) {
  std::string dir = path;
  if (!dir.empty() && dir.back() == kPathSeparator) dir.pop_back();
#if defined(_WIN32)
  if (dir.size() < 3) return true;  // a drive ("C:") or nothing
#endif
  if (dir.empty() || dir == std::string(1, kPathSeparator)) return true;
  if (DirectoryExists(dir, lookup)) return true;
  const size_t cut = dir.rfind(kPathSeparator);
  if (cut != std::string::npos) {
    const std::string parent = cut == 0 ? std::string(1, kPathSeparator) : dir.substr(0, cut);
    if (parent != dir && !ForceDirectories(parent, lookup)) return false;
  }
  // Someone else may have made it in the meantime; what counts is that it exists.
  return MakeDirectory(dir, lookup) || DirectoryExists(dir, lookup);
}

bool IsPartialFileName(const std::string& name) {
  constexpr size_t kTail = sizeof kPartialMark - 1 + kPartialRandomLength;
  if (name.size() < 2 + kTail || name[0] != '.') return false;
  const size_t mark = name.size() - kTail;
  if (name.compare(mark, sizeof kPartialMark - 1, kPartialMark) != 0) return false;
  for (size_t i = name.size() - kPartialRandomLength; i < name.size(); ++i)
    if (!std::isalnum(static_cast<unsigned char>(name[i]))) return false;
  return true;
}

}  // namespace skelder::platform
