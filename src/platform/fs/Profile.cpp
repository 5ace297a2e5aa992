#include "platform/fs/Profile.h"

#include "platform/fs/File.h"
#include "platform/text/Gbk.h"

#include <optional>
#include <vector>

namespace vm::fs {
namespace {

constexpr std::string_view kBlanks = " \t\r";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string_view TrimBlanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    const std::size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

std::string_view Unquoted(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

enum class LineKind { Section, Entry, Other };

struct Line {
    std::size_t begin = 0;   // first byte of the line
    std::size_t textEnd = 0; // end of its text, before the line end
    std::size_t end = 0;     // past its line end ("\n" or "\r\n"; none on an unended last line)
    LineKind kind = LineKind::Other;
    std::string_view name;  // section or key name, trimmed
    std::string_view value; // entry value, trimmed, quotes kept
};

Line Classify(std::string_view content, Line line) {
    std::string_view text = content.substr(line.begin, line.textEnd - line.begin);
    if (line.begin == 0 && text.starts_with(kUtf8Bom))
        text.remove_prefix(kUtf8Bom.size());
    const std::string_view trimmed = TrimBlanks(text);
    if (trimmed.starts_with('[')) {
        line.kind = LineKind::Section;
        line.name = TrimBlanks(trimmed.substr(1, trimmed.find(']') - 1));
    } else if (!trimmed.starts_with(';')) {
        if (const std::size_t equals = trimmed.find('='); equals != std::string_view::npos) {
            line.kind = LineKind::Entry;
            line.name = TrimBlanks(trimmed.substr(0, equals));
            line.value = TrimBlanks(trimmed.substr(equals + 1));
        }
    }
    return line;
}

std::vector<Line> Parse(std::string_view content) {
    std::vector<Line> lines;
    std::size_t begin = 0;
    while (begin < content.size()) {
        Line line;
        line.begin = begin;
        const std::size_t newline = content.find('\n', begin);
        if (newline == std::string_view::npos) {
            line.textEnd = line.end = content.size();
        } else {
            line.end = newline + 1;
            line.textEnd = newline > begin && content[newline - 1] == '\r' ? newline - 1 : newline;
        }
        lines.push_back(Classify(content, line));
        begin = line.end;
    }
    return lines;
}

// The line end that the file already uses; CR LF for a file without one.
std::string_view LineEndOf(std::string_view content) {
    const std::size_t newline = content.find('\n');
    if (newline == std::string_view::npos)
        return "\r\n";
    return newline > 0 && content[newline - 1] == '\r' ? "\r\n" : "\n";
}

struct Location {
    std::optional<std::size_t> section;   // the first section of that name
    std::optional<std::size_t> entry;     // the first entry of that key in it
    std::optional<std::size_t> lastEntry; // the section's last entry line
};

Location Locate(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
    Location where;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        if (line.kind == LineKind::Section) {
            if (where.section)
                break;
            if (text::EqualsNoCase(line.name, section))
                where.section = i;
        } else if (where.section && line.kind == LineKind::Entry) {
            where.lastEntry = i;
            if (!where.entry && text::EqualsNoCase(line.name, key))
                where.entry = i;
        }
    }
    return where;
}

bool BreaksLines(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool IsValidSection(std::string_view section) {
    return !section.empty() && !BreaksLines(section) && section.find(']') == std::string_view::npos;
}

bool IsValidKey(std::string_view key) {
    return !key.empty() && !BreaksLines(key) && key.find('=') == std::string_view::npos &&
           !key.starts_with(';') && !key.starts_with('[');
}

// The file's bytes; "" for a missing file, nullopt for one that is there but unreadable, so
// that a write never replaces contents it could not see.
std::optional<std::string> LoadForEdit(std::string_view path) {
    if (auto content = ReadFile(path))
        return content;
    if (Exists(path))
        return std::nullopt;
    return std::string();
}

} // namespace

std::string ReadProfileString(std::string_view path, std::string_view section, std::string_view key,
                              std::string_view fallback) {
    const std::optional<std::string> content = ReadFile(path);
    if (!content)
        return std::string(fallback);
    const std::vector<Line> lines = Parse(*content);
    const Location where = Locate(lines, TrimBlanks(section), TrimBlanks(key));
    if (!where.entry)
        return std::string(fallback);
    return std::string(Unquoted(lines[*where.entry].value));
}

bool WriteProfileString(std::string_view path, std::string_view section, std::string_view key,
                        std::string_view value) {
    section = TrimBlanks(section);
    key = TrimBlanks(key);
    if (!IsValidSection(section) || !IsValidKey(key) || BreaksLines(value))
        return false;
    std::optional<std::string> content = LoadForEdit(path);
    if (!content)
        return false;
    const std::vector<Line> lines = Parse(*content);
    const Location where = Locate(lines, section, key);
    const std::string_view lineEnd = LineEndOf(*content);
    std::string updated = *content;

    if (where.entry) {
        const Line& line = lines[*where.entry];
        if (line.value == value)
            return true;
        // The stored spelling of the key stays; the rest of the line is rewritten.
        const std::string entry = std::string(line.name) + "=" + std::string(value);
        updated.replace(line.begin, line.textEnd - line.begin, entry);
    } else if (where.section) {
        const Line& after = lines[where.lastEntry.value_or(*where.section)];
        const bool ended = after.end > after.textEnd;
        std::string entry = ended ? std::string() : std::string(lineEnd);
        entry += std::string(key) + "=" + std::string(value);
        if (ended)
            entry += lineEnd;
        updated.insert(after.end, entry);
    } else {
        if (!updated.empty() && updated.back() != '\n')
            updated += lineEnd;
        updated += "[" + std::string(section) + "]" + std::string(lineEnd);
        updated += std::string(key) + "=" + std::string(value) + std::string(lineEnd);
    }
    return WriteFileAtomic(path, updated);
}

bool DeleteProfileKey(std::string_view path, std::string_view section, std::string_view key) {
    const std::optional<std::string> content = LoadForEdit(path);
    if (!content)
        return false;
    const std::vector<Line> lines = Parse(*content);
    const Location where = Locate(lines, TrimBlanks(section), TrimBlanks(key));
    if (!where.entry)
        return true;
    const Line& line = lines[*where.entry];
    std::string updated = *content;
    updated.erase(line.begin, line.end - line.begin);
    return WriteFileAtomic(path, updated);
}

} // namespace vm::fs
