#pragma once
// The folder browser played from a script, for tests: each shown browser takes actions from one
// queue until it closes (an empty queue cancels it, which is recorded), and everything it showed
// is recorded: title, options, root, its place, every status line, OK's state, the child buttons.
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/folder_browser.h"

namespace skelder::platform {

class ScriptedFolderBrowser : public FolderBrowser {
 public:
  struct Action {
    enum Kind { Select, SelectVirtual, Click, Move, Escape };
    Kind kind = Click;
    std::string text;  // path (Select) or name (SelectVirtual)
    int id = 0;        // control id (Click), left (Move)
    int y = 0;         // top (Move)
  };

  // One browser as it was shown.
  struct Shown {
    uint32_t owner = 0;
    std::string title;
    uint32_t flags = 0;
    std::optional<std::string> rootPath;  // none: no root given
    bool rootGiven = false;
    WindowRect placeAtInit;                      // where it stood once the callback had placed it
    std::optional<std::string> selectionAtInit;  // after the callback's own selection request
    std::vector<std::string> statusTexts;        // every status line set, in order
    std::vector<bool> okStates;                  // OK's state after each action and at init
    std::vector<BasicFolderBrowserWindow::Button> buttonsAtInit;
    std::vector<BasicFolderBrowserWindow::Button> buttonsAtClose;
    bool okEnabledAtClose = true;
    std::optional<std::string> chosen;  // the chosen path; none on cancel
    bool ranOutOfActions = false;
    WindowRect placeAtClose;
  };

  ScriptedFolderBrowser();

  // Script.
  void Select(const std::string& path) { actions_.push_back({Action::Select, path, 0, 0}); }
  void SelectVirtual(const std::string& name) { actions_.push_back({Action::SelectVirtual, name, 0, 0}); }
  void Click(int controlId) { actions_.push_back({Action::Click, {}, controlId, 0}); }
  void Ok() { Click(kIdOk); }
  void Cancel() { Click(kIdCancel); }
  void MoveTo(int left, int top) { actions_.push_back({Action::Move, {}, left, top}); }
  void Escape() { actions_.push_back({Action::Escape, {}, 0, 0}); }
  // Text form, one action per line: "select PATH", "select-virtual NAME", "ok", "cancel",
  // "esc", "click ID", "move LEFT TOP" (a leading "browse " is allowed). Throws
  // skelder::Exception with the line for anything else.
  void AddScriptLine(const std::string& line);
  size_t PendingActions() const { return actions_.size(); }

  void SetScreenSize(int width, int height) { screen_ = {width, height}; }
  void SetBrowserSize(int width, int height) { browserSize_ = {width, height}; }

  const std::vector<Shown>& Shows() const { return shows_; }

  ItemIdList BrowseForFolder(BrowseInfo& info) override;
  std::optional<std::string> PathFromIDList(ItemIdList item) override { return items_.PathOf(item); }
  ItemIdList SpecialFolderLocation(int csidl) override { return items_.Special(csidl); }
  void FreeItem(ItemIdList item) override { items_.Free(item); }
  std::pair<int, int> ScreenSize() const override { return screen_; }
  size_t LiveItems() const override { return items_.Count(); }

 private:
  class Recorder;
  std::deque<Action> actions_;
  std::vector<Shown> shows_;
  ItemTable items_;
  std::pair<int, int> screen_{1024, 768};
  std::pair<int, int> browserSize_{330, 400};
  uint32_t nextHandle_ = 0x4000;
};

}  // namespace skelder::platform
