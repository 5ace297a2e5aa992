#pragma once
// The automation variant: the value that crosses every late-bound call. Texts (VT_BSTR) are GBK
// byte strings, as everywhere above the platform; byte arrays are SAFEARRAYs of VT_UI1 on the
// Windows side and plain byte vectors here.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vm::automation {

using HResult = std::int32_t;

// The status codes the late-bound layer and the native classes exchange.
inline constexpr HResult kOk = 0;
inline constexpr HResult kFalse = 1;
inline constexpr HResult kFail = static_cast<HResult>(0x80004005);
inline constexpr HResult kInvalidArg = static_cast<HResult>(0x80070057);
inline constexpr HResult kNoInterface = static_cast<HResult>(0x80004002);
inline constexpr HResult kClassNotRegistered = static_cast<HResult>(0x80040154);
inline constexpr HResult kNotInitialized = static_cast<HResult>(0x800401F0);
inline constexpr HResult kDispUnknownInterface = static_cast<HResult>(0x80020001);
inline constexpr HResult kDispMemberNotFound = static_cast<HResult>(0x80020003);
inline constexpr HResult kDispParamNotFound = static_cast<HResult>(0x80020004);
inline constexpr HResult kDispTypeMismatch = static_cast<HResult>(0x80020005);
inline constexpr HResult kDispUnknownName = static_cast<HResult>(0x80020006);
inline constexpr HResult kDispNoNamedArgs = static_cast<HResult>(0x80020007);
inline constexpr HResult kDispBadVarType = static_cast<HResult>(0x80020008);
inline constexpr HResult kDispException = static_cast<HResult>(0x80020009);
inline constexpr HResult kDispOverflow = static_cast<HResult>(0x8002000A);
inline constexpr HResult kDispBadIndex = static_cast<HResult>(0x8002000B);
inline constexpr HResult kDispBadParamCount = static_cast<HResult>(0x8002000E);
inline constexpr HResult kDispParamNotOptional = static_cast<HResult>(0x8002000F);

constexpr bool Failed(HResult hr) {
    return hr < 0;
}

enum VarType : std::uint16_t {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
};

inline constexpr std::uint16_t VT_BYTES = VT_ARRAY | VT_UI1;        // SAFEARRAY of bytes
inline constexpr std::uint16_t VT_VARIANTS = VT_ARRAY | VT_VARIANT; // SAFEARRAY of variants
inline constexpr std::uint16_t VT_REF = VT_BYREF | VT_VARIANT;      // reference to a variant

using Bytes = std::vector<std::uint8_t>;
class Dispatch;
class Object;

class Variant {
public:
    Variant() = default;
    Variant(bool value);
    Variant(std::int32_t value);
    Variant(double value);
    Variant(std::string text);
    Variant(std::string_view text);
    Variant(const char* text);
    Variant(Bytes bytes);
    Variant(std::shared_ptr<Dispatch> object);
    Variant(const Object& object);

    static Variant Null();
    static Variant I2(std::int16_t value);
    static Variant I8(std::int64_t value);
    static Variant UI1(std::uint8_t value);
    static Variant R4(float value);
    static Variant Date(double oleDate);
    static Variant Error(HResult code);
    // An omitted argument: VT_ERROR carrying DISP_E_PARAMNOTFOUND.
    static Variant Missing();
    static Variant Array(std::vector<Variant> items);
    // A by-reference argument: the callee reads and writes `target` through it.
    static Variant Ref(Variant& target);

    std::uint16_t Type() const { return vt_; }
    bool IsEmpty() const { return vt_ == VT_EMPTY; }
    bool IsNull() const { return vt_ == VT_NULL; }
    bool IsMissing() const;
    bool IsRef() const { return vt_ == VT_REF; }
    bool IsNumeric() const;

    // The variant a reference points at (itself when it is not a reference).
    const Variant& Deref() const;
    Variant& Deref();
    // The target of a reference; null for any other variant.
    Variant* RefTarget() const;

    // Raw payloads; each is meaningful only for the matching types.
    std::int64_t IntValue() const;
    double DoubleValue() const;
    const std::string& Text() const;
    const Bytes& ByteArray() const;
    const std::vector<Variant>& Items() const;
    const std::shared_ptr<Dispatch>& Dispatcher() const;
    // Moves the object out of a VT_DISPATCH variant (no reference-count traffic).
    std::shared_ptr<Dispatch> TakeDispatcher() &&;
    // Moves the text out of a VT_BSTR variant (no copy); empty for any other type.
    std::string TakeText() &&;

    // VariantChangeType: the value as type `want` (one of the scalar types, VT_BSTR, VT_DATE,
    // VT_BOOL, VT_DISPATCH, VT_BYTES, or VT_VARIANT for no conversion). Empty converts to zero,
    // empty text and false; Null converts to nothing but itself.
    HResult ChangeType(std::uint16_t want, Variant& out) const;

    // Convenience conversions; false when ChangeType fails (out is then left at its zero value).
    bool ToInt32(std::int32_t& out) const;
    bool ToInt64(std::int64_t& out) const;
    bool ToDouble(double& out) const;
    bool ToBool(bool& out) const;
    bool ToText(std::string& out) const;
    bool ToDate(double& out) const;
    bool ToBytes(Bytes& out) const;

    // Same type and equal payload (objects by identity).
    friend bool operator==(const Variant& a, const Variant& b);

private:
    using Payload = std::variant<std::monostate, std::int64_t, double, std::string, Bytes,
                                 std::vector<Variant>, std::shared_ptr<Dispatch>, Variant*>;
    Variant(std::uint16_t vt, Payload payload) : vt_(vt), payload_(std::move(payload)) {}

    std::uint16_t vt_ = VT_EMPTY;
    Payload payload_;
};

// OLE automation dates: days since 1899-12-30, the fraction being the time of day. Before the
// epoch the fraction still counts forward from midnight (-1.25 is 1899-12-29 06:00).
struct DateParts {
    int year = 1899;
    int month = 12;
    int day = 30;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

bool MakeOleDate(const DateParts& parts, double& out);
bool SplitOleDate(double date, DateParts& out);

// Text forms: "2024-05-06 07:08:09", without the time when it is midnight, without the date when
// it is the epoch day. Parsing accepts ISO ("2024-05-06", "2024-05-06T07:08:09", "2024/5/6
// 7:08") and US ("5/6/2024 7:08:09 PM") forms.
std::string FormatOleDate(double date);
bool ParseOleDate(std::string_view text, double& out);

// Number texts the way the automation conversions write and read them: integers without a
// fraction, doubles with up to 15 significant digits.
std::string FormatNumber(double value);
bool ParseNumber(std::string_view text, double& out);

} // namespace vm::automation
