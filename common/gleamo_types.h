// Values that pass between gleamo's subsystems.
#pragma once

#include <cstdint>

// Selects the icon colour: 11 red ... 18 white; 10 is the idle state.
using ColorCode = std::int32_t;

// Tells the painter what to draw: 10-18 symbol style, 110-118 char style,
// 10000 and above bar style (colour * 10000 + read height * 100 + write height).
using IconCode = std::int32_t;

// Read plus write operation totals of all disks, modulo 2^32. Only its
// equality with the previous tick's sample carries meaning.
using ActivitySample = std::int32_t;

// What a counter source hands a tick: its sample, whether the sample
// measures the disks (a source that has just come back measures nothing
// yet, and one that has no counters measures nothing at all: both show the
// idle picture), and, while it has no counters, why, for the tooltip.
struct CounterSample {
  ActivitySample total = 0;
  bool measured = true;
  const char* trouble = nullptr;  // one line, or null
};

constexpr ColorCode COLOR_IDLE = 10;
constexpr ColorCode COLOR_RED = 11;
constexpr ColorCode COLOR_GREEN = 12;
constexpr ColorCode COLOR_BLUE = 13;
constexpr ColorCode COLOR_YELLOW = 14;
constexpr ColorCode COLOR_VIOLET = 15;
constexpr ColorCode COLOR_TURQUOISE = 16;
constexpr ColorCode COLOR_BLACK = 17;
constexpr ColorCode COLOR_WHITE = 18;

// Private window messages and identifiers shared by the controller, the tray
// and the resources.
constexpr unsigned WM_APP_QUIT = 0x0400 + 5;       // WM_USER + 5
constexpr unsigned WM_TRAY_CALLBACK = 0x0400 + 8;  // WM_USER + 8
