// The host's connection to the mental ray renderer: how a map hands the renderer a shader of
// the renderer's own and translates its parameters into it.
#pragma once

#include "host/function_publishing.h"
#include "host/max_types.h"
#include "host/scene.h"
#include "host/tab.h"

// A shader of the renderer, made from a declaration the renderer read. Its parameter block
// has one parameter per parameter of the declaration, under the declared names.
class imrShader {
  public:
    virtual ~imrShader() = default;
    virtual const MCHAR* GetName() = 0;
    virtual IParamBlock2* GetParametersParamBlock() = 0;
};

// The translator's service that makes renderer-side shaders.
class imrShaderCreation {
  public:
    virtual ~imrShaderCreation() = default;
    // A new shader of the declared name, called instanceName; null when the renderer has no
    // such declaration.
    virtual imrShader* CreateShader(const MCHAR* declarationName, const MCHAR* instanceName) = 0;
};

// The translator of one render.
class imrTranslation {
  public:
    virtual ~imrTranslation() = default;
};

using AdditionalDependencyTable = Tab<ReferenceTarget*>;

// What a map that stands for a renderer shader hands out for this interface id.
constexpr Interface_ID IMRSHADERTRANSLATION_INTERFACE_ID{0x1C396ABD, 0x5F964E0C};
class imrShaderTranslation : public BaseInterface {
  public:
    virtual imrShader* GetMRShader(imrShaderCreation& shaderCreation) = 0;
    virtual void ReleaseMRShader() = 0;
    // True: the translator copies the map's parameter blocks into the shader by itself.
    virtual bool NeedsAutomaticParamBlock2Translation() = 0;
    // Copies the map's parameters at time t into the shader, narrowing valid to how long they
    // hold.
    virtual void TranslateParameters(imrTranslation& translation, imrShader* shader, TimeValue t,
                                     Interval& valid) = 0;
    virtual void GetAdditionalReferenceDependencies(AdditionalDependencyTable& refTargets) = 0;
};

// A static interface of such a map's class, telling the translator how the class applies.
constexpr Interface_ID IMRSHADERTRANSLATION_CLASSINFO_INTERFACE_ID{0x17A76FD6, 0x5AB32BCD};
class imrShaderTranslation_ClassInfo : public FPInterface {
  public:
    FPInterfaceDesc* GetDesc() override { return nullptr; }
    virtual int GetApplyTypes() = 0;
};
