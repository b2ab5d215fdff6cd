#include "alarm/desktop_notice.h"

#include "report/reporter.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QFileInfo>
#include <QVariantMap>

namespace alarms {

namespace {

constexpr char kService[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
constexpr char kInterface[] = "org.freedesktop.Notifications";
// The urgency hint's levels: a channel outside its limits stays on the screen until seen.
constexpr uchar kNormal = 1;
constexpr uchar kCritical = 2;

// Where the session bus is: the address in the environment, or the per-user bus of a systemd
// session. Without either, none: asking the bus library to find one may start a helper and wait.
bool SessionBusKnown() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

} // namespace

QVariantList NotifyArguments(const QString& summary, const QString& body, bool urgent) {
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(urgent ? kCritical : kNormal));
    return {QStringLiteral("Tavrin"), QVariant::fromValue(0u), QString(), summary, body, QStringList(), hints,
            QVariant::fromValue(-1)};
}

QDBusPendingCall DesktopNotice::SessionBusCall(const QVariantList& arguments) {
    if (!SessionBusKnown())
        return QDBusPendingCall::fromError(
            QDBusError(QDBusError::Disconnected, QStringLiteral("there is no session bus")));
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return QDBusPendingCall::fromError(QDBusError(QDBusError::Disconnected, bus.lastError().message()));
    QDBusMessage notify = QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath),
                                                         QLatin1String(kInterface), QStringLiteral("Notify"));
    notify.setArguments(arguments);
    return bus.asyncCall(notify);
}

DesktopNotice::DesktopNotice(Call call, QObject* parent) : QObject(parent), call_(std::move(call)) {}

const char* DesktopNotice::Module() const {
    return report::module::kLimits;
}

report::Done DesktopNotice::RunStarted(const acquisition::RunInfo& run) {
    channels_ = run.channels;
    return {};
}

report::Done DesktopNotice::Take(const acquisition::DecodedSample& sample) {
    if (!channels::Any(sample.crossings) || noBus_)
        return {};
    for (int channel = 0; channel < channels::kChannelCount; ++channel) {
        const auto& crossing = sample.crossings[std::size_t(channel)];
        const auto& hundredths = channel == 0 ? sample.ad0 : sample.ad1;
        if (!crossing || !hundredths)
            continue;
        const channels::Channel& settings = channels_[std::size_t(channel)];
        const QString summary =
            QStringLiteral("Tavrin: %1 %2")
                .arg(settings.name, QString::fromLatin1(channels::CrossingWord(*crossing)));
        const QString body = channels::CrossingLine(channel, settings, *crossing,
                                                    channels::ValueOf(settings.scale, *hundredths));
        const QDBusPendingCall call =
            call_(NotifyArguments(summary, body, *crossing != channels::Crossing::Back));
        // Known at once when there is no bus to send it on.
        if (call.isFinished()) {
            Answered(call);
            if (noBus_)
                break;
            continue;
        }
        auto* watcher = new QDBusPendingCallWatcher(call, this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* answered) {
            Answered(*answered);
            answered->deleteLater();
        });
    }
    return {};
}

void DesktopNotice::Answered(const QDBusPendingCall& call) {
    if (!call.isError())
        return;
    const QDBusError error = call.error();
    if (error.type() == QDBusError::Disconnected)
        noBus_ = true;
    if (saidUnavailable_)
        return;
    saidUnavailable_ = true;
    report::Report(Module(),
                   QStringLiteral("desktop notifications are not available (%1); crossings are said "
                                  "here and on the status line only")
                       .arg(error.message()));
}

} // namespace alarms
