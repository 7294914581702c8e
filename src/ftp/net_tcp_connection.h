#pragma once
// A TCP connection with an input buffer, line reading with a length limit, numeric replies
// (also multi-line), unbuffered writes and stream transfers with work (progress) events.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ftp/net_io_handler_socket.h"
#include "ftp/net_rfc_reply.h"
#include "ftp/net_stream.h"
#include "net/net_component.h"
#include "net/net_connection_intercept.h"
#include "net/net_exception.h"

namespace skelder::ftp {

using net::ENetConnClosedGracefully;
using net::ENetException;

SKELDER_NET_ERROR(ENetTCPConnectionError, ENetException, "");
SKELDER_NET_ERROR(ENetReadTimeout, ENetException, "Read Timeout");
// A peer took no data for ReadTimeout ms while a send waited.
SKELDER_NET_ERROR(ENetWriteTimeout, ENetException, "Write Timeout");
SKELDER_NET_ERROR(ENetReadLnMaxLineLengthExceeded, ENetException, "Max line length exceeded.");
SKELDER_NET_ERROR(ENetNotConnected, ENetTCPConnectionError, "Not Connected");
SKELDER_NET_ERROR(ENetNotEnoughDataInBuffer, ENetTCPConnectionError, "Not enough data in buffer.");
SKELDER_NET_ERROR(ENetNoDataToRead, ENetTCPConnectionError, "No data to read.");
SKELDER_NET_ERROR(ENetAlreadyConnected, ENetException, "Already connected.");
SKELDER_NET_ERROR(ENetConnectTimeout, ENetException, "Connect timed out.");
SKELDER_NET_ERROR(ENetConnectException, ENetException, "");
SKELDER_NET_ERROR(ENetClosedSocket, ENetException, "Disconnected.");
// A reply that did not end within MaxReplyLines lines or MaxReplyBytes bytes.
SKELDER_NET_ERROR(ENetReplyTooLong, ENetException, "Reply too long.");

class ENetFileNotFound : public ENetTCPConnectionError {
 public:
  explicit ENetFileNotFound(const std::string& fileName)
      : ENetTCPConnectionError("File \"" + fileName + "\" not found") {}
};

// A reply whose code was not accepted; the message is the reply's text lines, each + CR LF.
class ENetProtocolReplyError : public ENetException {
 public:
  ENetProtocolReplyError(int32_t code, const std::string& message) : ENetException(message), ReplyErrorCode(code) {}
  int32_t ReplyErrorCode;
};

// A byte buffer that takes bytes out at the front.
class TNetSimpleBuffer {
 public:
  virtual ~TNetSimpleBuffer() = default;

  virtual int32_t Size() const { return static_cast<int32_t>(bytes_.size()); }
  virtual const char* Data() const { return bytes_.data(); }
  // Sets the size (new bytes are zero); for a scratch buffer.
  virtual void SetSize(int32_t size);
  // The bytes themselves, for filling a scratch buffer in place.
  char* WritableData() { return bytes_.data(); }
  void Append(const char* data, int32_t count);
  // The first n bytes, removed; ENetNotEnoughDataInBuffer when fewer are held.
  std::string Extract(int32_t count);
  virtual void Remove(int32_t count);
  virtual void Clear();
  // 0-based position of `what` at or after `from` in the visible bytes, or -1.
  int32_t IndexOf(const std::string& what, int32_t from) const;

  std::function<void(TNetSimpleBuffer* ASender, int32_t ACount)> OnBytesRemoved;

 protected:
  void BytesRemoved(int32_t count) {
    if (OnBytesRemoved) OnBytesRemoved(this, count);
  }
  std::string bytes_;
};

// The input buffer: takes bytes out by advancing a consumed offset, and moves the rest to the
// front only once PackThreshold bytes have been consumed.
class TNetManagedBuffer : public TNetSimpleBuffer {
 public:
  int32_t Size() const override { return static_cast<int32_t>(bytes_.size()) - offset_; }
  const char* Data() const override { return bytes_.data() + offset_; }
  void SetSize(int32_t size) override;
  void Remove(int32_t count) override;
  void Clear() override;

  int32_t PackThreshold = 32768;
  int32_t ConsumedOffset() const { return offset_; }

 private:
  int32_t offset_ = 0;
};

enum TNetMaxLineAction : int { maException = 0, maSplit = 1 };

// Most bytes one readiness wait takes in (in receives of at most RecvBufferSize each), and the
// block a stream receive hands to its stream at once.
inline constexpr int32_t kReceiveBlockSize = 256 * 1024;

inline constexpr int32_t kUseReadTimeout = -1;

class TNetTCPConnection : public net::TNetComponent {
 public:
  explicit TNetTCPConnection(net::TNetBaseComponent* owner = nullptr);
  ~TNetTCPConnection() override;

  bool ASCIIFilter = false;
  TNetRFCReply Greeting;
  TNetMaxLineAction MaxLineAction = maException;
  int32_t MaxLineLength = 16384;  // 0: no limit
  net::TNetNotifyEvent OnDisconnected;
  int32_t ReadTimeout = 0;  // ms; 0 waits without limit; also bounds a send's wait
  int32_t RecvBufferSize = 32768;
  int32_t SendBufferSize = 32768;
  // Bounds of one reply: its lines, and its bytes with the blank lines before it (0: no limit).
  // Far above the longest reply of a real server (FEAT, HELP, STAT); they stop a server that
  // never ends its reply. ReadTimeout, when set, bounds the whole reply as well.
  int32_t MaxReplyLines = 10000;
  int32_t MaxReplyBytes = 1024 * 1024;
  // What the connection is to its user ("data connection"), named in its socket errors beside
  // the peer's address; empty for the main one.
  std::string PlaceName;

  net::TNetConnectionIntercept* Intercept() const { return intercept_; }
  void SetIntercept(net::TNetConnectionIntercept* intercept);  // borrowed
  TNetIOHandler* IOHandler() const { return ioHandler_; }
  // Borrowed: a handler assigned here is never freed by the connection.
  void SetIOHandler(TNetIOHandler* handler);
  // The handler when it is a socket handler, else null.
  TNetIOHandlerSocket* Socket() const { return socketHandler_; }

  TNetRFCReply& LastCmdResult() { return lastReply_; }
  const TNetRFCReply& LastCmdResult() const { return lastReply_; }
  TNetManagedBuffer& InputBuffer() { return input_; }
  bool ClosedGracefully() const { return closedGracefully_; }
  bool ReadLnSplit() const { return lineSplit_; }
  bool ReadLnTimedOut() const { return lineTimedOut_; }

  // Timeouts in ms: -1 = ReadTimeout (or no limit when that is 0), -2 = no limit.
  virtual void NotifyDisconnected();
  virtual void ResetInput();
  virtual std::string ReadAll();
  virtual void CheckDisconnect(bool raiseIfDisconnected = true, bool ignoreBuffer = false);
  virtual void PollForClose(bool raiseIfDisconnected);
  virtual int32_t CheckReply(int32_t code, const TNetReplyCodes& accepted);
  virtual bool IsConnected();
  virtual void CloseConnection();
  virtual void DropSocket();
  virtual int32_t AwaitReply(const TNetReplyCodes& accepted);
  [[noreturn]] virtual void RaiseReplyError();
  // Raises E with the last reply's message (its text lines, each + CR LF).
  template <class E>
  [[noreturn]] void RaiseReplyErrorAs() {
    throw E(lastReply_.JoinedText());
  }
  // Bytes received; -1 on timeout without raiseOnTimeout.
  virtual int32_t FillInputBuffer(bool raiseIfDisconnected = true, int32_t timeoutMs = kUseReadTimeout,
                                  bool raiseOnTimeout = true);
  // maxLength -1 = MaxLineLength. An explicit timeout that passes gives "" and ReadLnTimedOut.
  virtual std::string ReadLine(const std::string& terminator = "\n", int32_t timeoutMs = kUseReadTimeout,
                               int32_t maxLength = -1);
  virtual int32_t SendCommand(const std::string& line, const TNetReplyCodes& accepted);
  virtual void WriteText(const std::string& text);
  virtual void WriteLine(const std::string& text);
  virtual void SendStream(TNetStream& stream, bool fromBeginning = true, bool writeByteCount = false, int64_t size = 0);
  virtual int64_t SendFile(const std::string& fileName, bool allowPlatformTransmit = true);

  std::string ReadNonBlankLine(int32_t maxTries = 2147483647);
  // Each line of a reply as ReadReply takes it in (trimmed), before the reply is complete. What
  // the line reads afterwards is what the reply holds.
  virtual void ReplyLineRead(std::string& /*line*/) {}
  // One reply, its leading blank lines included, within MaxReplyLines and MaxReplyBytes and,
  // when ReadTimeout is set, within ReadTimeout from its start ("Read Timeout" after that).
  int32_t ReadReply();
  // "host:port" of the peer, or "" without a socket; for messages that must say where.
  std::string PeerText() const;
  // Adds PlaceName and the peer to a socket error's message.
  void NamePlace(net::ENetException& e) const;
  void WriteBytes(const void* data, int32_t count);
  void ReadBytes(void* destination, int32_t count);
  int32_t ReadInt32(bool networkOrder = true);
  void WriteInt32(int32_t value, bool networkOrder = true);
  std::string TakeInput();
  // byteCount -1 without readUntilClose: the count is read first as a network-order int32.
  void ReceiveStream(TNetStream& stream, int64_t byteCount = -1, bool readUntilClose = false);

 protected:
  void Notification(net::TNetBaseComponent* component) override;
  // For clients that create their own handler: takes ownership.
  void AdoptIOHandler(std::unique_ptr<TNetIOHandler> handler);
  bool OwnsHandler() const { return ownedHandler_ != nullptr; }
  void FreeOwnedHandler();
  bool HandlerConnected() const;

 private:
  // What one reply may still take: bytes (-1: any) and an end in monotonic ms (0: none).
  struct ReplyBudget {
    int64_t bytesLeft = -1;
    uint64_t deadline = 0;
  };
  std::string ReadLineWithin(const std::string& terminator, int32_t timeoutMs, int32_t maxLength, ReplyBudget* budget);
  std::string ReadReplyLine(ReplyBudget& budget);
  [[noreturn]] void RaiseReplyTooLong();
  // One readiness wait (timeoutMs), then bytes into destination: the receive the wait allows and,
  // without an intercept, the further ones that need no wait, up to capacity. Bytes (> 0); 0
  // when the peer closed or the connection went away; -1 when the wait timed out.
  int32_t ReceiveReady(char* destination, int32_t capacity, int32_t timeoutMs, bool raiseOnTimeout);
  // A failed receive with nothing received: raises unless it only means the peer is gone and
  // bytes are still buffered; 0 otherwise.
  int32_t ReceiveFailed(int32_t code);
  int32_t FillInputBufferOnce(bool raiseIfDisconnected, int32_t timeoutMs, bool raiseOnTimeout);
  void WriteBytesOnce(const void* data, int32_t count);
  // ReceiveStream without intercept or filter: straight from the socket into blocks.
  void ReceiveStreamDirect(TNetStream& stream, int64_t& remaining, bool readUntilClose);

  // Counts blocking operations in progress, so a handler that closes the connection from the
  // responsiveness hook cannot free the I/O handler under them.
  struct BusyScope {
    explicit BusyScope(TNetTCPConnection& c);
    ~BusyScope();
    TNetTCPConnection& connection;
  };
  bool closedGracefully_ = false;
  bool lineSplit_ = false;
  bool lineTimedOut_ = false;
  int busy_ = 0;
  std::unique_ptr<TNetIOHandler> ownedHandler_;
  std::unique_ptr<TNetIOHandler> retiredHandler_;  // freed once busy_ is back at 0
  TNetIOHandler* ioHandler_ = nullptr;
  TNetIOHandlerSocket* socketHandler_ = nullptr;
  net::TNetConnectionIntercept* intercept_ = nullptr;
  TNetManagedBuffer input_;
  TNetSimpleBuffer scratch_;
  std::vector<char> block_;    // ReceiveStreamDirect's, kept for the next transfer
  int32_t deferredError_ = 0;  // met after bytes that went out first; raised by the next receive
  TNetRFCReply lastReply_;
};

}  // namespace skelder::ftp
