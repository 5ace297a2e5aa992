// Persisted recordsets in XML: the rowset schema form (a schema of attribute types, then one
// z:row element per row with one attribute per non-null value). Written as UTF-8 to a
// temporary file that is linked into place only when complete, so a failed save never leaves
// a half-written file, and never replaces an existing one.

#include "platform/ado/FastText.h"
#include "platform/ado/Objects.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <expat.h>
#include <fcntl.h>
#include <unistd.h>

namespace vm::ado {
namespace {

using automation::VT_BOOL;
using automation::VT_BSTR;
using automation::VT_BYTES;
using automation::VT_DATE;

constexpr const char* kInvalidXml = "Recordset cannot be created. Source XML is incomplete or "
                                    "invalid.";

struct XmlType {
    const char* name;
    const char* dbtype; // rs:dbtype, or null
};

XmlType XmlTypeOf(int type) {
    switch (type) {
    case adSmallInt:
        return {"i2", nullptr};
    case adInteger:
        return {"int", nullptr};
    case adTinyInt:
        return {"i1", nullptr};
    case adUnsignedTinyInt:
        return {"ui1", nullptr};
    case adUnsignedSmallInt:
        return {"ui2", nullptr};
    case adUnsignedInt:
        return {"ui4", nullptr};
    case adBigInt:
        return {"i8", nullptr};
    case adUnsignedBigInt:
        return {"ui8", nullptr};
    case adSingle:
        return {"r4", nullptr};
    case adDouble:
        return {"float", nullptr};
    case adCurrency:
        return {"number", "currency"};
    case adNumeric:
        return {"number", "numeric"};
    case adDate:
        return {"dateTime", "variantdate"};
    case adDBTimeStamp:
        return {"dateTime", "timestamp"};
    case adBoolean:
        return {"boolean", nullptr};
    case adBinary:
    case adVarBinary:
    case adLongVarBinary:
        return {"bin.hex", nullptr};
    case adChar:
    case adVarChar:
    case adLongVarChar:
        return {"string", "str"};
    default:
        return {"string", nullptr};
    }
}

int TypeOfXml(std::string_view name, std::string_view dbtype, bool isLong) {
    if (name == "i2")
        return adSmallInt;
    if (name == "int" || name == "i4")
        return adInteger;
    if (name == "i1")
        return adTinyInt;
    if (name == "ui1")
        return adUnsignedTinyInt;
    if (name == "ui2")
        return adUnsignedSmallInt;
    if (name == "ui4")
        return adUnsignedInt;
    if (name == "i8")
        return adBigInt;
    if (name == "ui8")
        return adUnsignedBigInt;
    if (name == "r4")
        return adSingle;
    if (name == "float" || name == "r8")
        return adDouble;
    if (name == "number")
        return dbtype == "currency" ? adCurrency : adNumeric;
    if (name == "dateTime" || name == "date" || name == "time")
        return dbtype == "timestamp" ? adDBTimeStamp : adDate;
    if (name == "boolean")
        return adBoolean;
    if (name == "bin.hex" || name == "bin.base64")
        return isLong ? adLongVarBinary : adVarBinary;
    if (dbtype == "str")
        return isLong ? adLongVarChar : adVarChar;
    return isLong ? adLongVarWChar : adVarWChar;
}

bool IsNameStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}

bool IsNameChar(unsigned char c) {
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// A column name usable as an attribute name as it is (UTF-8); others become c0, c1, ...
bool IsXmlName(std::string_view name) {
    if (name.empty() || !IsNameStart(static_cast<unsigned char>(name[0])))
        return false;
    for (const char c : name)
        if (!IsNameChar(static_cast<unsigned char>(c)))
            return false;
    // "xml..." names are reserved, and "c<digits>" would collide with the fallback names.
    if (name.size() >= 3 && (name[0] == 'x' || name[0] == 'X') &&
        (name[1] == 'm' || name[1] == 'M') && (name[2] == 'l' || name[2] == 'L'))
        return false;
    if (name[0] == 'c' && name.size() > 1 &&
        name.find_first_not_of("0123456789", 1) == std::string_view::npos)
        return false;
    return name.find(':') == std::string_view::npos;
}

void AppendEscaped(std::string& out, std::string_view utf8) {
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '\'':
            out += "&apos;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            if (u < 0x20) {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "&#x%X;", u);
                out += buffer;
            } else {
                out += c;
            }
        }
    }
}

std::string FormatDouble(double value, bool single) {
    char buffer[64];
    const auto result =
        single ? std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(value))
               : std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

bool FormatValue(const Variant& value, int type, std::string& out) {
    switch (type) {
    case adBoolean: {
        bool b = false;
        if (!value.ToBool(b))
            return false;
        out = b ? "True" : "False";
        return true;
    }
    case adDate:
    case adDBTimeStamp:
    case adDBDate:
    case adDBTime: {
        double date = 0;
        automation::DateParts p;
        if (!value.ToDate(date) || !automation::SplitOleDate(date, p))
            return false;
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d", p.year, p.month,
                      p.day, p.hour, p.minute, p.second);
        out = buffer;
        return true;
    }
    case adSingle:
    case adDouble:
    case adCurrency:
    case adNumeric: {
        double number = 0;
        if (!value.ToDouble(number))
            return false;
        out = FormatDouble(number, type == adSingle);
        return true;
    }
    case adBinary:
    case adVarBinary:
    case adLongVarBinary: {
        automation::Bytes bytes;
        if (!value.ToBytes(bytes))
            return false;
        static const char kHex[] = "0123456789abcdef";
        out.clear();
        for (const std::uint8_t b : bytes) {
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
        return true;
    }
    default:
        break;
    }
    if (value.Type() == VT_BSTR) {
        out.clear();
        AppendEscaped(out, GbkToUtf8Fast(value.Text()));
        return true;
    }
    if (value.Type() == VT_DATE || value.Type() == VT_BOOL || value.Type() == VT_BYTES) {
        std::string text;
        if (!value.ToText(text))
            return false;
        out.clear();
        AppendEscaped(out, GbkToUtf8Fast(text));
        return true;
    }
    if (value.IsNumeric() && value.Type() != automation::VT_R4 &&
        value.Type() != automation::VT_R8) {
        out = std::to_string(value.IntValue());
        return true;
    }
    double number = 0;
    if (!value.ToDouble(number))
        return false;
    out = FormatDouble(number, false);
    return true;
}

bool ParseValue(std::string_view text, int type, Variant& out) {
    switch (type) {
    case adBoolean:
        if (text == "True" || text == "true" || text == "1" || text == "-1")
            out = Variant(true);
        else if (text == "False" || text == "false" || text == "0")
            out = Variant(false);
        else
            return false;
        return true;
    case adDate:
    case adDBTimeStamp:
    case adDBDate:
    case adDBTime: {
        double date = 0;
        if (!automation::ParseOleDate(text, date))
            return false;
        out = Variant::Date(date);
        return true;
    }
    case adSingle:
    case adDouble:
    case adCurrency:
    case adNumeric: {
        double number = 0;
        if (!automation::ParseNumber(text, number))
            return false;
        out = type == adSingle ? Variant::R4(static_cast<float>(number)) : Variant(number);
        return true;
    }
    case adBigInt:
    case adUnsignedBigInt:
    case adUnsignedInt: {
        std::int64_t n = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
        if (ec != std::errc() || end != text.data() + text.size())
            return false;
        out = Variant::I8(n);
        return true;
    }
    case adSmallInt:
    case adInteger:
    case adTinyInt:
    case adUnsignedTinyInt:
    case adUnsignedSmallInt: {
        std::int32_t n = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
        if (ec != std::errc() || end != text.data() + text.size())
            return false;
        out = Variant(n);
        return true;
    }
    case adBinary:
    case adVarBinary:
    case adLongVarBinary: {
        if (text.size() % 2)
            return false;
        automation::Bytes bytes;
        bytes.reserve(text.size() / 2);
        for (std::size_t i = 0; i < text.size(); i += 2) {
            unsigned value = 0;
            const auto [end, ec] = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
            if (ec != std::errc() || end != text.data() + i + 2)
                return false;
            bytes.push_back(static_cast<std::uint8_t>(value));
        }
        out = Variant(std::move(bytes));
        return true;
    }
    default:
        out = Variant(Utf8ToGbkFast(text));
        return true;
    }
}

bool WriteNewFile(const std::string& path, const std::string& content, std::string& error) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    std::string temp = folder + ".vmsave-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    const char* data = content.data();
    std::size_t left = content.size();
    bool ok = true;
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    if (ok && ::fsync(fd) != 0)
        ok = false;
    const int savedErrno = errno;
    ::close(fd);
    // link() refuses an existing name, so a file that appeared meanwhile is not replaced.
    if (ok && ::link(temp.c_str(), path.c_str()) != 0)
        ok = false;
    if (!ok)
        error = std::strerror(errno ? errno : savedErrno);
    ::unlink(temp.c_str());
    return ok;
}

// ---- reading -----------------------------------------------------------------------------

struct XmlColumn {
    std::string xmlName; // attribute name in z:row (UTF-8)
    ColumnInfo info;
};

struct Reader {
    std::vector<XmlColumn> columns;
    std::vector<Row> rows;
    std::string error;
    bool inSchema = false, inData = false, sawData = false;
    int skipDepth = 0; // inside rs:delete or rs:original
    XML_Parser parser = nullptr;

    void Stop(std::string message) {
        if (error.empty())
            error = std::move(message);
        XML_StopParser(parser, XML_FALSE);
    }
};

const char* Attribute(const XML_Char** attributes, std::string_view name) {
    for (int i = 0; attributes[i]; i += 2)
        if (name == attributes[i])
            return attributes[i + 1];
    return nullptr;
}

void XMLCALL OnStart(void* data, const XML_Char* element, const XML_Char** attributes) {
    auto& r = *static_cast<Reader*>(data);
    const std::string_view name(element);
    if (r.skipDepth > 0) {
        ++r.skipDepth;
        return;
    }
    if (name == "s:Schema") {
        r.inSchema = true;
    } else if (r.inSchema && name == "s:AttributeType") {
        const char* xmlName = Attribute(attributes, "name");
        if (!xmlName)
            return r.Stop(kInvalidXml);
        if (r.columns.size() >= 4096)
            return r.Stop(kInvalidXml);
        XmlColumn column;
        column.xmlName = xmlName;
        const char* shown = Attribute(attributes, "rs:name");
        column.info.name = Utf8ToGbkFast(shown ? shown : xmlName);
        if (const char* table = Attribute(attributes, "rs:basetable"))
            column.info.baseTable = Utf8ToGbkFast(table);
        if (const char* base = Attribute(attributes, "rs:basecolumn"))
            column.info.baseColumn = Utf8ToGbkFast(base);
        if (const char* key = Attribute(attributes, "rs:keycolumn"))
            column.info.key = std::string_view(key) == "true";
        const char* nullable = Attribute(attributes, "rs:nullable");
        column.info.attributes = adFldUnknownUpdatable | adFldUpdatable;
        if (!nullable || std::string_view(nullable) == "true")
            column.info.attributes |= adFldIsNullable | adFldMayBeNull;
        column.info.type = adVarWChar;
        r.columns.push_back(std::move(column));
    } else if (r.inSchema && name == "s:datatype") {
        if (r.columns.empty())
            return r.Stop(kInvalidXml);
        ColumnInfo& info = r.columns.back().info;
        const char* type = Attribute(attributes, "dt:type");
        const char* dbtype = Attribute(attributes, "rs:dbtype");
        const char* isLong = Attribute(attributes, "rs:long");
        const bool longValue = isLong && std::string_view(isLong) == "true";
        info.type = TypeOfXml(type ? type : "string", dbtype ? dbtype : "", longValue);
        if (longValue)
            info.attributes |= adFldLong;
        if (const char* fixed = Attribute(attributes, "rs:fixedlength");
            fixed && std::string_view(fixed) == "true")
            info.attributes |= adFldFixed;
        if (const char* size = Attribute(attributes, "dt:maxLength")) {
            std::int64_t n = 0;
            std::from_chars(size, size + std::strlen(size), n);
            info.definedSize = n;
        }
        if (const char* precision = Attribute(attributes, "rs:precision")) {
            int n = 0;
            std::from_chars(precision, precision + std::strlen(precision), n);
            info.precision = n;
        }
    } else if (name == "rs:data") {
        r.inData = true;
        r.sawData = true;
    } else if (r.inData && (name == "rs:delete" || name == "rs:original")) {
        r.skipDepth = 1;
    } else if (r.inData && name == "z:row") {
        Row row(r.columns.size(), Variant::Null());
        for (int i = 0; attributes[i]; i += 2) {
            const std::string_view attribute(attributes[i]);
            for (std::size_t c = 0; c < r.columns.size(); ++c) {
                if (r.columns[c].xmlName != attribute)
                    continue;
                if (!ParseValue(attributes[i + 1], r.columns[c].info.type, row[c]))
                    return r.Stop(std::string(kInvalidXml) + " (a value of " +
                                  r.columns[c].xmlName + " does not fit its type)");
                break;
            }
        }
        r.rows.push_back(std::move(row));
    }
}

void XMLCALL OnEnd(void* data, const XML_Char* element) {
    auto& r = *static_cast<Reader*>(data);
    if (r.skipDepth > 0) {
        --r.skipDepth;
        return;
    }
    const std::string_view name(element);
    if (name == "s:Schema")
        r.inSchema = false;
    else if (name == "rs:data")
        r.inData = false;
}

} // namespace

bool SaveRecordsetXml(const std::string& linuxPath, const std::vector<ColumnInfo>& columns,
                      const std::vector<const Row*>& rows, std::string& error) {
    std::vector<std::string> names;
    std::string out = "<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882'\n"
                      "\txmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882'\n"
                      "\txmlns:rs='urn:schemas-microsoft-com:rowset'\n"
                      "\txmlns:z='#RowsetSchema'>\n"
                      "<s:Schema id='RowsetSchema'>\n"
                      "\t<s:ElementType name='row' content='eltOnly' rs:updatable='true'>\n";
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const ColumnInfo& column = columns[i];
        const std::string utf8 = GbkToUtf8Fast(column.name);
        std::string xmlName = IsXmlName(utf8) ? utf8 : "c" + std::to_string(i);
        out += "\t\t<s:AttributeType name='" + xmlName + "'";
        if (xmlName != utf8) {
            out += " rs:name='";
            AppendEscaped(out, utf8);
            out += "'";
        }
        out += " rs:number='" + std::to_string(i + 1) + "'";
        if (column.attributes & adFldIsNullable)
            out += " rs:nullable='true'";
        out += " rs:writeunknown='true'";
        if (!column.baseTable.empty()) {
            out += " rs:basetable='";
            AppendEscaped(out, GbkToUtf8Fast(column.baseTable));
            out += "' rs:basecolumn='";
            AppendEscaped(out, GbkToUtf8Fast(column.baseColumn));
            out += "'";
        }
        if (column.key)
            out += " rs:keycolumn='true'";
        out += ">\n\t\t\t<s:datatype";
        const XmlType type = XmlTypeOf(column.type);
        out += std::string(" dt:type='") + type.name + "'";
        if (type.dbtype)
            out += std::string(" rs:dbtype='") + type.dbtype + "'";
        out += " dt:maxLength='" + std::to_string(column.definedSize) + "'";
        if (column.precision > 0)
            out += " rs:precision='" + std::to_string(column.precision) + "'";
        if (column.attributes & adFldFixed)
            out += " rs:fixedlength='true'";
        if (column.attributes & adFldLong)
            out += " rs:long='true'";
        out += std::string(" rs:maybenull='") +
               ((column.attributes & adFldMayBeNull) ? "true" : "false") + "'/>\n";
        out += "\t\t</s:AttributeType>\n";
        names.push_back(std::move(xmlName));
    }
    out += "\t\t<s:extends type='rs:rowbase'/>\n\t</s:ElementType>\n</s:Schema>\n<rs:data>\n";
    std::string value;
    for (const Row* row : rows) {
        out += "\t<z:row";
        for (std::size_t i = 0; i < columns.size() && i < row->size(); ++i) {
            const Variant& v = (*row)[i];
            if (v.IsNull() || v.IsEmpty())
                continue;
            if (!FormatValue(v, columns[i].type, value)) {
                error = "a value of column " + std::to_string(i + 1) + " cannot be written.";
                return false;
            }
            out += " " + names[i] + "='" + value + "'";
        }
        out += "/>\n";
    }
    out += "</rs:data>\n</xml>\n";
    return WriteNewFile(linuxPath, out, error);
}

bool LoadRecordsetXml(const std::string& linuxPath, std::vector<ColumnInfo>& columns,
                      std::vector<Row>& rows, std::string& error) {
    const int fd = ::open(linuxPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "Could not open the persisted recordset: " + std::string(std::strerror(errno));
        return false;
    }
    Reader reader;
    XML_Parser parser = XML_ParserCreate("UTF-8");
    reader.parser = parser;
    XML_SetUserData(parser, &reader);
    XML_SetElementHandler(parser, OnStart, OnEnd);
    char buffer[65536];
    bool ok = true;
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            reader.error =
                "Could not read the persisted recordset: " + std::string(std::strerror(errno));
            ok = false;
            break;
        }
        if (XML_Parse(parser, buffer, static_cast<int>(n), n == 0) == XML_STATUS_ERROR) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
    }
    ::close(fd);
    XML_ParserFree(parser);
    if (!ok || !reader.sawData || reader.columns.empty()) {
        error = reader.error.empty() ? kInvalidXml : reader.error;
        return false;
    }
    columns.clear();
    for (XmlColumn& column : reader.columns)
        columns.push_back(std::move(column.info));
    rows = std::move(reader.rows);
    return true;
}

} // namespace vm::ado
