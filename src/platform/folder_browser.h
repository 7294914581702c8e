#pragma once
// The shell's folder browser as a seam: the operations a caller of the browser needs (show it
// with a callback, talk to it from the callback, the window functions used on it, item paths and
// special folders), with the Windows values of its bits. A backend plays the browser: the
// scripted one in tests, a small directory chooser on a terminal, the shell itself on Windows.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace skelder::platform {

// Option bits of the browser.
inline constexpr uint32_t kBifReturnOnlyFsDirs = 0x0001;
inline constexpr uint32_t kBifDontGoBelowDomain = 0x0002;
inline constexpr uint32_t kBifStatusText = 0x0004;
inline constexpr uint32_t kBifReturnFsAncestors = 0x0008;
inline constexpr uint32_t kBifBrowseForComputer = 0x1000;
inline constexpr uint32_t kBifBrowseForPrinter = 0x2000;

// Button styles of a child button made on the browser.
inline constexpr uint32_t kBsPushButton = 0;
inline constexpr uint32_t kBsAutoCheckBox = 3;

// Control ids the browser's own buttons report in a command message.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

// The browser's identifier of an item (an item id list); 0 is none.
using ItemIdList = uint32_t;

struct WindowRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
};

// A message reaching the browser window's handler: a command from a control, or anything else
// (moves, paints, keys), which the handler only passes on.
struct BrowserMessage {
  enum Kind { Command, Other };
  Kind kind = Other;
  int controlId = 0;
};

class FolderBrowserWindow;

// The callback of a browser call (BFFM_INITIALIZED, BFFM_SELCHANGED).
class FolderBrowserCallback {
 public:
  virtual ~FolderBrowserCallback() = default;
  virtual void BrowserInitialized(FolderBrowserWindow& browser) = 0;
  virtual void BrowserSelectionChanged(FolderBrowserWindow& browser, ItemIdList item) = 0;
};

// A handler that replaces the browser window's own (GWL_WNDPROC); it hands what it does not
// handle to FolderBrowserWindow::DefaultHandling (DefDlgProc).
class FolderBrowserMessageHandler {
 public:
  virtual ~FolderBrowserMessageHandler() = default;
  virtual void HandleBrowserMessage(FolderBrowserWindow& browser, const BrowserMessage& message) = 0;
};

// The browser while it is shown: what the callback sends it and the window functions used on
// it and on the child buttons made on it. Window values are 32-bit handles, 0 for none.
class FolderBrowserWindow {
 public:
  virtual ~FolderBrowserWindow() = default;
  virtual uint32_t Handle() const = 0;

  // BFFM_SETSELECTION with a path, BFFM_SETSTATUSTEXT, BFFM_ENABLEOK.
  virtual void SetSelection(const std::string& path) = 0;
  virtual void SetStatusText(const std::string& text) = 0;
  virtual void EnableOk(bool enabled) = 0;

  // CreateWindow of class "BUTTON" as a child of the browser (WM_SETFONT with the default
  // user-interface font included); returns the button's window, 0 when it cannot be made.
  virtual uint32_t CreateButton(int controlId, int left, int top, int width, int height, const std::string& caption,
                                uint32_t buttonStyle) = 0;
  virtual bool IsWindow(uint32_t window) const = 0;
  virtual void EnableWindow(uint32_t window, bool enabled) = 0;
  virtual void SetControlText(uint32_t window, const std::string& text) = 0;
  virtual void CheckDlgButton(int controlId, bool checked) = 0;
  virtual bool IsDlgButtonChecked(int controlId) const = 0;

  // GWL_USERDATA: a value attached to the browser window.
  virtual void SetUserData(void* data) = 0;
  virtual void* UserData() const = 0;
  // GWL_WNDPROC: replaces the window's message handler (null restores the default).
  virtual void SetMessageHandler(FolderBrowserMessageHandler* handler) = 0;
  virtual void DefaultHandling(const BrowserMessage& message) = 0;

  virtual WindowRect GetWindowRect() const = 0;
  // Moves the window without changing its size, its stacking order or activation.
  virtual void SetWindowPos(int left, int top) = 0;
  // keybd_event: Escape pressed and released, which closes the browser without a choice.
  virtual void PressEscape() = 0;
};

// SHBrowseForFolder's parameter block.
struct BrowseInfo {
  uint32_t owner = 0;
  ItemIdList root = 0;
  std::string displayName;  // out: the chosen item's display name (at most 259 characters)
  std::string title;
  uint32_t flags = 0;
  FolderBrowserCallback* callback = nullptr;
  int32_t image = 0;  // out
};

class FolderBrowser {
 public:
  virtual ~FolderBrowser() = default;
  // Shows the browser modally; the chosen item (the caller frees it), 0 when none was chosen.
  virtual ItemIdList BrowseForFolder(BrowseInfo& info) = 0;
  // The item's file-system path; none for items that are not file-system folders.
  virtual std::optional<std::string> PathFromIDList(ItemIdList item) = 0;
  // The item of a special folder (CSIDL value); 0 when the platform has no such folder.
  virtual ItemIdList SpecialFolderLocation(int csidl) = 0;
  virtual void FreeItem(ItemIdList item) = 0;
  // Size of the whole primary screen.
  virtual std::pair<int, int> ScreenSize() const = 0;
  // Items handed out and not freed yet (by callers that forgot, or by an open browser).
  virtual size_t LiveItems() const = 0;
};

#ifdef _WIN32
// The shell's own browser (SHBrowseForFolderA) with its items kept in a table of 32-bit ids.
std::unique_ptr<FolderBrowser> MakeShellFolderBrowser();
#endif

// Items of a POSIX browser: a table from ids to paths (or to names of places that have no path)
// with the CSIDL places the POSIX desktop has.
class ItemTable {
 public:
  ItemIdList Add(std::optional<std::string> path, std::string name);
  std::optional<std::string> PathOf(ItemIdList item) const;
  std::string NameOf(ItemIdList item) const;
  bool Has(ItemIdList item) const { return items_.count(item) != 0; }
  void Free(ItemIdList item) { items_.erase(item); }
  size_t Count() const { return items_.size(); }
  // Desktop (0) is "/", personal (5) and desktop directory (16) the home directory; the
  // network places (18, 19) and the printers (4) are items without a path; others: 0.
  ItemIdList Special(int csidl);

 private:
  struct Item {
    std::optional<std::string> path;
    std::string name;
  };
  std::map<ItemIdList, Item> items_;
  ItemIdList next_ = 0x100;
};

// The state and message routing every POSIX browser backend shares: selection, status line,
// OK state, child buttons, attached data, the replaced handler, position, and how it closed.
// Backends feed it user input (SelectPath, Command, Move) and read the outcome.
class BasicFolderBrowserWindow : public FolderBrowserWindow {
 public:
  struct Button {
    int controlId = 0;
    uint32_t window = 0;
    int left = 0, top = 0, width = 0, height = 0;
    std::string caption;
    uint32_t style = 0;
    bool enabled = true;
    bool checked = false;
  };

  BasicFolderBrowserWindow(uint32_t handle, BrowseInfo& info, ItemTable& items, WindowRect rect);
  ~BasicFolderBrowserWindow() override;
  BasicFolderBrowserWindow(const BasicFolderBrowserWindow&) = delete;
  BasicFolderBrowserWindow& operator=(const BasicFolderBrowserWindow&) = delete;

  uint32_t Handle() const override { return handle_; }
  void SetSelection(const std::string& path) override;
  void SetStatusText(const std::string& text) override { status_ = text; }
  void EnableOk(bool enabled) override { okEnabled_ = enabled; }
  uint32_t CreateButton(int controlId, int left, int top, int width, int height, const std::string& caption,
                        uint32_t buttonStyle) override;
  bool IsWindow(uint32_t window) const override;
  void EnableWindow(uint32_t window, bool enabled) override;
  void SetControlText(uint32_t window, const std::string& text) override;
  void CheckDlgButton(int controlId, bool checked) override;
  bool IsDlgButtonChecked(int controlId) const override;
  void SetUserData(void* data) override { userData_ = data; }
  void* UserData() const override { return userData_; }
  void SetMessageHandler(FolderBrowserMessageHandler* handler) override { handler_ = handler; }
  void DefaultHandling(const BrowserMessage& message) override;
  WindowRect GetWindowRect() const override { return rect_; }
  void SetWindowPos(int left, int top) override;
  void PressEscape() override;

  // User input, routed the way the platform routes it.
  void Initialize();                          // the browser is shown
  void SelectPath(const std::string& path);   // the user selects a folder
  void SelectItem(ItemIdList item);           // ... or any item
  void SelectPlace(const std::string& name);  // ... or a place without a path (a printer)
  // A click on a button (1 OK, 2 Cancel, or a child; a check box toggles first). Clicks on a
  // disabled button do nothing; false then.
  bool Command(int controlId);
  void Move(int left, int top);  // the user drags the window

  bool Closed() const { return closed_; }
  // The chosen item when the browser closed with OK, else 0.
  ItemIdList Result() const { return result_; }
  ItemIdList Selection() const { return selection_; }
  std::optional<std::string> SelectedPath() const { return items_.PathOf(selection_); }
  const std::string& StatusText() const { return status_; }
  bool OkEnabled() const { return okEnabled_; }
  const std::vector<Button>& Buttons() const { return buttons_; }
  const Button* FindButton(int controlId) const;

 private:
  Button* ButtonByWindow(uint32_t window);
  Button* ButtonById(int controlId);
  void Dispatch(const BrowserMessage& message);
  ItemIdList Own(ItemIdList item);

  uint32_t handle_;
  BrowseInfo& info_;
  ItemTable& items_;
  WindowRect rect_;
  ItemIdList selection_ = 0;
  std::string status_;
  bool okEnabled_ = true;
  std::vector<Button> buttons_;
  uint32_t nextButton_;
  void* userData_ = nullptr;
  FolderBrowserMessageHandler* handler_ = nullptr;
  bool closed_ = false;
  ItemIdList result_ = 0;
  std::vector<ItemIdList> owned_;  // selection items, freed with the window
  int depth_ = 0;                  // messages being handled; input pressed meanwhile waits
  std::vector<BrowserMessage> posted_;
};

// A browser that cannot be shown: every call returns no choice.
class NoFolderBrowser : public FolderBrowser {
 public:
  ItemIdList BrowseForFolder(BrowseInfo&) override { return 0; }
  std::optional<std::string> PathFromIDList(ItemIdList item) override { return items_.PathOf(item); }
  ItemIdList SpecialFolderLocation(int csidl) override { return items_.Special(csidl); }
  void FreeItem(ItemIdList item) override { items_.Free(item); }
  std::pair<int, int> ScreenSize() const override { return {1024, 768}; }
  size_t LiveItems() const override { return items_.Count(); }

 private:
  ItemTable items_;
};

}  // namespace skelder::platform
