#include "app/fonts.h"

#include <QStringList>

void InstallFontSubstitutes() {
    // IPA P Gothic is metric-compatible with the proportional gothic; then any CJK face.
    const QStringList substitutes = {"IPAPGothic", "IPA Pゴシック", "IPAGothic", "Noto Sans CJK JP",
                                     "VL PGothic", "Droid Sans Fallback"};
    QFont::insertSubstitutions(kWindowFace, substitutes);
    QFont::insertSubstitutions(QStringLiteral("MS PGothic"), substitutes);
}

QFont WindowFont(int pixelSize, bool bold) {
    QFont font(kWindowFace);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setStyleHint(QFont::SansSerif);
    return font;
}
