#include "platform/scripted_folder_browser.h"

#include <sstream>

#include "platform/exception.h"

namespace skelder::platform {

// The browser window of one show, recording what the caller sends it.
class ScriptedFolderBrowser::Recorder : public BasicFolderBrowserWindow {
 public:
  Recorder(uint32_t handle, BrowseInfo& info, ItemTable& items, WindowRect rect, Shown& shown)
      : BasicFolderBrowserWindow(handle, info, items, rect), shown_(shown) {}
  void SetStatusText(const std::string& text) override {
    shown_.statusTexts.push_back(text);
    BasicFolderBrowserWindow::SetStatusText(text);
  }

 private:
  Shown& shown_;
};

ScriptedFolderBrowser::ScriptedFolderBrowser() = default;

void ScriptedFolderBrowser::AddScriptLine(const std::string& rawLine) {
  std::istringstream in(rawLine);
  std::string verb;
  in >> verb;
  if (verb == "browse") in >> verb;
  auto rest = [&] {
    std::string text;
    std::getline(in >> std::ws, text);
    while (!text.empty() && (text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
  };
  auto bad = [&] { throw Exception("Bad folder browser script line: " + rawLine); };
  if (verb == "select" || verb == "select-virtual") {
    std::string text = rest();
    if (text.empty()) bad();
    actions_.push_back({verb == "select" ? Action::Select : Action::SelectVirtual, text, 0, 0});
  } else if (verb == "ok" || verb == "cancel" || verb == "esc") {
    if (!rest().empty()) bad();
    if (verb == "ok")
      Ok();
    else if (verb == "cancel")
      Cancel();
    else
      Escape();
  } else if (verb == "click") {
    int id = 0;
    if (!(in >> id) || !rest().empty()) bad();
    Click(id);
  } else if (verb == "move") {
    int x = 0, y = 0;
    if (!(in >> x >> y) || !rest().empty()) bad();
    MoveTo(x, y);
  } else {
    bad();
  }
}

ItemIdList ScriptedFolderBrowser::BrowseForFolder(BrowseInfo& info) {
  shows_.emplace_back();
  size_t index = shows_.size() - 1;
  auto shown = [&]() -> Shown& { return shows_[index]; };
  shown().owner = info.owner;
  shown().title = info.title;
  shown().flags = info.flags;
  shown().rootGiven = info.root != 0;
  if (info.root) shown().rootPath = items_.PathOf(info.root);

  WindowRect rect{100, 100, 100 + browserSize_.first, 100 + browserSize_.second};
  Recorder window(nextHandle_, info, items_, rect, shown());
  nextHandle_ += 0x100;

  window.Initialize();
  shown().placeAtInit = window.GetWindowRect();
  shown().selectionAtInit = window.SelectedPath();
  shown().buttonsAtInit = window.Buttons();
  shown().okStates.push_back(window.OkEnabled());

  while (!window.Closed()) {
    if (actions_.empty()) {
      shown().ranOutOfActions = true;
      window.Command(kIdCancel);
      break;
    }
    Action action = actions_.front();
    actions_.pop_front();
    switch (action.kind) {
      case Action::Select:
        window.SelectPath(action.text);
        break;
      case Action::SelectVirtual:
        window.SelectPlace(action.text);
        break;
      case Action::Click:
        window.Command(action.id);
        break;
      case Action::Move:
        window.Move(action.id, action.y);
        break;
      case Action::Escape:
        window.PressEscape();
        break;
    }
    shown().okStates.push_back(window.OkEnabled());
  }
  shown().buttonsAtClose = window.Buttons();
  shown().okEnabledAtClose = window.OkEnabled();
  shown().placeAtClose = window.GetWindowRect();
  ItemIdList result = window.Result();
  if (result) shown().chosen = items_.PathOf(result);
  return result;
}

}  // namespace skelder::platform
