#include "standalone_host/core/script_objects.h"

#include <cwchar>
#include <exception>
#include <vector>

#include "standalone_host/platform/utf8.h"
#include "standalone_host/script/script_parser.h"

namespace KorvoHost {
namespace {

[[noreturn]] void Fail(const std::wstring& message) { throw ScriptRuntimeError(message); }

std::wstring Number(float value) {
    wchar_t text[32];
    std::swprintf(text, 32, L"%g", static_cast<double>(value));
    return text;
}

std::wstring Point(const Point3& p) {
    return L"[" + Number(p.x) + L"," + Number(p.y) + L"," + Number(p.z) + L"]";
}

class OkObject final : public ScriptObject {
  public:
    std::wstring Describe() const override { return L"OK"; }
};

const char* TypeName(ParamType2 type) {
    switch (type) {
        case TYPE_INODE:
            return "a scene node";
        case TYPE_INT:
            return "a whole number";
        case TYPE_BOOL:
            return "true or false";
        case TYPE_FLOAT:
            return "a number";
        case TYPE_MATRIX3:
            return "a transform matrix";
        case TYPE_TSTR:
        case TYPE_TSTR_BV:
            return "a string";
        default:
            return "a value of a kind this host cannot pass";
    }
}

// The arguments of one call and the matrices they point to, which live as long as the call.
struct CallArguments {
    FPParams params;
    std::vector<std::unique_ptr<Matrix3>> matrices;
    std::vector<std::unique_ptr<MSTR>> texts;
};

// Converts one script value for a parameter; false when the value does not fit its type.
bool ToFunctionValue(const Value& value, ParamType2 type, CallArguments& call, FPValue& out) {
    switch (type) {
        case TYPE_INODE: {
            const auto* node = dynamic_cast<const NodeObject*>(value.Object());
            if (!node) return false;
            out.LoadNode(node->Node());
            return true;
        }
        case TYPE_INT:
            if (const long long* i = value.Integer()) {
                if (*i < INT32_MIN || *i > INT32_MAX) return false;
                out.LoadInt(TYPE_INT, static_cast<int>(*i));
                return true;
            }
            return false;
        case TYPE_BOOL:
            if (const bool* b = value.Boolean()) {
                out.LoadInt(TYPE_BOOL, *b ? TRUE : FALSE);
                return true;
            }
            return false;
        case TYPE_FLOAT:
            if (!value.IsNumber()) return false;
            out.LoadInt(TYPE_FLOAT, 0);
            out.f = static_cast<float>(value.Number());
            return true;
        case TYPE_MATRIX3: {
            const auto* matrix = dynamic_cast<const MatrixObject*>(value.Object());
            if (!matrix) return false;
            // A copy: what the function writes into it stays with the call.
            call.matrices.push_back(std::make_unique<Matrix3>(matrix->Matrix()));
            out.LoadMatrix(call.matrices.back().get());
            return true;
        }
        case TYPE_TSTR_BV:
            if (!value.String()) return false;
            out.LoadString(*value.String());
            return true;
        case TYPE_TSTR:
            if (!value.String()) return false;
            call.texts.push_back(std::make_unique<MSTR>(*value.String()));
            out.LoadInt(TYPE_TSTR, 0);
            out.tstr = call.texts.back().get();
            return true;
        default:
            return false;
    }
}

std::wstring ParameterList(const FPFunctionDef& def) {
    std::wstring list;
    for (const FPFunctionDef::Param& param : def.params)
        list += (list.empty() ? L"" : L", ") + param.internalName;
    return list;
}

FPInterface* Resolve(Interface_ID id, const std::wstring& name) {
    FPInterface* fpi = GetCOREInterface(id);
    if (!fpi || !fpi->GetDesc()) Fail(L"the interface " + name + L" is no longer loaded");
    return fpi;
}

// One published function of a core interface.
class FunctionObject final : public ScriptObject {
  public:
    FunctionObject(Interface_ID id, std::wstring interfaceName, FunctionID fid, std::wstring name)
        : id_(id), interfaceName_(std::move(interfaceName)), fid_(fid), name_(std::move(name)) {}
    std::wstring Describe() const override { return interfaceName_ + L"." + name_; }
    bool IsCallable() const override { return true; }

    Value Call(const std::vector<Value>& arguments,
               const std::vector<NamedValue>& keywords) override {
        FPInterface* fpi = Resolve(id_, interfaceName_);
        const FPFunctionDef* def = nullptr;
        for (const FPFunctionDef& candidate : fpi->GetDesc()->functions)
            if (candidate.id == fid_) def = &candidate;
        if (!def) Fail(Describe() + L" is no longer published");
        const std::wstring what = Describe();
        if (!keywords.empty())
            Fail(what + L" takes no name:value arguments ('" + keywords.front().name + L":')");
        if (arguments.size() != def->params.size()) {
            const std::wstring list = ParameterList(*def);
            Fail(what + L" takes " + std::to_wstring(def->params.size()) +
                 (def->params.size() == 1 ? L" argument" : L" arguments") +
                 (list.empty() ? L"" : L" (" + list + L")") + L", not " +
                 std::to_wstring(arguments.size()));
        }

        CallArguments call;
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            const FPFunctionDef::Param& param = def->params[i];
            FPValue value;
            if (!ToFunctionValue(arguments[i], param.type, call, value)) {
                Fail(what + L": argument " + std::to_wstring(i + 1) + L" (" + param.internalName +
                     L") needs " + FromUtf8(TypeName(param.type)) + L", not " +
                     arguments[i].Describe());
            }
            call.params.params.Append(1, &value);
        }

        FPValue result;
        FPStatus status = FPS_FAIL;
        try {
            status = fpi->Invoke(fid_, 0, result, &call.params);
        } catch (const std::exception& e) {
            Fail(what + L": " + FromUtf8(e.what()));
        }
        if (status == FPS_NO_SUCH_FUNCTION) Fail(what + L": the interface has no such function");
        if (status != FPS_OK) Fail(what + L" failed");
        return FromFunctionValue(result);
    }

  private:
    Interface_ID id_;
    std::wstring interfaceName_;
    FunctionID fid_;
    std::wstring name_;
};

class PrintFunction final : public ScriptObject {
  public:
    explicit PrintFunction(ScriptOutput output) : output_(std::move(output)) {}
    std::wstring Describe() const override { return L"print"; }
    bool IsCallable() const override { return true; }
    Value Call(const std::vector<Value>& arguments, const std::vector<NamedValue>&) override {
        if (arguments.size() != 1) Fail(L"print takes one value");
        output_(arguments[0].Describe() + L"\n");
        return arguments[0];
    }

  private:
    ScriptOutput output_;
};

// format "text % and %\n" a b: each % takes the text of the next value, strings without quotes.
class FormatFunction final : public ScriptObject {
  public:
    explicit FormatFunction(ScriptOutput output) : output_(std::move(output)) {}
    std::wstring Describe() const override { return L"format"; }
    bool IsCallable() const override { return true; }
    Value Call(const std::vector<Value>& arguments, const std::vector<NamedValue>&) override {
        if (arguments.empty() || !arguments[0].String())
            Fail(L"format needs a format string first");
        std::wstring text;
        std::size_t next = 1;
        for (wchar_t c : *arguments[0].String()) {
            if (c != L'%') {
                text += c;
                continue;
            }
            if (next >= arguments.size()) Fail(L"format has more % than values");
            const Value& value = arguments[next++];
            text += value.String() ? *value.String() : value.Describe();
        }
        if (next != arguments.size()) Fail(L"format has more values than %");
        output_(text);
        return OkValue();
    }

  private:
    ScriptOutput output_;
};

class MatrixConstructor final : public ScriptObject {
  public:
    std::wstring Describe() const override { return L"matrix3"; }
    bool IsCallable() const override { return true; }
    Value Call(const std::vector<Value>& arguments, const std::vector<NamedValue>&) override {
        const long long* kind = arguments.size() == 1 ? arguments[0].Integer() : nullptr;
        if (!kind || (*kind != 0 && *kind != 1))
            Fail(L"matrix3 takes 1 (the identity) or 0 (all zero)");
        if (*kind == 1) return Value(std::make_shared<MatrixObject>(Matrix3()));
        return Value(std::make_shared<MatrixObject>(Matrix3({}, {}, {}, {})));
    }
};

}  // namespace

std::wstring NodeObject::Describe() const { return L"$" + std::wstring(node_->GetName()); }

std::optional<Value> NodeObject::GetProperty(std::wstring_view name) {
    if (SameName(name, L"name")) return Value(std::wstring(node_->GetName()));
    if (SameName(name, L"transform"))
        return Value(std::make_shared<MatrixObject>(node_->GetNodeTM(0)));
    if (SameName(name, L"target")) {
        INode* target = node_->GetTarget();
        return target ? Value(std::make_shared<NodeObject>(target)) : Value();
    }
    return std::nullopt;
}

std::wstring MatrixObject::Describe() const {
    return L"(matrix3 " + Point(matrix_.GetRow(0)) + L" " + Point(matrix_.GetRow(1)) + L" " +
           Point(matrix_.GetRow(2)) + L" " + Point(matrix_.GetRow(3)) + L")";
}

bool MatrixObject::Equals(const ScriptObject& other) const {
    const auto* matrix = dynamic_cast<const MatrixObject*>(&other);
    return matrix && matrix->matrix_ == matrix_;
}

Value OkValue() {
    static const auto ok = std::make_shared<OkObject>();
    return Value(std::shared_ptr<ScriptObject>(ok));
}

Value FromFunctionValue(const FPValue& value) {
    switch (value.type) {
        case TYPE_VOID:
            return OkValue();
        case TYPE_BOOL:
            return Value(value.i != 0);
        case TYPE_INT:
            return Value(value.i);
        case TYPE_FLOAT:
            return Value(static_cast<double>(value.f));
        case TYPE_INODE:
            return value.n ? Value(std::make_shared<NodeObject>(value.n)) : Value();
        case TYPE_MATRIX3:
            return value.m ? Value(std::make_shared<MatrixObject>(*value.m)) : Value();
        case TYPE_TSTR:
        case TYPE_TSTR_BV:
            return value.tstr ? Value(*value.tstr) : Value();
        default:
            return Value();
    }
}

std::optional<Value> InterfaceObject::GetProperty(std::wstring_view name) {
    FPInterface* fpi = Resolve(id_, name_);
    const FPInterfaceDesc* desc = fpi->GetDesc();
    for (const FPFunctionDef& def : desc->functions) {
        if (SameName(def.internalName, name))
            return Value(std::make_shared<FunctionObject>(id_, name_, def.id, def.internalName));
    }
    std::wstring offered;
    for (const FPFunctionDef& def : desc->functions)
        offered += (offered.empty() ? L"" : L", ") + def.internalName;
    Fail(L"the interface " + name_ + L" has no function '" + std::wstring(name) + L"' (it has " +
         offered + L")");
}

const void* InterfaceObject::Identity() const { return GetCOREInterface(id_); }

std::optional<Value> CoreInterfaceValue(std::wstring_view name) {
    // The latest registration of a name wins, as for lookups by id.
    for (int i = NumCOREInterfaces() - 1; i >= 0; --i) {
        FPInterface* fpi = GetCOREInterfaceAt(i);
        const FPInterfaceDesc* desc = fpi ? fpi->GetDesc() : nullptr;
        if (desc && SameName(desc->internal_name, name))
            return Value(std::make_shared<InterfaceObject>(desc->ID, desc->internal_name));
    }
    return std::nullopt;
}

Value MakePrintFunction(const ScriptOutput& output) {
    return Value(std::make_shared<PrintFunction>(output));
}
Value MakeFormatFunction(const ScriptOutput& output) {
    return Value(std::make_shared<FormatFunction>(output));
}
Value MakeMatrixConstructor() { return Value(std::make_shared<MatrixConstructor>()); }

}  // namespace KorvoHost
