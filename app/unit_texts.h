// The window's texts about the unit.
#pragma once

#include <QCoreApplication>
#include <QString>

inline const QString kStatusOpenSuccess = QStringLiteral("USB Serial Number Open Success!");
inline const QString kStatusOpenFailed = QStringLiteral("USB Serial Number Open failed !");
inline const QString kStatusAwaitingUnit =
    QStringLiteral(QT_TRANSLATE_NOOP("Status", "ユニット再接続待ち")); // waiting for the unit to come back
