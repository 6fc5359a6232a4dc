// Menu resource of the system-tray tests: numbered like the icon whose
// context menu it is.
#pragma once

#define TEST_MENU_ICON_ID 7
#define TEST_MENU_FIRST_COMMAND 701
#define TEST_MENU_SECOND_COMMAND 702
