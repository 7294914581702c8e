#include <windows.h>
// After <windows.h>:
#include <commctrl.h>

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <utility>

#include "properties_window.h"

namespace ardmoor {

namespace {

constexpr const char* kClassName = "ArdmoorFolderProperties";
constexpr const char* kTitle = "Folder properties";
// The page's designed size: the tab's display area starts at it.
constexpr int kPageWidth = 414;
constexpr int kPageHeight = 421;
// Dialog margins and the buttons below the tab, in pixels.
constexpr int kMargin = 7;
constexpr int kGap = 6;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 23;
constexpr int kTabId = 100;
constexpr UINT_PTR kClickTimer = 1;
// How often a host click looks again while a window of the add-in is open.
constexpr UINT kClickRetryMs = 50;

HWND AsWindow(uint32_t handle) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(handle)); }

BOOL CALLBACK CountOtherWindow(HWND window, LPARAM param) {
  auto* seen = reinterpret_cast<std::pair<HWND, bool>*>(param);
  if (window != seen->first && IsWindowVisible(window)) seen->second = true;
  return TRUE;
}

}  // namespace

struct PropertiesWindow::State {
  enum class Outcome { Open, Saved, Cancelled };

  HWND window = nullptr;
  HWND tab = nullptr;
  HWND ok = nullptr;
  HWND cancel = nullptr;
  HWND page = nullptr;
  const PageCalls* calls = nullptr;
  std::optional<HostClick> click;
  Outcome outcome = Outcome::Open;
  std::exception_ptr failure;
  SIZE minimum{0, 0};

  // Buttons at the bottom right, the tab above them, the page in the tab's display area.
  void Layout() {
    RECT client;
    GetClientRect(window, &client);
    const int width = client.right, height = client.bottom;
    const int buttonsTop = height - kMargin - kButtonHeight;
    MoveWindow(cancel, width - kMargin - kButtonWidth, buttonsTop, kButtonWidth, kButtonHeight, TRUE);
    MoveWindow(ok, width - kMargin - 2 * kButtonWidth - kGap, buttonsTop, kButtonWidth, kButtonHeight, TRUE);
    RECT area{kMargin, kMargin, std::max(width - kMargin, kMargin), std::max(buttonsTop - kGap, kMargin)};
    MoveWindow(tab, area.left, area.top, area.right - area.left, area.bottom - area.top, TRUE);
    TabCtrl_AdjustRect(tab, FALSE, &area);
    if (page && calls) calls->place(area.left, area.top, area.right, area.bottom);
  }

  // True while the add-in is busy: a window of its own (a modal dialog, a message box) is open
  // over this one, or messages it posted are still waiting.
  bool AddinBusy() const {
    std::pair<HWND, bool> seen{window, false};
    EnumThreadWindows(GetCurrentThreadId(), CountOtherWindow, reinterpret_cast<LPARAM>(&seen));
    return seen.second || !IsWindowEnabled(window) ||
           HIWORD(GetQueueStatus(QS_POSTMESSAGE | QS_SENDMESSAGE | QS_INPUT)) != 0;
  }

  void Command(int id) {
    if (outcome != Outcome::Open) return;
    if (id == IDOK) {
      // Raised from inside the system's dispatch, an error would cross its frames: it closes the
      // dialog and is raised again once the loop is left.
      try {
        if (calls && calls->ok()) outcome = Outcome::Saved;
      } catch (...) {
        failure = std::current_exception();
        outcome = Outcome::Cancelled;
      }
    } else if (id == IDCANCEL) {
      outcome = Outcome::Cancelled;
    }
  }

  void Timer() {
    if (!click || AddinBusy()) {
      SetTimer(window, kClickTimer, kClickRetryMs, nullptr);
      return;
    }
    KillTimer(window, kClickTimer);
    HWND button = click->ok ? ok : cancel;
    click.reset();
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED), reinterpret_cast<LPARAM>(button));
  }

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
      SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* state = reinterpret_cast<State*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (state && state->tab) {
      switch (message) {
        case WM_SIZE:
          state->Layout();
          return 0;
        case WM_GETMINMAXINFO:
          reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = POINT{state->minimum.cx, state->minimum.cy};
          return 0;
        case WM_COMMAND:
          state->Command(LOWORD(wParam));
          return 0;
        case WM_CLOSE:
          state->Command(IDCANCEL);
          return 0;
        case WM_TIMER:
          if (wParam == kClickTimer) {
            state->Timer();
            return 0;
          }
          break;
        default:
          break;
      }
    }
    return DefWindowProcA(window, message, wParam, lParam);
  }
};

PropertiesWindow::PropertiesWindow() : state_(std::make_unique<State>()) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES};
  InitCommonControlsEx(&controls);
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = State::Procedure;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  // A second window in the same process finds the class registered already.
  if (!RegisterClassExA(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    throw std::runtime_error("cannot register the folder properties window class");
  State& s = *state_;
  s.window = CreateWindowExA(WS_EX_CONTROLPARENT, kClassName, kTitle,
                             (WS_OVERLAPPEDWINDOW & ~WS_MAXIMIZEBOX) | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT,
                             kPageWidth, kPageHeight, nullptr, nullptr, instance, &s);
  if (!s.window) throw std::runtime_error("cannot create the folder properties window");
  auto child = [&](const char* cls, const char* text, DWORD style, int id) {
    HWND w = CreateWindowExA(0, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, s.window,
                             reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), instance, nullptr);
    if (!w) throw std::runtime_error(std::string("cannot create the folder properties dialog's ") + text);
    SendMessageA(w, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    return w;
  };
  // The page goes to the top of the order when it arrives: first in the tab order, and over the
  // tab, which clips itself around it.
  HWND ok = child("BUTTON", "OK", WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK);
  HWND cancel = child("BUTTON", "Cancel", WS_TABSTOP | BS_PUSHBUTTON, IDCANCEL);
  HWND tab = child(WC_TABCONTROLA, "", WS_CLIPSIBLINGS, kTabId);
  s.ok = ok;
  s.cancel = cancel;
  // From here on the window procedure lays the window out.
  s.tab = tab;

  // A client area whose tab shows the page at its designed size, centred on the screen. The
  // tab's row counts only once it holds an item: the page's caption replaces this one.
  TCITEMA item{};
  item.mask = TCIF_TEXT;
  item.pszText = const_cast<char*>("");
  SendMessageA(tab, TCM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
  RECT tabRect{0, 0, kPageWidth, kPageHeight};
  TabCtrl_AdjustRect(tab, TRUE, &tabRect);
  RECT frame{0, 0, 2 * kMargin + (tabRect.right - tabRect.left),
             2 * kMargin + (tabRect.bottom - tabRect.top) + kGap + kButtonHeight};
  AdjustWindowRectEx(&frame, GetWindowLongA(s.window, GWL_STYLE), FALSE, GetWindowLongA(s.window, GWL_EXSTYLE));
  s.minimum = SIZE{frame.right - frame.left, frame.bottom - frame.top};
  const int left = std::max<int>(0, (GetSystemMetrics(SM_CXSCREEN) - s.minimum.cx) / 2);
  const int top = std::max<int>(0, (GetSystemMetrics(SM_CYSCREEN) - s.minimum.cy) / 2);
  SetWindowPos(s.window, nullptr, left, top, s.minimum.cx, s.minimum.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

PropertiesWindow::~PropertiesWindow() {
  if (state_->window) DestroyWindow(state_->window);
}

uint32_t PropertiesWindow::Handle() const { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(state_->window)); }

bool PropertiesWindow::Hosts(uint32_t page) const {
  HWND w = AsWindow(page);
  return page != 0 && IsWindow(w) && GetParent(w) == state_->window && (GetWindowLongA(w, GWL_STYLE) & WS_CHILD) != 0;
}

bool PropertiesWindow::Run(uint32_t page, const std::string& caption, const PageCalls& calls,
                           std::optional<HostClick> click) {
  State& s = *state_;
  s.page = AsWindow(page);
  s.calls = &calls;
  s.click = click;
  s.outcome = State::Outcome::Open;
  TCITEMA item{};
  item.mask = TCIF_TEXT;
  std::string text = caption;
  item.pszText = text.data();
  SendMessageA(s.tab, TCM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
  SetWindowPos(s.page, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  s.Layout();
  ShowWindow(s.window, SW_SHOWNORMAL);
  UpdateWindow(s.window);
  SetForegroundWindow(s.window);
  if (HWND first = GetNextDlgTabItem(s.window, nullptr, FALSE)) SetFocus(first);
  if (s.click) SetTimer(s.window, kClickTimer, std::max<UINT>(s.click->delayMs, 1), nullptr);

  while (s.outcome == State::Outcome::Open) {
    MSG msg;
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {
      // Someone ended the thread's loop: close as cancelled and pass the request on.
      PostQuitMessage(static_cast<int>(msg.wParam));
      s.outcome = State::Outcome::Cancelled;
      break;
    }
    if (got < 0) throw std::runtime_error("the folder properties dialog's message loop failed");
    if (!IsDialogMessageA(s.window, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  KillTimer(s.window, kClickTimer);
  ShowWindow(s.window, SW_HIDE);
  s.calls = nullptr;
  s.page = nullptr;
  if (s.failure) std::rethrow_exception(std::exchange(s.failure, nullptr));
  return s.outcome == State::Outcome::Saved;
}

}  // namespace ardmoor
