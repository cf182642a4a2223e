// Script values of the host's own things: scene nodes, transform matrices, the OK that functions
// without a value answer, and core interfaces with their published functions.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "host/function_publishing.h"
#include "host/geom.h"
#include "host/scene.h"
#include "standalone_host/script/script_value.h"

namespace KorvoHost {

// $Name: .name, .transform (a copy), .target (undefined for a free node).
class NodeObject final : public ScriptObject {
  public:
    explicit NodeObject(INode* node) : node_(node) {}
    INode* Node() const { return node_; }
    std::wstring Describe() const override;
    std::optional<Value> GetProperty(std::wstring_view name) override;
    const void* Identity() const override { return node_; }

  private:
    INode* node_;
};

// A transform matrix, a value of its own: equal to another one with the same rows.
class MatrixObject final : public ScriptObject {
  public:
    explicit MatrixObject(const Matrix3& matrix) : matrix_(matrix) {}
    const Matrix3& Matrix() const { return matrix_; }
    // (matrix3 [1,0,0] [0,1,0] [0,0,1] [0,0,0])
    std::wstring Describe() const override;
    bool Equals(const ScriptObject& other) const override;

  private:
    Matrix3 matrix_;
};

// What a call that delivers no value answers.
Value OkValue();

// The value a script sees for a published function's result; OK for none.
Value FromFunctionValue(const FPValue& value);

// A core interface by its script name; its functions are its properties. The interface is looked
// up again at every use, so a value kept after its module unloaded reports that instead of
// calling into nothing.
class InterfaceObject final : public ScriptObject {
  public:
    InterfaceObject(Interface_ID id, std::wstring name) : id_(id), name_(std::move(name)) {}
    std::wstring Describe() const override { return L"<Interface:" + name_ + L">"; }
    std::optional<Value> GetProperty(std::wstring_view name) override;
    const void* Identity() const override;

  private:
    Interface_ID id_;
    std::wstring name_;
};

// The registered core interface with that script name (case does not count), or nothing.
std::optional<Value> CoreInterfaceValue(std::wstring_view name);

// print and format: they write through the given output.
using ScriptOutput = std::function<void(std::wstring_view)>;
Value MakePrintFunction(const ScriptOutput& output);
Value MakeFormatFunction(const ScriptOutput& output);
// matrix3 1 (the identity) and matrix3 0 (all zero).
Value MakeMatrixConstructor();

}  // namespace KorvoHost
