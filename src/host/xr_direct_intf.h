#pragma once
// The binding to the host's client libraries. KVOCCore.Dll and KVOMain.Dll are found in the
// host's installation directory, loaded on first use, their functions bound by name, and called
// through thin wrappers that turn a missing library or function into a typed error and the
// host's buffer-and-status calls into string results.
#include <cstdint>
#include <string>

#include "host/xr_vcs_types.h"
#include "platform/exception.h"

namespace skelder::host {

class EKvoCannotLocateClient : public Exception {
 public:
  using Exception::Exception;
};
class EKvoFunctionNotExported : public Exception {
 public:
  using Exception::Exception;
};

inline constexpr const char* kCoreLibraryName = "KVOCCore.Dll";
inline constexpr const char* kMainLibraryName = "KVOMain.Dll";
inline constexpr const char* kRegistryKey = "\\Software\\Vorn\\Ardmoor";
inline constexpr const char* kRegistryInstallDir = "InstallDir";

// The host's installation directory as stored (a trailing separator is not guaranteed).
std::string ClientInstallDir();
// The per-user folder, with a trailing separator.
std::string ClientUserDir();

void LoadCoreLibrary();
void LoadMainLibrary();

// Item functions of the enumerations: the context first, then the entry's strings and numbers in
// the host's order. The answer goes back to the host.
using TEnumFolderItem = bool (*)(void* context, const std::string& s1, const std::string& s2,
                                 const std::string& folderPath, int32_t folderId, int32_t i2, int32_t i3, int32_t i4);
using TEnumFileItem = bool (*)(void* context, const std::string& fileName, const std::string& s2,
                               const std::string& lockHolder, int32_t fileId, int32_t folderId, int32_t i3, int32_t i4,
                               int32_t i5, int32_t i6, int32_t i7, int32_t i8, int32_t i9, uint8_t b1, uint8_t b2);

// Wrappers over KVOCCore.Dll.
int32_t VcsInvalidateCache();
int32_t VcsGetFolderInfo(int32_t folderId, std::string& name, std::string& displayPath, std::string& path,
                         std::string& notes, int32_t& int1, int32_t& int2, int32_t& int3);
int32_t VcsEnumFolders(int32_t rootId, TEnumFolderItem item, void* context, int32_t flag);
int32_t VcsEnumFiles(int32_t folderId, TEnumFileItem item, void* context, int32_t flag);
int32_t VcsCheckOutFile(int32_t fileId, int32_t& output, TCheckOutRequest* request);
int32_t VcsGetFileGroupExtensions(const std::string& fileName, std::string& extensions);
int32_t VcsGetFolderPermissions(int32_t folderId, uint8_t* area, uint8_t& byteOutput1, uint8_t& byteOutput2);
void VcsErrorString(int32_t code, std::string& message);

// The same folder-information call bound to KVOMain.Dll's table (the property page uses it).
int32_t MainVcsGetFolderInfo(int32_t folderId, std::string& name, std::string& displayPath, std::string& path,
                             std::string& notes, int32_t& int1, int32_t& int2, int32_t& int3);

// Check-out request: the record and its four text buffers, all empty or zero.
TCheckOutRequest* NewCheckOutRequest();
void FreeCheckOutRequest(TCheckOutRequest* request);

// Clears the cached installation directories (the add-in's unload does this). The libraries
// themselves stay loaded until the process ends.
void ClearBindingCache();

}  // namespace skelder::host
