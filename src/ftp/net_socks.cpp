#include "ftp/net_socks.h"

#include <array>

#include "ftp/net_io_handler_socket.h"
#include "net/net_stack.h"

namespace skelder::ftp {

namespace {

constexpr size_t kMaxByteLength = 255;

void RequireByteLength(const std::string& text, const char* what) {
  if (text.size() > kMaxByteLength)
    throw ENetSocksError(std::string("The SOCKS ") + what + " is longer than 255 bytes.");
}

// SOCKS 4 ends its names with a zero byte, so a zero inside one would cut it short.
void RequireNoZeroByte(const std::string& text, const char* what) {
  if (text.find('\0') != std::string::npos)
    throw ENetSocksError(std::string("The SOCKS ") + what + " contains a zero byte.");
}

void AppendPort(std::string& message, uint16_t port) {
  message += static_cast<char>(port >> 8);
  message += static_cast<char>(port & 0xFF);
}

uint8_t Byte(const std::string& data, size_t index) { return static_cast<uint8_t>(data[index]); }

}  // namespace

void TNetSocksInfo::Assign(const TNetSocksInfo& source) {
  if (&source == this) return;
  Authentication = source.Authentication;
  Host = source.Host;
  Password = source.Password;
  Port = source.Port;
  Username = source.Username;
  Version = source.Version;
  ReplyTimeout = source.ReplyTimeout;
}

void TNetSocksInfo::NegotiateSocks(const std::string& targetHost, int32_t targetPort) {
  if (Version == svNoSocks) return;
  if (targetPort < 0 || targetPort > 0xFFFF)
    throw ENetSocksError("The SOCKS target port " + std::to_string(targetPort) + " is out of range.");
  if (!IOHandler) throw ENetSocksError("The SOCKS negotiation has no connection to talk through.");
  const auto port = static_cast<uint16_t>(targetPort);
  if (Version == svSocks5)
    Socks5(targetHost, port);
  else
    Socks4(targetHost, port);
}

void TNetSocksInfo::Socks4(const std::string& targetHost, uint16_t targetPort) {
  RequireByteLength(Username, "user name");
  RequireNoZeroByte(Username, "user name");
  const bool socks4A = Version == svSocks4A;
  if (socks4A) {
    RequireByteLength(targetHost, "host name");
    RequireNoZeroByte(targetHost, "host name");
  }
  std::array<uint8_t, 4> address{0, 0, 0, 1};
  if (!socks4A) {
    net::TNetStack& stack = net::ProcessStack();
    address = stack.TextToAddress(stack.ResolveName(targetHost));
  }

  std::string request;
  request.reserve(9 + Username.size() + (socks4A ? targetHost.size() + 1 : 0));
  request += '\x04';
  request += '\x01';
  AppendPort(request, targetPort);
  for (uint8_t b : address) request += static_cast<char>(b);
  request += Username;
  request += '\0';
  if (socks4A) {
    request += targetHost;
    request += '\0';
  }
  Send(request);

  const std::string reply = Receive(8);
  switch (Byte(reply, 1)) {
    case 90:
      return;
    case 91:
      throw ENetSocksRequestFailed();
    case 92:
      throw ENetSocksRequestServerFailed();
    case 93:
      throw ENetSocksRequestIdentFailed();
    default:
      throw ENetSocksUnknownError();
  }
}

void TNetSocksInfo::Socks5(const std::string& targetHost, uint16_t targetPort) {
  const bool withPassword = Authentication == saUsernamePassword;
  // Check every field before the first byte goes out: a refused field must not leave the proxy
  // half-way through a conversation.
  RequireByteLength(targetHost, "host name");
  if (withPassword) {
    RequireByteLength(Username, "user name");
    RequireByteLength(Password, "password");
  }

  const char method = withPassword ? '\x02' : '\x00';
  Send(std::string{'\x05', '\x01', method});
  const std::string choice = Receive(2);
  if (Byte(choice, 1) != static_cast<uint8_t>(method) || Byte(choice, 1) == 0xFF) throw ENetSocksAuthMethodError();

  if (withPassword) {
    std::string auth;
    auth.reserve(3 + Username.size() + Password.size());
    auth += '\x01';
    auth += static_cast<char>(Username.size());
    auth += Username;
    auth += static_cast<char>(Password.size());
    auth += Password;
    Send(auth);
    if (Byte(Receive(2), 1) != 0) throw ENetSocksAuthError();
  }

  std::string request;
  request.reserve(7 + targetHost.size());
  request += '\x05';
  request += '\x01';
  request += '\x00';
  request += '\x03';
  request += static_cast<char>(targetHost.size());
  request += targetHost;
  AppendPort(request, targetPort);
  Send(request);

  const std::string head = Receive(5);
  switch (Byte(head, 1)) {
    case 0:
      break;
    case 1:
      throw ENetSocksServerGeneralError();
    case 2:
      throw ENetSocksServerPermissionError();
    case 3:
      throw ENetSocksServerNetUnreachableError();
    case 4:
      throw ENetSocksServerHostUnreachableError();
    case 5:
      throw ENetSocksServerConnectionRefusedError();
    case 6:
      throw ENetSocksServerTTLExpiredError();
    case 7:
      throw ENetSocksServerCommandError();
    case 8:
      throw ENetSocksServerAddressError();
    default:
      throw ENetSocksUnknownError();
  }
  // The bound address and port follow; they are not used, but must be read so that the
  // target's first bytes are not taken for them.
  int rest = 2;
  switch (Byte(head, 3)) {
    case 1:
      rest = 5;
      break;
    case 3:
      rest = Byte(head, 4) + 2;
      break;
    case 4:
      rest = 17;
      break;
    default:
      break;
  }
  Receive(rest);
}

void TNetSocksInfo::Send(const std::string& message) {
  size_t sent = 0;
  while (sent < message.size()) {
    const int n = IOHandler->SendFrom(message.data() + sent, static_cast<int>(message.size() - sent));
    if (n < 0) net::ProcessStack().CheckSocketResult(n);
    if (n <= 0) throw ENetSocksServerRespondError();
    sent += static_cast<size_t>(n);
  }
}

std::string TNetSocksInfo::Receive(int count) {
  std::string data(static_cast<size_t>(count), '\0');
  int got = 0;
  while (got < count) {
    if (!IOHandler->WaitReadable(ReplyTimeout > 0 ? ReplyTimeout : net::kWaitForever))
      throw ENetSocksServerRespondError();
    const int n = IOHandler->ReceiveInto(data.data() + got, count - got);
    // A closed or failed connection leaves the reply incomplete: the proxy did not answer.
    if (n <= 0) throw ENetSocksServerRespondError();
    got += n;
  }
  return data;
}

}  // namespace skelder::ftp
