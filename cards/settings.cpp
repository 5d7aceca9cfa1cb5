#include "settings.h"

#include "data/appstate.h"
#include "data/configuration.h"
#include "data/files.h"
#include "data/inifile.h"
#include "data/text.h"

#include <QDir>
#include <QFileInfo>

namespace meridoc::cards {
namespace {

bool isPlainName(const QString &name) {
    return !name.isEmpty() && !name.contains('/') && !name.contains(QChar(0)) && name != "." &&
           name != "..";
}

} // namespace

void UseProgramFolder(CommandContext &ctx, const QString &programDir, const QString &cardFile) {
    const QFileInfo info(programDir);
    if (!info.isDir())
        throw Failure(QStringLiteral("not a directory"), programDir);
    ctx.programDir = QDir(info.absoluteFilePath()).absolutePath();
    if (!ctx.programDir.endsWith('/'))
        ctx.programDir += '/';

    const IniFile ini(files::resolve(ctx.programDir, ConfigFileName));
    const QString missing = QStringLiteral("ERROR");
    QString extension = text::upperAscii(
        ini.ReadString(QStringLiteral("filenames"), QStringLiteral("extention"), missing));
    QString base = text::upperAscii(
        ini.ReadString(QStringLiteral("filenames"), QStringLiteral("defaultfile"), missing));
    if (!isPlainName(extension) || !isPlainName(base) ||
        !files::fileExists(ctx.programDir, base + "." + extension)) {
        base = SeedBaseName;
        extension = QStringLiteral("CRD");
    }
    if (!cardFile.isEmpty()) {
        base = cardFile;
        const QString suffix = "." + extension;
        if (text::upperAscii(base).endsWith(suffix) && base.size() > suffix.size())
            base.chop(suffix.size());
    }
    ctx.extension = extension;
    ctx.cardBaseName = base;
    AppState.ProgramDir = ctx.programDir;
    AppState.CardExtension = extension;
    AppState.CurrentFileName = base;
}

} // namespace meridoc::cards
