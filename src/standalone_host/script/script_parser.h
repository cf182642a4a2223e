// Parses script text into a syntax tree. The language is a subset of the host's script language:
//
//   statement  := expr, separated by line ends or ';'
//   expr       := 'if' expr ('then' | 'do') expr ['else' expr] | destination op= expr | or
//   or, and, not, comparison (== != < > <= >=), + -, * /, ^, unary -
//   call       := operand '(' ')'  |  operand argument…   (arguments and name:value pairs on the
//                 same line)
//   operand    := number | string | #name | $node | name | true | false | undefined | null
//                 | '(' statements ')' , each followed by .property or [index] any number of times
//
// Keywords and names ignore case. Anything else (loops, functions, …) is refused with the line
// and column where it starts.
#pragma once

#include <string_view>

#include "standalone_host/script/script_ast.h"

namespace KorvoHost {

bool ParseScript(std::wstring_view text, Program& program, ScriptError& error);

// Whether two names are the same name in the script language (case does not count).
bool SameName(std::wstring_view a, std::wstring_view b);

}  // namespace KorvoHost
