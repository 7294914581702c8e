// One location line from arbitrary bytes. Properties that must hold for any input:
// - the parts ParseFtpLocation cuts put back together are the line after its scheme, and each
//   part holds none of the separators that end it;
// - SplitHostPort accepts exactly a host followed by nothing or by ":" and 1 to 65535 in
//   digits, and gives back that host and number; anything else is refused with a message that
//   quotes the host text;
// - a line is never both an FTP location and a directory location;
// - a masked line (one location: no line end, no ",") shows no password: parsed again it has
//   none or "****", and a password that occurs once in the line (and holds no "*") is gone from it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "deploy/web_folder_settings.h"
#include "platform/ascii.h"
#include "platform/display_text.h"

using namespace skelder::deploy;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

void CheckParts(const std::string& line) {
  const TFtpLocation parts = ParseFtpLocation(line);
  const size_t scheme = IsFtpsLocation(line) ? 7 : 6;  // "ftps://" or "ftp://"
  const std::string rest = line.size() > scheme ? line.substr(scheme) : std::string();
  Check(parts.User.find_first_of(":@") == std::string::npos);
  Check(parts.Password.find('@') == std::string::npos);
  Check(parts.Host.find('/') == std::string::npos);
  Check(parts.Path.empty() || parts.Path[0] == '/');
  const bool hasUser = rest.find('@') != std::string::npos;
  const bool hasPassword = hasUser && rest.substr(0, rest.find('@')).find(':') != std::string::npos;
  Check(hasPassword || parts.Password.empty());
  std::string again;
  if (hasUser) again = parts.User + (hasPassword ? ":" + parts.Password : std::string()) + "@";
  again += parts.Host + parts.Path;
  Check(again == rest);
}

void CheckHostPort(const std::string& hostText) {
  std::string host, problem;
  int32_t port = -1;
  const bool ok = SplitHostPort(hostText, host, port, problem);
  const size_t colon = hostText.find(':');
  if (colon == std::string::npos) {
    Check(ok && host == hostText && port == kFtpDefaultPort && problem.empty());
    return;
  }
  const std::string digits = hostText.substr(colon + 1);
  bool valid =
      colon > 0 && !digits.empty() && digits.size() <= 5 && digits.find_first_not_of("0123456789") == std::string::npos;
  const long value = valid ? std::strtol(digits.c_str(), nullptr, 10) : 0;
  valid = valid && value >= 1 && value <= 65535;
  Check(ok == valid);
  if (ok) {
    Check(host == hostText.substr(0, colon) && port == value && problem.empty());
  } else {
    Check(problem.find("'" + hostText + "'") != std::string::npos);
  }
}

void CheckMask(const std::string& line) {
  // A location never holds a line end or a "," (both end it in the notes and on the page), and
  // the mask ends a location there.
  if (!IsFtpLocation(line) || line.find_first_of("\r\n,") != std::string::npos) return;
  const std::string masked = skelder::platform::MaskFtpPasswords(line);
  const std::string password = ParseFtpLocation(line).Password;
  // Only the first location of the line is parsed; one with another scheme in it masks each.
  const std::string lower = skelder::platform::AsciiLower(line);
  if (Count(lower, "ftp://") + Count(lower, "ftps://") != 1) return;
  const std::string shown = ParseFtpLocation(masked).Password;
  Check(shown.empty() || shown == "****");
  if (!password.empty() && password.find('*') == std::string::npos && Count(line, password) == 1)
    Check(masked.find(password) == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  CheckParts(line);
  CheckHostPort(ParseFtpLocation(line).Host);
  Check(!(IsFtpLocation(line) && IsDirectoryLocation(line)));
  CheckMask(line);
  // Refusals quote the line as the mask shows it.
  const std::string problem = DirectoryLocationProblem(line);
  Check(problem.empty() || problem.find("'" + skelder::platform::MaskFtpPasswords(line) + "'") != std::string::npos);
  return 0;
}
