#include "deploy/deploy_command.h"

#include <algorithm>

#include "deploy/deploy_dialog_seam.h"
#include "deploy/deploy_outcome.h"
#include "deploy/u_utils.h"
#include "deploy/web_folder_settings.h"
#include "host/xr_direct_intf.h"
#include "platform/ascii.h"
#include "platform/files.h"
#include "platform/toolkit.h"
#include "platform/text.h"

namespace skelder::deploy {

namespace {

constexpr int32_t kEnumWithSubfolders = 1;

// The path relative to folderPath when `path` is folderPath itself or lies below it. A sibling
// that merely shares the prefix ("web" and "website") is not below it.
bool RelativeTo(const std::string& path, const std::string& folderPath, std::string& relative) {
  if (path.compare(0, folderPath.size(), folderPath) != 0) return false;
  if (path.size() == folderPath.size()) {
    relative.clear();
    return true;
  }
  const bool prefixEndsWithSeparator = !folderPath.empty() && folderPath.back() == platform::kPathSeparator;
  if (prefixEndsWithSeparator) {
    relative = path.substr(folderPath.size());
    return true;
  }
  if (path[folderPath.size()] != platform::kPathSeparator) return false;
  relative = path.substr(folderPath.size() + 1);
  return true;
}

void Deploy(int32_t folderId) {
  auto& toolkit = platform::CurrentToolkit();
  host::VcsInvalidateCache();

  std::string name, caption, folderPath, notes;
  int32_t rootId = 0, int2 = 0, int3 = 0;
  const int32_t status = host::VcsGetFolderInfo(folderId, name, caption, folderPath, notes, rootId, int2, int3);
  if (status != host::kStatusOk) {
    std::string message;
    host::VcsErrorString(status, message);
    toolkit.Beep(platform::BeepKind::Exclamation);
    toolkit.ShowMessageBox(message, "Error", platform::MessageIcon::Error, platform::MessageButtons::Ok);
    return;
  }
  const std::string deployTo = ReadDeployTo(notes);

  TFolderList folders;
  TFileList files;
  // The scope ends the busy cursor on every way out, a failing host call included.
  BusyScope busy;
  host::VcsEnumFolders(rootId, CollectFolder, &folders, kEnumWithSubfolders);
  FilterFolders(folders, folderPath);

  TFileCollector collector;
  collector.Files = &files;
  host::VcsEnumFiles(folderId, CollectFile, &collector, kEnumWithSubfolders);
  if (collector.LockedFileSeen) {
    const auto answer = toolkit.ShowMessageBox(kLockedFilesQuestion, "Confirm", platform::MessageIcon::Question,
                                               platform::MessageButtons::YesNo);
    if (answer != platform::MessageAnswer::Yes) return;
    files.clear();
    collector.TakeLockedFiles = true;
    host::VcsEnumFiles(folderId, CollectFile, &collector, kEnumWithSubfolders);
  }
  FilterFiles(files, folders);
  busy.End();

  ShowDeployDialog(caption, deployTo, files, folders, notes);
}

}  // namespace

bool CollectFolder(void* context, const std::string&, const std::string&, const std::string& folderPath,
                   int32_t folderId, int32_t, int32_t, int32_t) {
  static_cast<TFolderList*>(context)->push_back({folderPath, folderId});
  return true;
}

bool CollectFile(void* context, const std::string& fileName, const std::string&, const std::string& lockHolder,
                 int32_t fileId, int32_t folderId, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                 uint8_t, uint8_t) {
  auto& collector = *static_cast<TFileCollector*>(context);
  if (lockHolder.empty() || collector.TakeLockedFiles) {
    collector.Files->push_back({fileName, TFileInfo{folderId, fileId}});
    return true;
  }
  collector.LockedFileSeen = true;
  return false;
}

void FilterFolders(TFolderList& folders, const std::string& folderPath) {
  std::string relative;
  auto kept = folders.begin();
  for (auto& folder : folders) {
    if (!RelativeTo(folder.Path, folderPath, relative)) continue;
    folder.Path = relative;
    if (&*kept != &folder) *kept = std::move(folder);
    ++kept;
  }
  folders.erase(kept, folders.end());
}

void FilterFiles(TFileList& files, const TFolderList& folders) {
  const FolderIndex index(folders);
  std::erase_if(files, [&](const TFileEntry& file) { return index.Find(file.Info.FolderId) < 0; });
}

bool HandleCommand(const std::string& command, const std::string& data) {
  if (!platform::EqualsIgnoringAsciiCase(command, kDeployCommand)) return false;
  ResetLastDeployOutcome();
  try {
    // Anything that goes wrong before the dialog (a data text that is no number, a function
    // the host library lacks) ends the command without a message.
    const auto folderId = platform::ParseInt32(data);
    if (folderId) Deploy(*folderId);
  } catch (...) {
  }
  return true;
}

}  // namespace skelder::deploy
