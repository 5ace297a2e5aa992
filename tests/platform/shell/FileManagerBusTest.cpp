// ShowInFileManager against a real session bus (dbus-daemon), once with nobody owning
// org.freedesktop.FileManager1 and once with a stand-in file manager that records ShowItems.
#include "OpenerRecorder.h"
#include "platform/fs/Path.h"
#include "platform/kernel/ChildProcess.h"
#include "platform/kernel/TempFolder.h"
#include "platform/kernel/Thread.h"
#include "platform/shell/Shell.h"
#include "platform/text/Codepage.h"

#include <gtest/gtest.h>

#include <gio/gio.h>
#include <mutex>

namespace vm::shell {
namespace {

namespace stdfs = std::filesystem;
using Lines = std::vector<std::string>;

constexpr const char* kInterface = R"xml(
<node>
  <interface name="org.freedesktop.FileManager1">
    <method name="ShowItems">
      <arg type="as" name="URIs" direction="in"/>
      <arg type="s" name="StartupId" direction="in"/>
    </method>
  </interface>
</node>)xml";

// A file manager on its own thread and main context, answering ShowItems.
class StandInFileManager {
public:
    explicit StandInFileManager(std::string busAddress)
        : address_(std::move(busAddress)), context_(g_main_context_new()),
          loop_(g_main_loop_new(context_, FALSE)) {
        thread_ = kernel::StartThread([this] { Run(); });
        ready_.Wait(5000);
    }
    ~StandInFileManager() {
        g_main_loop_quit(loop_);
        thread_.Join();
        g_main_loop_unref(loop_);
        g_main_context_unref(context_);
    }

    bool serving() const { return serving_; }

    Lines uris() const {
        const std::lock_guard lock(mutex_);
        return uris_;
    }

private:
    void Run() {
        g_main_context_push_thread_default(context_);
        GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
            address_.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kInterface, nullptr);
        guint registration = 0;
        if (connection != nullptr && node != nullptr) {
            static const GDBusInterfaceVTable vtable = {
                &StandInFileManager::OnCall, nullptr, nullptr, {}};
            registration = g_dbus_connection_register_object(
                connection, "/org/freedesktop/FileManager1", node->interfaces[0], &vtable, this,
                nullptr, nullptr);
            GVariant* reply = g_dbus_connection_call_sync(
                connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                "RequestName", g_variant_new("(su)", "org.freedesktop.FileManager1", 4u), nullptr,
                G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
            serving_ = registration != 0 && reply != nullptr;
            if (reply != nullptr)
                g_variant_unref(reply);
        }
        ready_.Set();
        g_main_loop_run(loop_);
        if (registration != 0)
            g_dbus_connection_unregister_object(connection, registration);
        if (connection != nullptr) {
            g_dbus_connection_close_sync(connection, nullptr, nullptr);
            g_object_unref(connection);
        }
        if (node != nullptr)
            g_dbus_node_info_unref(node);
        g_main_context_pop_thread_default(context_);
    }

    static void OnCall(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                       const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                       gpointer self) {
        auto* manager = static_cast<StandInFileManager*>(self);
        if (g_strcmp0(method, "ShowItems") == 0) {
            GVariantIter* items = nullptr;
            const gchar* startupId = nullptr;
            g_variant_get(parameters, "(as&s)", &items, &startupId);
            const gchar* uri = nullptr;
            const std::lock_guard lock(manager->mutex_);
            while (g_variant_iter_next(items, "&s", &uri))
                manager->uris_.emplace_back(uri);
            g_variant_iter_free(items);
        }
        g_dbus_method_invocation_return_value(invocation, nullptr);
    }

    std::string address_;
    GMainContext* context_;
    GMainLoop* loop_;
    kernel::Thread thread_;
    kernel::Event ready_{true};
    bool serving_ = false;
    mutable std::mutex mutex_;
    Lines uris_;
};

class FileManagerBusTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::OpenerRecorder::Instance().Clear();
        const stdfs::path socket = root() / "bus";
        address_ = "unix:path=" + socket.string();
        bus_ = std::make_unique<test::ChildProcess>(std::vector<std::string>{
            "/usr/bin/dbus-daemon", "--session", "--nofork", "--address=" + address_});
        if (bus_->pid() <= 0 ||
            !kernel::WaitDispatching(5000, [&] { return stdfs::exists(socket); }))
            GTEST_SKIP() << "dbus-daemon could not be started";
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
    }
    void TearDown() override {
        const std::string noBus = "unix:abstract=vm-test-no-bus-" + std::to_string(::getpid());
        ::setenv("DBUS_SESSION_BUS_ADDRESS", noBus.c_str(), 1);
    }

    const stdfs::path& root() const { return folder_.path(); }

    std::string address_;

private:
    test::TempFolder folder_;
    std::unique_ptr<test::ChildProcess> bus_;
};

TEST_F(FileManagerBusTest, ShowItemsReachesTheFileManagerAsAFileUri) {
    const stdfs::path folder = root() / u8"资源目录";
    const stdfs::path file = folder / u8"中文 a#1.zip";
    stdfs::create_directories(folder);
    std::ofstream(file) << "x";
    StandInFileManager manager(address_);
    ASSERT_TRUE(manager.serving());

    EXPECT_TRUE(ShowInFileManager(fs::FromLinuxPath(file.string())));
    ASSERT_TRUE(kernel::WaitDispatching(5000, [&] { return !manager.uris().empty(); }));
    EXPECT_EQ(manager.uris(), Lines{"file://" + root().string() +
                                    "/%E8%B5%84%E6%BA%90%E7%9B%AE%E5%BD%95/"
                                    "%E4%B8%AD%E6%96%87%20a%231.zip"});
    // The file manager answered: the folder is not opened as well.
    kernel::Sleep(200);
    EXPECT_EQ(test::OpenerRecorder::Instance().Lines(), Lines{});
}

TEST_F(FileManagerBusTest, BusWithoutFileManagerFallsBackToTheFolder) {
    const stdfs::path file = root() / "a.zip";
    std::ofstream(file) << "x";
    EXPECT_TRUE(ShowInFileManager(fs::FromLinuxPath(file.string())));
    EXPECT_EQ(test::OpenerRecorder::Instance().WaitFor(1), Lines{root().string()});
}

} // namespace
} // namespace vm::shell
