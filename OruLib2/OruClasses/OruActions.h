#pragma once
// Action strings: buttons and other objects of a show carry their action as
// a short command ("nextslide", "gotoslide(3)", "openwebsite('...')"),
// turned here into the record the engine and the main form carry out.
#include <cstdint>

#include "ZmLib/zmTypes.h"

namespace oru {

using zm::WideString;

// Action codes.
constexpr std::uint8_t acNone = 0;
constexpr std::uint8_t acExit = 1;
constexpr std::uint8_t acPrevSlide = 2;
constexpr std::uint8_t acNextSlide = 3;
constexpr std::uint8_t acHelp = 4;
constexpr std::uint8_t acPause = 5;
constexpr std::uint8_t acPrint = 6;
constexpr std::uint8_t acGotoSlide = 7;
constexpr std::uint8_t acOpenWebSite = 8;
constexpr std::uint8_t acWriteEmail = 9;
constexpr std::uint8_t acRunApp = 10;
constexpr std::uint8_t acRunAppAndExit = 11;
constexpr std::uint8_t acRunPresentation = 12;
constexpr std::uint8_t acStop = 13;
constexpr std::uint8_t acRunPresentationAndReturn = 14;
constexpr std::uint8_t acOpenDialog = 15;
constexpr std::uint8_t acCloseDialog = 16;
constexpr std::uint8_t acSaveSlide = 17;
constexpr std::uint8_t acChangePrinter = 18;
constexpr std::uint8_t acSeek = 19;  // made by the overlay's seek, never parsed

struct TOruActionInfo {
  std::uint8_t Code = acNone;
  std::int32_t Value = 0;
  WideString Text;

  bool IsEmpty() const { return Code == acNone && Value == 0 && Text.empty(); }
  friend bool operator==(const TOruActionInfo&, const TOruActionInfo&) = default;
};

// The shared record of "no action".
extern const TOruActionInfo EmptyActionInfo;

TOruActionInfo MakeActionInfo(std::uint8_t code, std::int32_t value, const WideString& text);

// The record of a command; the keyword is matched ignoring case, arguments
// are kept as written. Never fails: an unknown command gives the empty
// record. Calls lose the characters around their argument without checking
// them: the quotes and the closing parenthesis are assumed. The number of
// gotoslide is -1 when it is not a decimal integer.
TOruActionInfo ParseActionString(const WideString& command);

}  // namespace oru
