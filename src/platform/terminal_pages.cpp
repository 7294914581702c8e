// The terminal's presentations of what is more than buttons and labels: text boxes asked for
// one by one, the folder browser as a small directory chooser, and the host's property dialog as
// the page's numbered lines with actions.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/ascii.h"
#include "platform/console.h"
#include "platform/display_text.h"
#include "platform/files.h"
#include "platform/folder_browser.h"
#include "platform/terminal_toolkit.h"

namespace skelder::platform {

namespace {

bool OnPage(const Form& form, const Component& c) { return c.page == -1 || c.page == form.activePage; }

// The label that names a text box: the nearest one on its row to its left, else the nearest above.
std::string EditLabel(const Form& form, const Component& edit) {
  const Component* best = nullptr;
  int bestScore = 0;
  for (const auto& c : form.Components()) {
    if (c->kind != ComponentKind::Label || !c->visible || !OnPage(form, *c) || c->caption.empty()) continue;
    int score;
    if (std::abs(c->top - edit.top) <= 8 && c->left < edit.left)
      score = edit.left - c->left;
    else if (c->top < edit.top)
      score = 10000 + (edit.top - c->top);
    else
      continue;
    if (!best || score < bestScore) {
      best = c.get();
      bestScore = score;
    }
  }
  std::string label = best ? StripAccelerator(best->caption) : edit.name;
  while (!label.empty() && label.back() == ':') label.pop_back();
  return label;
}

// Subfolders shown for a choice, sorted, hidden ones left out.
std::vector<std::string> Subfolders(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  std::filesystem::directory_iterator it(folder, error), end;
  for (; !error && it != end; it.increment(error)) {
    std::string name = it->path().filename().string();
    if (name.empty() || name[0] == '.') continue;
    std::error_code kindError;
    if (it->is_directory(kindError)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string Child(const std::string& folder, const std::string& name) {
  return !folder.empty() && folder.back() == kPathSeparator ? folder + name : folder + kPathSeparator + name;
}

// A root is its own parent.
std::string Parent(const std::string& folder) {
  const size_t root = PathRootLength(folder);
  const size_t slash = folder.find_last_of(kPathSeparator);
  if (slash == std::string::npos) return std::string(1, kPathSeparator);
  if (slash < root) return folder.substr(0, root);
  return folder.substr(0, slash);
}

constexpr size_t kListedFolders = 200;

}  // namespace

TerminalToolkit::ReadResult TerminalToolkit::ReadSecretLine(std::string& line) {
  ReadResult result;
  bool quiet;
  {
    console::EchoOffScope echoOff(options_.inputFd);
    quiet = echoOff.Active();
    result = ReadLine(line);
  }
  if (quiet) Write("\n");
  return result;
}

void TerminalToolkit::PromptEdits(Form& form) {
  if (options_.autoYes) return;
  for (const auto& c : form.Components()) {
    if (c->kind != ComponentKind::Edit || !c->visible || !c->enabled || c->readOnly || !OnPage(form, *c)) continue;
    std::string label = EditLabel(form, *c);
    if (c->secret)
      Write(label + (c->caption.empty() ? " (not shown): " : " (not shown, Enter keeps it): "));
    else
      Write(label + (c->caption.empty() ? ": " : " [" + ShownText(c->caption) + "]: "));
    std::string answer;
    ReadResult r = c->secret ? ReadSecretLine(answer) : ReadLine(answer);
    if (r != ReadResult::Line) {
      Write("\n");
      return;  // the buttons' prompt handles the end of input
    }
    if (!answer.empty()) c->caption = answer;
    form.focused = c->name;
  }
}

// The directory chooser: the selected folder, its subfolders numbered, and keys for the
// browser's buttons.
class TerminalFolderBrowser : public FolderBrowser {
 public:
  void Attach(TerminalToolkit* toolkit) { toolkit_ = toolkit; }

  ItemIdList BrowseForFolder(BrowseInfo& info) override {
    BasicFolderBrowserWindow window(nextHandle_, info, items_, WindowRect{0, 0, 80, 24});
    nextHandle_ += 0x100;
    window.Initialize();
    while (!window.Closed()) Turn(window, info);
    return window.Result();
  }
  std::optional<std::string> PathFromIDList(ItemIdList item) override { return items_.PathOf(item); }
  ItemIdList SpecialFolderLocation(int csidl) override { return items_.Special(csidl); }
  void FreeItem(ItemIdList item) override { items_.Free(item); }
  std::pair<int, int> ScreenSize() const override { return {80, 24}; }
  size_t LiveItems() const override { return items_.Count(); }

 private:
  void Turn(BasicFolderBrowserWindow& window, const BrowseInfo& info) {
    std::string folder = window.SelectedPath().value_or(std::string(1, kPathSeparator));
    std::vector<std::string> subfolders = Subfolders(folder);
    if (!info.title.empty()) toolkit_->WriteLine(info.title);
    toolkit_->WriteLine("  Folder: " + folder);
    if (!window.StatusText().empty() && window.StatusText() != folder) toolkit_->WriteLine("  " + window.StatusText());
    for (size_t i = 0; i < subfolders.size() && i < kListedFolders; ++i)
      toolkit_->WriteLine("  " + std::to_string(i + 1) + "  " + subfolders[i] + kPathSeparator);
    if (subfolders.size() > kListedFolders)
      toolkit_->WriteLine("  ... " + std::to_string(subfolders.size() - kListedFolders) + " more: type a path");
    std::string keys = "number or path: open, u: up";
    if (window.OkEnabled()) keys += ", o: OK (choose " + folder + ")";
    for (const auto& b : window.Buttons()) {
      char key = AcceleratorKey(b.caption);
      if (b.enabled && key) keys += std::string(", ") + key + ": " + StripAccelerator(b.caption);
    }
    keys += ", c: Cancel";
    toolkit_->Write(keys + "? ");

    std::string line;
    if (toolkit_->ReadLine(line) != TerminalToolkit::ReadResult::Line) {
      toolkit_->Write("\n");
      window.Command(kIdCancel);  // nobody is there to choose
      return;
    }
    std::string answer = TrimAnswer(line);
    std::string lower = AsciiLower(answer);
    if (lower == "u") {
      window.SelectPath(Parent(folder));
    } else if (lower == "o" || lower == "ok") {
      window.Command(kIdOk);
    } else if (lower == "c" || lower == "esc" || lower == "q") {
      window.Command(kIdCancel);
    } else if (!answer.empty() && answer.find_first_not_of("0123456789") == std::string::npos && answer.size() < 9) {
      size_t n = static_cast<size_t>(std::stoul(answer));
      if (n >= 1 && n <= subfolders.size()) window.SelectPath(Child(folder, subfolders[n - 1]));
    } else if (PathRootLength(answer) > 0) {
      if (DirectoryExists(answer))
        window.SelectPath(answer);
      else
        toolkit_->WriteLine("No folder " + answer);
    } else if (lower.size() == 1) {
      for (const auto& b : window.Buttons())
        if (b.enabled && AcceleratorKey(b.caption) == lower[0]) {
          window.Command(b.controlId);
          break;
        }
    }
  }

  TerminalToolkit* toolkit_ = nullptr;
  ItemTable items_;
  uint32_t nextHandle_ = 0x4000;
};

FolderBrowser& TerminalToolkit::FolderBrowserBackend() {
  static TerminalFolderBrowser browser;
  browser.Attach(this);
  return browser;
}

bool TerminalToolkit::RunPropertyPage(Form& page) {
  // The page's list is its first multi-line text box; its buttons, check boxes and one-line text
  // boxes (by their labels' access keys) become actions.
  Component* list = nullptr;
  for (const auto& c : page.Components())
    if (c->kind == ComponentKind::Memo && !list) list = c.get();
  if (options_.autoYes) return true;
  auto usable = [&](const Component& c) { return c.visible && c.enabled && !c.readOnly && OnPage(page, c); };
  // A text box's label, shown with its value; the box is reached by the label's key.
  auto labelledEdit = [&](const Component& label) -> Component* {
    Component* edit = label.focusControl.empty() ? nullptr : page.Find(label.focusControl);
    return edit && edit->kind == ComponentKind::Edit && usable(*edit) && !edit->secret ? edit : nullptr;
  };
  auto labelText = [](const Component& label) {
    std::string text = StripAccelerator(label.caption);
    while (!text.empty() && text.back() == ':') text.pop_back();
    return text;
  };
  for (;;) {
    WriteLine(page.caption);
    for (const auto& c : page.Components()) {
      if (!c->visible || c.get() == list) continue;
      if (c->kind == ComponentKind::CheckBox) {
        WriteLine(std::string("  [") + (c->checked ? "x" : " ") + "] " + StripAccelerator(c->caption));
      } else if (Component* edit = c->kind == ComponentKind::Label ? labelledEdit(*c) : nullptr) {
        WriteLine("  " + labelText(*c) + ": " + ShownText(edit->caption));
      } else if (c->kind == ComponentKind::Label && !c->caption.empty() && c->caption.size() <= 60) {
        // The long explanations stay in the windowed page; the terminal shows the short labels.
        WriteLine("  " + StripAccelerator(c->caption));
      }
    }
    if (list) {
      if (list->lines.empty()) WriteLine("    (none)");
      for (size_t i = 0; i < list->lines.size(); ++i) WriteLine("    " + std::to_string(i + 1) + "  " + list->lines[i]);
    }
    std::string keys;
    std::vector<std::pair<char, Component*>> actions;
    for (const auto& c : page.Components()) {
      char key = AcceleratorKey(c->caption);
      const bool button = c->kind == ComponentKind::Button && c->onClick;
      const bool box = c->kind == ComponentKind::CheckBox || (c->kind == ComponentKind::Label && labelledEdit(*c));
      if (!(button || box) || !usable(*c) || !key) continue;
      actions.emplace_back(key, c.get());
      keys += std::string(keys.empty() ? "" : ", ") + key + ": " + labelText(*c);
      if (c->kind == ComponentKind::CheckBox) keys += " on/off";
    }
    if (list) keys += std::string(keys.empty() ? "" : ", ") + "e N: edit line N, d N: delete line N";
    keys += std::string(keys.empty() ? "" : ", ") + "s: save, c: cancel";
    Write(keys + "? ");

    std::string line;
    if (ReadLine(line) != ReadResult::Line) {
      Write("\n");
      return false;  // nobody is there to save
    }
    std::string answer = TrimAnswer(line);
    std::string lower = AsciiLower(answer);
    if (lower == "s" || lower == "save") return true;
    if (lower == "c" || lower == "cancel" || lower == "esc") return false;
    if (list && lower.size() > 2 && (lower[0] == 'e' || lower[0] == 'd') && lower[1] == ' ') {
      std::string number = TrimAnswer(answer.substr(2));
      size_t n = number.find_first_not_of("0123456789") == std::string::npos && !number.empty() && number.size() < 9
                     ? static_cast<size_t>(std::stoul(number))
                     : 0;
      if (n < 1 || n > list->lines.size()) {
        WriteLine("No line " + number);
        continue;
      }
      if (lower[0] == 'd') {
        list->lines.erase(list->lines.begin() + static_cast<long>(n - 1));
      } else {
        Write("Line " + std::to_string(n) + " (Enter keeps it): ");
        std::string text;
        if (ReadLine(text) != ReadResult::Line) return false;
        if (!text.empty()) list->lines[n - 1] = text;
      }
      continue;
    }
    if (lower.size() == 1) {
      for (auto& [key, action] : actions) {
        if (key != lower[0]) continue;
        if (action->kind == ComponentKind::CheckBox) {
          action->checked = !action->checked;
          if (action->onClick) action->onClick();
        } else if (Component* edit = action->kind == ComponentKind::Label ? labelledEdit(*action) : nullptr) {
          Write(labelText(*action) + " [" + ShownText(edit->caption) + "] (Enter keeps it): ");
          std::string text;
          if (ReadLine(text) != ReadResult::Line) return false;
          if (!text.empty()) edit->caption = TrimAnswer(text);
          page.focused = edit->name;
        } else {
          action->Click();
        }
        break;
      }
    }
  }
}

}  // namespace skelder::platform
