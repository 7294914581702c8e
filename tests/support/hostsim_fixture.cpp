#include "hostsim_fixture.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "hostsim_repository.h"
#include "platform/files.h"

namespace fs = std::filesystem;

namespace skelder::test {

namespace {
constexpr const char* kArdmoorSection = "[Software\\Vorn\\Ardmoor]";
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
// The registry is the real one of the user (wine's prefix); the per-user folder follows the profile.
HostSimUser::HostSimUser() : temp_("skelder-user-"), env_("USERPROFILE", temp_.path()) {}
#else
HostSimUser::HostSimUser() : temp_("skelder-user-"), env_("XDG_CONFIG_HOME", temp_.path()) {}
#endif

std::string HostSimUser::RegistryFile() const { return temp_ / "Vorn/registry.ini"; }

void HostSimUser::CreateArdmoorKey() { WriteFile(RegistryFile(), std::string(kArdmoorSection) + "\n"); }

void HostSimUser::SetInstallDir(const std::string& dir) {
  WriteFile(RegistryFile(), std::string(kArdmoorSection) + "\nInstallDir=" + dir + "\n");
}

std::optional<std::string> HostSimUser::InstallDir() const {
  std::ifstream in(RegistryFile());
  std::string line;
  bool inSection = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.front() == '[') {
      inSection = line == kArdmoorSection;
      continue;
    }
    if (inSection && line.rfind("InstallDir=", 0) == 0) return line.substr(11);
  }
  return std::nullopt;
}

std::string HostSimPartialDir() { return BinDir() + "/hostsim_partial"; }

}  // namespace skelder::test
