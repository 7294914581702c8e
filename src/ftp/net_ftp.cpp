#include "ftp/net_ftp.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "ftp/net_io_handler_tls.h"
#include "ftp/net_ftp_trace.h"
#include "platform/display_text.h"
#include "platform/files.h"

namespace skelder::ftp {
namespace {

const char* TypeLetter(TNetFTPTransferType type) { return type == ftASCII ? "A" : "I"; }

// Splits received listing text into lines at LF, dropping a CR before it.
std::vector<std::string> SplitListing(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t lf = text.find('\n', start);
    size_t end = lf == std::string::npos ? text.size() : lf;
    size_t cut = end > start && text[end - 1] == '\r' ? end - 1 : end;
    lines.push_back(text.substr(start, cut - start));
    start = end + 1;
  }
  return lines;
}

// A line break (or a zero byte) inside an argument would end the command early and let the
// rest pass as a command of its own, so such arguments never reach the server. Secrets are
// named, never shown.
void CheckArgument(const std::string& text, const char* what, bool secret = false) {
  if (text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos) return;
  std::string shown;
  if (!secret) {
    for (char c : text) {
      switch (c) {
        case '\r':
          shown += "\\r";
          break;
        case '\n':
          shown += "\\n";
          break;
        case '\0':
          shown += "\\0";
          break;
        default:
          shown += c;
      }
    }
    shown = " \"" + shown + "\"";
  }
  throw net::ENetException(std::string(what) + shown + " contains a line break and cannot be sent.");
}

// The listing text, which refuses to grow past its limit.
class ListingStream : public TNetMemoryStream {
 public:
  struct Full : net::ENetException {
    Full() : net::ENetException("listing full") {}
  };
  explicit ListingStream(int64_t limit) : limit_(limit) {}
  void Write(const void* buffer, int64_t count) override {
    if (limit_ > 0 && Position() + count > limit_) throw Full();
    TNetMemoryStream::Write(buffer, count);
  }

 private:
  int64_t limit_;
};

// The active-mode listener of a TLS session: the accepted connection turns to TLS.
class TlsDataListener : public TNetSimpleServer {
 public:
  std::unique_ptr<TNetIOHandlerSocket> NewSocketHandler() override { return std::make_unique<TNetIOHandlerTls>(); }
};

std::string Endpoint(const std::string& ip, int32_t port) { return ip + ":" + std::to_string(port); }

// The trace of one transfer's data connection: how it opened (mode, addresses, direction) and how
// it ended, with the bytes it carried.
class DataTrace {
 public:
  DataTrace(int32_t session, bool upload, const TNetStream& stream, bool fromBeginning)
      : session_(session), upload_(upload), stream_(stream), start_(fromBeginning ? 0 : stream.Position()) {}

  void Opened(bool passive, const TNetTCPConnection& channel) {
    opened_ = true;
    if (!Trace().Enabled()) return;
    const TNetIOHandlerSocket* socket = channel.Socket();
    const net::TNetSocketHandle* binding = socket ? socket->Binding() : nullptr;
    std::string text = std::string("Data connection opened (") + (passive ? "passive" : "active") + ", " +
                       (upload_ ? "upload" : "download") + ")";
    if (binding)
      text += ": local " + Endpoint(binding->IP, binding->Port) + ", server " +
              Endpoint(binding->PeerIP, binding->PeerPort);
    Trace().Note(session_, text);
  }
  void Ended() { Trace().Note(session_, "Data connection closed: " + Bytes() + ", complete"); }
  void Failed(const char* what) {
    if (opened_)
      Trace().Note(session_, "Data connection failed after " + Bytes() + ": " + TraceMessage(what));
    else
      Trace().Note(session_, "Data connection not opened: " + TraceMessage(what));
  }

 private:
  std::string Bytes() const {
    const int64_t count = stream_.Position() - start_;
    return std::to_string(count < 0 ? 0 : count) + (upload_ ? " bytes sent" : " bytes received");
  }
  int32_t session_;
  bool upload_;
  const TNetStream& stream_;
  int64_t start_;
  bool opened_ = false;
};

// Runs the data steps of a transfer, telling the trace how its data connection ended.
template <typename Body>
void TracedData(DataTrace& trace, Body&& body) {
  try {
    body();
  } catch (const std::exception& e) {
    trace.Failed(e.what());
    throw;
  }
  trace.Ended();
}

}  // namespace

// Holds the data connection of one transfer: published as the session's data channel while it
// lives, freed (which closes its sockets) and unpublished on every way out.
class TNetFTP::DataChannelScope {
 public:
  DataChannelScope(TNetFTP& ftp, std::unique_ptr<TNetTCPConnection> channel,
                   std::unique_ptr<TNetIOHandlerSocket> handler = nullptr)
      : ftp_(ftp), handler_(std::move(handler)), channel_(std::move(channel)) {
    ftp_.dataChannel_ = channel_.get();
  }
  ~DataChannelScope() {
    ftp_.dataChannel_ = nullptr;
    if (channel_) channel_->CloseConnection();
    channel_.reset();
    handler_.reset();
  }
  DataChannelScope(const DataChannelScope&) = delete;
  DataChannelScope& operator=(const DataChannelScope&) = delete;

 private:
  TNetFTP& ftp_;
  std::unique_ptr<TNetIOHandlerSocket> handler_;  // outlives the channel that borrows it
  std::unique_ptr<TNetTCPConnection> channel_;
};

TNetFTP::TNetFTP(net::TNetBaseComponent* owner) : TNetTCPClient(owner) { SetPortNumber(21); }

TNetFTP::~TNetFTP() = default;

// --- session ----------------------------------------------------------------------------

void TNetFTP::OpenSession(bool autoLogin, int32_t timeoutMs) {
  outOfStep_ = false;
  closeNotePending_ = false;
  traceSession_ = TNetFtpTrace::NewSession();
  try {
    const std::string host = Host();
    const int32_t port = Port();
    std::string target = Endpoint(host, port);
    if (proxySettings_.ProxyType != fpcmNone && !proxySettings_.Host.empty()) {
      SetHost(proxySettings_.Host);
      SetPortNumber(proxySettings_.Port);
      target += " through the FTP proxy " + Endpoint(proxySettings_.Host, proxySettings_.Port);
    }
    if (UseTls && !dynamic_cast<TNetIOHandlerTls*>(IOHandler())) {
      // Our own handler, able to turn to TLS; one assigned from outside must be such already.
      if (IOHandler() != nullptr && !OwnsHandler())
        throw net::ETlsError("TLS needs the connection's I/O handler to be a TLS handler");
      FreeOwnedHandler();
      auto handler = std::make_unique<TNetIOHandlerTls>(this);
      handler->OnStatus = OnStatus;
      AdoptIOHandler(std::move(handler));
    }
    Trace().Note(traceSession_, "Connecting to " + target);
    try {
      OpenConnection(timeoutMs);
      if (Trace().Enabled()) {
        const net::TNetSocketHandle* binding = Socket() ? Socket()->Binding() : nullptr;
        Trace().Note(traceSession_, binding ? "Connected: local " + Endpoint(binding->IP, binding->Port) + ", server " +
                                                  Endpoint(binding->PeerIP, binding->PeerPort)
                                            : std::string("Connected"));
      }
    } catch (...) {
      SetHost(host);
      SetPortNumber(port);
      throw;
    }
    SetHost(host);
    SetPortNumber(port);

    AwaitReply(220);
    Greeting.Assign(LastCmdResult());
    if (UseTls) StartControlTls();
    if (autoLogin) {
      LogIn();
      if (OnAfterClientLogin) OnAfterClientLogin(this);
      SendTransferType();
      if (SendCommand("SYST", {200, 215, 500}) == 500) {
        systemDesc_ = "Unknown";
      } else {
        const auto& text = LastCmdResult().Text;
        systemDesc_ = text.empty() ? std::string() : text.front();
      }
      ReportStatus(net::stTransferReady, "Connection established");
    }
  } catch (...) {
    CloseConnection();
    throw;
  }
}

void TNetFTP::WriteLine(const std::string& text) {
  Trace().Sent(traceSession_, text);
  TNetTCPClient::WriteLine(text);
}

namespace {

// The reply code a line starts with, which a mask leaves alone: its length, 3 or 0.
size_t CodeLength(const std::string& line) {
  const auto digit = [](unsigned char c) { return std::isdigit(c) != 0; };
  return line.size() >= 3 && std::all_of(line.begin(), line.begin() + 3, digit) ? 3 : 0;
}

}  // namespace

void TNetFTP::ReplyLineRead(std::string& line) {
  // A server that quotes a password back (in a refusal, say) must not carry it into an error
  // message, the log, the screen or the trace.
  const size_t code = CodeLength(line);
  line = platform::MaskPassword(platform::MaskPassword(line, Password, code), proxySettings_.Password, code);
  Trace().Received(traceSession_, line);
  if (closeNotePending_ && InputBuffer().Size() == 0) TraceServerClosed();
}

void TNetFTP::TraceServerClosed() {
  closeNotePending_ = false;
  Trace().Note(traceSession_, "The server closed the connection");
}

void TNetFTP::CloseConnection() {
  if (closeNotePending_) TraceServerClosed();
  if (HandlerConnected()) Trace().Note(traceSession_, "Disconnected");
  closing_ = true;
  try {
    TNetTCPClient::CloseConnection();
  } catch (...) {
    closing_ = false;
    throw;
  }
  closing_ = false;
}

void TNetFTP::NotifyDisconnected() {
  // Closing it ourselves was traced above; otherwise the server (or the network) ended it. The
  // close often comes with the last reply: the trace says so after that reply's lines.
  if (!closing_) {
    if (InputBuffer().Size() > 0)
      closeNotePending_ = true;
    else
      TraceServerClosed();
  }
  TNetTCPClient::NotifyDisconnected();
}

void TNetFTP::LogInPair(const std::string& user, const std::string& password) {
  if (SendCommand("USER " + user, {230, 331}) == 331) SendCommand("PASS " + password, 230);
}

void TNetFTP::LogIn() {
  const std::string& pu = proxySettings_.UserName;
  const std::string& pp = proxySettings_.Password;
  CheckArgument(Username, "The user name");
  CheckArgument(Password, "The password", true);
  CheckArgument(Host(), "The host name");
  CheckArgument(pu, "The proxy user name");
  CheckArgument(pp, "The proxy password", true);
  switch (proxySettings_.ProxyType) {
    case fpcmNone:
      LogInPair(Username, Password);
      break;
    case fpcmUserSite:
      if (!pu.empty()) LogInPair(pu, pp);
      LogInPair(Username + "@" + Host(), Password);
      break;
    case fpcmSite:
      if (!pu.empty()) LogInPair(pu, pp);
      SendCommand("SITE " + Host(), -1);
      LogInPair(Username, Password);
      break;
    case fpcmOpen:
      if (!pu.empty()) LogInPair(pu, pp);
      SendCommand("OPEN " + Host(), -1);
      LogInPair(Username, Password);
      break;
    case fpcmUserPass:
      if (SendCommand("USER " + Username + "@" + pu + "@" + Host(), {230, 331}) == 331) {
        SendCommand("PASS " + Password + (pp.empty() ? std::string() : "@" + pp), 230);
      }
      break;
    case fpcmTransparent:
      if (!pu.empty()) LogInPair(pu, pp);
      LogInPair(Username, Password);
      break;
    case fpcmHttpProxyWithFtp:
    default:
      throw net::ENetException("Command not supported.");
  }
  loginReply_.Assign(LastCmdResult());
}

void TNetFTP::SendTransferType() { SendCommand(std::string("TYPE ") + TypeLetter(transferType_), 200); }

void TNetFTP::SetTransferType(TNetFTPTransferType type) {
  if (type == transferType_ || dataChannel_) return;
  transferType_ = type;
  if (IsConnected()) SendTransferType();
}

void TNetFTP::ChangeDirectory(const std::string& name) {
  CheckArgument(name, "The directory name");
  SendCommand("CWD " + name, {200, 250});
}

void TNetFTP::MakeDirectory(const std::string& name) {
  CheckArgument(name, "The directory name");
  SendCommand("MKD " + name, 257);
}

int32_t TNetFTP::SendRaw(const std::string& line) { return SendCommand(line, -1); }

bool TNetFTP::ProbeResume() {
  if (!resumeProbed_) {
    resumeAnswer_ = SendCommand("REST 1", -1) == 350;
    SendCommand("REST 0", -1);
    resumeProbed_ = true;
  }
  return resumeAnswer_;
}

// --- transfers --------------------------------------------------------------------------

void TNetFTP::Download(const std::string& remoteName, TNetStream& stream, bool resume) {
  CheckArgument(remoteName, "The remote file name");
  RunIncoming("RETR " + remoteName, stream, resume && ProbeResume());
  NotifyAfterGet(stream);
}

void TNetFTP::Download(const std::string& remoteName, const std::string& localFileName, bool canOverwrite,
                       bool resume) {
  CheckArgument(remoteName, "The remote file name");
  std::unique_ptr<TNetFileStream> file;
  bool resumeTransfer = resume;
  // The exact name: a file whose name differs only in letter case is another file here, and
  // the download is created under the name it was given.
  std::error_code ec;
  const auto kind = std::filesystem::status(localFileName, ec).type();
  const bool exists =
      !ec && kind != std::filesystem::file_type::not_found && kind != std::filesystem::file_type::directory;
  if (!exists) {
    file = std::make_unique<TNetFileStream>(localFileName, TNetFileStream::fmCreate);
  } else {
    const bool canResume = resume && ProbeResume();
    if (canOverwrite && !canResume) {
      file = std::make_unique<TNetFileStream>(localFileName, TNetFileStream::fmCreate);
      resumeTransfer = false;
    } else if (!canOverwrite && canResume) {
      file = std::make_unique<TNetFileStream>(localFileName, TNetFileStream::fmOpenWrite);
      file->SetPosition(file->Size());
      resumeTransfer = true;
    } else {
      throw ENetFTPFileAlreadyExists();
    }
  }
  Download(remoteName, *file, resumeTransfer);
}

void TNetFTP::Upload(TNetStream& stream, const std::string& remoteName, bool append) {
  CheckArgument(remoteName, "The remote file name");
  if (remoteName.empty()) {
    RunOutgoing("STOU ", stream, true);
  } else if (append) {
    RunOutgoing("APPE " + remoteName, stream, false);
  } else {
    RunOutgoing("STOR " + remoteName, stream, true);
  }
}

void TNetFTP::Upload(const std::string& localFileName, const std::string& remoteName, bool append) {
  CheckArgument(remoteName, "The remote file name");
  TNetFileStream file(localFileName, TNetFileStream::fmOpenRead);
  Upload(file, remoteName, append);
}

void TNetFTP::List(const std::string& specifier, bool details) {
  CheckArgument(specifier, "The listing specifier");
  ListingStream text(MaxListingBytes);
  std::string command = details ? "LIST" : "NLST";
  if (!specifier.empty()) command += " " + specifier;
  try {
    RunIncoming(command, text, false);
  } catch (const ListingStream::Full&) {
    // We stopped reading: the server answers that with 426 or 226 of its own.
    if (!ReadLateReply({225, 226, 250, 426, 450})) outOfStep_ = true;
    const std::string peer = PeerText();
    throw ENetListingTooLong("Directory listing too long: the server" + (peer.empty() ? std::string() : " at " + peer) +
                             " sent more than " + std::to_string(MaxListingBytes) + " bytes.");
  }
  ListResult = SplitListing(text.Data());
  listingParsed_ = false;
}

void TNetFTP::NotifyAfterGet(TNetStream& stream) {
  if (OnAfterGet) OnAfterGet(this, stream);
}

void TNetFTP::AbortTransfer() {
  if (IsConnected()) {
    abortRequested_ = true;
    WriteLine("ABOR");
  }
  CloseDataChannel();
}

void TNetFTP::CloseDataChannel() {
  if (dataChannel_) dataChannel_->DropSocket();
}

// --- data connection --------------------------------------------------------------------

TNetPassiveAddress TNetFTP::RequestPassive() {
  SendCommand("PASV", 227);
  const auto& text = LastCmdResult().Text;
  return ParsePasvReply(text.empty() ? std::string() : text.front());
}

void TNetFTP::SendPort(const net::TNetSocketHandle& binding) {
  SendCommand(FormatPortCommand(binding.IP, binding.Port), 200);
}

void TNetFTP::SetUpDataChannel(TNetTCPConnection& channel) {
  channel.SendBufferSize = SendBufferSize;
  channel.RecvBufferSize = RecvBufferSize;
  channel.OnWork = OnWork;
  channel.OnWorkBegin = OnWorkBegin;
  channel.OnWorkEnd = OnWorkEnd;
  channel.ReadTimeout = DataReadTimeout;
  channel.PlaceName = "data connection";
}

TNetTCPClient& TNetFTP::PassiveClient(const TNetPassiveAddress& address, std::unique_ptr<DataChannelScope>& scope) {
  auto client = std::make_unique<TNetTCPClient>();
  TNetTCPClient& result = *client;
  SetUpDataChannel(result);
  // The data connection goes through the same SOCKS proxy as the control connection.
  std::unique_ptr<TNetIOHandlerSocket> handler;
  TNetIOHandlerSocket* control = Socket();
  if (control || UseTls) {
    handler = UseTls ? std::make_unique<TNetIOHandlerTls>() : std::make_unique<TNetIOHandlerSocket>();
    if (control) handler->SocksInfo().Assign(control->SocksInfo());
    result.SetIOHandler(handler.get());
  }
  // The server's own address: a server behind NAT names its private one in the reply, and a
  // hostile one could name any. Through a proxy the server's address is the one the reply names.
  const bool direct = !Socket() || Socket()->SocksInfo().Version == svNoSocks;
  result.SetHost(direct && Socket() && Socket()->Binding() ? Socket()->Binding()->PeerIP : address.IP);
  result.SetPortNumber(address.Port);
  scope = std::make_unique<DataChannelScope>(*this, std::move(client), std::move(handler));
  return result;
}

TNetSimpleServer* TNetFTP::AnnouncedListener(std::unique_ptr<DataChannelScope>& scope) {
  std::unique_ptr<TNetSimpleServer> server =
      UseTls ? std::make_unique<TlsDataListener>() : std::make_unique<TNetSimpleServer>();
  TNetSimpleServer& result = *server;
  SetUpDataChannel(result);
  result.AcceptTimeout = AcceptTimeout;
  if (TNetIOHandlerSocket* control = Socket(); control && control->Binding()) {
    result.BoundIP = control->Binding()->IP;
    // The data connection is the server's to open: the one at the other end of the control
    // connection (through a proxy that end is the proxy, and the server's address is unknown).
    if (control->SocksInfo().Version == svNoSocks) result.AllowedPeerIP = control->Binding()->PeerIP;
  }
  scope = std::make_unique<DataChannelScope>(*this, std::move(server));
  result.StartListening();
  try {
    SendPort(*result.Binding());
  } catch (const ENetProtocolReplyError& e) {
    if (!PassiveOnPortRefused || e.ReplyErrorCode < 500 || e.ReplyErrorCode > 599) throw;
    scope.reset();
    Passive = true;
    if (OnSwitchedToPassive) OnSwitchedToPassive();
    return nullptr;
  }
  return &result;
}

void TNetFTP::Accept(TNetSimpleServer& server) {
  if (!server.AcceptConnection()) throw ENetNotConnected();
}

void TNetFTP::SendRest(const TNetStream& stream) { SendCommand("REST " + std::to_string(stream.Position()), 350); }

void TNetFTP::RunTransfer(const std::function<void()>& transfer) {
  ReportStatus(net::stTransferStart, "Starting FTP transfer");
  abortRequested_ = false;
  try {
    transfer();
  } catch (...) {
    ReportStatus(net::stTransferReady, "Transfer complete");
    throw;
  }
  ReportStatus(net::stTransferReady, "Transfer complete");
  AwaitFinalReply();
}

void TNetFTP::RunIncoming(const std::string& command, TNetStream& stream, bool resume) {
  RunTransfer([&] {
    std::unique_ptr<DataChannelScope> scope;
    DataTrace trace(traceSession_, false, stream, false);
    TracedData(trace, [&] {
      if (TNetSimpleServer* server = Passive ? nullptr : AnnouncedListener(scope)) {
        if (resume) SendRest(stream);
        SendCommand(command, {125, 150, 154});
        Accept(*server);
        SecureDataChannel(*server);
        trace.Opened(false, *server);
        server->ReceiveStream(stream, -1, true);
      } else {
        TNetTCPClient& client = PassiveClient(RequestPassive(), scope);
        client.OpenConnection(AcceptTimeout);
        trace.Opened(true, client);
        if (resume) SendRest(stream);
        WriteLine(command);
        AwaitReply({125, 150, 154});
        SecureDataChannel(client);
        client.ReceiveStream(stream, -1, true);
      }
    });
  });
}

void TNetFTP::RunOutgoing(const std::string& command, TNetStream& stream, bool fromBeginning) {
  RunTransfer([&] {
    std::unique_ptr<DataChannelScope> scope;
    DataTrace trace(traceSession_, true, stream, fromBeginning);
    TracedData(trace, [&] {
      if (TNetSimpleServer* server = Passive ? nullptr : AnnouncedListener(scope)) {
        SendCommand(command, {125, 150});
        Accept(*server);
        SecureDataChannel(*server);
        trace.Opened(false, *server);
        server->SendStream(stream, fromBeginning, false, 0);
      } else {
        const TNetPassiveAddress address = RequestPassive();
        WriteLine(command);  // before the data connection exists; the reply comes after it
        TNetTCPClient& client = PassiveClient(address, scope);
        client.OpenConnection(AcceptTimeout);
        trace.Opened(true, client);
        AwaitReply({110, 125, 150});
        SecureDataChannel(client);
        try {
          client.SendStream(stream, fromBeginning, false, 0);
        } catch (const net::ENetSocketError& e) {
          if (e.LastError != net::kErrNotSocket) throw;
        }
      }
    });
  });
}

// 426 and 450 say the transfer broke off. After our own ABOR that is the expected end (the
// server follows with 226 or 225); without it the data is incomplete, which must not pass as
// a finished transfer.
void TNetFTP::AwaitFinalReply() {
  const int32_t code = AwaitReply({225, 226, 250, 426, 450});
  if (code != 426 && code != 450) return;
  if (!abortRequested_) {
    // Servers follow a broken-off transfer with 226 or 225 all the same. Left unread, it would
    // answer the next command, and every later command would read the reply to the one before.
    TNetRFCReply broken;
    broken.Assign(LastCmdResult());
    if (!ReadLateReply({226, 225})) outOfStep_ = true;
    LastCmdResult().Assign(broken);
    RaiseReplyError();
  }
  AwaitReply({226, 225});
  ReportStatus(net::stTransferAborted, "Transfer aborted");
}

bool TNetFTP::ReadLateReply(const TNetReplyCodes& codes) {
  if (LateReplyWait <= 0) return false;
  struct Restore {
    int32_t& field;
    int32_t value;
    ~Restore() { field = value; }
  } restore{ReadTimeout, ReadTimeout};
  ReadTimeout = ReadTimeout > 0 ? std::min(ReadTimeout, LateReplyWait) : LateReplyWait;
  try {
    return codes.Contains(ReadReply());
  } catch (const net::ENetException&) {
    // Nothing came (or the connection went): whether it is still on its way is unknown.
    return false;
  }
}

// --- TLS --------------------------------------------------------------------------------

void TNetFTP::StartControlTls() {
  WriteLine("AUTH TLS");
  if (ReadReply() != 234) {
    const TNetRFCReply& reply = LastCmdResult();
    throw ENetProtocolReplyError(reply.NumericCode(), "The server refused TLS: it answered \"AUTH TLS\" with " +
                                                          reply.TextCode() + " " +
                                                          (reply.Text.empty() ? std::string() : reply.Text.front()));
  }
  // Bytes that came with the 234 were sent in clear text and could be anyone's: a reply
  // injected there would pass for one of the server's once TLS is on.
  if (InputBuffer().Size() > 0) throw net::ETlsError("TLS failed: the server sent more after accepting \"AUTH TLS\"");
  tlsSession_ = net::NewTlsSessionCache();
  Handshake(*this, ReadTimeout, "control connection");
  SendCommand("PBSZ 0", 200);
  SendCommand("PROT P", 200);
}

void TNetFTP::SecureDataChannel(TNetTCPConnection& channel) {
  if (UseTls) Handshake(channel, DataReadTimeout, "data connection");
}

void TNetFTP::Handshake(TNetTCPConnection& connection, int32_t readTimeoutMs, const std::string& place) {
  auto* handler = dynamic_cast<TNetIOHandlerTls*>(connection.IOHandler());
  if (handler == nullptr) throw net::ETlsError("TLS needs the connection's I/O handler to be a TLS handler");
  handler->TimeoutMs = readTimeoutMs;
  const int32_t limit = readTimeoutMs > 0 ? readTimeoutMs : kTlsHandshakeTimeoutMs;
  try {
    handler->StartTls({Host(), tlsSession_}, limit);
  } catch (net::ENetException& e) {
    if (place != "control connection") e.AddPlace(place);
    throw;
  }
  const net::TTlsPeer peer = handler->Peer();
  bool trusted = peer.Verified;
  for (const net::TSha256& fingerprint : TrustedCertificates) trusted = trusted || fingerprint == peer.Fingerprint;
  if (Trace().Enabled()) {
    Trace().Note(traceSession_, "TLS handshake (" + place + "): " + peer.Protocol + ", " + peer.Cipher +
                                    (peer.Resumed ? ", session resumed" : ", new session") + "; certificate " +
                                    net::FingerprintText(peer.Fingerprint) +
                                    (peer.Verified ? " verified"
                                     : trusted     ? " trusted by its fingerprint (" + peer.Problem + ")"
                                                   : " refused (" + peer.Problem + ")"));
  }
  if (!trusted) {
    // Said before anything of ours goes over the connection.
    throw ETlsCertificateRefused("The server's certificate is not trusted (" + peer.Problem +
                                 "); its SHA-256 fingerprint is " + net::FingerprintText(peer.Fingerprint) +
                                 ". If that is your server's certificate, add the fingerprint to TrustedCertificates.");
  }
  if (OnTlsHandshake) OnTlsHandshake(place, peer);
}

// --- listing ----------------------------------------------------------------------------

TNetFTPListItems& TNetFTP::ListingCollection() {
  if (!directoryListing_) {
    if (OnCreateFTPList) OnCreateFTPList(this, directoryListing_);
    if (!directoryListing_) directoryListing_ = std::make_unique<TNetFTPListItems>();
  }
  return *directoryListing_;
}

TNetFTPListItems& TNetFTP::DirectoryListing() {
  TNetFTPListItems& items = ListingCollection();
  if (!listingParsed_) {
    listingParsed_ = true;
    if (!ListResult.empty()) {
      TNetFTPListFormat format = TNetFTPListItems::DetectListFormat(ListResult.front(), true);
      if (OnCheckListFormat) OnCheckListFormat(this, ListResult.front(), format);
      items.ListFormat = format;
      items.ParseListing(ListResult);
    }
  }
  return items;
}

TNetOnParseCustomListFormat& TNetFTP::OnParseCustomListFormat() { return ListingCollection().OnParseCustomListFormat; }

void TNetFTP::SetOnParseCustomListFormat(TNetOnParseCustomListFormat handler) {
  ListingCollection().OnParseCustomListFormat = std::move(handler);
}

}  // namespace skelder::ftp
