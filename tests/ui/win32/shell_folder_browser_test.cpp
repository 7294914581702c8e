// The folder browse component over the shell's own browser (wine's here), read back through the
// window API: the extra button, the status line and OK, the remembered place, the new-folder
// flow, what Cancel and a choice return, and the item lists freed. A thread timer plays the user
// on the browser's own thread, inside its modal loop.
#include <gtest/gtest.h>

#include <windows.h>
// windows.h first: the control headers need its types.
#include <commctrl.h>
#include <shlobj.h>

#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/folder_browser.h"
#include "platform/scripted_toolkit.h"
#include "test_support.h"
#include "ui/frm_browse_folder.h"
#include "win32/window_text.h"

namespace skelder::ui {
namespace {

using test::ClassOf;
using test::TextOf;

using platform::ScriptAction;

// The scripted toolkit (for the new-folder prompt) with the shell's browser in place of its own.
class ShellToolkit : public platform::ScriptedToolkit {
 public:
  platform::FolderBrowser& FolderBrowserBackend() override { return *shell_; }
  platform::FolderBrowser& Shell() { return *shell_; }

 private:
  std::unique_ptr<platform::FolderBrowser> shell_ = platform::MakeShellFolderBrowser();
};

BOOL CALLBACK AddWindow(HWND window, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}

// The children of a window, or with none the top-level windows of this thread.
std::vector<HWND> Windows(HWND parent = nullptr) {
  std::vector<HWND> found;
  if (parent)
    ::EnumChildWindows(parent, AddWindow, reinterpret_cast<LPARAM>(&found));
  else
    ::EnumThreadWindows(::GetCurrentThreadId(), AddWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

HWND Tree(HWND browser) {
  for (HWND child : Windows(browser))
    if (ClassOf(child) == WC_TREEVIEWA) return child;
  return nullptr;
}

// Whether one of the browser's static texts (the title, the status line) reads `text`.
bool ShowsText(HWND browser, const std::string& text) {
  for (HWND child : Windows(browser))
    if (ClassOf(child) == "Static" && TextOf(child) == text) return true;
  return false;
}

bool Enabled(HWND browser, int id) { return ::IsWindowEnabled(::GetDlgItem(browser, id)) != FALSE; }

void Command(HWND browser, int id) {
  ::PostMessageA(browser, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(browser, id)));
}

HTREEITEM TreeItem(HWND tree, WPARAM which, HTREEITEM from = nullptr) {
  return reinterpret_cast<HTREEITEM>(::SendMessageA(tree, TVM_GETNEXTITEM, which, reinterpret_cast<LPARAM>(from)));
}

// Selects a folder as the user would in the tree. Wine's browser now and then drops the first
// selection request of a process; the user would click again.
void SelectFolder(HWND browser, const std::string& path) {
  for (int attempt = 0; attempt < 3 && (attempt == 0 || !TreeItem(Tree(browser), TVGN_CARET)); ++attempt)
    ::SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(path.c_str()));
}

// Plays the user: each browser that opens on this thread gets the next step, run from a thread
// timer inside the browser's modal loop. A browser without a step, or one still open long after
// its step, fails the test and is cancelled, so a test never waits for a person.
class BrowserUser {
 public:
  using Step = std::function<void(HWND browser)>;
  explicit BrowserUser(std::vector<Step> steps) : steps_(std::move(steps)) {
    active_ = this;
    timer_ = ::SetTimer(nullptr, 0, 10, &BrowserUser::Tick);
  }
  ~BrowserUser() {
    ::KillTimer(nullptr, timer_);
    active_ = nullptr;
  }
  BrowserUser(const BrowserUser&) = delete;
  BrowserUser& operator=(const BrowserUser&) = delete;
  size_t Shown() const { return shown_; }

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    static constexpr char kSeen[] = "Skelder.Test.Seen";
    BrowserUser* self = active_;
    HWND browser = nullptr;
    for (HWND window : Windows())
      if (::IsWindowVisible(window) && ClassOf(window) == "#32770" && Tree(window)) browser = window;
    if (!self || !browser) return;
    if (::GetPropA(browser, kSeen)) {
      if (++self->ticks_ == 500) {
        ADD_FAILURE() << "browser " << self->shown_ << " still open";
        Command(browser, IDCANCEL);
      }
      return;
    }
    ::SetPropA(browser, kSeen, browser);
    self->ticks_ = 0;
    if (self->shown_ < self->steps_.size()) {
      self->steps_[self->shown_++](browser);
    } else {
      ADD_FAILURE() << "browser " << ++self->shown_ << " unplanned";
      Command(browser, IDCANCEL);
    }
  }

  static inline BrowserUser* active_ = nullptr;
  std::vector<Step> steps_;
  UINT_PTR timer_ = 0;
  size_t shown_ = 0;
  int ticks_ = 0;
};

// A window of another thread in front, as another program's would be: keys go to its thread.
class WindowInFront {
 public:
  WindowInFront() {
    std::promise<DWORD> started;
    auto threadId = started.get_future();
    thread_ = std::thread([&started] {
      HWND window = ::CreateWindowExA(0, "STATIC", "in front", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, nullptr, nullptr,
                                      nullptr, nullptr);
      ::SetForegroundWindow(window);
      started.set_value(::GetCurrentThreadId());
      MSG message;
      while (::GetMessageA(&message, nullptr, 0, 0) > 0) ::DispatchMessageA(&message);
      ::DestroyWindow(window);
    });
    threadId_ = threadId.get();
  }
  ~WindowInFront() {
    ::PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
    thread_.join();
  }
  WindowInFront(const WindowInFront&) = delete;
  WindowInFront& operator=(const WindowInFront&) = delete;

 private:
  std::thread thread_;
  DWORD threadId_ = 0;
};

class ShellBrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetRememberedBrowserPosition(0, 0);
    auto toolkit = std::make_unique<ShellToolkit>();
    toolkit_ = toolkit.get();
    platform::SetToolkit(std::move(toolkit));
  }
  void TearDown() override {
    EXPECT_EQ(toolkit_->Shell().LiveItems(), 0u);
    platform::SetToolkit(nullptr);
  }

  // Runs `run` while the user plays `steps`, one per browser shown, and checks that each was
  // used and no browser was left open.
  template <typename Run>
  void Play(std::vector<BrowserUser::Step> steps, Run run) {
    const size_t planned = steps.size();
    BrowserUser user(std::move(steps));
    run();
    EXPECT_EQ(user.Shown(), planned);
    EXPECT_TRUE(Windows().empty()) << "a window outlived its browse";
  }

  test::TempDir dir_;
  ShellToolkit* toolkit_ = nullptr;
};

struct ExtraButtonCase {
  const char* name;
  int width;  // 0: BrowseForDirectory's own button
  TCustomButtonType type;
  const char* caption;
};

TEST_F(ShellBrowserTest, ExtraButtonStandsWhereItsWidthAndTypeSay) {
  const ExtraButtonCase cases[] = {
      {"directory choice", 0, btPushButton, "&New Folder"},
      {"wide check box", 120, btCheckBox, "&Recurse"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TKVOClientBrowseFolder browse;
    browse.ShowPathInStatusArea = true;
    browse.CustomButtonVisible = true;
    browse.SetCustomButtonCaption(c.caption);
    browse.CustomButtonType = c.type;
    browse.CustomButtonChecked = true;
    if (c.width) browse.SetCustomButtonWidth(c.width);
    int clicks = 0;
    browse.OnCustomButtonClick = [&](TKVOClientBrowseFolder&, uint32_t) { ++clicks; };
    bool chosen = false;
    Play({[&](HWND browser) {
           HWND button = ::GetDlgItem(browser, kCustomButtonId);
           ASSERT_NE(button, nullptr);
           RECT r{};
           ::GetWindowRect(button, &r);
           ::MapWindowPoints(HWND_DESKTOP, browser, reinterpret_cast<POINT*>(&r), 2);
           EXPECT_EQ(r.left, 12);
           EXPECT_EQ(r.top, 270);
           EXPECT_EQ(r.right - r.left, c.width ? c.width : 75);
           EXPECT_EQ(r.bottom - r.top, 23);
           EXPECT_EQ(ClassOf(button), "Button");
           EXPECT_EQ(TextOf(button), c.caption);
           const LONG style = ::GetWindowLongA(button, GWL_STYLE);
           const LONG wanted = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP;
           EXPECT_EQ(style & wanted, wanted);
           EXPECT_EQ(style & BS_TYPEMASK, c.type == btCheckBox ? BS_AUTOCHECKBOX : BS_PUSHBUTTON);
           EXPECT_EQ(reinterpret_cast<HGDIOBJ>(::SendMessageA(button, WM_GETFONT, 0, 0)),
                     ::GetStockObject(DEFAULT_GUI_FONT));
           EXPECT_EQ(::IsDlgButtonChecked(browser, kCustomButtonId),
                     c.type == btCheckBox ? BST_CHECKED : BST_UNCHECKED);
           // A click reaches the component's handler through the replaced one (a check box
           // toggles first), and the state OK reads back is the box's.
           ::SendMessageA(button, BM_CLICK, 0, 0);
           EXPECT_EQ(clicks, 1);
           SelectFolder(browser, dir_.path());
           Command(browser, IDOK);
         }},
         [&] { chosen = browse.Execute(); });
    EXPECT_TRUE(chosen);
    EXPECT_EQ(browse.Directory, dir_.path());
    // The folder's display name: its own name on Windows, the whole path from wine's browser.
    EXPECT_TRUE(browse.DisplayName().ends_with(dir_.path().substr(dir_.path().rfind('\\') + 1)));
    // Only a check box's state is read back when OK is pressed.
    EXPECT_EQ(browse.CustomButtonChecked, c.type != btCheckBox);
  }
}

TEST_F(ShellBrowserTest, StatusLineShowsTheShortenedPathAndOkFollowsFileSystemItems) {
  const std::string deep = dir_ / "aaaaaaaaaaaa/bbbbbbbbbbbb/cccccccccccc";
  test::MakeDirs(deep);
  ASSERT_NE(ShortenPath(deep), deep);
  int withPath = 0, withoutPath = 0;
  std::string result;
  Play({[&](HWND browser) {
         EXPECT_TRUE(ShowsText(browser, ShortenPath(deep)));
         EXPECT_TRUE(Enabled(browser, IDOK));
         EXPECT_TRUE(Enabled(browser, kCustomButtonId));
         // Every place at the top of the tree: OK and the extra button enabled exactly for a
         // place with a path, which the status line then shows.
         HWND tree = Tree(browser);
         HTREEITEM root = TreeItem(tree, TVGN_ROOT);
         ::SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
         for (HTREEITEM item = TreeItem(tree, TVGN_CHILD, root); item; item = TreeItem(tree, TVGN_NEXT, item)) {
           ::SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
           const bool ok = Enabled(browser, IDOK);
           EXPECT_EQ(Enabled(browser, kCustomButtonId), ok);
           (ok ? withPath : withoutPath)++;
           EXPECT_TRUE(ok || ShowsText(browser, "")) << "a place without a path shows no status text";
         }
         Command(browser, IDCANCEL);
       }},
       [&] { result = BrowseForDirectory(0, deep + "\\"); });
  EXPECT_EQ(result, deep + "\\");
  EXPECT_GT(withPath, 0);
  EXPECT_GT(withoutPath, 0);
}

TEST_F(ShellBrowserTest, FirstBrowserOpensCentredAQuarterDownAndTheNextWhereTheUserLeftIt) {
  const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN), screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
  RECT first{}, second{};
  auto cancelAt = [&](RECT& seen, int moveLeft, int moveTop) {
    return [&seen, moveLeft, moveTop](HWND browser) {
      ::GetWindowRect(browser, &seen);
      // Dragged by the user: the window moves, the browser is told.
      if (moveLeft >= 0)
        ::SetWindowPos(browser, nullptr, moveLeft, moveTop, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      Command(browser, IDCANCEL);
    };
  };
  Play({cancelAt(first, 37, 41), cancelAt(second, -1, -1)}, [&] {
    BrowseForDirectory(0, "");
    BrowseForDirectory(0, "");
  });
  EXPECT_EQ(first.left, screenWidth / 2 - (first.right - first.left) / 2);
  EXPECT_EQ(first.top, screenHeight / 4);
  EXPECT_EQ(second.left, 37);
  EXPECT_EQ(second.top, 41);
  EXPECT_EQ(second.right - second.left, first.right - first.left);
}

TEST_F(ShellBrowserTest, NewFolderIsMadeAndTheBrowserReopensOnItInPlace) {
  struct Case {
    const char* typed;
    bool otherWindowInFront;  // Escape from the keyboard would not reach the browser
    // The closing browser's selection moves before it is gone (the shell refreshing its tree
    // for the new folder does that): the browser still reopens on the new folder.
    bool selectionMovesWhileClosing;
  };
  for (const Case& c : {Case{"Site", false, false}, Case{"\\Site", false, true}, Case{"Site", true, true}}) {
    SCOPED_TRACE(std::string(c.typed) + (c.otherWindowInFront ? ", another window in front" : "") +
                 (c.selectionMovesWhileClosing ? ", selection moved" : ""));
    const std::string web = dir_ / "Web", site = dir_ / "Web/Site";
    test::MakeDirs(web);
    toolkit_->Then(ScriptAction::SetText("edtValue", c.typed)).Then(ScriptAction::Click("btnOK"));
    RECT before{}, after{};
    std::unique_ptr<WindowInFront> other;
    std::string result;
    Play({[&](HWND browser) {
            ::GetWindowRect(browser, &before);
            // The foreground is the whole desktop's: other test programs' windows come and go.
            if (c.otherWindowInFront)
              other = std::make_unique<WindowInFront>();
            else
              ::SetForegroundWindow(browser);
            EXPECT_EQ(::GetForegroundWindow() == browser, !c.otherWindowInFront);
            ::SendMessageA(::GetDlgItem(browser, kCustomButtonId), BM_CLICK, 0, 0);
            if (c.selectionMovesWhileClosing) {
              HWND tree = Tree(browser);
              ::SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(TreeItem(tree, TVGN_ROOT)));
            }
          },
          [&](HWND browser) {
            other.reset();
            ::GetWindowRect(browser, &after);
            EXPECT_TRUE(ShowsText(browser, ShortenPath(site)));
            EXPECT_TRUE(platform::DirectoryExists(site));
            Command(browser, IDOK);
          }},
         [&] { result = BrowseForDirectory(0, web); });
    EXPECT_EQ(result, site + "\\");
    EXPECT_EQ(before.left, after.left);
    EXPECT_EQ(before.top, after.top);
    EXPECT_EQ(toolkit_->RemainingActions(), 0u);
    ::RemoveDirectoryA(site.c_str());
  }
}

// How the user leaves the browser, and what the directory choice returns.
struct LeaveCase {
  const char* name;
  const char* initial;  // relative to the test's folder; "" is empty text, "C:\\" a drive root
  const char* select;   // what the user selects first, same form; nullptr: nothing
  std::function<void(HWND)> leave;
  const char* expected;
};

std::string InFolder(const std::string& dir, const char* text) {
  std::string t = text;
  if (t.empty() || t.rfind("C:", 0) == 0) return t;
  return dir + "\\" + t;
}

TEST_F(ShellBrowserTest, CancelReturnsTheInitialTextAndAChoiceItsFolder) {
  test::MakeDirs(dir_ / "Web");
  auto press = [](HWND browser) {
    // Escape as the keyboard delivers it to the browser's focused control, its tree (the focus
    // itself may be another test program's: the foreground is the whole desktop's).
    ::PostMessageA(Tree(browser), WM_KEYDOWN, VK_ESCAPE, 0);
  };
  auto close = [](HWND browser) { ::PostMessageA(browser, WM_CLOSE, 0, 0); };
  auto cancel = [](HWND browser) { Command(browser, IDCANCEL); };
  auto ok = [](HWND browser) { Command(browser, IDOK); };
  const LeaveCase cases[] = {
      {"Cancel", "Web\\", "Web", cancel, "Web\\"},
      {"Escape", "Web", nullptr, press, "Web"},
      {"closed", "", "Web", close, ""},
      {"chosen from empty text", "", "Web", ok, "Web\\"},
      {"chosen from a folder with a separator", "Web\\", nullptr, ok, "Web"},
      {"drive root", "", "C:\\", ok, "C:\\"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string result;
    Play({[&](HWND browser) {
           if (c.select) SelectFolder(browser, InFolder(dir_.path(), c.select));
           c.leave(browser);
         }},
         [&] { result = BrowseForDirectory(0, InFolder(dir_.path(), c.initial)); });
    EXPECT_EQ(result, InFolder(dir_.path(), c.expected));
  }
}

TEST_F(ShellBrowserTest, AFailureInTheCallersHandlerClosesTheBrowserAndReachesTheCaller) {
  TKVOClientBrowseFolder browse;
  browse.RootFolder = foPersonal;
  browse.CustomButtonVisible = true;
  browse.OnCustomButtonClick = [](TKVOClientBrowseFolder&, uint32_t) { throw std::runtime_error("handler failed"); };
  Play({[](HWND browser) { ::SendMessageA(::GetDlgItem(browser, kCustomButtonId), BM_CLICK, 0, 0); }},
       [&] { EXPECT_THROW(browse.Execute(), std::runtime_error); });
}

TEST_F(ShellBrowserTest, EveryItemListIsFreedAcrossAHundredBrowses) {
  platform::FolderBrowser& shell = toolkit_->Shell();
  for (int cycle = 0; cycle < 100; ++cycle) {
    TKVOClientBrowseFolder browse;
    browse.RootFolder = foDesktop;
    browse.ShowPathInStatusArea = true;
    size_t liveWhileShown = 0;
    Play({[&](HWND browser) {
           // The selection items the callback sees are the shell's; only the root is ours.
           HWND tree = Tree(browser);
           HTREEITEM place = TreeItem(tree, TVGN_CHILD, TreeItem(tree, TVGN_ROOT));
           ::SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(place));
           liveWhileShown = shell.LiveItems();
           Command(browser, cycle % 2 ? IDOK : IDCANCEL);
         }},
         [&] { browse.Execute(); });
    ASSERT_EQ(liveWhileShown, 1u) << "cycle " << cycle;
    ASSERT_EQ(shell.LiveItems(), 0u) << "cycle " << cycle;
  }
  // Each browse left COM as it found it: this thread has none.
  EXPECT_EQ(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  ::CoUninitialize();
}

}  // namespace
}  // namespace skelder::ui
