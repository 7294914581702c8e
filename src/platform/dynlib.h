#pragma once
// Dynamic libraries: load by path, look a function up by name, free.
#include <string>

namespace skelder::platform {

using LibraryHandle = void*;

// Null on failure. The path is resolved with ResolvePath first.
LibraryHandle OpenLibrary(const std::string& path);
void* LibrarySymbol(LibraryHandle library, const char* name);
void CloseLibrary(LibraryHandle library);
// The loader's last error text, for diagnostics.
std::string LastLoadError();

// Owns a handle and frees it when destroyed.
class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  explicit DynamicLibrary(const std::string& path) : handle_(OpenLibrary(path)) {}
  ~DynamicLibrary() { Reset(); }
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;
  DynamicLibrary(DynamicLibrary&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = other.handle_;
      other.handle_ = nullptr;
    }
    return *this;
  }

  bool Loaded() const { return handle_ != nullptr; }
  LibraryHandle Handle() const { return handle_; }
  void* Symbol(const char* name) const { return handle_ ? LibrarySymbol(handle_, name) : nullptr; }
  template <typename Fn>
  Fn Function(const char* name) const {
    return reinterpret_cast<Fn>(Symbol(name));
  }
  void Reset() {
    if (handle_) CloseLibrary(handle_);
    handle_ = nullptr;
  }

 private:
  LibraryHandle handle_ = nullptr;
};

}  // namespace skelder::platform
