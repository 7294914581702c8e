#include "ftp/net_rfc_reply.h"

#include <algorithm>
#include <cctype>

namespace skelder::ftp {

namespace {

// The decimal value of a code text, or 0 when it is not a 32-bit integer.
int32_t CodeValue(const std::string& text) {
  size_t i = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
  if (i == text.size() || text.size() - i > 10) return 0;
  for (size_t j = i; j < text.size(); ++j)
    if (!std::isdigit(static_cast<unsigned char>(text[j]))) return 0;
  long long value = std::stoll(text);
  if (value > 2147483647LL || value < -2147483648LL) return 0;
  return static_cast<int32_t>(value);
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

}  // namespace

void TNetRFCReply::SetNumericCode(int32_t code) {
  numericCode_ = code;
  if (code > 0) textCode_ = std::to_string(code);
}

void TNetRFCReply::SetTextCode(const std::string& code) {
  textCode_ = code;
  if (!code.empty()) numericCode_ = CodeValue(code);
}

void TNetRFCReply::Clear() {
  numericCode_ = 0;
  Text.clear();
  textCode_.clear();
}

void TNetRFCReply::Assign(const TNetRFCReply& source) {
  std::vector<std::string> text = source.Text;  // the source may be this very reply
  int32_t code = source.numericCode_;
  std::string textCode = source.textCode_;
  Clear();
  numericCode_ = code;
  Text = std::move(text);
  textCode_ = std::move(textCode);
}

std::string TNetRFCReply::JoinedText() const {
  std::string result;
  for (const std::string& line : Text) result += line + "\r\n";
  return result;
}

bool TNetReplyCodes::Contains(int32_t code) const {
  int16_t c = static_cast<int16_t>(code);
  return std::any_of(codes_.begin(), codes_.end(), [c](int a) { return static_cast<int16_t>(a) == c; });
}

void ParseReplyLines(const std::vector<std::string>& lines, TNetRFCReply& reply) {
  reply.Clear();
  if (lines.empty()) return;
  std::string code = Trim(lines.front().substr(0, 4));
  if (code.size() == 4 && code[3] == '-') code.resize(3);
  reply.SetTextCode(code);
  for (const std::string& line : lines) reply.Text.push_back(line.size() > 4 ? line.substr(4) : std::string());
}

}  // namespace skelder::ftp
