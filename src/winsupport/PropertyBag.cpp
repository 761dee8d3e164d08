// SPDX-License-Identifier: GPL-3.0-or-later
#include "winsupport/PropertyBag.h"

#include <algorithm>

namespace postlark {

QVariant PropertyBag::ReadProperty(const QString& name, const QVariant& defaultValue) const {
    for (const auto& [key, value] : entries_)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return defaultValue;
}

void PropertyBag::WriteProperty(const QString& name, const QVariant& value,
                                const QVariant& defaultValue) {
    std::erase_if(entries_, [&](const auto& entry) {
        return entry.first.compare(name, Qt::CaseInsensitive) == 0;
    });
    if (defaultValue.isValid() && value == defaultValue)
        return;
    entries_.emplace_back(name, value);
}

bool PropertyBag::Contains(const QString& name) const {
    return std::any_of(entries_.begin(), entries_.end(), [&](const auto& entry) {
        return entry.first.compare(name, Qt::CaseInsensitive) == 0;
    });
}

QStringList PropertyBag::Names() const {
    QStringList names;
    for (const auto& entry : entries_)
        names << entry.first;
    return names;
}

} // namespace postlark
