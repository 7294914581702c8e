#include "ftp/net_ftp_list.h"

#include <charconv>
#include <cmath>
#include <ctime>
#include <mutex>

namespace skelder::ftp {
namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

const int64_t kEpochOffset = DaysFromCivil(1899, 12, 30);

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

std::mutex& ClockMutex() {
  static std::mutex m;
  return m;
}
ListingClock& ClockSlot() {
  static ListingClock clock;
  return clock;
}
int& WindowSlot() {
  static int window = 50;
  return window;
}

ListingNow RealNow() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
#if defined(_WIN32)
  localtime_s(&tm, &t);
#else
  localtime_r(&t, &tm);
#endif
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min};
}

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

bool IsBlank(char c) { return c == ' '; }

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

std::string TrimRight(const std::string& s) {
  size_t e = s.size();
  while (e > 0 && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(0, e);
}

// Characters from..from+count-1 (1-based), cut at the end of the text.
std::string Copy(const std::string& s, size_t from, size_t count) {
  if (from < 1 || from > s.size()) return {};
  return s.substr(from - 1, count);
}

std::string WithoutCommas(std::string s) {
  std::erase(s, ',');
  return s;
}

template <typename T>
std::optional<T> ToNumber(const std::string& s) {
  if (s.empty()) return std::nullopt;
  const char* first = s.data();
  const char* last = s.data() + s.size();
  if (*first == '+') ++first;  // a leading plus is a valid sign for the listing's numbers
  T value{};
  auto [ptr, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || ptr != last || first == last) return std::nullopt;
  return value;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool MatchesUnixRights(const std::string& u) {
  if (u.size() < 10) return false;
  if (u[0] != '-' && u[0] != 'D' && u[0] != 'L') return false;
  for (size_t i = 1; i < 10; ++i) {
    const char c = u[i];
    const bool ok = c == '-' || c == 'R' || c == 'S' || c == 'T' || c == 'W' || c == 'X' || (i == 7 && c == 'A');
    if (!ok) return false;
  }
  return true;
}

// Reads blank-separated tokens from a listing line, left to right.
class Tokens {
 public:
  explicit Tokens(const std::string& line) : line_(line) {}
  // The next token; the blanks after it are all skipped, or exactly one with oneBlank.
  std::string Next(bool oneBlank = false) {
    const size_t start = pos_;
    while (pos_ < line_.size() && !IsBlank(line_[pos_])) ++pos_;
    std::string token = line_.substr(start, pos_ - start);
    if (oneBlank) {
      if (pos_ < line_.size()) ++pos_;
    } else {
      while (pos_ < line_.size() && IsBlank(line_[pos_])) ++pos_;
    }
    return token;
  }
  std::string Rest() const { return pos_ < line_.size() ? line_.substr(pos_) : std::string(); }

 private:
  const std::string& line_;
  size_t pos_ = 0;
};

int MonthFromName(const std::string& token) {
  static const char* kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  const std::string u = Upper(token);
  for (int i = 0; i < 12; ++i) {
    if (u == kMonths[i]) return i + 1;
  }
  return 0;
}

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t p = s.find(sep, start);
    if (p == std::string::npos) {
      out.push_back(s.substr(start));
      return out;
    }
    out.push_back(s.substr(start, p - start));
    start = p + 1;
  }
}

// A DOS date text: fields month, day, year split at the first non-digit character.
std::optional<TDateTime> ParseDosDate(const std::string& text) {
  size_t sepPos = 0;
  while (sepPos < text.size() && IsDigit(text[sepPos])) ++sepPos;
  if (sepPos >= text.size()) return std::nullopt;
  const std::vector<std::string> f = Split(text, text[sepPos]);
  if (f.size() != 3) return std::nullopt;
  auto month = ToNumber<int>(f[0]);
  auto day = ToNumber<int>(f[1]);
  auto year = ToNumber<int>(f[2]);
  if (!month || !day || !year) return std::nullopt;
  return EncodeDate(ExpandTwoDigitYear(*year), *month, *day);
}

// A DOS time text such as "03:45PM"; missing hour or minute come from the current time.
std::optional<TDateTime> ParseDosTime(const std::string& token) {
  std::string t = Upper(token);
  bool pm = false, am = false;
  if (size_t p = t.find("AM"); p != std::string::npos) {
    t = t.substr(0, p);
    am = true;
  } else if (size_t q = t.find("PM"); q != std::string::npos) {
    t = t.substr(0, q);
    pm = true;
  }
  t = Trim(t);
  const std::vector<std::string> f = t.empty() ? std::vector<std::string>{} : Split(t, ':');
  if (f.size() > 4) return std::nullopt;
  const ListingNow now = CurrentListingNow();
  int parts[4] = {now.hour, now.minute, 0, 0};
  for (size_t i = 0; i < f.size(); ++i) {
    auto v = ToNumber<int>(Trim(f[i]));
    if (!v) return std::nullopt;
    parts[i] = *v;
  }
  if (pm && parts[0] < 12) parts[0] += 12;
  // 12 AM is the first hour of the day, not noon.
  if (am && parts[0] == 12) parts[0] = 0;
  return EncodeTime(parts[0], parts[1], parts[2], parts[3]);
}

}  // namespace

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

std::optional<TDateTime> EncodeDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12) return std::nullopt;
  if (day < 1 || day > DaysInMonth(year, month)) return std::nullopt;
  return static_cast<TDateTime>(DaysFromCivil(year, month, day) - kEpochOffset);
}

std::optional<TDateTime> EncodeTime(int hour, int minute, int second, int millisecond) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || millisecond < 0 ||
      millisecond > 999) {
    return std::nullopt;
  }
  const double ms = ((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond;
  return ms / 86400000.0;
}

DateTimeParts DecodeDateTime(TDateTime value) {
  DateTimeParts p;
  const double days = std::floor(value);
  int64_t ms = std::llround((value - days) * 86400000.0);
  int64_t dayNumber = static_cast<int64_t>(days);
  if (ms >= 86400000) {
    ms -= 86400000;
    ++dayNumber;
  }
  CivilFromDays(dayNumber + kEpochOffset, p.year, p.month, p.day);
  p.hour = static_cast<int>(ms / 3600000);
  p.minute = static_cast<int>(ms / 60000 % 60);
  p.second = static_cast<int>(ms / 1000 % 60);
  p.millisecond = static_cast<int>(ms % 1000);
  return p;
}

void SetListingClock(ListingClock clock) {
  std::lock_guard lock(ClockMutex());
  ClockSlot() = std::move(clock);
}

ListingNow CurrentListingNow() {
  ListingClock clock;
  {
    std::lock_guard lock(ClockMutex());
    clock = ClockSlot();
  }
  return clock ? clock() : RealNow();
}

void SetTwoDigitYearWindow(int window) {
  std::lock_guard lock(ClockMutex());
  WindowSlot() = window;
}

int ExpandTwoDigitYear(int year) {
  if (year >= 100 || year < 0) return year;
  int window;
  {
    std::lock_guard lock(ClockMutex());
    window = WindowSlot();
  }
  int result = year + 100 * (CurrentListingNow().year / 100);
  if (window != 0 && window < year) result -= 100;
  return result;
}

TNetFTPListFormat TNetFTPListItems::DetectListFormat(const std::string& firstLine, bool detailed) {
  if (!detailed) return fmtNoDetails;
  const std::string u = Upper(firstLine);
  if (MatchesUnixRights(u) || u.starts_with("TOTAL")) return fmtUnix;
  if (u.find("DSK:") != std::string::npos) return fmtVms;
  auto dashOrSlash = [&](size_t pos1) { return pos1 <= u.size() && (u[pos1 - 1] == '-' || u[pos1 - 1] == '/'); };
  if (!dashOrSlash(3) || !dashOrSlash(6)) return fmtUnknown;
  const std::string dirField = Trim(Copy(u, 25, 6));
  const std::string sizeField = WithoutCommas(Trim(Copy(u, 31, 8)));
  if (dirField == "<DIR>") return fmtDos;
  if (dirField.empty()) {
    auto size = ToNumber<int64_t>(sizeField);
    return size && *size != -1 ? fmtDos : fmtUnknown;
  }
  return fmtUnknown;
}

TNetFTPListItem& TNetFTPListItems::Add() {
  items_.push_back(std::make_unique<TNetFTPListItem>());
  return *items_.back();
}

void TNetFTPListItems::ParseListing(const std::vector<std::string>& lines) {
  Clear();
  size_t first = 0;
  if (ListFormat == fmtUnix && !lines.empty() && Upper(lines[0]).starts_with("TOTAL")) first = 1;
  for (size_t i = first; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    TNetFTPListItem& item = Add();
    item.Line = line;
    if (ListFormat == fmtNone) continue;
    bool ok = false;
    try {
      ok = ParseItem(item);
    } catch (...) {
      ok = false;
    }
    if (!ok) Clear();
  }
}

bool TNetFTPListItems::ParseItem(TNetFTPListItem& item) {
  switch (ListFormat) {
    case fmtDos:
      return ParseDosLine(item);
    case fmtUnix:
    case fmtVms:
      return ParseUnixLine(item);
    case fmtNoDetails:
      item.EntryName = Trim(item.Line);
      return true;
    case fmtCustom:
      if (!OnParseCustomListFormat) throw ENetInvalidFTPListingFormat();
      OnParseCustomListFormat(item);
      return true;
    case fmtNone:
      return true;
    case fmtUnknown:
    default:
      throw ENetInvalidFTPListingFormat();
  }
}

bool ParseDosLine(TNetFTPListItem& item) {
  const std::string& line = item.Line;
  const std::string dateText = Copy(line, 1, 2) + "/" + Copy(line, 4, 2) + "/" + Copy(line, 7, 2);

  // Time and size tokens after the date, remembering where the size token stands in the line
  // so that the name is taken after it and not after an earlier look-alike (a size of 1 also
  // occurs in a date like 01-15-02).
  size_t pos = std::min<size_t>(8, line.size());
  auto skipBlanks = [&] {
    while (pos < line.size() && static_cast<unsigned char>(line[pos]) <= ' ') ++pos;
  };
  auto token = [&] {
    const size_t start = pos;
    while (pos < line.size() && static_cast<unsigned char>(line[pos]) > ' ') ++pos;
    return line.substr(start, pos - start);
  };
  skipBlanks();
  const std::string timeToken = token();
  skipBlanks();
  const size_t sizePos = pos;
  const std::string rawSize = token();
  const std::string sizeToken = WithoutCommas(rawSize);

  if (Upper(sizeToken) == "<DIR>") {
    item.Kind = ikDirectory;
    item.EntrySize = 0;
  } else {
    item.Kind = ikFile;
    item.EntrySize = ToNumber<int64_t>(sizeToken).value_or(0);
  }
  const size_t nameStart = sizePos + rawSize.size() + (item.Kind == ikDirectory ? 10 : 1);
  item.EntryName = nameStart < line.size() ? TrimRight(line.substr(nameStart)) : std::string();

  auto date = ParseDosDate(dateText);
  auto time = ParseDosTime(timeToken);
  item.Modified = date && time ? *date + *time : 0;
  return true;
}

bool ParseUnixLine(TNetFTPListItem& item) {
  Tokens t(item.Line);
  const std::string rights = t.Next();
  const char kindLetter = rights.empty() ? '\0' : Upper(rights.substr(0, 1))[0];
  item.OwnerRights = Copy(rights, 2, 3);
  item.GroupRights = Copy(rights, 5, 3);
  item.OtherRights = Copy(rights, 8, 3);

  std::string linkCount;
  const std::string second = t.Next();
  if (Upper(second) != "FOLDER") {
    linkCount = second;
    item.Owner = t.Next();
    item.Group = t.Next();
  }
  std::string size;
  const std::string rest = t.Rest();
  if (rest.empty() || !IsLetter(rest[0])) {
    size = t.Next();
  } else {
    // No group column: what was read as the group is the size, the owner is the group.
    size = item.Group;
    item.Group = item.Owner;
    item.Owner.clear();
  }

  const ListingNow now = CurrentListingNow();
  const int month = MonthFromName(t.Next());
  const int day = ToNumber<int>(t.Next()).value_or(now.day);
  const std::string timeOrYear = t.Next(/*oneBlank=*/true);
  int year = now.year, hour = 0, minute = 0;
  if (timeOrYear.find(':') != std::string::npos) {
    const std::vector<std::string> hm = Split(timeOrYear, ':');
    auto h = ToNumber<int>(hm[0]);
    auto m = hm.size() > 1 ? ToNumber<int>(hm[1]) : std::optional<int>();
    if (!h || !m) return false;
    hour = *h;
    minute = *m;
    if (month > now.month) year = now.year - 1;
  } else {
    year = ToNumber<int>(timeOrYear).value_or(now.year);
  }

  std::string name = t.Rest();
  if (kindLetter == 'D') {
    item.Kind = ikDirectory;
  } else if (kindLetter == 'L') {
    item.Kind = ikLink;
    if (size_t arrow = name.find(" -> "); arrow != std::string::npos) {
      item.LinkTarget = name.substr(arrow + 4);
      name = name.substr(0, arrow);
    }
  } else {
    item.Kind = ikFile;
  }
  item.EntryName = name;
  item.LinkCount = ToNumber<int32_t>(linkCount).value_or(0);
  item.EntrySize = ToNumber<int64_t>(size).value_or(0);

  auto date = EncodeDate(year, month, day);
  auto time = EncodeTime(hour, minute, 0, 999);
  if (!date || !time) return false;
  item.Modified = *date + *time;
  return true;
}

}  // namespace skelder::ftp
