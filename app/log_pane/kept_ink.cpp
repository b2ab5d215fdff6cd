#include "app/log_pane/kept_ink.h"

#include <QPaintEngine>
#include <QPainter>

namespace log_pane {

const QImage* KeptInk::Device(const QPainter& painter, qreal devicePixelRatio) {
    const QPaintDevice* device = painter.paintEngine() ? painter.paintEngine()->paintDevice() : nullptr;
    if (!device || device->devType() != QInternal::Image || devicePixelRatio != 1.0)
        return nullptr;
    const auto* image = static_cast<const QImage*>(device);
    return image->depth() == 32 && painter.deviceTransform().type() <= QTransform::TxTranslate ? image
                                                                                               : nullptr;
}

KeptInk::RowInks KeptInk::Inks(const QList<QString>& texts, const QList<bool>& drawn,
                               const Setting& setting) {
    RowInks inks;
    for (qsizetype i = 0; i < texts.size(); ++i) {
        if (drawn[i]) {
            inks.append(std::nullopt);
            continue;
        }
        auto ink = pictures_.Picture(texts[i], setting);
        if (!ink) {
            inks.clear();
            break;
        }
        inks.append(std::move(ink));
    }
    pictures_.EndPaint();
    return inks;
}

// Not where text is blended with another gamma or sub-pixel colours on screen than into an image.
void KeptInk::Check(const Setting& setting, const QImage& device, QRect area,
                    const std::function<void(QPainter&)>& lay) {
    checked_ = setting;
    matches_ = false;
    if (!device.rect().contains(area))
        return;
    QImage laid(area.size(), device.format());
    {
        QPainter layer(&laid);
        lay(layer);
    }
    matches_ = device.copy(area) == laid;
}

} // namespace log_pane
