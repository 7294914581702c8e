#include "hostsim_fixture.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <filesystem>
#include <stdexcept>

#include "hostsim_repository.h"
#include "platform/files.h"
#include "platform/registry.h"

namespace fs = std::filesystem;

namespace skelder::test {

namespace {
constexpr const char* kArdmoorKey = "\\Software\\Vorn\\Ardmoor";
}

HostSimRepository::HostSimRepository(const std::string& name)
    : temp_("skelder-repo-"), root_(temp_ / name), env_(hostsim::kRepositoryEnvVar, temp_ / name) {
  MakeDirs(root_);
  repo_ = std::make_unique<hostsim::Repository>(hostsim::Repository::Init(root_));
}

HostSimRepository::~HostSimRepository() = default;

std::string HostSimRepository::Path(const std::string& rel) const { return rel.empty() ? root_ : root_ + "/" + rel; }

HostSimRepository& HostSimRepository::Folder(const std::string& rel) {
  MakeDirs(Path(rel));
  return *this;
}

HostSimRepository& HostSimRepository::File(const std::string& rel, const std::string& contents,
                                           std::optional<int64_t> mtime) {
  WriteFile(Path(rel), contents);
  if (mtime && !platform::SetLastWriteTime(Path(rel), {*mtime, 0}))
    throw std::runtime_error("cannot set time of " + rel);
  return *this;
}

hostsim::Repository& HostSimRepository::Repo() {
  if (repo_->Scan()) repo_->Save();
  return *repo_;
}

void HostSimRepository::Sync() {
  repo_->Scan();
  repo_->Save();
}

int32_t HostSimRepository::FolderId(const std::string& rel) {
  const auto* f = Repo().FolderByRel(rel);
  if (!f) throw std::runtime_error("no folder \"" + rel + "\" in the repository");
  return f->id;
}

int32_t HostSimRepository::FileId(const std::string& rel) {
  const auto* f = Repo().FileByRel(rel);
  if (!f) throw std::runtime_error("no file \"" + rel + "\" in the repository");
  return f->id;
}

HostSimRepository& HostSimRepository::Notes(const std::string& folderRel, const std::string& notes) {
  int32_t id = FolderId(folderRel);
  repo_->SetNotes(id, notes);
  repo_->Save();
  return *this;
}

HostSimRepository& HostSimRepository::Lock(const std::string& fileRel, const std::string& user) {
  int32_t id = FileId(fileRel);
  repo_->SetLock(id, user);
  repo_->Save();
  return *this;
}

HostSimRepository& HostSimRepository::Unlock(const std::string& fileRel) { return Lock(fileRel, {}); }

HostSimRepository& HostSimRepository::Permit(const std::string& folderRel, bool allowed) {
  int32_t id = FolderId(folderRel);
  repo_->SetDeployAllowed(id, allowed);
  repo_->Save();
  return *this;
}

HostSimRepository& HostSimRepository::Group(const std::string& extensions) {
  Repo().AddGroup(extensions);
  repo_->Save();
  return *this;
}

HostSimRepository& HostSimRepository::Fault(const std::string& name, const std::string& arg) {
  Repo().AddFault(name, arg);
  repo_->Save();
  return *this;
}

HostSimRepository& HostSimRepository::ClearFaults() {
  Repo().ClearFaults();
  repo_->Save();
  return *this;
}

std::string HostSimRepository::HostPath(const std::string& rel) const { return hostsim::Repository::HostPath(rel); }
std::string HostSimRepository::DisplayPath(const std::string& rel) const { return repo_->DisplayPath(rel); }
std::string HostSimRepository::MetadataPath() const { return repo_->MetadataPath(); }

#ifdef _WIN32
HostSimUser::HostSimUser(bool ownRegistry) : temp_("skelder-user-"), env_("USERPROFILE", temp_.path()) {
  if (!ownRegistry) return;
  ownKey_ = "Software\\Skelder tests\\" + fs::path(temp_.path()).filename().string();
  HKEY key = nullptr;
  if (::RegCreateKeyExA(HKEY_CURRENT_USER, ownKey_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
          ERROR_SUCCESS ||
      ::RegOverridePredefKey(HKEY_CURRENT_USER, key) != ERROR_SUCCESS)
    throw std::runtime_error("cannot give the test a registry of its own");
  ::RegCloseKey(key);
}

HostSimUser::~HostSimUser() {
  if (ownKey_.empty()) return;
  ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  ::RegDeleteTreeA(HKEY_CURRENT_USER, ownKey_.c_str());
}

std::string HostSimUser::UserDir() const { return NativePath(temp_ / "Application Data/Ardmoor/"); }
#else
HostSimUser::HostSimUser(bool) : temp_("skelder-user-"), env_("XDG_CONFIG_HOME", temp_.path()) {}
HostSimUser::~HostSimUser() = default;
std::string HostSimUser::UserDir() const { return temp_ / "Ardmoor/"; }
#endif

void HostSimUser::CreateArdmoorKey() { platform::registry::CreateKey(kArdmoorKey); }

void HostSimUser::SetInstallDir(const std::string& dir) {
  platform::registry::CreateKey(kArdmoorKey);
  platform::registry::WriteString(kArdmoorKey, "InstallDir", dir);
}

bool HostSimUser::HasArdmoorKey() const { return platform::registry::KeyExists(kArdmoorKey); }

std::optional<std::string> HostSimUser::InstallDir() const {
  return platform::registry::ReadString(kArdmoorKey, "InstallDir");
}

std::string HostSimPartialDir() { return NativePath(BinDir() + "/hostsim_partial"); }

}  // namespace skelder::test
