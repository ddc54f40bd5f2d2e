#pragma once

#include <QByteArray>
#include <QString>

// The command-line host's own texts, in one place.
namespace qm::cli::texts {

inline constexpr char usage[] =
    "usage: quillmoor send [--answer upload|send|cancel|configure] [--out FILE | --smtp URL | --sendmail] "
    "MESSAGE\n"
    "       quillmoor config list | get KEY | set [--force] KEY VALUE | unset KEY\n"
    "       quillmoor services\n"
    "       quillmoor link SERVICE [--login NAME] [--password-stdin] [--server URL] [--public-url URL]\n"
    "                              [--private-key FILE] [--folder NAME] [--accept-host-key] [--no-browser]\n"
    "       quillmoor unlink SERVICE\n"
    "       quillmoor sendmail [-f SENDER] [-F NAME] [-i] [-t] [-v] [RECIPIENT...]\n"
    "       quillmoor smtpd [--listen 127.0.0.1:PORT] [--print-credentials]\n"
    "       quillmoor help [COMMAND] | --version\n"
    "       quillmoor open-url URL\n"
    "MESSAGE may be - for standard input.\n";

inline constexpr char version[] = QUILLMOOR_VERSION;

// `quillmoor help COMMAND`.
struct CommandHelp {
    const char* command;
    const char* text;
};
inline constexpr CommandHelp commandHelp[] = {
    {"send", "usage: quillmoor send [--answer upload|send|cancel|configure] [--out FILE | --smtp URL | "
             "--sendmail] MESSAGE\n"
             "Loads MESSAGE (- for standard input) into a compose window, lets Quillmoor decide at Send and\n"
             "writes the message to standard output or FILE, submits it to the SMTP server URL\n"
             "(smtp:// or smtps://, its password from the keyring) or hands it to /usr/sbin/sendmail.\n"
             "Exit status: 0 sent, 1 not sent, 2 bad usage or an unreadable message.\n"},
    {"config", "usage: quillmoor config list | get KEY | set [--force] KEY VALUE | unset KEY\n"
               "Reads and writes the settings; set checks the value against what the key takes.\n"},
    {"services",
     "usage: quillmoor services\nLists the services, which one is selected and which are linked.\n"},
    {"link",
     "usage: quillmoor link SERVICE [--login NAME] [--password-stdin] [--server URL] [--public-url URL]\n"
     "                      [--private-key FILE] [--folder NAME] [--accept-host-key] [--no-browser]\n"
     "Links an account of SERVICE (an identifier 0-9 or a name) and selects it. Services that sign in\n"
     "in the browser open its sign-in page and wait up to 5 minutes for it to come back; --no-browser\n"
     "prints the address and reads the address the browser ended on, or the code, from standard input.\n"},
    {"unlink", "usage: quillmoor unlink SERVICE\nUnlinks the account of SERVICE and forgets its password.\n"},
    {"open-url", "usage: quillmoor open-url URL\nHands URL to every Quillmoor program waiting for a sign-in "
                 "to come back\n"
                 "(a quillmoor link under way, quillmoor-mail); the desktop runs it for quillmoor: links.\n"
                 "Exit status: 0 taken, 1 no program waits for it.\n"},
    {"sendmail",
     "usage: quillmoor sendmail [-f SENDER] [-F NAME] [-i|-oi] [-t] [-v] [--] [RECIPIENT...]\n"
     "A drop-in for /usr/sbin/sendmail (also as a symbolic link named sendmail): reads a message from\n"
     "standard input, moves large attachments to the cloud (the answer to a question is\n"
     "QuillmoorUnattendedAnswer: upload, send or cancel) and hands the message to QuillmoorSMTPURL, or\n"
     "else to the program QuillmoorSendmailPath (default /usr/sbin/sendmail). -t takes the recipients\n"
     "from To, Cc and Bcc. Other options are accepted and ignored.\n"
     "Exit status (sysexits.h): 0 sent, 75 try again later, 67 recipient refused, 69 refused,\n"
     "65 not a message, 78 configuration, 64 usage.\n"},
    {"smtpd",
     "usage: quillmoor smtpd [--listen 127.0.0.1:PORT] | --print-credentials\n"
     "A local SMTP submission service (default 127.0.0.1:1587, or the socket systemd passes): takes\n"
     "messages after AUTH PLAIN or LOGIN with the credentials --print-credentials shows, moves large\n"
     "attachments to the cloud and relays the message to QuillmoorSMTPURL. A message is acknowledged\n"
     "only once the relay has taken it; a failure before that is answered with a 4xx reply.\n"},
};

inline QByteArray helpFor(const QString& command) {
    for (const CommandHelp& help : commandHelp)
        if (command == QLatin1String(help.command))
            return help.text;
    return {};
}

inline constexpr char sheetNeedsAnswer[] =
    "this question needs an answer, but standard input is not a terminal; run again with "
    "--answer upload|send|cancel|configure. Nothing was uploaded or sent.";
inline constexpr char sheetLacksButton[] =
    "--answer %1: this question has no \"%2\" button. Nothing was sent.";
inline constexpr char sheetNotAnswered[] = "the question was not answered. Nothing was sent.";
inline constexpr char promptChoose[] = "Choose 1-%1: ";
inline constexpr char promptAgain[] = "Please answer with a number from 1 to %1 or a button's name.";
inline constexpr char answeredByFlag[] = "-> %1 (--answer %2)";
inline constexpr char preferencesUnavailable[] =
    "the Quillmoor preferences are not available in the command-line host. Nothing was sent.";
inline constexpr char interrupted[] = "interrupted. Nothing was sent.";
inline constexpr char cancelled[] = "cancelled. Nothing was sent.";
inline constexpr char uploadEnded[] = "the attachments were not uploaded. Nothing was sent.";
inline constexpr char notSent[] = "the message was not sent.";
inline constexpr char standardInput[] = "standard input";
inline constexpr char sentAsItCame[] =
    "the message is %1: it is sent as it is, unchanged, without moving its attachments to the cloud";
inline constexpr char uploadsRemoved[] = "the files uploaded for it were removed from the service again: %1";
inline constexpr char uploadNotRemoved[] = "an uploaded file could not be removed, remove it yourself: %1";
inline constexpr char openAddress[] = "Open this address in a web browser: %1";
inline constexpr char uploading[] = "Uploading";

// Linking accounts.
inline constexpr char linkingError[] = "Linking Error";
inline constexpr char invalidServerTitle[] = "Invalid Server Address";
inline constexpr char invalidServerText[] = "The provided server address does not have the required format.";
inline constexpr char unknownService[] = "no service is called \"%1\"; quillmoor services lists them";
inline constexpr char serviceUnavailable[] = "%1 cannot be linked from the command line in this version";
inline constexpr char linked[] = "%1 is linked and selected: large attachments now go there.";
inline constexpr char passwordNotStored[] = "the password could not be stored (is the Secret Service running "
                                            "and the keyring unlocked?); %1 stays unlinked.";
inline constexpr char unlinked[] = "%1 is unlinked.";

// Signing in through the browser.
inline constexpr char waitingForSignIn[] = "Waiting for the sign-in in the browser (%1 left; Ctrl-C ends it)";
inline constexpr char pasteAddress[] =
    "Sign in, then paste the address the browser ended at (or the code it shows) here and press Enter:\n";
inline constexpr char signInInterrupted[] = "interrupted; nothing was stored.";
inline constexpr char signInTimedOut[] = "no sign-in came back within 5 minutes; nothing was stored.";
inline constexpr char notAnAnswer[] =
    "that is neither the address the sign-in ended at nor its code; nothing was stored.";
inline constexpr char inputEnded[] = "standard input ended before the sign-in address; nothing was stored.";
inline constexpr char hostKeyQuestion[] = "Record this key and go on? [y/N] ";
inline constexpr char hostKeyAccepted[] = "The host key %1 of %2 is recorded (--accept-host-key).";
inline constexpr char hostKeyNotAccepted[] =
    "the host key was not accepted; run again with --accept-host-key once its fingerprint is checked.";

} // namespace qm::cli::texts
