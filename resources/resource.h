#pragma once

// Identifiers of the program's dialog templates, controls, strings, icons and commands.

// Dialog templates
#define IDD_ABOUTBOX 100
#define IDD_TOLLIVEX_DIALOG 102
#define IDD_WAIT_DIALOG 104
#define IDD_LOGIN_DIALOG 105
#define IDD_MOVIE_DIALOG 130
#define IDD_PICKS_DIALOG 132
#define IDD_RATINGS_DIALOG 133

// Strings
#define IDS_ABOUTBOX 101

// Icons
#define IDI_PROGRAM_ICON 128
#define IDR_MAINFRAME 129

// Menu bars
#define IDR_MAIN_MENU 131

// System-menu command of the About entry
#define IDM_ABOUTBOX 0x0010

// Commands of the main window's menu bar
#define ID_MOVIES_TOP_PICKS 32771
#define ID_MOVIES_MORE_LIKE_THIS 32772
#define ID_MOVIES_YOUR_RATINGS 32773
#define ID_HELP_ABOUT 32774

// Standard commands
#define IDOK 1
#define IDCANCEL 2
#define IDC_STATIC (-1)
#define ID_HELP 0xE146

// Main window controls
#define IDC_MOVIE_ID 1000
#define IDC_GET_RATING 1001
#define IDC_RESULTS 1002
#define IDC_GET_INFO 1004
#define IDC_REFRESH 1005
#define IDC_PREDICT 1006
#define IDC_LOGIN 1007
#define IDC_RATE 1008
#define IDC_CURRENT_USER 1012
#define IDC_USER_ID 1013
#define IDC_RATING 1014
#define IDC_MOVIE_LIST 1016
#define IDC_SEARCH_TEXT 1017
#define IDC_SEARCH 1018
#define IDC_EXACT_PREDICTIONS 1021

// Start-up notice
#define IDC_WAIT_TEXT 1008

// Login dialog
#define IDC_LOGIN_USER_NAME 1009
#define IDC_LOGIN_PASSWORD 1010
#define IDC_LOGIN_NEW_USER 1011

// Movie details dialog
#define IDC_DETAIL_NAME 1020
#define IDC_DETAIL_DATE 1021
#define IDC_DETAIL_URL 1022

// Top picks, More like this and Your ratings: a list of movies with columns, one line of text above it, a status line
// below it, the rating buttons and the not-interested button
#define IDC_CHOICE_LIST 1023
#define IDC_CHOICE_NOTE 1024
#define IDC_CHOICE_STATUS 1025
#define IDC_RATE_1 1026
#define IDC_RATE_2 1027
#define IDC_RATE_3 1028
#define IDC_RATE_4 1029
#define IDC_RATE_5 1030
#define IDC_NOT_INTERESTED 1031
