#pragma once
// The deployment record "XRDeploy.dat" kept at every location, the current ages of one run, and
// the rule that decides whether a file is sent. Both hold "id=value" lines; a lookup finds the
// first line whose text before its first "=" is the decimal id, through an index of first
// occurrences so that a run stays linear in the number of files.
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/files.h"

namespace skelder::deploy {

inline constexpr const char* kDeployRecordName = "XRDeploy.dat";
// A record line is at most some 24 bytes: this bound is far above the record of any real folder,
// and keeps a file that only looks like a record from filling memory.
inline constexpr uint64_t kMaxRecordBytes = 64ull * 1024 * 1024;

// Ordered "id=value" lines with a first-match index by id. A line is an entry of id N when its
// text before the first "=" is exactly N's decimal text; every other line is kept as it is and
// never matches.
class TKeyedLines {
 public:
  TKeyedLines() = default;
  explicit TKeyedLines(std::vector<std::string> lines);

  const std::vector<std::string>& Lines() const { return lines_; }
  size_t Count() const { return lines_.size(); }

  // The text after the first "=" of the first entry of this id.
  std::optional<std::string> Value(int32_t id) const;
  // Replaces that entry's value in its place, or appends id=value.
  void SetValue(int32_t id, const std::string& value);
  void Append(const std::string& line);

  // The value read as a decimal 32-bit integer; 0 when missing or not a number.
  int32_t Number(int32_t id) const;
  void SetNumber(int32_t id, int32_t value) { SetValue(id, std::to_string(value)); }

 private:
  void IndexLine(size_t index);

  std::vector<std::string> lines_;
  std::unordered_map<int32_t, size_t> first_;
};

// The ages of the copies fetched in this run: one line "%d=%d" (file id, age) per fetched file.
class TCurrentAges : public TKeyedLines {
 public:
  using TKeyedLines::TKeyedLines;
  void Add(int32_t fileId, int32_t age);
  int32_t Age(int32_t fileId) const { return Number(fileId); }
};

class TDeployRecord : public TKeyedLines {
 public:
  using TKeyedLines::TKeyedLines;

  // Any of CR, LF and CR LF ends a line.
  static TDeployRecord FromText(const std::string& text);
  // A record that is missing, unreadable or not a regular file reads as empty. Read under its
  // exact name, never through a link, never waiting on a FIFO or a device, and only up to
  // kMaxRecordBytes. When there was something at the path that could not be read, *problem
  // says so in a line for the log.
  static TDeployRecord ReadFile(const std::string& path, std::string* problem = nullptr);
  // The same for the record `name` in an opened folder; `shownPath` names it in *problem.
  static TDeployRecord ReadFile(const platform::Folder& folder, const std::string& name, const std::string& shownPath,
                                std::string* problem);

  // Every line followed by CR LF.
  std::string ToText() const;
  // Written the way files are copied: under a partial name beside it, then renamed over the
  // name itself, so a link of that name is replaced, never written through, and a failed write
  // leaves the old record whole. Raises skelder::Exception with a clear message when the file
  // cannot be written (a directory, a read-only file, a missing folder, a full disk).
  void WriteFile(const std::string& path) const;
  void WriteFile(const platform::Folder& folder, const std::string& name, const std::string& shownPath) const;

  int32_t Age(int32_t fileId) const { return Number(fileId); }
  void SetAge(int32_t fileId, int32_t age) { SetNumber(fileId, age); }
};

// The send-or-skip rule for one file. Returns true when the file must be sent; the caller sets
// the record's entry to the current age once sending succeeded. Returns false when the file is
// skipped: the recorded age is non-zero and not older than the current one; the record's entry
// is then set to the current age already.
bool ShouldSend(TDeployRecord& record, int32_t fileId, int32_t currentAge);
inline bool ShouldSend(TDeployRecord& record, const TCurrentAges& ages, int32_t fileId) {
  return ShouldSend(record, fileId, ages.Age(fileId));
}

}  // namespace skelder::deploy
