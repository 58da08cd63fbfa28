#include "platform/KeyMap.h"

#include <array>
#include <gtest/gtest.h>

namespace mirel {
namespace {

TEST(VkKeyScanA, KeyAndShiftStateOfCharacters) {
  struct Case {
    char ch;
    std::uint16_t expected;
  };
  constexpr std::array<Case, 16> cases{{{'q', 0x0051},
                                        {'Q', 0x0151},
                                        {'a', 0x0041},
                                        {'Z', 0x015A},
                                        {'0', 0x0030},
                                        {'!', 0x0131},
                                        {')', 0x0130},
                                        {' ', VK_SPACE},
                                        {'\r', VK_RETURN},
                                        {'\x1b', VK_ESCAPE},
                                        {'\x01', 0x0241}, // Ctrl+A
                                        {';', 0x00BA},
                                        {':', 0x01BA},
                                        {'/', 0x00BF},
                                        {'"', 0x01DE},
                                        {'\x80', 0xFFFF}}};
  for (const auto &c : cases)
    EXPECT_EQ(VkKeyScanA(c.ch), c.expected) << "char " << int(c.ch);
}

TEST(KeyBytes, WhatATerminalReceives) {
  struct Case {
    std::uint16_t key;
    TShiftState shift;
    const char *bytes;
  };
  constexpr std::array<Case, 16> cases{{
      {'Q', 0, "q"},
      {0x0151, 0, "q"}, // the shift state in the high byte is not pressed
      {'Q', ssShift, "Q"},
      {'C', ssCtrl, "\x03"},
      {'C', ssCtrl | ssShift, "\x03"},
      {'X', ssAlt, "\x1bx"},
      {'1', 0, "1"},
      {'1', ssShift, "!"},
      {VK_RETURN, 0, "\r"},
      {VK_BACK, 0, "\x7f"},
      {VK_UP, 0, "\x1b[A"},
      {VK_LEFT, 0, "\x1b[D"},
      {0xBA, ssShift, ":"},
      {0x13, 0, ""}, // pause types nothing
      {VK_SHIFT, ssShift, ""},
      {0x65, 0, "5"}, // keypad
  }};
  for (const auto &c : cases)
    EXPECT_EQ(KeyBytes(c.key, c.shift), c.bytes) << "key " << c.key << " shift " << c.shift;
}

TEST(KeyBytes, EveryPrintableCharacterRoundTrips) {
  // Typing a character's key with the shift state VkKeyScanA names gives it back.
  for (int c = 0x20; c < 0x7f; ++c) {
    const std::uint16_t key = VkKeyScanA(static_cast<char>(c));
    ASSERT_NE(key, 0xFFFF) << c;
    TShiftState shift = 0;
    if (key & 0x100)
      shift |= ssShift;
    EXPECT_EQ(KeyBytes(key, shift), std::string(1, static_cast<char>(c))) << c;
  }
}

} // namespace
} // namespace mirel
