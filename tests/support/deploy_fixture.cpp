#include "deploy_fixture.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <ctime>
#include <filesystem>
#include <sstream>

#include "platform/callconv.h"
#include "platform/dynlib.h"

namespace skelder::test {

namespace fs = std::filesystem;

#ifndef _WIN32
DeployPyFtpdServer::DeployPyFtpdServer(FtpServerOptions options, DeployServerFaults faults)
    : PyFtpdServer(std::move(options)), faults_(std::move(faults)) {}

std::vector<std::string> DeployPyFtpdServer::Prepare(std::string* why) {
  std::vector<std::string> argv = PyFtpdServer::Prepare(why);
  if (argv.size() < 2) return argv;
  argv[1] = SourceDir() + "/tests/support/pyftpd_deploy.py";
  if (!FileExists(argv[1])) {
    *why = "missing " + argv[1];
    return {};
  }
  for (const auto& dir : faults_.readonlyDirs) argv.insert(argv.end(), {"--readonly", dir});
  if (!faults_.stallOn.empty()) argv.insert(argv.end(), {"--stall", faults_.stallOn});
  if (!faults_.dropRetrOn.empty()) argv.insert(argv.end(), {"--drop-retr", faults_.dropRetrOn});
  if (faults_.noActive) argv.push_back("--no-active");
  if (faults_.echoPassword) argv.push_back("--echo-password");
  if (!faults_.slowOn.empty()) {
    std::ostringstream seconds;
    seconds << faults_.slowSeconds;
    argv.insert(argv.end(), {"--slow", faults_.slowOn, "--slow-seconds", seconds.str()});
  }
  return argv;
}

#endif

void DeployTest::SetUp() {
  ASSERT_TRUE(FileExists(AddinPath())) << "build the Skelder target first";
  user_.SetInstallDir(BinDir());
  // A fresh installation folder per test: the log beside the library is this test's own.
  fs::create_directories(install_);
  fs::copy_file(AddinPath(), InstalledAddin());
  fs::create_directories(tmp_);
}

void DeployTest::Site() {
  repo_.File("index.htm", "<html>home</html>", kTime1)
      .File("about/index.htm", "<html>about</html>", kTime1)
      .File("img/logo.gif", std::string("GIF89a\0\x01\x02\xff", 10), kTime1)
      .File("img/sub/deep.css", "a{}", kTime1);
}

std::vector<std::string> DeployTest::SiteFiles() {
  return {"about/index.htm", "img/logo.gif", "img/sub/deep.css", "index.htm"};
}

std::vector<std::string> DeployTest::SiteShown() {
  // Paths in the log take the platform's separator.
  return {NativePath("   /index.htm"), NativePath("   about/index.htm"), NativePath("   img/logo.gif"),
          NativePath("   img/sub/deep.css")};
}

#ifndef _WIN32
FtpServer* DeployTest::StartServer(FtpServerKind kind, const std::string& host, FtpServerOptions options,
                                   const DeployServerFaults* faults, uint16_t port) {
  options.host = host;
  options.port = port;
  if (!CanBind(host, port)) {
    why_ = "cannot bind port " + std::to_string(port) + " on " + host + " (needs root below 1024)";
    return nullptr;
  }
  if (faults)
    server_ = std::make_unique<DeployPyFtpdServer>(options, *faults);
  else
    server_ = MakeFtpServer(kind, options);
  if (!server_->Start(&why_)) {
    server_.reset();
    return nullptr;
  }
  return server_.get();
}

#endif

int DeployTest::Deploy(const std::string& script, const std::string& options,
                       const std::vector<std::pair<std::string, std::string>>& env, const std::string& backend,
                       std::chrono::milliseconds limit) {
  using HandleCommandFn = uint8_t(SKELDER_STDCALL*)(const char*, const char*);
  using ConfigureFn = uint8_t(SKELDER_STDCALL*)(const char*, const char*);
  using OutcomeFn = int32_t(SKELDER_STDCALL*)();
  WriteFile(scriptPath_, script);
  const std::string lib = InstalledAddin();
  const std::string opts =
      backend == "scripted" ? options + ",transcript=" + transcriptPath_ + "," + scriptPath_ : options;
  const std::string folder = std::to_string(repo_.FolderId(""));
  if (FileExists(transcriptPath_)) fs::remove(transcriptPath_);
  ScopedTempFolder tmp(tmp_);
  std::vector<std::unique_ptr<ScopedEnv>> extra;
  for (const auto& [name, value] : env) extra.push_back(std::make_unique<ScopedEnv>(name, value));
  last_ = RunInChild(
      [&]() -> int {
// ASan's and TSan's shadow memory alone are beyond any such limit; a Windows process has no such limit of
// its own (the run shares the test process there).
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__) && !defined(_WIN32)
        struct rlimit mem {
          4ull << 30, 4ull << 30
        };
        setrlimit(RLIMIT_AS, &mem);
#endif
        // The installed copy, so the log lands beside it; freed at the end as a host frees it.
        platform::DynamicLibrary addin(lib);
        if (!addin.Loaded()) return 100;
        auto configure = addin.Function<ConfigureFn>("SkelderConfigureToolkit");
        auto handle = addin.Function<HandleCommandFn>("VcsHandleCommand");
        auto outcome = addin.Function<OutcomeFn>("SkelderLastOutcome");
        if (!configure || !handle || !outcome) return 101;
        if (configure(backend.c_str(), opts.c_str()) != 1) return 102;
        if (handle("Deploy", folder.c_str()) != 1) return 103;
        return 10 + outcome();
      },
      {}, limit);
  EXPECT_FALSE(last_.timedOut) << "the deployment hung: " << last_.output;
  // Every run removes its temporary folder, whatever its outcome.
  if (!keepTemp_) {
    EXPECT_TRUE(fs::is_empty(tmp_)) << "temporary folder left behind";
  }
  return last_.exitCode >= 10 ? last_.exitCode - 10 : -1;
}

void DeployTest::Locations(const std::string& deployTo) {
  repo_.Notes("", "[Web Folder]\r\nDeployTo=" + deployTo + "\r\nEnabled=1\r\n");
}

std::string DeployTest::LogText() const { return FileExists(LogPath()) ? ReadFile(LogPath()) : std::string(); }

std::string DeployTest::Transcript() const {
  return FileExists(transcriptPath_) ? ReadFile(transcriptPath_) : std::string();
}

std::vector<std::string> DeployTest::MessageBoxes() const {
  std::vector<std::string> boxes;
  for (const auto& l : SplitLines(Transcript()))
    if (l.rfind("messagebox ", 0) == 0) boxes.push_back(l);
  return boxes;
}

std::string DeployTest::Entry(const std::string& rel, int64_t time) {
  return std::to_string(repo_.FileId(rel)) + "=" + std::to_string(PackedAge(time));
}

}  // namespace skelder::test
