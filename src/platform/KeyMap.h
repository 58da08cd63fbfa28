#pragma once

#include <cstdint>
#include <string>

namespace mirel {

// Modifier keys held with a key, as a set of these bits.
enum TShiftFlag : unsigned { ssShift = 1, ssAlt = 2, ssCtrl = 4 };
using TShiftState = unsigned;

// Virtual-key codes the downloader uses by name.
inline constexpr std::uint16_t VK_BACK = 0x08, VK_TAB = 0x09, VK_RETURN = 0x0D, VK_SHIFT = 0x10,
                               VK_CONTROL = 0x11, VK_MENU = 0x12, VK_ESCAPE = 0x1B, VK_SPACE = 0x20,
                               VK_LEFT = 0x25, VK_UP = 0x26, VK_RIGHT = 0x27, VK_DOWN = 0x28;

// The key that types a character on a US keyboard: the virtual-key code in
// the low byte, the shift state needed in the high byte (1 Shift, 2 Ctrl,
// 4 Alt). 0xFFFF when no key types it.
std::uint16_t VkKeyScanA(char ch);

// The bytes a terminal sends for a key (low byte of key: virtual-key code)
// pressed with the given modifiers: letters lower-case unless Shift is held,
// Ctrl+letter the control byte, Enter "\r", arrows and editing keys their
// ANSI sequences, Alt an ESC in front. Empty for keys that type nothing.
std::string KeyBytes(std::uint16_t key, TShiftState shift);

} // namespace mirel
