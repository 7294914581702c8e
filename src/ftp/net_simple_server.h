#pragma once
// The data connection of an FTP transfer: the single-connection listener of active mode, and
// the PASV and PORT texts both modes exchange on the control connection.
#include <cstdint>
#include <memory>
#include <string>

#include "ftp/net_io_handler_socket.h"
#include "ftp/net_tcp_connection.h"
#include "net/net_exception.h"
#include "net/net_stack.h"

namespace skelder::ftp {

// A number in a server reply that is not one (or out of its range).
class ENetConvertError : public net::ENetException {
 public:
  using net::ENetException::ENetException;
};

// The server did not connect back to the listener within the accept limit.
SKELDER_NET_ERROR(ENetAcceptTimeout, net::ENetException,
                  "Timed out waiting for the server to open the data connection.");

// Address and port of a PASV reply, from its first text line (without the code): the fields
// between the first "(" and ")", else after the last blank. Raises ENetConvertError for a
// field that is not a number from 0 to 255 or an address that is not dotted.
struct TNetPassiveAddress {
  std::string IP;
  int32_t Port = 0;
};
TNetPassiveAddress ParsePasvReply(const std::string& firstTextLine);

// "PORT h1,h2,h3,h4,p1,p2" for a local address and port.
std::string FormatPortCommand(const std::string& ip, int32_t port);

// Listens on one local port and accepts exactly one connection, which it then carries: after
// AcceptConnection the server is a connected TNetTCPConnection.
class TNetSimpleServer : public TNetTCPConnection {
 public:
  explicit TNetSimpleServer(net::TNetBaseComponent* owner = nullptr);
  ~TNetSimpleServer() override;

  // Longest single readiness wait while waiting for the connection, in ms. Short, so that an
  // abort request is seen soon, but never 0, which would spin.
  int32_t AcceptWait = 100;
  // Limit of the whole accept wait in ms; 0 waits until a connection or an abort request.
  int32_t AcceptTimeout = 60000;
  std::string BoundIP;  // empty: any local address
  // The one address a connection is taken from (empty: any); a connection from anywhere else
  // is closed and the wait goes on.
  std::string AllowedPeerIP;
  int32_t BoundPort = 0;  // 0: the system chooses

  virtual void RequestAbort() { abortRequested_ = true; }
  virtual void StartListening();
  virtual void BindListener();
  virtual void StopListening() { ResetInput(); }
  // True when a connection from the allowed address was accepted; false after an abort
  // request. ENetAcceptTimeout when the limit passes. The listening socket is closed on every path.
  virtual bool AcceptConnection();
  void ResetInput() override;
  // The handler that listens and then carries the accepted connection.
  virtual std::unique_ptr<TNetIOHandlerSocket> NewSocketHandler() { return std::make_unique<TNetIOHandlerSocket>(); }

  bool AbortRequested() const { return abortRequested_; }
  bool Listening() const { return listening_; }
  // The listener's (later the accepted connection's) binding; null before StartListening.
  net::TNetSocketHandle* Binding() const;

 private:
  void CloseListener();

  bool abortRequested_ = false;
  net::TNetSocket listeningSocket_ = net::kNoSocket;
  // True while the binding itself holds the listening socket (before the accept call).
  bool listenerInBinding_ = false;
  bool listening_ = false;
};

}  // namespace skelder::ftp
