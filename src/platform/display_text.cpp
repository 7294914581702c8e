#include "platform/display_text.h"

#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

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

namespace {

// Where the secret of each FTP location ("ftp://" or "ftps://" in any letter case) lies: the
// user's password after the ":" of the user information, or, without a ":", what a password typed
// with "@" leaves of itself between the first and the last "@". A location runs to the end of its
// line or to a ","; the host starts after the last "@" before the first "/" that follows an "@".
struct FtpSecret {
  size_t begin, end;  // the secret, text[begin, end)
  std::string user;   // the user information before it
  std::string host;   // host (and port), letter case folded
};

// The next "ftp://" or "ftps://" (lower-case text) at or after `from`, and where its rest starts.
size_t FindScheme(const std::string& lower, size_t from, size_t& rest) {
  const size_t plain = lower.find("ftp://", from);
  const size_t tls = lower.find("ftps://", from);
  if (tls < plain) {
    rest = tls + 7;
    return tls;
  }
  rest = plain + 6;
  return plain;
}

std::vector<FtpSecret> FtpSecrets(const std::string& text) {
  std::vector<FtpSecret> secrets;
  // Most texts hold no location at all: nothing to look at further.
  if (text.find("://") == std::string::npos) return secrets;
  const std::string lower = AsciiLower(text);
  size_t done = 0;
  size_t start = 0;
  for (size_t at = FindScheme(lower, 0, start); at != std::string::npos;) {
    if (at < done) {
      // Inside a secret already found (a password that holds "ftp://").
      at = FindScheme(lower, done, start);
      continue;
    }
    size_t end = text.find_first_of(",\r\n", start);
    if (end == std::string::npos) end = text.size();
    const size_t firstAt = text.find('@', start);
    if (firstAt != std::string::npos && firstAt < end) {
      const size_t slash = text.find('/', firstAt);
      const size_t hostEnd = slash != std::string::npos && slash < end ? slash : end;
      const size_t lastAt = text.rfind('@', hostEnd - 1);
      const size_t colon = text.find(':', start);
      const std::string host = lower.substr(lastAt + 1, hostEnd - lastAt - 1);
      if (colon != std::string::npos && colon < firstAt) {
        secrets.push_back({colon + 1, lastAt, text.substr(start, colon - start), host});
        done = lastAt;
      } else if (lastAt != firstAt) {
        secrets.push_back({firstAt + 1, lastAt, text.substr(start, firstAt - start), host});
        done = lastAt;
      }
    }
    at = FindScheme(lower, start, start);
  }
  return secrets;
}

// The text with each secret replaced by what `with` gives for it.
template <typename With>
std::string ReplaceSecrets(const std::string& text, const std::vector<FtpSecret>& secrets, With with) {
  if (secrets.empty()) return text;
  std::string out;
  size_t done = 0;
  for (const FtpSecret& s : secrets) {
    out.append(text, done, s.begin - done);
    out += with(s);
    done = s.end;
  }
  out.append(text, done, std::string::npos);
  return out;
}

}  // namespace

std::string MaskFtpPasswords(const std::string& text) {
  return ReplaceSecrets(text, FtpSecrets(text), [](const FtpSecret&) { return std::string(kMask); });
}

std::string MaskPassword(const std::string& text, const std::string& password, size_t from) {
  if (password.empty()) return text;
  std::string out = text;
  const std::string mask = kMask;
  for (size_t at = out.find(password, from); at != std::string::npos; at = out.find(password, at + mask.size()))
    out.replace(at, password.size(), mask);
  return out;
}

std::string RestoreMaskedFtpPasswords(const std::string& edited, const std::string& stored,
                                      std::vector<std::string>* unmatched) {
  const std::vector<FtpSecret> before = FtpSecrets(stored);
  return ReplaceSecrets(edited, FtpSecrets(edited), [&](const FtpSecret& s) {
    const std::string given = edited.substr(s.begin, s.end - s.begin);
    if (given != kMask) return given;
    for (const FtpSecret& old : before)
      if (old.user == s.user && old.host == s.host) return stored.substr(old.begin, old.end - old.begin);
    if (unmatched) unmatched->push_back(s.user + "@" + s.host);
    return given;
  });
}

namespace {

// One UTF-8 character at text[i]: its code point and length; a byte that starts no valid
// sequence is a character of its own (a code point of -1).
std::pair<int32_t, size_t> DecodeAt(const std::string& text, size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x80) return {lead, 1};
  const size_t length = lead >= 0xF0 && lead < 0xF5 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
  if (length == 0 || i + length > text.size()) return {-1, 1};
  int32_t code = lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return {-1, 1};
    code = (code << 6) | (next & 0x3F);
  }
  return {code, length};
}

// Columns a character takes: the ranges terminals draw two columns wide, and the combining and
// zero-width marks they draw on the character before.
int ColumnsOf(int32_t code) {
  struct Range {
    int32_t first, last;
  };
  static constexpr Range kNone[] = {{0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x0610, 0x061A},
                                    {0x064B, 0x065F}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F},
                                    {0x20D0, 0x20FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}};
  static constexpr Range kWide[] = {{0x1100, 0x115F},   {0x2E80, 0x303E},  {0x3041, 0x33FF}, {0x3400, 0x4DBF},
                                    {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},  {0xAC00, 0xD7A3}, {0xF900, 0xFAFF},
                                    {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},  {0xFFE0, 0xFFE6}, {0x1F300, 0x1F64F},
                                    {0x1F900, 0x1F9FF}, {0x20000, 0x3FFFD}};
  for (const Range& r : kNone)
    if (code >= r.first && code <= r.last) return 0;
  for (const Range& r : kWide)
    if (code >= r.first && code <= r.last) return 2;
  return 1;
}

}  // namespace

std::string CutToColumns(const std::string& text, int columns) {
  int used = 0;
  size_t i = 0;
  while (i < text.size()) {
    const auto [code, length] = DecodeAt(text, i);
    const int width = code < 0 ? 1 : ColumnsOf(code);
    if (used + width > columns) break;
    used += width;
    i += length;
  }
  return text.substr(0, i);
}

std::string EscapeControls(const std::string& text) { return Escape(text, false); }
std::string EscapeControlsKeepLineEnds(const std::string& text) { return Escape(text, true); }

}  // namespace skelder::platform
