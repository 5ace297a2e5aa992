#include "support/MariaDbServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace vm::testing {
namespace {

using Clock = std::chrono::steady_clock;

std::string FindProgram(const std::string& name) {
    std::vector<std::string> folders = {"/usr/sbin", "/usr/bin", "/usr/local/sbin",
                                        "/usr/local/bin"};
    if (const char* path = std::getenv("PATH")) {
        std::stringstream list(path);
        std::string folder;
        while (std::getline(list, folder, ':'))
            if (!folder.empty())
                folders.push_back(folder);
    }
    for (const std::string& folder : folders) {
        const std::string candidate = folder + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

// Starts `args` with stdout and stderr appended to `log`; the child dies with this process.
pid_t Spawn(const std::vector<std::string>& args, const std::string& log) {
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(127);
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        ::close(fd);
    }
    const int null = ::open("/dev/null", O_RDONLY);
    if (null >= 0) {
        ::dup2(null, 0);
        ::close(null);
    }
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

// Waits for `pid` until `deadline`; true with its exit status when it ended.
bool WaitUntil(pid_t pid, Clock::time_point deadline, int& status) {
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid || done < 0)
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

} // namespace

MariaDbServer::MariaDbServer() {
    if (!Start()) {
        Stop();
        if (error_.empty())
            error_ = "the MariaDB server did not start";
    }
}

MariaDbServer::~MariaDbServer() {
    Stop();
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

std::string MariaDbServer::LogTail() const {
    std::ifstream in(folder_ + "/server.log");
    std::stringstream text;
    text << in.rdbuf();
    std::string all = text.str();
    if (all.size() > 2000)
        all = all.substr(all.size() - 2000);
    return all;
}

bool MariaDbServer::Start() {
    const std::string server = FindProgram("mariadbd");
    const std::string install = FindProgram("mariadb-install-db");
    if (server.empty() || install.empty()) {
        error_ = "MariaDB server programs not found (mariadbd, mariadb-install-db): install the "
                 "Debian package mariadb-server";
        return false;
    }
    char pattern[] = "/tmp/vm-mariadb-XXXXXX";
    if (!::mkdtemp(pattern)) {
        error_ = "cannot create a data folder under /tmp";
        return false;
    }
    folder_ = pattern;
    const std::string data = folder_ + "/data";
    const std::string log = folder_ + "/server.log";
    const bool root = ::geteuid() == 0;

    std::vector<std::string> setup = {install, "--no-defaults", "--datadir=" + data,
                                      "--auth-root-authentication-method=normal", "--skip-test-db"};
    if (root)
        setup.insert(setup.begin() + 2, "--user=root");
    const pid_t installer = Spawn(setup, log);
    int status = 0;
    if (installer < 0) {
        error_ = "cannot start mariadb-install-db";
        return false;
    }
    if (!WaitUntil(installer, Clock::now() + std::chrono::seconds(120), status)) {
        ::kill(installer, SIGKILL);
        ::waitpid(installer, &status, 0);
        error_ = "mariadb-install-db did not finish in 120 s:\n" + LogTail();
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        error_ = "mariadb-install-db failed:\n" + LogTail();
        return false;
    }

    port_ = FreePort();
    if (port_ == 0) {
        error_ = "no free loopback port";
        return false;
    }
    std::vector<std::string> run = {server,
                                    "--no-defaults",
                                    "--datadir=" + data,
                                    "--socket=" + folder_ + "/s.sock",
                                    "--pid-file=" + folder_ + "/server.pid",
                                    "--port=" + std::to_string(port_),
                                    "--bind-address=127.0.0.1",
                                    "--skip-name-resolve",
                                    "--innodb-buffer-pool-size=16M"};
    if (root)
        run.insert(run.begin() + 2, "--user=root");
    pid_ = Spawn(run, log);
    if (pid_ < 0) {
        error_ = "cannot start mariadbd";
        return false;
    }
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (!Accepts(port_)) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error_ = "mariadbd ended before it accepted connections:\n" + LogTail();
            return false;
        }
        if (Clock::now() >= deadline) {
            error_ = "mariadbd did not accept connections within 60 s:\n" + LogTail();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

void MariaDbServer::Stop() {
    if (pid_ <= 0)
        return;
    int status = 0;
    ::kill(pid_, SIGTERM);
    if (!WaitUntil(pid_, Clock::now() + std::chrono::seconds(30), status)) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
}

} // namespace vm::testing
