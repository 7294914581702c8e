// Form model, handle table and the scripted backend.
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/exception.h"
#include "platform/scripted_toolkit.h"
#include "platform/toolkit.h"
#include "test_support.h"

namespace skelder::platform {
namespace {

using Kind = ToolkitEvent::Kind;

// A two-page dialog shaped like the deploy dialog: Continue runs a "stage" that processes
// messages after every step and stops when the cancel question was answered Yes.
struct DeployLike {
  explicit DeployLike(Toolkit& ui, int steps = 10) : form("frmDeploy", "Skelder"), toolkit(ui) {
    Component& cancel0 = form.Add("Button1", ComponentKind::Button);
    cancel0.page = 0;
    cancel0.isCancel = true;
    cancel0.modalResult = mrCancel;
    Component& ok = form.Add("btnOK", ComponentKind::Button);
    ok.page = 0;
    ok.isDefault = true;
    ok.caption = "&Continue";
    Component& cancel = form.Add("btnCancel", ComponentKind::Button);
    cancel.page = 1;
    cancel.isCancel = true;
    Component& done = form.Add("btnDone", ComponentKind::Button);
    done.page = 1;
    done.enabled = false;
    done.modalResult = mrOk;
    Component& progress = form.Add("ActionProgress", ComponentKind::ProgressBar);
    progress.page = 1;
    progress.max = steps;
    Component& label = form.Add("lblEnd", ComponentKind::Label);
    label.page = 1;
    form.onShow = [this] { form.focused = "btnOK"; };
    cancel.onClick = [this] {
      if (toolkit.ShowMessageBox("Are you sure?", "Skelder", MessageIcon::Question, MessageButtons::YesNo) ==
          MessageAnswer::Yes)
        cancelled = true;
    };
    ok.onClick = [this, steps] {
      form.activePage = 1;
      toolkit.ProcessMessages();
      int i = 0;
      for (; i < steps && !cancelled; ++i) {
        form.Get("ActionProgress").Step();
        toolkit.Repaint(form);
        toolkit.ProcessMessages();
      }
      form.Get("lblEnd").caption = cancelled ? "failed" : "ok";
      form.Get("lblEnd").fontColor = cancelled ? kRed : kGreen;
      if (cancelled) toolkit.ShowMessageBox("Cancelled by User", "Skelder", MessageIcon::Error, MessageButtons::Ok);
      Component& c = form.Get("btnCancel");
      c.isCancel = false;
      c.enabled = false;
      Component& d = form.Get("btnDone");
      d.enabled = true;
      d.isCancel = true;
      d.isDefault = true;
    };
  }
  Form form;
  Toolkit& toolkit;
  bool cancelled = false;
};

TEST(Form, EnterAndEscClickOnlyUsableButtonsOfTheActivePage) {
  Form form("f");
  int clicked = 0;
  Component& hidden = form.Add("hidden", ComponentKind::Button);
  hidden.isDefault = true;
  hidden.visible = false;
  hidden.onClick = [&] { clicked = 1; };
  Component& disabled = form.Add("disabled", ComponentKind::Button);
  disabled.isDefault = true;
  disabled.enabled = false;
  disabled.onClick = [&] { clicked = 2; };
  Component& otherPage = form.Add("otherPage", ComponentKind::Button);
  otherPage.isDefault = true;
  otherPage.page = 1;
  otherPage.onClick = [&] { clicked = 3; };
  Component& label = form.Add("label", ComponentKind::Label);
  label.isCancel = true;  // not a button
  EXPECT_FALSE(form.PressEnter());
  EXPECT_FALSE(form.PressEscape());
  EXPECT_EQ(clicked, 0);
  form.activePage = 1;
  EXPECT_TRUE(form.PressEnter());
  EXPECT_EQ(clicked, 3);

  Component& everywhere = form.Add("everywhere", ComponentKind::Button);
  everywhere.page = -1;
  everywhere.isCancel = true;
  everywhere.modalResult = mrCancel;
  form.activePage = 5;
  EXPECT_TRUE(form.PressEscape());
  EXPECT_EQ(form.modalResult, mrCancel);

  EXPECT_THROW(form.Add("label", ComponentKind::Label), Exception);
  EXPECT_THROW(form.Get("nothing"), Exception);
  EXPECT_EQ(form.Find("nothing"), nullptr);
}

TEST(Form, ClickRunsTheHandlerThenSetsTheModalResult) {
  Form form("f");
  Component& b = form.Add("b", ComponentKind::Button);
  int seenResult = -1;
  b.onClick = [&] { seenResult = form.modalResult; };
  b.modalResult = mrOk;
  b.Click();
  EXPECT_EQ(seenResult, mrNone);
  EXPECT_EQ(form.modalResult, mrOk);
  // A button without a result leaves the form's result alone.
  Component& plain = form.Add("plain", ComponentKind::Button);
  form.modalResult = mrNone;
  plain.Click();
  EXPECT_EQ(form.modalResult, mrNone);
  Component& step = form.Add("bar", ComponentKind::ProgressBar);
  step.max = 2;
  for (int i = 0; i < 5; ++i) step.Step();
  EXPECT_EQ(step.position, 2);
}

TEST(Handles, ThirtyTwoBitIdsThatNeverPointAtFreedForms) {
  ScriptedToolkit ui;
  auto a = std::make_unique<Form>("a");
  Form b("b");
  uint32_t ha = ui.HandleOf(*a);
  uint32_t hb = ui.HandleOf(b);
  EXPECT_NE(ha, 0u);
  EXPECT_NE(hb, 0u);
  EXPECT_NE(ha, hb);
  EXPECT_EQ(ui.HandleOf(*a), ha);
  EXPECT_EQ(ui.FormOf(ha), a.get());
  EXPECT_EQ(ui.FormOf(0), nullptr);
  EXPECT_EQ(ui.FormOf(0xDEADBEEF), nullptr);
  // The table is the process's, so another backend sees the same ids.
  EXPECT_EQ(CurrentToolkit().FormOf(hb), &b);
  a.reset();
  EXPECT_EQ(ui.FormOf(ha), nullptr);
  ui.ReleaseHandle(hb);
  EXPECT_EQ(ui.FormOf(hb), nullptr);
  uint32_t again = ui.HandleOf(b);
  EXPECT_NE(again, hb);
  EXPECT_NE(again, ha);
  ui.ReleaseHandle(again);
  ui.ReleaseHandle(again);  // twice is harmless
}

TEST(ToolkitSeam, SetToolkitReplacesTheDefault) {
  auto scripted = std::make_unique<ScriptedToolkit>();
  ScriptedToolkit* raw = scripted.get();
  SetToolkit(std::move(scripted));
  EXPECT_EQ(&CurrentToolkit(), raw);
  SetToolkit(nullptr);
  EXPECT_NE(CurrentToolkit().Name(), "scripted");
}

TEST(ScriptedToolkit, AnswerQueueInOrderThenSafeDefaultsThatAreRecorded) {
  ScriptedToolkit ui;
  ui.Answer(MessageAnswer::Yes).Answer(MessageAnswer::Cancel).Answer(MessageAnswer::Yes);
  EXPECT_EQ(ui.ShowMessageBox("one", "Skelder", MessageIcon::Question, MessageButtons::YesNo), MessageAnswer::Yes);
  EXPECT_EQ(ui.ShowMessageBox("two", "Skelder", MessageIcon::Warning, MessageButtons::OkCancel), MessageAnswer::Cancel);
  // An answer that the box does not offer is an error of the script; the box takes the safe one.
  EXPECT_EQ(ui.ShowMessageBox("three", "Skelder", MessageIcon::Error, MessageButtons::Ok), MessageAnswer::Ok);
  ASSERT_EQ(ui.Errors().size(), 1u);
  EXPECT_NE(ui.Errors()[0].find("does not fit"), std::string::npos);
  EXPECT_EQ(ui.ShowMessageBox("four", "Skelder", MessageIcon::Question, MessageButtons::YesNo), MessageAnswer::No);
  EXPECT_EQ(ui.ShowMessageBox("five", "Skelder", MessageIcon::Question, MessageButtons::OkCancel),
            MessageAnswer::Cancel);
  EXPECT_EQ(ui.DefaultedAnswers(), 2u);
  auto boxes = ui.MessageBoxes();
  ASSERT_EQ(boxes.size(), 5u);
  EXPECT_EQ(boxes[0].text, "one");
  EXPECT_EQ(boxes[0].icon, MessageIcon::Question);
  EXPECT_EQ(boxes[1].buttons, MessageButtons::OkCancel);
  EXPECT_FALSE(boxes[2].defaulted);
  EXPECT_TRUE(boxes[3].defaulted);
  EXPECT_EQ(boxes[3].answer, MessageAnswer::No);

  ui.Beep(BeepKind::Exclamation);
  ui.SetCursor(Cursor::HourGlass);
  ui.NudgeMouse();
  EXPECT_EQ(ui.GetCursor(), Cursor::HourGlass);
  ui.SetCursor(Cursor::Default);
  EXPECT_EQ(ui.EventsOf(Kind::Beep).at(0).beep, BeepKind::Exclamation);
  ASSERT_EQ(ui.EventsOf(Kind::Cursor).size(), 2u);
  EXPECT_EQ(ui.EventsOf(Kind::Cursor)[0].cursor, Cursor::HourGlass);
  EXPECT_EQ(ui.NudgeCount(), 1u);
}

TEST(ScriptedToolkit, RunsFormActionsAndRecordsEveryMoment) {
  ScriptedToolkit ui;
  ui.LoadScript("click btnOK\nclick btnDone\n");
  DeployLike dialog(ui, 4);
  EXPECT_EQ(ui.ShowModal(dialog.form), mrOk);
  EXPECT_TRUE(ui.Errors().empty());
  EXPECT_EQ(ui.RemainingActions(), 0u);
  EXPECT_EQ(ui.RepaintCount(), 4u);
  EXPECT_EQ(ui.ProcessMessagesCount(), 5u);

  // The progress bar at each repaint, and the state as the form closed.
  std::vector<int> positions;
  for (const auto& e : ui.EventsOf(Kind::Repaint))
    positions.push_back(ui.SnapshotOf(e)->Get("ActionProgress").position);
  EXPECT_EQ(positions, (std::vector<int>{1, 2, 3, 4}));
  const FormSnapshot* shown = ui.SnapshotOf(ui.EventsOf(Kind::FormShown).at(0));
  EXPECT_EQ(shown->focused, "btnOK");
  EXPECT_FALSE(shown->Shows("btnDone"));
  EXPECT_TRUE(shown->Shows("btnOK"));
  const FormSnapshot* last = ui.LastSnapshot("frmDeploy");
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->Get("lblEnd").caption, "ok");
  EXPECT_EQ(last->Get("lblEnd").fontColor, kGreen);
  EXPECT_TRUE(last->Get("btnDone").enabled);
  EXPECT_FALSE(last->Get("btnCancel").enabled);
  EXPECT_EQ(last->modalResult, mrOk);
  EXPECT_THROW(last->Get("nothing"), Exception);
  EXPECT_EQ(ui.EventsOf(Kind::FormClosed).at(0).modalResult, mrOk);
  EXPECT_FALSE(ui.EventsOf(Kind::FormClosed).at(0).defaulted);
}

TEST(ScriptedToolkit, InjectedClickCancelsInTheMiddleOfARun) {
  ScriptedToolkit ui;
  ui.LoadScript("click btnOK\nat 4 click btnCancel\nanswer Yes\nanswer OK\n");
  DeployLike dialog(ui, 10);
  // No more actions: after the run Esc is btnDone's, which closes the form.
  EXPECT_EQ(ui.ShowModal(dialog.form), mrOk);
  EXPECT_TRUE(dialog.cancelled);
  EXPECT_EQ(ui.PendingInjections(), 0u);
  EXPECT_TRUE(ui.EventsOf(Kind::FormClosed).at(0).defaulted);
  auto boxes = ui.MessageBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "Are you sure?");
  EXPECT_EQ(boxes[0].turn, 4u);
  EXPECT_EQ(boxes[1].text, "Cancelled by User");
  // The stage stopped after the step it was in: three steps done when the question came.
  EXPECT_EQ(ui.SnapshotOf(boxes[0])->Get("ActionProgress").position, 3);
  EXPECT_EQ(ui.SnapshotOf(boxes[1])->Get("lblEnd").fontColor, kRed);
  auto actions = ui.EventsOf(Kind::Action);
  ASSERT_EQ(actions.size(), 2u);
  EXPECT_TRUE(actions[1].injected);
  EXPECT_EQ(actions[1].text, "click btnCancel");
}

TEST(ScriptedToolkit, CancelAnsweredNoChangesNothing) {
  ScriptedToolkit ui;
  ui.LoadScript("click btnOK\nat 2 press Esc\nanswer No\npress Enter\n");
  DeployLike dialog(ui, 5);
  EXPECT_EQ(ui.ShowModal(dialog.form), mrOk);
  EXPECT_FALSE(dialog.cancelled);
  EXPECT_EQ(dialog.form.Get("ActionProgress").position, 5);
  EXPECT_EQ(ui.MessageBoxes().size(), 1u);
  EXPECT_TRUE(ui.Errors().empty());
}

TEST(ScriptedToolkit, EmptyScriptLeavesByEscAndNeverHangs) {
  ScriptedToolkit ui;
  DeployLike dialog(ui, 5);
  EXPECT_EQ(ui.ShowModal(dialog.form), mrCancel);  // Button1: nothing deployed
  EXPECT_EQ(dialog.form.Get("ActionProgress").position, 0);
  // A form without any way out is closed as cancelled.
  Form bare("bare");
  bare.Add("lbl", ComponentKind::Label);
  EXPECT_EQ(ui.ShowModal(bare), mrCancel);
  EXPECT_TRUE(ui.EventsOf(Kind::FormClosed).at(1).defaulted);
}

TEST(ScriptedToolkit, NestedModalFormsTakeActionsInOrder) {
  ScriptedToolkit ui;
  Form page("frmMain");
  Form details("dlgFtpDetails");
  Component& site = details.Add("edtFtpSite", ComponentKind::Edit);
  Component& ok = details.Add("btnOK", ComponentKind::Button);
  ok.modalResult = mrOk;
  Component& paths = page.Add("memoDeploymentPaths", ComponentKind::Memo);
  Component& add = page.Add("btnAddFtp", ComponentKind::Button);
  add.onClick = [&] {
    if (ui.ShowModal(details) == mrOk) paths.lines.push_back("ftp://" + site.caption);
    ui.ShowMessageBox("added", "Skelder", MessageIcon::Information, MessageButtons::Ok);
  };
  Component& close = page.Add("btnClose", ComponentKind::Button);
  close.modalResult = mrOk;
  ui.LoadScript(
      "# property page\n"
      "append memoDeploymentPaths C:\\web\n"
      "click btnAddFtp\n"
      "  set edtFtpSite server/pub  \n"
      "click btnOK\n"
      "answer OK\n"
      "click btnClose\n");
  EXPECT_EQ(ui.ShowModal(page), mrOk);
  EXPECT_TRUE(ui.Errors().empty()) << ui.Errors()[0];
  // "set" keeps the rest of the line verbatim, trailing blanks included.
  EXPECT_EQ(paths.lines, (std::vector<std::string>{"C:\\web", "ftp://server/pub  "}));
  auto shown = ui.EventsOf(Kind::FormShown);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[1].form, "dlgFtpDetails");
  EXPECT_EQ(ui.MessageBoxes().at(0).form, "frmMain");
  EXPECT_TRUE(ui.ModalForms().empty());
}

TEST(ScriptedToolkit, ActionsThatAUserCouldNotDoAreErrors) {
  ScriptedToolkit ui;
  Form form("f");
  Component& off = form.Add("btnOff", ComponentKind::Button);
  off.enabled = false;
  int offClicks = 0;
  off.onClick = [&] { ++offClicks; };
  Component& list = form.Add("lstItems", ComponentKind::ListBox);
  list.lines = {"alpha", "beta"};
  Component& box = form.Add("chkEnabled", ComponentKind::CheckBox);
  Component& close = form.Add("btnClose", ComponentKind::Button);
  close.modalResult = mrOk;
  ui.LoadScript(
      "click btnOff\nclick btnMissing\nselect lstItems beta\nselect lstItems 5\nselect lstItems gamma\n"
      "click chkEnabled\ncheck chkEnabled\nuncheck chkEnabled\nclick chkEnabled\npress Enter\nclick btnClose\n");
  ui.At(1, ScriptAction::Click("x"));
  ui.ProcessMessages();  // no form is shown at turn 1
  EXPECT_EQ(ui.ShowModal(form), mrOk);
  EXPECT_EQ(offClicks, 0);
  EXPECT_EQ(list.itemIndex, 1);
  EXPECT_TRUE(box.checked);
  auto errors = ui.Errors();
  ASSERT_EQ(errors.size(), 6u);
  EXPECT_NE(errors[0].find("no modal form"), std::string::npos);
  EXPECT_NE(errors[1].find("not clickable"), std::string::npos);
  EXPECT_NE(errors[2].find("no component btnMissing"), std::string::npos);
  EXPECT_NE(errors[3].find("out of range"), std::string::npos);
  EXPECT_NE(errors[4].find("no such item"), std::string::npos);
  EXPECT_NE(errors[5].find("no default button"), std::string::npos);
}

TEST(ScriptParser, ReportsTheBadLine) {
  auto errorOf = [](const std::string& text) {
    try {
      ParseScript(text);
    } catch (const Exception& e) {
      return e.Message();
    }
    return std::string("no error");
  };
  EXPECT_EQ(errorOf("answer Yes\n\nanswer Maybe\n").rfind("line 3: unknown answer", 0), 0u);
  EXPECT_EQ(errorOf("dance btnOK").rfind("line 1: unknown action", 0), 0u);
  EXPECT_EQ(errorOf("click").rfind("line 1:", 0), 0u);
  EXPECT_EQ(errorOf("click a b").rfind("line 1:", 0), 0u);
  EXPECT_EQ(errorOf("press Space").rfind("line 1: unknown key", 0), 0u);
  EXPECT_EQ(errorOf("at 0 click x").rfind("line 1:", 0), 0u);
  EXPECT_EQ(errorOf("at five click x").rfind("line 1:", 0), 0u);
  EXPECT_EQ(errorOf("at 3").rfind("line 1:", 0), 0u);
  EXPECT_EQ(errorOf("select lst").rfind("line 1:", 0), 0u);
  EXPECT_EQ(errorOf("snapshots maybe").rfind("line 1:", 0), 0u);
  EXPECT_EQ(errorOf("answer yes extra").rfind("line 1:", 0), 0u);

  Script s =
      ParseScript("ANSWER ok\r\nPress ESCAPE\r\nat 12 set edtUser anonymous\r\nset edtPassword\r\nsnapshots off\r\n");
  ASSERT_EQ(s.answers.size(), 1u);
  EXPECT_EQ(s.answers[0], MessageAnswer::Ok);
  ASSERT_EQ(s.actions.size(), 2u);
  EXPECT_EQ(s.actions[0].kind, ScriptAction::Kind::PressEscape);
  EXPECT_EQ(s.actions[1].kind, ScriptAction::Kind::SetText);
  EXPECT_EQ(s.actions[1].text, "");
  ASSERT_EQ(s.injections.size(), 1u);
  EXPECT_EQ(s.injections[0].first, 12u);
  EXPECT_EQ(s.injections[0].second.text, "anonymous");
  EXPECT_EQ(s.snapshots, false);

  // A bad script queues nothing.
  ScriptedToolkit ui;
  EXPECT_THROW(ui.LoadScript("answer Yes\nbogus\n"), Exception);
  EXPECT_EQ(ui.RemainingAnswers(), 0u);
  EXPECT_THROW(ui.LoadScriptFile("/nonexistent/script.txt"), Exception);
  test::TempDir dir;
  test::WriteFile(dir / "s.txt", "answer No\nclick btnOK\n");
  ui.LoadScriptFile(dir / "s.txt");
  EXPECT_EQ(ui.RemainingAnswers(), 1u);
  EXPECT_EQ(ui.RemainingActions(), 1u);
}

TEST(ScriptedToolkit, SnapshotsOffOnlyCountsRepaints) {
  ScriptedToolkit ui("snapshots off\nclick btnOK\nclick btnDone\n");
  DeployLike dialog(ui, 50);
  EXPECT_EQ(ui.ShowModal(dialog.form), mrOk);
  EXPECT_EQ(ui.RepaintCount(), 50u);
  EXPECT_TRUE(ui.EventsOf(Kind::Repaint).empty());
  // Showing and closing are still recorded with their state.
  EXPECT_EQ(ui.Snapshots().size(), 2u);
}

TEST(ScriptedToolkit, RepaintSnapshotsStopAtTheirLimitButCountingGoesOn) {
  ScriptedToolkit ui;
  Form form("f");
  form.Add("bar", ComponentKind::ProgressBar);
  const uint64_t total = ScriptedToolkit::kMaxRepaintSnapshots + 5;
  for (uint64_t i = 0; i < total; ++i) ui.Repaint(form);
  EXPECT_EQ(ui.RepaintCount(), total);
  EXPECT_EQ(ui.RepaintsNotKept(), 5u);
  EXPECT_EQ(ui.Snapshots().size(), ScriptedToolkit::kMaxRepaintSnapshots);
  // Other moments are still kept.
  ui.ShowMessageBox("x", "c", MessageIcon::None, MessageButtons::Ok);
  EXPECT_EQ(ui.ShowModal(form), mrCancel);
  EXPECT_NE(ui.SnapshotOf(ui.EventsOf(Kind::FormClosed).at(0)), nullptr);
}

TEST(ScriptedToolkit, TranscriptTellsWhatWasShown) {
  ScriptedToolkit ui("click btnOK\nat 2 click btnCancel\nanswer Yes\n");
  DeployLike dialog(ui, 3);
  ui.ShowModal(dialog.form);
  std::string t = ui.Transcript();
  EXPECT_NE(t.find("show frmDeploy\n"), std::string::npos) << t;
  EXPECT_NE(t.find("at 2 click btnCancel\n"), std::string::npos) << t;
  EXPECT_NE(t.find("messagebox Question YesNo caption=\"Skelder\" text=\"Are you sure?\" -> Yes\n"), std::string::npos);
  EXPECT_NE(t.find("text=\"Cancelled by User\" -> OK (default)\n"), std::string::npos) << t;
  EXPECT_NE(t.find("close frmDeploy result=1 (default)\n"), std::string::npos) << t;
  EXPECT_NE(t.find("  lblEnd caption=\"failed\" page=1 visible enabled color=255,0,0\n"), std::string::npos) << t;
  EXPECT_NE(t.find("  ActionProgress caption=\"\" page=1 visible enabled color=0,0,0 position=1/3\n"),
            std::string::npos)
      << t;
}

TEST(ScriptedToolkit, VirtualClockIsInstalledForTheToolkitsLife) {
  const Clock* virtualClock = nullptr;
  {
    ScriptedToolkit ui;
    VirtualClock& clock = ui.UseVirtualClock();
    virtualClock = &clock;
    EXPECT_EQ(&CurrentClock(), &clock);
    SleepMs(1000);
    SleepMs(1000);
    EXPECT_EQ(clock.TotalSlept(), 2000u);
    EXPECT_EQ(NowMs(), 2000u);
  }
  // The real clock is back: it is not the virtual one, and a real sleep moves it. (Nothing is
  // assumed about how long the machine has been up.)
  EXPECT_NE(&CurrentClock(), virtualClock);
  uint64_t before = NowMs();
  EXPECT_LE(before, MonotonicMs());
  EXPECT_GE(before + 1000, MonotonicMs());
  SleepMs(5);
  EXPECT_GE(NowMs(), before + 5);
}

}  // namespace
}  // namespace skelder::platform
