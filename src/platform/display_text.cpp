#include "platform/display_text.h"

#include <cstdio>

#include "platform/ascii.h"

namespace skelder::platform {

namespace {

constexpr const char* kMask = "****";

// The length of the control character at text[i], 0 for a byte that is shown as it is.
size_t ControlAt(const std::string& text, size_t i, bool keepLines) {
  const auto c = static_cast<unsigned char>(text[i]);
  if (c == '\n') return keepLines ? 0 : 1;
  if (c == '\r' && keepLines && i + 1 < text.size() && text[i + 1] == '\n') return 0;
  if (c < 0x20 || c == 0x7F) return 1;
  // U+0080..U+009F in UTF-8: some terminals take U+009B as the start of a control sequence.
  if (c == 0xC2 && i + 1 < text.size()) {
    const auto next = static_cast<unsigned char>(text[i + 1]);
    if (next >= 0x80 && next <= 0x9F) return 2;
  }
  return 0;
}

std::string Escape(const std::string& text, bool keepLines) {
  size_t i = 0;
  while (i < text.size() && ControlAt(text, i, keepLines) == 0) ++i;
  // Nothing to escape, by far the most common case: the text itself.
  if (i == text.size()) return text;
  std::string out(text, 0, i);
  while (i < text.size()) {
    const size_t length = ControlAt(text, i, keepLines);
    if (length == 0) {
      out += text[i++];
      continue;
    }
    switch (text[i]) {
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        for (size_t k = 0; k < length; ++k) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\x%02X", static_cast<unsigned char>(text[i + k]));
          out += buffer;
        }
    }
    i += length;
  }
  return out;
}

}  // namespace

std::string MaskFtpPasswords(const std::string& text) {
  // Most lines hold no location at all: nothing to look at further.
  if (text.find("://") == std::string::npos) return text;
  const std::string lower = AsciiLower(text);
  std::string out;
  size_t done = 0;
  size_t at = lower.find("ftp://");
  while (at != std::string::npos) {
    const size_t start = at + 6;
    if (at < done) {
      // Inside what was masked already (a password that holds "ftp://").
      at = lower.find("ftp://", done);
      continue;
    }
    size_t end = text.find_first_of(",\r\n", start);
    if (end == std::string::npos) end = text.size();
    const size_t firstAt = text.find('@', start);
    if (firstAt != std::string::npos && firstAt < end) {
      // The host starts after the last "@" before the first "/" that follows an "@": what a
      // password typed with "@" leaves of itself in front of the host is the user's secret too.
      const size_t slash = text.find('/', firstAt);
      const size_t hostEnd = slash != std::string::npos && slash < end ? slash : end;
      const size_t lastAt = text.rfind('@', hostEnd - 1);
      const size_t colon = text.find(':', start);
      if (colon != std::string::npos && colon < firstAt) {
        out.append(text, done, colon + 1 - done);
        out += kMask;
        done = lastAt;
      } else if (lastAt != firstAt) {
        out.append(text, done, firstAt + 1 - done);
        out += kMask;
        done = lastAt;
      }
    }
    at = lower.find("ftp://", start);
  }
  if (done == 0) return text;
  out.append(text, done, std::string::npos);
  return out;
}

std::string EscapeControls(const std::string& text) { return Escape(text, false); }
std::string EscapeControlsKeepLineEnds(const std::string& text) { return Escape(text, true); }

}  // namespace skelder::platform
