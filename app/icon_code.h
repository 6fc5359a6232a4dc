// The per-tick decision of what the tray icon shows.
#pragma once

#include <cstdint>

#include "app/display_settings.h"
#include "common/gleamo_types.h"

// Symbol and char styles tell idle from active by colour: a total equal to
// the previous tick's is idle. The bar style shows the two heights (0-15)
// whatever the total did; idle there simply means both heights are 0.
// With several style flags set, bar wins over char and char over symbol;
// with none, the current code is kept.
IconCode MakeIconCode(const DisplaySettings& settings, ActivitySample total, ActivitySample previousTotal,
                      std::uint32_t readHeight, std::uint32_t writeHeight, IconCode currentCode);

// The 16x16 icon's three styles, as an icon code selects them.
constexpr IconCode SYMBOL_IDLE = 10;
constexpr IconCode CHAR_IDLE = 110;
