// The standalone host's scene: an in-memory node graph behind the host's scene interfaces, loaded
// from and saved to a JSON scene file (see docs/scene-format.md).
//
// A Scene owns every node, object and renderer it ever made; pointers handed out stay valid until
// the scene is destroyed (a deleted node is only detached from the tree). Not thread-safe: use
// one scene from one thread at a time.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "host/render.h"
#include "host/scene.h"

namespace KorvoHost {

class SceneNode;
class SceneRenderer;

// Classes the scene knows beyond the helpers and cameras of any class id it accepts.
constexpr Class_ID kFreeCameraClassId{0x00001001, 0};
constexpr Class_ID kTargetCameraClassId{0x00001002, 0};
constexpr Class_ID kOmniLightClassId{0x00001011, 0};
constexpr Class_ID kDirectionalLightClassId{0x00001013, 0};
constexpr Class_ID kBoxClassId{0x00000010, 0};
constexpr Class_ID kSphereClassId{0x00000011, 0};
constexpr Class_ID kPlaneClassId{0x00000012, 0};
constexpr Class_ID kModelMeshClassId{0x00000013, 0};
constexpr Class_ID kDerivedObjectClassId{0x0000000D, 0};
constexpr Class_ID kNodeClassId{0x00000001, 0};

// The renderers the host offers. Any class id not listed is a Default Scanline renderer that keeps
// its own id.
enum class RendererType { Scanline, VRay, VRayRT, MentalRay, Arnold };
constexpr Class_ID kScanlineRendererClassId{0x00000001, 0x00000000};
constexpr Class_ID kVRayRendererClassId{0x73BAB286, 0x77F8FD0C};
constexpr Class_ID kVRayRTRendererClassId{0x698A4B98, 0x4EDD05F5};
constexpr Class_ID kMentalRayRendererClassId{0x58F67D6C, 0x4FCF3BC3};
constexpr Class_ID kArnoldRendererClassId{0xB1A438DE, 0xA045667A};

RendererType RendererTypeOf(const Class_ID& classId);
Class_ID RendererClassId(RendererType type);
// "Default Scanline", "V-Ray", "V-Ray RT", "mental ray", "Arnold".
const wchar_t* RendererClassName(RendererType type);

// The scene's system unit; the values are the host's unit types (UNITS_INCHES …).
enum class SystemUnit { Inches, Feet, Miles, Millimeters, Centimeters, Meters, Kilometers };

// Colours are display (sRGB) values from 0 to 1.
struct Color {
    float r = 0.0f, g = 0.0f, b = 0.0f;
    constexpr bool operator==(const Color&) const = default;
};

// What the scene records, in order, for tests to check what a caller wrote.
struct ParamWrite {
    ReferenceTarget* owner = nullptr;  // the object or renderer holding the block
    BlockID block = 0;
    ParamID param = 0;
    int tabIndex = 0;
    std::variant<int, float> value;
};
struct Notification {
    ReferenceTarget* target = nullptr;  // the node or object whose dependents were notified
    Interval interval;
    PartID part = 0;
    RefMessage message = 0;
    SClass_ID superClassFilter = 0;
    BOOL propagate = FALSE;
    RefTargetHandle hTarg = nullptr;
    NotifyDependentsOption option = REFNOTIFY_ALLOW_OPT_OUT;
};
using SceneRecord = std::variant<ParamWrite, Notification>;

class Scene final : public IScene {
  public:
    // An empty scene in centimetres that was never saved, with no renderer yet.
    Scene();
    ~Scene() override;
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    // ---- Nodes ---------------------------------------------------------------------------------
    // Walks every node once in depth-first order, parents before children, the root excluded.
    // The callback answers TREE_CONTINUE, TREE_IGNORECHILDREN or TREE_ABORT; the walk answers
    // TREE_ABORT when it was aborted, else TREE_CONTINUE. Nodes the callback deletes are skipped.
    int EnumTree(ITreeEnumProc* proc, BOOL includeXRefs = FALSE,
                 BOOL flattenHierarchy = TRUE) override;
    INode* RootNode();
    // The first node of that name in tree order, or null.
    INode* FindNode(std::wstring_view name);
    // Leaves a name no node has unchanged; otherwise drops its trailing digits and appends the
    // first free three-digit number ("Korvo_Camera" → "Korvo_Camera001").
    void MakeNameUnique(MSTR& name);
    // A new object (as Object*) owned by the scene, or null for a class the host does not know:
    // free and target cameras, any other camera class id (generic camera with parameter block 0),
    // any helper class id (generic helper with an empty parameter block 0), boxes, planes,
    // spheres and lights.
    void* CreateInstance(SClass_ID superId, Class_ID classId);
    // A new node under the root for the object (which may be null). Without a name it is named
    // after the object's class, numbered ("Camera001").
    INode* CreateObjectNode(Object* object, const MCHAR* name = nullptr);
    // Deletes the node; its children move to its parent and keep their world transforms.
    void DeleteNode(INode* node);
    // Moves a node under another one (null: the root), keeping its world transform. False when
    // that would make the node depend on itself.
    bool SetParent(INode* node, INode* parent);
    // Makes a camera node look at `target` from where it is, with no roll (null: stop looking at
    // anything, keeping the current transform). False when the target is the node or depends on
    // it.
    bool SetTarget(INode* camera, INode* target);
    // Every live node in tree order, the root excluded.
    std::vector<INode*> Nodes();

    // ---- Renderer ------------------------------------------------------------------------------
    // The current renderer; with createIfNone a Default Scanline renderer is made when there is
    // none. Each class id keeps one renderer object for the scene's lifetime.
    Renderer* CurrentRenderer(bool createIfNone = true);
    void SetCurrentRenderer(const Class_ID& classId);
    // Whether renderers answer yes to HasRequirement(kRequirement_Wants32bitFPOutput).
    bool FloatFrameBuffer() const { return floatFrameBuffer_; }
    void SetFloatFrameBuffer(bool on) { floatFrameBuffer_ = on; }

    // ---- Units and look ------------------------------------------------------------------------
    SystemUnit Unit() const { return unit_; }
    void SetUnit(SystemUnit unit) { unit_ = unit; }
    // The length of one system unit in the host unit type (UNITS_…); 1 for an unknown type.
    double MasterScale(int unitType) const;
    Color background{0.0f, 0.0f, 0.0f};
    Color ambient{0.1f, 0.1f, 0.1f};

    // ---- File ----------------------------------------------------------------------------------
    // Empty when the scene was never saved or loaded.
    const std::filesystem::path& FilePath() const { return filePath_; }
    void SetFilePath(const std::filesystem::path& path) { filePath_ = path; }
    // The file's name ("room.json") and full path as host texts; empty when there is no file.
    MSTR CurFileName() const;
    MSTR CurFilePath() const;
    // Writes the scene to its file. False with `error` set when it has no file or the write failed;
    // a failed write leaves the old file as it was.
    bool Save(std::string& error);
    // Writes the scene to `path` and makes that its file.
    bool SaveAs(const std::filesystem::path& path, std::string& error);

    // ---- Records -------------------------------------------------------------------------------
    // Every parameter-block write and NotifyDependents call on the scene's nodes, objects and
    // renderers, in order.
    const std::vector<SceneRecord>& Records() const { return records_; }
    void ClearRecords() { records_.clear(); }

    // ---- For the scene's own objects -----------------------------------------------------------
    std::vector<SceneRecord>& RecordList() { return records_; }
    // Adopts an object built by the host (the file loader); answers it.
    Object* Adopt(std::unique_ptr<Object> object);
    SceneNode& Root() { return *nodes_.front(); }
    SceneNode* AsSceneNode(INode* node) const;
    // Nodes that look at `target`.
    std::vector<SceneNode*> CamerasLookingAt(const SceneNode& target) const;

  private:
    std::wstring NumberedName(std::wstring_view base) const;
    bool NameTaken(std::wstring_view name) const;

    std::vector<std::unique_ptr<SceneNode>> nodes_;  // the root first, then in creation order
    std::vector<std::unique_ptr<Object>> objects_;
    std::map<Class_ID, std::unique_ptr<SceneRenderer>> renderers_;
    SceneRenderer* currentRenderer_ = nullptr;
    bool floatFrameBuffer_ = false;
    SystemUnit unit_ = SystemUnit::Centimeters;
    std::filesystem::path filePath_;
    std::vector<SceneRecord> records_;
};

}  // namespace KorvoHost
