#pragma once
// TKVOClientBrowseFolder: a directory choice in the platform's folder browser, extended with one
// button of its own (by default "&New Folder": makes a folder under the selection and reopens
// the browser on it), the shortened current path in the status line, OK (and on request the
// extra button) enabled only for file-system folders, and the browser reopened where the user
// last left it. It reaches the browser only through platform::FolderBrowser.
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>

#include "platform/folder_browser.h"
#include "platform/widgets.h"

namespace skelder::ui {

enum TBrowseInfoFlags : uint8_t {
  bfFileSysDirsOnly,
  bfDontGoBelowDomain,
  bfStatusText,
  bfFileSysAncestors,
  bfBrowseForComputer,
  bfBrowseForPrinter,
};

// A set of TBrowseInfoFlags in one byte, bit n for the n-th value.
class TBrowseInfoFlagSet {
 public:
  constexpr TBrowseInfoFlagSet() = default;
  constexpr TBrowseInfoFlagSet(std::initializer_list<TBrowseInfoFlags> flags) {
    for (auto f : flags) bits_ |= static_cast<uint8_t>(1u << f);
  }
  constexpr bool Has(TBrowseInfoFlags f) const { return (bits_ >> f) & 1u; }
  constexpr uint8_t Bits() const { return bits_; }
  constexpr bool operator==(const TBrowseInfoFlagSet&) const = default;
  // The OR of the platform values of the members.
  uint32_t PlatformBits() const;

 private:
  uint8_t bits_ = 0;
};

enum TCustomButtonType { btPushButton, btCheckBox };

enum TSHFolders {
  foDesktop,
  foDesktopExpanded,
  foPrograms,
  foControlPanel,
  foPrinters,
  foPersonal,
  foFavorites,
  foStartup,
  foRecent,
  foSendto,
  foRecycleBin,
  foStartMenu,
  foDesktopDirectory,
  foMyComputer,
  foNetwork,
  foNetworkNeighborhood,
  foFonts,
  foTemplates,
};

// The special-folder id of a root; -1 for foDesktopExpanded (no root given).
int SpecialFolderId(TSHFolders folder);

class TKVOClientBrowseFolder;

using TBrowserInitializedEvent = std::function<void(TKVOClientBrowseFolder& Sender, uint32_t DialogHandle)>;
using TSelectionChangedEvent = std::function<void(TKVOClientBrowseFolder& Sender, uint32_t DialogHandle,
                                                  platform::ItemIdList ItemIDList, const std::string& Directory)>;
using TCustomButtonClickEvent = std::function<void(TKVOClientBrowseFolder& Sender, uint32_t DialogHandle)>;

inline constexpr int kCustomButtonId = 0xFF;
inline constexpr int kDefaultCustomButtonWidth = 75;
inline constexpr size_t kStatusPathLimit = 35;

class TKVOClientBrowseFolder : private platform::FolderBrowserCallback, private platform::FolderBrowserMessageHandler {
 public:
  // The owner is the form the component belongs to (none for a free-standing one).
  explicit TKVOClientBrowseFolder(platform::Form* owner = nullptr);
  ~TKVOClientBrowseFolder() override;
  TKVOClientBrowseFolder(const TKVOClientBrowseFolder&) = delete;
  TKVOClientBrowseFolder& operator=(const TKVOClientBrowseFolder&) = delete;

  // Shows the browser modally; true when the user chose a folder, which is then in Directory.
  bool Execute();

  platform::Form* Owner() const { return owner_; }
  // Design-mode state: the extra button then only reports the current path.
  bool Designing = false;
  // The window that owns the browser; set by the caller.
  uint32_t OwnerWindow = 0;

  std::string Directory;
  std::string Title;
  TBrowseInfoFlagSet Flags{bfFileSysDirsOnly, bfStatusText};
  bool ShowPathInStatusArea = false;
  TSHFolders RootFolder = foDesktopExpanded;
  bool CustomButtonVisible = false;
  bool CustomButtonEnabled() const { return customButtonEnabled_; }
  void SetCustomButtonEnabled(bool enabled);
  const std::string& CustomButtonCaption() const { return customButtonCaption_; }
  void SetCustomButtonCaption(const std::string& caption);
  std::string NewNameCaption;
  std::string NewNameTitle;
  int CustomButtonWidth() const { return customButtonWidth_; }
  void SetCustomButtonWidth(int width);
  TCustomButtonType CustomButtonType = btPushButton;
  bool CustomButtonChecked = false;
  bool SyncCustomButton = false;
  TBrowserInitializedEvent OnInitialized;
  TSelectionChangedEvent OnSelectionChanged;
  TCustomButtonClickEvent OnCustomButtonClick;

  // Read-only views of the internal fields.
  uint32_t DialogWindow() const { return dialogWindow_; }
  uint32_t ButtonWindow() const { return buttonWindow_; }
  const std::string& DisplayName() const { return displayName_; }
  int32_t ImageIndex() const { return imageIndex_; }
  const std::string& CurrentPath() const { return currentPath_; }

 private:
  void BrowserInitialized(platform::FolderBrowserWindow& browser) override;
  void BrowserSelectionChanged(platform::FolderBrowserWindow& browser, platform::ItemIdList item) override;
  void HandleBrowserMessage(platform::FolderBrowserWindow& browser, const platform::BrowserMessage& message) override;
  void PlaceBrowser(platform::FolderBrowserWindow& browser);
  void RememberPlace(platform::FolderBrowserWindow& browser);
  void NewFolder(platform::FolderBrowserWindow& browser);
  uint32_t ChooseOwnerWindow() const;
  bool ButtonShown() const;

  platform::Form* owner_;
  platform::FolderBrowser* browser_ = nullptr;      // while Execute runs
  platform::FolderBrowserWindow* shown_ = nullptr;  // while the browser is shown
  uint32_t dialogWindow_ = 0;
  uint32_t buttonWindow_ = 0;
  std::string displayName_;
  int32_t imageIndex_ = 0;
  std::string currentPath_;
  bool customButtonEnabled_ = true;
  std::string customButtonCaption_;
  int customButtonWidth_ = kDefaultCustomButtonWidth;
  bool restart_ = false;
};

// Where the next browser opens: shared by every instance, (0, 0) until a browser was shown.
std::pair<int, int> RememberedBrowserPosition();
void SetRememberedBrowserPosition(int left, int top);

// The path shortened for the status line: the second part becomes "..." and further parts
// after it are dropped while the text is longer than the limit.
std::string ShortenPath(const std::string& path, size_t limit = kStatusPathLimit,
                        char separator = '\0' /* the platform's */);

// The directory choice of the property page: the chosen folder, followed by a separator when
// the initial text did not end with one; the initial text unchanged when cancelled.
std::string BrowseForDirectory(uint32_t ownerWindow, const std::string& initial);

}  // namespace skelder::ui
