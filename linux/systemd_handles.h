// Owners for the sd-event and sd-bus objects the Linux edition holds, as
// common/win32_handles.h has them for Windows.
#pragma once

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include "common/unique_handle.h"

using unique_sd_event = unique_handle<sd_event*, call_release<&sd_event_unref>>;
// Disabled before it is let go, so a source still referenced elsewhere fires no more.
using unique_sd_event_source = unique_handle<sd_event_source*, call_release<&sd_event_source_disable_unref>>;
// Flushed before it is closed: what is still queued (the item leaving) goes out.
using unique_sd_bus = unique_handle<sd_bus*, call_release<&sd_bus_flush_close_unref>>;
using unique_bus_slot = unique_handle<sd_bus_slot*, call_release<&sd_bus_slot_unref>>;
using unique_bus_message = unique_handle<sd_bus_message*, call_release<&sd_bus_message_unref>>;
