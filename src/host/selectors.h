#pragma once

// The names under which the host's operations are looked up, in one place.
namespace qm::host::selectors {

// compose window (the document editor)
inline constexpr char send[] = "send:";
inline constexpr char windowWillClose[] = "windowWillClose:";
inline constexpr char backEnd[] = "backEnd";
inline constexpr char webViewEditor[] = "webViewEditor";
inline constexpr char window[] = "window";
inline constexpr char saveMessageToDrafts[] = "saveMessageToDrafts:";

// compose back end
inline constexpr char attachments[] = "attachments";
inline constexpr char subject[] = "subject";
inline constexpr char allRecipients[] = "allRecipients";

// attachment view and record
inline constexpr char attachment[] = "attachment";
inline constexpr char contentID[] = "contentID";
inline constexpr char approximateSize[] = "approximateSize";
inline constexpr char fileWrapper[] = "fileWrapper";
inline constexpr char filename[] = "filename";
inline constexpr char writeToURL[] = "writeToURL:options:originalContentsURL:error:";

// web view editor and web view
inline constexpr char webView[] = "webView";
inline constexpr char allowsRichText[] = "allowsRichText";
inline constexpr char contentElement[] = "contentElement";
inline constexpr char mainFrame[] = "mainFrame";
inline constexpr char domDocument[] = "DOMDocument";

// application object and preferences controller
inline constexpr char showPreferencesPanel[] = "showPreferencesPanel:";
inline constexpr char sharedPreferences[] = "sharedPreferences";
inline constexpr char addPreferenceNamed[] = "addPreferenceNamed:owner:";
inline constexpr char showPreferencesPanelForOwner[] = "showPreferencesPanelForOwner:";
inline constexpr char valueForKey[] = "valueForKey:";
// The URL event: the URL as text, then the reply (unused by our hosts).
inline constexpr char handleGURLAppleEvent[] = "handleGURLAppleEvent:replyEvent:";
inline constexpr char activateIgnoringOtherApps[] = "activateIgnoringOtherApps:";

// bundle class registration
inline constexpr char registerBundle[] = "registerBundle";

} // namespace qm::host::selectors
