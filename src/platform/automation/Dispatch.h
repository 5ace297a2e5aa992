#pragma once
// The object side of late binding: what an automation object offers to callers that know only
// member names. Binding looks a name up in the object's type information (the kinds of access
// the member supports and how many arguments it takes); Invoke then runs one kind of access.
// Native classes derive from NativeDispatch<T> and describe their members in a table.

#include "platform/automation/Variant.h"

#include <cstddef>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vm::automation {

enum InvokeKind : std::uint16_t {
    kMethod = 1,
    kPropertyGet = 2,
    kPropertyPut = 4,
    kPropertyPutRef = 8,
};

struct MemberBinding {
    int id = -1;
    std::uint16_t kinds = 0; // InvokeKind bits
    int maxArgs = 0;         // arguments besides the value of a put
};

class Dispatch : public std::enable_shared_from_this<Dispatch> {
public:
    virtual ~Dispatch() = default;

    // False for an object without type information: late binding then cannot proceed.
    virtual bool HasTypeInfo() const { return true; }

    // Member names match without regard to ASCII case.
    virtual bool Bind(std::string_view name, MemberBinding& out) const = 0;

    // `args` are in call order; for a put the new value is the last one. Arguments may be
    // references (Variant::Ref) that the member writes through. On DISP_E_EXCEPTION the member
    // leaves its description in `exception`.
    virtual HResult Invoke(int memberId, InvokeKind kind, std::span<const Variant> args,
                           Variant& result, std::string& exception) = 0;
};

// One call as a native member sees it.
class Invocation {
public:
    Invocation(InvokeKind kind, std::span<const Variant> args, Variant& result,
               std::string& exception)
        : kind_(kind), args_(args), result_(result), exception_(exception) {}

    InvokeKind Kind() const { return kind_; }
    bool IsPut() const { return kind_ == kPropertyPut || kind_ == kPropertyPutRef; }

    // Index or call arguments, not counting the value of a put.
    std::size_t Count() const {
        return IsPut() && !args_.empty() ? args_.size() - 1 : args_.size();
    }
    // Present and not omitted.
    bool Has(std::size_t i) const { return i < Count() && !args_[i].IsMissing(); }
    // Dereferenced argument; an absent one reads as omitted.
    const Variant& Arg(std::size_t i) const;
    // The value of a put.
    const Variant& Value() const;
    // Writes `value` back through a by-reference argument; ignored for a by-value one.
    void SetOut(std::size_t i, Variant value);

    Variant& Result() { return result_; }
    HResult Return(Variant value) {
        result_ = std::move(value);
        return kOk;
    }
    // Fails the call with DISP_E_EXCEPTION and a description.
    HResult Throw(std::string description);

private:
    InvokeKind kind_;
    std::span<const Variant> args_;
    Variant& result_;
    std::string& exception_;
};

// Case-insensitive (ASCII) hashing and comparison for member and field names.
struct NoCaseHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const;
};
struct NoCaseEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
};

// Names to small numbers, matched without regard to ASCII case; the first of equal names wins.
// An open-addressing table: every late-bound call looks a member up by name, and the catalogue
// makes millions of them when it reads its lists.
class NameIndex {
public:
    void Add(std::string name, int value);
    // The value of the name, or -1.
    int Find(std::string_view name) const;
    void Clear();

private:
    struct Slot {
        std::size_t hash = 0;
        int entry = -1;
    };
    void Grow();

    std::vector<std::pair<std::string, int>> entries_;
    std::vector<Slot> slots_;
};

template <class T> struct MemberDef {
    std::string_view name;
    std::uint16_t kinds;
    int maxArgs;
    HResult (T::*handler)(Invocation&);
    // Used when `handler` is null: a member written out where it is declared, in the table.
    HResult (*function)(T&, Invocation&) = nullptr;
};

template <class T> class MemberTable {
public:
    MemberTable(std::initializer_list<MemberDef<T>> defs) : defs_(defs) {
        for (std::size_t i = 0; i < defs_.size(); ++i)
            index_.Add(std::string(defs_[i].name), static_cast<int>(i));
    }
    const MemberDef<T>* Find(std::string_view name, int& id) const {
        id = index_.Find(name);
        return id < 0 ? nullptr : &defs_[static_cast<std::size_t>(id)];
    }
    const MemberDef<T>& At(int id) const { return defs_[static_cast<std::size_t>(id)]; }

private:
    std::vector<MemberDef<T>> defs_;
    NameIndex index_;
};

// The member ids of names bound lately, byte for byte: callers name the same few members over
// and over (a list read binds "fields", "Item" and "value" for every field of every row), and a
// repeat then costs a short compare instead of hashing and case folding. Slots are chosen by
// length, which keeps the names of one loop apart.
class BindMemo {
public:
    // The id remembered for exactly these bytes, or -2.
    int Find(std::string_view name) const {
        const Slot& slot = slots_[name.size() % kSlots];
        return slot.size == name.size() && name.size() <= kLongest &&
                       std::char_traits<char>::compare(slot.bytes, name.data(), name.size()) == 0
                   ? slot.id
                   : -2;
    }
    void Remember(std::string_view name, int id) {
        if (name.size() > kLongest)
            return;
        Slot& slot = slots_[name.size() % kSlots];
        std::char_traits<char>::copy(slot.bytes, name.data(), name.size());
        slot.size = name.size();
        slot.id = id;
    }

private:
    static constexpr std::size_t kSlots = 4;
    static constexpr std::size_t kLongest = 23;
    struct Slot {
        char bytes[kLongest] = {};
        std::size_t size = kLongest + 1;
        int id = -1;
    };
    Slot slots_[kSlots] = {};
};

// Base of the native classes: T provides `static const MemberTable<T>& Members();`.
template <class T> class NativeDispatch : public Dispatch {
public:
    bool Bind(std::string_view name, MemberBinding& out) const override {
        constinit thread_local BindMemo memo;
        int id = memo.Find(name);
        if (id == -2) {
            T::Members().Find(name, id);
            memo.Remember(name, id);
        }
        if (id < 0)
            return false;
        const MemberDef<T>& def = T::Members().At(id);
        out = {id, def.kinds, def.maxArgs};
        return true;
    }
    HResult Invoke(int memberId, InvokeKind kind, std::span<const Variant> args, Variant& result,
                   std::string& exception) override {
        const MemberDef<T>& def = T::Members().At(memberId);
        Invocation call(kind, args, result, exception);
        T& self = *static_cast<T*>(this);
        return def.handler ? (self.*def.handler)(call) : def.function(self, call);
    }
};

} // namespace vm::automation
