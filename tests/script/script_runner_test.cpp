// The script runner on its own: the language subset, globals that outlive a script, and errors
// that name the line and column of the fault.
#include "standalone_host/script/script_runner.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using KorvoHost::ScriptObject;
using KorvoHost::ScriptResult;
using KorvoHost::ScriptRunner;
using KorvoHost::Value;

// A system global with a property and a call, standing for what the host offers.
class Counter final : public ScriptObject {
  public:
    std::wstring Describe() const override { return L"counter"; }
    std::optional<Value> GetProperty(std::wstring_view name) override {
        if (name == L"count") return Value(count);
        return std::nullopt;
    }
    bool SetProperty(std::wstring_view name, const Value& value) override {
        if (name != L"count" || !value.Integer()) return false;
        count = static_cast<int>(*value.Integer());
        return true;
    }
    bool IsCallable() const override { return true; }
    Value Call(const std::vector<Value>& arguments,
               const std::vector<KorvoHost::NamedValue>& keywords) override {
        ++calls;
        lastArguments = static_cast<int>(arguments.size());
        lastKeywords = static_cast<int>(keywords.size());
        return Value(static_cast<long long>(arguments.size()));
    }
    int count = 0, calls = 0, lastArguments = 0, lastKeywords = 0;
};

class Environment final : public KorvoHost::ScriptEnvironment {
  public:
    std::optional<Value> SystemGlobal(std::wstring_view name) override {
        if (name == L"counter") return Value(counter);
        return std::nullopt;
    }
    std::optional<Value> Node(std::wstring_view) override { return std::nullopt; }
    std::shared_ptr<Counter> counter = std::make_shared<Counter>();
};

class Runner : public ::testing::Test {
  protected:
    Value Run(const std::wstring& text) {
        const ScriptResult result = runner_.Run(text);
        EXPECT_TRUE(result.ok) << text << ": "
                               << std::string(result.error.Describe().begin(),
                                              result.error.Describe().end());
        return result.value;
    }
    // The error of a script that must fail, as "line L, column C: message".
    std::wstring Error(const std::wstring& text) {
        const ScriptResult result = runner_.Run(text);
        EXPECT_FALSE(result.ok) << "ran: " << std::string(text.begin(), text.end());
        return result.error.Describe();
    }

    Environment environment_;
    ScriptRunner runner_{environment_};
};

TEST_F(Runner, ExpressionsFollowPrecedenceAndTypes) {
    EXPECT_EQ(*Run(L"1 + 2 * 3").Integer(), 7);
    EXPECT_EQ(*Run(L"(1 + 2) * 3 -- a comment").Integer(), 9);
    EXPECT_EQ(*Run(L"7 / 2").Integer(), 3);
    EXPECT_DOUBLE_EQ(*Run(L"7 / 2.0").Float(), 3.5);
    EXPECT_DOUBLE_EQ(*Run(L"2 ^ 3 ^ 2").Float(), 512.0);
    EXPECT_EQ(*Run(L"-2 * 3").Integer(), -6);
    EXPECT_EQ(*Run(L"\"a\\\"b\" + \"c\"").String(), L"a\"bc");
    EXPECT_TRUE(*Run(L"not (1 > 2) and 2 >= 2 or false").Boolean());
    EXPECT_TRUE(*Run(L"1 == 1.0").Boolean());
    EXPECT_TRUE(*Run(L"#Left == #left").Boolean());
    EXPECT_FALSE(*Run(L"1 == \"1\"").Boolean());
}

TEST_F(Runner, GlobalsOutliveTheScriptAndIgnoreCase) {
    // The lens set-up pattern: create once, reuse after.
    const std::wstring once = L"if thing == null then\n  thing = counter()\nmade = thing";
    Run(once);
    Run(once);
    EXPECT_EQ(environment_.counter->calls, 1);
    EXPECT_TRUE(*Run(L"THING == made").Boolean());
    EXPECT_TRUE(Run(L"never_set").IsUndefined());
    EXPECT_TRUE(*Run(L"never_set == undefined").Boolean());
    Run(L"n = 1; n += 4");
    EXPECT_EQ(*Run(L"N").Integer(), 5);
}

TEST_F(Runner, IfTakesThenElseAndDoOnSeveralLines) {
    EXPECT_EQ(*Run(L"if 1 < 2 then 10 else 20").Integer(), 10);
    EXPECT_EQ(*Run(L"if 1 > 2 then\n  10\nelse\n  20").Integer(), 20);
    EXPECT_TRUE(Run(L"if false do 1").IsUndefined());
    // Without else, the next line is a statement of its own.
    EXPECT_EQ(*Run(L"if false then 1\n30").Integer(), 30);
    EXPECT_EQ(*Run(L"x = (if true then 1 else 2); x + 1").Integer(), 2);
}

TEST_F(Runner, PropertiesAndCallsReachHostObjects) {
    Run(L"counter.count = 41");
    EXPECT_EQ(*Run(L"counter.count + 1").Integer(), 42);
    EXPECT_EQ(*Run(L"counter()").Integer(), 0);
    EXPECT_EQ(*Run(L"counter 1 \"two\" three:3").Integer(), 2);
    EXPECT_EQ(environment_.counter->lastKeywords, 1);
}

TEST_F(Runner, ErrorsNameTheirLineAndColumn) {
    EXPECT_EQ(Error(L"a = 1\nfor i in 1 to 3 do a += i"),
              L"line 2, column 1: 'for' is not supported by this host's script runner");
    EXPECT_EQ(Error(L"x = (1 + 2"), L"line 1, column 11: '(' is not closed with ')'");
    EXPECT_EQ(Error(L"s = \"open"), L"line 1, column 5: string is not closed with \"");
    EXPECT_EQ(Error(L"1 + ?"), L"line 1, column 5: unexpected character '?'");
    EXPECT_EQ(Error(L"if 1 then 2"),
              L"line 1, column 1: the test of 'if' needs true or false, not 1");
    EXPECT_EQ(Error(L"\n  undefined_thing.size"),
              L"line 2, column 3: cannot read property 'size' of undefined");
    EXPECT_EQ(Error(L"counter.colour = 1"),
              L"line 1, column 1: unknown property 'colour' of counter");
    EXPECT_EQ(Error(L"counter = 1"),
              L"line 1, column 1: cannot assign to the system global 'counter'");
    EXPECT_EQ(Error(L"1 / 0"), L"line 1, column 1: division by zero");
    EXPECT_EQ(Error(L"3 = 4"),
              L"line 1, column 3: the left side of '=' is not a variable or property");
    EXPECT_EQ(Error(L"x = 1 2"), L"line 1, column 7: unexpected '2'");
    // A failed script keeps what ran before the fault.
    Error(L"kept = 7\nkept.size");
    EXPECT_EQ(*Run(L"kept").Integer(), 7);
}

TEST_F(Runner, HostileNestingIsRefusedNotOverflowed) {
    const std::wstring deep = std::wstring(100000, L'(') + L"1" + std::wstring(100000, L')');
    EXPECT_NE(Error(deep).find(L"nests too deep"), std::wstring::npos);
    std::wstring nots;
    for (int i = 0; i < 100000; ++i) nots += L"not ";
    EXPECT_NE(Error(nots + L"true").find(L"nests too deep"), std::wstring::npos);
}

}  // namespace
