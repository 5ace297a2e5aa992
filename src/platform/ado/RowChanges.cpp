#include "platform/ado/RowChanges.h"

#include "platform/ado/Ado.h"

namespace vm::ado {

bool BaseTableOf(const RowChange& change, std::string& table) {
    table.clear();
    const auto& columns = *change.columns;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const bool relevant = change.set ? (*change.set)[i] : !columns[i].baseTable.empty();
        if (!relevant)
            continue;
        if (columns[i].baseTable.empty() || (!table.empty() && table != columns[i].baseTable)) {
            if (change.set)
                return false;
            continue;
        }
        table = columns[i].baseTable;
    }
    if (table.empty())
        for (const ColumnInfo& column : columns)
            if (!column.baseTable.empty()) {
                table = column.baseTable;
                break;
            }
    return !table.empty();
}

std::vector<ColumnInfo> TablesSchemaColumns() {
    std::vector<ColumnInfo> columns;
    for (const char* name :
         {"TABLE_CATALOG", "TABLE_SCHEMA", "TABLE_NAME", "TABLE_TYPE", "TABLE_GUID", "DESCRIPTION",
          "TABLE_PROPID", "DATE_CREATED", "DATE_MODIFIED"}) {
        ColumnInfo column;
        column.name = name;
        column.type = adVarWChar;
        column.definedSize = 128;
        column.attributes = adFldIsNullable | adFldMayBeNull;
        columns.push_back(column);
    }
    return columns;
}

} // namespace vm::ado
