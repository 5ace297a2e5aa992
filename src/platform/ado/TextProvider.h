#pragma once
// Delimited text files as a data source, and "Select ... Into [Text;...].file" exports.
//
// A text source is a folder: every .txt, .csv, .tab and .asc file in it is a table named by its
// file name ("select * from [goods.csv]"). Its Schema.ini section (ColNameHeader, Format,
// CharacterSet, Col1..n as "name Type [Width n]") describes it; without one the file is
// comma-delimited, its header row follows HDR of the connection string, and its columns are
// texts named F1..Fn. The files are read into an in-memory copy when the source opens and the
// source is read-only: exports write new files beside it instead.

#include "platform/ado/Provider.h"

#include <memory>
#include <string>
#include <string_view>

namespace vm::ado {

// Opens the folder (a Linux path). `header` is the connection string's HDR default.
std::unique_ptr<Session> OpenTextFolder(const std::string& linuxFolder, bool header,
                                        const std::string& displayName, ProviderError& error);

// "Select COLUMNS Into [ISAM;KEY=VALUE;...;].NAME From REST" split into its parts. `select` is
// the statement that yields the rows: "Select COLUMNS From REST".
struct ExportStatement {
    std::string isam;     // "Text", "Excel 8.0", ...
    std::string database; // Database= (a folder for Text, a workbook for Excel)
    bool header = true;   // HDR=
    std::string name;     // the new file (Text) or sheet (Excel)
    std::string select;
};

// True when `sql` (GBK) is such an export; a plain SELECT ... INTO a table is not.
bool ParseExportStatement(std::string_view sql, ExportStatement& out);

// Writes `rows` as a new delimited file (GBK, comma-separated, texts quoted). An existing file
// is never replaced, the file appears whole or not at all, and only the Text form is served.
bool WriteExport(const ExportStatement& target, const StatementResult& rows, std::int64_t& written,
                 ProviderError& error);

} // namespace vm::ado
