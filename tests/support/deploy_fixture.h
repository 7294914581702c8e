#pragma once
// End-to-end deployment, to directories and FTP servers: a repository served by the stand-in host,
// the add-in loaded afresh through its exports for each run (RunInChild), the scripted toolkit
// chosen through the extension export, and real FTP servers on port 21 of a loopback address of
// the test's own (the add-in always connects to the default port).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "addin_process.h"
#include "deploy_log.h"
#ifndef _WIN32
#include "ftp_servers.h"
#endif
#include "hostsim_fixture.h"
#include "test_support.h"

namespace skelder::test {

// The tests start their FTP servers themselves on POSIX only: a Windows program under wine can
// start a Linux one but neither wait for it nor stop it (there they are ctest fixtures).
#ifndef _WIN32
// pyftpdlib with the deployment tests' faults (tests/support/pyftpd_deploy.py).
struct DeployServerFaults {
  std::vector<std::string> readonlyDirs;  // uploads below these (root-relative) are refused
  std::string stallOn;                    // upload of this file name stalls for good
  std::string slowOn;                     // upload of this file name gets its final reply late
  double slowSeconds = 3.0;
  std::string dropRetrOn;     // a download of this file name loses the connection
  bool noActive = false;      // PORT is refused (500)
  bool echoPassword = false;  // a refused log-in quotes the password
};

class DeployPyFtpdServer : public PyFtpdServer {
 public:
  DeployPyFtpdServer(FtpServerOptions options, DeployServerFaults faults);

 protected:
  std::vector<std::string> Prepare(std::string* why) override;

 private:
  DeployServerFaults faults_;
};
#endif

inline constexpr int kNotRun = 0, kSucceeded = 1, kFailed = 2, kCancelled = 3;

// Times of the site's files.
inline constexpr int64_t kTime1 = 1700000000;  // 2023-11-14
inline constexpr int64_t kTime2 = 1700003600;

class DeployTest : public ::testing::Test {
 protected:
  void SetUp() override;

  // A small site of nested folders with kTime1: its files sorted, and their log lines in the
  // host's order (the folder's own files, then each subfolder in pre-order).
  void Site();
  static std::vector<std::string> SiteFiles();
  static std::vector<std::string> SiteShown();

#ifndef _WIN32
  // A server on port 21 (or `port`) of `host` (a loopback address no other test uses). Null when
  // it could not be had: the caller must then skip (or fail in CI) through SKELDER_REQUIRE with
  // Why().
  FtpServer* StartServer(FtpServerKind kind, const std::string& host, FtpServerOptions options = {},
                         const DeployServerFaults* faults = nullptr, uint16_t port = 21);
  const std::string& Why() const { return why_; }
#endif

  // One Deploy command in a fresh host process, with the given scripted-toolkit script, toolkit
  // options and extra environment variables. With another backend ("plain", "terminal") the
  // script is not used and what the backend prints is in last_.output. The outcome the export
  // reports, or -1. The run must end within `limit` and, unless keepTemp_ is set, leave its
  // temporary folder empty; it cannot take more than 4 GiB of address space (a record read without
  // a bound fails instead of taking the machine's memory).
  int Deploy(const std::string& script, const std::string& options = "yes,virtual-clock",
             const std::vector<std::pair<std::string, std::string>>& env = {}, const std::string& backend = "scripted",
             std::chrono::milliseconds limit = std::chrono::seconds(120));

  void Locations(const std::string& deployTo);
  std::string LogPath() const { return install_ + "/Skelder.log"; }
  // The add-in's copy in the installation folder, which the runs load.
  std::string InstalledAddin() const { return NativePath(install_ + "/" + AddinFileName()); }
  std::string LogText() const;
  std::string Record(const std::string& location) const { return ReadFile(location + "/XRDeploy.dat"); }
  std::vector<std::string> Log() const { return SplitLines(LogText()); }
  std::string Transcript() const;
  std::vector<std::string> MessageBoxes() const;
  std::string Entry(const std::string& rel, int64_t time);

  HostSimUser user_;
  HostSimRepository repo_;
  TempDir work_;
  std::string install_ = work_ / "install";
  std::string tmp_ = work_ / "tmp";
  std::string scriptPath_ = work_ / "script.txt";
  std::string transcriptPath_ = work_ / "transcript.txt";
  ChildResult last_;
  bool keepTemp_ = false;  // runs that are meant to leave the temporary folder behind
#ifndef _WIN32
  std::unique_ptr<FtpServer> server_;
  std::string why_;
#endif
};

}  // namespace skelder::test
