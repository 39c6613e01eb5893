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

// Every list above; a new dialog's list is added here.
#define QZ81KT_ALL_CONTROLS(X) \
    QZ81KT_COMMON_CONTROLS(X)  \
    QZ81KT_MAIN_CONTROLS(X)    \
    QZ81KT_ABOUT_CONTROLS(X)

#define QZ81KT_DEFINE_CONTROL_ID(name, value) constexpr int name = value;
QZ81KT_ALL_CONTROLS(QZ81KT_DEFINE_CONTROL_ID)
#undef QZ81KT_DEFINE_CONTROL_ID
