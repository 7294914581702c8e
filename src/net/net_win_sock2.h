#pragma once
// Run-time binding of WS2_32.DLL (Windows only): the start-up call loads the library once; every
// other function goes through an entry resolved by name on its first call. A failed load raises
// ENetWS2StubError "Error on loading Winsock2 library (WS2_32.DLL)"; calling an entry while the
// library is not loaded raises "Error on call Winsock2 library function %s" with code 10093.
#if defined(_WIN32)
#include <cstdint>

namespace skelder::net::winsock2 {

inline constexpr const char* kLibraryName = "WS2_32.DLL";
inline constexpr uint16_t kRequestedVersion = 0x0202;

// Loads the library if needed and calls its start-up function; 0 when already loaded.
int Startup(uint16_t version);
// Releases the library at process end; every entry points to its resolver again.
void Release();

}  // namespace skelder::net::winsock2
#endif
