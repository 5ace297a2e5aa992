#pragma once
// Object creation by ProgID or class identifier, and the per-thread COM initialisation count.
// There is no system registry here: native classes register themselves with a factory, the way
// an installed component registers its ProgID and class identifier.

#include "platform/automation/Object.h"

#include <functional>
#include <memory>
#include <string_view>

namespace vm::automation {

// CoInitialize(NULL): S_OK (0) for the thread's first call, S_FALSE (1) for every further one;
// each needs a matching CoUninitialize.
HResult CoInitialize();
void CoUninitialize();
// How many CoInitialize calls of this thread are not yet matched.
int ComInitCount();

using ClassFactory = std::function<std::shared_ptr<Dispatch>()>;

// Registers a class under its ProgID (matched without regard to ASCII case) and its class
// identifier ("{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", also without regard to case). A second
// registration of the same names replaces the first.
void RegisterClass(std::string_view progId, std::string_view classId, ClassFactory factory);

// CoCreateInstance by ProgID or "{class identifier}" with class context 23, retried with 7 when
// the first attempt reports E_INVALIDARG, then OleRun. Native classes are in-process servers, so
// any context that includes in-process (1) serves them. Fails with CO_E_NOTINITIALIZED on a
// thread without CoInitialize, and REGDB_E_CLASSNOTREG for an unknown name.
Object CreateObject(std::string_view progIdOrClassId, HResult* status = nullptr);
HResult CoCreateInstance(std::string_view progIdOrClassId, int classContext,
                         std::shared_ptr<Dispatch>& out);

} // namespace vm::automation
