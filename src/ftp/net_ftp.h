#pragma once
// The FTP client session: greeting and log-in (directly or through an FTP proxy), transfer
// type, directories, and downloads and uploads over a data connection made per transfer
// (active mode by default, passive on request). Ending a session closes the TCP connection;
// no QUIT is sent.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ftp/net_ftp_list.h"
#include "ftp/net_rfc_reply.h"
#include "ftp/net_simple_server.h"
#include "ftp/net_stream.h"
#include "ftp/net_tcp_client.h"
#include "net/tls.h"

namespace skelder::ftp {

enum TNetFtpProxyType : uint8_t {
  fpcmNone = 0,
  fpcmUserSite = 1,
  fpcmSite = 2,
  fpcmOpen = 3,
  fpcmUserPass = 4,
  fpcmTransparent = 5,
  fpcmHttpProxyWithFtp = 6,
};

class TNetFtpProxySettings {
 public:
  std::string Host;
  std::string UserName;
  std::string Password;
  TNetFtpProxyType ProxyType = fpcmNone;
  int32_t Port = 0;

  void Assign(const TNetFtpProxySettings& source) { *this = source; }
};

enum TNetFTPTransferType : uint8_t { ftASCII = 0, ftBinary = 1 };

SKELDER_NET_ERROR(ENetFTPFileAlreadyExists, net::ENetException, "Destination file already exists.");
// A server certificate that neither verifies nor is trusted by its fingerprint.
SKELDER_NET_ERROR(ETlsCertificateRefused, net::ETlsError, "The server's certificate is not trusted.");
// A directory listing longer than MaxListingBytes.
SKELDER_NET_ERROR(ENetListingTooLong, net::ENetException, "Directory listing too long.");

class TNetFTP;
using TNetCreateFTPList = std::function<void(TNetFTP* ASender, std::unique_ptr<TNetFTPListItems>& VFTPList)>;
using TNetCheckListFormat =
    std::function<void(TNetFTP* ASender, const std::string& ALine, TNetFTPListFormat& VListFormat)>;
using TNetFtpAfterGet = std::function<void(TNetFTP* ASender, TNetStream& VStream)>;

class TNetFTP : public TNetTCPClient {
 public:
  explicit TNetFTP(net::TNetBaseComponent* owner = nullptr);
  ~TNetFTP() override;

  bool Passive = false;
  // Active mode refused by the server (a 5xx reply to PORT): switch the session to passive and
  // go on, telling OnSwitchedToPassive once; false fails the transfer with the server's reply.
  bool PassiveOnPortRefused = false;
  std::function<void()> OnSwitchedToPassive;
  // How long a data connection may take to come up, in ms: the server connecting back in active
  // mode, our connect in passive mode (0: no limit of its own).
  int32_t AcceptTimeout = 60000;
  // Read timeout of the data connections in ms; 0 waits without limit.
  int32_t DataReadTimeout = 0;
  // How long a transfer broken off by the server (426, 450) waits for the reply servers send
  // after it (226, 225), in ms; never longer than ReadTimeout when that is set.
  int32_t LateReplyWait = 2000;
  // Most bytes a directory listing may hold (0: no limit): far above a directory of a hundred
  // thousand entries, it stops a listing that never ends.
  int64_t MaxListingBytes = 8 * 1024 * 1024;

  // Explicit TLS: after the greeting "AUTH TLS" (234 or the session fails: nothing goes in
  // clear text), the handshake, "PBSZ 0", "PROT P", then the log-in. Every data connection is
  // TLS as well and resumes the control connection's session. A certificate is accepted when it
  // verifies or when its SHA-256 fingerprint is among TrustedCertificates.
  bool UseTls = false;
  std::vector<net::TSha256> TrustedCertificates;
  // Each accepted handshake: "control connection" or "data connection", and what it gave.
  std::function<void(const std::string& place, const net::TTlsPeer& peer)> OnTlsHandshake;

  TNetCheckListFormat OnCheckListFormat;
  TNetCreateFTPList OnCreateFTPList;
  TNetFtpAfterGet OnAfterGet;
  net::TNetNotifyEvent OnAfterClientLogin;

  TNetFtpProxySettings& ProxySettings() { return proxySettings_; }
  void SetProxySettings(const TNetFtpProxySettings& settings) { proxySettings_.Assign(settings); }

  TNetFTPTransferType TransferType() const { return transferType_; }
  // Sends the type command when connected and the type changes; nothing during a transfer.
  void SetTransferType(TNetFTPTransferType type);

  // The first text line of the SYST reply, or "Unknown".
  const std::string& SystemDesc() const { return systemDesc_; }
  const TNetRFCReply& LoginMsg() const { return loginReply_; }
  bool ResumeSupported() const { return resumeAnswer_; }

  // timeoutMs -1: the default wait of OpenConnection.
  void OpenSession(bool autoLogin = true, int32_t timeoutMs = -1);
  void LogIn();
  void ChangeDirectory(const std::string& name);
  void MakeDirectory(const std::string& name);
  int32_t SendRaw(const std::string& line);
  bool ProbeResume();

  void Download(const std::string& remoteName, const std::string& localFileName, bool canOverwrite, bool resume);
  void Download(const std::string& remoteName, TNetStream& stream, bool resume);
  void Upload(const std::string& localFileName, const std::string& remoteName, bool append);
  // An empty remote name stores under a name the server chooses ("STOU ").
  void Upload(TNetStream& stream, const std::string& remoteName, bool append);

  // Lists a directory ("LIST", or "NLST" without details) into ListResult; the directory
  // listing is parsed afresh on its next access.
  void List(const std::string& specifier = std::string(), bool details = true);

  virtual void NotifyAfterGet(TNetStream& stream);
  // Writes "ABOR" (no reply read here) and drops the data connection's socket.
  virtual void AbortTransfer();
  virtual void CloseDataChannel();

  // The number this session's lines carry in the FTP trace (Trace() in ftp/net_ftp_trace.h), new
  // with every OpenSession; 0 before the first. Layers over the session (TLS) add their own lines
  // with Trace().Note(TraceSession(), ...).
  int32_t TraceSession() const { return traceSession_; }

  // Commands and reply lines go to the trace as they pass; so do disconnects.
  void WriteLine(const std::string& text) override;
  void ReplyLineRead(std::string& line) override;
  void CloseConnection() override;
  void NotifyDisconnected() override;

  // The data connection of the transfer in progress, or null.
  TNetTCPConnection* DataChannel() const { return dataChannel_; }
  // True after a failure that may have left a reply of the server unread, so that the next
  // command could read the reply to the one before it; the session must be opened anew.
  bool OutOfStep() const { return outOfStep_; }

  // Raw listing lines, as the last List gave them.
  std::vector<std::string> ListResult;
  // Built from ListResult on first access (and after each List).
  TNetFTPListItems& DirectoryListing();
  TNetOnParseCustomListFormat& OnParseCustomListFormat();
  void SetOnParseCustomListFormat(TNetOnParseCustomListFormat handler);

  // The data-connection steps of one transfer, usable on their own.
  TNetPassiveAddress RequestPassive();
  void SendPort(const net::TNetSocketHandle& binding);
  void RunIncoming(const std::string& command, TNetStream& stream, bool resume);
  void RunOutgoing(const std::string& command, TNetStream& stream, bool fromBeginning);

 private:
  class DataChannelScope;
  void SendTransferType();
  void LogInPair(const std::string& user, const std::string& password);
  void SetUpDataChannel(TNetTCPConnection& channel);
  // Passive mode: the data client, published as the data channel, not yet connected.
  TNetTCPClient& PassiveClient(const TNetPassiveAddress& address, std::unique_ptr<DataChannelScope>& scope);
  // Active mode: the listener, published as the data channel, listening and announced.
  // Active mode: the listener announced by PORT; null when the server refused PORT and the
  // session switched to passive (PassiveOnPortRefused).
  TNetSimpleServer* AnnouncedListener(std::unique_ptr<DataChannelScope>& scope);
  void Accept(TNetSimpleServer& server);
  void SendRest(const TNetStream& stream);
  void RunTransfer(const std::function<void()>& transfer);
  void AwaitFinalReply();
  // Reads the reply that follows a transfer that ended early (after a 426 or 450 we did not
  // ask for, or after we stopped reading); false when none of `codes` came in time.
  bool ReadLateReply(const TNetReplyCodes& codes);
  TNetFTPListItems& ListingCollection();
  // AUTH TLS and the handshake on the control connection, then the data connections' protection.
  void StartControlTls();
  // The data connection's handshake, once the server has answered the transfer command.
  void SecureDataChannel(TNetTCPConnection& channel);
  void Handshake(TNetTCPConnection& connection, int32_t readTimeoutMs, const std::string& place);

  void TraceServerClosed();
  int32_t traceSession_ = 0;
  bool closing_ = false;
  bool closeNotePending_ = false;  // the server closed; said once the bytes before it are read
  bool resumeAnswer_ = false;
  bool resumeProbed_ = false;
  TNetRFCReply loginReply_;
  std::string systemDesc_ = "Unknown";
  TNetFTPTransferType transferType_ = ftBinary;
  TNetTCPConnection* dataChannel_ = nullptr;
  bool abortRequested_ = false;
  bool outOfStep_ = false;
  std::unique_ptr<TNetFTPListItems> directoryListing_;
  bool listingParsed_ = false;
  TNetFtpProxySettings proxySettings_;
  std::shared_ptr<net::TTlsSessionCache> tlsSession_;  // of the session that is open
};

}  // namespace skelder::ftp
