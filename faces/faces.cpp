#include "faces/faces.h"

#include "report/reporter.h"

#include <QFontDatabase>
#include <mutex>

namespace faces {

namespace {

const QString kProportionalGothic = QStringLiteral("IPAPGothic");
const QString kFixedGothic = QStringLiteral("IPAGothic");
const QString kLatinText = QStringLiteral("DejaVu Sans");
const QString kLatinCode = QStringLiteral("DejaVu Sans Mono");

// Said once a run of the program for each family that is missing, the first time a face asks for it.
void SayIfMissing(const QString& family) {
    static std::mutex mutex;
    static QStringList checked;
    {
        const std::lock_guard lock(mutex);
        if (checked.contains(family))
            return;
        checked << family;
    }
    if (!QFontDatabase::hasFamily(family))
        report::Report(
            report::module::kApp,
            QStringLiteral("the font \"%1\" is not installed: text is drawn in another face and may "
                           "not fit where it should (tools/install-deps.sh installs it)")
                .arg(family));
}

// The first family is the one the program is laid out for; the others only soften its absence.
QStringList Checked(QStringList families) {
    SayIfMissing(families.first());
    return families;
}

} // namespace

QStringList WindowFamilies() {
    return Checked({kProportionalGothic, QStringLiteral("IPA Pゴシック"), QStringLiteral("VL PGothic"),
                    QStringLiteral("TakaoPGothic")});
}

QStringList TextFamilies() {
    return Checked({kLatinText, kFixedGothic});
}

QStringList CodeFamilies() {
    return Checked({kLatinCode, kFixedGothic});
}

QFont Window(int pixelSize, bool bold) {
    QFont font;
    font.setFamilies(WindowFamilies());
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QFont Chart() {
    QFont font;
    font.setFamilies(WindowFamilies());
    font.setStyleHint(QFont::SansSerif, QFont::NoAntialias);
    font.setPointSize(10);
    return font;
}

QFont Text(const QFont& base) {
    QFont font = base;
    font.setFamilies(TextFamilies());
    font.setStyleHint(QFont::SansSerif);
    return font;
}

} // namespace faces
