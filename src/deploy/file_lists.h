#pragma once
// The lists a deployment publishes: the folder list (relative folder path, empty for the
// deployed folder itself, with the folder id) and the file list (file name with its TFileInfo),
// both in the host's order. The relative folder of a file is the text of the first folder-list
// entry whose id equals the file's FolderId; FolderIndex answers that without a scan per file.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace skelder::deploy {

struct TFileInfo {
  int32_t FolderId = 0;
  int32_t FileId = 0;
};

struct TFolderEntry {
  std::string Path;  // relative to the deployed folder
  int32_t Id = 0;
};

struct TFileEntry {
  std::string Name;  // as the host reports it, no directory part
  TFileInfo Info;
};

using TFolderList = std::vector<TFolderEntry>;
using TFileList = std::vector<TFileEntry>;

// First-match lookup of a folder id in a folder list.
class FolderIndex {
 public:
  FolderIndex() = default;
  explicit FolderIndex(const TFolderList& folders) {
    first_.reserve(folders.size());
    for (size_t i = 0; i < folders.size(); ++i) first_.try_emplace(folders[i].Id, i);
  }
  // Index of the first entry with this id, or -1.
  long Find(int32_t folderId) const {
    auto it = first_.find(folderId);
    return it == first_.end() ? -1 : static_cast<long>(it->second);
  }

 private:
  std::unordered_map<int32_t, size_t> first_;
};

}  // namespace skelder::deploy
