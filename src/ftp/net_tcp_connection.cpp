#include "ftp/net_tcp_connection.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

#include "net/net_anti_freeze.h"
#include "net/net_stack.h"
#include "platform/ascii.h"
#include "platform/clock.h"

namespace skelder::ftp {

using net::ProcessStack;

// ---- buffers ---------------------------------------------------------------------------------

void TNetSimpleBuffer::SetSize(int32_t size) { bytes_.resize(static_cast<size_t>(std::max(size, 0))); }

void TNetSimpleBuffer::Append(const char* data, int32_t count) {
  if (count > 0) bytes_.append(data, static_cast<size_t>(count));
}

std::string TNetSimpleBuffer::Extract(int32_t count) {
  if (count > Size() || count < 0) throw ENetNotEnoughDataInBuffer();
  std::string result(Data(), static_cast<size_t>(count));
  Remove(count);
  return result;
}

void TNetSimpleBuffer::Remove(int32_t count) {
  if (count > Size() || count < 0) throw ENetNotEnoughDataInBuffer();
  if (count == Size())
    bytes_.clear();
  else
    bytes_.erase(0, static_cast<size_t>(count));
  BytesRemoved(count);
}

void TNetSimpleBuffer::Clear() { bytes_.clear(); }

int32_t TNetSimpleBuffer::IndexOf(const std::string& what, int32_t from) const {
  if (what.empty() || from < 0) return -1;
  const char* begin = Data();
  const char* end = begin + Size();
  if (from >= Size()) return -1;
  const char* hit = std::search(begin + from, end, what.begin(), what.end());
  return hit == end ? -1 : static_cast<int32_t>(hit - begin);
}

void TNetManagedBuffer::SetSize(int32_t size) { bytes_.resize(static_cast<size_t>(offset_ + std::max(size, 0))); }

void TNetManagedBuffer::Remove(int32_t count) {
  if (count > Size() || count < 0) throw ENetNotEnoughDataInBuffer();
  if (count == Size()) {
    bytes_.clear();
    offset_ = 0;
  } else {
    offset_ += count;
    if (offset_ >= PackThreshold) {
      bytes_.erase(0, static_cast<size_t>(offset_));
      offset_ = 0;
    }
  }
  BytesRemoved(count);
}

void TNetManagedBuffer::Clear() {
  bytes_.clear();
  offset_ = 0;
}

// ---- connection ------------------------------------------------------------------------------

TNetTCPConnection::BusyScope::BusyScope(TNetTCPConnection& c) : connection(c) { ++connection.busy_; }

TNetTCPConnection::BusyScope::~BusyScope() {
  if (--connection.busy_ == 0) connection.retiredHandler_.reset();
}

TNetTCPConnection::TNetTCPConnection(net::TNetBaseComponent* owner) : net::TNetComponent(owner) {
  input_.OnBytesRemoved = [this](TNetSimpleBuffer*, int32_t count) { AddWork(net::wkRead, count); };
}

TNetTCPConnection::~TNetTCPConnection() {
  try {
    DropSocket();
  } catch (...) {
  }
  input_.OnBytesRemoved = nullptr;
  if (intercept_ != nullptr) intercept_->RemoveFreeNotification(this);
  if (ioHandler_ != nullptr && ioHandler_ != ownedHandler_.get()) ioHandler_->RemoveFreeNotification(this);
}

void TNetTCPConnection::Notification(net::TNetBaseComponent* component) {
  if (component == intercept_) intercept_ = nullptr;
  if (component == ioHandler_) {
    ioHandler_ = nullptr;
    socketHandler_ = nullptr;
  }
}

void TNetTCPConnection::SetIntercept(net::TNetConnectionIntercept* intercept) {
  if (intercept_ != nullptr) intercept_->RemoveFreeNotification(this);
  intercept_ = intercept;
  if (intercept_ != nullptr) intercept_->FreeNotification(this);
}

void TNetTCPConnection::SetIOHandler(TNetIOHandler* handler) {
  if (handler == ioHandler_) return;
  if (ioHandler_ != nullptr && ioHandler_ != ownedHandler_.get()) ioHandler_->RemoveFreeNotification(this);
  FreeOwnedHandler();
  ioHandler_ = handler;
  socketHandler_ = dynamic_cast<TNetIOHandlerSocket*>(handler);
  if (ioHandler_ != nullptr) ioHandler_->FreeNotification(this);
}

void TNetTCPConnection::AdoptIOHandler(std::unique_ptr<TNetIOHandler> handler) {
  SetIOHandler(nullptr);
  ownedHandler_ = std::move(handler);
  ioHandler_ = ownedHandler_.get();
  socketHandler_ = dynamic_cast<TNetIOHandlerSocket*>(ioHandler_);
}

void TNetTCPConnection::FreeOwnedHandler() {
  if (!ownedHandler_) return;
  if (ioHandler_ == ownedHandler_.get()) {
    ioHandler_ = nullptr;
    socketHandler_ = nullptr;
  }
  // A read or write below us may still be using it (a handler run from the responsiveness
  // hook closed the connection): keep it until that operation unwinds.
  if (busy_ > 0)
    retiredHandler_ = std::move(ownedHandler_);
  else
    ownedHandler_.reset();
}

bool TNetTCPConnection::HandlerConnected() const { return ioHandler_ != nullptr && ioHandler_->HandleConnected(); }

void TNetTCPConnection::NotifyDisconnected() {
  if (OnDisconnected) OnDisconnected(this);
}

void TNetTCPConnection::ResetInput() {
  input_.Clear();
  deferredError_ = 0;
  closedGracefully_ = false;
}

void TNetTCPConnection::CheckDisconnect(bool raiseIfDisconnected, bool ignoreBuffer) {
  bool disconnected;
  if (closedGracefully_ || ioHandler_ == nullptr) {
    if (ioHandler_ != nullptr && ioHandler_->HandleConnected()) {
      DropSocket();
      ReportStatus(net::stDisconnected);
      NotifyDisconnected();
    }
    disconnected = ioHandler_ != nullptr;
  } else {
    disconnected = !ioHandler_->HandleConnected();
  }
  if (disconnected && raiseIfDisconnected && (input_.Size() == 0 || ignoreBuffer)) throw ENetConnClosedGracefully();
}

bool TNetTCPConnection::IsConnected() {
  CheckDisconnect(false, false);
  return HandlerConnected();
}

void TNetTCPConnection::DropSocket() {
  if (ioHandler_ == nullptr) return;
  closedGracefully_ = true;
  if (intercept_ != nullptr) intercept_->Disconnect();
  ioHandler_->CloseBinding();
}

void TNetTCPConnection::CloseConnection() {
  bool wasConnected = HandlerConnected();
  if (wasConnected) {
    ReportStatus(net::stDisconnecting);
    DropSocket();
  }
  FreeOwnedHandler();
  if (wasConnected) {
    NotifyDisconnected();
    ReportStatus(net::stDisconnected);
  }
}

int32_t TNetTCPConnection::ReceiveReady(char* destination, int32_t capacity, int32_t timeoutMs, bool raiseOnTimeout) {
  const int32_t piece = std::max(RecvBufferSize, 1);
  if (deferredError_ != 0) {
    // A failure met while draining, after bytes that were handed out: it counts now.
    const int32_t code = deferredError_;
    deferredError_ = 0;
    return ReceiveFailed(code);
  }
  if (!ioHandler_->WaitReadable(timeoutMs)) {
    if (raiseOnTimeout) throw ENetReadTimeout();
    return -1;
  }
  if (ioHandler_ == nullptr) return 0;  // closed by a handler during the wait
  closedGracefully_ = false;
  int32_t total = 0;
  int count = ioHandler_->ReceiveInto(destination, std::min(capacity, piece));
  // Whatever else has arrived is taken without another wait: on a fast link a wait per piece
  // costs more than the piece.
  while (count > 0) {
    total += count;
    if (total >= capacity || intercept_ != nullptr) return total;
    count = ioHandler_->ReceiveNow(destination + total, std::min(capacity - total, piece));
    if (count == net::kNothingWaiting) return total;
  }
  if (count == 0) {
    closedGracefully_ = true;
  } else if (total > 0) {
    // The bytes go to the caller first; the failure is raised by the next receive.
    deferredError_ = ProcessStack().LastSocketError();
  } else {
    net::TNetStack& stack = ProcessStack();
    stack.CheckSocketResult(count, {net::kErrShutdown, net::kErrConnAborted});  // others raise
    ReceiveFailed(stack.LastError());
  }
  return total;
}

int32_t TNetTCPConnection::ReceiveFailed(int32_t code) {
  if (code != net::kErrShutdown && code != net::kErrConnAborted) ProcessStack().RaiseSocketFailure(code);
  DropSocket();
  if (input_.Size() == 0) ProcessStack().RaiseSocketFailure(code);
  return 0;
}

int32_t TNetTCPConnection::FillInputBuffer(bool raiseIfDisconnected, int32_t timeoutMs, bool raiseOnTimeout) {
  try {
    return FillInputBufferOnce(raiseIfDisconnected, timeoutMs, raiseOnTimeout);
  } catch (net::ENetSocketError& e) {
    NamePlace(e);
    throw;
  }
}

int32_t TNetTCPConnection::FillInputBufferOnce(bool raiseIfDisconnected, int32_t timeoutMs, bool raiseOnTimeout) {
  BusyScope busy(*this);
  if (timeoutMs == kUseReadTimeout) timeoutMs = ReadTimeout == 0 ? net::kWaitForever : ReadTimeout;
  int32_t result = 0;
  CheckDisconnect(raiseIfDisconnected, false);
  if (!HandlerConnected()) {
    if (raiseIfDisconnected) throw ENetNotConnected();
    return 0;
  }
  do {
    if (ioHandler_ == nullptr) {
      if (raiseIfDisconnected) throw ENetNotConnected();
      return 0;
    }
    const int32_t capacity = intercept_ != nullptr ? std::max(RecvBufferSize, 1) : kReceiveBlockSize;
    if (scratch_.Size() < capacity) scratch_.SetSize(capacity);
    int32_t count = ReceiveReady(scratch_.WritableData(), capacity, timeoutMs, raiseOnTimeout);
    if (count == -1) return -1;
    if (ioHandler_ == nullptr) {  // closed by a handler during the wait
      if (raiseIfDisconnected) throw ENetNotConnected();
      return 0;
    }
    if (count > 0) {
      const char* bytes = scratch_.Data();
      std::string data;
      if (intercept_ != nullptr) {
        data.assign(bytes, static_cast<size_t>(count));
        intercept_->Receive(data);
        count = static_cast<int32_t>(data.size());
        bytes = data.data();
      }
      if (ASCIIFilter) {
        char* p = data.empty() ? scratch_.WritableData() : data.data();
        for (int32_t i = 0; i < count; ++i) p[i] = static_cast<char>(static_cast<unsigned char>(p[i]) & 0x7F);
      }
      input_.Append(bytes, count);
    }
    CheckDisconnect(raiseIfDisconnected, false);
    result = count;
  } while (result == 0 && HandlerConnected());
  return result;
}

void TNetTCPConnection::PollForClose(bool raiseIfDisconnected) { FillInputBuffer(raiseIfDisconnected, 1, false); }

std::string TNetTCPConnection::ReadLine(const std::string& terminator, int32_t timeoutMs, int32_t maxLength) {
  return ReadLineWithin(terminator, timeoutMs, maxLength, nullptr);
}

std::string TNetTCPConnection::ReadLineWithin(const std::string& terminatorIn, int32_t timeoutMs, int32_t maxLength,
                                              ReplyBudget* budget) {
  const std::string terminator = terminatorIn.empty() ? std::string("\n") : terminatorIn;
  if (maxLength == -1) maxLength = MaxLineLength;
  lineSplit_ = false;
  lineTimedOut_ = false;
  const int32_t termLen = static_cast<int32_t>(terminator.size());
  int32_t scanned = 0;
  int32_t found = -1;  // 0-based position of the terminator
  while (true) {
    if (input_.Size() > 0) {
      // Only the bytes since the last scan, plus a terminator's length back for a split one.
      found = input_.IndexOf(terminator, std::max(0, scanned - (termLen - 1)));
      scanned = input_.Size();
    }
    const bool tooLong = maxLength != 0 && (found >= 0 ? found > maxLength : scanned > maxLength);
    if (tooLong) {
      if (MaxLineAction == maException) throw ENetReadLnMaxLineLengthExceeded();
      lineSplit_ = true;
      if (budget && budget->bytesLeft >= 0 && (budget->bytesLeft -= maxLength) < 0) RaiseReplyTooLong();
      return input_.Extract(maxLength);
    }
    if (found >= 0) break;
    // Without a line limit the reply's own limit keeps an endless line from filling memory.
    if (budget && budget->bytesLeft >= 0 && scanned > budget->bytesLeft) RaiseReplyTooLong();
    CheckDisconnect(true, true);
    int32_t wait = timeoutMs;
    if (budget && budget->deadline != 0) {
      // The reply's deadline, not the last byte, decides: a trickle must not keep it alive.
      const uint64_t now = platform::MonotonicMs();
      if (now >= budget->deadline) throw ENetReadTimeout();
      wait = static_cast<int32_t>(std::min<uint64_t>(budget->deadline - now, INT32_MAX));
    }
    if (FillInputBuffer(true, wait, timeoutMs == kUseReadTimeout) == -1) {
      lineTimedOut_ = true;
      return std::string();
    }
  }
  if (budget && budget->bytesLeft >= 0 && (budget->bytesLeft -= found + termLen) < 0) RaiseReplyTooLong();
  std::string line = input_.Extract(found + termLen);
  line.resize(static_cast<size_t>(found));
  if (terminator == "\n" && !line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string TNetTCPConnection::ReadNonBlankLine(int32_t maxTries) {
  std::string line;
  for (int32_t i = 0; i < maxTries; ++i) {
    line = ReadLine("\n", kUseReadTimeout, -1);
    size_t b = 0, e = line.size();
    while (b < e && static_cast<unsigned char>(line[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(line[e - 1]) <= ' ') --e;
    line = line.substr(b, e - b);
    if (!line.empty()) break;
  }
  return line;
}

namespace {
bool SamePrefix(const std::string& line, const std::string& prefix) {
  return line.size() >= prefix.size() &&
         platform::EqualsIgnoringAsciiCase(std::string_view(line).substr(0, prefix.size()), prefix);
}
}  // namespace

std::string TNetTCPConnection::ReadReplyLine(ReplyBudget& budget) {
  while (true) {
    std::string line = ReadLineWithin("\n", kUseReadTimeout, -1, &budget);
    size_t b = 0, e = line.size();
    while (b < e && static_cast<unsigned char>(line[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(line[e - 1]) <= ' ') --e;
    if (e > b) return line.substr(b, e - b);
  }
}

void TNetTCPConnection::RaiseReplyTooLong() {
  const std::string peer = PeerText();
  throw ENetReplyTooLong("Reply too long: the server" + (peer.empty() ? std::string() : " at " + peer) +
                         " sent more than " + std::to_string(MaxReplyLines) + " lines or " +
                         std::to_string(MaxReplyBytes) + " bytes without ending its reply.");
}

std::string TNetTCPConnection::PeerText() const {
  const net::TNetSocketHandle* binding = socketHandler_ ? socketHandler_->Binding() : nullptr;
  if (binding == nullptr || binding->PeerIP.empty()) return std::string();
  return binding->PeerIP + ":" + std::to_string(binding->PeerPort);
}

void TNetTCPConnection::NamePlace(net::ENetException& e) const {
  const std::string peer = PeerText();
  if (PlaceName.empty())
    e.AddPlace(peer);
  else
    e.AddPlace(peer.empty() ? PlaceName : PlaceName + ", " + peer);
}

int32_t TNetTCPConnection::ReadReply() {
  ReplyBudget budget;
  if (MaxReplyBytes > 0) budget.bytesLeft = MaxReplyBytes;
  if (ReadTimeout > 0) budget.deadline = platform::MonotonicMs() + static_cast<uint64_t>(ReadTimeout);
  std::vector<std::string> lines;
  lines.push_back(ReadReplyLine(budget));
  ReplyLineRead(lines.back());
  const std::string first = lines.front();
  if (first.size() > 3 && first[3] == '-') {
    const std::string closing = first.substr(0, 3) + " ";
    while (true) {
      if (MaxReplyLines > 0 && lines.size() >= static_cast<size_t>(MaxReplyLines)) RaiseReplyTooLong();
      lines.push_back(ReadReplyLine(budget));
      ReplyLineRead(lines.back());
      const std::string& line = lines.back();
      if (line.size() < 4 || SamePrefix(line, closing)) break;
    }
  }
  ParseReplyLines(lines, lastReply_);
  return lastReply_.NumericCode();
}

int32_t TNetTCPConnection::CheckReply(int32_t code, const TNetReplyCodes& accepted) {
  if (!accepted.Empty() && !accepted.Contains(code)) RaiseReplyError();
  return code;
}

int32_t TNetTCPConnection::AwaitReply(const TNetReplyCodes& accepted) {
  ReadReply();
  return CheckReply(lastReply_.NumericCode(), accepted);
}

int32_t TNetTCPConnection::SendCommand(const std::string& line, const TNetReplyCodes& accepted) {
  WriteLine(line);
  return AwaitReply(accepted);
}

void TNetTCPConnection::RaiseReplyError() {
  throw ENetProtocolReplyError(lastReply_.NumericCode(), lastReply_.JoinedText());
}

void TNetTCPConnection::WriteBytes(const void* data, int32_t count) {
  try {
    WriteBytesOnce(data, count);
  } catch (net::ENetSocketError& e) {
    NamePlace(e);
    throw;
  }
}

void TNetTCPConnection::WriteBytesOnce(const void* data, int32_t count) {
  if (count <= 0) return;
  BusyScope busy(*this);
  CheckDisconnect(true, true);
  if (!HandlerConnected()) throw ENetNotConnected();
  const char* bytes = static_cast<const char*>(data);
  std::string transformed;
  if (intercept_ != nullptr) {
    transformed.assign(bytes, static_cast<size_t>(count));
    intercept_->Send(transformed);
    bytes = transformed.data();
    count = static_cast<int32_t>(transformed.size());
  }
  int32_t position = 0;
  while (position < count) {
    if (ioHandler_ == nullptr) throw ENetNotConnected();
    // A peer that stops taking data must not hold a send for good.
    if (ReadTimeout > 0 && !ioHandler_->WaitWritable(ReadTimeout)) throw ENetWriteTimeout();
    int sent = ioHandler_->SendFrom(bytes + position, count - position);
    net::RunHook(false, false);
    if (sent == 0) closedGracefully_ = true;
    CheckDisconnect(true, false);
    if (sent < 0) {
      net::TNetStack& stack = ProcessStack();
      stack.CheckSocketResult(sent, {net::kErrShutdown, net::kErrConnAborted, net::kErrConnReset});
      int32_t code = stack.LastError();
      DropSocket();
      stack.RaiseSocketFailure(code);
    }
    AddWork(net::wkWrite, sent);
    position += sent;
  }
}

void TNetTCPConnection::WriteText(const std::string& text) {
  WriteBytes(text.data(), static_cast<int32_t>(text.size()));
}

void TNetTCPConnection::WriteLine(const std::string& text) {
  // The line and its end go out in one piece.
  WriteText(text + "\r\n");
}

void TNetTCPConnection::ReadBytes(void* destination, int32_t count) {
  if (count <= 0) return;
  while (input_.Size() < count) {
    CheckDisconnect(true, true);
    FillInputBuffer(true, kUseReadTimeout, true);
  }
  std::memcpy(destination, input_.Data(), static_cast<size_t>(count));
  input_.Remove(count);
}

int32_t TNetTCPConnection::ReadInt32(bool networkOrder) {
  uint32_t value = 0;
  ReadBytes(&value, 4);
  if (networkOrder) value = ProcessStack().NetToHost32(value);
  return static_cast<int32_t>(value);
}

void TNetTCPConnection::WriteInt32(int32_t value, bool networkOrder) {
  uint32_t v = static_cast<uint32_t>(value);
  if (networkOrder) v = ProcessStack().HostToNet32(v);
  WriteBytes(&v, 4);
}

std::string TNetTCPConnection::TakeInput() {
  if (IsConnected()) FillInputBuffer(false, kUseReadTimeout, true);
  return input_.Extract(input_.Size());
}

std::string TNetTCPConnection::ReadAll() {
  std::string result;
  StartWork(net::wkRead, 0);
  try {
    while (IsConnected()) result += TakeInput();
    result += input_.Extract(input_.Size());
  } catch (...) {
    FinishWork(net::wkRead);
    throw;
  }
  FinishWork(net::wkRead);
  return result;
}

void TNetTCPConnection::ReceiveStream(TNetStream& stream, int64_t byteCount, bool readUntilClose) {
  if (byteCount == -1 && !readUntilClose) byteCount = ReadInt32(true);
  if (byteCount >= 0) stream.SetSize(stream.Position() + byteCount);
  // 64-bit: reading until close must not stop at 2 GiB.
  int64_t remaining = readUntilClose ? INT64_MAX : std::max<int64_t>(byteCount, 0);
  StartWork(net::wkRead, readUntilClose ? 0 : remaining);
  auto finish = [&] {
    FinishWork(net::wkRead);
    if (stream.Size() > stream.Position()) stream.SetSize(stream.Position());
  };
  try {
    int32_t buffered = static_cast<int32_t>(std::min<int64_t>(remaining, input_.Size()));
    if (buffered > 0) {
      stream.Write(input_.Data(), buffered);
      input_.Remove(buffered);
      remaining -= buffered;
    }
    if (intercept_ == nullptr && !ASCIIFilter) {
      ReceiveStreamDirect(stream, remaining, readUntilClose);
    } else {
      const int32_t chunkSize = static_cast<int32_t>(std::min<int64_t>(remaining, std::max(RecvBufferSize, 1)));
      std::vector<char> chunk(static_cast<size_t>(std::max(chunkSize, 0)));
      // Bytes still buffered after the peer closed belong to the stream too.
      while (remaining > 0 && (IsConnected() || input_.Size() > 0)) {
        int32_t n = static_cast<int32_t>(std::min<int64_t>(remaining, chunkSize));
        // What did arrive goes to the stream, also when the transfer fails: nothing received is
        // lost, and a later resume can start after it.
        auto takeBuffered = [&] {
          n = static_cast<int32_t>(std::min<int64_t>(remaining, input_.Size()));
          std::memcpy(chunk.data(), input_.Data(), static_cast<size_t>(n));
          input_.Remove(n);
        };
        try {
          ReadBytes(chunk.data(), n);
        } catch (const ENetConnClosedGracefully&) {
          takeBuffered();
          if (!readUntilClose) {
            stream.Write(chunk.data(), n);
            throw;
          }
        } catch (const ENetException&) {
          takeBuffered();
          stream.Write(chunk.data(), n);
          throw;
        }
        if (n > 0) {
          stream.Write(chunk.data(), n);
          remaining -= n;
        }
      }
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

void TNetTCPConnection::ReceiveStreamDirect(TNetStream& stream, int64_t& remaining, bool readUntilClose) {
  // Called with the input buffer empty; it stays empty, so nothing is held back at a failure:
  // every block is in the stream before the next receive.
  if (block_.size() < static_cast<size_t>(kReceiveBlockSize)) block_.resize(static_cast<size_t>(kReceiveBlockSize));
  const int32_t timeoutMs = ReadTimeout == 0 ? net::kWaitForever : ReadTimeout;
  if (remaining > 0 && !IsConnected()) return;  // nothing to receive from, as on the plain path
  try {
    while (remaining > 0) {
      int32_t got = 0;
      {
        BusyScope busy(*this);
        // A close that came with the last block raises here, after that block was written.
        CheckDisconnect(true, false);
        if (!HandlerConnected()) throw ENetNotConnected();
        const int32_t want = static_cast<int32_t>(std::min<int64_t>(remaining, kReceiveBlockSize));
        got = ReceiveReady(block_.data(), want, timeoutMs, true);
        if (ioHandler_ == nullptr) throw ENetNotConnected();  // closed by a handler during the wait
        if (got == 0) CheckDisconnect(true, false);
      }
      if (got > 0) {
        stream.Write(block_.data(), got);
        remaining -= got;
        AddWork(net::wkRead, got);
      }
    }
  } catch (const ENetConnClosedGracefully&) {
    if (!readUntilClose) throw;
  } catch (net::ENetSocketError& e) {
    NamePlace(e);
    throw;
  }
}

void TNetTCPConnection::SendStream(TNetStream& stream, bool fromBeginning, bool writeByteCount, int64_t size) {
  if (fromBeginning) stream.SetPosition(0);
  const int64_t end = size != 0 ? stream.Position() + size : stream.Size();
  int64_t total = std::max<int64_t>(end - stream.Position(), 0);
  if (writeByteCount) WriteInt32(static_cast<int32_t>(total), true);
  StartWork(net::wkWrite, total);
  try {
    const int32_t chunkSize = std::max(SendBufferSize, 1);
    std::vector<char> chunk(static_cast<size_t>(chunkSize));
    while (true) {
      int64_t n = std::min<int64_t>(end - stream.Position(), chunkSize);
      if (n <= 0) break;
      int64_t got = stream.Read(chunk.data(), n);
      if (got <= 0) throw ENetNoDataToRead();
      WriteBytes(chunk.data(), static_cast<int32_t>(got));
    }
  } catch (...) {
    FinishWork(net::wkWrite);
    throw;
  }
  FinishWork(net::wkWrite);
}

int64_t TNetTCPConnection::SendFile(const std::string& fileName, bool allowPlatformTransmit) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(fileName, ec)) throw ENetFileNotFound(fileName);
  net::TNetStack& stack = ProcessStack();
  if (stack.HasFileTransmit() && intercept_ == nullptr && allowPlatformTransmit && socketHandler_ != nullptr &&
      socketHandler_->PassesBytesUnchanged() && socketHandler_->Binding() != nullptr)
    return stack.TransmitFile(socketHandler_->Binding()->Socket(), fileName);
  TNetFileStream file(fileName, TNetFileStream::fmOpenRead);
  SendStream(file, true, false, 0);
  return file.Size();
}

}  // namespace skelder::ftp
