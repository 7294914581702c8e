#pragma once
// One numeric command reply: its code (as received and as a number) and its text lines.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace skelder::ftp {

class TNetRFCReply {
 public:
  TNetRFCReply() = default;
  TNetRFCReply(const TNetRFCReply& other) { Assign(other); }
  TNetRFCReply& operator=(const TNetRFCReply& other) {
    if (this != &other) Assign(other);
    return *this;
  }

  // 0 means no reply, or a code that is not a number.
  int32_t NumericCode() const { return numericCode_; }
  // A value above 0 also sets TextCode; 0 or less leaves TextCode alone.
  void SetNumericCode(int32_t code);
  const std::string& TextCode() const { return textCode_; }
  // A non-empty text also sets NumericCode to its decimal value, or 0 when it is none.
  void SetTextCode(const std::string& code);

  // One entry per reply line, without the code prefix.
  std::vector<std::string> Text;

  void Clear();
  void Assign(const TNetRFCReply& source);
  // The text lines, each followed by CR LF.
  std::string JoinedText() const;

 private:
  int32_t numericCode_ = 0;
  std::string textCode_;
};

// The accepted codes of a reply check. Empty accepts every code; a single code of -1 stands
// for the empty list.
class TNetReplyCodes {
 public:
  TNetReplyCodes() = default;
  TNetReplyCodes(int code) {  // NOLINT: a single code converts implicitly
    if (code != -1) codes_.push_back(code);
  }
  TNetReplyCodes(std::initializer_list<int> codes) : codes_(codes) {}
  bool Empty() const { return codes_.empty(); }
  // Codes compare as 16-bit values.
  bool Contains(int32_t code) const;
  const std::vector<int>& Codes() const { return codes_; }

 private:
  std::vector<int> codes_;
};

// Parses the lines of one reply (already read, blank lines skipped) into `reply`; the code of
// the first line, every line's text from its fifth character on.
void ParseReplyLines(const std::vector<std::string>& lines, TNetRFCReply& reply);

}  // namespace skelder::ftp
