#include <sys/syscall.h>
#include <unistd.h>

#include "net/net_anti_freeze.h"

namespace skelder::net {

// The main thread is the one whose thread id is the process id.
bool IsMainThread() { return static_cast<pid_t>(::syscall(SYS_gettid)) == ::getpid(); }

}  // namespace skelder::net
