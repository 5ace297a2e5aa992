#pragma once
// The caller side of late binding: a held reference to an automation object, called by member
// name with one of three kinds of call. A failed call raises nothing: it records a per-thread
// error code and returns an empty value; the error text of the most recent call on this thread
// is empty after a success.
//
//   property read   bound as a property get, falling back to a method call
//   property write  bound as a property put, falling back to a put by reference
//   method call     bound as a method, falling back to property get, put and put by reference
//
// Arguments are variants: Variant::Missing() for an omitted one, Variant::Ref(x) for one the
// callee writes back. The caller names the result type it wants (VT_VARIANT for none); a result
// that does not convert is error -8 with an empty value.

#include "platform/automation/Dispatch.h"
#include "platform/automation/Variant.h"

#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace vm::automation {

using Args = std::initializer_list<Variant>;

class Object {
public:
    Object() = default;
    explicit Object(std::shared_ptr<Dispatch> object) : object_(std::move(object)) {}

    // Copies share the object (one more reference).
    bool IsNull() const { return !object_; }
    explicit operator bool() const { return static_cast<bool>(object_); }
    const std::shared_ptr<Dispatch>& Ptr() const { return object_; }
    void Reset() { object_.reset(); }
    friend bool operator==(const Object& a, const Object& b) { return a.object_ == b.object_; }

    Variant Get(std::string_view member, Args args = {}, std::uint16_t want = VT_VARIANT) const;
    bool Put(std::string_view member, const Variant& value, Args args = {}) const;
    Variant Call(std::string_view member, Args args = {}, std::uint16_t want = VT_VARIANT) const;

    // The same with the argument list built at run time.
    Variant GetWith(std::string_view member, std::span<const Variant> args,
                    std::uint16_t want = VT_VARIANT) const;
    Variant CallWith(std::string_view member, std::span<const Variant> args,
                     std::uint16_t want = VT_VARIANT) const;

    // Typed reads: property reads converted to the named type.
    std::string GetText(std::string_view member, Args args = {}) const;
    double GetNumber(std::string_view member, Args args = {}) const;
    std::int32_t GetInt(std::string_view member, Args args = {}) const;
    bool GetBool(std::string_view member, Args args = {}) const;
    Object GetObject(std::string_view member, Args args = {}) const;
    // Typed method calls.
    std::string CallText(std::string_view member, Args args = {}) const;
    double CallNumber(std::string_view member, Args args = {}) const;
    Object CallObject(std::string_view member, Args args = {}) const;

private:
    enum class CallKind { Read, Write, Method };
    Variant Run(CallKind kind, std::string_view member, std::span<const Variant> args,
                const Variant* value, std::uint16_t want) const;

    std::shared_ptr<Dispatch> object_;
};

// The object a variant holds, or no object.
Object ObjectOf(const Variant& value);
Object ObjectOf(Variant&& value);

// Error codes of the late-bound layer. 0 is success.
enum CallError : int {
    kCallOk = 0,
    kNoObject = -1,
    kNoDispatch = -2,
    kNoSuchMember = -3,
    kNoTypeInfo = -4,
    kTooManyArgs = -5,
    kNotFont = -6,
    kBadArgType = -7,
    kResultMismatch = -8,
    kBadParamCount = -9,
    kBadVarType = -10,
    kException = -11,
    kMemberNotFound = -12,
    kNoNamedArgs = -13,
    kOverflow = -14,
    kParamNotFound = -15,
    kTypeMismatch = -16,
    kParamNotOptional = -17,
    kOtherFailure = -18,
};

// The error code and text (GBK) of the most recent late-bound call on this thread.
int LastCallError();
std::string LastCallErrorText();
// The description a failing member gave with DISP_E_EXCEPTION (GBK), empty otherwise.
std::string LastCallException();
// The fixed text of a code; empty for 0 and for unknown codes.
std::string CallErrorText(int code);
// The layer's code for an Invoke failure.
int CallErrorOf(HResult hr);

} // namespace vm::automation
