#include "socks_servers.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace skelder::test {

namespace {
constexpr std::chrono::milliseconds kStartLimit{5000};
}

std::string FindProgram(const std::string& name) {
  // Servers live in sbin, which a plain user's PATH (and some CI shells) leave out.
  std::vector<std::string> dirs;
  if (const char* path = std::getenv("PATH")) {
    std::stringstream ss(path);
    std::string d;
    while (std::getline(ss, d, ':'))
      if (!d.empty()) dirs.push_back(d);
  }
  for (const char* d : {"/usr/sbin", "/usr/bin", "/sbin", "/bin", "/usr/local/sbin", "/usr/local/bin"})
    dirs.push_back(d);
  std::error_code ec;
  for (const auto& d : dirs) {
    std::filesystem::path p = std::filesystem::path(d) / name;
    if (std::filesystem::is_regular_file(p, ec)) return p.string();
  }
  return {};
}

std::string SocksServer::Log() const {
  try {
    return ReadFile(logFile_);
  } catch (...) {
    return {};
  }
}

void SocksServer::Launch(const std::function<std::vector<std::string>()>& argv) {
  // Neither server can say which port it got: each is given one that was free a moment ago, and
  // another when someone else takes it first.
  started_ = StartOnAFreePort(host_, [&](uint16_t port) {
    port_ = port;
    const std::vector<std::string> args = argv();
    process_ = ChildProcess(args, logFile_);
    if (WaitForListener(host_, port_, kStartLimit) && process_.Running()) return true;
    error_ = args[0] + " did not listen on " + host_ + ":" + std::to_string(port_) + ": " + Log();
    process_.Stop();
    return false;
  });
}

DanteServer::DanteServer() {
  std::string prog = FindProgram("danted");
  if (prog.empty()) {
    error_ = "danted is not installed (package dante-server)";
    return;
  }
  logFile_ = *dir_ / "danted.out";
  const std::string conf = *dir_ / "danted.conf";
  // -N 1: one negotiation process is plenty for a test and keeps the machine quiet.
  Launch([this, conf, prog] {
    WriteConfig(conf);
    return std::vector<std::string>{prog, "-f", conf, "-N", "1"};
  });
}

void DanteServer::WriteConfig(const std::string& conf) const {
  std::ostringstream c;
  c << "logoutput: stderr\n"
    << "internal: " << host_ << " port = " << port_ << "\n"
    << "external: " << host_ << "\n"
    << "socksmethod: none\n"
    << "clientmethod: none\n"
    << "user.privileged: root\n"
    << "user.unprivileged: nobody\n"
    << "client pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
    << "socks pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n  command: connect\n  protocol: tcp\n}\n";
  WriteFile(conf, c.str());
}

MicrosocksServer::MicrosocksServer(const std::string& user, const std::string& password) {
  std::string prog = FindProgram("microsocks");
  if (prog.empty()) {
    error_ = "microsocks is not installed (package microsocks)";
    return;
  }
  logFile_ = *dir_ / "microsocks.out";
  Launch([&] {
    return std::vector<std::string>{prog, "-i", host_, "-p", std::to_string(port_), "-u", user, "-P", password};
  });
}

}  // namespace skelder::test
