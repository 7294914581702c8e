// The host client binding against the stand-in host libraries, found the way a user's machine
// finds them: through the registry stand-in and the add-in's own folder.
#include "host/xr_direct_intf.h"

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hostsim_fixture.h"
#include "platform/files.h"
#include "test_support.h"

namespace fs = std::filesystem;
using namespace skelder::host;
using skelder::test::HostSimRepository;
using skelder::test::HostSimUser;
using skelder::test::TempDir;

namespace {

// ---------------------------------------------------------------------------------------------
// The wrappers, against the stand-in in the bin folder (the test program's own folder).

class HostWrappers : public ::testing::Test {
 protected:
  HostSimUser user;
  HostSimRepository repo;
};

TEST_F(HostWrappers, FolderInfoCopiesStringsOnSuccessAndClearsEverythingOnFailure) {
  repo.Folder("img").Notes("img", "[Web Folder]\r\nDeployTo=/srv\r\n");
  std::string name, display, path, notes;
  int32_t i1 = 0, i2 = 0, i3 = 0;
  ASSERT_EQ(VcsGetFolderInfo(repo.FolderId("img"), name, display, path, notes, i1, i2, i3), 0);
  EXPECT_EQ(name, "img");
  EXPECT_EQ(display, repo.DisplayPath("img"));  // "site/img", "\\" on Windows
  EXPECT_EQ(path, repo.HostPath("img"));
  EXPECT_EQ(notes, "[Web Folder]\r\nDeployTo=/srv\r\n");
  EXPECT_EQ(i1, repo.FolderId(""));

  // A failing host that wrote into the buffers and the numbers still leaves nothing behind.
  repo.Fault("folderinfo-fail");
  const int32_t status = VcsGetFolderInfo(repo.FolderId("img"), name, display, path, notes, i1, i2, i3);
  EXPECT_NE(status, 0);
  EXPECT_EQ(name + display + path + notes, "");
  EXPECT_EQ(i1 | i2 | i3, 0);
  name = "old";
  i2 = 5;
  EXPECT_NE(MainVcsGetFolderInfo(repo.FolderId("img"), name, display, path, notes, i1, i2, i3), 0);
  EXPECT_EQ(name, "");
  EXPECT_EQ(i2, 0);

  repo.ClearFaults();
  name = "old";
  EXPECT_NE(VcsGetFolderInfo(987654, name, display, path, notes, i1, i2, i3), 0);
  EXPECT_EQ(name, "");
}

TEST_F(HostWrappers, UnterminatedHostStringsStopAtTheirBuffers) {
  repo.Folder("img").Fault("unterminated");
  std::string name, display, path, notes;
  int32_t i1, i2, i3;
  ASSERT_EQ(VcsGetFolderInfo(repo.FolderId("img"), name, display, path, notes, i1, i2, i3), 0);
  EXPECT_EQ(name.size(), static_cast<size_t>(kFolderNameSize));
  EXPECT_EQ(name.substr(0, 4), "imgx");
  EXPECT_EQ(display.size(), static_cast<size_t>(kFolderDisplayPathSize));
  EXPECT_EQ(path.size(), static_cast<size_t>(kFolderPathSize));
  EXPECT_EQ(notes.size(), static_cast<size_t>(kNotesSize));
  std::string ext;
  ASSERT_EQ(VcsGetFileGroupExtensions("index.htm", ext), 0);
  EXPECT_EQ(ext.size(), static_cast<size_t>(kGroupExtensionsSize));
  std::string message;
  VcsErrorString(3, message);
  EXPECT_EQ(message.rfind("The folder does not exist", 0), 0u);
  EXPECT_LT(message.size(), 200u);
}

TEST_F(HostWrappers, GroupExtensionsFallBackToTheFilesOwnExtension) {
  repo.Group("htm;asp");
  std::string ext;
  EXPECT_EQ(VcsGetFileGroupExtensions("index.htm", ext), 0);
  EXPECT_EQ(ext, ".htm;.asp");
  repo.Fault("groupext-fail");
  EXPECT_NE(VcsGetFileGroupExtensions("index.htm", ext), 0);
  EXPECT_EQ(ext, ".htm");
  EXPECT_NE(VcsGetFileGroupExtensions("archive.tar.gz", ext), 0);
  EXPECT_EQ(ext, ".gz");
  EXPECT_NE(VcsGetFileGroupExtensions("README", ext), 0);
  EXPECT_EQ(ext, "");
  EXPECT_NE(VcsGetFileGroupExtensions("v1.2/README", ext), 0);
  EXPECT_EQ(ext, "") << "a dot in a folder name is no extension";
}

TEST_F(HostWrappers, ErrorStringFetchesTheHostsText) {
  std::string message = "stale";
  VcsErrorString(4, message);
  EXPECT_EQ(message, "The file does not exist in the repository");
  VcsErrorString(84, message);
  EXPECT_EQ(message, "The buffer is too small for the data");
}

struct Seen {
  std::vector<std::string> folders;
  std::vector<std::string> files;
  std::vector<int32_t> folderIds;
  size_t stopAfter = 1000;
  bool throwOnFirst = false;
};

bool CollectFolder(void* context, const std::string& name, const std::string&, const std::string& folderPath,
                   int32_t folderId, int32_t, int32_t, int32_t) {
  auto* seen = static_cast<Seen*>(context);
  if (seen->throwOnFirst) throw std::runtime_error("item failed for " + name);
  seen->folders.push_back(folderPath);
  seen->folderIds.push_back(folderId);
  return seen->folders.size() < seen->stopAfter;
}

bool CollectFile(void* context, const std::string& fileName, const std::string&, const std::string& lockHolder, int32_t,
                 int32_t folderId, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, uint8_t, uint8_t) {
  auto* seen = static_cast<Seen*>(context);
  seen->files.push_back(fileName + (lockHolder.empty() ? "" : "@" + lockHolder));
  seen->folderIds.push_back(folderId);
  return seen->files.size() < seen->stopAfter;
}

TEST_F(HostWrappers, EnumerationsHandEntriesToTheItemFunctionAndItsAnswerBack) {
  repo.File("index.htm").File("img/logo.gif").File("img/x/y.png").Lock("img/logo.gif", "carol");
  Seen seen;
  ASSERT_EQ(VcsEnumFolders(repo.FolderId(""), CollectFolder, &seen, 1), 0);
  EXPECT_EQ(seen.folders, (std::vector<std::string>{"$", repo.HostPath("img"), repo.HostPath("img/x")}));
  EXPECT_EQ(seen.folderIds[2], repo.FolderId("img/x"));

  Seen files;
  ASSERT_EQ(VcsEnumFiles(repo.FolderId(""), CollectFile, &files, 1), 0);
  EXPECT_EQ(files.files, (std::vector<std::string>{"index.htm", "logo.gif@carol", "y.png"}));
  EXPECT_EQ(files.folderIds[1], repo.FolderId("img"));

  Seen first;
  first.stopAfter = 1;
  ASSERT_EQ(VcsEnumFiles(repo.FolderId(""), CollectFile, &first, 1), 0);
  EXPECT_EQ(first.files.size(), 1u) << "false goes back to the host and ends the enumeration";

  // Without an item function every entry is answered with true.
  EXPECT_EQ(VcsEnumFolders(repo.FolderId(""), nullptr, nullptr, 1), 0);
  EXPECT_EQ(VcsEnumFiles(repo.FolderId(""), nullptr, nullptr, 1), 0);
}

TEST_F(HostWrappers, AnItemFunctionsErrorReachesTheCallerAfterTheHostReturns) {
  repo.Folder("a").Folder("b");
  Seen seen;
  seen.throwOnFirst = true;
  try {
    VcsEnumFolders(repo.FolderId(""), CollectFolder, &seen, 1);
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "item failed for site");
  }
  EXPECT_TRUE(seen.folders.empty());
}

TEST_F(HostWrappers, CheckOutWithAFreshRequestAndPermissions) {
  repo.File("img/logo.gif", "GIF89a", 1000000000);
  TCheckOutRequest* request = NewCheckOutRequest();
  ASSERT_NE(request, nullptr);
  EXPECT_STREQ(request->Comment, "");
  EXPECT_STREQ(request->TargetDir, "");
  EXPECT_EQ(request->Value1 | request->Value2 | request->Byte1 | request->Byte2, 0);
  EXPECT_EQ(request->Flags, 0u);
  TempDir out;
  const std::string target = out / "run/img";
  std::snprintf(request->TargetDir, kCheckOutTargetDirSize, "%s", target.c_str());
  request->Flags = 1;
  int32_t output = 0;
  EXPECT_EQ(VcsCheckOutFile(repo.FileId("img/logo.gif"), output, request), 0);
  FreeCheckOutRequest(request);
  FreeCheckOutRequest(nullptr);
  EXPECT_EQ(skelder::test::ReadFile(target + "/logo.gif"), "GIF89a");
  EXPECT_EQ(skelder::platform::GetLastWriteTime(target + "/logo.gif")->seconds, 1000000000);

  uint8_t area[4] = {0, 0, 0, 0}, b1 = 0, b2 = 0;
  EXPECT_EQ(VcsGetFolderPermissions(repo.FolderId("img"), area, b1, b2), 0);
  EXPECT_EQ(area[0], 1);
  repo.Permit("img", false);
  EXPECT_EQ(VcsGetFolderPermissions(repo.FolderId("img"), area, b1, b2), 0);
  EXPECT_EQ(area[0], 0);
}

}  // namespace
