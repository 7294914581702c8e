#include "ftp_servers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
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

FtpServer::FtpServer(const char* name, FtpServerOptions options) : name_(name), options_(std::move(options)) {}

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
  commandLog_ = *work_ / "commands.log";
  if (options_.port != 0) {
    if (!CanBind(options_.host, options_.port)) {
      *why = std::string(name_) + ": cannot bind " + options_.host + ":" + std::to_string(options_.port);
      return false;
    }
    return Launch(why);
  }
  // Any port: a server that binds port 0 says which it got; another is given one that was free a
  // moment ago and tries again when someone else takes it first.
  if (ReportsItsPort()) {
    portFile_ = *work_ / "port";
    return Launch(why);
  }
  return StartOnAFreePort(options_.host, [&](uint16_t port) {
    options_.port = port;
    return Launch(why);
  });
}

bool FtpServer::Launch(std::string* why) {
  std::vector<std::string> argv = Prepare(why);
  if (argv.empty()) return false;
  const std::string output = *work_ / "server.out";
  process_ = ChildProcess(argv, output);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (!portFile_.empty() && options_.port == 0 && process_.Running() &&
         std::chrono::steady_clock::now() < deadline) {
    if (FileExists(portFile_)) options_.port = static_cast<uint16_t>(std::atoi(ReadFile(portFile_).c_str()));
    if (options_.port == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (options_.port == 0 || !WaitForListener(options_.host, options_.port, std::chrono::seconds(15)) ||
      !process_.Running()) {
    *why = std::string(name_) + " did not start on " + options_.host + ":" + std::to_string(options_.port) + ": " +
           LastLines(ReadIfExists(output), 5);
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
  if (access(kPython, X_OK) != 0 || RunCommand(std::string(kPython) + " -c 'import pyftpdlib' 2>/dev/null") != 0) {
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
  std::vector<std::string> argv = {
      kPython,  script,        "--host", options_.host, "--port", std::to_string(options_.port),
      "--root", options_.root, "--log",  commandLog_};
  if (!portFile_.empty()) argv.insert(argv.end(), {"--port-file", portFile_});
  if (!options_.user.empty()) {
    argv.insert(argv.end(), {"--user", options_.user, "--password", options_.password});
  }
  if (options_.anonymous) argv.push_back("--anonymous");
  if (!options_.tlsCert.empty())
    argv.insert(argv.end(), {"--tls-cert", options_.tlsCert, "--tls-key", options_.tlsKey});
  return argv;
}

std::vector<std::string> PyFtpdServer::ParseLog(const std::string& text) const { return SplitLines(text); }

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
  const std::string tmpl = SourceDir() + "/tests/support/vsftpd.conf.in";
  if (!FileExists(tmpl)) {
    *why = "missing " + tmpl;
    return {};
  }
  const std::string emptyDir = *work_ / "empty";
  MakeDirs(emptyDir);
  chmod(emptyDir.c_str(), 0755);
  const std::string config = *work_ / "vsftpd.conf";
  std::string text = ReadFile(tmpl);
  const std::pair<const char*, std::string> fields[] = {
      {"@HOST@", options_.host}, {"@PORT@", std::to_string(options_.port)},
      {"@ROOT@", options_.root}, {"@EMPTY_DIR@", emptyDir},
      {"@LOG@", commandLog_},    {"@ANONYMOUS@", options_.anonymous ? "YES" : "NO"}};
  for (const auto& [name, value] : fields)
    for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + value.size()))
      text.replace(at, std::strlen(name), value);
  if (!options_.tlsCert.empty()) {
    text +=
        "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\nforce_anon_data_ssl=YES\n"
        "require_ssl_reuse=YES\nssl_ciphers=HIGH\nrsa_cert_file=" +
        options_.tlsCert + "\nrsa_private_key_file=" + options_.tlsKey + "\n";
  }
  for (const std::string& line : options_.extraConfig) text += line + "\n";
  WriteFile(config, text);
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

const char* FtpServerKindName(FtpServerKind kind) { return kind == FtpServerKind::kVsftpd ? "vsftpd" : "pyftpdlib"; }

}  // namespace skelder::test
