// Any first line of a PASV reply either parses into a dotted address and a port from 0 to
// 65535 or raises the conversion error; nothing else may happen.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ftp/net_simple_server.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  try {
    const skelder::ftp::TNetPassiveAddress a = skelder::ftp::ParsePasvReply(line);
    if (a.Port < 0 || a.Port > 65535) std::abort();
    int dots = 0;
    for (char c : a.IP) {
      if (c == '.')
        ++dots;
      else if (c < '0' || c > '9')
        std::abort();
    }
    if (dots != 3 || a.IP.size() > 15) std::abort();
    const std::string port = skelder::ftp::FormatPortCommand(a.IP, a.Port);
    if (port.rfind("PORT ", 0) != 0) std::abort();
  } catch (const skelder::ftp::ENetConvertError&) {
  }
  return 0;
}
