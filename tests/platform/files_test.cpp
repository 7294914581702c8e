#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <set>

#include "test_support.h"

namespace skelder::platform {
namespace {

using test::ReadFile;
using test::ScopedEnv;
using test::TempDir;
using test::WriteFile;

mode_t ModeOf(const std::string& path) {
  struct stat st;
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

TEST(ResolvePath, FindsNameThatDiffersOnlyInLetterCase) {
  TempDir dir;
  WriteFile(dir / "KVOMain.Dll", "x");
  EXPECT_EQ(ResolvePath(dir / "KVOMain.Dll"), dir / "KVOMain.Dll");
  EXPECT_EQ(ResolvePath(dir / "KVOMain.dll"), dir / "KVOMain.Dll");
  EXPECT_EQ(ResolvePath(dir / "kvomain.DLL"), dir / "KVOMain.Dll");
  EXPECT_TRUE(FileExists(dir / "kvomain.dll"));
  // Not a prefix match, and missing names stay as written.
  EXPECT_EQ(ResolvePath(dir / "KVOMain.Dl"), dir / "KVOMain.Dl");
  EXPECT_FALSE(FileExists(dir / "KVOMain.Dl"));
  // Only ASCII letters fold.
  WriteFile(dir /
                "\xC4"
                "b",
            "x");
  EXPECT_EQ(ResolvePath(dir / "\xE4"
                              "B"),
            dir /
                "\xE4"
                "B");
}

TEST(ResolvePath, ExactNameWinsAndIndexFollowsChanges) {
  TempDir dir;
  WriteFile(dir / "a.TXT", "1");
  EXPECT_EQ(ResolvePath(dir / "A.txt"), dir / "a.TXT");
  // Our own changes keep the index current...
  ASSERT_TRUE(CopyFileWithTimes(dir / "a.TXT", dir / "B.htm", false));
  EXPECT_EQ(ResolvePath(dir / "b.HTM"), dir / "B.htm");
  ASSERT_TRUE(RemoveFile(dir / "b.htm"));
  EXPECT_FALSE(FileExists(dir / "B.htm"));
  EXPECT_EQ(ResolvePath(dir / "b.HTM"), dir / "b.HTM");
  // ...and changes made by others are seen as well.
  WriteFile(dir / "C.css", "c");
  EXPECT_EQ(ResolvePath(dir / "c.css"), dir / "C.css");
  ::unlink((dir / "a.TXT").c_str());
  WriteFile(dir / "A.txt", "2");
  EXPECT_EQ(ResolvePath(dir / "a.txt"), dir / "A.txt");
  // Relative paths stay relative.
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(::chdir(dir.path().c_str()), 0);
  EXPECT_EQ(ResolvePath("c.CSS"), "C.css");
  ASSERT_EQ(::chdir(cwd), 0);
}

TEST(ResolvePath, FoldsEveryLevelOfThePath) {
  TempDir dir;
  WriteFile(dir / "Web/Images/Logo.GIF", "g");
  EXPECT_EQ(ResolvePath(dir / "web/images/logo.gif"), dir / "Web/Images/Logo.GIF");
  EXPECT_EQ(ResolvePath(dir / "WEB/Images"), dir / "Web/Images");
  EXPECT_TRUE(FileExists(dir / "web/IMAGES/logo.gif"));
  // A missing middle level leaves the path as written.
  EXPECT_EQ(ResolvePath(dir / "web/none/logo.gif"), dir / "web/none/logo.gif");
}

TEST(FileAttributes, ReadOnlyIsTheOwnerWriteBit) {
  TempDir dir;
  std::string f = dir / "f.txt";
  WriteFile(f, "x");
  ::chmod(f.c_str(), 0664);
  EXPECT_EQ(*ReadFileAttributes(f), kAttrNormal);
  ASSERT_TRUE(WriteFileAttributes(f, kAttrReadOnly));
  EXPECT_EQ(ModeOf(f), 0444u);
  EXPECT_EQ(*ReadFileAttributes(f) & kAttrReadOnly, kAttrReadOnly);
  // Clearing read-only keeps the other permission bits.
  ASSERT_TRUE(WriteFileAttributes(f, *ReadFileAttributes(f) & ~kAttrReadOnly));
  EXPECT_EQ(ModeOf(f), 0644u);
  EXPECT_EQ(*ReadFileAttributes(dir.path()) & kAttrDirectory, kAttrDirectory);
  EXPECT_TRUE(DirectoryExists(dir.path()));
  EXPECT_FALSE(FileExists(dir.path()));
  EXPECT_FALSE(ReadFileAttributes(dir / "missing").has_value());
  EXPECT_FALSE(WriteFileAttributes(dir / "missing", 0));
}

TEST(CopyFileWithTimes, KeepsContentsModeAndLastWriteTime) {
  TempDir dir;
  std::string src = dir / "src.bin";
  std::string data;
  for (int i = 0; i < 700000; ++i) data += static_cast<char>(i * 7 % 251);  // several chunks
  WriteFile(src, data);
  ::chmod(src.c_str(), 0640);
  ASSERT_TRUE(SetLastWriteTime(src, FileTime{1000000000, 123456789}));
  ASSERT_TRUE(CopyFileWithTimes(src, dir / "dst.bin", true));
  EXPECT_EQ(ReadFile(dir / "dst.bin"), data);
  EXPECT_EQ(ModeOf(dir / "dst.bin"), 0640u);
  auto t = GetLastWriteTime(dir / "dst.bin");
  ASSERT_TRUE(t);
  EXPECT_EQ(t->seconds, 1000000000);
  EXPECT_EQ(t->nanoseconds, 123456789);
  EXPECT_EQ(*GetFileSize(dir / "dst.bin"), data.size());
  // No temporary file is left beside the target.
  EXPECT_EQ(test::ListFiles(dir.path()), (std::vector<std::string>{"dst.bin", "src.bin"}));
}

TEST(CopyFileWithTimes, ExistingAndReadOnlyTargets) {
  TempDir dir;
  WriteFile(dir / "new.txt", "new");
  WriteFile(dir / "Old.txt", "old");
  int code = 0;
  EXPECT_FALSE(CopyFileWithTimes(dir / "new.txt", dir / "old.txt", true, &code));
  EXPECT_EQ(code, EEXIST);
  EXPECT_EQ(ReadFile(dir / "Old.txt"), "old");

  // Replacing goes to the existing spelling, not to a second file.
  ASSERT_TRUE(CopyFileWithTimes(dir / "new.txt", dir / "old.txt", false, &code));
  EXPECT_EQ(ReadFile(dir / "Old.txt"), "new");
  EXPECT_FALSE(test::FileExists(dir / "old.txt"));

  // A read-only target is refused until its read-only attribute is cleared.
  WriteFile(dir / "ro.txt", "keep");
  ASSERT_TRUE(WriteFileAttributes(dir / "ro.txt", kAttrReadOnly));
  code = 0;
  EXPECT_FALSE(CopyFileWithTimes(dir / "new.txt", dir / "ro.txt", false, &code));
  EXPECT_EQ(code, EACCES);
  EXPECT_EQ(ReadFile(dir / "ro.txt"), "keep");
  ASSERT_TRUE(WriteFileAttributes(dir / "ro.txt", *ReadFileAttributes(dir / "ro.txt") & ~kAttrReadOnly));
  EXPECT_TRUE(CopyFileWithTimes(dir / "new.txt", dir / "ro.txt", false, &code));
  EXPECT_EQ(ReadFile(dir / "ro.txt"), "new");

  // A read-only source gives a read-only copy that a later copy cannot overwrite.
  ASSERT_TRUE(WriteFileAttributes(dir / "new.txt", kAttrReadOnly));
  ASSERT_TRUE(CopyFileWithTimes(dir / "new.txt", dir / "copy.txt", false));
  EXPECT_TRUE(*ReadFileAttributes(dir / "copy.txt") & kAttrReadOnly);
  EXPECT_FALSE(CopyFileWithTimes(dir / "new.txt", dir / "copy.txt", false));
}

TEST(CopyFileWithTimes, ErrorsCarryErrno) {
  TempDir dir;
  WriteFile(dir / "a.txt", "a");
  int code = 0;
  EXPECT_FALSE(CopyFileWithTimes(dir / "missing.txt", dir / "b.txt", false, &code));
  EXPECT_EQ(code, ENOENT);
  EXPECT_FALSE(CopyFileWithTimes(dir / "a.txt", dir / "no/such/dir/b.txt", false, &code));
  EXPECT_EQ(code, ENOENT);
  EXPECT_FALSE(CopyFileWithTimes(dir.path(), dir / "b.txt", false, &code));
  EXPECT_EQ(code, EISDIR);
  test::MakeDirs(dir / "sub");
  EXPECT_FALSE(CopyFileWithTimes(dir / "a.txt", dir / "sub", false, &code));
  EXPECT_EQ(code, EISDIR);
  if (::geteuid() != 0) {
    test::MakeDirs(dir / "locked");
    ::chmod((dir / "locked").c_str(), 0555);
    EXPECT_FALSE(CopyFileWithTimes(dir / "a.txt", dir / "locked/b.txt", false, &code));
    EXPECT_EQ(code, EACCES);
    EXPECT_EQ(LastErrorCode(), EACCES);
    ::chmod((dir / "locked").c_str(), 0755);
    EXPECT_TRUE(test::ListFiles(dir / "locked").empty());
  }
}

TEST(FileAge, PacksLocalTimeAsDosDateAndTime) {
  ScopedEnv tz("TZ", "UTC");
  ::tzset();
  TempDir dir;
  std::string f = dir / "f";
  WriteFile(f, "x");
  // 2003-07-14 15:42:37 UTC; seconds are halved.
  ASSERT_TRUE(SetLastWriteTime(f, FileTime{1058197357, 0}));
  int32_t expected = ((2003 - 1980) << 25) | (7 << 21) | (14 << 16) | (15 << 11) | (42 << 5) | (37 / 2);
  EXPECT_EQ(FileAge(f), expected);
  EXPECT_EQ(FileAge(dir / "F"), expected);  // the lookup rules apply

  // Local time, not UTC.
  {
    ScopedEnv berlin("TZ", "Europe/Berlin");
    ::tzset();
    EXPECT_EQ(FileAge(f), expected + (2 << 11));  // summer time, two hours ahead
  }
  ::tzset();

  // Bounds of the packed form.
  EXPECT_EQ(PackLocalTime({315532800, 0}), (0 << 25) | (1 << 21) | (1 << 16));   // 1980-01-01 00:00
  EXPECT_EQ(PackLocalTime({315532799, 0}), -1);                                  // 1979-12-31 23:59:59
  EXPECT_EQ(PackLocalTime({4354819199, 0}), static_cast<int32_t>(0xFF9FBF7Du));  // 2107-12-31 23:59:58/59
  EXPECT_EQ(PackLocalTime({4354819200, 0}), -1);                                 // 2108-01-01
  // From 2044 on the packed value is negative as a signed number.
  EXPECT_LT(PackLocalTime({2335219200, 0}), 0);
  EXPECT_GT(PackLocalTime({2335219199, 0}), 0);

  ASSERT_TRUE(SetLastWriteTime(f, FileTime{315532799, 0}));
  EXPECT_EQ(FileAge(f), -1);
  EXPECT_EQ(FileAge(dir.path()), -1);
  EXPECT_EQ(FileAge(dir / "missing"), -1);
}

TEST(TempFiles, UniqueExclusiveAndNamedByPrefix) {
  TempDir dir;
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) {
    std::string path = CreateUniqueTempFile(dir.path(), "TTS");
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(seen.insert(path).second) << path;
    std::string name = path.substr(dir.path().size() + 1);
    ASSERT_GT(name.size(), 7u);
    EXPECT_EQ(name.substr(0, 3), "TTS");
    EXPECT_EQ(name.substr(name.size() - 4), ".tmp");
    for (char c : name.substr(3, name.size() - 7)) EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(c))) << name;
    EXPECT_EQ(*GetFileSize(path), 0u);
  }
  // A file that exists is never handed out again, even when the number comes round.
  std::string first = *seen.begin();
  WriteFile(first, "taken");
  for (int i = 0; i < 50; ++i) EXPECT_NE(CreateUniqueTempFile(dir.path(), "TTS"), first);
  EXPECT_EQ(ReadFile(first), "taken");
  EXPECT_TRUE(CreateUniqueTempFile(dir / "missing", "TTS").empty());

  ScopedEnv tmp("TMPDIR", dir.path());
  EXPECT_EQ(TempDirectory(), dir.path() + "/");
  ScopedEnv noTmp("TMPDIR", std::nullopt);
  EXPECT_EQ(TempDirectory(), "/tmp/");
}

TEST(DeleteTree, RemovesEverythingButNeverFollowsLinksOut) {
  TempDir outside;
  WriteFile(outside / "precious.txt", "keep");
  TempDir dir;
  std::string root = dir / "TTS1A2B.Deploy";
  WriteFile(root + "/a.txt", "a");
  WriteFile(root + "/sub/deeper/b.txt", "b");
  WriteFile(root + "/sub/ro.txt", "r");
  ::chmod((root + "/sub/ro.txt").c_str(), 0444);
  ::chmod((root + "/sub/deeper").c_str(), 0555);
  ASSERT_EQ(::symlink(outside.path().c_str(), (root + "/link").c_str()), 0);
  ASSERT_EQ(::symlink((outside / "precious.txt").c_str(), (root + "/sub/filelink").c_str()), 0);
  EXPECT_TRUE(DeleteTree(root));
  EXPECT_FALSE(PathExists(root));
  EXPECT_EQ(ReadFile(outside / "precious.txt"), "keep");
  EXPECT_TRUE(DeleteTree(root));  // already gone

  // A link given as the tree itself is removed, its target left alone.
  ASSERT_EQ(::symlink(outside.path().c_str(), (dir / "alias").c_str()), 0);
  EXPECT_TRUE(DeleteTree(dir / "alias"));
  EXPECT_EQ(ReadFile(outside / "precious.txt"), "keep");
}

TEST(Directories, CreateRemoveRenameDelete) {
  TempDir dir;
  EXPECT_TRUE(MakeDirectory(dir / "Sub"));
  EXPECT_FALSE(MakeDirectory(dir / "Sub"));
  EXPECT_FALSE(MakeDirectory(dir / "sub"));  // same name to Windows
  EXPECT_FALSE(MakeDirectory(dir / "a/b"));
  WriteFile(dir / "Sub/f.txt", "f");
  EXPECT_FALSE(RemoveEmptyDirectory(dir / "sub"));  // not empty
  EXPECT_FALSE(RemoveFile(dir / "sub"));            // a folder is no file
  EXPECT_EQ(LastErrorCode(), EISDIR);

  WriteFile(dir / "target.txt", "old");
  EXPECT_TRUE(RenameFile(dir / "sub/F.TXT", dir / "Target.txt"));
  EXPECT_EQ(ReadFile(dir / "target.txt"), "f");
  EXPECT_FALSE(test::FileExists(dir / "Target.txt"));
  // A change of letter case only is a rename too.
  EXPECT_TRUE(RenameFile(dir / "target.txt", dir / "TARGET.txt"));
  EXPECT_TRUE(test::FileExists(dir / "TARGET.txt"));
  EXPECT_FALSE(test::FileExists(dir / "target.txt"));

  EXPECT_TRUE(RemoveEmptyDirectory(dir / "SUB"));
  EXPECT_FALSE(DirectoryExists(dir / "Sub"));

  // Read-only files are protected from deletion until the attribute is cleared.
  ASSERT_TRUE(WriteFileAttributes(dir / "TARGET.txt", kAttrReadOnly));
  EXPECT_FALSE(RemoveFile(dir / "TARGET.txt"));
  EXPECT_EQ(LastErrorCode(), EACCES);
  ASSERT_TRUE(WriteFileAttributes(dir / "TARGET.txt", 0));
  EXPECT_TRUE(RemoveFile(dir / "target.TXT"));
  EXPECT_FALSE(PathExists(dir / "TARGET.txt"));
  EXPECT_FALSE(RemoveFile(dir / "TARGET.txt"));
  EXPECT_EQ(LastErrorCode(), ENOENT);
}

TEST(ExactLookup, ContentNamesNeverFoldToAnotherSpelling) {
  TempDir dir;
  WriteFile(dir / "src", "new");
  WriteFile(dir / "Index.html", "old");
  test::MakeDirs(dir / "Img");
  EXPECT_FALSE(FileExists(dir / "index.html", Lookup::Exact));
  EXPECT_EQ(FileAge(dir / "index.html", Lookup::Exact), -1);
  ASSERT_TRUE(CopyFileWithTimes(dir / "src", dir / "index.html", false, nullptr, Lookup::Exact));
  EXPECT_EQ(ReadFile(dir / "Index.html"), "old");
  EXPECT_EQ(ReadFile(dir / "index.html"), "new");
  EXPECT_TRUE(MakeDirectory(dir / "img", Lookup::Exact));
  EXPECT_TRUE(DirectoryExists(dir / "Img", Lookup::Exact));
  EXPECT_FALSE(RemoveFile(dir / "INDEX.html", Lookup::Exact));
  EXPECT_EQ(ReadFile(dir / "Index.html"), "old");
}

TEST(Links, NeitherAttributesNorWritesGoThroughThem) {
  TempDir outside, dir;
  WriteFile(outside / "target", "outside");
  ::chmod((outside / "target").c_str(), 0444);
  WriteFile(dir / "src", "copied");
  for (const char* name : {"copy", "attr", "replace"})
    ASSERT_EQ(::symlink((outside / "target").c_str(), (dir / name).c_str()), 0);
  EXPECT_TRUE(WriteFileAttributes(dir / "attr", 0, Lookup::Exact));
  int code = 0;
  EXPECT_TRUE(CopyFileWithTimes(dir / "src", dir / "copy", false, &code, Lookup::Exact)) << code;
  EXPECT_TRUE(ReplaceFileContents(dir / "replace", "written", &code)) << code;
  EXPECT_EQ(ModeOf(outside / "target"), 0444u);
  EXPECT_EQ(ReadFile(outside / "target"), "outside");
  EXPECT_EQ(GetEntryKind(dir / "copy"), EntryKind::File);
  EXPECT_EQ(ReadFile(dir / "copy"), "copied");
  EXPECT_EQ(ReadFile(dir / "replace"), "written");
  EXPECT_EQ(GetEntryKind(dir / "attr"), EntryKind::Link);
  // A read-only file and a folder are refused, as a copy refuses them.
  WriteFile(dir / "ro", "keep");
  ::chmod((dir / "ro").c_str(), 0444);
  EXPECT_FALSE(ReplaceFileContents(dir / "ro", "x", &code));
  EXPECT_EQ(code, EACCES);
  EXPECT_FALSE(ReplaceFileContents(dir.path(), "x", &code));
  EXPECT_EQ(code, EISDIR);
  EXPECT_EQ(test::ListFiles(dir.path()).size(), 5u);  // no partial file left
}

TEST(ReadRegularFile, OnlyRegularFilesWithinTheBound) {
  TempDir dir;
  WriteFile(dir / "ok", "12345");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  ASSERT_EQ(::symlink((dir / "ok").c_str(), (dir / "link").c_str()), 0);
  struct Case {
    std::string name;
    uint64_t bound;
    ReadResult result;
    std::string contents;
  } cases[] = {{"ok", 5, ReadResult::Ok, "12345"},      {"ok", 4, ReadResult::TooLarge, ""},
               {"missing", 9, ReadResult::Missing, ""}, {"fifo", 9, ReadResult::NotRegular, ""},
               {"link", 9, ReadResult::NotRegular, ""}, {"", 9, ReadResult::NotRegular, ""}};
  for (const auto& c : cases) {
    std::string contents = "junk";
    EXPECT_EQ(ReadRegularFile(dir / c.name, c.bound, contents), c.result) << c.name;
    EXPECT_EQ(contents, c.contents) << c.name;
  }
}

TEST(PartialFiles, OnlyOursAndOnlyThoseOfDeadWriters) {
  for (const char* name : {".index.htm.partial-Ab12Cd", ".x.partial-000000"}) EXPECT_TRUE(IsPartialFileName(name));
  for (const char* name : {"index.htm.partial-Ab12Cd", ".index.htm.partial-Ab12C", ".index.htm.partial-Ab1_Cd",
                           ".partial-Ab12Cd", ".index.htm.backup"})
    EXPECT_FALSE(IsPartialFileName(name)) << name;
  // A writer holds its partial file locked (here: this process, through another descriptor).
  TempDir dir;
  WriteFile(dir / ".a.partial-AAAAAA", "dead");
  WriteFile(dir / ".b.partial-BBBBBB", "live");
  WriteFile(dir / ".c.backup", "user's");
  int live = ::open((dir / ".b.partial-BBBBBB").c_str(), O_RDONLY);
  ASSERT_EQ(::flock(live, LOCK_EX), 0);
  EXPECT_EQ(RemoveAbandonedPartialFiles(dir.path()), 1);
  EXPECT_EQ(test::ListFiles(dir.path()), (std::vector<std::string>{".b.partial-BBBBBB", ".c.backup"}));
  ::close(live);
  EXPECT_EQ(RemoveAbandonedPartialFiles(dir.path()), 1);
}

TEST(DirectoryLock, HeldUntilReleased) {
  TempDir dir;
  std::string folder = dir / "TTS1.Deploy";
  DirectoryLock mine;
  ASSERT_TRUE(CreateLockedDirectory(folder, mine));
  EXPECT_FALSE(CreateLockedDirectory(folder, mine));  // the name is taken
  ASSERT_TRUE(CreateLockedDirectory(folder + "2", mine));
  DirectoryLock other;
  EXPECT_EQ(other.TryLock(folder + "2"), DirectoryLock::Result::Busy);
  EXPECT_FALSE(DeleteTreeIfAbandoned(folder + "2"));
  mine.Release();
  EXPECT_TRUE(DeleteTreeIfAbandoned(folder + "2"));
  EXPECT_TRUE(DeleteTreeIfAbandoned(folder));
  EXPECT_FALSE(PathExists(folder));

  // A process that is killed holds nothing: see the end-to-end tests of deployment.
  DirectoryLock probe;
  EXPECT_EQ(probe.TryLock(dir / "missing"), DirectoryLock::Result::Unsupported);
}

TEST(Folder, WritesStayInTheFolderOpenedWhateverThePathBecomes) {
  TempDir outside, dir;
  WriteFile(dir / "src", "copied");
  WriteFile(outside / "ro", "outside");
  ::chmod((outside / "ro").c_str(), 0444);
  test::MakeDirs(dir / "web");
  ASSERT_EQ(::symlink(outside.path().c_str(), (dir / "web/link").c_str()), 0);
  ASSERT_EQ(::symlink((outside / "ro").c_str(), (dir / "web/ro").c_str()), 0);
  Folder web, sub, none;
  ASSERT_TRUE(web.Open(dir / "web"));
  EXPECT_EQ(web.OpenSubfolder("link", none), EntryKind::Link);
  EXPECT_FALSE(none.IsOpen());
  web.ClearReadOnly("ro");
  EXPECT_EQ(ModeOf(outside / "ro"), 0444u);
  ASSERT_EQ(web.OpenSubfolder("img", sub), EntryKind::Directory);
  // The folder is swapped for a link out of the location after it was opened.
  ASSERT_EQ(::rename((dir / "web/img").c_str(), (dir / "web/moved").c_str()), 0);
  ASSERT_EQ(::symlink(outside.path().c_str(), (dir / "web/img").c_str()), 0);
  int code = 0;
  EXPECT_TRUE(sub.CopyFileIn(dir / "src", "a.gif", &code)) << code;
  EXPECT_TRUE(sub.ReplaceFileContents("XRDeploy.dat", "1=2\r\n", &code)) << code;
  EXPECT_EQ(ReadFile(dir / "web/moved/a.gif"), "copied");
  EXPECT_EQ(test::ListFiles(outside.path()), std::vector<std::string>{"ro"});
  std::string text;
  EXPECT_EQ(sub.ReadRegularFile("XRDeploy.dat", 100, text), ReadResult::Ok);
  EXPECT_EQ(text, "1=2\r\n");
}

TEST(ModuleFileName, IsTheRunningProgram) {
  std::string self = ModuleFileName();
  ASSERT_FALSE(self.empty());
  EXPECT_EQ(self[0], '/');
  EXPECT_TRUE(FileExists(self));
  EXPECT_NE(self.find("platform_files"), std::string::npos) << self;
}

}  // namespace
}  // namespace skelder::platform
