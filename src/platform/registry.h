#pragma once
// The current user's registry. Keys are given as on Windows, "\Software\Vorn\Ardmoor". On POSIX
// the registry is the INI file ${XDG_CONFIG_HOME:-$HOME/.config}/Vorn/registry.ini: a key is a
// section named by the key path without its leading "\", a value is an entry, and a key exists
// when its section exists, even empty.
#include <optional>
#include <string>

namespace skelder::platform::registry {

bool KeyExists(const std::string& key);
bool CreateKey(const std::string& key);
// None when the key or the value is missing.
std::optional<std::string> ReadString(const std::string& key, const std::string& value);
// Writes into an existing key only; false when the key does not exist or the write fails.
bool WriteString(const std::string& key, const std::string& value, const std::string& data);

// Path of the POSIX stand-in file (for tests and tools).
std::string BackingFile();

}  // namespace skelder::platform::registry
