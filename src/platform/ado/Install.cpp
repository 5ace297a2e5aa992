#include "platform/ado/Ado.h"
#include "platform/ado/Objects.h"
#include "platform/ado/Stream.h"
#include "platform/automation/Com.h"

#include <mutex>

namespace vm::ado {

void InstallAdoClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        using automation::RegisterClass;
        RegisterClass("ADODB.Connection", "{00000514-0000-0010-8000-00AA006D2EA4}",
                      [] { return std::make_shared<Connection>(); });
        RegisterClass("ADODB.Recordset", "{00000535-0000-0010-8000-00AA006D2EA4}",
                      [] { return std::make_shared<Recordset>(); });
        RegisterClass("ADODB.Command", "{00000507-0000-0010-8000-00AA006D2EA4}",
                      [] { return std::make_shared<Command>(); });
        RegisterClass("ADODB.Stream", "{00000566-0000-0010-8000-00AA006D2EA4}",
                      [] { return std::make_shared<Stream>(); });
    });
}

} // namespace vm::ado

// Linking the library registers the classes: the interface link options of vm_platform_ado
// name this symbol, so the linker keeps this object and runs its initialiser.
extern "C" {
extern const int vm_ado_install_anchor;
const int vm_ado_install_anchor = (vm::ado::InstallAdoClasses(), 1);
}
