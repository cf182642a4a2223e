// What went wrong in a request, and the message the user sees for it.
#pragma once

#include "host/max_types.h"

namespace Korvo {

// Error codes (shown to the user in brackets at the end of the message).
constexpr int kErrorRendererChanged = -1;
constexpr int kErrorNoCameras = 2;
constexpr int kErrorVRayRT = 3;
constexpr int kErrorManyHelpers = 4;
constexpr int kErrorFolderMissing = 5;
constexpr int kErrorWorkFolder = 6;
constexpr int kErrorVRayRender = 8;
constexpr int kErrorFaceRender = 9;
constexpr int kErrorFaceRename = 10;
constexpr int kErrorFaceMissing = 11;
constexpr int kErrorResultMove = 12;

// The last failure of the process: zero at load, never reset.
struct ErrorStatus {
    int code = 0;
    bool useContactDialog = false;  // contact dialog (112) rather than the plain one (118)
};

const ErrorStatus& CurrentError();
void SetError(int code, bool useContactDialog);

// The user's message for a code.
MSTR ErrorMessage(int code);

}  // namespace Korvo
