#include "standalone_host/script/script_lexer.h"

#include <cerrno>
#include <cstdlib>
#include <cwctype>

namespace KorvoHost {

std::wstring ScriptError::Describe() const {
    return L"line " + std::to_wstring(pos.line) + L", column " + std::to_wstring(pos.column) +
           L": " + message;
}

namespace {

bool IsNameStart(wchar_t c) { return c == L'_' || std::iswalpha(c); }
bool IsNameChar(wchar_t c) { return c == L'_' || std::iswalnum(c); }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Longest first, so that "==" is not read as two "=".
constexpr std::wstring_view kSymbols[] = {L"==", L"!=", L"<=", L">=", L"+=", L"-=", L"*=", L"/=",
                                          L"(",  L")",  L"[",  L"]",  L",",  L".",  L":",  L";",
                                          L"=",  L"<",  L">",  L"+",  L"-",  L"*",  L"/",  L"^"};

class Lexer {
  public:
    explicit Lexer(std::wstring_view text) : text_(text) {}

    bool Run(std::vector<Token>& tokens, ScriptError& error) {
        for (;;) {
            SkipSpaceAndComments();
            if (failed_) break;
            Token token;
            token.pos = pos_;
            if (AtEnd()) {
                token.kind = TokenKind::End;
                tokens.push_back(std::move(token));
                return true;
            }
            if (!Next(token)) break;
            tokens.push_back(std::move(token));
        }
        error = error_;
        return false;
    }

  private:
    bool AtEnd() const { return at_ >= text_.size(); }
    wchar_t Peek(std::size_t ahead = 0) const {
        return at_ + ahead < text_.size() ? text_[at_ + ahead] : L'\0';
    }
    wchar_t Advance() {
        const wchar_t c = text_[at_++];
        if (c == L'\n') {
            ++pos_.line;
            pos_.column = 1;
        } else {
            ++pos_.column;
        }
        return c;
    }
    bool Fail(SourcePos pos, std::wstring message) {
        error_ = {pos, std::move(message)};
        failed_ = true;
        return false;
    }

    void SkipSpaceAndComments() {
        while (!AtEnd()) {
            const wchar_t c = Peek();
            if (c == L' ' || c == L'\t' || c == L'\r') {
                Advance();
            } else if (c == L'\\' && (Peek(1) == L'\n' || (Peek(1) == L'\r' && Peek(2) == L'\n'))) {
                // A backslash at the end of a line joins it with the next.
                while (Peek() != L'\n') Advance();
                Advance();
            } else if (c == L'-' && Peek(1) == L'-') {
                while (!AtEnd() && Peek() != L'\n') Advance();
            } else if (c == L'/' && Peek(1) == L'*') {
                const SourcePos start = pos_;
                Advance();
                Advance();
                while (!AtEnd() && !(Peek() == L'*' && Peek(1) == L'/')) Advance();
                if (AtEnd()) {
                    Fail(start, L"comment is not closed with */");
                    return;
                }
                Advance();
                Advance();
            } else {
                return;
            }
        }
    }

    bool Next(Token& token) {
        const wchar_t c = Peek();
        if (c == L'\n') {
            Advance();
            token.kind = TokenKind::LineEnd;
            return true;
        }
        if (IsDigit(c) || (c == L'.' && IsDigit(Peek(1)))) return Number(token);
        if (IsNameStart(c)) {
            token.kind = TokenKind::Identifier;
            while (IsNameChar(Peek())) token.text += Advance();
            return true;
        }
        if (c == L'"') return String(token, false);
        if (c == L'@' && Peek(1) == L'"') {
            Advance();
            return String(token, true);
        }
        if (c == L'$') return NodePath(token);
        if (c == L'#' && IsNameStart(Peek(1))) {
            Advance();
            token.kind = TokenKind::NameLiteral;
            while (IsNameChar(Peek())) token.text += Advance();
            return true;
        }
        for (std::wstring_view symbol : kSymbols) {
            if (text_.substr(at_, symbol.size()) == symbol) {
                token.kind = TokenKind::Symbol;
                token.text = symbol;
                for (std::size_t i = 0; i < symbol.size(); ++i) Advance();
                return true;
            }
        }
        return Fail(pos_, L"unexpected character '" + std::wstring(1, c) + L"'");
    }

    bool Number(Token& token) {
        std::wstring digits;
        bool fractional = false;
        while (IsDigit(Peek())) digits += Advance();
        if (Peek() == L'.' && IsDigit(Peek(1))) {
            fractional = true;
            digits += Advance();
            while (IsDigit(Peek())) digits += Advance();
        } else if (Peek() == L'.' && !IsNameStart(Peek(1))) {
            // "1." is a number; "1.x" would be a property of one.
            fractional = true;
            digits += Advance();
        }
        if ((Peek() == L'e' || Peek() == L'E') &&
            (IsDigit(Peek(1)) || ((Peek(1) == L'+' || Peek(1) == L'-') && IsDigit(Peek(2))))) {
            fractional = true;
            digits += Advance();
            if (Peek() == L'+' || Peek() == L'-') digits += Advance();
            while (IsDigit(Peek())) digits += Advance();
        }
        if (IsNameStart(Peek())) return Fail(pos_, L"a number runs into a name");
        errno = 0;
        if (fractional) {
            token.kind = TokenKind::Float;
            token.number = std::wcstod(digits.c_str(), nullptr);
        } else {
            token.kind = TokenKind::Integer;
            token.integer = std::wcstoll(digits.c_str(), nullptr, 10);
            token.number = static_cast<double>(token.integer);
        }
        if (errno == ERANGE) return Fail(token.pos, L"number " + digits + L" is out of range");
        token.text = std::move(digits);
        return true;
    }

    bool String(Token& token, bool verbatim) {
        const SourcePos start = token.pos;
        Advance();  // the opening quote
        token.kind = TokenKind::String;
        for (;;) {
            if (AtEnd()) return Fail(start, L"string is not closed with \"");
            const wchar_t c = Advance();
            if (c == L'"') return true;
            if (c != L'\\' || verbatim) {
                token.text += c;
                continue;
            }
            if (AtEnd()) return Fail(start, L"string is not closed with \"");
            const SourcePos escapePos = pos_;
            switch (const wchar_t e = Advance()) {
                case L'n':
                    token.text += L'\n';
                    break;
                case L't':
                    token.text += L'\t';
                    break;
                case L'r':
                    token.text += L'\r';
                    break;
                case L'"':
                case L'\\':
                case L'%':
                    token.text += e;
                    break;
                default:
                    return Fail(escapePos,
                                L"unknown escape \\" + std::wstring(1, e) + L" in a string");
            }
        }
    }

    bool NodePath(Token& token) {
        const SourcePos start = token.pos;
        Advance();  // $
        token.kind = TokenKind::NodePath;
        if (Peek() == L'\'') {
            Advance();
            while (!AtEnd() && Peek() != L'\'' && Peek() != L'\n') token.text += Advance();
            if (Peek() != L'\'') return Fail(start, L"node name is not closed with '");
            Advance();
            return true;
        }
        while (IsNameChar(Peek()) || Peek() == L'*' || Peek() == L'?' || Peek() == L'/')
            token.text += Advance();
        if (token.text.empty()) return Fail(start, L"$ must be followed by a node name");
        return true;
    }

    std::wstring_view text_;
    std::size_t at_ = 0;
    SourcePos pos_;
    bool failed_ = false;
    ScriptError error_;
};

}  // namespace

bool Tokenize(std::wstring_view text, std::vector<Token>& tokens, ScriptError& error) {
    tokens.clear();
    return Lexer(text).Run(tokens, error);
}

}  // namespace KorvoHost
