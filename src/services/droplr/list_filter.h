#pragma once

#include "services/droplr/enums.h"
#include "json/value.h"

#include <QString>
#include <optional>

namespace qm::droplr {

// Which drops a list asks for; it travels as the list request's query.
struct ListFilter {
    static constexpr qint64 kMaxAmount = 100;

    qint64 since = -1, until = -1; // milliseconds; -1: unset
    qint64 offset = -1, amount = -1;
    DropType type = DropType::Unknown;
    ListSortBy sortBy = ListSortBy::Unset;
    ListSortOrder order = ListSortOrder::Unset;
    QString searchTerm;

    static ListFilter dropsSinceTimestamp(qint64 since);
    static ListFilter dropsUntilTimestamp(qint64 until);
    static ListFilter dropsOfType(DropType type);
    // The amount is clamped to kMaxAmount.
    static ListFilter dropsOfType(DropType type, qint64 offset, qint64 amount,
                                  ListSortBy sortBy = ListSortBy::Unset,
                                  ListSortOrder order = ListSortOrder::Unset, const QString& searchTerm = {});

    bool isEmpty() const;
    // Nothing when empty; else the set fields under their query keys, in field order.
    std::optional<json::Object> asDictionary() const;
};

} // namespace qm::droplr
