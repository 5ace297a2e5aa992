#include "platform/ado/ConnectionString.h"
#include "platform/ado/Criteria.h"
#include "platform/ado/Members.h"
#include "platform/ado/Objects.h"
#include "platform/text/Gbk.h"

#include <algorithm>
#include <cmath>
#include <sys/stat.h>

namespace vm::ado {
namespace {

using automation::Dispatch;
using automation::kOk;
using automation::VT_BSTR;
using automation::VT_DISPATCH;
using automation::VT_EMPTY;
using automation::VT_R4;
using automation::VT_R8;
using automation::VT_VARIANTS;

std::string Trimmed(std::string_view text) {
    return text::Trim(text);
}

} // namespace

const MemberTable<Recordset>& Recordset::Members() {
    using Def = Declare<Recordset>;
    static const MemberTable<Recordset> table = {
        Def::Method("Open", 5, &Recordset::Open),
        Def::Method("Close", 0, &Recordset::Close),
        Def::OpenState(),
        Def::GetPutRef("ActiveConnection", &Recordset::ActiveConnection),
        Def::GetPutRef("Source", &Recordset::Source),
        Def::ClosedIntField<&Recordset::cursorType_, 0, 3>("CursorType"),
        Def::ClosedIntField<&Recordset::lockType_, 1, 4>("LockType"),
        Def::ClosedIntField<&Recordset::cursorLocation_, 2, 3>("CursorLocation"),
        Def::ClosedIntField<&Recordset::maxRecords_, 0>("MaxRecords"),
        Def::Get("Fields",
                 [](Recordset& self, Invocation& call) {
                     if (!self.fields_)
                         self.fields_ = std::make_shared<ado::Fields>(
                             RecordsetRef{&self, self.alive_}, self.generation_,
                             self.open_ ? self.columns_.size() : 0);
                     return call.Return(Variant(self.fields_));
                 }),
        Def::GetPut("Collect", &Recordset::Collect, 1),
        Def::Method("AddNew", 2, &Recordset::AddNew),
        Def::Method("Update", 2, &Recordset::Update),
        Def::Method("UpdateBatch", 1, &Recordset::UpdateBatch),
        Def::Method("CancelUpdate", 0, &Recordset::CancelUpdate),
        Def::Method("CancelBatch", 1, &Recordset::CancelBatch),
        Def::Method("Delete", 1, &Recordset::Delete),
        Def::Method("MoveFirst", 0, &Recordset::MoveFirst),
        Def::Method("MoveLast", 0, &Recordset::MoveLast),
        Def::Method("MoveNext", 0, &Recordset::MoveNext),
        Def::Method("MovePrevious", 0, &Recordset::MovePrevious),
        Def::Method("Move", 2, &Recordset::Move),
        Def::Get("BOF", &Recordset::Bof),
        Def::Get("EOF",
                 [](Recordset& self, Invocation& call) {
                     if (!self.open_)
                         return self.Fail(call, Fault::ObjectClosed);
                     return call.Return(Variant(self.view_.empty() ||
                                                self.pos_ >= static_cast<long>(self.view_.size())));
                 }),
        Def::Get("RecordCount", &Recordset::RecordCount),
        Def::GetPut("AbsolutePosition", &Recordset::AbsolutePosition),
        Def::IntField<&Recordset::pageSize_, 1>("PageSize"),
        Def::Get("PageCount", &Recordset::PageCount),
        Def::GetPut("AbsolutePage", &Recordset::AbsolutePage),
        Def::GetPut("Bookmark", &Recordset::Bookmark),
        Def::Method("Find", 4, &Recordset::Find),
        Def::GetPut("Filter", &Recordset::Filter),
        Def::GetPut("Sort", &Recordset::Sort),
        Def::Get("Status", &Recordset::Status),
        Def::Get("EditMode",
                 [](Recordset& self, Invocation& call) {
                     if (!self.open_)
                         return self.Fail(call, Fault::ObjectClosed);
                     return call.Return(
                         Variant(std::int32_t{self.currentDeleted_ ? 4 : self.editMode_}));
                 }),
        Def::Method("Save", 2, &Recordset::Save),
        Def::Method("Requery", 1, &Recordset::Requery),
        Def::Method("Supports", 1, &Recordset::Supports),
    };
    return table;
}

// ---- state -------------------------------------------------------------------------------

HResult Recordset::Fail(Invocation& call, Fault fault) {
    return call.Throw(FaultText(fault));
}

HResult Recordset::FailProvider(Invocation& call, const ProviderError& error) {
    if (connection_)
        connection_->ReportError(error);
    return call.Throw(error.description);
}

void Recordset::Adopt(StatementResult result, std::shared_ptr<Connection> connection,
                      std::string source, int cursorType, int lockType) {
    ForceClose();
    columns_ = std::move(result.columns);
    byName_.Clear();
    for (std::size_t i = 0; i < columns_.size(); ++i)
        byName_.Add(columns_[i].name, static_cast<int>(i));
    rows_.clear();
    rows_.reserve(result.rows.size());
    for (Row& row : result.rows) {
        Entry entry;
        entry.values = std::move(row);
        rows_.push_back(std::move(entry));
    }
    connection_ = std::move(connection);
    source_ = std::move(source);
    cursorType_ = cursorType;
    openCursorType_ = cursorType;
    lockType_ = lockType;
    filter_ = Variant(std::int32_t{0});
    open_ = true;
    ++generation_;
    ResetFieldObjects();
    RebuildView();
}

void Recordset::ForceClose() {
    if (!open_)
        return;
    open_ = false;
    ++generation_;
    columns_.clear();
    byName_.Clear();
    rows_.clear();
    view_.clear();
    pos_ = -1;
    currentDeleted_ = false;
    editMode_ = kEditNone;
    findText_.clear();
    findCriteria_.reset();
    cursor_.reset();
    streaming_ = false;
    passed_ = 0;
    fetched_ = 0;
    streamParameters_.clear();
    ResetFieldObjects();
}

bool Recordset::FetchNext(ProviderError& error) {
    error = {};
    if (cursor_ && (maxRecords_ <= 0 || fetched_ < maxRecords_)) {
        if (rows_.size() != 1)
            rows_.resize(1);
        Entry& entry = rows_.front();
        if (cursor_->Next(entry.values, error)) {
            ++fetched_;
            view_.assign(1, 0);
            pos_ = 0;
            return true;
        }
    }
    // The end, or a failure: either way the reading is over, so that a loop waiting for EOF
    // ends even when the caller ignores the error.
    cursor_.reset();
    rows_.clear();
    view_.clear();
    pos_ = 0;
    return error.description.empty();
}

HResult Recordset::Materialise(Invocation& call) {
    if (!streaming_)
        return kOk;
    streaming_ = false;
    ProviderError error;
    bool failed = false;
    while (cursor_ && (maxRecords_ <= 0 || fetched_ < maxRecords_)) {
        Entry entry;
        if (!cursor_->Next(entry.values, error)) {
            failed = !error.description.empty();
            break;
        }
        rows_.push_back(std::move(entry));
        ++fetched_;
    }
    cursor_.reset();
    // The current row, if any, is the first one held; the rows behind it are gone for good.
    view_.resize(rows_.size());
    for (std::size_t i = 0; i < view_.size(); ++i)
        view_[i] = i;
    pos_ = view_.empty() ? -1 : 0;
    return failed ? FailProvider(call, error) : kOk;
}

HResult Recordset::Restart(Invocation& call) {
    if (!connection_ || !connection_->IsOpen())
        return Fail(call, Fault::InvalidConnection);
    connection_->ClearErrors();
    Session* session = connection_->GetSession();
    session->SetCommandTimeout(connection_->CommandTimeout());
    std::vector<ColumnInfo> columns;
    ProviderError error;
    cursor_.reset();
    cursor_ = session->Query(source_, streamParameters_, columns, error);
    passed_ = 0;
    fetched_ = 0;
    if (cursor_ && columns.size() != columns_.size()) {
        // The statement's shape changed under it: the old Field objects describe nothing.
        error.description = "The statement no longer returns the columns it was opened with.";
        cursor_.reset();
    }
    if (!cursor_ || !FetchNext(error)) {
        rows_.clear();
        view_.clear();
        pos_ = 0;
        return FailProvider(call, error);
    }
    return view_.empty() ? Fail(call, Fault::NoCurrentRecord) : kOk;
}

void Recordset::ResetFieldObjects() {
    fields_.reset();
}

bool Recordset::Updatable() const {
    if (lockType_ == adLockReadOnly)
        return false;
    if (!connection_)
        return true; // disconnected: changes stay in the recordset
    return connection_->IsOpen() && !connection_->GetSession()->ReadOnly();
}

long Recordset::Count() const {
    return static_cast<long>(view_.size()) - (currentDeleted_ ? 1 : 0);
}

bool Recordset::HasCurrent() const {
    return open_ && pos_ >= 0 && pos_ < static_cast<long>(view_.size()) && !currentDeleted_;
}

Recordset::Entry* Recordset::Current() {
    return HasCurrent() ? &rows_[view_[static_cast<std::size_t>(pos_)]] : nullptr;
}

const Recordset::Entry* Recordset::Current() const {
    return HasCurrent() ? &rows_[view_[static_cast<std::size_t>(pos_)]] : nullptr;
}

bool Recordset::Purge() {
    if (!currentDeleted_)
        return false;
    view_.erase(view_.begin() + pos_);
    currentDeleted_ = false;
    return true;
}

void Recordset::RebuildView() {
    view_.clear();
    currentDeleted_ = false;
    std::unique_ptr<Criteria> criteria;
    int constant = 0;
    if (filter_.Type() == VT_BSTR && !Trimmed(filter_.Text()).empty()) {
        std::string error;
        criteria = Criteria::Parse(filter_.Text(), columns_, error);
    } else if (filter_.Type() != VT_BSTR) {
        ToInt(filter_, constant);
    }
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const Entry& entry = rows_[i];
        if (entry.status & kRecDeleted)
            continue;
        if (criteria && !criteria->Matches(entry.values))
            continue;
        // adFilterPendingRecords (1) and adFilterAffectedRecords (2): rows with changes.
        if ((constant == 1 || constant == 2) && entry.status == kRecOk)
            continue;
        view_.push_back(i);
    }
    if (!sort_.empty()) {
        // "col [ASC|DESC], ..." over the recordset's own values.
        struct Key {
            std::size_t column;
            bool descending;
        };
        std::vector<Key> keys;
        for (const std::string& piece : text::Split(sort_, ",")) {
            const std::vector<std::string> words = text::Split(Trimmed(piece), " ");
            if (words.empty())
                continue;
            const int index = FieldIndex(Trimmed(words[0]));
            if (index < 0)
                continue;
            const bool descending = words.size() > 1 && text::EqualsNoCase(words.back(), "DESC");
            keys.push_back({static_cast<std::size_t>(index), descending});
        }
        auto compare = [&](std::size_t a, std::size_t b) {
            for (const Key& key : keys) {
                const Variant& x = rows_[a].values[key.column];
                const Variant& y = rows_[b].values[key.column];
                if (x == y)
                    continue;
                // Nulls first, then numbers by value, then texts by bytes.
                if (x.IsNull() != y.IsNull())
                    return key.descending ? y.IsNull() : x.IsNull();
                double dx = 0, dy = 0;
                int order;
                if (x.IsNumeric() && y.IsNumeric() && x.ToDouble(dx) && y.ToDouble(dy))
                    order = dx < dy ? -1 : dx > dy ? 1 : 0;
                else {
                    std::string tx, ty;
                    x.ToText(tx);
                    y.ToText(ty);
                    order = tx.compare(ty);
                }
                if (order != 0)
                    return key.descending ? order > 0 : order < 0;
            }
            return false;
        };
        std::stable_sort(view_.begin(), view_.end(), compare);
    }
    pos_ = view_.empty() ? -1 : 0;
}

int Recordset::FieldIndex(std::string_view name) const {
    return byName_.Find(name);
}

// ---- field access ------------------------------------------------------------------------

bool Recordset::ReadField(std::size_t column, Variant& out, Fault& error) const {
    const Entry* entry = Current();
    if (!entry) {
        error = open_ ? Fault::NoCurrentRecord : Fault::ObjectClosed;
        return false;
    }
    if (column >= entry->values.size()) {
        error = Fault::ItemNotFound;
        return false;
    }
    out = entry->values[column];
    return true;
}

bool Recordset::ReadOriginal(std::size_t column, Variant& out, Fault& error) const {
    const Entry* entry = Current();
    if (!entry) {
        error = open_ ? Fault::NoCurrentRecord : Fault::ObjectClosed;
        return false;
    }
    const Row& source = entry->original.empty() ? entry->values : entry->original;
    if (column >= source.size()) {
        error = Fault::ItemNotFound;
        return false;
    }
    out = source[column];
    return true;
}

std::int64_t Recordset::ActualSize(std::size_t column) const {
    const Entry* entry = Current();
    if (!entry || column >= entry->values.size())
        return -1;
    const Variant& v = entry->values[column];
    switch (v.Type()) {
    case automation::VT_NULL:
    case VT_EMPTY:
        return 0;
    case VT_BSTR:
        return static_cast<std::int64_t>(v.Text().size());
    case automation::VT_BYTES:
        return static_cast<std::int64_t>(v.ByteArray().size());
    default:
        return columns_[column].definedSize;
    }
}

bool CoerceToType(int type, const Variant& given, Variant& out) {
    const Variant& value = given.Deref();
    if (value.IsNull() || value.IsEmpty()) {
        out = Variant::Null();
        return true;
    }
    switch (type) {
    case adBoolean:
        return !automation::Failed(value.ChangeType(automation::VT_BOOL, out));
    case adTinyInt:
    case adUnsignedTinyInt:
    case adSmallInt:
    case adUnsignedSmallInt:
    case adInteger:
        return !automation::Failed(value.ChangeType(automation::VT_I4, out));
    case adUnsignedInt:
    case adBigInt:
    case adUnsignedBigInt:
        return !automation::Failed(value.ChangeType(automation::VT_I8, out));
    case adSingle:
        return !automation::Failed(value.ChangeType(VT_R4, out));
    case adDouble:
    case adCurrency:
    case adNumeric:
        return !automation::Failed(value.ChangeType(VT_R8, out));
    case adDate:
    case adDBDate:
    case adDBTime:
    case adDBTimeStamp:
        return !automation::Failed(value.ChangeType(automation::VT_DATE, out));
    case adChar:
    case adWChar:
    case adVarChar:
    case adLongVarChar:
    case adVarWChar:
    case adLongVarWChar:
    case adGUID:
        return !automation::Failed(value.ChangeType(VT_BSTR, out));
    case adBinary:
    case adVarBinary:
    case adLongVarBinary:
        return !automation::Failed(value.ChangeType(automation::VT_BYTES, out));
    default:
        out = value;
        return value.Type() != VT_DISPATCH && value.Type() != VT_VARIANTS;
    }
}

bool Recordset::WriteField(std::size_t column, const Variant& value, Fault& error) {
    if (!open_) {
        error = Fault::ObjectClosed;
        return false;
    }
    if (!Updatable()) {
        error = Fault::NotUpdatable;
        return false;
    }
    Entry* entry = Current();
    if (!entry) {
        error = Fault::NoCurrentRecord;
        return false;
    }
    if (column >= columns_.size()) {
        error = Fault::ItemNotFound;
        return false;
    }
    const ColumnInfo& info = columns_[column];
    if (connection_ && info.baseTable.empty()) {
        error = Fault::FieldNotUpdatable;
        return false;
    }
    Variant converted;
    if (!CoerceToType(info.type, value, converted)) {
        error = Fault::FieldNotUpdatable;
        return false;
    }
    // A text longer than the column allows is refused rather than cut.
    if (converted.Type() == VT_BSTR && info.type == adVarWChar && info.definedSize > 0 &&
        text::CharCount(converted.Text()) > info.definedSize) {
        error = Fault::FieldNotUpdatable;
        return false;
    }
    if (editMode_ == kEditNone) {
        editMode_ = kEditInProgress;
        if (entry->original.empty()) {
            entry->original = entry->values;
            entry->changed.assign(columns_.size(), false);
        }
    }
    if (entry->changed.size() != columns_.size())
        entry->changed.assign(columns_.size(), false);
    entry->values[column] = std::move(converted);
    entry->changed[column] = true;
    return true;
}

// ---- editing -----------------------------------------------------------------------------

bool Recordset::SaveEntry(Entry& entry, ProviderError& error) {
    if (!connection_) {
        entry.original.clear();
        entry.changed.clear();
        entry.status = kRecOk;
        return true;
    }
    if (!connection_->IsOpen()) {
        error.description = FaultText(Fault::InvalidConnection);
        return false;
    }
    Session* session = connection_->GetSession();
    RowChange change;
    change.columns = &columns_;
    change.original = &entry.original;
    change.current = &entry.values;
    // A deletion locates the row by every column it holds, not by the ones an edit touched.
    change.set = (entry.status & kRecDeleted) ? nullptr : &entry.changed;
    bool ok = true;
    if (entry.status & kRecDeleted) {
        ok = (entry.status & kRecNew) || session->DeleteRow(change, error);
    } else if (entry.status & kRecNew) {
        ok = session->InsertRow(change, error);
    } else if (!entry.changed.empty()) {
        ok = session->UpdateRow(change, error);
    }
    if (ok) {
        entry.original.clear();
        entry.changed.clear();
        entry.status = (entry.status & kRecDeleted) ? (kRecDeleted | kRecSent) : kRecOk;
    }
    return ok;
}

HResult Recordset::FinishEdit(Invocation& call) {
    if (editMode_ == kEditNone)
        return kOk;
    Entry* entry = Current();
    if (!entry) {
        editMode_ = kEditNone;
        return kOk;
    }
    if (editMode_ == kEditInProgress)
        entry->status |= kRecModified;
    if (lockType_ == adLockBatchOptimistic) {
        editMode_ = kEditNone;
        return kOk;
    }
    if (connection_)
        connection_->ClearErrors();
    ProviderError error;
    if (!SaveEntry(*entry, error))
        return FailProvider(call, error);
    editMode_ = kEditNone;
    return kOk;
}

HResult Recordset::AddNew(Invocation& call) {
    if (!open_)
        return Fail(call, Fault::ObjectClosed);
    if (!Updatable())
        return Fail(call, Fault::NotUpdatable);
    if (Purge() && pos_ >= static_cast<long>(view_.size()))
        pos_ = static_cast<long>(view_.size());
    if (const HResult hr = FinishEdit(call); automation::Failed(hr))
        return hr;
    Entry entry;
    entry.values.assign(columns_.size(), Variant::Null());
    entry.original = entry.values;
    entry.changed.assign(columns_.size(), false);
    entry.status = kRecNew;
    rows_.push_back(std::move(entry));
    positionBeforeAdd_ = pos_;
    view_.push_back(rows_.size() - 1);
    pos_ = static_cast<long>(view_.size()) - 1;
    editMode_ = kEditAdd;
    if (call.Has(0))
        return Update(call);
    return kOk;
}

HResult Recordset::Update(Invocation& call) {
    if (!open_)
        return Fail(call, Fault::ObjectClosed);
    if (call.Has(0)) {
        // Update(fields, values): one name or index and one value, or two arrays.
        const Variant& names = call.Arg(0);
        const Variant& values = call.Arg(1);
        std::vector<Variant> keys, items;
        if (names.Type() == VT_VARIANTS) {
            keys = names.Items();
            items = values.Items();
            if (values.Type() != VT_VARIANTS || keys.size() != items.size())
                return Fail(call, Fault::InvalidArgument);
        } else {
            keys.push_back(names);
            items.push_back(values);
        }
        for (std::size_t i = 0; i < keys.size(); ++i) {
            long index = -1;
            if (keys[i].Type() == VT_BSTR)
                index = FieldIndex(keys[i].Text());
            else if (std::int32_t n = 0; keys[i].ToInt32(n))
                index = n;
            if (index < 0 || index >= static_cast<long>(columns_.size()))
                return Fail(call, Fault::ItemNotFound);
            Fault fault{};
            if (!WriteField(static_cast<std::size_t>(index), items[i], fault))
                return Fail(call, fault);
        }
    }
    if (editMode_ == kEditNone)
        return HasCurrent() ? kOk : Fail(call, Fault::NoCurrentRecord);
    return FinishEdit(call);
}

HResult Recordset::CancelUpdate(Invocation& call) {
    if (!open_)
        return Fail(call, Fault::ObjectClosed);
    Entry* entry = Current();
    if (editMode_ == kEditAdd && entry) {
        view_.erase(view_.begin() + pos_);
        rows_.pop_back();
        pos_ = std::min(positionBeforeAdd_, static_cast<long>(view_.size()));
        if (view_.empty())
            pos_ = -1;
    } else if (editMode_ == kEditInProgress && entry && !entry->original.empty() &&
               !(entry->status & kRecModified)) {
        entry->values = entry->original;
        entry->original.clear();
        entry->changed.clear();
    }
    editMode_ = kEditNone;
    return kOk;
}

HResult Recordset::UpdateBatch(Invocation& call) {
    if (!open_)
        return Fail(call, Fault::ObjectClosed);
    if (!Updatable())
        return Fail(call, Fault::NotUpdatable);
    if (const HResult hr = FinishEdit(call); automation::Failed(hr))
        return hr;
    if (connection_)
        connection_->ClearErrors();
    for (Entry& entry : rows_) {
        if (entry.status == kRecOk || (entry.status & kRecSent) ||
            entry.status == (kRecNew | kRecDeleted))
            continue;
        ProviderError error;
        if (!SaveEntry(entry, error))
            return FailProvider(call, error);
    }
    return kOk;
}

HResult Recordset::CancelBatch(Invocation& call) {
    if (!open_)
        return Fail(call, Fault::ObjectClosed);
    if (const HResult hr = Materialise(call); automation::Failed(hr))
        return hr;
    std::vector<Entry> kept;
    for (Entry& entry : rows_) {
        if (entry.status & (kRecNew | kRecSent))
            continue;
        if (!entry.original.empty())
            entry.values = entry.original;
        entry.original.clear();
        entry.changed.clear();
        entry.status = kRecOk;
        kept.push_back(std::move(entry));
    }
    rows_ = std::move(kept);
    editMode_ = kEditNone;
    RebuildView();
    return kOk;
}

HResult Recordset::Delete(Invocation& call) {
    if (!open_)
        return Fail(call, Fault::ObjectClosed);
    if (!Updatable())
        return Fail(call, Fault::NotUpdatable);
    int affect = adAffectCurrent;
    if (!OptionalInt(call, 0, affect))
        return Fail(call, Fault::InvalidArgument);
    if (affect != adAffectCurrent) {
        // The whole filtered view (group) or every row: one at a time, from the front.
        if (affect != adAffectGroup && affect != adAffectAll)
            return Fail(call, Fault::InvalidArgument);
        if (affect == adAffectAll) {
            filter_ = Variant(std::int32_t{0});
            RebuildView();
        }
        Purge();
        for (const std::size_t index : std::vector<std::size_t>(view_)) {
            Entry& entry = rows_[index];
            entry.status |= kRecDeleted;
            if (lockType_ != adLockBatchOptimistic) {
                ProviderError error;
                if (!SaveEntry(entry, error)) {
                    entry.status &= ~kRecDeleted;
                    RebuildView();
                    return FailProvider(call, error);
                }
            }
        }
        RebuildView();
        return kOk;
    }
    Entry* entry = Current();
    if (!entry)
        return Fail(call, Fault::NoCurrentRecord);
    if (editMode_ == kEditAdd) {
        // A new row that was never sent simply goes away.
        return CancelUpdate(call);
    }
    if (editMode_ == kEditInProgress) {
        if (!entry->original.empty() && !(entry->status & kRecModified))
            entry->values = entry->original;
        editMode_ = kEditNone;
    }
    if (entry->original.empty())
        entry->original = entry->values;
    entry->status |= kRecDeleted;
    if (lockType_ != adLockBatchOptimistic) {
        if (connection_)
            connection_->ClearErrors();
        ProviderError error;
        if (!SaveEntry(*entry, error)) {
            entry->status &= ~kRecDeleted;
            return FailProvider(call, error);
        }
    }
    // The deleted row stays current until the next move.
    currentDeleted_ = true;
    return kOk;
}

// ---- navigation --------------------------------------------------------------------------

HResult Recordset::MoveTo(Invocation& call, long position) {
    const long count = static_cast<long>(view_.size());
    pos_ = std::clamp<long>(position, -1, count);
    if (count == 0)
        pos_ = -1;
    (void)call;
    return kOk;
}

HResult Recordset::MoveFirst(Invocation& call) {
    if (!open_)
        return Fail(call, Fault::ObjectClosed);
    if (const HResult hr = FinishEdit(call); automation::Failed(hr))
        return hr;
    // A forward-only cursor goes back by running its statement again; on its first row
    // there is nothing to do.
    if (streaming_ && passed_ > 0)
        return Restart(call);
    Purge();
    if (view_.empty())
        return Fail(call, Fault::NoCurrentRecord);
    return MoveTo(call, 0);
}

HResult Recordset::MoveLast(Invocation& call) {
    if (!open_)
        return Fail(call, Fault::ObjectClosed);
    if (openCursorType_ == adOpenForwardOnly)
        return Fail(call, Fault::NoBackwardFetch);
    if (const HResult hr = FinishEdit(call); automation::Failed(hr))
        return hr;
    Purge();
    if (view_.empty())
        return Fail(call, Fault::NoCurrentRecord);
    return MoveTo(call, static_cast<long>(view_.size()) - 1);
}

HResult Recordset::MoveNext(Invocation& call) {
    if (!open_)
        return Fail(call, Fault::ObjectClosed);
    if (const HResult hr = FinishEdit(call); automation::Failed(hr))
        return hr;
    if (streaming_) {
        if (view_.empty())
            return Fail(call, Fault::NoCurrentRecord);
        ++passed_;
        ProviderError error;
        return FetchNext(error) ? kOk : FailProvider(call, error);
    }
    const bool removed = Purge();
    if (!removed && pos_ >= static_cast<long>(view_.size()))
        return Fail(call, Fault::NoCurrentRecord);
    if (view_.empty())
        return MoveTo(call, 0);
    return MoveTo(call, removed ? pos_ : pos_ + 1);
}

HResult Recordset::MovePrevious(Invocation& call) {
    if (!open_)
        return Fail(call, Fault::ObjectClosed);
    if (openCursorType_ == adOpenForwardOnly)
        return Fail(call, Fault::NoBackwardFetch);
    if (const HResult hr = FinishEdit(call); automation::Failed(hr))
        return hr;
    const bool removed = Purge();
    if (!removed && pos_ < 0)
        return Fail(call, Fault::NoCurrentRecord);
    return MoveTo(call, pos_ - 1);
}

HResult Recordset::Move(Invocation& call) {
    if (!open_)
        return Fail(call, Fault::ObjectClosed);
    int count = 0;
    if (!ToInt(call.Arg(0), count))
        return Fail(call, Fault::InvalidArgument);
    if (const HResult hr = FinishEdit(call); automation::Failed(hr))
        return hr;
    if (streaming_ && !call.Has(1) && count < 0)
        return Fail(call, Fault::NoBackwardFetch);
    // A forward-only cursor has no bookmarks and cannot go back to its first row.
    if (openCursorType_ == adOpenForwardOnly && call.Has(1)) {
        int constant = 0;
        const bool current = ToInt(call.Arg(1), constant) && constant == adBookmarkCurrent;
        if (!current)
            return Fail(call, constant == adBookmarkFirst && call.Arg(1).Type() != VT_R8
                                  ? Fault::NoBackwardFetch
                                  : Fault::NotCapable);
        if (count < 0)
            return Fail(call, Fault::NoBackwardFetch);
    }
    if (streaming_ && !call.Has(1)) {
        if (view_.empty())
            return count == 0 ? kOk : Fail(call, Fault::NoCurrentRecord);
        for (int i = 0; i < count && !view_.empty(); ++i) {
            ++passed_;
            if (ProviderError error; !FetchNext(error))
                return FailProvider(call, error);
        }
        return kOk;
    }
    if (const HResult hr = Materialise(call); automation::Failed(hr))
        return hr;
    const bool removed = Purge();
    const long size = static_cast<long>(view_.size());
    long base = pos_;
    bool fromCurrent = true;
    if (call.Has(1)) {
        const Variant& start = call.Arg(1);
        int constant = 0;
        if (start.Type() == VT_R8) {
            // A bookmark: the row it names.
            const auto target = static_cast<std::size_t>(start.DoubleValue()) - 1;
            const auto it = std::find(view_.begin(), view_.end(), target);
            if (it == view_.end())
                return Fail(call, Fault::InvalidArgument);
            base = static_cast<long>(it - view_.begin());
            fromCurrent = false;
        } else if (ToInt(start, constant)) {
            if (constant == adBookmarkFirst)
                base = 0, fromCurrent = false;
            else if (constant == adBookmarkLast)
                base = size - 1, fromCurrent = false;
            else if (constant != adBookmarkCurrent)
                return Fail(call, Fault::InvalidArgument);
        } else {
            return Fail(call, Fault::InvalidArgument);
        }
    }
    if (size == 0)
        return Fail(call, Fault::NoCurrentRecord);
    if (fromCurrent && !removed && count != 0 && (pos_ < 0 || pos_ >= size)) {
        // Moving on from BOF or EOF in the direction beyond it is an error.
        if ((pos_ < 0 && count < 0) || (pos_ >= size && count > 0))
            return Fail(call, Fault::NoCurrentRecord);
    }
    if (fromCurrent && removed && count > 0)
        --count; // the row after the deleted one is already at its place
    const long target = base + count;
    if (openCursorType_ == adOpenForwardOnly && target < pos_)
        return Fail(call, Fault::NoBackwardFetch);
    return MoveTo(call, target);
}

HResult Recordset::Bof(Invocation& call) {
    if (!open_)
        return Fail(call, Fault::ObjectClosed);
    // Streaming past the last row is EOF only: the rows before it existed.
    if (streaming_ && passed_ > 0)
        return call.Return(Variant(false));
    return call.Return(Variant(view_.empty() || pos_ < 0));
}

HResult Recordset::RecordCount(Invocation& call) {
    if (!open_)
        return Fail(call, Fault::ObjectClosed);
    if (openCursorType_ == adOpenForwardOnly)
        return call.Return(Variant(std::int32_t{-1}));
    return call.Return(Variant(static_cast<std::int32_t>(Count())));
}

HResult Recordset::AbsolutePosition(Invocation& call) {
    if (!open_)
        return Fail(call, Fault::ObjectClosed);
    if (call.IsPut()) {
        int position = 0;
        if (const HResult hr = Materialise(call); automation::Failed(hr))
            return hr;
        if (!ToInt(call.Value(), position) || position < 1 || position > Count())
            return Fail(call, Fault::InvalidArgument);
        if (const HResult hr = FinishEdit(call); automation::Failed(hr))
            return hr;
        Purge();
        return MoveTo(call, position - 1);
    }
    if (openCursorType_ == adOpenForwardOnly || view_.empty())
        return call.Return(Variant(std::int32_t{adPosUnknown}));
    if (pos_ < 0)
        return call.Return(Variant(std::int32_t{adPosBOF}));
    if (pos_ >= static_cast<long>(view_.size()))
        return call.Return(Variant(std::int32_t{adPosEOF}));
    return call.Return(Variant(static_cast<std::int32_t>(pos_ + 1)));
}

HResult Recordset::PageCount(Invocation& call) {
    if (!open_)
        return Fail(call, Fault::ObjectClosed);
    if (openCursorType_ == adOpenForwardOnly)
        return call.Return(Variant(std::int32_t{-1}));
    const long count = Count();
    return call.Return(Variant(static_cast<std::int32_t>((count + pageSize_ - 1) / pageSize_)));
}

HResult Recordset::AbsolutePage(Invocation& call) {
    if (!open_)
        return Fail(call, Fault::ObjectClosed);
    const long count = Count();
    const long pages = (count + pageSize_ - 1) / pageSize_;
    if (call.IsPut()) {
        int page = 0;
        if (!ToInt(call.Value(), page) || page < 1 || page > pages ||
            openCursorType_ == adOpenForwardOnly)
            return Fail(call, Fault::InvalidArgument);
        if (const HResult hr = FinishEdit(call); automation::Failed(hr))
            return hr;
        Purge();
        return MoveTo(call, static_cast<long>(page - 1) * pageSize_);
    }
    if (openCursorType_ == adOpenForwardOnly || view_.empty())
        return call.Return(Variant(std::int32_t{adPosUnknown}));
    if (pos_ < 0)
        return call.Return(Variant(std::int32_t{adPosBOF}));
    if (pos_ >= static_cast<long>(view_.size()))
        return call.Return(Variant(std::int32_t{adPosEOF}));
    return call.Return(Variant(static_cast<std::int32_t>(pos_ / pageSize_ + 1)));
}

HResult Recordset::Bookmark(Invocation& call) {
    if (!open_)
        return Fail(call, Fault::ObjectClosed);
    if (openCursorType_ == adOpenForwardOnly)
        return Fail(call, Fault::NotCapable);
    if (const HResult hr = Materialise(call); automation::Failed(hr))
        return hr;
    if (call.IsPut()) {
        double mark = 0;
        if (!call.Value().ToDouble(mark) || mark < 1)
            return Fail(call, Fault::InvalidArgument);
        const auto target = static_cast<std::size_t>(mark) - 1;
        const auto it = std::find(view_.begin(), view_.end(), target);
        if (it == view_.end())
            return Fail(call, Fault::InvalidArgument);
        if (const HResult hr = FinishEdit(call); automation::Failed(hr))
            return hr;
        Purge();
        return MoveTo(
            call, static_cast<long>(std::find(view_.begin(), view_.end(), target) - view_.begin()));
    }
    if (!HasCurrent())
        return Fail(call, Fault::NoCurrentRecord);
    return call.Return(Variant(static_cast<double>(view_[static_cast<std::size_t>(pos_)] + 1)));
}

HResult Recordset::Find(Invocation& call) {
    if (!open_)
        return Fail(call, Fault::ObjectClosed);
    std::string text;
    if (!call.Arg(0).ToText(text))
        return Fail(call, Fault::InvalidArgument);
    int skip = 0, direction = adSearchForward;
    if (!OptionalInt(call, 1, skip))
        return Fail(call, Fault::InvalidArgument);
    if (call.Has(2) && (!ToInt(call.Arg(2), direction) || (direction != 1 && direction != -1)))
        return Fail(call, Fault::InvalidArgument);
    if (direction == adSearchBackward && openCursorType_ == adOpenForwardOnly)
        return Fail(call, Fault::NoBackwardFetch);
    // Forward-only, Find searches on from the current row; a start bookmark needs bookmarks.
    if (openCursorType_ == adOpenForwardOnly && call.Has(3)) {
        int constant = 0;
        if (!ToInt(call.Arg(3), constant) || constant != adBookmarkCurrent)
            return Fail(call, Fault::NotCapable);
    }
    if (!findCriteria_ || text != findText_) {
        std::string error;
        std::unique_ptr<Criteria> parsed = Criteria::Parse(text, columns_, error);
        // Find takes one comparison; AND and OR belong to Filter.
        if (!parsed || !parsed->IsSingleComparison())
            return call.Throw(FaultText(Fault::InvalidArgument) +
                              (error.empty() ? std::string() : " " + error));
        findCriteria_ = std::move(parsed);
        findText_ = text;
    }
    if (const HResult hr = FinishEdit(call); automation::Failed(hr))
        return hr;
    if (const HResult hr = Materialise(call); automation::Failed(hr))
        return hr;
    const bool removed = Purge();
    const long size = static_cast<long>(view_.size());
    long start = pos_;
    if (call.Has(3)) {
        const Variant& mark = call.Arg(3);
        int constant = 0;
        if (mark.Type() == VT_R8) {
            const auto target = static_cast<std::size_t>(mark.DoubleValue()) - 1;
            const auto it = std::find(view_.begin(), view_.end(), target);
            if (it == view_.end())
                return Fail(call, Fault::InvalidArgument);
            start = static_cast<long>(it - view_.begin());
        } else if (ToInt(mark, constant) && constant == adBookmarkFirst) {
            start = 0;
        } else if (ToInt(mark, constant) && constant == adBookmarkLast) {
            start = size - 1;
        } else if (!ToInt(mark, constant) || constant != adBookmarkCurrent) {
            return Fail(call, Fault::InvalidArgument);
        }
    } else if (!removed && (start < 0 || start >= size)) {
        return Fail(call, Fault::NoCurrentRecord);
    }
    if (removed && direction == adSearchForward && skip > 0)
        --skip;
    for (long i = start + static_cast<long>(skip) * direction; i >= 0 && i < size; i += direction) {
        if (findCriteria_->Matches(rows_[view_[static_cast<std::size_t>(i)]].values))
            return MoveTo(call, i);
    }
    return MoveTo(call, direction == adSearchForward ? size : -1);
}

HResult Recordset::Filter(Invocation& call) {
    if (call.IsPut()) {
        const Variant& value = call.Value();
        if (open_ && openCursorType_ == adOpenForwardOnly)
            return Fail(call, Fault::NotCapable);
        if (value.Type() == VT_BSTR) {
            if (!open_)
                return Fail(call, Fault::ObjectClosed);
            if (!Trimmed(value.Text()).empty()) {
                std::string error;
                if (!Criteria::Parse(value.Text(), columns_, error))
                    return call.Throw(FaultText(Fault::InvalidArgument) + " " + error);
            }
            filter_ = value;
        } else {
            int constant = 0;
            if (!ToInt(value, constant) || constant < 0 || constant > 5)
                return Fail(call, Fault::InvalidArgument);
            filter_ = Variant(std::int32_t{constant});
        }
        if (open_) {
            if (const HResult hr = FinishEdit(call); automation::Failed(hr))
                return hr;
            if (const HResult hr = Materialise(call); automation::Failed(hr))
                return hr;
            RebuildView();
        }
        return kOk;
    }
    return call.Return(filter_);
}

HResult Recordset::Sort(Invocation& call) {
    if (call.IsPut()) {
        std::string text;
        if (!call.Value().ToText(text))
            return Fail(call, Fault::InvalidArgument);
        if (open_ && openCursorType_ == adOpenForwardOnly)
            return Fail(call, Fault::NotCapable);
        sort_ = Trimmed(text);
        if (open_) {
            if (const HResult hr = FinishEdit(call); automation::Failed(hr))
                return hr;
            if (const HResult hr = Materialise(call); automation::Failed(hr))
                return hr;
            RebuildView();
        }
        return kOk;
    }
    return call.Return(Variant(sort_));
}

HResult Recordset::Status(Invocation& call) {
    if (!open_)
        return Fail(call, Fault::ObjectClosed);
    if (pos_ >= 0 && pos_ < static_cast<long>(view_.size()))
        return call.Return(
            Variant(std::int32_t{rows_[view_[static_cast<std::size_t>(pos_)]].status & ~kRecSent}));
    return Fail(call, Fault::NoCurrentRecord);
}

// ---- opening and closing -----------------------------------------------------------------

HResult Recordset::Open(Invocation& call) {
    if (open_)
        return Fail(call, Fault::ObjectOpen);
    int cursorType = cursorType_, lockType = lockType_, options = -1;
    if (!OptionalInt(call, 2, cursorType))
        return Fail(call, Fault::InvalidArgument);
    if (!OptionalInt(call, 3, lockType))
        return Fail(call, Fault::InvalidArgument);
    if (!OptionalInt(call, 4, options))
        return Fail(call, Fault::InvalidArgument);
    if (cursorType < adOpenForwardOnly || cursorType > adOpenStatic || lockType < adLockReadOnly ||
        lockType > adLockBatchOptimistic)
        return Fail(call, Fault::InvalidArgument);
    cursorType_ = cursorType;
    lockType_ = lockType;
    const Variant source = call.Has(0) ? call.Arg(0) : Variant(source_);
    const Variant connection = call.Has(1) ? call.Arg(1) : Variant::Missing();
    return RunOpen(call, source, connection, options);
}

HResult Recordset::RunOpen(Invocation& call, const Variant& source, const Variant& connectionArg,
                           int options) {
    // The connection: the given object, a connection string to open, or the active one.
    std::shared_ptr<Connection> connection = connection_;
    if (!connectionArg.IsMissing()) {
        if (connectionArg.Type() == VT_DISPATCH) {
            connection = std::dynamic_pointer_cast<Connection>(connectionArg.Dispatcher());
            if (!connection)
                return Fail(call, Fault::InvalidConnection);
        } else if (connectionArg.Type() == VT_BSTR) {
            const ConnectionString cs(connectionArg.Text());
            if (text::Find(cs.Get("Provider"), "MSPersist") == 1) {
                std::string path;
                source.ToText(path);
                return OpenPersisted(call, path);
            }
            connection = std::make_shared<Connection>();
            const automation::Object object(connection);
            object.Call("Open", {connectionArg});
            if (!connection->IsOpen())
                return call.Throw(automation::LastCallException());
        } else {
            return Fail(call, Fault::InvalidConnection);
        }
    }
    if ((options != -1 && (options & adCmdFile)) && source.Type() == VT_BSTR)
        return OpenPersisted(call, source.Text());

    // The source: a command object brings its own statement, parameters and connection.
    std::string sql;
    std::vector<Variant> parameters;
    if (source.Type() == VT_DISPATCH) {
        const auto command = std::dynamic_pointer_cast<Command>(source.Dispatcher());
        if (!command)
            return Fail(call, Fault::InvalidArgument);
        if (!connection)
            connection = command->GetConnection();
        sql = command->Statement();
        HResult failure = kOk;
        std::string error;
        parameters = command->ParameterValues(nullptr, failure, error);
        if (automation::Failed(failure))
            return call.Throw(error);
    } else if (!source.ToText(sql)) {
        return Fail(call, Fault::InvalidArgument);
    }
    if (!connection || !connection->IsOpen())
        return Fail(call, Fault::InvalidConnection);
    if (options != -1 && (options & (adCmdTable | adCmdTableDirect)))
        sql = "select * from " + sql;
    if (sql.empty())
        return Fail(call, Fault::InvalidArgument);

    connection->ClearErrors();
    StatementResult result;
    ProviderError error;
    Session* session = connection->GetSession();
    session->SetCommandTimeout(connection->CommandTimeout());
    // Forward-only and read-only: nothing will look back or write, so the rows are fetched as
    // the reader moves on instead of all at once. A command source keeps the full read, which
    // its parameters' results depend on.
    if (cursorType_ == adOpenForwardOnly && lockType_ == adLockReadOnly &&
        source.Type() != VT_DISPATCH && sort_.empty()) {
        std::vector<ColumnInfo> columns;
        std::unique_ptr<RowCursor> cursor = session->Query(sql, parameters, columns, error);
        if (!cursor) {
            connection->ReportError(error);
            return call.Throw(error.description);
        }
        source_ = sql;
        lastOptions_ = options;
        if (columns.empty()) {
            connection_ = connection;
            return kOk;
        }
        return OpenStream(call, std::move(cursor), std::move(columns), connection,
                          std::move(parameters));
    }
    if (!session->Execute(sql, parameters, result, error)) {
        connection->ReportError(error);
        return call.Throw(error.description);
    }
    source_ = sql;
    lastOptions_ = options;
    if (!result.returnsRows) {
        // An action statement ran; the recordset stays closed.
        connection_ = connection;
        return kOk;
    }
    if (maxRecords_ > 0 && result.rows.size() > static_cast<std::size_t>(maxRecords_))
        result.rows.resize(static_cast<std::size_t>(maxRecords_));
    Adopt(std::move(result), connection, sql, cursorType_, lockType_);
    connection->Track(std::static_pointer_cast<Recordset>(shared_from_this()));
    return kOk;
}

HResult Recordset::OpenStream(Invocation& call, std::unique_ptr<RowCursor> cursor,
                              std::vector<ColumnInfo> columns,
                              std::shared_ptr<Connection> connection,
                              std::vector<Variant> parameters) {
    StatementResult shape;
    shape.returnsRows = true;
    shape.columns = std::move(columns);
    Adopt(std::move(shape), connection, source_, cursorType_, lockType_);
    cursor_ = std::move(cursor);
    streaming_ = true;
    streamParameters_ = std::move(parameters);
    ProviderError error;
    if (!FetchNext(error)) {
        // A statement that fails on its first row fails the open, as a full read would.
        ForceClose();
        connection->ReportError(error);
        return call.Throw(error.description);
    }
    connection->Track(std::static_pointer_cast<Recordset>(shared_from_this()));
    return kOk;
}

HResult Recordset::OpenPersisted(Invocation& call, const std::string& path) {
    const std::string linuxPath = DataSourcePath(path);
    std::vector<ColumnInfo> columns;
    std::vector<Row> rows;
    std::string error;
    if (linuxPath.empty() || !LoadRecordsetXml(linuxPath, columns, rows, error))
        return call.Throw(error.empty() ? "Could not find file '" + path + "'." : error);
    StatementResult result;
    result.returnsRows = true;
    result.columns = std::move(columns);
    result.rows = std::move(rows);
    Adopt(std::move(result), nullptr, path, cursorType_, lockType_);
    return kOk;
}

HResult Recordset::Close(Invocation& call) {
    if (!open_)
        return Fail(call, Fault::ObjectClosed);
    if (editMode_ != kEditNone && lockType_ != adLockBatchOptimistic)
        return Fail(call, Fault::EditInProgress);
    ForceClose();
    return kOk;
}

HResult Recordset::Requery(Invocation& call) {
    if (!open_)
        return Fail(call, Fault::ObjectClosed);
    if (!connection_)
        return Fail(call, Fault::InvalidConnection);
    const std::string source = source_;
    const auto connection = connection_;
    ForceClose();
    // The statement already carries the table prefix of a table open.
    return RunOpen(call, Variant(source), Variant(connection), adCmdText);
}

HResult Recordset::ActiveConnection(Invocation& call) {
    if (call.IsPut()) {
        const Variant& value = call.Value();
        if (value.Type() == VT_DISPATCH && !value.Dispatcher()) {
            // Nothing: disconnects an open recordset, which keeps its rows.
            if (const HResult hr = Materialise(call); automation::Failed(hr))
                return hr;
            connection_.reset();
            return kOk;
        }
        if (open_)
            return Fail(call, Fault::ObjectOpen);
        return PutConnection(call, value, connection_);
    }
    return call.Return(Variant(std::static_pointer_cast<Dispatch>(connection_)));
}

HResult Recordset::Source(Invocation& call) {
    if (call.IsPut()) {
        if (open_)
            return Fail(call, Fault::ObjectOpen);
        const Variant& value = call.Value();
        if (value.Type() == VT_DISPATCH) {
            const auto command = std::dynamic_pointer_cast<Command>(value.Dispatcher());
            if (!command)
                return Fail(call, Fault::InvalidArgument);
            source_ = command->Statement();
            if (!connection_)
                connection_ = command->GetConnection();
            return kOk;
        }
        if (!value.ToText(source_))
            return Fail(call, Fault::InvalidArgument);
        return kOk;
    }
    return call.Return(Variant(source_));
}

HResult Recordset::Collect(Invocation& call) {
    const Variant& key = call.Arg(0);
    long index = -1;
    if (key.Type() == VT_BSTR)
        index = FieldIndex(key.Text());
    else if (std::int32_t n = 0; key.ToInt32(n))
        index = n;
    if (!open_)
        return Fail(call, Fault::ObjectClosed);
    if (index < 0 || index >= static_cast<long>(columns_.size()))
        return Fail(call, Fault::ItemNotFound);
    Fault fault{};
    if (call.IsPut())
        return WriteField(static_cast<std::size_t>(index), call.Value(), fault) ? kOk
                                                                                : Fail(call, fault);
    Variant value;
    if (!ReadField(static_cast<std::size_t>(index), value, fault))
        return Fail(call, fault);
    return call.Return(std::move(value));
}

HResult Recordset::Save(Invocation& call) {
    if (!open_)
        return Fail(call, Fault::ObjectClosed);
    std::string path;
    if (!call.Arg(0).ToText(path) || path.empty())
        return Fail(call, Fault::InvalidArgument);
    int format = adPersistADTG;
    if (!OptionalInt(call, 1, format))
        return Fail(call, Fault::InvalidArgument);
    if (format == adPersistADTG)
        return call.Throw("Saving in the binary ADTG format is not supported: save the recordset "
                          "as XML (adPersistXML, 1).");
    if (format != adPersistXML)
        return Fail(call, Fault::InvalidArgument);
    // Saving writes every row from the first: a forward-only cursor cannot go back to them.
    if (openCursorType_ == adOpenForwardOnly)
        return Fail(call, Fault::NotCapable);
    if (const HResult hr = FinishEdit(call); automation::Failed(hr))
        return hr;
    if (const HResult hr = Materialise(call); automation::Failed(hr))
        return hr;
    const std::string linuxPath = DataSourcePath(path);
    if (linuxPath.empty())
        return call.Throw("Cannot save to '" + path + "': the path names no file on this machine.");
    struct stat info {};
    if (::stat(linuxPath.c_str(), &info) == 0)
        return call.Throw("Cannot save to '" + path + "': the file already exists.");
    std::vector<const Row*> rows;
    rows.reserve(view_.size());
    for (const std::size_t index : view_)
        if (!(rows_[index].status & kRecDeleted))
            rows.push_back(&rows_[index].values);
    std::string error;
    if (!SaveRecordsetXml(linuxPath, columns_, rows, error))
        return call.Throw("Cannot save to '" + path + "': " + error);
    return kOk;
}

HResult Recordset::Supports(Invocation& call) {
    int option = 0;
    if (!ToInt(call.Arg(0), option))
        return Fail(call, Fault::InvalidArgument);
    constexpr int kAddNew = 0x1000400, kDelete = 0x1000800, kUpdate = 0x1008000,
                  kUpdateBatch = 0x10000, kMovePrevious = 0x201, kBookmark = 0x2000,
                  kFind = 0x80000, kApproxPosition = 0x4000, kHoldRecords = 0x100;
    int supported = kFind | kHoldRecords;
    if (openCursorType_ != adOpenForwardOnly)
        supported |= kMovePrevious | kBookmark | kApproxPosition;
    if (open_ && Updatable()) {
        supported |= kAddNew | kDelete | kUpdate;
        if (lockType_ == adLockBatchOptimistic)
            supported |= kUpdateBatch;
    }
    return call.Return(Variant((supported & option) == option));
}

} // namespace vm::ado
