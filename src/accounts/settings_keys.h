#pragma once

// Every key of the settings store, in one place. The values are stored verbatim; other programs and
// earlier versions read the same names.
namespace qm::accounts::keys {

// behaviour
inline constexpr char selectedService[] = "QuillmoorSelectedService";
inline constexpr char fileSizeMode[] = "QuillmoorFileSizeMode";
inline constexpr char minFileSize[] = "QuillmoorMinFileSize";
inline constexpr char askBeforeUpload[] = "QuillmoorAskBeforeUpload";
inline constexpr char autoSendEmail[] = "QuillmoorAutoSendEmail";
inline constexpr char compressFiles[] = "QuillmoorCompressFiles";
inline constexpr char compressToSingleZip[] = "QuillmoorCompressToSingleZIP";
inline constexpr char translateInfoBox[] = "QuillmoorTranslateInfoBox";
inline constexpr char infoBoxTemplate[] = "RVQuillmoorInfoBoxTemplate";
inline constexpr char version[] = "RVQuillmoorVersion";
inline constexpr char downloadBetaUpdates[] = "RVDownloadBetaUpdates";
inline constexpr char suppressMissingManagerAlert[] = "MPTSuppressMissingMPMAlert";
inline constexpr char dontAskForPlugins[] = "RovendalDontAskForPlugins";

// Dropbox
inline constexpr char dropboxLinked[] = "RVQuilldropDropboxLinked";
// YouSendIt
inline constexpr char youSendItEmail[] = "RVQuillmoorYouSendItEmail";
// CloudApp
inline constexpr char cloudAppEmail[] = "QuillmoorCloudAppEmail";
inline constexpr char cloudAppLinked[] = "RVQuillmoorCloudAppLinked";
inline constexpr char cloudAppBaseURL[] = "CloudAppBaseURL";
// Droplr
inline constexpr char droplrEmail[] = "QuillmoorDroplrEmail";
inline constexpr char droplrLinked[] = "RVQuillmoorDroplrLinked";
// Dropmark
inline constexpr char dropmarkEmail[] = "RVQuillmoorDropmarkEmail";
inline constexpr char dropmarkLinked[] = "RVQuillmoorDropmarkLinked";
inline constexpr char dropmarkUserID[] = "RVQuillmoorDropmarkUserID";
inline constexpr char dropmarkToken[] = "RVQuillmoorDropmarkToken";
inline constexpr char dropmarkCollectionID[] = "RVQuillmoorDropmarkCollectionID";
// MediaFire (the lower-case "f" in the folder key is what stored settings carry)
inline constexpr char mediaFireEmail[] = "RVQuillmoorMediaFireEmail";
inline constexpr char mediaFireLinked[] = "RVQuillmoorMediaFireLinked";
inline constexpr char mediaFireFolderKey[] = "RVQuillmoorMediafireFolderKey";
// Box
inline constexpr char boxFolderId[] = "RVQuillmoorBoxFolderId";
// Google Drive
inline constexpr char googleDriveFolderId[] = "RVQuillmoorGDriveFolderId";
// ownCloud
inline constexpr char ownCloudEmail[] = "QuillmoorOwnCloudEmail";
inline constexpr char ownCloudLinked[] = "RVQuillmoorOwnCloudLinked";
inline constexpr char ownCloudURL[] = "QuillmoorOwnCloudURL";
inline constexpr char ownCloudDirectoryName[] = "QuillmoorOwnCloudDirectoryName";
// Generic server
inline constexpr char genericLogin[] = "QuillmoorGenericLogin";
inline constexpr char genericLinked[] = "RVQuillmoorGenericLinked";
inline constexpr char genericServer[] = "QuillmoorGenericServer";
inline constexpr char genericPrivateKey[] = "QuillmoorGenericPrivateKey";
inline constexpr char genericPublicURL[] = "QuillmoorGenericPublicURL";

} // namespace qm::accounts::keys
