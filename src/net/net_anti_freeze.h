#pragma once
// The responsiveness hook: blocking socket waits are cut into pieces of IdleTimeOut ms and, in
// between, the user interface's message processing runs on the calling (main) thread, so that a
// Cancel button can work while the network blocks.
#include <cstdint>

#include "net/net_component.h"

namespace skelder::net {

class TNetAntiFreezeBase : public TNetBaseComponent {
 public:
  // A new instance becomes the process's current one, replacing any earlier one.
  explicit TNetAntiFreezeBase(TNetBaseComponent* owner = nullptr);
  // Destroying any instance leaves no current instance.
  ~TNetAntiFreezeBase() override;

  bool Active = true;
  bool ApplicationHasPriority = true;
  int32_t IdleTimeOut = 250;
  bool OnlyWhenIdle = true;
  // False: a bounded wait longer than IdleTimeOut waits the difference in one piece, then one
  // IdleTimeOut. True: the whole bounded wait is cut into IdleTimeOut pieces, so a long read
  // limit does not freeze the user interface for all but its last piece.
  bool CutBoundedWaits = false;

  virtual void ProcessMessagesTurn() = 0;

  static TNetAntiFreezeBase* Current();
};

// Runs the toolkit's message processing at each turn.
class TNetAntiFreeze : public TNetAntiFreezeBase {
 public:
  using TNetAntiFreezeBase::TNetAntiFreezeBase;
  void ProcessMessagesTurn() override;
};

// A current instance exists, it is Active, and the caller runs on the process's main thread.
bool HookInUse();
// One turn of the current instance when HookInUse and (not OnlyWhenIdle, idle or force).
void RunHook(bool idle, bool force);
// The hook's IdleTimeOut while it is in use (never below 1), else 0.
int32_t HookIdleTimeOut();
// Whether the hook in use cuts bounded waits whole (CutBoundedWaits); false when none is.
bool HookCutsBoundedWaits();

// True on the process's main thread (on Linux: the thread whose id is the process id).
bool IsMainThread();

}  // namespace skelder::net
