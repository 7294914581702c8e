// The platform-neutral parts of the TLS seam: how a fingerprint is written and read.
#include "net/tls.h"

namespace skelder::net {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string TrimBlanks(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// 64 hexadecimal digits, or 32 pairs with one ":" between each two.
bool ParseOne(const std::string& item, TSha256& out) {
  const bool colons = item.size() == 32 * 3 - 1;
  if (!colons && item.size() != 64) return false;
  size_t at = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    if (colons && i > 0 && item[at++] != ':') return false;
    const int high = HexValue(item[at]);
    const int low = HexValue(item[at + 1]);
    if (high < 0 || low < 0) return false;
    out[i] = static_cast<uint8_t>(high * 16 + low);
    at += 2;
  }
  return true;
}

}  // namespace

std::string FingerprintText(const TSha256& fingerprint) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(fingerprint.size() * 3);
  for (size_t i = 0; i < fingerprint.size(); ++i) {
    if (i > 0) text += ':';
    text += kDigits[fingerprint[i] >> 4];
    text += kDigits[fingerprint[i] & 0x0F];
  }
  return text;
}

bool ParseFingerprints(const std::string& text, std::vector<TSha256>& fingerprints, std::string& problem) {
  fingerprints.clear();
  problem.clear();
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    const std::string item = TrimBlanks(text.substr(start, comma - start));
    start = comma + 1;
    if (item.empty()) continue;
    TSha256 fingerprint{};
    if (!ParseOne(item, fingerprint)) {
      // A fingerprint is no secret, but the item may be anything: quote a bounded start of it.
      const std::string shown = item.size() > 100 ? item.substr(0, 100) + "..." : item;
      problem =
          "'" + shown + "' is not a SHA-256 fingerprint (64 hexadecimal digits, colons between byte pairs allowed)";
      fingerprints.clear();
      return false;
    }
    fingerprints.push_back(fingerprint);
  }
  return true;
}

}  // namespace skelder::net
