#include "standalone_host/cli/scene_summary.h"

#include <cmath>
#include <cstdio>

#include "standalone_host/platform/utf8.h"

namespace KorvoCli {
namespace {

constexpr Class_ID kVRay{0x73BAB286, 0x77F8FD0C};
constexpr Class_ID kVRayRT{0x698A4B98, 0x4EDD05F5};
constexpr Class_ID kMentalRay{0x58F67D6C, 0x4FCF3BC3};
constexpr Class_ID kArnold{0xB1A438DE, 0xA045667A};
constexpr Class_ID kVRayStereoHelper{0x778103A1, 0x3B985164};

Object* BaseObject(INode* node) {
    Object* object = node->GetObjectRef();
    if (object && object->SuperClassID() == GEN_DERIVOB_CLASS_ID)
        object = static_cast<IDerivedObject*>(object)->GetObjRef();
    return object;
}

std::string Degrees(float radians) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f°", radians * 180.0 / M_PI);
    return text;
}

class Collector final : public ITreeEnumProc {
  public:
    explicit Collector(SceneSummary& summary) : summary_(summary) {}
    int callback(INode* node) override {
        Object* object = BaseObject(node);
        if (!object) return TREE_CONTINUE;
        const std::wstring name = node->GetName() ? node->GetName() : L"";
        if (object->SuperClassID() == CAMERA_CLASS_ID) {
            auto* camera = static_cast<CameraObject*>(object);
            std::string text =
                node->GetTarget()
                    ? "target camera looking at " + KorvoHost::ToUtf8(node->GetTarget()->GetName())
                    : std::string("free camera");
            text += camera->IsOrtho() ? ", orthographic"
                                      : ", " + Degrees(camera->GetFOV(0)) + " field of view";
            summary_.cameras.push_back({name, text});
        } else if (object->SuperClassID() == HELPER_CLASS_ID) {
            MSTR className;
            object->GetClassName(className);
            if (object->ClassID() == kVRayStereoHelper) className = L"V-Ray stereoscopic helper";
            summary_.helpers.push_back(name + L" (" + className + L")");
        }
        return TREE_CONTINUE;
    }

  private:
    SceneSummary& summary_;
};

}  // namespace

SceneSummary Summarize(Interface& ip) {
    SceneSummary summary;
    Renderer* renderer = ip.GetCurrentRenderer(true);
    if (!renderer) {
        summary.rendererName = L"none";
        summary.rendererKind = "None";
        summary.backEnd = "cube faces, one render per face for both eyes (mono strip)";
    } else {
        renderer->GetClassName(summary.rendererName);
        const Class_ID id = renderer->ClassID();
        if (id == kVRay) {
            summary.rendererKind = "VRay";
            summary.backEnd = "one stereo render per camera through the stereoscopic helper";
        } else if (id == kVRayRT) {
            summary.rendererKind = "VRayRT";
            summary.backEnd = "not supported: switch to another renderer";
        } else if (id == kMentalRay) {
            summary.rendererKind = "MentalRay";
            summary.backEnd = "cube faces rendered once per eye through the stereo lens shader";
        } else if (id == kArnold) {
            summary.rendererKind = "Arnold";
            summary.backEnd = "one render per camera through a VR camera";
        } else {
            summary.rendererKind = "Other";
            summary.backEnd = "cube faces, one render per face for both eyes (mono strip)";
        }
    }
    if (IScene* scene = ip.GetScene()) {
        Collector collector(summary);
        scene->EnumTree(&collector, FALSE, TRUE);
    }
    return summary;
}

}  // namespace KorvoCli
