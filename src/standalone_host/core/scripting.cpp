#include "standalone_host/core/scripting.h"

#include <cstdio>

#include "host/function_publishing.h"
#include "host/material.h"
#include "host/maxscript.h"
#include "standalone_host/core/host_interface.h"
#include "standalone_host/core/host_objects.h"
#include "standalone_host/core/script_objects.h"
#include "standalone_host/platform/utf8.h"
#include "standalone_host/scene/scene.h"
#include "standalone_host/scene/scene_objects.h"
#include "standalone_host/script/script_parser.h"

namespace KorvoHost {
namespace {

std::vector<std::wstring>& Scripts() {
    static std::vector<std::wstring> scripts;
    return scripts;
}

[[noreturn]] void Fail(const std::wstring& message) { throw ScriptRuntimeError(message); }

// A scene or plug-in object: its parameters, found by internal name, are its properties.
class HostObject final : public ScriptObject {
  public:
    explicit HostObject(ReferenceTarget* target) : target_(target) {}
    ReferenceTarget* Target() const { return target_; }

    std::wstring Describe() const override {
        MSTR className;
        target_->GetClassName(className);
        if (target_->SuperClassID() == TEXMAP_CLASS_ID)
            return static_cast<MtlBase*>(target_)->GetName() + L":" + className;
        return className.empty() ? L"<object>" : className;
    }

    std::optional<Value> GetProperty(std::wstring_view name) override {
        IParamBlock2* block = nullptr;
        const ParamDef* def = Find(name, block);
        if (!def) return std::nullopt;
        if (def->type == TYPE_FLOAT) return Value(double(block->GetFloat(def->ID)));
        const int value = block->GetInt(def->ID);
        return def->type == TYPE_BOOL ? Value(value != 0) : Value(value);
    }

    bool SetProperty(std::wstring_view name, const Value& value) override {
        IParamBlock2* block = nullptr;
        const ParamDef* def = Find(name, block);
        if (!def) return false;
        const std::wstring what = std::wstring(name) + L" of " + Describe();
        if (def->type == TYPE_BOOL) {
            if (!value.Boolean()) Fail(what + L" takes true or false, not " + value.Describe());
            block->SetValue(def->ID, 0, *value.Boolean() ? TRUE : FALSE);
        } else if (def->type == TYPE_INT) {
            if (!value.Integer()) Fail(what + L" takes a whole number, not " + value.Describe());
            block->SetValue(def->ID, 0, static_cast<int>(*value.Integer()));
        } else {
            if (!value.IsNumber()) Fail(what + L" takes a number, not " + value.Describe());
            block->SetValue(def->ID, 0, static_cast<float>(value.Number()));
        }
        return true;
    }

    const void* Identity() const override { return target_; }

  private:
    const ParamDef* Find(std::wstring_view name, IParamBlock2*& block) const {
        for (int i = 0; i < target_->NumParamBlocks(); ++i) {
            IParamBlock2* candidate = target_->GetParamBlock(i);
            const ParamBlockDesc2* desc = candidate ? candidate->GetDesc() : nullptr;
            if (!desc) continue;
            for (const ParamDef& def : desc->paramdefs) {
                if (def.int_name && SameName(def.int_name, name)) {
                    block = candidate;
                    return &def;
                }
            }
        }
        return nullptr;
    }

    ReferenceTarget* target_;
};

Value ToValue(const RendererProperty& property) {
    return std::visit(
        [](const auto& v) -> Value {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                return Value();
            } else if constexpr (std::is_same_v<T, ReferenceTarget*>) {
                return v ? Value(std::make_shared<HostObject>(v)) : Value();
            } else {
                return Value(v);
            }
        },
        property);
}

// A renderer keeps whatever properties scripts give it; one never set reads as undefined.
class RendererObject final : public ScriptObject {
  public:
    explicit RendererObject(SceneRenderer* renderer) : renderer_(renderer) {}
    std::wstring Describe() const override {
        return std::wstring(RendererClassName(renderer_->Type())) + L":renderer";
    }
    std::optional<Value> GetProperty(std::wstring_view name) override {
        const RendererProperty* property = renderer_->Property(name);
        return property ? ToValue(*property) : Value();
    }
    bool SetProperty(std::wstring_view name, const Value& value) override {
        renderer_->SetProperty(name, FromValue(name, value));
        return true;
    }
    const void* Identity() const override { return renderer_; }

  private:
    RendererProperty FromValue(std::wstring_view name, const Value& value) const {
        if (value.IsUndefined()) return std::monostate{};
        if (const bool* b = value.Boolean()) return *b;
        if (const long long* i = value.Integer()) return *i;
        if (const double* d = value.Float()) return *d;
        if (const std::wstring* s = value.String()) return *s;
        if (const ScriptName* n = value.Name()) return n->text;
        if (const auto* object = dynamic_cast<const HostObject*>(value.Object()))
            return object->Target();
        Fail(L"a renderer cannot keep " + value.Describe() + L" in " + std::wstring(name));
    }

    SceneRenderer* renderer_;
};

// The system global "renderers": .current is the scene's current renderer.
class RenderersObject final : public ScriptObject {
  public:
    explicit RenderersObject(HostInterface& host) : host_(host) {}
    std::wstring Describe() const override { return L"renderers"; }
    std::optional<Value> GetProperty(std::wstring_view name) override {
        if (!SameName(name, L"current") && !SameName(name, L"production")) return std::nullopt;
        auto* renderer = dynamic_cast<SceneRenderer*>(host_.GetCurrentRenderer(true));
        if (!renderer) Fail(L"no scene is open, so there is no current renderer");
        return Value(std::make_shared<RendererObject>(renderer));
    }

  private:
    HostInterface& host_;
};

// A plug-in class by its script name; calling it makes an object of the class.
class ClassObject final : public ScriptObject {
  public:
    // Maps made in the session are numbered through mapCount.
    ClassObject(ClassDesc* desc, int& mapCount) : desc_(desc), mapCount_(mapCount) {}
    std::wstring Describe() const override { return desc_->InternalName(); }
    bool IsCallable() const override { return true; }
    const void* Identity() const override { return desc_; }

    Value Call(const std::vector<Value>& arguments,
               const std::vector<NamedValue>& keywords) override {
        if (!arguments.empty()) Fail(Describe() + L"() takes no arguments, only name:value pairs");
        if (desc_->SuperClassID() != TEXMAP_CLASS_ID)
            Fail(L"this host's scripts cannot create objects of class " + Describe());
        void* made = desc_->Create(FALSE);
        if (!made) Fail(L"class " + Describe() + L" made no object");
        // Maps are handed over as their ReferenceTarget, the host's view of every map.
        auto* map = static_cast<MtlBase*>(static_cast<ReferenceTarget*>(made));
        AdoptPluginObject(map);
        if (map->GetName().empty()) map->SetName(L"Map #" + std::to_wstring(++mapCount_));
        auto object = std::make_shared<HostObject>(map);
        for (const NamedValue& keyword : keywords)
            if (!object->SetProperty(keyword.name, keyword.value))
                Fail(L"unknown property '" + keyword.name + L"' of " + object->Describe());
        return Value(object);
    }

  private:
    ClassDesc* desc_;
    int& mapCount_;
};

}  // namespace

class HostScripting::Environment final : public ScriptEnvironment {
  public:
    Environment(HostInterface& host, const ScriptOutput& output) : host_(host), output_(output) {}

    std::optional<Value> SystemGlobal(std::wstring_view name) override {
        if (SameName(name, L"renderers")) return Value(std::make_shared<RenderersObject>(host_));
        if (SameName(name, L"print")) return MakePrintFunction(output_);
        if (SameName(name, L"format")) return MakeFormatFunction(output_);
        if (SameName(name, L"matrix3")) return MakeMatrixConstructor();
        if (SameName(name, L"ok")) return OkValue();
        if (auto fpi = CoreInterfaceValue(name)) return fpi;
        if (ClassDesc* desc = host_.FindClassByName(name))
            return Value(std::make_shared<ClassObject>(desc, mapCount_));
        return std::nullopt;
    }

    std::optional<Value> Node(std::wstring_view path) override {
        INode* node = host_.GetINodeByName(std::wstring(path).c_str());
        if (!node) return std::nullopt;
        return Value(std::make_shared<NodeObject>(node));
    }

  private:
    HostInterface& host_;
    // The session's output as it is when the script writes.
    const ScriptOutput& output_;
    int mapCount_ = 0;
};

HostScripting::HostScripting(HostInterface& host)
    : environment_(std::make_unique<Environment>(host, output_)), runner_(*environment_) {
    SetOutput({});
}

HostScripting::~HostScripting() = default;

void HostScripting::SetOutput(std::function<void(std::wstring_view)> output) {
    if (!output) {
        output = [](std::wstring_view text) {
            std::fputs(ToUtf8(std::wstring(text)).c_str(), stdout);
            std::fflush(stdout);
        };
    }
    output_ = std::move(output);
}

ScriptResult HostScripting::Run(std::wstring_view text, bool quiet,
                                const std::function<void(const Value&)>& onStatement) {
    ScriptResult result = runner_.Run(text, onStatement);
    lastError_ = result.ok ? L"" : result.error.Describe();
    if (!result.ok && !quiet)
        std::fprintf(stderr, "Script error: %s\n", ToUtf8(lastError_).c_str());
    return result;
}

const std::vector<std::wstring>& ExecutedScripts() { return Scripts(); }
void ClearExecutedScripts() { Scripts().clear(); }

}  // namespace KorvoHost

BOOL ExecuteMAXScriptScript(const MCHAR* script, BOOL quietErrors, FPValue* fpv) {
    const std::wstring text = script ? script : L"";
    KorvoHost::Scripts().push_back(text);
    KorvoHost::HostInterface* host = KorvoHost::CurrentHostInterface();
    if (!host) return FALSE;
    const KorvoHost::ScriptResult result = host->Scripting().Run(text, quietErrors != FALSE);
    if (!result.ok) return FALSE;
    if (fpv) {
        const KorvoHost::Value& value = result.value;
        if (const bool* b = value.Boolean()) {
            fpv->LoadInt(TYPE_BOOL, *b ? TRUE : FALSE);
        } else if (const long long* i = value.Integer()) {
            fpv->LoadInt(TYPE_INT, static_cast<int>(*i));
        } else if (const double* d = value.Float()) {
            fpv->LoadInt(TYPE_FLOAT, 0);
            fpv->f = static_cast<float>(*d);
        } else if (const std::wstring* s = value.String()) {
            fpv->LoadString(*s);
        } else {
            *fpv = FPValue();
        }
    }
    return TRUE;
}
