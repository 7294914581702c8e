#include "deploy/deploy_record.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "deploy/u_utils.h"
#include "platform/exception.h"
#include "platform/files.h"

namespace skelder::deploy {

namespace {

std::string NameOf(const std::string& line, bool& isEntry) {
  const auto eq = line.find('=');
  isEntry = eq != std::string::npos;
  return isEntry ? line.substr(0, eq) : std::string();
}

}  // namespace

TKeyedLines::TKeyedLines(std::vector<std::string> lines) : lines_(std::move(lines)) {
  first_.reserve(lines_.size());
  for (size_t i = 0; i < lines_.size(); ++i) IndexLine(i);
}

void TKeyedLines::IndexLine(size_t index) {
  bool isEntry = false;
  std::string name = NameOf(lines_[index], isEntry);
  if (isEntry) first_.try_emplace(std::move(name), index);
}

std::optional<std::string> TKeyedLines::Value(const std::string& name) const {
  const auto it = first_.find(name);
  if (it == first_.end()) return std::nullopt;
  const std::string& line = lines_[it->second];
  return line.substr(line.find('=') + 1);
}

void TKeyedLines::SetValue(const std::string& name, const std::string& value) {
  const auto it = first_.find(name);
  if (it != first_.end()) {
    lines_[it->second] = name + "=" + value;
    return;
  }
  Append(name + "=" + value);
}

void TKeyedLines::Append(const std::string& line) {
  lines_.push_back(line);
  IndexLine(lines_.size() - 1);
}

int32_t TKeyedLines::Number(int32_t id) const {
  const auto value = Value(std::to_string(id));
  if (!value) return 0;
  return ParseInt32(*value).value_or(0);
}

void TKeyedLines::SetNumber(int32_t id, int32_t value) { SetValue(std::to_string(id), std::to_string(value)); }

void TCurrentAges::Add(int32_t fileId, int32_t age) { Append(std::to_string(fileId) + "=" + std::to_string(age)); }

TDeployRecord TDeployRecord::FromText(const std::string& text) { return TDeployRecord(SplitLines(text)); }

TDeployRecord TDeployRecord::ReadFile(const std::string& path) {
  if (!platform::FileExists(path)) return {};
  std::ifstream in(platform::ResolvePath(path), std::ios::binary);
  if (!in) return {};
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return {};
  return FromText(text);
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
  const std::string target = platform::ResolvePath(path);
  const std::string failure = "Could not write the deployment record " + path;
  if (platform::DirectoryExists(target)) throw Exception(failure + ": it is a directory");
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  if (!out) throw Exception(failure + ": " + std::strerror(errno));
  for (const std::string& line : Lines()) {
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
    out.write("\r\n", 2);
  }
  out.close();
  if (!out) throw Exception(failure);
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
