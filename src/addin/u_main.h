#pragma once
// The add-in's 21 exports: the command and event interface, the menu interface and the
// property-page interface, each as the host calls it.
#include <cstdint>
#include <string>

#include "platform/callconv.h"

extern "C" {
SKELDER_EXPORT void SKELDER_STDCALL VcsInitEventAddin(char* name, int32_t valueA, int32_t valueB);
SKELDER_EXPORT void SKELDER_STDCALL VcsInstalled();
SKELDER_EXPORT void SKELDER_STDCALL VcsUninstalled();
SKELDER_EXPORT uint8_t SKELDER_STDCALL VcsHandleCommand(const char* command, const char* data);
SKELDER_EXPORT void SKELDER_STDCALL VcsConfigureAddin();
SKELDER_EXPORT void SKELDER_STDCALL VcsShowAbout();
SKELDER_EXPORT void SKELDER_STDCALL VcsReleaseAddin();
SKELDER_EXPORT void SKELDER_STDCALL GetAddinInfo(char* name, char* description);
SKELDER_EXPORT void SKELDER_STDCALL ReleaseVcsAddin();

SKELDER_EXPORT int32_t SKELDER_STDCALL MTGetTopMenuCount();
SKELDER_EXPORT uint8_t SKELDER_STDCALL MTGetTopMenuInfo(int32_t index, uint8_t* record);
SKELDER_EXPORT uint8_t SKELDER_STDCALL MTGetMenuInfo(int32_t top, int32_t item, int32_t* count, uint8_t* record);
SKELDER_EXPORT uint8_t SKELDER_STDCALL MTActionStatus(int32_t id, uint8_t* enabled, uint8_t* checked, uint8_t* visible,
                                                      int32_t reserved);
SKELDER_EXPORT uint8_t SKELDER_STDCALL MTActionExecute(int32_t id);
SKELDER_EXPORT void SKELDER_STDCALL MTNotifySelection(int32_t kind, const void* selection);

SKELDER_EXPORT uint8_t SKELDER_STDCALL HasDlgAddin(int32_t dialogId, int32_t flags);
SKELDER_EXPORT uint32_t SKELDER_STDCALL GetDlgAddin(int32_t dialogId, uint32_t parent, int32_t objectId,
                                                    const char* notes, char* caption, int32_t reserved);
SKELDER_EXPORT void SKELDER_STDCALL DlgAddinParentResized(int32_t dialogId, uint32_t page, int32_t left, int32_t top,
                                                          int32_t right, int32_t bottom);
SKELDER_EXPORT uint8_t SKELDER_STDCALL DlgAddinGetData(int32_t dialogId, uint32_t page, char* notes);
SKELDER_EXPORT uint8_t SKELDER_STDCALL DlgAddinValidate(int32_t dialogId, uint32_t page);
SKELDER_EXPORT void SKELDER_STDCALL DlgAddinRelease(int32_t dialogId, uint32_t page);
}

namespace skelder::addin {

inline constexpr const char* kHandlerName = "Skelder Command Handler";
inline constexpr const char* kLibraryFileName = "Skelder.dll";
inline constexpr const char* kAddinListFile = "KVOAddins.dat";
inline constexpr const char* kAddinListSection = "Addins";
inline constexpr const char* kAddinName = "Web Folders";
inline constexpr const char* kAddinDescription = "Adds support for Web Folders";

// The add-in's entry in the host's add-in list: added unless some entry already names the
// library; removed by its own key only.
void RegisterAddin();
void UnregisterAddin();
// Where the list is: the per-user file, copied first from the installation when absent.
std::string AddinListPath();

// The two values last passed to VcsInitEventAddin.
int32_t InitValueA();
int32_t InitValueB();

}  // namespace skelder::addin
