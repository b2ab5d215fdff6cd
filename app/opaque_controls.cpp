#include "app/opaque_controls.h"

#include <QLabel>
#include <QWidget>

namespace {

QBrush BackgroundOf(const QWidget* w) {
    return w->palette().brush(w->backgroundRole());
}

// Whether, around `w`, its parents show one plain colour: the form's own, with every parent up to the
// form either filling it or leaving it through.
bool SitsOnPlainBackground(const QWidget* w, const QWidget* form, const QBrush& formBackground) {
    for (const QWidget* p = w->parentWidget(); p != form; p = p->parentWidget()) {
        if (p == nullptr || p->testAttribute(Qt::WA_OpaquePaintEvent))
            return false;
        if (p->autoFillBackground() && BackgroundOf(p) != formBackground)
            return false;
    }
    return true;
}

bool OverlapsASibling(const QWidget* w) {
    const QWidget* parent = w->parentWidget();
    for (const QObject* o : parent->children()) {
        const auto* sibling = qobject_cast<const QWidget*>(o);
        if (sibling && sibling != w && !sibling->isWindow() && sibling->geometry().intersects(w->geometry()))
            return true;
    }
    return false;
}

} // namespace

int MakeControlsOpaque(QWidget* form) {
    const QBrush formBackground = BackgroundOf(form);
    if (!form->autoFillBackground() || formBackground.style() != Qt::SolidPattern ||
        !formBackground.isOpaque())
        return 0;
    int made = 0;
    for (QWidget* w : form->findChildren<QWidget*>()) {
        if (w->isWindow() || w->autoFillBackground() || w->testAttribute(Qt::WA_OpaquePaintEvent))
            continue;
        // A label's text never changes here (the status line fills its own box already), and in a group
        // box its smoothing comes out differently on a filled background: labels stay as they are.
        if (qobject_cast<QLabel*>(w))
            continue;
        if (BackgroundOf(w) != formBackground || !SitsOnPlainBackground(w, form, formBackground) ||
            OverlapsASibling(w))
            continue;
        w->setAutoFillBackground(true);
        ++made;
    }
    return made;
}
