#include "catalogue/Catalogue.h"

#include "catalogue/CatalogueReader.h"
#include "catalogue/State.h"
#include "db/DbConnection.h"
#include "db/DbRecordset.h"
#include "platform/fs/File.h"
#include "sys/Endpoints.h"
#include "sys/Settings.h"
#include "ui/MainWindow.h"

namespace vm::catalogue {
namespace {

constexpr std::string_view kOpenFailedMessage =
    "打开数据库失败,请重新打开程序尝试!若多次打开失败请到官方反馈!\r\n是否进行反馈?";
constexpr std::string_view kOpenFailedCaption = "Vellumark";
constexpr std::string_view kFeedbackPath = "/thread-118071-1-1.html";
constexpr int kYesNoInformation = 68;
constexpr int kForwardOnly = 0;
constexpr int kReadOnly = 1;

struct Database {
    std::unique_ptr<db::DbConnection> connection;
    std::unique_ptr<db::DbRecordset> listTable;
    std::unique_ptr<db::DbRecordset> treeTable;
};

// Never destroyed: the objects are released by the exit clean-up, and a destructor run after
// the ADO classes' own static tables are gone would call into freed memory.
Database& TheDatabase() {
    static Database& database = *new Database;
    return database;
}

bool ReadThroughConnection(Database& d, const std::string& path,
                           std::shared_ptr<const CatalogueData>& data) {
    if (!d.connection->openAccess(path, std::string(kCataloguePassword), 0))
        return false;
    // As on the original, the results of the table opens are not checked: a table that fails
    // to open reads as empty.
    // Read once, front to back: forward-only and read-only, so the rows come one at a time
    // rather than all held as values before the first is read.
    d.listTable->setConnection(*d.connection);
    d.listTable->open("List", 2, kForwardOnly, kReadOnly);
    d.treeTable->setConnection(*d.connection);
    d.treeTable->open("Tree", 2, kForwardOnly, kReadOnly);
    CatalogueTables tables = ReadTables(*d.listTable, *d.treeTable);
    // Every list is served from the rows read: the recordsets and the connection, which holds
    // the provider's copy of the whole file, are let go before the indexes are built rather
    // than held until the catalogue closes.
    d.listTable->close();
    d.treeTable->close();
    d.connection->close();
    data = std::make_shared<const CatalogueData>(std::move(tables));
    return true;
}

} // namespace

void CreateCatalogueObjects() {
    Database& d = TheDatabase();
    d.connection = std::make_unique<db::DbConnection>();
    d.listTable = std::make_unique<db::DbRecordset>();
    d.treeTable = std::make_unique<db::DbRecordset>();
    ReleaseListState();
    detail::TheState().document.reset();
}

void ReleaseCatalogueConnection() {
    Database& d = TheDatabase();
    d.connection.reset();
    d.listTable.reset();
    d.treeTable.reset();
    detail::TheState().data.reset();
}

bool OpenCatalogue() {
    Database& d = TheDatabase();
    if (!d.connection)
        CreateCatalogueObjects();
    const std::string path = sys::ProgramFolder() + std::string(kCatalogueFile);
    std::shared_ptr<const CatalogueData> data;
    // Both tables come straight from the reading process into the records, as it decodes
    // them; the connection is taken only for a file whose columns hold other types.
    switch (ReadCatalogueDirect(path, std::string(kCataloguePassword), data)) {
    case DirectOpen::Failed:
        return false;
    case DirectOpen::Read:
        break;
    case DirectOpen::NotServed:
        if (!ReadThroughConnection(d, path, data))
            return false;
        break;
    }
    detail::TheState().data = std::move(data);
    return true;
}

void CloseCatalogue() {
    Database& d = TheDatabase();
    if (!d.connection)
        return;
    if (d.connection->isOpen())
        d.connection->close();
    d.listTable->close();
    d.treeTable->close();
    // The list shown keeps its own reference to the rows it holds.
    detail::TheState().data.reset();
}

void StartCatalogue(gui::Window& mainWindow) {
    if (!fs::Exists(sys::ProgramFolder() + std::string(kCatalogueFile)))
        return;
    if (OpenCatalogue()) {
        BuildTree(mainWindow.control("树型框1"));
        ShowList(ui::kLatestUpdates);
        return;
    }
    gui::Application& app = gui::Application::instance();
    mainWindow.hide();
    if (app.messageBox(kOpenFailedMessage, kOpenFailedCaption, kYesNoInformation) == gui::IDYES)
        ui::OpenWebPage(sys::CurrentEndpoints().forum + std::string(kFeedbackPath));
    app.endProgram(0);
}

} // namespace vm::catalogue
