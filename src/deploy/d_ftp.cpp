#include "deploy/d_ftp.h"

#include "ftp/net_io_handler_tls.h"

#include <exception>

#include "ftp/net_ftp_trace.h"
#include "ftp/net_stream.h"
#include "platform/exception.h"
#include "platform/file_names.h"

#include "deploy/u_utils.h"
#include "platform/display_text.h"
#include "platform/environment.h"
#include "platform/text.h"

namespace skelder::deploy {

namespace {

// Runs a directory command whose refusal is expected and harmless. Anything worse than a
// refusal (a timeout, a lost connection) still ends the operation.
template <typename Body>
void IgnoringRefusal(Body&& body) {
  try {
    body();
  } catch (const ftp::ENetProtocolReplyError&) {
  }
}

// A download target that refuses to grow past a bound: a server that sends without end fails
// the transfer instead of filling the disk.
class BoundedFileStream : public ftp::TNetFileStream {
 public:
  BoundedFileStream(const std::string& fileName, uint64_t maxBytes, std::string remoteName)
      : TNetFileStream(fileName, fmCreate), maxBytes_(maxBytes), remoteName_(std::move(remoteName)) {}
  void Write(const void* buffer, int64_t count) override {
    if (static_cast<uint64_t>(Position() + count) > maxBytes_)
      throw Exception("The file " + remoteName_ + " on the server is larger than " +
                      std::to_string(maxBytes_ / (1024 * 1024)) + " MiB; the transfer was stopped");
    TNetFileStream::Write(buffer, count);
  }

 private:
  uint64_t maxBytes_;
  std::string remoteName_;
};

// The reply of a server that does not have the file asked for.
constexpr int32_t kFileUnavailable = 550;

int32_t TimeoutFromEnvironment() {
  const auto text = platform::EnvironmentVariable(kFtpTimeoutVariable);
  if (!text) return kDefaultFtpTimeoutMs;
  const auto value = platform::ParseInt32(*text);
  return value && *value > 0 ? *value : kDefaultFtpTimeoutMs;
}

// The trace runs for the life of the process once a variable asked for it; a file that cannot
// be opened leaves it off and says why.
std::string StartTraceFromEnvironment() {
  const auto file = platform::EnvironmentVariable(kFtpTraceVariable);
  if (!file || file->empty()) return {};
  std::string problem;
  if (ftp::Trace().Open(*file, problem)) return {};
  return "The FTP trace file '" + platform::EscapeControls(*file) + "' cannot be opened (" + problem +
         "): the deployment goes on without a trace";
}

std::unique_ptr<TdmFtp>& ModuleHolder() {
  // Made at the first FTP location; as a function-local static it is destroyed before the
  // socket layer's process-wide state, which exists from load time.
  static std::unique_ptr<TdmFtp> holder;
  return holder;
}

}  // namespace

// Every client error becomes the message the target logs and shows.
template <typename Body>
bool TdmFtp::Guarded(std::string& message, Body&& body) {
  try {
    body();
    return true;
  } catch (const ftp::ENetProtocolReplyError& e) {
    // The server refused and said so: its reply was read, the session is in step, unless a
    // reply it owes after a broken-off transfer did not come.
    message = e.what();
    if (netFtp.OutOfStep()) FBroken = true;
  } catch (const std::exception& e) {
    message = e.what();
    FBroken = true;
  } catch (...) {
    message = "Unknown FTP error.";
    FBroken = true;
  }
  ftp::Trace().Note(netFtp.TraceSession(), "Error: " + ftp::TraceMessage(message));
  return false;
}

TdmFtp::TdmFtp() { DataModuleCreate(); }

TdmFtp::~TdmFtp() {
  // The event handlers point back into this module.
  netFtp.OnWorkBegin = nullptr;
  netFtp.OnWork = nullptr;
  netFtp.OnWorkEnd = nullptr;
  try {
    netFtp.CloseConnection();
  } catch (...) {
  }
  // The module goes with the add-in; the trace it started must not keep its file open in a host
  // that loads the add-in again.
  ftp::Trace().Close();
}

void TdmFtp::DataModuleCreate() {
  netFtp.MaxLineAction = ftp::maException;
  netFtp.RecvBufferSize = 8192;
  netFtp.SendBufferSize = 4096;
  netFtp.ProxySettings().ProxyType = ftp::fpcmNone;
  netFtp.ProxySettings().Port = 0;
  netFtp.Passive = false;
  // The read limit below must not freeze the dialog: every wait is cut into short pieces.
  NetAntiFreeze1.CutBoundedWaits = true;
  netFtp.OnWorkBegin = [this](net::TNetComponent* sender, net::TWorkMode mode, int64_t max) {
    netFtpWorkBegin(sender, mode, max);
  };
  netFtp.OnWork = [this](net::TNetComponent* sender, net::TWorkMode mode, int64_t count) {
    netFtpWork(sender, mode, count);
  };
  netFtp.OnWorkEnd = [this](net::TNetComponent* sender, net::TWorkMode mode) { netFtpWorkEnd(sender, mode); };
  // A server that refuses active mode gets passive mode, for the rest of its site's sessions.
  netFtp.PassiveOnPortRefused = true;
  netFtp.OnSwitchedToPassive = [this] {
    FPassive = true;
    if (OnNote) OnNote("The server " + FHost + " refused active mode (PORT): passive mode from here on");
  };
  SetTimeout(TimeoutFromEnvironment());
  FTraceProblem = StartTraceFromEnvironment();
}

void TdmFtp::SetTimeout(int32_t ms) {
  timeoutMs_ = ms;
  // A server that stops answering must fail the location, not hang it: replies, data reads and
  // a data connection coming up, either way, all give up after this long.
  netFtp.ReadTimeout = ms;
  netFtp.DataReadTimeout = ms;
  netFtp.AcceptTimeout = ms;
}

bool TdmFtp::OpenSite(const std::string& host, const std::string& user, const std::string& password,
                      const std::string& baseDir, std::string& message, TFtpProgressEvent onProgress, int32_t port) {
  FOnProgress = std::move(onProgress);
  FBaseDir = baseDir;
  FHost = host;
  FPort = port;
  FPassive = FPassiveSetting;
  FUser = user;
  FPassword = password;
  message.clear();
  return ReopenSite(message);
}

bool TdmFtp::ReopenSite(std::string& message) {
  FBroken = false;
  return Guarded(message, [&] {
    netFtp.CloseConnection();
    netFtp.SetHost(FHost);
    netFtp.SetPortNumber(FPort);
    netFtp.Passive = FPassive;
    netFtp.UseTls = FTls;
    netFtp.TrustedCertificates = FTrusted;
    netFtp.Username = FUser.empty() ? kAnonymousUser : FUser;
    netFtp.Password = FPassword.empty() ? kAnonymousPassword : FPassword;
    netFtp.OpenSession(true, -1);
    ChangeDirectoryNamed(FBaseDir, FBaseDir);
  });
}

std::unique_ptr<ftp::TNetIOHandlerSocket> TdmFtp::PrepareSession(ftp::TNetFTP& client) {
  client.MaxLineAction = netFtp.MaxLineAction;
  client.RecvBufferSize = netFtp.RecvBufferSize;
  client.SendBufferSize = netFtp.SendBufferSize;
  client.SetProxySettings(netFtp.ProxySettings());
  client.ReadTimeout = netFtp.ReadTimeout;
  client.DataReadTimeout = netFtp.DataReadTimeout;
  client.AcceptTimeout = netFtp.AcceptTimeout;
  client.PassiveOnPortRefused = netFtp.PassiveOnPortRefused;
  client.Passive = FPassive;
  client.UseTls = FTls;
  client.TrustedCertificates = FTrusted;
  client.SetHost(FHost);
  client.SetPortNumber(FPort);
  client.Username = FUser.empty() ? kAnonymousUser : FUser;
  client.Password = FPassword.empty() ? kAnonymousPassword : FPassword;
  std::unique_ptr<ftp::TNetIOHandlerSocket> handler;
  if (auto* own = dynamic_cast<ftp::TNetIOHandlerSocket*>(netFtp.IOHandler());
      own != nullptr && own->SocksInfo().Version != ftp::svNoSocks) {
    // The same kind of handler as the first session's: one that can turn to TLS for ftps://.
    handler = FTls ? std::make_unique<ftp::TNetIOHandlerTls>() : std::make_unique<ftp::TNetIOHandlerSocket>();
    handler->SocksInfo().Assign(own->SocksInfo());
    client.SetIOHandler(handler.get());
  }
  return handler;
}

bool TdmFtp::GetFile(const std::string& localFile, const std::string& remoteName, std::string& message) {
  return Guarded(message, [&] {
    netFtp.ChangeDirectory(FBaseDir);
    netFtp.SetTransferType(ftp::ftBinary);
    netFtp.Download(remoteName, localFile, true, false);
  });
}

TdmFtp::TFetch TdmFtp::FetchFile(const std::string& localFile, const std::string& remoteName, uint64_t maxBytes,
                                 std::string& message) {
  bool missing = false;
  const bool fetched = Guarded(message, [&] {
    netFtp.ChangeDirectory(FBaseDir);
    netFtp.SetTransferType(ftp::ftBinary);
    try {
      BoundedFileStream file(localFile, maxBytes, remoteName);
      netFtp.Download(remoteName, file, false);
    } catch (const ftp::ENetProtocolReplyError& e) {
      missing = e.ReplyErrorCode == kFileUnavailable;
      throw;
    }
  });
  return fetched ? TFetch::Fetched : missing ? TFetch::Missing : TFetch::Failed;
}

bool TdmFtp::PutFile(const std::string& localFile, const std::string& relativeDir, std::string& message) {
  std::string dir = relativeDir;
  for (char& c : dir)
    if (c == '\\') c = '/';
  return Guarded(message, [&] {
    netFtp.ChangeDirectory(FBaseDir);
    if (!dir.empty()) {
      // Changing first keeps the usual case (the folder exists) at one command.
      try {
        netFtp.ChangeDirectory(dir);
      } catch (const ftp::ENetProtocolReplyError&) {
        MakeDirs(dir);
        netFtp.ChangeDirectory(FBaseDir);
        ChangeDirectoryNamed(dir, FBaseDir + "/" + dir);
      }
    }
    netFtp.SetTransferType(ftp::ftBinary);
    netFtp.Upload(localFile, platform::ExtractFileName(localFile), false);
  });
}

// A refusal says which folder on which server: the server's own text ("No such file or
// directory.") does not.
void TdmFtp::ChangeDirectoryNamed(const std::string& dir, const std::string& shownDir) {
  try {
    netFtp.ChangeDirectory(dir);
  } catch (const ftp::ENetProtocolReplyError& e) {
    throw ftp::ENetProtocolReplyError(e.ReplyErrorCode,
                                      "Cannot open the folder '" + shownDir + "' on " + FHost + ": " + e.what());
  }
}

// A level that exists already refuses MKD; such refusals are left to the change into the full
// path that follows.
void TdmFtp::MakeDirs(const std::string& path) {
  std::string rest = path;
  size_t sep;
  while ((sep = rest.find('/')) != std::string::npos) {
    const std::string part = rest.substr(0, sep);
    rest.erase(0, sep + 1);
    if (part.empty()) continue;
    IgnoringRefusal([&] { netFtp.MakeDirectory(part); });
    IgnoringRefusal([&] { netFtp.ChangeDirectory(part); });
  }
  if (!rest.empty()) IgnoringRefusal([&] { netFtp.MakeDirectory(rest); });
}

void TdmFtp::CloseSite() {
  try {
    netFtp.CloseConnection();
  } catch (...) {
    // Closing never fails a location.
  }
}

void TdmFtp::netFtpWorkBegin(net::TNetComponent*, net::TWorkMode, int64_t AWorkCountMax) {
  if (FOnProgress) FOnProgress(0, AWorkCountMax);
}

void TdmFtp::netFtpWork(net::TNetComponent*, net::TWorkMode, int64_t AWorkCount) {
  if (FOnProgress) FOnProgress(1, AWorkCount);
}

void TdmFtp::netFtpWorkEnd(net::TNetComponent*, net::TWorkMode) {
  if (FOnProgress) FOnProgress(2, 0);
}

TdmFtp& dmFtp() {
  auto& holder = ModuleHolder();
  if (!holder) holder = std::make_unique<TdmFtp>();
  return *holder;
}

bool FtpModuleExists() { return static_cast<bool>(ModuleHolder()); }

void FreeFtpModule() { ModuleHolder().reset(); }

}  // namespace skelder::deploy
