#pragma once
// A private MariaDB server for one test: a fresh data folder under /tmp, a free loopback port,
// root without a password. Started by the constructor (ok() tells whether it is accepting
// connections), stopped with SIGTERM by the destructor, and killed with the test process if
// that dies first. Needs Debian's mariadb-server; without it ok() is false and error() says so.

#include <string>
#include <sys/types.h>

namespace vm::testing {

class MariaDbServer {
public:
    MariaDbServer();
    ~MariaDbServer();
    MariaDbServer(const MariaDbServer&) = delete;
    MariaDbServer& operator=(const MariaDbServer&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    int port() const { return port_; }
    const std::string& folder() const { return folder_; }

private:
    bool Start();
    void Stop();
    std::string LogTail() const;

    std::string folder_;
    std::string error_;
    int port_ = 0;
    pid_t pid_ = -1;
};

} // namespace vm::testing
