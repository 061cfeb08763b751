#pragma once
// The host controller's registers as people read them: 16-bit words in binary and octal, octal
// texts typed by the user, encoder count changes, DAC codes as volts, and the module's replies
// to register and electroautomatics reads.
//
// Host registers are named by six-digit octal numbers (170461); on the link they travel as the
// same number in binary (0xF131).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarven::model {

// The 16 bits from bit 15 down to bit 0, each "1" or "0" followed by one space (32 characters).
std::string BitsText(std::uint16_t word);
// Exactly six octal digits with leading zeros: the first is bit 15 alone ("100000", "000001").
std::string OctalWordText(std::uint16_t word);
// Octal without leading zeros, "0" for zero, at most six digits ("10" for 8, "177777").
std::string FormatOctal(std::uint16_t word);

// Why ParseOctal refused a text.
enum class OctalError {
  None,
  Empty,       // nothing typed
  NotANumber,  // a character that is not a decimal digit (the integer conversion refuses it)
  NotOctal,    // the digit 8 or 9
};

struct OctalValue {
  OctalError error = OctalError::None;
  std::uint16_t value = 0;  // the octal number modulo 65536
  // More than 16 bits were typed (200000 and up): `value` kept only the low 16 of them.
  bool wrapped = false;
  bool ok() const { return error == OctalError::None; }
};

// The user's octal text, digit by digit, each character converted on its own by the integer text
// conversion: nothing may stand before, between or after the digits. The value is kept to 16 bits
// after every digit, so that digits beyond the sixth shift the high ones out (200000 gives 0).
OctalValue ParseOctal(std::string_view text);
// The failure's words: "Ошибка преобразования" for an empty text and for 8 or 9.
std::string OctalErrorText(OctalError error);

// A register number written in octal ("170461") as the address that travels on the link, or
// nothing when the text is not an octal number of at most 16 bits.
std::optional<std::uint16_t> ParseRegisterNumber(std::string_view text);

// The change an encoder register reports since its last read, a signed 16-bit count: 0xFFFF is
// -1, 0x8000 is -32768. Only the low 16 bits of the reply's 32-bit number carry the change.
std::int32_t CounterDelta(std::uint32_t reply_number);
// An accumulated counter after a change; wraps around on 32-bit overflow.
std::int32_t AddCount(std::int32_t counter, std::int32_t delta);

// DAC code to volts, 0.0048852 V per step. Bit 15 clear: code × step (0..0x7FF is 0..+10.000 V).
// Bit 15 set: -(0x8800 - code) × step (0x8000..0x87FF is -10.005..-0.005 V). A code with bit 15
// set from 0x8800 on lies below no step of the negative range, and the rule would turn it into a
// large positive voltage, which the DAC cannot give: such a code has no voltage (nothing).
inline constexpr double kDacVoltsPerStep = 0.0048852;
std::optional<double> DacVolts(std::uint32_t code);
// Volts with exactly three decimals and `decimal_point` between the whole and the fraction, a
// minus for negative values ("-10.005"); kNoVoltage for a code without a voltage.
std::string DacVoltsText(std::uint32_t code, std::string_view decimal_point = ".");
// What stands in the voltage box for a code outside the DAC's ranges: a dash, so that no number
// is read off it, while the code box beside it still shows the code.
inline constexpr const char* kNoVoltage = "—";

// The module's 8-byte answer to a register read: bytes 0..1 the register's value; encoder
// changes and DAC codes take bytes 0..3 as one 32-bit number. Bytes 4..7 carry nothing.
inline constexpr std::size_t kRegisterReplySize = 8;
using RegisterReply = std::array<std::uint8_t, kRegisterReplySize>;
std::uint16_t RegisterValue(const RegisterReply& reply);
std::uint32_t RegisterNumber(const RegisterReply& reply);
// The answer to an electroautomatics read: four 16-bit words, little-endian.
std::array<std::uint16_t, 4> EaWords(const RegisterReply& reply);

}  // namespace tarven::model
