#include "net/net_stack.h"

#include <algorithm>
#include <cctype>
#include <mutex>

#include "net/net_exception.h"
#include "platform/ascii.h"

namespace skelder::net {

TNetSocket TNetSocketList::Item(int index) const {
  if (index < 0 || index >= count_) throw ENetStackSetSizeExceeded();
  return items_[static_cast<size_t>(index)];
}

void TNetSocketList::Add(TNetSocket socket) {
  if (count_ >= kMaxSocketSet) throw ENetStackSetSizeExceeded();
  items_[static_cast<size_t>(count_++)] = socket;
}

void TNetSocketList::Remove(TNetSocket socket) {
  for (int i = 0; i < count_; ++i) {
    if (items_[static_cast<size_t>(i)] == socket) {
      items_[static_cast<size_t>(i)] = items_[static_cast<size_t>(count_ - 1)];
      --count_;
      return;
    }
  }
}

TNetStack::TNetStack() = default;
TNetStack::~TNetStack() = default;

void TNetStack::FillLocalAddresses() {
  if (!localAddresses_) localAddresses_ = std::make_unique<std::vector<std::string>>();
  localAddresses_->clear();
  for (const std::string& address : AddressesByName(LocalHostName())) localAddresses_->push_back(address);
}

const std::vector<std::string>& TNetStack::LocalAddresses() {
  FillLocalAddresses();
  return *localAddresses_;
}

std::string TNetStack::FirstLocalAddress() {
  const std::vector<std::string>& list = LocalAddresses();
  return list.empty() ? std::string() : list.front();
}

std::string TNetStack::CodeText(int32_t code) {
  switch (code) {
    case 10004:
      return "Interrupted system call.";
    case 10009:
      return "Bad file number.";
    case 10013:
      return "Access denied.";
    case 10014:
      return "Bad address.";
    case 10022:
      return "Invalid argument.";
    case 10024:
      return "Too many open files.";
    case 10035:
      return "Operation would block. ";
    case 10036:
      return "Operation now in progress.";
    case 10037:
      return "Operation already in progress.";
    case 10038:
      return "Socket operation on non-socket.";
    case 10039:
      return "Destination address required.";
    case 10040:
      return "Message too long.";
    case 10041:
      return "Protocol wrong type for socket.";
    case 10042:
      return "Bad protocol option.";
    case 10043:
      return "Protocol not supported.";
    case 10044:
      return "Socket type not supported.";
    case 10045:
      return "Operation not supported on socket.";
    case 10046:
      return "Protocol family not supported.";
    case 10047:
      return "Address family not supported by protocol family.";
    case 10048:
      return "Address already in use.";
    case 10049:
      return "Cannot assign requested address.";
    case 10050:
      return "Network is down.";
    case 10051:
      return "Network is unreachable.";
    case 10052:
      return "Net dropped connection or reset.";
    case 10053:
      return "Software caused connection abort.";
    case 10054:
      return "Connection reset by peer.";
    case 10055:
      return "No buffer space available.";
    case 10056:
      return "Socket is already connected.";
    case 10057:
      return "Socket is not connected.";
    case 10058:
      return "Cannot send or receive after socket is closed.";
    case 10059:
      return "Too many references, cannot splice.";
    case 10060:
      return "Connection timed out.";
    case 10061:
      return "Connection refused.";
    case 10062:
      return "Too many levels of symbolic links.";
    case 10063:
      return "File name too long.";
    case 10064:
      return "Host is down.";
    case 10065:
      return "No route to host.";
    case 10066:
      return "Directory not empty";
    default:
      return std::string();
  }
}

std::string TNetStack::ErrorText(int32_t code) {
  return "Socket Error # " + std::to_string(code) + "\r\n" + CodeText(code);
}

int TNetStack::SockReceiveNow(TNetSocket socket, void* buffer, int length) {
  std::vector<TNetSocket> readList{socket};
  const int ready = SockSelect(&readList, nullptr, nullptr, 0);
  if (ready < 0) return -1;
  return ready == 0 ? kNothingWaiting : SockReceive(socket, buffer, length, 0);
}

bool TNetStack::CheckSocketResult(int result, std::initializer_list<int32_t> ignore) {
  if (result != -1) return false;
  int32_t code = LastSocketError();
  lastError_ = code;
  if (std::find(ignore.begin(), ignore.end(), code) != ignore.end()) return true;
  RaiseSocketFailure(code);
}

void TNetStack::RaiseSocketFailure(int32_t code) { throw ENetSocketError(code, ErrorText(code)); }

TNetSocket TNetStack::NewSocket(int type, int protocol) {
  TNetSocket s = SockCreate(kAfInet, type, protocol);
  if (s == kNoSocket) throw ENetInvalidSocket();
  return s;
}

namespace {

// Cuts at the first three dots; the fourth part keeps the rest (so a fifth part fails there).
bool SplitAddress(const std::string& text, std::string parts[4]) {
  size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    size_t dot = text.find('.', start);
    if (dot == std::string::npos) return false;
    parts[i] = text.substr(start, dot - start);
    start = dot + 1;
  }
  parts[3] = text.substr(start);
  return true;
}

// A decimal integer as the conversion accepts it: optional sign, digits, 32-bit range.
bool ParseInt(const std::string& text, long long& value) {
  if (text.empty()) return false;
  size_t i = (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (i == text.size() || text.size() - i > 10) return false;
  for (size_t j = i; j < text.size(); ++j)
    if (!std::isdigit(static_cast<unsigned char>(text[j]))) return false;
  value = std::stoll(text);
  if (value > 2147483647LL || value < -2147483648LL) return false;
  return true;
}

}  // namespace

bool TNetStack::IsDottedAddress(const std::string& text) {
  std::string parts[4];
  if (!SplitAddress(text, parts)) return false;
  for (const std::string& part : parts) {
    long long value = 0;
    if (!ParseInt(part, value) || value < 0 || value > 255) return false;
  }
  return true;
}

std::array<uint8_t, 4> TNetStack::TextToAddress(const std::string& text) {
  std::string parts[4];
  std::array<uint8_t, 4> bytes{};
  if (!SplitAddress(text, parts)) throw ENetException("\"" + text + "\" is not a valid address");
  for (int i = 0; i < 4; ++i) {
    long long value = 0;
    if (!ParseInt(parts[i], value)) throw ENetException("'" + parts[i] + "' is not a valid integer value");
    bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(value);
  }
  return bytes;
}

std::string TNetStack::AddressToText(const std::array<uint8_t, 4>& bytes) {
  return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." + std::to_string(bytes[2]) + "." +
         std::to_string(bytes[3]);
}

std::string TNetStack::ResolveName(const std::string& host) {
  if (platform::EqualsIgnoringAsciiCase(host, "localhost")) return "127.0.0.1";
  if (IsDottedAddress(host)) return host;
  return HostAddressByName(host);
}

namespace {
std::mutex g_factoryLock;
TNetStackFactory g_factory;
}  // namespace

std::unique_ptr<TNetStack> MakeDefaultStack();  // the platform backend's

void SetStackFactory(TNetStackFactory factory) {
  std::lock_guard<std::mutex> guard(g_factoryLock);
  g_factory = std::move(factory);
}

std::unique_ptr<TNetStack> MakePlatformStack() {
  TNetStackFactory factory;
  {
    std::lock_guard<std::mutex> guard(g_factoryLock);
    factory = g_factory;
  }
  return factory ? factory() : MakeDefaultStack();
}

}  // namespace skelder::net
