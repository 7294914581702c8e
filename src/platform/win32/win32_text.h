#pragma once
// Small helpers of the Win32 backend: system error texts and "A" calls whose result size is
// only known after a first call.
#include <windows.h>

#include <string>

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

}  // namespace skelder::platform
