#include "addin/dm_menus.h"

#include <cstdio>
#include <cstring>

#include "addin/u_main.h"
#include "deploy/u_utils.h"
#include "deploy/web_folder_settings.h"
#include "host/xr_direct_intf.h"
#include "platform/toolkit.h"

namespace skelder::addin {

namespace {

// The deploy action's icon: a globe with an upward arrow, 16 x 16.
constexpr const char* kDeployIcon[16] = {
    ".....kkkkk......", "...kkbbgbbkk....", "..kbbbggbbbbk...", ".kbggbbbbggbbk..",
    ".kbgggbbbgggbk..", "kbbbggbbbbggbbk.", "kbbbbbbbbbbbbbk.", "kgggbbbbbbbbggk.",
    "kbggbbbbbbbbbbk.", "kbbbbbggbbbook..", ".kbbbbbggbooook.", ".kbbbbbbbooooook",
    "..kbbbbbkkoookk.", "...kkbbbk.ooo...", ".....kkkk.ooo...", "..........ooo...",
};

uint32_t IconColour(char c) {
  switch (c) {
    case 'k':
      return 0xFF202040;
    case 'b':
      return 0xFF3A7BD5;
    case 'g':
      return 0xFF3CA845;
    case 'o':
      return 0xFFF08C1E;
    default:
      return 0x00000000;  // transparent
  }
}

std::vector<uint32_t> DeployIconPixels() {
  std::vector<uint32_t> pixels;
  pixels.reserve(256);
  for (const char* row : kDeployIcon)
    for (int x = 0; x < 16; ++x) pixels.push_back(IconColour(row[x]));
  return pixels;
}

// Only ReleaseVcsAddin destroys the module, never the library's unloading: the holder itself is
// never destroyed.
std::unique_ptr<TdmMenu>& Module() {
  static auto* module = new std::unique_ptr<TdmMenu>;
  return *module;
}

int32_t gSelectedWebFolder = 0;
// The host writes the permission into the first byte of a four-byte area.
uint8_t gPermissionArea[4] = {1, 0, 0, 0};
std::unique_ptr<TBitmap>& ItemBitmap() {
  static auto* bitmap = new std::unique_ptr<TBitmap>;
  return *bitmap;
}

void PutText(uint8_t* record, size_t offset, const std::string& text) {
  size_t n = std::min(text.size(), kRecordTextSize - 1);
  std::memcpy(record + offset, text.data(), n);
  record[offset + n] = 0;
}

void PutInt32(uint8_t* record, size_t offset, int32_t value) { std::memcpy(record + offset, &value, 4); }
void PutUInt32(uint8_t* record, size_t offset, uint32_t value) { std::memcpy(record + offset, &value, 4); }
void PutUInt16(uint8_t* record, size_t offset, uint16_t value) { std::memcpy(record + offset, &value, 2); }

// More than this as a needed notes size is no answer a host gives; it is not trusted.
constexpr int32_t kLargestObjectText = 64 * 1024 * 1024;

}  // namespace

bool TImageList::GetBitmap(int index, TBitmap& bitmap) const {
  if (index < 0 || index >= Count()) return false;
  bitmap.Width = Width;
  bitmap.Height = Height;
  bitmap.Pixels = Images[static_cast<size_t>(index)];
  return true;
}

TAction* TActionList::FindByTag(int32_t tag) const {
  for (TAction* action : Actions)
    if (action->Tag == tag) return action;
  return nullptr;
}

TdmMenu::TdmMenu() {
  ilAddin.Width = 16;
  ilAddin.Height = 16;
  ilAddin.Images.push_back(DeployIconPixels());

  actDeploy.Name = "actDeploy";
  actDeploy.Tag = kDeployActionId;
  actDeploy.Caption = "Deploy Folder...";
  actDeploy.Hint = "Deploy the currently selected Web Folder";
  actDeploy.ImageIndex = 0;
  actDeploy.OnExecute = [this] { actDeployExecute(); };
  MainActions.Images = &ilAddin;
  MainActions.Actions.push_back(&actDeploy);
  MainActions.OnUpdate = [this] { return MainActionsUpdate(); };

  mnuMain.Name = "mnuMain";
  mnuMain.Caption = "Web";
  DeployFolder1.Name = "DeployFolder1";
  DeployFolder1.Action = &actDeploy;
  DeployFolder1.Caption = actDeploy.Caption;
  DeployFolder1.Hint = actDeploy.Hint;
  mnuMain.Items.push_back(&DeployFolder1);
  MainMenu1.Images = &ilAddin;
  MainMenu1.Items.push_back(&mnuMain);

  DataModuleCreate();
}

TdmMenu::~TdmMenu() { DataModuleDestroy(); }

void TdmMenu::DataModuleCreate() {
  // The module's own handle on the host's main library; nothing is reported when it is absent.
  std::string path;
  try {
    path = deploy::AddBackslash(host::ClientInstallDir()) + "KVOMain.dll";
  } catch (...) {
    return;
  }
  mainLibrary_ = platform::DynamicLibrary(path);
  if (mainLibrary_.Loaded()) getObjectInfo_ = mainLibrary_.Function<host::TXRGetObjectInfo>("XRGetObjectInfo");
}

void TdmMenu::DataModuleDestroy() {
  getObjectInfo_ = nullptr;
  mainLibrary_.Reset();
}

bool TdmMenu::IsWebFolderObject(int32_t objectId) {
  if (!getObjectInfo_) return false;
  std::vector<char> buffer1(host::kObjectInfoBuffer1Size, 0);
  std::vector<char> buffer2(host::kObjectInfoBuffer2Size, 0);
  std::vector<char> text(host::kObjectInfoFirstTextSize, 0);
  int32_t size = host::kObjectInfoFirstTextSize;
  int32_t type = 0;
  int32_t status = getObjectInfo_(objectId, buffer1.data(), buffer2.data(), text.data(), &size, &type);
  if (status == host::kStatusBufferTooSmall) {
    if (size < 0 || size > kLargestObjectText) return false;
    text.assign(static_cast<size_t>(size) + 1, 0);
    status = getObjectInfo_(objectId, buffer1.data(), buffer2.data(), text.data(), &size, &type);
  }
  if (status != host::kStatusOk || type != host::kObjectTypeFolder) return false;
  // A text that fills its buffer without a terminating zero is read up to the buffer's end.
  std::string notes(text.data(), strnlen(text.data(), text.size()));
  return deploy::IsWebFolder(notes);
}

void TdmMenu::actDeployExecute() {
  char id[16];
  std::snprintf(id, sizeof id, "%d", static_cast<int>(gSelectedWebFolder));
  VcsHandleCommand("Deploy", id);
}

bool TdmMenu::MainActionsUpdate() {
  actDeploy.Enabled = DeployEnabled();
  return true;
}

TdmMenu* MenuModule() { return Module().get(); }

void CreateMenuModule() {
  if (!Module()) Module() = std::make_unique<TdmMenu>();
}

void DestroyMenuModule() { Module().reset(); }

int32_t SelectedWebFolder() { return gSelectedWebFolder; }
bool DeployPermission() { return gPermissionArea[0] != 0; }
bool DeployEnabled() { return gSelectedWebFolder != 0 && DeployPermission(); }
TBitmap* MenuItemBitmap() { return ItemBitmap().get(); }

int32_t TopMenuCount() { return MenuModule() ? 1 : 0; }

bool TopMenuInfo(int32_t index, uint8_t* record) {
  if (!MenuModule()) return true;
  if (index == -1 || index == -2) return true;
  if (index != 0 || !record) return false;
  const TMenuItem& top = *MenuModule()->MainMenu1.Items[0];
  PutText(record, kTopMenuCaptionOffset, top.Caption);
  PutText(record, kTopMenuHintOffset, top.Hint);
  PutInt32(record, kTopMenuValueAOffset, kTopMenuValueA);
  PutInt32(record, kTopMenuValueBOffset, kTopMenuValueB);
  return true;
}

bool MenuInfo(int32_t top, int32_t item, int32_t* count, uint8_t* record) {
  TdmMenu* module = MenuModule();
  if (!module) return true;
  if (top != 0) return false;
  if (item == -1) {
    // A second prepare without a finish replaces the bitmap.
    ItemBitmap() = std::make_unique<TBitmap>();
    return true;
  }
  if (item == -2) {
    ItemBitmap().reset();
    return true;
  }
  if (item != 0 || !record) return false;
  if (count) *count = 0;
  const TMenuItem& entry = *module->mnuMain.Items[0];
  const TAction& action = *entry.Action;
  PutInt32(record, kItemActionIdOffset, action.Tag);
  record[kItemFlagOffset] = 0;
  PutText(record, kItemCaptionOffset, action.Caption);
  PutText(record, kItemHintOffset, action.Hint);
  PutUInt16(record, kItemShortCutOffset, action.ShortCut);
  uint32_t bitmapHandle = 0;
  // A host that skipped the prepare call gets the item without its picture.
  if (ItemBitmap()) {
    ItemBitmap()->Clear();
    if (action.ImageIndex >= 0 && module->ilAddin.GetBitmap(action.ImageIndex, *ItemBitmap()))
      bitmapHandle = platform::CurrentToolkit().HandleOf(*ItemBitmap());
  }
  PutUInt32(record, kItemBitmapOffset, bitmapHandle);
  PutInt32(record, kItemValueAOffset, 0);
  PutInt32(record, kItemValueBOffset, 0);
  return true;
}

bool ActionStatus(int32_t id, uint8_t* enabled, uint8_t* checked, uint8_t* visible) {
  TdmMenu* module = MenuModule();
  if (!module) return false;
  TAction* action = module->MainActions.FindByTag(id);
  if (!action) return false;
  if (enabled) *enabled = DeployEnabled() ? 1 : 0;
  if (checked) *checked = action->Checked ? 1 : 0;
  if (visible) *visible = action->Visible ? 1 : 0;
  return DeployPermission();
}

bool ActionExecute(int32_t id) {
  TdmMenu* module = MenuModule();
  if (!module) return false;
  TAction* action = module->MainActions.FindByTag(id);
  if (!action) return false;
  // The rule is applied again first: a host that runs the action without asking its status
  // (with no web folder selected, say) gets nothing run for folder 0.
  if (module->MainActions.OnUpdate) module->MainActions.OnUpdate();
  if (action->Enabled) action->Execute();
  return true;
}

void NotifySelection(int32_t kind, const void* selection) {
  if (kind != kSelectionKindObject) {
    gSelectedWebFolder = 0;
    return;
  }
  // A reference to a reference to the id; one that leads nowhere selects nothing.
  const int32_t* const* reference = static_cast<const int32_t* const*>(selection);
  if (!reference || !*reference) {
    gSelectedWebFolder = 0;
    return;
  }
  int32_t id = **reference;
  if (id == gSelectedWebFolder) return;
  TdmMenu* module = MenuModule();
  if (!module) return;
  if (module->IsWebFolderObject(id)) {
    gSelectedWebFolder = id;
    uint8_t scratch1 = 0, scratch2 = 0;
    try {
      host::VcsGetFolderPermissions(id, gPermissionArea, scratch1, scratch2);
    } catch (...) {
      // A host that cannot say whether the folder may be deployed does not get the action.
      gPermissionArea[0] = 0;
    }
  } else {
    gSelectedWebFolder = 0;
  }
}

}  // namespace skelder::addin
