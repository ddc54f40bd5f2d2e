#include "cli/services_command.h"

#include "cli/exit_status.h"
#include "plugin/active_service.h"
#include "uploaders/service_id.h"

namespace qm::cli {

ServicesCommand::ServicesCommand(const platform::SettingsStore& settings,
                                 const upload::ServiceRegistry& services, QIODevice& out)
    : settings_(settings)
    , services_(services)
    , out_(out) {}

int ServicesCommand::run() {
    const upload::ServiceId active = plugin::activeService(settings_, services_);
    QString text;
    for (const upload::ServiceId id : upload::kAllServices) {
        const QString state = !services_.classForService(id)     ? QStringLiteral("not available")
                              : services_.isLinkedForService(id) ? QStringLiteral("linked")
                                                                 : QStringLiteral("not linked");
        text += QStringLiteral("%1 %2  %3 %4\n")
                    .arg(QChar(id == active ? u'*' : u' '))
                    .arg(upload::serviceNumber(id))
                    .arg(services_.nameOfService(id), -12)
                    .arg(state);
    }
    text += active == upload::ServiceId::None
                ? QStringLiteral("No service is active: attachments cannot be uploaded.\n")
                : QStringLiteral("* the active service\n");
    out_.write(text.toUtf8());
    return ExitSent;
}

} // namespace qm::cli
