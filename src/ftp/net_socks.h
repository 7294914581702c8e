#pragma once
// SOCKS proxy settings of a socket I/O handler and the negotiation that runs right after the
// TCP connect (nothing happens without a SOCKS version).
#include <cstdint>
#include <string>

#include "net/net_component.h"
#include "net/net_exception.h"

namespace skelder::ftp {

class TNetIOHandler;

enum TSocksAuthentication : uint8_t { saNoAuthentication = 0, saUsernamePassword = 1 };
enum TSocksVersion : uint8_t { svNoSocks = 0, svSocks4 = 1, svSocks4A = 2, svSocks5 = 3 };

class TNetSocksInfo : public net::TNetComponent {
 public:
  using net::TNetComponent::TNetComponent;

  TSocksAuthentication Authentication = saNoAuthentication;
  std::string Host;
  std::string Password;
  int32_t Port = 1080;
  std::string Username;
  TSocksVersion Version = svNoSocks;

  // The handler the negotiation talks through (set by the handler using these settings).
  TNetIOHandler* IOHandler = nullptr;

  // Longest wait in ms for each reply of the proxy (0: no limit), so that a proxy that accepts
  // and then says nothing cannot hang the connect.
  int32_t ReplyTimeout = 60000;

  // Copies Authentication, Host, Password, Port, Username, Version and ReplyTimeout.
  void Assign(const TNetSocksInfo& source);

  // Runs the exchange of Version with the target through IOHandler; nothing for svNoSocks.
  // Names, passwords and ports that the protocol cannot carry are refused (ENetSocksError)
  // before anything is sent.
  void NegotiateSocks(const std::string& targetHost, int32_t targetPort);

 private:
  void Socks4(const std::string& targetHost, uint16_t targetPort);
  void Socks5(const std::string& targetHost, uint16_t targetPort);
  void Send(const std::string& message);
  // Exactly `count` bytes, however many receive calls that takes.
  std::string Receive(int count);
};

SKELDER_NET_ERROR(ENetSocksError, net::ENetException, "");
SKELDER_NET_ERROR(ENetSocksRequestFailed, ENetSocksError, "Request rejected or failed.");
SKELDER_NET_ERROR(ENetSocksRequestServerFailed, ENetSocksError,
                  "Request rejected because SOCKS server cannot connect.");
SKELDER_NET_ERROR(ENetSocksRequestIdentFailed, ENetSocksError,
                  "Request rejected because the client program and identd report different user-ids.");
SKELDER_NET_ERROR(ENetSocksUnknownError, ENetSocksError, "Unknown socks error.");
SKELDER_NET_ERROR(ENetSocksServerRespondError, ENetSocksError, "Socks server did not respond.");
SKELDER_NET_ERROR(ENetSocksAuthMethodError, ENetSocksError, "Invalid socks authentication method.");
SKELDER_NET_ERROR(ENetSocksAuthError, ENetSocksError, "Authentication error to socks server.");
SKELDER_NET_ERROR(ENetSocksServerGeneralError, ENetSocksError, "General SOCKS server failure.");
SKELDER_NET_ERROR(ENetSocksServerPermissionError, ENetSocksError, "Connection not allowed by ruleset.");
SKELDER_NET_ERROR(ENetSocksServerNetUnreachableError, ENetSocksError, "Network unreachable.");
SKELDER_NET_ERROR(ENetSocksServerHostUnreachableError, ENetSocksError, "Host unreachable.");
SKELDER_NET_ERROR(ENetSocksServerConnectionRefusedError, ENetSocksError, "Connection refused.");
SKELDER_NET_ERROR(ENetSocksServerTTLExpiredError, ENetSocksError, "TTL expired.");
SKELDER_NET_ERROR(ENetSocksServerCommandError, ENetSocksError, "Command not supported.");
SKELDER_NET_ERROR(ENetSocksServerAddressError, ENetSocksError, "Address type not supported.");

}  // namespace skelder::ftp
