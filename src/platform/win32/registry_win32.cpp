// The current user's registry on Windows (HKEY_CURRENT_USER). Key paths arrive as the host names
// them, "\Software\Vorn\Ardmoor"; the registry wants them without the leading "\".
#include <windows.h>

#include <vector>

#include "platform/registry.h"

namespace skelder::platform::registry {
namespace {

std::string SubKey(const std::string& key) {
  const size_t begin = key.find_first_not_of('\\');
  if (begin == std::string::npos) return {};
  const size_t end = key.find_last_not_of('\\');
  return key.substr(begin, end - begin + 1);
}

// An open key, closed on every way out.
class Key {
 public:
  Key(const std::string& key, REGSAM access) {
    const std::string sub = SubKey(key);
    if (!sub.empty() && ::RegOpenKeyExA(HKEY_CURRENT_USER, sub.c_str(), 0, access, &handle_) != ERROR_SUCCESS)
      handle_ = nullptr;
  }
  ~Key() {
    if (handle_) ::RegCloseKey(handle_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY get() const { return handle_; }

 private:
  HKEY handle_ = nullptr;
};

}  // namespace

std::string BackingFile() { return {}; }

bool KeyExists(const std::string& key) { return Key(key, KEY_READ).get() != nullptr; }

bool CreateKey(const std::string& key) {
  const std::string sub = SubKey(key);
  if (sub.empty()) return false;
  HKEY handle = nullptr;
  if (::RegCreateKeyExA(HKEY_CURRENT_USER, sub.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) !=
      ERROR_SUCCESS)
    return false;
  ::RegCloseKey(handle);
  return true;
}

std::optional<std::string> ReadString(const std::string& key, const std::string& value) {
  Key open(key, KEY_READ);
  if (!open.get()) return std::nullopt;
  DWORD type = 0, size = 0;
  if (::RegQueryValueExA(open.get(), value.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    return std::nullopt;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
  std::vector<char> data(size + 1, '\0');
  if (::RegQueryValueExA(open.get(), value.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  return std::string(data.data());
}

bool WriteString(const std::string& key, const std::string& value, const std::string& data) {
  Key open(key, KEY_WRITE);
  if (!open.get()) return false;
  return ::RegSetValueExA(open.get(), value.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>(data.size() + 1)) == ERROR_SUCCESS;
}

}  // namespace skelder::platform::registry
