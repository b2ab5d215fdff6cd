#include "app/repaint_batch.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

RepaintBatch::RepaintBatch(QWidget* window) : QObject(window), window_(window) {
    window_->installEventFilter(this);
}

void RepaintBatch::Hold() {
    holding_ = true;
}

void RepaintBatch::Release() {
    holding_ = false;
    if (!held_)
        return;
    held_ = false;
    // The repaint manager still counts its request as on the way, and asks for no other: send it again.
    QCoreApplication::postEvent(window_, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
}

bool RepaintBatch::eventFilter(QObject* watched, QEvent* event) {
    if (holding_ && watched == window_ && event->type() == QEvent::UpdateRequest) {
        held_ = true;
        return true;
    }
    return QObject::eventFilter(watched, event);
}
