// The window's texts about the unit.
#pragma once

#include <QString>

inline const QString kStatusOpenSuccess = QStringLiteral("USB Serial Number Open Success!");
inline const QString kStatusOpenFailed = QStringLiteral("USB Serial Number Open failed !");
inline const QString kStatusAwaitingUnit =
    QStringLiteral("ユニット再接続待ち"); // waiting for the unit to come back
