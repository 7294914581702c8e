#pragma once
// Lines of the deployment log as the tests expect them: the fetch heading, a location's heading,
// and lists joined in order.
#include <initializer_list>
#include <string>
#include <vector>

namespace skelder::test {

inline const std::vector<std::string> kFetchHeading = {"Getting files from Ardmoor...", ""};

inline std::vector<std::string> Heading(const std::string& target) {
  return {"", "", "Deploying to '" + target + "'...", ""};
}

inline std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

}  // namespace skelder::test
