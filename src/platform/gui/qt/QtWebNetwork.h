#pragma once
// How the embedded browsers meet the program's HTTP client: the same proxy and one cookie
// store.

#include <string>
#include <vector>

class QWebEngineProfile;

namespace vm::gui::qt {

// Appends to the program's arguments the Chromium switches that give the web views the proxy
// the request objects use (platform/http/SystemProxy.h) when the environment names one, and
// lets Chromium read the desktop's setting otherwise. Call before QApplication exists.
void AddWebProxyArguments(std::vector<std::string>& arguments);

// Joins `profile`'s cookie store to the process's store both ways, once per profile: cookies a
// page sets reach the request routines, cookies the request routines receive reach the pages.
// The profile itself keeps no cookie on disk; the process's store keeps them in set\.
void ShareCookies(QWebEngineProfile* profile);

} // namespace vm::gui::qt
