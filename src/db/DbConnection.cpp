#include "db/DbConnection.h"

#include "platform/automation/Com.h"
#include "platform/fs/File.h"
#include "platform/fs/Profile.h"
#include "platform/text/Gbk.h"

namespace vm::db {
namespace {

using automation::Object;
using automation::Variant;

// A two-byte character's trail byte may be 0x5C or 0x2F: walk by characters.
std::size_t LastSeparator(const std::string& path, char separator) {
    std::size_t found = std::string::npos;
    for (std::size_t i = 0; i < path.size(); i += text::CharLengthAt(path, i))
        if (path[i] == separator)
            found = i;
    return found;
}

std::string FileNamePart(const std::string& path) {
    std::size_t at = LastSeparator(path, '\\');
    if (at == std::string::npos)
        at = LastSeparator(path, '/');
    return at == std::string::npos ? path : path.substr(at + 1);
}

// The text after the last "." of the path, lower-cased (ASCII).
std::string ExtensionLower(const std::string& path) {
    const std::size_t dot = LastSeparator(path, '.');
    return dot == std::string::npos ? std::string() : text::ToLowerAscii(path.substr(dot + 1));
}

} // namespace

std::string& SqlBuffer() {
    static std::string buffer;
    return buffer;
}

std::string FolderPart(const std::string& path) {
    std::size_t at = LastSeparator(path, '\\');
    if (at == std::string::npos)
        at = LastSeparator(path, '/');
    return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

DbConnection::DbConnection() {
    automation::CoInitialize();
    adoConnection = automation::CreateObject("ADODB.Connection");
}

DbConnection::~DbConnection() {
    adoConnection.Call("close");
    automation::CoUninitialize();
}

// A copy holds its own COM initialisation, so that destroying copies never ends COM for the
// objects that are still alive.
DbConnection::DbConnection(const DbConnection& other)
    : adoConnection(other.adoConnection), dbKind(other.dbKind),
      connectionString(other.connectionString), databaseName(other.databaseName),
      lastSql(other.lastSql), debugMode(other.debugMode) {
    automation::CoInitialize();
}

DbConnection& DbConnection::operator=(const DbConnection& other) {
    adoConnection = other.adoConnection;
    dbKind = other.dbKind;
    connectionString = other.connectionString;
    databaseName = other.databaseName;
    lastSql = other.lastSql;
    debugMode = other.debugMode;
    return *this;
}

bool DbConnection::OpenWith(const std::string& text) {
    connectionString = text;
    adoConnection.Call("close");
    adoConnection.Call("open", {Variant(connectionString)});
    return adoConnection.GetNumber("State") != 0;
}

bool DbConnection::open(const std::string& text) {
    closeIfOpen();
    dbKind = kDbOther;
    return OpenWith(text);
}

bool DbConnection::openText(const std::string& path, std::vector<FieldDef>* fields, bool header,
                            const std::string& delimiter, const std::string& characterSet,
                            int route) {
    closeIfOpen();
    dbKind = kDbOther;
    const std::string folder = FolderPart(path);

    // Schema.ini: one section named after the file, describing its columns.
    const std::string schema = folder + "Schema.ini";
    const std::string section = FileNamePart(path);
    if (fs::Exists(schema))
        fs::DeleteFile(schema);
    fs::WriteProfileString(schema, section, "ColNameHeader", header ? "True" : "False");
    fs::WriteProfileString(schema, section, "Format", "Delimited(" + delimiter + ")");
    fs::WriteProfileString(schema, section, "MaxScanRows", "3");
    fs::WriteProfileString(schema, section, "CharacterSet", characterSet);
    std::vector<FieldDef> local;
    std::vector<FieldDef>& list = fields ? *fields : local;
    if (list.empty()) {
        FieldDef only;
        only.columnName = "F1";
        only.dataType = 200;
        list.push_back(only);
    }
    for (std::size_t i = 0; i < list.size(); ++i) {
        FieldDef& field = list[i];
        lastSql.clear();
        switch (field.dataType) {
        case 3:
            lastSql = field.columnName + " Integer";
            break;
        case 5:
            lastSql = field.columnName + " Float";
            break;
        case 7:
            lastSql = field.columnName + " DateTime";
            break;
        case 200:
            if (field.definedSize == 0)
                field.definedSize = 255;
            lastSql = field.columnName + " Text Width " + std::to_string(field.definedSize);
            break;
        case 201:
            lastSql = field.columnName + " Memo";
            break;
        default:
            break;
        }
        fs::WriteProfileString(schema, section, "Col" + std::to_string(i + 1), lastSql);
    }
    fs::WriteProfileString(schema, section, "ModuleVer", "1.0.1103.6");
    fs::SetAttributes(schema, 38);

    if (route == 0)
        return OpenWith("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + folder +
                        ";Extended Properties='text;HDR=No;FMT=Delimited;IMEX=1';");
    if (route == 1)
        return OpenWith("Driver={Microsoft Text Driver (*.txt; *.csv)};DBQ=" + folder +
                        ";Extensions=asc,csv,tab,txt;HDR=Yes;FMT=Delimited");
    return false;
}

bool DbConnection::openDbase(const std::string& path, int route, int version, int driver) {
    closeIfOpen();
    dbKind = kDbOther;
    const std::string folder = FolderPart(path);
    if (route == 0) {
        const char* versionText = version == 3   ? "III"
                                  : version == 4 ? "IV"
                                  : version == 5 ? "5.0"
                                                 : nullptr;
        if (!versionText)
            return false;
        return OpenWith("Provider=Microsoft.Jet.OLEDB.4.0;Extended Properties=dBASE " +
                        std::string(versionText) + ";Persist Security Info=False;Data Source='" +
                        folder + "';");
    }
    if (route == 1 && driver == 0)
        return OpenWith("Driver={Microsoft dBASE Driver (*.dbf)};Driverid=277;Dbq=" + folder + ";");
    if (route == 1 && driver == 1)
        return OpenWith(
            "Driver={Microsoft Visual FoxPro Driver};SourceType=DBF;SourceDB=" + folder +
            ";Exclusive=No;Collate=Machine;NULL=NO;DELETED=NO;BACKGROUNDFETCH=NO");
    return false;
}

bool DbConnection::openSqlite(const std::string& path, const std::string& password, int route) {
    closeIfOpen();
    dbKind = kDbSqlite;
    if (route == 0)
        return OpenWith("Provider=MSDASQL.1;Extended Properties=Driver={SQLite3 ODBC "
                        "Driver};Database=" +
                        path + ";PWD='" + password + "';");
    if (route == 1)
        return OpenWith("Driver={SQLite3 ODBC Driver};Database=" + path + ";PWD='" + password +
                        "';");
    return false;
}

bool DbConnection::openExcel(const std::string& path, int route, bool header) {
    closeIfOpen();
    if (route == 0)
        return OpenWith("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path +
                        ";Extended Properties='Excel 8.0;HDR=" + (header ? "yes" : "no") +
                        ";IMEX=1';");
    if (route == 1)
        return OpenWith("Driver={Microsoft Excel Driver (*.xls)};DBQ=" + path + ";");
    return false;
}

bool DbConnection::openExcel2007(const std::string& path, int route, bool header) {
    closeIfOpen();
    if (route == 0) {
        const std::string extension = ExtensionLower(path);
        const char* properties = extension == "xlsb"   ? "Excel 12.0"
                                 : extension == "xlsx" ? "Excel 12.0 Xml"
                                 : extension == "xlsm" ? "Excel 12.0 Macro"
                                                       : nullptr;
        if (!properties)
            return false;
        return OpenWith("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + path +
                        ";Extended Properties=\"" + properties + ";HDR=" + (header ? "yes" : "no") +
                        ";IMEX=1;\"");
    }
    if (route == 1)
        return OpenWith(
            "Driver={Microsoft Excel Driver (*.xls, *.xlsx, *.xlsm, *.xlsb)};DBQ=" + path + ";");
    return false;
}

bool DbConnection::openAccess(const std::string& path, const std::string& password, int route) {
    closeIfOpen();
    dbKind = kDbAccess;
    if (route == 0)
        return OpenWith("Provider=Microsoft.Jet.OLEDB.4.0;Jet OLEDB:DataBase Password=" + password +
                        ";Data Source=" + path + ";Persist Security Info=False");
    if (route == 1)
        return OpenWith("Driver={Microsoft Access Driver (*.mdb)};DBQ=" + path +
                        ";Pwd=" + password + ";");
    return false;
}

bool DbConnection::openAccess2007(const std::string& path, const std::string& password, int route) {
    closeIfOpen();
    dbKind = kDbAccess;
    if (route == 0)
        return OpenWith("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + path +
                        ";Jet OLEDB:Database Password=" + password + ";");
    if (route == 1)
        return OpenWith("Driver={Microsoft Access Driver (*.mdb, *.accdb)};DBQ=" + path +
                        ";Password=" + password + ";");
    return false;
}

bool DbConnection::openSqlServer(const std::string& server, const std::string& database,
                                 const std::optional<std::string>& user,
                                 const std::string& password, int route) {
    closeIfOpen();
    dbKind = kDbSqlServer;
    const std::string login = user.value_or("sa");
    if (route == 0)
        return OpenWith("Provider=sqloledb.1;Data Source=" + server +
                        ";Initial Catalog=" + database + ";User Id=" + login +
                        ";Password=" + password + ";Persist Security Info=False;");
    if (route == 1)
        return OpenWith("Driver={sql Server};Server=" + server + ";DataBase=" + database +
                        ";Uid=" + login + ";Pwd=" + password + ";");
    return false;
}

bool DbConnection::openOracle(const std::string& server, const std::optional<std::string>& user,
                              const std::string& password, int route, int provider) {
    closeIfOpen();
    const std::string login = user.value_or("system");
    if (route == 0 && provider == 0)
        return OpenWith("Provider=MSDAORA.1;Data Source=" + server + ";User Id=" + login +
                        ";Password=" + password + ";");
    if (route == 0 && provider == 1)
        return OpenWith("Provider=OraOLEDB.Oracle;Data Source=" + server + ";User Id=" + login +
                        ";Password=" + password + ";");
    if (route == 1)
        return OpenWith("Driver={Microsoft ODBC for Oracle};Server=" + server + ";Uid=" + login +
                        ";Pwd=" + password + ";");
    return false;
}

bool DbConnection::openMySql(const std::string& server, const std::string& database,
                             const std::optional<std::string>& user, const std::string& password,
                             std::optional<std::uint16_t> port,
                             const std::optional<std::string>& version, int route) {
    closeIfOpen();
    dbKind = kDbMySql;
    databaseName = database;
    const std::string login = user.value_or("root");
    const std::string portText = std::to_string(port.value_or(3306));
    const std::string odbc = "Driver={MySQL ODBC " + version.value_or("3.51") +
                             " Driver};Server=" + server + ";Port=" + portText +
                             ";DataBase=" + database + ";UID=" + login + ";Stmt=Set Names 'GBK'";
    if (route == 0)
        return OpenWith("Provider=MSDASQL.1;Password=" + password +
                        ";Persist Security Info=False;Extended Properties=\"" + odbc + "\"");
    if (route == 1)
        return OpenWith(odbc);
    return false;
}

void DbConnection::setDebug(int value) {
    debugMode = value;
}

void DbConnection::debugNote(const std::string& label) {
    // Only a hook: the switch is tested and nothing else happens.
    (void)label;
    if (debugMode == 1)
        return;
}

std::string DbConnection::getConnectionString() {
    return connectionString;
}

bool DbConnection::close() {
    adoConnection.Call("close");
    databaseName.clear();
    connectionString.clear();
    return adoConnection.GetNumber("State") == 0;
}

void DbConnection::closeIfOpen() {
    if (adoConnection.GetNumber("state") != 0)
        close();
}

bool DbConnection::execute(const std::string& statement, std::int32_t& recordsAffected) {
    recordsAffected = -1;
    Variant text(statement);
    Variant affected(std::int32_t{-1});
    const Object recordset =
        adoConnection.CallObject("Execute", {Variant::Ref(text), Variant::Ref(affected)});
    std::int32_t count = -1;
    if (affected.ToInt32(count))
        recordsAffected = count;
    return !recordset.IsNull() && recordsAffected >= 0;
}

double DbConnection::getMode() {
    return adoConnection.GetNumber("Mode");
}

bool DbConnection::setMode(int mode) {
    return adoConnection.Put("Mode", Variant(std::int32_t{mode}));
}

double DbConnection::getTimeout(bool commandTimeout) {
    return adoConnection.GetNumber(commandTimeout ? "CommandTimeout" : "ConnectionTimeout");
}

bool DbConnection::setTimeout(int seconds, bool commandTimeout) {
    return adoConnection.Put(commandTimeout ? "CommandTimeout" : "ConnectionTimeout",
                             Variant(std::int32_t{seconds}));
}

double DbConnection::beginTrans() {
    return adoConnection.CallNumber("BeginTrans");
}

bool DbConnection::commitTrans() {
    adoConnection.Call("CommitTrans");
    return automation::LastCallErrorText().empty();
}

bool DbConnection::rollbackTrans() {
    adoConnection.Call("RollbackTrans");
    return automation::LastCallErrorText().empty();
}

std::string DbConnection::lastErrorDescription() {
    const Object errors = adoConnection.GetObject("Errors");
    const double count = errors.GetNumber("Count");
    const Object item = errors.GetObject("Item", {Variant(count - 1)});
    return item.GetText("Description");
}

bool DbConnection::isOpen() {
    return adoConnection.GetNumber("state") != 0;
}

std::string DbConnection::getProvider() {
    return adoConnection.GetText("Provider");
}

std::string DbConnection::getVersion() {
    return adoConnection.GetText("Version");
}

automation::Object DbConnection::getComObject() {
    return adoConnection;
}

void DbConnection::setComObject(const automation::Object& object) {
    adoConnection = object;
}

} // namespace vm::db
