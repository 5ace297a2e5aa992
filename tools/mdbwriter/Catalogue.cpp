#include "mdbwriter/Catalogue.h"

#include <algorithm>

namespace vm::mdbwriter {
namespace {

// Every row is a function of (seed, table, row number), so readers' tests can ask for any row.
class Random {
public:
    Random(std::uint32_t seed, std::uint64_t salt, std::uint64_t row)
        : state_(seed * 0x9E3779B97F4A7C15ull ^ salt * 0xBF58476D1CE4E5B9ull ^ (row + 1)) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
    bool chance(int percent) { return below(100) < percent; }

private:
    std::uint64_t state_;
};

// U+4E00 leads the pool on purpose: its low byte is 0, which rules out compressed text.
const std::vector<std::string>& Characters() {
    static const std::vector<std::string> pool = [] {
        const std::string text = "一丁七万三上下不与专且世中丝为主义之乐也书了事二于云五井些亚交"
                                 "源码模块例程界面网络数据库图形多线程文件加密算法游戏工具系统窗口"
                                 "控件易用快速解析下载上传压缩音频视频编辑器浏览插件教程分类资源";
        std::vector<std::string> chars;
        for (std::size_t i = 0; i < text.size();) {
            const auto b = static_cast<unsigned char>(text[i]);
            const std::size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
            chars.push_back(text.substr(i, len));
            i += len;
        }
        return chars;
    }();
    return pool;
}

std::string Words(Random& random, int count) {
    const auto& pool = Characters();
    std::string out;
    for (int i = 0; i < count; ++i)
        out += pool[static_cast<std::size_t>(random.below(static_cast<int>(pool.size())))];
    return out;
}

int TopLevelCount(const CatalogueShape& shape) {
    return std::max(1, shape.categories / 20);
}

int ParentIndex(const CatalogueShape& shape, int index);

int Level(const CatalogueShape& shape, int index) {
    const int parent = ParentIndex(shape, index);
    return parent < 0 ? 1 : Level(shape, parent) + 1;
}

// -1 for a top-level category; otherwise an earlier category no deeper than level 3.
int ParentIndex(const CatalogueShape& shape, int index) {
    if (index < TopLevelCount(shape))
        return -1;
    Random random(shape.seed, 1, static_cast<std::uint64_t>(index));
    int parent = random.below(index);
    while (Level(shape, parent) >= 4)
        parent = ParentIndex(shape, parent);
    return parent;
}

Row TreeRow(const CatalogueShape& shape, int index) {
    Random random(shape.seed, 2, static_cast<std::uint64_t>(index));
    const int parent = ParentIndex(shape, index);
    Value intro = random.chance(30) ? Value(Null{}) : Str(Words(random, 5 + random.below(40)));
    return {Int(index + 1),
            Int(Level(shape, index)),
            Int(parent < 0 ? 0 : parent + 1),
            Str("分类" + std::to_string(index + 1) + Words(random, 2 + random.below(6))),
            std::move(intro),
            Int(random.below(100))};
}

Value Introduction(Random& random) {
    const int kind = random.below(100);
    if (kind < 40)
        return Null{};
    if (kind < 50)
        return Str("");
    if (kind < 85)
        return Str(Words(random, 3 + random.below(15))); // inline
    if (kind < 98)
        return Str(Words(random, 50 + random.below(250))); // one LVAL row
    // Several LVAL pages; plain ASCII is compressed, the Chinese is not.
    if (random.chance(50))
        return Str(
            std::string(4100 + random.below(2000), static_cast<char>('a' + random.below(26))));
    return Str(Words(random, 2100 + random.below(500)));
}

Row ListRow(const CatalogueShape& shape, int index) {
    Random random(shape.seed, 3, static_cast<std::uint64_t>(index));
    const int number = index + 1;
    Value address = random.chance(10)
                        ? Str("")
                        : Str("http://127.0.0.1:8080/files/" + std::to_string(number) + ".7z");
    Value video = random.chance(80) ? Value(Null{})
                                    : Str("http://127.0.0.1:8080/video/" + std::to_string(number));
    Value size = random.chance(20) ? Value(Null{})
                                   : Str(std::to_string(1 + random.below(900)) + "." +
                                         std::to_string(random.below(10)) + "MB");
    Value style = random.chance(10) ? Value(Null{}) : Int(random.below(4));
    return {Int(1 + random.below(std::max(1, shape.categories))),
            Str("资源" + std::to_string(number) + Words(random, 2 + random.below(12))),
            Introduction(random),
            Str("作者" + Words(random, 2 + random.below(3))),
            std::move(address),
            std::move(video),
            std::move(size),
            Int(1500000000 + static_cast<std::int64_t>(index) * 97 + random.below(97)),
            std::move(style),
            Int(random.below(1000)),
            Int(number)};
}

} // namespace

std::vector<Column> TreeColumns() {
    return {{"ID", ColumnType::Long},        {"层次", ColumnType::Integer},
            {"父ID", ColumnType::Long},      {"名称", ColumnType::Text, 255},
            {"介绍", ColumnType::Text, 255}, {"权重", ColumnType::Long}};
}

std::vector<Column> ListColumns() {
    return {{"ID", ColumnType::Long},        {"名称", ColumnType::Text, 255},
            {"介绍", ColumnType::Memo},      {"作者", ColumnType::Text, 50},
            {"地址", ColumnType::Text, 255}, {"视频", ColumnType::Text, 255},
            {"大小", ColumnType::Text, 50},  {"修改时间", ColumnType::Long},
            {"样式值", ColumnType::Integer}, {"权重", ColumnType::Long},
            {"编号", ColumnType::Long}};
}

std::vector<Row> TreeRows(const CatalogueShape& shape) {
    std::vector<Row> rows;
    for (int i = 0; i < shape.categories; ++i)
        rows.push_back(TreeRow(shape, i));
    return rows;
}

std::vector<Row> ListRows(const CatalogueShape& shape) {
    std::vector<Row> rows;
    for (int i = 0; i < shape.resources; ++i)
        rows.push_back(ListRow(shape, i));
    return rows;
}

bool WriteCatalogue(const std::string& path, const CatalogueShape& shape, std::string* error) {
    Writer writer({shape.password, shape.creationDate, true});
    const int tree = writer.addTable("Tree", TreeColumns());
    const int list = writer.addTable("List", ListColumns());
    bool ok = tree > 0 && list > 0;
    for (int i = 0; ok && i < shape.categories; ++i)
        ok = writer.addRow(tree, TreeRow(shape, i));
    for (int i = 0; ok && i < shape.resources; ++i)
        ok = writer.addRow(list, ListRow(shape, i));
    ok = ok && writer.save(path);
    if (!ok && error)
        *error = writer.error();
    return ok;
}

} // namespace vm::mdbwriter
