// The property page's own rules, on the page object: placing it fixes its size, the layout rule
// follows the panel's width, and a chosen directory is stored in its absolute, normalised form.
#include "addin/frm_main.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

#include "hostsim_fixture.h"
#include "platform/files.h"

namespace skelder::addin {
namespace {

TEST(PropertyPageLayout, PlacingFixesTheSizeAndTheListFollowsThePanel) {
  TdlgWebFolder page(0, kFolderPropertiesDialog, 1, "");
  EXPECT_EQ(page.caption, "Web Projects");
  EXPECT_EQ(page.memoDeploymentPaths.width, 317);
  EXPECT_EQ(page.btnAddPath.left, 243);
  page.PlacePage(10, 20, 510, 420);
  EXPECT_EQ(page.left, 10);
  EXPECT_EQ(page.top, 20);
  EXPECT_EQ(page.Width, 500);
  EXPECT_EQ(page.MinWidth, 500);
  EXPECT_EQ(page.MaxWidth, 500);
  EXPECT_EQ(page.MinHeight, 400);
  EXPECT_EQ(page.MaxHeight, 400);
  EXPECT_EQ(page.Panel4.width, 500 - 22);
  EXPECT_EQ(page.Panel4.height, 400 - 12);
  EXPECT_EQ(page.memoDeploymentPaths.width, 478);
  EXPECT_EQ(page.Label14.width, 478);
  EXPECT_EQ(page.btnAddPath.left, 478 - 75);
  EXPECT_EQ(page.btnFtp.left, 164) << "Add FTP keeps its designed place";
  EXPECT_EQ(page.memoDeploymentPaths.top, 67) << "every other part keeps its place";
}

TEST(PropertyPageLayout, TheFtpSettingsFitUnderTheExplanationInsideTheDesignedPage) {
  TdlgWebFolder page(0, kFolderPropertiesDialog, 1, "");
  const int explanationEnd = page.Label14.top + page.Label14.height;
  for (const platform::Component* part : {&page.chkFtpPassive, &page.lblFtpConnections, &page.edtFtpConnections}) {
    EXPECT_EQ(part->parent, "Panel4") << part->name;
    EXPECT_GE(part->top, explanationEnd) << part->name;
    EXPECT_LE(part->top + part->height, page.Panel4.height) << part->name;
    EXPECT_LE(part->left + part->width, page.Panel4.width) << part->name;
  }
  EXPECT_GE(page.edtFtpConnections.left, page.lblFtpConnections.left + page.lblFtpConnections.width);
}

TEST(PropertyPageLayout, ARectangleTurnedInsideOutGivesAnEmptyPage) {
  TdlgWebFolder page(0, kFolderPropertiesDialog, 1, "");
  page.PlacePage(100, 100, 0, 50);
  EXPECT_EQ(page.Width, 0);
  EXPECT_EQ(page.Height, 0);
  EXPECT_EQ(page.Panel4.width, 0);
  EXPECT_GE(page.memoDeploymentPaths.width, 0);
  page.PlacePage(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX);
  EXPECT_EQ(page.Width, INT32_MAX) << "no overflow";
  EXPECT_EQ(page.Panel4.width, INT32_MAX - 22);
}

#ifndef _WIN32  // the POSIX form; Windows asks the system (platform_win32_backend checks it)
TEST(PropertyPagePaths, ChosenDirectoriesAreAbsoluteAndNormalised) {
  EXPECT_EQ(platform::UniversalPathName("/srv/./www/../site//"), "/srv/site/");
  EXPECT_EQ(platform::UniversalPathName("/srv/www"), "/srv/www");
  EXPECT_EQ(platform::UniversalPathName("/"), "/");
  EXPECT_EQ(platform::UniversalPathName("//"), "/");
  EXPECT_EQ(platform::UniversalPathName("/../.."), "/");
  EXPECT_EQ(platform::UniversalPathName("rel/dir/"), std::filesystem::current_path().string() + "/rel/dir/");
}
#endif

TEST(PropertyPageLoad, LocationsOpenOneALineAndNoSettingsOpenEmpty) {
  test::HostSimUser user;  // the registry stand-in and per-user folder of a fresh user
  TdlgWebFolder page(0, kFolderPropertiesDialog, -1, "[Web Folder]\r\nDeployTo=C:\\a,ftp://server/pub\r\n");
  page.LoadPage();
  EXPECT_EQ(page.memoDeploymentPaths.lines, (std::vector<std::string>{"C:\\a", "ftp://server/pub"}));
  EXPECT_EQ(page.DeployTo, "C:\\a,ftp://server/pub");
  TdlgWebFolder empty(0, kFolderPropertiesDialog, -1, "[General]\r\nA=1\r\n");
  empty.LoadPage();
  EXPECT_TRUE(empty.memoDeploymentPaths.lines.empty());
  EXPECT_EQ(empty.lblWeb.caption, "") << "no host here: the page opens without the name";
}

}  // namespace
}  // namespace skelder::addin
