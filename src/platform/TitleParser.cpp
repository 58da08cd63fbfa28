#include "TitleParser.h"

namespace mirel {

namespace {
constexpr char ESC = '\x1b';
constexpr char BEL = '\a';
constexpr char CAN = '\x18';
constexpr char SUB = '\x1a';
} // namespace

void TitleParser::finish() {
  if (param_ == 0 || param_ == 2)
    title_ = pending_;
  pending_.clear();
}

bool TitleParser::feed(std::string_view bytes) {
  bool changed = false;
  for (char c : bytes) {
    // CAN and SUB abort any sequence in progress, as in a real terminal.
    if (c == CAN || c == SUB) {
      state_ = State::Ground;
      pending_.clear();
      continue;
    }
    switch (state_) {
    case State::Ground:
      if (c == ESC)
        state_ = State::Escape;
      break;
    case State::Escape:
      if (c == ']') {
        state_ = State::OscParam;
        param_ = 0;
        pending_.clear();
      } else if (c != ESC) {
        state_ = State::Ground;
      }
      break;
    case State::OscParam:
      if (c >= '0' && c <= '9' && param_ < 1000) {
        param_ = param_ * 10 + (c - '0');
      } else if (c == ';') {
        state_ = (param_ == 0 || param_ == 2) ? State::OscText : State::OscIgnore;
      } else if (c == BEL) {
        state_ = State::Ground;
      } else if (c == ESC) {
        state_ = State::OscIgnoreEscape;
      } else {
        state_ = State::OscIgnore;
      }
      break;
    case State::OscText:
      if (c == BEL) {
        finish();
        changed = true;
        state_ = State::Ground;
      } else if (c == ESC) {
        state_ = State::OscEscape;
      } else if (pending_.size() < MaxTitle) {
        pending_ += c;
      }
      break;
    case State::OscEscape:
      if (c == '\\') {
        finish();
        changed = true;
        state_ = State::Ground;
      } else {
        // ESC followed by anything else ends the string unterminated: dropped.
        pending_.clear();
        state_ = c == ']' ? State::OscParam : State::Ground;
        param_ = 0;
      }
      break;
    case State::OscIgnore:
      if (c == BEL)
        state_ = State::Ground;
      else if (c == ESC)
        state_ = State::OscIgnoreEscape;
      break;
    case State::OscIgnoreEscape:
      state_ = c == ']' ? State::OscParam : State::Ground;
      param_ = 0;
      break;
    }
  }
  return changed;
}

} // namespace mirel
