// The catalogue opened from .mdb files written by the project's Jet 4 writer: the rows held in
// memory against the literal reads and queries through the database classes, and the ways
// StartCatalogue ends.

#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueReader.h"
#include "catalogue/ListWindow.h"
#include "catalogue/LiteralCatalogue.h"
#include "mdbwriter/Catalogue.h"
#include "platform/shell/OpenerRecorder.h"
#include "sys/Endpoints.h"

#include <gtest/gtest.h>

#include <set>

namespace vm::catalogue {
namespace {

using mdbwriter::ColumnType;
using mdbwriter::Int;
using mdbwriter::Null;
using mdbwriter::Real;
using mdbwriter::Str;
using testing::ListWindow;
using testing::LiteralCatalogue;

// The writer takes UTF-8.
std::string U8(const char8_t* text) {
    return reinterpret_cast<const char*>(text);
}

std::vector<ResourceRecord> Records(const ResourceList& list) {
    std::vector<ResourceRecord> records;
    for (std::size_t i = 0; i < list.size(); ++i)
        records.push_back(list[i]);
    return records;
}

class CatalogueDbTest : public ::testing::Test {
protected:
    std::string FilePath() const { return (w_.folder().path() / "set" / "TreeList.mdb").string(); }
    std::string WindowsFilePath() const { return w_.folder().windowsPath() + "set\\TreeList.mdb"; }

    void WriteGenerated(int categories, int resources, const std::string& password) {
        mdbwriter::CatalogueShape shape;
        shape.categories = categories;
        shape.resources = resources;
        shape.seed = 7;
        shape.password = password;
        std::string error;
        ASSERT_TRUE(mdbwriter::WriteCatalogue(FilePath(), shape, &error)) << error;
    }

    // NULLs where the table allows them, an empty address beside a NULL one, a NULL category
    // beside category 0.
    void WriteEdgeCases() {
        mdbwriter::Writer writer({std::string(kCataloguePassword), 0, true});
        const int tree = writer.addTable("Tree", mdbwriter::TreeColumns());
        const int list = writer.addTable("List", mdbwriter::ListColumns());
        const auto category = [&](mdbwriter::Value id, int level, int parent, const char8_t* name) {
            ASSERT_TRUE(
                writer.addRow(tree, {id, Int(level), Int(parent), Str(U8(name)), Null{}, Int(0)}));
        };
        category(Int(0), 1, 0, u8"零");
        category(Null{}, 1, 0, u8"无号");
        category(Int(5), 1, 0, u8"五");
        category(Int(6), 2, 5, u8"六");
        const auto resource = [&](mdbwriter::Value id, const char* title, mdbwriter::Value address,
                                  int modified, int weight, int number) {
            ASSERT_TRUE(
                writer.addRow(list, {id, Str(title), Null{}, Null{}, address, Null{}, Null{},
                                     Int(modified), Null{}, Int(weight), Int(number)}));
        };
        resource(Int(0), "zero", Str("http://a/0"), 1000, 1, 1);
        resource(Null{}, "null category", Null{}, 2000, 0, 2);
        resource(Int(6), "six", Str(""), 3000, 2, 3);
        resource(Int(6), "six b", Str("http://A/6"), 4000, 2, 4);
        resource(Int(5), "five", Null{}, 1000 + 7 * 86400, 0, 5);
        ASSERT_TRUE(writer.save(FilePath())) << writer.error();
    }

    void ExpectSameAsLiteral(const std::vector<std::string>& searches) {
        LiteralCatalogue literal;
        ASSERT_TRUE(literal.Open(WindowsFilePath(), std::string(kCataloguePassword)));
        const auto data = OpenCatalogueData();
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(data->List(), literal.AllResources());
        EXPECT_EQ(data->Tree(), literal.AllCategories());
        EXPECT_EQ(data->DeepestLevel(), literal.MaxLevel());
        EXPECT_EQ(Records(LatestQuery(data)), literal.Latest());
        std::set<long long> categories = {0, -1, 99999};
        for (const CategoryNode& c : data->Tree())
            categories.insert(c.id);
        for (const long long c : categories) {
            EXPECT_EQ(Records(CategoryQuery(data, c)), literal.Category(c)) << c;
            EXPECT_EQ(CategoryName(data.get(), c), literal.CategoryName(c)) << c;
        }
        for (const std::string& s : searches)
            EXPECT_EQ(Records(SearchQuery(data, s)), literal.Search(s)) << s;
        std::set<std::string> addresses = {"", "http://nowhere/"};
        for (std::size_t i = 0; i < data->List().size() && i < 150; ++i)
            addresses.insert(data->List()[i].address);
        for (const std::string& a : addresses)
            EXPECT_EQ(CategoryPath(data.get(), a), literal.CategoryPath(a)) << a;
    }

    ListWindow w_;
};

TEST_F(CatalogueDbTest, RowsInMemoryAreWhatGetValueReads) {
    WriteGenerated(60, 1500, std::string(kCataloguePassword));
    ASSERT_TRUE(OpenCatalogue());
    EXPECT_EQ(OpenCatalogueData()->List().size(), 1500u);
    ExpectSameAsLiteral({text::Gbk(u8"资源1"), text::Gbk(u8"@作者"), text::Gbk(u8"源码,@作者"),
                         "a,,b", ",", "@", text::Gbk(u8"资源12,模块"), "nothing"});
    CloseCatalogue();
}

TEST_F(CatalogueDbTest, NullsAndEmptyTextsAsTheFindsSeeThem) {
    WriteEdgeCases();
    ASSERT_TRUE(OpenCatalogue());
    const auto data = OpenCatalogueData();
    ASSERT_EQ(data->List().size(), 5u);
    EXPECT_EQ(data->List()[1].category, 0);
    EXPECT_EQ(data->List()[1].size, "");
    EXPECT_EQ(data->List()[1].style, 0);
    EXPECT_EQ(Records(CategoryQuery(data, 0)).size(), 1u);
    // "" finds the row whose address is empty, never the NULL one; the address match ignores
    // letter case.
    EXPECT_EQ(CategoryPath(data.get(), ""), text::Gbk(u8"五\\六\\"));
    EXPECT_EQ(CategoryPath(data.get(), "http://a/6"), text::Gbk(u8"五\\六\\"));
    ExpectSameAsLiteral({"six", "@", "zero,six"});
}

// The rows come straight from the reader only where they read as the recordsets would read them:
// names in another letter case, a column or a whole table missing. A column of another type
// sends the file through the connection instead; either way the rows are the literal ones.
TEST_F(CatalogueDbTest, UnusualSchemasReadAsTheRecordsetsReadThem) {
    struct Shape {
        const char* what;
        std::vector<mdbwriter::Column> list;
        bool withTree;
        DirectOpen expected;
    };
    const auto listColumns = [](auto change) {
        std::vector<mdbwriter::Column> columns = mdbwriter::ListColumns();
        change(columns);
        return columns;
    };
    const std::vector<Shape> shapes = {
        {"times as doubles, sizes as numbers", listColumns([](auto& c) {
             c[7].type = ColumnType::Double;
             c[6].type = ColumnType::Long;
         }),
         true, DirectOpen::NotServed},
        {"names in other cases, no video column", listColumns([](auto& c) {
             c[0].name = "id";
             c.erase(c.begin() + 5);
         }),
         true, DirectOpen::Read},
        {"no Tree table", mdbwriter::ListColumns(), false, DirectOpen::Read},
    };
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.what);
        mdbwriter::Writer writer({std::string(kCataloguePassword), 0, true});
        if (shape.withTree) {
            const int tree = writer.addTable("Tree", mdbwriter::TreeColumns());
            ASSERT_TRUE(writer.addRow(tree, {Int(1), Int(1), Int(0), Str("a"), Null{}, Int(0)}));
        }
        const int list = writer.addTable("List", shape.list);
        for (int i = 0; i < 30; ++i) {
            mdbwriter::Row row;
            for (const mdbwriter::Column& c : shape.list) {
                const bool null = i % 7 == 3;
                if (null)
                    row.push_back(Null{});
                else if (c.type == ColumnType::Double)
                    row.push_back(Real(1500000000.75 - i * 90000.5 * (i % 2 ? 1 : -1)));
                else if (c.type == ColumnType::Text || c.type == ColumnType::Memo)
                    row.push_back(Str(c.name + " " + std::to_string(i % 5)));
                else if (c.type == ColumnType::Integer || c.name == U8(u8"大小"))
                    row.push_back(Int(c.type == ColumnType::Integer ? i % 4 : -i));
                else
                    row.push_back(Int(i % 4 + (i % 3 == 0 ? 1500000000 : 0)));
            }
            ASSERT_TRUE(writer.addRow(list, row));
        }
        ASSERT_TRUE(writer.save(FilePath())) << writer.error();

        std::shared_ptr<const CatalogueData> direct;
        EXPECT_EQ(ReadCatalogueDirect(WindowsFilePath(), std::string(kCataloguePassword), direct),
                  shape.expected);
        ASSERT_TRUE(OpenCatalogue());
        ASSERT_EQ(OpenCatalogueData()->List().size(), 30u);
        ExpectSameAsLiteral({"3", text::Gbk(u8"名称"), "@"});
        CloseCatalogue();
    }
}

TEST_F(CatalogueDbTest, AnotherPasswordDoesNotOpen) {
    WriteGenerated(3, 10, "other");
    CloseCatalogue(); // never opened: nothing happens
    EXPECT_FALSE(OpenCatalogue());
    EXPECT_EQ(OpenCatalogueData(), nullptr);
    std::shared_ptr<const CatalogueData> data;
    EXPECT_EQ(ReadCatalogueDirect(WindowsFilePath(), std::string(kCataloguePassword), data),
              DirectOpen::Failed);
    EXPECT_EQ(data, nullptr);
}

TEST_F(CatalogueDbTest, AListShownOutlivesTheClosedCatalogue) {
    WriteGenerated(5, 40, std::string(kCataloguePassword));
    StartCatalogue(w_.window());
    EXPECT_EQ(w_.Title(), "最近更新");
    ASSERT_FALSE(CurrentList().empty());
    const ResourceRecord first = *CurrentList().At(1);
    CloseCatalogue();
    EXPECT_EQ(OpenCatalogueData(), nullptr);
    EXPECT_EQ(*CurrentList().At(1), first);
    // Closed, a category shows nothing new; reopened, everything is back.
    ShowList(ui::kCategory, first.category);
    EXPECT_EQ(w_.Title(), "最近更新");
    StartCatalogue(w_.window());
    ShowList(ui::kCategory, first.category);
    EXPECT_NE(w_.Title(), "最近更新");
}

TEST_F(CatalogueDbTest, StartWithoutAFileShowsNothing) {
    StartCatalogue(w_.window());
    EXPECT_EQ(w_.C("树型框1").itemCount(), 0);
    EXPECT_TRUE(gui::headless::ShownBoxes().empty());
    EXPECT_FALSE(gui::Application::instance().ended());
}

TEST_F(CatalogueDbTest, StartShowsTheTreeAndTheLatestUpdates) {
    WriteGenerated(40, 300, std::string(kCataloguePassword));
    StartCatalogue(w_.window());
    gui::Control& tree = w_.C("树型框1");
    EXPECT_EQ(tree.itemCount(), 41);
    EXPECT_EQ(tree.itemText(tree.children(0)[0]), "最近更新");
    EXPECT_EQ(w_.Title(), "最近更新");
    EXPECT_NE(w_.List().find("<div id=\"bg\">"), std::string::npos);
    CloseCatalogue();
}

TEST_F(CatalogueDbTest, ADamagedFileAsksForFeedbackAndEnds) {
    test::OpenerRecorder::Instance().Clear();
    vm::testing::WriteBytes(FilePath(), std::string(4096, '\x5A'));
    gui::headless::QueueAnswer(gui::IDYES);
    StartCatalogue(w_.window());
    EXPECT_FALSE(w_.window().visible());
    const auto& boxes = gui::headless::ShownBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "打开数据库失败,请重新打开程序尝试!若多次打开失败请到官方反馈!\r\n"
                             "是否进行反馈?");
    EXPECT_EQ(boxes[0].caption, "Vellumark");
    EXPECT_EQ(boxes[0].style, 68);
    EXPECT_TRUE(gui::Application::instance().ended());
    EXPECT_EQ(gui::Application::instance().exitCode(), 0);
    const auto opened = test::OpenerRecorder::Instance().WaitFor(1);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], sys::CurrentEndpoints().forum + "/thread-118071-1-1.html");
}

TEST_F(CatalogueDbTest, ADamagedFileAnsweredNoOpensNothing) {
    test::OpenerRecorder::Instance().Clear();
    vm::testing::WriteBytes(FilePath(), "not a database");
    StartCatalogue(w_.window());
    EXPECT_TRUE(gui::Application::instance().ended());
    kernel::Sleep(300);
    EXPECT_TRUE(test::OpenerRecorder::Instance().Lines().empty());
}

} // namespace
} // namespace vm::catalogue
