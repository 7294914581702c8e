// ardmoor.exe's folder properties window with the add-in's page in it, the way the host holds
// the page: the page is a child window of ardmoor's window, follows it when it is resized, and
// what the user does on the real windows reaches the folder's notes byte for byte as the
// scripted page stores it. The test plays the user on the page from its own process, through the
// window manager (a line typed into the list, a click on "Add &FTP", the dialog's OK); the
// add-in's script fills in the FTP Connection dialog on its real windows.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "hostsim_fixture.h"
#include "win32/window_text.h"
#include "hostsim_repository.h"
#include "test_support.h"

namespace skelder::test {
namespace {

using namespace std::chrono_literals;

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> children;
  for (HWND w = GetWindow(parent, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) children.push_back(w);
  return children;
}

// The first window below `root` (at any depth) that `match` accepts.
HWND Descendant(HWND root, const std::function<bool(HWND)>& match) {
  for (HWND w : Children(root)) {
    if (match(w)) return w;
    if (HWND found = Descendant(w, match)) return found;
  }
  return nullptr;
}

struct FindTop {
  DWORD process;
  HWND found = nullptr;
};

BOOL CALLBACK MatchTop(HWND w, LPARAM param) {
  auto* find = reinterpret_cast<FindTop*>(param);
  DWORD process = 0;
  GetWindowThreadProcessId(w, &process);
  if (process != find->process || !IsWindowVisible(w) || ClassOf(w) != "ArdmoorFolderProperties") return TRUE;
  find->found = w;
  return FALSE;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 60s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

RECT ScreenRect(HWND w) {
  RECT r{};
  GetWindowRect(w, &r);
  return r;
}

class PropertiesWindowE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FileExists(BinProgram("ardmoor"))) << "build ardmoor first";
    repo_.File("index.htm", "<html/>").Folder("img");
    repo_.Sync();
    MakeDirs(www_);
  }

  std::vector<std::string> Ardmoor(const std::string& folder, const std::vector<std::string>& extra) {
    std::vector<std::string> argv = {BinProgram("ardmoor"), "--repository", repo_.Root(), "properties", folder,
                                     "--install-dir",       BinDir()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return argv;
  }
  std::string Script(const std::string& name, const std::string& text) {
    WriteFile(work_ / name, text);
    return work_ / name;
  }
  std::string Notes(const std::string& rel) {
    return hostsim::Repository::Open(repo_.Root()).Notes(repo_.FolderId(rel));
  }
  std::string Log() { return ReadFile(work_ / "ardmoor.log"); }

  HostSimUser user_{false};  // ardmoor, a child process, writes the user's registry
  HostSimRepository repo_;
  TempDir work_;
  std::string www_ = work_ / "www";
  // The FTP Connection dialog, played by the add-in's script on its real windows: an empty site
  // refused first, then a site and a user.
  std::string ftpDialog_ = "click btnOK\nset edtFtpSite server/pub\nset edtUser bob\nclick btnOK\n";
  std::string saved_ = "[General]\r\nA=1\r\n\r\n[Web Folder]\r\nDeployTo=" + www_ +
                       "\\,ftp://bob@server/pub,C:\\typed\\last\r\nEnabled=1\r\n\r\n";
};

TEST_F(PropertiesWindowE2e, ThePageIsAChildOfTheHostWindowFollowsItsSizeAndSavesByteForByte) {
  repo_.Notes("", "[General]\r\nA=1\r\n");
  ChildProcess ardmoor(Ardmoor("$", {"--ui", "win32", "--ui-options", Script("ftp", ftpDialog_)}),
                       work_ / "ardmoor.log");

  FindTop top{static_cast<DWORD>(ardmoor.pid())};
  ASSERT_TRUE(WaitFor([&] {
                EnumWindows(MatchTop, reinterpret_cast<LPARAM>(&top));
                return top.found != nullptr || !ardmoor.Running();
              }) &&
              top.found)
      << Log();
  const HWND host = top.found;
  EXPECT_EQ(TextOf(host), "Folder properties");
  HWND ok = nullptr, page = nullptr;
  for (HWND w : Children(host)) {
    const std::string cls = ClassOf(w);
    if (cls == "Button" && TextOf(w) == "OK")
      ok = w;
    else if (cls != "Button" && cls != "SysTabControl32")
      page = page ? HWND(-1) : w;  // exactly one window besides the dialog's own
  }
  ASSERT_TRUE(ok);
  ASSERT_TRUE(page && page != HWND(-1)) << "the page is not one child window of the host's";
  EXPECT_EQ(GetParent(page), host);
  EXPECT_EQ(GetAncestor(page, GA_ROOT), host);
  EXPECT_NE(GetWindowLongA(page, GWL_STYLE) & WS_CHILD, 0);
  EXPECT_TRUE(IsWindowVisible(page));
  const HWND memo =
      Descendant(page, [](HWND w) { return ClassOf(w) == "Edit" && (GetWindowLongA(w, GWL_STYLE) & ES_MULTILINE); });
  const HWND addFtp = Descendant(page, [](HWND w) { return ClassOf(w) == "Button" && TextOf(w) == "Add &FTP"; });
  ASSERT_TRUE(memo && addFtp);

  // A directory typed into the list, then "Add &FTP" clicked as a user clicks it; the script
  // fills in the dialog on its real windows.
  DWORD_PTR ignored = 0;
  const std::string typed = www_ + "\\";
  SendMessageTimeoutA(memo, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed.c_str()), SMTO_ABORTIFHUNG, 5000, &ignored);
  PostMessageA(addFtp, BM_CLICK, 0, 0);
  const std::string lines = typed + "\r\nftp://bob@server/pub";
  ASSERT_TRUE(WaitFor([&] { return TextOf(memo) == lines; })) << TextOf(memo);
  // A last line typed after the last click: the host's save must see it too (a multi-line box
  // set by WM_SETTEXT tells nobody, so only reading the window back at the save finds it).
  const std::string last = lines + "\r\nC:\\typed\\last";
  SendMessageTimeoutA(memo, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(last.c_str()), SMTO_ABORTIFHUNG, 5000, &ignored);

  // The page lies inside the host's client area, at the designed size or more; it grows with
  // the host window by what the window grows, and its list with it.
  const RECT before = ScreenRect(page), hostBefore = ScreenRect(host), memoBefore = ScreenRect(memo);
  POINT origin{0, 0};
  ClientToScreen(host, &origin);
  EXPECT_GE(before.left, origin.x);
  EXPECT_GE(before.top, origin.y);
  EXPECT_GE(before.right - before.left, 414);
  EXPECT_GE(before.bottom - before.top, 421);
  ASSERT_TRUE(SetWindowPos(host, nullptr, 0, 0, hostBefore.right - hostBefore.left + 120,
                           hostBefore.bottom - hostBefore.top + 60, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE));
  EXPECT_TRUE(
      WaitFor([&] { return ScreenRect(page).right - ScreenRect(page).left == before.right - before.left + 120; }, 10s));
  const RECT after = ScreenRect(page), memoAfter = ScreenRect(memo);
  EXPECT_EQ(after.right - after.left, before.right - before.left + 120);
  EXPECT_EQ(after.bottom - after.top, before.bottom - before.top + 60);
  EXPECT_EQ(after.left - before.left, 0);
  // The list spans the page between its margins of 11 pixels.
  EXPECT_EQ(memoAfter.right, after.right - 11);
  EXPECT_EQ(memoAfter.left, memoBefore.left);

  // The dialog's OK: the page validates and hands back the notes, which ardmoor stores.
  PostMessageA(ok, BM_CLICK, 0, 0);
  ASSERT_EQ(ardmoor.Wait(60s), 0) << Log();
  EXPECT_EQ(Notes(""), saved_);
  EXPECT_NE(Log().find("Folder properties: Web Projects"), std::string::npos) << Log();

  // The same actions on the scripted page (no windows) store the same bytes.
  repo_.Notes("img", "[General]\r\nA=1\r\n");
  std::string out;
  ASSERT_EQ(RunProgram(Ardmoor("img", {"--script", Script("scripted", "append memoDeploymentPaths " + www_ +
                                                                          "\\\nclick btnFtp\n" + ftpDialog_ +
                                                                          "append memoDeploymentPaths C:\\typed\\last\n"
                                                                          "press Enter\n")}),
                       &out),
            0)
      << out;
  EXPECT_EQ(Notes("img"), saved_);
}

// The host's own clicks, for runs without a person: OK saves what the page holds (here the
// section, empty), Cancel leaves the notes as they were; notes too long for the host's buffer
// end the dialog with the reason and are left as they were.
TEST_F(PropertiesWindowE2e, TheHostsOwnClickSavesOrCancels) {
  const struct {
    const char* click;
    int status;
    std::string notes;
  } cases[] = {
      {"OK", 0, "[General]\r\nA=1\r\n\r\n[Web Folder]\r\nDeployTo=\r\nEnabled=0\r\n\r\n"},
      {"Cancel@200", 2, "[General]\r\nA=1\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.click);
    repo_.Notes("", "[General]\r\nA=1\r\n");
    std::string out;
    EXPECT_EQ(RunProgram(Ardmoor("$", {"--ui", "win32", "--host-click", c.click}), &out, 60s), c.status) << out;
    EXPECT_EQ(Notes(""), c.notes);
  }
  // Notes that outgrow the host's buffer are not saved, and ardmoor says why.
  std::string big = "[General]\r\n";
  while (big.size() < 70000) big += "K=" + std::string(98, 'v') + "\r\n";
  repo_.Notes("", big);
  std::string out;
  EXPECT_EQ(RunProgram(Ardmoor("$", {"--ui", "win32", "--host-click", "OK"}), &out, 60s), 1) << out;
  EXPECT_NE(out.find("do not fit the host's buffer"), std::string::npos) << out;
  EXPECT_EQ(Notes(""), big);
  EXPECT_EQ(RunProgram(Ardmoor("$", {"--host-click", "Apply"}), &out), 64) << out;  // a usage error
  EXPECT_NE(out.find("--host-click takes OK or Cancel"), std::string::npos) << out;
}

}  // namespace
}  // namespace skelder::test
