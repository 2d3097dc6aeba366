// Resource identifiers of Sonavire.dll, shared by the resource script and the C++ code.
// Plain #defines: the resource compiler reads this file too.
#pragma once

// Bitmaps: the logo, and the strip of four button faces (normal, hover, pressed or active,
// disabled) that the action bar cuts into equal cells.
#define IDB_LOGO 100
#define IDB_BUTTON_FACES 103

// The plug-in's menu: one pop-up whose items are commands.
#define IDR_PLUGIN_MENU 100

// Commands, wherever they come from (action bar, menu, WM_COMMAND). 108 is no command.
#define CMD_FIRST 101
#define CMD_SIGN_IN 101
#define CMD_SCROLL_LYRICS 102
#define CMD_LYRICS_SEARCH 103
#define CMD_TOP_50 104
#define CMD_TELL_A_FRIEND 105
#define CMD_SEND_WISH 106
#define CMD_EDIT_LYRICS 107
#define CMD_NONE 108
#define CMD_RESYNC 109
#define CMD_OPTIONS 110
#define CMD_HELP 111
#define CMD_HOME 112
#define CMD_ABOUT 113
#define CMD_TRANSLATE 114
#define CMD_VIDEO_THEATER 115
#define CMD_MUSIC_NEAR_YOU 116
#define CMD_MUSIC_MAP 117
#define CMD_CONTACT_US 118
#define CMD_LYRICS_EARLIER 119
#define CMD_LYRICS_LATER 120
#define CMD_RESET_TIMING 121
#define CMD_SAVE_AS_LRC 122
#define CMD_LAST 122

// The notice shown when the player is older than version 11.
#define IDD_VERSION_NOTICE 102
#define IDC_VERSION_NOTICE_CANCEL 106
#define IDC_VERSION_NOTICE_TEXT 107
#define IDC_VERSION_NOTICE_UPGRADE 109

// The sign-in dialog.
#define IDD_SIGN_IN 104
#define IDC_SIGN_IN_USER 100
#define IDC_SIGN_IN_PASSWORD 102
#define IDC_SIGN_IN_USER_LABEL 103
#define IDC_SIGN_IN_PASSWORD_LABEL 104
#define IDC_SIGN_IN_BUTTON 105
#define IDC_SIGN_IN_CANCEL 106
#define IDC_SIGN_IN_MESSAGE 107

// Names and the installer's text.
#define IDS_PLUGIN_NAME 100
#define IDS_PLUGIN_DESCRIPTION 101
#define IDS_CLOSE_PLAYER_NOTICE 102

// Status texts and messages.
#define IDS_STATUS_NONE 200
#define IDS_STATUS_CLICK_TO_ADVANCE 201
#define IDS_SIGN_OUT_QUESTION 204
#define IDS_STATUS_MISSING_ARTIST_OR_TITLE 205
#define IDS_STATUS_NOT_FOUND 206
#define IDS_STATUS_TIMING_FINAL 207
#define IDS_SIGN_IN_SERVERS_UNAVAILABLE 208
#define IDS_SIGN_IN_REFUSED 209
#define IDS_SIGNED_IN 211
#define IDS_STATUS_LOADING 212
#define IDS_STATUS_SAVING 213
#define IDS_STATUS_TRANSLATING 214
#define IDS_SIGNING_IN 215
#define IDS_TIMING_EARLIER 216
#define IDS_TIMING_LATER 217
#define IDS_TIMING_RESET 218
// Where shown lyrics came from when not the service; 220 takes the file name for "%1".
#define IDS_STATUS_FROM_FILE 220
#define IDS_STATUS_FROM_TAGS 221
#define IDS_LRC_SAVED 222
#define IDS_LRC_SAVE_FAILED 223
#define IDS_LRC_FILE_FILTER 224

// Community-site pages: full addresses with the compiled-in community host.
#define IDS_PAGE_HOME 300
#define IDS_PAGE_LYRICS_SEARCH 301
#define IDS_PAGE_TOP_50 302
#define IDS_PAGE_HELP 303
#define IDS_PAGE_OPTIONS 305
#define IDS_PAGE_ABOUT 306
#define IDS_PAGE_MUSIC_NEAR_YOU 309
#define IDS_PAGE_MUSIC_MAP 310
#define IDS_PAGE_VIDEO_THEATER 311
#define IDS_PAGE_SEND_WISH 312
#define IDS_PAGE_TELL_A_FRIEND 313
#define IDS_PAGE_CONTACT_US 314

// Command labels.
#define IDS_LABEL_SIGN_IN 400
#define IDS_LABEL_SIGN_OUT 401
#define IDS_LABEL_SCROLL_LYRICS 402
#define IDS_LABEL_CANCEL_SCROLL 403
#define IDS_LABEL_LYRICS_SEARCH 404
#define IDS_LABEL_TOP_50 405
#define IDS_LABEL_TELL_A_FRIEND 406
#define IDS_LABEL_SEND_WISH 407
#define IDS_LABEL_HOME 408
#define IDS_LABEL_EDIT_LYRICS 409
#define IDS_LABEL_RESYNC 412
#define IDS_LABEL_CANCEL_SYNC 413
#define IDS_LABEL_OPTIONS 414
#define IDS_LABEL_HELP 415
#define IDS_LABEL_ABOUT 416
#define IDS_LABEL_TRANSLATE 420
#define IDS_LABEL_VIDEO_THEATER 421
#define IDS_LABEL_MUSIC_NEAR_YOU 422
#define IDS_LABEL_MUSIC_MAP 423
#define IDS_LABEL_CONTACT_US 424
#define IDS_LABEL_SAVE_AS_LRC 425

// Dialog buttons.
#define IDS_BUTTON_CANCEL 450
#define IDS_BUTTON_SIGN_IN 451

// Connection errors; the codes double as these ids.
#define IDS_CONNECTION_ERROR 500
#define IDS_NO_CONNECTION_LOGIN_FAILURE 501
#define IDS_NO_CONNECTION_CANNOT_CONNECT 504
#define IDS_NO_CONNECTION_OTHER 505
