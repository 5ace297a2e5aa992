#pragma once
// How the ADO classes declare their late-bound members: one line of a class's table names the
// member, says how it binds and how many arguments it takes, and gives what serves it, either a
// member function or, for a short member, the function written out in that line. The argument
// conversions the members share are here as well.

#include "platform/ado/Objects.h"

#include <climits>
#include <string>
#include <string_view>

namespace vm::ado {

// A variant as an int (32 bits); false when it does not convert.
inline bool ToInt(const Variant& value, int& out) {
    std::int32_t n = 0;
    if (!value.ToInt32(n))
        return false;
    out = n;
    return true;
}

// The value of a put as an int within [low, high]; false when it is none.
inline bool PutInt(Invocation& call, int& out, int low = INT_MIN, int high = INT_MAX) {
    return ToInt(call.Value(), out) && out >= low && out <= high;
}

// An optional int argument: false when it is given and is not an int; `out` keeps its value
// when it is omitted.
inline bool OptionalInt(Invocation& call, std::size_t i, int& out) {
    return !call.Has(i) || ToInt(call.Arg(i), out);
}

inline HResult InvalidArgument(Invocation& call) {
    return call.Throw(FaultText(Fault::InvalidArgument));
}

// The connection an ActiveConnection put names, a null object aside (the callers differ on
// that): a Connection object, or a new connection opened on a connection string. On failure
// `connection` is left as it was.
HResult PutConnection(Invocation& call, const Variant& value,
                      std::shared_ptr<Connection>& connection);

// A read-write int property: a put of anything but an int within [low, high] fails and leaves
// the field as it was.
inline HResult IntProperty(Invocation& call, int& field, int low = INT_MIN, int high = INT_MAX) {
    if (call.IsPut()) {
        int value = 0;
        if (!PutInt(call, value, low, high))
            return InvalidArgument(call);
        field = value;
        return automation::kOk;
    }
    return call.Return(Variant(std::int32_t{field}));
}

// A read-write text property: a put of what does not convert to text fails and leaves the
// field as it was.
inline HResult TextProperty(Invocation& call, std::string& field) {
    if (call.IsPut()) {
        std::string text;
        if (!call.Value().ToText(text))
            return InvalidArgument(call);
        field = std::move(text);
        return automation::kOk;
    }
    return call.Return(Variant(field));
}

template <class T> struct Declare {
    using Def = automation::MemberDef<T>;
    using Handler = HResult (T::*)(Invocation&);
    using Function = HResult (*)(T&, Invocation&);

    template <class F> static constexpr Def Method(std::string_view name, int maxArgs, F serve) {
        return Make(name, automation::kMethod, maxArgs, serve);
    }
    template <class F> static constexpr Def Get(std::string_view name, F serve, int maxArgs = 0) {
        return Make(name, automation::kPropertyGet, maxArgs, serve);
    }
    template <class F>
    static constexpr Def GetPut(std::string_view name, F serve, int maxArgs = 0) {
        return Make(name, automation::kPropertyGet | automation::kPropertyPut, maxArgs, serve);
    }
    // Also put by reference: the members that take an object or a text.
    template <class F> static constexpr Def GetPutRef(std::string_view name, F serve) {
        return Make(
            name, automation::kPropertyGet | automation::kPropertyPut | automation::kPropertyPutRef,
            0, serve);
    }

    // "State": adStateOpen while the object is open (T::IsOpen), else adStateClosed.
    static constexpr Def OpenState() {
        return Get("State", [](T& self, Invocation& call) {
            return call.Return(Variant(std::int32_t{self.IsOpen() ? adStateOpen : adStateClosed}));
        });
    }

    // A read-write int property kept in `Field` (see IntProperty).
    template <int T::*Field, int Low = INT_MIN, int High = INT_MAX>
    static constexpr Def IntField(std::string_view name) {
        return GetPut(name, [](T& self, Invocation& call) {
            return IntProperty(call, self.*Field, Low, High);
        });
    }

    // The same for a property that an open object (T::IsOpen) does not let change; the value is
    // checked first.
    template <int T::*Field, int Low = INT_MIN, int High = INT_MAX>
    static constexpr Def ClosedIntField(std::string_view name) {
        return GetPut(name, [](T& self, Invocation& call) {
            if (call.IsPut()) {
                int value = 0;
                if (!PutInt(call, value, Low, High))
                    return InvalidArgument(call);
                if (self.IsOpen())
                    return call.Throw(FaultText(Fault::ObjectOpen));
                self.*Field = value;
                return automation::kOk;
            }
            return call.Return(Variant(std::int32_t{self.*Field}));
        });
    }

private:
    static constexpr Def Make(std::string_view name, std::uint16_t kinds, int maxArgs,
                              Handler serve) {
        return {name, kinds, maxArgs, serve, nullptr};
    }
    static constexpr Def Make(std::string_view name, std::uint16_t kinds, int maxArgs,
                              Function serve) {
        return {name, kinds, maxArgs, nullptr, serve};
    }
};

} // namespace vm::ado
