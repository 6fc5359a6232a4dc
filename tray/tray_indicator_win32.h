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
                 IconCode iconCode, const char* tooltip);
  // The icon leaves the notification area before its picture is released.
  ~CTrayIndicator();
  CTrayIndicator(const CTrayIndicator&) = delete;
  CTrayIndicator& operator=(const CTrayIndicator&) = delete;

  // Takes effect with the next ReplaceIcon. Labels are cut to 4 and 3 characters.
  void SetLabels(const char* top, const char* bottom);

  // Sets the tooltip, paints a new picture, hands it to the shell and only
  // then destroys the picture it replaces. Always paints anew.
  void ReplaceIcon(IconCode iconCode, const char* tooltip);

  int CreateTray(HINSTANCE instance, HWND owner, UINT callbackMessage, const char* tooltip);

  const CActivityIcon* CurrentIcon() const { return currentIcon.get(); }
  const char* TopLabel() const { return topLabel; }
  const char* BottomLabel() const { return bottomLabel; }

 private:
  void CopyLabels(const char* top, const char* bottom);

  std::unique_ptr<CActivityIcon> currentIcon;
  std::unique_ptr<CSystemTray> tray;
  char topLabel[5] = {};     // at most 4 characters; the last byte stays zero
  char bottomLabel[5] = {};  // at most 3 characters
};
