// The size the taskbar gives a notification-area icon: the small icon size
// at the taskbar's DPI.
#pragma once

// SM_CXSMICON for the taskbar window's DPI where the system can say
// (GetDpiForWindow and GetSystemMetricsForDpi, found at run time, so that the
// program still starts where they are missing); else for the screen's
// LOGPIXELSX; without GetSystemMetricsForDpi the system's own SM_CXSMICON,
// which such systems give a DPI-aware program at the system's DPI. Brought
// into the range the pixel model paints.
int NotificationIconSize();
