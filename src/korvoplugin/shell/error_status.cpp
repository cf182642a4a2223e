#include "shell/error_status.h"

#include "resources/resource.h"
#include "resources/resource_text.h"
#include "support/text_format.h"

namespace Korvo {
namespace {
ErrorStatus gError;
}

const ErrorStatus& CurrentError() { return gError; }

void SetError(int code, bool useContactDialog) { gError = {code, useContactDialog}; }

MSTR ErrorMessage(int code) {
    switch (code) {
        case kErrorNoCameras:
            return ResourceString(IDS_NO_CAMERAS);
        case kErrorVRayRT:
            return ResourceString(IDS_VRAY_RT);
        case kErrorManyHelpers:
            return ResourceString(IDS_MANY_HELPERS);
        case kErrorFolderMissing:
            return ResourceString(IDS_FOLDER_MISSING);
        case kErrorVRayRender:
            return ResourceString(IDS_VRAY_ERROR);
        case 6:
        case 7:
        case 9:
        case 10:
        case 11:
        case 12:
            // The text is formatted into a buffer of 512 characters.
            return Format(ResourceString(IDS_CONTACT_ERROR), static_cast<std::int32_t>(code))
                .substr(0, 511);
        default:
            return ResourceString(IDS_GENERIC_ERROR);
    }
}

}  // namespace Korvo
