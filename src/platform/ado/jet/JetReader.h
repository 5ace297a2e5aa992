#pragma once
// The jet provider's reader: copies every user table of an Access database (.mdb, Jet 3 or
// Jet 4) into a SQLite database, after checking the database password. The file is never
// written. libmdb does the reading in a short-lived child process, so a damaged or hostile
// file that crashes or hangs it becomes an open failure instead of taking the program down.
//
// In `target` every table keeps its name and columns; names and texts are GBK. Declared
// types: INTEGER (Boolean, Byte, Integer, Long), REAL (Single, Double), CURRENCY (a REAL),
// DATETIME (text "YYYY-MM-DD HH:MM:SS"), TEXT (Text, Memo), BLOB (Binary, OLE), DECIMAL
// and GUID (text). No index is built.

#include <string>

struct sqlite3;

namespace vm::ado::jet {

struct JetOpenResult {
    bool ok = false;
    std::string error; // UTF-8
};

// `passwordGbk` is compared exactly with the file's database password ("" for none).
// Everything is created in one transaction; on failure `target` is left as it was.
JetOpenResult MaterialiseMdb(const std::string& linuxPath, const std::string& passwordGbk,
                             sqlite3* target);

// The reading process is started from a small program of its own, "vellumark-jet-reader", when
// it sits beside the running executable, and otherwise from the running executable itself. In a
// process started that way this reads the file, writes the tables to the parent and exits; in
// any other it returns at once. Every program that links the reader calls it before main().
void ServeAsReaderIfStarted();

// The file name of the reader's own program.
inline constexpr const char* kReaderProgram = "vellumark-jet-reader";

} // namespace vm::ado::jet
