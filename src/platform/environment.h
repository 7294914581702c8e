#pragma once
#include <optional>
#include <string>

namespace skelder::platform {

std::optional<std::string> EnvironmentVariable(const std::string& name);

// Replaces every %NAME% with the variable's value, the way Windows expands environment strings;
// an undefined name stays as written. On POSIX "UserProfile" expands to $HOME when no variable of
// that name is set. Any length is handled.
std::string ExpandEnvironmentText(const std::string& text);

// The folder under which per-user application data lives, with a trailing separator:
// "%UserProfile%\Application Data\" on Windows, ${XDG_CONFIG_HOME:-$HOME/.config}/ on POSIX.
std::string UserApplicationDataDir();

// The current user's home folder: $HOME, else the account's home directory (POSIX only).
std::string HomeDirectory();

}  // namespace skelder::platform
