#include "platform/ado/Members.h"
#include "platform/ado/Objects.h"

namespace vm::ado {
namespace {

using automation::kOk;
using automation::VT_BSTR;

} // namespace

// ---- Field -------------------------------------------------------------------------------

const MemberTable<Field>& Field::Members() {
    using Def = Declare<Field>;
    static const MemberTable<Field> table = {
        Def::GetPut("Value", &Field::Value),
        Def::Get("Name",
                 [](Field& self, Invocation& call) {
                     return self.ReturnColumn(
                         call, [](const ColumnInfo& column) { return Variant(column.name); });
                 }),
        Def::Get("Type",
                 [](Field& self, Invocation& call) {
                     return self.ReturnColumn(call, [](const ColumnInfo& column) {
                         return Variant(std::int32_t{column.type});
                     });
                 }),
        Def::Get("DefinedSize",
                 [](Field& self, Invocation& call) {
                     return self.ReturnColumn(call, [](const ColumnInfo& column) {
                         return Variant(static_cast<std::int32_t>(column.definedSize));
                     });
                 }),
        Def::Get("ActualSize", &Field::ActualSize),
        Def::Get("Attributes",
                 [](Field& self, Invocation& call) {
                     return self.ReturnColumn(call, [](const ColumnInfo& column) {
                         return Variant(std::int32_t{column.attributes});
                     });
                 }),
        Def::Get("OriginalValue", &Field::OriginalValue),
        Def::Get("UnderlyingValue", &Field::OriginalValue),
        Def::Get("Precision",
                 [](Field& self, Invocation& call) {
                     return self.ReturnColumn(call, [](const ColumnInfo& column) {
                         return Variant::UI1(static_cast<std::uint8_t>(column.precision));
                     });
                 }),
        Def::Get("NumericScale",
                 [](Field& self, Invocation& call) {
                     return self.ReturnColumn(call, [](const ColumnInfo& column) {
                         return Variant::UI1(static_cast<std::uint8_t>(column.numericScale));
                     });
                 }),
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

// ---- Fields ------------------------------------------------------------------------------

const MemberTable<Fields>& Fields::Members() {
    using Def = Declare<Fields>;
    static const MemberTable<Fields> table = {
        Def::Get("Count",
                 [](Fields& self, Invocation& call) {
                     return call.Return(Variant(static_cast<std::int32_t>(self.items_.size())));
                 }),
        Def::Get("Item", &Fields::Item, 1),
        Def::Method("Refresh", 0, [](Fields&, Invocation&) { return kOk; }),
    };
    return table;
}

Fields::Fields(RecordsetRef owner, unsigned generation, std::size_t count)
    : owner_(std::move(owner)), generation_(generation) {
    items_.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        items_.push_back(std::make_shared<Field>(owner_, generation_, i));
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

// ---- Errors and Error --------------------------------------------------------------------

const MemberTable<Errors>& Errors::Members() {
    using Def = Declare<Errors>;
    static const MemberTable<Errors> table = {
        Def::Get("Count",
                 [](Errors& self, Invocation& call) {
                     return call.Return(
                         Variant(static_cast<std::int32_t>(self.list_->items.size())));
                 }),
        Def::Get("Item", &Errors::Item, 1),
        Def::Method("Clear", 0,
                    [](Errors& self, Invocation&) {
                        self.list_->items.clear();
                        return kOk;
                    }),
        Def::Method("Refresh", 0, [](Errors&, Invocation&) { return kOk; }),
    };
    return table;
}

HResult Errors::Item(Invocation& call) {
    std::int32_t index = -1;
    if (!call.Arg(0).ToInt32(index) || index < 0 ||
        static_cast<std::size_t>(index) >= list_->items.size())
        return call.Throw(FaultText(Fault::ItemNotFound));
    return call.Return(Variant(std::static_pointer_cast<automation::Dispatch>(
        std::make_shared<Error>(list_->items[static_cast<std::size_t>(index)]))));
}

const MemberTable<Error>& Error::Members() {
    using Def = Declare<Error>;
    static const MemberTable<Error> table = {
        Def::Get("Description",
                 [](Error& self, Invocation& call) {
                     return call.Return(Variant(self.error_.description));
                 }),
        Def::Get("Number",
                 [](Error& self, Invocation& call) {
                     return call.Return(Variant(std::int32_t{self.error_.number}));
                 }),
        Def::Get(
            "Source",
            [](Error& self, Invocation& call) { return call.Return(Variant(self.error_.source)); }),
        Def::Get("SQLState",
                 [](Error& self, Invocation& call) {
                     return call.Return(Variant(self.error_.sqlState));
                 }),
        Def::Get("NativeError",
                 [](Error& self, Invocation& call) {
                     return call.Return(Variant(std::int32_t{self.error_.nativeError}));
                 }),
        Def::Get("HelpFile",
                 [](Error&, Invocation& call) { return call.Return(Variant(std::string())); }),
        Def::Get("HelpContext",
                 [](Error&, Invocation& call) { return call.Return(Variant(std::int32_t{0})); }),
    };
    return table;
}

} // namespace vm::ado
