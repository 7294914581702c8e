// The stand-in host libraries, called through their exports the way the add-in calls them.
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/xr_vcs_types.h"
#include "hostsim_fixture.h"
#include "hostsim_repository.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "test_support.h"

namespace fs = std::filesystem;
using namespace skelder::host;
using skelder::test::HostSimRepository;
using skelder::test::NativePath;

namespace {

// One of the stand-in libraries, opened from the build's bin folder.
struct Lib {
  explicit Lib(const std::string& file) : library(skelder::test::NativePath(skelder::test::BinDir() + "/" + file)) {
    EXPECT_TRUE(library.Loaded()) << skelder::platform::LastLoadError();
  }
  template <typename Fn>
  Fn Get(const char* name) const {
    return library.Function<Fn>(name);
  }
  skelder::platform::DynamicLibrary library;
};

struct Core : Lib {
  Core() : Lib("KVOCCore.Dll") {}
  TXRDVcsGetFolderInfo folderInfo = Get<TXRDVcsGetFolderInfo>("XRDVcsGetFolderInfo");
  TXRDVcsEnumFolders enumFolders = Get<TXRDVcsEnumFolders>("XRDVcsEnumFolders");
  TXRDVcsEnumFiles enumFiles = Get<TXRDVcsEnumFiles>("XRDVcsEnumFiles");
  TXRDVcsCheckOutFile checkOut = Get<TXRDVcsCheckOutFile>("XRDVcsCheckOutFile");
  TXRDVcsGetFileGroupExtensions groupExt = Get<TXRDVcsGetFileGroupExtensions>("XRDVcsGetFileGroupExtensions");
  TXRDVcsGetFolderPermissions permissions = Get<TXRDVcsGetFolderPermissions>("XRDVcsGetFolderPermissions");
  TXRDVcsErrorString errorString = Get<TXRDVcsErrorString>("XRDVcsErrorString");
  TXRDVcsInvalidateCache invalidate = Get<TXRDVcsInvalidateCache>("XRDVcsInvalidateCache");

  std::string ErrorText(int32_t code) const {
    int32_t size = 0;
    EXPECT_EQ(errorString(code, nullptr, &size), 0);
    std::vector<char> buf(static_cast<size_t>(size));
    EXPECT_EQ(errorString(code, buf.data(), &size), 0);
    return std::string(buf.data(), strnlen(buf.data(), buf.size()));
  }
};

struct FolderInfo {
  int32_t status = -1;
  std::vector<char> name = std::vector<char>(kFolderNameSize), display = std::vector<char>(kFolderDisplayPathSize),
                    path = std::vector<char>(kFolderPathSize), notes = std::vector<char>(kNotesSize);
  int32_t i1 = 0, i2 = 0, i3 = 0;
};

FolderInfo GetInfo(TXRDVcsGetFolderInfo fn, int32_t id) {
  FolderInfo f;
  f.status = fn(id, f.name.data(), f.display.data(), f.path.data(), f.notes.data(), &f.i1, &f.i2, &f.i3);
  return f;
}

struct FolderSeen {
  std::string name, display, path;
  int32_t id, parent;
};
struct FileSeen {
  std::string name, lock;
  int32_t id, folder;
  uint8_t locked;
};
struct Collector {
  std::vector<FolderSeen> folders;
  std::vector<FileSeen> files;
  size_t stopAfter = SIZE_MAX;
  void* expectedItem = nullptr;
  bool itemOk = true;
};

HostBool SKELDER_STDCALL OnFolder(void* item, void* context, const char* s1, const char* s2, const char* s3, int32_t id,
                                  int32_t parent, int32_t, int32_t) {
  auto* c = static_cast<Collector*>(context);
  c->itemOk = c->itemOk && item == c->expectedItem;
  c->folders.push_back({s1, s2, s3, id, parent});
  return c->folders.size() < c->stopAfter;
}

HostBool SKELDER_STDCALL OnFile(void* item, void* context, const char* name, const char*, const char* lock, int32_t id,
                                int32_t folder, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                uint8_t locked, uint8_t) {
  auto* c = static_cast<Collector*>(context);
  c->itemOk = c->itemOk && item == c->expectedItem;
  c->files.push_back({name, lock, id, folder, locked});
  return c->files.size() < c->stopAfter;
}

// Host paths in the platform's separator, as the stand-in reports them.
std::vector<std::string> NativePaths(std::vector<std::string> paths) {
  for (auto& p : paths) p = skelder::test::NativePath(p);
  return paths;
}

std::vector<std::string> Names(const std::vector<FileSeen>& files) {
  std::vector<std::string> out;
  for (const auto& f : files) out.push_back(f.name);
  return out;
}

class HostLibs : public ::testing::Test {
 protected:
  skelder::test::HostSimUser user;
  HostSimRepository repo;
  Core core;
};

TEST_F(HostLibs, FolderInfoServesNamesPathsNotesAndRoot) {
  repo.Folder("img/icons").Notes("img", "[Web Folder]\r\nDeployTo=/srv\r\n");
  auto root = GetInfo(core.folderInfo, repo.FolderId(""));
  ASSERT_EQ(root.status, 0);
  EXPECT_STREQ(root.name.data(), "site");
  EXPECT_STREQ(root.path.data(), "$");
  EXPECT_STREQ(root.display.data(), "site");
  EXPECT_EQ(root.i1, repo.FolderId(""));

  auto icons = GetInfo(core.folderInfo, repo.FolderId("img/icons"));
  ASSERT_EQ(icons.status, 0);
  EXPECT_STREQ(icons.name.data(), "icons");
  EXPECT_EQ(std::string(icons.path.data()), NativePath("$/img/icons"));
  EXPECT_EQ(std::string(icons.display.data()), NativePath("site/img/icons"));
  EXPECT_EQ(icons.i1, repo.FolderId("")) << "the first integer is the repository's root";
  EXPECT_EQ(icons.i2, repo.FolderId("img"));

  auto img = GetInfo(core.folderInfo, repo.FolderId("img"));
  EXPECT_STREQ(img.notes.data(), "[Web Folder]\r\nDeployTo=/srv\r\n");

  // KVOMain.Dll serves the same call.
  Lib main("KVOMain.Dll");
  auto viaMain = GetInfo(main.Get<TXRDVcsGetFolderInfo>("XRDVcsGetFolderInfo"), repo.FolderId("img"));
  EXPECT_EQ(viaMain.status, 0);
  EXPECT_STREQ(viaMain.notes.data(), img.notes.data());

  auto missing = GetInfo(core.folderInfo, 999999);
  EXPECT_NE(missing.status, 0);
  EXPECT_EQ(core.ErrorText(missing.status), "The folder does not exist in the repository: id 999999");
}

TEST_F(HostLibs, NotesChangedOnDiskAreServedWithoutInvalidate) {
  int32_t id = repo.FolderId("");
  EXPECT_STREQ(GetInfo(core.folderInfo, id).notes.data(), "");
  repo.Notes("", "a=1");
  EXPECT_STREQ(GetInfo(core.folderInfo, id).notes.data(), "a=1");
}

TEST_F(HostLibs, EnumFoldersIsPreOrderByNameAndFlagZeroStopsAtChildren) {
  repo.Folder("b").Folder("a/z").Folder("a/c").Folder("a/c/deep");
  Collector c;
  int item = 0;
  c.expectedItem = &item;
  ASSERT_EQ(core.enumFolders(repo.FolderId(""), &item, &c, OnFolder, 1), 0);
  std::vector<std::string> paths;
  for (auto& f : c.folders) paths.push_back(f.path);
  EXPECT_EQ(paths, NativePaths({"$", "$/a", "$/a/c", "$/a/c/deep", "$/a/z", "$/b"}));
  EXPECT_TRUE(c.itemOk) << "the item function comes back first";
  EXPECT_EQ(c.folders[2].id, repo.FolderId("a/c"));
  EXPECT_EQ(c.folders[2].parent, repo.FolderId("a"));
  EXPECT_EQ(c.folders[2].name, "c");

  Collector sub;
  ASSERT_EQ(core.enumFolders(repo.FolderId("a"), nullptr, &sub, OnFolder, 0), 0);
  paths.clear();
  for (auto& f : sub.folders) paths.push_back(f.path);
  EXPECT_EQ(paths, NativePaths({"$/a", "$/a/c", "$/a/z"}));

  Collector stop;
  stop.stopAfter = 2;
  EXPECT_EQ(core.enumFolders(repo.FolderId(""), nullptr, &stop, OnFolder, 1), 0);
  EXPECT_EQ(stop.folders.size(), 2u) << "a false answer ends the enumeration";

  Collector none;
  EXPECT_NE(core.enumFolders(424242, nullptr, &none, OnFolder, 1), 0);
  EXPECT_TRUE(none.folders.empty());
}

TEST_F(HostLibs, EnumFilesFlagOneIncludesSubfolderFilesWithTheirFolderIds) {
  repo.File("z.htm").File("a.htm").File("img/logo.gif").File("img/sub/x.png").File("b/readme.txt");
  repo.Lock("a.htm", "alice");
  Collector top;
  int item = 0;
  top.expectedItem = &item;
  ASSERT_EQ(core.enumFiles(repo.FolderId(""), &item, &top, OnFile, 0), 0);
  EXPECT_EQ(Names(top.files), (std::vector<std::string>{"a.htm", "z.htm"}));
  EXPECT_TRUE(top.itemOk);

  Collector all;
  ASSERT_EQ(core.enumFiles(repo.FolderId(""), nullptr, &all, OnFile, 1), 0);
  ASSERT_EQ(Names(all.files), (std::vector<std::string>{"a.htm", "z.htm", "readme.txt", "logo.gif", "x.png"}));
  EXPECT_EQ(all.files[0].lock, "alice");
  EXPECT_EQ(all.files[0].locked, 1);
  EXPECT_EQ(all.files[1].lock, "");
  EXPECT_EQ(all.files[1].locked, 0);
  EXPECT_EQ(all.files[0].folder, repo.FolderId(""));
  EXPECT_EQ(all.files[2].folder, repo.FolderId("b"));
  EXPECT_EQ(all.files[3].folder, repo.FolderId("img"));
  EXPECT_EQ(all.files[4].folder, repo.FolderId("img/sub"));
  EXPECT_EQ(all.files[4].id, repo.FileId("img/sub/x.png"));

  Collector stop;
  stop.stopAfter = 3;
  EXPECT_EQ(core.enumFiles(repo.FolderId(""), nullptr, &stop, OnFile, 1), 0);
  EXPECT_EQ(stop.files.size(), 3u);
}

TEST_F(HostLibs, MetadataDirectoryIsNeverServed) {
  repo.File("a.htm");
  Collector c;
  core.enumFolders(repo.FolderId(""), nullptr, &c, OnFolder, 1);
  EXPECT_EQ(c.folders.size(), 1u);
  core.enumFiles(repo.FolderId(""), nullptr, &c, OnFile, 1);
  EXPECT_EQ(Names(c.files), std::vector<std::string>{"a.htm"});
}

TEST_F(HostLibs, InvalidateCacheTakesInFilesAndMetadataChangedMeanwhile) {
  repo.File("a.htm");
  const int32_t root = repo.FolderId("");
  auto files = [&] {
    Collector c;
    core.enumFiles(root, nullptr, &c, OnFile, 1);
    return c.files;
  };
  const auto before = files();
  ASSERT_EQ(before.size(), 1u);
  EXPECT_EQ(before[0].lock, "");
  // Another program adds a file and locks the first; the invalidated cache shows both, and the
  // first keeps its id.
  skelder::test::WriteFile(repo.Path("later.htm"), "x");
  repo.Lock("a.htm", "alice");
  ASSERT_EQ(core.invalidate(), 0);
  const auto after = files();
  ASSERT_EQ(Names(after), (std::vector<std::string>{"a.htm", "later.htm"}));
  EXPECT_EQ(after[0].id, before[0].id);
  EXPECT_EQ(after[0].lock, "alice");
  // The new file's id is kept as well: a second invalidation hands out the same one.
  ASSERT_EQ(core.invalidate(), 0);
  const auto again = files();
  ASSERT_EQ(again.size(), 2u);
  EXPECT_EQ(again[1].id, after[1].id);
}

struct Request {
  std::vector<char> comment = std::vector<char>(kCheckOutCommentSize),
                    description = std::vector<char>(kCheckOutDescriptionSize),
                    label = std::vector<char>(kCheckOutLabelSize), target = std::vector<char>(kCheckOutTargetDirSize);
  TCheckOutRequest rec{comment.data(), description.data(), label.data(), target.data(), 0, 0, 0, 0, 1};
  explicit Request(const std::string& dir) { std::strncpy(target.data(), dir.c_str(), target.size() - 1); }
};

TEST_F(HostLibs, CheckOutCreatesTheTargetAndKeepsTheLastWriteTime) {
  const int64_t when = 978307200;  // 2001-01-01 00:00:00 UTC
  std::string body(300000, 'q');
  repo.File("img/logo.gif", body, when);
  skelder::test::TempDir out;
  std::string target = out / "TTS1.Deploy/img";
  Request req(target);
  int32_t output = -1;
  ASSERT_EQ(core.checkOut(repo.FileId("img/logo.gif"), &output, &req.rec), 0);
  EXPECT_EQ(skelder::test::ReadFile(target + "/logo.gif"), body);
  const auto written = skelder::platform::GetLastWriteTime(target + "/logo.gif");
  ASSERT_TRUE(written);
  EXPECT_EQ(written->seconds, when);

  // A read-only copy from an earlier run is replaced.
  fs::permissions(target + "/logo.gif", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  repo.File("img/logo.gif", "new", when + 60);
  ASSERT_EQ(core.checkOut(repo.FileId("img/logo.gif"), &output, &req.rec), 0);
  EXPECT_EQ(skelder::test::ReadFile(target + "/logo.gif"), "new");

  // A target "directory" that is a file cannot be checked out into, and says so.
  skelder::test::WriteFile(out / "blocked", "x");
  Request blocked(out / "blocked/sub");
  const int32_t status = core.checkOut(repo.FileId("img/logo.gif"), &output, &blocked.rec);
  EXPECT_NE(status, 0);
  EXPECT_NE(core.ErrorText(status).find("The file could not be checked out"), std::string::npos)
      << core.ErrorText(status);
}

// File modes and symbolic links are POSIX's; Windows files have neither to carry.
#ifndef _WIN32
TEST_F(HostLibs, CheckOutCarriesTheModeAndNeverWritesThroughALink) {
  repo.File("run.cgi", "#!/bin/sh\n").File("page.htm", "fresh");
  chmod(repo.Path("run.cgi").c_str(), 0750);
  skelder::test::TempDir out;
  Request req(out.path() + "/");  // a target with its trailing separator, as the add-in passes it
  int32_t output = 0;
  ASSERT_EQ(core.checkOut(repo.FileId("run.cgi"), &output, &req.rec), 0);
  struct stat st {};
  ASSERT_EQ(stat((out / "run.cgi").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0750u);

  // A link where the copy goes is replaced; the file it points to is left alone, mode and all.
  skelder::test::WriteFile(out / "victim.txt", "keep me");
  chmod((out / "victim.txt").c_str(), 0444);
  ASSERT_EQ(symlink((out / "victim.txt").c_str(), (out / "page.htm").c_str()), 0);
  ASSERT_EQ(core.checkOut(repo.FileId("page.htm"), &output, &req.rec), 0);
  EXPECT_EQ(skelder::test::ReadFile(out / "victim.txt"), "keep me");
  struct stat victim {};
  ASSERT_EQ(stat((out / "victim.txt").c_str(), &victim), 0);
  EXPECT_EQ(victim.st_mode & 07777, 0444u);
  struct stat lst {};
  ASSERT_EQ(lstat((out / "page.htm").c_str(), &lst), 0);
  EXPECT_TRUE(S_ISREG(lst.st_mode));
  EXPECT_EQ(skelder::test::ReadFile(out / "page.htm"), "fresh");
}
#endif

TEST_F(HostLibs, CheckOutFailuresCarryTheirTexts) {
  repo.File("index.htm", "a").File("other.htm", "b").Fault("checkout-fail", "index.htm");
  skelder::test::TempDir out;
  Request req(out.path());
  int32_t output = 0;
  int32_t status = core.checkOut(repo.FileId("index.htm"), &output, &req.rec);
  EXPECT_NE(status, 0);
  EXPECT_EQ(core.ErrorText(status), "The repository refused to check out the file: index.htm");
  EXPECT_FALSE(skelder::test::FileExists(out / "index.htm"));
  EXPECT_EQ(core.checkOut(repo.FileId("other.htm"), &output, &req.rec), 0);

  EXPECT_NE(core.checkOut(777777, &output, &req.rec), 0);
  // A target directory without its terminating zero is refused, not overread.
  std::memset(req.target.data(), 'a', req.target.size());
  status = core.checkOut(repo.FileId("other.htm"), &output, &req.rec);
  EXPECT_EQ(core.ErrorText(status), "An argument passed to the repository is not valid: target directory");
}

TEST_F(HostLibs, GroupExtensionsAndPermissions) {
  repo.Group("htm;asp").Group(".CSS; .less");
  char buf[kGroupExtensionsSize];
  ASSERT_EQ(core.groupExt("index.htm", buf), 0);
  EXPECT_STREQ(buf, ".htm;.asp");
  ASSERT_EQ(core.groupExt("Default.ASP", buf), 0);
  EXPECT_STREQ(buf, ".htm;.asp");
  ASSERT_EQ(core.groupExt("site.css", buf), 0);
  EXPECT_STREQ(buf, ".css;.less");
  ASSERT_EQ(core.groupExt("logo.gif", buf), 0);
  EXPECT_STREQ(buf, ".gif");
  ASSERT_EQ(core.groupExt("README", buf), 0);
  EXPECT_STREQ(buf, "");
  // A new group takes an extension over from an older one.
  repo.Group("htm;html");
  ASSERT_EQ(core.groupExt("index.htm", buf), 0);
  EXPECT_STREQ(buf, ".htm;.html");
  ASSERT_EQ(core.groupExt("x.asp", buf), 0);
  EXPECT_STREQ(buf, ".asp");

  repo.Folder("img");
  uint8_t area[4] = {9, 9, 9, 9}, b1 = 0, b2 = 0;
  ASSERT_EQ(core.permissions(repo.FolderId("img"), area, &b1, &b2), 0);
  EXPECT_EQ(area[0], 1) << "deploying is allowed by default";
  repo.Permit("img", false);
  ASSERT_EQ(core.permissions(repo.FolderId("img"), area, &b1, &b2), 0);
  EXPECT_EQ(area[0], 0);
  ASSERT_EQ(core.permissions(repo.FolderId(""), area, &b1, &b2), 0);
  EXPECT_EQ(area[0], 1);
}

TEST_F(HostLibs, ErrorStringSizeProtocol) {
  int32_t size = 0;
  ASSERT_EQ(core.errorString(3, nullptr, &size), 0);
  std::string text = "The folder does not exist in the repository";
  EXPECT_GE(size, static_cast<int32_t>(text.size() + 1));
  std::vector<char> small(4, 'z');
  int32_t smallSize = 4;
  EXPECT_EQ(core.errorString(3, small.data(), &smallSize), kStatusBufferTooSmall);
  EXPECT_EQ(smallSize, size);
  EXPECT_EQ(std::string(small.data(), 4), "zzzz") << "nothing written into too small a buffer";
  EXPECT_EQ(core.ErrorText(12345), "Unknown repository error 12345");
}

TEST_F(HostLibs, ObjectInfoAnswers84WithTheNeededSize) {
  Lib main("KVOMain.Dll");
  auto info = main.Get<TXRGetObjectInfo>("XRGetObjectInfo");
  ASSERT_NE(info, nullptr);
  std::string notes(40000, 'n');
  repo.File("a.htm").Notes("", notes);
  std::vector<char> b1(kObjectInfoBuffer1Size), b2(kObjectInfoBuffer2Size), text(kObjectInfoFirstTextSize);
  int32_t size = kObjectInfoFirstTextSize, type = -1;
  ASSERT_EQ(info(repo.FolderId(""), b1.data(), b2.data(), text.data(), &size, &type), kStatusBufferTooSmall);
  EXPECT_EQ(size, 40001);
  std::vector<char> bigger(static_cast<size_t>(size) + 1);
  ASSERT_EQ(info(repo.FolderId(""), b1.data(), b2.data(), bigger.data(), &size, &type), 0);
  EXPECT_EQ(type, kObjectTypeFolder);
  EXPECT_EQ(std::string(bigger.data()), notes);

  size = kObjectInfoFirstTextSize;
  ASSERT_EQ(info(repo.FileId("a.htm"), b1.data(), b2.data(), text.data(), &size, &type), 0);
  EXPECT_NE(type, kObjectTypeFolder);
  EXPECT_NE(info(9999999, b1.data(), b2.data(), text.data(), &size, &type), 0);

  // Notes beyond the folder-information buffer are refused rather than cut short.
  repo.Notes("", std::string(kNotesSize, 'n'));
  EXPECT_EQ(GetInfo(core.folderInfo, repo.FolderId("")).status, kStatusBufferTooSmall);

  repo.Fault("objectinfo-always-84");
  size = static_cast<int32_t>(bigger.size());
  EXPECT_EQ(info(repo.FolderId(""), b1.data(), b2.data(), bigger.data(), &size, &type), kStatusBufferTooSmall);
}

TEST_F(HostLibs, FaultSwitchesForFolderInfoAndUnterminatedStrings) {
  repo.Folder("img").Fault("unterminated");
  auto f = GetInfo(core.folderInfo, repo.FolderId("img"));
  ASSERT_EQ(f.status, 0);
  EXPECT_EQ(std::string(f.name.data(), 3), "img");
  EXPECT_EQ(std::find(f.name.begin(), f.name.end(), '\0'), f.name.end()) << "the whole buffer filled, no zero";
  EXPECT_EQ(std::find(f.notes.begin(), f.notes.end(), '\0'), f.notes.end());

  repo.ClearFaults().Fault("folderinfo-fail");
  f = GetInfo(core.folderInfo, repo.FolderId("img"));
  EXPECT_NE(f.status, 0);
  EXPECT_EQ(f.i1, 7) << "the failing host leaves junk behind";

  repo.ClearFaults().Fault("groupext-fail");
  char buf[kGroupExtensionsSize];
  EXPECT_NE(core.groupExt("index.htm", buf), 0);
}

TEST_F(HostLibs, NoRepositoryConfiguredIsAClearError) {
  skelder::test::ScopedEnv none(skelder::hostsim::kRepositoryEnvVar, std::nullopt);
  auto f = GetInfo(core.folderInfo, 1);
  EXPECT_EQ(core.ErrorText(f.status),
            "No repository is configured: set ARDMOOR_REPOSITORY to the repository's directory");

  // The per-user config file names one when the variable does not.
  skelder::test::WriteFile(user.UserDir() + "repository.cfg", repo.Root() + "\n");
  f = GetInfo(core.folderInfo, repo.FolderId(""));
  EXPECT_EQ(f.status, 0);
  EXPECT_STREQ(f.name.data(), "site");
}

TEST_F(HostLibs, MalformedMetadataIsReportedWithItsLine) {
  int32_t root = repo.FolderId("");
  skelder::test::WriteFile(repo.MetadataPath(), "version 1\nfolder 1\nfolder x img\n");
  auto f = GetInfo(core.folderInfo, root);
  EXPECT_EQ(core.ErrorText(f.status),
            "The repository could not be read: Malformed repository metadata at line 3: bad id \"x\"");
  skelder::test::WriteFile(repo.MetadataPath(), "version 1\nfolder 1 ../outside\n");
  f = GetInfo(core.folderInfo, root);
  EXPECT_NE(f.status, 0);
  skelder::test::WriteFile(repo.MetadataPath(), "version 1\nnotes 1 bad\\q\n");
  f = GetInfo(core.folderInfo, root);
  EXPECT_NE(f.status, 0);
}

}  // namespace
