// Shader declarations as the mental ray stand-in reads them from a ".mi" file beside a shader
// library:
//
//   declare shader
//       color "KorvoStereo" ( boolean "Left_Eye" default on, scalar "Gain" default 1.5 )
//       version 1
//       apply lens
//   end declare
//
// '#' starts a comment to the end of the line. Parameter types: boolean, integer, scalar,
// color, vector; the parameter block lays them out in order, each at a multiple of 4 bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace KorvoHost::MentalRay {

enum class ParameterType { Boolean, Integer, Scalar, Color, Vector };

struct ShaderParameter {
    std::string name;
    ParameterType type = ParameterType::Boolean;
    std::size_t offset = 0;       // in the parameter block
    std::vector<float> defaults;  // one value per component, zero when none was declared
};

struct ShaderDeclaration {
    std::string name;
    std::string resultType;  // "color", …
    int version = 0;
    std::vector<std::string> applies;  // "lens", "material", …
    std::vector<ShaderParameter> parameters;
    std::size_t blockSize = 0;

    bool AppliesAs(std::string_view kind) const;
    const ShaderParameter* Parameter(std::string_view name) const;
};

// Every declaration of the text, in order. False with error ("line 3: …") on text that does not
// follow the form above.
bool ParseShaderDeclarations(std::string_view text, std::vector<ShaderDeclaration>& declarations,
                             std::string& error);

// Components of a parameter type (a boolean is one 32-bit integer).
std::size_t ComponentCount(ParameterType type);

}  // namespace KorvoHost::MentalRay
