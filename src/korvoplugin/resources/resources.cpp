// The plug-in's resources: the string table and every dialog template. The host reads them from
// the loaded library through the exported ModuleResources table, as it would read a resource
// section.
#include <iterator>

#include "host/win32_window.h"
#include "resources/resource.h"

namespace Korvo {
namespace {

#define KORVO_WEB_HOST L"https://korvo.app"
#define KORVO_SUPPORT_MAIL L"support@korvo.app"

constexpr StringResource kStrings[] = {
    {IDS_LIB_DESCRIPTION, L"Korvo for 3DS Max BETA"},
    {IDS_CATEGORY, L"Korvo"},
    {IDS_CLASS_NAME, L"Korvo for 3DS Max BETA"},
    {IDS_PARAMETERS, L"Parameters"},
    {IDS_RENDER_POINTS, L"Render points"},
    {IDS_ROLLUP_TITLE, L"Korvo for 3DS Max BETA"},
    {IDS_SELECT_OUTPUT_DIR, L"Select output directory"},
    {IDS_FOLDER_MISSING,
     L"The folder name entered does not exist. Please make a new folder or select an existing one. "
     L"(5)"},
    {IDS_GENERIC_ERROR,
     L"Oops. Looks like something went wrong. Please "
     L"contact " KORVO_SUPPORT_MAIL L" to report this problem."},
    {IDS_INVALID_CAMERA_NAME, L"Invalid camera name: changing %s to %s"},
    {IDS_OUTPUT_FOLDER, L"Filename to output to: %s"},
    {IDS_NO_SCENE_NAME, L"No name found for current scene file"},
    {IDS_WORK_FOLDER_FAILED, L"Unable to create working directory: %s"},
    {IDS_ONE_CAMERA, L"Only one camera found. Skipping camera selection"},
    {IDS_DONE_RENDERING, L"Done rendering"},
    {IDS_STARTING_RENDER, L"Starting render process"},
    {IDS_STITCHING, L"Stitching image"},
    {IDS_FACE_RENAME_FAILED,
     L"Attempted to rename file from %s to %s for stitcher but failed. Return code was %d with "
     L"error code %u."},
    {IDS_FACE_MISSING, L"Failed to find side for stitching: %s"},
    {IDS_STITCH_CAMERA_START, L"Starting stitching of camera: %s"},
    {IDS_CAMERA_COUNT, L"Number of cameras to render: %d"},
    {IDS_NO_CAMERA_PICKED, L"No cameras were selected to be rendered"},
    {IDS_RENDERING_CAMERA, L"Rendering camera: %s"},
    {IDS_RENDERING_SIDE, L"Rendering cube side: %d"},
    {IDS_SIDE_FAILED, L"Failed to render side %d"},
    {IDS_VERSION_LABEL, L"Version: %s"},
    {IDS_VRAY_FAILED, L"Vray rendering has failed"},
    {IDS_STITCH_CAMERA_END, L"Ended stitching of camera: %s"},
    {IDS_DONE_STITCHING, L"Done stitching"},
    {IDS_WANTS_FLOAT, L"Renderer requires a 32-bit FPB"},
    {IDS_VRAY_RT,
     L"VRay RT is not supported. Please update the renderer to VRay Adv and try again. (3)"},
    {IDS_MANY_HELPERS,
     L"There are multiple VRaySterescopic helpers. Please update to ensure there is only 1 helper "
     L"and try again. (4)"},
    {IDS_NO_CAMERAS,
     L"This drawing doesn't have any cameras. You need at least one camera to start rendering. "
     L"(2)"},
    {IDS_CONTACT_URL, KORVO_WEB_HOST L"/contact-us/"},
    {IDS_LOGIN_URL, KORVO_WEB_HOST L"/login-redirect/"},
    {IDS_DUMMY, L"Dummy"},
    {IDS_MOVE_FAILED,
     L"Attempted to move file from %s to %s but failed. Return code was %d with error code %u."},
    {IDS_STITCH_FAILED, L"Failed to write the stitched image %s. Stitcher result was %u."},
    {IDS_PATH_TOO_LONG, L"Path is too long for the stitcher: %s"},
    {IDS_CONTACT_ERROR,
     L"Oops. Looks like something went wrong. Hit the contact button below to tell us what "
     L"happened and we'll do our best to fix it.  (%d)"},
    {IDS_VRAY_ERROR, L"An error occurred with Vray. (8)"},
    {IDS_LEFT_EYE, L"Left Eye"},
    {IDS_STEREO_CLASS_NAME, L"Korvo Stereo"},
    {IDS_RUN_IN_PROGRESS, L"A render is already in progress: the new request was refused"},
    {IDS_ARNOLD_READ_FAILED, L"Failed to read back the rendered panorama %s"},
    {IDS_ARNOLD_WRITE_FAILED, L"Failed to write the reordered panorama %s"},
    {IDS_ARNOLD_PATH_UNUSABLE, L"Path cannot be handed to the image library: %s"},
    {IDS_FACE_DAMAGED, L"A side of camera %s could not be read for stitching: %s was not kept"},
    {IDS_FACE_WRITE_FAILED, L"Failed to write side %d to %s"},
};

constexpr const wchar_t* kCaption = L"Korvo for 3DS Max BETA";
constexpr const wchar_t* kDialogFont = L"MS Shell Dlg";
constexpr DWORD kModalStyle = DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kButton = kChild | WS_TABSTOP | BS_PUSHBUTTON;

constexpr DialogItemResource kPanel[] = {
    {WC_BUTTON, L"Generate", IDC_GENERATE, kButton, 25, 23, 50, 14},
    {WC_STATIC, L"Version", IDC_VERSION, kChild | SS_LEFT, 25, 5, 62, 8},
};

constexpr DialogItemResource kSelectCameras[] = {
    {WC_STATIC, L"Select cameras to generate fixed point renders", IDC_STATIC, kChild | SS_LEFT, 7,
     7, 152, 8},
    {WC_LISTVIEW, L"", IDC_CAMERA_LIST,
     kChild | LVS_REPORT | LVS_NOCOLUMNHEADER | WS_BORDER | WS_TABSTOP, 9, 22, 149, 136},
    {WC_BUTTON, L"OK", IDOK, kChild | WS_TABSTOP | BS_DEFPUSHBUTTON | WS_DISABLED, 56, 165, 50, 14},
    {WC_BUTTON, L"Cancel", IDCANCEL, kButton, 110, 165, 50, 14},
};

constexpr DialogItemResource kProgress[] = {
    {WC_STATIC, L"Render in Progress", IDC_STATIC, kChild | SS_LEFT, 118, 14, 62, 8},
    {PROGRESS_CLASS, L"", IDC_PROGRESS_BAR, kChild | WS_BORDER, 17, 29, 276, 14},
    {WC_BUTTON, L"Cancel", IDC_CANCEL_RENDER, kButton, 255, 48, 50, 14},
};

constexpr DialogItemResource kSavePrompt[] = {
    {WC_STATIC,
     L"Korvo will use the current renderer configured to generate a fixed point render. If you'd "
     L"like to change this, please cancel, update the renderer \n and try again. We recommend that "
     L"you save your file before beginning the render.",
     IDC_STATIC, kChild | SS_LEFT, 7, 7, 732, 22},
    {WC_BUTTON, L"Save", IDC_SAVE, kButton, 291, 37, 50, 14},
    {WC_BUTTON, L"Continue without saving", IDC_CONTINUE, kButton, 354, 37, 101, 14},
};

constexpr DialogItemResource kErrorContact[] = {
    {WC_STATIC,
     L"We're sorry, something went wrong. Please write "
     L"to " KORVO_SUPPORT_MAIL L" and tell us what happened.",
     IDC_ERROR_TEXT, kChild | SS_LEFT, 7, 6, 295, 20},
    {WC_BUTTON, L"Contact Us", IDC_CONTACT_US, kButton, 126, 35, 50, 14},
};

constexpr DialogItemResource kComplete[] = {
    {WC_STATIC, L"Fixed point renders are complete!", IDC_STATIC, kChild | SS_LEFT, 57, 8, 109, 8},
    {WC_LINK, L"<a>Show in Folder</a>", IDC_SHOW_IN_FOLDER, kChild | WS_TABSTOP, 87, 23, 60, 14},
    {WC_STATIC,
     L"Would you like to create a new Virtual Reality Experience on Korvo \n with the render(s) "
     L"you just made?",
     IDC_STATIC, kChild | SS_LEFT, 7, 39, 332, 23},
    {WC_BUTTON, L"Upload to Korvo", IDC_UPLOAD, kButton, 60, 64, 103, 14},
};

constexpr DialogItemResource kErrorPlain[] = {
    {WC_STATIC, L"Error text", IDC_ERROR_TEXT, kChild | SS_LEFT, 15, 11, 286, 33},
    {WC_BUTTON, L"OK", IDOK, kChild | WS_TABSTOP | BS_DEFPUSHBUTTON, 253, 49, 50, 14},
};

constexpr DialogItemResource kStereoParams[] = {
    {WC_BUTTON, L"Left Eye", IDC_LEFT_EYE, kChild | WS_TABSTOP | BS_AUTOCHECKBOX, 8, 8, 39, 10},
};

template <size_t N>
constexpr DialogResource Dialog(WORD id, const wchar_t* caption, const wchar_t* font, WORD points,
                                DWORD style, short cx, short cy,
                                const DialogItemResource (&items)[N]) {
    return {id, caption, font, points, style, cx, cy, items, N};
}

constexpr DWORD kChildPage = DS_SETFONT | WS_CHILD | WS_VISIBLE;

constexpr DialogResource kDialogs[] = {
    Dialog(IDD_PANEL, nullptr, L"MS Sans Serif", 8, kChildPage, 106, 50, kPanel),
    Dialog(IDD_SELECT_CAMERAS, kCaption, kDialogFont, 8, kModalStyle, 173, 189, kSelectCameras),
    Dialog(IDD_PROGRESS, nullptr, kDialogFont, 8, DS_MODALFRAME | DS_SETFONT | WS_POPUP, 312, 74,
           kProgress),
    Dialog(IDD_SAVE_PROMPT, kCaption, kDialogFont, 8, kModalStyle, 479, 66, kSavePrompt),
    Dialog(IDD_ERROR_CONTACT, kCaption, kDialogFont, 8, kModalStyle, 309, 57, kErrorContact),
    Dialog(IDD_COMPLETE, kCaption, kDialogFont, 8, kModalStyle, 225, 92, kComplete),
    Dialog(IDD_ERROR_PLAIN, kCaption, kDialogFont, 8, kModalStyle, 309, 70, kErrorPlain),
    Dialog(IDD_STEREO_PARAMS, nullptr, L"Poppins Light", 10, kChildPage, 153, 27, kStereoParams),
};

}  // namespace
}  // namespace Korvo

// The table the host looks up by name in the loaded library.
extern "C" DLLEXPORT const ModuleResources ModuleResources = {
    Korvo::kStrings, std::size(Korvo::kStrings), Korvo::kDialogs, std::size(Korvo::kDialogs)};
