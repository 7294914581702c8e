#pragma once
// The error types of the socket layer. Every failure of the FTP client is an ENetException (or a
// class derived from it) carrying a fixed English message or the server's reply text.
#include <cstdint>
#include <string>

#include "platform/exception.h"

namespace skelder::net {

class ENetException : public skelder::Exception {
 public:
  explicit ENetException(const std::string& message) : skelder::Exception(message), message_(message) {}
  const char* what() const noexcept override { return message_.c_str(); }
  // Says what the failure concerns ("127.0.0.1:21", "data connection, 127.0.0.1:4711") after
  // the message, once: the message itself stays as it is.
  void AddPlace(const std::string& place) {
    if (placed_ || place.empty()) return;
    placed_ = true;
    message_ += " (" + place + ")";
  }

 private:
  std::string message_;
  bool placed_ = false;
};

// Failures that callers usually treat as an ordinary end (the peer closed), not as an error.
class ENetSilentException : public ENetException {
 public:
  using ENetException::ENetException;
};

// Declares an error class with a fixed message that can still be given another one.
#define SKELDER_NET_ERROR(Name, Parent, Text)                      \
  class Name : public Parent {                                     \
   public:                                                         \
    Name() : Parent(Text) {}                                       \
    explicit Name(const std::string& message) : Parent(message) {} \
  }

SKELDER_NET_ERROR(ENetConnClosedGracefully, ENetSilentException, "Connection Closed Gracefully.");

// A socket call failed; the message is the stack's ErrorText(code).
class ENetSocketError : public ENetException {
 public:
  ENetSocketError(int32_t code, const std::string& message) : ENetException(message), LastError(code) {}
  int32_t LastError;
};

SKELDER_NET_ERROR(ENetStackError, ENetException, "");
SKELDER_NET_ERROR(ENetStackInitializationFailed, ENetStackError, "Winsock Initialization Error.");
SKELDER_NET_ERROR(ENetStackSetSizeExceeded, ENetStackError, "Set Size Exceeded.");
SKELDER_NET_ERROR(ENetInvalidSocket, ENetException, "Cannot allocate socket.");

class ENetInvalidServiceName : public ENetException {
 public:
  explicit ENetInvalidServiceName(const std::string& service) : ENetException(service + " is not a valid service.") {}
};

SKELDER_NET_ERROR(ENetSocketHandleError, ENetException, "");
SKELDER_NET_ERROR(ENetCouldNotBindSocket, ENetSocketHandleError,
                  "Could not bind socket. Address and port are already in use.");

class ENetInvalidPortRange : public ENetSocketHandleError {
 public:
  ENetInvalidPortRange(int32_t min, int32_t max)
      : ENetSocketHandleError("Invalid Port Range (" + std::to_string(min) + " - " + std::to_string(max) + ")") {}
};

class ENetCanNotBindPortInRange : public ENetSocketHandleError {
 public:
  ENetCanNotBindPortInRange(int32_t min, int32_t max)
      : ENetSocketHandleError("Can not bind in port range (" + std::to_string(min) + " - " + std::to_string(max) +
                              ")") {}
};

// The run-time bound socket library (Windows) could not be loaded or called. The message is the
// system text of the code, ": " and the title; with code 0 the title alone.
class ENetWS2StubError : public ENetException {
 public:
  ENetWS2StubError(uint32_t code, const std::string& systemText, const std::string& title)
      : ENetException(code != 0 ? systemText + ": " + title : title),
        Win32Error(code),
        Win32ErrorMessage(systemText),
        Title(title) {}
  uint32_t Win32Error;
  std::string Win32ErrorMessage;
  std::string Title;
};

}  // namespace skelder::net
