// Numbers shared by the resource script and the code: menus, commands, icons, timers, messages.
// Kept free of C++ so that windres can include it.
#pragma once

// Menu resources of the soft-key menu bars.
#define IDR_MENU_CONFIGURATION 4
#define IDR_MENU_LOGIN 140
#define IDR_MENU_ME 141
#define IDR_MENU_STATE 143
#define IDR_MENU_GROUPS 144
#define IDR_MENU_GROUP_LIST 145
#define IDR_MENU_PLACE 146
#define IDR_MENU_ME_SIMPLE 147

// Menu commands.
#define IDM_EXIT 32772
#define IDM_CHANGE_STATUS 32779
#define IDM_NAME_MY_PLACE 32780
#define IDM_MINIMIZE 32781
#define IDM_BACK 32789
#define IDM_CHOOSE_GROUP 32795
#define IDM_SAVE_CONFIGURATION 32798
#define IDM_SAVE_PLACE 32802

// Icons: the program and its window classes, then the four visibility states.
#define IDI_PELMORA 101
#define IDI_STATE_VISIBLE 133
#define IDI_STATE_VISIBLE_TO_GROUPS 135
#define IDI_STATE_INVISIBLE 137
#define IDI_STATE_SWITCHED_OFF 139

// Timers of the main window.
#define TIMER_REPORT 200
#define TIMER_STATUS_MESSAGE 202
#define TIMER_PRIVATE_HOURS 203

// Private window messages.
#define WM_PELMORA_SCROLL_TO_ROW (WM_USER + 2)
#define WM_PELMORA_RENEW_LOGIN (WM_USER + 3)
// Sent by ShowPane to the pane on screen before it goes.
#define WM_PELMORA_PANE_LEAVING (WM_USER + 4)

// Login window controls. The e-mail field and both static texts share id 0.
#define IDC_LOGIN_EMAIL 0
#define IDC_LOGIN_PASSWORD 1
#define IDC_LOGIN_AUTO 2
#define IDC_LOGIN_BUTTON 3
#define IDC_LOGIN_PROGRESS 4

// The Me tab's place line.
#define IDC_PLACE_LINE 0

// Place editor controls.
#define IDC_PLACE_TITLE 0
#define IDC_PLACE_STREET 1
#define IDC_PLACE_TAGS 2
#define IDC_PLACE_AUDIENCE 3
#define IDC_PLACE_DELETE 4
#define IDC_PLACE_HOUSE 10
#define IDC_PLACE_BUILDING 11

// Configuration tab controls.
#define IDC_CONFIG_REFRESH 0
#define IDC_CONFIG_QUIT 1
#define IDC_CONFIG_RATE_OPTIMAL 2
#define IDC_CONFIG_RATE_CELL_CHANGE 3
#define IDC_CONFIG_PRIVATE_TIME 4
#define IDC_CONFIG_AUTO_LOGIN 5
#define IDC_CONFIG_AUTO_RUN 6
#define IDC_CONFIG_NAME 7
