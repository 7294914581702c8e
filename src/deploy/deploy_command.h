#pragma once
// The "Deploy" command: reads the folder's information and settings from the host, collects its
// subfolders and files, asks once about locked files and hands the lists to the deploy dialog.
#include <cstdint>
#include <string>

#include "deploy/file_lists.h"

namespace skelder::deploy {

inline constexpr const char* kDeployCommand = "Deploy";
inline constexpr const char* kLockedFilesQuestion = "The selection included locked files. Do you want to continue?";

// True when the command is "Deploy" in any letter case, whatever became of the deployment;
// false (and nothing done) for every other command. Never raises.
bool HandleCommand(const std::string& command, const std::string& data);

// Collection, as the host's enumerations drive it.

// Folder item function: appends (folder path, folder id); the context is a TFolderList.
bool CollectFolder(void* context, const std::string& s1, const std::string& s2, const std::string& folderPath,
                   int32_t folderId, int32_t i2, int32_t i3, int32_t i4);

// Context of the file item function.
struct TFileCollector {
  TFileList* Files = nullptr;
  bool LockedFileSeen = false;
  bool TakeLockedFiles = false;
};
// File item function: appends unlocked files, and locked ones once TakeLockedFiles is set;
// refuses (false) a locked file otherwise.
bool CollectFile(void* context, const std::string& fileName, const std::string& s2, const std::string& lockHolder,
                 int32_t fileId, int32_t folderId, int32_t i3, int32_t i4, int32_t i5, int32_t i6, int32_t i7,
                 int32_t i8, int32_t i9, uint8_t b1, uint8_t b2);

// Keeps the folders at or under folderPath, as paths relative to it (the folder itself gets the
// empty path); drops the others. Order is kept.
void FilterFolders(TFolderList& folders, const std::string& folderPath);
// Keeps the files whose folder is in the folder list. Order is kept.
void FilterFiles(TFileList& files, const TFolderList& folders);

}  // namespace skelder::deploy
