// A trace line's text from arbitrary bytes, as a server's reply line or a command reaches it.
// Properties that must hold for any input:
// - the text is one line of printable bytes (no control byte but none at all), never longer
//   than the limit and its mark, and it is the input itself when the input is short and plain;
// - a masked "PASS" command shows nothing of its argument;
// - an error's message on one line has no line end in it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ftp/net_ftp_trace.h"

using namespace skelder::ftp;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string text = TraceLineText(input);
  for (char c : text) Check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
  Check(text.size() <= kMaxTraceLineBytes + 48);
  bool plain = input.size() <= kMaxTraceLineBytes;
  for (char c : input) plain = plain && static_cast<unsigned char>(c) >= 0x20 && c != 0x7F && c != '\\';
  if (plain) Check(text == input);

  const std::string command = "PASS " + input;
  Check(MaskedCommand(command) == "PASS ****");
  const std::string other = MaskedCommand(input);
  Check(other == input || other.substr(other.size() - 5) == " ****");

  const std::string message = TraceMessage(input);
  Check(message.find_first_of("\r\n") == std::string::npos || input.find('\r') != std::string::npos);
  Check(message.find('\n') == std::string::npos);
  return 0;
}
