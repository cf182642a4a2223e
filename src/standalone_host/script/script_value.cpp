#include "standalone_host/script/script_value.h"

#include <cmath>
#include <cwchar>

#include "standalone_host/script/script_parser.h"

namespace KorvoHost {

ScriptObject* Value::Object() const {
    const auto* object = SharedObject();
    return object ? object->get() : nullptr;
}

std::wstring Value::Describe() const {
    if (IsUndefined()) return L"undefined";
    if (const bool* b = Boolean()) return *b ? L"true" : L"false";
    if (const long long* i = Integer()) return std::to_wstring(*i);
    if (const double* d = Float()) {
        wchar_t text[64];
        std::swprintf(text, 64, L"%g", *d);
        std::wstring s = text;
        // A float keeps its point so that it reads back as a float.
        if (std::isfinite(*d) && s.find_first_of(L".e") == std::wstring::npos) s += L".0";
        return s;
    }
    if (const std::wstring* s = String()) return L"\"" + *s + L"\"";
    if (const ScriptName* n = Name()) return L"#" + n->text;
    if (ScriptObject* o = Object()) return o->Describe();
    return L"undefined";
}

bool ScriptEquals(const Value& a, const Value& b) {
    if (a.IsUndefined() || b.IsUndefined()) return a.IsUndefined() && b.IsUndefined();
    if (a.IsNumber() && b.IsNumber()) {
        if (a.Integer() && b.Integer()) return *a.Integer() == *b.Integer();
        return a.Number() == b.Number();
    }
    if (a.Boolean() && b.Boolean()) return *a.Boolean() == *b.Boolean();
    if (a.String() && b.String()) return *a.String() == *b.String();
    if (a.Name() && b.Name()) return SameName(a.Name()->text, b.Name()->text);
    if (a.Object() && b.Object()) return a.Object()->Equals(*b.Object());
    return false;
}

std::optional<Value> ScriptObject::GetProperty(std::wstring_view) { return std::nullopt; }
bool ScriptObject::SetProperty(std::wstring_view, const Value&) { return false; }

Value ScriptObject::Call(const std::vector<Value>&, const std::vector<NamedValue>&) {
    throw ScriptRuntimeError(Describe() + L" cannot be called");
}

}  // namespace KorvoHost
