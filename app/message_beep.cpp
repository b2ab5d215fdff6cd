#include "app/message_beep.h"

#include <QApplication>

namespace {
std::function<void()>& Handler() {
    static std::function<void()> handler;
    return handler;
}
} // namespace

void MessageBeep(unsigned /*type: only the default sound is used*/) {
    if (Handler())
        Handler()();
    else
        QApplication::beep();
}

void SetMessageBeepHandler(std::function<void()> handler) { Handler() = std::move(handler); }
