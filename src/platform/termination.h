#pragma once
// Being told to end while a deployment runs: SIGTERM (a service manager stopping the program) and
// SIGHUP (its terminal closed) become a cancel of the run, so that it removes what it made, and
// then take their usual course once the run is over. A signal the process ignored stays ignored.
namespace skelder::platform {

// While one exists (the outermost of nested ones counts), the two signals only set a flag. Its
// destruction puts the previous handlers back and, when a signal came meanwhile, raises it again
// for them.
class TerminationGuard {
 public:
  TerminationGuard();
  ~TerminationGuard();
  TerminationGuard(const TerminationGuard&) = delete;
  TerminationGuard& operator=(const TerminationGuard&) = delete;

 private:
  bool outermost_ = false;
};

// True from the signal on, until the guard is gone: every later prompt takes its safe answer.
bool TerminationRequested();

}  // namespace skelder::platform
