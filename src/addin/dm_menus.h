#pragma once
// The menu module: the "Web" top-level menu with "Deploy Folder...", the deploy action with its
// icon, the selection it is enabled for, and the byte records the menu exports hand the host.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/xr_vcs_types.h"
#include "platform/dynlib.h"
#include "platform/widgets.h"

namespace skelder::addin {

inline constexpr int32_t kDeployActionId = 10001;
inline constexpr int32_t kSelectionKindObject = 1;

// Top-menu record.
inline constexpr size_t kTopMenuCaptionOffset = 0;
inline constexpr size_t kTopMenuHintOffset = 256;
inline constexpr size_t kTopMenuValueAOffset = 516;
inline constexpr size_t kTopMenuValueBOffset = 520;
inline constexpr size_t kTopMenuRecordSize = 524;
inline constexpr int32_t kTopMenuValueA = 5002;
inline constexpr int32_t kTopMenuValueB = 1;
// Menu-item record.
inline constexpr size_t kItemActionIdOffset = 0;
inline constexpr size_t kItemFlagOffset = 4;
inline constexpr size_t kItemCaptionOffset = 5;
inline constexpr size_t kItemHintOffset = 261;
inline constexpr size_t kItemShortCutOffset = 773;
inline constexpr size_t kItemBitmapOffset = 775;
inline constexpr size_t kItemValueAOffset = 781;
inline constexpr size_t kItemValueBOffset = 785;
inline constexpr size_t kMenuItemRecordSize = 789;
inline constexpr size_t kRecordTextSize = 256;

// A picture the host may copy; it takes its 32-bit handle from the toolkit's table.
class TBitmap : public platform::Form {
 public:
  TBitmap() : platform::Form("bmpMenuItem") {}
  int Width = 0;
  int Height = 0;
  std::vector<uint32_t> Pixels;  // 0xAARRGGBB, rows top to bottom
  void Clear() {
    Width = Height = 0;
    Pixels.clear();
  }
};

class TImageList {
 public:
  int Width = 16;
  int Height = 16;
  std::vector<std::vector<uint32_t>> Images;
  int Count() const { return static_cast<int>(Images.size()); }
  // Draws image `index` into the bitmap (sized to the list's images); false when there is none.
  bool GetBitmap(int index, TBitmap& bitmap) const;
};

struct TAction {
  std::string Name;
  int32_t Tag = 0;
  std::string Caption;
  std::string Hint;
  int ImageIndex = -1;
  uint16_t ShortCut = 0;
  bool Checked = false;
  bool Visible = true;
  bool Enabled = true;
  std::function<void()> OnExecute;
  void Execute() {
    if (OnExecute) OnExecute();
  }
};

struct TActionList {
  TImageList* Images = nullptr;
  std::vector<TAction*> Actions;
  std::function<bool()> OnUpdate;  // true: the update was handled
  // The first action, in list order, with this tag; null when none has it.
  TAction* FindByTag(int32_t tag) const;
};

struct TMenuItem {
  std::string Name;
  std::string Caption;
  std::string Hint;
  TAction* Action = nullptr;
  std::vector<TMenuItem*> Items;
};

struct TMainMenu {
  TImageList* Images = nullptr;
  std::vector<TMenuItem*> Items;
};

class TdmMenu {
 public:
  TdmMenu();   // runs DataModuleCreate
  ~TdmMenu();  // runs DataModuleDestroy
  TdmMenu(const TdmMenu&) = delete;
  TdmMenu& operator=(const TdmMenu&) = delete;

  TActionList MainActions;
  TAction actDeploy;
  TMainMenu MainMenu1;
  TMenuItem mnuMain;
  TMenuItem DeployFolder1;
  TImageList ilAddin;

  // Whether the host's notes of this object make it a web folder.
  bool IsWebFolderObject(int32_t objectId);
  bool HasObjectInfo() const { return getObjectInfo_ != nullptr; }

  void actDeployExecute();
  bool MainActionsUpdate();

 private:
  void DataModuleCreate();
  void DataModuleDestroy();

  platform::DynamicLibrary mainLibrary_;
  host::TXRGetObjectInfo getObjectInfo_ = nullptr;
};

// The menu module, none until the host opens the menu interface.
TdmMenu* MenuModule();
void CreateMenuModule();   // keeps an existing one
void DestroyMenuModule();  // none afterwards in every case

// Module-level selection state.
int32_t SelectedWebFolder();
bool DeployPermission();
bool DeployEnabled();  // the enabling rule

// What the menu exports do, with and without a module.
int32_t TopMenuCount();
bool TopMenuInfo(int32_t index, uint8_t* record);
bool MenuInfo(int32_t top, int32_t item, int32_t* count, uint8_t* record);
bool ActionStatus(int32_t id, uint8_t* enabled, uint8_t* checked, uint8_t* visible);
bool ActionExecute(int32_t id);
void NotifySelection(int32_t kind, const void* selection);

// The menu-item bitmap while the host enumerates the menu; null outside.
TBitmap* MenuItemBitmap();

}  // namespace skelder::addin
