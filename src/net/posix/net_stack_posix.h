#pragma once
// The stack over the POSIX socket interface; errno values are reported as the 100xx numbers,
// a failed name lookup as 11001.
#include "net/net_stack.h"

namespace skelder::net {

class TNetStackPosix : public TNetStack {
 public:
  TNetSocket SockAccept(TNetSocket listening, std::string& peerIP, int32_t& peerPort) override;
  int SockBind(TNetSocket socket, int family, const std::string& ip, int32_t port) override;
  bool AllowClosedPortReuse(TNetSocket socket) override;
  std::pair<int32_t, int32_t> EphemeralPortRange() override;
  int SockClose(TNetSocket socket) override;
  int SockConnect(TNetSocket socket, int family, const std::string& ip, int32_t port) override;
  std::string HostAddressByName(const std::string& host) override;
  std::string LocalHostName() override;
  std::string HostNameByAddress(const std::string& ip) override;
  int32_t ServicePort(const std::string& service) override;
  std::vector<std::string> ServiceNamesOfPort(int32_t port) override;
  uint16_t HostToNet16(uint16_t value) override;
  int SockListen(TNetSocket socket, int backlog) override;
  uint16_t NetToHost16(uint16_t value) override;
  uint32_t HostToNet32(uint32_t value) override;
  uint32_t NetToHost32(uint32_t value) override;
  int SockReceive(TNetSocket socket, void* buffer, int length, int flags) override;
  int SockReceiveFrom(TNetSocket socket, void* buffer, int length, int flags, std::string& ip, int32_t& port) override;
  int SockReceiveNow(TNetSocket socket, void* buffer, int length) override;
  int SockSelect(std::vector<TNetSocket>* readList, std::vector<TNetSocket>* writeList,
                 std::vector<TNetSocket>* errorList, int32_t timeoutMs) override;
  int SockSend(TNetSocket socket, const void* buffer, int length, int flags) override;
  int SockSendTo(TNetSocket socket, const void* buffer, int length, int flags, const std::string& ip,
                 int32_t port) override;
  int SockSetOption(TNetSocket socket, int level, int option, const void* value, int length) override;
  TNetSocket SockCreate(int family, int type, int protocol) override;
  int SockShutdown(TNetSocket socket, int how) override;
  std::string ErrorText(int32_t code) override;
  int32_t LastSocketError() override;
  void PeerAddressOf(TNetSocket socket, int& family, std::string& ip, int32_t& port) override;
  void LocalAddressOf(TNetSocket socket, int& family, std::string& ip, int32_t& port) override;
  int SockGetOption(TNetSocket socket, int level, int option, void* value, int& length) override;

 protected:
  std::vector<std::string> AddressesByName(const std::string& host) override;
};

// errno onto the 100xx numbers; 0 for 0, codes without a counterpart pass through unchanged.
int32_t MapPosixError(int error);

}  // namespace skelder::net
