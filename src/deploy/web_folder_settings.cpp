#include "deploy/web_folder_settings.h"

#include <cctype>

#include "net/tls.h"

#include "deploy/u_utils.h"
#include "platform/ascii.h"
#include "platform/display_text.h"
#include "platform/files.h"
#include "platform/text.h"

namespace skelder::deploy {

namespace {

constexpr const char* kFtpScheme = "ftp://";
constexpr size_t kFtpSchemeLength = 6;
constexpr const char* kFtpsScheme = "ftps://";
constexpr size_t kFtpsSchemeLength = 7;

bool StartsWithIgnoringCase(const std::string& text, const char* prefix, size_t length) {
  return text.size() >= length && platform::EqualsIgnoringAsciiCase(text.substr(0, length), prefix);
}

// Notes written by other tools may carry blanks around names; names match without them.
std::string TrimBlanks(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

bool EntryHasName(const std::string& entry, const std::string& key) {
  const auto eq = entry.find('=');
  return eq != std::string::npos && platform::EqualsIgnoringAsciiCase(TrimBlanks(entry.substr(0, eq)), TrimBlanks(key));
}

}  // namespace

IniText::IniText(const std::string& text) {
  Section* current = nullptr;
  for (const std::string& line : platform::SplitLines(text)) {
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      sections_.push_back({line.substr(1, line.size() - 2), {}});
      current = &sections_.back();
      continue;
    }
    if (line.empty() || line.front() == ';' || current == nullptr) continue;
    current->entries.push_back(line);
  }
}

const IniText::Section* IniText::FindSection(const std::string& name) const {
  for (const Section& section : sections_)
    if (platform::EqualsIgnoringAsciiCase(TrimBlanks(section.name), TrimBlanks(name))) return &section;
  return nullptr;
}

IniText::Section* IniText::FindSection(const std::string& name) {
  return const_cast<Section*>(static_cast<const IniText*>(this)->FindSection(name));
}

std::string IniText::Read(const std::string& section, const std::string& key, const std::string& defaultValue) const {
  const Section* found = FindSection(section);
  if (!found) return defaultValue;
  for (const std::string& entry : found->entries)
    if (EntryHasName(entry, key)) {
      // Blanks between "=" and the value belong to the "=", not to the value.
      const std::string value = entry.substr(entry.find('=') + 1);
      const size_t start = value.find_first_not_of(" \t");
      return start == std::string::npos ? std::string() : value.substr(start);
    }
  return defaultValue;
}

void IniText::Write(const std::string& section, const std::string& key, const std::string& value) {
  Section* found = FindSection(section);
  if (!found) {
    sections_.push_back({section, {}});
    found = &sections_.back();
  }
  const std::string line = key + "=" + value;
  for (std::string& entry : found->entries) {
    if (EntryHasName(entry, key)) {
      entry = line;
      return;
    }
  }
  found->entries.push_back(line);
}

void IniText::WriteBool(const std::string& section, const std::string& key, bool value) {
  Write(section, key, value ? "1" : "0");
}

std::string IniText::ToText() const {
  std::string text;
  for (const Section& section : sections_) {
    text += "[" + section.name + "]\r\n";
    for (const std::string& entry : section.entries) text += entry + "\r\n";
    text += "\r\n";
  }
  return text;
}

std::string ReadDeployTo(const std::string& notes) { return IniText(notes).Read(kWebFolderSection, kDeployToKey, ""); }

bool ReadFtpPassive(const std::string& notes) {
  return IniText(notes).Read(kWebFolderSection, kFtpPassiveKey, "") == "1";
}

bool FtpPassiveFor(const std::string& notes, bool tls) {
  const std::string value = IniText(notes).Read(kWebFolderSection, kFtpPassiveKey, "");
  if (value == "1") return true;
  if (value == "0") return false;
  return tls;
}

bool ReadTrustedCertificates(const std::string& notes, std::vector<std::array<uint8_t, 32>>& fingerprints,
                             std::string& problem) {
  const std::string text = IniText(notes).Read(kWebFolderSection, kTrustedCertificatesKey, "");
  if (net::ParseFingerprints(text, fingerprints, problem)) return true;
  problem = std::string("The folder's ") + kTrustedCertificatesKey + " cannot be read: " + problem;
  return false;
}

std::string FtpConnectionsProblem(const std::string& text) {
  const bool digits = !text.empty() && text.size() <= 2 && text.find_first_not_of("0123456789") == std::string::npos;
  if (digits && std::stoi(text) >= 1 && std::stoi(text) <= kMaxFtpConnections) return {};
  return "The number of FTP connections '" + text + "' is not a number from 1 to " + std::to_string(kMaxFtpConnections);
}

int ReadFtpConnections(const std::string& notes, std::string& problem) {
  problem.clear();
  const std::string text = IniText(notes).Read(kWebFolderSection, kFtpConnectionsKey, "");
  if (text.empty()) return 1;
  problem = FtpConnectionsProblem(text);
  if (!problem.empty()) {
    problem += ": one connection is used";
    return 1;
  }
  return std::stoi(text);
}

bool IsWebFolder(const std::string& notes) { return !ReadDeployTo(notes).empty(); }

std::vector<std::string> SplitLocations(const std::string& deployTo) {
  std::string text = deployTo;
  for (char& c : text)
    if (c == ',') c = '\n';
  return platform::SplitLines(text);
}

std::string WriteWebFolderSettings(const std::string& notes, const std::vector<std::string>& lines) {
  std::string deployTo;
  for (const std::string& line : lines) {
    if (line.empty()) continue;
    if (!deployTo.empty()) deployTo += ',';
    deployTo += line;
  }
  IniText ini(notes);
  ini.Write(kWebFolderSection, kDeployToKey, deployTo);
  ini.WriteBool(kWebFolderSection, kEnabledKey, !deployTo.empty());
  return ini.ToText();
}

std::string ComposeFtpLocation(const std::string& site, const std::string& user, const std::string& password) {
  std::string host = site;
  const char* scheme = kFtpScheme;
  if (StartsWithIgnoringCase(host, kFtpScheme, kFtpSchemeLength)) {
    host.erase(0, kFtpSchemeLength);
  } else if (StartsWithIgnoringCase(host, kFtpsScheme, kFtpsSchemeLength)) {
    host.erase(0, kFtpsSchemeLength);
    scheme = kFtpsScheme;
  }
  std::string text;
  if (!user.empty()) {
    text = user;
    if (!password.empty()) text += ":" + password;
    text += "@";
  }
  return scheme + text + host;
}

TFtpLocation ParseFtpLocation(const std::string& location) {
  TFtpLocation result;
  const size_t schemeLength = IsFtpsLocation(location) ? kFtpsSchemeLength : kFtpSchemeLength;
  std::string rest = location.size() > schemeLength ? location.substr(schemeLength) : std::string();
  const auto at = rest.find('@');
  if (at != std::string::npos) {
    const std::string userInfo = rest.substr(0, at);
    rest.erase(0, at + 1);
    const auto colon = userInfo.find(':');
    result.User = userInfo.substr(0, colon);
    if (colon != std::string::npos) result.Password = userInfo.substr(colon + 1);
  }
  const auto slash = rest.find('/');
  result.Host = rest.substr(0, slash);
  if (slash != std::string::npos) result.Path = rest.substr(slash);
  return result;
}

bool IsFtpLocation(const std::string& location) {
  return StartsWithIgnoringCase(location, kFtpScheme, kFtpSchemeLength) || IsFtpsLocation(location);
}

bool IsFtpsLocation(const std::string& location) {
  return StartsWithIgnoringCase(location, kFtpsScheme, kFtpsSchemeLength);
}

bool IsDirectoryLocation(const std::string& location) {
  const std::string lower = platform::AsciiLower(location);
  return lower.find(kFtpScheme) == std::string::npos && lower.find(kFtpsScheme) == std::string::npos;
}

std::string DirectoryLocationProblem(const std::string& location) {
  const std::string shown = "'" + platform::MaskFtpPasswords(location) + "'";
  // A scheme: letters, digits, "+", "-" or "." up to "://".
  const size_t scheme = location.find("://");
  if (scheme != std::string::npos && scheme > 0 &&
      location.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+-.") >= scheme)
    return "Refused the location " + shown + ": only folders, ftp:// and ftps:// locations can be deployed to";
  bool absolute;
  if (platform::kPathSeparator == '\\') {
    const bool drive = location.size() >= 3 && std::isalpha(static_cast<unsigned char>(location[0])) &&
                       location[1] == ':' && (location[2] == '\\' || location[2] == '/');
    absolute = drive || location.compare(0, 2, "\\\\") == 0;
  } else {
    absolute = !location.empty() && location[0] == '/';
  }
  if (!absolute) return "Refused the location " + shown + ": a folder location must be an absolute path";
  return {};
}

bool SplitHostPort(const std::string& hostText, std::string& host, int32_t& port, std::string& problem) {
  problem.clear();
  const size_t colon = hostText.find(':');
  if (colon == std::string::npos) {
    host = hostText;
    port = kFtpDefaultPort;
    return true;
  }
  const std::string digits = hostText.substr(colon + 1);
  int64_t value = 0;
  bool valid = colon > 0 && !digits.empty() && digits.size() <= 5;
  for (char c : digits) {
    valid = valid && c >= '0' && c <= '9';
    if (valid) value = value * 10 + (c - '0');
  }
  if (!valid || value < 1 || value > 65535) {
    problem = "The FTP server '" + hostText + "' is not a host name followed by a port from 1 to 65535";
    return false;
  }
  host = hostText.substr(0, colon);
  port = static_cast<int32_t>(value);
  return true;
}

}  // namespace skelder::deploy
