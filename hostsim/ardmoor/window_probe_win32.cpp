// window_probe: looks at the windows on the desktop from outside and plays a user's clicks on
// them, for scripts that take pictures of the add-in's windows (scripts/screenshots.sh). Windows
// are found by their text: a caption, a button's or a label's text.
//   window_probe wait TEXT [SECONDS] [--dismiss BUTTON]   a window showing TEXT; meanwhile clicks
//                                                        BUTTON in message boxes that do not
//   window_probe click TEXT                               clicks the enabled button TEXT of a
//                                                        window that takes input
//   window_probe set CAPTION INDEX VALUE                  puts VALUE into the INDEX-th text box
//                                                        (from 0) of the window CAPTION
//   window_probe rect TEXT                                the outer rectangle of the window that
//                                                        shows TEXT, as WxH+LEFT+TOP
//   window_probe tree TEXT                                that window's child windows in their
//                                                        order: class, text, rectangle
// Exit status 0 done, 1 not found (in time), 2 usage.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string ClassOf(HWND w) {
  char name[64] = {};
  GetClassNameA(w, name, sizeof name);
  return name;
}

// Asks the window itself: a control of another process answers with what it shows now.
std::string TextOf(HWND w) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(w, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length) || length > 65536) return {};
  std::string text(length + 1, '\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutA(w, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG, 2000,
                      &copied);
  text.resize(copied);
  return text;
}

BOOL CALLBACK Collect(HWND w, LPARAM param) {
  reinterpret_cast<std::vector<HWND>*>(param)->push_back(w);
  return TRUE;
}

std::vector<HWND> TopWindows() {
  std::vector<HWND> windows;
  EnumWindows(Collect, reinterpret_cast<LPARAM>(&windows));
  std::vector<HWND> visible;
  for (HWND w : windows)
    if (IsWindowVisible(w)) visible.push_back(w);
  return visible;
}

std::vector<HWND> Descendants(HWND top) {
  std::vector<HWND> all;
  EnumChildWindows(top, Collect, reinterpret_cast<LPARAM>(&all));
  std::vector<HWND> visible;
  for (HWND w : all)
    if (IsWindowVisible(w)) visible.push_back(w);
  return visible;
}

// The top-level window whose caption, or a visible part of which, shows `text`.
HWND TopShowing(const std::string& text, HWND* part = nullptr) {
  for (HWND top : TopWindows()) {
    if (TextOf(top) == text) {
      if (part) *part = top;
      return top;
    }
    for (HWND w : Descendants(top)) {
      if (TextOf(w) == text) {
        if (part) *part = w;
        return top;
      }
    }
  }
  return nullptr;
}

bool IsButton(HWND w) { return ClassOf(w) == "Button"; }

// A button `text` that a user could click now: enabled, in an enabled top-level window (a modal
// dialog's owner is disabled while it is open).
HWND ClickableButton(const std::string& text, HWND onlyIn = nullptr) {
  std::vector<HWND> tops = TopWindows();
  // The window in front first: where a user's click would land.
  if (HWND front = GetForegroundWindow()) tops.insert(tops.begin(), front);
  for (HWND top : tops) {
    if ((onlyIn && top != onlyIn) || !IsWindowEnabled(top)) continue;
    for (HWND w : Descendants(top))
      if (IsButton(w) && IsWindowEnabled(w) && TextOf(w) == text) return w;
  }
  return nullptr;
}

void Click(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }

int Wait(const std::string& text, int seconds, const std::string& dismiss) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (TopShowing(text)) return 0;
    if (!dismiss.empty()) {
      for (HWND top : TopWindows())
        if (ClassOf(top) == "#32770")
          if (HWND button = ClickableButton(dismiss, top)) Click(button);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::fprintf(stderr, "window_probe: no window shows \"%s\" after %d s\n", text.c_str(), seconds);
  return 1;
}

int Usage() {
  std::fprintf(stderr,
               "usage: window_probe wait TEXT [SECONDS] [--dismiss BUTTON] | click TEXT | set CAPTION INDEX VALUE |"
               " rect TEXT | tree TEXT\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() < 2) return Usage();
  const std::string& command = args[0];
  if (command == "wait") {
    std::string dismiss;
    int seconds = 60;
    for (size_t i = 2; i < args.size(); ++i) {
      if (args[i] == "--dismiss" && i + 1 < args.size())
        dismiss = args[++i];
      else
        seconds = std::atoi(args[i].c_str());
    }
    return Wait(args[1], seconds > 0 ? seconds : 60, dismiss);
  }
  if (command == "click") {
    HWND button = ClickableButton(args[1]);
    if (!button) {
      std::fprintf(stderr, "window_probe: no button \"%s\" to click\n", args[1].c_str());
      return 1;
    }
    Click(button);
    return 0;
  }
  if (command == "set" && args.size() == 4) {
    HWND top = nullptr;
    for (HWND w : TopWindows())
      if (TextOf(w) == args[1]) top = w;
    if (!top) return 1;
    int index = std::atoi(args[2].c_str());
    for (HWND w : Descendants(top)) {
      if (ClassOf(w) != "Edit" || index-- != 0) continue;
      DWORD_PTR ignored = 0;
      return SendMessageTimeoutA(w, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(args[3].c_str()), SMTO_ABORTIFHUNG, 2000,
                                 &ignored)
                 ? 0
                 : 1;
    }
    return 1;
  }
  if (command == "tree") {
    HWND top = TopShowing(args[1]);
    if (!top) return 1;
    std::function<void(HWND, int)> print = [&](HWND parent, int depth) {
      for (HWND w = GetWindow(parent, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
        RECT r{};
        GetWindowRect(w, &r);
        std::printf("%*s%s \"%s\" %ldx%ld+%ld+%ld%s\n", 2 * depth, "", ClassOf(w).c_str(), TextOf(w).c_str(),
                    r.right - r.left, r.bottom - r.top, r.left, r.top, IsWindowVisible(w) ? "" : " hidden");
        print(w, depth + 1);
      }
    };
    print(top, 0);
    return 0;
  }
  if (command == "rect") {
    HWND top = TopShowing(args[1]);
    if (!top) return 1;
    RECT r{};
    GetWindowRect(top, &r);
    std::printf("%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
    return 0;
  }
  return Usage();
}
