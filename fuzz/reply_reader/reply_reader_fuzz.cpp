// Reads replies from arbitrary bytes until the input ends; every failure must be one of the
// client's own errors, and every reply must keep its code rules. With the third byte odd, the
// bytes become one continuation line that the server repeats for ever: the reader must end with
// its reply limit (or the line limit) after reading no more than that limit allows.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ftp/net_tcp_connection.h"
#include "memory_io_handler.h"

using namespace skelder::ftp;

namespace {

int EndlessReply(const uint8_t* data, size_t size) {
  std::string text;
  for (size_t i = 4; i < size; ++i)
    if (data[i] != '\n') text += static_cast<char>(data[i]);
  // "220-" first: whatever follows, no line of it ends the reply.
  const std::string unit = "220-" + text + "\r\n";
  skelder::test::MemoryIOHandler handler("", data[0] % 64 + 1, unit);
  TNetTCPConnection connection;
  connection.SetIOHandler(&handler);
  connection.RecvBufferSize = 16;
  connection.MaxLineLength = data[1] % 2 == 0 ? 16384 : 1 + data[1] % 40;
  connection.MaxReplyLines = 1 + data[3] % 50;
  connection.MaxReplyBytes = 1 + data[2] * 64;
  try {
    connection.ReadReply();
  } catch (const ENetReplyTooLong&) {
    // What the reader took in is bounded by the limits, not by the server.
    const size_t bound = static_cast<size_t>(connection.MaxReplyBytes) +
                         static_cast<size_t>(connection.MaxReplyLines) * unit.size() + 2 * unit.size() +
                         kReceiveBlockSize;
    if (handler.served() > bound) std::abort();
    return 0;
  } catch (const ENetReadLnMaxLineLengthExceeded&) {
    return 0;
  }
  std::abort();  // an endless reply ended, or ended otherwise
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  if (size >= 4 && data[2] % 2 == 1) return EndlessReply(data, size);
  // The first byte picks the receive piece size, the second the line limit.
  size_t piece = data[0] % 64 + 1;
  int32_t limit = data[1] % 2 == 0 ? 16384 : 1 + data[1] % 40;
  skelder::test::MemoryIOHandler handler(std::string(reinterpret_cast<const char*>(data + 2), size - 2), piece);
  TNetTCPConnection connection;
  connection.SetIOHandler(&handler);
  connection.MaxLineLength = limit;
  connection.RecvBufferSize = 16;
  try {
    for (int replies = 0; replies < 10000; ++replies) {
      int32_t code = connection.ReadReply();
      const TNetRFCReply& reply = connection.LastCmdResult();
      if (code != reply.NumericCode() || reply.Text.empty()) std::abort();
      // A positive code always comes from a code text holding that number.
      if (code > 0 && std::stol(reply.TextCode()) != code) std::abort();
      try {
        connection.CheckReply(code, {200, 220, 331});
      } catch (const ENetProtocolReplyError& e) {
        if (e.ReplyErrorCode != code) std::abort();
      }
    }
  } catch (const ENetException&) {
    // Closed, overlong line or the like: the reader must end this way, never otherwise.
  }
  return 0;
}
