#pragma once
// Pieces every session needs to write the rows of an updatable recordset and to answer the
// tables schema: which base table a change writes, and the columns of OpenSchema(20).

#include "platform/ado/Provider.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vm::ado {

// The one base table a change writes: the table of the columns it sets (or, for an edit or
// delete, of the columns read from a table). False when the set columns come from several
// tables or from expressions, or when no column has a base table.
bool BaseTableOf(const RowChange& change, std::string& table);

// Pieces of the statements that write a change, with names quoted the session's way.
using QuoteName = std::function<std::string(std::string_view)>;
// "a, b" and "?, ?" for the columns of `table` a new row was given; their values are appended
// to `parameters`.
void InsertedColumns(const RowChange& change, const std::string& table, const QuoteName& quote,
                     std::string& names, std::string& marks, std::vector<Variant>& parameters);
// "a = ?, b = ?" for the columns an edit changed; their values are appended to `parameters`.
std::string Assignments(const RowChange& change, const QuoteName& quote,
                        std::vector<Variant>& parameters);
// "a, b" for every column read from `table`, and where each stands in the row.
std::string TableColumns(const RowChange& change, const std::string& table, const QuoteName& quote,
                         std::vector<std::size_t>& positions);

// TABLE_CATALOG, TABLE_SCHEMA, TABLE_NAME, TABLE_TYPE, TABLE_GUID, DESCRIPTION, TABLE_PROPID,
// DATE_CREATED, DATE_MODIFIED: nullable texts, in this order.
std::vector<ColumnInfo> TablesSchemaColumns();

enum TablesSchemaColumn {
    kSchemaCatalog = 0,
    kSchemaSchema = 1,
    kSchemaTableName = 2,
    kSchemaTableType = 3,
    kSchemaDescription = 5,
};

} // namespace vm::ado
