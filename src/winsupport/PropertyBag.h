// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The design-time properties a control saves with its form: named values kept in the order
// written. An entry equal to its default is not stored, and reading a missing entry gives the
// default.
#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

namespace postlark {

class PropertyBag {
public:
    QVariant ReadProperty(const QString& name, const QVariant& defaultValue = QVariant()) const;
    void WriteProperty(const QString& name, const QVariant& value,
                       const QVariant& defaultValue = QVariant());

    bool Contains(const QString& name) const;
    // Names of the stored entries, in the order written.
    QStringList Names() const;

private:
    std::vector<std::pair<QString, QVariant>> entries_;
};

} // namespace postlark
