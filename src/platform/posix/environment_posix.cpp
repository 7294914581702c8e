// Environment strings on POSIX, expanded the way Windows expands them.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/ascii.h"
#include "platform/environment.h"

extern char** environ;

namespace skelder::platform {
namespace {

// Windows names variables without letter case; the exact name wins, then the first other
// spelling in the environment.
std::optional<std::string> LookUp(const std::string& name) {
  if (auto exact = EnvironmentVariable(name)) return exact;
  for (char** entry = environ; entry && *entry; ++entry) {
    const char* eq = std::strchr(*entry, '=');
    if (eq && EqualsIgnoringAsciiCase(std::string_view(*entry, static_cast<size_t>(eq - *entry)), name))
      return std::string(eq + 1);
  }
  if (EqualsIgnoringAsciiCase("UserProfile", name)) return HomeDirectory();
  return std::nullopt;
}

}  // namespace

std::optional<std::string> EnvironmentVariable(const std::string& name) {
  if (name.empty() || name.find('=') != std::string::npos) return std::nullopt;
  const char* value = std::getenv(name.c_str());
  if (!value) return std::nullopt;
  return std::string(value);
}

bool SetEnvironmentValue(const std::string& name, const std::optional<std::string>& value) {
  if (name.empty()) return false;
  return (value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str())) == 0;
}

std::string ExpandEnvironmentText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    size_t open = text.find('%', pos);
    if (open == std::string::npos) {
      out.append(text, pos, std::string::npos);
      break;
    }
    out.append(text, pos, open - pos);
    size_t close = text.find('%', open + 1);
    if (close == std::string::npos) {
      // An unfinished name is kept as written.
      out.append(text, open, std::string::npos);
      break;
    }
    std::string name = text.substr(open + 1, close - open - 1);
    std::optional<std::string> value = name.empty() ? std::nullopt : LookUp(name);
    if (value)
      out += *value;
    else
      out.append(text, open, close - open + 1);
    pos = close + 1;
  }
  return out;
}

std::string HomeDirectory() {
  if (auto home = EnvironmentVariable("HOME"); home && !home->empty()) return *home;
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd pw{};
  passwd* result = nullptr;
  if (::getpwuid_r(::getuid(), &pw, buffer.data(), buffer.size(), &result) == 0 && result && result->pw_dir)
    return result->pw_dir;
  return "/";
}

std::string UserApplicationDataDir() {
  // Only an absolute XDG_CONFIG_HOME counts; a relative one is to be ignored.
  std::string dir;
  if (auto xdg = EnvironmentVariable("XDG_CONFIG_HOME"); xdg && !xdg->empty() && (*xdg)[0] == '/') {
    dir = *xdg;
  } else {
    dir = HomeDirectory();
    if (dir.empty() || dir.back() != '/') dir += '/';
    dir += ".config";
  }
  if (dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace skelder::platform
