#include "platform/ado/Members.h"
#include "platform/ado/Objects.h"
#include "platform/text/Gbk.h"

namespace vm::ado {
namespace {

using automation::Dispatch;
using automation::kOk;
using automation::VT_BSTR;
using automation::VT_DISPATCH;
using automation::VT_VARIANTS;

// A text property whose put converts straight into the field: a failed put leaves it empty.
HResult TextIntoProperty(Invocation& call, std::string& field) {
    if (call.IsPut())
        return call.Value().ToText(field) ? kOk : InvalidArgument(call);
    return call.Return(Variant(field));
}

bool IsVariableLength(int type) {
    switch (type) {
    case adBinary:
    case adChar:
    case adWChar:
    case adVarChar:
    case adLongVarChar:
    case adVarWChar:
    case adLongVarWChar:
    case adVarBinary:
    case adLongVarBinary:
        return true;
    default:
        return false;
    }
}

} // namespace

// ---- Parameter ---------------------------------------------------------------------------

const MemberTable<Parameter>& Parameter::Members() {
    using Def = Declare<Parameter>;
    static const MemberTable<Parameter> table = {
        Def::GetPut("Name", [](Parameter& self,
                               Invocation& call) { return TextIntoProperty(call, self.name); }),
        Def::IntField<&Parameter::type, 0, 0xFFFF>("Type"),
        Def::IntField<&Parameter::direction, 0, 4>("Direction"),
        Def::GetPut("Size",
                    [](Parameter& self, Invocation& call) {
                        if (call.IsPut()) {
                            int value = 0;
                            if (!PutInt(call, value, 0))
                                return InvalidArgument(call);
                            self.size = value;
                            return kOk;
                        }
                        return call.Return(Variant(static_cast<std::int32_t>(self.size)));
                    }),
        Def::GetPut("Value",
                    [](Parameter& self, Invocation& call) {
                        if (call.IsPut()) {
                            self.value = call.Value();
                            return kOk;
                        }
                        return call.Return(self.value);
                    }),
        Def::IntField<&Parameter::precision, 0, 255>("Precision"),
        Def::IntField<&Parameter::numericScale, 0, 255>("NumericScale"),
        Def::IntField<&Parameter::attributes, 0, 0xFFFF>("Attributes"),
    };
    return table;
}

// ---- Parameters --------------------------------------------------------------------------

const MemberTable<Parameters>& Parameters::Members() {
    using Def = Declare<Parameters>;
    static const MemberTable<Parameters> table = {
        Def::Get("Count",
                 [](Parameters& self, Invocation& call) {
                     return call.Return(Variant(static_cast<std::int32_t>(self.items.size())));
                 }),
        Def::Get("Item", &Parameters::Item, 1),
        Def::Method("Append", 1, &Parameters::Append),
        Def::Method("Delete", 1, &Parameters::Delete),
        Def::Method("Refresh", 0, [](Parameters&, Invocation&) { return kOk; }),
    };
    return table;
}

long Parameters::Find(const Variant& key) const {
    if (key.Type() == VT_BSTR) {
        for (std::size_t i = 0; i < items.size(); ++i)
            if (text::EqualsNoCase(items[i]->name, key.Text()))
                return static_cast<long>(i);
        return -1;
    }
    std::int32_t index = -1;
    if (!key.ToInt32(index) || index < 0 || static_cast<std::size_t>(index) >= items.size())
        return -1;
    return index;
}

HResult Parameters::Item(Invocation& call) {
    const long index = Find(call.Arg(0));
    if (index < 0)
        return call.Throw(FaultText(Fault::ItemNotFound));
    return call.Return(
        Variant(std::static_pointer_cast<Dispatch>(items[static_cast<std::size_t>(index)])));
}

HResult Parameters::Append(Invocation& call) {
    const auto parameter = std::dynamic_pointer_cast<Parameter>(call.Arg(0).Dispatcher());
    if (!parameter)
        return InvalidArgument(call);
    for (const auto& item : items)
        if (item == parameter)
            return call.Throw(FaultText(Fault::ObjectInCollection));
    if (parameter->type == adEmpty)
        return call.Throw(FaultText(Fault::InvalidParamInfo));
    items.push_back(parameter);
    return kOk;
}

HResult Parameters::Delete(Invocation& call) {
    const long index = Find(call.Arg(0));
    if (index < 0)
        return call.Throw(FaultText(Fault::ItemNotFound));
    items.erase(items.begin() + index);
    return kOk;
}

// ---- Command -----------------------------------------------------------------------------

const MemberTable<Command>& Command::Members() {
    using Def = Declare<Command>;
    static const MemberTable<Command> table = {
        Def::GetPutRef("ActiveConnection", &Command::ActiveConnection),
        Def::GetPut(
            "CommandText",
            [](Command& self, Invocation& call) { return TextIntoProperty(call, self.text_); }),
        Def::GetPut("CommandType", &Command::CommandType),
        Def::IntField<&Command::commandTimeout_, 0>("CommandTimeout"),
        Def::GetPut("Name", [](Command& self,
                               Invocation& call) { return TextIntoProperty(call, self.name_); }),
        Def::Get("State",
                 [](Command&, Invocation& call) {
                     return call.Return(Variant(std::int32_t{adStateClosed}));
                 }),
        Def::GetPut("Prepared",
                    [](Command& self, Invocation& call) {
                        if (call.IsPut())
                            return call.Value().ToBool(self.prepared_) ? kOk
                                                                       : InvalidArgument(call);
                        return call.Return(Variant(self.prepared_));
                    }),
        Def::Get("Parameters",
                 [](Command& self, Invocation& call) {
                     return call.Return(
                         Variant(std::static_pointer_cast<Dispatch>(self.parameters_)));
                 }),
        Def::Method("CreateParameter", 5, &Command::CreateParameter),
        Def::Method("Execute", 3, &Command::Execute),
        Def::Method("Cancel", 0, [](Command&, Invocation&) { return kOk; }),
    };
    return table;
}

Command::Command() : parameters_(std::make_shared<Parameters>()) {}

std::string Command::Statement() const {
    if (commandType_ == adCmdTable || commandType_ == adCmdTableDirect)
        return "select * from " + text_;
    return text_;
}

std::vector<Variant> Command::ParameterValues(const Variant* overrides, HResult& failure,
                                              std::string& error) const {
    std::vector<Variant> values;
    failure = kOk;
    // Values passed to Execute stand in for the collection's, position by position.
    const std::vector<Variant>* given = nullptr;
    std::vector<Variant> single;
    if (overrides && !overrides->IsMissing() && !overrides->IsEmpty()) {
        if (overrides->Type() == VT_VARIANTS) {
            given = &overrides->Items();
        } else {
            single.push_back(*overrides);
            given = &single;
        }
    }
    const std::size_t count = std::max(parameters_->items.size(), given ? given->size() : 0);
    for (std::size_t i = 0; i < count; ++i) {
        const Parameter* parameter =
            i < parameters_->items.size() ? parameters_->items[i].get() : nullptr;
        if (parameter && parameter->direction == 4)
            continue; // a return value has no place among the statement's markers
        const Variant& raw = given && i < given->size() ? (*given)[i] : parameter->value;
        Variant value;
        if (!parameter || !CoerceToType(parameter->type, raw, value)) {
            if (parameter) {
                failure = static_cast<HResult>(0x80020009);
                error = FaultText(Fault::DataConversion) + " (parameter " +
                        (parameter->name.empty() ? std::to_string(i) : parameter->name) + ")";
                return {};
            }
            value = raw;
        }
        values.push_back(std::move(value));
    }
    return values;
}

HResult Command::ActiveConnection(Invocation& call) {
    if (call.IsPut()) {
        const Variant& value = call.Value();
        if (value.Type() == VT_DISPATCH && !value.Dispatcher()) {
            connection_.reset();
            return kOk;
        }
        return PutConnection(call, value, connection_);
    }
    return call.Return(Variant(std::static_pointer_cast<Dispatch>(connection_)));
}

HResult Command::CommandType(Invocation& call) {
    if (call.IsPut()) {
        int type = 0;
        if (!PutInt(call, type) ||
            (type != -1 && type != adCmdText && type != adCmdTable && type != adCmdStoredProc &&
             type != adCmdUnknown && type != adCmdFile && type != adCmdTableDirect))
            return InvalidArgument(call);
        commandType_ = type;
        return kOk;
    }
    return call.Return(Variant(std::int32_t{commandType_}));
}

HResult Command::CreateParameter(Invocation& call) {
    auto parameter = std::make_shared<Parameter>();
    if (call.Has(0) && !call.Arg(0).ToText(parameter->name))
        return InvalidArgument(call);
    int size = 0;
    if ((call.Has(1) && !ToInt(call.Arg(1), parameter->type)) ||
        (call.Has(2) && !ToInt(call.Arg(2), parameter->direction)) ||
        (call.Has(3) && !ToInt(call.Arg(3), size)) || size < 0 || parameter->direction < 0 ||
        parameter->direction > 4)
        return InvalidArgument(call);
    parameter->size = size;
    if (call.Has(4))
        parameter->value = call.Arg(4);
    // A variable-length parameter without a size takes the size of its value, so an empty
    // text is a valid parameter of size 0.
    if (IsVariableLength(parameter->type) && !call.Has(3)) {
        std::string text;
        if (parameter->value.Type() == automation::VT_BYTES)
            parameter->size = static_cast<std::int64_t>(parameter->value.ByteArray().size());
        else if (parameter->value.ToText(text))
            parameter->size = static_cast<std::int64_t>(text.size());
    }
    return call.Return(Variant(std::static_pointer_cast<Dispatch>(parameter)));
}

HResult Command::Execute(Invocation& call) {
    if (!connection_ || !connection_->IsOpen())
        return call.Throw(FaultText(Fault::InvalidConnection));
    int options = -1;
    if (!OptionalInt(call, 2, options))
        return InvalidArgument(call);
    std::string sql = text_;
    int type = commandType_;
    if (options != -1 && (options & (adCmdText | adCmdTable | adCmdTableDirect)))
        type = options & (adCmdText | adCmdTable | adCmdTableDirect);
    if (type == adCmdTable || type == adCmdTableDirect)
        sql = "select * from " + sql;
    if (text::Trim(sql).empty())
        return call.Throw("Command text was not set for the command object.");
    if (type == adCmdStoredProc || (options != -1 && (options & adCmdStoredProc)))
        return CallProcedure(call, options);
    HResult failure = kOk;
    std::string error;
    const Variant overrides = call.Has(1) ? call.Arg(1) : Variant::Missing();
    const std::vector<Variant> values = ParameterValues(&overrides, failure, error);
    if (automation::Failed(failure))
        return call.Throw(error);
    std::int64_t affected = -1;
    ProviderError providerError;
    const auto recordset = connection_->Run(sql, values, commandTimeout_, affected, providerError);
    call.SetOut(0, Variant(static_cast<std::int32_t>(affected)));
    if (!recordset)
        return call.Throw(providerError.description);
    if (options != -1 && (options & adExecuteNoRecords))
        return call.Return(Variant(std::shared_ptr<Dispatch>()));
    return call.Return(Variant(std::static_pointer_cast<Dispatch>(recordset)));
}

// Every parameter goes to the provider with its direction; output and return values come
// back into the collection, converted to each parameter's type.
HResult Command::CallProcedure(Invocation& call, int options) {
    std::vector<Variant> values;
    std::vector<int> directions;
    const Variant overrides = call.Has(1) ? call.Arg(1) : Variant::Missing();
    const std::vector<Variant>* given = nullptr;
    std::vector<Variant> single;
    if (!overrides.IsMissing() && !overrides.IsEmpty()) {
        if (overrides.Type() == VT_VARIANTS) {
            given = &overrides.Items();
        } else {
            single.push_back(overrides);
            given = &single;
        }
    }
    // Values passed to Execute stand in for the inputs, in order, as ADO takes them.
    std::size_t next = 0;
    for (const auto& parameter : parameters_->items) {
        directions.push_back(parameter->direction);
        Variant value;
        if (parameter->direction == 4 || parameter->direction == 2) {
            values.push_back(Variant::Null());
            continue;
        }
        const Variant& raw = given && next < given->size() ? (*given)[next++] : parameter->value;
        if (!CoerceToType(parameter->type, raw, value))
            return call.Throw(
                FaultText(Fault::DataConversion) + " (parameter " +
                (parameter->name.empty() ? std::to_string(values.size()) : parameter->name) + ")");
        values.push_back(std::move(value));
    }
    std::int64_t affected = -1;
    ProviderError providerError;
    const auto recordset = connection_->CallProcedure(text::Trim(text_), values, directions,
                                                      commandTimeout_, affected, providerError);
    call.SetOut(0, Variant(static_cast<std::int32_t>(affected)));
    if (!recordset)
        return call.Throw(providerError.description);
    for (std::size_t i = 0; i < parameters_->items.size(); ++i) {
        Parameter& parameter = *parameters_->items[i];
        if (parameter.direction == 1)
            continue;
        Variant converted;
        parameter.value = values[i].IsNull() || !CoerceToType(parameter.type, values[i], converted)
                              ? values[i]
                              : converted;
    }
    if (options != -1 && (options & adExecuteNoRecords))
        return call.Return(Variant(std::shared_ptr<Dispatch>()));
    return call.Return(Variant(std::static_pointer_cast<Dispatch>(recordset)));
}

} // namespace vm::ado
