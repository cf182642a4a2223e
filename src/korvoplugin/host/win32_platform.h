// The operating-system services the system uses, in their Win32 shape: the basic handle and
// value types, registry, modules, COM, shell, files, text conversion and errors. The window
// layer is in win32_window.h. The standalone host implements both on Linux.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/max_types.h"

struct HWND__;
struct HINSTANCE__;
struct HKEY__;
using HWND = HWND__*;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
using HKEY = HKEY__*;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using INT_PTR = std::intptr_t;
using LONG_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using HRESULT = std::int32_t;
using LSTATUS = LONG;
using COLORREF = DWORD;
using LPCWSTR = const wchar_t*;
using LPWSTR = wchar_t*;
using FARPROC = void (*)();

#define CALLBACK
#define WINAPI

using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);

// ---- Registry ---------------------------------------------------------------------------------
inline HKEY const HKEY_LOCAL_MACHINE =
    reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002));
constexpr DWORD KEY_READ = 0x20019;
constexpr DWORD REG_SZ = 1;
LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, DWORD access, HKEY* result);
// Copies the value's data into data (at most *dataSize bytes) and sets *dataSize to the size of
// the value. A value larger than the buffer answers ERROR_MORE_DATA.
LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD* reserved, DWORD* type, BYTE* data,
                         DWORD* dataSize);
LSTATUS RegCloseKey(HKEY key);

// ---- Modules ----------------------------------------------------------------------------------
constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;
// Loads a module and runs its entry point (DllMain) for process attach.
HMODULE LoadLibraryW(LPCWSTR fileName);
FARPROC GetProcAddress(HMODULE module, const char* name);
BOOL FreeLibrary(HMODULE module);
// The handle of a module already loaded; null names the program itself.
HMODULE GetModuleHandleW(LPCWSTR moduleName);
// Full path of the module's file; answers the number of characters copied (0 on failure).
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
BOOL DisableThreadLibraryCalls(HMODULE module);

// ---- COM --------------------------------------------------------------------------------------
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
HRESULT CoInitializeEx(void* reserved, DWORD coInit);
void CoUninitialize();

// ---- Shell ------------------------------------------------------------------------------------
// Opens a document, folder or web address with its associated program.
HINSTANCE ShellExecuteW(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters,
                        LPCWSTR directory, int showCommand);

// The shell's folder browser. An item list names a folder of the shell's name space; the caller
// frees the one SHBrowseForFolderW answers with CoTaskMemFree.
struct ITEMIDLIST;
using PIDLIST_ABSOLUTE = ITEMIDLIST*;
using PCIDLIST_ABSOLUTE = const ITEMIDLIST*;
using BFFCALLBACK = int (*)(HWND browser, UINT message, LPARAM lParam, LPARAM data);
constexpr UINT BIF_RETURNONLYFSDIRS = 0x0001;
constexpr UINT BIF_EDITBOX = 0x0010;
constexpr UINT BIF_VALIDATE = 0x0020;
constexpr UINT BIF_NEWDIALOGSTYLE = 0x0040;
// Notifications to the callback: the browser is ready; a typed name is not an existing folder
// (lParam: the name; answer nonzero to keep the browser open).
constexpr UINT BFFM_INITIALIZED = 1;
constexpr UINT BFFM_VALIDATEFAILEDW = 4;
// Selects a folder in the browser (wParam TRUE: lParam is its path).
constexpr UINT BFFM_SETSELECTIONW = 0x0400 + 103;
struct BROWSEINFOW {
    HWND hwndOwner;
    PCIDLIST_ABSOLUTE pidlRoot;
    LPWSTR pszDisplayName;  // at least MAX_PATH characters, or null
    LPCWSTR lpszTitle;
    UINT ulFlags;
    BFFCALLBACK lpfn;
    LPARAM lParam;  // handed to the callback
    int iImage;
};
constexpr int MAX_PATH = 260;
// Runs the browser; answers the chosen folder, or null when the user cancelled.
PIDLIST_ABSOLUTE SHBrowseForFolderW(BROWSEINFOW* info);
// Copies the folder's file-system path into path (MAX_PATH characters).
BOOL SHGetPathFromIDListW(PCIDLIST_ABSOLUTE item, LPWSTR path);
void CoTaskMemFree(void* memory);

// ---- Files ------------------------------------------------------------------------------------
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
DWORD GetFileAttributesW(LPCWSTR path);
BOOL DeleteFileW(LPCWSTR path);
BOOL CreateDirectoryW(LPCWSTR path, void* securityAttributes);
BOOL RemoveDirectoryW(LPCWSTR path);

// Without MOVEFILE_REPLACE_EXISTING the move never replaces a file: it fails with
// ERROR_ALREADY_EXISTS, atomically, even when the destination appears meanwhile. With
// MOVEFILE_COPY_ALLOWED a move to another file system copies the data, makes it durable and only
// then removes the source.
constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
constexpr DWORD MOVEFILE_COPY_ALLOWED = 0x2;
constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x8;
BOOL MoveFileExW(LPCWSTR source, LPCWSTR destination, DWORD flags);

// Shell file operation: deletes the files and folders of a list of paths, each ended by a NUL,
// the list ended by a second NUL.
constexpr UINT FO_DELETE = 3;
constexpr WORD FOF_SILENT = 0x0004;
constexpr WORD FOF_NOCONFIRMATION = 0x0010;
constexpr WORD FOF_NOERRORUI = 0x0400;
struct SHFILEOPSTRUCTW {
    HWND hwnd;
    UINT wFunc;
    LPCWSTR pFrom;
    LPCWSTR pTo;
    WORD fFlags;
    BOOL fAnyOperationsAborted;
    void* hNameMappings;
    LPCWSTR lpszProgressTitle;
};
int SHFileOperationW(SHFILEOPSTRUCTW* operation);

// ---- Text -------------------------------------------------------------------------------------
// The system's multibyte code page.
constexpr UINT CP_ACP = 0;
// Converts wideLength characters (-1: up to and including the NUL) into the code page. With
// outputSize 0 answers the bytes needed; answers 0 and ERROR_INSUFFICIENT_BUFFER when the output
// does not fit.
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength, char* output,
                        int outputSize, const char* defaultChar, BOOL* usedDefault);

// ---- Errors -----------------------------------------------------------------------------------
constexpr LSTATUS ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_NOT_SAME_DEVICE = 17;
constexpr DWORD ERROR_WRITE_FAULT = 29;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_HANDLE_DISK_FULL = 39;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_DIR_NOT_EMPTY = 145;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
DWORD GetLastError();
void SetLastError(DWORD code);

// ---- Exports ----------------------------------------------------------------------------------
// Marks a function that a module exports by name.
#define DLLEXPORT __attribute__((visibility("default")))
