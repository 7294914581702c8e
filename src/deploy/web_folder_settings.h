#pragma once
// The per-folder settings kept in the folder notes, and the deployment location strings.
// A folder is a web folder when "DeployTo" of section "Web Folder" reads non-empty; its value
// lists the locations joined by ",". A location is used exactly as typed: a directory path, or
// "ftp://" [user [":" password] "@"] host ["/" path].
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace skelder::deploy {

inline constexpr const char* kWebFolderSection = "Web Folder";
inline constexpr const char* kDeployToKey = "DeployTo";
inline constexpr const char* kEnabledKey = "Enabled";

// The in-memory INI document for folder notes. Its rules are its own (not the platform's
// profile files): lines before the first header, empty lines and ";" lines are dropped, a
// repeated header opens a second section of the same name, and the text is rebuilt whole.
class IniText {
 public:
  IniText() = default;
  explicit IniText(const std::string& text);

  // First section whose name matches without letter case, then its first matching entry; blanks
  // after "=" are not part of the value.
  std::string Read(const std::string& section, const std::string& key, const std::string& defaultValue) const;
  // Replaces the first matching entry in its place, or appends key=value to the section (and
  // the section to the document when it is missing). The key is written as given.
  void Write(const std::string& section, const std::string& key, const std::string& value);
  void WriteBool(const std::string& section, const std::string& key, bool value);

  // Every line, the last included, ends with CR LF; each section is followed by an empty line.
  std::string ToText() const;

 private:
  struct Section {
    std::string name;
    std::vector<std::string> entries;
  };
  Section* FindSection(const std::string& name);
  const Section* FindSection(const std::string& name) const;

  std::vector<Section> sections_;
};

std::string ReadDeployTo(const std::string& notes);
// "FtpPassive" in "Web Folder": "1" passive, "0" active; absent (or any other value): active,
// the mode FTP locations have always used.
inline constexpr const char* kFtpPassiveKey = "FtpPassive";
bool ReadFtpPassive(const std::string& notes);
// The mode of one location: FtpPassive when it says "1" or "0", else passive for an "ftps://"
// location (a firewall cannot follow PORT inside TLS) and active for an "ftp://" one.
bool FtpPassiveFor(const std::string& notes, bool tls);
// "TrustedCertificates" in "Web Folder": SHA-256 fingerprints of server certificates accepted
// for "ftps://" locations although they do not verify, separated by commas. False, with the
// message that says which item is wrong, for a value that is not such a list.
inline constexpr const char* kTrustedCertificatesKey = "TrustedCertificates";
bool ReadTrustedCertificates(const std::string& notes, std::vector<std::array<uint8_t, 32>>& fingerprints,
                             std::string& problem);
// "FtpConnections" in "Web Folder": how many sessions an FTP location uploads over at once, 1 to
// 16 written in digits. Absent means 1. Any other value also means 1, with `problem` saying why
// (for the log: notes written by others are never refused at deployment).
inline constexpr const char* kFtpConnectionsKey = "FtpConnections";
inline constexpr int kMaxFtpConnections = 16;
int ReadFtpConnections(const std::string& notes, std::string& problem);
// Empty when `text` is a connection count the page may save, else the message that says why not.
std::string FtpConnectionsProblem(const std::string& text);
bool IsWebFolder(const std::string& notes);

// One entry per location: every "," is a line break. An empty item between commas is an empty
// entry; a comma at the very end adds none.
std::vector<std::string> SplitLocations(const std::string& deployTo);

// The notes with "DeployTo" set from the page's non-empty lines and "Enabled" after it.
std::string WriteWebFolderSettings(const std::string& notes, const std::vector<std::string>& lines);

// "ftp://" + [user [":" password] "@"] + site. A scheme typed into the site ("ftp://" in any
// letter case) is dropped first, so the result always starts with a lower-case "ftp://"; a typed
// "ftps://" (any letter case) is kept as a lower-case "ftps://".
std::string ComposeFtpLocation(const std::string& site, const std::string& user, const std::string& password);

struct TFtpLocation {
  std::string User;
  std::string Password;
  std::string Host;
  std::string Path;  // with its leading "/", or empty
};
TFtpLocation ParseFtpLocation(const std::string& location);
// A location's host text as the host to connect to and its port: "host:port" with a port of 1 to
// 65535 written in digits, or the host alone on the default port 21. False, with a message that
// quotes the text, for anything else after a ":" (or an empty host before it).
bool SplitHostPort(const std::string& hostText, std::string& host, int32_t& port, std::string& problem);
inline constexpr int32_t kFtpDefaultPort = 21;

// Begins with "ftp://" or "ftps://" in any letter case: "FTP://host/x" is what the user meant,
// never a folder.
bool IsFtpLocation(const std::string& location);
// Begins with "ftps://" in any letter case: FTP over explicit TLS.
bool IsFtpsLocation(const std::string& location);
// Contains no "ftp://" nor "ftps://" (in any letter case) anywhere. A line with either later
// than its start is neither kind.
bool IsDirectoryLocation(const std::string& location);

// Why a directory location cannot be deployed to, before anything is written: it begins with a
// scheme of another kind ("http://"), or it is not an absolute path (POSIX: "/..."; Windows: a
// drive letter and "\", or "\\server"), so it would land somewhere under whatever the working
// directory happens to be. Empty when it can be used. The empty line is the caller's business.
std::string DirectoryLocationProblem(const std::string& location);

}  // namespace skelder::deploy
