// Environment strings on Windows: the system's own variables and expansion.
#include <windows.h>

#include <cstdlib>
#include <vector>

#include "platform/environment.h"

namespace skelder::platform {

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
  // The answer's size, terminating zero included, is known after a first call.
  std::vector<char> buffer(text.size() + 256);
  for (;;) {
    const DWORD size = ::ExpandEnvironmentStringsA(text.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (size == 0) return text;
    if (size <= buffer.size()) return std::string(buffer.data());
    buffer.resize(size);
  }
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
