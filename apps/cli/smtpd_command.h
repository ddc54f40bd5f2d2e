#pragma once

#include "cli/environment.h"

#include <QStringList>

namespace qm::cli {

// `quillmoor smtpd [--listen 127.0.0.1:PORT] | --print-credentials`: the local SMTP submission service.
// Its clients log in with the user's login name and a token kept in the credential store, which
// --print-credentials makes on first use and shows. Runs until ended by a signal.
class SmtpdCommand {
public:
    static constexpr char credentialLabel[] = "Quillmoor (SMTP submission)";
    static constexpr quint16 defaultPort = 1587;

    explicit SmtpdCommand(Environment& environment);
    int run(const QStringList& arguments);

private:
    int printCredentials();
    void report(const QString& text);
    static QString userName();

    Environment& env_;
};

} // namespace qm::cli
