#pragma once
// The scripting request objects "WinHttp.WinHttpRequest.5.1", "MSXML2.ServerXMLHTTP.6.0" and
// "MSXML2.ServerXMLHTTP.5.0": native automation classes over the curl engine, reached by member
// name like any other object. One class serves the three ProgIDs; member names are matched
// without regard to case, so the two naming styles ("SetTimeouts", "setTimeouts") both bind.
//
// Members:
//   SetTimeouts(resolve, connect, send, receive)  ms; 0 or -1: no limit; before or after Open
//   Open(method, url[, async[, user, password]])  async requests complete inside Send
//   SetRequestHeader(name, value)                 after Open; a second value of a name replaces it
//   Option(index) / setOption(index, value) / getOption(index)
//       0 user agent, 1 URL (read only), 4 TLS errors to ignore (0x3300: all), 6 follow
//       redirects (default true), 12 follow https-to-http redirects (default false),
//       14 most redirects followed (default 10); other indexes up to 18 are kept and read back
//   SetProxy(setting[, server[, bypass]])         2: through `server`; 0, 1: direct
//   Send([body])                                  text (sent as UTF-8) or a byte array
//   WaitForResponse([timeout])                    true: Send has already completed
//   Status, StatusText, ResponseBody, ResponseText, readyState,
//   GetAllResponseHeaders(), GetResponseHeader(name), Abort()
//
// Failures raise a member exception with the text the Windows object gives (for instance "The
// operation timed out"), which the late-bound layer records as its per-thread error. A response
// member read before a successful Send fails the same way.

#include "platform/automation/Dispatch.h"

#include <memory>

namespace vm::http {

// Registers the three ProgIDs with the automation runtime. Linking the object file that defines
// the class does it at start-up too; calling it again is harmless.
void InstallHttpClasses();

std::shared_ptr<automation::Dispatch> NewRequestObject();

} // namespace vm::http
