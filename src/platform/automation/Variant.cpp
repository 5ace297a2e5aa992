#include "platform/automation/Variant.h"

#include "platform/automation/Object.h"
#include "platform/text/Gbk.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace vm::automation {
namespace {

const std::string kEmptyText;
const Bytes kEmptyBytes;
const std::vector<Variant> kEmptyItems;
const std::shared_ptr<Dispatch> kNullDispatch;

bool IsIntegerType(std::uint16_t vt) {
    switch (vt) {
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
        return true;
    default:
        return false;
    }
}

// Integer targets with their ranges.
bool IntegerRange(std::uint16_t vt, double& low, double& high) {
    switch (vt) {
    case VT_I1:
        low = -128, high = 127;
        return true;
    case VT_UI1:
        low = 0, high = 255;
        return true;
    case VT_I2:
        low = -32768, high = 32767;
        return true;
    case VT_UI2:
        low = 0, high = 65535;
        return true;
    case VT_I4:
    case VT_INT:
        low = -2147483648.0, high = 2147483647.0;
        return true;
    case VT_UI4:
    case VT_UINT:
        low = 0, high = 4294967295.0;
        return true;
    case VT_I8:
        low = -9223372036854775808.0, high = 9223372036854775807.0;
        return true;
    case VT_UI8:
        low = 0, high = 18446744073709551615.0;
        return true;
    default:
        return false;
    }
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// Days from 1899-12-30 to the given civil date (proleptic Gregorian).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468 + 25569;
}

void CivilFromDays(long long days, int& year, int& month, int& day) {
    long long z = days - 25569 + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(static_cast<long long>(yoe) + era * 400 + (month <= 2));
}

bool DaysInMonthOk(int year, int month, int day) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1)
        return false;
    int limit = kDays[month - 1];
    if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0))
        limit = 29;
    return day <= limit;
}

// Reads an unsigned decimal number of 1..digits digits.
bool ReadUnsigned(std::string_view& text, int& out, std::size_t maxDigits) {
    std::size_t n = 0;
    int value = 0;
    while (n < text.size() && n < maxDigits && text[n] >= '0' && text[n] <= '9') {
        value = value * 10 + (text[n] - '0');
        ++n;
    }
    if (n == 0)
        return false;
    out = value;
    text.remove_prefix(n);
    return true;
}

bool ReadTime(std::string_view text, DateParts& parts) {
    text = TrimBlanks(text);
    if (!ReadUnsigned(text, parts.hour, 2))
        return false;
    if (text.empty() || text.front() != ':')
        return false;
    text.remove_prefix(1);
    if (!ReadUnsigned(text, parts.minute, 2))
        return false;
    parts.second = 0;
    if (!text.empty() && text.front() == ':') {
        text.remove_prefix(1);
        if (!ReadUnsigned(text, parts.second, 2))
            return false;
        // Fractions of a second (SQL texts carry them) are dropped.
        if (!text.empty() && text.front() == '.') {
            text.remove_prefix(1);
            while (!text.empty() && text.front() >= '0' && text.front() <= '9')
                text.remove_prefix(1);
        }
    }
    text = TrimBlanks(text);
    if (text::EqualsFoldingEveryByte(text, "PM")) {
        if (parts.hour < 1 || parts.hour > 12)
            return false;
        if (parts.hour != 12)
            parts.hour += 12;
    } else if (text::EqualsFoldingEveryByte(text, "AM")) {
        if (parts.hour < 1 || parts.hour > 12)
            return false;
        if (parts.hour == 12)
            parts.hour = 0;
    } else if (!text.empty() && !(text.size() == 1 && (text[0] == 'Z' || text[0] == 'z'))) {
        return false;
    }
    return parts.hour < 24 && parts.minute < 60 && parts.second < 60;
}

} // namespace

Variant::Variant(bool value) : vt_(VT_BOOL), payload_(std::int64_t{value ? -1 : 0}) {}
Variant::Variant(std::int32_t value) : vt_(VT_I4), payload_(std::int64_t{value}) {}
Variant::Variant(double value) : vt_(VT_R8), payload_(value) {}
Variant::Variant(std::string text) : vt_(VT_BSTR), payload_(std::move(text)) {}
Variant::Variant(std::string_view text) : vt_(VT_BSTR), payload_(std::string(text)) {}
Variant::Variant(const char* text) : vt_(VT_BSTR), payload_(std::string(text ? text : "")) {}
Variant::Variant(Bytes bytes) : vt_(VT_BYTES), payload_(std::move(bytes)) {}
Variant::Variant(std::shared_ptr<Dispatch> object)
    : vt_(VT_DISPATCH), payload_(std::move(object)) {}
Variant::Variant(const Object& object) : Variant(object.Ptr()) {}

Variant Variant::Null() {
    return Variant(VT_NULL, std::monostate{});
}
Variant Variant::I2(std::int16_t value) {
    return Variant(VT_I2, std::int64_t{value});
}
Variant Variant::I8(std::int64_t value) {
    return Variant(VT_I8, value);
}
Variant Variant::UI1(std::uint8_t value) {
    return Variant(VT_UI1, std::int64_t{value});
}
Variant Variant::R4(float value) {
    return Variant(VT_R4, static_cast<double>(value));
}
Variant Variant::Date(double oleDate) {
    return Variant(VT_DATE, oleDate);
}
Variant Variant::Error(HResult code) {
    return Variant(VT_ERROR, std::int64_t{code});
}
Variant Variant::Missing() {
    return Error(kDispParamNotFound);
}
Variant Variant::Array(std::vector<Variant> items) {
    return Variant(VT_VARIANTS, std::move(items));
}
Variant Variant::Ref(Variant& target) {
    return Variant(VT_REF, &target.Deref());
}

bool Variant::IsMissing() const {
    const Variant& v = Deref();
    return v.vt_ == VT_ERROR && v.IntValue() == kDispParamNotFound;
}

bool Variant::IsNumeric() const {
    return IsIntegerType(vt_) || vt_ == VT_R4 || vt_ == VT_R8 || vt_ == VT_CY || vt_ == VT_BOOL ||
           vt_ == VT_DATE;
}

const Variant& Variant::Deref() const {
    if (vt_ == VT_REF) {
        const Variant* target = std::get<Variant*>(payload_);
        if (target)
            return *target;
    }
    return *this;
}

Variant& Variant::Deref() {
    if (vt_ == VT_REF) {
        Variant* target = std::get<Variant*>(payload_);
        if (target)
            return *target;
    }
    return *this;
}

Variant* Variant::RefTarget() const {
    return vt_ == VT_REF ? std::get<Variant*>(payload_) : nullptr;
}

std::int64_t Variant::IntValue() const {
    if (const auto* v = std::get_if<std::int64_t>(&payload_))
        return *v;
    if (const auto* d = std::get_if<double>(&payload_))
        return static_cast<std::int64_t>(*d);
    return 0;
}

double Variant::DoubleValue() const {
    if (const auto* d = std::get_if<double>(&payload_))
        return *d;
    if (const auto* v = std::get_if<std::int64_t>(&payload_))
        return static_cast<double>(*v);
    return 0;
}

const std::string& Variant::Text() const {
    const auto* s = std::get_if<std::string>(&payload_);
    return s ? *s : kEmptyText;
}

const Bytes& Variant::ByteArray() const {
    const auto* b = std::get_if<Bytes>(&payload_);
    return b ? *b : kEmptyBytes;
}

const std::vector<Variant>& Variant::Items() const {
    const auto* items = std::get_if<std::vector<Variant>>(&payload_);
    return items ? *items : kEmptyItems;
}

const std::shared_ptr<Dispatch>& Variant::Dispatcher() const {
    const auto* d = std::get_if<std::shared_ptr<Dispatch>>(&payload_);
    return d ? *d : kNullDispatch;
}

std::shared_ptr<Dispatch> Variant::TakeDispatcher() && {
    if (auto* d = std::get_if<std::shared_ptr<Dispatch>>(&payload_))
        return std::move(*d);
    return Deref().Dispatcher();
}

std::string Variant::TakeText() && {
    if (auto* s = std::get_if<std::string>(&payload_))
        return std::move(*s);
    return {};
}

HResult Variant::ChangeType(std::uint16_t want, Variant& out) const {
    const Variant& v = Deref();
    if (want == VT_VARIANT || want == v.vt_) {
        out = v;
        return kOk;
    }
    if (v.vt_ == VT_NULL)
        return kDispTypeMismatch;
    if (v.vt_ == VT_VARIANTS || v.vt_ == VT_REF)
        return kDispTypeMismatch;

    // Reduce the source to a number where that is the way through.
    auto numeric = [&](double& number) -> bool {
        if (v.vt_ == VT_EMPTY) {
            number = 0;
            return true;
        }
        if (v.vt_ == VT_BSTR)
            return ParseNumber(v.Text(), number);
        if (v.IsNumeric()) {
            number = v.DoubleValue();
            return true;
        }
        return false;
    };

    double low = 0, high = 0;
    if (IntegerRange(want, low, high)) {
        double number = 0;
        if (v.vt_ == VT_I8 || v.vt_ == VT_UI8) {
            const std::int64_t exact = v.IntValue();
            if (static_cast<double>(exact) < low || static_cast<double>(exact) > high)
                return kDispOverflow;
            out = Variant(want, exact);
            return kOk;
        }
        if (!numeric(number))
            return kDispTypeMismatch;
        // Automation rounds half to even when it narrows to an integer.
        const double rounded = std::nearbyint(number);
        if (!std::isfinite(rounded) || rounded < low || rounded > high)
            return kDispOverflow;
        out = Variant(want, static_cast<std::int64_t>(rounded));
        return kOk;
    }

    switch (want) {
    case VT_R8:
    case VT_R4:
    case VT_CY: {
        double number = 0;
        if (!numeric(number))
            return kDispTypeMismatch;
        if (want == VT_R4 && std::isfinite(number) &&
            std::fabs(number) > std::numeric_limits<float>::max())
            return kDispOverflow;
        out =
            Variant(want, want == VT_R4 ? static_cast<double>(static_cast<float>(number)) : number);
        return kOk;
    }
    case VT_DATE: {
        double date = 0;
        if (v.vt_ == VT_BSTR) {
            if (!ParseOleDate(v.Text(), date) && !ParseNumber(v.Text(), date))
                return kDispTypeMismatch;
        } else if (!numeric(date)) {
            return kDispTypeMismatch;
        }
        out = Variant::Date(date);
        return kOk;
    }
    case VT_BOOL: {
        if (v.vt_ == VT_BSTR) {
            const std::string_view text = TrimBlanks(v.Text());
            if (text::EqualsFoldingEveryByte(text, "true") ||
                text::EqualsFoldingEveryByte(text, "yes")) {
                out = Variant(true);
                return kOk;
            }
            if (text::EqualsFoldingEveryByte(text, "false") ||
                text::EqualsFoldingEveryByte(text, "no")) {
                out = Variant(false);
                return kOk;
            }
        }
        double number = 0;
        if (!numeric(number))
            return kDispTypeMismatch;
        out = Variant(number != 0);
        return kOk;
    }
    case VT_BSTR:
        switch (v.vt_) {
        case VT_EMPTY:
            out = Variant(std::string());
            return kOk;
        case VT_BOOL:
            out = Variant(std::string(v.IntValue() ? "True" : "False"));
            return kOk;
        case VT_DATE:
            out = Variant(FormatOleDate(v.DoubleValue()));
            return kOk;
        case VT_R4:
        case VT_R8:
        case VT_CY:
            out = Variant(FormatNumber(v.DoubleValue()));
            return kOk;
        case VT_BYTES: {
            const Bytes& bytes = v.ByteArray();
            out = Variant(std::string(bytes.begin(), bytes.end()));
            return kOk;
        }
        default:
            if (IsIntegerType(v.vt_)) {
                out = Variant(std::to_string(v.IntValue()));
                return kOk;
            }
            return kDispTypeMismatch;
        }
    case VT_BYTES:
        if (v.vt_ == VT_BSTR) {
            const std::string& text = v.Text();
            out = Variant(Bytes(text.begin(), text.end()));
            return kOk;
        }
        if (v.vt_ == VT_EMPTY) {
            out = Variant(Bytes{});
            return kOk;
        }
        return kDispTypeMismatch;
    case VT_DISPATCH:
        // An empty value reads as "no object", as a property that holds Nothing does.
        if (v.vt_ == VT_EMPTY) {
            out = Variant(std::shared_ptr<Dispatch>());
            return kOk;
        }
        return kDispTypeMismatch;
    case VT_EMPTY:
        out = Variant();
        return kOk;
    case VT_NULL:
        out = Variant::Null();
        return kOk;
    default:
        return kDispBadVarType;
    }
}

bool Variant::ToInt32(std::int32_t& out) const {
    out = 0;
    Variant converted;
    if (Failed(ChangeType(VT_I4, converted)))
        return false;
    out = static_cast<std::int32_t>(converted.IntValue());
    return true;
}

bool Variant::ToInt64(std::int64_t& out) const {
    out = 0;
    Variant converted;
    if (Failed(ChangeType(VT_I8, converted)))
        return false;
    out = converted.IntValue();
    return true;
}

bool Variant::ToDouble(double& out) const {
    out = 0;
    Variant converted;
    if (Failed(ChangeType(VT_R8, converted)))
        return false;
    out = converted.DoubleValue();
    return true;
}

bool Variant::ToBool(bool& out) const {
    out = false;
    Variant converted;
    if (Failed(ChangeType(VT_BOOL, converted)))
        return false;
    out = converted.IntValue() != 0;
    return true;
}

bool Variant::ToText(std::string& out) const {
    out.clear();
    Variant converted;
    if (Failed(ChangeType(VT_BSTR, converted)))
        return false;
    out = converted.Text();
    return true;
}

bool Variant::ToDate(double& out) const {
    out = 0;
    Variant converted;
    if (Failed(ChangeType(VT_DATE, converted)))
        return false;
    out = converted.DoubleValue();
    return true;
}

bool Variant::ToBytes(Bytes& out) const {
    out.clear();
    Variant converted;
    if (Failed(ChangeType(VT_BYTES, converted)))
        return false;
    out = converted.ByteArray();
    return true;
}

bool operator==(const Variant& a, const Variant& b) {
    return a.vt_ == b.vt_ && a.payload_ == b.payload_;
}

bool MakeOleDate(const DateParts& parts, double& out) {
    if (parts.year < 100 || parts.year > 9999 || !DaysInMonthOk(parts.year, parts.month, parts.day))
        return false;
    if (parts.hour < 0 || parts.hour > 23 || parts.minute < 0 || parts.minute > 59 ||
        parts.second < 0 || parts.second > 59)
        return false;
    const long long days = DaysFromCivil(parts.year, static_cast<unsigned>(parts.month),
                                         static_cast<unsigned>(parts.day));
    const double time = (parts.hour * 3600 + parts.minute * 60 + parts.second) / 86400.0;
    // The fraction counts forward from midnight on both sides of the epoch.
    out = days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
    return true;
}

bool SplitOleDate(double date, DateParts& out) {
    if (!std::isfinite(date) || date < -657434.0 || date >= 2958466.0)
        return false;
    double whole = std::trunc(date);
    double fraction = std::fabs(date - whole);
    // Round to the second; a time that rounds up to midnight moves to the next day.
    long long seconds = std::llround(fraction * 86400.0);
    long long days = static_cast<long long>(whole);
    if (seconds >= 86400) {
        seconds -= 86400;
        days += date < 0 ? -1 : 1;
    }
    CivilFromDays(days, out.year, out.month, out.day);
    out.hour = static_cast<int>(seconds / 3600);
    out.minute = static_cast<int>(seconds / 60 % 60);
    out.second = static_cast<int>(seconds % 60);
    return true;
}

std::string FormatOleDate(double date) {
    DateParts p;
    if (!SplitOleDate(date, p))
        return FormatNumber(date);
    char buffer[40];
    const bool hasTime = p.hour != 0 || p.minute != 0 || p.second != 0;
    const bool epochDay = std::trunc(date) == 0;
    if (epochDay && hasTime)
        std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", p.hour, p.minute, p.second);
    else if (hasTime)
        std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month,
                      p.day, p.hour, p.minute, p.second);
    else
        std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", p.year, p.month, p.day);
    return buffer;
}

bool ParseOleDate(std::string_view text, double& out) {
    text = TrimBlanks(text);
    DateParts parts;
    std::string_view rest = text;
    int a = 0, b = 0, c = 0;
    const std::string_view before = rest;
    if (!ReadUnsigned(rest, a, 4))
        return false;
    const bool isoYear = before.size() - rest.size() == 4;
    if (rest.empty()) {
        return false;
    }
    if (rest.front() == ':') {
        // A time alone: the epoch day.
        if (!ReadTime(text, parts))
            return false;
        out = (parts.hour * 3600 + parts.minute * 60 + parts.second) / 86400.0;
        return true;
    }
    const char separator = rest.front();
    if (separator != '-' && separator != '/' && separator != '.')
        return false;
    rest.remove_prefix(1);
    if (!ReadUnsigned(rest, b, 2) || rest.empty() || rest.front() != separator)
        return false;
    rest.remove_prefix(1);
    const std::string_view beforeLast = rest;
    if (!ReadUnsigned(rest, c, 4))
        return false;
    if (isoYear) {
        parts.year = a, parts.month = b, parts.day = c;
    } else {
        // Month first, as the US forms write it; a two-digit year means 1930-2029.
        if (beforeLast.size() - rest.size() <= 2)
            c += c < 30 ? 2000 : 1900;
        parts.year = c, parts.month = a, parts.day = b;
    }
    if (!rest.empty()) {
        if (rest.front() != ' ' && rest.front() != 'T' && rest.front() != 't')
            return false;
        rest.remove_prefix(1);
        if (!TrimBlanks(rest).empty() && !ReadTime(rest, parts))
            return false;
    }
    return MakeOleDate(parts, out);
}

std::string FormatNumber(double value) {
    if (std::isnan(value))
        return "NaN";
    if (value == std::trunc(value) && std::fabs(value) < 1e15) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.0f", value);
        return std::string(buffer) == "-0" ? "0" : buffer;
    }
    // to_chars, unlike printf, ignores the locale a toolkit may have set.
    char buffer[40];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    std::string text(buffer, result.ptr);
    for (char& c : text)
        if (c == 'e')
            c = 'E';
    return text;
}

bool ParseNumber(std::string_view text, double& out) {
    text = TrimBlanks(text);
    if (text.empty())
        return false;
    if (text.front() == '+')
        text.remove_prefix(1);
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return false;
    out = value;
    return true;
}

} // namespace vm::automation
