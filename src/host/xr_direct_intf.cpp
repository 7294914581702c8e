// Loading the host libraries, their tables of entry points, and the wrappers over them.
#include "host/xr_direct_intf.h"

#include <array>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

#include "host/xr_vcs_const.h"
#include "platform/dynlib.h"
#include "platform/file_names.h"
#include "platform/files.h"

namespace skelder::host {

namespace {

template <size_t N>
struct Binding {
  Binding(const char* file, const std::array<const char*, N>& table, bool pathInError)
      : fileName(file), names(table), pathInLoadError(pathInError) {}
  const char* fileName;
  const std::array<const char*, N>& names;
  bool pathInLoadError;  // KVOMain.Dll names the file when it cannot be loaded, KVOCCore.Dll does not
  platform::LibraryHandle handle = nullptr;
  std::string installDir;
  std::array<void*, N> entries{};
};

// Process-wide and never released: the host libraries stay loaded until the process ends.
Binding<kCoreFunctionNames.size()> g_core{kCoreLibraryName, kCoreFunctionNames, false};
Binding<kMainFunctionNames.size()> g_main{kMainLibraryName, kMainFunctionNames, true};

template <size_t N>
void Load(Binding<N>& lib) {
  if (lib.handle) return;
  if (lib.installDir.empty()) lib.installDir = ClientInstallDir();
  std::string path = lib.installDir;
  if (path.empty() || path.back() != platform::kPathSeparator) path += platform::kPathSeparator;
  path += lib.fileName;
  if (!platform::FileExists(path)) throw EKvoCannotLocateClient("Could not locate XR Client: " + path);
  platform::LibraryHandle handle = platform::OpenLibrary(path);
  if (!handle)
    throw Exception(lib.pathInLoadError ? "Error Loading XR Interface: " + path : "Error Loading XR Interface");
  lib.handle = handle;
  // No name is required here; a missing one fails only when its wrapper is called.
  for (size_t i = 0; i < N; ++i) lib.entries[i] = platform::LibrarySymbol(handle, lib.names[i]);
}

// The entry point of a slot, loading the library first when the slot is empty.
template <typename Fn, size_t N>
Fn Entry(Binding<N>& lib, size_t slot, const char* operation) {
  if (!lib.entries[slot]) Load(lib);
  if (!lib.entries[slot]) throw EKvoFunctionNotExported(std::string("Function not exported: ") + operation);
  return reinterpret_cast<Fn>(lib.entries[slot]);
}

#define SKELDER_CORE_ENTRY(type, name, operation) Entry<type>(g_core, SlotOf(kCoreFunctionNames, name), operation)
#define SKELDER_MAIN_ENTRY(type, name, operation) Entry<type>(g_main, SlotOf(kMainFunctionNames, name), operation)

// Host text ends at its first zero byte, and never goes past the buffer, zero or not.
std::string FromBuffer(const char* buffer, size_t capacity) { return std::string(buffer, strnlen(buffer, capacity)); }
std::string FromHost(const char* text) { return text ? std::string(text) : std::string(); }

// What the host hands back as the context of an enumeration: the caller's context, and room for
// an error raised by the caller's item function, which must not unwind through the host.
struct EnumFrame {
  void* context;
  std::exception_ptr error;
};

HostBool SKELDER_STDCALL FolderEntry(void* item, void* context, const char* s1, const char* s2, const char* folderPath,
                                     int32_t folderId, int32_t i2, int32_t i3, int32_t i4) {
  auto* frame = static_cast<EnumFrame*>(context);
  if (!item || !frame) return 1;
  try {
    auto fn = reinterpret_cast<TEnumFolderItem>(item);
    return fn(frame->context, FromHost(s1), FromHost(s2), FromHost(folderPath), folderId, i2, i3, i4) ? 1 : 0;
  } catch (...) {
    frame->error = std::current_exception();
    return 0;
  }
}

HostBool SKELDER_STDCALL FileEntry(void* item, void* context, const char* fileName, const char* s2,
                                   const char* lockHolder, int32_t fileId, int32_t folderId, int32_t i3, int32_t i4,
                                   int32_t i5, int32_t i6, int32_t i7, int32_t i8, int32_t i9, uint8_t b1, uint8_t b2) {
  auto* frame = static_cast<EnumFrame*>(context);
  if (!item || !frame) return 1;
  try {
    auto fn = reinterpret_cast<TEnumFileItem>(item);
    return fn(frame->context, FromHost(fileName), FromHost(s2), FromHost(lockHolder), fileId, folderId, i3, i4, i5, i6,
              i7, i8, i9, b1, b2)
               ? 1
               : 0;
  } catch (...) {
    frame->error = std::current_exception();
    return 0;
  }
}

// Runs an enumeration; an error of the caller's item function surfaces once the host returns.
template <typename Fn, typename PerEntry>
int32_t RunEnum(Fn fn, int32_t id, void* item, void* context, PerEntry perEntry, int32_t flag) {
  EnumFrame frame{context, nullptr};
  const int32_t status = fn(id, item, &frame, perEntry, flag);
  if (frame.error) std::rethrow_exception(frame.error);
  return status;
}

template <typename Fn>
int32_t RunFolderInfo(Fn fn, int32_t folderId, std::string& name, std::string& displayPath, std::string& path,
                      std::string& notes, int32_t& int1, int32_t& int2, int32_t& int3) {
  std::vector<char> nameBuf(kFolderNameSize), displayBuf(kFolderDisplayPathSize), pathBuf(kFolderPathSize),
      notesBuf(kNotesSize);
  const int32_t status =
      fn(folderId, nameBuf.data(), displayBuf.data(), pathBuf.data(), notesBuf.data(), &int1, &int2, &int3);
  if (status == kStatusOk) {
    name = FromBuffer(nameBuf.data(), nameBuf.size());
    displayPath = FromBuffer(displayBuf.data(), displayBuf.size());
    path = FromBuffer(pathBuf.data(), pathBuf.size());
    notes = FromBuffer(notesBuf.data(), notesBuf.size());
  } else {
    name.clear();
    displayPath.clear();
    path.clear();
    notes.clear();
    int1 = int2 = int3 = 0;
  }
  return status;
}

// More than any message a host has a reason to send; a larger size asked for is not trusted.
constexpr int32_t kMaxErrorTextSize = 1 << 20;

}  // namespace

void LoadCoreLibrary() { Load(g_core); }
void LoadMainLibrary() { Load(g_main); }

void ClearBindingCache() {
  g_core.installDir.clear();
  g_main.installDir.clear();
}

int32_t VcsInvalidateCache() {
  return SKELDER_CORE_ENTRY(TXRDVcsInvalidateCache, "XRDVcsInvalidateCache", "VcsInvalidateCache")();
}

int32_t VcsGetFolderInfo(int32_t folderId, std::string& name, std::string& displayPath, std::string& path,
                         std::string& notes, int32_t& int1, int32_t& int2, int32_t& int3) {
  auto fn = SKELDER_CORE_ENTRY(TXRDVcsGetFolderInfo, "XRDVcsGetFolderInfo", "VcsGetFolderInfo");
  return RunFolderInfo(fn, folderId, name, displayPath, path, notes, int1, int2, int3);
}

int32_t MainVcsGetFolderInfo(int32_t folderId, std::string& name, std::string& displayPath, std::string& path,
                             std::string& notes, int32_t& int1, int32_t& int2, int32_t& int3) {
  auto fn = SKELDER_MAIN_ENTRY(TXRDVcsGetFolderInfo, "XRDVcsGetFolderInfo", "VcsGetFolderInfo");
  return RunFolderInfo(fn, folderId, name, displayPath, path, notes, int1, int2, int3);
}

int32_t VcsEnumFolders(int32_t rootId, TEnumFolderItem item, void* context, int32_t flag) {
  auto fn = SKELDER_CORE_ENTRY(TXRDVcsEnumFolders, "XRDVcsEnumFolders", "VcsEnumFolders");
  return RunEnum(fn, rootId, reinterpret_cast<void*>(item), context, FolderEntry, flag);
}

int32_t VcsEnumFiles(int32_t folderId, TEnumFileItem item, void* context, int32_t flag) {
  auto fn = SKELDER_CORE_ENTRY(TXRDVcsEnumFiles, "XRDVcsEnumFiles", "VcsEnumFiles");
  return RunEnum(fn, folderId, reinterpret_cast<void*>(item), context, FileEntry, flag);
}

int32_t VcsCheckOutFile(int32_t fileId, int32_t& output, TCheckOutRequest* request) {
  return SKELDER_CORE_ENTRY(TXRDVcsCheckOutFile, "XRDVcsCheckOutFile", "VcsCheckOutFile")(fileId, &output, request);
}

int32_t VcsGetFileGroupExtensions(const std::string& fileName, std::string& extensions) {
  extensions = platform::ExtractFileExt(fileName);
  auto fn =
      SKELDER_CORE_ENTRY(TXRDVcsGetFileGroupExtensions, "XRDVcsGetFileGroupExtensions", "VcsGetFileGroupExtensions");
  std::vector<char> buffer(kGroupExtensionsSize);
  const int32_t status = fn(fileName.c_str(), buffer.data());
  if (status == kStatusOk) extensions = FromBuffer(buffer.data(), buffer.size());
  return status;
}

int32_t VcsGetFolderPermissions(int32_t folderId, uint8_t* area, uint8_t& byteOutput1, uint8_t& byteOutput2) {
  return SKELDER_CORE_ENTRY(TXRDVcsGetFolderPermissions, "XRDVcsGetFolderPermissions", "VcsGetFolderPermissions")(
      folderId, area, &byteOutput1, &byteOutput2);
}

void VcsErrorString(int32_t code, std::string& message) {
  message.clear();
  auto fn = SKELDER_CORE_ENTRY(TXRDVcsErrorString, "XRDVcsErrorString", "VcsErrorString");
  int32_t size = 0;
  fn(code, nullptr, &size);
  if (size <= 0) return;
  if (size > kMaxErrorTextSize) size = kMaxErrorTextSize;
  std::vector<char> buffer(static_cast<size_t>(size));
  int32_t capacity = size;
  fn(code, buffer.data(), &capacity);
  message = FromBuffer(buffer.data(), buffer.size());
}

TCheckOutRequest* NewCheckOutRequest() {
  // Value-initialised: every buffer an empty string, every number and the flags zero.
  auto comment = std::make_unique<char[]>(kCheckOutCommentSize);
  auto description = std::make_unique<char[]>(kCheckOutDescriptionSize);
  auto label = std::make_unique<char[]>(kCheckOutLabelSize);
  auto targetDir = std::make_unique<char[]>(kCheckOutTargetDirSize);
  auto request = std::make_unique<TCheckOutRequest>();
  request->Comment = comment.release();
  request->Description = description.release();
  request->Label = label.release();
  request->TargetDir = targetDir.release();
  return request.release();
}

void FreeCheckOutRequest(TCheckOutRequest* request) {
  if (!request) return;
  delete[] request->Comment;
  delete[] request->Description;
  delete[] request->Label;
  delete[] request->TargetDir;
  delete request;
}

}  // namespace skelder::host
