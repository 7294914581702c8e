#include "ui/frm_browse_folder.h"

#include <vector>

#include "platform/files.h"
#include "platform/toolkit.h"
#include "ui/input_query.h"

namespace skelder::ui {

namespace {

// Shared by every instance, from the first browser shown until the library unloads.
int gRememberedLeft = 0;
int gRememberedTop = 0;

constexpr uint32_t kFlagValues[] = {
    platform::kBifReturnOnlyFsDirs,  platform::kBifDontGoBelowDomain, platform::kBifStatusText,
    platform::kBifReturnFsAncestors, platform::kBifBrowseForComputer, platform::kBifBrowseForPrinter,
};

constexpr int kSpecialFolderIds[] = {0, -1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 16, 17, 18, 19, 20, 21};

// Frees a browser item when the scope ends, on every path.
class ItemScope {
 public:
  ItemScope(platform::FolderBrowser& browser, platform::ItemIdList item) : browser_(browser), item_(item) {}
  ~ItemScope() {
    if (item_) browser_.FreeItem(item_);
  }
  ItemScope(const ItemScope&) = delete;
  ItemScope& operator=(const ItemScope&) = delete;
  platform::ItemIdList Get() const { return item_; }

 private:
  platform::FolderBrowser& browser_;
  platform::ItemIdList item_;
};

std::string Join(const std::vector<std::string>& parts, char separator) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) out += separator;
    out += parts[i];
  }
  return out;
}

}  // namespace

uint32_t TBrowseInfoFlagSet::PlatformBits() const {
  uint32_t bits = 0;
  for (int f = bfFileSysDirsOnly; f <= bfBrowseForPrinter; ++f)
    if (Has(static_cast<TBrowseInfoFlags>(f))) bits |= kFlagValues[f];
  return bits;
}

int SpecialFolderId(TSHFolders folder) {
  int index = static_cast<int>(folder);
  if (index < 0 || index >= static_cast<int>(std::size(kSpecialFolderIds))) return -1;
  return kSpecialFolderIds[index];
}

std::pair<int, int> RememberedBrowserPosition() { return {gRememberedLeft, gRememberedTop}; }

void SetRememberedBrowserPosition(int left, int top) {
  gRememberedLeft = left;
  gRememberedTop = top;
}

std::string ShortenPath(const std::string& path, size_t limit, char separator) {
  if (separator == '\0') separator = platform::kPathSeparator;
  if (path.size() <= limit) return path;
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t at = path.find(separator, start);
    if (at == std::string::npos) {
      parts.push_back(path.substr(start));
      break;
    }
    parts.push_back(path.substr(start, at - start));
    start = at + 1;
  }
  if (parts.size() < 3) return path;
  parts[1] = "...";
  std::string result = Join(parts, separator);
  while (result.size() > limit && parts.size() > 3) {
    parts.erase(parts.begin() + 2);
    result = Join(parts, separator);
  }
  return result;
}

TKVOClientBrowseFolder::TKVOClientBrowseFolder(platform::Form* owner) : owner_(owner) {}

TKVOClientBrowseFolder::~TKVOClientBrowseFolder() = default;

bool TKVOClientBrowseFolder::ButtonShown() const {
  return shown_ && buttonWindow_ != 0 && shown_->IsWindow(buttonWindow_);
}

void TKVOClientBrowseFolder::SetCustomButtonEnabled(bool enabled) {
  customButtonEnabled_ = enabled;
  if (ButtonShown()) shown_->EnableWindow(buttonWindow_, enabled);
}

void TKVOClientBrowseFolder::SetCustomButtonCaption(const std::string& caption) {
  customButtonCaption_ = caption;
  if (ButtonShown()) shown_->SetControlText(buttonWindow_, caption);
}

void TKVOClientBrowseFolder::SetCustomButtonWidth(int width) {
  customButtonWidth_ = width <= 0 ? kDefaultCustomButtonWidth : width;
}

uint32_t TKVOClientBrowseFolder::ChooseOwnerWindow() const {
  auto& toolkit = platform::CurrentToolkit();
  if (OwnerWindow != 0 && toolkit.FormOf(OwnerWindow) != nullptr) return OwnerWindow;
  // A form is a windowed control; the application has no main window of its own here.
  if (owner_) return toolkit.HandleOf(*owner_);
  return 0;
}

bool TKVOClientBrowseFolder::Execute() {
  platform::FolderBrowser& browser = platform::CurrentToolkit().FolderBrowserBackend();
  platform::BrowseInfo info;
  info.owner = ChooseOwnerWindow();
  int special = SpecialFolderId(RootFolder);
  ItemScope root(browser, special < 0 ? 0 : browser.SpecialFolderLocation(special));
  info.root = root.Get();
  info.title = Title;
  info.flags = Flags.PlatformBits();
  info.callback = this;

  browser_ = &browser;
  currentPath_ = Directory;
  platform::ItemIdList chosen = 0;
  do {
    restart_ = false;
    Directory = currentPath_;
    if (chosen) browser.FreeItem(chosen);
    chosen = browser.BrowseForFolder(info);
    shown_ = nullptr;
    dialogWindow_ = 0;
    buttonWindow_ = 0;
  } while (restart_);
  browser_ = nullptr;
  ItemScope result(browser, chosen);
  displayName_ = info.displayName;
  if (!result.Get()) return false;
  Directory = browser.PathFromIDList(result.Get()).value_or(std::string());
  currentPath_ = Directory;
  imageIndex_ = info.image;
  return true;
}

void TKVOClientBrowseFolder::PlaceBrowser(platform::FolderBrowserWindow& window) {
  platform::WindowRect rect = window.GetWindowRect();
  if (gRememberedLeft == 0 && gRememberedTop == 0) {
    auto [screenWidth, screenHeight] = browser_->ScreenSize();
    gRememberedLeft = screenWidth / 2 - rect.Width() / 2;
    gRememberedTop = screenHeight / 4;
  }
  window.SetWindowPos(gRememberedLeft, gRememberedTop);
}

void TKVOClientBrowseFolder::RememberPlace(platform::FolderBrowserWindow& window) {
  platform::WindowRect rect = window.GetWindowRect();
  gRememberedLeft = rect.left;
  gRememberedTop = rect.top;
}

void TKVOClientBrowseFolder::BrowserInitialized(platform::FolderBrowserWindow& window) {
  shown_ = &window;
  dialogWindow_ = window.Handle();
  PlaceBrowser(window);
  window.SetUserData(this);
  if (!Directory.empty() && platform::DirectoryExists(Directory)) window.SetSelection(Directory);
  if (CustomButtonVisible) {
    uint32_t style = CustomButtonType == btCheckBox ? platform::kBsAutoCheckBox : platform::kBsPushButton;
    buttonWindow_ = window.CreateButton(kCustomButtonId, 12, 270, customButtonWidth_, 23, customButtonCaption_, style);
    window.EnableWindow(buttonWindow_, customButtonEnabled_);
    if (CustomButtonType == btCheckBox) window.CheckDlgButton(kCustomButtonId, CustomButtonChecked);
    window.SetMessageHandler(this);
  }
  if (OnInitialized) OnInitialized(*this, dialogWindow_);
}

void TKVOClientBrowseFolder::BrowserSelectionChanged(platform::FolderBrowserWindow& window, platform::ItemIdList item) {
  // A browser closing to reopen on a new folder keeps that folder whatever its tree does
  // meanwhile (the shell refreshes it for the folder just made, which can move the selection).
  if (restart_) return;
  std::optional<std::string> path = browser_ ? browser_->PathFromIDList(item) : std::nullopt;
  currentPath_ = path.value_or(std::string());
  if (ShowPathInStatusArea) window.SetStatusText(ShortenPath(currentPath_));
  bool fileSystem = path.has_value();
  window.EnableOk(fileSystem);
  if (SyncCustomButton) SetCustomButtonEnabled(fileSystem);
  if (OnSelectionChanged) OnSelectionChanged(*this, window.Handle(), item, currentPath_);
}

void TKVOClientBrowseFolder::HandleBrowserMessage(platform::FolderBrowserWindow& window,
                                                  const platform::BrowserMessage& message) {
  bool command = message.kind == platform::BrowserMessage::Command;
  if (command && message.controlId == platform::kIdOk && CustomButtonType == btCheckBox) {
    CustomButtonChecked = window.IsDlgButtonChecked(kCustomButtonId);
    window.DefaultHandling(message);
    return;
  }
  if (command && message.controlId == kCustomButtonId) {
    if (Designing) {
      platform::CurrentToolkit().ShowMessageBox("Current directory is " + currentPath_, "",
                                                platform::MessageIcon::Information, platform::MessageButtons::Ok);
    } else if (OnCustomButtonClick) {
      OnCustomButtonClick(*this, window.Handle());
    } else {
      NewFolder(window);
    }
    return;
  }
  RememberPlace(window);
  window.DefaultHandling(message);
}

void TKVOClientBrowseFolder::NewFolder(platform::FolderBrowserWindow& window) {
  std::string name;
  if (!InputQuery(NewNameTitle, NewNameCaption, name) || name.empty()) return;
  restart_ = true;
  const char separator = platform::kPathSeparator;
  if (name.front() != separator) name.insert(name.begin(), separator);
  // Under a root that already ends with a separator the name's own one is not doubled.
  if (!currentPath_.empty() && currentPath_.back() == separator) name.erase(0, 1);
  // A folder that cannot be made is not reported: the browser reopens without selecting it.
  platform::ForceDirectories(currentPath_ + name, platform::Lookup::Exact);
  currentPath_ += name;
  RememberPlace(window);
  window.PressEscape();
}

std::string BrowseForDirectory(uint32_t ownerWindow, const std::string& initial) {
  const char separator = platform::kPathSeparator;
  bool endsWithSeparator = !initial.empty() && initial.back() == separator;
  TKVOClientBrowseFolder browse;
  browse.OwnerWindow = ownerWindow;
  browse.Directory = endsWithSeparator ? initial.substr(0, initial.size() - 1) : initial;
  browse.Flags = {bfFileSysDirsOnly, bfStatusText, bfFileSysAncestors};
  browse.ShowPathInStatusArea = true;
  browse.CustomButtonVisible = true;
  browse.Title = "Choose a directory:";
  browse.SetCustomButtonCaption("&New Folder");
  browse.NewNameCaption = "New Folder";
  browse.NewNameTitle = "Enter the name";
  browse.SyncCustomButton = true;
  if (!browse.Execute()) return initial;
  std::string result = browse.Directory;
  // A root comes back with its own final separator; it is not doubled.
  if (!endsWithSeparator && (result.empty() || result.back() != separator)) result += separator;
  return result;
}

}  // namespace skelder::ui
