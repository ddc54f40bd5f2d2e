#pragma once

#include "platform/html_dom.h"

#include <QMetaType>

// DOM values cross the host's operations inside QVariant.
Q_DECLARE_METATYPE(qm::platform::dom::Node)
Q_DECLARE_METATYPE(qm::platform::dom::Document)
