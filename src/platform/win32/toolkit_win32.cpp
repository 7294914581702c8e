#include "platform/win32/toolkit_win32.h"

#include <commctrl.h>

#include <algorithm>
#include <exception>
#include <utility>

#include "platform/exception.h"

namespace skelder::platform {

namespace {

constexpr const char* kFormClass = "SkelderForm";
constexpr int kFirstControlId = 1000;  // clear of IDOK and IDCANCEL, which mean Enter and Esc
// A pump that never runs dry (a message that posts itself) still returns.
constexpr int kMostMessagesPerPump = 10000;

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ThisModule), &module);
  return module;
}

// Handles cross the host boundary as 32 bits; a window handle's significant bits fit, and the
// value comes back sign-extended as the system does it.
uint32_t ToHandle(HWND hwnd) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(hwnd)); }
HWND ToWindow(uint32_t handle) { return reinterpret_cast<HWND>(static_cast<intptr_t>(static_cast<int32_t>(handle))); }

int classUsers = 0;  // toolkits alive; the class goes with the last

void RegisterFormClass() {
  if (classUsers++ > 0) return;
  static bool controlsReady = false;
  if (!controlsReady) {
    INITCOMMONCONTROLSEX init{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    controlsReady = ::InitCommonControlsEx(&init) != FALSE;
  }
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = ::DefWindowProcA;  // replaced per window once its record exists
  wc.hInstance = ThisModule();
  wc.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kFormClass;
  ::RegisterClassExA(&wc);
}

void UnregisterFormClass() {
  if (--classUsers == 0) ::UnregisterClassA(kFormClass, ThisModule());
}

std::string WindowText(HWND hwnd) {
  const int length = ::GetWindowTextLengthA(hwnd);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  const int got = ::GetWindowTextA(hwnd, text.data(), length + 1);
  text.resize(static_cast<size_t>(std::max(got, 0)));
  return text;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) text += (i ? "\r\n" : "") + lines[i];
  return text;
}

std::vector<std::string> SplitAtLineEnds(const std::string& text) {
  std::vector<std::string> lines;
  if (text.empty()) return lines;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find("\r\n", start);
    lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 2;
  }
  return lines;
}

bool IsContainer(ComponentKind kind) { return kind == ComponentKind::Panel || kind == ComponentKind::Notebook; }

}  // namespace

// What a control shows now, so that only changes go to it: a run over 100,000 files repaints
// once per file.
struct Shown {
  bool fresh = true;
  std::string text;
  std::vector<std::string> items;
  bool visible = false, enabled = true, bold = false, isDefault = false, readOnly = false, checked = false;
  Color color;
  RECT rect{};
  int min = 0, max = 100, position = 0, itemIndex = -1;
  int textWidth = 0;  // a label sized by its text: the text's width, measured when it changes
};

struct Control {
  Component* component = nullptr;
  HWND hwnd = nullptr;
  Shown shown;
};

struct Win32Toolkit::Window {
  Win32Toolkit* toolkit = nullptr;
  Form* form = nullptr;
  HWND hwnd = nullptr;
  bool child = false;
  std::vector<Control> controls;
  std::string caption;
  std::string focused;
  RECT rect{};
  bool pushing = false;  // our own changes echo as notifications: they are not user input
};

// ---- creation --------------------------------------------------------------------------------

Win32Toolkit::Win32Toolkit() {
  RegisterFormClass();
  WatchFormDestruction(*this, true);
}

Win32Toolkit::Win32Toolkit(const Script& script) : Win32Toolkit() {
  scripted_ = true;
  answers_.assign(script.answers.begin(), script.answers.end());
  actions_.assign(script.actions.begin(), script.actions.end());
  for (const auto& [turn, action] : script.injections) injections_.emplace(turn, action);
}

Win32Toolkit::~Win32Toolkit() {
  while (!windows_.empty()) Destroy(*const_cast<Form*>(windows_.begin()->first));
  for (auto& [key, font] : fonts_) ::DeleteObject(font);
  UnregisterFormClass();
  WatchFormDestruction(*this, false);
}

std::unique_ptr<Toolkit> MakeWin32Toolkit(const std::string& scriptText) {
  if (scriptText.empty()) return std::make_unique<Win32Toolkit>();
  return std::make_unique<Win32Toolkit>(ParseScript(scriptText));
}

HFONT Win32Toolkit::Font(const Form& form, bool bold) {
  // Points at 96 pixels per inch, as the forms are laid out in pixels: 8 points is height -11.
  const int height = -::MulDiv(form.fontSize, 96, 72);
  const auto key = std::make_pair(form.fontName, bold ? -height : height);
  auto found = fonts_.find(key);
  if (found != fonts_.end()) return found->second;
  HFONT font = ::CreateFontA(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                             form.fontName.c_str());
  if (!font)
    font = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));  // stock: never deleted
  else
    fonts_[key] = font;
  return font;
}

std::vector<HGDIOBJ> Win32Toolkit::GdiObjects() const {
  std::vector<HGDIOBJ> out;
  for (const auto& [key, font] : fonts_) out.push_back(font);
  return out;
}

Win32Toolkit::Window* Win32Toolkit::Find(const Form& form) const {
  auto found = windows_.find(&form);
  return found == windows_.end() ? nullptr : found->second.get();
}

HWND Win32Toolkit::WindowOf(const Form& form) const {
  Window* w = Find(form);
  return w ? w->hwnd : nullptr;
}

HWND Win32Toolkit::ControlOf(const Form& form, const std::string& component) const {
  Window* w = Find(form);
  if (!w) return nullptr;
  for (const Control& c : w->controls)
    if (c.component->name == component) return c.hwnd;
  return nullptr;
}

uint32_t Win32Toolkit::HandleOf(Form& form) {
  if (HWND hwnd = WindowOf(form)) return ToHandle(hwnd);
  return Toolkit::HandleOf(form);
}

Form* Win32Toolkit::FormOf(uint32_t handle) {
  for (const auto& [form, window] : windows_)
    if (ToHandle(window->hwnd) == handle) return window->form;
  return Toolkit::FormOf(handle);
}

namespace {

DWORD FormStyle(const Form& form, bool child) {
  if (child) return WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  DWORD style = WS_POPUP | WS_CLIPCHILDREN;
  switch (form.borderStyle) {
    case BorderStyle::Sizeable:
      style |= WS_CAPTION | WS_THICKFRAME | (form.borderIcons ? WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX : 0);
      break;
    case BorderStyle::Dialog:
      style |= WS_CAPTION | WS_DLGFRAME | (form.borderIcons ? WS_SYSMENU : 0);
      break;
    case BorderStyle::None:
      break;
  }
  return style;
}

DWORD FormExStyle(const Form& form, bool child) {
  // A page is one stop of its host's Tab order, whose dialog steps into its controls.
  if (child) return WS_EX_CONTROLPARENT;
  return WS_EX_CONTROLPARENT | (form.borderStyle == BorderStyle::Dialog ? WS_EX_DLGMODALFRAME : 0);
}

// The window's rectangle for the form's client area: on the screen's middle when centred.
RECT FormRect(const Form& form, bool child) {
  RECT r{form.left, form.top, form.left + form.clientWidth, form.top + form.clientHeight};
  if (child) return r;
  ::AdjustWindowRectEx(&r, FormStyle(form, false), FALSE, FormExStyle(form, false));
  if (form.centred) {
    const int w = r.right - r.left, h = r.bottom - r.top;
    const int x = (::GetSystemMetrics(SM_CXSCREEN) - w) / 2, y = (::GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    r = RECT{x, y, x + w, y + h};
  }
  return r;
}

struct ControlClass {
  const char* name;
  DWORD style;
  DWORD exStyle;
};

ControlClass ClassOf(const Component& c) {
  switch (c.kind) {
    case ComponentKind::Label:
      return {"STATIC",
              static_cast<DWORD>((c.alignRight ? SS_RIGHT
                                  : c.wordWrap ? SS_LEFT
                                               : SS_LEFTNOWORDWRAP) |
                                 (c.accelChar ? 0 : SS_NOPREFIX)),
              0};
    case ComponentKind::Button:
      return {"BUTTON", static_cast<DWORD>(WS_TABSTOP | (c.isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON)), 0};
    case ComponentKind::CheckBox:
      return {"BUTTON", WS_TABSTOP | BS_AUTOCHECKBOX, 0};
    case ComponentKind::ProgressBar:
      return {PROGRESS_CLASSA, 0, 0};
    case ComponentKind::Memo:
      return {"EDIT",
              static_cast<DWORD>(WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN |
                                 (c.wordWrap ? 0 : ES_AUTOHSCROLL) | (c.verticalScrollBar ? WS_VSCROLL : 0) |
                                 (c.readOnly ? ES_READONLY : 0)),
              static_cast<DWORD>(c.border ? WS_EX_CLIENTEDGE : 0)};
    case ComponentKind::Edit:
      return {"EDIT",
              static_cast<DWORD>(WS_TABSTOP | ES_AUTOHSCROLL | (c.passwordChar ? ES_PASSWORD : 0) |
                                 (c.readOnly ? ES_READONLY : 0)),
              static_cast<DWORD>(c.border ? WS_EX_CLIENTEDGE : 0)};
    case ComponentKind::ListBox:
      return {"LISTBOX", WS_TABSTOP | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL, WS_EX_CLIENTEDGE};
    case ComponentKind::Image:
      return {"STATIC", SS_ICON | SS_CENTERIMAGE, 0};
    case ComponentKind::Panel:
      return {"STATIC", static_cast<DWORD>(c.bottomLine ? SS_OWNERDRAW : 0), 0};
    case ComponentKind::Notebook:
      return {"STATIC", 0, 0};
  }
  return {"STATIC", 0, 0};
}

// Where a component sits in the form's client area, through the panels it sits in.
POINT Origin(const Form& form, const Component& c) {
  POINT p{c.left, c.top};
  const Component* at = &c;
  for (int depth = 0; depth < 16 && !at->parent.empty(); ++depth) {
    at = form.Find(at->parent);
    if (!at) break;
    p.x += at->left;
    p.y += at->top;
  }
  return p;
}

bool Shows(const Form& form, const Component& c) {
  const Component* at = &c;
  for (int depth = 0; depth < 16 && at; ++depth) {
    if (!at->visible || (at->page != -1 && at->page != form.activePage)) return false;
    at = at->parent.empty() ? nullptr : form.Find(at->parent);
  }
  return true;
}

}  // namespace

Win32Toolkit::Window& Win32Toolkit::Create(Form& form, HWND parent, bool child) {
  if (Window* existing = Find(form)) return *existing;
  auto window = std::make_unique<Window>();
  window->toolkit = this;
  window->form = &form;
  window->child = child;
  const RECT r = FormRect(form, child);
  HWND hwnd =
      ::CreateWindowExA(FormExStyle(form, child), kFormClass, form.caption.c_str(), FormStyle(form, child), r.left,
                        r.top, r.right - r.left, r.bottom - r.top, parent, nullptr, ThisModule(), nullptr);
  if (!hwnd) throw Exception("Cannot create the window of " + form.name);
  window->hwnd = hwnd;
  window->caption = form.caption;
  window->rect = r;
  ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window.get()));
  ::SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Win32Toolkit::WindowProc));
  ::SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(Font(form, false)), FALSE);
  Window& w = *window;
  windows_[&form] = std::move(window);
  Sync(w);
  return w;
}

void Win32Toolkit::FormDestroyed(Form& form) { Destroy(form); }

void Win32Toolkit::TakeInput(Form& form) {
  if (Window* w = Find(form)) Pull(*w);
}

FolderBrowser& Win32Toolkit::FolderBrowserBackend() {
  if (!browser_) browser_ = MakeShellFolderBrowser();
  return *browser_;
}

void Win32Toolkit::Destroy(Form& form) {
  auto found = windows_.find(&form);
  if (found == windows_.end()) return;
  std::unique_ptr<Window> window = std::move(found->second);
  windows_.erase(found);
  if (::IsWindow(window->hwnd)) {
    // No message reaches a record that is going away.
    ::SetWindowLongPtrA(window->hwnd, GWLP_USERDATA, 0);
    ::DestroyWindow(window->hwnd);
  }
}

// ---- pushing the model to the windows -------------------------------------------------------

void Win32Toolkit::SyncAll() {
  std::vector<Window*> all;
  for (auto& [form, window] : windows_) all.push_back(window.get());
  for (Window* w : all) Sync(*w);
}

void Win32Toolkit::Sync(Window& w) {
  Form& form = *w.form;
  w.pushing = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{w.pushing};

  if (form.caption != w.caption) {
    ::SetWindowTextA(w.hwnd, form.caption.c_str());
    w.caption = form.caption;
  }
  const RECT r = FormRect(form, w.child);
  // A centred top-level window stays where it was put; a page follows the host's placing.
  if (w.child && !::EqualRect(&r, &w.rect)) {
    ::MoveWindow(w.hwnd, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
    w.rect = r;
  }

  const auto& components = form.Components();
  // Components added after the window was made (the property dialog's OK and Cancel) get
  // controls too.
  bool created = false;
  for (size_t i = w.controls.size(); i < components.size(); ++i) {
    Component& c = *components[i];
    const ControlClass cls = ClassOf(c);
    HWND hwnd =
        ::CreateWindowExA(cls.exStyle, cls.name, "", WS_CHILD | WS_CLIPSIBLINGS | cls.style, 0, 0, 0, 0, w.hwnd,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + i)), ThisModule(), nullptr);
    if (!hwnd) throw Exception("Cannot create the control " + c.name + " of " + form.name);
    ::SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(Font(form, c.bold)), FALSE);
    if (c.kind == ComponentKind::Image)
      ::SendMessageA(hwnd, STM_SETICON,
                     reinterpret_cast<WPARAM>(::LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION))), 0);
    w.controls.push_back(Control{&c, hwnd, {}});
    created = true;
  }
  // Areas lie under everything placed on them, an area inside another above that one: going
  // backwards, each goes to the bottom, so the first (outermost) ends lowest.
  if (created) {
    for (auto it = w.controls.rbegin(); it != w.controls.rend(); ++it)
      if (IsContainer(it->component->kind))
        ::SetWindowPos(it->hwnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  // A label's access key moves the focus to the next stop after it in the window order: each
  // label that names a control goes just before it.
  for (const Control& control : w.controls) {
    const std::string& target = control.component->focusControl;
    HWND to = created && !target.empty() ? ControlOf(form, target) : nullptr;
    if (!to) continue;
    HWND before = ::GetWindow(to, GW_HWNDPREV);
    ::SetWindowPos(control.hwnd, before ? before : HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }

  for (Control& control : w.controls) {
    Component& c = *control.component;
    Shown& s = control.shown;
    HWND h = control.hwnd;
    const bool fresh = s.fresh;
    s.fresh = false;
    bool remeasure = fresh;

    switch (c.kind) {
      case ComponentKind::Label:
      case ComponentKind::Button:
      case ComponentKind::CheckBox:
      case ComponentKind::Edit:
        if (fresh || c.caption != s.text) {
          ::SetWindowTextA(h, c.caption.c_str());
          s.text = c.caption;
          remeasure = true;
        }
        break;
      case ComponentKind::Memo: {
        std::string text = JoinLines(c.lines);
        if (fresh || text != s.text) {
          ::SetWindowTextA(h, text.c_str());
          s.text = std::move(text);
        }
        break;
      }
      case ComponentKind::ListBox:
        if (fresh || c.lines != s.items) {
          ::SendMessageA(h, LB_RESETCONTENT, 0, 0);
          for (const auto& line : c.lines) ::SendMessageA(h, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
          s.items = c.lines;
          s.itemIndex = -2;  // set again below
        }
        if (c.itemIndex != s.itemIndex) {
          ::SendMessageA(h, LB_SETCURSEL, static_cast<WPARAM>(c.itemIndex), 0);
          s.itemIndex = c.itemIndex;
        }
        break;
      case ComponentKind::ProgressBar:
        // The control holds the range as 32-bit numbers, as wide as the component's.
        if (fresh || c.min != s.min || c.max != s.max) {
          ::SendMessageA(h, PBM_SETRANGE32, static_cast<WPARAM>(c.min), static_cast<LPARAM>(c.max));
          s.min = c.min;
          s.max = c.max;
          s.position = INT32_MIN;
        }
        if (c.position != s.position) {
          ::SendMessageA(h, PBM_SETPOS, static_cast<WPARAM>(c.position), 0);
          s.position = c.position;
        }
        break;
      default:
        break;
    }
    if (c.kind == ComponentKind::CheckBox && (fresh || c.checked != s.checked)) {
      ::SendMessageA(h, BM_SETCHECK, c.checked ? BST_CHECKED : BST_UNCHECKED, 0);
      s.checked = c.checked;
    }
    if (c.kind == ComponentKind::Button && (fresh || c.isDefault != s.isDefault)) {
      ::SendMessageA(h, BM_SETSTYLE, c.isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
      s.isDefault = c.isDefault;
    }
    if ((c.kind == ComponentKind::Memo || c.kind == ComponentKind::Edit) && (fresh || c.readOnly != s.readOnly)) {
      ::SendMessageA(h, EM_SETREADONLY, c.readOnly, 0);
      s.readOnly = c.readOnly;
    }
    if (fresh || c.bold != s.bold) {
      ::SendMessageA(h, WM_SETFONT, reinterpret_cast<WPARAM>(Font(form, c.bold)), TRUE);
      s.bold = c.bold;
      remeasure = true;
    }
    if (fresh || !(c.fontColor == s.color)) {
      s.color = c.fontColor;
      ::InvalidateRect(h, nullptr, TRUE);
    }

    POINT at = Origin(form, c);
    int width = c.width, height = c.height;
    if (c.kind == ComponentKind::Label && (width == 0 || !c.wordWrap)) {
      // A label without a width is as wide as its text, one line high; one with a width never
      // cuts its text (the width was made for the designed face; a substitute may be wider):
      // it grows to the right, or, right-aligned, to the left.
      if (remeasure) {
        HDC dc = ::GetDC(h);
        HGDIOBJ old = ::SelectObject(dc, Font(form, c.bold));
        // As the label draws it: an access-key "&" takes no room.
        RECT box{0, 0, 0, 0};
        ::DrawTextA(dc, c.caption.c_str(), static_cast<int>(c.caption.size()), &box,
                    DT_CALCRECT | DT_SINGLELINE | (c.accelChar ? 0 : DT_NOPREFIX));
        ::SelectObject(dc, old);
        ::ReleaseDC(h, dc);
        s.textWidth = box.right - box.left;
      }
      if (width == 0) {
        width = s.textWidth;
      } else if (s.textWidth > width) {
        if (c.alignRight) at.x -= s.textWidth - width;
        width = s.textWidth;
      }
      if (height == 0) height = 13;
    }
    const RECT want{at.x, at.y, at.x + width, at.y + height};
    if (fresh || !::EqualRect(&want, &s.rect)) {
      ::MoveWindow(h, want.left, want.top, width, height, TRUE);
      s.rect = want;
    }
    if (fresh || c.enabled != s.enabled) {
      ::EnableWindow(h, c.enabled);
      s.enabled = c.enabled;
    }
    const bool visible = Shows(form, c);
    if (fresh || visible != s.visible) {
      ::ShowWindow(h, visible ? SW_SHOWNA : SW_HIDE);
      s.visible = visible;
    }
  }

  if (form.focused != w.focused) {
    w.focused = form.focused;
    if (HWND target = ControlOf(form, form.focused); target && ::IsWindowVisible(w.hwnd)) ::SetFocus(target);
  }
}

// ---- pulling the user's input back -----------------------------------------------------------

void Win32Toolkit::Pull(Window& w) {
  HWND focus = ::GetFocus();
  for (Control& control : w.controls) {
    Component& c = *control.component;
    Shown& s = control.shown;
    switch (c.kind) {
      case ComponentKind::Edit:
        s.text = c.caption = WindowText(control.hwnd);
        break;
      case ComponentKind::Memo:
        if (!c.readOnly) {
          s.text = WindowText(control.hwnd);
          c.lines = SplitAtLineEnds(s.text);
        }
        break;
      case ComponentKind::ListBox:
        s.itemIndex = c.itemIndex = static_cast<int>(::SendMessageA(control.hwnd, LB_GETCURSEL, 0, 0));
        break;
      case ComponentKind::CheckBox:
        s.checked = c.checked = ::SendMessageA(control.hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED;
        break;
      default:
        break;
    }
    if (focus == control.hwnd) w.focused = w.form->focused = c.name;
  }
}

// ---- messages --------------------------------------------------------------------------------

LRESULT CALLBACK Win32Toolkit::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* window = reinterpret_cast<Window*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!window) return ::DefWindowProcA(hwnd, message, wParam, lParam);
  // An exception never unwinds through the system's code: it waits at the window procedure and
  // goes on from the loop that dispatched the message.
  try {
    return window->toolkit->Handle(*window, message, wParam, lParam);
  } catch (...) {
    if (!window->toolkit->failure_) window->toolkit->failure_ = std::current_exception();
    return 0;
  }
}

LRESULT Win32Toolkit::Handle(Window& w, UINT message, WPARAM wParam, LPARAM lParam) {
  Form& form = *w.form;
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      const int code = HIWORD(wParam);
      if (w.pushing) return 0;
      if (id == IDOK || id == IDCANCEL) {
        Pull(w);
        if (id == IDOK)
          form.PressEnter();
        else
          form.PressEscape();
        SyncAll();
        return 0;
      }
      const size_t index = static_cast<size_t>(id - kFirstControlId);
      if (id < kFirstControlId || index >= w.controls.size()) break;
      Control& control = w.controls[index];
      Component& c = *control.component;
      if (c.kind == ComponentKind::Edit || c.kind == ComponentKind::Memo) {
        if (code == EN_CHANGE) Pull(w);
        return 0;
      }
      if (c.kind == ComponentKind::ListBox) {
        if (code == LBN_SELCHANGE) Pull(w);
        return 0;
      }
      if ((c.kind == ComponentKind::Button || c.kind == ComponentKind::CheckBox) && code == BN_CLICKED) {
        Pull(w);
        // What a user cannot click does nothing, whatever message arrives.
        if (!c.enabled || !Shows(form, c)) return 0;
        c.Click();
        SyncAll();
        return 0;
      }
      break;
    }
    case WM_CLOSE:
      // The close box is Esc where the form has one; a form without one is closed by its buttons.
      if (!w.child && form.borderIcons) {
        Pull(w);
        if (!form.PressEscape() && !modal_.empty() && modal_.back() == &form) form.modalResult = mrCancel;
        SyncAll();
      }
      return 0;
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      for (const Control& control : w.controls) {
        if (control.hwnd != reinterpret_cast<HWND>(lParam)) continue;
        const Color& color = control.component->fontColor;
        ::SetTextColor(dc, RGB(color.r, color.g, color.b));
        break;
      }
      // Labels and the read-only memo sit on the dialog's colour.
      ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      RECT r = item->rcItem;
      ::FillRect(item->hDC, &r, ::GetSysColorBrush(COLOR_BTNFACE));
      ::DrawEdge(item->hDC, &r, EDGE_ETCHED, BF_BOTTOM);
      return TRUE;
    }
    case WM_NEXTDLGCTL: {
      // The dialog rules move the focus with this (a label's access key, Tab): a dialog's own
      // handling, which a window of ours does not get from the system.
      HWND to = LOWORD(lParam) ? reinterpret_cast<HWND>(wParam)
                               : ::GetNextDlgTabItem(w.hwnd, ::GetFocus(), wParam != 0 ? TRUE : FALSE);
      if (to) ::SetFocus(to);
      return 0;
    }
    case WM_SETCURSOR:
      if (cursor_ == Cursor::HourGlass) {
        ::SetCursor(::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_WAIT)));
        return TRUE;
      }
      break;
    default:
      break;
  }
  return ::DefWindowProcA(w.hwnd, message, wParam, lParam);
}

// Keys go through the dialog rules of the form they are meant for (Tab, Enter, Esc, access
// keys); everything else is dispatched. False for WM_QUIT, which is left to the caller.
bool Win32Toolkit::Dispatch(MSG& msg) {
  if (msg.message == WM_QUIT) return false;
  if (msg.hwnd) {
    for (auto& [form, window] : windows_) {
      if (window->child) continue;  // the host's own loop runs its dialog's rules over a page
      if (msg.hwnd == window->hwnd || ::IsChild(window->hwnd, msg.hwnd)) {
        if (::IsDialogMessageA(window->hwnd, &msg)) return true;
        break;
      }
    }
  }
  ::TranslateMessage(&msg);
  ::DispatchMessageA(&msg);
  return true;
}

// A turn of message processing: injections due at it go to the topmost modal form as real
// messages, which the turn then handles, and the model's changes go to the windows first.
void Win32Toolkit::BeginTurn() {
  ++turn_;
  auto range = injections_.equal_range(turn_);
  std::vector<ScriptAction> due;
  for (auto it = range.first; it != range.second; ++it) due.push_back(it->second);
  injections_.erase(range.first, range.second);
  for (const ScriptAction& action : due) {
    if (modal_.empty())
      errors_.push_back("at " + std::to_string(turn_) + " " + ToString(action) + ": no modal form is shown");
    else
      Play(*modal_.back(), action);
  }
  SyncAll();
}

// WM_QUIT inside a handler: the host's loop must still see it, after our modal loops end.
void Win32Toolkit::KeepQuit(WPARAM code) {
  if (modal_.empty()) {
    ::PostQuitMessage(static_cast<int>(code));
  } else {
    quit_ = true;
    quitCode_ = code;
  }
}

void Win32Toolkit::ProcessMessages() {
  BeginTurn();
  MSG msg;
  for (int n = 0; n < kMostMessagesPerPump && ::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++n) {
    if (!Dispatch(msg)) {
      KeepQuit(msg.wParam);
      break;
    }
    RethrowFailure();
  }
}

void Win32Toolkit::ProcessOneMessage() {
  BeginTurn();
  MSG msg;
  if (!::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) return;
  if (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) && !Dispatch(msg)) KeepQuit(msg.wParam);
  RethrowFailure();
}

void Win32Toolkit::RethrowFailure() {
  if (!failure_) return;
  std::exception_ptr failure = std::exchange(failure_, nullptr);
  std::rethrow_exception(failure);
}

void Win32Toolkit::Repaint(Form& form) {
  Window* w = Find(form);
  if (!w) return;
  Sync(*w);
  ::RedrawWindow(w->hwnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

uint32_t Win32Toolkit::ShowAsChild(Form& form, uint32_t parentWindow) {
  HWND parent = ToWindow(parentWindow);
  // A host without windows of its own passes an id: the form then has an id, not a window.
  if (!parentWindow || !::IsWindow(parent)) return Toolkit::HandleOf(form);
  Window& w = Create(form, parent, true);
  ::ShowWindow(w.hwnd, SW_SHOW);
  w.focused.clear();
  Sync(w);
  return ToHandle(w.hwnd);
}

int Win32Toolkit::ShowModal(Form& form) {
  form.modalResult = mrNone;
  // The owner is the window the user was working in: the host's, or the form below this one.
  HWND owner = ::GetActiveWindow();
  if (!owner && !modal_.empty()) owner = WindowOf(*modal_.back());
  if (owner) owner = ::GetAncestor(owner, GA_ROOT);
  Window& w = Create(form, owner, false);
  HWND hwnd = w.hwnd;
  modal_.push_back(&form);
  struct Leave {
    Win32Toolkit& toolkit;
    Form& form;
    HWND owner;
    bool ownerWasEnabled;
    ~Leave() {
      toolkit.modal_.pop_back();
      // The owner comes back before the form goes, so that it is the one activated.
      if (owner && ownerWasEnabled) ::EnableWindow(owner, TRUE);
      toolkit.Destroy(form);
      if (toolkit.quit_ && toolkit.modal_.empty()) {
        toolkit.quit_ = false;
        ::PostQuitMessage(static_cast<int>(toolkit.quitCode_));
      }
    }
  } leave{*this, form, owner, owner && ::IsWindowEnabled(owner)};
  if (owner) ::EnableWindow(owner, FALSE);

  if (form.onShow) form.onShow();
  w.focused.clear();  // the form's focus goes to its control once the window shows
  ::ShowWindow(hwnd, SW_SHOW);
  ::SetForegroundWindow(hwnd);
  Sync(w);
  ::UpdateWindow(hwnd);
  if (onModalShown) onModalShown(form);

  while (form.modalResult == mrNone && !quit_) {
    MSG msg;
    if (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (!Dispatch(msg)) {
        quit_ = true;
        quitCode_ = msg.wParam;
      }
      RethrowFailure();  // a handler's error ends the form as it would end a scripted one
      continue;
    }
    // Idle: the script's next action, as real messages; without one the user has the window.
    if (!actions_.empty()) {
      ScriptAction action = actions_.front();
      actions_.pop_front();
      Play(form, action);
      continue;
    }
    ::WaitMessage();
  }
  if (form.modalResult == mrNone) form.modalResult = mrCancel;
  return form.modalResult;
}

bool Win32Toolkit::RunPropertyPage(Form& page) {
  // A host without a window of its own: the page gets a dialog frame of its own while it runs.
  struct Frame {
    Form& page;
    BorderStyle borderStyle;
    bool borderIcons, centred;
    ~Frame() {
      page.borderStyle = borderStyle;
      page.borderIcons = borderIcons;
      page.centred = centred;
    }
  } frame{page, page.borderStyle, page.borderIcons, page.centred};
  page.borderStyle = BorderStyle::Dialog;
  page.borderIcons = true;
  page.centred = true;
  return Toolkit::RunPropertyPage(page);
}

// ---- message boxes, beeps, the cursor --------------------------------------------------------

namespace {

// The answer a script gives the box being opened on this thread, pressed by the CBT hook once
// the box is active.
struct PendingBox {
  bool pending = false;
  int button = 0;
  std::string seen;
};
thread_local PendingBox* pendingBox = nullptr;

LRESULT CALLBACK AnswerBoxHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE && pendingBox && pendingBox->pending) {
    HWND box = reinterpret_cast<HWND>(wParam);
    char cls[16] = {};
    ::GetClassNameA(box, cls, sizeof cls);
    if (std::string(cls) == "#32770") {
      pendingBox->pending = false;
      // The text as the box shows it: the static of id 0xFFFF.
      HWND text = ::GetDlgItem(box, 0xFFFF);
      pendingBox->seen = text ? WindowText(text) : std::string();
      if (HWND button = ::GetDlgItem(box, pendingBox->button))
        ::PostMessageA(button, BM_CLICK, 0, 0);
      else
        ::PostMessageA(box, WM_COMMAND, static_cast<WPARAM>(pendingBox->button), 0);
    }
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

int ButtonId(MessageAnswer answer) {
  switch (answer) {
    case MessageAnswer::Ok:
      return IDOK;
    case MessageAnswer::Cancel:
      return IDCANCEL;
    case MessageAnswer::Yes:
      return IDYES;
    case MessageAnswer::No:
      return IDNO;
  }
  return IDCANCEL;
}

}  // namespace

MessageAnswer Win32Toolkit::ShowMessageBox(const std::string& text, const std::string& caption, MessageIcon icon,
                                           MessageButtons buttons) {
  UINT type = buttons == MessageButtons::YesNo ? MB_YESNO : buttons == MessageButtons::OkCancel ? MB_OKCANCEL : MB_OK;
  switch (icon) {
    case MessageIcon::None:
      break;
    case MessageIcon::Error:
      type |= MB_ICONHAND;
      break;
    case MessageIcon::Warning:
      type |= MB_ICONEXCLAMATION;
      break;
    case MessageIcon::Question:
      type |= MB_ICONQUESTION;
      break;
    case MessageIcon::Information:
      type |= MB_ICONASTERISK;
      break;
  }
  const MessageAnswer safe = buttons == MessageButtons::YesNo      ? MessageAnswer::No
                             : buttons == MessageButtons::OkCancel ? MessageAnswer::Cancel
                                                                   : MessageAnswer::Ok;
  SyncAll();
  HWND owner = ::GetActiveWindow();
  if (!owner && !modal_.empty()) owner = WindowOf(*modal_.back());

  PendingBox box;
  HHOOK hook = nullptr;
  if (scripted_) {
    // A loaded script answers every box: its next answer when it fits, else the safe one.
    MessageAnswer answer = safe;
    if (!answers_.empty()) {
      answer = answers_.front();
      answers_.pop_front();
      const bool fits = buttons == MessageButtons::YesNo ? (answer == MessageAnswer::Yes || answer == MessageAnswer::No)
                        : buttons == MessageButtons::OkCancel
                            ? (answer == MessageAnswer::Ok || answer == MessageAnswer::Cancel)
                            : answer == MessageAnswer::Ok;
      if (!fits) {
        errors_.push_back("answer " + ToString(answer) + " does not fit a " + ToString(buttons) + " box: " + text);
        answer = safe;
      }
    }
    box.pending = true;
    box.button = ButtonId(answer);
    pendingBox = &box;
    hook = ::SetWindowsHookExA(WH_CBT, AnswerBoxHook, nullptr, ::GetCurrentThreadId());
  }
  const int result = ::MessageBoxA(owner, text.c_str(), caption.c_str(), type);
  if (hook) {
    ::UnhookWindowsHookEx(hook);
    pendingBox = nullptr;
    answeredBoxes_.push_back(box.seen);
  }
  switch (result) {
    case IDOK:
      return MessageAnswer::Ok;
    case IDCANCEL:
      return MessageAnswer::Cancel;
    case IDYES:
      return MessageAnswer::Yes;
    case IDNO:
      return MessageAnswer::No;
    default:
      return safe;  // the box could not be shown: nothing was agreed to
  }
}

void Win32Toolkit::Beep(BeepKind kind) {
  switch (kind) {
    case BeepKind::Default:
      ::MessageBeep(MB_OK);
      break;
    case BeepKind::Exclamation:
      ::MessageBeep(MB_ICONEXCLAMATION);
      break;
    case BeepKind::Error:
      ::MessageBeep(MB_ICONHAND);
      break;
    case BeepKind::Question:
      ::MessageBeep(MB_ICONQUESTION);
      break;
  }
}

void Win32Toolkit::SetCursor(Cursor cursor) {
  cursor_ = cursor;
  // At once on the whole screen; our windows keep it while the mouse moves (WM_SETCURSOR).
  ::SetCursor(::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(cursor == Cursor::HourGlass ? IDC_WAIT : IDC_ARROW)));
}

void Win32Toolkit::NudgeMouse() {
  POINT p;
  if (!::GetCursorPos(&p)) return;
  ::SetCursorPos(p.x + 1, p.y);
  ::SetCursorPos(p.x, p.y);
}

// ---- playing a script on the windows ---------------------------------------------------------

void Win32Toolkit::Play(Form& form, const ScriptAction& action) {
  using K = ScriptAction::Kind;
  // A typed text may be a password: what a failure says names the box, not the text.
  const std::string what = action.kind == K::SetText ? "set " + action.component : ToString(action);
  Window* w = Find(form);
  if (!w) return errors_.push_back(what + ": " + form.name + " has no window");
  Control* control = nullptr;
  if (action.kind != K::PressEnter && action.kind != K::PressEscape) {
    for (Control& c : w->controls)
      if (c.component->name == action.component) control = &c;
    if (!control) return errors_.push_back(what + ": no component " + action.component + " on " + form.name);
  }
  switch (action.kind) {
    case K::Click: {
      const Component& c = *control->component;
      if (!c.enabled || !Shows(form, c)) return errors_.push_back(what + ": " + c.name + " is not clickable now");
      ::PostMessageA(control->hwnd, BM_CLICK, 0, 0);
      return;
    }
    case K::PressEnter:
    case K::PressEscape: {
      // To the control with the focus, as a keyboard would; the dialog rules turn it into the
      // default or cancel button's click.
      HWND focus = ::GetFocus();
      HWND target = focus && (focus == w->hwnd || ::IsChild(w->hwnd, focus)) ? focus : w->hwnd;
      const WPARAM key = action.kind == K::PressEnter ? VK_RETURN : VK_ESCAPE;
      const UINT scan = ::MapVirtualKeyA(static_cast<UINT>(key), 0);
      ::PostMessageA(target, WM_KEYDOWN, key, static_cast<LPARAM>(1 | (scan << 16)));
      ::PostMessageA(target, WM_KEYUP, key, static_cast<LPARAM>(1 | (scan << 16) | 0xC0000000u));
      return;
    }
    case K::SetText:
      // Text cannot be posted (its memory is ours); sent, the control notifies as for typing.
      ::SendMessageA(control->hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(action.text.c_str()));
      break;
    case K::AppendLine: {
      if (control->component->kind == ComponentKind::ListBox) {
        control->component->lines.push_back(action.text);
        Sync(*w);
        return;
      }
      const int length = ::GetWindowTextLengthA(control->hwnd);
      const std::string added = (length ? "\r\n" : "") + action.text;
      ::SendMessageA(control->hwnd, EM_SETSEL, static_cast<WPARAM>(length), static_cast<LPARAM>(length));
      ::SendMessageA(control->hwnd, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(added.c_str()));
      break;
    }
    case K::Select: {
      const Component& c = *control->component;
      int index = action.index;
      if (!action.text.empty()) {
        auto found = std::find(c.lines.begin(), c.lines.end(), action.text);
        if (found == c.lines.end()) return errors_.push_back(what + ": no such item");
        index = static_cast<int>(found - c.lines.begin());
      }
      if (index < 0 || static_cast<size_t>(index) >= c.lines.size())
        return errors_.push_back(what + ": item index out of range");
      ::SendMessageA(control->hwnd, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
      break;
    }
    case K::SetChecked:
      ::SendMessageA(control->hwnd, BM_SETCHECK, action.checked ? BST_CHECKED : BST_UNCHECKED, 0);
      break;
  }
  Pull(*w);  // what the control holds now is the user's input
}

}  // namespace skelder::platform
