#include "platform/ado/ConnectionString.h"
#include "platform/ado/FastText.h"
#include "platform/ado/OdbcSession.h"
#include "platform/ado/Provider.h"
#include "platform/ado/SqliteSession.h"
#include "platform/ado/TextProvider.h"
#include "platform/fs/Path.h"
#include "platform/text/Gbk.h"

#include <filesystem>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef VM_HAVE_JET
#include "platform/ado/jet/JetReader.h"
#endif

namespace vm::ado {
namespace {

constexpr const char* kJetProvider = "Microsoft.Jet.OLEDB.4.0";
constexpr const char* kOdbcProvider = "MSDASQL.1";
constexpr const char* kSqliteDriver = "SQLite3 ODBC Driver";
constexpr HResult kProviderNotFound = static_cast<HResult>(0x800A0E7A); // 3706

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           text::EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::unique_ptr<Session> Missing(ProviderError& error, std::string description,
                                 HResult number = kProviderNotFound) {
    error = {};
    error.description = std::move(description);
    error.number = number;
    error.source = "ADODB.Connection";
    error.sqlState = "IM002";
    return nullptr;
}

bool IsRegularFile(const std::string& linuxPath) {
    struct stat info {};
    return ::stat(linuxPath.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The SQLite driver's switches are true when they begin with Y, T or a digit from 1.
bool DriverSwitch(const std::string& value) {
    return !value.empty() && std::string_view("YyTt123456789").find(value[0]) != std::string::npos;
}

std::unique_ptr<Session> OpenSqlite(const ConnectionString& odbc, const OpenRequest& request,
                                    ProviderError& error) {
    const std::string database = odbc.Get("Database");
    const std::string path = DataSourcePath(database);
    // As the driver does, a missing file is made unless NoCreat is set (or the open is for
    // reading only, which can make nothing).
    const bool readOnly = request.mode == 1;
    const bool create = !readOnly && !DriverSwitch(odbc.Get("NoCreat"));
    const auto fail = [&](const std::string& why) {
        error = {};
        error.description = "Unable to open database file: '" + database + "' " + why;
        error.source = kSqliteDriver;
        error.sqlState = "HY000";
        return nullptr;
    };
    if (path.empty())
        return fail("does not exist.");
    if (!IsRegularFile(path)) {
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0)
            return fail("is not a file.");
        if (!create)
            return fail("does not exist.");
        const std::string folder = std::filesystem::path(path).parent_path().string();
        if (::stat(folder.empty() ? "." : folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
            return fail("cannot be created: its folder does not exist.");
        if (::access(folder.empty() ? "." : folder.c_str(), W_OK | X_OK) != 0)
            return fail("cannot be created: no permission to write in its folder.");
    }
    SqliteSession::Options options;
    options.providerName = kOdbcProvider;
    options.errorSource = kSqliteDriver;
    options.readOnly = readOnly;
    // PWD is accepted and ignored: a plain SQLite file has no password.
    return SqliteSession::OpenFile(path, create, request.connectionTimeout * 1000,
                                   std::move(options), error);
}

std::unique_ptr<Session> OpenJet(const ConnectionString& cs, const OpenRequest& request,
                                 ProviderError& error);

// A failure names what the connection string asked for and what served it here, since the
// driver's own message speaks only of the latter.
std::unique_ptr<Session> Served(std::unique_ptr<Session> session, ProviderError& error,
                                const std::string& requested, const std::string& servedBy) {
    if (!session && !requested.empty())
        error.description += " (" + requested + " is served here by " + servedBy + ")";
    return session;
}

std::unique_ptr<Session> OpenOdbcDriver(const OdbcTarget& target, const OpenRequest& request,
                                        ProviderError& error, const std::string& requested) {
    OdbcSession::Options options;
    options.providerName = kOdbcProvider;
    options.gbk = target.gbk;
    options.readOnly = request.mode == 1;
    options.loginTimeout = request.connectionTimeout;
    const std::string installed = ConnectionString(target.connectionString).Get("Driver");
    return Served(OdbcSession::Open(target.connectionString, std::move(options), error), error,
                  requested == installed ? std::string() : requested, "the driver " + installed);
}

std::unique_ptr<Session> OpenOdbc(const ConnectionString& odbc, const OpenRequest& request,
                                  ProviderError& error) {
    const OdbcTarget target = MapOdbcDriver(odbc);
    switch (target.route) {
    case OdbcTarget::Route::NativeSqlite:
        return OpenSqlite(odbc, request, error);
    case OdbcTarget::Route::TextFolder: {
        const std::string folder = odbc.Get("DBQ");
        return OpenTextFolder(DataSourcePath(folder), !text::EqualsNoCase(odbc.Get("HDR"), "No"),
                              folder, error);
    }
    case OdbcTarget::Route::AccessFile:
        return Served(OpenJet(ConnectionString(target.connectionString), request, error), error,
                      odbc.Get("Driver"), "the Access reader");
    case OdbcTarget::Route::Odbc:
        return OpenOdbcDriver(target, request, error, odbc.Get("Driver"));
    case OdbcTarget::Route::Missing:
        break;
    }
    return Missing(error, target.error, static_cast<HResult>(0x80004005));
}

std::unique_ptr<Session> OpenJet(const ConnectionString& cs, const OpenRequest& request,
                                 ProviderError& error) {
    const std::string properties = cs.Get("Extended Properties");
    if (!properties.empty()) {
        const ConnectionString isam(properties);
        if (!isam.Pieces().empty() && text::EqualsNoCase(isam.Pieces().front().first, "text")) {
            const std::string folder = cs.Get("Data Source");
            (void)request;
            return OpenTextFolder(DataSourcePath(folder),
                                  !text::EqualsNoCase(isam.Get("HDR"), "No"), folder, error);
        }
    }
    if (!properties.empty())
        return Missing(error,
                       "Could not find installable ISAM: the " +
                           ConnectionString(properties).Pieces().front().first +
                           " driver of the Jet provider is not installed on this machine.",
                       static_cast<HResult>(0x80004005));
    const std::string source = cs.Get("Data Source");
    const std::string path = DataSourcePath(source);
    error = {};
    error.source = "Microsoft JET Database Engine";
    if (path.empty() || !IsRegularFile(path)) {
        error.description = "Could not find file '" + source + "'.";
        return nullptr;
    }
#ifdef VM_HAVE_JET
    sqlite3* db = nullptr;
    // The copy belongs to this one session, which is used from one thread at a time: no
    // per-call locking.
    if (sqlite3_open_v2(":memory:", &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        sqlite3_close_v2(db);
        error.description = "Out of memory while opening '" + source + "'.";
        return nullptr;
    }
    const jet::JetOpenResult result =
        jet::MaterialiseMdb(path, cs.Get("Jet OLEDB:Database Password"), db);
    if (!result.ok) {
        sqlite3_close_v2(db);
        error.description = Utf8ToGbkFast(result.error);
        return nullptr;
    }
    // The catalogue of objects that Access keeps, for the listings that query it: every user
    // table as type 1 with no flags, and itself as the system table it is.
    sqlite3_exec(db,
                 "CREATE TABLE MSysObjects (Name TEXT, Type INTEGER, Flags INTEGER);"
                 "INSERT INTO MSysObjects SELECT name, 1, 0 FROM sqlite_master WHERE "
                 "type = 'table' AND name <> 'MSysObjects';"
                 "INSERT INTO MSysObjects VALUES ('MSysObjects', 1, -2147483648);",
                 nullptr, nullptr, nullptr);
    // The copy is for reading: the provider never writes the .mdb.
    sqlite3_exec(db, "PRAGMA query_only = 1", nullptr, nullptr, nullptr);
    SqliteSession::Options options;
    options.providerName = kJetProvider;
    options.errorSource = error.source;
    options.encoding = SqliteSession::Encoding::Gbk;
    options.accessSql = true;
    options.readOnly = true;
    options.readOnlyMessage = "Cannot update. Database or object is read-only: the Access "
                              "provider does not write .mdb files.";
    (void)request;
    return SqliteSession::Adopt(db, std::move(options));
#else
    (void)request;
    return Missing(error, std::string("Provider cannot be found. It may not be properly installed. "
                                      "(") +
                              kJetProvider + ": the Access reader is not part of this build)");
#endif
}

} // namespace

std::string DataSourcePath(std::string_view path) {
    return fs::ToLinuxPath(path);
}

std::unique_ptr<Session> OpenSession(const OpenRequest& request, std::string& providerName,
                                     ProviderError& error) {
    const ConnectionString cs(request.connectionString);
    const std::string provider = cs.Get("Provider");
    providerName = provider.empty() ? kOdbcProvider : provider;
    if (provider.empty()) {
        // No provider: ADO's default, the ODBC bridge, with the string as ODBC attributes.
        return OpenOdbc(cs, request, error);
    }
    if (text::EqualsNoCase(provider, "MSDASQL") || text::EqualsNoCase(provider, kOdbcProvider)) {
        ConnectionString odbc(cs.Get("Extended Properties"));
        odbc.Merge(cs);
        return OpenOdbc(odbc, request, error);
    }
    if (text::EqualsNoCase(provider, kJetProvider))
        return OpenJet(cs, request, error);
    // SQL Server's OLE DB provider: the FreeTDS ODBC driver serves the same servers.
    if (text::EqualsNoCase(provider, "sqloledb") || StartsWithNoCase(provider, "sqloledb."))
        return OpenOdbcDriver(MapSqlServerOledb(cs), request, error, provider);
    if (StartsWithNoCase(provider, "MSPersist"))
        return Missing(error, "The MSPersist provider serves persisted recordsets only: open the "
                              "file with Recordset.Open.");
    return Missing(error, "Provider cannot be found. It may not be properly installed. (" +
                              provider + " is not installed on this machine)");
}

} // namespace vm::ado
