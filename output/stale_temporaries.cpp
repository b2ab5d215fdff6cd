#include "output/stale_temporaries.h"

#include "output/sweep_file_name.h"
#include "storage/temporary_file.h"

#include <QDir>
#include <QFile>

namespace output {

QStringList RemoveStaleTemporaries(const QString& baseName, const QString& currentDir) {
    const BaseNameParts parts = SplitBaseName(baseName, currentDir);
    const QDir directory(parts.folder);
    // ".tmp-" and six letters or digits after the saved file's name.
    constexpr qsizetype kSuffixLength = 11;
    QStringList removed;
    for (const QString& name :
         directory.entryList(QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDir::Name)) {
        const QStringView saved = QStringView(name).chopped(std::min(kSuffixLength, name.size()));
        if (name.size() <= kSuffixLength || !storage::IsTemporaryOf(name, saved) ||
            !SavedFileKind(saved, parts.prefix))
            continue;
        if (storage::RemoveIfStale(QFile::encodeName(directory.filePath(name))))
            removed << parts.directoryPart + name;
    }
    return removed;
}

} // namespace output
