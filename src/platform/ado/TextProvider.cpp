#include "platform/ado/TextProvider.h"

#include "platform/ado/SqliteSession.h"
#include "platform/fs/File.h"
#include "platform/text/Codepage.h"
#include "platform/text/Gbk.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace vm::ado {
namespace {

constexpr const char* kTextSource = "Microsoft JET Database Engine";

struct Column {
    std::string name; // GBK
    std::string sqlType = "TEXT";
};

struct FileSchema {
    bool header = false;
    char delimiter = ',';
    std::string characterSet = "ANSI";
    std::vector<Column> columns;
};

std::string ReadAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Schema.ini: sections named by file name (ASCII case ignored), each a list of key=value.
using Ini = std::map<std::string, std::map<std::string, std::string>>;

Ini ReadIni(const std::string& bytes) {
    Ini ini;
    std::string section;
    std::istringstream lines(bytes);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        line = text::Trim(line);
        if (line.empty() || line[0] == ';')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            section = text::ToLowerAscii(line.substr(1, line.size() - 2));
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos)
            ini[section][text::ToLowerAscii(text::Trim(line.substr(0, eq)))] =
                text::Trim(line.substr(eq + 1));
    }
    return ini;
}

std::string SqlTypeOf(const std::string& type) {
    const std::string t = text::ToLowerAscii(type);
    if (t == "integer" || t == "short" || t == "long" || t == "byte" || t == "bit")
        return "INTEGER";
    if (t == "float" || t == "double" || t == "single" || t == "currency")
        return "REAL";
    return "TEXT";
}

FileSchema SchemaOf(const Ini& ini, const std::string& fileNameGbk, bool headerDefault) {
    FileSchema schema;
    schema.header = headerDefault;
    const auto found = ini.find(text::ToLowerAscii(fileNameGbk));
    if (found == ini.end())
        return schema;
    const auto& keys = found->second;
    const auto get = [&](const char* key) {
        const auto at = keys.find(key);
        return at == keys.end() ? std::string() : at->second;
    };
    if (const std::string header = get("colnameheader"); !header.empty())
        schema.header = text::EqualsNoCase(header, "True");
    const std::string format = get("format");
    if (text::EqualsNoCase(format, "TabDelimited"))
        schema.delimiter = '\t';
    else if (format.size() == 12 && text::EqualsNoCase(format.substr(0, 10), "Delimited(") &&
             format.back() == ')')
        schema.delimiter = format[10];
    if (const std::string set = get("characterset"); !set.empty())
        schema.characterSet = set;
    for (int i = 1;; ++i) {
        const std::string value = get(("col" + std::to_string(i)).c_str());
        if (value.empty())
            break;
        Column column;
        const std::vector<std::string> words = text::Split(value, " ");
        column.name = words[0];
        if (words.size() > 1)
            column.sqlType = SqlTypeOf(words[1]);
        schema.columns.push_back(column);
    }
    return schema;
}

std::string ToGbk(const std::string& bytes, const std::string& characterSet) {
    const std::string set = text::ToLowerAscii(characterSet);
    std::string data = bytes;
    if (set == "utf-8" || set == "65001") {
        if (data.rfind("\xEF\xBB\xBF", 0) == 0)
            data.erase(0, 3);
        return text::Utf8ToGbk(data);
    }
    if (set == "unicode" || set == "1200") {
        if (data.rfind("\xFF\xFE", 0) == 0)
            data.erase(0, 2);
        std::u16string wide(data.size() / 2, u'\0');
        for (std::size_t i = 0; i < wide.size(); ++i)
            wide[i] = static_cast<char16_t>(static_cast<unsigned char>(data[2 * i]) |
                                            static_cast<unsigned char>(data[2 * i + 1]) << 8);
        return text::Utf16ToGbk(wide);
    }
    return data; // ANSI and OEM are the GBK code page here
}

// Splits delimited text into records: quotes enclose delimiters and line breaks, "" is a quote.
// Walks GBK characters whole so a trail byte is never taken for a delimiter.
std::vector<std::vector<std::string>> ParseRecords(const std::string& data, char delimiter) {
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> record;
    std::string field;
    bool quoted = false;
    bool any = false;
    for (std::size_t i = 0; i < data.size();) {
        const std::size_t length = text::CharLengthAt(data, i);
        const char c = data[i];
        if (length > 1) {
            field.append(data, i, length);
            any = true;
        } else if (quoted) {
            if (c == '"' && i + 1 < data.size() && data[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
            any = true;
        } else if (c == delimiter) {
            record.push_back(std::move(field));
            field.clear();
            any = true;
        } else if (c == '\n' || c == '\r') {
            if (any || !field.empty()) {
                record.push_back(std::move(field));
                records.push_back(std::move(record));
            }
            field.clear();
            record.clear();
            any = false;
        } else {
            field += c;
            any = true;
        }
        i += length;
    }
    if (any || !field.empty()) {
        record.push_back(std::move(field));
        records.push_back(std::move(record));
    }
    return records;
}

std::string Quoted(const std::string& name) {
    return "\"" + text::ReplaceAll(name, "\"", "\"\"") + "\"";
}

bool LoadFile(sqlite3* db, const std::filesystem::path& file, const std::string& tableGbk,
              const FileSchema& schema, std::string& failure) {
    auto records = ParseRecords(ToGbk(ReadAll(file), schema.characterSet), schema.delimiter);
    std::vector<Column> columns = schema.columns;
    std::size_t first = 0;
    if (schema.header && !records.empty()) {
        for (std::size_t i = columns.size(); i < records[0].size(); ++i)
            columns.push_back({records[0][i], "TEXT"});
        if (schema.columns.empty())
            for (std::size_t i = 0; i < records[0].size(); ++i)
                columns[i].name =
                    records[0][i].empty() ? "F" + std::to_string(i + 1) : records[0][i];
        first = 1;
    }
    std::size_t width = columns.size();
    for (std::size_t r = first; r < records.size(); ++r)
        width = std::max(width, records[r].size());
    for (std::size_t i = columns.size(); i < width; ++i)
        columns.push_back({"F" + std::to_string(i + 1), "TEXT"});
    if (columns.empty())
        columns.push_back({"F1", "TEXT"});
    // A header may repeat or omit names; such a column is known by its place instead, so one
    // careless file never keeps the folder from opening.
    for (std::size_t i = 0; i < columns.size(); ++i) {
        std::string& name = columns[i].name;
        name.erase(std::remove_if(name.begin(), name.end(),
                                  [](char c) { return static_cast<unsigned char>(c) < 0x20; }),
                   name.end());
        bool repeated = columns[i].name.empty();
        for (std::size_t j = 0; j < i && !repeated; ++j)
            repeated = text::EqualsNoCase(columns[j].name, columns[i].name);
        if (repeated)
            columns[i].name = "F" + std::to_string(i + 1);
    }

    std::string create = "CREATE TABLE " + Quoted(tableGbk) + " (";
    std::string insert = "INSERT INTO " + Quoted(tableGbk) + " VALUES (";
    for (std::size_t i = 0; i < columns.size(); ++i) {
        create += (i ? ", " : "") + Quoted(columns[i].name) + " " + columns[i].sqlType;
        insert += i ? ", ?" : "?";
    }
    create += ")";
    insert += ")";
    if (sqlite3_exec(db, create.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
        failure = "cannot read the columns of " + tableGbk + ": " + sqlite3_errmsg(db);
        return false;
    }
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, insert.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        failure = sqlite3_errmsg(db);
        return false;
    }
    bool ok = true;
    for (std::size_t r = first; r < records.size() && ok; ++r) {
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const int index = static_cast<int>(i + 1);
            if (i >= records[r].size() || records[r][i].empty()) {
                sqlite3_bind_null(stmt, index);
                continue;
            }
            const std::string& value = records[r][i];
            // Typed columns take what parses as their type; anything else stays text.
            char* end = nullptr;
            if (columns[i].sqlType == "INTEGER") {
                const long long number = std::strtoll(value.c_str(), &end, 10);
                if (end && *end == '\0') {
                    sqlite3_bind_int64(stmt, index, number);
                    continue;
                }
            } else if (columns[i].sqlType == "REAL") {
                const double number = std::strtod(value.c_str(), &end);
                if (end && *end == '\0') {
                    sqlite3_bind_double(stmt, index, number);
                    continue;
                }
            }
            sqlite3_bind_text(stmt, index, value.data(), static_cast<int>(value.size()),
                              SQLITE_TRANSIENT);
        }
        ok = sqlite3_step(stmt) == SQLITE_DONE;
    }
    if (!ok)
        failure = sqlite3_errmsg(db);
    sqlite3_finalize(stmt);
    return ok;
}

bool IsTextFile(const std::filesystem::path& file) {
    const std::string extension = text::ToLowerAscii(file.extension().string());
    return extension == ".txt" || extension == ".csv" || extension == ".tab" || extension == ".asc";
}

// The position of `word` (ASCII, case ignored) standing alone in `sql` from `from`, walking
// whole GBK characters; npos when absent.
std::size_t FindWord(std::string_view sql, std::string_view word, std::size_t from) {
    const auto boundary = [&](std::size_t at) {
        if (at >= sql.size())
            return true;
        const char c = sql[at];
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '[' || c == ']' ||
               c == '(' || c == ')' || c == ',';
    };
    for (std::size_t i = from; i < sql.size(); i += text::CharLengthAt(sql, i)) {
        if ((i == 0 || boundary(i - 1)) && i + word.size() <= sql.size() &&
            text::EqualsNoCase(sql.substr(i, word.size()), word) && boundary(i + word.size()))
            return i;
    }
    return std::string_view::npos;
}

std::string CsvField(const Variant& value) {
    const std::uint16_t type = value.Type();
    if (type == automation::VT_EMPTY || type == automation::VT_NULL)
        return std::string();
    std::string text;
    if (!value.ToText(text))
        return std::string();
    if (type == automation::VT_BSTR || type == automation::VT_DATE)
        return "\"" + text::ReplaceAll(text, "\"", "\"\"") + "\"";
    return text;
}

} // namespace

std::unique_ptr<Session> OpenTextFolder(const std::string& linuxFolder, bool header,
                                        const std::string& displayName, ProviderError& error) {
    error = {};
    error.source = kTextSource;
    std::error_code failed;
    if (linuxFolder.empty() || !std::filesystem::is_directory(linuxFolder, failed)) {
        error.description = "'" + displayName + "' is not a valid path.";
        return nullptr;
    }
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(":memory:", &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        sqlite3_close_v2(db);
        error.description = "Out of memory while opening '" + displayName + "'.";
        return nullptr;
    }
    const std::filesystem::path folder(linuxFolder);
    Ini ini;
    for (const auto& entry : std::filesystem::directory_iterator(folder, failed))
        if (text::EqualsNoCase(entry.path().filename().string(), "schema.ini"))
            ini = ReadIni(ReadAll(entry.path()));
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (const auto& entry : std::filesystem::directory_iterator(folder, failed)) {
        if (!entry.is_regular_file(failed) || !IsTextFile(entry.path()))
            continue;
        const std::string table = text::Utf8ToGbk(entry.path().filename().string());
        std::string failure;
        if (!LoadFile(db, entry.path(), table, SchemaOf(ini, table, header), failure)) {
            sqlite3_close_v2(db);
            error.description = failure;
            return nullptr;
        }
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "PRAGMA query_only = 1", nullptr, nullptr, nullptr);
    SqliteSession::Options options;
    options.accessSql = true;
    options.providerName = "Microsoft.Jet.OLEDB.4.0";
    options.errorSource = kTextSource;
    options.encoding = SqliteSession::Encoding::Gbk;
    options.readOnly = true;
    options.readOnlyMessage = "Updating data in a linked table is not supported by this ISAM: "
                              "text files are read only here; export with Select ... Into.";
    return SqliteSession::Adopt(db, std::move(options));
}

bool ParseExportStatement(std::string_view sql, ExportStatement& out) {
    const std::size_t select = FindWord(sql, "select", 0);
    if (select == std::string_view::npos || !text::Trim(sql.substr(0, select)).empty())
        return false;
    const std::size_t into = FindWord(sql, "into", select + 6);
    if (into == std::string_view::npos)
        return false;
    std::size_t at = into + 4;
    while (at < sql.size() && (sql[at] == ' ' || sql[at] == '\t'))
        ++at;
    if (at >= sql.size() || sql[at] != '[')
        return false;
    // The bracket holds "ISAM;KEY=VALUE;...;" and is followed by ".name".
    std::size_t close = std::string_view::npos;
    for (std::size_t i = at; i < sql.size(); i += text::CharLengthAt(sql, i))
        if (sql[i] == ']') {
            close = i;
            break;
        }
    if (close == std::string_view::npos || close + 1 >= sql.size() || sql[close + 1] != '.')
        return false;
    const std::vector<std::string> pieces = text::Split(sql.substr(at + 1, close - at - 1), ";");
    if (pieces.empty() || pieces[0].find('=') != std::string::npos)
        return false;
    ExportStatement parsed;
    parsed.isam = text::Trim(pieces[0]);
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::size_t eq = pieces[i].find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = text::Trim(pieces[i].substr(0, eq));
        const std::string value = text::Trim(pieces[i].substr(eq + 1));
        if (text::EqualsNoCase(key, "Database"))
            parsed.database = value;
        else if (text::EqualsNoCase(key, "HDR"))
            parsed.header = text::EqualsNoCase(value, "YES") || text::EqualsNoCase(value, "TRUE");
    }
    const std::size_t from = FindWord(sql, "from", close + 2);
    if (from == std::string_view::npos)
        return false;
    std::string name = text::Trim(sql.substr(close + 2, from - close - 2));
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    if (name.empty())
        return false;
    parsed.name = name;
    parsed.select = "Select " + text::Trim(sql.substr(select + 6, into - select - 6)) + " " +
                    std::string(sql.substr(from));
    out = std::move(parsed);
    return true;
}

bool WriteExport(const ExportStatement& target, const StatementResult& rows, std::int64_t& written,
                 ProviderError& error) {
    written = -1;
    error = {};
    error.source = kTextSource;
    if (!text::EqualsNoCase(target.isam, "Text")) {
        error.description = "Could not find installable ISAM: there is no " + target.isam +
                            " engine on this machine; export to a .txt or .csv file instead.";
        return false;
    }
    // The name is a file of the folder, never a path leading elsewhere.
    if (target.name.find('\\') != std::string::npos || target.name.find('/') != std::string::npos ||
        target.name == "." || target.name == "..") {
        error.description = "'" + target.name + "' is not a valid name.";
        return false;
    }
    std::string folder = target.database;
    if (!folder.empty() && folder.back() != '\\' && folder.back() != '/')
        folder += '\\';
    const std::string path = folder + target.name;
    if (!fs::IsFolder(folder)) {
        error.description = "'" + target.database + "' is not a valid path.";
        return false;
    }
    if (fs::Exists(path)) {
        error.description = "Table '" + target.name + "' already exists.";
        return false;
    }
    std::string bytes;
    if (target.header) {
        for (std::size_t i = 0; i < rows.columns.size(); ++i)
            bytes += (i ? "," : "") + std::string("\"") +
                     text::ReplaceAll(rows.columns[i].name, "\"", "\"\"") + "\"";
        bytes += "\r\n";
    }
    for (const Row& row : rows.rows) {
        for (std::size_t i = 0; i < row.size(); ++i)
            bytes += (i ? "," : "") + CsvField(row[i]);
        bytes += "\r\n";
    }
    if (!fs::WriteFileAtomic(path, bytes)) {
        error.description = "Cannot write '" + path + "'.";
        return false;
    }
    written = static_cast<std::int64_t>(rows.rows.size());
    return true;
}

} // namespace vm::ado
