// Environment strings on Windows: the system's own variables and expansion.
#include <windows.h>

#include <cstdlib>
#include <vector>

#include "platform/environment.h"
#include "platform/win32/win32_text.h"

namespace skelder::platform {
namespace {

// The system expands into at most 32 K characters; this leaves room for its 8-bit form.
constexpr size_t kLargestExpansion = 128u << 10;

}  // namespace

std::optional<std::string> EnvironmentVariable(const std::string& name) {
  if (name.empty() || name.find('=') != std::string::npos) return std::nullopt;
  std::vector<char> buffer(256);
  for (;;) {
    ::SetLastError(ERROR_SUCCESS);
    const DWORD size = ::GetEnvironmentVariableA(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (size == 0) {
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();
    }
    if (size < buffer.size()) return std::string(buffer.data(), size);
    buffer.resize(size);  // the size needed, terminating zero included
  }
}

bool SetEnvironmentValue(const std::string& name, const std::optional<std::string>& value) {
  if (name.empty()) return false;
  // The C runtime keeps a copy of its own: both must see the change ("" removes it there).
  return ::SetEnvironmentVariableA(name.c_str(), value ? value->c_str() : nullptr) != 0 &&
         ::_putenv_s(name.c_str(), value ? value->c_str() : "") == 0;
}

std::string ExpandEnvironmentText(const std::string& text) {
  // Only a text with a "%" in it can expand.
  if (text.find('%') == std::string::npos) return text;
  // A first buffer of 512 bytes; an answer is taken only with a byte to spare beyond the size
  // reported (terminating zero included), which the 8-bit call may need to write it whole, and
  // otherwise asked again with a buffer of that size and the byte, until the whole answer fits.
  std::vector<char> buffer(512);
  const auto size = CallWithRoom(buffer, 1, kLargestExpansion, [&](char* out, DWORD capacity) {
    return ::ExpandEnvironmentStringsA(text.c_str(), out, capacity);
  });
  if (!size || *size == 0) return text;
  return std::string(buffer.data());
}

std::string HomeDirectory() {
  if (auto profile = EnvironmentVariable("USERPROFILE"); profile && !profile->empty()) return *profile;
  return "C:\\";
}

std::string UserApplicationDataDir() {
  std::string dir = ExpandEnvironmentText("%UserProfile%");
  if (dir.empty() || dir.back() != '\\') dir += '\\';
  return dir + "Application Data\\";
}

}  // namespace skelder::platform
