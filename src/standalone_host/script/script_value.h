// Values of the script language: undefined, booleans, numbers, strings, names, and objects the
// host hands to scripts (classes, renderers, scene objects, interfaces).
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace KorvoHost {

class ScriptObject;

struct Undefined {
    bool operator==(const Undefined&) const = default;
};
// #name
struct ScriptName {
    std::wstring text;
};

class Value {
  public:
    Value() = default;
    Value(bool b) : data_(b) {}
    Value(int i) : data_(static_cast<long long>(i)) {}
    Value(long long i) : data_(i) {}
    Value(double d) : data_(d) {}
    Value(std::wstring s) : data_(std::move(s)) {}
    Value(ScriptName n) : data_(std::move(n)) {}
    Value(std::shared_ptr<ScriptObject> o) : data_(std::move(o)) {}

    bool IsUndefined() const { return std::holds_alternative<Undefined>(data_); }
    const bool* Boolean() const { return std::get_if<bool>(&data_); }
    const long long* Integer() const { return std::get_if<long long>(&data_); }
    const double* Float() const { return std::get_if<double>(&data_); }
    const std::wstring* String() const { return std::get_if<std::wstring>(&data_); }
    const ScriptName* Name() const { return std::get_if<ScriptName>(&data_); }
    ScriptObject* Object() const;
    const std::shared_ptr<ScriptObject>* SharedObject() const {
        return std::get_if<std::shared_ptr<ScriptObject>>(&data_);
    }
    bool IsNumber() const { return Integer() || Float(); }
    double Number() const {
        return Integer() ? static_cast<double>(*Integer()) : Float() ? *Float() : 0.0;
    }

    // As the listener shows it: true, 42, 1.5, "text", #name, undefined, or the object's own text.
    std::wstring Describe() const;

  private:
    std::variant<Undefined, bool, long long, double, std::wstring, ScriptName,
                 std::shared_ptr<ScriptObject>>
        data_;
};

// The script language's ==: numbers by value, strings and names by text (names ignoring case),
// objects by what they stand for, undefined only with undefined.
bool ScriptEquals(const Value& a, const Value& b);

// A failure while running a script; the runner adds where it happened.
class ScriptRuntimeError : public std::runtime_error {
  public:
    explicit ScriptRuntimeError(std::wstring message)
        : std::runtime_error("script error"), message_(std::move(message)) {}
    const std::wstring& Message() const { return message_; }

  private:
    std::wstring message_;
};

struct NamedValue {
    std::wstring name;
    Value value;
};

// Something of the host that scripts can reach: its properties, and a call when it is callable.
// Members throw ScriptRuntimeError for what they refuse.
class ScriptObject {
  public:
    virtual ~ScriptObject() = default;
    virtual std::wstring Describe() const = 0;
    // The property's value, or nothing when the object has no such property.
    virtual std::optional<Value> GetProperty(std::wstring_view name);
    // False when the object has no such property.
    virtual bool SetProperty(std::wstring_view name, const Value& value);
    virtual bool IsCallable() const { return false; }
    virtual Value Call(const std::vector<Value>& arguments,
                       const std::vector<NamedValue>& keywords);
    // What the object stands for: two values are equal when this is.
    virtual const void* Identity() const { return this; }
    // The script language's == between objects; values such as matrices compare their contents.
    virtual bool Equals(const ScriptObject& other) const { return Identity() == other.Identity(); }
};

}  // namespace KorvoHost
