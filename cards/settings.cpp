#include "settings.h"

#include "data/appstate.h"
#include "data/configuration.h"
#include "data/extratext.h"
#include "data/text.h"

#include <QDir>
#include <QFileInfo>

namespace meridoc::cards {
void UseProgramFolder(CommandContext &ctx, const QString &programDir, const QString &cardFile) {
    const QFileInfo info(programDir);
    if (!info.isDir())
        throw Failure(QStringLiteral("not a directory"), programDir);
    ctx.programDir = QDir(info.absoluteFilePath()).absolutePath();
    if (!ctx.programDir.endsWith('/'))
        ctx.programDir += '/';

    const ApplicationState configured = ReadConfiguration(ctx.programDir);
    const QString extension = configured.CardExtension;
    QString base = configured.CurrentFileName;
    if (!cardFile.isEmpty()) {
        base = cardFile;
        const QString suffix = "." + extension;
        if (text::upperAscii(base).endsWith(suffix) && base.size() > suffix.size())
            base.chop(suffix.size());
    }
    if (IsProgramFileName(ctx.programDir, base + "." + extension))
        throw Failure(QStringLiteral("a file of the program, never a card file"),
                      ctx.programDir + base + "." + extension);
    ctx.extension = extension;
    ctx.cardBaseName = base;
}

} // namespace meridoc::cards
