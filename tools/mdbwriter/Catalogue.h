#pragma once
// A generated catalogue: the tables Tree and List with the columns the program reads, filled
// with deterministic rows (Chinese names, NULLs, short and long memos) for tests, benchmarks
// and the demo.

#include "mdbwriter/MdbWriter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vm::mdbwriter {

struct CatalogueShape {
    int categories = 50;
    int resources = 1000;
    std::uint32_t seed = 1;
    std::string password = "kq7.vm3rxp.tz";
    double creationDate = 0; // 0 takes the current time
};

std::vector<Column> TreeColumns();
std::vector<Column> ListColumns();

// The rows WriteCatalogue writes, for tests that compare what a reader returns.
std::vector<Row> TreeRows(const CatalogueShape& shape);
std::vector<Row> ListRows(const CatalogueShape& shape);

bool WriteCatalogue(const std::string& path, const CatalogueShape& shape, std::string* error);

} // namespace vm::mdbwriter
