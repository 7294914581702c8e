#include "deploy/deploy_dialog_seam.h"

#include <cstdio>
#include <fstream>

#include "deploy/f_deploy.h"
#include "deploy/u_utils.h"
#include "deploy/web_folder_settings.h"
#include "platform/display_text.h"

namespace skelder::deploy {

namespace {

TShowDeployDialog& InstalledDialog() {
  static TShowDeployDialog show;
  return show;
}

std::string& CapturePath() {
  static std::string path;
  return path;
}

}  // namespace

void SetShowDeployDialog(TShowDeployDialog show) { InstalledDialog() = std::move(show); }

void SetDeployListsCapture(const std::string& path) { CapturePath() = path; }

std::string DescribeDeployLists(const std::string& caption, const std::string& deployTo, const TFileList& files,
                                const TFolderList& folders) {
  std::string text = "Deploy " + platform::EscapeControls(caption) + "\n";
  const auto locations = SplitLocations(deployTo);
  text += "Locations: " + std::to_string(locations.size()) + "\n";
  for (const std::string& location : locations)
    text += "  " + platform::EscapeControls(platform::MaskFtpPasswords(location)) + "\n";
  text += "Folders: " + std::to_string(folders.size()) + "\n";
  for (const TFolderEntry& folder : folders)
    text += "  " + std::to_string(folder.Id) + " " + platform::EscapeControls(AddBackslash(folder.Path)) + "\n";
  text += "Files: " + std::to_string(files.size()) + "\n";
  const FolderIndex index(folders);
  for (const TFileEntry& file : files) {
    const long folder = index.Find(file.Info.FolderId);
    const std::string relative = folder < 0 ? std::string() : folders[static_cast<size_t>(folder)].Path;
    text += "  " + std::to_string(file.Info.FileId) + " " + std::to_string(file.Info.FolderId) + " " +
            platform::EscapeControls(AddBackslash(relative) + file.Name) + "\n";
  }
  return text;
}

void ShowDeployDialog(const std::string& caption, const std::string& deployTo, const TFileList& files,
                      const TFolderList& folders, const std::string& notes) {
  if (!CapturePath().empty()) {
    std::ofstream out(CapturePath(), std::ios::binary | std::ios::trunc);
    out << DescribeDeployLists(caption, deployTo, files, folders);
    return;
  }
  if (InstalledDialog()) {
    InstalledDialog()(caption, deployTo, files, folders, notes);
    return;
  }
  TfrmDeploy::ShowDeployDialog(caption, deployTo, files, folders, notes);
}

}  // namespace skelder::deploy
