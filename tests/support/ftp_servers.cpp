#include "ftp_servers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace skelder::test {
namespace {

constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kVsftpd = "/usr/sbin/vsftpd";

std::string ReadIfExists(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string LastLines(const std::string& text, size_t count) {
  size_t pos = text.size();
  for (size_t n = 0; n <= count && pos > 0; ++n) {
    size_t p = text.rfind('\n', pos - 1);
    if (p == std::string::npos) return text;
    pos = p;
  }
  return text.substr(pos);
}

}  // namespace

FtpServer::FtpServer(const char* name, FtpServerOptions options)
    : name_(name), options_(std::move(options)) {}

FtpServer::~FtpServer() { Stop(); }

void FtpServer::Stop() { process_.Stop(); }

bool FtpServer::Start(std::string* why) {
  std::string reason;
  if (!why) why = &reason;
  work_ = std::make_unique<TempDir>(std::string("skelder-") + name_ + "-");
  if (options_.root.empty()) {
    ownRoot_ = std::make_unique<TempDir>(std::string("skelder-") + name_ + "-root-");
    options_.root = ownRoot_->path();
  }
  if (options_.port == 0) options_.port = FreeTcpPort(options_.host);
  if (!CanBind(options_.host, options_.port)) {
    *why = std::string(name_) + ": cannot bind " + options_.host + ":" +
           std::to_string(options_.port);
    return false;
  }
  commandLog_ = *work_ / "commands.log";
  std::vector<std::string> argv = Prepare(why);
  if (argv.empty()) return false;
  const std::string output = *work_ / "server.out";
  process_ = ChildProcess(argv, output);
  if (!WaitForListener(options_.host, options_.port, std::chrono::seconds(15)) ||
      !process_.Running()) {
    *why = std::string(name_) + " did not start on " + options_.host + ":" +
           std::to_string(options_.port) + ": " + LastLines(ReadIfExists(output), 5);
    process_.Stop();
    return false;
  }
  return true;
}

std::vector<std::string> FtpServer::Commands() const {
  if (commandLog_.empty()) return {};
  return ParseLog(ReadIfExists(commandLog_));
}

std::vector<std::string> FtpServer::CommandsSince(size_t mark) const {
  std::vector<std::string> all = Commands();
  if (mark >= all.size()) return {};
  return std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(mark), all.end());
}

// --- pyftpdlib ---------------------------------------------------------------------------

PyFtpdServer::PyFtpdServer(FtpServerOptions options) : FtpServer("pyftpdlib", std::move(options)) {}

std::vector<std::string> PyFtpdServer::Prepare(std::string* why) {
  if (access(kPython, X_OK) != 0 ||
      RunCommand(std::string(kPython) + " -c 'import pyftpdlib' 2>/dev/null") != 0) {
    *why = "pyftpdlib is not installed for /usr/bin/python3 (package python3-pyftpdlib)";
    return {};
  }
  // Beside this file; the source folder from the environment only as a second choice.
  std::string script = std::string(__FILE__).substr(0, std::string(__FILE__).rfind('/') + 1) + "pyftpd_server.py";
  if (!FileExists(script)) script = SourceDir() + "/tests/support/pyftpd_server.py";
  if (!FileExists(script)) {
    *why = "missing " + script;
    return {};
  }
  std::vector<std::string> argv = {kPython, script, "--host", options_.host, "--port",
                                   std::to_string(options_.port), "--root", options_.root,
                                   "--log", commandLog_};
  if (!options_.user.empty()) {
    argv.insert(argv.end(), {"--user", options_.user, "--password", options_.password});
  }
  if (options_.anonymous) argv.push_back("--anonymous");
  return argv;
}

std::vector<std::string> PyFtpdServer::ParseLog(const std::string& text) const {
  return SplitLines(text);
}

// --- vsftpd ------------------------------------------------------------------------------

VsftpdServer::VsftpdServer(FtpServerOptions options) : FtpServer("vsftpd", std::move(options)) {}

std::vector<std::string> VsftpdServer::Prepare(std::string* why) {
  if (access(kVsftpd, X_OK) != 0) {
    *why = "vsftpd is not installed (package vsftpd)";
    return {};
  }
  if (!options_.user.empty()) {
    *why = "the vsftpd fixture serves anonymous log-ins only";
    return {};
  }
  // vsftpd refuses an anonymous root that its anonymous account could write to; running every
  // session as the launching user lets the tests serve a writable temporary directory. The
  // chroot it needs while idle must exist.
  const std::string emptyDir = *work_ / "empty";
  MakeDirs(emptyDir);
  chmod(emptyDir.c_str(), 0755);
  const std::string config = *work_ / "vsftpd.conf";
  std::ostringstream c;
  c << "listen=YES\n"
    << "listen_ipv6=NO\n"
    << "listen_address=" << options_.host << "\n"
    << "listen_port=" << options_.port << "\n"
    << "background=NO\n"
    << "seccomp_sandbox=NO\n"
    << "secure_chroot_dir=" << emptyDir << "\n"
    << "anonymous_enable=" << (options_.anonymous ? "YES" : "NO") << "\n"
    << "local_enable=NO\n"
    << "anon_root=" << options_.root << "\n"
    << "write_enable=YES\n"
    << "anon_upload_enable=YES\n"
    << "anon_mkdir_write_enable=YES\n"
    << "anon_other_write_enable=YES\n"
    << "anon_world_readable_only=NO\n"
    << "anon_umask=022\n"
    << "allow_writeable_chroot=YES\n"
    << "pasv_enable=YES\n"
    << "port_enable=YES\n"
    << "connect_from_port_20=NO\n"
    << "dirmessage_enable=NO\n"
    << "use_localtime=NO\n"
    << "max_clients=0\n"
    << "max_per_ip=0\n"
    << "idle_session_timeout=600\n"
    << "data_connection_timeout=600\n"
    << "xferlog_enable=YES\n"
    << "xferlog_std_format=NO\n"
    << "log_ftp_protocol=YES\n"
    << "vsftpd_log_file=" << commandLog_ << "\n"
    << "run_as_launching_user=YES\n"
    << "ftpd_banner=skelder test server ready\n";
  WriteFile(config, c.str());
  return {kVsftpd, config};
}

// Protocol log lines look like
//   Tue Dec  8 01:05:28 2026 [pid 12] [ftp] FTP command: Client "127.0.0.1", "STOR a.txt"
// and the command is the last quoted field (quotes inside it are not escaped).
std::vector<std::string> VsftpdServer::ParseLog(const std::string& text) const {
  static const std::regex command(R"(FTP command: Client "[^"]*", "(.*)\"\s*$)");
  std::vector<std::string> out;
  for (const std::string& line : SplitLines(text)) {
    std::smatch m;
    if (std::regex_search(line, m, command)) out.push_back(m[1].str());
  }
  return out;
}

// --- both --------------------------------------------------------------------------------

std::unique_ptr<FtpServer> MakeFtpServer(FtpServerKind kind, FtpServerOptions options) {
  if (kind == FtpServerKind::kVsftpd) return std::make_unique<VsftpdServer>(std::move(options));
  return std::make_unique<PyFtpdServer>(std::move(options));
}

const char* FtpServerKindName(FtpServerKind kind) {
  return kind == FtpServerKind::kVsftpd ? "vsftpd" : "pyftpdlib";
}

}  // namespace skelder::test
