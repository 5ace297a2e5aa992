#include "platform/automation/Object.h"

#include "platform/text/Codepage.h"

#include <array>
#include <cstring>
#include <vector>

namespace vm::automation {
namespace {

struct CallState {
    int code = 0;
    std::string exception;
};

thread_local CallState t_state;

// Most calls succeed: that path touches the state without building a text.
void RecordSuccess() {
    CallState& state = t_state;
    state.code = kCallOk;
    if (!state.exception.empty())
        state.exception.clear();
}

void Record(int code, std::string exception = {}) {
    CallState& state = t_state;
    state.code = code;
    if (!exception.empty() || !state.exception.empty())
        state.exception = std::move(exception);
}

// The kinds to try, in order, for each kind of call.
std::span<const InvokeKind> Preference(int kind) {
    static constexpr std::array<InvokeKind, 2> kRead = {kPropertyGet, kMethod};
    static constexpr std::array<InvokeKind, 2> kWrite = {kPropertyPut, kPropertyPutRef};
    static constexpr std::array<InvokeKind, 4> kMethodOrder = {kMethod, kPropertyGet, kPropertyPut,
                                                               kPropertyPutRef};
    switch (kind) {
    case 0:
        return kRead;
    case 1:
        return kWrite;
    default:
        return kMethodOrder;
    }
}

bool Passable(const Variant& arg) {
    if (arg.IsRef())
        return arg.RefTarget() != nullptr;
    return true;
}

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

const Variant& Invocation::Arg(std::size_t i) const {
    static const Variant kMissing = Variant::Missing();
    return i < Count() ? args_[i].Deref() : kMissing;
}

const Variant& Invocation::Value() const {
    static const Variant kEmpty;
    return IsPut() && !args_.empty() ? args_.back().Deref() : kEmpty;
}

void Invocation::SetOut(std::size_t i, Variant value) {
    if (i < args_.size()) {
        if (Variant* target = args_[i].RefTarget())
            *target = std::move(value);
    }
}

HResult Invocation::Throw(std::string description) {
    exception_ = std::move(description);
    return kDispException;
}

// Member and column names are short and few per table: the length and eight bytes from each
// end tell them apart well enough. Setting bit 0x20 folds ASCII capitals onto small letters; the
// other bytes it merges only collide, and equality sorts those out.
namespace {

std::uint64_t Load(const char* at, std::size_t n) {
    std::uint64_t word = 0;
    std::memcpy(&word, at, n);
    return word;
}

} // namespace

std::size_t NoCaseHash::operator()(std::string_view text) const {
    const std::size_t n = text.size();
    const char* p = text.data();
    std::uint64_t head, tail;
    if (n >= 8) {
        head = Load(p, 8);
        tail = Load(p + n - 8, 8);
    } else if (n >= 4) {
        head = Load(p, 4);
        tail = Load(p + n - 4, 4);
    } else {
        head = n == 0 ? 0 : Load(p, 1) | Load(p + n / 2, 1) << 8 | Load(p + n - 1, 1) << 16;
        tail = 0;
    }
    constexpr std::uint64_t kFold = 0x2020202020202020ull;
    const std::uint64_t mixed =
        ((head | kFold) ^ ((tail | kFold) * 0x9E3779B97F4A7C15ull) ^ n) * 0xBF58476D1CE4E5B9ull;
    return static_cast<std::size_t>(mixed ^ (mixed >> 29));
}

// Names may be GBK: a two-byte character compares exactly, even when its trail byte looks
// like a letter.
bool NoCaseEqual::operator()(std::string_view a, std::string_view b) const {
    if (a.size() != b.size())
        return false;
    if (a == b)
        return true;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (static_cast<unsigned char>(a[i]) >= 0x80 && i + 1 < a.size()) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1])
                return false;
            ++i;
            continue;
        }
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    }
    return true;
}

void NameIndex::Add(std::string name, int value) {
    if (Find(name) >= 0)
        return;
    entries_.emplace_back(std::move(name), value);
    if (slots_.size() < entries_.size() * 2) {
        Grow();
        return;
    }
    const std::size_t hash = NoCaseHash{}(entries_.back().first);
    std::size_t at = hash & (slots_.size() - 1);
    while (slots_[at].entry >= 0)
        at = (at + 1) & (slots_.size() - 1);
    slots_[at] = {hash, static_cast<int>(entries_.size() - 1)};
}

void NameIndex::Grow() {
    std::size_t size = 8;
    while (size < entries_.size() * 4)
        size *= 2;
    slots_.assign(size, Slot{});
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const std::size_t hash = NoCaseHash{}(entries_[i].first);
        std::size_t at = hash & (size - 1);
        while (slots_[at].entry >= 0)
            at = (at + 1) & (size - 1);
        slots_[at] = {hash, static_cast<int>(i)};
    }
}

int NameIndex::Find(std::string_view name) const {
    if (slots_.empty())
        return -1;
    const std::size_t hash = NoCaseHash{}(name);
    for (std::size_t at = hash & (slots_.size() - 1);; at = (at + 1) & (slots_.size() - 1)) {
        const Slot& slot = slots_[at];
        if (slot.entry < 0)
            return -1;
        if (slot.hash == hash) {
            const auto& entry = entries_[static_cast<std::size_t>(slot.entry)];
            if (NoCaseEqual{}(entry.first, name))
                return entry.second;
        }
    }
}

void NameIndex::Clear() {
    entries_.clear();
    slots_.clear();
}

Variant Object::Run(CallKind kind, std::string_view member, std::span<const Variant> args,
                    const Variant* value, std::uint16_t want) const {
    if (!object_) {
        Record(kNoObject);
        return {};
    }
    if (!object_->HasTypeInfo()) {
        Record(kNoTypeInfo);
        return {};
    }
    MemberBinding binding;
    if (!object_->Bind(member, binding)) {
        Record(kNoSuchMember);
        return {};
    }
    InvokeKind chosen = kMethod;
    bool found = false;
    for (const InvokeKind candidate : Preference(static_cast<int>(kind))) {
        if (binding.kinds & candidate) {
            chosen = candidate;
            found = true;
            break;
        }
    }
    if (!found) {
        Record(kNoSuchMember);
        return {};
    }
    if (args.size() > static_cast<std::size_t>(binding.maxArgs)) {
        Record(kTooManyArgs);
        return {};
    }
    for (const Variant& arg : args) {
        if (!Passable(arg)) {
            Record(kBadArgType);
            return {};
        }
    }

    // A put passes the new value after the index arguments.
    std::vector<Variant> withValue;
    std::span<const Variant> callArgs = args;
    const bool isPut = chosen == kPropertyPut || chosen == kPropertyPutRef;
    if (isPut) {
        withValue.assign(args.begin(), args.end());
        withValue.push_back(value ? *value : Variant());
        callArgs = withValue;
    }

    Variant result;
    std::string exception;
    // This handle keeps the object alive through the call: it is const and the member cannot
    // reach it.
    const HResult hr = object_->Invoke(binding.id, chosen, callArgs, result, exception);
    if (Failed(hr)) {
        Record(CallErrorOf(hr), std::move(exception));
        return {};
    }
    if (want != VT_VARIANT && want != result.Type()) {
        Variant converted;
        if (Failed(result.ChangeType(want, converted))) {
            Record(kResultMismatch);
            return {};
        }
        RecordSuccess();
        return converted;
    }
    RecordSuccess();
    return result;
}

Variant Object::Get(std::string_view member, Args args, std::uint16_t want) const {
    return Run(CallKind::Read, member, std::span<const Variant>(args.begin(), args.size()), nullptr,
               want);
}

bool Object::Put(std::string_view member, const Variant& value, Args args) const {
    Run(CallKind::Write, member, std::span<const Variant>(args.begin(), args.size()), &value,
        VT_VARIANT);
    return t_state.code == kCallOk;
}

Variant Object::Call(std::string_view member, Args args, std::uint16_t want) const {
    return Run(CallKind::Method, member, std::span<const Variant>(args.begin(), args.size()),
               nullptr, want);
}

Variant Object::GetWith(std::string_view member, std::span<const Variant> args,
                        std::uint16_t want) const {
    return Run(CallKind::Read, member, args, nullptr, want);
}

Variant Object::CallWith(std::string_view member, std::span<const Variant> args,
                         std::uint16_t want) const {
    return Run(CallKind::Method, member, args, nullptr, want);
}

std::string Object::GetText(std::string_view member, Args args) const {
    return Get(member, args, VT_BSTR).Text();
}

double Object::GetNumber(std::string_view member, Args args) const {
    return Get(member, args, VT_R8).DoubleValue();
}

std::int32_t Object::GetInt(std::string_view member, Args args) const {
    return static_cast<std::int32_t>(Get(member, args, VT_I4).IntValue());
}

bool Object::GetBool(std::string_view member, Args args) const {
    return Get(member, args, VT_BOOL).IntValue() != 0;
}

Object Object::GetObject(std::string_view member, Args args) const {
    return ObjectOf(Get(member, args, VT_DISPATCH));
}

std::string Object::CallText(std::string_view member, Args args) const {
    return Call(member, args, VT_BSTR).Text();
}

double Object::CallNumber(std::string_view member, Args args) const {
    return Call(member, args, VT_R8).DoubleValue();
}

Object Object::CallObject(std::string_view member, Args args) const {
    return ObjectOf(Call(member, args, VT_DISPATCH));
}

Object ObjectOf(Variant&& value) {
    return Object(std::move(value).TakeDispatcher());
}

Object ObjectOf(const Variant& value) {
    return Object(value.Deref().Dispatcher());
}

int LastCallError() {
    return t_state.code;
}

std::string LastCallErrorText() {
    return CallErrorText(t_state.code);
}

std::string LastCallException() {
    return t_state.exception;
}

std::string CallErrorText(int code) {
    // Converted once: the texts are asked for after every failing call.
    static const std::array<std::string, 19> kTexts = {
        std::string(),
        text::Gbk(u8"对象为空"),
        text::Gbk(u8"指定对象没有调用接口"),
        text::Gbk(u8"未找到指定属性或方法"),
        text::Gbk(u8"指定对象没有类型信息"),
        text::Gbk(u8"提供了过多的参数"),
        text::Gbk(u8"该对象不是字体对象"),
        text::Gbk(u8"参数数据类型错误"),
        text::Gbk(u8"执行成功，但返回值类型不匹配"),
        text::Gbk(u8"参数数目错误"),
        text::Gbk(u8"参数类型值无效"),
        text::Gbk(u8"发现异常"),
        text::Gbk(u8"未找到指定成员"),
        text::Gbk(u8"不支持命名参数"),
        text::Gbk(u8"溢出"),
        text::Gbk(u8"未找到指定参数"),
        text::Gbk(u8"类型不匹配"),
        text::Gbk(u8"必需的参数数据被省略"),
        text::Gbk(u8"其他原因调用失败"),
    };
    if (code > 0 || code < -18)
        return {};
    return kTexts[static_cast<std::size_t>(-code)];
}

int CallErrorOf(HResult hr) {
    switch (hr) {
    case kDispBadParamCount:
        return kBadParamCount;
    case kDispBadVarType:
        return kBadVarType;
    case kDispException:
        return kException;
    case kDispMemberNotFound:
        return kMemberNotFound;
    case kDispNoNamedArgs:
        return kNoNamedArgs;
    case kDispOverflow:
        return kOverflow;
    case kDispParamNotFound:
        return kParamNotFound;
    case kDispTypeMismatch:
        return kTypeMismatch;
    case kDispParamNotOptional:
        return kParamNotOptional;
    default:
        return Failed(hr) ? kOtherFailure : kCallOk;
    }
}

} // namespace vm::automation
