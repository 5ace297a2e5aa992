#include "platform/ado/Objects.h"

namespace vm::ado {
namespace {

using automation::kMethod;
using automation::kOk;
using automation::kPropertyGet;
using automation::kPropertyPut;
using automation::VT_BSTR;

constexpr std::uint16_t kGetPut = kPropertyGet | kPropertyPut;

} // namespace

// ---- Field -------------------------------------------------------------------------------

const MemberTable<Field>& Field::Members() {
    static const MemberTable<Field> table = {
        {"Value", kGetPut, 0, &Field::Value},
        {"Name", kPropertyGet, 0, &Field::Name},
        {"Type", kPropertyGet, 0, &Field::Type},
        {"DefinedSize", kPropertyGet, 0, &Field::DefinedSize},
        {"ActualSize", kPropertyGet, 0, &Field::ActualSize},
        {"Attributes", kPropertyGet, 0, &Field::Attributes},
        {"OriginalValue", kPropertyGet, 0, &Field::OriginalValue},
        {"UnderlyingValue", kPropertyGet, 0, &Field::OriginalValue},
        {"Precision", kPropertyGet, 0, &Field::Precision},
        {"NumericScale", kPropertyGet, 0, &Field::NumericScale},
    };
    return table;
}

Recordset* Field::Owner(Invocation& call, HResult& failure) const {
    Recordset* owner = owner_.Get();
    // A field of an earlier open (or of a closed recordset) describes nothing any more.
    if (!owner || owner->Generation() != generation_ || !owner->IsOpen() ||
        column_ >= owner->Columns().size()) {
        failure = call.Throw("Object is no longer valid.");
        return nullptr;
    }
    return owner;
}

HResult Field::Value(Invocation& call) {
    HResult failure = kOk;
    const auto owner = Owner(call, failure);
    if (!owner)
        return failure;
    Fault fault{};
    if (call.IsPut())
        return owner->WriteField(column_, call.Value(), fault) ? kOk : call.Throw(FaultText(fault));
    if (!owner->ReadField(column_, call.Result(), fault))
        return call.Throw(FaultText(fault));
    return kOk;
}

HResult Field::OriginalValue(Invocation& call) {
    HResult failure = kOk;
    const auto owner = Owner(call, failure);
    if (!owner)
        return failure;
    Fault fault{};
    if (!owner->ReadOriginal(column_, call.Result(), fault))
        return call.Throw(FaultText(fault));
    return kOk;
}

HResult Field::Name(Invocation& call) {
    HResult failure = kOk;
    const auto owner = Owner(call, failure);
    return owner ? call.Return(Variant(owner->Columns()[column_].name)) : failure;
}

HResult Field::Type(Invocation& call) {
    HResult failure = kOk;
    const auto owner = Owner(call, failure);
    return owner ? call.Return(Variant(std::int32_t{owner->Columns()[column_].type})) : failure;
}

HResult Field::DefinedSize(Invocation& call) {
    HResult failure = kOk;
    const auto owner = Owner(call, failure);
    return owner ? call.Return(
                       Variant(static_cast<std::int32_t>(owner->Columns()[column_].definedSize)))
                 : failure;
}

HResult Field::ActualSize(Invocation& call) {
    HResult failure = kOk;
    const auto owner = Owner(call, failure);
    if (!owner)
        return failure;
    const std::int64_t size = owner->ActualSize(column_);
    if (size < 0)
        return call.Throw(FaultText(Fault::NoCurrentRecord));
    return call.Return(Variant(static_cast<std::int32_t>(size)));
}

HResult Field::Attributes(Invocation& call) {
    HResult failure = kOk;
    const auto owner = Owner(call, failure);
    return owner ? call.Return(Variant(std::int32_t{owner->Columns()[column_].attributes}))
                 : failure;
}

HResult Field::Precision(Invocation& call) {
    HResult failure = kOk;
    const auto owner = Owner(call, failure);
    return owner ? call.Return(
                       Variant::UI1(static_cast<std::uint8_t>(owner->Columns()[column_].precision)))
                 : failure;
}

HResult Field::NumericScale(Invocation& call) {
    HResult failure = kOk;
    const auto owner = Owner(call, failure);
    return owner ? call.Return(Variant::UI1(
                       static_cast<std::uint8_t>(owner->Columns()[column_].numericScale)))
                 : failure;
}

// ---- Fields ------------------------------------------------------------------------------

const MemberTable<Fields>& Fields::Members() {
    static const MemberTable<Fields> table = {
        {"Count", kPropertyGet, 0, &Fields::Count},
        {"Item", kPropertyGet, 1, &Fields::Item},
        {"Refresh", kMethod, 0, &Fields::Refresh},
    };
    return table;
}

Fields::Fields(RecordsetRef owner, unsigned generation, std::size_t count)
    : owner_(std::move(owner)), generation_(generation) {
    items_.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        items_.push_back(std::make_shared<Field>(owner_, generation_, i));
}

HResult Fields::Count(Invocation& call) {
    return call.Return(Variant(static_cast<std::int32_t>(items_.size())));
}

HResult Fields::Item(Invocation& call) {
    const Variant& key = call.Arg(0);
    long index = -1;
    if (key.Type() == VT_BSTR) {
        const Recordset* owner = owner_.Get();
        if (owner && owner->Generation() == generation_)
            index = owner->FieldIndex(key.Text());
    } else if (key.IsMissing()) {
        return call.Throw(FaultText(Fault::InvalidArgument));
    } else if (std::int32_t n = 0; key.ToInt32(n)) {
        index = n;
    }
    if (index < 0 || index >= static_cast<long>(items_.size()))
        return call.Throw(FaultText(Fault::ItemNotFound));
    return call.Return(Variant(
        std::static_pointer_cast<automation::Dispatch>(items_[static_cast<std::size_t>(index)])));
}

HResult Fields::Refresh(Invocation&) {
    return kOk;
}

// ---- Errors and Error --------------------------------------------------------------------

const MemberTable<Errors>& Errors::Members() {
    static const MemberTable<Errors> table = {
        {"Count", kPropertyGet, 0, &Errors::Count},
        {"Item", kPropertyGet, 1, &Errors::Item},
        {"Clear", kMethod, 0, &Errors::Clear},
        {"Refresh", kMethod, 0, &Errors::Refresh},
    };
    return table;
}

HResult Errors::Count(Invocation& call) {
    return call.Return(Variant(static_cast<std::int32_t>(list_->items.size())));
}

HResult Errors::Item(Invocation& call) {
    std::int32_t index = -1;
    if (!call.Arg(0).ToInt32(index) || index < 0 ||
        static_cast<std::size_t>(index) >= list_->items.size())
        return call.Throw(FaultText(Fault::ItemNotFound));
    return call.Return(Variant(std::static_pointer_cast<automation::Dispatch>(
        std::make_shared<Error>(list_->items[static_cast<std::size_t>(index)]))));
}

HResult Errors::Clear(Invocation&) {
    list_->items.clear();
    return kOk;
}

HResult Errors::Refresh(Invocation&) {
    return kOk;
}

const MemberTable<Error>& Error::Members() {
    static const MemberTable<Error> table = {
        {"Description", kPropertyGet, 0, &Error::Description},
        {"Number", kPropertyGet, 0, &Error::Number},
        {"Source", kPropertyGet, 0, &Error::Source},
        {"SQLState", kPropertyGet, 0, &Error::SqlState},
        {"NativeError", kPropertyGet, 0, &Error::NativeError},
        {"HelpFile", kPropertyGet, 0, &Error::HelpFile},
        {"HelpContext", kPropertyGet, 0, &Error::HelpContext},
    };
    return table;
}

HResult Error::Description(Invocation& call) {
    return call.Return(Variant(error_.description));
}
HResult Error::Number(Invocation& call) {
    return call.Return(Variant(std::int32_t{error_.number}));
}
HResult Error::Source(Invocation& call) {
    return call.Return(Variant(error_.source));
}
HResult Error::SqlState(Invocation& call) {
    return call.Return(Variant(error_.sqlState));
}
HResult Error::NativeError(Invocation& call) {
    return call.Return(Variant(std::int32_t{error_.nativeError}));
}
HResult Error::HelpFile(Invocation& call) {
    return call.Return(Variant(std::string()));
}
HResult Error::HelpContext(Invocation& call) {
    return call.Return(Variant(std::int32_t{0}));
}

} // namespace vm::ado
