#include "platform/ado/jet/MdbChild.h"

#include "platform/ado/jet/GbkTable.h"
#include "platform/ado/jet/RowStream.h"

// libmdb's header needs glib's types first.
#include <glib.h>

#include <mdbtools.h>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vm::ado::jet {
namespace {

constexpr std::size_t kFlushAt = 1 << 16;

class Sender {
public:
    explicit Sender(int fd) : fd_(fd) {}
    ~Sender() { flush(); }
    Sender(const Sender&) = delete;
    Sender& operator=(const Sender&) = delete;

    void send(const std::string& frame) {
        pending_ += frame;
        if (pending_.size() >= kFlushAt)
            flush();
    }
    bool flush() {
        std::size_t done = 0;
        while (ok_ && done < pending_.size()) {
            const ssize_t n = ::write(fd_, pending_.data() + done, pending_.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                ok_ = false;
            else
                done += static_cast<std::size_t>(n);
        }
        pending_.clear();
        return ok_;
    }
    bool ok() const { return ok_; }

private:
    int fd_;
    std::string pending_;
    bool ok_ = true;
};

struct MdbCloser {
    void operator()(MdbHandle* mdb) const { mdb_close(mdb); }
};
struct TableFree {
    void operator()(MdbTableDef* table) const { mdb_free_tabledef(table); }
};

// The file mapped for reading, or nothing when it cannot be.
class MappedFile {
public:
    MappedFile(const std::string& path, std::size_t size) : size_(size) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || size == 0) {
            if (fd >= 0)
                ::close(fd);
            return;
        }
        void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        ::close(fd);
        if (data != MAP_FAILED)
            data_ = static_cast<const std::uint8_t*>(data);
    }
    ~MappedFile() {
        if (data_)
            ::munmap(const_cast<std::uint8_t*>(data_), size_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_;
};

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::string Gbk(const char* utf8) {
    std::string out;
    GbkTable::Instance().appendUtf8(utf8, out);
    return out;
}

// Access's own type names, which the provider reads back as ADO's types. Each keeps the
// SQLite affinity the copy's values need: numbers stay numbers, texts stay texts.
std::string DeclaredType(const MdbColumn& col, bool jet4) {
    switch (col.col_type) {
    case MDB_BOOL:
        return "YESNO";
    case MDB_BYTE:
        return "BYTE";
    case MDB_INT:
        return "SMALLINT";
    case MDB_LONGINT:
        return col.is_long_auto ? "COUNTER" : "INTEGER";
    case MDB_FLOAT:
        return "SINGLE";
    case MDB_DOUBLE:
        return "DOUBLE";
    case MDB_MONEY:
        return "CURRENCY";
    case MDB_DATETIME:
        return "DATETIME";
    case MDB_TEXT: // Jet 4 counts the size in bytes of UCS-2
        return "TEXT(" + std::to_string(jet4 ? col.col_size / 2 : col.col_size) + ")";
    case MDB_MEMO:
        return "LONGTEXT";
    case MDB_BINARY:
        return "BINARY(" + std::to_string(col.col_size) + ")";
    case MDB_OLE:
        return "LONGBINARY";
    case MDB_NUMERIC:
        return "DECIMAL(" + std::to_string(col.col_prec) + "," + std::to_string(col.col_scale) +
               ")";
    case MDB_REPID:
        return "GUID";
    default:
        return "TEXT";
    }
}

class TableSender {
public:
    TableSender(MdbHandle* mdb, MdbTableDef* table, Sender& out, const MappedFile& file)
        : mdb_(mdb), table_(table), out_(out), fileSize_(file.size()), file_(file),
          jet4_(mdb->f->jet_version != MDB_VER_JET3),
          fields_(std::max<std::size_t>(table->num_cols, MDB_MAX_COLS)) {}

    void sendDefinition() {
        frame_.begin(Frame::Table);
        frame_.text(Gbk(table_->name));
        frame_.u16(static_cast<std::uint16_t>(table_->num_cols));
        for (unsigned i = 0; i < table_->num_cols; ++i) {
            const auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table_->columns, i));
            frame_.text(Gbk(col->name));
            frame_.text(DeclaredType(*col, jet4_));
        }
        frame_.u32(static_cast<std::uint32_t>(table_->num_rows));
        out_.send(frame_.finish());
    }

    // Walks the data pages through the usage map as libmdb's own fetch does, but cracks each
    // row itself: bound values cannot tell a NULL from an empty text, the cracked fields can.
    // Returns false when fewer rows were readable than the table definition counts: a damaged
    // file must not open with rows quietly missing.
    bool sendRows() {
        mdb_rewind_table(table_);
        std::size_t sent = 0;
        const int pageSize = static_cast<int>(mdb_->fmt->pg_size);
        while (out_.ok() && mdb_read_next_dpg(table_)) {
            const int rows = mdb_get_int16(mdb_->pg_buf, mdb_->fmt->row_count_offset);
            for (int r = 0; r < rows && out_.ok(); ++r) {
                int start = 0;
                size_t length = 0;
                if (mdb_find_row(mdb_, r, &start, &length) != 0 || (start & 0x4000))
                    continue; // unreadable or deleted
                start &= 0x1FFF;
                if (length == 0 || start + static_cast<int>(length) > pageSize)
                    continue;
                if (mdb_crack_row(table_, start, length, fields_.data()) < 0)
                    continue;
                sendRow();
                ++sent;
            }
        }
        return sent == table_->num_rows;
    }

private:
    void sendRow() {
        frame_.begin(Frame::Row);
        for (unsigned i = 0; i < table_->num_cols; ++i)
            sendCell(*static_cast<MdbColumn*>(g_ptr_array_index(table_->columns, i)), fields_[i]);
        out_.send(frame_.finish());
    }

    void sendCell(const MdbColumn& col, const MdbField& field) {
        const auto* value = static_cast<const std::uint8_t*>(field.value);
        const std::size_t size = field.siz > 0 ? static_cast<std::size_t>(field.siz) : 0;
        if (col.col_type == MDB_BOOL) {
            integer(field.is_null ? 0 : -1); // a boolean lives in the null mask; True is -1
            return;
        }
        if (field.is_null || !value) {
            frame_.u8(static_cast<std::uint8_t>(Cell::Null));
            return;
        }
        auto need = [&](std::size_t n) { return size >= n; };
        switch (col.col_type) {
        case MDB_BYTE:
            return need(1) ? integer(value[0]) : null();
        case MDB_INT:
            return need(2) ? integer(static_cast<std::int16_t>(value[0] | value[1] << 8)) : null();
        case MDB_LONGINT:
            return need(4) ? integer(static_cast<std::int32_t>(Le32(value))) : null();
        case MDB_FLOAT:
            return need(4) ? real(mdb_get_single(field.value, 0)) : null();
        case MDB_DOUBLE:
            return need(8) ? real(mdb_get_double(field.value, 0)) : null();
        case MDB_MONEY: {
            if (!need(8))
                return null();
            const std::int64_t cents = static_cast<std::int64_t>(
                static_cast<std::uint64_t>(Le32(value + 4)) << 32 | Le32(value));
            return real(static_cast<double>(cents) / 10000.0);
        }
        case MDB_TEXT:
            if (!jet4_)
                return libmdbText(col, field);
            return text(
                [&](std::string& out) { GbkTable::Instance().appendJetText(value, size, out); });
        case MDB_MEMO: {
            if (!jet4_)
                return libmdbText(col, field);
            if (!longValue(value, size, raw_))
                return null();
            return text([&](std::string& out) {
                GbkTable::Instance().appendJetText(
                    reinterpret_cast<const std::uint8_t*>(raw_.data()), raw_.size(), out);
            });
        }
        case MDB_OLE:
            if (!longValue(value, size, raw_))
                return null();
            return blob(raw_);
        case MDB_BINARY:
            return blob(std::string(reinterpret_cast<const char*>(value), size));
        default:
            return libmdbText(col, field);
        }
    }

    void null() { frame_.u8(static_cast<std::uint8_t>(Cell::Null)); }
    void integer(std::int64_t v) {
        frame_.u8(static_cast<std::uint8_t>(Cell::Integer));
        frame_.i64(v);
    }
    void real(double v) {
        frame_.u8(static_cast<std::uint8_t>(Cell::Real));
        frame_.f64(v);
    }
    void blob(const std::string& bytes) {
        frame_.u8(static_cast<std::uint8_t>(Cell::Blob));
        frame_.text(bytes);
    }
    template <typename Fill> void text(Fill fill) {
        frame_.u8(static_cast<std::uint8_t>(Cell::Text));
        const std::size_t mark = frame_.beginText();
        fill(frame_.bytes());
        frame_.endText(mark);
    }
    // Dates, numerics, GUIDs and Jet 3 texts: libmdb's own text form (UTF-8), made GBK.
    void libmdbText(const MdbColumn& col, const MdbField& field) {
        char* s = mdb_col_to_string(mdb_, mdb_->pg_buf, field.start, col.col_type, field.siz);
        if (!s)
            return null();
        text([&](std::string& out) { GbkTable::Instance().appendUtf8(s, out); });
        g_free(s);
    }

    // A memo or OLE value: a 12-byte header (length with flags, page-row pointer), the data
    // inline, in one row of a long-value page, or in a chain of such rows.
    bool longValue(const std::uint8_t* header, std::size_t size, std::string& out) {
        out.clear();
        if (size < MDB_MEMO_OVERHEAD)
            return true; // libmdb reads this as empty too
        const std::uint32_t word = Le32(header);
        const std::size_t length = word & 0x3FFFFFFF;
        if (length > fileSize_)
            return false;
        if (word & 0x80000000) {
            out.assign(reinterpret_cast<const char*>(header) + MDB_MEMO_OVERHEAD,
                       std::min(length, size - MDB_MEMO_OVERHEAD));
            return true;
        }
        std::uint32_t pointer = Le32(header + 4);
        if (word & 0x40000000)
            return appendRow(pointer, 0, length, out);
        // A chain: every row starts with the pointer to the next; a file holds at most
        // fileSize / pageSize rows of it, which also ends a chain that loops.
        std::size_t hops = fileSize_ / static_cast<std::size_t>(mdb_->fmt->pg_size) + 1;
        while (pointer != 0 && out.size() < length && hops-- > 0) {
            std::uint32_t next = 0;
            if (!appendRow(pointer, 4, length - out.size(), out, &next))
                return false;
            pointer = next;
        }
        return out.size() == length;
    }

    // Row `pointer & 0xFF` of page `pointer >> 8`, as mdb_find_pg_row finds it. Taken from the
    // mapped file where the page is stored as it is read: libmdb would read the page with three
    // system calls and copy both page buffers twice over, once per value, which cost more than
    // the rest of the reading together.
    bool findLongValueRow(std::uint32_t pointer, const std::uint8_t*& page, int& start,
                          std::size_t& length) {
        const std::size_t pageSize = static_cast<std::size_t>(mdb_->fmt->pg_size);
        const std::size_t pg = pointer >> 8, row = pointer & 0xFF;
        // Page 0 is decoded on reading, and so is every page of an encoded file.
        if (!file_.data() || pg == 0 || mdb_->f->db_key != 0) {
            void* buffer = nullptr;
            size_t found = 0;
            if (mdb_find_pg_row(mdb_, static_cast<int>(pointer), &buffer, &start, &found) != 0)
                return false;
            page = static_cast<const std::uint8_t*>(buffer);
            length = found;
            return true;
        }
        if ((pg + 1) * pageSize > file_.size())
            return false;
        page = file_.data() + pg * pageSize;
        const std::size_t entries = mdb_->fmt->row_count_offset + 2;
        if (entries + 2 * (row + 1) > pageSize)
            return false;
        const auto entry = [&](std::size_t r) {
            return static_cast<int>(page[entries + 2 * r] | page[entries + 2 * r + 1] << 8);
        };
        start = entry(row);
        const int end = row == 0 ? static_cast<int>(pageSize) : entry(row - 1) & 0x1FFF;
        if (end < (start & 0x1FFF))
            return false;
        length = static_cast<std::size_t>(end - (start & 0x1FFF));
        return true;
    }

    bool appendRow(std::uint32_t pointer, std::size_t skip, std::size_t most, std::string& out,
                   std::uint32_t* next = nullptr) {
        const std::uint8_t* buffer = nullptr;
        int start = 0;
        std::size_t length = 0;
        if (!findLongValueRow(pointer, buffer, start, length))
            return false;
        start &= 0x1FFF;
        if (start < 0 || start + length > static_cast<std::size_t>(mdb_->fmt->pg_size) ||
            length < skip)
            return false;
        const std::uint8_t* row = buffer + start;
        if (next)
            *next = Le32(row);
        out.append(reinterpret_cast<const char*>(row) + skip, std::min(length - skip, most));
        return true;
    }

    MdbHandle* mdb_;
    MdbTableDef* table_;
    Sender& out_;
    std::size_t fileSize_;
    const MappedFile& file_;
    bool jet4_;
    std::vector<MdbField> fields_;
    FrameBuilder frame_;
    std::string raw_;
};

int Fail(Sender& out, const std::string& message) {
    FrameBuilder frame;
    frame.begin(Frame::Error);
    frame.text(message);
    out.send(frame.finish());
    out.flush();
    return 1;
}

} // namespace

int SendMdbTables(const std::string& path, int fd) {
    Sender out(fd);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return Fail(out, "Could not find file '" + path + "'.");
    std::unique_ptr<MdbHandle, MdbCloser> mdb(mdb_open(path.c_str(), MDB_NOFLAGS));
    if (!mdb)
        return Fail(out, "Unrecognized database format '" + path + "'.");
    mdb_set_date_fmt(mdb.get(), "%Y-%m-%d %H:%M:%S");
    // The whole catalog, so that its size can be held against MSysObjects' row count.
    if (!mdb_read_catalog(mdb.get(), MDB_ANY) || mdb_read_pg(mdb.get(), 2) <= 0 ||
        mdb->num_catalog !=
            static_cast<unsigned long>(mdb_get_int32(mdb->pg_buf, mdb->fmt->tab_num_rows_offset)))
        return Fail(out, "Unrecognized database format '" + path + "': the catalog is damaged.");
    // libmdb cuts its text forms at the bind size (16383 bytes by default); only Jet 3 memos
    // still take that road here. Raised after the catalog, whose reading zeroes a buffer of
    // this size per column.
    mdb_set_bind_size(mdb.get(), 1 << 20);
    const MappedFile file(path, static_cast<std::size_t>(info.st_size));
    for (unsigned i = 0; i < mdb->num_catalog; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (entry->object_type != MDB_TABLE || !mdb_is_user_table(entry))
            continue;
        std::unique_ptr<MdbTableDef, TableFree> table(mdb_read_table(entry));
        if (!table || !mdb_read_columns(table.get()))
            return Fail(out, std::string("Unrecognized database format '") + path +
                                 "': cannot read table " + entry->object_name + ".");
        TableSender sender(mdb.get(), table.get(), out, file);
        sender.sendDefinition();
        const bool complete = sender.sendRows();
        if (!out.ok())
            return 1;
        if (!complete)
            return Fail(out, std::string("Unrecognized database format '") + path +
                                 "': rows of table " + entry->object_name + " are unreadable.");
    }
    FrameBuilder done;
    done.begin(Frame::Done);
    out.send(done.finish());
    return out.flush() ? 0 : 1;
}

} // namespace vm::ado::jet
