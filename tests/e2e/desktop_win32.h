// What an end-to-end test needs of the Wine desktop that
// scripts/with-wine-desktop.sh puts up: joining it, its taskbar, screen
// pixels, the mouse, and the windows of another process.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// The name of the test's desktop (GLEAMO_WINE_DESKTOP), empty outside the
// fixture.
std::string WineDesktopName();

// Makes the calling thread a thread of the test's desktop and waits for its
// taskbar; an empty string when that worked, else what went wrong.
std::string JoinWineDesktop();

// The taskbar's rectangle on the screen (empty when there is no taskbar).
RECT TaskbarRect();

// A rectangle of the screen as 0x00RRGGBB pixels, top row first.
struct ScreenShot {
  RECT rect{};
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;

  std::uint32_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
  bool Empty() const { return pixels.empty(); }
};
ScreenShot CaptureScreen(const RECT& rect);

void ClickAt(POINT point, bool rightButton);

// The tooltip the taskbar shows while the mouse rests on a point: its text
// and its place on the screen; an empty text when none showed in time.
struct ShownTooltip {
  std::string text;
  RECT rect{};
};
ShownTooltip HoverForTooltip(POINT point, DWORD milliseconds);
// Far from the taskbar and from any menu, so that no tooltip or highlighted
// item covers what a test looks at next.
void MoveMouseAway();

// Top-level windows of a process with this class and, unless null, this
// caption (exact); hidden ones only when asked for.
std::vector<HWND> WindowsOfProcess(DWORD processId, const char* className, const char* caption, bool hiddenToo = false);

// Polls until the condition holds or the time is up; returns the last result.
template <typename Condition>
bool WaitFor(DWORD milliseconds, Condition condition) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start >= milliseconds) return false;
    Sleep(50);
  }
}
