#include "standalone_host/core/mental_ray_translator.h"

#include <cstring>

#include "host/material.h"
#include "host/mental_ray.h"
#include "standalone_host/core/host_objects.h"
#include "standalone_host/platform/utf8.h"
#include "standalone_host/scene/scene_objects.h"

namespace KorvoHost {
namespace {

using MentalRay::ParameterType;
using MentalRay::ShaderDeclaration;

// A renderer-side shader: its parameter block has one parameter per declared boolean, integer
// and scalar parameter, ids in declaration order, with the declared defaults.
class HostShader final : public imrShader {
  public:
    HostShader(MentalRay::ShaderLibrary& library, const ShaderDeclaration& declaration,
               std::wstring instanceName)
        : library_(library), declaration_(declaration), instanceName_(std::move(instanceName)) {
        names_.reserve(declaration.parameters.size());
        std::vector<ParamDef> defs;
        for (std::size_t i = 0; i < declaration.parameters.size(); ++i) {
            const MentalRay::ShaderParameter& p = declaration.parameters[i];
            names_.push_back(FromUtf8(p.name));
            if (p.type == ParameterType::Color || p.type == ParameterType::Vector) continue;
            ParamDef def;
            def.ID = static_cast<ParamID>(i);
            def.int_name = names_.back().c_str();
            def.type = p.type == ParameterType::Scalar    ? TYPE_FLOAT
                       : p.type == ParameterType::Boolean ? TYPE_BOOL
                                                          : TYPE_INT;
            def.defaultInt = static_cast<int>(p.defaults[0]);
            def.defaultFloat = p.defaults[0];
            defs.push_back(def);
        }
        desc_ = std::make_unique<ParamBlockDesc2>(0, names_.empty() ? L"" : L"parameters", 0,
                                                  nullptr, 0, 0, 0, 0, std::move(defs));
        block_ = std::make_unique<DescribedParamBlock>(*desc_);
    }

    const MCHAR* GetName() override { return instanceName_.c_str(); }
    IParamBlock2* GetParametersParamBlock() override { return block_.get(); }
    MentalRay::ShaderLibrary& Library() { return library_; }
    const ShaderDeclaration& Declaration() const { return declaration_; }

    // The parameter block as the shader reads it.
    std::vector<unsigned char> Parameters() const {
        std::vector<unsigned char> bytes(declaration_.blockSize);
        for (std::size_t i = 0; i < declaration_.parameters.size(); ++i) {
            const MentalRay::ShaderParameter& p = declaration_.parameters[i];
            unsigned char* at = bytes.data() + p.offset;
            Interval valid = FOREVER;
            if (p.type == ParameterType::Boolean || p.type == ParameterType::Integer) {
                int value = 0;
                block_->GetValue(static_cast<ParamID>(i), 0, value, valid);
                std::memcpy(at, &value, sizeof value);
            } else if (p.type == ParameterType::Scalar) {
                float value = 0.0f;
                block_->GetValue(static_cast<ParamID>(i), 0, value, valid);
                std::memcpy(at, &value, sizeof value);
            } else {
                std::memcpy(at, p.defaults.data(), p.defaults.size() * sizeof(float));
            }
        }
        return bytes;
    }

  private:
    MentalRay::ShaderLibrary& library_;
    const ShaderDeclaration& declaration_;
    std::wstring instanceName_;
    std::vector<std::wstring> names_;
    std::unique_ptr<ParamBlockDesc2> desc_;
    std::unique_ptr<DescribedParamBlock> block_;
};

// Finds a declared shader in the library of the same name in the plug-in folder.
class ShaderCreation final : public imrShaderCreation {
  public:
    explicit ShaderCreation(std::filesystem::path folder) : folder_(std::move(folder)) {}

    imrShader* CreateShader(const MCHAR* declarationName, const MCHAR* instanceName) override {
        const std::string name = ToUtf8(declarationName ? declarationName : L"");
        MentalRay::ShaderLibrary* library =
            MentalRay::ShaderLibrary::Load(folder_ / (name + ".so"), error);
        if (!library) return nullptr;
        const ShaderDeclaration* declaration = library->Declaration(name);
        if (!declaration) {
            error = library->File().string() + " declares no shader \"" + name + "\"";
            return nullptr;
        }
        shader =
            std::make_unique<HostShader>(*library, *declaration, instanceName ? instanceName : L"");
        return shader.get();
    }

    std::unique_ptr<HostShader> shader;
    std::string error;

  private:
    std::filesystem::path folder_;
};

class Translation final : public imrTranslation {};

}  // namespace

std::unique_ptr<MentalRay::LensRender> PrepareLensShader(
    SceneRenderer& renderer, const Transform& cameraToWorld, TimeValue t,
    const std::filesystem::path& pluginFolder, MentalRay::TraceMode mode,
    MentalRay::TraceFunction trace, std::string& error) {
    error.clear();
    if (renderer.Type() != RendererType::MentalRay) return nullptr;
    const RendererProperty* enabled = renderer.Property(L"Enable_Camera_Lens_Shader");
    if (!enabled || *enabled != RendererProperty(true)) return nullptr;
    const RendererProperty* lens = renderer.Property(L"Camera_Lens_Shader");
    ReferenceTarget* map = lens && std::holds_alternative<ReferenceTarget*>(*lens)
                               ? std::get<ReferenceTarget*>(*lens)
                               : nullptr;
    if (!map) return nullptr;

    MSTR mapName;
    map->GetClassName(mapName);
    auto* translation =
        static_cast<imrShaderTranslation*>(map->GetInterface(IMRSHADERTRANSLATION_INTERFACE_ID));
    if (!translation) {
        error = "the camera lens shader (" + ToUtf8(mapName) + ") is not a mental ray shader";
        return nullptr;
    }
    ShaderCreation creation(pluginFolder);
    imrShader* shader = translation->GetMRShader(creation);
    if (!shader || shader != creation.shader.get()) {
        error = creation.error.empty() ? "the camera lens shader gave no mental ray shader"
                                       : creation.error;
        return nullptr;
    }
    Translation translator;
    Interval valid = FOREVER;
    translation->TranslateParameters(translator, shader, t, valid);
    std::vector<unsigned char> parameters = creation.shader->Parameters();
    translation->ReleaseMRShader();
    return MentalRay::LensRender::Begin(creation.shader->Library(), creation.shader->Declaration(),
                                        std::move(parameters), cameraToWorld, mode,
                                        std::move(trace), error);
}

}  // namespace KorvoHost
