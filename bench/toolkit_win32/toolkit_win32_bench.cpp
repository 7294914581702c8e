// Time per repaint of the deploy dialog on real windows during a run of 100,000 files: per file
// the file label changes and a progress bar steps, as the run does. The Win32 backend sends only
// those changes to the controls; the yardstick sends every control its whole state each time,
// what a backend that keeps no record of what it showed would do.
#include <windows.h>

#include <commctrl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "deploy/f_deploy.h"
#include "platform/win32/toolkit_win32.h"

using namespace skelder;
using namespace skelder::platform;

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Step(deploy::TfrmDeploy& form, int i) {
  form.lblAction.caption = "\\site\\pages\\page" + std::to_string(i) + ".htm";
  form.ActionProgress.Step();
}

// Every control gets its text, place, visibility and range again.
void PushEverything(Win32Toolkit& toolkit, deploy::TfrmDeploy& form) {
  for (const auto& c : form.Components()) {
    HWND h = toolkit.ControlOf(form, c->name);
    if (c->kind == ComponentKind::ProgressBar) {
      ::SendMessageA(h, PBM_SETRANGE32, static_cast<WPARAM>(c->min), static_cast<LPARAM>(c->max));
      ::SendMessageA(h, PBM_SETPOS, static_cast<WPARAM>(c->position), 0);
    } else {
      ::SetWindowTextA(h, c->caption.c_str());
    }
    ::MoveWindow(h, c->left, c->top, c->width, c->height, TRUE);
    ::ShowWindow(h, c->visible && (c->page == -1 || c->page == form.activePage) ? SW_SHOWNA : SW_HIDE);
    ::EnableWindow(h, c->enabled);
  }
  ::RedrawWindow(toolkit.WindowOf(form), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

}  // namespace

int main(int argc, char** argv) {
  const int files = argc > 1 ? std::atoi(argv[1]) : 100000;
  Win32Toolkit toolkit;
  deploy::TfrmDeploy form;
  double changed = 0, everything = 0;
  toolkit.onModalShown = [&](Form&) {
    form.activePage = 1;
    form.ActionProgress.max = 2 * files;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < files; ++i) {
      Step(form, i);
      toolkit.Repaint(form);
    }
    changed = Seconds(start) / files;
    form.ActionProgress.position = 0;
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < files; ++i) {
      Step(form, i);
      PushEverything(toolkit, form);
    }
    everything = Seconds(start) / files;
    form.modalResult = mrCancel;
  };
  toolkit.ShowModal(form);
  std::printf("files %d\n", files);
  std::printf("repaint, changes only    %8.2f us\n", changed * 1e6);
  std::printf("repaint, every control   %8.2f us\n", everything * 1e6);
  std::printf("ratio                    %8.2f\n", everything / changed);
  return 0;
}
