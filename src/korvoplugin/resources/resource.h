// Identifiers of the plug-in's resources: dialogs, controls and string-table entries.
#pragma once

namespace Korvo {

// Dialogs.
constexpr int IDD_PANEL = 101;
constexpr int IDD_SELECT_CAMERAS = 102;
constexpr int IDD_PROGRESS = 107;
constexpr int IDD_SAVE_PROMPT = 110;
constexpr int IDD_ERROR_CONTACT = 112;
constexpr int IDD_COMPLETE = 114;
constexpr int IDD_ERROR_PLAIN = 118;
constexpr int IDD_STEREO_PARAMS = 119;

// Controls.
constexpr int IDC_GENERATE = 1001;
constexpr int IDC_LEFT_EYE = 1001;
constexpr int IDC_CAMERA_LIST = 1024;
constexpr int IDC_CANCEL_RENDER = 1025;
constexpr int IDC_SAVE = 1028;
constexpr int IDC_CONTACT_US = 1028;
constexpr int IDC_UPLOAD = 1028;
constexpr int IDC_CONTINUE = 1029;
constexpr int IDC_PROGRESS_BAR = 1029;
constexpr int IDC_VERSION = 1031;
constexpr int IDC_SHOW_IN_FOLDER = 1033;
constexpr int IDC_ERROR_TEXT = 1038;

// String table.
constexpr int IDS_LIB_DESCRIPTION = 1;
constexpr int IDS_CATEGORY = 2;
constexpr int IDS_CLASS_NAME = 3;
constexpr int IDS_PARAMETERS = 4;
constexpr int IDS_RENDER_POINTS = 10;
constexpr int IDS_ROLLUP_TITLE = 11;
constexpr int IDS_SELECT_OUTPUT_DIR = 12;
constexpr int IDS_FOLDER_MISSING = 13;
constexpr int IDS_GENERIC_ERROR = 19;
constexpr int IDS_INVALID_CAMERA_NAME = 20;
constexpr int IDS_OUTPUT_FOLDER = 21;
constexpr int IDS_NO_SCENE_NAME = 22;
constexpr int IDS_WORK_FOLDER_FAILED = 23;
constexpr int IDS_ONE_CAMERA = 25;
constexpr int IDS_DONE_RENDERING = 26;
constexpr int IDS_STARTING_RENDER = 27;
constexpr int IDS_STITCHING = 28;
constexpr int IDS_FACE_RENAME_FAILED = 30;
constexpr int IDS_FACE_MISSING = 31;
constexpr int IDS_STITCH_CAMERA_START = 32;
constexpr int IDS_CAMERA_COUNT = 34;
constexpr int IDS_NO_CAMERA_PICKED = 35;
constexpr int IDS_RENDERING_CAMERA = 36;
constexpr int IDS_RENDERING_SIDE = 37;
constexpr int IDS_SIDE_FAILED = 38;
constexpr int IDS_VERSION_LABEL = 39;
constexpr int IDS_VRAY_FAILED = 40;
constexpr int IDS_STITCH_CAMERA_END = 48;
constexpr int IDS_DONE_STITCHING = 49;
constexpr int IDS_WANTS_FLOAT = 50;
constexpr int IDS_VRAY_RT = 51;
constexpr int IDS_MANY_HELPERS = 52;
constexpr int IDS_NO_CAMERAS = 53;
constexpr int IDS_CONTACT_URL = 54;
constexpr int IDS_LOGIN_URL = 55;
constexpr int IDS_DUMMY = 57;
constexpr int IDS_MOVE_FAILED = 61;
constexpr int IDS_STITCH_FAILED = 62;
constexpr int IDS_PATH_TOO_LONG = 63;
constexpr int IDS_CONTACT_ERROR = 65;
constexpr int IDS_VRAY_ERROR = 66;
constexpr int IDS_LEFT_EYE = 67;
constexpr int IDS_STEREO_CLASS_NAME = 68;
constexpr int IDS_RUN_IN_PROGRESS = 69;
constexpr int IDS_ARNOLD_READ_FAILED = 70;
constexpr int IDS_ARNOLD_WRITE_FAILED = 71;
constexpr int IDS_ARNOLD_PATH_UNUSABLE = 72;
constexpr int IDS_FACE_DAMAGED = 73;
constexpr int IDS_FACE_WRITE_FAILED = 74;

}  // namespace Korvo
