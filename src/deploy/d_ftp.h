#pragma once
// The FTP module: a thin layer over the FTP client for the FTP deployment target. Every
// operation catches the client's errors and answers with a truth value and the error's message,
// so the target decides what a failure means. One instance, dmFtp, is made by the first FTP
// location deployed and kept until the add-in unloads.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "deploy/web_folder_settings.h"
#include "ftp/net_ftp.h"
#include "ftp/net_io_handler_socket.h"
#include "net/net_anti_freeze.h"

namespace skelder::deploy {

// Transfer progress: code 0 = begin (value: total bytes), 1 = bytes so far, 2 = end.
using TFtpProgressEvent = std::function<void(int code, int64_t value)>;

// Anonymous log-in when the location names no password.
inline constexpr const char* kAnonymousUser = "anonymous";
inline constexpr const char* kAnonymousPassword = "skelder@localhost";

// How long a silent server may keep a transfer or a reply waiting before the location fails.
inline constexpr int32_t kDefaultFtpTimeoutMs = 60000;
// Read once when dmFtp is made: a positive number of milliseconds replaces the default.
inline constexpr const char* kFtpTimeoutVariable = "SKELDER_FTP_TIMEOUT_MS";
// Read once when dmFtp is made as well: a file name turns the FTP trace on (appended to).
inline constexpr const char* kFtpTraceVariable = "SKELDER_FTP_TRACE";

class TdmFtp {
 public:
  TdmFtp();
  ~TdmFtp();
  TdmFtp(const TdmFtp&) = delete;
  TdmFtp& operator=(const TdmFtp&) = delete;

  ftp::TNetFTP netFtp;
  net::TNetAntiFreeze NetAntiFreeze1;

  // Read limit of the control and data connections and the accept limit of active transfers.
  int32_t Timeout() const { return timeoutMs_; }
  void SetTimeout(int32_t ms);

  // Passive mode for the sites opened from now on (active when false). In active mode a server
  // that refuses PORT switches the site to passive, and OnNote says so.
  void SetPassive(bool passive) { FPassiveSetting = passive; }
  // Explicit TLS for the sites opened from now on, and the certificates trusted by fingerprint.
  void SetTls(bool tls, std::vector<net::TSha256> trusted) {
    FTls = tls;
    FTrusted = std::move(trusted);
  }
  std::function<void(const std::string& note)> OnNote;

  bool OpenSite(const std::string& host, const std::string& user, const std::string& password,
                const std::string& baseDir, std::string& message, TFtpProgressEvent onProgress,
                int32_t port = kFtpDefaultPort);
  bool GetFile(const std::string& localFile, const std::string& remoteName, std::string& message);
  // GetFile that tells a file the server says it does not have (a 550 reply to the retrieve)
  // from a fetch that failed: only the first means there is nothing to read. A file larger
  // than maxBytes stops the transfer and fails the fetch.
  enum class TFetch { Fetched, Missing, Failed };
  TFetch FetchFile(const std::string& localFile, const std::string& remoteName, uint64_t maxBytes,
                   std::string& message);
  bool PutFile(const std::string& localFile, const std::string& relativeDir, std::string& message);
  // Makes every level of a "/"-separated path below the current directory, entering each
  // level made; refusals are ignored (the change into the path that follows decides), a lost
  // or silent connection raises.
  void MakeDirs(const std::string& path);
  void CloseSite();

  // False after a failure that leaves the control connection out of step with the server (a
  // timeout, a lost connection, a transfer broken off): a reply may still be on its way, so the
  // next command would read the wrong one. A refusal by the server leaves the session usable.
  bool SessionUsable() const { return !FBroken; }
  // Closes the connection and logs in again to the site of the last OpenSite.
  bool ReopenSite(std::string& message);
  // Sets `client` up as another session of the site of the last OpenSite, the way the module
  // sets up its own: the same host, port, log-in, mode, proxy, SOCKS settings and limits. The
  // caller opens it (OpenSession, then the base directory), on any thread. Through a SOCKS
  // proxy the client needs a socket handler of its own: it is returned, for the caller to keep
  // as long as the client (null without a proxy).
  std::unique_ptr<ftp::TNetIOHandlerSocket> PrepareSession(ftp::TNetFTP& client);

  const std::string& BaseDir() const { return FBaseDir; }
  // Why the trace asked for could not be started, for the log; empty when it runs or was not
  // asked for.
  const std::string& TraceProblem() const { return FTraceProblem; }

 private:
  void DataModuleCreate();
  void netFtpWorkBegin(net::TNetComponent* Sender, net::TWorkMode AWorkMode, int64_t AWorkCountMax);
  void netFtpWork(net::TNetComponent* Sender, net::TWorkMode AWorkMode, int64_t AWorkCount);
  void netFtpWorkEnd(net::TNetComponent* Sender, net::TWorkMode AWorkMode);

  // Changes into `dir`; a refusal names the folder (as `shownDir`) and the host.
  void ChangeDirectoryNamed(const std::string& dir, const std::string& shownDir);

  // Runs one client operation: true on success, else false with the error's message.
  template <typename Body>
  bool Guarded(std::string& message, Body&& body);

  TFtpProgressEvent FOnProgress;
  std::string FBaseDir;
  // The site of the last OpenSite, for ReopenSite; kept in memory only.
  std::string FHost, FUser, FPassword;
  int32_t FPort = kFtpDefaultPort;
  bool FPassiveSetting = false;
  bool FTls = false;
  std::vector<net::TSha256> FTrusted;
  bool FPassive = false;  // the site's mode: the setting, or passive once active was refused
  bool FBroken = false;
  int32_t timeoutMs_ = kDefaultFtpTimeoutMs;
  std::string FTraceProblem;
};

// The module instance: made on first use, kept until FreeFtpModule (the add-in's unload).
TdmFtp& dmFtp();
bool FtpModuleExists();
void FreeFtpModule();

}  // namespace skelder::deploy
