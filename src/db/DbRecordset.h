#pragma once
// DbRecordset: the wrapper around one "ADODB.RecordSet": opening by statement, table name or
// persisted file, navigation, typed field reads and writes, field metadata, Find, paging and a
// few one-shot conveniences. DbCommand: one "ADODB.Command" with its parameters. Both reach
// their objects by member name only; failures are results. Texts are GBK.

#include "db/DbConnection.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace vm::gui {
class Control;
}

namespace vm::db {

// A field named by text or by zero-based index.
using FieldKey = std::variant<std::string, std::int32_t>;

class DbRecordset {
public:
    DbRecordset();
    virtual ~DbRecordset();
    DbRecordset(const DbRecordset& other);
    DbRecordset& operator=(const DbRecordset& other);

    // mode 1 statement, 2 table name, 3 persisted file; cursor 1 keyset; lock 3 optimistic.
    virtual bool open(const std::string& source, int mode = 1, int cursorType = 1,
                      int lockType = 3);
    // Runs `statement` through a fresh command with `values` as its parameters; up to three
    // byte arrays take the first places among them. Adopts the returned recordset.
    virtual bool openWithParameters(const std::string& statement, int option = 1,
                                    const std::optional<automation::Bytes>& bytes1 = std::nullopt,
                                    const std::optional<automation::Bytes>& bytes2 = std::nullopt,
                                    const std::optional<automation::Bytes>& bytes3 = std::nullopt,
                                    const std::vector<automation::Variant>& values = {});
    virtual std::int32_t getRecordsAffected();
    virtual bool openOrdered(const std::string& table, const std::string& order);
    virtual bool openWhere(const std::string& table, const std::string& condition);
    virtual automation::Object getComObject();
    virtual void setComObject(const automation::Object& object);
    virtual bool getConnection(DbConnection& target);
    virtual double cursorType(std::optional<int> value = std::nullopt);
    virtual double lockType(std::optional<int> value = std::nullopt);
    virtual bool setConnection(DbConnection& connection);
    virtual bool setConnectionObject(const automation::Object& connection);
    virtual bool close();
    virtual bool addNew();
    virtual bool updateRecord();
    virtual bool updateBatch();
    virtual bool deleteRecords(int affect = 1);
    virtual automation::Variant getValue(const FieldKey& field);
    virtual bool readValue(const FieldKey& field, automation::Variant& out);
    virtual bool setValue(const FieldKey& field, const automation::Variant& value);
    virtual bool setText(const std::string& field, const std::string& value);
    virtual bool setNumber(const std::string& field, double value);
    virtual bool setFloat(const std::string& field, float value);
    virtual bool setInt(const std::string& field, std::int32_t value);
    virtual bool setBool(const std::string& field, bool value);
    virtual bool setDateTime(const std::string& field, double value, int part = 0);
    virtual bool setBytes(const std::string& field, const automation::Bytes& value);
    virtual bool readText(const std::string& field, std::string& out);
    virtual bool readNumber(const std::string& field, double& out);
    virtual bool readFloat(const std::string& field, float& out);
    virtual bool readInt(const std::string& field, std::int32_t& out);
    virtual bool readBool(const std::string& field, bool& out);
    virtual bool readDateTime(const std::string& field, double& out, int part = 0);
    virtual bool readBytes(const std::string& field, automation::Bytes& out);
    virtual bool saveXml(const std::string& path);
    virtual bool saveAdtg(const std::string& path);
    virtual bool moveFirst();
    virtual bool moveLast();
    virtual bool moveNext();
    virtual bool movePrevious();
    virtual bool move(int count, int start = 1);
    virtual std::string fieldName(int index);
    virtual int fieldIndex(const std::string& name);
    virtual std::string fieldNames();
    virtual double fieldAttributes(const FieldKey& field);
    virtual double fieldDefinedSize(const FieldKey& field);
    virtual double fieldActualSize(const FieldKey& field);
    virtual double fieldType(const FieldKey& field);
    virtual FieldDef fieldInfo(const FieldKey& field);
    virtual bool fieldMissing(const FieldKey& field);
    virtual bool find(const std::string& criteria, int direction = 1);
    virtual bool findNext();
    virtual bool replaceInColumn(const std::string& table, const std::string& column,
                                 const std::string& oldText, const std::string& newText,
                                 const std::string& condition);
    virtual bool lookupInt(const std::string& table, const std::string& condition,
                           std::int32_t& out, int column);
    virtual bool exists(const std::string& table, const std::string& condition);
    virtual bool setFilter(const std::string& filter);
    virtual bool isOpen();
    virtual double status();
    virtual double recordCount();
    virtual double fieldCount();
    virtual bool isBof();
    virtual bool isEof();
    virtual double absolutePosition();
    virtual double pageSize(std::optional<int> value = std::nullopt);
    virtual double pageCount();
    virtual double absolutePage(std::optional<int> page = std::nullopt);
    // Enables and disables the first, previous, next and last page buttons (any may be null).
    virtual void updatePagingButtons(int currentPage, int pageCount, gui::Control* first,
                                     gui::Control* previous, gui::Control* next,
                                     gui::Control* last);

protected:
    // Steps 1-3 of the field-access family: the key into `scratch`, "fields", "Item".
    bool LookUp(const FieldKey& field);
    // The trailing "no error" test of the operations that report success that way.
    static bool NoError();
    bool EndNotReached(int direction);

    automation::Object adoRecordset;
    automation::Object adoFields;
    automation::Object currentField;
    automation::Variant scratch = automation::Variant(std::int32_t{0});
    // Field objects already taken from `adoFields`. The recordset replaces its collection
    // whenever it is opened or closed, so the collection's identity says whether they still
    // hold. Rows are read field by field in one order: the entry after the last hit is tried
    // first.
    struct KnownField {
        FieldKey key;
        automation::Object field;
    };
    std::vector<KnownField> knownFields;
    std::size_t nextKnown = 0;
    std::string findCriteria;
    std::int32_t findDirection = 1;
    std::int32_t recordsAffected = 0;
};

class DbCommand {
public:
    DbCommand();
    virtual ~DbCommand();
    DbCommand(const DbCommand& other);
    DbCommand& operator=(const DbCommand& other);

    using ParameterKey = FieldKey;

    virtual automation::Object getComObject();
    virtual void setComObject(const automation::Object& object);
    virtual bool prepare(DbConnection& connection, const std::string& statement,
                         int commandType = 1);
    virtual bool setConnection(DbConnection& connection);
    virtual bool setConnectionObject(const automation::Object& connection);
    virtual bool getConnection(DbConnection& target);
    virtual automation::Object getConnectionObject();
    virtual bool setCommandText(const std::string& text);
    virtual std::string getCommandText();
    virtual double getCommandType();
    virtual bool setCommandType(int type);
    virtual std::string getName();
    virtual bool setName(const std::string& name);
    virtual double getState();
    virtual double parameterCount();
    virtual std::string parameterName(int index);
    virtual double getParameterSize(const ParameterKey& key);
    virtual bool setParameterSize(const ParameterKey& key, int size);
    virtual double getParameterDirection(const ParameterKey& key);
    virtual bool setParameterDirection(const ParameterKey& key, int direction);
    virtual double getParameterType(const ParameterKey& key);
    virtual bool setParameterType(const ParameterKey& key, int type);
    virtual automation::Variant getParameterValue(const ParameterKey& key);
    virtual bool setParameterValue(const ParameterKey& key, const automation::Variant& value);
    virtual bool addTextParameter(const std::string& name, const std::string& value,
                                  std::optional<int> type = std::nullopt, int direction = 1,
                                  std::optional<int> size = std::nullopt);
    virtual bool addNumberParameter(const std::string& name, double value,
                                    std::optional<int> type = std::nullopt, int direction = 1);
    virtual bool addFloatParameter(const std::string& name, float value,
                                   std::optional<int> type = std::nullopt, int direction = 1);
    virtual bool addBoolParameter(const std::string& name, bool value,
                                  std::optional<int> type = std::nullopt, int direction = 1);
    virtual bool addDateParameter(const std::string& name, double value,
                                  std::optional<int> type = std::nullopt, int direction = 1);
    virtual bool addIntParameter(const std::string& name, std::int32_t value,
                                 std::optional<int> type = std::nullopt, int direction = 1);
    virtual bool addInt64Parameter(const std::string& name, std::int64_t value,
                                   std::optional<int> type = std::nullopt, int direction = 1);
    virtual bool addBytesParameter(const std::string& name, const automation::Bytes& value,
                                   std::optional<int> type = std::nullopt, int direction = 1,
                                   std::optional<int> size = std::nullopt);
    virtual void deleteParameter(const ParameterKey& key);
    virtual void clearParameters();
    virtual std::int32_t executeNoRecords(int options = 128);
    virtual bool executeInto(DbRecordset& target, int options = -1);

protected:
    bool AddParameter(const std::string& name, int type, int direction, std::optional<int> size,
                      const automation::Variant& value);
    automation::Object Parameter(const ParameterKey& key);

    automation::Object adoCommand;
    automation::Object adoParameters;
};

} // namespace vm::db
