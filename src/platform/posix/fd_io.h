#pragma once
// Whole writes to a descriptor, shared by the POSIX backend's files and console.
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace skelder::platform::posix {

// Writes everything, past interrupted and partial writes; false on any other failure.
inline bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace skelder::platform::posix
