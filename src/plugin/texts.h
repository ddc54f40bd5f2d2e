#pragma once

// The plug-in's user-visible texts in English. Each is also the key of its translation.
namespace qm::plugin::texts {

inline constexpr char reminderTitle[] = "Quillmoor Attachment Reminder";
inline constexpr char perFileFormat[] = "At least one of the attached files exceeds the configured threshold "
                                        "of %1.2f MByte with its %1.2f MByte.\n"
                                        "Quillmoor recommends to upload the attachments into the cloud and "
                                        "add corresponding links to the message.";
inline constexpr char totalFormat[] =
    "The attached files of this email message exceed the configured threshold of %1.2f MByte with a total of "
    "%1.2f MByte.\n"
    "Quillmoor recommends to upload the attachments into the cloud and add corresponding links to the "
    "message.";
inline constexpr char noServiceAppendix[] =
    "\n\nAs you have not yet configured any cloud services for Quillmoor, uploading file attachments is not "
    "available. Do you want to configure a cloud service now or just send the email?";
inline constexpr char sendAttachments[] = "Send Attachments";
inline constexpr char configureQuillmoor[] = "Configure Quillmoor";
inline constexpr char uploadAttachments[] = "Upload Attachments";
inline constexpr char cancel[] = "Cancel";

// Upload progress.
inline constexpr char progressAutoSend[] = "Your email attachments are currently uploaded into the cloud. As "
                                           "soon as the upload is finished, your email is "
                                           "sent to the recipient(s).";
inline constexpr char progressManualSend[] = "Your email attachments are currently uploaded into the cloud. "
                                             "As soon as the upload is finished, your email "
                                             "will include the download URLs.";

// End of a run.
inline constexpr char errorTitle[] = "Quillmoor Error";
inline constexpr char informationTitle[] = "Quillmoor Information";
inline constexpr char compressFilesFailed[] =
    "Failed to compress files '%@'. Please check the file type and try again.";
inline constexpr char compressFileFailed[] =
    "Failed to compress file '%@'. Please check the file type and try again.";
// The same, when the working directory is at fault (full disk, no permission): the reason follows.
inline constexpr char compressFilesFailedBecause[] = "Failed to compress files '%@': %@";
inline constexpr char compressFileFailedBecause[] = "Failed to compress file '%@': %@";
inline constexpr char copyFailed[] = "Failed to copy the attachment '%@': %@";
inline constexpr char noLinkForFile[] = "The cloud service returned no download link for '%@'. Please try "
                                        "again; your attachments are back in the "
                                        "message.";
inline constexpr char boxNotInserted[] =
    "The download box could not be added to the message, so the message was not sent. Please try again.";
inline constexpr char uploadInformationIncomplete[] = "Upload information is incomplete. Please try again.";
inline constexpr char uploadNotStarted[] = "The upload could not be started. Please check the cloud service "
                                           "in the Quillmoor preferences and try again; "
                                           "your attachments are back in the message.";
inline constexpr char uploadNeedsRecipients[] = "This cloud service sends the files to the message's "
                                                "recipients. Please add a recipient and try again; your "
                                                "attachments are back in the message.";

// Start-up.
inline constexpr char welcomeMessage[] = "Welcome to Quillmoor, your attachment-in-the-cloud plugin from "
                                         "Rovendal.\n\nBefore you can start using the plugin, you need "
                                         "to configure it. Do you want to open its preferences now?";
inline constexpr char yes[] = "Yes";
inline constexpr char notNow[] = "Not now";

// Update check.
inline constexpr char updateManagerMissingTitle[] = "The Plugin \u2018%@\u2019 is trying to update, however "
                                                    "the \u2018Mail Plugin Manager\u2019 app is missing.\n\n"
                                                    "It is required by '%@' to look for updates.\n";
inline constexpr char updateManagerMissingMessage[] =
    "Click \u2018Download\u2019 to download the latest version, then put it into your Applications folder.";
inline constexpr char download[] = "Download";

// Diagnostics, not translated.
inline constexpr char loadedBundle[] = "Loaded Bundle Quillmoor";
inline constexpr char updateNilBundle[] =
    "ERROR in MPTLaunchCommandForBundle() Macro: Cannot pass a nil bundle";
inline constexpr char updateToolNotFound[] =
    "ERROR in MPTLaunchCommandForBundle() Macro: MailPluginTool application wasn't found anywhere";
inline constexpr char updateFolderMissing[] =
    "Unable to create the action file, since the required folder doesn't exist and I can't create it";
inline constexpr char updateFileNotWritten[] = "Unable to write the contents of the action file";
inline constexpr char criticalSizeNotPositive[] =
    "Critical file size should be above 0, if we have remaining attachments!";

} // namespace qm::plugin::texts
