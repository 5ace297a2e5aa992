#include "platform/ado/jet/JetReader.h"

#include "platform/ado/jet/GbkTable.h"
#include "platform/ado/jet/JetHeader.h"
#include "platform/ado/jet/JetReaderTesting.h"
#include "platform/ado/jet/MdbChild.h"
#include "platform/ado/jet/RowStream.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <poll.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace vm::ado::jet {
namespace {

// A child that sends nothing for this long is taken to be stuck in a damaged file.
int silenceLimitMs = 20000;
ReaderFault injectedFault = ReaderFault::None;
constexpr int kChildExitedEarly = 70;
constexpr std::uint32_t kLargestFrame = 1u << 28;

using Statement = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

std::string Quoted(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + '"';
}

// Turns frames into tables and rows of the target database, inside one savepoint.
class Loader {
public:
    Loader(sqlite3* db, RowTap* tap) : db_(db), tap_(tap) {}

    bool begin() { return exec("SAVEPOINT vm_jet_open"); }
    bool commit() { return exec("RELEASE vm_jet_open"); }
    void rollback() {
        insert_.reset();
        sqlite3_exec(db_, "ROLLBACK TO vm_jet_open; RELEASE vm_jet_open", nullptr, nullptr,
                     nullptr);
    }

    // Returns false with error() set; a Done frame sets done().
    bool take(std::string_view payload) {
        if (payload.empty())
            return fail("the reader sent an empty frame");
        FrameReader in(payload.substr(1));
        switch (static_cast<Frame>(payload[0])) {
        case Frame::Table:
            return table(in);
        case Frame::Row:
            return row(in);
        case Frame::Error:
            error_ = std::string(in.text());
            reported_ = true;
            return false;
        case Frame::Done:
            done_ = true;
            return true;
        }
        return fail("the reader sent an unknown frame");
    }

    bool done() const { return done_; }
    // The child's own message, a complete sentence.
    bool reported() const { return reported_; }
    const std::string& error() const { return error_; }

private:
    bool table(FrameReader& in) {
        const std::string_view name = in.text();
        const std::uint16_t count = in.u16();
        std::string create = "CREATE TABLE " + Quoted(name) + " (";
        std::string insert = "INSERT INTO " + Quoted(name) + " VALUES (";
        std::vector<TapColumn> columns;
        for (std::uint16_t i = 0; i < count; ++i) {
            const std::string_view column = in.text();
            const std::string_view type = in.text();
            columns.push_back({column, type});
            create += (i ? ", " : "") + Quoted(column) + " " + std::string(type);
            insert += i ? ",?" : "?";
        }
        const std::uint32_t rows = in.u32();
        if (in.failed() || !in.atEnd() || count == 0)
            return fail("the reader sent a damaged table definition");
        // The definition goes into the database even when the tap takes the rows: what SQLite
        // refuses there (a name taken twice, a reserved one) fails the open either way.
        if (!exec(create + ")"))
            return false;
        insert_.reset();
        columns_ = count;
        tapping_ = tap_ != nullptr && tap_->TakeTable(name, columns, rows);
        if (tapping_) {
            cells_.resize(count);
            return true;
        }
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db_, (insert + ")").c_str(), -1, &stmt, nullptr) != SQLITE_OK)
            return fail(sqlite3_errmsg(db_));
        insert_.reset(stmt);
        return true;
    }

    bool row(FrameReader& in) {
        if (tapping_)
            return tapRow(in);
        sqlite3_stmt* stmt = insert_.get();
        if (!stmt)
            return fail("the reader sent a row before its table");
        for (int i = 1; i <= columns_; ++i) {
            switch (static_cast<Cell>(in.u8())) {
            case Cell::Null:
                sqlite3_bind_null(stmt, i);
                break;
            case Cell::Integer:
                sqlite3_bind_int64(stmt, i, in.i64());
                break;
            case Cell::Real:
                sqlite3_bind_double(stmt, i, in.f64());
                break;
            case Cell::Text: {
                const std::string_view s = in.text();
                sqlite3_bind_text(stmt, i, s.data(), static_cast<int>(s.size()), SQLITE_STATIC);
                break;
            }
            case Cell::Blob: {
                const std::string_view s = in.text();
                sqlite3_bind_blob(stmt, i, s.data(), static_cast<int>(s.size()), SQLITE_STATIC);
                break;
            }
            default:
                return fail("the reader sent a damaged row");
            }
        }
        if (in.failed() || !in.atEnd())
            return fail("the reader sent a damaged row");
        const int rc = sqlite3_step(stmt);
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
        if (rc != SQLITE_DONE)
            return fail(sqlite3_errmsg(db_));
        return true;
    }

    bool tapRow(FrameReader& in) {
        for (TapCell& cell : cells_) {
            cell.kind = static_cast<TapCell::Kind>(in.u8());
            switch (static_cast<Cell>(cell.kind)) {
            case Cell::Null:
                break;
            case Cell::Integer:
                cell.integer = in.i64();
                break;
            case Cell::Real:
                cell.real = in.f64();
                break;
            case Cell::Text:
            case Cell::Blob:
                cell.bytes = in.text();
                break;
            default:
                return fail("the reader sent a damaged row");
            }
        }
        if (in.failed() || !in.atEnd())
            return fail("the reader sent a damaged row");
        if (!tap_->TakeRow(cells_))
            return fail("the rows were refused");
        return true;
    }

    bool exec(const std::string& sql) {
        char* message = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK)
            return true;
        fail(message ? message : sqlite3_errmsg(db_));
        sqlite3_free(message);
        return false;
    }

    bool fail(const std::string& message) {
        error_ = message;
        return false;
    }

    sqlite3* db_;
    RowTap* tap_;
    Statement insert_{nullptr, &sqlite3_finalize};
    int columns_ = 0;
    bool tapping_ = false;
    std::vector<TapCell> cells_;
    bool done_ = false;
    bool reported_ = false;
    std::string error_;
};

JetOpenResult Failure(std::string message) {
    return {false, std::move(message)};
}

// Reads frames from the child until it is done, fails, goes quiet or dies.
std::string Receive(int fd, Loader& loader) {
    std::vector<char> buffer(1 << 20);
    std::size_t filled = 0;
    for (;;) {
        if (filled == buffer.size())
            buffer.resize(buffer.size() * 2); // a frame larger than the buffer
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, silenceLimitMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0)
            return "the reader stopped answering";
        const ssize_t n = ::read(fd, buffer.data() + filled, buffer.size() - filled);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return loader.done() ? std::string() : "the reader ended early";
        filled += static_cast<std::size_t>(n);
        std::size_t begin = 0;
        while (filled - begin >= 4) {
            std::uint32_t length = 0;
            std::memcpy(&length, buffer.data() + begin, 4);
            if (length > kLargestFrame)
                return "the reader sent a damaged frame";
            if (filled - begin - 4 < length) {
                if (length + 4 > buffer.size())
                    buffer.resize(length + 4);
                break;
            }
            if (!loader.take(std::string_view(buffer.data() + begin + 4, length)))
                return loader.error().empty() ? "the reader failed" : loader.error();
            begin += 4 + length;
        }
        std::memmove(buffer.data(), buffer.data() + begin, filled - begin);
        filled -= begin;
    }
}

[[noreturn]] void RunChild(const std::string& path, int fd) {
    // Whatever libmdb does on its way out (it calls exit() on some damaged files), none of the
    // parent's exit handlers may run here: this one, registered last, runs first.
    std::atexit([] { ::_exit(kChildExitedEarly); });
    if (!std::getenv("VM_JET_DEBUG")) {
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0)
            ::dup2(null, STDERR_FILENO);
    }
    switch (injectedFault) {
    case ReaderFault::Crash:
        std::raise(SIGSEGV);
        break;
    case ReaderFault::Exit:
        std::exit(1);
    case ReaderFault::Hang:
        for (;;)
            ::pause();
    case ReaderFault::None:
        break;
    }
    ::_exit(SendMdbTables(path, fd));
}

// The reader runs as a new process started with the file in its environment. A fork would be
// simpler, but it marks the caller's whole memory copy-on-write while the reader runs, and the
// writes that follow then fault page by page: in a program holding a few hundred megabytes that
// costs more than the reading itself.
constexpr const char* kReaderVariable = "VM_JET_READER";
constexpr const char* kReaderFileVariable = "VM_JET_READER_FILE";
constexpr int kReaderFd = 3;
// A reader's program left from another build (an update replaced only the main program) may
// speak another protocol: it must refuse, and the running executable reads instead.
constexpr const char* kBuild = __DATE__ " " __TIME__;
constexpr int kOtherBuild = 71;
constexpr const char* kSelf = "/proc/self/exe";

__attribute__((constructor)) void ServeBeforeMain() {
    ServeAsReaderIfStarted();
}

// The reader's own program beside the running executable (it starts far faster than a program
// that loads a GUI toolkit), else the running executable.
std::string ReaderProgram() {
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        std::string path(self, static_cast<std::size_t>(n));
        path = path.substr(0, path.rfind('/') + 1) + kReaderProgram;
        if (::access(path.c_str(), X_OK) == 0)
            return path;
    }
    return kSelf;
}

// Starts `program` reading `path` and writing to `fd`; -1 when it cannot be started.
pid_t SpawnReader(const std::string& program, const std::string& path, int fd) {
    std::vector<std::string> variables;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string_view variable(*entry);
        if (variable.rfind(kReaderVariable, 0) != 0)
            variables.emplace_back(variable);
    }
    variables.push_back(std::string(kReaderVariable) + "=" +
                        std::to_string(static_cast<int>(injectedFault)) + ":" + kBuild);
    variables.push_back(std::string(kReaderFileVariable) + "=" + path);
    std::vector<char*> envp;
    for (std::string& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::string name = kReaderProgram;
    char* argv[] = {name.data(), nullptr};

    // dup2 onto the same number would leave close-on-exec set.
    int source = fd;
    if (source == kReaderFd && (source = ::fcntl(fd, F_DUPFD_CLOEXEC, kReaderFd + 1)) < 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, source, kReaderFd);
    pid_t child = -1;
    if (::posix_spawn(&child, program.c_str(), &actions, nullptr, argv, envp.data()) != 0)
        child = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (source != fd)
        ::close(source);
    return child;
}

std::string DescribeExit(int status) {
    if (WIFSIGNALED(status))
        return "it crashed with signal " + std::to_string(WTERMSIG(status));
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
        return "it exited with status " + std::to_string(WEXITSTATUS(status));
    return {};
}

// Waits for the child; with a limit (ms) gives up after it and returns false.
bool WaitForChild(pid_t child, int& status, int limitMs) {
    for (int waited = 0;; waited += 10) {
        const pid_t done = ::waitpid(child, &status, limitMs > 0 ? WNOHANG : 0);
        if (done == child)
            return true;
        if (done < 0 && errno != EINTR)
            return true; // nothing left to wait for
        if (limitMs > 0 && waited >= limitMs)
            return false;
        if (done == 0)
            ::usleep(10000);
    }
}

} // namespace

void ServeAsReaderIfStarted() {
    const char* fault = std::getenv(kReaderVariable);
    const char* path = std::getenv(kReaderFileVariable);
    if (!fault || !path)
        return;
    // "<fault>:<build>"
    const char* build = std::strchr(fault, ':');
    if (!build || std::strcmp(build + 1, kBuild) != 0)
        ::_exit(kOtherBuild);
    const int code = std::atoi(fault);
    if (code >= static_cast<int>(ReaderFault::None) && code <= static_cast<int>(ReaderFault::Hang))
        injectedFault = static_cast<ReaderFault>(code);
    RunChild(path, kReaderFd);
}

void SetReaderFaultForTesting(ReaderFault fault, int silenceLimit) {
    injectedFault = fault;
    silenceLimitMs = silenceLimit;
}

JetOpenResult MaterialiseMdb(const std::string& linuxPath, const std::string& passwordGbk,
                             sqlite3* target, RowTap* tap) {
    if (!target)
        return Failure("No database to fill.");
    std::string firstPages(kFirstPagesBytes, '\0');
    {
        std::ifstream file(linuxPath, std::ios::binary);
        if (!file)
            return Failure("Could not find file '" + linuxPath + "'.");
        file.read(firstPages.data(), static_cast<std::streamsize>(firstPages.size()));
        firstPages.resize(static_cast<std::size_t>(file.gcount()));
    }
    const HeaderCheck header =
        CheckHeader(std::string_view(firstPages).substr(0, kHeaderBytes), passwordGbk);
    if (!header.ok)
        return Failure(header.error);
    if (const std::string damage = CheckPageOne(firstPages, header.version); !damage.empty())
        return Failure(damage);

    Loader loader(target, tap);
    if (!loader.begin())
        return Failure(loader.error());

    std::string program = ReaderProgram();
    std::string problem;
    int status = 0;
    bool finished = false;
    for (;;) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            loader.rollback();
            return Failure("cannot start the reader: " + std::string(std::strerror(errno)));
        }
        pid_t child = SpawnReader(program, linuxPath, fds[1]);
        if (child < 0) {
            // Forked instead: the table is built here, as a forked child must not load iconv
            // modules; the buffers are flushed, or the child's exit would write them twice.
            GbkTable::Instance();
            std::fflush(nullptr);
            child = ::fork();
        }
        if (child < 0) {
            ::close(fds[0]);
            ::close(fds[1]);
            loader.rollback();
            return Failure("cannot start the reader: " + std::string(std::strerror(errno)));
        }
        if (child == 0) {
            ::close(fds[0]);
            RunChild(linuxPath, fds[1]);
        }
        ::close(fds[1]);
        problem = Receive(fds[0], loader);
        ::close(fds[0]);
        // Closing our end makes a child still writing stop on SIGPIPE; one that went quiet, or
        // whose frames were refused, is killed.
        finished = WaitForChild(child, status, problem.empty() ? 0 : 200);
        if (!finished) {
            ::kill(child, SIGKILL);
            WaitForChild(child, status, 0);
        }
        const bool otherBuild = finished && WIFEXITED(status) &&
                                WEXITSTATUS(status) == kOtherBuild && !loader.reported();
        if (!otherBuild || program == kSelf)
            break;
        program = kSelf;
    }
    const std::string how = finished ? DescribeExit(status) : std::string();
    if (problem.empty() && !how.empty())
        problem = "the reader failed; " + how;
    else if (!how.empty() && !loader.reported())
        problem += "; " + how;
    if (problem.empty() && !loader.commit())
        problem = loader.error();
    if (!problem.empty()) {
        loader.rollback();
        if (loader.reported())
            return Failure(problem);
        return Failure("Unrecognized database format '" + linuxPath + "': " + problem + ".");
    }
    return {true, {}};
}

} // namespace vm::ado::jet
