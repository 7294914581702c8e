#include "deploy/deploy_record.h"

#include <cerrno>
#include <cstring>
#include <string_view>

#include "deploy/u_utils.h"
#include "platform/exception.h"
#include "platform/files.h"
#include "platform/text.h"

namespace skelder::deploy {

namespace {

// The id a line is an entry of: its text before the first "=" must be a decimal id exactly as
// the id prints (no sign but "-", no leading zeros, no blanks), since lookups compare texts.
std::optional<int32_t> EntryId(std::string_view line) {
  const auto eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  const std::string_view name = line.substr(0, eq);
  const auto id = platform::ParseInt32(name);
  if (!id || std::to_string(*id) != name) return std::nullopt;
  return id;
}

std::string_view ValueOf(const std::string& line) { return std::string_view(line).substr(line.find('=') + 1); }

}  // namespace

TKeyedLines::TKeyedLines(std::vector<std::string> lines) : lines_(std::move(lines)) {
  first_.reserve(lines_.size());
  for (size_t i = 0; i < lines_.size(); ++i) IndexLine(i);
}

void TKeyedLines::IndexLine(size_t index) {
  if (const auto id = EntryId(lines_[index])) first_.try_emplace(*id, index);
}

std::optional<std::string> TKeyedLines::Value(int32_t id) const {
  const auto it = first_.find(id);
  if (it == first_.end()) return std::nullopt;
  return std::string(ValueOf(lines_[it->second]));
}

void TKeyedLines::SetValue(int32_t id, const std::string& value) {
  std::string line = std::to_string(id) + "=" + value;
  const auto it = first_.find(id);
  if (it != first_.end()) {
    lines_[it->second] = std::move(line);
    return;
  }
  lines_.push_back(std::move(line));
  first_.emplace(id, lines_.size() - 1);
}

void TKeyedLines::Append(const std::string& line) {
  lines_.push_back(line);
  IndexLine(lines_.size() - 1);
}

int32_t TKeyedLines::Number(int32_t id) const {
  const auto it = first_.find(id);
  if (it == first_.end()) return 0;
  return platform::ParseInt32(ValueOf(lines_[it->second])).value_or(0);
}

void TCurrentAges::Add(int32_t fileId, int32_t age) { Append(std::to_string(fileId) + "=" + std::to_string(age)); }

TDeployRecord TDeployRecord::FromText(const std::string& text) { return TDeployRecord(platform::SplitLines(text)); }

namespace {

// What a read of the record gave: the record, or an empty one and, when there was something
// that could not be read, the log line that says so.
TDeployRecord FromRead(platform::ReadResult result, const std::string& text, const std::string& shownPath,
                       bool isFolder, std::string* problem) {
  const std::string what = "The deployment record '" + shownPath + "'";
  std::string why;
  switch (result) {
    case platform::ReadResult::Ok:
      return TDeployRecord::FromText(text);
    case platform::ReadResult::Missing:
      return {};
    case platform::ReadResult::NotRegular:
      // A folder of that name is refused by the target before anything is sent.
      if (isFolder) return {};
      why = what + " is not a regular file; it was not read";
      break;
    case platform::ReadResult::TooLarge:
      why = what + " is larger than " + std::to_string(kMaxRecordBytes / (1024 * 1024)) + " MiB; it was not read";
      break;
    case platform::ReadResult::Failed:
      why = what + " could not be read: " + std::strerror(errno);
      break;
  }
  if (problem) *problem = why;
  return {};
}

[[noreturn]] void WriteFailed(const std::string& shownPath, int code) {
  const std::string failure = "Could not write the deployment record " + shownPath;
  if (code == EISDIR) throw Exception(failure + ": it is a directory");
  throw Exception(failure + ": " + std::strerror(code));
}

}  // namespace

TDeployRecord TDeployRecord::ReadFile(const std::string& path, std::string* problem) {
  std::string text;
  const platform::ReadResult result = platform::ReadRegularFile(path, kMaxRecordBytes, text);
  return FromRead(result, text, path, platform::GetEntryKind(path) == platform::EntryKind::Directory, problem);
}

TDeployRecord TDeployRecord::ReadFile(const platform::Folder& folder, const std::string& name,
                                      const std::string& shownPath, std::string* problem) {
  std::string text;
  const platform::ReadResult result = folder.ReadRegularFile(name, kMaxRecordBytes, text);
  return FromRead(result, text, shownPath, folder.Kind(name) == platform::EntryKind::Directory, problem);
}

std::string TDeployRecord::ToText() const {
  std::string text;
  for (const std::string& line : Lines()) {
    text += line;
    text += "\r\n";
  }
  return text;
}

void TDeployRecord::WriteFile(const std::string& path) const {
  int code = 0;
  if (!platform::ReplaceFileContents(path, ToText(), &code)) WriteFailed(path, code);
}

void TDeployRecord::WriteFile(const platform::Folder& folder, const std::string& name,
                              const std::string& shownPath) const {
  int code = 0;
  if (!folder.ReplaceFileContents(name, ToText(), &code)) WriteFailed(shownPath, code);
}

bool ShouldSend(TDeployRecord& record, int32_t fileId, int32_t currentAge) {
  const int32_t recorded = record.Age(fileId);
  if (recorded != 0 && recorded >= currentAge) {
    record.SetAge(fileId, currentAge);
    return false;
  }
  return true;
}

}  // namespace skelder::deploy
