#include "AdoTestSupport.h"

#include <algorithm>
#include <filesystem>
#include <functional>

namespace vm::ado::testing {
namespace {

using automation::CreateObject;
using automation::LastCallError;
using automation::LastCallException;

class RecordsetTest : public AdoTest {
protected:
    static int Id(const Object& recordset) {
        return recordset.GetObject("Fields").GetObject("Item", {Variant("id")}).GetInt("Value");
    }
    static Object Field(const Object& recordset, const std::string& name) {
        return recordset.GetObject("Fields").GetObject("Item", {Variant(name)});
    }
};

TEST_F(RecordsetTest, NavigationBofEofAndCounts) {
    MakeItems(5);
    const Object connection = OpenConnection();
    const Object rs = OpenRecordset(connection, "select * from items order by id");
    EXPECT_EQ(rs.GetInt("RecordCount"), 5);
    EXPECT_FALSE(rs.GetBool("BOF"));
    EXPECT_EQ(Id(rs), 1);
    rs.Call("MoveLast");
    EXPECT_EQ(Id(rs), 5);
    rs.Call("MoveNext");
    EXPECT_TRUE(rs.GetBool("EOF"));
    // Reading at EOF and moving beyond it fail; the position stays.
    Field(rs, "id").Get("Value");
    EXPECT_EQ(LastCallError(), automation::kException);
    rs.Call("MoveNext");
    EXPECT_EQ(LastCallError(), automation::kException);
    EXPECT_TRUE(rs.GetBool("EOF"));
    rs.Call("MovePrevious");
    EXPECT_EQ(Id(rs), 5);
    rs.Call("MoveFirst");
    rs.Call("MovePrevious");
    EXPECT_TRUE(rs.GetBool("BOF"));
    EXPECT_FALSE(rs.GetBool("EOF"));

    struct MoveCase {
        int count;
        Variant start;
        bool eof, bof;
        int id;
    };
    const std::vector<MoveCase> moves = {
        {4, Variant(std::int32_t{1}), false, false, 5}, // from the first record
        {0, Variant(std::int32_t{1}), false, false, 1},
        {-1, Variant(std::int32_t{2}), false, false, 4}, // from the last
        {-2, Variant::Missing(), false, false, 2},       // from the current one
        {9, Variant(std::int32_t{1}), true, false, 0},
        {-9, Variant(std::int32_t{2}), false, true, 0},
    };
    for (const MoveCase& m : moves) {
        rs.Call("Move", {Variant(std::int32_t{m.count}), m.start});
        EXPECT_EQ(LastCallError(), 0) << m.count << " " << LastCallException();
        EXPECT_EQ(rs.GetBool("EOF"), m.eof) << m.count;
        EXPECT_EQ(rs.GetBool("BOF"), m.bof) << m.count;
        if (m.id) {
            EXPECT_EQ(Id(rs), m.id) << m.count;
        }
    }

    // An empty recordset is at BOF and EOF at once; MoveFirst on it is an error.
    const Object empty = OpenRecordset(connection, "select * from items where id < 0");
    EXPECT_TRUE(empty.GetBool("BOF"));
    EXPECT_TRUE(empty.GetBool("EOF"));
    EXPECT_EQ(empty.GetInt("RecordCount"), 0);
    empty.Call("MoveFirst");
    EXPECT_EQ(LastCallError(), automation::kException);

    // What Execute returns is forward-only: no count, no way back.
    const Object forward = connection.CallObject("Execute", {Variant("select * from items")});
    EXPECT_EQ(forward.GetInt("RecordCount"), -1);
    forward.Call("MoveNext");
    forward.Call("MovePrevious");
    EXPECT_EQ(LastCallError(), automation::kException);

    // A closed recordset refuses everything but Open.
    rs.Call("Close");
    EXPECT_EQ(LastCallError(), 0);
    rs.Get("EOF");
    EXPECT_EQ(LastCallError(), automation::kException);
    rs.Call("Close");
    EXPECT_EQ(LastCallError(), automation::kException);
}

TEST_F(RecordsetTest, FindCriteriaTable) {
    MakeItems(12);
    const Object connection = OpenConnection();
    const Object rs = OpenRecordset(connection, "select * from items order by id");
    struct Case {
        std::string criteria;
        int skip;
        int direction;
        int startId; // where to stand first
        int foundId; // 0: not found
    };
    const std::vector<Case> cases = {
        {"id=7", 0, 1, 1, 7},
        {"ID = 7", 0, 1, 8, 0},
        {"id=7", 0, -1, 12, 7},
        {"id>10", 0, 1, 1, 11},
        {"id>=10", 1, 1, 10, 11}, // skip the current row
        {"id<3", 0, -1, 12, 2},
        {"id<=0", 0, 1, 1, 0},
        {"id<>1", 0, 1, 1, 2},
        {"qty = 0", 0, 1, 1, 4},
        {"price > 16.4", 0, 1, 1, 11},
        {"name='item5'", 0, 1, 1, 5},
        {"name = 'ITEM5'", 0, 1, 1, 5}, // texts ignore ASCII case
        {"name LIKE 'item1*'", 0, 1, 2, 10},
        {"name like '%m1_'", 0, 1, 1, 0},
        {"name LIKE '" + Gbk(u8"条目") + "%'", 0, 1, 1, 3},
        {"[name] = '" + Gbk(u8"条目") + "9'", 0, 1, 1, 9},
        {"made = #2024-05-03 10:00:00#", 0, 1, 1, 2},
        {"made > #5/8/2024#", 0, 1, 1, 7},
    };
    for (const Case& c : cases) {
        rs.Call("MoveFirst");
        rs.Call("Move", {Variant(std::int32_t{c.startId - 1}), Variant(std::int32_t{1})});
        rs.Call("Find", {Variant(c.criteria), Variant(std::int32_t{c.skip}),
                         Variant(std::int32_t{c.direction})});
        EXPECT_EQ(LastCallError(), 0) << c.criteria << ": " << LastCallException();
        const bool atEnd = c.direction < 0 ? rs.GetBool("BOF") : rs.GetBool("EOF");
        if (c.foundId == 0) {
            EXPECT_TRUE(atEnd) << c.criteria;
        } else {
            EXPECT_FALSE(atEnd) << c.criteria;
            EXPECT_EQ(Id(rs), c.foundId) << c.criteria;
        }
    }
    // Repeating a find with skip 1 walks through every match.
    rs.Call("MoveFirst");
    std::vector<int> found;
    rs.Call("Find", {Variant("qty=2")});
    while (!rs.GetBool("EOF")) {
        found.push_back(Id(rs));
        rs.Call("Find", {Variant("qty=2"), Variant(std::int32_t{1})});
    }
    EXPECT_EQ(found, (std::vector<int>{2, 6, 10}));

    // Bad criteria and a find without a current record are errors.
    const std::vector<std::string> bad = {"nosuch=1",         "id=",    "id = 'x",
                                          "id=1 AND qty=2",   "id ~ 3", "name LIKE 5",
                                          "made = #notadate#"};
    for (const std::string& criteria : bad) {
        rs.Call("MoveFirst");
        rs.Call("Find", {Variant(criteria)});
        EXPECT_EQ(LastCallError(), automation::kException) << criteria;
    }
    rs.Call("MoveLast");
    rs.Call("MoveNext");
    rs.Call("Find", {Variant("id=1")});
    EXPECT_EQ(LastCallError(), automation::kException);
}

TEST_F(RecordsetTest, FilterAndSort) {
    MakeItems(12);
    const Object connection = OpenConnection();
    const Object rs = OpenRecordset(connection, "select * from items order by id");
    struct Case {
        Variant filter;
        int count;
        int firstId;
    };
    const std::vector<Case> cases = {
        {Variant("qty = 1"), 3, 1},
        {Variant("qty = 1 OR qty = 2"), 6, 1},
        {Variant("qty = 1 AND id > 4"), 2, 5},
        {Variant("(qty = 1 OR qty = 3) AND id > 6"), 3, 7},
        {Variant("name LIKE '" + Gbk(u8"条目") + "*'"), 4, 3},
        {Variant("id > 100"), 0, 0},
        {Variant(""), 12, 1},
        {Variant(std::int32_t{0}), 12, 1},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(rs.Put("Filter", c.filter)) << LastCallException();
        EXPECT_EQ(rs.GetInt("RecordCount"), c.count);
        if (c.firstId) {
            EXPECT_EQ(Id(rs), c.firstId);
        } else {
            EXPECT_TRUE(rs.GetBool("EOF"));
        }
    }
    EXPECT_FALSE(rs.Put("Filter", Variant("qty ==")));
    EXPECT_EQ(rs.GetInt("RecordCount"), 12);

    EXPECT_TRUE(rs.Put("Sort", Variant("qty DESC, id")));
    std::vector<int> order;
    for (rs.Call("MoveFirst"); !rs.GetBool("EOF"); rs.Call("MoveNext"))
        order.push_back(Id(rs));
    EXPECT_EQ(order, (std::vector<int>{3, 7, 11, 2, 6, 10, 1, 5, 9, 4, 8, 12}));
}

TEST_F(RecordsetTest, PagingTable) {
    MakeItems(23);
    const Object connection = OpenConnection();
    const Object rs = OpenRecordset(connection, "select * from items order by id");
    EXPECT_EQ(rs.GetInt("PageSize"), 10);
    EXPECT_EQ(rs.GetInt("PageCount"), 3);
    struct Case {
        int pageSize;
        int page;
        bool accepted;
        int pageCount;
        int firstId;
        int absolutePosition;
    };
    const std::vector<Case> cases = {
        {8, 1, true, 3, 1, 1},    {8, 3, true, 3, 17, 17}, {8, 4, false, 3, 17, 17},
        {5, 5, true, 5, 21, 21},  {23, 1, true, 1, 1, 1},  {1, 23, true, 23, 23, 23},
        {7, 0, false, 4, 23, 23},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(rs.Put("pagesize", Variant(std::int32_t{c.pageSize})));
        EXPECT_EQ(rs.Put("absolutepage", Variant(std::int32_t{c.page})), c.accepted) << c.page;
        EXPECT_EQ(rs.GetInt("pagecount"), c.pageCount);
        EXPECT_EQ(Id(rs), c.firstId) << c.pageSize << "/" << c.page;
        EXPECT_EQ(rs.GetInt("AbsolutePosition"), c.absolutePosition);
    }
    rs.Put("PageSize", Variant(std::int32_t{10}));
    rs.Put("AbsolutePosition", Variant(std::int32_t{15}));
    EXPECT_EQ(Id(rs), 15);
    EXPECT_EQ(rs.GetInt("AbsolutePage"), 2);
    rs.Call("MoveLast");
    rs.Call("MoveNext");
    EXPECT_EQ(rs.GetInt("AbsolutePosition"), -3);
    EXPECT_EQ(rs.GetInt("AbsolutePage"), -3);
    EXPECT_FALSE(rs.Put("PageSize", Variant(std::int32_t{0})));
    // Bookmarks return to a row.
    rs.Call("MoveFirst");
    rs.Call("Move", {Variant(std::int32_t{4})});
    const Variant mark = rs.Get("Bookmark");
    rs.Call("MoveLast");
    EXPECT_TRUE(rs.Put("Bookmark", mark));
    EXPECT_EQ(Id(rs), 5);
}

TEST_F(RecordsetTest, AddNewUpdateDeleteWriteThrough) {
    MakeItems(3);
    const Object connection = OpenConnection();
    const Object rs = OpenRecordset(connection, "select * from items order by id");
    rs.Call("AddNew");
    ASSERT_EQ(LastCallError(), 0) << LastCallException();
    EXPECT_EQ(rs.GetInt("EditMode"), 2);
    EXPECT_TRUE(Field(rs, "name").Put("Value", Variant(Gbk(u8"新条目"))));
    EXPECT_TRUE(Field(rs, "qty").Put("Value", Variant("7"))); // converted to the column's type
    EXPECT_FALSE(Field(rs, "qty").Put("Value", Variant("seven")));
    rs.Call("Update");
    ASSERT_EQ(LastCallError(), 0) << LastCallException();
    EXPECT_EQ(rs.GetInt("RecordCount"), 4);
    EXPECT_EQ(Id(rs), 4); // the counter the database assigned is read back
    EXPECT_EQ(Scalar(db_, "select name || ':' || qty from items where id = 4"),
              "\xe6\x96\xb0\xe6\x9d\xa1\xe7\x9b\xae:7");

    rs.Call("MoveFirst");
    Field(rs, "price").Put("Value", Variant(99.5));
    EXPECT_EQ(rs.GetInt("EditMode"), 1);
    EXPECT_DOUBLE_EQ(Field(rs, "price").GetNumber("OriginalValue"), 1.5);
    rs.Call("MoveNext"); // moving on saves the edit
    EXPECT_EQ(LastCallError(), 0);
    EXPECT_EQ(Scalar(db_, "select price from items where id = 1"), "99.5");

    // Update with field and value lists.
    rs.Call("Update", {Variant::Array({Variant("qty"), Variant("name")}),
                       Variant::Array({Variant(std::int32_t{42}), Variant("renamed")})});
    EXPECT_EQ(LastCallError(), 0) << LastCallException();
    EXPECT_EQ(Scalar(db_, "select qty || name from items where id = 2"), "42renamed");

    // CancelUpdate restores the row.
    Field(rs, "name").Put("Value", Variant("never"));
    rs.Call("CancelUpdate");
    EXPECT_EQ(Field(rs, "name").GetText("Value"), "renamed");

    rs.Call("Delete");
    EXPECT_EQ(LastCallError(), 0);
    EXPECT_EQ(rs.GetInt("RecordCount"), 3);
    Field(rs, "id").Get("Value");
    EXPECT_EQ(LastCallError(), automation::kException); // the deleted row is still current
    rs.Call("MoveNext");
    EXPECT_EQ(Id(rs), 3);
    EXPECT_EQ(Scalar(db_, "select count(*) from items where id = 2"), "0");

    // A change behind the recordset's back: the row cannot be located, nothing is written.
    Sql(db_, "update items set name = 'changed' where id = 3");
    const Object stale = OpenRecordset(connection, "select name, qty from items where id = 4");
    Sql(db_, "update items set qty = 8 where id = 4");
    Field(stale, "qty").Put("Value", Variant(std::int32_t{1}));
    stale.Call("Update");
    EXPECT_EQ(LastCallError(), automation::kException);
    EXPECT_NE(LastProviderError(connection).find("cannot be located"), std::string::npos);
    stale.Call("CancelUpdate");
    EXPECT_EQ(Scalar(db_, "select qty from items where id = 4"), "8");
}

TEST_F(RecordsetTest, LockTypesAndBatchUpdates) {
    MakeItems(4);
    const Object connection = OpenConnection();
    const Object readOnly = OpenRecordset(connection, "select * from items", 1, 1);
    EXPECT_FALSE(Field(readOnly, "qty").Put("Value", Variant(std::int32_t{5})));
    readOnly.Call("AddNew");
    EXPECT_EQ(LastCallError(), automation::kException);
    readOnly.Call("Delete");
    EXPECT_EQ(LastCallError(), automation::kException);

    // Expression columns cannot be written.
    const Object computed = OpenRecordset(connection, "select id, qty * 2 as twice from items");
    EXPECT_FALSE(Field(computed, "twice").Put("Value", Variant(std::int32_t{1})));

    const Object batch = OpenRecordset(connection, "select * from items order by id", 1, 4);
    Field(batch, "qty").Put("Value", Variant(std::int32_t{50}));
    batch.Call("MoveNext");
    batch.Call("Delete");
    batch.Call("MoveNext");
    batch.Call("AddNew");
    Field(batch, "name").Put("Value", Variant("batched"));
    batch.Call("Update");
    EXPECT_EQ(LastCallError(), 0);
    // Nothing reached the file yet.
    EXPECT_EQ(Scalar(db_, "select count(*) from items"), "4");
    EXPECT_TRUE(batch.Put("Filter", Variant(std::int32_t{1})));
    EXPECT_EQ(batch.GetInt("RecordCount"), 2); // the edited and the new row (deleted ones hide)
    batch.Put("Filter", Variant(std::int32_t{0}));
    batch.Call("UpdateBatch");
    EXPECT_EQ(LastCallError(), 0) << LastCallException();
    EXPECT_EQ(Scalar(db_, "select group_concat(id || '=' || ifnull(qty, ''), ',') from items"),
              "1=50,3=3,4=0,5=");
    EXPECT_EQ(Scalar(db_, "select name from items where id = 5"), "batched");

    // CancelBatch forgets pending changes.
    batch.Call("MoveFirst");
    Field(batch, "qty").Put("Value", Variant(std::int32_t{77}));
    batch.Call("Update");
    batch.Call("CancelBatch");
    batch.Call("MoveFirst");
    EXPECT_EQ(Field(batch, "qty").GetInt("Value"), 50);
}

TEST_F(RecordsetTest, TableOpenCommandSourceAndActiveConnection) {
    MakeItems(6);
    const Object connection = OpenConnection();
    const Object rs = CreateObject("ADODB.RecordSet");
    // Without a connection there is nothing to open on.
    rs.Call("Open", {Variant("items"), Variant::Missing(), Variant(std::int32_t{1}),
                     Variant(std::int32_t{3}), Variant(std::int32_t{2})});
    EXPECT_EQ(LastCallError(), automation::kException);
    EXPECT_TRUE(rs.Put("ActiveConnection", Variant(connection)));
    rs.Call("Open", {Variant("items"), Variant::Missing(), Variant(std::int32_t{1}),
                     Variant(std::int32_t{3}), Variant(std::int32_t{2})});
    ASSERT_EQ(LastCallError(), 0) << LastCallException();
    EXPECT_EQ(rs.GetText("Source"), "select * from items");
    EXPECT_EQ(rs.GetInt("RecordCount"), 6);
    EXPECT_TRUE(rs.GetObject("ActiveConnection") == connection);
    EXPECT_EQ(rs.GetObject("Fields").GetInt("Count"), 5);
    EXPECT_EQ(rs.GetObject("Fields").GetObject("Item", {Variant(std::int32_t{1})}).GetText("Name"),
              "name");
    rs.GetObject("Fields").GetObject("Item", {Variant(std::int32_t{5})});
    EXPECT_EQ(LastCallError(), automation::kException);
    // Field objects of an earlier open describe nothing once the recordset reopens.
    const Object oldField = Field(rs, "id");
    rs.Call("Close");
    rs.Call("Open", {Variant("select * from items where id > 3")});
    EXPECT_EQ(LastCallError(), 0);
    oldField.Get("Value");
    EXPECT_EQ(LastCallError(), automation::kException);
    EXPECT_EQ(Id(rs), 4);

    // A connection string opens a connection of the recordset's own.
    const Object own = CreateObject("ADODB.Recordset");
    own.Call("Open",
             {Variant("select count(*) as n from items"), Variant(SqliteConnectionString(db_))});
    ASSERT_EQ(LastCallError(), 0) << LastCallException();
    EXPECT_EQ(Field(own, "n").GetInt("Value"), 6);

    // An action statement through Open runs and leaves the recordset closed.
    rs.Call("Close");
    rs.Call("Open", {Variant("delete from items where id = 6")});
    EXPECT_EQ(LastCallError(), 0);
    EXPECT_EQ(rs.GetInt("State"), 0);
    EXPECT_EQ(Scalar(db_, "select count(*) from items"), "5");
}

TEST_F(RecordsetTest, SaveXmlAndReopenWithMsPersist) {
    MakeItems(4);
    Sql(db_, "update items set name = NULL where id = 2; update items set name = 'a<b&''c\"' "
             "where id = 4; create table blobs(b BLOB, flag BOOLEAN); insert into blobs "
             "values(x'00ff10', 1);");
    const Object connection = OpenConnection();
    const Object rs = OpenRecordset(connection, "select * from items order by id");
    const std::string path = (folder_ / "saved.xml").string();
    rs.Call("Save", {Variant(path), Variant(std::int32_t{1})});
    ASSERT_EQ(LastCallError(), 0) << LastCallException();
    // Saving again over the file, or as ADTG, fails and leaves the file alone.
    const std::string saved = vm::testing::ReadBytes(path);
    rs.Call("Save", {Variant(path), Variant(std::int32_t{1})});
    EXPECT_EQ(LastCallError(), automation::kException);
    rs.Call("Save", {Variant((folder_ / "saved.adtg").string()), Variant(std::int32_t{0})});
    EXPECT_EQ(LastCallError(), automation::kException);
    EXPECT_NE(LastCallException().find("ADTG"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(folder_ / "saved.adtg"));
    EXPECT_EQ(vm::testing::ReadBytes(path), saved);

    const Object back = CreateObject("ADODB.Recordset");
    back.Call("Open", {Variant(path), Variant("Provider=MSPersist"), Variant(std::int32_t{1}),
                       Variant(std::int32_t{4})});
    ASSERT_EQ(LastCallError(), 0) << LastCallException();
    EXPECT_EQ(back.GetInt("RecordCount"), 4);
    EXPECT_EQ(back.GetObject("Fields").GetInt("Count"), 5);
    for (int id = 1; id <= 4; ++id) {
        rs.Call("Move", {Variant(std::int32_t{id - 1}), Variant(std::int32_t{1})});
        back.Call("Move", {Variant(std::int32_t{id - 1}), Variant(std::int32_t{1})});
        for (const char* name : {"id", "name", "qty", "price", "made"}) {
            const Variant a = Field(rs, name).Get("Value");
            const Variant b = Field(back, name).Get("Value");
            EXPECT_TRUE(a == b) << name << " of row " << id;
        }
        EXPECT_EQ(Field(back, "id").GetInt("Type"), Field(rs, "id").GetInt("Type"));
    }
    // The reopened recordset is disconnected; edits stay in it.
    back.Call("MoveFirst");
    EXPECT_TRUE(Field(back, "qty").Put("Value", Variant(std::int32_t{9})));
    back.Call("UpdateBatch");
    EXPECT_EQ(LastCallError(), 0);
    EXPECT_EQ(Scalar(db_, "select qty from items where id = 1"), "1");

    // Bytes and logical values survive too.
    const Object blobs = OpenRecordset(connection, "select * from blobs");
    const std::string blobPath = (folder_ / "blobs.xml").string();
    blobs.Call("Save", {Variant(blobPath), Variant(std::int32_t{1})});
    const Object blobsBack = CreateObject("ADODB.Recordset");
    blobsBack.Call("Open", {Variant(blobPath), Variant("Provider=MSPersist")});
    ASSERT_EQ(LastCallError(), 0) << LastCallException();
    EXPECT_TRUE(Field(blobsBack, "b").Get("Value") == Variant(automation::Bytes{0, 0xFF, 0x10}));
    EXPECT_TRUE(Field(blobsBack, "flag").Get("Value") == Variant(true));

    // Damaged and foreign files fail with a clear error and open nothing.
    const std::vector<std::string> damaged = {
        saved.substr(0, saved.size() / 2),
        std::string("\x00\x01"
                    "ADTG",
                    6) +
            std::string(100, 'z'),
        "<xml><rs:data><z:row a='1'/></rs:data></xml>", "",
        std::string(saved).replace(saved.find("price='") + 7, 1, "x")};
    for (std::size_t i = 0; i < damaged.size(); ++i) {
        const auto file = folder_ / ("damaged" + std::to_string(i) + ".xml");
        vm::testing::WriteBytes(file, damaged[i]);
        const Object broken = CreateObject("ADODB.Recordset");
        broken.Call("Open", {Variant(file.string()), Variant("Provider=MSPersist")});
        EXPECT_EQ(LastCallError(), automation::kException) << i;
        EXPECT_EQ(broken.GetInt("State"), 0) << i;
    }
}

// ---- forward-only, read-only recordsets: rows fetched as the reader moves on ---------------

class ForwardOnlyTest : public RecordsetTest {
protected:
    struct Read {
        std::vector<std::vector<Variant>> rows;
        std::vector<std::int64_t> sizes; // ActualSize of every value, row by row
    };

    // Every value of every remaining row, through Field objects taken once.
    static Read ReadAll(const Object& rs) {
        Read out;
        const Object fields = rs.GetObject("Fields");
        std::vector<Object> items;
        for (int i = 0; i < fields.GetInt("Count"); ++i)
            items.push_back(fields.GetObject("Item", {Variant(std::int32_t{i})}));
        while (!rs.GetBool("EOF")) {
            std::vector<Variant> row;
            for (const Object& item : items) {
                row.push_back(item.Get("Value"));
                out.sizes.push_back(item.GetInt("ActualSize"));
            }
            out.rows.push_back(std::move(row));
            rs.Call("MoveNext");
            if (LastCallError() != 0)
                break;
        }
        return out;
    }

    static std::vector<int> Ids(const Object& rs) {
        std::vector<int> ids;
        while (!rs.GetBool("EOF")) {
            ids.push_back(Id(rs));
            rs.Call("MoveNext");
        }
        return ids;
    }

    static std::vector<int> Range(int from, int to) {
        std::vector<int> out;
        for (int i = from; i <= to; ++i)
            out.push_back(i);
        return out;
    }
};

TEST_F(ForwardOnlyTest, ReadsTheSameValuesAsTheKeysetCursor) {
    // Texts (Chinese, empty, NULL), wide integers, dates, blobs, reals and expression columns,
    // one of them NULL in its first rows.
    Sql(db_, "create table mixed(id INTEGER PRIMARY KEY, title TEXT, note VARCHAR(20), big "
             "BIGINT, made DATETIME, data BLOB, price REAL);"
             "with recursive n(i) as (select 1 union all select i + 1 from n where i < 1500) "
             "insert into mixed select i, case when i % 7 = 0 then null when i % 3 = 0 then "
             "'\xe6\x9d\xa1\xe7\x9b\xae' || i else 'item' || i end, case when i % 5 = 0 then '' "
             "else 'n' || i end, case when i % 4 = 0 then null else 5000000000 + i end, "
             "'2024-05-0' || (1 + i % 9) || ' 10:00:00', case when i % 6 = 0 then null else "
             "cast(printf('%08x', i) as blob) || x'00ff' end, i * 1.25 from n;");
    const std::string sql = "select *, id * 2 as twice, null as blank, case when id > 5 then "
                            "id end as late, price + 1 as more, x'0102' as bytes from mixed "
                            "order by id";
    const Object connection = OpenConnection();
    const Object keyset = OpenRecordset(connection, sql, 1, 3);
    const Object forward = OpenRecordset(connection, sql, 0, 1);
    EXPECT_EQ(keyset.GetInt("RecordCount"), 1500);
    EXPECT_EQ(forward.GetInt("RecordCount"), -1);

    const Object keyFields = keyset.GetObject("Fields");
    const Object fwdFields = forward.GetObject("Fields");
    ASSERT_EQ(fwdFields.GetInt("Count"), keyFields.GetInt("Count"));
    for (int i = 0; i < keyFields.GetInt("Count"); ++i) {
        const Object a = keyFields.GetObject("Item", {Variant(std::int32_t{i})});
        const Object b = fwdFields.GetObject("Item", {Variant(std::int32_t{i})});
        EXPECT_EQ(b.GetText("Name"), a.GetText("Name"));
        EXPECT_EQ(b.GetInt("Type"), a.GetInt("Type")) << a.GetText("Name");
        EXPECT_EQ(b.GetInt("DefinedSize"), a.GetInt("DefinedSize")) << a.GetText("Name");
        EXPECT_EQ(b.GetInt("Attributes"), a.GetInt("Attributes")) << a.GetText("Name");
    }

    const Read expected = ReadAll(keyset);
    const Read actual = ReadAll(forward);
    ASSERT_EQ(actual.rows.size(), 1500u);
    ASSERT_EQ(expected.rows.size(), actual.rows.size());
    for (std::size_t r = 0; r < expected.rows.size(); ++r)
        for (std::size_t c = 0; c < expected.rows[r].size(); ++c) {
            const Variant& a = expected.rows[r][c];
            const Variant& b = actual.rows[r][c];
            ASSERT_TRUE(a.Type() == b.Type() && (a == b || (a.IsNull() && b.IsNull())))
                << "row " << r << " column " << c;
        }
    EXPECT_EQ(actual.sizes, expected.sizes);
    // Past the last row: EOF but not BOF, and no way on.
    EXPECT_TRUE(forward.GetBool("EOF"));
    EXPECT_FALSE(forward.GetBool("BOF"));
    forward.Call("MoveNext");
    EXPECT_EQ(LastCallError(), automation::kException);
}

TEST_F(ForwardOnlyTest, NavigationMoveFirstAndEmptyResults) {
    MakeItems(10);
    const Object connection = OpenConnection();
    const Object rs = OpenRecordset(connection, "select * from items order by id", 0, 1);
    EXPECT_FALSE(rs.GetBool("BOF"));
    EXPECT_FALSE(rs.GetBool("EOF"));
    // On the first row MoveFirst changes nothing; after moving on it runs the statement again,
    // so it sees rows added meanwhile.
    rs.Call("MoveFirst");
    EXPECT_EQ(LastCallError(), 0);
    EXPECT_EQ(Id(rs), 1);
    rs.Call("MoveNext");
    rs.Call("Move", {Variant(std::int32_t{2})});
    EXPECT_EQ(Id(rs), 4);
    for (const char* back : {"MovePrevious", "MoveLast"}) {
        rs.Call(back);
        EXPECT_EQ(LastCallError(), automation::kException) << back;
    }
    rs.Call("Move", {Variant(std::int32_t{-1})});
    EXPECT_EQ(LastCallError(), automation::kException);
    EXPECT_EQ(Id(rs), 4);
    connection.Call("Execute", {Variant("insert into items(id, name) values(11, 'late')")});
    ASSERT_EQ(LastCallError(), 0) << LastCallException();
    rs.Call("MoveFirst");
    EXPECT_EQ(LastCallError(), 0) << LastCallException();
    EXPECT_FALSE(rs.GetBool("BOF"));
    EXPECT_EQ(Ids(rs), Range(1, 11));
    rs.Call("MoveFirst");
    EXPECT_EQ(Id(rs), 1);
    // Requery and Move(0) stay on the first row; Move beyond the end is EOF.
    rs.Call("MoveNext");
    rs.Call("Requery");
    EXPECT_EQ(Id(rs), 1);
    rs.Call("Move", {Variant(std::int32_t{0})});
    EXPECT_EQ(Id(rs), 1);
    rs.Call("Move", {Variant(std::int32_t{40})});
    EXPECT_EQ(LastCallError(), 0);
    EXPECT_TRUE(rs.GetBool("EOF"));

    // MaxRecords caps the rows fetched.
    const Object capped = CreateObject("ADODB.RecordSet");
    capped.Put("MaxRecords", Variant(std::int32_t{3}));
    capped.Call("Open", {Variant("select * from items order by id"), Variant(connection),
                         Variant(std::int32_t{0}), Variant(std::int32_t{1})});
    EXPECT_EQ(Ids(capped), Range(1, 3));

    // An empty result is at BOF and EOF; nothing moves.
    const Object empty = OpenRecordset(connection, "select * from items where id < 0", 0, 1);
    EXPECT_TRUE(empty.GetBool("BOF"));
    EXPECT_TRUE(empty.GetBool("EOF"));
    EXPECT_EQ(empty.GetInt("RecordCount"), -1);
    for (const char* move : {"MoveNext", "MoveFirst"}) {
        empty.Call(move);
        EXPECT_EQ(LastCallError(), automation::kException) << move;
    }
    Field(empty, "id").Get("Value");
    EXPECT_EQ(LastCallError(), automation::kException);
    // Writing is refused, as on any read-only recordset.
    rs.Call("MoveFirst");
    EXPECT_FALSE(Field(rs, "qty").Put("Value", Variant(std::int32_t{7})));
    rs.Call("AddNew");
    EXPECT_EQ(LastCallError(), automation::kException);
}

// Find searches on from the current row; what needs the rows already passed (a filter, a sort,
// bookmarks, a move from the first row, a save) is refused as ADO refuses it, and the cursor
// stays where it was.
TEST_F(ForwardOnlyTest, WhatNeedsPassedRowsIsRefused) {
    MakeItems(12);
    const Object connection = OpenConnection();
    const std::string saved = (folder_ / "rest.xml").string();
    struct Case {
        const char* name;
        std::function<void(const Object&)> apply;
        const char* refusal;  // empty when it works
        std::vector<int> ids; // what remains to be read afterwards
    };
    constexpr const char* kNotCapable =
        "Object or provider is not capable of performing requested operation.";
    const std::vector<Case> cases = {
        {"Find", [](const Object& rs) { rs.Call("Find", {Variant("id = 7")}); }, "", Range(7, 12)},
        {"Find behind", [](const Object& rs) { rs.Call("Find", {Variant("id = 2")}); }, "", {}},
        {"Find from the first",
         [](const Object& rs) {
             rs.Call("Find", {Variant("id = 2"), Variant(std::int32_t{0}), Variant(std::int32_t{1}),
                              Variant(std::int32_t{1})});
         },
         kNotCapable, Range(4, 12)},
        {"Filter", [](const Object& rs) { rs.Put("Filter", Variant("qty = 1")); }, kNotCapable,
         Range(4, 12)},
        {"Sort", [](const Object& rs) { rs.Put("Sort", Variant("id DESC")); }, kNotCapable,
         Range(4, 12)},
        {"Move from the first",
         [](const Object& rs) {
             rs.Call("Move", {Variant(std::int32_t{1}), Variant(std::int32_t{1})});
         },
         "Rowset does not support fetching backward.", Range(4, 12)},
        {"Move from the last",
         [](const Object& rs) {
             rs.Call("Move", {Variant(std::int32_t{0}), Variant(std::int32_t{2})});
         },
         kNotCapable, Range(4, 12)},
        {"Bookmark", [](const Object& rs) { rs.Get("Bookmark"); }, kNotCapable, Range(4, 12)},
        {"Save",
         [&](const Object& rs) {
             rs.Call("Save", {Variant(saved), Variant(std::int32_t{1})});
         },
         kNotCapable, Range(4, 12)},
    };
    for (const Case& c : cases) {
        const Object rs = OpenRecordset(connection, "select * from items order by id", 0, 1);
        rs.Call("Move", {Variant(std::int32_t{3})});
        ASSERT_EQ(Id(rs), 4) << c.name;
        c.apply(rs);
        if (*c.refusal) {
            EXPECT_EQ(LastCallError(), automation::kException) << c.name;
            EXPECT_EQ(LastCallException(), c.refusal) << c.name;
        } else {
            EXPECT_EQ(LastCallError(), 0) << c.name << ": " << LastCallException();
        }
        EXPECT_EQ(Ids(rs), c.ids) << c.name;
        EXPECT_EQ(rs.GetInt("RecordCount"), -1) << c.name;
    }
    EXPECT_FALSE(std::filesystem::exists(saved));
}

TEST_F(ForwardOnlyTest, FailuresPartWayAreReported) {
    // abs() of the smallest integer fails inside SQLite, on row 60 only.
    Sql(db_, "create table t(id INTEGER PRIMARY KEY, v INTEGER);"
             "with recursive n(i) as (select 1 union all select i + 1 from n where i < 100) "
             "insert into t select i, case when i = 60 then -9223372036854775807 - 1 else i end "
             "from n;");
    const std::string sql = "select id, abs(v) as a from t order by id";
    const Object connection = OpenConnection();

    // A full read fails at once.
    const Object keyset = CreateObject("ADODB.RecordSet");
    keyset.Call("Open", {Variant(sql), Variant(connection), Variant(std::int32_t{1}),
                         Variant(std::int32_t{3})});
    EXPECT_EQ(LastCallError(), automation::kException);

    // Streaming serves the rows before it and fails the move onto it; the reading then ends.
    const Object rs = OpenRecordset(connection, sql, 0, 1);
    int read = 0;
    std::string failure;
    while (!rs.GetBool("EOF")) {
        EXPECT_EQ(Field(rs, "a").GetInt("Value"), ++read);
        rs.Call("MoveNext");
        if (LastCallError() != 0) {
            failure = LastCallException();
            break;
        }
    }
    EXPECT_EQ(read, 59);
    EXPECT_NE(failure.find("overflow"), std::string::npos) << failure;
    EXPECT_NE(LastProviderError(connection).find("overflow"), std::string::npos);
    EXPECT_TRUE(rs.GetBool("EOF"));

    // Reading the rest for a Find meets the same failure.
    const Object found = OpenRecordset(connection, sql, 0, 1);
    found.Call("Find", {Variant("id = 70")});
    EXPECT_EQ(LastCallError(), automation::kException);
    EXPECT_NE(LastProviderError(connection).find("overflow"), std::string::npos);

    // The command timeout bounds each fetch: two rows come at once, the third never does.
    connection.Put("CommandTimeout", Variant(std::int32_t{1}));
    const Object slow = OpenRecordset(connection,
                                      "with recursive c(x) as (select 1 union all select x + 1 "
                                      "from c) select x as id from c where x <= 2 or x < 0",
                                      0, 1);
    EXPECT_EQ(Id(slow), 1);
    slow.Call("MoveNext");
    EXPECT_EQ(Id(slow), 2);
    slow.Call("MoveNext");
    EXPECT_EQ(LastCallError(), automation::kException);
    EXPECT_EQ(LastProviderError(connection), "Query timeout expired");
    EXPECT_TRUE(slow.GetBool("EOF"));
}

TEST_F(ForwardOnlyTest, OtherStatementsAndClosingPartWay) {
    MakeItems(50);
    const Object connection = OpenConnection();
    const Object rs = OpenRecordset(connection, "select * from items order by id", 0, 1);
    const Object other = OpenRecordset(connection, "select * from items order by id desc", 0, 1);
    rs.Call("Move", {Variant(std::int32_t{9})});
    // Statements of every kind run on the connection between the fetches.
    connection.Call("Execute", {Variant("create table log(x INTEGER)")});
    connection.Call("Execute", {Variant("insert into log values(1)")});
    ASSERT_EQ(LastCallError(), 0) << LastCallException();
    const Object count = connection.CallObject("Execute", {Variant("select count(*) from log")});
    EXPECT_EQ(
        count.GetObject("Fields").GetObject("Item", {Variant(std::int32_t{0})}).GetInt("Value"), 1);
    EXPECT_EQ(Id(other), 50);
    other.Call("MoveNext");
    EXPECT_EQ(Id(rs), 10);
    EXPECT_EQ(Id(other), 49);
    EXPECT_EQ(Ids(rs), Range(10, 50));

    // Closed half-read, the statement is gone: another connection writes at once.
    other.Call("Close");
    EXPECT_EQ(LastCallError(), 0);
    EXPECT_EQ(other.GetInt("State"), 0);
    const Object second = OpenConnection();
    second.Put("CommandTimeout", Variant(std::int32_t{2}));
    second.Call("Execute", {Variant("delete from items where id = 1")});
    EXPECT_EQ(LastCallError(), 0) << LastCallException();

    // Closing the connection closes a half-read recordset with it.
    const Object half = OpenRecordset(connection, "select * from items order by id", 0, 1);
    half.Call("MoveNext");
    connection.Call("Close");
    EXPECT_EQ(LastCallError(), 0);
    EXPECT_EQ(half.GetInt("State"), 0);
    half.Call("MoveNext");
    EXPECT_EQ(LastCallError(), automation::kException);
}

} // namespace
} // namespace vm::ado::testing
