// The command and event exports of the add-in.
#include <cstdint>

#include "deploy/deploy_command.h"
#include "platform/callconv.h"

// "Deploy" (any letter case) with the folder id as decimal text runs the Deploy command and
// answers 1 whatever became of it; every other command answers 0 and does nothing.
SKELDER_EXPORT uint8_t SKELDER_STDCALL VcsHandleCommand(const char* command, const char* data) {
  try {
    return skelder::deploy::HandleCommand(command ? command : "", data ? data : "") ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
