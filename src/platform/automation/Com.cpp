#include "platform/automation/Com.h"

#include <mutex>
#include <string>
#include <unordered_map>

namespace vm::automation {
namespace {

constexpr int kInProcServer = 1;

thread_local int t_comInitCount = 0;

struct Registry {
    std::mutex mutex;
    std::unordered_map<std::string, ClassFactory, NoCaseHash, NoCaseEqual> byName;
};

// Constructed on first use: classes register from static initialisers of other libraries.
Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

std::string_view StripBlanks(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

} // namespace

HResult CoInitialize() {
    return t_comInitCount++ == 0 ? kOk : kFalse;
}

void CoUninitialize() {
    if (t_comInitCount > 0)
        --t_comInitCount;
}

int ComInitCount() {
    return t_comInitCount;
}

void RegisterClass(std::string_view progId, std::string_view classId, ClassFactory factory) {
    Registry& registry = TheRegistry();
    const std::lock_guard lock(registry.mutex);
    if (!progId.empty())
        registry.byName[std::string(progId)] = factory;
    if (!classId.empty())
        registry.byName[std::string(classId)] = factory;
}

HResult CoCreateInstance(std::string_view progIdOrClassId, int classContext,
                         std::shared_ptr<Dispatch>& out) {
    out.reset();
    if (t_comInitCount == 0)
        return kNotInitialized;
    if ((classContext & kInProcServer) == 0)
        return kClassNotRegistered;
    ClassFactory factory;
    {
        Registry& registry = TheRegistry();
        const std::lock_guard lock(registry.mutex);
        const auto it = registry.byName.find(StripBlanks(progIdOrClassId));
        if (it == registry.byName.end())
            return kClassNotRegistered;
        factory = it->second;
    }
    out = factory ? factory() : nullptr;
    return out ? kOk : kNoInterface;
}

Object CreateObject(std::string_view progIdOrClassId, HResult* status) {
    std::shared_ptr<Dispatch> object;
    HResult hr = CoCreateInstance(progIdOrClassId, 23, object);
    if (hr == kInvalidArg)
        hr = CoCreateInstance(progIdOrClassId, 7, object);
    // OleRun has nothing to do for an in-process object that is already running.
    if (status)
        *status = hr;
    return Failed(hr) ? Object() : Object(std::move(object));
}

} // namespace vm::automation
