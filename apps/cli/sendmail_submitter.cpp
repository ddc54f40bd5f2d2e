#include "cli/sendmail_submitter.h"

#include "cli/cli_error.h"
#include "cli/pipe_feeder.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace qm::cli {

SendmailSubmitter::SendmailSubmitter(QString program)
    : program_(std::move(program)) {}

platform::Result<void> SendmailSubmitter::submit(const MessageSource& source) const {
    PipeFeeder feeder;
    if (const auto opened = feeder.open(); !opened)
        return opened.error();

    const QByteArray program = QFile::encodeName(program_);
    QList<QByteArray> encoded;
    for (const QString& argument : this->arguments)
        encoded.append(argument.toLocal8Bit());
    std::vector<char*> arguments{const_cast<char*>(program.constData())};
    for (QByteArray& argument : encoded)
        arguments.push_back(argument.data());
    arguments.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, feeder.readEnd(), STDIN_FILENO);
    pid_t child = -1;
    const int spawned =
        posix_spawn(&child, program.constData(), &actions, nullptr, arguments.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return cliError(SubmissionFailed, QStringLiteral("cannot run %1: %2")
                                              .arg(program_, QString::fromLocal8Bit(std::strerror(spawned))));
    feeder.closeReadEnd();

    // Killed before it sees the end of its input, sendmail sends nothing of a message that broke off.
    feeder.start(source, [child] { ::kill(child, SIGKILL); });
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    const platform::Result<void> written = feeder.finish();
    if (!written && !(WIFEXITED(status) && WEXITSTATUS(status) != 0))
        return written;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return {};
    const QString how = WIFEXITED(status) ? QStringLiteral("exited with status %1").arg(WEXITSTATUS(status))
                                          : QStringLiteral("was ended by signal %1").arg(WTERMSIG(status));
    return cliError(SubmissionFailed, QStringLiteral("%1 %2; the message was not sent").arg(program_, how),
                    WIFEXITED(status) ? QVariantMap{{QString::fromLatin1(exitStatusKey), WEXITSTATUS(status)}}
                                      : QVariantMap{});
}

} // namespace qm::cli
