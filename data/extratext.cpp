#include "extratext.h"

#include "appstate.h"
#include "cardfile.h"
#include "files.h"
#include "text.h"

#include <QFile>
#include <unistd.h>

namespace meridoc {
namespace {

// The program's own files, which no entry's name may reach.
const QStringList OwnFiles = {QStringLiteral("meridoc.ini"), QStringLiteral("temp.tmp"),
                              QStringLiteral("readme.txt"),  QStringLiteral("meridoc"),
                              QStringLiteral("txtview.exe"), QStringLiteral("meridoc-help.txt")};

} // namespace

QString EditorExtraTextName(const QString &name, const QString &surname) {
    return name + surname;
}

QString ViewerExtraTextName(const QString &name, const QString &surname) {
    return text::trimmed(name + surname);
}

QByteArray ExtraTextKey(const QByteArray &name, const QByteArray &surname) {
    return text::upperAscii(text::trimmed(name + surname));
}

bool IsExtraTextName(const QString &name) {
    if (name.isEmpty() || name == "." || name == ".." || name.contains('/') ||
        name.contains(QChar(0)))
        return false;
    const QString upper = text::upperAscii(name);
    for (const QString &own : OwnFiles) {
        if (upper == text::upperAscii(own))
            return false;
    }
    if (upper.endsWith(QStringLiteral(".CRD")))
        return false;
    if (!AppState.CardExtension.isEmpty() &&
        upper.endsWith("." + text::upperAscii(AppState.CardExtension)))
        return false;
    return true;
}

QString ExtraTextPath(const QString &name) {
    return IsExtraTextName(name) ? files::resolve(AppState.ProgramDir, name) : QString();
}

bool ExtraTextExists(const QString &name) {
    return IsExtraTextName(name) && files::fileExists(AppState.ProgramDir, name);
}

void RemoveOrphanExtraText(const QByteArray &key) {
    const QString name = text::fromCp1252(key);
    if (!ExtraTextExists(name))
        return; // nothing to delete, or a name that must not be touched
    bool found = false;
    CardFileReader reader(CardFilePath());
    while (reader.next(DroppedEntry)) {
        if (ExtraTextKey(DroppedEntry.NAME(), DroppedEntry.SURNAME()) == key)
            found = true;
    }
    if (!found)
        ::unlink(QFile::encodeName(ExtraTextPath(name)).constData());
}

} // namespace meridoc
