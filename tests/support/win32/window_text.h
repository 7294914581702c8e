#pragma once
// Reading a window back as a person sees it, for the tests of the Win32 user interface: its
// class, and its text as the window itself answers (for an edit control, what it holds now),
// also for a window of another process, which may take a moment to answer.
#include <windows.h>

#include <string>

namespace skelder::test {

inline std::string ClassOf(HWND window) {
  char name[64] = {};
  ::GetClassNameA(window, name, sizeof name);
  return name;
}

inline std::string TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!::SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return {};
  std::string text(length + 1, '\0');
  DWORD_PTR copied = 0;
  ::SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG, 5000,
                        &copied);
  text.resize(copied);
  return text;
}

}  // namespace skelder::test
