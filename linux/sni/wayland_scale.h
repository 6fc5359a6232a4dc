// The scale of the Wayland session's outputs, for hosts that draw an item's
// largest picture at their icon size times the output's scale (waybar).
// Spoken straight over the compositor's socket: a registry, each wl_output
// bound for its scale event, one round trip. No library, no lasting
// connection.
#pragma once

// The largest scale any output of the compositor WAYLAND_DISPLAY names has
// (2 on a doubled screen); 1 without a Wayland session, or when the
// compositor does not answer within a fraction of a second.
int LargestOutputScale();
