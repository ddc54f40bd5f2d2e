#include "services/droplr/list_filter.h"

#include <algorithm>

namespace qm::droplr {

ListFilter ListFilter::dropsSinceTimestamp(qint64 since) {
    ListFilter filter;
    filter.since = since;
    return filter;
}

ListFilter ListFilter::dropsUntilTimestamp(qint64 until) {
    ListFilter filter;
    filter.until = until;
    return filter;
}

ListFilter ListFilter::dropsOfType(DropType type) {
    ListFilter filter;
    filter.type = type;
    return filter;
}

ListFilter ListFilter::dropsOfType(DropType type, qint64 offset, qint64 amount, ListSortBy sortBy,
                                   ListSortOrder order, const QString& searchTerm) {
    ListFilter filter;
    filter.type = type;
    filter.offset = offset;
    filter.amount = std::min(amount, kMaxAmount);
    filter.sortBy = sortBy;
    filter.order = order;
    filter.searchTerm = searchTerm;
    return filter;
}

bool ListFilter::isEmpty() const {
    return since <= 0 && until <= 0 && offset <= 0 && amount <= 0 && type == DropType::Unknown &&
           sortBy == ListSortBy::Unset && order == ListSortOrder::Unset && searchTerm.isEmpty();
}

std::optional<json::Object> ListFilter::asDictionary() const {
    if (isEmpty())
        return std::nullopt;
    json::Object fields;
    if (since > 0)
        fields.insert(QStringLiteral("since"), QString::number(since));
    if (until > 0)
        fields.insert(QStringLiteral("until"), QString::number(until));
    if (offset > 0)
        fields.insert(QStringLiteral("offset"), QString::number(offset));
    if (amount > 0)
        fields.insert(QStringLiteral("amount"), QString::number(amount));
    if (type != DropType::Unknown)
        fields.insert(QStringLiteral("type"), toString(type));
    if (sortBy != ListSortBy::Unset)
        fields.insert(QStringLiteral("sort_by"), toString(sortBy));
    if (order != ListSortOrder::Unset)
        fields.insert(QStringLiteral("order"), toString(order));
    if (!searchTerm.isEmpty())
        fields.insert(QStringLiteral("search"), searchTerm);
    return fields;
}

} // namespace qm::droplr
