#pragma once
// The stand-in host's repository: a directory tree on disk plus a small metadata store in
// DIR/.ardmoor/repository.dat that keeps what a version-control server would: stable ids for
// folders and files, folder notes, lock holders, deploy permissions, file groups and the fault
// switches tests use to make the host misbehave on purpose.
//
// Ids are keyed by the path relative to the repository root ("/"-separated, "" for the root) and
// are never reused, so a deployment record keyed by them stays valid across runs.
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

namespace skelder::hostsim {

class RepositoryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The separator of the folder paths the host reports.
#if defined(_WIN32)
inline constexpr char kHostSeparator = '\\';
#else
inline constexpr char kHostSeparator = '/';
#endif

inline constexpr const char* kMetadataDirName = ".ardmoor";
inline constexpr const char* kMetadataFileName = "repository.dat";
// Environment variable that names the repository the stand-in serves.
inline constexpr const char* kRepositoryEnvVar = "ARDMOOR_REPOSITORY";
// Fallback: a file of this name in the per-user folder whose first line is the repository path.
inline constexpr const char* kRepositoryConfigName = "repository.cfg";

// Free text in a metadata line: backslash, CR and LF escaped so that every record is one line.
std::string EscapeField(const std::string& text);
// Throws RepositoryError on a bad escape.
std::string UnescapeField(const std::string& text);

struct FolderNode {
  int32_t id = 0;
  int32_t parentId = 0;          // 0 for the root
  int depth = 0;                 // 0 for the root
  std::string rel;               // "" for the root, else "a/b"
  std::string name;              // last component; the repository's name for the root
  std::vector<size_t> children;  // indexes into Folders(), sorted by name
  std::vector<size_t> files;     // indexes into Files(), sorted by name
};

struct FileNode {
  int32_t id = 0;
  int32_t folderId = 0;
  size_t folder = 0;  // index into Folders()
  std::string rel;
  std::string name;
  uint64_t size = 0;
};

class Repository {
 public:
  // Makes a repository of an existing directory in place: ids for everything in it. An existing
  // repository is opened and rescanned instead, keeping its ids.
  static Repository Init(const std::string& dir);
  // Opens an existing repository and scans its tree (new entries get ids; call Save() to keep
  // them, or use SaveIfChanged()). Throws RepositoryError.
  static Repository Open(const std::string& dir);
  static bool IsRepository(const std::string& dir);
  // The repository the stand-in serves: $ARDMOOR_REPOSITORY, else the per-user config file.
  // Empty when neither names one.
  static std::string Configured();

  const std::string& Root() const { return root_; }
  std::string MetadataPath() const;

  // Walks the tree again; entries seen for the first time get new ids. Returns whether any id
  // was assigned.
  bool Scan();
  // Writes the metadata atomically: a temporary file beside it, then a rename.
  void Save();
  void SaveIfChanged();

  // The tree as it stands on disk, folders in pre-order (root first, children by name).
  const std::vector<FolderNode>& Folders() const { return folders_; }
  const std::vector<FileNode>& Files() const { return files_; }
  const FolderNode* FolderById(int32_t id) const;
  const FileNode* FileById(int32_t id) const;
  const FolderNode* FolderByRel(const std::string& rel) const;
  const FileNode* FileByRel(const std::string& rel) const;
  // Full on-disk path of a folder or file.
  std::string DiskPath(const std::string& rel) const;
  // The folder path the host reports: "$" for the root, "$" + separator + rel with the
  // platform's separator otherwise. The display path is the same with the repository's name in
  // place of "$".
  static std::string HostPath(const std::string& rel);
  std::string DisplayPath(const std::string& rel) const;

  std::string Notes(int32_t folderId) const;
  void SetNotes(int32_t folderId, const std::string& notes);
  std::string LockHolder(int32_t fileId) const;
  void SetLock(int32_t fileId, const std::string& user);  // empty user: unlock
  bool DeployAllowed(int32_t folderId) const;
  void SetDeployAllowed(int32_t folderId, bool allowed);
  // Groups as extensions without dots, lower case.
  const std::vector<std::vector<std::string>>& Groups() const { return groups_; }
  // "htm;asp" or ".htm;.asp": the group replaces any group sharing one of its extensions.
  void AddGroup(const std::string& extensions);
  // The extensions of the file's group, with dots, ";"-separated; else its own extension.
  std::string GroupExtensionsFor(const std::string& fileName) const;

  // Fault switches: name -> arguments (a switch may be given several times).
  bool HasFault(const std::string& name) const;
  bool HasFault(const std::string& name, const std::string& arg) const;
  void AddFault(const std::string& name, const std::string& arg = {});
  void ClearFaults();

 private:
  explicit Repository(std::string root) : root_(std::move(root)) {}
  void Load();
  int32_t IdFor(std::unordered_map<std::string, int32_t>& ids, const std::string& rel, bool& assigned);

  std::string root_;
  int32_t nextId_ = 1;
  std::unordered_map<std::string, int32_t> folderIds_;  // every path ever seen
  std::unordered_map<std::string, int32_t> fileIds_;
  std::map<int32_t, std::string> notes_;
  std::map<int32_t, std::string> locks_;
  std::set<int32_t> denied_;
  std::vector<std::vector<std::string>> groups_;
  std::multimap<std::string, std::string> faults_;
  bool dirty_ = false;

  std::vector<FolderNode> folders_;
  std::vector<FileNode> files_;
  std::unordered_map<int32_t, size_t> folderIndex_;
  std::unordered_map<int32_t, size_t> fileIndex_;
};

}  // namespace skelder::hostsim
