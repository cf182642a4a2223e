// Tokens of the script language: names, numbers, strings, node paths and operators, each with
// the line and column where it starts. Line ends are tokens too: they end statements.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace KorvoHost {

// 1-based; columns count characters.
struct SourcePos {
    int line = 1;
    int column = 1;
};

enum class TokenKind {
    Identifier,  // names and keywords alike; the parser tells them apart, ignoring case
    Integer,
    Float,
    String,
    NodePath,     // $Name or $'quoted name': text holds the name
    NameLiteral,  // #name
    Symbol,       // operators and punctuation: text holds them
    LineEnd,
    End,
};

struct Token {
    TokenKind kind = TokenKind::End;
    std::wstring text;
    long long integer = 0;
    double number = 0.0;
    SourcePos pos;
};

// A problem in the script text, where it was found.
struct ScriptError {
    SourcePos pos;
    std::wstring message;
    // "line 2, column 7: message"
    std::wstring Describe() const;
};

// Splits text into tokens, ending with an End token. False, with error set, on text that is no
// token (a stray character, an unterminated string or comment, a number out of range).
bool Tokenize(std::wstring_view text, std::vector<Token>& tokens, ScriptError& error);

}  // namespace KorvoHost
