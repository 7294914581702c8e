#include "hostsim_repository.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#if defined(_WIN32)
#include <process.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace skelder::hostsim {

namespace {

constexpr const char* kHeader = "# Ardmoor repository metadata: one record a line; free text escaped (\\\\ \\r \\n)";
constexpr int kVersion = 1;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::vector<std::string> SplitExtensions(const std::string& text) {
  std::vector<std::string> out;
  std::string cur;
  auto flush = [&] {
    size_t b = cur.find_first_not_of(" \t.");
    size_t e = cur.find_last_not_of(" \t");
    if (b != std::string::npos && e != std::string::npos && e >= b) {
      std::string ext = Lower(cur.substr(b, e - b + 1));
      if (std::find(out.begin(), out.end(), ext) == out.end()) out.push_back(ext);
    }
    cur.clear();
  };
  for (char c : text) {
    if (c == ';' || c == ',')
      flush();
    else
      cur += c;
  }
  flush();
  return out;
}

// Extension of a file name with its dot ("" when none): the text from the last dot on.
std::string OwnExtension(const std::string& fileName) {
  size_t slash = fileName.find_last_of("/\\:");
  size_t dot = fileName.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return fileName.substr(dot);
}

int32_t ParseId(const std::string& text, size_t lineNo) {
  if (text.empty() || text.size() > 10 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    throw RepositoryError("Malformed repository metadata at line " + std::to_string(lineNo) + ": bad id \"" + text +
                          "\"");
  long long v = std::stoll(text);
  if (v <= 0 || v > INT32_MAX)
    throw RepositoryError("Malformed repository metadata at line " + std::to_string(lineNo) + ": id out of range");
  return static_cast<int32_t>(v);
}

// A relative path taken from the metadata must stay inside the repository.
void CheckRel(const std::string& rel, size_t lineNo) {
  if (rel.empty()) return;
  std::string part;
  std::stringstream ss(rel);
  bool bad = rel.front() == '/' || rel.back() == '/';
  while (!bad && std::getline(ss, part, '/'))
    if (part.empty() || part == "." || part == "..") bad = true;
  if (bad)
    throw RepositoryError("Malformed repository metadata at line " + std::to_string(lineNo) + ": bad path \"" + rel +
                          "\"");
}

// The folders and the files (with their sizes) of one directory. Links are left out: they could
// lead out of the repository or round in a circle. Throws RepositoryError.
void ReadDirectory(const std::string& dir, std::vector<std::string>& subdirs,
                   std::vector<std::pair<std::string, uint64_t>>& files) {
#if defined(_WIN32)
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    std::error_code ec2;
    if (it->is_symlink(ec2)) continue;
    if (it->is_directory(ec2)) {
      subdirs.push_back(name);
    } else if (it->is_regular_file(ec2)) {
      auto size = it->file_size(ec2);
      files.emplace_back(name, ec2 ? 0 : size);
    }
  }
  if (ec) throw RepositoryError("Cannot read the directory " + dir + ": " + ec.message());
#else
  // One open directory and one look per file relative to it: the whole tree is read again at
  // every invalidation, so a read costs only the calls it needs.
  DIR* d = ::opendir(dir.c_str());
  if (!d) throw RepositoryError("Cannot read the directory " + dir + ": " + std::strerror(errno));
  struct Closer {
    DIR* d;
    ~Closer() { ::closedir(d); }
  } closer{d};
  const int fd = ::dirfd(d);
  errno = 0;
  while (dirent* de = ::readdir(d)) {
    const char* name = de->d_name;
    if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) {
      if (de->d_type == DT_DIR) {
        subdirs.emplace_back(name);
      } else if (de->d_type == DT_REG || de->d_type == DT_UNKNOWN) {
        struct stat st {};
        // An entry that went away meanwhile is simply not there.
        if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
          if (S_ISREG(st.st_mode))
            files.emplace_back(name, static_cast<uint64_t>(st.st_size));
          else if (S_ISDIR(st.st_mode))
            subdirs.emplace_back(name);
        }
      }
    }
    errno = 0;
  }
  if (errno != 0) throw RepositoryError("Cannot read the directory " + dir + ": " + std::strerror(errno));
#endif
}

}  // namespace

std::string EscapeField(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string UnescapeField(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i >= text.size()) throw RepositoryError("Malformed repository metadata: text ends inside an escape");
    switch (text[i]) {
      case '\\':
        out += '\\';
        break;
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      default:
        throw RepositoryError(std::string("Malformed repository metadata: unknown escape \\") + text[i]);
    }
  }
  return out;
}

Repository Repository::Init(const std::string& dir) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) throw RepositoryError("Not a directory: " + dir);
  if (IsRepository(dir)) {
    Repository repo = Open(dir);
    repo.SaveIfChanged();
    return repo;
  }
  Repository repo(fs::absolute(dir).lexically_normal().string());
  while (repo.root_.size() > 1 && (repo.root_.back() == '/' || repo.root_.back() == '\\')) repo.root_.pop_back();
  repo.Scan();
  repo.Save();
  return repo;
}

Repository Repository::Open(const std::string& dir) {
  if (!IsRepository(dir)) throw RepositoryError("Not an Ardmoor repository: " + dir);
  Repository repo(fs::absolute(dir).lexically_normal().string());
  while (repo.root_.size() > 1 && (repo.root_.back() == '/' || repo.root_.back() == '\\')) repo.root_.pop_back();
  repo.Load();
  repo.Scan();
  return repo;
}

bool Repository::IsRepository(const std::string& dir) {
  std::error_code ec;
  return !dir.empty() && fs::is_regular_file(fs::path(dir) / kMetadataDirName / kMetadataFileName, ec);
}

std::string Repository::Configured() {
  if (const char* env = std::getenv(kRepositoryEnvVar); env && *env) return env;
  // The user's per-user folder, where the add-in finds the host's per-user files too.
  std::string base;
#ifdef _WIN32
  if (const char* profile = std::getenv("USERPROFILE"); profile && *profile)
    base = std::string(profile) + "\\Application Data";
#else
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
    base = xdg;
  else if (const char* home = std::getenv("HOME"); home && *home)
    base = std::string(home) + "/.config";
#endif
  if (base.empty()) return {};
  std::ifstream in(base + "/Ardmoor/" + kRepositoryConfigName);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

std::string Repository::MetadataPath() const {
  return (fs::path(root_) / kMetadataDirName / kMetadataFileName).string();
}

void Repository::Load() {
  std::ifstream in(MetadataPath(), std::ios::binary);
  if (!in) throw RepositoryError("Cannot read " + MetadataPath());
  std::string line;
  size_t lineNo = 0;
  bool versionSeen = false;
  while (std::getline(in, line)) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    size_t sp = line.find(' ');
    std::string key = line.substr(0, sp);
    std::string rest = sp == std::string::npos ? std::string() : line.substr(sp + 1);
    // "<id>" or "<id> <text>"
    auto idAndText = [&](int32_t& id, std::string& text) {
      size_t sp2 = rest.find(' ');
      id = ParseId(rest.substr(0, sp2), lineNo);
      text = sp2 == std::string::npos ? std::string() : UnescapeField(rest.substr(sp2 + 1));
    };
    int32_t id = 0;
    std::string text;
    if (key == "version") {
      if (rest != std::to_string(kVersion)) throw RepositoryError("Unsupported repository metadata version: " + rest);
      versionSeen = true;
    } else if (key == "next") {
      nextId_ = ParseId(rest, lineNo);
    } else if (key == "folder" || key == "file") {
      idAndText(id, text);
      CheckRel(text, lineNo);
      auto& ids = key == "folder" ? folderIds_ : fileIds_;
      if (!ids.emplace(text, id).second)
        throw RepositoryError("Malformed repository metadata at line " + std::to_string(lineNo) +
                              ": path listed twice");
      nextId_ = std::max(nextId_, id + 1);
    } else if (key == "notes") {
      idAndText(id, text);
      notes_[id] = text;
    } else if (key == "lock") {
      idAndText(id, text);
      if (!text.empty()) locks_[id] = text;
    } else if (key == "deny") {
      idAndText(id, text);
      denied_.insert(id);
    } else if (key == "group") {
      AddGroup(UnescapeField(rest));
    } else if (key == "fault") {
      size_t sp2 = rest.find(' ');
      faults_.emplace(rest.substr(0, sp2),
                      sp2 == std::string::npos ? std::string() : UnescapeField(rest.substr(sp2 + 1)));
    } else {
      throw RepositoryError("Malformed repository metadata at line " + std::to_string(lineNo) + ": unknown record \"" +
                            key + "\"");
    }
  }
  if (!versionSeen) throw RepositoryError("Malformed repository metadata: no version line in " + MetadataPath());
  std::set<int32_t> seen;
  for (auto* ids : {&folderIds_, &fileIds_})
    for (auto& [rel, fid] : *ids)
      if (!seen.insert(fid).second)
        throw RepositoryError("Malformed repository metadata: id " + std::to_string(fid) + " used twice");
  dirty_ = false;
}

int32_t Repository::IdFor(std::unordered_map<std::string, int32_t>& ids, const std::string& rel, bool& assigned) {
  auto [it, inserted] = ids.try_emplace(rel, 0);
  if (inserted) {
    if (nextId_ == INT32_MAX) throw RepositoryError("The repository has run out of ids");
    it->second = nextId_++;
    assigned = true;
  }
  return it->second;
}

bool Repository::Scan() {
  std::error_code ec;
  if (!fs::is_directory(root_, ec)) throw RepositoryError("The repository directory is missing: " + root_);
  folders_.clear();
  files_.clear();
  folderIndex_.clear();
  fileIndex_.clear();
  bool assigned = false;

  FolderNode root;
  root.id = IdFor(folderIds_, "", assigned);
  root.name = fs::path(root_).filename().string();
  folders_.push_back(root);
  std::vector<size_t> stack{0};
  while (!stack.empty()) {
    size_t fi = stack.back();
    stack.pop_back();
    std::string rel = folders_[fi].rel;
    std::vector<std::string> subdirs;
    std::vector<std::pair<std::string, uint64_t>> names;
    ReadDirectory(DiskPath(rel), subdirs, names);
    if (rel.empty()) subdirs.erase(std::remove(subdirs.begin(), subdirs.end(), kMetadataDirName), subdirs.end());
    std::sort(subdirs.begin(), subdirs.end());
    std::sort(names.begin(), names.end());
    for (auto& [name, size] : names) {
      FileNode f;
      f.rel = rel.empty() ? name : rel + "/" + name;
      f.name = std::move(name);
      f.id = IdFor(fileIds_, f.rel, assigned);
      f.folderId = folders_[fi].id;
      f.folder = fi;
      f.size = size;
      folders_[fi].files.push_back(files_.size());
      files_.push_back(std::move(f));
    }
    // Children are appended in discovery order; the reordering below makes Folders() pre-order.
    std::vector<size_t> kids;
    for (const auto& name : subdirs) {
      FolderNode c;
      c.rel = rel.empty() ? name : rel + "/" + name;
      c.name = name;
      c.id = IdFor(folderIds_, c.rel, assigned);
      c.parentId = folders_[fi].id;
      c.depth = folders_[fi].depth + 1;
      kids.push_back(folders_.size());
      folders_.push_back(std::move(c));
    }
    folders_[fi].children = kids;
    for (auto it = kids.rbegin(); it != kids.rend(); ++it) stack.push_back(*it);
  }

  // Reorder folders into pre-order so that Folders() is the enumeration order.
  std::vector<size_t> order;
  order.reserve(folders_.size());
  std::vector<size_t> walk{0};
  while (!walk.empty()) {
    size_t i = walk.back();
    walk.pop_back();
    order.push_back(i);
    const auto& kids = folders_[i].children;
    for (auto it = kids.rbegin(); it != kids.rend(); ++it) walk.push_back(*it);
  }
  std::vector<size_t> newIndex(folders_.size());
  for (size_t n = 0; n < order.size(); ++n) newIndex[order[n]] = n;
  std::vector<FolderNode> sorted;
  sorted.reserve(folders_.size());
  for (size_t i : order) sorted.push_back(std::move(folders_[i]));
  for (auto& f : sorted)
    for (auto& c : f.children) c = newIndex[c];
  for (auto& file : files_) file.folder = newIndex[file.folder];
  folders_ = std::move(sorted);
  for (size_t i = 0; i < folders_.size(); ++i) folderIndex_[folders_[i].id] = i;
  for (size_t i = 0; i < files_.size(); ++i) fileIndex_[files_[i].id] = i;
  if (assigned) dirty_ = true;
  return assigned;
}

void Repository::Save() {
  std::ostringstream out;
  out << kHeader << "\n";
  out << "version " << kVersion << "\n";
  out << "next " << nextId_ << "\n";
  // Sorted by id, so the file reads in the order things were added.
  std::vector<std::pair<int32_t, std::string>> entries;
  for (auto& [rel, id] : folderIds_)
    entries.emplace_back(id, "folder " + std::to_string(id) + (rel.empty() ? "" : " " + EscapeField(rel)));
  for (auto& [rel, id] : fileIds_) entries.emplace_back(id, "file " + std::to_string(id) + " " + EscapeField(rel));
  std::sort(entries.begin(), entries.end());
  for (auto& e : entries) out << e.second << "\n";
  for (auto& [id, text] : notes_) out << "notes " << id << " " << EscapeField(text) << "\n";
  for (auto& [id, user] : locks_) out << "lock " << id << " " << EscapeField(user) << "\n";
  for (int32_t id : denied_) out << "deny " << id << "\n";
  for (auto& g : groups_) {
    std::string joined;
    for (auto& ext : g) joined += (joined.empty() ? "" : ";") + ext;
    out << "group " << EscapeField(joined) << "\n";
  }
  for (auto& [name, arg] : faults_) out << "fault " << name << (arg.empty() ? "" : " " + EscapeField(arg)) << "\n";
  const std::string data = out.str();

  fs::path dir = fs::path(root_) / kMetadataDirName;
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (!fs::is_directory(dir, ec)) throw RepositoryError("Cannot create " + dir.string());
  const std::string target = MetadataPath();
#if defined(_WIN32)
  const std::string temp = target + ".tmp" + std::to_string(_getpid());
#else
  const std::string temp = target + ".tmp" + std::to_string(getpid());
#endif
#if defined(_WIN32)
  {
    std::ofstream f(temp, std::ios::binary | std::ios::trunc);
    f.write(data.data(), static_cast<std::streamsize>(data.size()));
    f.close();
    if (!f) {
      fs::remove(temp, ec);
      throw RepositoryError("Cannot write " + temp);
    }
  }
#else
  {
    // Owner only: the notes hold FTP passwords.
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) throw RepositoryError("Cannot write " + temp + ": " + std::strerror(errno));
    size_t done = 0;
    bool ok = true;
    while (done < data.size()) {
      ssize_t n = ::write(fd, data.data() + done, data.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ok = false;
        break;
      }
      done += static_cast<size_t>(n);
    }
    // The data must be on disk before the rename makes it the metadata.
    if (ok && ::fsync(fd) != 0) ok = false;
    int err = errno;
    if (::close(fd) != 0) ok = false;
    if (!ok) {
      ::unlink(temp.c_str());
      throw RepositoryError("Cannot write " + temp + ": " + std::strerror(err));
    }
  }
#endif
  fs::rename(temp, target, ec);
  if (ec) {
    fs::remove(temp, ec);
    throw RepositoryError("Cannot replace " + target);
  }
  dirty_ = false;
}

void Repository::SaveIfChanged() {
  if (dirty_) Save();
}

const FolderNode* Repository::FolderById(int32_t id) const {
  auto it = folderIndex_.find(id);
  return it == folderIndex_.end() ? nullptr : &folders_[it->second];
}

const FileNode* Repository::FileById(int32_t id) const {
  auto it = fileIndex_.find(id);
  return it == fileIndex_.end() ? nullptr : &files_[it->second];
}

const FolderNode* Repository::FolderByRel(const std::string& rel) const {
  auto it = folderIds_.find(rel);
  return it == folderIds_.end() ? nullptr : FolderById(it->second);
}

const FileNode* Repository::FileByRel(const std::string& rel) const {
  auto it = fileIds_.find(rel);
  return it == fileIds_.end() ? nullptr : FileById(it->second);
}

std::string Repository::DiskPath(const std::string& rel) const {
  if (rel.empty()) return root_;
  std::string path = root_;
  if (path.back() != '/' && path.back() != '\\') path += '/';
  path += rel;
#if defined(_WIN32)
  std::replace(path.begin(), path.end(), '/', '\\');
#endif
  return path;
}

std::string Repository::HostPath(const std::string& rel) {
  if (rel.empty()) return "$";
  std::string out = "$";
  out += kHostSeparator;
  for (char c : rel) out += c == '/' ? kHostSeparator : c;
  return out;
}

std::string Repository::DisplayPath(const std::string& rel) const {
  return fs::path(root_).filename().string() + HostPath(rel).substr(1);
}

std::string Repository::Notes(int32_t folderId) const {
  auto it = notes_.find(folderId);
  return it == notes_.end() ? std::string() : it->second;
}

void Repository::SetNotes(int32_t folderId, const std::string& notes) {
  if (notes.empty())
    notes_.erase(folderId);
  else
    notes_[folderId] = notes;
  dirty_ = true;
}

std::string Repository::LockHolder(int32_t fileId) const {
  auto it = locks_.find(fileId);
  return it == locks_.end() ? std::string() : it->second;
}

void Repository::SetLock(int32_t fileId, const std::string& user) {
  if (user.empty())
    locks_.erase(fileId);
  else
    locks_[fileId] = user;
  dirty_ = true;
}

bool Repository::DeployAllowed(int32_t folderId) const { return denied_.count(folderId) == 0; }

void Repository::SetDeployAllowed(int32_t folderId, bool allowed) {
  if (allowed)
    denied_.erase(folderId);
  else
    denied_.insert(folderId);
  dirty_ = true;
}

void Repository::AddGroup(const std::string& extensions) {
  std::vector<std::string> group = SplitExtensions(extensions);
  if (group.empty()) return;
  // An extension belongs to one group only: the new group takes over.
  groups_.erase(std::remove_if(groups_.begin(), groups_.end(),
                               [&](const std::vector<std::string>& g) {
                                 return std::any_of(g.begin(), g.end(), [&](const std::string& e) {
                                   return std::find(group.begin(), group.end(), e) != group.end();
                                 });
                               }),
                groups_.end());
  groups_.push_back(std::move(group));
  dirty_ = true;
}

std::string Repository::GroupExtensionsFor(const std::string& fileName) const {
  std::string own = OwnExtension(fileName);
  if (own.size() > 1) {
    std::string ext = Lower(own.substr(1));
    for (const auto& g : groups_) {
      if (std::find(g.begin(), g.end(), ext) == g.end()) continue;
      std::string out;
      for (const auto& e : g) out += (out.empty() ? "." : ";.") + e;
      return out;
    }
  }
  return own;
}

bool Repository::HasFault(const std::string& name) const { return faults_.count(name) != 0; }

bool Repository::HasFault(const std::string& name, const std::string& arg) const {
  auto [b, e] = faults_.equal_range(name);
  for (auto it = b; it != e; ++it)
    if (it->second == arg) return true;
  return false;
}

void Repository::AddFault(const std::string& name, const std::string& arg) {
  faults_.emplace(name, arg);
  dirty_ = true;
}

void Repository::ClearFaults() {
  faults_.clear();
  dirty_ = true;
}

}  // namespace skelder::hostsim
