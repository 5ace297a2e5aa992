#pragma once
// The native ADO classes and their collections. Callers reach them only by member name through
// automation::Object; the C++ interfaces below are for the objects' use of one another.

#include "platform/ado/Ado.h"
#include "platform/ado/Provider.h"
#include "platform/automation/Dispatch.h"
#include "platform/automation/Object.h"

#include <memory>
#include <string>
#include <vector>

namespace vm::ado {

using automation::Invocation;
using automation::MemberTable;
using automation::NativeDispatch;

class Recordset;

// A recordset as its Field objects see it: the pointer is good while the flag says the
// recordset lives. Cheaper than locking a weak pointer on every value read.
struct RecordsetRef {
    Recordset* recordset = nullptr;
    std::shared_ptr<const bool> alive;
    Recordset* Get() const { return alive && *alive ? recordset : nullptr; }
};

// ADO's own failures (not the provider's).
enum class Fault {
    InvalidArgument,    // 3001
    NoCurrentRecord,    // 3021
    IllegalOperation,   // 3219
    NotCapable,         // 3251
    NotUpdatable,       // 3251, the recordset's lock type or provider
    ItemNotFound,       // 3265
    ObjectInCollection, // 3367
    DataConversion,     // 3421
    ObjectClosed,       // 3704
    ObjectOpen,         // 3705
    InvalidParamInfo,   // 3708
    InvalidConnection,  // 3709
    NoTransaction,
    FieldNotUpdatable,
    NoBackwardFetch,
    EditInProgress,
};

std::string FaultText(Fault fault);
HResult FaultNumber(Fault fault);

struct ErrorList {
    std::vector<ProviderError> items;
};

class Connection : public NativeDispatch<Connection> {
public:
    static const MemberTable<Connection>& Members();
    ~Connection() override;

    bool IsOpen() const { return static_cast<bool>(session_); }
    Session* GetSession() const { return session_.get(); }
    int CommandTimeout() const { return commandTimeout_; }

    // Replaces the Errors collection's content with one error.
    void ReportError(const ProviderError& error);
    void ClearErrors();
    // Recordsets on this connection close with it.
    void Track(const std::shared_ptr<Recordset>& recordset);

    // The shared part of Execute for Connection and Command: runs the statement and returns
    // the resulting recordset (closed when the statement returns no rows), or null on failure
    // with the error reported.
    std::shared_ptr<Recordset> Run(std::string_view sql, std::span<const Variant> parameters,
                                   int timeoutSeconds, std::int64_t& recordsAffected,
                                   ProviderError& error);
    // The same for a stored procedure: the output values come back in `values`.
    std::shared_ptr<Recordset> CallProcedure(const std::string& name, std::vector<Variant>& values,
                                             const std::vector<int>& directions, int timeoutSeconds,
                                             std::int64_t& recordsAffected, ProviderError& error);

    HResult Open(Invocation& call);
    HResult Execute(Invocation& call);
    HResult BeginTrans(Invocation& call);
    HResult Mode(Invocation& call);
    HResult CommandTimeoutMember(Invocation& call);
    HResult OpenSchema(Invocation& call);

private:
    void CloseNow();
    // CommitTrans and RollbackTrans: ends the innermost transaction.
    HResult EndTransaction(Invocation& call, bool commit);

    std::unique_ptr<Session> session_;
    std::string connectionString_;
    std::string provider_ = "MSDASQL";
    int mode_ = 0;
    int connectionTimeout_ = 15;
    int commandTimeout_ = 30;
    int cursorLocation_ = 2;
    int isolationLevel_ = 4096;
    int transactionLevel_ = 0;
    std::shared_ptr<ErrorList> errors_ = std::make_shared<ErrorList>();
    std::vector<std::weak_ptr<Recordset>> recordsets_;
};

class Recordset : public NativeDispatch<Recordset> {
public:
    static const MemberTable<Recordset>& Members();
    ~Recordset() override { *alive_ = false; }

    // Fills the recordset from a statement's rows; `connection` may be null (disconnected).
    void Adopt(StatementResult result, std::shared_ptr<Connection> connection, std::string source,
               int cursorType, int lockType);
    // Closes without the checks of the Close member (the connection is going away).
    void ForceClose();

    bool IsOpen() const { return open_; }
    unsigned Generation() const { return generation_; }
    const std::vector<ColumnInfo>& Columns() const { return columns_; }
    // Field access for Field objects; false with the fault on failure.
    bool ReadField(std::size_t column, Variant& out, Fault& error) const;
    bool ReadOriginal(std::size_t column, Variant& out, Fault& error) const;
    bool WriteField(std::size_t column, const Variant& value, Fault& error);
    std::int64_t ActualSize(std::size_t column) const;
    // Index of a field by name (ASCII case ignored) or -1.
    int FieldIndex(std::string_view name) const;

    HResult Open(Invocation& call);
    HResult Close(Invocation& call);
    HResult ActiveConnection(Invocation& call);
    HResult Source(Invocation& call);
    HResult Collect(Invocation& call);
    HResult AddNew(Invocation& call);
    HResult Update(Invocation& call);
    HResult UpdateBatch(Invocation& call);
    HResult CancelUpdate(Invocation& call);
    HResult CancelBatch(Invocation& call);
    HResult Delete(Invocation& call);
    HResult MoveFirst(Invocation& call);
    HResult MoveLast(Invocation& call);
    HResult MoveNext(Invocation& call);
    HResult MovePrevious(Invocation& call);
    HResult Move(Invocation& call);
    HResult Bof(Invocation& call);
    HResult RecordCount(Invocation& call);
    HResult AbsolutePosition(Invocation& call);
    HResult PageCount(Invocation& call);
    HResult AbsolutePage(Invocation& call);
    HResult Bookmark(Invocation& call);
    HResult Find(Invocation& call);
    HResult Filter(Invocation& call);
    HResult Sort(Invocation& call);
    HResult Status(Invocation& call);
    HResult Save(Invocation& call);
    HResult Requery(Invocation& call);
    HResult Supports(Invocation& call);

private:
    // kRecSent marks a deletion the provider has carried out (internal, never reported).
    enum RecordStatus { kRecOk = 0, kRecNew = 1, kRecModified = 2, kRecDeleted = 4, kRecSent = 64 };
    enum EditModeValue { kEditNone = 0, kEditInProgress = 1, kEditAdd = 2 };

    struct Entry {
        Row values;
        Row original;              // set while the row has unsaved or unsent changes
        std::vector<bool> changed; // per column, alongside `original`
        int status = kRecOk;
    };

    HResult Fail(Invocation& call, Fault fault);
    HResult FailProvider(Invocation& call, const ProviderError& error);
    bool Updatable() const;
    long Count() const;
    bool HasCurrent() const;
    Entry* Current();
    const Entry* Current() const;
    // Drops deleted rows from the view; true when the current row was one of them.
    bool Purge();
    void RebuildView();
    HResult FinishEdit(Invocation& call);
    bool SaveEntry(Entry& entry, ProviderError& error);
    HResult MoveTo(Invocation& call, long position);
    HResult RunOpen(Invocation& call, const Variant& source, const Variant& connection,
                    int options);
    HResult OpenPersisted(Invocation& call, const std::string& path);
    void ResetFieldObjects();
    // The streaming form of a forward-only, read-only opening: only the current row is held.
    HResult OpenStream(Invocation& call, std::unique_ptr<RowCursor> cursor,
                       std::vector<ColumnInfo> columns, std::shared_ptr<Connection> connection,
                       std::vector<Variant> parameters);
    // Replaces the current row with the cursor's next one; false with the provider's error.
    bool FetchNext(ProviderError& error);
    // Reads the rows not yet fetched into `rows_` and ends streaming: for the operations that
    // need more than the current row.
    HResult Materialise(Invocation& call);
    // Runs the statement again from its first row (MoveFirst after moving on).
    HResult Restart(Invocation& call);

    bool open_ = false;
    unsigned generation_ = 0;
    std::shared_ptr<Connection> connection_;
    std::string source_;
    int cursorType_ = adOpenForwardOnly;
    int lockType_ = adLockReadOnly;
    int openCursorType_ = adOpenForwardOnly;
    int cursorLocation_ = 2;
    int maxRecords_ = 0;
    int pageSize_ = 10;
    Variant filter_ = Variant(std::int32_t{0});
    std::string sort_;
    int lastOptions_ = -1;

    std::vector<ColumnInfo> columns_;
    automation::NameIndex byName_;
    std::vector<Entry> rows_;
    std::vector<std::size_t> view_;
    long pos_ = -1;
    bool currentDeleted_ = false;

    // Declared after `connection_`, so destroyed before the session it reads from.
    std::unique_ptr<RowCursor> cursor_;
    bool streaming_ = false; // rows_ holds the current row only, the rest is in cursor_
    long passed_ = 0;        // rows moved past while streaming
    long fetched_ = 0;       // rows taken from the cursor, for MaxRecords
    std::vector<Variant> streamParameters_;
    int editMode_ = kEditNone;
    long positionBeforeAdd_ = -1;

    // Find keeps its parsed criteria: the catalogue repeats the same text row after row.
    std::string findText_;
    std::shared_ptr<class Criteria> findCriteria_;

    std::shared_ptr<automation::Dispatch> fields_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

class Field : public NativeDispatch<Field> {
public:
    static const MemberTable<Field>& Members();
    Field(RecordsetRef owner, unsigned generation, std::size_t column)
        : owner_(std::move(owner)), generation_(generation), column_(column) {}

    HResult Value(Invocation& call);
    HResult ActualSize(Invocation& call);
    HResult OriginalValue(Invocation& call);

private:
    // The owner while this field still describes its current rows.
    Recordset* Owner(Invocation& call, HResult& failure) const;
    // Returns what `read` makes of the field's column, while the field still describes it.
    template <class Read> HResult ReturnColumn(Invocation& call, Read read) const {
        HResult failure = automation::kOk;
        const Recordset* owner = Owner(call, failure);
        return owner ? call.Return(read(owner->Columns()[column_])) : failure;
    }

    RecordsetRef owner_;
    unsigned generation_;
    std::size_t column_;
};

class Fields : public NativeDispatch<Fields> {
public:
    static const MemberTable<Fields>& Members();
    Fields(RecordsetRef owner, unsigned generation, std::size_t count);

    HResult Item(Invocation& call);

private:
    RecordsetRef owner_;
    unsigned generation_;
    std::vector<std::shared_ptr<Field>> items_;
};

class Errors : public NativeDispatch<Errors> {
public:
    static const MemberTable<Errors>& Members();
    explicit Errors(std::shared_ptr<ErrorList> list) : list_(std::move(list)) {}

    HResult Item(Invocation& call);

private:
    std::shared_ptr<ErrorList> list_;
};

class Error : public NativeDispatch<Error> {
public:
    static const MemberTable<Error>& Members();
    explicit Error(ProviderError error) : error_(std::move(error)) {}

private:
    ProviderError error_;
};

class Parameter : public NativeDispatch<Parameter> {
public:
    static const MemberTable<Parameter>& Members();

    std::string name;
    int type = adEmpty;
    int direction = 1;
    std::int64_t size = 0;
    Variant value;
    int precision = 0;
    int numericScale = 0;
    int attributes = 0;
};

class Parameters : public NativeDispatch<Parameters> {
public:
    static const MemberTable<Parameters>& Members();

    std::vector<std::shared_ptr<Parameter>> items;

    HResult Item(Invocation& call);
    HResult Append(Invocation& call);
    HResult Delete(Invocation& call);

private:
    // Position of the item a name or index names, or -1.
    long Find(const Variant& key) const;
};

class Command : public NativeDispatch<Command> {
public:
    static const MemberTable<Command>& Members();
    Command();

    // The statement text, parameters and connection Recordset.Open uses for a command source.
    std::shared_ptr<Connection> GetConnection() const { return connection_; }
    std::string Statement() const;
    std::vector<Variant> ParameterValues(const Variant* overrides, HResult& failure,
                                         std::string& error) const;

    HResult ActiveConnection(Invocation& call);
    HResult CommandType(Invocation& call);
    HResult CreateParameter(Invocation& call);
    HResult Execute(Invocation& call);
    HResult CallProcedure(Invocation& call, int options);

private:
    std::shared_ptr<Connection> connection_;
    std::string text_;
    int commandType_ = adCmdUnknown;
    int commandTimeout_ = 30;
    std::string name_;
    bool prepared_ = false;
    std::shared_ptr<Parameters> parameters_;
};

// Converts a value to what a field or parameter of `type` holds. False when it does not fit.
bool CoerceToType(int type, const Variant& value, Variant& out);

// The persisted XML form of a recordset (UTF-8, the rowset schema of persisted recordsets).
bool SaveRecordsetXml(const std::string& linuxPath, const std::vector<ColumnInfo>& columns,
                      const std::vector<const Row*>& rows, std::string& error);
bool LoadRecordsetXml(const std::string& linuxPath, std::vector<ColumnInfo>& columns,
                      std::vector<Row>& rows, std::string& error);

} // namespace vm::ado
