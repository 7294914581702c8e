#include "host_session.h"

#include <cstring>
#include <ostream>
#include <stdexcept>
#include <vector>

#include "platform/callconv.h"
#include "platform/dynlib.h"

namespace ardmoor {

namespace {

using TVcsInitEventAddin = void(SKELDER_STDCALL*)(char*, int32_t, int32_t);
using TVoid = void(SKELDER_STDCALL*)();
using TGetAddinInfo = void(SKELDER_STDCALL*)(char*, char*);
using TMTGetTopMenuCount = int32_t(SKELDER_STDCALL*)();
using TMTGetTopMenuInfo = uint8_t(SKELDER_STDCALL*)(int32_t, uint8_t*);
using TMTGetMenuInfo = uint8_t(SKELDER_STDCALL*)(int32_t, int32_t, int32_t*, uint8_t*);
using TMTActionStatus = uint8_t(SKELDER_STDCALL*)(int32_t, uint8_t*, uint8_t*, uint8_t*, int32_t);
using TMTActionExecute = uint8_t(SKELDER_STDCALL*)(int32_t);
using TMTNotifySelection = void(SKELDER_STDCALL*)(int32_t, const void*);
using THasDlgAddin = uint8_t(SKELDER_STDCALL*)(int32_t, int32_t);
using TGetDlgAddin = uint32_t(SKELDER_STDCALL*)(int32_t, uint32_t, int32_t, const char*, char*, int32_t);
using TDlgAddinParentResized = void(SKELDER_STDCALL*)(int32_t, uint32_t, int32_t, int32_t, int32_t, int32_t);
using TDlgAddinGetData = uint8_t(SKELDER_STDCALL*)(int32_t, uint32_t, char*);
using TDlgAddinValidate = uint8_t(SKELDER_STDCALL*)(int32_t, uint32_t);
using TDlgAddinRelease = void(SKELDER_STDCALL*)(int32_t, uint32_t);
using TSkelderRunPropertyPage = uint8_t(SKELDER_STDCALL*)(uint32_t);

constexpr int32_t kFolderProperties = 1006;
constexpr int32_t kObjectSelection = 1;
// The host's buffers: text fields of the records and the add-in's names are at most 256 bytes.
constexpr size_t kNameBuffer = 256;
constexpr size_t kTopMenuRecord = 524;
constexpr size_t kMenuItemRecord = 789;
constexpr size_t kNotesBuffer = 65536;
// The page's place in the host's dialog.
constexpr int32_t kPageWidth = 414;
constexpr int32_t kPageHeight = 421;

std::string Text(const std::vector<uint8_t>& record, size_t offset, size_t size) {
  const char* p = reinterpret_cast<const char*>(record.data() + offset);
  return std::string(p, strnlen(p, size));
}

int32_t Int32(const std::vector<uint8_t>& record, size_t offset) {
  int32_t v;
  std::memcpy(&v, record.data() + offset, 4);
  return v;
}

// "&Deploy" is shown as "Deploy"; "&&" stays one "&".
std::string WithoutAccelerator(const std::string& caption) {
  std::string out;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&' && i + 1 < caption.size()) ++i;
    out += caption[i];
  }
  return out;
}

}  // namespace

template <typename Fn>
Fn HostSession::Get(const char* name) {
  void* symbol = skelder::platform::LibrarySymbol(addin_, name);
  if (!symbol) throw std::runtime_error(std::string("the add-in does not export ") + name);
  return reinterpret_cast<Fn>(symbol);
}

HostSession::HostSession(void* addin) : addin_(addin) {
  std::vector<char> handler(kNameBuffer, 0), name(kNameBuffer, 0), description(kNameBuffer, 0);
  Get<TVcsInitEventAddin>("VcsInitEventAddin")(handler.data(), 0, 0);
  handler_ = std::string(handler.data(), strnlen(handler.data(), kNameBuffer));
  Get<TGetAddinInfo>("GetAddinInfo")(name.data(), description.data());
  name_ = std::string(name.data(), strnlen(name.data(), kNameBuffer));
  description_ = std::string(description.data(), strnlen(description.data(), kNameBuffer));
}

HostSession::~HostSession() {
  if (void* release = skelder::platform::LibrarySymbol(addin_, "ReleaseVcsAddin")) reinterpret_cast<TVoid>(release)();
}

void HostSession::PrintMenu(std::ostream& out) {
  auto count = Get<TMTGetTopMenuCount>("MTGetTopMenuCount");
  auto topInfo = Get<TMTGetTopMenuInfo>("MTGetTopMenuInfo");
  auto itemInfo = Get<TMTGetMenuInfo>("MTGetMenuInfo");
  out << name_ << ": " << description_ << "\n";
  const int32_t tops = count();
  std::vector<uint8_t> scratch(kTopMenuRecord, 0);
  topInfo(-1, scratch.data());
  for (int32_t top = 0; top < tops; ++top) {
    std::vector<uint8_t> record(kTopMenuRecord, 0);
    if (!topInfo(top, record.data())) continue;
    out << WithoutAccelerator(Text(record, 0, 256)) << "\n";
    std::vector<uint8_t> item(kMenuItemRecord, 0);
    itemInfo(top, -1, nullptr, item.data());
    // Items until the add-in has no more; the bound only guards against one that never stops.
    for (int32_t index = 0; index < 1000; ++index) {
      std::fill(item.begin(), item.end(), 0);
      int32_t subItems = 0;
      if (!itemInfo(top, index, &subItems, item.data())) break;
      const int32_t action = Int32(item, 0);
      const uint32_t bitmap = static_cast<uint32_t>(Int32(item, 775));
      out << "  " << WithoutAccelerator(Text(item, 5, 256)) << "\t[action " << action << "]"
          << (ActionEnabled(action) ? " enabled" : " disabled") << (bitmap ? "\ticon" : "") << "\n";
      const std::string hint = Text(item, 261, 256);
      if (!hint.empty()) out << "    " << hint << "\n";
    }
    itemInfo(top, -2, nullptr, item.data());
  }
  topInfo(-2, scratch.data());
}

void HostSession::Select(int32_t objectId) {
  int32_t id = objectId;
  int32_t* first = &id;
  Get<TMTNotifySelection>("MTNotifySelection")(kObjectSelection, &first);
}

bool HostSession::ActionEnabled(int32_t actionId) {
  uint8_t enabled = 0, checked = 0, visible = 0;
  Get<TMTActionStatus>("MTActionStatus")(actionId, &enabled, &checked, &visible, 0);
  return enabled != 0 && visible != 0;
}

bool HostSession::Execute(int32_t actionId) { return Get<TMTActionExecute>("MTActionExecute")(actionId) != 0; }

std::optional<std::string> HostSession::EditProperties(int32_t folderId, const std::string& notes,
                                                       const std::function<std::string()>& current, std::ostream& out,
                                                       const PropertiesOptions& options) {
  if (!Get<THasDlgAddin>("HasDlgAddin")(kFolderProperties, 1)) {
    out << "The add-in adds no page to the folder properties.\n";
    return std::nullopt;
  }
  auto release = Get<TDlgAddinRelease>("DlgAddinRelease");
  auto place = Get<TDlgAddinParentResized>("DlgAddinParentResized");
  uint32_t parent = 0;
#if defined(_WIN32)
  // The dialog the page goes into, as the host's own; it outlives the page.
  PropertiesWindow window;
  parent = window.Handle();
#endif
  std::vector<char> caption(kNameBuffer, 0);
  const uint32_t page =
      Get<TGetDlgAddin>("GetDlgAddin")(kFolderProperties, parent, folderId, notes.c_str(), caption.data(), 0);
  if (page == 0) {
    out << "The add-in did not open its page.\n";
    return std::nullopt;
  }
  // The page is released on every way out.
  struct Release {
    TDlgAddinRelease release;
    uint32_t page;
    ~Release() { release(kFolderProperties, page); }
  } releaseAtEnd{release, page};
  const std::string title(caption.data(), strnlen(caption.data(), kNameBuffer));
  out << "Folder properties: " << title << "\n";

  // Saving starts from the notes as they are now: another add-in may have written meanwhile.
  auto collect = [&]() -> std::optional<std::string> {
    const std::string now = current();
    if (now.size() >= kNotesBuffer) throw std::runtime_error("the folder's notes do not fit the host's buffer");
    std::vector<char> buffer(kNotesBuffer, 0);
    std::memcpy(buffer.data(), now.c_str(), now.size() + 1);
    if (!Get<TDlgAddinGetData>("DlgAddinGetData")(kFolderProperties, page, buffer.data())) return std::nullopt;
    return std::string(buffer.data(), strnlen(buffer.data(), kNotesBuffer));
  };
  auto validate = Get<TDlgAddinValidate>("DlgAddinValidate");

#if defined(_WIN32)
  if (window.Hosts(page)) {
    // A page with a window of its own: the dialog places it on every resize, and its OK
    // collects the notes once the page accepts them.
    std::optional<std::string> saved;
    PageCalls calls;
    calls.place = [&](int32_t left, int32_t top, int32_t right, int32_t bottom) {
      place(kFolderProperties, page, left, top, right, bottom);
    };
    calls.ok = [&] {
      if (!validate(kFolderProperties, page)) return false;
      saved = collect();
      return true;
    };
    if (!window.Run(page, title, calls, options.click)) return std::nullopt;
    return saved;
  }
#else
  (void)options;
#endif
  // A toolkit without windows shows the dialog around the page itself.
  place(kFolderProperties, page, 0, 0, kPageWidth, kPageHeight);
  // A page that refuses what it holds has said why; the dialog stays open, as a host's does,
  // until the page is saved or the user cancels.
  for (;;) {
    if (!Get<TSkelderRunPropertyPage>("SkelderRunPropertyPage")(page)) return std::nullopt;
    if (validate(kFolderProperties, page)) return collect();
  }
}

std::optional<HostClick> ParseHostClick(const std::string& text) {
  const size_t at = text.find('@');
  const std::string button = text.substr(0, at);
  HostClick click;
  if (button == "OK")
    click.ok = true;
  else if (button == "Cancel")
    click.ok = false;
  else
    return std::nullopt;
  if (at != std::string::npos) {
    const std::string delay = text.substr(at + 1);
    if (delay.empty() || delay.size() > 7 || delay.find_first_not_of("0123456789") != std::string::npos)
      return std::nullopt;
    click.delayMs = static_cast<unsigned>(std::stoul(delay));
  }
  return click;
}

void HostSession::Installed() { Get<TVoid>("VcsInstalled")(); }
void HostSession::Uninstalled() { Get<TVoid>("VcsUninstalled")(); }

}  // namespace ardmoor

// ---- subcommands -----------------------------------------------------------------------------

#include <iostream>

#include "hostsim_repository.h"

namespace ardmoor {

int MenuCommand(void* addin, std::optional<int32_t> selectedFolder) {
  HostSession session(addin);
  if (selectedFolder) session.Select(*selectedFolder);
  session.PrintMenu(std::cout);
  return 0;
}

int PropertiesCommand(skelder::hostsim::Repository& repo, int32_t folderId, void* addin,
                      const PropertiesOptions& options) {
  HostSession session(addin);
  const std::string opened = repo.Notes(folderId);
  auto saved = session.EditProperties(
      folderId, opened, [&] { return repo.Notes(folderId); }, std::cout, options);
  if (!saved) {
    std::cout << "Not saved.\n";
    return 2;
  }
  repo.SetNotes(folderId, *saved);
  repo.Save();
  std::cout << "Saved the folder's notes.\n";
  return 0;
}

int InstallCommand(void* addin, bool install) {
  HostSession session(addin);
  if (install)
    session.Installed();
  else
    session.Uninstalled();
  std::cout << (install ? "Registered \"" : "Removed \"") << session.HandlerName() << "\"\n";
  return 0;
}

}  // namespace ardmoor
