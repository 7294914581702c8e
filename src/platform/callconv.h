#pragma once
// Calling convention and export markers for the host boundary. The host calls the add-in (and
// the add-in calls the host) with the Windows API convention: the callee removes its arguments.
#if defined(_WIN32) && !defined(_WIN64)
#define SKELDER_STDCALL __stdcall
#else
#define SKELDER_STDCALL
#endif

#if defined(_WIN32)
#define SKELDER_EXPORT extern "C" __declspec(dllexport)
#else
#define SKELDER_EXPORT extern "C" __attribute__((visibility("default")))
#endif
