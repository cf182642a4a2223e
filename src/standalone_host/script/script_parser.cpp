#include "standalone_host/script/script_parser.h"

#include <algorithm>
#include <cwctype>
#include <initializer_list>

namespace KorvoHost {

bool SameName(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](wchar_t x, wchar_t y) { return std::towlower(x) == std::towlower(y); });
}

namespace {

// Words of the host's language this runner does not take; a script using them is refused where
// the word stands rather than misread.
constexpr std::wstring_view kUnsupportedWords[] = {
    L"for",     L"while",    L"fn",      L"function", L"struct",     L"case",
    L"try",     L"catch",    L"local",   L"global",   L"persistent", L"return",
    L"exit",    L"continue", L"rollout", L"utility",  L"plugin",     L"macroscript",
    L"tool",    L"with",     L"at",      L"in",       L"coordsys",   L"about",
    L"animate", L"undo",     L"set",     L"mapped",   L"collect",    L"where",
    L"of",      L"to",       L"by",      L"throw",    L"when",       L"on"};
// Words with a meaning of their own in the statements this runner takes.
constexpr std::wstring_view kKeywords[] = {L"if",  L"then", L"else",  L"do",        L"and", L"or",
                                           L"not", L"true", L"false", L"undefined", L"null"};

bool IsOneOf(std::wstring_view word, std::initializer_list<std::wstring_view> words) {
    return std::any_of(words.begin(), words.end(),
                       [&](std::wstring_view w) { return SameName(w, word); });
}
template <std::size_t N>
bool IsOneOf(std::wstring_view word, const std::wstring_view (&words)[N]) {
    return std::any_of(std::begin(words), std::end(words),
                       [&](std::wstring_view w) { return SameName(w, word); });
}

ExprPtr Make(ExprKind kind, SourcePos pos) {
    auto expr = std::make_unique<Expr>();
    expr->kind = kind;
    expr->pos = pos;
    return expr;
}

// Thrown inside the parser only; ParseScript turns it into its answer.
struct ParseFailure {
    ScriptError error;
};

// Bounds the parser's recursion, so that a hostile script cannot exhaust the stack.
constexpr int kMaxNesting = 200;

class Parser {
  public:
    explicit Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

    Program ParseProgram() {
        Program program;
        ParseStatements(program.statements, /*closing=*/false);
        return program;
    }

  private:
    const Token& Peek(std::size_t ahead = 0) const {
        return tokens_[std::min(at_ + ahead, tokens_.size() - 1)];
    }
    const Token& Take() {
        const Token& token = tokens_[at_];
        if (at_ + 1 < tokens_.size()) ++at_;
        return token;
    }
    bool IsSymbol(const Token& t, std::wstring_view s) const {
        return t.kind == TokenKind::Symbol && t.text == s;
    }
    bool IsWord(const Token& t, std::wstring_view word) const {
        return t.kind == TokenKind::Identifier && SameName(t.text, word);
    }
    void SkipLineEnds() {
        while (Peek().kind == TokenKind::LineEnd) Take();
    }

    class Nesting {
      public:
        explicit Nesting(Parser& parser) : parser_(parser) {
            if (++parser_.depth_ > kMaxNesting)
                parser_.Fail(parser_.Peek().pos, L"the script nests too deep");
        }
        ~Nesting() { --parser_.depth_; }

      private:
        Parser& parser_;
    };

    [[noreturn]] void Fail(SourcePos pos, std::wstring message) {
        throw ParseFailure{{pos, std::move(message)}};
    }
    [[noreturn]] void Unexpected(const Token& token) {
        switch (token.kind) {
            case TokenKind::LineEnd:
                Fail(token.pos, L"unexpected end of line");
            case TokenKind::End:
                Fail(token.pos, L"unexpected end of the script");
            case TokenKind::String:
                Fail(token.pos, L"unexpected string \"" + token.text + L"\"");
            case TokenKind::NodePath:
                Fail(token.pos, L"unexpected $" + token.text);
            case TokenKind::NameLiteral:
                Fail(token.pos, L"unexpected #" + token.text);
            default:
                Fail(token.pos, L"unexpected '" + token.text + L"'");
        }
    }

    // Statements up to the end of the script or, when closing, up to a ')'.
    void ParseStatements(std::vector<ExprPtr>& statements, bool closing) {
        for (;;) {
            while (Peek().kind == TokenKind::LineEnd || IsSymbol(Peek(), L";")) Take();
            if (Peek().kind == TokenKind::End) {
                if (closing) Fail(Peek().pos, L"'(' is not closed with ')'");
                return;
            }
            if (closing && IsSymbol(Peek(), L")")) return;
            statements.push_back(ParseExpr());
            const Token& next = Peek();
            const bool separated = next.kind == TokenKind::LineEnd || next.kind == TokenKind::End ||
                                   IsSymbol(next, L";") || (closing && IsSymbol(next, L")"));
            if (!separated) Unexpected(next);
        }
    }

    ExprPtr ParseExpr() {
        const Nesting nesting(*this);
        if (IsWord(Peek(), L"if")) return ParseIf();
        ExprPtr target = ParseOr();
        const Token& next = Peek();
        if (next.kind == TokenKind::Symbol &&
            IsOneOf(next.text, {L"=", L"+=", L"-=", L"*=", L"/="})) {
            if (target->kind != ExprKind::Global && target->kind != ExprKind::Property &&
                target->kind != ExprKind::Index) {
                Fail(next.pos,
                     L"the left side of '" + next.text + L"' is not a variable or property");
            }
            auto assign = Make(ExprKind::Assign, target->pos);
            assign->name = Take().text;
            SkipLineEnds();
            assign->operands.push_back(std::move(target));
            assign->operands.push_back(ParseExpr());
            return assign;
        }
        return target;
    }

    ExprPtr ParseIf() {
        auto expr = Make(ExprKind::If, Take().pos);
        SkipLineEnds();
        expr->operands.push_back(ParseExpr());
        SkipLineEnds();
        const bool then = IsWord(Peek(), L"then");
        if (!then && !IsWord(Peek(), L"do")) {
            Fail(Peek().pos, L"expected 'then' or 'do' after the test of 'if'");
        }
        Take();
        SkipLineEnds();
        expr->operands.push_back(ParseExpr());
        if (then) {
            // 'else' may stand on a line of its own.
            const std::size_t mark = at_;
            SkipLineEnds();
            if (IsWord(Peek(), L"else")) {
                Take();
                SkipLineEnds();
                expr->operands.push_back(ParseExpr());
            } else {
                at_ = mark;
            }
        }
        return expr;
    }

    ExprPtr Binary(std::wstring op, ExprPtr left, ExprPtr right) {
        auto expr = Make(ExprKind::Binary, left->pos);
        expr->name = std::move(op);
        expr->operands.push_back(std::move(left));
        expr->operands.push_back(std::move(right));
        return expr;
    }

    ExprPtr ParseOr() {
        ExprPtr left = ParseAnd();
        while (IsWord(Peek(), L"or")) {
            Take();
            SkipLineEnds();
            left = Binary(L"or", std::move(left), ParseAnd());
        }
        return left;
    }

    ExprPtr ParseAnd() {
        ExprPtr left = ParseNot();
        while (IsWord(Peek(), L"and")) {
            Take();
            SkipLineEnds();
            left = Binary(L"and", std::move(left), ParseNot());
        }
        return left;
    }

    ExprPtr ParseNot() {
        const Nesting nesting(*this);
        if (!IsWord(Peek(), L"not")) return ParseComparison();
        auto expr = Make(ExprKind::Unary, Take().pos);
        expr->name = L"not";
        expr->operands.push_back(ParseNot());
        return expr;
    }

    ExprPtr ParseComparison() {
        ExprPtr left = ParseSum();
        const Token& next = Peek();
        if (next.kind == TokenKind::Symbol &&
            IsOneOf(next.text, {L"==", L"!=", L"<", L">", L"<=", L">="})) {
            std::wstring op = Take().text;
            SkipLineEnds();
            left = Binary(std::move(op), std::move(left), ParseSum());
        }
        return left;
    }

    ExprPtr ParseSum() {
        ExprPtr left = ParseProduct();
        while (IsSymbol(Peek(), L"+") || IsSymbol(Peek(), L"-")) {
            std::wstring op = Take().text;
            SkipLineEnds();
            left = Binary(std::move(op), std::move(left), ParseProduct());
        }
        return left;
    }

    ExprPtr ParseProduct() {
        ExprPtr left = ParsePower();
        while (IsSymbol(Peek(), L"*") || IsSymbol(Peek(), L"/")) {
            std::wstring op = Take().text;
            SkipLineEnds();
            left = Binary(std::move(op), std::move(left), ParsePower());
        }
        return left;
    }

    ExprPtr ParsePower() {
        const Nesting nesting(*this);
        ExprPtr base = ParseUnary();
        if (!IsSymbol(Peek(), L"^")) return base;
        Take();
        SkipLineEnds();
        return Binary(L"^", std::move(base), ParsePower());
    }

    ExprPtr ParseUnary() {
        const Nesting nesting(*this);
        if (!IsSymbol(Peek(), L"-")) return ParseCall();
        auto expr = Make(ExprKind::Unary, Take().pos);
        expr->name = L"-";
        expr->operands.push_back(ParseUnary());
        return expr;
    }

    bool StartsOperand(const Token& t) const {
        switch (t.kind) {
            case TokenKind::Integer:
            case TokenKind::Float:
            case TokenKind::String:
            case TokenKind::NodePath:
            case TokenKind::NameLiteral:
                return true;
            case TokenKind::Identifier:
                return !IsOneOf(t.text, kKeywords) ||
                       IsOneOf(t.text, {L"true", L"false", L"undefined", L"null"});
            case TokenKind::Symbol:
                return t.text == L"(";
            default:
                return false;
        }
    }

    ExprPtr ParseCall() {
        ExprPtr callee = ParsePostfix();
        const bool callable = callee->kind == ExprKind::Global ||
                              callee->kind == ExprKind::Property ||
                              callee->kind == ExprKind::NodeRef;
        if (!callable) return callee;
        if (IsSymbol(Peek(), L"(") && IsSymbol(Peek(1), L")")) {
            // f (): a call without arguments
            Take();
            Take();
            auto call = Make(ExprKind::Call, callee->pos);
            call->operands.push_back(std::move(callee));
            return ParsePostfixOf(std::move(call));
        }
        if (!StartsOperand(Peek())) return callee;
        auto call = Make(ExprKind::Call, callee->pos);
        call->operands.push_back(std::move(callee));
        while (StartsOperand(Peek())) {
            if (Peek().kind == TokenKind::Identifier && IsSymbol(Peek(1), L":")) {
                KeywordArgument keyword;
                keyword.pos = Peek().pos;
                keyword.name = Take().text;
                Take();
                if (!StartsOperand(Peek())) Unexpected(Peek());
                keyword.value = ParsePostfix();
                call->keywords.push_back(std::move(keyword));
            } else {
                call->operands.push_back(ParsePostfix());
            }
        }
        return call;
    }

    ExprPtr ParsePostfix() { return ParsePostfixOf(ParsePrimary()); }

    ExprPtr ParsePostfixOf(ExprPtr expr) {
        for (;;) {
            if (IsSymbol(Peek(), L".")) {
                Take();
                const Token& name = Peek();
                if (name.kind != TokenKind::Identifier)
                    Fail(name.pos, L"expected a property name after '.'");
                auto property = Make(ExprKind::Property, expr->pos);
                property->name = Take().text;
                property->operands.push_back(std::move(expr));
                expr = std::move(property);
            } else if (IsSymbol(Peek(), L"[")) {
                Take();
                SkipLineEnds();
                auto index = Make(ExprKind::Index, expr->pos);
                index->operands.push_back(std::move(expr));
                index->operands.push_back(ParseExpr());
                SkipLineEnds();
                if (!IsSymbol(Peek(), L"]")) Fail(Peek().pos, L"'[' is not closed with ']'");
                Take();
                expr = std::move(index);
            } else {
                return expr;
            }
        }
    }

    ExprPtr ParsePrimary() {
        const Token& token = Peek();
        switch (token.kind) {
            case TokenKind::Integer: {
                auto expr = Make(ExprKind::Integer, token.pos);
                expr->integer = Take().integer;
                return expr;
            }
            case TokenKind::Float: {
                auto expr = Make(ExprKind::Float, token.pos);
                expr->number = Take().number;
                return expr;
            }
            case TokenKind::String:
            case TokenKind::NodePath:
            case TokenKind::NameLiteral: {
                const ExprKind kind = token.kind == TokenKind::String     ? ExprKind::String
                                      : token.kind == TokenKind::NodePath ? ExprKind::NodeRef
                                                                          : ExprKind::NameLiteral;
                auto expr = Make(kind, token.pos);
                expr->name = Take().text;
                return expr;
            }
            case TokenKind::Identifier:
                return ParseWord();
            case TokenKind::Symbol:
                if (token.text == L"(") {
                    auto sequence = Make(ExprKind::Sequence, Take().pos);
                    ParseStatements(sequence->operands, /*closing=*/true);
                    Take();  // ')'
                    return sequence;
                }
                [[fallthrough]];
            default:
                Unexpected(token);
        }
    }

    ExprPtr ParseWord() {
        const Token& token = Peek();
        if (IsOneOf(token.text, kUnsupportedWords)) {
            Fail(token.pos, L"'" + token.text + L"' is not supported by this host's script runner");
        }
        if (IsWord(token, L"true") || IsWord(token, L"false")) {
            auto expr = Make(ExprKind::Boolean, token.pos);
            expr->boolean = IsWord(Take(), L"true");
            return expr;
        }
        if (IsWord(token, L"undefined") || IsWord(token, L"null")) {
            return Make(ExprKind::Undefined, Take().pos);
        }
        if (IsOneOf(token.text, kKeywords)) Unexpected(token);
        auto expr = Make(ExprKind::Global, token.pos);
        expr->name = Take().text;
        return expr;
    }

    std::vector<Token> tokens_;
    std::size_t at_ = 0;
    int depth_ = 0;
};

}  // namespace

bool ParseScript(std::wstring_view text, Program& program, ScriptError& error) {
    std::vector<Token> tokens;
    if (!Tokenize(text, tokens, error)) return false;
    try {
        program = Parser(std::move(tokens)).ParseProgram();
        return true;
    } catch (const ParseFailure& failure) {
        error = failure.error;
        return false;
    }
}

}  // namespace KorvoHost
