#include "mdbwriter/MdbWriter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <limits>
#include <unistd.h>

namespace vm::mdbwriter {
namespace {

constexpr std::size_t kPageSize = 4096;
constexpr std::size_t kDataHeader = 14;     // type, 1, free space, owner, 4 unknown, row count
constexpr std::size_t kMaxRowsOnPage = 255; // a row pointer keeps the row number in one byte
constexpr std::size_t kMaxRowSize = kPageSize - kDataHeader - 2;
constexpr std::size_t kInlineLongValue = 64; // longer memos and OLE values go to LVAL pages
constexpr std::size_t kInlineMapPages = 512; // 64 bitmap bytes in a row
constexpr std::size_t kBitmapPagePages = (kPageSize - 4) * 8;
constexpr std::uint32_t kLvalOwner = 0x4C41564C; // "LVAL"
constexpr std::uint32_t kSystemObjectFlags = 0x80000002;

using Page = std::array<std::uint8_t, kPageSize>;
using Bytes = std::string;

void Put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = v & 0xFF;
    p[1] = (v >> 8) & 0xFF;
}
void Put32(std::uint8_t* p, std::uint32_t v) {
    Put16(p, v & 0xFFFF);
    Put16(p + 2, v >> 16);
}
void Append16(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Append32(Bytes& out, std::uint32_t v) {
    Append16(out, v & 0xFFFF);
    Append16(out, v >> 16);
}
void AppendDouble(Bytes& out, double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, 8);
    Append32(out, static_cast<std::uint32_t>(bits));
    Append32(out, static_cast<std::uint32_t>(bits >> 32));
}

// UTF-8 to UTF-16; a malformed sequence becomes U+FFFD.
std::u16string Utf16(const std::string& utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        std::uint32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (b < 0x80) {
            cp = b;
        } else if (b >= 0xC2 && b < 0xF5) {
            len = b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
            std::uint32_t v = b & (0x3F >> (len - 1));
            bool ok = i + len <= utf8.size();
            for (std::size_t k = 1; ok && k < len; ++k) {
                const auto c = static_cast<unsigned char>(utf8[i + k]);
                ok = (c & 0xC0) == 0x80;
                v = (v << 6) | (c & 0x3F);
            }
            const bool shortest =
                (len == 3 && v >= 0x800) || (len == 4 && v >= 0x10000) || len == 2;
            if (ok && shortest && v < 0x110000 && (v < 0xD800 || v > 0xDFFF))
                cp = v;
            else
                len = 1;
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

Bytes Ucs2(const std::u16string& text) {
    Bytes out;
    out.reserve(text.size() * 2);
    for (char16_t c : text)
        Append16(out, c);
    return out;
}

// Jet 4's compressed form: 0xFF 0xFE, then single bytes for characters below U+0100 and byte
// pairs for the others, a 0x00 byte switching between the two. A pair whose first (low) byte
// is 0 would read as a switch, so text holding such a character (U+4E00 among them) is
// stored plainly.
Bytes EncodeText(const std::u16string& text, bool compress) {
    Bytes plain = Ucs2(text);
    if (!compress)
        return plain;
    for (char16_t c : text)
        if ((c & 0xFF) == 0)
            return plain;
    Bytes packed = "\xFF\xFE";
    bool single = true;
    for (char16_t c : text) {
        const bool fits = c < 0x100;
        if (fits != single) {
            packed.push_back('\0');
            single = fits;
        }
        if (single)
            packed.push_back(static_cast<char>(c));
        else
            Append16(packed, c);
    }
    return packed.size() < plain.size() ? packed : plain;
}

std::uint8_t TypeCode(ColumnType type) {
    switch (type) {
    case ColumnType::Boolean:
        return 0x01;
    case ColumnType::Byte:
        return 0x02;
    case ColumnType::Integer:
        return 0x03;
    case ColumnType::Long:
        return 0x04;
    case ColumnType::Double:
        return 0x07;
    case ColumnType::DateTime:
        return 0x08;
    case ColumnType::Text:
        return 0x0A;
    case ColumnType::Ole:
        return 0x0B;
    case ColumnType::Memo:
        return 0x0C;
    }
    return 0;
}

std::size_t FixedSize(ColumnType type) {
    switch (type) {
    case ColumnType::Boolean:
        return 0; // lives in the null mask
    case ColumnType::Byte:
        return 1;
    case ColumnType::Integer:
        return 2;
    case ColumnType::Long:
        return 4;
    case ColumnType::Double:
    case ColumnType::DateTime:
        return 8;
    default:
        return 0;
    }
}

bool IsFixed(ColumnType type) {
    return type != ColumnType::Text && type != ColumnType::Memo && type != ColumnType::Ole;
}

double NowAsOleDate() {
    return 25569.0 + static_cast<double>(std::time(nullptr)) / 86400.0;
}

struct Layout {
    Column spec;
    std::u16string name;
    bool fixed = false;
    std::uint16_t number = 0;
    std::uint16_t fixedOffset = 0;
    std::uint16_t varIndex = 0;
};

// A page that rows are being added to; rows grow down from the end of the page.
struct OpenPage {
    std::uint32_t number = 0;
    std::size_t rows = 0;
    std::size_t lowest = kPageSize;
    bool open = false;
};

struct Table {
    std::string name;
    std::u16string name16;
    std::vector<Layout> columns;
    std::size_t fixedSize = 0;
    std::size_t varCount = 0;
    std::uint32_t tdefPage = 0;
    std::uint32_t rowCount = 0;
    bool system = false;
    std::vector<std::uint32_t> dataPages;
    OpenPage data;
    OpenPage lval;
};

} // namespace

struct Writer::Impl {
    Options options;
    std::vector<Page> pages;
    std::vector<Table> tables; // [0] is MSysObjects
    std::string error;
    OpenPage mapRows;
    bool saved = false;

    bool fail(std::string message) {
        error = std::move(message);
        return false;
    }

    std::uint32_t newPage() {
        pages.emplace_back();
        pages.back().fill(0);
        return static_cast<std::uint32_t>(pages.size() - 1);
    }

    void startDataPage(OpenPage& open, std::uint32_t owner) {
        open.number = newPage();
        open.rows = 0;
        open.lowest = kPageSize;
        open.open = true;
        std::uint8_t* p = pages[open.number].data();
        p[0] = 0x01;
        p[1] = 0x01;
        Put32(p + 4, owner);
        Put16(p + 2, kPageSize - kDataHeader);
    }

    static bool fits(const OpenPage& open, std::size_t size) {
        return open.open && open.rows < kMaxRowsOnPage &&
               kDataHeader + 2 * (open.rows + 1) + size <= open.lowest;
    }

    // Places a row on `open` (which must have room) and returns its page-row pointer.
    std::uint32_t placeRow(OpenPage& open, const Bytes& row) {
        std::uint8_t* p = pages[open.number].data();
        open.lowest -= row.size();
        std::memcpy(p + open.lowest, row.data(), row.size());
        Put16(p + kDataHeader + 2 * open.rows, static_cast<std::uint32_t>(open.lowest));
        ++open.rows;
        Put16(p + 12, static_cast<std::uint32_t>(open.rows));
        Put16(p + 2, static_cast<std::uint32_t>(open.lowest - kDataHeader - 2 * open.rows));
        return (open.number << 8) | static_cast<std::uint32_t>(open.rows - 1);
    }

    std::uint32_t addLvalRow(Table& table, const Bytes& row) {
        if (!fits(table.lval, row.size()))
            startDataPage(table.lval, kLvalOwner);
        return placeRow(table.lval, row);
    }

    // The 12-byte long-value header, with the data inline or on LVAL pages.
    Bytes longValue(Table& table, const Bytes& data) {
        Bytes out;
        const auto length = static_cast<std::uint32_t>(data.size());
        if (data.size() <= kInlineLongValue) {
            Append32(out, length | 0x80000000u);
            Append32(out, 0);
            Append32(out, 0);
            out += data;
        } else if (data.size() <= kMaxRowSize) {
            Append32(out, length | 0x40000000u);
            Append32(out, addLvalRow(table, data));
            Append32(out, 0);
        } else {
            // A chain of rows, each "next row pointer + chunk"; laid down from the last chunk
            // so every row knows its successor.
            constexpr std::size_t chunk = kMaxRowSize - 4;
            const std::size_t count = (data.size() + chunk - 1) / chunk;
            std::uint32_t next = 0;
            for (std::size_t i = count; i-- > 0;) {
                Bytes row;
                Append32(row, next);
                row += data.substr(i * chunk, chunk);
                next = addLvalRow(table, row);
            }
            Append32(out, length);
            Append32(out, next);
            Append32(out, 0);
        }
        return out;
    }

    bool encodeValue(Table& table, const Layout& col, const Value& value, Bytes& out,
                     bool& present) {
        present = !std::holds_alternative<Null>(value);
        const ColumnType type = col.spec.type;
        if (!present) {
            out.assign(col.fixed ? FixedSize(type) : 0, '\0');
            return true;
        }
        const auto* integer = std::get_if<std::int64_t>(&value);
        const auto* real = std::get_if<double>(&value);
        const auto* text = std::get_if<std::string>(&value);
        const std::string where = "column \"" + col.spec.name + "\" of \"" + table.name + "\"";
        auto intIn = [&](std::int64_t lo, std::int64_t hi) {
            return integer && *integer >= lo && *integer <= hi;
        };
        out.clear();
        switch (type) {
        case ColumnType::Boolean:
            if (!integer)
                return fail(where + ": a boolean needs an integer");
            present = *integer != 0;
            return true;
        case ColumnType::Byte:
            if (!intIn(0, 255))
                return fail(where + ": a byte value must be an integer 0..255");
            out.push_back(static_cast<char>(*integer));
            return true;
        case ColumnType::Integer:
            if (!intIn(-32768, 32767))
                return fail(where + ": an integer value must fit 16 bits");
            Append16(out, static_cast<std::uint32_t>(*integer));
            return true;
        case ColumnType::Long:
            if (!intIn(std::numeric_limits<std::int32_t>::min(),
                       std::numeric_limits<std::int32_t>::max()))
                return fail(where + ": a long value must fit 32 bits");
            Append32(out, static_cast<std::uint32_t>(*integer));
            return true;
        case ColumnType::Double:
        case ColumnType::DateTime:
            if (!real)
                return fail(where + ": needs a double");
            AppendDouble(out, *real);
            return true;
        case ColumnType::Text: {
            if (!text)
                return fail(where + ": needs text");
            const std::u16string chars = Utf16(*text);
            if (chars.size() > static_cast<std::size_t>(col.spec.maxChars))
                return fail(where + ": text longer than " + std::to_string(col.spec.maxChars) +
                            " characters");
            out = EncodeText(chars, options.compressText);
            return true;
        }
        case ColumnType::Memo:
            if (!text)
                return fail(where + ": needs text");
            out = longValue(table, EncodeText(Utf16(*text), options.compressText));
            return true;
        case ColumnType::Ole:
            if (!text)
                return fail(where + ": needs bytes");
            out = longValue(table, *text);
            return true;
        }
        return fail(where + ": unknown type");
    }

    // Jet 4 row: column count, fixed area, variable data, then from the end backwards the null
    // mask, the variable column count and the variable offsets (last one first, preceded by
    // the end-of-data offset).
    bool encodeRow(Table& table, const Row& row, Bytes& out) {
        const std::size_t n = table.columns.size();
        Bytes fixedArea(table.fixedSize, '\0');
        Bytes varData;
        std::vector<std::uint32_t> varOffsets(table.varCount);
        Bytes nullMask((n + 7) / 8, '\0');
        const std::size_t varStart = 2 + table.fixedSize;
        Bytes value;
        for (std::size_t i = 0; i < n; ++i) {
            const Layout& col = table.columns[i];
            bool present = false;
            if (!encodeValue(table, col, row[i], value, present))
                return false;
            if (present)
                nullMask[col.number / 8] |= static_cast<char>(1 << (col.number % 8));
            if (col.fixed) {
                std::memcpy(fixedArea.data() + col.fixedOffset, value.data(), value.size());
            } else {
                varOffsets[col.varIndex] = static_cast<std::uint32_t>(varStart + varData.size());
                varData += value;
            }
        }
        out.clear();
        Append16(out, static_cast<std::uint32_t>(n));
        out += fixedArea;
        out += varData;
        if (table.varCount > 0) {
            Append16(out, static_cast<std::uint32_t>(varStart + varData.size()));
            for (std::size_t i = table.varCount; i-- > 0;)
                Append16(out, varOffsets[i]);
            Append16(out, static_cast<std::uint32_t>(table.varCount));
        }
        out += nullMask;
        if (out.size() > kMaxRowSize)
            return fail("a row of \"" + table.name + "\" does not fit on a page");
        return true;
    }

    bool addRow(Table& table, const Row& row) {
        if (row.size() != table.columns.size())
            return fail("a row of \"" + table.name + "\" needs " +
                        std::to_string(table.columns.size()) + " values");
        Bytes bytes;
        if (!encodeRow(table, row, bytes))
            return false;
        if (!fits(table.data, bytes.size())) {
            startDataPage(table.data, table.tdefPage);
            table.dataPages.push_back(table.data.number);
        }
        placeRow(table.data, bytes);
        ++table.rowCount;
        return true;
    }

    int addTable(const std::string& name, const std::vector<Column>& columns, bool system) {
        if (saved)
            return fail("already saved"), -1;
        const std::u16string name16 = Utf16(name);
        if (name16.empty() || name16.size() > 64)
            return fail("a table name needs 1 to 64 characters"), -1;
        if (columns.empty() || columns.size() > 255)
            return fail("a table needs 1 to 255 columns"), -1;
        for (const Table& t : tables)
            if (t.name == name)
                return fail("table \"" + name + "\" exists"), -1;
        Table table;
        table.name = name;
        table.name16 = name16;
        table.system = system;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            Layout col;
            col.spec = columns[i];
            col.name = Utf16(col.spec.name);
            if (col.name.empty() || col.name.size() > 64)
                return fail("a column name needs 1 to 64 characters"), -1;
            for (const Layout& other : table.columns)
                if (other.spec.name == col.spec.name)
                    return fail("column \"" + col.spec.name + "\" repeats"), -1;
            if (col.spec.type == ColumnType::Text &&
                (col.spec.maxChars < 1 || col.spec.maxChars > 255))
                return fail("a text column holds 1 to 255 characters"), -1;
            col.number = static_cast<std::uint16_t>(i);
            col.fixed = IsFixed(col.spec.type);
            if (col.fixed) {
                col.fixedOffset = static_cast<std::uint16_t>(table.fixedSize);
                table.fixedSize += FixedSize(col.spec.type);
            } else {
                col.varIndex = static_cast<std::uint16_t>(table.varCount++);
            }
            table.columns.push_back(std::move(col));
        }
        table.tdefPage = newPage();
        tables.push_back(std::move(table));
        return static_cast<int>(tables.size() - 1);
    }

    // A usage map: inline (start page + 64-byte bitmap) when the pages span at most 512
    // pages, otherwise a list of bitmap pages each covering (page size - 4) * 8 pages.
    Bytes usageMap(const std::vector<std::uint32_t>& used) {
        Bytes map;
        if (used.empty() || used.back() - used.front() < kInlineMapPages) {
            const std::uint32_t start = used.empty() ? 0 : used.front();
            map.push_back('\0');
            Append32(map, start);
            Bytes bits(kInlineMapPages / 8, '\0');
            for (std::uint32_t page : used)
                bits[(page - start) / 8] |= static_cast<char>(1 << ((page - start) % 8));
            return map + bits;
        }
        const std::size_t count = used.back() / kBitmapPagePages + 1;
        std::vector<std::uint32_t> bitmapPages(count, 0);
        for (std::uint32_t page : used) {
            std::uint32_t& holder = bitmapPages[page / kBitmapPagePages];
            if (holder == 0) {
                holder = newPage();
                pages[holder][0] = 0x05;
                pages[holder][1] = 0x01;
            }
            const std::size_t bit = page % kBitmapPagePages;
            pages[holder][4 + bit / 8] |= static_cast<std::uint8_t>(1 << (bit % 8));
        }
        map.push_back('\x01');
        for (std::uint32_t holder : bitmapPages)
            Append32(map, holder);
        return map;
    }

    std::uint32_t addMapRow(const Bytes& row) {
        if (!fits(mapRows, row.size()))
            startDataPage(mapRows, 0);
        return placeRow(mapRows, row);
    }

    bool writeTdef(const Table& table, std::uint32_t usedRow, std::uint32_t freeRow) {
        Bytes t(63, '\0');
        auto* p = reinterpret_cast<std::uint8_t*>(t.data());
        p[0] = 0x02;
        p[1] = 0x01;
        p[2] = 'V';
        p[3] = 'C';
        Put32(p + 16, table.rowCount);
        p[40] = table.system ? 0x53 : 0x4E;
        const auto n = static_cast<std::uint32_t>(table.columns.size());
        Put16(p + 41, n);
        Put16(p + 43, static_cast<std::uint32_t>(table.varCount));
        Put16(p + 45, n);
        Put32(p + 55, usedRow);
        Put32(p + 59, freeRow);
        for (const Layout& col : table.columns) {
            std::array<std::uint8_t, 25> c{};
            const ColumnType type = col.spec.type;
            c[0] = TypeCode(type);
            Put16(&c[5], col.number);
            Put16(&c[7], col.fixed ? 0 : col.varIndex);
            Put16(&c[9], col.number);
            if (type == ColumnType::Text || type == ColumnType::Memo) {
                Put16(&c[11], 0x0409); // general sort order
                c[13] = 0x01;
                c[16] = options.compressText ? 0x01 : 0x00;
            }
            c[15] = static_cast<std::uint8_t>((col.fixed ? 0x01 : 0x00) | 0x02);
            Put16(&c[21], col.fixedOffset);
            const std::size_t size = type == ColumnType::Text
                                         ? static_cast<std::size_t>(col.spec.maxChars) * 2
                                         : FixedSize(type);
            Put16(&c[23], static_cast<std::uint32_t>(size));
            t.append(reinterpret_cast<const char*>(c.data()), c.size());
        }
        for (const Layout& col : table.columns) {
            Append16(t, static_cast<std::uint32_t>(col.name.size() * 2));
            t += Ucs2(col.name);
        }
        Append16(t, 0xFFFF);
        if (t.size() > kPageSize)
            return fail("the definition of \"" + table.name + "\" does not fit on a page");
        Put32(reinterpret_cast<std::uint8_t*>(t.data()) + 8, static_cast<std::uint32_t>(t.size()));
        std::memcpy(pages[table.tdefPage].data(), t.data(), t.size());
        return true;
    }

    static void Rc4(const std::uint8_t* key, std::size_t keyLength, std::uint8_t* data,
                    std::size_t length) {
        std::array<std::uint8_t, 256> s{};
        for (std::size_t i = 0; i < 256; ++i)
            s[i] = static_cast<std::uint8_t>(i);
        for (std::size_t i = 0, j = 0; i < 256; ++i) {
            j = (j + s[i] + key[i % keyLength]) & 0xFF;
            std::swap(s[i], s[j]);
        }
        for (std::size_t k = 0, i = 0, j = 0; k < length; ++k) {
            i = (i + 1) & 0xFF;
            j = (j + s[i]) & 0xFF;
            std::swap(s[i], s[j]);
            data[k] ^= s[(s[i] + s[j]) & 0xFF];
        }
    }

    bool writeHeader(double created) {
        const std::u16string password = Utf16(options.password);
        if (password.size() > 20)
            return fail("a database password holds at most 20 characters");
        std::uint8_t* p = pages[0].data();
        p[1] = 0x01;
        std::memcpy(p + 4, "Standard Jet DB", 16);
        Put32(p + 0x14, 1); // Jet 4
        Put16(p + 0x3C, 936);
        std::uint64_t bits;
        std::memcpy(&bits, &created, 8);
        Put32(p + 0x72, static_cast<std::uint32_t>(bits));
        Put32(p + 0x76, static_cast<std::uint32_t>(bits >> 32));
        // The password is masked with the creation date's whole days.
        const auto days = static_cast<std::uint32_t>(static_cast<std::int32_t>(created));
        std::uint8_t mask[4];
        Put32(mask, days);
        const Bytes stored = Ucs2(password);
        for (std::size_t i = 0; i < 40; ++i) {
            const std::uint8_t b = i < stored.size() ? static_cast<std::uint8_t>(stored[i]) : 0;
            p[0x42 + i] = b ^ mask[i % 4];
        }
        static const std::uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
        Rc4(key, 4, p + 0x18, 128);
        return true;
    }

    bool addCatalogueRows(double created) {
        Table& sys = tables[0];
        for (const Table& table : tables) {
            Row row = {Int(table.tdefPage),
                       Int(0),
                       Str(table.name),
                       Int(1),
                       Real(created),
                       Real(created),
                       Int(table.system ? static_cast<std::int32_t>(kSystemObjectFlags) : 0),
                       Null{}};
            if (!addRow(sys, row))
                return false;
        }
        return true;
    }

    bool save(const std::string& path) {
        if (saved)
            return fail("already saved");
        saved = true;
        const double created = options.creationDate != 0 ? options.creationDate : NowAsOleDate();
        if (!std::isfinite(created) || std::fabs(created) > 2.9e6)
            return fail("the creation date is out of range");
        if (!addCatalogueRows(created))
            return false;
        // Page 1 holds the usage-map rows, as in files Access writes.
        mapRows.number = 1;
        mapRows.open = true;
        pages[1][0] = 0x01;
        pages[1][1] = 0x01;
        Put16(pages[1].data() + 2, kPageSize - kDataHeader);
        for (const Table& table : tables) {
            const std::uint32_t used = addMapRow(usageMap(table.dataPages));
            const std::uint32_t free = addMapRow(usageMap({}));
            if (!writeTdef(table, used, free))
                return false;
        }
        if (!writeHeader(created))
            return false;
        return writeFile(path);
    }

    bool writeFile(const std::string& path) {
        namespace fs = std::filesystem;
        const std::string temp = path + ".tmp" + std::to_string(::getpid());
        {
            std::ofstream out(temp, std::ios::binary | std::ios::trunc);
            for (const Page& page : pages)
                out.write(reinterpret_cast<const char*>(page.data()), kPageSize);
            out.flush();
            if (!out) {
                std::error_code ignored;
                fs::remove(temp, ignored);
                return fail("cannot write " + temp);
            }
        }
        std::error_code ec;
        fs::rename(temp, path, ec);
        if (ec) {
            fs::remove(temp, ec);
            return fail("cannot replace " + path);
        }
        return true;
    }
};

Writer::Writer(Options options) : impl_(std::make_unique<Impl>()) {
    impl_->options = std::move(options);
    impl_->newPage(); // header
    impl_->newPage(); // usage maps
    const std::vector<Column> sysColumns = {
        {"Id", ColumnType::Long},
        {"ParentId", ColumnType::Long},
        {"Name", ColumnType::Text, 128},
        {"Type", ColumnType::Integer},
        {"DateCreate", ColumnType::DateTime},
        {"DateUpdate", ColumnType::DateTime},
        {"Flags", ColumnType::Long},
        {"LvProp", ColumnType::Ole},
    };
    impl_->addTable("MSysObjects", sysColumns, true); // its definition lands on page 2
}

Writer::~Writer() = default;

int Writer::addTable(const std::string& name, const std::vector<Column>& columns) {
    return impl_->addTable(name, columns, false);
}

bool Writer::addRow(int table, const Row& row) {
    if (impl_->saved)
        return impl_->fail("already saved");
    if (table <= 0 || static_cast<std::size_t>(table) >= impl_->tables.size())
        return impl_->fail("no such table");
    return impl_->addRow(impl_->tables[static_cast<std::size_t>(table)], row);
}

bool Writer::save(const std::string& path) {
    return impl_->save(path);
}

const std::string& Writer::error() const {
    return impl_->error;
}

} // namespace vm::mdbwriter
