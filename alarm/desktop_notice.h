// The desktop's own notices of crossings, in the window: at each crossing of a
// channel's limits, a notification through the freedesktop notification service
// on the session bus ("Tavrin: Oven high", and the line the log pane says).
//
// The call never waits: it is sent and its answer comes back later, or never.
// Where there is no session bus, or no notification service on it, nothing is
// shown; that is said once, in the log, at the first crossing it concerns.
#pragma once

#include "acquisition/decoded_sample.h"

#include <QDBusPendingCall>
#include <QObject>
#include <QVariantList>
#include <functional>

namespace alarms {

// Notify's arguments: app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout.
QVariantList NotifyArguments(const QString& summary, const QString& body, bool urgent);

class DesktopNotice : public QObject, public acquisition::SampleSink {
    Q_OBJECT

public:
    // Sends Notify with these arguments and gives the pending call: its answer, or why there is none.
    using Call = std::function<QDBusPendingCall(const QVariantList& arguments)>;
    // org.freedesktop.Notifications on the session bus, when there is one.
    static QDBusPendingCall SessionBusCall(const QVariantList& arguments);

    explicit DesktopNotice(Call call = &DesktopNotice::SessionBusCall, QObject* parent = nullptr);

    const char* Module() const override;
    report::Done RunStarted(const acquisition::RunInfo& run) override;
    report::Done Take(const acquisition::DecodedSample& sample) override;

private:
    void Answered(const QDBusPendingCall& call);

    Call call_;
    channels::Channels channels_ = channels::DefaultChannels(); // this run's
    bool noBus_ = false;                                        // no session bus: nothing is sent any more
    bool saidUnavailable_ = false;
};

} // namespace alarms
