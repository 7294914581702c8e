#pragma once
// The add-in's base error type: every failure inside the add-in is an exception carrying a
// message; no exception crosses an export.
#include <stdexcept>
#include <string>

namespace skelder {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

}  // namespace skelder
