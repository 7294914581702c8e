#include "platform/folder_browser.h"

#include <algorithm>
#include <cstdlib>

#include "platform/files.h"
#include "platform/toolkit.h"

namespace skelder::platform {

namespace {

// A folder path in the one form the browser keeps: no trailing separator but on the root.
std::string CanonicalFolder(std::string path) {
  // A drive's root keeps its separator: "C:" alone names the drive's current folder.
  const size_t root = PathRootLength(path) > 1 ? PathRootLength(path) : 1;
  while (path.size() > root && path.back() == kPathSeparator) path.pop_back();
  return path;
}

std::string LastComponent(const std::string& path) {
  if (path.size() <= 1 || path.size() == PathRootLength(path)) return path;
  auto slash = path.find_last_of(kPathSeparator);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

ItemIdList ItemTable::Add(std::optional<std::string> path, std::string name) {
  ItemIdList id = next_++;
  if (next_ == 0) next_ = 0x100;
  items_[id] = Item{std::move(path), std::move(name)};
  return id;
}

std::optional<std::string> ItemTable::PathOf(ItemIdList item) const {
  auto it = items_.find(item);
  if (it == items_.end()) return std::nullopt;
  return it->second.path;
}

std::string ItemTable::NameOf(ItemIdList item) const {
  auto it = items_.find(item);
  return it == items_.end() ? std::string() : it->second.name;
}

ItemIdList ItemTable::Special(int csidl) {
  const char* home = std::getenv("HOME");
  std::string homeDir = home && *home ? CanonicalFolder(home) : std::string(1, kPathSeparator);
  switch (csidl) {
    case 0:  // desktop
      return Add(std::string(1, kPathSeparator), "Desktop");
    case 5:   // personal
    case 16:  // desktop directory
      return Add(homeDir, LastComponent(homeDir));
    case 4:
      return Add(std::nullopt, "Printers");
    case 18:
    case 19:
      return Add(std::nullopt, "Network");
    default:
      return 0;
  }
}

BasicFolderBrowserWindow::BasicFolderBrowserWindow(uint32_t handle, BrowseInfo& info, ItemTable& items, WindowRect rect)
    : handle_(handle), info_(info), items_(items), rect_(rect), nextButton_(handle + 1) {}

BasicFolderBrowserWindow::~BasicFolderBrowserWindow() {
  for (ItemIdList item : owned_) items_.Free(item);
}

ItemIdList BasicFolderBrowserWindow::Own(ItemIdList item) {
  owned_.push_back(item);
  return item;
}

void BasicFolderBrowserWindow::Initialize() {
  // The tree starts on its root (the file-system root when none is given).
  std::optional<std::string> rootPath =
      info_.root ? items_.PathOf(info_.root) : std::optional<std::string>(std::string(1, kPathSeparator));
  selection_ = Own(items_.Add(rootPath, info_.root ? items_.NameOf(info_.root) : "Desktop"));
  ItemIdList before = selection_;
  if (info_.callback) info_.callback->BrowserInitialized(*this);
  // The first selection is reported unless the callback already moved it.
  if (selection_ == before && !closed_ && info_.callback) info_.callback->BrowserSelectionChanged(*this, selection_);
}

void BasicFolderBrowserWindow::SetSelection(const std::string& path) {
  if (closed_ || path.empty() || !DirectoryExists(path)) return;
  SelectPath(path);
}

void BasicFolderBrowserWindow::SelectPath(const std::string& path) {
  std::string folder = CanonicalFolder(path);
  SelectItem(Own(items_.Add(folder, LastComponent(folder))));
}

void BasicFolderBrowserWindow::SelectItem(ItemIdList item) {
  if (closed_) return;
  selection_ = item;
  if (info_.callback) info_.callback->BrowserSelectionChanged(*this, item);
}

void BasicFolderBrowserWindow::SelectPlace(const std::string& name) { SelectItem(Own(items_.Add(std::nullopt, name))); }

uint32_t BasicFolderBrowserWindow::CreateButton(int controlId, int left, int top, int width, int height,
                                                const std::string& caption, uint32_t buttonStyle) {
  Button button;
  button.controlId = controlId;
  button.window = nextButton_++;
  button.left = left;
  button.top = top;
  button.width = width;
  button.height = height;
  button.caption = caption;
  button.style = buttonStyle;
  buttons_.push_back(button);
  return button.window;
}

BasicFolderBrowserWindow::Button* BasicFolderBrowserWindow::ButtonByWindow(uint32_t window) {
  for (auto& b : buttons_)
    if (window != 0 && b.window == window) return &b;
  return nullptr;
}

BasicFolderBrowserWindow::Button* BasicFolderBrowserWindow::ButtonById(int controlId) {
  for (auto& b : buttons_)
    if (b.controlId == controlId) return &b;
  return nullptr;
}

const BasicFolderBrowserWindow::Button* BasicFolderBrowserWindow::FindButton(int controlId) const {
  for (auto& b : buttons_)
    if (b.controlId == controlId) return &b;
  return nullptr;
}

bool BasicFolderBrowserWindow::IsWindow(uint32_t window) const {
  if (closed_ || window == 0) return false;
  if (window == handle_) return true;
  return std::any_of(buttons_.begin(), buttons_.end(), [&](const Button& b) { return b.window == window; });
}

void BasicFolderBrowserWindow::EnableWindow(uint32_t window, bool enabled) {
  if (Button* b = ButtonByWindow(window)) b->enabled = enabled;
}

void BasicFolderBrowserWindow::SetControlText(uint32_t window, const std::string& text) {
  if (Button* b = ButtonByWindow(window)) b->caption = text;
}

void BasicFolderBrowserWindow::CheckDlgButton(int controlId, bool checked) {
  if (Button* b = ButtonById(controlId)) b->checked = checked;
}

bool BasicFolderBrowserWindow::IsDlgButtonChecked(int controlId) const {
  const Button* b = FindButton(controlId);
  return b && b->checked;
}

void BasicFolderBrowserWindow::SetWindowPos(int left, int top) {
  int w = rect_.Width(), h = rect_.Height();
  rect_ = WindowRect{left, top, left + w, top + h};
}

void BasicFolderBrowserWindow::PressEscape() {
  // Key input is handled after the message being handled now, as a posted key would be.
  BrowserMessage escape{BrowserMessage::Command, kIdCancel};
  if (depth_ > 0)
    posted_.push_back(escape);
  else
    Dispatch(escape);
}

void BasicFolderBrowserWindow::DefaultHandling(const BrowserMessage& message) {
  if (closed_ || message.kind != BrowserMessage::Command) return;
  if (message.controlId == kIdOk) {
    if (!okEnabled_) return;
    closed_ = true;
    // The caller owns the returned item: a copy of the selection.
    result_ = items_.Add(items_.PathOf(selection_), items_.NameOf(selection_));
    info_.displayName = items_.NameOf(selection_).substr(0, 259);
  } else if (message.controlId == kIdCancel) {
    closed_ = true;
    result_ = 0;
  }
}

void BasicFolderBrowserWindow::Dispatch(const BrowserMessage& message) {
  if (closed_) return;
  ++depth_;
  if (handler_)
    handler_->HandleBrowserMessage(*this, message);
  else
    DefaultHandling(message);
  --depth_;
  if (depth_ == 0) {
    while (!posted_.empty() && !closed_) {
      BrowserMessage next = posted_.front();
      posted_.erase(posted_.begin());
      Dispatch(next);
    }
    posted_.clear();
  }
}

bool BasicFolderBrowserWindow::Command(int controlId) {
  if (closed_) return false;
  if (controlId == kIdOk && !okEnabled_) return false;
  if (controlId != kIdOk && controlId != kIdCancel) {
    Button* b = ButtonById(controlId);
    if (!b || !b->enabled) return false;
    if (b->style == kBsAutoCheckBox) b->checked = !b->checked;
  }
  Dispatch(BrowserMessage{BrowserMessage::Command, controlId});
  return true;
}

void BasicFolderBrowserWindow::Move(int left, int top) {
  if (closed_) return;
  SetWindowPos(left, top);
  Dispatch(BrowserMessage{BrowserMessage::Other, 0});
}

FolderBrowser& Toolkit::FolderBrowserBackend() {
  static NoFolderBrowser none;
  return none;
}

}  // namespace skelder::platform
