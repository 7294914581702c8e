#pragma once
// Small helpers of the Win32 backend: system error texts and "A" calls whose result size is
// only known after a first call.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace skelder::platform {

// The system's text for an error number, without its line end.
inline std::string SystemErrorText(DWORD code) {
  char* buffer = nullptr;
  const DWORD length =
      ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
  std::string text = length && buffer ? std::string(buffer, length) : "Error " + std::to_string(code);
  if (buffer) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

// Calls call(buffer, size), which answers a length, until the answer fits with `spare` bytes of
// the buffer left: an "A" call that cannot write its answer whole either cuts it to the buffer
// (the profile calls: length size - 1, or size - 2 for a list) or reports the size it needs
// (expansion, whose 8-bit form may need a byte beyond the size it reports). A size reported
// beyond the buffer is taken plus `spare`; a cut answer tells no size, and the buffer doubles.
// None when the answer would need more than `limit` bytes; it is then not taken in part either.
template <typename Call>
std::optional<DWORD> CallWithRoom(std::vector<char>& buffer, size_t spare, size_t limit, Call call) {
  for (;;) {
    const DWORD reported = call(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (reported + spare <= buffer.size()) return reported;
    const size_t next = reported >= buffer.size() ? static_cast<size_t>(reported) + spare : buffer.size() * 2;
    if (next > limit) return std::nullopt;
    buffer.assign(next, '\0');
  }
}

// The full path of a path, as the system resolves it (the current folder for a relative one);
// the path itself when the system cannot.
inline std::string FullPathName(const std::string& path) {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD size = ::GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (size == 0) return path;
    if (size < buffer.size()) return std::string(buffer.data(), size);
    buffer.assign(size, '\0');
  }
}

}  // namespace skelder::platform
