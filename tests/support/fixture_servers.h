#pragma once
// The FTP servers of the test_servers fixture (tests/support/test_servers.py), as its
// servers.txt in the bin folder lists them: what runs where, or why it does not.
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"

namespace skelder::test {

struct FixtureServer {
  std::string name, host, root, ftpRoot, user, password;
  std::string commandLog;   // each command the server received, a line each, PASS masked
  std::string fingerprint;  // a TLS server's certificate, SHA-256 as "AB:CD:..."
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
    if (f.size() == 3 && f[1] == "unavailable") servers.push_back({f[0], {}, {}, {}, {}, {}, {}, {}, f[2]});
    if (f.size() == 7 || f.size() == 8)
      servers.push_back({f[0], f[1], f[2], f[3], f[4], f[5], f[6], f.size() == 8 ? f[7] : "", {}});
  }
  return servers;
}

// The fixture's server of that name, with a fresh folder of the caller's own below its root
// (`prefix` and a random number, in `folder`); null, with the reason in `why`, when the fixture
// could not start it or has none of that name.
inline const FixtureServer* FixtureServerWithFolder(const std::vector<FixtureServer>& servers, const std::string& name,
                                                    const std::string& prefix, std::string& folder, std::string& why) {
  for (const FixtureServer& s : servers) {
    if (s.name != name) continue;
    if (!s.unavailable.empty()) {
      why = name + ": " + s.unavailable;
      return nullptr;
    }
    static std::mt19937 rng(std::random_device{}());
    folder = prefix + std::to_string(rng() % 1000000000);
    MakeDirs(s.root + "/" + folder);
    return &s;
  }
  why = "no " + name + " in the fixture's servers.txt (did the TestServers fixture run?)";
  return nullptr;
}

}  // namespace skelder::test
