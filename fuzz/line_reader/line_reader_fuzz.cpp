// Reads lines from arbitrary bytes with a fuzzed terminator, limit and limit action; lines never
// exceed the limit, never contain the terminator, and together with it account for every byte.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ftp/net_tcp_connection.h"
#include "memory_io_handler.h"

using namespace skelder::ftp;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  size_t piece = data[0] % 32 + 1;
  int32_t limit = data[1] % 50;  // 0: no limit
  TNetMaxLineAction action = data[2] % 2 == 0 ? maException : maSplit;
  std::string terminator;
  switch (data[3] % 4) {
    case 0:
      terminator = "\n";
      break;
    case 1:
      terminator = "\r\n";
      break;
    case 2:
      terminator = ";;";
      break;
    default:
      terminator = "";
      break;  // means LF
  }
  const std::string effective = terminator.empty() ? "\n" : terminator;
  skelder::test::MemoryIOHandler handler(std::string(reinterpret_cast<const char*>(data + 4), size - 4), piece);
  TNetTCPConnection connection;
  connection.SetIOHandler(&handler);
  connection.MaxLineLength = limit;
  connection.MaxLineAction = action;
  connection.RecvBufferSize = 8;
  try {
    for (int lines = 0; lines < 100000; ++lines) {
      std::string line = connection.ReadLine(terminator);
      if (limit != 0 && static_cast<int32_t>(line.size()) > limit) std::abort();
      if (!connection.ReadLnSplit() && line.find(effective) != std::string::npos) std::abort();
    }
  } catch (const ENetException&) {
  }
  return 0;
}
