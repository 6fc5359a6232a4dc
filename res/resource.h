// Numbers of gleamo's resources and their controls. Plain #defines, read by
// both the resource compiler and the C++ code.
#pragma once

#define IDI_APPLICATION_ICON 1

#define IDR_TRAY_MENU 5000
#define ID_END_PROGRAM 5020
#define ID_HELP 5030
#define ID_MEET_AUTHOR 5050

#define IDD_SERVER_MESSAGE 9000
#define IDC_MESSAGE_EDIT 9200
#define IDC_MESSAGE_GROUP 9201
