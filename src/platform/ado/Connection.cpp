#include "platform/ado/Members.h"
#include "platform/ado/Objects.h"
#include "platform/ado/TextProvider.h"

namespace vm::ado {
namespace {

using automation::kOk;

// A text property that an open connection does not let change.
HResult TextWhileClosed(Invocation& call, bool open, std::string& field) {
    if (call.IsPut() && open)
        return call.Throw(FaultText(Fault::ObjectOpen));
    return TextProperty(call, field);
}

} // namespace

std::string FaultText(Fault fault) {
    switch (fault) {
    case Fault::InvalidArgument:
        return "Arguments are of the wrong type, are out of acceptable range, or are in conflict "
               "with one another.";
    case Fault::NoCurrentRecord:
        return "Either BOF or EOF is True, or the current record has been deleted. Requested "
               "operation requires a current record.";
    case Fault::IllegalOperation:
        return "Operation is not allowed in this context.";
    case Fault::NotCapable:
        return "Object or provider is not capable of performing requested operation.";
    case Fault::NotUpdatable:
        return "Current Recordset does not support updating. This may be a limitation of the "
               "provider, or of the selected locktype.";
    case Fault::ItemNotFound:
        return "Item cannot be found in the collection corresponding to the requested name or "
               "ordinal.";
    case Fault::ObjectInCollection:
        return "Object is already in collection. Cannot append.";
    case Fault::DataConversion:
        return "Application uses a value of the wrong type for the current operation.";
    case Fault::ObjectClosed:
        return "Operation is not allowed when the object is closed.";
    case Fault::ObjectOpen:
        return "Operation is not allowed when the object is open.";
    case Fault::InvalidParamInfo:
        return "Parameter object is improperly defined. Inconsistent or incomplete information "
               "was provided.";
    case Fault::InvalidConnection:
        return "The connection cannot be used to perform this operation. It is either closed or "
               "invalid in this context.";
    case Fault::NoTransaction:
        return "You tried to commit or rollback a transaction without first beginning a "
               "transaction.";
    case Fault::FieldNotUpdatable:
        return "Multiple-step operation generated errors. Check each status value: the field "
               "cannot be updated or the value does not fit it.";
    case Fault::NoBackwardFetch:
        return "Rowset does not support fetching backward.";
    case Fault::EditInProgress:
        return "Operation is not allowed in this context: an edit is in progress; call Update or "
               "CancelUpdate first.";
    }
    return {};
}

HResult FaultNumber(Fault fault) {
    auto ado = [](int n) { return static_cast<HResult>(0x800A0000u | static_cast<unsigned>(n)); };
    switch (fault) {
    case Fault::InvalidArgument:
        return ado(3001);
    case Fault::NoCurrentRecord:
        return ado(3021);
    case Fault::IllegalOperation:
    case Fault::EditInProgress:
        return ado(3219);
    case Fault::NotCapable:
    case Fault::NotUpdatable:
        return ado(3251);
    case Fault::ItemNotFound:
        return ado(3265);
    case Fault::ObjectInCollection:
        return ado(3367);
    case Fault::DataConversion:
        return ado(3421);
    case Fault::ObjectClosed:
        return ado(3704);
    case Fault::ObjectOpen:
        return ado(3705);
    case Fault::InvalidParamInfo:
        return ado(3708);
    case Fault::InvalidConnection:
        return ado(3709);
    case Fault::NoTransaction:
        return static_cast<HResult>(0x80004005);
    case Fault::FieldNotUpdatable:
        return static_cast<HResult>(0x80040E21);
    case Fault::NoBackwardFetch:
        return static_cast<HResult>(0x80040E24);
    }
    return static_cast<HResult>(0x80004005);
}

const MemberTable<Connection>& Connection::Members() {
    using Def = Declare<Connection>;
    static const MemberTable<Connection> table = {
        Def::Method("Open", 4, &Connection::Open),
        Def::Method("Close", 0,
                    [](Connection& self, Invocation& call) {
                        if (!self.session_)
                            return call.Throw(FaultText(Fault::ObjectClosed));
                        self.CloseNow();
                        return kOk;
                    }),
        Def::Method("Execute", 3, &Connection::Execute),
        Def::Method("BeginTrans", 0, &Connection::BeginTrans),
        Def::Method(
            "CommitTrans", 0,
            [](Connection& self, Invocation& call) { return self.EndTransaction(call, true); }),
        Def::Method(
            "RollbackTrans", 0,
            [](Connection& self, Invocation& call) { return self.EndTransaction(call, false); }),
        Def::OpenState(),
        Def::GetPut("Mode", &Connection::Mode),
        Def::ClosedIntField<&Connection::connectionTimeout_, 0>("ConnectionTimeout"),
        Def::GetPut("CommandTimeout", &Connection::CommandTimeoutMember),
        Def::GetPut("Provider",
                    [](Connection& self, Invocation& call) {
                        return TextWhileClosed(call, self.session_ != nullptr, self.provider_);
                    }),
        Def::Get("Version",
                 [](Connection&, Invocation& call) { return call.Return(Variant("2.8")); }),
        Def::GetPut("ConnectionString",
                    [](Connection& self, Invocation& call) {
                        return TextWhileClosed(call, self.session_ != nullptr,
                                               self.connectionString_);
                    }),
        Def::Get("Errors",
                 [](Connection& self, Invocation& call) {
                     return call.Return(Variant(std::static_pointer_cast<automation::Dispatch>(
                         std::make_shared<ado::Errors>(self.errors_))));
                 }),
        Def::Method("OpenSchema", 3, &Connection::OpenSchema),
        Def::IntField<&Connection::cursorLocation_, 2, 3>("CursorLocation"),
        Def::IntField<&Connection::isolationLevel_>("IsolationLevel"),
        Def::GetPut("DefaultDatabase",
                    [](Connection&, Invocation& call) {
                        if (call.IsPut())
                            return call.Throw(FaultText(Fault::NotCapable));
                        return call.Return(Variant(std::string()));
                    }),
        Def::Method("Cancel", 0, [](Connection&, Invocation&) { return kOk; }),
    };
    return table;
}

HResult PutConnection(Invocation& call, const Variant& value,
                      std::shared_ptr<Connection>& connection) {
    if (value.Type() == automation::VT_DISPATCH) {
        auto given = std::dynamic_pointer_cast<Connection>(value.Dispatcher());
        if (!given)
            return call.Throw(FaultText(Fault::InvalidConnection));
        connection = std::move(given);
        return kOk;
    }
    if (value.Type() == automation::VT_BSTR) {
        auto opened = std::make_shared<Connection>();
        automation::Object(opened).Call("Open", {value});
        if (!opened->IsOpen())
            return call.Throw(automation::LastCallException());
        connection = std::move(opened);
        return kOk;
    }
    return InvalidArgument(call);
}

Connection::~Connection() {
    CloseNow();
}

void Connection::ReportError(const ProviderError& error) {
    errors_->items.assign(1, error);
}

void Connection::ClearErrors() {
    errors_->items.clear();
}

void Connection::Track(const std::shared_ptr<Recordset>& recordset) {
    std::erase_if(recordsets_, [](const std::weak_ptr<Recordset>& r) { return r.expired(); });
    recordsets_.push_back(recordset);
}

void Connection::CloseNow() {
    if (!session_)
        return;
    // Pending work of an open transaction is rolled back, as closing does on Windows.
    ProviderError ignored;
    if (transactionLevel_ > 0)
        session_->Rollback(1, ignored);
    transactionLevel_ = 0;
    for (const auto& weak : recordsets_)
        if (const auto recordset = weak.lock())
            recordset->ForceClose();
    recordsets_.clear();
    session_.reset();
}

std::shared_ptr<Recordset> Connection::Run(std::string_view sql,
                                           std::span<const Variant> parameters, int timeoutSeconds,
                                           std::int64_t& recordsAffected, ProviderError& error) {
    recordsAffected = -1;
    ClearErrors();
    StatementResult result;
    session_->SetCommandTimeout(timeoutSeconds);
    // "Select ... Into [Text;...].file": the rows come from the session, the file from here,
    // so every provider exports the same way.
    ExportStatement exportTo;
    if (ParseExportStatement(sql, exportTo)) {
        StatementResult rows;
        if (!session_->Execute(exportTo.select, parameters, rows, error) ||
            !WriteExport(exportTo, rows, result.recordsAffected, error)) {
            ReportError(error);
            return nullptr;
        }
    } else if (!session_->Execute(sql, parameters, result, error)) {
        ReportError(error);
        return nullptr;
    }
    recordsAffected = result.recordsAffected;
    auto recordset = std::make_shared<Recordset>();
    if (result.returnsRows) {
        // What Execute returns is a forward-only, read-only cursor.
        recordset->Adopt(std::move(result),
                         std::static_pointer_cast<Connection>(shared_from_this()), std::string(sql),
                         adOpenForwardOnly, adLockReadOnly);
        Track(recordset);
    }
    return recordset;
}

std::shared_ptr<Recordset>
Connection::CallProcedure(const std::string& name, std::vector<Variant>& values,
                          const std::vector<int>& directions, int timeoutSeconds,
                          std::int64_t& recordsAffected, ProviderError& error) {
    recordsAffected = -1;
    ClearErrors();
    session_->SetCommandTimeout(timeoutSeconds);
    StatementResult result;
    if (!session_->CallProcedure(name, values, directions, result, error)) {
        ReportError(error);
        return nullptr;
    }
    recordsAffected = result.recordsAffected;
    auto recordset = std::make_shared<Recordset>();
    if (result.returnsRows) {
        recordset->Adopt(std::move(result),
                         std::static_pointer_cast<Connection>(shared_from_this()), name,
                         adOpenForwardOnly, adLockReadOnly);
        Track(recordset);
    }
    return recordset;
}

HResult Connection::Open(Invocation& call) {
    if (session_)
        return call.Throw(FaultText(Fault::ObjectOpen));
    if (call.Has(0)) {
        std::string text;
        if (!call.Arg(0).ToText(text))
            return InvalidArgument(call);
        connectionString_ = text;
    }
    ClearErrors();
    OpenRequest request;
    request.connectionString = connectionString_;
    request.mode = mode_;
    request.connectionTimeout = connectionTimeout_;
    ProviderError error;
    std::string providerName;
    session_ = OpenSession(request, providerName, error);
    provider_ = providerName;
    if (!session_) {
        ReportError(error);
        return call.Throw(error.description);
    }
    session_->SetCommandTimeout(commandTimeout_);
    return kOk;
}

HResult Connection::Execute(Invocation& call) {
    if (!session_)
        return call.Throw(FaultText(Fault::ObjectClosed));
    std::string sql;
    if (!call.Arg(0).ToText(sql))
        return InvalidArgument(call);
    int options = -1;
    if (!OptionalInt(call, 2, options))
        return InvalidArgument(call);
    if (options != -1 && (options & adCmdTable))
        sql = "select * from " + sql;
    std::int64_t affected = -1;
    ProviderError error;
    const auto recordset = Run(sql, {}, commandTimeout_, affected, error);
    call.SetOut(1, Variant(static_cast<std::int32_t>(affected)));
    if (!recordset)
        return call.Throw(error.description);
    if (options != -1 && (options & adExecuteNoRecords))
        return call.Return(Variant(std::shared_ptr<automation::Dispatch>()));
    return call.Return(Variant(std::static_pointer_cast<automation::Dispatch>(recordset)));
}

HResult Connection::BeginTrans(Invocation& call) {
    if (!session_)
        return call.Throw(FaultText(Fault::ObjectClosed));
    ClearErrors();
    ProviderError error;
    if (!session_->Begin(transactionLevel_ + 1, error)) {
        ReportError(error);
        return call.Throw(error.description);
    }
    ++transactionLevel_;
    return call.Return(Variant(std::int32_t{transactionLevel_}));
}

HResult Connection::EndTransaction(Invocation& call, bool commit) {
    if (!session_)
        return call.Throw(FaultText(Fault::ObjectClosed));
    ClearErrors();
    if (transactionLevel_ == 0)
        return call.Throw(FaultText(Fault::NoTransaction));
    ProviderError error;
    if (!(commit ? session_->Commit(transactionLevel_, error)
                 : session_->Rollback(transactionLevel_, error))) {
        ReportError(error);
        return call.Throw(error.description);
    }
    --transactionLevel_;
    return kOk;
}

HResult Connection::Mode(Invocation& call) {
    if (call.IsPut()) {
        int mode = 0;
        if (!PutInt(call, mode, 0))
            return InvalidArgument(call);
        if (session_)
            return call.Throw(FaultText(Fault::ObjectOpen));
        mode_ = mode;
        return kOk;
    }
    int mode = mode_;
    if (session_ && mode == 0)
        mode = session_->ReadOnly() ? 1 : 3;
    return call.Return(Variant(std::int32_t{mode}));
}

HResult Connection::CommandTimeoutMember(Invocation& call) {
    if (call.IsPut()) {
        int seconds = 0;
        if (!PutInt(call, seconds, 0))
            return InvalidArgument(call);
        commandTimeout_ = seconds;
        if (session_)
            session_->SetCommandTimeout(seconds);
        return kOk;
    }
    return call.Return(Variant(std::int32_t{commandTimeout_}));
}

HResult Connection::OpenSchema(Invocation& call) {
    if (!session_)
        return call.Throw(FaultText(Fault::ObjectClosed));
    int schema = 0;
    if (!ToInt(call.Arg(0), schema))
        return InvalidArgument(call);
    if (schema != adSchemaTables)
        return call.Throw(FaultText(Fault::NotCapable));
    ClearErrors();
    StatementResult result;
    ProviderError error;
    if (!session_->Tables(result, error)) {
        ReportError(error);
        return call.Throw(error.description);
    }
    auto recordset = std::make_shared<Recordset>();
    recordset->Adopt(std::move(result), std::static_pointer_cast<Connection>(shared_from_this()),
                     "", adOpenStatic, adLockReadOnly);
    Track(recordset);
    return call.Return(Variant(std::static_pointer_cast<automation::Dispatch>(recordset)));
}

} // namespace vm::ado
