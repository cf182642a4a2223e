#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <new>

#include "standalone_host/platform/utf8.h"
#include "standalone_host/scene/scene_file.h"
#include "standalone_host/scene/scene_file_terms.h"
#include "standalone_host/scene/scene_json.h"
#include "standalone_host/scene/scene_node.h"
#include "standalone_host/scene/scene_objects.h"

namespace KorvoHost {
namespace {

namespace fs = std::filesystem;
using namespace SceneFileTerms;

Json Number(float value) { return static_cast<double>(value); }

Json Vector(const Point3& p) { return Json::array({Number(p.x), Number(p.y), Number(p.z)}); }

Json Rgb(const Color& c) { return Json::array({Number(c.r), Number(c.g), Number(c.b)}); }

Json Rows(const Matrix3& m) {
    Json rows = Json::array();
    for (int i = 0; i < 4; ++i) rows.push_back(Vector(m.GetRow(i)));
    return rows;
}

Json ClassIdJson(const Class_ID& id) {
    char a[16], b[16];
    std::snprintf(a, sizeof a, "0x%08X", static_cast<unsigned>(id.PartA()));
    std::snprintf(b, sizeof b, "0x%08X", static_cast<unsigned>(id.PartB()));
    return Json::array({a, b});
}

Json ValueJson(const ParamValue& value) {
    return std::holds_alternative<int>(value) ? Json(std::get<int>(value))
                                              : Number(std::get<float>(value));
}

// Null when no block holds a value.
template <class Base>
Json ParamBlocksJson(const SceneObject<Base>& object) {
    Json blocks = Json::object();
    for (const auto& block : object.ParamBlocks()) {
        Json params = Json::object();
        // Table entries of one parameter sit next to each other in the ordered map.
        for (const auto& [key, value] : block->Values()) {
            const std::string id = std::to_string(key.first);
            if (key.second == 0 && !params.contains(id)) {
                params[id] = ValueJson(value);
                continue;
            }
            Json& entry = params[id];
            if (!entry.is_array()) entry = entry.is_null() ? Json::array() : Json::array({entry});
            while (entry.size() < static_cast<std::size_t>(key.second)) entry.push_back(nullptr);
            entry.push_back(ValueJson(value));
        }
        if (!params.empty()) blocks[std::to_string(block->ID())] = std::move(params);
    }
    return blocks.empty() ? Json() : blocks;
}

class SceneWriter {
  public:
    SceneWriter(Scene& scene, const fs::path& file) : scene_(scene), folder_(file.parent_path()) {
        std::vector<INode*> nodes = scene_.Nodes();
        for (INode* node : nodes) {
            SceneNode* sceneNode = scene_.AsSceneNode(node);
            index_[sceneNode] = order_.size();
            order_.push_back(sceneNode);
            ++nameCount_[node->GetName()];
        }
    }

    Json Write() {
        Json root = Json::object();
        root["unit"] = kUnits[static_cast<std::size_t>(scene_.Unit())];
        if (Renderer* renderer = scene_.CurrentRenderer(false))
            root["renderer"] = RendererJson(dynamic_cast<SceneRenderer&>(*renderer));
        if (scene_.FloatFrameBuffer()) root["floatFrameBuffer"] = true;
        root["background"] = Rgb(scene_.background);
        root["ambient"] = Rgb(scene_.ambient);
        Json nodes = Json::array();
        for (SceneNode* node : order_) nodes.push_back(NodeJson(*node));
        root["nodes"] = std::move(nodes);
        return root;
    }

  private:
    Json RendererJson(SceneRenderer& renderer) {
        const Class_ID id = renderer.ClassID();
        const RendererType type = renderer.Type();
        const bool named = RendererClassId(type) == id;
        Json blocks = ParamBlocksJson(renderer);
        if (named && blocks.is_null()) return kRenderers[static_cast<std::size_t>(type)];
        Json out = Json::object();
        if (named)
            out["type"] = kRenderers[static_cast<std::size_t>(type)];
        else
            out["classId"] = ClassIdJson(id);
        if (!blocks.is_null()) out["paramBlocks"] = std::move(blocks);
        return out;
    }

    // By name where the name is unique, else by index in "nodes".
    Json Reference(SceneNode* node) {
        if (nameCount_[node->GetName()] == 1) return ToUtf8(node->GetName());
        return index_.at(node);
    }

    Json NodeJson(SceneNode& node) {
        Json out = Json::object();
        out["name"] = ToUtf8(node.GetName());
        const bool topLevel = node.Parent()->IsRoot();
        if (!topLevel) out["parent"] = Reference(node.Parent());
        // World rows read back exactly, whatever the parent and target do with rounding.
        out[topLevel ? "transform" : "worldTransform"] = Rows(node.GetNodeTM(0));
        Object* object = node.GetObjectRef();
        if (object && object != UnwrapDerived(object)) out["derived"] = true;
        object = UnwrapDerived(object);
        if (auto* camera = dynamic_cast<SceneCamera*>(object))
            out["camera"] = CameraJson(*camera, node);
        else if (auto* helper = dynamic_cast<SceneHelper*>(object))
            out["helper"] = HelperJson(*helper);
        else if (auto* mesh = dynamic_cast<SceneMesh*>(object))
            out["mesh"] = MeshJson(*mesh);
        else if (auto* light = dynamic_cast<SceneLight*>(object))
            out["light"] = LightJson(*light);
        return out;
    }

    Json CameraJson(SceneCamera& camera, SceneNode& node) {
        Json out = Json::object();
        out["fov"] = Number(Degrees(camera.GetFOV(0)));
        if (camera.IsOrtho()) out["ortho"] = true;
        if (node.Target()) out["target"] = Reference(node.Target());
        if (camera.ClassID() != (node.Target() ? kTargetCameraClassId : kFreeCameraClassId))
            out["classId"] = ClassIdJson(camera.ClassID());
        if (Json blocks = ParamBlocksJson(camera); !blocks.is_null())
            out["paramBlocks"] = std::move(blocks);
        return out;
    }

    Json HelperJson(SceneHelper& helper) {
        Json out = Json::object();
        out["classId"] = ClassIdJson(helper.ClassID());
        if (Json blocks = ParamBlocksJson(helper); !blocks.is_null())
            out["paramBlocks"] = std::move(blocks);
        return out;
    }

    Json MeshJson(const SceneMesh& mesh) {
        Json out = Json::object();
        out["type"] = kMeshTypes[mesh.shape.index()];
        if (const auto* box = std::get_if<BoxShape>(&mesh.shape)) {
            out["size"] = Vector(box->size);
        } else if (const auto* plane = std::get_if<PlaneShape>(&mesh.shape)) {
            out["size"] = Json::array({Number(plane->width), Number(plane->length)});
        } else if (const auto* sphere = std::get_if<SphereShape>(&mesh.shape)) {
            out["radius"] = Number(sphere->radius);
        } else {
            out["file"] = ModelPath(std::get<ModelShape>(mesh.shape).file).generic_string();
        }
        if (mesh.color) out["color"] = Rgb(*mesh.color);
        return out;
    }

    // Relative to the scene file, unless that only climbs back from the root.
    fs::path ModelPath(const fs::path& file) const {
        std::error_code ec;
        const fs::path relative = fs::relative(file, folder_, ec);
        if (ec || relative.empty()) return file;
        const auto climbs = std::count(relative.begin(), relative.end(), fs::path(".."));
        const fs::path below = folder_.relative_path();
        const auto depth = std::distance(below.begin(), below.end());
        return climbs >= depth ? file : relative;
    }

    Json LightJson(const SceneLight& light) {
        const LightSettings& s = light.settings;
        Json out = Json::object();
        out["type"] = kLightTypes[static_cast<std::size_t>(s.type)];
        out["color"] = Rgb(s.color);
        out["intensity"] = Number(s.intensity);
        out["shadows"] = s.castShadows;
        if (s.type == LightType::Omni && s.falloff > 0.0f) out["falloff"] = Number(s.falloff);
        return out;
    }

    Scene& scene_;
    fs::path folder_;
    std::vector<SceneNode*> order_;
    std::map<SceneNode*, std::size_t> index_;
    std::map<std::wstring, int> nameCount_;
};

}  // namespace

bool WriteSceneFile(Scene& scene, const std::filesystem::path& file, std::string& error) {
    try {
        const std::string text = FormatJson(SceneWriter(scene, file).Write());
        // Written next to the file and renamed over it, so that a failed write loses nothing.
        fs::path temporary = file;
        temporary += ".saving";
        {
            std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
            if (out) out.write(text.data(), static_cast<std::streamsize>(text.size()));
            if (out) out.flush();
            if (!out) {
                error = file.string() + ": cannot write the scene file: " + std::strerror(errno);
                std::error_code ignored;
                fs::remove(temporary, ignored);
                return false;
            }
        }
        std::error_code ec;
        fs::rename(temporary, file, ec);
        if (ec) {
            error = file.string() + ": cannot write the scene file: " + ec.message();
            fs::remove(temporary, ec);
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        error = file.string() + ": cannot write the scene file: " + e.what();
        return false;
    }
}

}  // namespace KorvoHost
