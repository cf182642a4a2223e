// Materials and maps: the base class of both, texture maps, and what the host's own renderers
// ask of a map when they shade.
#pragma once

#include "host/function_publishing.h"
#include "host/geom.h"
#include "host/max_types.h"
#include "host/plugin.h"
#include "host/scene.h"

class AColor {
  public:
    float r = 0.0f, g = 0.0f, b = 0.0f, a = 0.0f;
    constexpr AColor() = default;
    constexpr AColor(float r_, float g_, float b_, float a_ = 1.0f) : r(r_), g(g_), b(b_), a(a_) {}
    constexpr bool operator==(const AColor&) const = default;
};

// Where a renderer shades: the host's renderers pass one to every map they evaluate.
class ShadeContext {
  public:
    virtual ~ShadeContext() = default;
};

// The material editor's services for a map's rollouts.
class IMtlParams {
  public:
    virtual ~IMtlParams() = default;
};

// A map's rollouts in the material editor; freed with DeleteThis.
class ParamDlg {
  public:
    virtual ~ParamDlg() = default;
    virtual ReferenceTarget* GetThing() = 0;
    virtual void SetThing(ReferenceTarget* thing) = 0;
    virtual void DeleteThis() = 0;
};

// What materials and maps share: a name and the hooks the material editor and renderers call.
class MtlBase : public ReferenceTarget {
  public:
    const MSTR& GetName() const { return name_; }
    void SetName(const MSTR& name) { name_ = name; }
    // The name with the class name, as the material editor lists the map: "Map #1 (Korvo Stereo)".
    MSTR GetFullName();

    virtual ParamDlg* CreateParamDlg(HWND editor, IMtlParams* params) { return nullptr; }
    // Brings the map up to date for time t and narrows valid to how long that holds.
    virtual void Update(TimeValue t, Interval& valid) {}
    // Puts the map back to its defaults.
    virtual void Reset() {}
    virtual Interval Validity(TimeValue t) { return FOREVER; }

  private:
    MSTR name_;
};

class Texmap : public MtlBase {
  public:
    SClass_ID SuperClassID() override { return TEXMAP_CLASS_ID; }
    virtual AColor EvalColor(ShadeContext& context) = 0;
    virtual Point3 EvalNormalPerturb(ShadeContext& context) = 0;
    virtual int NumSubTexmaps() { return 0; }
    virtual Texmap* GetSubTexmap(int i) { return nullptr; }
};

// A static interface of a material or map class: which renderers can use the class.
constexpr Interface_ID IMTLRENDER_COMPATIBILITY_MTLBASE_INTERFACEID{0x5537445B, 0x70A97E02};
class IMtlRender_Compatibility_MtlBase : public FPInterface {
  public:
    FPInterfaceDesc* GetDesc() override { return nullptr; }
    virtual bool IsCompatibleWithRenderer(ClassDesc& rendererClassDesc) = 0;
};
