// The syntax tree of a script: every expression knows where it starts in the text.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "standalone_host/script/script_lexer.h"

namespace KorvoHost {

struct Expr;
using ExprPtr = std::unique_ptr<Expr>;

enum class ExprKind {
    Undefined,  // undefined, null
    Boolean,    // true, false
    Integer,
    Float,
    String,
    NameLiteral,  // #name
    Global,       // name: a variable or a system global
    NodeRef,      // $Name
    Property,     // operands[0].name
    Index,        // operands[0][operands[1]]
    Call,         // operands[0] with arguments operands[1..] and keyword arguments
    Assign,       // operands[0] (a destination) op= operands[1]; op is "=", "+=", …
    If,           // if operands[0] then operands[1] [else operands[2]]
    Binary,       // operands[0] op operands[1]: arithmetic, comparison, and, or
    Unary,        // op operands[0]: "-", "not"
    Sequence,     // ( a; b; … ): the value of the last
};

struct KeywordArgument {
    std::wstring name;
    ExprPtr value;
    SourcePos pos;
};

struct Expr {
    ExprKind kind = ExprKind::Undefined;
    SourcePos pos;
    std::wstring
        name;  // Global, NodeRef, Property, NameLiteral, String; op for Assign/Binary/Unary
    bool boolean = false;
    long long integer = 0;
    double number = 0.0;
    std::vector<ExprPtr> operands;
    std::vector<KeywordArgument> keywords;  // Call
};

// A whole script: its top-level expressions in order.
struct Program {
    std::vector<ExprPtr> statements;
};

}  // namespace KorvoHost
