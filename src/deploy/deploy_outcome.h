#pragma once
// How the last deployment ended, for hosts that ask after the command returned (the command
// itself answers 1 whatever happened). Each Deploy command starts at NotRun.
namespace skelder::deploy {

// The numbers are those the extension exports hand out.
enum class TDeployOutcome : int { NotRun = 0, Succeeded = 1, Failed = 2, Cancelled = 3 };

TDeployOutcome LastDeployOutcome();
void SetLastDeployOutcome(TDeployOutcome outcome);
inline void ResetLastDeployOutcome() { SetLastDeployOutcome(TDeployOutcome::NotRun); }

}  // namespace skelder::deploy
