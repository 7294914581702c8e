// Any listing, in any layout the parser knows, parses or is dropped; it never crashes, reads
// past a line or throws out of ParseListing.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ftp/net_ftp_list.h"

using namespace skelder::ftp;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool pinned = [] {
    SetListingClock([] { return ListingNow{2026, 6, 15, 12, 0}; });
    return true;
  }();
  (void)pinned;
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t lf = text.find('\n', start);
    if (lf == std::string::npos) lf = text.size();
    lines.push_back(text.substr(start, lf - start));
    start = lf + 1;
  }
  TNetFTPListItems items;
  items.ListFormat = TNetFTPListItems::DetectListFormat(lines.front(), true);
  items.ParseListing(lines);
  for (TNetFTPListFormat f : {fmtDos, fmtUnix, fmtNoDetails}) {
    items.ListFormat = f;
    items.ParseListing(lines);
    for (size_t i = 0; i < items.Count(); ++i) {
      (void)DecodeDateTime(items.Item(i).Modified);
    }
  }
  return 0;
}
