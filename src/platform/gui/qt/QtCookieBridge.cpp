#include "platform/gui/qt/QtWebNetwork.h"

#include "platform/http/CookieStore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QNetworkCookie>
#include <QPointer>
#include <QUrl>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

#include <mutex>
#include <vector>

namespace vm::gui::qt {
namespace {

// The browsers' stores joined so far; touched on the GUI thread only.
std::vector<QPointer<QWebEngineCookieStore>>& Joined() {
    static std::vector<QPointer<QWebEngineCookieStore>> stores;
    return stores;
}

QByteArray Bytes(const std::string& text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

// The page a cookie could have come from: the browser checks a cookie against it.
QUrl OriginOf(const http::Cookie& cookie) {
    return QUrl(QString::fromLatin1(cookie.secure ? "https://" : "http://") +
                QString::fromLatin1(Bytes(cookie.domain)) +
                QString::fromLatin1(Bytes(cookie.path)));
}

QNetworkCookie ToQt(const http::Cookie& cookie) {
    QNetworkCookie converted(Bytes(cookie.name), Bytes(cookie.value));
    // No domain makes a host-only cookie of the origin's host; a leading dot one for the
    // domain and its sub-domains.
    if (!cookie.hostOnly)
        converted.setDomain(QString::fromLatin1(Bytes("." + cookie.domain)));
    converted.setPath(QString::fromLatin1(Bytes(cookie.path)));
    converted.setSecure(cookie.secure);
    converted.setHttpOnly(cookie.httpOnly);
    if (cookie.expires)
        converted.setExpirationDate(
            QDateTime::fromSecsSinceEpoch(static_cast<qint64>(*cookie.expires), Qt::UTC));
    return converted;
}

http::Cookie FromQt(const QNetworkCookie& cookie) {
    http::Cookie converted;
    converted.name = cookie.name().toStdString();
    converted.value = cookie.value().toStdString();
    const QByteArray domain = cookie.domain().toLower().toLatin1();
    converted.domain = domain.toStdString();
    converted.hostOnly = !domain.startsWith('.');
    converted.path = cookie.path().isEmpty() ? "/" : cookie.path().toStdString();
    converted.secure = cookie.isSecure();
    converted.httpOnly = cookie.isHttpOnly();
    if (!cookie.isSessionCookie())
        converted.expires = static_cast<std::time_t>(cookie.expirationDate().toSecsSinceEpoch());
    return converted;
}

void Apply(QWebEngineCookieStore& store, const http::Cookie& cookie, bool removed) {
    if (cookie.name.empty())
        return; // a nameless cookie has no form the browser accepts
    if (removed)
        store.deleteCookie(ToQt(cookie), OriginOf(cookie));
    else
        store.setCookie(ToQt(cookie), OriginOf(cookie));
}

// The process's store reports changes from any thread; the browsers take them on the GUI
// thread. Changes the browsers made themselves are not reported, so nothing echoes.
void ListenToTheProcessStore() {
    static std::once_flag once;
    std::call_once(once, [] {
        http::CookieStore::Global().SetListener([](const http::Cookie& cookie, bool removed) {
            QCoreApplication* app = QCoreApplication::instance();
            if (!app)
                return;
            QMetaObject::invokeMethod(
                app,
                [cookie, removed] {
                    for (const QPointer<QWebEngineCookieStore>& store : Joined()) {
                        if (store)
                            Apply(*store, cookie, removed);
                    }
                },
                Qt::QueuedConnection);
        });
    });
}

} // namespace

void ShareCookies(QWebEngineProfile* profile) {
    if (!profile)
        return;
    QWebEngineCookieStore* store = profile->cookieStore();
    for (const QPointer<QWebEngineCookieStore>& joined : Joined()) {
        if (joined == store)
            return;
    }
    // Kept cookies live in the program's folder, through the process's store, not in a
    // second copy of the browser's own elsewhere.
    profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    Joined().emplace_back(store);
    ListenToTheProcessStore();

    QObject::connect(
        store, &QWebEngineCookieStore::cookieAdded, store,
        [](const QNetworkCookie& cookie) { http::CookieStore::Global().Insert(FromQt(cookie)); });
    QObject::connect(
        store, &QWebEngineCookieStore::cookieRemoved, store,
        [](const QNetworkCookie& cookie) { http::CookieStore::Global().Remove(FromQt(cookie)); });
    for (const http::Cookie& cookie : http::CookieStore::Global().All())
        Apply(*store, cookie, false);
}

} // namespace vm::gui::qt
