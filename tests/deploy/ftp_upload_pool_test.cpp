// The folders an upload over several sessions makes before any session uploads: each once, its
// parents before it, in the order the files need them; names that hold no level of their own
// ("a//b", a trailing "/") make no empty folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "deploy/ftp_upload_pool.h"

namespace skelder::deploy {
namespace {

std::vector<TUploadJob> Jobs(const std::vector<std::string>& dirs) {
  std::vector<TUploadJob> jobs;
  for (const auto& d : dirs) {
    TUploadJob job;
    job.RemoteDir = d;
    jobs.push_back(job);
  }
  return jobs;
}

TEST(FtpUploadPoolFolders, EachOnceParentsFirst) {
  const struct {
    std::vector<std::string> dirs;
    std::vector<std::string> made;
  } cases[] = {
      {{}, {}},
      {{"", ""}, {}},
      {{"a", "a", ""}, {"a"}},
      {{"a/b/c"}, {"a", "a/b", "a/b/c"}},
      {{"x/y", "x", "x/z", "w"}, {"x", "x/y", "x/z", "w"}},
      {{"a//b", "a/"}, {"a", "a//b"}},
      {{"img/sub", "img"}, {"img", "img/sub"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TFtpUploadPool::FoldersToMake(Jobs(c.dirs)), c.made) << ::testing::PrintToString(c.dirs);
  }
}

}  // namespace
}  // namespace skelder::deploy
