#include "tray/tray_indicator_win32.h"

CTrayIndicator::CTrayIndicator(HINSTANCE instance, HWND owner, UINT callbackMessage, const char* topLabel,
                               const char* bottomLabel, IconCode iconCode, const char* tooltip, int iconSize)
    : iconSize(iconSize) {
  CopyLabels(topLabel, bottomLabel);
  ReplaceIcon(iconCode, tooltip);  // no tray yet: this only paints
  CreateTray(instance, owner, callbackMessage, tooltip);
}

CTrayIndicator::~CTrayIndicator() {
  tray.reset();  // removes the icon and the hidden window
  currentIcon.reset();
}

void CTrayIndicator::CopyLabels(const char* top, const char* bottom) {
  lstrcpynA(topLabel, top, 5);
  lstrcpynA(bottomLabel, bottom, 4);
}

void CTrayIndicator::SetLabels(const char* top, const char* bottom) {
  CopyLabels(top, bottom);
}

void CTrayIndicator::ReplaceIcon(IconCode iconCode, const char* tooltip) {
  if (tray) tray->SetTipText(tooltip);
  auto painted = std::make_unique<CActivityIcon>(topLabel, bottomLabel, iconCode, iconSize);
  if (tray) tray->SetIcon(painted->GetIcon());
  if (tray && !tray->InTray()) {
    lastAddTry = GetTickCount();
    tray->RetryAdd();  // with the picture and tooltip just stored
  }
  // The shell has its successor now (or refused it and keeps showing a copy
  // of its own), so the old picture can go.
  currentIcon = std::move(painted);
}

void CTrayIndicator::RetryAddWhenDue() {
  if (!tray || tray->InTray() || GetTickCount() - lastAddTry < RETRY_INTERVAL_MS) return;
  lastAddTry = GetTickCount();
  tray->RetryAdd();
}

int CTrayIndicator::CreateTray(HINSTANCE instance, HWND owner, UINT callbackMessage, const char* tooltip) {
  tray.reset();
  tray = std::make_unique<CSystemTray>();
  lastAddTry = GetTickCount();
  return tray->Create(instance, owner, callbackMessage, tooltip, currentIcon->GetIcon(), 0, FALSE, nullptr, nullptr, 0,
                      10);
}
