#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mirel {

// Follows the window title a terminal program sets with OSC 0 or OSC 2
// (ESC ] 0 ; text BEL, or ESC \ as terminator). Fed the raw output stream in
// pieces of any size; a sequence split across pieces is still read whole.
class TitleParser {
public:
  // Titles longer than this are kept cut; nobody reads more than 127 bytes.
  static constexpr std::size_t MaxTitle = 4096;

  explicit TitleParser(std::string initial = {}) : title_(std::move(initial)) {}

  // Returns true when a title sequence completed in this piece.
  bool feed(std::string_view bytes);
  const std::string &title() const { return title_; }

private:
  enum class State { Ground, Escape, OscParam, OscText, OscEscape, OscIgnore, OscIgnoreEscape };
  void finish();

  State state_ = State::Ground;
  int param_ = 0;
  std::string pending_;
  std::string title_;
};

} // namespace mirel
