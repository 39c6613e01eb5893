#pragma once
// Resource and control IDs of every dialog. Each control list is written once here: it
// gives the constants below and, through ui/widgets/ControlId, the lookup by ID. In the
// Designer files a control's objectName is its symbolic name from these lists.
//
// A dialog adds its list and names it in QZ81KT_ALL_CONTROLS. Labels and group boxes
// carry no ID (IDC_STATIC in the original templates).

// Dialog templates, icon, bitmaps, strings and the window-menu command.
#define IDR_MAINFRAME 128          // program icon
#define IDD_UTILQZ81KT_DIALOG 102  // main window
#define IDD_ABOUTBOX 140           // About box
#define IDB_PANEL 135              // front-panel picture, 513 x 189
#define IDB_LEDS 136               // lamp strip, five frames of 21 x 22
#define IDS_ABOUTBOX 101           // "About QZ-81KT DXP(&A)..."
#define IDM_ABOUTBOX 0x0010        // window-menu command of the About entry

// The dialog identifiers every dialog's buttons share.
#define QZ81KT_COMMON_CONTROLS(X) \
    X(IDOK, 1)                    \
    X(IDCANCEL, 2)

// Main window (template 102). The lamps use IDs of their own (1201-1203): the original
// shared 1001-1003 with "Scan" and the identity field, which a lookup by ID cannot.
#define QZ81KT_MAIN_CONTROLS(X)    \
    X(IDC_COMBO_MIDIIN, 1000)      \
    X(IDC_SCAN, 1001)              \
    X(IDC_IDENTITY, 1003)          \
    X(IDC_AUDIO_SRC, 1004)         \
    X(IDC_DIR_SDI_TO_1394, 1005)   \
    X(IDC_DIR_1394_TO_SDI, 1006)   \
    X(IDC_SDI_CH_1_2, 1007)        \
    X(IDC_SDI_CH_3_4, 1008)        \
    X(IDC_SDI_CH_5_6, 1009)        \
    X(IDC_SDI_CH_7_8, 1010)        \
    X(IDC_TIMECODE, 1011)          \
    X(IDC_WRITE_FLASH, 1012)       \
    X(IDC_FACTORY_RESET, 1013)     \
    X(IDC_COMBO_MIDIOUT, 1019)     \
    X(IDC_LOCAL, 1022)             \
    X(IDC_REMOTE, 1023)            \
    X(IDC_UNIT_CAMERA, 1024)       \
    X(IDC_UNIT_RECORDER, 1025)     \
    X(IDC_SYNC_OPERATION, 1026)    \
    X(IDC_FAN, 1027)               \
    X(IDC_SDI_INPUT_REMOTE, 1028)  \
    X(IDC_RATE_5994, 1030)         \
    X(IDC_RATE_50, 1031)           \
    X(IDC_FORMAT_FIX, 1033)        \
    X(IDC_PRESET0, 1082)           \
    X(IDC_PRESET1, 1083)           \
    X(IDC_PRESET2, 1084)           \
    X(IDC_PRESET3, 1085)           \
    X(IDC_PRESET4, 1086)           \
    X(IDC_PRESET5, 1087)           \
    X(IDC_PRESET6, 1088)           \
    X(IDC_PRESET7, 1090)           \
    X(IDC_VIDEO_FORMAT, 1091)      \
    X(IDC_POWER_STATUS, 1092)      \
    X(IDC_EDIT_PRESET, 1097)       \
    X(IDC_FOR_SERVICE, 1098)       \
    X(IDC_1394_FORMAT, 1099)       \
    X(IDC_TC, 1102)                \
    X(IDC_MODE_SW6, 1118)          \
    X(IDC_PANEL_PICTURE, 1200)     \
    X(IDC_LED1, 1201)              \
    X(IDC_LED2, 1202)              \
    X(IDC_LINK_LED, 1203)

// About box (template 140).
#define QZ81KT_ABOUT_CONTROLS(X) X(IDC_ABOUT_VERSION, 1124)

// ---- Preset editor "Preset Parameter" (template 131) ----
#define IDD_PRESET_DIALOG 131
#define QZ81KT_PRESET_CONTROLS(X)      \
    X(IDC_APPLY, 3)                    \
    X(IDC_PRESET_PMT, 1068)            \
    X(IDC_PRESET_PCR, 1069)            \
    X(IDC_PRESET_VIDEO_PID, 1070)      \
    X(IDC_PRESET_AUDIO_PID, 1071)      \
    X(IDC_PRESET_PROGRAM_TX, 1072)     \
    X(IDC_PRESET_PROGRAM_RX, 1073)     \
    X(IDC_PRESET_CODEC, 1074)          \
    X(IDC_PRESET_RX_TYPE, 1075)        \
    X(IDC_PRESET_HSIZE, 1076)          \
    X(IDC_PRESET_GOP, 1077)            \
    X(IDC_PRESET_BPICT, 1078)          \
    X(IDC_PRESET_CLOSED_GOP, 1079)     \
    X(IDC_PRESET_AUDIO_RATE, 1080)     \
    X(IDC_PRESET_LPF, 1082)            \
    X(IDC_PRESET_HD, 1102)             \
    X(IDC_PRESET_SD, 1104)             \
    X(IDC_PRESET_TAB, 1119)

// ---- Timecode dialog "Timecode" (template 137); its Apply button is IDC_APPLY (3) too ----
#define IDD_TC_DIALOG 137
#define QZ81KT_TC_CONTROLS(X)          \
    X(IDC_TC_S6, 1036)                 \
    X(IDC_TC_S5, 1037)                 \
    X(IDC_TC_S4, 1038)                 \
    X(IDC_TC_S3, 1039)                 \
    X(IDC_TC_S2, 1040)                 \
    X(IDC_TC_S1, 1041)                 \
    X(IDC_TC_INPUT_TYPE, 1054)         \
    X(IDC_TC_GENERATE, 1055)           \
    X(IDC_TC_USERBIT_GENERATE, 1056)   \
    X(IDC_TC_DROP_FRAME, 1057)         \
    X(IDC_TC_DVITC1_GENERATE, 1058)    \
    X(IDC_TC_DVITC2_GENERATE, 1059)    \
    X(IDC_TC_DVITC1_480, 1060)         \
    X(IDC_TC_DVITC1_576, 1061)         \
    X(IDC_TC_DVITC2_480, 1064)         \
    X(IDC_TC_DVITC2_576, 1065)         \
    X(IDC_TC_PRESET_HOUR, 1101)        \
    X(IDC_TC_PRESET_MIN, 1102)         \
    X(IDC_TC_PRESET_SEC, 1103)         \
    X(IDC_TC_PRESET_FRAME, 1104)       \
    X(IDC_TC_BG8, 1105)                \
    X(IDC_TC_BG7, 1106)                \
    X(IDC_TC_BG6, 1107)                \
    X(IDC_TC_BG5, 1108)                \
    X(IDC_TC_BG4, 1109)                \
    X(IDC_TC_BG3, 1110)                \
    X(IDC_TC_BG2, 1111)                \
    X(IDC_TC_BG1, 1112)                \
    X(IDC_TC_OFFSET_HOUR, 1113)        \
    X(IDC_TC_OFFSET_MIN, 1114)         \
    X(IDC_TC_OFFSET_SEC, 1115)         \
    X(IDC_TC_OFFSET_FRAME, 1116)

// ---- Service dialog "Service" (template 139); "Go" is IDOK (1), "Exit" IDCANCEL (2) ----
#define IDD_SERVICE_DIALOG 139
#define QZ81KT_SERVICE_CONTROLS(X)     \
    X(IDC_SERVICE_PRODUCT_ID, 1103)    \
    X(IDC_SERVICE_NEW_ID, 1104)        \
    X(IDC_SERVICE_WRITE, 1105)         \
    X(IDC_SERVICE_CHECK_MODE, 1110)    \
    X(IDC_SERVICE_TEST_FAN, 1111)      \
    X(IDC_SERVICE_TEST_POWER, 1112)    \
    X(IDC_SERVICE_TEST_LED1, 1113)     \
    X(IDC_SERVICE_TEST_LED2, 1114)     \
    X(IDC_SERVICE_TEST_LED3, 1115)     \
    X(IDC_SERVICE_TEST_LED4, 1116)     \
    X(IDC_SERVICE_MODE_SWITCHES, 1117) \
    X(IDC_SERVICE_IMPORT, 1121)        \
    X(IDC_SERVICE_EXPORT, 1122)
// The MIDI Monitor window (ours, no template): numbers clear of the dialogs' ranges.
#define QZ81KT_MONITOR_CONTROLS(X)     \
    X(IDC_MON_TABLE, 1301)             \
    X(IDC_MON_HIDE_POLLS, 1302)        \
    X(IDC_MON_SYSEX_ONLY, 1303)        \
    X(IDC_MON_SHOW_IN, 1304)           \
    X(IDC_MON_SHOW_OUT, 1305)          \
    X(IDC_MON_PAUSE, 1306)             \
    X(IDC_MON_CLEAR, 1307)             \
    X(IDC_MON_COPY, 1308)              \
    X(IDC_MON_SAVE_TEXT, 1309)         \
    X(IDC_MON_SAVE_SYX, 1310)          \
    X(IDC_MON_COUNTERS, 1311)

// Every list above; a new dialog's list is added here.
#define QZ81KT_ALL_CONTROLS(X) \
    QZ81KT_COMMON_CONTROLS(X)  \
    QZ81KT_MAIN_CONTROLS(X)    \
    QZ81KT_ABOUT_CONTROLS(X)   \
    QZ81KT_PRESET_CONTROLS(X)  \
    QZ81KT_TC_CONTROLS(X)      \
    QZ81KT_SERVICE_CONTROLS(X) \
    QZ81KT_MONITOR_CONTROLS(X)

#define QZ81KT_DEFINE_CONTROL_ID(name, value) constexpr int name = value;
QZ81KT_ALL_CONTROLS(QZ81KT_DEFINE_CONTROL_ID)
#undef QZ81KT_DEFINE_CONTROL_ID
