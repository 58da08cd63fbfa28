#include "KeyMap.h"

#include <array>
#include <string_view>

namespace mirel {

namespace {

// US layout punctuation: key code, unshifted character, shifted character.
struct OemKey {
  std::uint8_t vk;
  char plain;
  char shifted;
};
constexpr std::array<OemKey, 11> OemKeys{{{0xBA, ';', ':'},
                                          {0xBB, '=', '+'},
                                          {0xBC, ',', '<'},
                                          {0xBD, '-', '_'},
                                          {0xBE, '.', '>'},
                                          {0xBF, '/', '?'},
                                          {0xC0, '`', '~'},
                                          {0xDB, '[', '{'},
                                          {0xDC, '\\', '|'},
                                          {0xDD, ']', '}'},
                                          {0xDE, '\'', '"'}}};

constexpr std::string_view ShiftedDigits = ")!@#$%^&*(";

struct SequenceKey {
  std::uint8_t vk;
  std::string_view bytes;
};
constexpr std::array<SequenceKey, 10> SequenceKeys{{{0x21, "\x1b[5~"},
                                                    {0x22, "\x1b[6~"},
                                                    {0x23, "\x1b[F"},
                                                    {0x24, "\x1b[H"},
                                                    {VK_LEFT, "\x1b[D"},
                                                    {VK_UP, "\x1b[A"},
                                                    {VK_RIGHT, "\x1b[C"},
                                                    {VK_DOWN, "\x1b[B"},
                                                    {0x2D, "\x1b[2~"},
                                                    {0x2E, "\x1b[3~"}}};

std::string plainBytes(std::uint8_t vk, TShiftState shift) {
  const bool shifted = shift & ssShift;
  if (vk >= 'A' && vk <= 'Z') {
    if (shift & ssCtrl)
      return std::string(1, static_cast<char>(vk - 'A' + 1));
    return std::string(1, static_cast<char>(shifted ? vk : vk - 'A' + 'a'));
  }
  if (vk >= '0' && vk <= '9')
    return std::string(1, shifted ? ShiftedDigits[vk - '0'] : static_cast<char>(vk));
  if (vk >= 0x60 && vk <= 0x69) // numeric keypad digits
    return std::string(1, static_cast<char>('0' + vk - 0x60));
  switch (vk) {
  case VK_SPACE:
    return " ";
  case VK_RETURN:
    return "\r";
  case VK_TAB:
    return "\t";
  case VK_BACK:
    return "\x7f";
  case VK_ESCAPE:
    return "\x1b";
  case 0x6A:
    return "*";
  case 0x6B:
    return "+";
  case 0x6D:
    return "-";
  case 0x6E:
    return ".";
  case 0x6F:
    return "/";
  default:
    break;
  }
  for (const auto &k : OemKeys)
    if (k.vk == vk)
      return std::string(1, shifted ? k.shifted : k.plain);
  for (const auto &k : SequenceKeys)
    if (k.vk == vk)
      return std::string(k.bytes);
  return {};
}

} // namespace

std::uint16_t VkKeyScanA(char ch) {
  constexpr std::uint16_t Shift = 0x100, Ctrl = 0x200;
  const auto c = static_cast<unsigned char>(ch);
  if (c >= 'a' && c <= 'z')
    return static_cast<std::uint16_t>(c - 'a' + 'A');
  if (c >= 'A' && c <= 'Z')
    return static_cast<std::uint16_t>(Shift | c);
  if (c >= '0' && c <= '9')
    return c;
  if (auto pos = ShiftedDigits.find(ch); pos != std::string_view::npos)
    return static_cast<std::uint16_t>(Shift | ('0' + pos));
  switch (c) {
  case ' ':
    return VK_SPACE;
  case '\r':
  case '\n':
    return VK_RETURN;
  case '\t':
    return VK_TAB;
  case '\b':
    return VK_BACK;
  case 0x1b:
    return VK_ESCAPE;
  default:
    break;
  }
  if (c >= 1 && c <= 26) // control characters: Ctrl + letter
    return static_cast<std::uint16_t>(Ctrl | ('A' + c - 1));
  for (const auto &k : OemKeys) {
    if (k.plain == ch)
      return k.vk;
    if (k.shifted == ch)
      return static_cast<std::uint16_t>(Shift | k.vk);
  }
  return 0xFFFF;
}

std::string KeyBytes(std::uint16_t key, TShiftState shift) {
  std::string bytes = plainBytes(static_cast<std::uint8_t>(key & 0xFF), shift);
  if (!bytes.empty() && (shift & ssAlt))
    bytes.insert(bytes.begin(), '\x1b');
  return bytes;
}

} // namespace mirel
