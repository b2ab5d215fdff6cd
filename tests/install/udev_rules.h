// Just enough of udev's rule language to tell what a rules file does to one
// device: the match keys and assignments a device-access rule uses. A key or
// operator it does not know is an error rather than something skipped, so a
// typo cannot pass unnoticed.
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

namespace testing {

// A device as udev sees it: the node's own attributes and those of its parents
// (a ttyUSB port's idVendor belongs to its USB parent).
struct UdevDevice {
    QString subsystem;
    QString kernel;
    QMap<QString, QString> attributes;
    QMap<QString, QString> parentAttributes;
};

// What the rules gave the device; empty when no rule matched.
struct UdevAccess {
    QStringList tags;
    QString group;
    QString mode;
};

struct UdevKey {
    QString name;     // SUBSYSTEM, ATTRS, TAG, ...
    QString argument; // the part in braces: ATTRS{idVendor}
    QString op;       // ==, !=, =, +=, :=
    QString value;
};

using UdevRule = QList<UdevKey>;

// The rules of `text`, one a line; nullopt with `error` naming the line on bad input.
std::optional<QList<UdevRule>> ParseUdevRules(const QString& text, QString* error);

UdevAccess ApplyUdevRules(const QList<UdevRule>& rules, const UdevDevice& device);

} // namespace testing
