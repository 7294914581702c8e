// Reads replies from arbitrary bytes until the input ends; every failure must be one of the
// client's own errors, and every reply must keep its code rules.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ftp/net_tcp_connection.h"
#include "memory_io_handler.h"

using namespace skelder::ftp;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
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
