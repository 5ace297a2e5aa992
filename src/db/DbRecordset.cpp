#include "db/DbRecordset.h"

#include "platform/automation/Com.h"
#include "platform/gui/Gui.h"
#include "platform/text/Gbk.h"

#include <cmath>
#include <limits>

namespace vm::db {
namespace {

using automation::Object;
using automation::Variant;

Variant KeyVariant(const FieldKey& key) {
    if (const auto* name = std::get_if<std::string>(&key))
        return Variant(*name);
    return Variant(std::get<std::int32_t>(key));
}

// A number read from a field as a 32-bit integer: truncated toward zero, and 0 for what no
// integer can hold.
std::int32_t TruncateToInt(double value) {
    if (!std::isfinite(value) || value <= -2147483649.0 || value >= 2147483648.0)
        return 0;
    return static_cast<std::int32_t>(value);
}

// Date-time part selector: 0 whole, 1 the date at midnight, 2 the time on 2000-01-01.
double ReducedDate(double date, int part) {
    const double day = std::trunc(date);
    if (part == 1)
        return day;
    if (part == 2)
        return 36526.0 + std::fabs(date - day);
    return date;
}

// "into" as a word of its own: a SELECT ... INTO, not a name that merely contains it.
bool HasIntoWord(const std::string& lowered) {
    auto isWordByte = [](unsigned char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c >= 0x80;
    };
    for (int at = text::Find(lowered, "into", 1, true); at > 0;
         at = text::Find(lowered, "into", at + 1, true)) {
        const std::size_t start = static_cast<std::size_t>(at - 1);
        const bool before =
            start == 0 || !isWordByte(static_cast<unsigned char>(lowered[start - 1]));
        const std::size_t end = start + 4;
        const bool after =
            end >= lowered.size() || !isWordByte(static_cast<unsigned char>(lowered[end]));
        if (before && after)
            return true;
    }
    return false;
}

} // namespace

DbRecordset::DbRecordset() {
    automation::CoInitialize();
    adoRecordset = automation::CreateObject("ADODB.RecordSet");
}

DbRecordset::~DbRecordset() {
    adoRecordset.Call("close");
    automation::CoUninitialize();
}

DbRecordset::DbRecordset(const DbRecordset& other)
    : adoRecordset(other.adoRecordset), adoFields(other.adoFields),
      currentField(other.currentField), scratch(other.scratch), knownFields(other.knownFields),
      nextKnown(other.nextKnown), findCriteria(other.findCriteria),
      findDirection(other.findDirection), recordsAffected(other.recordsAffected) {
    automation::CoInitialize();
}

DbRecordset& DbRecordset::operator=(const DbRecordset& other) {
    adoRecordset = other.adoRecordset;
    adoFields = other.adoFields;
    currentField = other.currentField;
    scratch = other.scratch;
    knownFields = other.knownFields;
    nextKnown = other.nextKnown;
    findCriteria = other.findCriteria;
    findDirection = other.findDirection;
    recordsAffected = other.recordsAffected;
    return *this;
}

bool DbRecordset::NoError() {
    return automation::LastCallErrorText().empty();
}

bool DbRecordset::open(const std::string& given, int mode, int cursorType, int lockType) {
    std::string source = text::Trim(given);
    adoRecordset.Call("Close");
    recordsAffected = -1;
    if (mode == 3) {
        adoRecordset.Call("Open",
                          {Variant(source), Variant("Provider=MSPersist"),
                           Variant(std::int32_t{cursorType}), Variant(std::int32_t{lockType})});
        return adoRecordset.GetNumber("State") != 0;
    }
    if (mode == 2)
        source = "select * from " + source;
    const std::string lowered = text::ToLowerAscii(source);
    if (lowered.compare(0, 6, "select") == 0 && !HasIntoWord(lowered)) {
        adoRecordset.Call("Open",
                          {Variant(source), Variant::Missing(), Variant(std::int32_t{cursorType}),
                           Variant(std::int32_t{lockType})});
        return adoRecordset.GetNumber("State") != 0;
    }
    // Action statements and SELECT ... INTO run on the connection.
    const Object connection = adoRecordset.GetObject("ActiveConnection");
    Variant affected(std::int32_t{-1});
    connection.Call("Execute", {Variant(source), Variant::Ref(affected)});
    std::int32_t count = -1;
    affected.ToInt32(count);
    recordsAffected = count;
    return !connection.IsNull() && recordsAffected >= 0;
}

bool DbRecordset::openWithParameters(const std::string& statement, int option,
                                     const std::optional<automation::Bytes>& bytes1,
                                     const std::optional<automation::Bytes>& bytes2,
                                     const std::optional<automation::Bytes>& bytes3,
                                     const std::vector<Variant>& values) {
    const Object connection = adoRecordset.GetObject("ActiveConnection");
    if (connection.IsNull())
        return false;
    std::vector<Variant> items = values;
    const std::optional<automation::Bytes>* blobs[] = {&bytes1, &bytes2, &bytes3};
    for (std::size_t i = 0; i < 3 && i < items.size(); ++i)
        if (*blobs[i])
            items[i] = Variant(**blobs[i]);
    const Object command = automation::CreateObject("ADODB.Command");
    command.Put("ActiveConnection", Variant(connection));
    command.Put("CommandText", Variant(text::Trim(statement)));
    command.Put("CommandType", Variant(std::int32_t{option}));
    const Object result =
        command.CallObject("Execute", {Variant::Missing(), Variant::Array(std::move(items)),
                                       Variant(std::int32_t{option})});
    if (result.IsNull())
        return false;
    adoRecordset = result;
    return true;
}

std::int32_t DbRecordset::getRecordsAffected() {
    return recordsAffected;
}

bool DbRecordset::openOrdered(const std::string& table, const std::string& order) {
    adoRecordset.Call("Close");
    scratch = Variant("select * from " + table + " order by " + order);
    adoRecordset.Call(
        "open", {scratch, Variant::Missing(), Variant(std::int32_t{1}), Variant(std::int32_t{3})});
    return adoRecordset.GetNumber("State") != 0;
}

bool DbRecordset::openWhere(const std::string& table, const std::string& condition) {
    adoRecordset.Call("Close");
    scratch = Variant("select * from " + table + " where " + condition);
    adoRecordset.Call(
        "open", {scratch, Variant::Missing(), Variant(std::int32_t{1}), Variant(std::int32_t{3})});
    return adoRecordset.GetNumber("State") != 0;
}

automation::Object DbRecordset::getComObject() {
    return adoRecordset;
}

void DbRecordset::setComObject(const automation::Object& object) {
    adoRecordset = object;
}

bool DbRecordset::getConnection(DbConnection& target) {
    const Object connection = adoRecordset.GetObject("ActiveConnection");
    if (connection.IsNull())
        return false;
    target.setComObject(connection);
    return true;
}

double DbRecordset::cursorType(std::optional<int> value) {
    if (value)
        adoRecordset.Put("CursorType", Variant(std::int32_t{*value}));
    return adoRecordset.GetNumber("CursorType");
}

double DbRecordset::lockType(std::optional<int> value) {
    if (value)
        adoRecordset.Put("LockType", Variant(std::int32_t{*value}));
    return adoRecordset.GetNumber("LockType");
}

bool DbRecordset::setConnection(DbConnection& connection) {
    scratch = Variant(connection.getComObject());
    return adoRecordset.Put("ActiveConnection", scratch);
}

bool DbRecordset::setConnectionObject(const automation::Object& connection) {
    scratch = Variant(connection);
    return adoRecordset.Put("ActiveConnection", scratch);
}

bool DbRecordset::close() {
    adoRecordset.Call("Close");
    return NoError();
}

bool DbRecordset::addNew() {
    adoRecordset.Call("AddNew");
    return NoError();
}

bool DbRecordset::updateRecord() {
    adoRecordset.Call("Update");
    return NoError();
}

bool DbRecordset::updateBatch() {
    adoRecordset.Call("UpdateBatch");
    return NoError();
}

bool DbRecordset::deleteRecords(int affect) {
    adoRecordset.Call("Delete", {Variant(std::int32_t{affect})});
    return NoError();
}

// ---- the field-access family -------------------------------------------------------------

bool DbRecordset::LookUp(const FieldKey& field) {
    scratch = KeyVariant(field);
    automation::Object fields = adoRecordset.GetObject("fields");
    if (fields != adoFields) {
        adoFields = std::move(fields);
        knownFields.clear();
        nextKnown = 0;
    }
    // "Item" answers the same object for the same key until the collection is replaced.
    const std::size_t known = knownFields.size();
    for (std::size_t i = 0; i < known; ++i) {
        const std::size_t at = (nextKnown + i) % known;
        if (knownFields[at].key == field) {
            currentField = knownFields[at].field;
            nextKnown = at + 1;
            return true;
        }
    }
    currentField = adoFields.GetObject("Item", {scratch});
    if (currentField.IsNull())
        return false;
    knownFields.push_back({field, currentField});
    nextKnown = known + 1;
    return true;
}

automation::Variant DbRecordset::getValue(const FieldKey& field) {
    LookUp(field);
    scratch = currentField.Get("value");
    return scratch;
}

bool DbRecordset::readValue(const FieldKey& field, automation::Variant& out) {
    LookUp(field);
    out = currentField.Get("value");
    return NoError();
}

bool DbRecordset::setValue(const FieldKey& field, const automation::Variant& value) {
    LookUp(field);
    return currentField.Put("Value", value);
}

bool DbRecordset::setText(const std::string& field, const std::string& value) {
    LookUp(field);
    return currentField.Put("Value", Variant(value));
}

bool DbRecordset::setNumber(const std::string& field, double value) {
    LookUp(field);
    return currentField.Put("value", Variant(value));
}

bool DbRecordset::setFloat(const std::string& field, float value) {
    LookUp(field);
    return currentField.Put("value", Variant::R4(value));
}

bool DbRecordset::setInt(const std::string& field, std::int32_t value) {
    LookUp(field);
    return currentField.Put("value", Variant(value));
}

bool DbRecordset::setBool(const std::string& field, bool value) {
    LookUp(field);
    return currentField.Put("value", Variant(value));
}

bool DbRecordset::setDateTime(const std::string& field, double value, int part) {
    LookUp(field);
    return currentField.Put("value", Variant::Date(ReducedDate(value, part)));
}

bool DbRecordset::setBytes(const std::string& field, const automation::Bytes& value) {
    LookUp(field);
    return currentField.Put("value", Variant(value));
}

bool DbRecordset::readText(const std::string& field, std::string& out) {
    LookUp(field);
    out = currentField.GetText("Value");
    return NoError();
}

bool DbRecordset::readNumber(const std::string& field, double& out) {
    LookUp(field);
    out = currentField.GetNumber("Value");
    return NoError();
}

bool DbRecordset::readFloat(const std::string& field, float& out) {
    LookUp(field);
    out = static_cast<float>(currentField.GetNumber("value"));
    return NoError();
}

bool DbRecordset::readInt(const std::string& field, std::int32_t& out) {
    LookUp(field);
    out = TruncateToInt(currentField.GetNumber("value"));
    return NoError();
}

bool DbRecordset::readBool(const std::string& field, bool& out) {
    LookUp(field);
    out = currentField.GetBool("value");
    return NoError();
}

bool DbRecordset::readDateTime(const std::string& field, double& out, int part) {
    LookUp(field);
    out = ReducedDate(currentField.Get("value", {}, automation::VT_DATE).DoubleValue(), part);
    return NoError();
}

bool DbRecordset::readBytes(const std::string& field, automation::Bytes& out) {
    LookUp(field);
    const Variant value = currentField.Get("value");
    const bool ok = NoError();
    if (!value.ToBytes(out))
        return false;
    return ok;
}

// ---- persistence and navigation ----------------------------------------------------------

bool DbRecordset::saveXml(const std::string& path) {
    adoRecordset.Call("Save", {Variant(path), Variant(std::int32_t{1})});
    return NoError();
}

bool DbRecordset::saveAdtg(const std::string& path) {
    adoRecordset.Call("Save", {Variant(path), Variant(std::int32_t{0})});
    return NoError();
}

bool DbRecordset::moveFirst() {
    adoRecordset.Call("MoveFirst");
    return NoError();
}

bool DbRecordset::moveLast() {
    adoRecordset.Call("MoveLast");
    return NoError();
}

bool DbRecordset::moveNext() {
    adoRecordset.Call("MoveNext");
    return NoError();
}

bool DbRecordset::movePrevious() {
    adoRecordset.Call("MovePrevious");
    return NoError();
}

bool DbRecordset::move(int count, int start) {
    adoRecordset.Call("Move", {Variant(std::int32_t{count}), Variant(std::int32_t{start})});
    return NoError();
}

// ---- field metadata ----------------------------------------------------------------------

std::string DbRecordset::fieldName(int index) {
    return adoRecordset.GetObject("Fields")
        .GetObject("Item", {Variant(std::int32_t{index})})
        .GetText("name");
}

int DbRecordset::fieldIndex(const std::string& name) {
    const Object fields = adoRecordset.GetObject("Fields");
    const int count = TruncateToInt(fields.GetNumber("Count"));
    for (int i = 0; i < count; ++i)
        if (fields.GetObject("Item", {Variant(std::int32_t{i})}).GetText("name") == name)
            return i;
    return -1;
}

std::string DbRecordset::fieldNames() {
    const Object fields = adoRecordset.GetObject("Fields");
    const int count = TruncateToInt(fields.GetNumber("Count"));
    std::string names;
    for (int i = 0; i < count; ++i)
        names += fields.GetObject("Item", {Variant(std::int32_t{i})}).GetText("name") + ",";
    return names;
}

double DbRecordset::fieldAttributes(const FieldKey& field) {
    LookUp(field);
    return currentField.GetNumber("Attributes");
}

double DbRecordset::fieldDefinedSize(const FieldKey& field) {
    LookUp(field);
    return currentField.GetNumber("DefinedSize");
}

double DbRecordset::fieldActualSize(const FieldKey& field) {
    LookUp(field);
    return currentField.GetNumber("ActualSize");
}

double DbRecordset::fieldType(const FieldKey& field) {
    LookUp(field);
    return currentField.GetNumber("Type");
}

FieldDef DbRecordset::fieldInfo(const FieldKey& field) {
    FieldDef info;
    LookUp(field);
    info.columnName = currentField.GetText("Name");
    info.dataType = TruncateToInt(currentField.GetNumber("Type"));
    info.definedSize = TruncateToInt(currentField.GetNumber("DefinedSize"));
    info.actualSize = TruncateToInt(currentField.GetNumber("ActualSize"));
    info.attributes = TruncateToInt(currentField.GetNumber("Attributes"));
    return info;
}

bool DbRecordset::fieldMissing(const FieldKey& field) {
    return !LookUp(field);
}

// ---- searching and one-shot conveniences -------------------------------------------------

// Found when the end flag of the search direction is false. A flag that cannot be read (a
// closed recordset) counts as not found rather than as a match.
bool DbRecordset::EndNotReached(int direction) {
    const bool atEnd = adoRecordset.GetBool(direction == -1 ? "BOF" : "EOF");
    return NoError() && !atEnd;
}

bool DbRecordset::find(const std::string& criteria, int direction) {
    findCriteria = criteria;
    findDirection = direction;
    adoRecordset.Call(
        "find", {Variant(criteria), Variant(std::int32_t{0}), Variant(std::int32_t{direction})});
    return EndNotReached(direction);
}

bool DbRecordset::findNext() {
    adoRecordset.Call("find", {Variant(findCriteria), Variant(std::int32_t{1}),
                               Variant(std::int32_t{findDirection})});
    return EndNotReached(findDirection);
}

bool DbRecordset::replaceInColumn(const std::string& table, const std::string& column,
                                  const std::string& oldText, const std::string& newText,
                                  const std::string& condition) {
    std::string& sql = SqlBuffer();
    sql = "Update " + table + " SET " + column + "=replace(" + column + ",'" + oldText + "','" +
          newText + "')";
    if (!condition.empty())
        sql += " WHERE " + condition;
    const Object connection = adoRecordset.GetObject("ActiveConnection");
    Variant affected(std::int32_t{-1});
    connection.Call("Execute", {Variant(sql), Variant::Ref(affected)});
    std::int32_t count = -1;
    affected.ToInt32(count);
    recordsAffected = count;
    return !connection.IsNull() && recordsAffected >= 1;
}

bool DbRecordset::lookupInt(const std::string& table, const std::string& condition,
                            std::int32_t& out, int column) {
    if (!openWhere(table, condition) || recordCount() != 1)
        return false;
    out = TruncateToInt(adoRecordset.GetObject("fields")
                            .GetObject("Item", {Variant(std::int32_t{column})})
                            .GetNumber("value"));
    adoRecordset.Call("Close");
    return true;
}

bool DbRecordset::exists(const std::string& table, const std::string& condition) {
    return openWhere(table, condition) && recordCount() > 0;
}

bool DbRecordset::setFilter(const std::string& filter) {
    return adoRecordset.Put("Filter", Variant(filter));
}

bool DbRecordset::isOpen() {
    return adoRecordset.GetNumber("State") != 0;
}

double DbRecordset::status() {
    return adoRecordset.GetNumber("Status");
}

double DbRecordset::recordCount() {
    return adoRecordset.GetNumber("RecordCount");
}

double DbRecordset::fieldCount() {
    return adoRecordset.GetObject("Fields").GetNumber("Count");
}

bool DbRecordset::isBof() {
    return adoRecordset.GetBool("BOF");
}

bool DbRecordset::isEof() {
    return adoRecordset.GetBool("EOF");
}

double DbRecordset::absolutePosition() {
    return adoRecordset.GetNumber("AbsolutePosition");
}

double DbRecordset::pageSize(std::optional<int> value) {
    if (value)
        adoRecordset.Put("pagesize", Variant(std::int32_t{*value}));
    return adoRecordset.GetNumber("pagesize");
}

double DbRecordset::pageCount() {
    return adoRecordset.GetNumber("pagecount");
}

double DbRecordset::absolutePage(std::optional<int> page) {
    if (page) {
        const double pages = adoRecordset.GetNumber("pagecount");
        const double target = std::min(static_cast<double>(*page), pages);
        adoRecordset.Put("absolutepage", Variant(target));
    }
    return adoRecordset.GetNumber("absolutepage");
}

void DbRecordset::updatePagingButtons(int currentPage, int pageCount, gui::Control* first,
                                      gui::Control* previous, gui::Control* next,
                                      gui::Control* last) {
    auto set = [](gui::Control* control, bool enabled) {
        if (control)
            control->setEnabled(enabled);
    };
    const int a = currentPage, b = pageCount;
    if (b > 1 && a == 1) {
        set(first, false), set(previous, false), set(next, true), set(last, true);
    } else if (b > 1 && a == b) {
        set(first, true), set(previous, true), set(next, false), set(last, false);
    } else if (b > 1 && a < b) {
        set(first, true), set(previous, true), set(next, true), set(last, true);
    } else if (b == 1) {
        set(first, false), set(previous, false), set(next, false), set(last, false);
    }
    gui::Application::instance().processPending();
}

// ---- DbCommand ---------------------------------------------------------------------------

DbCommand::DbCommand() {
    automation::CoInitialize();
    adoCommand = automation::CreateObject("ADODB.Command");
    adoParameters = adoCommand.GetObject("Parameters");
}

DbCommand::~DbCommand() {
    automation::CoUninitialize();
}

DbCommand::DbCommand(const DbCommand& other)
    : adoCommand(other.adoCommand), adoParameters(other.adoParameters) {
    automation::CoInitialize();
}

DbCommand& DbCommand::operator=(const DbCommand& other) {
    adoCommand = other.adoCommand;
    adoParameters = other.adoParameters;
    return *this;
}

automation::Object DbCommand::getComObject() {
    return adoCommand;
}

void DbCommand::setComObject(const automation::Object& object) {
    adoCommand = object;
}

bool DbCommand::prepare(DbConnection& connection, const std::string& statement, int commandType) {
    clearParameters();
    Variant temporary(connection.getComObject());
    bool ok = adoCommand.Put("ActiveConnection", temporary);
    if (ok)
        ok = adoCommand.Put("CommandText", Variant(statement));
    if (ok)
        ok = adoCommand.Put("CommandType", Variant(std::int32_t{commandType}));
    temporary = Variant();
    return ok;
}

bool DbCommand::setConnection(DbConnection& connection) {
    return adoCommand.Put("ActiveConnection", Variant(connection.getComObject()));
}

bool DbCommand::setConnectionObject(const automation::Object& connection) {
    return adoCommand.Put("ActiveConnection", Variant(connection));
}

bool DbCommand::getConnection(DbConnection& target) {
    const Object connection = adoCommand.GetObject("ActiveConnection");
    if (connection.IsNull())
        return false;
    target.setComObject(connection);
    return true;
}

automation::Object DbCommand::getConnectionObject() {
    return adoCommand.GetObject("ActiveConnection");
}

bool DbCommand::setCommandText(const std::string& text) {
    return adoCommand.Put("CommandText", Variant(text));
}

std::string DbCommand::getCommandText() {
    return adoCommand.GetText("CommandText");
}

double DbCommand::getCommandType() {
    return adoCommand.GetNumber("CommandType");
}

bool DbCommand::setCommandType(int type) {
    return adoCommand.Put("CommandType", Variant(std::int32_t{type}));
}

std::string DbCommand::getName() {
    return adoCommand.GetText("Name");
}

bool DbCommand::setName(const std::string& name) {
    return adoCommand.Put("Name", Variant(name));
}

double DbCommand::getState() {
    return adoCommand.GetNumber("State");
}

double DbCommand::parameterCount() {
    return adoParameters.GetNumber("Count");
}

std::string DbCommand::parameterName(int index) {
    return adoParameters.GetObject("Item", {Variant(std::int32_t{index})}).GetText("Name");
}

automation::Object DbCommand::Parameter(const ParameterKey& key) {
    return adoParameters.GetObject("Item", {KeyVariant(key)});
}

double DbCommand::getParameterSize(const ParameterKey& key) {
    return Parameter(key).GetNumber("Size");
}

bool DbCommand::setParameterSize(const ParameterKey& key, int size) {
    return Parameter(key).Put("Size", Variant(std::int32_t{size}));
}

double DbCommand::getParameterDirection(const ParameterKey& key) {
    return Parameter(key).GetNumber("Direction");
}

bool DbCommand::setParameterDirection(const ParameterKey& key, int direction) {
    return Parameter(key).Put("Direction", Variant(std::int32_t{direction}));
}

double DbCommand::getParameterType(const ParameterKey& key) {
    return Parameter(key).GetNumber("Type");
}

bool DbCommand::setParameterType(const ParameterKey& key, int type) {
    return Parameter(key).Put("Type", Variant(std::int32_t{type}));
}

automation::Variant DbCommand::getParameterValue(const ParameterKey& key) {
    return Parameter(key).Get("Value");
}

bool DbCommand::setParameterValue(const ParameterKey& key, const automation::Variant& value) {
    return Parameter(key).Put("Value", value);
}

bool DbCommand::AddParameter(const std::string& name, int type, int direction,
                             std::optional<int> size, const automation::Variant& value) {
    const Object parameter = adoCommand.CallObject(
        "CreateParameter",
        {Variant(name), Variant(std::int32_t{type}), Variant(std::int32_t{direction}),
         size ? Variant(std::int32_t{*size}) : Variant::Missing(), value});
    if (parameter.IsNull())
        return false;
    adoParameters.Call("Append", {Variant(parameter)});
    return automation::LastCallErrorText().empty();
}

bool DbCommand::addTextParameter(const std::string& name, const std::string& value,
                                 std::optional<int> type, int direction, std::optional<int> size) {
    return AddParameter(name, type.value_or(200), direction,
                        size.value_or(static_cast<int>(value.size())), Variant(value));
}

bool DbCommand::addNumberParameter(const std::string& name, double value, std::optional<int> type,
                                   int direction) {
    return AddParameter(name, type.value_or(5), direction, std::nullopt, Variant(value));
}

bool DbCommand::addFloatParameter(const std::string& name, float value, std::optional<int> type,
                                  int direction) {
    return AddParameter(name, type.value_or(4), direction, std::nullopt, Variant::R4(value));
}

bool DbCommand::addBoolParameter(const std::string& name, bool value, std::optional<int> type,
                                 int direction) {
    return AddParameter(name, type.value_or(11), direction, std::nullopt, Variant(value));
}

bool DbCommand::addDateParameter(const std::string& name, double value, std::optional<int> type,
                                 int direction) {
    return AddParameter(name, type.value_or(7), direction, std::nullopt, Variant::Date(value));
}

bool DbCommand::addIntParameter(const std::string& name, std::int32_t value,
                                std::optional<int> type, int direction) {
    return AddParameter(name, type.value_or(3), direction, std::nullopt, Variant(value));
}

// The whole 64-bit value is passed: cutting it to its low 32 bits would store a different number.
bool DbCommand::addInt64Parameter(const std::string& name, std::int64_t value,
                                  std::optional<int> type, int direction) {
    return AddParameter(name, type.value_or(20), direction, std::nullopt, Variant::I8(value));
}

bool DbCommand::addBytesParameter(const std::string& name, const automation::Bytes& value,
                                  std::optional<int> type, int direction, std::optional<int> size) {
    return AddParameter(name, type.value_or(205), direction,
                        size.value_or(static_cast<int>(value.size())), Variant(value));
}

void DbCommand::deleteParameter(const ParameterKey& key) {
    adoParameters.Call("Delete", {KeyVariant(key)});
}

void DbCommand::clearParameters() {
    const int count = TruncateToInt(adoParameters.GetNumber("Count"));
    for (int i = 0; i < count; ++i)
        adoParameters.Call("Delete", {Variant(std::int32_t{0})});
}

std::int32_t DbCommand::executeNoRecords(int options) {
    Variant affected(std::int32_t{-1});
    adoCommand.Call("Execute",
                    {Variant::Ref(affected), Variant::Missing(), Variant(std::int32_t{options})});
    std::int32_t count = -1;
    affected.ToInt32(count);
    return count;
}

bool DbCommand::executeInto(DbRecordset& target, int options) {
    const Object recordset = adoCommand.CallObject(
        "Execute", {Variant::Missing(), Variant::Missing(), Variant(std::int32_t{options})});
    if (recordset.IsNull())
        return false;
    target.setComObject(recordset);
    return true;
}

} // namespace vm::db
