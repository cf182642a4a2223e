// The core interface "korvo": the plug-in's operations as script functions. One process-wide
// object registers itself with the host while the module loads and withdraws when it unloads.
#pragma once

#include "host/function_publishing.h"
#include "host/geom.h"
#include "host/scene.h"

namespace Korvo {

constexpr Interface_ID kKorvoCoreInterfaceID{0x0AC25508, 0x38DB0C63};

// Function ids, in the order the description lists them.
enum KorvoCoreFunction : FunctionID {
    kGetCams = 0,
    kFixCam = 1,
    kValidateWorkflow = 2,
    kTransformCam = 3,
    kUndoTrans = 4,
    kProjectCam = 5,
    kGenerate = 6,
    kNumHelpers = 7,
    kCreateHelper = 8,
    kVersion = 9,
};

class IKorvoCore : public FPStaticInterface {
  public:
    virtual void get_cams() = 0;
    virtual void fix_cam(INode* cam) = 0;
    virtual bool validate_worfklow(bool suppress_messages) = 0;
    // old_mat and old_targ_mat receive the transforms before the turn.
    virtual void tranform_cam(INode* cam, int side, Matrix3* old_mat, Matrix3* old_targ_mat) = 0;
    virtual void undo_trans(INode* cam, Matrix3* mat, Matrix3* target_mat) = 0;
    virtual void project_cam(INode* cam) = 0;
    virtual void generate() = 0;
    virtual int num_helpers() = 0;
    virtual INode* create_helper() = 0;
    virtual MSTR version() = 0;
    // Not published: a copy of text without leading and trailing white space.
    virtual MSTR TrimWhitespace(MSTR text) = 0;
};

class KorvoCoreImp final : public IKorvoCore {
  public:
    // The interface's description follows flags, as load_descriptor reads it.
    KorvoCoreImp(Interface_ID id, const MCHAR* name, StringResID description, ClassDesc* cd,
                 ULONG flags, ...);

    void get_cams() override;
    void fix_cam(INode* cam) override;
    bool validate_worfklow(bool suppress_messages) override;
    void tranform_cam(INode* cam, int side, Matrix3* old_mat, Matrix3* old_targ_mat) override;
    void undo_trans(INode* cam, Matrix3* mat, Matrix3* target_mat) override;
    void project_cam(INode* cam) override;
    void generate() override;
    int num_helpers() override;
    INode* create_helper() override;
    MSTR version() override;
    MSTR TrimWhitespace(MSTR text) override;

  protected:
    // Arguments by position; a position the list lacks raises the host's out-of-range error
    // before anything is called.
    FPStatus _dispatch_fn(FunctionID fid, TimeValue t, FPValue& result, FPParams* p) override;
};

// The process-wide interface object.
IKorvoCore& GetKorvoCore();

}  // namespace Korvo
