#include "cli/services_command.h"

#include "cli/exit_status.h"
#include "plugin/active_service.h"
#include "uploaders/service_id.h"

namespace qm::cli {

ServicesCommand::ServicesCommand(const platform::SettingsStore& settings, const upload::ServiceRegistry& services,
                                 QIODevice& out)
    : settings_(settings)
    , services_(services)
    , out_(out) {}

int ServicesCommand::run() {
    const int active = plugin::activeService(settings_, services_);
    QString text;
    for (int id = 0; id < upload::kServiceCount; ++id) {
        const bool built = services_.classForService(id) != nullptr;
        QString name = built ? services_.nameOfService(id) : QString();
        if (name.isEmpty())
            name = upload::serviceName(id);
        const QString state = !built                         ? QStringLiteral("not available")
                              : services_.isLinkedForService(id) ? QStringLiteral("linked")
                                                               : QStringLiteral("not linked");
        text += QStringLiteral("%1 %2  %3 %4\n")
                    .arg(QChar(id == active ? u'*' : u' '))
                    .arg(id)
                    .arg(name, -12)
                    .arg(state);
    }
    text += active == upload::NoService ? QStringLiteral("No service is active: attachments cannot be uploaded.\n")
                                        : QStringLiteral("* the active service\n");
    out_.write(text.toUtf8());
    return ExitSent;
}

} // namespace qm::cli
