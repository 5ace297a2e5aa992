// libFuzzer targets for the jet reader.
//   default: the real open, MaterialiseMdb, whose reading child may crash but the caller never.
//   VM_JET_FUZZ_IN_PROCESS: libmdb and the row reading in-process, to find what the child
//   process protects against (libmdb is not hardened: expect crashes).

#include "platform/ado/jet/JetReader.h"
#include "platform/ado/jet/MdbChild.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sqlite3.h>
#include <string>
#include <unistd.h>

namespace {

const std::string& InputPath() {
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir ? dir : "/tmp") + "/vm-jet-fuzz-" + std::to_string(::getpid()) +
               ".mdb";
    }();
    return path;
}

bool WriteInput(const std::uint8_t* data, std::size_t size) {
    FILE* file = std::fopen(InputPath().c_str(), "wb");
    if (!file)
        return false;
    const bool ok = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!WriteInput(data, size))
        return 0;
#ifdef VM_JET_FUZZ_IN_PROCESS
    static const int null = ::open("/dev/null", O_WRONLY);
    vm::ado::jet::SendMdbTables(InputPath(), null);
#else
    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    const auto result = vm::ado::jet::MaterialiseMdb(InputPath(), "", db);
    if (!result.ok && result.error.empty())
        std::abort(); // a failure must say why
    sqlite3_close(db);
#endif
    return 0;
}
