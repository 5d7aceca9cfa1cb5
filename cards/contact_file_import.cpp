#include "contact_file_import.h"

#include "commands.h"

#include "data/errors.h"

#include <QFileInfo>

#include <new>

namespace meridoc::cards {
namespace {

// One contact's paragraph: its name as written, the entry made of it and what happens to it.
QString describe(const ReportedContact &contact) {
    QStringList fields;
    for (const QString &field : contact.fields) {
        if (!field.trimmed().isEmpty())
            fields.append(field);
    }
    QString text = contact.who + QLatin1Char('\n');
    if (contact.alreadyThere)
        text += QStringLiteral("  Already in the card file: not added again.\n");
    else
        text += QStringLiteral("  Entry: %1\n").arg(fields.join(QStringLiteral("; ")));
    for (const QString &remark : contact.remarks)
        text += QStringLiteral("  Note: %1\n").arg(remark);
    for (const QString &line : contact.extraText)
        text += QStringLiteral("  Extra text: %1\n").arg(QString(line).replace('\n', ' '));
    return text + QLatin1Char('\n');
}

// "FILE:LINE: reason", as the command-line tool reports a failure, with the file's name only.
QString describe(const Failure &failure) {
    QString place = QFileInfo(failure.file()).fileName();
    if (!place.isEmpty() && failure.line() > 0)
        place += QStringLiteral(":%1").arg(failure.line());
    return place.isEmpty() ? failure.reason() : place + QStringLiteral(": ") + failure.reason();
}

} // namespace

ContactFileReport ImportContactFiles(const ApplicationState &cardFile, const QStringList &files,
                                     bool dryRun) {
    ContactFileReport result;
    if (cardFile.ProgramDir.isEmpty() || cardFile.CurrentFileName.trimmed().isEmpty()) {
        result.error = QStringLiteral("No card file is open");
        return result;
    }
    if (IsSeedBaseName(cardFile.CurrentFileName)) {
        result.error = QStringLiteral("The seed card file tanro.crd takes no entries: create or "
                                      "open another card file, then open the contacts again");
        return result;
    }
    try {
        CommandContext ctx;
        ctx.programDir = cardFile.ProgramDir;
        ctx.extension = cardFile.CardExtension;
        ctx.cardBaseName = cardFile.CurrentFileName;
        ImportReport report;
        qint64 reported = 0;
        report.contact = [&](const ReportedContact &c) {
            if (++reported <= ShownContacts)
                result.details += describe(c);
            else
                ++result.notShown;
        };
        ImportRequest request;
        request.files = files;
        request.dryRun = dryRun;
        request.report = &report;
        RunImport(ctx, request);
        result.summary = report.summary;
        if (!result.summary.isEmpty())
            result.summary[0] = result.summary[0].toUpper();
        result.contacts = report.contacts;
        result.added = report.added;
    } catch (const Failure &failure) {
        result.error = describe(failure);
        result.unreadable = files.contains(failure.file());
    } catch (const Exception &e) {
        result.error = e.message();
    } catch (const std::bad_alloc &) {
        result.error = QStringLiteral("Out of memory");
    } catch (const std::exception &e) {
        result.error = QString::fromLocal8Bit(e.what());
    }
    if (!result.error.isEmpty())
        result.details.clear(); // of a run that did not finish
    return result;
}

} // namespace meridoc::cards
