// The holder that swaps freshly painted activity icons into the
// notification area.
#pragma once

#include <windows.h>

#include <memory>

#include "common/gleamo_types.h"
#include "tray/activity_icon_win32.h"
#include "tray/system_tray_win32.h"

class CTrayIndicator {
 public:
  // Paints the first icon before the notification-area icon exists, so the
  // shell never sees an add without a picture.
  CTrayIndicator(HINSTANCE instance, HWND owner, UINT callbackMessage, const char* topLabel, const char* bottomLabel,
                 IconCode iconCode, const char* tooltip, int iconSize = ICON_SIZE);
  // The icon leaves the notification area before its picture is released.
  ~CTrayIndicator();
  CTrayIndicator(const CTrayIndicator&) = delete;
  CTrayIndicator& operator=(const CTrayIndicator&) = delete;

  // Takes effect with the next ReplaceIcon. Labels are cut to 4 and 3 characters.
  void SetLabels(const char* top, const char* bottom);
  // The size pictures are painted at, from the next ReplaceIcon on.
  void SetIconSize(int size) { iconSize = size; }
  int IconSize() const { return iconSize; }

  // Sets the tooltip, paints a new picture, hands it to the shell and only
  // then destroys the picture it replaces. Always paints anew. While the
  // shell has not taken the icon yet, this is another try to add it.
  void ReplaceIcon(IconCode iconCode, const char* tooltip);

  // The icon is in the notification area.
  bool Shown() const { return tray && tray->InTray(); }
  // Tries again to add an icon the shell has not taken yet, when the last
  // try is RETRY_INTERVAL_MS ago: a busy shell at logon gets asked every few
  // seconds also while the picture stays the same.
  void RetryAddWhenDue();
  static constexpr DWORD RETRY_INTERVAL_MS = 2000;

  int CreateTray(HINSTANCE instance, HWND owner, UINT callbackMessage, const char* tooltip);

  const CActivityIcon* CurrentIcon() const { return currentIcon.get(); }
  const char* TopLabel() const { return topLabel; }
  const char* BottomLabel() const { return bottomLabel; }

 private:
  void CopyLabels(const char* top, const char* bottom);

  std::unique_ptr<CActivityIcon> currentIcon;
  std::unique_ptr<CSystemTray> tray;
  int iconSize = ICON_SIZE;
  DWORD lastAddTry = 0;      // GetTickCount of the last add
  char topLabel[5] = {};     // at most 4 characters; the last byte stays zero
  char bottomLabel[5] = {};  // at most 3 characters
};
