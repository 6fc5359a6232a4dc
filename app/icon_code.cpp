#include "app/icon_code.h"

IconCode MakeIconCode(const DisplaySettings& settings, ActivitySample total, ActivitySample previousTotal,
                      std::uint32_t readHeight, std::uint32_t writeHeight, IconCode currentCode) {
  const bool unchanged = total == previousTotal;
  IconCode code = currentCode;
  if (settings.symbolIcon) code = unchanged ? SYMBOL_IDLE : settings.color;
  if (settings.charIcon) code = unchanged ? CHAR_IDLE : settings.color + 100;
  if (settings.barIcon) {
    code = settings.color * 10000 + static_cast<IconCode>(readHeight) * 100 + static_cast<IconCode>(writeHeight);
  }
  return code;
}
