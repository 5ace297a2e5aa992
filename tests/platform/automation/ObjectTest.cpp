#include "platform/automation/Object.h"
#include "platform/automation/Com.h"
#include "platform/text/Codepage.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace vm::automation {
namespace {

// A small native class exercising every kind of member.
class Sample : public NativeDispatch<Sample> {
public:
    static const MemberTable<Sample>& Members() {
        static const MemberTable<Sample> table = {
            {"Name", kPropertyGet | kPropertyPut, 0, &Sample::Name},
            {"Count", kPropertyGet, 0, &Sample::Count},
            {"Add", kMethod, 2, &Sample::Add},
            {"Fail", kMethod, 0, &Sample::Fail},
            {"Twice", kMethod, 2, &Sample::Twice},
            {"Target", kPropertyPutRef, 0, &Sample::Target},
            {"Child", kPropertyGet, 0, &Sample::Child},
            {"Item", kPropertyGet, 1, &Sample::Item},
            {"Reset", kMethod, 0, nullptr,
             [](Sample& self, Invocation&) {
                 self.count_ = 0;
                 return kOk;
             }},
        };
        return table;
    }

    HResult Name(Invocation& call) {
        if (call.IsPut()) {
            name_ = call.Value().Text();
            return kOk;
        }
        return call.Return(Variant(name_));
    }
    HResult Count(Invocation& call) { return call.Return(Variant(std::int32_t{++count_})); }
    HResult Add(Invocation& call) {
        double a = 0, b = 0;
        if (!call.Arg(0).ToDouble(a))
            return kDispTypeMismatch;
        // An omitted second argument counts as 1.
        if (call.Has(1) && !call.Arg(1).ToDouble(b))
            return kDispTypeMismatch;
        return call.Return(Variant(a + (call.Has(1) ? b : 1)));
    }
    HResult Fail(Invocation& call) { return call.Throw("broken"); }
    HResult Twice(Invocation& call) {
        std::int32_t n = 0;
        if (!call.Arg(0).ToInt32(n))
            return kDispParamNotOptional;
        call.SetOut(1, Variant(std::int32_t{n * 2}));
        return kOk;
    }
    HResult Target(Invocation& call) {
        target_ = call.Value().Dispatcher();
        return kOk;
    }
    HResult Child(Invocation& call) {
        return call.Return(Variant(target_ ? target_ : shared_from_this()));
    }
    HResult Item(Invocation& call) {
        return call.Arg(0).Type() == VT_BSTR ? call.Return(Variant("by name"))
                                             : call.Return(Variant("by index"));
    }

private:
    std::string name_;
    int count_ = 0;
    std::shared_ptr<Dispatch> target_;
};

class Opaque : public Sample {
public:
    bool HasTypeInfo() const override { return false; }
};

TEST(LateBound, KindsAndFallbacks) {
    const Object o(std::make_shared<Sample>());
    EXPECT_TRUE(o.Put("name", Variant("abc")));
    EXPECT_EQ(o.GetText("NAME"), "abc");
    EXPECT_EQ(LastCallError(), 0);
    EXPECT_EQ(LastCallErrorText(), "");
    // A method call on a property falls back to its get.
    EXPECT_EQ(o.Call("Count").IntValue(), 1);
    // A member written out in the table is reached like the others.
    o.Call("reset");
    EXPECT_EQ(LastCallError(), 0);
    EXPECT_EQ(o.GetInt("Count"), 1);
    // A property read of a method falls back to the method.
    EXPECT_DOUBLE_EQ(o.GetNumber("add", {Variant(2.0), Variant(3.0)}), 5.0);
    EXPECT_DOUBLE_EQ(o.CallNumber("Add", {Variant(2.0), Variant::Missing()}), 3.0);
    // A write to a put-by-reference-only member falls back to it.
    const Object other(std::make_shared<Sample>());
    EXPECT_TRUE(o.Put("Target", Variant(other)));
    EXPECT_TRUE(o.GetObject("Child") == other);
    // Arguments that are texts and numbers reach the member as such.
    EXPECT_EQ(o.GetText("Item", {Variant("x")}), "by name");
    EXPECT_EQ(o.GetText("Item", {Variant(std::int32_t{0})}), "by index");
}

TEST(LateBound, ByReferenceArgument) {
    const Object o(std::make_shared<Sample>());
    Variant out(std::int32_t{-1});
    o.Call("Twice", {Variant(std::int32_t{21}), Variant::Ref(out)});
    EXPECT_EQ(LastCallError(), 0);
    EXPECT_EQ(out.IntValue(), 42);
    // A by-value argument is not written.
    Variant untouched(std::int32_t{-1});
    o.Call("Twice", {Variant(std::int32_t{21}), untouched});
    EXPECT_EQ(untouched.IntValue(), -1);
}

struct ErrorCase {
    const char* what;
    int code;
};

TEST(LateBound, ErrorCodesAndTexts) {
    const Object o(std::make_shared<Sample>());
    const Object none;
    const Object opaque(std::make_shared<Opaque>());
    std::vector<std::pair<ErrorCase, std::function<void()>>> cases = {
        {{"no object", kNoObject}, [&] { none.Get("Name"); }},
        {{"no type info", kNoTypeInfo}, [&] { opaque.Get("Name"); }},
        {{"unknown member", kNoSuchMember}, [&] { o.Get("Nope"); }},
        {{"get of a put-only member", kNoSuchMember}, [&] { o.Get("Target"); }},
        {{"put of a get-only member", kNoSuchMember}, [&] { o.Put("Count", Variant(1.0)); }},
        {{"too many args", kTooManyArgs},
         [&] {
             o.Call("Add", {Variant(1.0), Variant(2.0), Variant(3.0)});
         }},
        {{"exception", kException}, [&] { o.Call("Fail"); }},
        {{"type mismatch", kTypeMismatch}, [&] { o.Call("Add", {Variant("x")}); }},
        {{"param not optional", kParamNotOptional}, [&] { o.Call("Twice"); }},
        {{"result mismatch", kResultMismatch}, [&] { o.Get("Child", {}, VT_I4); }},
    };
    for (auto& [expect, run] : cases) {
        run();
        EXPECT_EQ(LastCallError(), expect.code) << expect.what;
        EXPECT_FALSE(LastCallErrorText().empty()) << expect.what;
        o.GetText("Name");
        EXPECT_EQ(LastCallError(), 0) << "a success clears " << expect.what;
    }
    o.Call("Fail");
    EXPECT_EQ(LastCallException(), "broken");
    EXPECT_EQ(LastCallErrorText(), text::Gbk(u8"发现异常"));
    EXPECT_EQ(CallErrorText(kNoObject), text::Gbk(u8"对象为空"));
    EXPECT_EQ(CallErrorText(kOtherFailure), text::Gbk(u8"其他原因调用失败"));
    EXPECT_EQ(CallErrorText(0), "");
    EXPECT_EQ(CallErrorOf(kDispOverflow), kOverflow);
    EXPECT_EQ(CallErrorOf(kFail), kOtherFailure);
}

TEST(LateBound, ErrorCodeIsPerThread) {
    const Object none;
    none.Get("x");
    ASSERT_EQ(LastCallError(), kNoObject);
    int seen = 1;
    std::thread([&] { seen = LastCallError(); }).join();
    EXPECT_EQ(seen, 0);
    EXPECT_EQ(LastCallError(), kNoObject);
}

TEST(Creation, RegistryAndInitialisationCount) {
    RegisterClass("Test.Sample", "{11111111-2222-3333-4444-555555555555}",
                  [] { return std::make_shared<Sample>(); });
    HResult status = kOk;
    EXPECT_TRUE(CreateObject("Test.Sample", &status).IsNull());
    EXPECT_EQ(status, kNotInitialized);

    EXPECT_EQ(CoInitialize(), kOk);
    EXPECT_EQ(CoInitialize(), kFalse);
    EXPECT_EQ(ComInitCount(), 2);
    EXPECT_FALSE(CreateObject("test.SAMPLE").IsNull());
    EXPECT_FALSE(CreateObject("{11111111-2222-3333-4444-555555555555}").IsNull());
    EXPECT_TRUE(CreateObject("Test.Missing", &status).IsNull());
    EXPECT_EQ(status, kClassNotRegistered);
    std::shared_ptr<Dispatch> out;
    EXPECT_EQ(CoCreateInstance("Test.Sample", 4, out), kClassNotRegistered);
    // Objects are independent instances.
    const Object a = CreateObject("Test.Sample");
    const Object b = CreateObject("Test.Sample");
    a.Put("Name", Variant("a"));
    EXPECT_EQ(b.GetText("Name"), "");
    CoUninitialize();
    CoUninitialize();
    CoUninitialize(); // an unmatched one is harmless
    EXPECT_EQ(ComInitCount(), 0);
}

} // namespace
} // namespace vm::automation

namespace vm::automation {
namespace {

TEST(NameIndexTest, CaseFirstWinsAndMany) {
    NameIndex index;
    index.Add("Value", 1);
    index.Add("VALUE", 2); // the first of equal names wins
    index.Add("\xC3\xFB\xB3\xC6", 3);
    EXPECT_EQ(index.Find("value"), 1);
    EXPECT_EQ(index.Find("vALUe"), 1);
    EXPECT_EQ(index.Find("\xC3\xFB\xB3\xC6"), 3);
    // Two-byte characters are not case-folded: a trail byte that looks like a letter stays.
    EXPECT_EQ(index.Find("\xC3\xDB\xB3\xC6"), -1);
    index.Add("\x81\x41", 4);
    EXPECT_EQ(index.Find("\x81\x61"), -1);
    EXPECT_EQ(index.Find("\x81\x41"), 4);
    EXPECT_EQ(index.Find("Values"), -1);
    EXPECT_EQ(index.Find(""), -1);
    // Many names with a shared head and tail still resolve (the table grows as it fills).
    for (int i = 0; i < 500; ++i)
        index.Add("col" + std::to_string(i) + "_x", 100 + i);
    for (int i = 0; i < 500; ++i)
        EXPECT_EQ(index.Find("COL" + std::to_string(i) + "_X"), 100 + i);
    index.Clear();
    EXPECT_EQ(index.Find("value"), -1);
}

// The hash reads whole words from both ends of a name: every length around the word sizes must
// still find its own name in any case and nothing else.
TEST(NameIndexTest, EveryLengthAndCase) {
    NameIndex index;
    std::vector<std::string> names;
    for (std::size_t n = 1; n <= 20; ++n) {
        std::string name;
        for (std::size_t i = 0; i < n; ++i)
            name += static_cast<char>('a' + (i * 7 + n) % 26);
        names.push_back(name);
        index.Add(name, static_cast<int>(n));
    }
    for (std::size_t n = 1; n <= 20; ++n) {
        std::string upper = names[n - 1];
        for (char& c : upper)
            c = static_cast<char>(c - 'a' + 'A');
        EXPECT_EQ(index.Find(upper), static_cast<int>(n)) << upper;
        std::string changed = names[n - 1];
        changed[n / 2] = changed[n / 2] == 'z' ? 'y' : 'z';
        EXPECT_EQ(index.Find(changed), -1) << changed;
        EXPECT_EQ(index.Find(names[n - 1] + "_"), -1);
    }
}

// Binding remembers names byte for byte; names of one length share a slot and must not be
// mistaken for each other, and a repeated name in another case still binds.
TEST(LateBound, RepeatedNamesBindTheirOwnMembers) {
    const Object sample(std::make_shared<Sample>());
    for (int round = 0; round < 3; ++round) {
        sample.Put("Name", Variant("n"));
        EXPECT_EQ(sample.GetText("name"), "n");
        EXPECT_EQ(sample.GetText("Item", {Variant("k")}), "by name");
        EXPECT_EQ(sample.GetText("ITEM", {Variant(std::int32_t{1})}), "by index");
        // "Iten" has the length of "Item" and is no member.
        sample.Get("Iten");
        EXPECT_EQ(LastCallError(), kNoSuchMember);
        EXPECT_EQ(sample.GetText("Item", {Variant("k")}), "by name");
        EXPECT_EQ(sample.GetNumber("Count"), round + 1.0);
    }
}

} // namespace
} // namespace vm::automation
