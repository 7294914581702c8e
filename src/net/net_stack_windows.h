#pragma once
// The Windows stack over WS2_32.DLL, which net_win_sock2 binds at run time. Built only for
// Windows; its source arrives with the Windows build.
#if defined(_WIN32)
#include "net/net_stack.h"

namespace skelder::net {

class TNetStackWindows : public TNetStack {
 public:
  TNetStackWindows();  // starts the socket layer with version 2.2 once per process
  ~TNetStackWindows() override;
  // The rest overrides every abstract operation of TNetStack; ErrorText adds 11001 in front of
  // the common table.
  std::string ErrorText(int32_t code) override;
};

}  // namespace skelder::net
#endif
