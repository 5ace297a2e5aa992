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

void InsertedColumns(const RowChange& change, const std::string& table, const QuoteName& quote,
                     std::string& names, std::string& marks, std::vector<Variant>& parameters) {
    const auto& columns = *change.columns;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (!(*change.set)[i] || columns[i].baseTable != table)
            continue;
        names += (names.empty() ? "" : ", ") + quote(columns[i].baseColumn);
        marks += marks.empty() ? "?" : ", ?";
        parameters.push_back((*change.current)[i]);
    }
}

std::string Assignments(const RowChange& change, const QuoteName& quote,
                        std::vector<Variant>& parameters) {
    const auto& columns = *change.columns;
    std::string assignments;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (!(*change.set)[i])
            continue;
        assignments += (assignments.empty() ? "" : ", ") + quote(columns[i].baseColumn) + " = ?";
        parameters.push_back((*change.current)[i]);
    }
    return assignments;
}

std::string TableColumns(const RowChange& change, const std::string& table, const QuoteName& quote,
                         std::vector<std::size_t>& positions) {
    const auto& columns = *change.columns;
    std::string list;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (columns[i].baseTable != table)
            continue;
        list += (list.empty() ? "" : ", ") + quote(columns[i].baseColumn);
        positions.push_back(i);
    }
    return list;
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
