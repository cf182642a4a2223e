#include "standalone_host/scene/scene_json.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

namespace KorvoHost {
namespace {

// Builds the document from parser events so that a key given twice in one object is caught
// (nlohmann's own parser keeps the last one silently).
class StrictBuilder {
  public:
    using number_integer_t = Json::number_integer_t;
    using number_unsigned_t = Json::number_unsigned_t;
    using number_float_t = Json::number_float_t;
    using string_t = Json::string_t;
    using binary_t = Json::binary_t;

    explicit StrictBuilder(std::string_view text) : text_(text) {}

    bool null() { return Add(nullptr); }
    bool boolean(bool v) { return Add(v); }
    bool number_integer(number_integer_t v) { return Add(v); }
    bool number_unsigned(number_unsigned_t v) { return Add(v); }
    bool number_float(number_float_t v, const string_t&) { return Add(v); }
    bool string(string_t& v) { return Add(v); }
    bool binary(binary_t& v) { return Add(Json::binary(v)); }
    bool start_object(std::size_t) { return Open(Json::object()); }
    bool start_array(std::size_t) { return Open(Json::array()); }
    bool end_object() { return Close(); }
    bool end_array() { return Close(); }
    bool key(string_t& k) {
        if (open_.back().value->contains(k)) {
            duplicate_ = SceneFileError(Place(), "the field \"" + k + "\" is given twice");
            return false;
        }
        key_ = k;
        return true;
    }
    bool parse_error(std::size_t position, const std::string&,
                     const nlohmann::detail::exception& ex) {
        syntax_ = JsonSyntaxError{};
        // Lines and columns of the byte before `position`, where the bad token ends.
        const std::size_t at = std::min(position > 0 ? position - 1 : 0, text_.size());
        syntax_->line =
            1 + static_cast<std::size_t>(std::count(text_.begin(), text_.begin() + at, '\n'));
        const std::size_t newline = at == 0 ? std::string_view::npos : text_.rfind('\n', at - 1);
        syntax_->column = newline == std::string_view::npos ? at + 1 : at - newline;
        std::string message = ex.what();
        const std::size_t colon = message.find(": ");
        syntax_->problem = colon == std::string::npos ? message : message.substr(colon + 2);
        return false;
    }

    Json root;
    std::optional<JsonSyntaxError> syntax_;
    std::optional<SceneFileError> duplicate_;

  private:
    // Each open container keeps only its own step of the place ("nodes", "[3]"), so that deep
    // nesting costs memory in proportion to its depth.
    struct Open_ {
        Json* value;
        std::string step;
    };

    std::string Place() const {
        std::string place;
        for (std::size_t i = 1; i < open_.size(); ++i) {  // [0] is the document itself
            const std::string& step = open_[i].step;
            if (i > 1 && (step.empty() || step.front() != '[')) place += '.';
            place += step;
        }
        return place;
    }

    // Where the next value goes and the step to it.
    std::pair<Json*, std::string> Slot() {
        if (open_.empty()) return {&root, ""};
        Json& parent = *open_.back().value;
        if (parent.is_array()) {
            std::string step = "[" + std::to_string(parent.size()) + "]";
            parent.push_back(nullptr);
            return {&parent.back(), std::move(step)};
        }
        return {&parent[key_], key_};
    }

    bool Add(Json value) {
        *Slot().first = std::move(value);
        return true;
    }
    bool Open(Json value) {
        auto [slot, step] = Slot();
        *slot = std::move(value);
        open_.push_back({slot, std::move(step)});
        return true;
    }
    bool Close() {
        open_.pop_back();
        return true;
    }

    std::string_view text_;
    std::vector<Open_> open_;
    std::string key_;
};

std::size_t EditDistance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                              std::tolower(static_cast<unsigned char>(b[j - 1]));
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::string Join(const std::vector<std::string>& words) {
    std::string out;
    for (const auto& word : words) out += (out.empty() ? "" : ", ") + word;
    return out;
}

std::string FormatNumber(double value) {
    char buffer[64];
    std::to_chars_result result;
    const float single = static_cast<float>(value);
    if (static_cast<double>(single) == value)
        result = std::to_chars(buffer, buffer + sizeof buffer, single);
    else
        result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, result.ptr);
    // Keeps it a float when read back: "2" would come back as an integer.
    if (text.find_first_of(".eE") == std::string::npos) text += ".0";
    return text;
}

bool IsScalar(const Json& value) { return !value.is_object() && !value.is_array(); }

bool IsFlat(const Json& value) {
    return IsScalar(value) ||
           (!value.is_object() && std::all_of(value.begin(), value.end(), IsScalar));
}

// Containers of scalars and flat arrays can go on one line.
bool IsShallow(const Json& value) {
    return !IsScalar(value) && std::all_of(value.begin(), value.end(), IsFlat);
}

void Format(const Json& value, int indent, std::size_t column, std::string& out);

std::string OneLine(const Json& value) {
    std::string out(1, value.is_array() ? '[' : '{');
    for (auto it = value.begin(); it != value.end(); ++it) {
        if (it != value.begin()) out += ", ";
        if (value.is_object()) out += Json(it.key()).dump() + ": ";
        Format(*it, 0, 0, out);
    }
    out += value.is_array() ? ']' : '}';
    return out;
}

// `column` is where the value starts on its line; objects go on one line when they fit in 100.
void Format(const Json& value, int indent, std::size_t column, std::string& out) {
    const std::string pad(static_cast<std::size_t>(indent) * 2, ' ');
    const std::string inner(static_cast<std::size_t>(indent + 1) * 2, ' ');
    if (value.is_number_float()) {
        out += FormatNumber(value.get<double>());
        return;
    }
    if (IsScalar(value)) {
        out += value.dump();
        return;
    }
    if (value.empty()) {
        out += value.is_array() ? "[]" : "{}";
        return;
    }
    if (IsShallow(value)) {
        const std::string line = OneLine(value);
        if (value.is_array() || column + line.size() <= 100) {
            out += line;
            return;
        }
    }
    out += value.is_array() ? "[\n" : "{\n";
    for (auto it = value.begin(); it != value.end(); ++it) {
        std::string lead = inner;
        if (value.is_object()) lead += Json(it.key()).dump() + ": ";
        out += lead;
        Format(*it, indent + 1, lead.size(), out);
        out += std::next(it) == value.end() ? "\n" : ",\n";
    }
    out += pad + (value.is_array() ? ']' : '}');
}

}  // namespace

Json ParseStrictJson(std::string_view text) {
    StrictBuilder builder(text);
    const bool ok = Json::sax_parse(text, &builder, nlohmann::detail::input_format_t::json,
                                    /*strict=*/true, /*ignore_comments=*/true);
    if (builder.duplicate_) throw *builder.duplicate_;
    if (builder.syntax_) throw *builder.syntax_;
    if (!ok) throw JsonSyntaxError{1, 1, "not a JSON document"};
    return std::move(builder.root);
}

std::string Describe(const Json& value) {
    switch (value.type()) {
        case Json::value_t::null:
            return "found null";
        case Json::value_t::object:
            return "found an object";
        case Json::value_t::array:
            return "found an array";
        default:
            break;
    }
    // Only scalars are shown: dumping a container recurses as deep as it nests.
    std::string shown = value.dump();
    if (shown.size() > 40) shown = shown.substr(0, 37) + "...";
    return value.is_string() ? "found a string (" + shown + ")" : "found " + shown;
}

std::string Suggest(std::string_view word, const std::vector<std::string>& candidates) {
    std::string best;
    std::size_t bestDistance = std::max<std::size_t>(2, word.size() / 3) + 1;
    for (const auto& candidate : candidates) {
        const std::size_t distance = EditDistance(word, candidate);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = candidate;
        }
    }
    return best;
}

// ---- Fields -------------------------------------------------------------------------------------

JsonObject::JsonObject(const Json& value, std::string place)
    : value_(value), place_(std::move(place)) {
    if (!value_.is_object())
        throw SceneFileError(place_, "expected an object, " + Describe(value_));
}

const Json* JsonObject::Find(std::string_view key) {
    if (std::find(known_.begin(), known_.end(), key) == known_.end()) known_.emplace_back(key);
    const auto it = value_.find(key);
    return it == value_.end() ? nullptr : &*it;
}

const Json& JsonObject::Get(std::string_view key) {
    const Json* value = Find(key);
    if (!value) throw SceneFileError(place_, "missing field \"" + std::string(key) + "\"");
    return *value;
}

std::string JsonObject::PlaceOf(std::string_view key) const {
    return place_.empty() ? std::string(key) : place_ + "." + std::string(key);
}

void JsonObject::RejectUnknownFields() const {
    for (auto it = value_.begin(); it != value_.end(); ++it) {
        if (std::find(known_.begin(), known_.end(), it.key()) != known_.end()) continue;
        std::string problem = "unknown field \"" + it.key() + "\"";
        const std::string suggestion = Suggest(it.key(), known_);
        if (!suggestion.empty()) problem += "; did you mean \"" + suggestion + "\"?";
        problem += " (fields here: " + Join(known_) + ")";
        throw SceneFileError(place_, problem);
    }
}

// ---- Values -------------------------------------------------------------------------------------

double ReadNumber(const Json& value, const std::string& place) {
    if (!value.is_number()) throw SceneFileError(place, "expected a number, " + Describe(value));
    const double number = value.get<double>();
    if (!std::isfinite(number)) throw SceneFileError(place, "the number is too large");
    return number;
}

float ReadFloat(const Json& value, const std::string& place) {
    const double number = ReadNumber(value, place);
    if (std::fabs(number) > std::numeric_limits<float>::max())
        throw SceneFileError(place, "the number is too large");
    return static_cast<float>(number);
}

std::int64_t ReadInteger(const Json& value, const std::string& place, std::int64_t min,
                         std::int64_t max) {
    const std::string range = " from " + std::to_string(min) + " to " + std::to_string(max);
    if (!value.is_number_integer())
        throw SceneFileError(place, "expected a whole number" + range + ", " + Describe(value));
    if (value.is_number_unsigned() && value.get<std::uint64_t>() > static_cast<std::uint64_t>(max))
        throw SceneFileError(place, "expected a whole number" + range + ", " + Describe(value));
    const std::int64_t number = value.get<std::int64_t>();
    if (number < min || number > max)
        throw SceneFileError(place, "expected a whole number" + range + ", " + Describe(value));
    return number;
}

bool ReadBool(const Json& value, const std::string& place) {
    if (!value.is_boolean())
        throw SceneFileError(place, "expected true or false, " + Describe(value));
    return value.get<bool>();
}

const std::string& ReadString(const Json& value, const std::string& place) {
    if (!value.is_string()) throw SceneFileError(place, "expected a string, " + Describe(value));
    return value.get_ref<const std::string&>();
}

std::vector<float> ReadFloats(const Json& value, const std::string& place, std::size_t count) {
    if (!value.is_array() || value.size() != count)
        throw SceneFileError(place, "expected an array of " + std::to_string(count) + " numbers, " +
                                        Describe(value));
    std::vector<float> numbers;
    for (std::size_t i = 0; i < count; ++i)
        numbers.push_back(ReadFloat(value[i], place + "[" + std::to_string(i) + "]"));
    return numbers;
}

std::size_t ReadChoice(const Json& value, const std::string& place, std::string_view what,
                       const std::vector<std::string>& names) {
    const std::string& text = ReadString(value, place);
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == text) return i;
    std::string problem = "unknown " + std::string(what) + " \"" + text + "\"";
    const std::string suggestion = Suggest(text, names);
    if (!suggestion.empty()) problem += "; did you mean \"" + suggestion + "\"?";
    problem += " (expected one of: " + Join(names) + ")";
    throw SceneFileError(place, problem);
}

std::string FormatJson(const Json& value) {
    std::string out;
    Format(value, 0, 0, out);
    out += '\n';
    return out;
}

}  // namespace KorvoHost
