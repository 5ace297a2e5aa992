#pragma once
// Pieces every session needs to write the rows of an updatable recordset and to answer the
// tables schema: which base table a change writes, and the columns of OpenSchema(20).

#include "platform/ado/Provider.h"

#include <string>
#include <vector>

namespace vm::ado {

// The one base table a change writes: the table of the columns it sets (or, for an edit or
// delete, of the columns read from a table). False when the set columns come from several
// tables or from expressions, or when no column has a base table.
bool BaseTableOf(const RowChange& change, std::string& table);

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
