#pragma once

#include "services/dropbox/dropbox_session.h"

#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

namespace qm::dropbox {

// The sign-in in the browser: OAuth 2 with PKCE (S256) and offline access. authenticate() opens the
// page; the browser returns to db-KEY://2/token?code=…&state=… (the URL scheme) and handleRedirect()
// exchanges the code for tokens, which the session stores. Each change of state is announced through
// `stateChanged` (loading, then not loading: linked, or with the error).
class AuthHelper {
public:
    AuthHelper(Session& session, std::function<bool(const QUrl&)> openPage);

    void authenticate();
    // False when no sign-in is under way or `url` is not its redirect (or a bare code).
    bool handleRedirect(const QString& redirectOrCode);
    bool isLoading() const { return loading_; }
    const std::optional<platform::Error>& error() const { return error_; }

    std::function<void()> stateChanged;

private:
    void exchange(const QString& code);
    void finish(std::optional<platform::Error> error);

    Session& session_;
    std::function<bool(const QUrl&)> openPage_;
    QByteArray verifier_;
    QString state_;
    bool loading_ = false;
    std::optional<platform::Error> error_;
    std::shared_ptr<net::OAuth2Client> tokenClient_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace qm::dropbox
