#pragma once

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
    "       quillmoor open-url URL\n"
    "MESSAGE may be - for standard input.\n";

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
