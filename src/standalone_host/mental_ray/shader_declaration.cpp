#include "standalone_host/mental_ray/shader_declaration.h"

#include <cctype>
#include <cstdlib>

namespace KorvoHost::MentalRay {
namespace {

struct Word {
    std::string text;
    bool quoted = false;
    int line = 1;
};

bool Split(std::string_view text, std::vector<Word>& words, std::string& error) {
    int line = 1;
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '\n') {
            ++line;
            ++i;
        } else if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (c == '#') {
            while (i < text.size() && text[i] != '\n') ++i;
        } else if (c == '"') {
            const std::size_t end = text.find('"', i + 1);
            if (end == std::string_view::npos ||
                text.substr(i, end - i).find('\n') != std::string_view::npos) {
                error = "line " + std::to_string(line) + ": a quoted name is not closed";
                return false;
            }
            words.push_back({std::string(text.substr(i + 1, end - i - 1)), true, line});
            i = end + 1;
        } else if (c == '(' || c == ')' || c == ',') {
            words.push_back({std::string(1, c), false, line});
            ++i;
        } else {
            std::size_t end = i;
            while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end])) &&
                   text[end] != '(' && text[end] != ')' && text[end] != ',' && text[end] != '#' &&
                   text[end] != '"')
                ++end;
            words.push_back({std::string(text.substr(i, end - i)), false, line});
            i = end;
        }
    }
    return true;
}

bool TypeOf(const std::string& word, ParameterType& type) {
    if (word == "boolean")
        type = ParameterType::Boolean;
    else if (word == "integer")
        type = ParameterType::Integer;
    else if (word == "scalar")
        type = ParameterType::Scalar;
    else if (word == "color")
        type = ParameterType::Color;
    else if (word == "vector")
        type = ParameterType::Vector;
    else
        return false;
    return true;
}

class Reader {
  public:
    Reader(std::vector<Word> words, std::string& error) : words_(std::move(words)), error_(error) {}

    bool Run(std::vector<ShaderDeclaration>& declarations) {
        while (at_ < words_.size()) {
            ShaderDeclaration declaration;
            if (!Declaration(declaration)) return false;
            declarations.push_back(std::move(declaration));
        }
        return true;
    }

  private:
    bool Fail(const std::string& message) {
        const int line =
            at_ < words_.size() ? words_[at_].line : (words_.empty() ? 1 : words_.back().line);
        error_ = "line " + std::to_string(line) + ": " + message;
        return false;
    }
    bool Is(const char* word) const {
        return at_ < words_.size() && !words_[at_].quoted && words_[at_].text == word;
    }
    bool Expect(const char* word) {
        if (!Is(word)) return Fail(std::string("expected '") + word + "'");
        ++at_;
        return true;
    }
    bool Quoted(std::string& out) {
        if (at_ >= words_.size() || !words_[at_].quoted) return Fail("expected a quoted name");
        out = words_[at_++].text;
        return true;
    }
    bool Number(float& out) {
        if (at_ >= words_.size()) return Fail("expected a number");
        const std::string& text = words_[at_].text;
        if (text == "on" || text == "true")
            out = 1.0f;
        else if (text == "off" || text == "false")
            out = 0.0f;
        else {
            char* end = nullptr;
            out = std::strtof(text.c_str(), &end);
            if (text.empty() || *end != '\0') return Fail("expected a number, not '" + text + "'");
        }
        ++at_;
        return true;
    }

    bool Declaration(ShaderDeclaration& d) {
        if (!Expect("declare") || !Expect("shader")) return false;
        if (at_ < words_.size() && !words_[at_].quoted) d.resultType = words_[at_++].text;
        if (!Quoted(d.name) || !Expect("(")) return false;
        std::size_t offset = 0;
        while (!Is(")")) {
            ShaderParameter p;
            if (at_ >= words_.size() || !TypeOf(words_[at_].text, p.type))
                return Fail("expected a parameter type (boolean, integer, scalar, color, vector)");
            ++at_;
            if (!Quoted(p.name)) return false;
            if (d.Parameter(p.name)) return Fail("parameter \"" + p.name + "\" is declared twice");
            p.defaults.assign(ComponentCount(p.type), 0.0f);
            if (Is("default")) {
                ++at_;
                for (float& value : p.defaults)
                    if (!Number(value)) return false;
            }
            p.offset = offset;
            offset += 4 * ComponentCount(p.type);
            d.parameters.push_back(std::move(p));
            if (Is(",")) {
                ++at_;
            } else if (!Is(")")) {
                return Fail("expected ',' or ')' after a parameter");
            }
        }
        ++at_;
        d.blockSize = offset;
        while (!Is("end")) {
            if (Is("version")) {
                ++at_;
                float version = 0.0f;
                if (!Number(version)) return false;
                d.version = static_cast<int>(version);
            } else if (Is("apply")) {
                ++at_;
                do {
                    if (at_ >= words_.size()) return Fail("expected what the shader applies as");
                    d.applies.push_back(words_[at_++].text);
                } while (Is(",") && ++at_);
            } else {
                return Fail("expected 'version', 'apply' or 'end declare'");
            }
        }
        return Expect("end") && Expect("declare");
    }

    std::vector<Word> words_;
    std::size_t at_ = 0;
    std::string& error_;
};

}  // namespace

std::size_t ComponentCount(ParameterType type) {
    switch (type) {
        case ParameterType::Color:
            return 4;
        case ParameterType::Vector:
            return 3;
        default:
            return 1;
    }
}

bool ShaderDeclaration::AppliesAs(std::string_view kind) const {
    for (const std::string& a : applies)
        if (a == kind) return true;
    return false;
}

const ShaderParameter* ShaderDeclaration::Parameter(std::string_view wanted) const {
    for (const ShaderParameter& p : parameters)
        if (p.name == wanted) return &p;
    return nullptr;
}

bool ParseShaderDeclarations(std::string_view text, std::vector<ShaderDeclaration>& declarations,
                             std::string& error) {
    declarations.clear();
    std::vector<Word> words;
    if (!Split(text, words, error)) return false;
    return Reader(std::move(words), error).Run(declarations);
}

}  // namespace KorvoHost::MentalRay
