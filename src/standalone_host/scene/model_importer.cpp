// The model importer's library: Assimp, its formats and what it links are loaded by a host
// only when a scene names a model file (model_importer.h).
#include "standalone_host/scene/model_importer.h"

#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <assimp/Importer.hpp>
#include <cstdint>
#include <exception>
#include <limits>
#include <new>
#include <optional>

namespace KorvoHost {
namespace {

std::optional<Color> MaterialColor(const aiMaterial* material) {
    if (!material) return std::nullopt;
    aiColor4D color;
    // glTF keeps its colour as the base colour; the older formats as the diffuse colour.
    if (material->Get(AI_MATKEY_BASE_COLOR, color) != AI_SUCCESS &&
        material->Get(AI_MATKEY_COLOR_DIFFUSE, color) != AI_SUCCESS)
        return std::nullopt;
    auto unit = [](float v) { return v < 0.0f ? 0.0f : v > 1.0f ? 1.0f : v; };
    return Color{unit(color.r), unit(color.g), unit(color.b)};
}

bool ImportHere(const char* file, ImportedModel& model, std::string& error) {
    Assimp::Importer importer;
    importer.SetPropertyInteger(AI_CONFIG_PP_SBP_REMOVE,
                                aiPrimitiveType_POINT | aiPrimitiveType_LINE);
    const aiScene* scene =
        importer.ReadFile(file, aiProcess_Triangulate | aiProcess_JoinIdenticalVertices |
                                    aiProcess_PreTransformVertices | aiProcess_SortByPType |
                                    aiProcess_ValidateDataStructure);
    if (!scene || (scene->mFlags & AI_SCENE_FLAGS_INCOMPLETE)) {
        error = importer.GetErrorString();
        if (error.empty()) error = "the file could not be read as a model";
        return false;
    }

    bool allHaveNormals = true;
    bool anyColor = false;
    std::vector<std::optional<Color>> meshColors;
    for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
        const aiMesh* mesh = scene->mMeshes[m];
        const aiMaterial* material = mesh->mMaterialIndex < scene->mNumMaterials
                                         ? scene->mMaterials[mesh->mMaterialIndex]
                                         : nullptr;
        meshColors.push_back(MaterialColor(material));
        anyColor = anyColor || meshColors.back().has_value();
        allHaveNormals = allHaveNormals && mesh->HasNormals();
    }

    for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
        const aiMesh* mesh = scene->mMeshes[m];
        if (!(mesh->mPrimitiveTypes & aiPrimitiveType_TRIANGLE)) continue;
        const std::size_t first = model.positions.size();
        if (first + mesh->mNumVertices > std::numeric_limits<std::uint32_t>::max()) {
            error = "the model has too many vertices";
            return false;
        }
        for (unsigned v = 0; v < mesh->mNumVertices; ++v) {
            const aiVector3D& p = mesh->mVertices[v];
            model.positions.push_back({p.x, p.y, p.z});
            if (allHaveNormals) {
                const aiVector3D& n = mesh->mNormals[v];
                model.normals.push_back({n.x, n.y, n.z});
            }
        }
        for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
            const aiFace& face = mesh->mFaces[f];
            if (face.mNumIndices != 3) continue;
            bool inRange = true;
            for (unsigned k = 0; k < 3; ++k)
                inRange = inRange && face.mIndices[k] < mesh->mNumVertices;
            if (!inRange) continue;
            for (unsigned k = 0; k < 3; ++k)
                model.indices.push_back(static_cast<std::uint32_t>(first + face.mIndices[k]));
            if (anyColor)
                model.triangleColors.push_back(meshColors[m].value_or(Color{0.8f, 0.8f, 0.8f}));
        }
    }
    if (model.indices.empty()) {
        error = "the file holds no triangles";
        return false;
    }
    return true;
}

}  // namespace
}  // namespace KorvoHost

extern "C" __attribute__((visibility("default"))) bool KorvoImportModel(
    const char* file, KorvoHost::ImportedModel& model, std::string& error,
    bool& outOfMemory) noexcept {
    outOfMemory = false;
    try {
        return KorvoHost::ImportHere(file, model, error);
    } catch (const std::bad_alloc&) {
        outOfMemory = true;
    } catch (const std::exception& e) {
        error = e.what();
    } catch (...) {
        error = "the importer failed";
    }
    return false;
}
