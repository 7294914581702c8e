#include "deploy/deploy_outcome.h"

namespace skelder::deploy {

namespace {
TDeployOutcome g_lastOutcome = TDeployOutcome::NotRun;
}

TDeployOutcome LastDeployOutcome() { return g_lastOutcome; }
void SetLastDeployOutcome(TDeployOutcome outcome) { g_lastOutcome = outcome; }

}  // namespace skelder::deploy
