// The first byte picks a split point: the bytes before it are notes (or a record), the bytes
// after it are the property page's lines. Properties that must hold for any input:
// - the settings written read back as the page's non-empty lines joined by ",";
// - rewriting notes twice gives the same text as rewriting once;
// - a record written and read again has the same lines, and its lookups agree with a scan.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "deploy/deploy_record.h"
#include "deploy/u_utils.h"
#include "deploy/web_folder_settings.h"
#include "platform/display_text.h"
#include "platform/text.h"

using namespace skelder::deploy;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string all(reinterpret_cast<const char*>(data + 1), size - 1);
  const size_t cut = all.empty() ? 0 : data[0] % (all.size() + 1);
  const std::string notes = all.substr(0, cut);
  const std::vector<std::string> lines = skelder::platform::SplitLines(all.substr(cut));

  std::string expected;
  for (const auto& line : lines) {
    if (line.empty()) continue;
    if (!expected.empty()) expected += ',';
    expected += line;
  }
  const std::string saved = WriteWebFolderSettings(notes, lines);
  // What the page saved reads back, but for blanks after "=", which belong to the "=".
  Check(ReadDeployTo(saved) == expected.substr(std::min(expected.size(), expected.find_first_not_of(" \t"))));
  Check(IsWebFolder(saved) == !ReadDeployTo(saved).empty());
  Check(WriteWebFolderSettings(saved, lines) == saved);
  for (const auto& location : SplitLocations(ReadDeployTo(saved))) {
    const TFtpLocation parts = ParseFtpLocation(location);
    Check(parts.User.find('@') == std::string::npos);
    Check(parts.Path.empty() || parts.Path[0] == '/');
    // What may be shown of a location never holds its password, and masking is done once.
    const std::string shown = skelder::platform::MaskFtpPasswords(location);
    if (IsFtpLocation(location) && !parts.Password.empty()) Check(shown.find(":****@") != std::string::npos);
    Check(skelder::platform::MaskFtpPasswords(shown) == shown);
    Check(skelder::platform::EscapeControls(skelder::platform::EscapeControls(location)) ==
          skelder::platform::EscapeControls(location));
  }

  TDeployRecord record = TDeployRecord::FromText(notes);
  const std::vector<std::string> before = record.Lines();
  for (size_t i = 0; i < lines.size() && i < 64; ++i) {
    const int32_t id = static_cast<int32_t>(lines[i].size()) - 8;
    const int32_t age = record.Age(id);
    record.SetAge(id, age + 1 > 0 ? age + 1 : 1);
  }
  Check(record.Count() >= before.size());
  const TDeployRecord again = TDeployRecord::FromText(record.ToText());
  Check(again.Lines() == record.Lines());
  return 0;
}
