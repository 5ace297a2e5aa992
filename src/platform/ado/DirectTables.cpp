#include "platform/ado/DirectTables.h"

#include "platform/ado/ConnectionString.h"
#include "platform/ado/FastText.h"
#include "platform/ado/Provider.h"
#include "platform/text/Gbk.h"

#include <algorithm>
#include <sys/stat.h>
#include <vector>

#ifdef VM_HAVE_JET
#include "platform/ado/jet/JetReader.h"

#include <sqlite3.h>
#endif

namespace vm::ado {
namespace {

constexpr std::string_view kJetProvider = "Microsoft.Jet.OLEDB.4.0";

#ifdef VM_HAVE_JET
// SQLite's own comparison of names (tables, and columns, which it keeps unique by it).
bool SameName(std::string_view a, std::string_view b) {
    return text::EqualsFoldingEveryByte(a, b);
}

// Whether a column of the reader's declared type (Access's type names) reads as the kind asked:
// its whole-number columns as integers, its text and memo columns as texts (GBK, as the provider
// keeps them). Yes/No is left to the connection, which reads it as a logical value.
bool DeclaredServes(DirectKind kind, std::string_view declared) {
    if (kind == DirectKind::Integer)
        return declared == "INTEGER" || declared == "SMALLINT" || declared == "BYTE" ||
               declared == "COUNTER";
    return declared == "TEXT" || declared == "LONGTEXT" ||
           (declared.starts_with("TEXT(") && declared.ends_with(")"));
}

// Routes the rows of the tables asked for to their takers, each value to its column.
class Tap : public jet::RowTap {
public:
    explicit Tap(std::span<const DirectRequest> requests, std::size_t fileSize)
        : requests_(requests), fileSize_(fileSize) {}

    bool TakeTable(std::string_view name, std::span<const jet::TapColumn> columns,
                   std::uint32_t rows) override {
        current_ = nullptr;
        for (const DirectRequest& request : requests_)
            if (SameName(request.table, name))
                current_ = &request;
        if (current_ == nullptr)
            return false;
        positions_.assign(current_->columns.size(), -1);
        for (std::size_t i = 0; i < current_->columns.size(); ++i) {
            const DirectColumn& wanted = current_->columns[i];
            for (std::size_t c = 0; c < columns.size(); ++c) {
                if (!SameName(wanted.name, columns[c].name))
                    continue;
                if (!DeclaredServes(wanted.kind, columns[c].declared))
                    notServed_ = true;
                positions_[i] = static_cast<int>(c);
                break;
            }
        }
        values_.assign(current_->columns.size(), DirectValue{});
        // A row takes more than 16 bytes of the file: a count beyond that is damage.
        current_->rows->Expect(std::min<std::size_t>(rows, fileSize_ / 16));
        return true;
    }

    bool TakeRow(std::span<const jet::TapCell> cells) override {
        if (notServed_)
            return false;
        for (std::size_t i = 0; i < values_.size(); ++i) {
            DirectValue& v = values_[i];
            v = DirectValue{};
            if (positions_[i] < 0 || static_cast<std::size_t>(positions_[i]) >= cells.size())
                continue;
            const jet::TapCell& cell = cells[static_cast<std::size_t>(positions_[i])];
            const DirectKind kind = current_->columns[i].kind;
            if (cell.kind == jet::TapCell::Null)
                continue;
            if (kind == DirectKind::Integer && cell.kind == jet::TapCell::Integer) {
                v.null = false;
                v.integer = cell.integer;
            } else if (kind == DirectKind::Text && cell.kind == jet::TapCell::Text) {
                v.null = false;
                v.text = cell.bytes;
            } else {
                notServed_ = true;
                return false;
            }
        }
        current_->rows->TakeRow(values_);
        return true;
    }

    bool notServed() const { return notServed_; }

private:
    std::span<const DirectRequest> requests_;
    std::size_t fileSize_;
    const DirectRequest* current_ = nullptr;
    std::vector<int> positions_;
    std::vector<DirectValue> values_;
    bool notServed_ = false;
};

// The file's size, or -1 when it is no regular file.
long long RegularFileSize(const std::string& linuxPath) {
    struct stat info {};
    if (::stat(linuxPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return -1;
    return static_cast<long long>(info.st_size);
}
#endif

} // namespace

DirectResult ReadAccessTables(std::string_view connectionString,
                              std::span<const DirectRequest> requests, std::string& error) {
    const ConnectionString cs(connectionString);
    if (!text::EqualsNoCase(cs.Get("Provider"), kJetProvider) ||
        !cs.Get("Extended Properties").empty())
        return DirectResult::NotServed;
#ifdef VM_HAVE_JET
    // What the connection's open checks, in its order and with its texts.
    const std::string source = cs.Get("Data Source");
    const std::string path = DataSourcePath(source);
    const long long size = path.empty() ? -1 : RegularFileSize(path);
    if (size < 0) {
        error = "Could not find file '" + source + "'.";
        return DirectResult::NotOpened;
    }
    // The definitions of every table, and the rows of those not asked for, go where the
    // connection would keep them, so that the file fails to open exactly where it would.
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(":memory:", &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        sqlite3_close_v2(db);
        error = "Out of memory while opening '" + source + "'.";
        return DirectResult::NotOpened;
    }
    Tap tap(requests, static_cast<std::size_t>(size));
    const jet::JetOpenResult result =
        jet::MaterialiseMdb(path, cs.Get("Jet OLEDB:Database Password"), db, &tap);
    sqlite3_close_v2(db);
    if (tap.notServed())
        return DirectResult::NotServed;
    if (!result.ok) {
        error = Utf8ToGbkFast(result.error);
        return DirectResult::NotOpened;
    }
    return DirectResult::Read;
#else
    (void)requests;
    (void)error;
    return DirectResult::NotServed;
#endif
}

} // namespace vm::ado
