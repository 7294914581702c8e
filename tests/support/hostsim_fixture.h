#pragma once
// Test helpers for the stand-in host: a repository in a temporary directory, served by the
// KVOCCore.Dll / KVOMain.Dll stand-ins for the fixture's lifetime, and an isolated per-user
// environment (registry stand-in and per-user folder) such as a user's machine has.
//
//   skelder::test::HostSimUser user;              // an empty registry and per-user folder
//   skelder::test::HostSimRepository repo;         // ARDMOOR_REPOSITORY -> temp repository
//   repo.File("index.htm", "<html/>").File("img/logo.gif", "GIF89a")
//       .Notes("", "[Web Folder]\r\nDeployTo=/srv/www\r\n").Lock("img/logo.gif", "alice");
//   int32_t root = repo.FolderId("");              // ids assigned and written on first use
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "test_support.h"

namespace skelder::hostsim {
class Repository;
}

namespace skelder::test {

class HostSimRepository {
 public:
  // Makes an empty repository "<temp>/<name>" and points the stand-in at it.
  explicit HostSimRepository(const std::string& name = "site");
  ~HostSimRepository();
  HostSimRepository(const HostSimRepository&) = delete;
  HostSimRepository& operator=(const HostSimRepository&) = delete;

  // The repository's directory, and the on-disk path of a "/"-separated relative path in it.
  const std::string& Root() const { return root_; }
  std::string Path(const std::string& rel) const;

  // Tree content. Files and folders are picked up (and get ids) at the next Sync or id lookup.
  // mtime: seconds since 1970 UTC for the file's last-write time.
  HostSimRepository& Folder(const std::string& rel);
  HostSimRepository& File(const std::string& rel, const std::string& contents = {},
                          std::optional<int64_t> mtime = std::nullopt);

  // Metadata; each call writes the metadata store at once.
  HostSimRepository& Notes(const std::string& folderRel, const std::string& notes);
  HostSimRepository& Lock(const std::string& fileRel, const std::string& user);
  HostSimRepository& Unlock(const std::string& fileRel);
  HostSimRepository& Permit(const std::string& folderRel, bool allowed);
  // A file group: "htm;asp" (dots optional).
  HostSimRepository& Group(const std::string& extensions);
  // Fault switches of the stand-in: "checkout-fail" <file name or relative path>,
  // "checkout-nofile" <the same> (reported as checked out, but no file is made),
  // "unterminated", "folderinfo-fail", "groupext-fail", "objectinfo-always-84".
  HostSimRepository& Fault(const std::string& name, const std::string& arg = {});
  HostSimRepository& ClearFaults();

  // Scans the tree (new entries get ids) and writes the metadata.
  void Sync();
  // Ids as the host reports them; throw when the path is not in the repository.
  int32_t FolderId(const std::string& rel = "");
  int32_t FileId(const std::string& rel);
  // The folder path the host reports ("$", "$/img") and its display path ("site/img").
  std::string HostPath(const std::string& rel) const;
  std::string DisplayPath(const std::string& rel) const;
  std::string MetadataPath() const;

 private:
  hostsim::Repository& Repo();

  TempDir temp_;
  std::string root_;
  std::unique_ptr<hostsim::Repository> repo_;
  ScopedEnv env_;
};

// An isolated per-user environment, such as a fresh user's machine has: the registry's current
// user and the per-user folder start empty. On POSIX XDG_CONFIG_HOME points at a temporary
// directory, which holds the registry stand-in ("<dir>/Vorn/registry.ini") and the per-user folder
// ("<dir>/Ardmoor/"); child processes inherit both. On Windows USERPROFILE points there (the
// per-user folder is "<dir>/Application Data/Ardmoor/") and, with `ownRegistry`, this process's
// HKEY_CURRENT_USER is a fresh key of its own; child processes see the user's real one, so a
// test whose children write the registry passes false.
class HostSimUser {
 public:
  explicit HostSimUser(bool ownRegistry = true);
  ~HostSimUser();
  HostSimUser(const HostSimUser&) = delete;
  HostSimUser& operator=(const HostSimUser&) = delete;
  const std::string& ConfigHome() const { return temp_.path(); }
  // The per-user folder, with a final separator.
  std::string UserDir() const;
  // Creates the key \Software\Vorn\Ardmoor (empty) or sets its InstallDir value.
  void CreateArdmoorKey();
  void SetInstallDir(const std::string& dir);
  bool HasArdmoorKey() const;
  // The key's InstallDir value, none when the key or the value is missing.
  std::optional<std::string> InstallDir() const;

 private:
  TempDir temp_;
  ScopedEnv env_;
  std::string ownKey_;  // Windows: the key that stands in for HKEY_CURRENT_USER
};

// Folder of the stand-in build without XRDVcsInvalidateCache (same file names).
std::string HostSimPartialDir();

}  // namespace skelder::test
