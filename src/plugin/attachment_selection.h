#pragma once

#include "host/compose_window.h"
#include "platform/settings_store.h"

#include <QStringList>
#include <optional>

namespace qm::plugin {

inline constexpr double kBytesPerMByte = 1048576.0;

// The content IDs that the compose body refers to ("cid:" in the data attribute of its object
// elements), in document order.
QStringList referencedContentIDs(const platform::dom::Node& composeBody);

// Which attachments are to move to the cloud. Per-file mode (1): the IDs of every attachment strictly
// above the threshold, possibly none, with the largest such size as `criticalSize`. Total mode (any other
// value): every referenced ID when the sum is strictly above the threshold, else nullopt with 0.
// Sizes in MByte of 1,048,576 bytes.
std::optional<QStringList> attachmentIDArrayWithCriticalFileSize(const host::ComposeWindow& editor,
                                                                 const platform::SettingsStore& settings,
                                                                 double* criticalSize);

// Size in MByte of an attachment record; 0 when it does not answer.
double sizeInMByte(const host::AttachmentRecord& record);

// The threshold setting as the float it is stored as.
double thresholdInMByte(const platform::SettingsStore& settings);
bool isPerFileMode(const platform::SettingsStore& settings);

} // namespace qm::plugin
