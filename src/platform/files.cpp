// The part of the files seam that is the same on every platform: the names of partial files.
#include <cctype>

#include "platform/files.h"

namespace skelder::platform {

namespace {
constexpr char kPartialMark[] = ".partial-";
// The name is cut so that a long one still leaves room for the rest within 255 bytes.
constexpr size_t kPartialNameKept = 200;
}  // namespace

std::string PartialFileStem(const std::string& name) {
  return "." + name.substr(0, kPartialNameKept) + kPartialMark;
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
