#include "ftp/net_simple_server.h"

#include <algorithm>
#include <charconv>

#include "platform/clock.h"

namespace skelder::ftp {
namespace {

std::string TrimBlanks(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

// One field of a PASV reply: a decimal number from 0 to 255.
int PasvField(const std::string& raw) {
  const std::string text = TrimBlanks(raw);
  int value = -1;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < 0 || value > 255) {
    throw ENetConvertError("Invalid passive-mode reply: \"" + text + "\" is not a number from 0 to 255.");
  }
  return value;
}

}  // namespace

TNetPassiveAddress ParsePasvReply(const std::string& firstTextLine) {
  std::string text = TrimBlanks(firstTextLine);
  const size_t open = text.find('(');
  const size_t close = text.find(')');
  if (open != std::string::npos && close != std::string::npos) {
    // Between the first "(" and the first ")"; a ")" before the "(" leaves nothing.
    text = close > open ? text.substr(open + 1, close - open - 1) : std::string();
  } else if (size_t blank = text.rfind(' '); blank != std::string::npos) {
    text = text.substr(blank + 1);
  }
  int fields[6];
  size_t pos = 0;
  for (int i = 0; i < 6; ++i) {
    // A missing comma makes the field the rest of the text (and the later ones empty).
    const size_t comma = text.find(',', pos);
    const std::string field = pos > text.size()
                                  ? std::string()
                                  : text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    fields[i] = PasvField(field);
    pos = comma == std::string::npos ? text.size() + 1 : comma + 1;
  }
  TNetPassiveAddress result;
  result.IP = std::to_string(fields[0]) + "." + std::to_string(fields[1]) + "." + std::to_string(fields[2]) + "." +
              std::to_string(fields[3]);
  result.Port = fields[4] * 256 + fields[5];
  return result;
}

std::string FormatPortCommand(const std::string& ip, int32_t port) {
  std::string fields = ip;
  std::replace(fields.begin(), fields.end(), '.', ',');
  return "PORT " + fields + "," + std::to_string(port / 256) + "," + std::to_string(port % 256);
}

TNetSimpleServer::TNetSimpleServer(net::TNetBaseComponent* owner) : TNetTCPConnection(owner) {}

TNetSimpleServer::~TNetSimpleServer() { CloseListener(); }

net::TNetSocketHandle* TNetSimpleServer::Binding() const {
  TNetIOHandlerSocket* handler = Socket();
  return handler ? handler->Binding() : nullptr;
}

void TNetSimpleServer::ResetInput() {
  TNetTCPConnection::ResetInput();
  abortRequested_ = false;
  listening_ = false;
  CloseListener();
  FreeOwnedHandler();
}

void TNetSimpleServer::StartListening() {
  try {
    if (!Binding()) {
      ResetInput();
      AdoptIOHandler(NewSocketHandler());
      Socket()->PrepareHandle();
    }
    if (listeningSocket_ == net::kNoSocket) BindListener();
    Binding()->ListenOn(15);
    listening_ = true;
  } catch (...) {
    CloseListener();
    FreeOwnedHandler();
    throw;
  }
}

void TNetSimpleServer::BindListener() {
  net::TNetSocketHandle* binding = Binding();
  try {
    binding->OpenSocket(net::kSockStream, 0);
    listeningSocket_ = binding->Socket();
    listenerInBinding_ = true;
    binding->IP = BoundIP;
    binding->Port = BoundPort;
    binding->BindListeningPort();
  } catch (...) {
    binding->ShutSocket();
    listeningSocket_ = net::kNoSocket;
    listenerInBinding_ = false;
    throw;
  }
}

bool TNetSimpleServer::AcceptConnection() {
  bool accepted = false;
  try {
    if (!listening_) StartListening();
    net::TNetSocketHandle* binding = Binding();
    const uint64_t start = platform::MonotonicMs();
    while (!abortRequested_) {
      int32_t wait = std::max<int32_t>(AcceptWait, 1);
      if (AcceptTimeout > 0) {
        const uint64_t elapsed = platform::MonotonicMs() - start;
        if (elapsed >= static_cast<uint64_t>(AcceptTimeout)) {
          ENetAcceptTimeout timeout;
          timeout.AddPlace("listening on " + binding->IP + ":" + std::to_string(binding->Port));
          throw timeout;
        }
        wait = std::min<int32_t>(wait, AcceptTimeout - static_cast<int32_t>(elapsed));
      }
      if (!binding->PollReadable(wait) || abortRequested_) continue;
      binding->ListenOn(1);
      // The accept call takes the binding over: from here the listener is ours to close.
      listenerInBinding_ = false;
      accepted = binding->AcceptFrom(listeningSocket_);
      if (!accepted || AllowedPeerIP.empty() || binding->PeerIP == AllowedPeerIP) break;
      // Anyone else who found the port would be given (or would give us) the transfer's data.
      binding->ShutSocket();
      binding->TakeSocket(listeningSocket_);
      listenerInBinding_ = true;
      accepted = false;
    }
  } catch (...) {
    CloseListener();
    throw;
  }
  CloseListener();
  return accepted;
}

void TNetSimpleServer::CloseListener() {
  if (listeningSocket_ == net::kNoSocket) return;
  net::TNetSocketHandle* binding = Binding();
  if (listenerInBinding_) {
    // Still the binding's own socket, unless a drop already closed it under the wait.
    if (binding && binding->Allocated() && binding->Socket() == listeningSocket_) binding->ShutSocket();
  } else if (net::TNetStack* stack = net::ProcessStackOrNull()) {
    stack->SockClose(listeningSocket_);
  }
  listeningSocket_ = net::kNoSocket;
  listenerInBinding_ = false;
  listening_ = false;
}

}  // namespace skelder::ftp
