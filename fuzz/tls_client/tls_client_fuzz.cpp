// The first byte picks what the rest is:
// - 0: bytes a server sends in a TLS handshake, fed to the client in pieces of a size the second
//   byte picks: only ETlsError may come out, and what the client has to send stays small;
// - 1: a TrustedCertificates value: read, it is a list whose text reads back the same, or it is
//   refused whole with a reason;
// - 2: an "ftps://" location: it is one, never a folder, its parts keep the parser's rules, its
//   password never shows, and a site typed with the scheme composes back to one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "deploy/web_folder_settings.h"
#include "net/tls.h"
#include "platform/display_text.h"

using namespace skelder;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void Handshake(const std::string& bytes, size_t piece) {
  try {
    auto channel = net::NewTlsClient({"127.0.0.40", net::NewTlsSessionCache()});
    size_t at = 0;
    while (!channel->Handshake()) {
      Check(channel->TakeOutgoing().size() < 64 * 1024);
      if (at >= bytes.size()) return;
      const size_t n = std::min(piece, bytes.size() - at);
      channel->Feed(bytes.data() + at, n);
      at += n;
    }
    char buffer[4096];
    while (channel->Read(buffer, sizeof buffer) > 0) {
    }
  } catch (const net::ETlsError&) {
  }
}

void Fingerprints(const std::string& text) {
  std::vector<net::TSha256> list;
  std::string problem;
  if (!net::ParseFingerprints(text, list, problem)) {
    Check(list.empty() && !problem.empty());
    return;
  }
  Check(problem.empty());
  std::string written;
  for (const auto& f : list) written += (written.empty() ? "" : ",") + net::FingerprintText(f);
  std::vector<net::TSha256> again;
  Check(net::ParseFingerprints(written, again, problem) && again == list);
}

void Location(const std::string& rest) {
  const std::string line = "ftps://" + rest;
  Check(deploy::IsFtpLocation(line) && deploy::IsFtpsLocation(line) && !deploy::IsDirectoryLocation(line));
  const deploy::TFtpLocation parts = deploy::ParseFtpLocation(line);
  Check(parts.User.find('@') == std::string::npos);
  Check(parts.Path.empty() || parts.Path[0] == '/');
  // A password that is itself made of the mask, or also stands elsewhere in the line, cannot be
  // told apart in the shown text.
  if (rest.find_first_of(",\r\n") == std::string::npos && !parts.Password.empty() &&
      parts.Password.find('*') == std::string::npos)
    Check(platform::MaskFtpPasswords(line).find(parts.Password) == std::string::npos ||
          line.find(parts.Password) != line.rfind(parts.Password));
  const std::string composed = deploy::ComposeFtpLocation(line, parts.User, parts.Password);
  Check(composed.rfind("ftps://", 0) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const std::string rest(reinterpret_cast<const char*>(data + 2), size - 2);
  switch (data[0] % 3) {
    case 0:
      Handshake(rest, data[1] % 64 + 1);
      break;
    case 1:
      Fingerprints(rest);
      break;
    default:
      Location(rest);
  }
  return 0;
}
