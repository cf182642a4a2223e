// The window layer the system uses, in its Win32 shape: windows and dialogs, messages, resources
// (string table and dialog templates) and common controls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/win32_platform.h"

constexpr WORD LOWORD(std::uintptr_t v) { return static_cast<WORD>(v & 0xFFFF); }
constexpr WORD HIWORD(std::uintptr_t v) { return static_cast<WORD>((v >> 16) & 0xFFFF); }
constexpr WPARAM MAKEWPARAM(WORD lo, WORD hi) { return (static_cast<WPARAM>(hi) << 16) | lo; }
constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
    return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) |
           (static_cast<COLORREF>(b) << 16);
}
// A resource named by number rather than by text.
inline LPCWSTR MAKEINTRESOURCEW(WORD id) {
    return reinterpret_cast<LPCWSTR>(static_cast<std::uintptr_t>(id));
}
inline bool IS_INTRESOURCE(LPCWSTR p) { return reinterpret_cast<std::uintptr_t>(p) <= 0xFFFF; }

// ---- Messages -------------------------------------------------------------------------------
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_SETTEXT = 0x000C;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_NOTIFY = 0x004E;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_USER = 0x0400;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDC_STATIC = -1;
constexpr WORD BN_CLICKED = 0;

// ---- Window styles ----------------------------------------------------------------------------
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD DS_MODALFRAME = 0x0080;
constexpr DWORD DS_SETFONT = 0x0040;
constexpr DWORD DS_CENTER = 0x0800;
constexpr DWORD BS_PUSHBUTTON = 0x0000;
constexpr DWORD BS_DEFPUSHBUTTON = 0x0001;
constexpr DWORD BS_AUTOCHECKBOX = 0x0003;
constexpr DWORD SS_LEFT = 0x0000;
constexpr DWORD SS_CENTER = 0x0001;

constexpr int GWL_STYLE = -16;
constexpr int GWLP_USERDATA = -21;
constexpr int DWLP_MSGRESULT = 0;

constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOW = 5;

// Window class names of the controls in dialog templates.
inline constexpr const wchar_t* WC_STATIC = L"Static";
inline constexpr const wchar_t* WC_BUTTON = L"Button";
inline constexpr const wchar_t* WC_LISTVIEW = L"SysListView32";
inline constexpr const wchar_t* PROGRESS_CLASS = L"msctls_progress32";
inline constexpr const wchar_t* WC_LINK = L"SysLink";

// ---- Dialog resources -------------------------------------------------------------------------
// A module's resources: its string table and its dialog templates (sizes in dialog units).
struct DialogItemResource {
    const wchar_t* className;
    const wchar_t* text;
    int id;
    DWORD style;
    short x, y, cx, cy;
};

struct DialogResource {
    WORD id;
    const wchar_t* caption;  // null: no caption
    const wchar_t* fontName;
    WORD pointSize;
    DWORD style;
    short cx, cy;
    const DialogItemResource* items;
    std::size_t itemCount;
};

struct StringResource {
    UINT id;
    const wchar_t* text;
};

struct ModuleResources {
    const StringResource* strings;
    std::size_t stringCount;
    const DialogResource* dialogs;
    std::size_t dialogCount;
};

// A module publishes its resources under this exported symbol name, as a ModuleResources.
inline constexpr const char* kModuleResourcesSymbol = "ModuleResources";

// Copies string id of the module into buffer (at most bufferMax - 1 characters and a NUL) and
// answers the number of characters copied, 0 when the module has no such string.
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax);

// ---- Windows and dialogs ----------------------------------------------------------------------
HWND CreateDialogParamW(HINSTANCE instance, LPCWSTR templateName, HWND parent, DLGPROC proc,
                        LPARAM initParam);
// Runs a modal dialog and answers the value given to EndDialog, or -1 when it could not be made.
INT_PTR DialogBoxParamW(HINSTANCE instance, LPCWSTR templateName, HWND parent, DLGPROC proc,
                        LPARAM initParam);
BOOL EndDialog(HWND dialog, INT_PTR result);
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND control);
HWND GetParent(HWND window);
BOOL SetWindowTextW(HWND window, LPCWSTR text);
int GetWindowTextW(HWND window, LPWSTR buffer, int bufferMax);
int GetWindowTextLengthW(HWND window);
BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text);
BOOL EnableWindow(HWND window, BOOL enable);
BOOL IsWindowEnabled(HWND window);
BOOL ShowWindow(HWND window, int command);
BOOL IsWindowVisible(HWND window);
BOOL BringWindowToTop(HWND window);
LONG_PTR GetWindowLongPtrW(HWND window, int index);
LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value);
LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

struct POINT {
    LONG x, y;
};
struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
constexpr UINT PM_NOREMOVE = 0;
constexpr UINT PM_REMOVE = 1;
BOOL PeekMessageW(MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT removeMessage);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageW(const MSG* msg);
BOOL IsDialogMessageW(HWND dialog, MSG* msg);

// ---- Common controls --------------------------------------------------------------------------
struct NMHDR {
    HWND hwndFrom;
    UINT_PTR idFrom;
    UINT code;
};

struct INITCOMMONCONTROLSEX {
    DWORD dwSize;
    DWORD dwICC;
};
constexpr DWORD ICC_LINK_CLASS = 0x8000;
BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* init);

// Progress bar.
constexpr DWORD PBS_MARQUEE = 0x08;
constexpr UINT PBM_SETRANGE = WM_USER + 1;
constexpr UINT PBM_SETPOS = WM_USER + 2;
constexpr UINT PBM_GETPOS = WM_USER + 8;
constexpr UINT PBM_SETMARQUEE = WM_USER + 10;
constexpr LPARAM MAKELPARAM(WORD lo, WORD hi) {
    return static_cast<LPARAM>((static_cast<DWORD>(hi) << 16) | lo);
}

// List view (report view with check boxes).
constexpr DWORD LVS_REPORT = 0x0001;
constexpr DWORD LVS_NOCOLUMNHEADER = 0x4000;
constexpr DWORD LVS_EX_CHECKBOXES = 0x0004;
constexpr UINT LVM_FIRST = 0x1000;
constexpr UINT LVM_SETBKCOLOR = LVM_FIRST + 1;
constexpr UINT LVM_GETITEMCOUNT = LVM_FIRST + 4;
constexpr UINT LVM_SETTEXTCOLOR = LVM_FIRST + 36;
constexpr UINT LVM_SETTEXTBKCOLOR = LVM_FIRST + 38;
constexpr UINT LVM_GETITEMSTATE = LVM_FIRST + 44;
constexpr UINT LVM_SETITEMSTATE = LVM_FIRST + 43;
constexpr UINT LVM_SETEXTENDEDLISTVIEWSTYLE = LVM_FIRST + 54;
constexpr UINT LVM_INSERTITEMW = LVM_FIRST + 77;
constexpr UINT LVM_INSERTCOLUMNW = LVM_FIRST + 97;
constexpr UINT LVIF_TEXT = 0x0001;
constexpr UINT LVIF_STATE = 0x0008;
constexpr UINT LVIS_STATEIMAGEMASK = 0xF000;
constexpr UINT LVCF_WIDTH = 0x0002;
constexpr UINT LVCF_TEXT = 0x0004;
constexpr UINT LVCF_SUBITEM = 0x0008;
inline const LPWSTR LPSTR_TEXTCALLBACKW = reinterpret_cast<LPWSTR>(static_cast<std::intptr_t>(-1));
constexpr UINT LVN_FIRST = static_cast<UINT>(-100);
constexpr UINT LVN_ITEMCHANGED = LVN_FIRST - 1;
constexpr UINT LVN_GETDISPINFOW = LVN_FIRST - 77;
constexpr UINT INDEXTOSTATEIMAGEMASK(UINT i) { return i << 12; }

struct LVITEMW {
    UINT mask;
    int iItem;
    int iSubItem;
    UINT state;
    UINT stateMask;
    LPWSTR pszText;
    int cchTextMax;
    int iImage;
    LPARAM lParam;
};
struct LVCOLUMNW {
    UINT mask;
    int fmt;
    int cx;
    LPWSTR pszText;
    int cchTextMax;
    int iSubItem;
};
struct NMLVDISPINFOW {
    NMHDR hdr;
    LVITEMW item;
};
struct NMLISTVIEW {
    NMHDR hdr;
    int iItem;
    int iSubItem;
    UINT uNewState;
    UINT uOldState;
    UINT uChanged;
    POINT ptAction;
    LPARAM lParam;
};

// Custom drawing: a control asks its owner before it paints (NM_CUSTOMDRAW); the owner may set
// the colours of the device context and answer how the control goes on.
struct HDC__;
using HDC = HDC__*;
struct RECT {
    LONG left, top, right, bottom;
};
struct NMCUSTOMDRAW {
    NMHDR hdr;
    DWORD dwDrawStage;
    HDC hdc;
    RECT rc;
    UINT_PTR dwItemSpec;
    UINT uItemState;
    LPARAM lItemlParam;
};
constexpr DWORD CDDS_PREPAINT = 0x1;
constexpr LRESULT CDRF_DODEFAULT = 0x0;
constexpr LRESULT CDRF_NEWFONT = 0x2;
// Sets the text colour of the device context; answers the previous one.
COLORREF SetTextColor(HDC dc, COLORREF colour);

// Link control.
constexpr UINT NM_FIRST = 0;
constexpr UINT NM_CLICK = NM_FIRST - 2;
constexpr UINT NM_RETURN = NM_FIRST - 4;
constexpr UINT NM_CUSTOMDRAW = NM_FIRST - 12;
constexpr UINT LM_SETITEM = WM_USER + 0x302;
constexpr UINT LIF_ITEMINDEX = 0x1;
constexpr UINT LIF_STATE = 0x2;
constexpr UINT LIF_URL = 0x8;
constexpr UINT LIS_ENABLED = 0x2;
constexpr UINT LIS_DEFAULTCOLORS = 0x10;
constexpr int L_MAX_URL_LENGTH = 2048 + 32 + 4;
struct LITEM {
    UINT mask;
    int iLink;
    UINT state;
    UINT stateMask;
    wchar_t szID[48];
    wchar_t szUrl[L_MAX_URL_LENGTH];
};
struct NMLINK {
    NMHDR hdr;
    LITEM item;
};
