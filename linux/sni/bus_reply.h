// What the item's and the menu's sd-bus handlers share.
#pragma once

#include <systemd/sd-bus.h>

// Propagates the first failing sd-bus step of a message build.
#define BUS_TRY(call)                \
  do {                               \
    const int result_ = (call);      \
    if (result_ < 0) return result_; \
  } while (0)

// A property whose value never changes.
template <const char* Value>
int GetString(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*, sd_bus_error*) {
  return sd_bus_message_append(reply, "s", Value);
}
