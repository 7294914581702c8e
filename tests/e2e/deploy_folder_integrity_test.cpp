// Directory deployment that keeps to its location and its names, end to end through the exports
// (scripted toolkit) and `ardmoor`: exact names, symbolic links at the location, records that are
// no files, one deployment per location at a time, and what killed or stopped runs leave behind.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "addin_process.h"
#include "deploy_fixture.h"
#include "loopback.h"
#include "hostsim_fixture.h"
#include "platform/files.h"
#include "test_support.h"

namespace skelder::test {
namespace {

using namespace loopback;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using HandleCommandFn = uint8_t (*)(const char*, const char*);
using ConfigureFn = uint8_t (*)(const char*, const char*);
using OutcomeFn = int32_t (*)();

// Runs `setup` in a process of its own that then waits until it is killed: a second deployment
// holding a lock, a copy stuck half-way. The constructor returns once `setup` is done.
class Helper {
 public:
  explicit Helper(const std::function<void()>& setup) {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      std::thread([fd = fds[1]] {
        // Tells the parent once `setup` has run or is blocked where it should be.
        std::this_thread::sleep_for(300ms);
        char c = 1;
        (void)!write(fd, &c, 1);
      }).detach();
      setup();
      for (;;) pause();
    }
    close(fds[1]);
    char c = 0;
    (void)!read(fds[0], &c, 1);
    close(fds[0]);
  }
  ~Helper() { Kill(); }
  Helper(const Helper&) = delete;
  Helper& operator=(const Helper&) = delete;
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

// A lock on the location as a deployment holds it, in another process.
Helper HoldLocation(const std::string& location) {
  return Helper([location] {
    static platform::DirectoryLock lock;
    if (lock.TryLock(location) != platform::DirectoryLock::Result::Locked) _exit(3);
  });
}

class DeployFolderIntegrityTest : public DeployTest {
 protected:
  int Deploy(std::chrono::milliseconds limit = 60s) {
    return DeployTest::Deploy("", "yes,virtual-clock", {}, "scripted", limit);
  }

  // `ardmoor deploy --yes` on the real clock, running in the background.
  ChildProcess StartArdmoor() {
    fs::remove(LogPath());  // so the heading waited for is this run's
    return ChildProcess({BinDir() + "/ardmoor", "--repository", repo_.Root(), "deploy", repo_.Root(), "--install-dir",
                         BinDir(), "--addin", install_ + "/Skelder.so", "--yes"},
                        work_ / "ardmoor.out", {"TMPDIR=" + tmp_});
  }
  // Waits until the run has fetched its files and stands at the location's heading.
  bool WaitForLocationHeading(const std::string& location) {
    for (int i = 0; i < 2000; ++i) {
      if (FileExists(LogPath()) && ReadFile(LogPath()).find("Deploying to '" + location) != std::string::npos)
        return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  std::vector<std::string> CheckOutFolders() const {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(tmp_))
      if (e.path().extension() == ".Deploy") found.push_back(e.path().filename().string());
    return found;
  }

  std::string loc_ = work_ / "web";
};

TEST_F(DeployFolderIntegrityTest, EveryFileArrivesUnderItsExactName) {
  repo_.File("Page.html", "upper").File("page.html", "lower").File("index.html", "new index");
  repo_.File("img/a.gif", "GIF89a");
  // What the location already holds under other letter cases stays as it is.
  WriteFile(loc_ + "/Index.html", "old index");
  WriteFile(loc_ + "/Img/keep.txt", "keep");
  Locations(loc_);
  EXPECT_EQ(Deploy(), kSucceeded) << LogText();
  EXPECT_EQ(ListFiles(loc_), (std::vector<std::string>{"Img/keep.txt", "Index.html", "Page.html", "XRDeploy.dat",
                                                       "img/a.gif", "index.html", "page.html"}));
  EXPECT_EQ(ReadFile(loc_ + "/Page.html"), "upper");
  EXPECT_EQ(ReadFile(loc_ + "/page.html"), "lower");
  EXPECT_EQ(ReadFile(loc_ + "/index.html"), "new index");
  EXPECT_EQ(ReadFile(loc_ + "/Index.html"), "old index");
  EXPECT_EQ(ReadFile(loc_ + "/img/a.gif"), "GIF89a");
}

TEST_F(DeployFolderIntegrityTest, LinksInsideTheLocationAreNeverWrittenThrough) {
  TempDir outside;
  WriteFile(outside / "record.txt", "outside record");
  WriteFile(outside / "secret.txt", "secret");
  chmod((outside / "secret.txt").c_str(), 0444);
  MakeDirs(outside / "images");
  repo_.File("index.htm", "home").File("img/a.gif", "GIF89a");
  MakeDirs(loc_);
  ASSERT_EQ(symlink((outside / "record.txt").c_str(), (loc_ + "/XRDeploy.dat").c_str()), 0);
  ASSERT_EQ(symlink((outside / "secret.txt").c_str(), (loc_ + "/index.htm").c_str()), 0);
  ASSERT_EQ(symlink((outside / "images").c_str(), (loc_ + "/img").c_str()), 0);
  Locations(loc_);
  EXPECT_EQ(Deploy(), kFailed);
  EXPECT_EQ(Log().back(), "   img/a.gif - Refused: the folder '" + loc_ + "/img' is a symbolic link");
  // Nothing outside changed, not even a mode.
  EXPECT_EQ(ReadFile(outside / "record.txt"), "outside record");
  EXPECT_EQ(ReadFile(outside / "secret.txt"), "secret");
  struct stat st {};
  ASSERT_EQ(stat((outside / "secret.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
  EXPECT_TRUE(fs::is_empty(outside / "images"));
  // The links to files were replaced by the files themselves; the record names the file sent.
  EXPECT_FALSE(fs::is_symlink(loc_ + "/index.htm"));
  EXPECT_EQ(ReadFile(loc_ + "/index.htm"), "home");
  EXPECT_FALSE(fs::is_symlink(loc_ + "/XRDeploy.dat"));
  EXPECT_EQ(SplitLines(ReadFile(loc_ + "/XRDeploy.dat")).size(), 1u);

  // The location's own path may be a link: that is where the user wants the site.
  fs::remove(loc_ + "/img");
  ASSERT_EQ(symlink(loc_.c_str(), (work_ / "alias").c_str()), 0);
  Locations(work_ / "alias");
  EXPECT_EQ(Deploy(), kSucceeded) << LogText();
  EXPECT_EQ(ReadFile(loc_ + "/img/a.gif"), "GIF89a");
}

TEST_F(DeployFolderIntegrityTest, RecordThatIsNoRegularFileCountsAsUnreadable) {
  repo_.File("index.htm", "home").File("img/a.gif", "GIF89a");
  struct Case {
    const char* name;
    std::function<void(const std::string&)> make;
    std::string logLine;
  };
  const std::vector<Case> cases = {
      {"fifo", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0644), 0); }, "is not a regular file"},
      {"device", [](const std::string& p) { ASSERT_EQ(symlink("/dev/zero", p.c_str()), 0); }, "is not a regular file"},
      {"huge",
       [](const std::string& p) {
         WriteFile(p, "1=1\r\n");
         ASSERT_EQ(truncate(p.c_str(), 65ll << 20), 0);  // sparse: no disk used
       },
       "is larger than 64 MiB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string loc = work_ / c.name;
    MakeDirs(loc);
    c.make(loc + "/XRDeploy.dat");
    Locations(loc);
    EXPECT_EQ(Deploy(20s), kSucceeded) << last_.output;
    if (last_.timedOut) continue;
    const std::string line = "   The deployment record '" + loc + "/XRDeploy.dat' " + c.logLine + "; it was not read";
    EXPECT_NE(LogText().find("\r\n" + line + "\r\n"), std::string::npos) << LogText();
    EXPECT_EQ(ReadFile(loc + "/img/a.gif"), "GIF89a");
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(loc + "/XRDeploy.dat")));
    EXPECT_EQ(SplitLines(ReadFile(loc + "/XRDeploy.dat")).size(), 2u);
  }
}

TEST_F(DeployFolderIntegrityTest, ASecondDeploymentNeverWritesWhileTheFirstHoldsTheLocation) {
  repo_.File("index.htm", "home");
  MakeDirs(loc_);
  Locations(loc_);
  {
    Helper other = HoldLocation(loc_);
    // The wait is bounded (the virtual clock runs through it), then the location fails.
    EXPECT_EQ(Deploy(), kFailed);
    const std::string message = "Another deployment holds the location '" + loc_ + "/'";
    EXPECT_EQ(Log().back(), "   " + message);
    EXPECT_NE(ReadFile(work_ / "transcript.txt").find("text=\"" + message + "\""), std::string::npos);
    EXPECT_TRUE(fs::is_empty(loc_));
    // A holder that is killed leaves nothing locked.
    other.Kill();
  }
  EXPECT_EQ(Deploy(), kSucceeded) << LogText();
  EXPECT_EQ(ReadFile(loc_ + "/index.htm"), "home");
}

TEST_F(DeployFolderIntegrityTest, TerminationSignalsCancelAndCleanUp) {
  repo_.File("index.htm", "home");
  Locations(loc_);
  MakeDirs(loc_);
  for (int sig : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig);
    // The run waits at the location held by another deployment, its files checked out.
    Helper other = HoldLocation(loc_);
    ChildProcess run = StartArdmoor();
    ASSERT_TRUE(WaitForLocationHeading(loc_)) << ReadFile(work_ / "ardmoor.out");
    ASSERT_EQ(CheckOutFolders().size(), 1u);
    kill(run.pid(), sig);
    // Cleaned up as a cancel does, then ended by the signal.
    EXPECT_EQ(run.Wait(30s), 128 + sig) << ReadFile(work_ / "ardmoor.out");
    EXPECT_EQ(Log().back(), "   Cancelled by user");
    EXPECT_EQ(CheckOutFolders(), std::vector<std::string>{});
    EXPECT_TRUE(fs::is_empty(loc_));
  }
}

TEST_F(DeployFolderIntegrityTest, LeftoversOfKilledRunsGoAndThoseOfLiveOnesStay) {
  repo_.File("index.htm", "home").File("about.htm", "about");
  Locations(loc_);
  MakeDirs(loc_);
  WriteFile(loc_ + "/.index.htm.backup", "the user's own");
  {
    // A run killed while its files were checked out.
    Helper other = HoldLocation(loc_);
    ChildProcess run = StartArdmoor();
    ASSERT_TRUE(WaitForLocationHeading(loc_)) << ReadFile(work_ / "ardmoor.out");
    kill(run.pid(), SIGKILL);
    run.Wait(10s);
  }
  ASSERT_EQ(CheckOutFolders().size(), 1u);
  const std::string dead = CheckOutFolders()[0];
  // The check-out folder of a run that is still going.
  Helper live([this] {
    static platform::DirectoryLock lock;
    if (!platform::CreateLockedDirectory(tmp_ + "/TTSBEEF.Deploy", lock)) _exit(3);
  });
  // Copies stuck half-way at the location: one of a killed process, one of a live one.
  const std::string fifo = work_ / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  auto stuckCopy = [&](const std::string& target) {
    return Helper(
        [fifo, target] { platform::CopyFileWithTimes(fifo, target, false, nullptr, platform::Lookup::Exact); });
  };
  int feed = open(fifo.c_str(), O_RDWR);  // keeps the copies reading
  ASSERT_GE(feed, 0);
  ASSERT_EQ(write(feed, "partial", 7), 7);
  { Helper killed = stuckCopy(loc_ + "/index.htm"); }
  Helper running = stuckCopy(loc_ + "/about.htm");
  std::vector<std::string> partials;
  for (const auto& name : platform::DirectoryEntries(loc_))
    if (platform::IsPartialFileName(name)) partials.push_back(name);
  ASSERT_EQ(partials.size(), 2u);

  keepTemp_ = true;  // the live run's folder stays
  EXPECT_EQ(Deploy(), kSucceeded) << LogText();
  close(feed);
  const std::vector<std::string> left = CheckOutFolders();
  EXPECT_EQ(left, std::vector<std::string>{"TTSBEEF.Deploy"}) << dead;
  std::vector<std::string> hidden;
  for (const auto& name : platform::DirectoryEntries(loc_))
    if (name[0] == '.') hidden.push_back(name);
  std::sort(hidden.begin(), hidden.end());
  ASSERT_EQ(hidden.size(), 2u);
  EXPECT_EQ(hidden[0].rfind(".about.htm.partial-", 0), 0u) << hidden[0];
  EXPECT_EQ(hidden[1], ".index.htm.backup");
  EXPECT_EQ(ReadFile(loc_ + "/index.htm"), "home");
}

class DeployFtpExactNames : public DeployTest {};  // the folder fixture's Deploy takes no script

TEST_F(DeployFtpExactNames, LetterCaseTwinsArriveAsTwoFiles) {
  FtpServer* server = StartServer(FtpServerKind::kPyFtpd, kLetterCaseTwins);
  SKELDER_REQUIRE(server, Why());
  const std::string remote = server->root() + "/base";
  MakeDirs(remote);
  repo_.File("Page.html", "upper").File("page.html", "lower");
  Locations((std::string("ftp://") + kLetterCaseTwins + "/base"));
  EXPECT_EQ(Deploy(""), kSucceeded) << LogText();
  EXPECT_EQ(ListFiles(remote), (std::vector<std::string>{"Page.html", "XRDeploy.dat", "page.html"}));
  EXPECT_EQ(ReadFile(remote + "/Page.html"), "upper");
  EXPECT_EQ(ReadFile(remote + "/page.html"), "lower");
}

}  // namespace
}  // namespace skelder::test
