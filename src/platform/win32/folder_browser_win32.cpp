// The shell's folder browser behind the browser seam. The seam's item ids are 32 bits while an
// item id list is a pointer, so the ids a caller sees index a table of the lists; the window is
// the shell's own dialog, with its message handler replaced while a handler is attached.
#include <windows.h>
// windows.h first: the shell headers need its types.
#include <objbase.h>
#include <shlobj.h>

#include <exception>
#include <map>
#include <optional>
#include <string>

#include "platform/folder_browser.h"

namespace skelder::platform {

namespace {

// Window handles cross the seam as 32 bits; the system keeps them within 32 bits on x86_64 too
// and widens them by sign extension.
HWND ToHwnd(uint32_t window) { return reinterpret_cast<HWND>(static_cast<intptr_t>(static_cast<int32_t>(window))); }
uint32_t FromHwnd(HWND window) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window)); }

// The property that ties the browser's window to the object that replaced its handler. The
// window's user data is the caller's (SetUserData), so it cannot serve.
constexpr char kWindowProperty[] = "Skelder.FolderBrowserWindow";

// COM in an apartment on the calling thread for one browse, as the shell wants it; a thread
// that already has COM keeps it as it is.
class ComApartment {
 public:
  ComApartment() {
    HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    initialised_ = hr == S_OK || hr == S_FALSE;  // S_FALSE: already initialised, still counted
  }
  ~ComApartment() {
    if (initialised_) ::CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool initialised_ = false;
};

// Item id lists by 32-bit id. Lists the shell hands to the callback are borrowed for the call
// only and never freed here; every other list is ours and freed once, by FreeItem.
class PidlTable {
 public:
  PidlTable() = default;
  PidlTable(const PidlTable&) = delete;
  PidlTable& operator=(const PidlTable&) = delete;
  ~PidlTable() {
    for (auto& [id, entry] : entries_)
      if (entry.owned) ::CoTaskMemFree(entry.pidl);
  }

  ItemIdList Own(PIDLIST_ABSOLUTE pidl) {
    if (!pidl) return 0;
    try {
      return Insert(pidl, true);
    } catch (...) {
      ::CoTaskMemFree(pidl);
      throw;
    }
  }
  ItemIdList Borrow(PCIDLIST_ABSOLUTE pidl) { return pidl ? Insert(const_cast<PIDLIST_ABSOLUTE>(pidl), false) : 0; }
  void Return(ItemIdList id) {
    auto it = entries_.find(id);
    if (it != entries_.end() && !it->second.owned) entries_.erase(it);
  }
  void Free(ItemIdList id) {
    auto it = entries_.find(id);
    // A borrowed list is the shell's: it goes when the callback that lent it returns.
    if (it == entries_.end() || !it->second.owned) return;
    ::CoTaskMemFree(it->second.pidl);
    entries_.erase(it);
  }
  PCIDLIST_ABSOLUTE Find(ItemIdList id) const {
    auto it = entries_.find(id);
    return it == entries_.end() ? nullptr : it->second.pidl;
  }
  size_t Count() const { return entries_.size(); }

 private:
  struct Entry {
    PIDLIST_ABSOLUTE pidl = nullptr;
    bool owned = false;
  };
  ItemIdList Insert(PIDLIST_ABSOLUTE pidl, bool owned) {
    while (next_ == 0 || entries_.count(next_)) ++next_;
    ItemIdList id = next_++;
    entries_.emplace(id, Entry{pidl, owned});
    return id;
  }
  std::map<ItemIdList, Entry> entries_;
  ItemIdList next_ = 0x100;
};

// The shell's browser window while one browse runs.
class ShellBrowserWindow : public FolderBrowserWindow {
 public:
  explicit ShellBrowserWindow(HWND window) : window_(window) {}
  ~ShellBrowserWindow() override { Unsubclass(); }
  ShellBrowserWindow(const ShellBrowserWindow&) = delete;
  ShellBrowserWindow& operator=(const ShellBrowserWindow&) = delete;

  uint32_t Handle() const override { return FromHwnd(window_); }

  void SetSelection(const std::string& path) override {
    // Wine's browser now and then drops the first request of a process (its tree still being
    // filled); a request that changed nothing is made once more, which is harmless when the
    // folder was already selected.
    for (int attempt = 0; attempt < 2; ++attempt) {
      const unsigned before = selectionChanges_;
      ::SendMessageA(window_, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(path.c_str()));
      if (selectionChanges_ != before) break;
    }
  }
  // The shell reported a new selection.
  void SelectionChanged() { ++selectionChanges_; }
  void SetStatusText(const std::string& text) override {
    ::SendMessageA(window_, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  void EnableOk(bool enabled) override { ::SendMessageA(window_, BFFM_ENABLEOK, 0, enabled ? TRUE : FALSE); }

  uint32_t CreateButton(int controlId, int left, int top, int width, int height, const std::string& caption,
                        uint32_t buttonStyle) override {
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP | buttonStyle;
    HWND button = ::CreateWindowExA(0, "BUTTON", caption.c_str(), style, left, top, width, height, window_,
                                    reinterpret_cast<HMENU>(static_cast<intptr_t>(controlId)),
                                    reinterpret_cast<HINSTANCE>(::GetWindowLongPtrA(window_, GWLP_HINSTANCE)), nullptr);
    if (!button) return 0;
    ::SendMessageA(button, WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), TRUE);
    return FromHwnd(button);
  }
  bool IsWindow(uint32_t window) const override { return window != 0 && ::IsWindow(ToHwnd(window)); }
  void EnableWindow(uint32_t window, bool enabled) override { ::EnableWindow(ToHwnd(window), enabled ? TRUE : FALSE); }
  void SetControlText(uint32_t window, const std::string& text) override {
    ::SetWindowTextA(ToHwnd(window), text.c_str());
  }
  void CheckDlgButton(int controlId, bool checked) override {
    ::CheckDlgButton(window_, controlId, checked ? BST_CHECKED : BST_UNCHECKED);
  }
  bool IsDlgButtonChecked(int controlId) const override {
    return ::IsDlgButtonChecked(window_, controlId) == BST_CHECKED;
  }

  void SetUserData(void* data) override {
    ::SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(data));
  }
  void* UserData() const override { return reinterpret_cast<void*>(::GetWindowLongPtrA(window_, GWLP_USERDATA)); }

  void SetMessageHandler(FolderBrowserMessageHandler* handler) override {
    handler_ = handler;
    if (handler && !original_) {
      ::SetPropA(window_, kWindowProperty, this);
      original_ = reinterpret_cast<WNDPROC>(
          ::SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ShellBrowserWindow::Procedure)));
    }
  }
  void DefaultHandling(const BrowserMessage&) override {
    // The message the handler was given, passed on whole to the browser's own handler.
    if (!current_ || current_->passedOn) return;
    current_->passedOn = true;
    current_->result = ::CallWindowProcA(original_, window_, current_->message, current_->wParam, current_->lParam);
  }

  WindowRect GetWindowRect() const override {
    RECT r{};
    ::GetWindowRect(window_, &r);
    return WindowRect{r.left, r.top, r.right, r.bottom};
  }
  void SetWindowPos(int left, int top) override {
    ::SetWindowPos(window_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  void PressEscape() override {
    // A key pressed goes to the foreground window's thread. When the browser is not in front
    // (another program took the foreground meanwhile) the key would close that program's window,
    // so the browser gets what its dialog makes of Escape instead, the cancel command, posted, so
    // it closes after the message being handled now just as with the key. Wine's null driver
    // delivers the key to a browser in front.
    if (::GetForegroundWindow() == window_) {
      ::keybd_event(VK_ESCAPE, 0, 0, 0);
      ::keybd_event(VK_ESCAPE, 0, KEYEVENTF_KEYUP, 0);
    } else {
      ::PostMessageA(window_, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(::GetDlgItem(window_, IDCANCEL)));
    }
  }

  // A failure in the caller's code, kept until the browse returns: it must not unwind through
  // the shell's frames. The browser closes without a choice.
  void Fail(std::exception_ptr error) {
    if (!error_) error_ = error;
    ::PostMessageA(window_, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  }
  std::exception_ptr Error() const { return error_; }

 private:
  struct Current {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool passedOn = false;
    LRESULT result = 0;
  };

  void Unsubclass() {
    if (!original_) return;
    if (::IsWindow(window_)) {
      ::SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original_));
      ::RemovePropA(window_, kWindowProperty);
    }
    original_ = nullptr;
  }

  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC original = original_;
    if (message == WM_NCDESTROY) {
      Unsubclass();
      return ::CallWindowProcA(original, window_, message, wParam, lParam);
    }
    if (!handler_) return ::CallWindowProcA(original, window_, message, wParam, lParam);
    BrowserMessage seen;
    if (message == WM_COMMAND) {
      seen.kind = BrowserMessage::Command;
      seen.controlId = LOWORD(wParam);
    }
    Current current{message, wParam, lParam};
    Current* outer = current_;
    current_ = &current;
    try {
      handler_->HandleBrowserMessage(*this, seen);
    } catch (...) {
      Fail(std::current_exception());
    }
    current_ = outer;
    return current.result;
  }

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = static_cast<ShellBrowserWindow*>(::GetPropA(window, kWindowProperty));
    if (!self) return ::DefWindowProcA(window, message, wParam, lParam);
    return self->Handle(message, wParam, lParam);
  }

  HWND window_;
  FolderBrowserMessageHandler* handler_ = nullptr;
  WNDPROC original_ = nullptr;
  Current* current_ = nullptr;
  std::exception_ptr error_;
  unsigned selectionChanges_ = 0;
};

class ShellFolderBrowser : public FolderBrowser {
 public:
  ItemIdList BrowseForFolder(BrowseInfo& info) override {
    ComApartment com;
    char displayName[MAX_PATH] = {};
    Browse browse{*this, info, std::nullopt};
    BROWSEINFOA block{};
    block.hwndOwner = ToHwnd(info.owner);
    block.pidlRoot = items_.Find(info.root);
    block.pszDisplayName = displayName;
    block.lpszTitle = info.title.c_str();
    block.ulFlags = info.flags;
    block.lpfn = &ShellFolderBrowser::Callback;
    block.lParam = reinterpret_cast<LPARAM>(&browse);
    block.iImage = 0;
    ItemIdList chosen = items_.Own(::SHBrowseForFolderA(&block));
    info.displayName = displayName;
    info.image = block.iImage;
    std::exception_ptr error = browse.window ? browse.window->Error() : nullptr;
    if (error) {
      items_.Free(chosen);
      std::rethrow_exception(error);
    }
    return chosen;
  }

  std::optional<std::string> PathFromIDList(ItemIdList item) override {
    PCIDLIST_ABSOLUTE pidl = items_.Find(item);
    char path[MAX_PATH] = {};
    if (!pidl || !::SHGetPathFromIDListA(pidl, path)) return std::nullopt;
    return std::string(path);
  }

  ItemIdList SpecialFolderLocation(int csidl) override {
    PIDLIST_ABSOLUTE pidl = nullptr;
    if (FAILED(::SHGetSpecialFolderLocation(nullptr, csidl, &pidl))) return 0;
    return items_.Own(pidl);
  }

  void FreeItem(ItemIdList item) override { items_.Free(item); }

  std::pair<int, int> ScreenSize() const override {
    return {::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  }

  size_t LiveItems() const override { return items_.Count(); }

 private:
  struct Browse {
    ShellFolderBrowser& browser;
    BrowseInfo& info;
    std::optional<ShellBrowserWindow> window;
  };

  static int CALLBACK Callback(HWND window, UINT message, LPARAM lParam, LPARAM data) {
    auto& browse = *reinterpret_cast<Browse*>(data);
    if (!browse.window) browse.window.emplace(window);
    FolderBrowserCallback* callback = browse.info.callback;
    if (!callback) return 0;
    try {
      if (message == BFFM_INITIALIZED) {
        callback->BrowserInitialized(*browse.window);
      } else if (message == BFFM_SELCHANGED) {
        browse.window->SelectionChanged();
        PidlTable& items = browse.browser.items_;
        ItemIdList item = items.Borrow(reinterpret_cast<PCIDLIST_ABSOLUTE>(lParam));
        try {
          callback->BrowserSelectionChanged(*browse.window, item);
        } catch (...) {
          items.Return(item);
          throw;
        }
        items.Return(item);
      }
    } catch (...) {
      browse.window->Fail(std::current_exception());
    }
    return 0;
  }

  PidlTable items_;
};

}  // namespace

std::unique_ptr<FolderBrowser> MakeShellFolderBrowser() { return std::make_unique<ShellFolderBrowser>(); }

}  // namespace skelder::platform
