#pragma once
// Directory-listing parser: detects the layout of a listing from its first line and turns
// every line into an entry (name, kind, size, rights, owner, modification time).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/net_exception.h"

namespace skelder::ftp {

// Days since 1899-12-30, the fraction being the time of day.
using TDateTime = double;

// Date and time helpers for TDateTime; nullopt for a value that is no valid date or time.
std::optional<TDateTime> EncodeDate(int year, int month, int day);
std::optional<TDateTime> EncodeTime(int hour, int minute, int second, int millisecond);
struct DateTimeParts {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};
DateTimeParts DecodeDateTime(TDateTime value);

// The local wall clock the parser reads for "the current year" and for missing fields, and the
// two-digit-year window. Replaceable so tests do not depend on today's date.
struct ListingNow {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
};
using ListingClock = std::function<ListingNow()>;
// An empty function restores the real local clock.
void SetListingClock(ListingClock clock);
ListingNow CurrentListingNow();
// 0 switches the window off; the default is 50.
void SetTwoDigitYearWindow(int window);
int ExpandTwoDigitYear(int year);

enum TNetFTPItemKind { ikDirectory = 0, ikFile = 1, ikLink = 2 };

enum TNetFTPListFormat {
  fmtNone = 0,
  fmtDos = 1,
  fmtUnix = 2,
  fmtVms = 3,
  fmtNoDetails = 4,
  fmtUnknown = 5,
  fmtCustom = 6,
};

class ENetInvalidFTPListingFormat : public net::ENetException {
 public:
  ENetInvalidFTPListingFormat() : net::ENetException("Unknown FTP listing format") {}
};

class TNetFTPListItem {
 public:
  int64_t EntrySize = 0;
  int32_t LinkCount = 0;
  std::string Line;
  std::string EntryName;
  std::string GroupRights = "???";
  std::string Group = "????????";
  std::string OwnerRights = "???";
  std::string Owner = "????????";
  std::string OtherRights = "???";
  TDateTime Modified = 0;
  std::string LinkTarget;
  TNetFTPItemKind Kind = ikFile;

  void Assign(const TNetFTPListItem& source) { *this = source; }
};

using TNetOnParseCustomListFormat = std::function<void(TNetFTPListItem& AItem)>;

class TNetFTPListItems {
 public:
  TNetFTPListItems() = default;
  TNetFTPListItems(const TNetFTPListItems&) = delete;
  TNetFTPListItems& operator=(const TNetFTPListItems&) = delete;
  TNetFTPListItems(TNetFTPListItems&&) = default;
  TNetFTPListItems& operator=(TNetFTPListItems&&) = default;
  virtual ~TNetFTPListItems() = default;

  static TNetFTPListFormat DetectListFormat(const std::string& firstLine, bool detailed);
  // Rebuilds the entries from the lines with the current ListFormat. A line that cannot be
  // parsed empties the collection; parsing then goes on with the next line.
  void ParseListing(const std::vector<std::string>& lines);

  TNetFTPListFormat ListFormat = fmtUnix;
  std::string DirectoryName;
  TNetOnParseCustomListFormat OnParseCustomListFormat;

  size_t Count() const { return items_.size(); }
  TNetFTPListItem& Item(size_t index) { return *items_.at(index); }
  const TNetFTPListItem& Item(size_t index) const { return *items_.at(index); }
  TNetFTPListItem& Add();
  void Clear() { items_.clear(); }

 protected:
  // Fills the item from its Line by the current format; throws or answers false on failure.
  virtual bool ParseItem(TNetFTPListItem& item);

 private:
  std::vector<std::unique_ptr<TNetFTPListItem>> items_;
};

// The two layouts, usable on their own; false (or an exception) when the line does not parse.
bool ParseDosLine(TNetFTPListItem& item);
bool ParseUnixLine(TNetFTPListItem& item);

// The civil (proleptic Gregorian) date of a day counted from 1970-01-01.
void CivilFromDays(int64_t days, int& year, int& month, int& day);

}  // namespace skelder::ftp
