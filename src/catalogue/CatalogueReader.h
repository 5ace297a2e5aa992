#pragma once
// Reading the tables List and Tree into memory, once per opening of the catalogue.

#include "catalogue/Records.h"
#include "db/DbRecordset.h"

#include <cstdint>
#include <memory>
#include <string>

namespace vm::catalogue {

// How the catalogue reads a value: a number truncated toward zero to 32 bits, a text as
// text; NULL (or a missing field) as 0 or "".
std::int32_t ReadInteger(const automation::Variant& value);
std::string ReadText(const automation::Variant& value);
// The same, taking the text over from a value that is not needed any more.
std::string ReadText(automation::Variant&& value);

// Every row of both tables, from the first; a closed table gives no rows. Column positions
// are looked up once per table, not once per value.
CatalogueTables ReadTables(db::DbRecordset& listTable, db::DbRecordset& treeTable);

enum class DirectOpen { Read, Failed, NotServed };

// The same rows read straight from the Access file that the connection string `openAccess`
// builds for `path` and `password` would open, and with the same outcome: Failed where that
// open fails. NotServed when the file has to be read through the connection after all (a
// column of another type than the catalogue's own). `data` is set only when Read.
DirectOpen ReadCatalogueDirect(const std::string& path, const std::string& password,
                               std::shared_ptr<const CatalogueData>& data);

} // namespace vm::catalogue
