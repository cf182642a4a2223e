#include "support/korvo_core.h"

#include "korvo_plugin.h"
#include "render/face_geometry.h"
#include "render/vray_backend.h"
#include "resources/resource.h"
#include "shell/cube_loop.h"
#include "shell/workflow.h"
#include "support/file_utils.h"
#include "support/settings.h"

namespace Korvo {
namespace {

// Built while the module loads: the description registers the interface with the host.
// clang-format off
KorvoCoreImp theKorvoCore(kKorvoCoreInterfaceID, L"korvo", IDS_DUMMY, nullptr, FP_CORE,
    kGetCams, L"get_cams", IDS_DUMMY, TYPE_VOID, 0, 0,
    kFixCam, L"fix_cam", IDS_DUMMY, TYPE_VOID, 0, 1,
        L"cam", IDS_DUMMY, TYPE_INODE,
    kValidateWorkflow, L"validate_worfklow", IDS_DUMMY, TYPE_BOOL, 0, 1,
        L"suppress_messages", IDS_DUMMY, TYPE_BOOL,
    kTransformCam, L"tranform_cam", IDS_DUMMY, TYPE_VOID, 0, 4,
        L"cam", IDS_DUMMY, TYPE_INODE,
        L"side", IDS_DUMMY, TYPE_INT,
        L"old_mat", IDS_DUMMY, TYPE_MATRIX3,
        L"old_targ_mat", IDS_DUMMY, TYPE_MATRIX3,
    kUndoTrans, L"undo_trans", IDS_DUMMY, TYPE_VOID, 0, 3,
        L"cam", IDS_DUMMY, TYPE_INODE,
        L"mat", IDS_DUMMY, TYPE_MATRIX3,
        L"target_mat", IDS_DUMMY, TYPE_MATRIX3,
    kProjectCam, L"project_cam", IDS_DUMMY, TYPE_VOID, 0, 1,
        L"cam", IDS_DUMMY, TYPE_INODE,
    kGenerate, L"generate", IDS_DUMMY, TYPE_VOID, 0, 0,
    kNumHelpers, L"num_helpers", IDS_DUMMY, TYPE_INT, 0, 0,
    kCreateHelper, L"create_helper", IDS_DUMMY, TYPE_INTERFACE, 0, 0,
    kVersion, L"version", IDS_DUMMY, TYPE_TSTR_BV, 0, 0,
    p_end);
// clang-format on

}  // namespace

KorvoCoreImp::KorvoCoreImp(Interface_ID id, const MCHAR* name, StringResID description,
                           ClassDesc* cd, ULONG flags, ...) {
    va_list ap;
    va_start(ap, flags);
    load_descriptor(id, name, description, cd, flags, ap);
    va_end(ap);
}

IKorvoCore& GetKorvoCore() { return theKorvoCore; }

void KorvoCoreImp::get_cams() { ::Korvo::get_cams(GetKorvoPlugin()); }
void KorvoCoreImp::fix_cam(INode* cam) { ::Korvo::fix_cam(GetKorvoPlugin(), cam); }

bool KorvoCoreImp::validate_worfklow(bool suppress_messages) {
    return ::Korvo::validate_worfklow(GetKorvoPlugin(), suppress_messages);
}

void KorvoCoreImp::tranform_cam(INode* cam, int side, Matrix3* old_mat, Matrix3* old_targ_mat) {
    TransformCameraToFace(cam, side, *old_mat, *old_targ_mat);
}

void KorvoCoreImp::undo_trans(INode* cam, Matrix3* mat, Matrix3* target_mat) {
    UndoCameraTransform(cam, *mat, *target_mat);
}

void KorvoCoreImp::project_cam(INode* cam) { ProjectCamera(cam); }
void KorvoCoreImp::generate() { ::Korvo::generate(GetKorvoPlugin()); }
int KorvoCoreImp::num_helpers() { return CountStereoHelpers(); }
INode* KorvoCoreImp::create_helper() { return FindOrCreateStereoHelper(); }
// Straight from the store: reading the version does not create the workflow object.
MSTR KorvoCoreImp::version() { return GetSetting(SettingKey::Version); }
MSTR KorvoCoreImp::TrimWhitespace(MSTR text) { return ::Korvo::TrimWhitespace(std::move(text)); }

FPStatus KorvoCoreImp::_dispatch_fn(FunctionID fid, TimeValue, FPValue& result, FPParams* p) {
    FPParams none;
    Tab<FPValue>& args = p ? p->params : none.params;
    switch (fid) {
        case kGetCams:
            get_cams();
            break;
        case kFixCam:
            fix_cam(args[0].n);
            break;
        case kValidateWorkflow:
            result.LoadInt(TYPE_BOOL, validate_worfklow(args[0].i != 0) ? TRUE : FALSE);
            break;
        case kTransformCam: {
            // Every position is checked, last first, before any value is read.
            FPValue& targetMat = args[3];
            FPValue& mat = args[2];
            FPValue& side = args[1];
            FPValue& cam = args[0];
            // Without somewhere to keep the old transforms the turn could not be undone.
            if (mat.m && targetMat.m) tranform_cam(cam.n, side.i, mat.m, targetMat.m);
            break;
        }
        case kUndoTrans: {
            FPValue& targetMat = args[2];
            FPValue& mat = args[1];
            FPValue& cam = args[0];
            if (mat.m && targetMat.m) undo_trans(cam.n, mat.m, targetMat.m);
            break;
        }
        case kProjectCam:
            project_cam(args[0].n);
            break;
        case kGenerate:
            generate();
            break;
        case kNumHelpers:
            result.LoadInt(TYPE_INT, num_helpers());
            break;
        case kCreateHelper:
            result.LoadNode(create_helper());
            break;
        case kVersion: {
            const MSTR text = version();
            result.LoadString(text);
            break;
        }
        default:
            return FPS_NO_SUCH_FUNCTION;
    }
    return FPS_OK;
}

}  // namespace Korvo
