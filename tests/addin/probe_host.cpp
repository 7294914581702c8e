// A host library that records what the add-in asks it: the menu module's object information,
// the deploy-permission query and the folder information of the property page. Its answers come
// from files in the directory named by SKELDER_PROBE_DIR:
//   objects/<id>.notes   the object's notes (no file: the object does not exist)
//   objects/<id>.type    its type, default 4 (a folder)
//   perm/<id>            the deploy permission byte, default 1
//   names/<id>           the folder's name for the folder information (no file: status 3)
//   always84             every object-information call answers 84
// and every call appends a line to calls.log. Built as KVOMain.Dll and KVOCCore.Dll, and once
// more without the object-information and permission functions.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/callconv.h"

namespace {

std::string Dir() {
  const char* d = std::getenv("SKELDER_PROBE_DIR");
  return d ? d : ".";
}

bool Read(const std::string& rel, std::string& out) {
  std::ifstream in(Dir() + "/" + rel, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  out = s.str();
  return true;
}

void Log(const std::string& line) {
  std::ofstream out(Dir() + "/calls.log", std::ios::app | std::ios::binary);
  out << line << "\n";
}

[[maybe_unused]] int32_t Number(const std::string& rel, int32_t fallback) {
  std::string text;
  if (!Read(rel, text)) return fallback;
  return static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10));
}

}  // namespace

extern "C" {

#if defined(PROBE_MAIN) && !defined(PROBE_BARE)
SKELDER_EXPORT int32_t SKELDER_STDCALL XRGetObjectInfo(int32_t id, char* buffer1, char* buffer2, char* text,
                                                       int32_t* size, int32_t* type) {
  Log("objectinfo " + std::to_string(id) + " " + std::to_string(size ? *size : -1));
  std::string notes;
  if (!size || !type || !Read("objects/" + std::to_string(id) + ".notes", notes)) return 10;
  int32_t needed = static_cast<int32_t>(notes.size()) + 1;
  std::string ignored;
  static bool after84 = false;
  if (Read("always84", ignored) || *size < needed) {
    *size = needed;
    after84 = true;
    return 84;
  }
  // The buffer after an 84 is one byte larger than the size the host asked for: its last byte
  // is written too, so a sanitizer build catches a buffer of only that size.
  if (after84) text[*size] = 0;
  after84 = false;
  std::memcpy(buffer1, "name", 5);
  std::memcpy(buffer2, "path", 5);
  // The whole buffer the size announces is the host's to fill, its last byte included.
  std::memset(text, 0, static_cast<size_t>(*size));
  std::memcpy(text, notes.data(), notes.size());
  *type = Number("objects/" + std::to_string(id) + ".type", 4);
  return 0;
}
#endif

#if defined(PROBE_CORE) && !defined(PROBE_BARE)
SKELDER_EXPORT int32_t SKELDER_STDCALL XRDVcsGetFolderPermissions(int32_t id, uint8_t* area, uint8_t* b1, uint8_t* b2) {
  Log("permission " + std::to_string(id));
  area[0] = static_cast<uint8_t>(Number("perm/" + std::to_string(id), 1));
  area[1] = area[2] = area[3] = 0;
  *b1 = 1;
  *b2 = 1;
  return 0;
}
#endif

SKELDER_EXPORT int32_t SKELDER_STDCALL XRDVcsGetFolderInfo(int32_t id, char* name, char* displayPath, char* path,
                                                           char* notes, int32_t* a, int32_t* b, int32_t* c) {
#if defined(PROBE_MAIN)
  Log("folderinfo main " + std::to_string(id));
#else
  Log("folderinfo core " + std::to_string(id));
#endif
  std::string folderName;
  if (!Read("names/" + std::to_string(id), folderName)) return 3;
  std::strncpy(name, folderName.c_str(), 511);
  name[511] = 0;
  displayPath[0] = path[0] = notes[0] = 0;
  *a = *b = *c = 0;
  return 0;
}

SKELDER_EXPORT int32_t SKELDER_STDCALL XRDVcsErrorString(int32_t code, char* buffer, int32_t* size) {
  std::string text = "probe error " + std::to_string(code);
  int32_t needed = static_cast<int32_t>(text.size()) + 1;
  if (!buffer || !size || *size < needed) {
    if (size) *size = needed;
    return 0;
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return 0;
}

}  // extern "C"
