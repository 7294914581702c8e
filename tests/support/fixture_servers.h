#pragma once
// The FTP servers of the test_servers fixture (tests/support/test_servers.py), as its
// servers.txt in the bin folder lists them: what runs where, or why it does not.
#include <fstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace skelder::test {

struct FixtureServer {
  std::string name, host, root, ftpRoot, user, password;
  std::string unavailable;  // why, when it is not there
};

inline std::vector<FixtureServer> FixtureServers() {
  std::vector<FixtureServer> servers;
  std::ifstream in(BinDir() + "/test-servers/servers.txt");
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> f;
    for (size_t at = 0;; ++at) {
      const size_t tab = line.find('\t', at);
      f.push_back(line.substr(at, tab - at));
      if (tab == std::string::npos) break;
      at = tab;
    }
    if (f.size() == 3 && f[1] == "unavailable") servers.push_back({f[0], {}, {}, {}, {}, {}, f[2]});
    if (f.size() == 7) servers.push_back({f[0], f[1], f[2], f[3], f[4], f[5], {}});
  }
  return servers;
}

}  // namespace skelder::test
