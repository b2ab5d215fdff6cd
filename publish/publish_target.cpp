#include "publish/publish_target.h"

#include "channels/channel.h"

#include <QStringDecoder>
#include <QUrl>
#include <algorithm>

namespace publish {

namespace {

// A text from the command line as a message shows it: a very long one is cut.
QString Shown(const QString& text) {
    constexpr qsizetype kShownLength = 80;
    return text.size() <= kShownLength ? text : text.left(kShownLength - 1) + QChar(0x2026);
}

// C0 (U+0000–U+001F), DEL and C1 (U+0080–U+009F): a broker may drop the connection of a client
// that publishes to a topic holding one, and a terminal showing such a topic would act on it.
bool IsControl(QChar c) {
    const char16_t u = c.unicode();
    return u <= 0x1F || (u >= 0x7F && u <= 0x9F);
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Every '%' begins two hex digits, and each run of escapes stands for whole UTF-8 characters: a topic
// is UTF-8, and a byte that is not would reach the broker as U+FFFD.
report::Done PercentEncodedUtf8(const QString& url) {
    const QByteArray bytes = url.toUtf8();
    const QString wants =
        QStringLiteral("--publish wants the URL in percent-encoded UTF-8 (é is %C3%A9, a '%' itself %25): ");
    for (qsizetype i = 0; i < bytes.size();) {
        if (bytes[i] != '%') {
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < bytes.size() && bytes[end] == '%') {
            if (end + 2 >= bytes.size() || !IsHexDigit(bytes[end + 1]) || !IsHexDigit(bytes[end + 2]))
                return report::Fail(
                    wants + QStringLiteral("'%1' has a '%' without two hex digits after it").arg(Shown(url)));
            end += 3;
        }
        const QByteArray escapes = bytes.mid(i, end - i);
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        [[maybe_unused]] const QString decoded = utf8.decode(QByteArray::fromPercentEncoding(escapes));
        if (utf8.hasError())
            return report::Fail(
                wants +
                QStringLiteral("%1 in '%2' is not UTF-8").arg(QString::fromLatin1(escapes), Shown(url)));
        i = end;
    }
    return {};
}

} // namespace

report::Result<PublishTarget> ParsePublishUrl(const QString& url) {
    if (auto encoded = PercentEncodedUtf8(url); !encoded)
        return report::Fail(encoded.Reason());
    const QUrl parsed(url, QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() && parsed.errorString().startsWith(QLatin1String("Invalid port"))) {
        return report::Fail(QStringLiteral("--publish: the port in '%1' must be a number from 1 to 65535").arg(Shown(url)));
    }
    if (!parsed.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts"))) {
        return report::Fail(QStringLiteral("--publish wants mqtt://[user@]host[:port]/PREFIX or mqtts://…, not '%1'")
                     .arg(Shown(url)));
    }
    if (parsed.port() == 0) {
        return report::Fail(QStringLiteral("--publish: the port in '%1' must be a number from 1 to 65535, not 0")
                     .arg(Shown(url)));
    }
    if (!parsed.password().isEmpty()) {
        return report::Fail(QStringLiteral("--publish: put the password in the environment variable TAVRIN_MQTT_PASSWORD, "
                           "not in the URL"));
    }
    if (parsed.host().isEmpty()) {
        return report::Fail(QStringLiteral("--publish: the URL '%1' names no broker host").arg(Shown(url)));
    }
    if (parsed.hasQuery() || parsed.hasFragment()) {
        return report::Fail(QStringLiteral("--publish: the URL '%1' has a '?' or '#' part, which means nothing here")
                     .arg(Shown(url)));
    }
    QString prefix = parsed.path(QUrl::FullyDecoded);
    while (prefix.startsWith(QLatin1Char('/')))
        prefix.remove(0, 1);
    while (prefix.endsWith(QLatin1Char('/')))
        prefix.chop(1);
    if (prefix.isEmpty()) {
        return report::Fail(QStringLiteral("--publish: the URL '%1' needs a topic prefix after the host, as in "
                                "mqtt://broker/lab")
                     .arg(Shown(url)));
    }
    if (prefix.contains(QChar(0))) {
        return report::Fail(QStringLiteral("--publish: the topic prefix may not hold a NUL character (%00): it would cut "
                           "the topic short"));
    }
    if (const auto control = std::find_if(prefix.cbegin(), prefix.cend(), IsControl); control != prefix.cend()) {
        const QString code = QString::number(control->unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0'));
        return report::Fail(QStringLiteral("--publish: the topic prefix may not hold control characters "
                                           "(U+0000–U+001F, U+007F, U+0080–U+009F); it holds U+%1 (%2)")
                                .arg(code, QString::fromLatin1(QUrl::toPercentEncoding(QString(*control)))));
    }
    if (prefix.contains(QLatin1Char('+')) || prefix.contains(QLatin1Char('#'))) {
        return report::Fail(QStringLiteral("--publish: the topic prefix '%1' may not hold the wildcards '+' or '#'")
                     .arg(Shown(prefix)));
    }
    if (prefix.startsWith(QLatin1Char('$'))) {
        return report::Fail(QStringLiteral("--publish: the topic prefix '%1' may not begin with '$': brokers keep those "
                                "topics ($SYS/…) for themselves")
                     .arg(Shown(prefix)));
    }
    if (const qsizetype bytes = prefix.toUtf8().size(); bytes > kMaxPrefixBytes) {
        return report::Fail(QStringLiteral("--publish: the topic prefix is %1 bytes long; a topic may have %2 bytes, so "
                                "with the unit and '/alarm/ad0' the prefix may have at most %3")
                     .arg(bytes)
                     .arg(kMaxTopicBytes)
                     .arg(kMaxPrefixBytes));
    }

    PublishTarget target;
    target.tls = scheme == QLatin1String("mqtts");
    target.host = parsed.host();
    target.port = parsed.port(target.tls ? kMqttsPort : kMqttPort);
    target.user = parsed.userName();
    target.prefix = prefix;
    return target;
}

QString TopicLevel(const QString& unit) {
    if (unit.isEmpty())
        return QStringLiteral("unknown");
    QString level = unit;
    for (QChar& c : level)
        if (c == QLatin1Char('/') || c == QLatin1Char('+') || c == QLatin1Char('#') || c == QChar(0))
            c = QLatin1Char('_');
    // Cut on a character's boundary, never inside one.
    while (level.toUtf8().size() > kMaxUnitLevelBytes)
        level.chop(level.size() >= 2 && level.back().isLowSurrogate() ? 2 : 1);
    return level;
}

QString SampleTopic(const PublishTarget& target, const QString& unit) {
    return target.prefix + QLatin1Char('/') + TopicLevel(unit) + QStringLiteral("/sample");
}

QString StatusTopic(const PublishTarget& target, const QString& unit) {
    return target.prefix + QLatin1Char('/') + TopicLevel(unit) + QStringLiteral("/status");
}

QString AlarmTopic(const PublishTarget& target, const QString& unit, int channel) {
    return target.prefix + QLatin1Char('/') + TopicLevel(unit) + QStringLiteral("/alarm/") + channels::Key(channel);
}

QString BrokerName(const PublishTarget& target) {
    if (target.host.contains(QLatin1Char(':')))
        return QStringLiteral("[%1]:%2").arg(target.host).arg(target.port);
    return QStringLiteral("%1:%2").arg(target.host).arg(target.port);
}

} // namespace publish
