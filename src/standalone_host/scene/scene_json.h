// Strict JSON for scene files: parsing that refuses duplicate keys, typed field access that names
// the place of every problem ("nodes[3].camera.fov"), and output that keeps floats exact and
// short.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace KorvoHost {

using Json = nlohmann::ordered_json;

// A problem at a place in the file; the loader adds the file name.
class SceneFileError : public std::runtime_error {
  public:
    SceneFileError(std::string place, const std::string& problem)
        : std::runtime_error(problem), place_(std::move(place)) {}
    const std::string& Place() const { return place_; }

  private:
    std::string place_;
};

// Not JSON at all; line and column count from 1.
struct JsonSyntaxError {
    std::size_t line = 0, column = 0;
    std::string problem;
};

// Parses JSON allowing comments. Throws JsonSyntaxError, or SceneFileError for a key given twice.
Json ParseStrictJson(std::string_view text);

// "found a string (\"wide\")" and the like, for messages.
std::string Describe(const Json& value);

// The closest of `candidates` to `word` when it is a likely typo, else empty.
std::string Suggest(std::string_view word, const std::vector<std::string>& candidates);

// Reads the fields of one JSON object, remembering which were asked for so that any other field
// can be refused.
class JsonObject {
  public:
    // Throws when `value` is not an object.
    JsonObject(const Json& value, std::string place);

    // The field, or null when it is absent.
    const Json* Find(std::string_view key);
    // Throws when the field is absent.
    const Json& Get(std::string_view key);
    bool Has(std::string_view key) const { return value_.contains(key); }
    // "nodes[3].camera" + ".fov"
    std::string PlaceOf(std::string_view key) const;
    const std::string& Place() const { return place_; }
    // Throws for the first field that was never asked for.
    void RejectUnknownFields() const;

  private:
    const Json& value_;
    std::string place_;
    std::vector<std::string> known_;
};

// Typed values; each throws a SceneFileError naming `place` when the value does not fit.
double ReadNumber(const Json& value, const std::string& place);
float ReadFloat(const Json& value, const std::string& place);
std::int64_t ReadInteger(const Json& value, const std::string& place, std::int64_t min,
                         std::int64_t max);
bool ReadBool(const Json& value, const std::string& place);
const std::string& ReadString(const Json& value, const std::string& place);
// An array of `count` numbers.
std::vector<float> ReadFloats(const Json& value, const std::string& place, std::size_t count);
// One of `names`; answers its index.
std::size_t ReadChoice(const Json& value, const std::string& place, std::string_view what,
                       const std::vector<std::string>& names);

// Writes JSON indented by two spaces, with short arrays of numbers on one line and floats in the
// shortest form that reads back as the same float.
// A number that holds a float's value exactly is written as that float's shortest form.
std::string FormatJson(const Json& value);

}  // namespace KorvoHost
