#pragma once
// The host client libraries' calling interface: function types of the operations the add-in
// calls, the per-entry callbacks of the enumerations and the check-out request record. Shared
// by the binding and by the stand-in host, which must agree byte for byte.
#include <cstdint>

#include "platform/callconv.h"

namespace skelder::host {

using HostBool = uint8_t;  // one-byte truth value: 1 true, 0 false

// Buffer capacities the add-in allocates.
inline constexpr int kFolderNameSize = 512;
inline constexpr int kFolderDisplayPathSize = 2048;
inline constexpr int kFolderPathSize = 2048;
inline constexpr int kNotesSize = 65536;
inline constexpr int kGroupExtensionsSize = 512;
inline constexpr int kObjectInfoBuffer1Size = 512;
inline constexpr int kObjectInfoBuffer2Size = 1024;
inline constexpr int kObjectInfoFirstTextSize = 32000;

// Status codes the add-in looks at.
inline constexpr int32_t kStatusOk = 0;
inline constexpr int32_t kStatusBufferTooSmall = 84;
inline constexpr int32_t kObjectTypeFolder = 4;

extern "C" {

// Check-out request, as the host reads it.
struct TCheckOutRequest {
  char* Comment;      // 65,536 bytes
  char* Description;  // 65,536 bytes
  char* Label;        // 255 bytes
  char* TargetDir;    // 512 bytes: the directory the file is checked out into
  int32_t Value1;
  int32_t Value2;
  uint8_t Byte1;
  uint8_t Byte2;
  uint32_t Flags;  // bit 0 set by the add-in
};

inline constexpr int kCheckOutCommentSize = 65536;
inline constexpr int kCheckOutDescriptionSize = 65536;
inline constexpr int kCheckOutLabelSize = 255;
inline constexpr int kCheckOutTargetDirSize = 512;

// Per-entry functions the host calls during an enumeration; `item` and `context` are passed
// back as the add-in gave them.
using TEnumFolderEntry = HostBool(SKELDER_STDCALL*)(void* item, void* context, const char* s1, const char* s2,
                                                    const char* folderPath, int32_t folderId, int32_t i2, int32_t i3,
                                                    int32_t i4);
using TEnumFileEntry = HostBool(SKELDER_STDCALL*)(void* item, void* context, const char* fileName, const char* s2,
                                                  const char* lockHolder, int32_t fileId, int32_t folderId, int32_t i3,
                                                  int32_t i4, int32_t i5, int32_t i6, int32_t i7, int32_t i8,
                                                  int32_t i9, uint8_t b1, uint8_t b2);

using TXRDVcsInvalidateCache = int32_t(SKELDER_STDCALL*)();
using TXRDVcsGetFolderInfo = int32_t(SKELDER_STDCALL*)(int32_t folderId, char* name, char* displayPath, char* path,
                                                       char* notes, int32_t* int1, int32_t* int2, int32_t* int3);
using TXRDVcsEnumFolders = int32_t(SKELDER_STDCALL*)(int32_t rootId, void* item, void* context,
                                                     TEnumFolderEntry perEntry, int32_t flag);
using TXRDVcsEnumFiles = int32_t(SKELDER_STDCALL*)(int32_t folderId, void* item, void* context, TEnumFileEntry perEntry,
                                                   int32_t flag);
using TXRDVcsCheckOutFile = int32_t(SKELDER_STDCALL*)(int32_t fileId, int32_t* output, TCheckOutRequest* request);
using TXRDVcsGetFileGroupExtensions = int32_t(SKELDER_STDCALL*)(const char* fileName, char* extensions);
using TXRDVcsGetFolderPermissions = int32_t(SKELDER_STDCALL*)(int32_t folderId, uint8_t* area, uint8_t* b1,
                                                              uint8_t* b2);
using TXRDVcsErrorString = int32_t(SKELDER_STDCALL*)(int32_t code, char* buffer, int32_t* size);
using TXRGetObjectInfo = int32_t(SKELDER_STDCALL*)(int32_t objectId, char* buffer1, char* buffer2, char* text,
                                                   int32_t* size, int32_t* objectType);

}  // extern "C"

}  // namespace skelder::host
