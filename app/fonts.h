// The window's face is "ＭＳ Ｐゴシック". Linux has no such face and Debian's
// fontconfig maps neither its Japanese nor its English name to a metric-
// compatible one, so the program names the substitutes itself.
#pragma once

#include <QFont>

inline const QString kWindowFace = QStringLiteral("ＭＳ Ｐゴシック");

void InstallFontSubstitutes();
// The window face at a pixel height.
QFont WindowFont(int pixelSize, bool bold = false);
