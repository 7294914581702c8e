// The Win32 toolkit backend against real windows (wine's null graphics driver here): every
// component of the forms read back through the system's API and compared with the forms' layout
// tables, written out here rather than read from the form objects; the modal loop's keys, close
// box, owner and WM_QUIT; message boxes as they show; scripts played by real messages; and no
// window or font left behind after many open-close cycles.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "addin/dlg_ftp_details.h"
#include "addin/frm_main.h"
#include "deploy/f_deploy.h"
#include "platform/exception.h"
#include "platform/toolkit.h"
#include "platform/win32/toolkit_win32.h"
#include "ui/input_query.h"
#include "win32/window_text.h"

namespace skelder::platform {
namespace {

using test::ClassOf;
using test::TextOf;

// A window's rectangle in the client coordinates of another.
RECT RectIn(HWND hwnd, HWND relativeTo) {
  RECT r{};
  ::GetWindowRect(hwnd, &r);
  ::MapWindowPoints(nullptr, relativeTo, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

LONG Style(HWND hwnd) { return ::GetWindowLongA(hwnd, GWL_STYLE); }

// One row of a form's table: place and size (-1: sized by its text), class, text, styles that
// must be there and styles that must not, visible and enabled.
struct Row {
  const char* name;
  const char* cls;
  int left, top, width, height;
  const char* text;
  LONG present = 0;
  LONG absent = 0;
  bool visible = true;
  bool enabled = true;
  const char* relativeTo = nullptr;  // a panel; null: the form's client area
};

void ExpectRows(Win32Toolkit& toolkit, const Form& form, const std::vector<Row>& rows) {
  HWND window = toolkit.WindowOf(form);
  ASSERT_TRUE(window);
  for (const Row& row : rows) {
    SCOPED_TRACE(form.name + "." + row.name);
    HWND control = toolkit.ControlOf(form, row.name);
    ASSERT_TRUE(control);
    EXPECT_EQ(::GetParent(control), window);
    HWND base = row.relativeTo ? toolkit.ControlOf(form, row.relativeTo) : window;
    const RECT r = RectIn(control, base);
    // A one-line label is never narrower than its text: one whose text is wider in wine's face
    // than the designed width allows grows away from its anchored edge (the right one when
    // right-aligned), as an auto-sized label does.
    const bool oneLineLabel = ClassOf(control) == "Static" && (Style(control) & SS_TYPEMASK) != SS_LEFT &&
                              (Style(control) & SS_TYPEMASK) != SS_OWNERDRAW && row.text && *row.text;
    if (oneLineLabel && row.width >= 0) {
      EXPECT_GE(r.right - r.left, row.width);
      if ((Style(control) & SS_TYPEMASK) == SS_RIGHT)
        EXPECT_EQ(r.right, row.left + row.width);
      else
        EXPECT_EQ(r.left, row.left);
    } else {
      EXPECT_EQ(r.left, row.left);
    }
    EXPECT_EQ(r.top, row.top);
    if (row.width >= 0 && !oneLineLabel) {
      EXPECT_EQ(r.right - r.left, row.width);
    } else if (row.text && *row.text) {
      EXPECT_GT(r.right - r.left, 0);
    }
    EXPECT_EQ(r.bottom - r.top, row.height);
    EXPECT_STRCASEEQ(ClassOf(control).c_str(), row.cls);
    if (row.text) {
      EXPECT_EQ(TextOf(control), row.text);
    }
    EXPECT_EQ(Style(control) & row.present, row.present);
    EXPECT_EQ(Style(control) & row.absent, 0);
    EXPECT_EQ((Style(control) & WS_VISIBLE) != 0, row.visible);
    EXPECT_EQ((Style(control) & WS_DISABLED) == 0, row.enabled);
  }
}

SIZE ClientSize(HWND hwnd) {
  RECT r{};
  ::GetClientRect(hwnd, &r);
  return {r.right, r.bottom};
}

void ExpectCentred(HWND hwnd) {
  RECT r{};
  ::GetWindowRect(hwnd, &r);
  EXPECT_NEAR((r.left + r.right) / 2, ::GetSystemMetrics(SM_CXSCREEN) / 2, 1);
  EXPECT_NEAR((r.top + r.bottom) / 2, ::GetSystemMetrics(SM_CYSCREEN) / 2, 1);
}

// The text colour the form gives a label, asked the way the label asks when it paints.
COLORREF LabelColour(HWND form, HWND label) {
  HDC dc = ::CreateCompatibleDC(nullptr);
  ::SetTextColor(dc, RGB(1, 2, 3));
  ::SendMessageA(form, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(label));
  COLORREF colour = ::GetTextColor(dc);
  ::DeleteDC(dc);
  return colour;
}

constexpr LONG kDefault = BS_DEFPUSHBUTTON;

class Win32ToolkitTest : public ::testing::Test {
 protected:
  Win32Toolkit toolkit_;
};

// ---- the deploy dialog -----------------------------------------------------------------------

TEST_F(Win32ToolkitTest, DeployDialogConfirmationPageAsItsTableGivesIt) {
  deploy::TfrmDeploy form;
  deploy::TFileList files;
  deploy::TFolderList folders;
  form.Setup("site/www & more", "C:\\web,ftp://bob@server/pub", files, folders);
  bool checked = false;
  toolkit_.onModalShown = [&](Form&) {
    checked = true;
    HWND w = toolkit_.WindowOf(form);
    EXPECT_EQ(TextOf(w), "Skelder");
    const SIZE client = ClientSize(w);
    EXPECT_EQ(client.cx, 421);
    EXPECT_EQ(client.cy, 195);
    EXPECT_EQ(Style(w) & WS_SYSMENU, 0) << "no border icons";
    EXPECT_EQ(Style(w) & WS_THICKFRAME, 0);
    EXPECT_NE(Style(w) & WS_CAPTION, 0);
    EXPECT_NE(::GetWindowLongA(w, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME, 0);
    ExpectCentred(w);
    const LONG wrap = SS_LEFTNOWORDWRAP;
    ExpectRows(toolkit_, form,
               {
                   {"nbMain", "static", 0, 0, 421, 195, ""},
                   {"Label1", "static", 13, 14, -1, 13, "The files contained in:"},
                   {"lblXRFolder", "static", 35, 38, -1, 13, "site/www & more", wrap | SS_NOPREFIX},
                   {"Label2", "static", 13, 63, -1, 13, "will be deployed to the following locations:"},
                   {"memoLocations", "edit", 35, 83, 372, 57, "C:\\web\r\nftp://bob@server/pub",
                    ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL, WS_BORDER},
                   {"Button1", "button", 257, 158, 75, 25, "Cancel", WS_TABSTOP, kDefault},
                   {"btnOK", "button", 337, 158, 75, 25, "&Continue", kDefault | WS_TABSTOP},
                   {"btnCancel", "button", 257, 162, 75, 25, "Cancel", 0, kDefault, false},
                   {"btnDone", "button", 337, 162, 75, 25, "&Done", 0, kDefault, false, false},
                   {"MainProgress", PROGRESS_CLASSA, 15, 32, 387, 25, nullptr, 0, 0, false},
                   {"lblMain", "static", 15, 14, -1, 13, "", 0, 0, false},
                   {"lblAction", "static", 15, 62, -1, 13, "", SS_NOPREFIX, 0, false},
                   {"ActionProgress", PROGRESS_CLASSA, 15, 80, 387, 22, nullptr, 0, 0, false},
                   {"FileProgress", PROGRESS_CLASSA, 15, 108, 387, 10, nullptr, 0, 0, false},
                   {"lblEnd", "static", 15, 125, -1, 13, "Publishing files. Please wait...", 0, 0, false},
                   {"lblEndAdd", "static", 15, 141, -1, 13, "Publishing files. Please wait...", 0, 0, false},
               });
    EXPECT_EQ(::GetWindowLongA(toolkit_.ControlOf(form, "memoLocations"), GWL_EXSTYLE) & WS_EX_CLIENTEDGE, 0);
    EXPECT_EQ(::GetFocus(), toolkit_.ControlOf(form, "btnOK"));
    // Labels print in the font at its height, bold where the table says so.
    LOGFONTA normal{}, bold{};
    ::GetObjectA(reinterpret_cast<HFONT>(::SendMessageA(toolkit_.ControlOf(form, "lblXRFolder"), WM_GETFONT, 0, 0)),
                 sizeof normal, &normal);
    ::GetObjectA(reinterpret_cast<HFONT>(::SendMessageA(toolkit_.ControlOf(form, "Label1"), WM_GETFONT, 0, 0)),
                 sizeof bold, &bold);
    EXPECT_EQ(normal.lfHeight, -11);
    EXPECT_STREQ(normal.lfFaceName, "MS Sans Serif");
    EXPECT_LT(normal.lfWeight, FW_BOLD);
    EXPECT_EQ(bold.lfWeight, FW_BOLD);
    // Esc is Button1: the dialog closes and nothing runs.
    ::PostMessageA(::GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0);
  };
  EXPECT_EQ(toolkit_.ShowModal(form), mrCancel);
  EXPECT_TRUE(checked);
  EXPECT_EQ(toolkit_.WindowOf(form), nullptr) << "the window goes when the modal loop ends";
}

TEST_F(Win32ToolkitTest, DeployDialogProgressPageFollowsTheModelAfterASteps) {
  deploy::TfrmDeploy form;
  bool checked = false;
  toolkit_.onModalShown = [&](Form&) {
    checked = true;
    HWND w = toolkit_.WindowOf(form);
    form.activePage = 1;
    form.MainProgress.max = 6;
    form.ActionProgress.max = 2 * 100000;  // past a 16-bit range
    form.MainProgress.Step();
    form.ActionProgress.position = 150001;
    form.FileProgress.visible = true;
    form.FileProgress.max = INT32_MAX;
    form.FileProgress.position = INT32_MAX - 1;
    form.lblAction.caption = "\\img\\a&b.gif";
    form.lblEnd.fontColor = kGreen;
    form.lblEndAdd.fontColor = kRed;
    toolkit_.Repaint(form);
    struct Bar {
      const char* name;
      int max, position;
    };
    for (const Bar& bar : {Bar{"MainProgress", 6, 1}, Bar{"ActionProgress", 200000, 150001},
                           Bar{"FileProgress", INT32_MAX, INT32_MAX - 1}}) {
      SCOPED_TRACE(bar.name);
      HWND h = toolkit_.ControlOf(form, bar.name);
      PBRANGE range{};
      ::SendMessageA(h, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
      EXPECT_EQ(range.iLow, 0);
      EXPECT_EQ(range.iHigh, bar.max);
      EXPECT_EQ(static_cast<int>(::SendMessageA(h, PBM_GETPOS, 0, 0)), bar.position);
      EXPECT_NE(Style(h) & WS_VISIBLE, 0);
    }
    for (const char* first : {"Label1", "lblXRFolder", "Label2", "memoLocations", "Button1", "btnOK"})
      EXPECT_EQ(Style(toolkit_.ControlOf(form, first)) & WS_VISIBLE, 0) << first << " is on the other page";
    for (const char* second : {"btnCancel", "btnDone", "lblMain", "lblAction", "lblEnd", "lblEndAdd"})
      EXPECT_NE(Style(toolkit_.ControlOf(form, second)) & WS_VISIBLE, 0) << second;
    EXPECT_EQ(TextOf(toolkit_.ControlOf(form, "lblAction")), "\\img\\a&b.gif");
    EXPECT_EQ(LabelColour(w, toolkit_.ControlOf(form, "lblEnd")), RGB(0, 128, 0));
    EXPECT_EQ(LabelColour(w, toolkit_.ControlOf(form, "lblEndAdd")), RGB(255, 0, 0));
    EXPECT_EQ(LabelColour(w, toolkit_.ControlOf(form, "lblMain")), RGB(0, 0, 0));
    // The run's end: Done takes Enter and Esc, Cancel is off.
    form.btnCancel.enabled = false;
    form.btnCancel.isCancel = false;
    form.btnDone.enabled = true;
    form.btnDone.isDefault = form.btnDone.isCancel = true;
    form.focused = form.btnDone.name;
    toolkit_.Repaint(form);
    EXPECT_NE(Style(toolkit_.ControlOf(form, "btnDone")) & BS_DEFPUSHBUTTON, 0);
    EXPECT_NE(Style(toolkit_.ControlOf(form, "btnCancel")) & WS_DISABLED, 0);
    EXPECT_EQ(::GetFocus(), toolkit_.ControlOf(form, "btnDone"));
    // The dialog has no close box: closing the window does nothing.
    ::SendMessageA(w, WM_CLOSE, 0, 0);
    EXPECT_EQ(form.modalResult, mrNone);
    ::PostMessageA(::GetFocus(), WM_KEYDOWN, VK_RETURN, 0);
  };
  EXPECT_EQ(toolkit_.ShowModal(form), mrOk);
  EXPECT_TRUE(checked);
}

// ---- the property page -----------------------------------------------------------------------

class HostWindow {
 public:
  HostWindow() {
    hwnd_ = ::CreateWindowExA(0, "STATIC", "Folder properties", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 500, 500,
                              nullptr, nullptr, nullptr, nullptr);
  }
  ~HostWindow() { ::DestroyWindow(hwnd_); }
  HWND hwnd() const { return hwnd_; }
  uint32_t handle() const { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(hwnd_)); }

 private:
  HWND hwnd_;
};

TEST(Win32ToolkitPage, PropertyPageIsAChildOfTheHostsWindowPlacedAndReleased) {
  auto owned = std::make_unique<Win32Toolkit>();
  Win32Toolkit& toolkit = *owned;
  SetToolkit(std::move(owned));
  HostWindow host;
  char caption[64] = {};
  const uint32_t handle =
      addin::CreatePage(addin::kFolderPropertiesDialog, host.handle(), 7,
                        "[Web Folder]\r\nDeployTo=C:\\a,ftp://s/p\r\nFtpConnections=3\r\n", caption);
  addin::TdlgWebFolder* page = addin::PropertyPage();
  ASSERT_TRUE(page);
  HWND w = toolkit.WindowOf(*page);
  ASSERT_TRUE(w);
  EXPECT_EQ(handle, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(w)));
  EXPECT_EQ(toolkit.FormOf(handle), page);
  EXPECT_STREQ(caption, "Web Projects");
  EXPECT_EQ(::GetParent(w), host.hwnd());
  EXPECT_NE(Style(w) & WS_CHILD, 0);
  EXPECT_NE(Style(w) & WS_VISIBLE, 0);
  EXPECT_EQ(Style(w) & (WS_CAPTION | WS_BORDER | WS_THICKFRAME), 0) << "no border";

  addin::PagePlace(addin::kFolderPropertiesDialog, handle, 5, 6, 5 + 414, 6 + 421);
  EXPECT_EQ(RectIn(w, host.hwnd()).left, 5);
  EXPECT_EQ(RectIn(w, host.hwnd()).top, 6);
  const std::string label14 =
      "Enter the list of paths (including ftp) that you would like to be able to deploy this folder to. If you enter "
      "any paths, the folder will be designated a Web Folder and you will be able to deploy the files it contains "
      "using the Web menu option.";
  // At the designed size the parts keep their designed places; a wider page stretches them.
  auto rows = [&](int width) {
    const int inner = width == 414 ? 317 : width - 22;
    return std::vector<Row>{
        {"Panel1", "static", 0, 0, 11, 421, ""},
        {"Panel2", "static", width - 11, 0, 11, 421, ""},
        {"Panel3", "static", 11, 0, width - 22, 12, ""},
        {"Panel4", "static", 11, 12, width - 22, 409, ""},
        {"Bevel5", "static", 0, 0, width - 22, 42, "", SS_OWNERDRAW, 0, true, true, "Panel4"},
        {"lblWeb", "static", 77, 9, -1, 13, nullptr, SS_NOPREFIX, 0, true, true, "Panel4"},
        {"imgWeb", "static", 0, 0, 32, 32, nullptr, SS_ICON, 0, true, true, "Panel4"},
        {"Label13", "static", 0, 51, 92, 13, "&Deployment paths:", 0, SS_NOPREFIX, true, true, "Panel4"},
        {"Label14", "static", 0, 228, inner, 78, label14.c_str(), 0, SS_LEFTNOWORDWRAP, true, true, "Panel4"},
        {"memoDeploymentPaths", "edit", 0, 67, inner, 126, "C:\\a\r\nftp://s/p",
         ES_MULTILINE | WS_VSCROLL | ES_AUTOHSCROLL | WS_TABSTOP, ES_READONLY, true, true, "Panel4"},
        {"btnFtp", "button", 164, 196, 75, 25, "Add &FTP", WS_TABSTOP, kDefault, true, true, "Panel4"},
        {"btnAddPath", "button", width == 414 ? 243 : inner - 75, 196, 75, 25, "&Add Path", WS_TABSTOP, kDefault, true,
         true, "Panel4"},
        {"chkFtpPassive", "button", 0, 314, 161, 17, "&Passive FTP mode", WS_TABSTOP | BS_AUTOCHECKBOX, 0, true, true,
         "Panel4"},
        {"lblFtpConnections", "static", 0, 343, 140, 13, "&Number of FTP connections:", 0, SS_NOPREFIX, true, true,
         "Panel4"},
        {"edtFtpConnections", "edit", 160, 339, 41, 21, "3", WS_TABSTOP | ES_AUTOHSCROLL, ES_READONLY | ES_PASSWORD,
         true, true, "Panel4"},
    };
  };
  ExpectRows(toolkit, *page, rows(414));
  // Stacking: the areas lie under everything placed on them, Bevel5 above Panel4, which it
  // lies in (an area on top would paint over the parts; the null driver draws nothing, so only
  // the order shows it).
  std::vector<HWND> order;  // topmost first
  for (HWND c = ::GetWindow(w, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) order.push_back(c);
  auto rank = [&](const char* name) {
    return std::find(order.begin(), order.end(), toolkit.ControlOf(*page, name)) - order.begin();
  };
  for (const char* part : {"lblWeb", "imgWeb", "Label13", "Label14", "memoDeploymentPaths", "btnFtp", "btnAddPath",
                           "chkFtpPassive", "lblFtpConnections", "edtFtpConnections"})
    EXPECT_LT(rank(part), rank("Bevel5")) << part;
  // The label, grown to its text in wine's face, still ends before its box.
  EXPECT_LE(RectIn(toolkit.ControlOf(*page, "lblFtpConnections"), w).right,
            RectIn(toolkit.ControlOf(*page, "edtFtpConnections"), w).left);
  EXPECT_LT(rank("Bevel5"), rank("Panel4"));
  EXPECT_LT(rank("Panel4"), rank("Panel1"));

  // The host widens its dialog: the page and the parts that follow Panel4's width move with it.
  addin::PagePlace(addin::kFolderPropertiesDialog, handle, 5, 6, 5 + 500, 6 + 421);
  EXPECT_EQ(ClientSize(w).cx, 500);
  ExpectRows(toolkit, *page, rows(500));

  // Typed text is the page's: what a save writes.
  HWND memo = toolkit.ControlOf(*page, "memoDeploymentPaths");
  ::SendMessageA(memo, EM_SETSEL, 0, -1);
  ::SendMessageA(memo, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>("D:\\site\r\nftp://x/y"));
  EXPECT_EQ(page->memoDeploymentPaths.lines, (std::vector<std::string>{"D:\\site", "ftp://x/y"}));
  // A click on the check box and a typed count: what the host's save writes.
  ::SendMessageA(toolkit.ControlOf(*page, "chkFtpPassive"), BM_CLICK, 0, 0);
  ::SetWindowTextA(toolkit.ControlOf(*page, "edtFtpConnections"), "4");
  EXPECT_TRUE(page->chkFtpPassive.checked);
  EXPECT_TRUE(addin::PageValidate(addin::kFolderPropertiesDialog, handle));
  char notes[256] = "[Web Folder]\r\nFtpConnections=3\r\n";
  ASSERT_TRUE(addin::PageGetData(addin::kFolderPropertiesDialog, handle, notes));
  EXPECT_STREQ(notes,
               "[Web Folder]\r\nFtpConnections=4\r\nDeployTo=D:\\site,ftp://x/y\r\nEnabled=1\r\nFtpPassive=1\r\n\r\n");

  addin::PageRelease(addin::kFolderPropertiesDialog, handle);
  EXPECT_FALSE(::IsWindow(w)) << "no window outlives its form";
  SetToolkit(nullptr);
}

TEST_F(Win32ToolkitTest, AHostWithoutWindowsGetsAnIdForThePage) {
  addin::TdlgWebFolder page(0x1234, addin::kFolderPropertiesDialog, 1, "");
  const uint32_t id = toolkit_.ShowAsChild(page, 0x1234);
  EXPECT_NE(id, 0u);
  EXPECT_EQ(toolkit_.WindowOf(page), nullptr);
  EXPECT_EQ(toolkit_.FormOf(id), &page);
}

TEST(Win32ToolkitPage, APageRunForAHostWithoutWindowsGetsAFrameAndItsButtonsUnderIt) {
  auto owned = std::make_unique<Win32Toolkit>(ParseScript("append memoDeploymentPaths D:\\x\nclick btnPropertiesOK\n"));
  Win32Toolkit& toolkit = *owned;
  SetToolkit(std::move(owned));
  addin::TdlgWebFolder page(0x1234, addin::kFolderPropertiesDialog, 1, "");
  page.memoDeploymentPaths.lines = {"C:\\a"};
  toolkit.onModalShown = [&](Form&) {
    HWND w = toolkit.WindowOf(page);
    EXPECT_NE(Style(w) & WS_CAPTION, 0);
    EXPECT_NE(Style(w) & WS_SYSMENU, 0);
    EXPECT_EQ(TextOf(w), "Web Projects");
    EXPECT_EQ(ClientSize(w).cy, 421 + 41);
    ExpectRows(toolkit, page,
               {{"btnPropertiesOK", "button", 414 - 166, 429, 75, 25, "OK", kDefault},
                {"btnPropertiesCancel", "button", 414 - 83, 429, 75, 25, "Cancel", 0, kDefault}});
  };
  EXPECT_TRUE(toolkit.RunPropertyPage(page));
  EXPECT_EQ(page.memoDeploymentPaths.lines, (std::vector<std::string>{"C:\\a", "D:\\x"}));
  EXPECT_EQ(page.borderStyle, BorderStyle::None) << "the frame was the run's only";
  EXPECT_EQ(toolkit.WindowOf(page), nullptr);
  SetToolkit(nullptr);
}

// ---- the FTP Connection dialog and the prompt ------------------------------------------------

TEST_F(Win32ToolkitTest, FtpConnectionDialogAsItsTableGivesItThenTypedAndConfirmed) {
  addin::TfrmFtpDetails form;
  toolkit_.onModalShown = [&](Form&) {
    HWND w = toolkit_.WindowOf(form);
    EXPECT_EQ(TextOf(w), "FTP Connection");
    EXPECT_EQ(ClientSize(w).cx, 336);
    EXPECT_EQ(ClientSize(w).cy, 142);
    EXPECT_NE(Style(w) & WS_SYSMENU, 0) << "it has a close box";
    EXPECT_EQ(Style(w) & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_MINIMIZEBOX), 0) << "a fixed dialog frame";
    ExpectCentred(w);
    ExpectRows(toolkit_, form,
               {
                   {"Label1", "static", 18, 17, 49, 13, "&FTP Site:", SS_RIGHT},
                   {"Label2", "static", 11, 49, 56, 13, "&Username:", SS_RIGHT},
                   {"Label3", "static", 13, 82, 54, 13, "&Password:", SS_RIGHT},
                   {"edtFtpSite", "edit", 71, 14, 254, 21, "", WS_TABSTOP, ES_MULTILINE},
                   {"edtUser", "edit", 71, 46, 137, 21, "", WS_TABSTOP, ES_MULTILINE},
                   {"edtPassword", "edit", 71, 79, 137, 21, "", WS_TABSTOP, ES_PASSWORD | ES_MULTILINE},
                   {"btnOK", "button", 168, 110, 75, 25, "OK", kDefault | WS_TABSTOP},
                   {"btnCancel", "button", 250, 110, 75, 25, "Cancel", WS_TABSTOP, kDefault},
               });
    EXPECT_EQ(::GetFocus(), toolkit_.ControlOf(form, "edtFtpSite"));
    // Each label's access key puts the focus in its box.
    for (auto [key, box] : {std::pair{'p', "edtPassword"}, {'u', "edtUser"}, {'f', "edtFtpSite"}}) {
      ::PostMessageA(::GetFocus(), WM_SYSCHAR, static_cast<WPARAM>(key), 0x20000000);
      toolkit_.ProcessMessages();
      EXPECT_EQ(::GetFocus(), toolkit_.ControlOf(form, box)) << key;
    }
    ::PostMessageA(::GetFocus(), WM_KEYDOWN, VK_TAB, 0);
    toolkit_.ProcessMessages();
    EXPECT_EQ(::GetFocus(), toolkit_.ControlOf(form, "edtUser")) << "Tab follows the tab order";
    // OK with no site: refused, the focus back in the site box, the dialog open.
    ::SetFocus(toolkit_.ControlOf(form, "edtUser"));
    ::SendMessageA(toolkit_.ControlOf(form, "btnOK"), BM_CLICK, 0, 0);
    EXPECT_EQ(form.modalResult, mrNone);
    EXPECT_EQ(::GetFocus(), toolkit_.ControlOf(form, "edtFtpSite"));
    ::SetWindowTextA(toolkit_.ControlOf(form, "edtFtpSite"), "server/pub");
    ::SetWindowTextA(toolkit_.ControlOf(form, "edtUser"), "bob");
    ::SetWindowTextA(toolkit_.ControlOf(form, "edtPassword"), "se cret");
    EXPECT_EQ(TextOf(toolkit_.ControlOf(form, "edtPassword")), "se cret");
    ::PostMessageA(::GetFocus(), WM_KEYDOWN, VK_RETURN, 0);
  };
  EXPECT_EQ(toolkit_.ShowModal(form), mrOk);
  EXPECT_EQ(form.edtFtpSite.caption, "server/pub");
  EXPECT_EQ(form.edtUser.caption, "bob");
  EXPECT_EQ(form.edtPassword.caption, "se cret");
}

TEST_F(Win32ToolkitTest, TheCloseBoxIsEscWhereTheFormHasOne) {
  addin::TfrmFtpDetails form;
  toolkit_.onModalShown = [&](Form&) { ::PostMessageA(toolkit_.WindowOf(form), WM_CLOSE, 0, 0); };
  EXPECT_EQ(toolkit_.ShowModal(form), mrCancel);
}

TEST_F(Win32ToolkitTest, InputQueryAsItsLayoutGivesIt) {
  ui::TfrmInputQuery form("New Folder", "Name:", "untitled");
  toolkit_.onModalShown = [&](Form&) {
    HWND w = toolkit_.WindowOf(form);
    EXPECT_EQ(TextOf(w), "New Folder");
    EXPECT_EQ(ClientSize(w).cx, 233);
    EXPECT_EQ(ClientSize(w).cy, 85);
    ExpectRows(toolkit_, form,
               {
                   {"lblPrompt", "static", 8, 8, 217, 13, "Name:"},
                   {"edtValue", "edit", 8, 24, 217, 21, "untitled", WS_TABSTOP},
                   {"btnOK", "button", 71, 54, 75, 25, "OK", kDefault},
                   {"btnCancel", "button", 150, 54, 75, 25, "Cancel", 0, kDefault},
               });
    EXPECT_EQ(::GetFocus(), toolkit_.ControlOf(form, "edtValue"));
    ::PostMessageA(::GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0);
  };
  EXPECT_EQ(toolkit_.ShowModal(form), mrCancel);
}

// ---- the modal loop --------------------------------------------------------------------------

TEST_F(Win32ToolkitTest, TheOwnerIsDisabledWhileTheFormRunsAndAQuitIsPassedOn) {
  HostWindow host;
  ::SetActiveWindow(host.hwnd());
  addin::TfrmFtpDetails form;
  bool ownerDisabled = false;
  HWND owner = nullptr;
  toolkit_.onModalShown = [&](Form&) {
    ownerDisabled = !::IsWindowEnabled(host.hwnd());
    owner = ::GetWindow(toolkit_.WindowOf(form), GW_OWNER);
    ::PostQuitMessage(3);
  };
  EXPECT_EQ(toolkit_.ShowModal(form), mrCancel);
  EXPECT_TRUE(ownerDisabled);
  EXPECT_EQ(owner, host.hwnd());
  EXPECT_TRUE(::IsWindowEnabled(host.hwnd()));
  MSG msg;
  ASSERT_TRUE(::PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "WM_QUIT is posted again";
  EXPECT_EQ(msg.wParam, 3u);
}

TEST_F(Win32ToolkitTest, AHandlersErrorLeavesThroughShowModalAndTheWindowGoes) {
  ui::TfrmInputQuery form("t", "p", "v");
  form.btnOK.onClick = [] { throw Exception("disk full"); };
  toolkit_.onModalShown = [&](Form&) {
    ::PostMessageA(toolkit_.ControlOf(form, "btnOK"), BM_CLICK, 0, 0);
    ::PostMessageA(toolkit_.WindowOf(form), WM_CLOSE, 0, 0);  // would close it, were the error lost
  };
  EXPECT_THROW(toolkit_.ShowModal(form), Exception);
  EXPECT_EQ(toolkit_.WindowOf(form), nullptr);
}

LRESULT CALLBACK CountingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP) ++*reinterpret_cast<int*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  return ::DefWindowProcA(hwnd, message, wParam, lParam);
}

TEST_F(Win32ToolkitTest, AHookTurnWithoutPriorityHandlesOneMessageAndAFullTurnAll) {
  HWND hwnd = ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  int count = 0;
  ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&count));
  ::SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountingProc));
  MSG drain;
  while (::PeekMessageA(&drain, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&drain);
  toolkit_.ProcessOneMessage();  // nothing waiting: returns at once
  for (int i = 0; i < 3; ++i) ::PostMessageA(hwnd, WM_APP, 0, 0);
  toolkit_.ProcessOneMessage();
  EXPECT_EQ(count, 1);
  toolkit_.ProcessMessages();
  EXPECT_EQ(count, 3);
  ::DestroyWindow(hwnd);
}

TEST_F(Win32ToolkitTest, BusyShowsTheHourglassOverTheFormsAndTheNudgeLeavesThePointerWhereItWas) {
  HCURSOR wait = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_WAIT));
  HCURSOR arrow = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  POINT before{}, after{};
  ::GetCursorPos(&before);
  toolkit_.SetCursor(Cursor::HourGlass);
  EXPECT_EQ(::GetCursor(), wait);
  EXPECT_EQ(toolkit_.GetCursor(), Cursor::HourGlass);
  toolkit_.NudgeMouse();
  ::GetCursorPos(&after);
  EXPECT_EQ(after.x, before.x);
  EXPECT_EQ(after.y, before.y);
  ui::TfrmInputQuery form("t", "p", "v");
  toolkit_.onModalShown = [&](Form&) {
    // The mouse over any control of the form keeps the hourglass while busy.
    HWND edit = toolkit_.ControlOf(form, "edtValue");
    ::SetCursor(arrow);
    EXPECT_TRUE(::SendMessageA(edit, WM_SETCURSOR, reinterpret_cast<WPARAM>(edit), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
    EXPECT_EQ(::GetCursor(), wait);
    toolkit_.SetCursor(Cursor::Default);
    EXPECT_EQ(::GetCursor(), arrow);
    form.modalResult = mrCancel;
  };
  toolkit_.ShowModal(form);
}

// ---- message boxes ---------------------------------------------------------------------------

struct SeenBox {
  std::string caption, text;
  std::set<int> buttons;
  HICON icon = nullptr;
  HWND owner = nullptr;
  int press = 0;
};
thread_local SeenBox* seenBox = nullptr;

BOOL CALLBACK FindIcon(HWND child, LPARAM out) {
  if ((Style(child) & SS_TYPEMASK) == SS_ICON && ClassOf(child) == "Static")
    *reinterpret_cast<HICON*>(out) = reinterpret_cast<HICON>(::SendMessageA(child, STM_GETICON, 0, 0));
  return TRUE;
}

// Reads the box as a person sees it, then presses the button the case asks for.
LRESULT CALLBACK WatchBox(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE && seenBox && ClassOf(reinterpret_cast<HWND>(wParam)) == "#32770") {
    HWND box = reinterpret_cast<HWND>(wParam);
    seenBox->caption = TextOf(box);
    seenBox->text = TextOf(::GetDlgItem(box, 0xFFFF));
    for (int id : {IDOK, IDCANCEL, IDYES, IDNO, IDABORT, IDRETRY, IDIGNORE})
      if (HWND b = ::GetDlgItem(box, id); b && (Style(b) & WS_VISIBLE)) seenBox->buttons.insert(id);
    ::EnumChildWindows(box, FindIcon, reinterpret_cast<LPARAM>(&seenBox->icon));
    seenBox->owner = ::GetWindow(box, GW_OWNER);
    ::PostMessageA(::GetDlgItem(box, seenBox->press), BM_CLICK, 0, 0);
    seenBox = nullptr;
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(Win32ToolkitTest, MessageBoxesShowTheirTextIconAndButtonsAndMapTheAnswer) {
  struct Case {
    MessageIcon icon;
    LPCSTR systemIcon;
    MessageButtons buttons;
    std::set<int> ids;
    int press;
    MessageAnswer answer;
  };
  const Case cases[] = {
      {MessageIcon::Error, IDI_HAND, MessageButtons::Ok, {IDOK}, IDOK, MessageAnswer::Ok},
      {MessageIcon::Question, IDI_QUESTION, MessageButtons::YesNo, {IDYES, IDNO}, IDYES, MessageAnswer::Yes},
      {MessageIcon::Question, IDI_QUESTION, MessageButtons::YesNo, {IDYES, IDNO}, IDNO, MessageAnswer::No},
      {MessageIcon::Warning,
       IDI_EXCLAMATION,
       MessageButtons::OkCancel,
       {IDOK, IDCANCEL},
       IDCANCEL,
       MessageAnswer::Cancel},
      {MessageIcon::Information, IDI_ASTERISK, MessageButtons::Ok, {IDOK}, IDOK, MessageAnswer::Ok},
  };
  HHOOK hook = ::SetWindowsHookExA(WH_CBT, WatchBox, nullptr, ::GetCurrentThreadId());
  ASSERT_TRUE(hook);
  for (const Case& c : cases) {
    SeenBox seen;
    seen.press = c.press;
    seenBox = &seen;
    const MessageAnswer answer =
        toolkit_.ShowMessageBox("Are you sure you want to cancell this deployment?", "Skelder", c.icon, c.buttons);
    EXPECT_EQ(answer, c.answer);
    EXPECT_EQ(seen.caption, "Skelder");
    EXPECT_EQ(seen.text, "Are you sure you want to cancell this deployment?");
    EXPECT_EQ(seen.buttons, c.ids);
    EXPECT_EQ(seen.icon, ::LoadIconA(nullptr, c.systemIcon));
  }
  // Owned by the window the user works in: the modal form.
  deploy::TfrmDeploy form;
  SeenBox seen;
  seen.press = IDOK;
  toolkit_.onModalShown = [&](Form&) {
    seenBox = &seen;
    toolkit_.ShowMessageBox("Cancelled by User", "Skelder", MessageIcon::Error, MessageButtons::Ok);
    EXPECT_EQ(seen.owner, toolkit_.WindowOf(form));
    form.modalResult = mrCancel;
  };
  toolkit_.ShowModal(form);
  ::UnhookWindowsHookEx(hook);
}

TEST(Win32ToolkitScript, ALoadedScriptAnswersBoxesAndTakesTheSafeAnswerWhenItRunsOut) {
  Win32Toolkit toolkit(ParseScript("answer Yes\nanswer Yes\n"));
  EXPECT_EQ(toolkit.ShowMessageBox("first?", "Skelder", MessageIcon::Question, MessageButtons::YesNo),
            MessageAnswer::Yes);
  // An answer that does not fit the box is refused, and the box gets the safe one.
  EXPECT_EQ(toolkit.ShowMessageBox("failed", "Skelder", MessageIcon::Error, MessageButtons::Ok), MessageAnswer::Ok);
  EXPECT_EQ(toolkit.ShowMessageBox("second?", "Skelder", MessageIcon::Question, MessageButtons::YesNo),
            MessageAnswer::No);
  EXPECT_EQ(toolkit.AnsweredBoxes(), (std::vector<std::string>{"first?", "failed", "second?"}));
  ASSERT_EQ(toolkit.Errors().size(), 1u);
}

TEST(Win32ToolkitScript, FormActionsArePlayedAsRealMessagesOnTheControls) {
  auto owned = std::make_unique<Win32Toolkit>(
      ParseScript("click btnOK\nset edtFtpSite server/pub\nset edtUser bob\nclick nothing\npress Enter\n"));
  Win32Toolkit& toolkit = *owned;
  SetToolkit(std::move(owned));
  EXPECT_EQ(addin::ShowFtpDetails(), "ftp://bob@server/pub");
  EXPECT_EQ(toolkit.Errors(), (std::vector<std::string>{"click nothing: no component nothing on frmFtpDetails"}));
  SetToolkit(nullptr);
}

TEST(Win32ToolkitScript, AnInjectionRunsAtItsTurnOnTheTopmostFormAlsoInAOneMessageTurn) {
  for (const bool oneMessage : {false, true}) {
    SCOPED_TRACE(oneMessage ? "ProcessOneMessage" : "ProcessMessages");
    auto owned = std::make_unique<Win32Toolkit>(ParseScript("at 3 press Esc\n"));
    Win32Toolkit& toolkit = *owned;
    SetToolkit(std::move(owned));
    ui::TfrmInputQuery form("t", "p", "v");
    std::vector<uint64_t> openAt;
    toolkit.onModalShown = [&](Form&) {
      for (int i = 0; i < 5 && form.modalResult == mrNone; ++i) {
        openAt.push_back(toolkit.ProcessMessagesCount());
        if (oneMessage)
          toolkit.ProcessOneMessage();
        else
          toolkit.ProcessMessages();
      }
      if (form.modalResult == mrNone) form.modalResult = mrOk;  // never injected: fail, not wait
    };
    EXPECT_EQ(toolkit.ShowModal(form), mrCancel);
    EXPECT_EQ(openAt, (std::vector<uint64_t>{0, 1, 2}));
    SetToolkit(nullptr);
  }
}

// ---- leaks -----------------------------------------------------------------------------------

BOOL CALLBACK CountChild(HWND, LPARAM count) {
  ++*reinterpret_cast<int*>(count);
  return TRUE;
}
BOOL CALLBACK CountTopLevel(HWND hwnd, LPARAM count) {
  ++*reinterpret_cast<int*>(count);
  ::EnumChildWindows(hwnd, CountChild, count);
  return TRUE;
}
int ThreadWindows() {
  int count = 0;
  ::EnumThreadWindows(::GetCurrentThreadId(), CountTopLevel, reinterpret_cast<LPARAM>(&count));
  return count;
}

TEST(Win32ToolkitLeaks, HundredOpenCloseCyclesOfEachFormLeaveNoWindowOrFont) {
  auto owned = std::make_unique<Win32Toolkit>();
  Win32Toolkit& toolkit = *owned;
  SetToolkit(std::move(owned));
  HostWindow host;
  const int windowsBefore = ThreadWindows();
  const DWORD gdiBefore = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
  const DWORD userBefore = ::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS);
  toolkit.onModalShown = [](Form& form) { form.modalResult = mrCancel; };
  std::vector<HGDIOBJ> fonts;
  for (int i = 0; i < 100; ++i) {
    {
      deploy::TfrmDeploy deployForm;
      toolkit.ShowModal(deployForm);
    }
    {
      addin::TfrmFtpDetails ftp;
      toolkit.ShowModal(ftp);
    }
    {
      ui::TfrmInputQuery query("t", "p", "v");
      toolkit.ShowModal(query);
    }
    char caption[64];
    const uint32_t page = addin::CreatePage(addin::kFolderPropertiesDialog, host.handle(), 1, "", caption);
    EXPECT_EQ(ThreadWindows(), windowsBefore + 1 + 15) << "the page and its parts while it is shown";
    addin::PageRelease(addin::kFolderPropertiesDialog, page);
    if (i == 0) fonts = toolkit.GdiObjects();
    ASSERT_EQ(ThreadWindows(), windowsBefore) << "cycle " << i;
  }
  EXPECT_EQ(toolkit.GdiObjects(), fonts) << "the fonts are made once and shared";
  EXPECT_EQ(fonts.size(), 2u) << "normal and bold";
  // Wine reports 0 here; Windows counts.
  EXPECT_LE(::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS), gdiBefore + fonts.size());
  EXPECT_LE(::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS), userBefore);
  SetToolkit(nullptr);
  for (HGDIOBJ font : fonts) EXPECT_EQ(::GetObjectType(font), 0u) << "deleted with the backend";
}

}  // namespace
}  // namespace skelder::platform
