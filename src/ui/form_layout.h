#pragma once
// Placing the parts of a form the way its design gives them.
#include <string>

#include "platform/widgets.h"

namespace skelder::ui {

inline void SetBounds(platform::Component& c, int left, int top, int width, int height) {
  c.left = left;
  c.top = top;
  c.width = width;
  c.height = height;
}

// A button at its place with its caption and the modal result it closes the form with.
inline void SetButton(platform::Component& c, const std::string& caption, int left, int top, int modalResult,
                      int width = 75, int height = 25) {
  c.caption = caption;
  c.modalResult = modalResult;
  SetBounds(c, left, top, width, height);
}

}  // namespace skelder::ui
