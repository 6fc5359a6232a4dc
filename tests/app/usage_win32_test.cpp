#include "app/usage_win32.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "app/display_settings.h"

namespace {

// Reads the box the user would see, then presses its OK button.
struct UsageBoxReader {
  std::atomic<bool> found{false};
  std::string caption;
  std::string text;
  int buttons = 0;
  std::string buttonText;

  static BOOL CALLBACK CountChild(HWND child, LPARAM self) {
    auto* reader = reinterpret_cast<UsageBoxReader*>(self);
    char className[32] = {};
    GetClassNameA(child, className, sizeof className);
    if (lstrcmpiA(className, "Button") == 0) {
      ++reader->buttons;
      char label[32] = {};
      GetWindowTextA(child, label, sizeof label);
      reader->buttonText = label;
    }
    return TRUE;
  }

  void Run() {
    for (int attempt = 0; attempt < 200 && !found; ++attempt) {
      HWND box = FindWindowA("#32770", "Usage");
      if (box == nullptr) {
        Sleep(25);
        continue;
      }
      char buffer[512] = {};
      GetWindowTextA(box, buffer, sizeof buffer);
      caption = buffer;
      GetDlgItemTextA(box, 0xFFFF, buffer, sizeof buffer);  // the message text
      text = buffer;
      EnumChildWindows(box, &CountChild, reinterpret_cast<LPARAM>(this));
      found = true;
      PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
  }
};

TEST(ShowUsage, ShowsTheUsageTextWithOneOkButton) {
  UsageBoxReader reader;
  std::thread closer(&UsageBoxReader::Run, &reader);
  const int result = ShowUsage();
  closer.join();
  ASSERT_TRUE(reader.found) << "no box captioned \"Usage\" appeared";
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(reader.caption, "Usage");
  EXPECT_EQ(reader.text, USAGE_TEXT);
  EXPECT_EQ(reader.buttons, 1);
  EXPECT_EQ(reader.buttonText, "OK");
}

}  // namespace
