#include "output/sweep_file_name.h"

namespace output {

QString SweepFileName(const QString& baseName, quint16 fileIndex, QStringView extension) {
    return baseName + QString::number(fileIndex) + extension.toString();
}

} // namespace output
