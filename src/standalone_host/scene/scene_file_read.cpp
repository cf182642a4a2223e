#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <new>
#include <optional>
#include <sstream>

#include "standalone_host/platform/utf8.h"
#include "standalone_host/scene/model_import.h"
#include "standalone_host/scene/scene_file.h"
#include "standalone_host/scene/scene_file_terms.h"
#include "standalone_host/scene/scene_json.h"
#include "standalone_host/scene/scene_node.h"
#include "standalone_host/scene/scene_objects.h"

namespace KorvoHost {
namespace {

namespace fs = std::filesystem;
using namespace SceneFileTerms;

// Chains of parents and targets deeper than this are refused: evaluating them would recurse that
// deep.
constexpr int kMaxNesting = 1000;
constexpr std::uintmax_t kMaxFileSize = 256u << 20;

// A reference to another node: its name, or its index in "nodes".
struct NodeReference {
    const Json* value;
    std::string place;
};

struct PendingNode {
    SceneNode* node = nullptr;
    std::string place;
    std::optional<NodeReference> parent;
    std::optional<NodeReference> target;
    SceneNode* targetNode = nullptr;  // made for a target given as a position
    const Json* transform = nullptr;
    std::string transformPlace;
    bool worldTransform = false;
    std::optional<float> roll;
};

Color ReadColor(const Json& value, const std::string& place) {
    if (value.is_string()) {
        const std::string& text = value.get_ref<const std::string&>();
        unsigned rgb[3];
        if (text.size() == 7 && text[0] == '#' &&
            std::sscanf(text.c_str() + 1, "%2x%2x%2x", &rgb[0], &rgb[1], &rgb[2]) == 3 &&
            text.find_first_not_of("0123456789abcdefABCDEF", 1) == std::string::npos)
            return {rgb[0] / 255.0f, rgb[1] / 255.0f, rgb[2] / 255.0f};
        throw SceneFileError(place,
                             "expected a colour \"#rrggbb\" or [r, g, b], " + Describe(value));
    }
    if (!value.is_array())
        throw SceneFileError(place,
                             "expected a colour [r, g, b] or \"#rrggbb\", " + Describe(value));
    const std::vector<float> c = ReadFloats(value, place, 3);
    for (std::size_t i = 0; i < 3; ++i)
        if (c[i] < 0.0f || c[i] > 1.0f)
            throw SceneFileError(place + "[" + std::to_string(i) + "]",
                                 "colour components go from 0 to 1, found " + value[i].dump());
    return {c[0], c[1], c[2]};
}

Point3 ReadPoint(const Json& value, const std::string& place) {
    const std::vector<float> p = ReadFloats(value, place, 3);
    return {p[0], p[1], p[2]};
}

float ReadPositive(const Json& value, const std::string& place) {
    const float number = ReadFloat(value, place);
    if (!(number > 0.0f))
        throw SceneFileError(place, "must be greater than 0, found " + value.dump());
    return number;
}

std::vector<float> ReadSizes(const Json& value, const std::string& place, std::size_t count) {
    const std::vector<float> sizes = ReadFloats(value, place, count);
    for (std::size_t i = 0; i < count; ++i)
        ReadPositive(value[i], place + "[" + std::to_string(i) + "]");
    return sizes;
}

float ReadNonNegative(const Json& value, const std::string& place) {
    const float number = ReadFloat(value, place);
    if (number < 0.0f) throw SceneFileError(place, "must not be negative, found " + value.dump());
    return number;
}

ULONG ReadClassIdWord(const Json& value, const std::string& place) {
    if (value.is_string()) {
        const std::string& text = value.get_ref<const std::string&>();
        const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        const std::string digits = hex ? text.substr(2) : text;
        const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
        if (!digits.empty() && digits.size() <= (hex ? 8u : 10u) &&
            digits.find_first_not_of(allowed) == std::string::npos) {
            const unsigned long long word = std::stoull(digits, nullptr, hex ? 16 : 10);
            if (word <= 0xFFFFFFFFull) return static_cast<ULONG>(word);
        }
        throw SceneFileError(place,
                             "expected a 32-bit word such as \"0x73BAB286\", " + Describe(value));
    }
    return static_cast<ULONG>(ReadInteger(value, place, 0, 0xFFFFFFFFll));
}

Class_ID ReadClassId(const Json& value, const std::string& place) {
    if (!value.is_array() || value.size() != 2)
        throw SceneFileError(place,
                             "expected a class id of two words such as "
                             "[\"0x778103A1\", \"0x3B985164\"], " +
                                 Describe(value));
    return {ReadClassIdWord(value[0], place + "[0]"), ReadClassIdWord(value[1], place + "[1]")};
}

short ReadShortKey(const std::string& key, const std::string& place, const char* what) {
    std::size_t used = 0;
    long number = 0;
    try {
        number = std::stol(key, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != key.size() || number < -32768 || number > 32767)
        throw SceneFileError(place, std::string("expected ") + what +
                                        " (a whole number from -32768 to 32767) as the key, "
                                        "found \"" +
                                        key + "\"");
    return static_cast<short>(number);
}

ParamValue ReadParamValue(const Json& value, const std::string& place) {
    if (value.is_number_integer())
        return static_cast<int>(ReadInteger(value, place, INT32_MIN, INT32_MAX));
    if (value.is_number_float()) return ReadFloat(value, place);
    throw SceneFileError(place,
                         "expected a number (whole for an integer parameter, with a "
                         "fraction for a float one), " +
                             Describe(value));
}

// { "block id": { "parameter id": value or [value per table index] } }
template <class Base>
void ReadParamBlocks(const Json& value, const std::string& place, SceneObject<Base>& object) {
    if (!value.is_object())
        throw SceneFileError(place, "expected an object of parameter blocks, " + Describe(value));
    for (auto block = value.begin(); block != value.end(); ++block) {
        const std::string blockPlace = place + "." + block.key();
        const BlockID blockId = ReadShortKey(block.key(), place, "a parameter block id");
        auto* target = dynamic_cast<ParamBlock*>(object.GetParamBlockByID(blockId));
        if (!target) target = &object.AddParamBlock(blockId);
        if (!block.value().is_object())
            throw SceneFileError(blockPlace,
                                 "expected an object of parameters, " + Describe(block.value()));
        for (auto param = block.value().begin(); param != block.value().end(); ++param) {
            const std::string paramPlace = blockPlace + "." + param.key();
            const ParamID paramId = ReadShortKey(param.key(), blockPlace, "a parameter id");
            if (!param.value().is_array()) {
                target->Load(paramId, ReadParamValue(param.value(), paramPlace));
                continue;
            }
            for (std::size_t i = 0; i < param.value().size(); ++i) {
                const Json& item = param.value()[i];
                if (item.is_null()) continue;  // no value at this table index
                target->Load(paramId,
                             ReadParamValue(item, paramPlace + "[" + std::to_string(i) + "]"),
                             static_cast<int>(i));
            }
        }
    }
}

// Exact sines and cosines for whole quarter turns, so that rotations such as 90° give clean axes.
void SinCosDegrees(double degrees, double& s, double& c) {
    const double turns = degrees / 90.0;
    if (turns == std::floor(turns) && std::fabs(turns) < 1e9) {
        static const double sines[] = {0, 1, 0, -1}, cosines[] = {1, 0, -1, 0};
        const int quarter = static_cast<int>(static_cast<long long>(turns) % 4 + 4) % 4;
        s = sines[quarter];
        c = cosines[quarter];
        return;
    }
    const double radians = degrees * (3.14159265358979323846 / 180.0);
    s = std::sin(radians);
    c = std::cos(radians);
}

// Row-vector matrices in double: scale, then rotations about X, Y and Z, then the position.
Matrix3 ComposeTransform(const Point3& position, const Point3& degrees, const Point3& scale) {
    double m[3][3] = {{scale.x, 0, 0}, {0, scale.y, 0}, {0, 0, scale.z}};
    for (int axis = 0; axis < 3; ++axis) {
        double s, c;
        SinCosDegrees(degrees[axis], s, c);
        const int a = (axis + 1) % 3, b = (axis + 2) % 3;
        // A right-handed turn about `axis` takes a → c·a + s·b and b → −s·a + c·b.
        for (auto& row : m) {
            const double ra = row[a], rb = row[b];
            row[a] = ra * c - rb * s;
            row[b] = ra * s + rb * c;
        }
    }
    auto row = [&](int i) {
        return Point3(static_cast<float>(m[i][0]), static_cast<float>(m[i][1]),
                      static_cast<float>(m[i][2]));
    };
    return {row(0), row(1), row(2), position};
}

Matrix3 ReadRows(const Json& value, const std::string& place) {
    if (!value.is_array() || value.size() != 4)
        throw SceneFileError(place,
                             "expected four rows of three numbers (X, Y and Z axes, then "
                             "the position), " +
                                 Describe(value));
    Matrix3 m;
    for (int i = 0; i < 4; ++i)
        m.SetRow(i, ReadPoint(value[i], place + "[" + std::to_string(i) + "]"));
    return m;
}

class SceneReader {
  public:
    explicit SceneReader(const fs::path& file) : folder_(file.parent_path()) {}

    std::unique_ptr<Scene> Read(const Json& root) {
        if (!root.is_object())
            throw SceneFileError("", "a scene file holds one JSON object, " + Describe(root));
        JsonObject top(root, "");
        if (const Json* unit = top.Find("unit"))
            scene_->SetUnit(UnitAt(ReadChoice(*unit, "unit", "unit", kUnits)));
        if (const Json* renderer = top.Find("renderer")) ReadRenderer(*renderer);
        if (const Json* flag = top.Find("floatFrameBuffer"))
            scene_->SetFloatFrameBuffer(ReadBool(*flag, "floatFrameBuffer"));
        if (const Json* color = top.Find("background"))
            scene_->background = ReadColor(*color, "background");
        if (const Json* color = top.Find("ambient")) scene_->ambient = ReadColor(*color, "ambient");
        const Json* nodes = top.Find("nodes");
        top.RejectUnknownFields();

        if (nodes) {
            if (!nodes->is_array())
                throw SceneFileError("nodes", "expected an array of nodes, " + Describe(*nodes));
            for (std::size_t i = 0; i < nodes->size(); ++i)
                ReadNode((*nodes)[i], "nodes[" + std::to_string(i) + "]");
        }
        Link();
        PlaceNodes();
        return std::move(scene_);
    }

  private:
    void ReadRenderer(const Json& value) {
        if (value.is_string()) {
            const auto type =
                static_cast<RendererType>(ReadChoice(value, "renderer", "renderer", kRenderers));
            scene_->SetCurrentRenderer(RendererClassId(type));
            return;
        }
        if (!value.is_object())
            throw SceneFileError("renderer", "expected a renderer name (" + kRenderers[0] + ", " +
                                                 kRenderers[1] + ", …) or an object, " +
                                                 Describe(value));
        JsonObject renderer(value, "renderer");
        const Json* type = renderer.Find("type");
        const Json* classId = renderer.Find("classId");
        const Json* blocks = renderer.Find("paramBlocks");
        renderer.RejectUnknownFields();
        if (type && classId)
            throw SceneFileError("renderer", "give either \"type\" or \"classId\", not both");
        if (!type && !classId)
            throw SceneFileError("renderer", "missing field \"type\" (or \"classId\")");
        scene_->SetCurrentRenderer(type ? RendererClassId(static_cast<RendererType>(ReadChoice(
                                              *type, "renderer.type", "renderer", kRenderers)))
                                        : ReadClassId(*classId, "renderer.classId"));
        if (blocks) {
            auto& current = dynamic_cast<SceneRenderer&>(*scene_->CurrentRenderer(false));
            ReadParamBlocks(*blocks, "renderer.paramBlocks", current);
        }
    }

    void ReadNode(const Json& value, const std::string& place) {
        JsonObject entry(value, place);
        PendingNode pending;
        pending.place = place;
        const std::string& name = ReadString(entry.Get("name"), entry.PlaceOf("name"));
        if (name.empty()) throw SceneFileError(entry.PlaceOf("name"), "a node needs a name");
        if (const Json* parent = entry.Find("parent"))
            pending.parent = NodeReference{parent, entry.PlaceOf("parent")};

        const Json* transform = entry.Find("transform");
        const Json* worldTransform = entry.Find("worldTransform");
        if (transform && worldTransform)
            throw SceneFileError(place,
                                 "give either \"transform\" or \"worldTransform\", not both");
        pending.transform = transform ? transform : worldTransform;
        pending.worldTransform = worldTransform != nullptr;
        pending.transformPlace = entry.PlaceOf(transform ? "transform" : "worldTransform");
        const Json* derivedFlag = entry.Find("derived");
        const bool derived = derivedFlag && ReadBool(*derivedFlag, entry.PlaceOf("derived"));

        static const char* const kKinds[] = {"camera", "helper", "mesh", "light"};
        const char* kind = nullptr;
        for (const char* candidate : kKinds) {
            if (!entry.Find(candidate)) continue;
            if (kind)
                throw SceneFileError(place, std::string("a node holds one object; found both \"") +
                                                kind + "\" and \"" + candidate + "\"");
            kind = candidate;
        }
        entry.RejectUnknownFields();

        Object* object = nullptr;
        std::optional<Point3> targetPosition;
        if (kind) {
            const Json& body = *entry.Find(kind);
            const std::string bodyPlace = entry.PlaceOf(kind);
            const std::string_view k = kind;
            if (k == "camera")
                object = ReadCamera(body, bodyPlace, pending, targetPosition);
            else if (k == "helper")
                object = ReadHelper(body, bodyPlace);
            else if (k == "mesh")
                object = ReadMesh(body, bodyPlace);
            else
                object = ReadLight(body, bodyPlace);
        }
        if (derived && object)
            object = scene_->Adopt(std::make_unique<SceneDerivedObject>(*scene_, *object));

        const std::wstring wideName = FromUtf8(name);
        pending.node = scene_->AsSceneNode(scene_->CreateObjectNode(object, wideName.c_str()));
        if (targetPosition) {
            // A target given as a position gets a node of its own, as the host makes for a
            // target camera.
            std::wstring targetName = wideName + L".Target";
            scene_->MakeNameUnique(targetName);
            SceneNode* target =
                scene_->AsSceneNode(scene_->CreateObjectNode(nullptr, targetName.c_str()));
            target->SetLocalTM(TransMatrix(*targetPosition));
            pending.targetNode = target;
        }
        byName_.emplace(name, pending.node);
        nodes_.push_back(std::move(pending));
    }

    SceneCamera* ReadCamera(const Json& value, const std::string& place, PendingNode& pending,
                            std::optional<Point3>& targetPosition) {
        JsonObject camera(value, place);
        const Json* fov = camera.Find("fov");
        const Json* ortho = camera.Find("ortho");
        const Json* target = camera.Find("target");
        const Json* roll = camera.Find("roll");
        const Json* classId = camera.Find("classId");
        const Json* blocks = camera.Find("paramBlocks");
        camera.RejectUnknownFields();

        if (target && target->is_array())
            targetPosition = ReadPoint(*target, camera.PlaceOf("target"));
        else if (target)
            pending.target = NodeReference{target, camera.PlaceOf("target")};
        if (roll) {
            if (!target)
                throw SceneFileError(camera.PlaceOf("roll"),
                                     "only a camera with a target has a roll; turn a free camera "
                                     "with its transform's rotation");
            pending.roll = Radians(ReadFloat(*roll, camera.PlaceOf("roll")));
        }
        const Class_ID id = classId  ? ReadClassId(*classId, camera.PlaceOf("classId"))
                            : target ? kTargetCameraClassId
                                     : kFreeCameraClassId;
        auto object = std::make_unique<SceneCamera>(*scene_, id);
        if (fov) {
            const float degrees = ReadFloat(*fov, camera.PlaceOf("fov"));
            if (!(degrees > 0.0f && degrees < 180.0f))
                throw SceneFileError(camera.PlaceOf("fov"),
                                     "the field of view goes from 0 to 180 degrees (both "
                                     "excluded), found " +
                                         fov->dump());
            object->SetFOV(0, Radians(degrees));
        }
        if (ortho) object->SetOrtho(ReadBool(*ortho, camera.PlaceOf("ortho")));
        if (blocks) ReadParamBlocks(*blocks, camera.PlaceOf("paramBlocks"), *object);
        return static_cast<SceneCamera*>(scene_->Adopt(std::move(object)));
    }

    Object* ReadHelper(const Json& value, const std::string& place) {
        JsonObject helper(value, place);
        const Class_ID id = ReadClassId(helper.Get("classId"), helper.PlaceOf("classId"));
        const Json* blocks = helper.Find("paramBlocks");
        helper.RejectUnknownFields();
        auto object = std::make_unique<SceneHelper>(*scene_, id);
        if (blocks) ReadParamBlocks(*blocks, helper.PlaceOf("paramBlocks"), *object);
        return scene_->Adopt(std::move(object));
    }

    Object* ReadMesh(const Json& value, const std::string& place) {
        JsonObject mesh(value, place);
        const std::size_t type =
            ReadChoice(mesh.Get("type"), mesh.PlaceOf("type"), "mesh type", kMeshTypes);
        MeshShape shape;
        switch (type) {
            case 0: {
                const std::vector<float> s = ReadSizes(mesh.Get("size"), mesh.PlaceOf("size"), 3);
                shape = BoxShape{{s[0], s[1], s[2]}};
                break;
            }
            case 1: {
                const std::vector<float> s = ReadSizes(mesh.Get("size"), mesh.PlaceOf("size"), 2);
                shape = PlaneShape{s[0], s[1]};
                break;
            }
            case 2:
                shape = SphereShape{ReadPositive(mesh.Get("radius"), mesh.PlaceOf("radius"))};
                break;
            default:
                shape = ReadModel(mesh.Get("file"), mesh.PlaceOf("file"));
                break;
        }
        std::optional<Color> color;
        if (const Json* c = mesh.Find("color")) color = ReadColor(*c, mesh.PlaceOf("color"));
        mesh.RejectUnknownFields();
        auto object = std::make_unique<SceneMesh>(*scene_, std::move(shape));
        object->color = color;
        return scene_->Adopt(std::move(object));
    }

    ModelShape ReadModel(const Json& value, const std::string& place) {
        const std::string& name = ReadString(value, place);
        if (name.empty()) throw SceneFileError(place, "the model file name is empty");
        fs::path path = fs::path(name);
        if (path.is_relative()) path = folder_ / path;
        std::error_code ec;
        const fs::path absolute = fs::weakly_canonical(fs::absolute(path, ec), ec);
        if (!ec) path = absolute;
        auto& model = models_[path];
        if (!model) {
            std::string error;
            model = ImportModel(path, error);
            if (!model)
                throw SceneFileError(place, "cannot import the model \"" + name + "\" (" +
                                                path.string() + "): " + error);
        }
        return ModelShape{path, model};
    }

    Object* ReadLight(const Json& value, const std::string& place) {
        JsonObject light(value, place);
        LightSettings settings;
        if (const Json* type = light.Find("type"))
            settings.type = static_cast<LightType>(
                ReadChoice(*type, light.PlaceOf("type"), "light type", kLightTypes));
        if (const Json* color = light.Find("color"))
            settings.color = ReadColor(*color, light.PlaceOf("color"));
        if (const Json* intensity = light.Find("intensity"))
            settings.intensity = ReadNonNegative(*intensity, light.PlaceOf("intensity"));
        if (const Json* shadows = light.Find("shadows"))
            settings.castShadows = ReadBool(*shadows, light.PlaceOf("shadows"));
        if (const Json* falloff = light.Find("falloff")) {
            if (settings.type == LightType::Directional)
                throw SceneFileError(light.PlaceOf("falloff"),
                                     "a directional light does not fall off");
            settings.falloff = ReadNonNegative(*falloff, light.PlaceOf("falloff"));
        }
        light.RejectUnknownFields();
        auto object = std::make_unique<SceneLight>(*scene_, settings.type);
        object->settings = settings;
        return scene_->Adopt(std::move(object));
    }

    SceneNode* Resolve(const NodeReference& reference) {
        const Json& value = *reference.value;
        if (value.is_number_integer()) {
            const auto index = ReadInteger(value, reference.place, 0,
                                           static_cast<std::int64_t>(nodes_.size()) - 1);
            return nodes_[static_cast<std::size_t>(index)].node;
        }
        const std::string& name = ReadString(value, reference.place);
        const auto count = byName_.count(name);
        if (count == 0) {
            std::vector<std::string> names;
            for (const auto& [known, node] : byName_) names.push_back(known);
            std::string problem = "no node is named \"" + name + "\"";
            const std::string suggestion = Suggest(name, names);
            if (!suggestion.empty()) problem += "; did you mean \"" + suggestion + "\"?";
            throw SceneFileError(reference.place, problem);
        }
        if (count > 1)
            throw SceneFileError(reference.place,
                                 "more than one node is named \"" + name +
                                     "\"; refer to it by its index in \"nodes\" instead");
        return byName_.find(name)->second;
    }

    // Parents first, so that a target that would move with its camera is caught at the target.
    void Link() {
        for (PendingNode& pending : nodes_) {
            if (pending.parent && !scene_->SetParent(pending.node, Resolve(*pending.parent)))
                throw SceneFileError(pending.parent->place,
                                     "that parent is this node or moves with it");
        }
        for (PendingNode& pending : nodes_) {
            SceneNode* target = pending.target ? Resolve(*pending.target) : pending.targetNode;
            if (target && !scene_->SetTarget(pending.node, target))
                throw SceneFileError(pending.target ? pending.target->place : pending.place,
                                     "that target is this camera or moves with it");
        }
    }

    // 1 + the deeper of the node's parent and target; the root counts 0.
    int DepthOf(const SceneNode* node) {
        std::vector<const SceneNode*> pending{node};
        while (!pending.empty()) {
            const SceneNode* n = pending.back();
            if (depth_.count(n)) {
                pending.pop_back();
                continue;
            }
            int own = 1;
            bool ready = true;
            for (const SceneNode* dependency : {n->Parent(), n->Target()}) {
                if (!dependency || dependency->IsRoot()) continue;
                const auto known = depth_.find(dependency);
                if (known == depth_.end()) {
                    pending.push_back(dependency);
                    ready = false;
                } else {
                    own = std::max(own, known->second + 1);
                }
            }
            if (ready) {
                depth_[n] = own;
                pending.pop_back();
            }
        }
        return depth_[node];
    }

    // Transforms go on parents and targets first, so that a transform written in world space is
    // kept against their final places.
    void PlaceNodes() {
        std::vector<PendingNode*> order;
        for (PendingNode& pending : nodes_) {
            if (DepthOf(pending.node) > kMaxNesting)
                throw SceneFileError(pending.place, "parents and targets are nested more than " +
                                                        std::to_string(kMaxNesting) +
                                                        " levels deep");
            order.push_back(&pending);
        }
        std::stable_sort(order.begin(), order.end(), [&](PendingNode* a, PendingNode* b) {
            return depth_[a->node] < depth_[b->node];
        });
        for (PendingNode* pending : order) Place(*pending);
    }

    void Place(PendingNode& pending) {
        SceneNode& node = *pending.node;
        const bool lookAt = node.Target() != nullptr;
        if (pending.transform) {
            const Json& value = *pending.transform;
            const std::string& place = pending.transformPlace;
            if (value.is_array()) {
                if (pending.roll)
                    throw SceneFileError(place,
                                         "a camera given four rows takes its roll from "
                                         "them; leave out camera.roll");
                const Matrix3 rows = ReadRows(value, place);
                if (pending.worldTransform || (lookAt && node.Parent()->IsRoot()))
                    node.SetNodeTM(0, rows);
                else if (lookAt)
                    node.SetNodeTM(0, rows * node.Parent()->GetNodeTM(0));
                else
                    node.SetLocalTM(rows);
            } else {
                JsonObject parts(value, place);
                Point3 position, rotation, scale{1.0f, 1.0f, 1.0f};
                if (const Json* p = parts.Find("position"))
                    position = ReadPoint(*p, parts.PlaceOf("position"));
                if (const Json* r = parts.Find("rotation")) {
                    if (lookAt)
                        throw SceneFileError(parts.PlaceOf("rotation"),
                                             "a camera with a target turns towards it; use "
                                             "camera.roll to turn it about its view");
                    rotation = ReadPoint(*r, parts.PlaceOf("rotation"));
                }
                if (const Json* s = parts.Find("scale")) {
                    const std::string scalePlace = parts.PlaceOf("scale");
                    if (lookAt)
                        throw SceneFileError(scalePlace, "a camera with a target has no scale");
                    scale = s->is_array() ? ReadPoint(*s, scalePlace)
                                          : Point3(1, 1, 1) * ReadFloat(*s, scalePlace);
                    if (scale.x == 0.0f || scale.y == 0.0f || scale.z == 0.0f)
                        throw SceneFileError(scalePlace, "a scale of 0 flattens the node away");
                }
                parts.RejectUnknownFields();
                const Matrix3 local = ComposeTransform(position, rotation, scale);
                if (pending.worldTransform)
                    node.SetNodeTM(0, local);
                else
                    node.SetLocalTM(local);
            }
        }
        if (pending.roll) node.SetRoll(*pending.roll);
    }

    std::unique_ptr<Scene> scene_ = std::make_unique<Scene>();
    fs::path folder_;
    std::vector<PendingNode> nodes_;
    std::multimap<std::string, SceneNode*> byName_;
    std::map<fs::path, std::shared_ptr<const ImportedModel>> models_;
    std::map<const SceneNode*, int> depth_;
};

std::string Located(const fs::path& file, const std::string& place, const std::string& problem) {
    return file.string() + ": " + (place.empty() ? "" : place + ": ") + problem;
}

}  // namespace

SceneLoadResult ParseSceneText(std::string_view text, const std::filesystem::path& file) {
    SceneLoadResult result;
    try {
        // A byte-order mark is not JSON, but editors write one.
        if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
        const Json root = ParseStrictJson(text);
        result.scene = SceneReader(file).Read(root);
    } catch (const JsonSyntaxError& e) {
        result.error = file.string() + ":" + std::to_string(e.line) + ":" +
                       std::to_string(e.column) + ": not valid JSON: " + e.problem;
    } catch (const SceneFileError& e) {
        result.error = Located(file, e.Place(), e.what());
    } catch (const std::bad_alloc&) {
        result.error = Located(file, "", "out of memory while reading the scene");
    } catch (const std::exception& e) {
        result.error = Located(file, "", e.what());
    }
    if (!result.error.empty()) result.scene.reset();
    return result;
}

SceneLoadResult LoadSceneFile(const std::filesystem::path& file) {
    SceneLoadResult result;
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    if (ec) {
        result.error = Located(file, "", "cannot read the scene file: " + ec.message());
        return result;
    }
    if (size > kMaxFileSize) {
        result.error = Located(file, "", "the file is too large for a scene file");
        return result;
    }
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    if (in) text << in.rdbuf();
    if (!in) {
        result.error =
            Located(file, "", std::string("cannot read the scene file: ") + std::strerror(errno));
        return result;
    }
    result = ParseSceneText(text.str(), file);
    if (result.scene) {
        const fs::path absolute = fs::absolute(file, ec);
        result.scene->SetFilePath(ec ? file : absolute);
    }
    return result;
}

}  // namespace KorvoHost
