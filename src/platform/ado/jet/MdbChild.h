#pragma once
// The reading side: opens an .mdb with libmdb and sends every user table down `fd` as
// RowStream frames. Runs in the child process MaterialiseMdb forks; the fuzz target also calls
// it in-process to find what libmdb does with damaged files.

#include <string>

namespace vm::ado::jet {

// Returns 0 after a Done frame, non-zero after an Error frame or when `fd` failed.
int SendMdbTables(const std::string& path, int fd);

} // namespace vm::ado::jet
