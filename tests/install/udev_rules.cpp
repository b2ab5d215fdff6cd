#include "tests/install/udev_rules.h"

#include <QRegularExpression>

namespace testing {

namespace {

const QStringList kMatchKeys{"ACTION", "SUBSYSTEM", "SUBSYSTEMS", "KERNEL", "KERNELS",
                             "DRIVER", "DRIVERS",   "ATTR",       "ATTRS",  "ENV"};
const QStringList kAssignKeys{"TAG", "GROUP", "MODE", "OWNER", "ENV", "SYMLINK"};

bool IsMatchOp(const QString& op) {
    return op == "==" || op == "!=";
}

// udev patterns: shell globs, with "|" between alternatives.
bool GlobMatches(const QString& pattern, const QString& value) {
    for (const QString& alternative : pattern.split('|')) {
        const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(alternative));
        if (re.match(value).hasMatch())
            return true;
    }
    return false;
}

std::optional<QString> Lookup(const UdevKey& key, const UdevDevice& device) {
    if (key.name == "SUBSYSTEM")
        return device.subsystem;
    if (key.name == "KERNEL")
        return device.kernel;
    if ((key.name == "ATTR" || key.name == "ATTRS") && device.attributes.contains(key.argument))
        return device.attributes.value(key.argument);
    if (key.name == "ATTRS" && device.parentAttributes.contains(key.argument))
        return device.parentAttributes.value(key.argument);
    return std::nullopt;
}

bool Matches(const UdevKey& key, const UdevDevice& device) {
    const std::optional<QString> value = Lookup(key, device);
    const bool equal = value.has_value() && GlobMatches(key.value, *value);
    return key.op == "==" ? equal : !equal;
}

} // namespace

std::optional<QList<UdevRule>> ParseUdevRules(const QString& text, QString* error) {
    // KEY{argument} OP "value", separated by commas.
    static const QRegularExpression keyPattern(
        QStringLiteral(R"re(^\s*([A-Z]+)(?:\{([^}]*)\})?\s*(==|!=|\+=|:=|=)\s*"([^"]*)"\s*(,|$))re"));
    QList<UdevRule> rules;
    const QStringList lines = text.split('\n');
    for (qsizetype number = 0; number < lines.size(); ++number) {
        const QString line = lines[number].trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const auto fail = [&](const QString& why) {
            *error = QStringLiteral("line %1: %2: %3").arg(number + 1).arg(why, line);
            return std::nullopt;
        };
        UdevRule rule;
        QString rest = line;
        while (!rest.trimmed().isEmpty()) {
            const QRegularExpressionMatch m = keyPattern.match(rest);
            if (!m.hasMatch())
                return fail(QStringLiteral("not KEY OP \"value\""));
            UdevKey key{m.captured(1), m.captured(2), m.captured(3), m.captured(4)};
            const bool match = IsMatchOp(key.op);
            if (!(match ? kMatchKeys : kAssignKeys).contains(key.name))
                return fail(QStringLiteral("%1 cannot take %2").arg(key.name, key.op));
            if ((key.name == "ATTR" || key.name == "ATTRS" || key.name == "ENV") == key.argument.isEmpty())
                return fail(QStringLiteral("%1 with a wrong {argument}").arg(key.name));
            rule.append(key);
            rest = rest.mid(m.capturedLength());
        }
        rules.append(rule);
    }
    return rules;
}

UdevAccess ApplyUdevRules(const QList<UdevRule>& rules, const UdevDevice& device) {
    UdevAccess access;
    for (const UdevRule& rule : rules) {
        bool all = true;
        for (const UdevKey& key : rule)
            if (IsMatchOp(key.op))
                all = all && Matches(key, device);
        if (!all)
            continue;
        for (const UdevKey& key : rule) {
            if (key.name == "TAG")
                access.tags.append(key.value);
            else if (key.name == "GROUP")
                access.group = key.value;
            else if (key.name == "MODE")
                access.mode = key.value;
        }
    }
    return access;
}

} // namespace testing
