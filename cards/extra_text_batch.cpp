#include "extra_text_batch.h"

#include "extra_text_update.h"

#include "commands.h"
#include "contact.h"
#include "entry_contact.h"

#include "data/appstate.h"
#include "data/errors.h"
#include "data/extratext.h"
#include "data/extratext_io.h"
#include "data/files.h"
#include "data/rtf.h"
#include "data/text.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <utility>

namespace meridoc::cards {

struct ExtraTextBatch::Target {
    QString name;
    QString path;                 // resolved in the program folder; empty: the name has no file
    QList<QStringList> additions; // queued groups, in import order
    // The new text, staged beside the file once written; removed unless taken.
    std::unique_ptr<files::ReplacementFile> staged;
    int appended = 0; // groups of lines the text did not hold yet
};

namespace {

// As large as an extra text the viewer loads.
constexpr qint64 MaxExtraTextBytes = 64 << 20;

[[noreturn]] void fail(const QString &path, const QString &message) {
    throw Failure(QStringLiteral("%1: %2").arg(path, message));
}

QString lineText(const QString &line) {
    return text::trimmed(line);
}

// The lines the document holds, each trimmed.
QSet<QString> linesOf(const QTextDocument &doc) {
    QSet<QString> lines;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        for (const QString &line : b.text().split(QChar::LineSeparator))
            lines.insert(lineText(line));
    }
    return lines;
}

// Appends the group unless every non-blank line of it is already there (the line naming the
// contact, which heads its lines, and the identity of its entry aside: a text written before they
// were added still counts as holding them); true when appended.
bool append(QSet<QString> &held, const QStringList &group, QStringList &added) {
    const bool holdsAll = std::all_of(group.begin(), group.end(), [&](const QString &line) {
        return lineText(line).isEmpty() || held.contains(lineText(line)) ||
               (&line == &group.first() && line.startsWith(FullNameHeading)) ||
               (group.size() > 1 && &line == &group[1] && line.startsWith(EntryIdLabel));
    });
    if (holdsAll)
        return false;
    for (const QString &line : group) {
        held.insert(lineText(line));
        added.append(line);
    }
    return true;
}

// The RTF of the extra text with `added` appended, each line a paragraph: an RTF file keeps every
// byte and gets the paragraphs before its final brace; a plain-text one is written as RTF first;
// a new one starts with the first line. The lines never go through a document, so many of them
// cost no more than their text.
QByteArray bytesOf(const QByteArray &shown) {
    try {
        return files::File::openForReading(QFile::decodeName(shown)).readAll(MaxExtraTextBytes);
    } catch (const EInOutError &e) {
        fail(QFile::decodeName(shown), e.message());
    }
}

QByteArray withParagraphs(const QByteArray &shown, const QTextDocument &doc, QStringList added) {
    if (!shown.isEmpty()) {
        const QByteArray bytes = bytesOf(shown);
        if (bytes.size() <= MaxExtraTextBytes)
            if (const std::optional<QByteArray> kept = rtf::appendParagraphs(bytes, added))
                return *kept;
        if (!doc.isEmpty())
            return *rtf::appendParagraphs(rtf::write(doc), added);
    }
    QTextDocument first;
    first.setPlainText(added.takeFirst());
    return *rtf::appendParagraphs(rtf::write(first), added);
}

// Whether the extra text holds every line of every group (as append() counts them) in the very
// bytes write() or appendParagraphs() give a paragraph of it, the file being one they wrote from
// plain paragraphs: the document would hold the same lines, so it need not be read into one. An
// import made again finds most groups there: importing 10,000 contacts again, each with an extra
// text, took 6.1 times as long as reading their vCards when every extra text was read into a
// document, 5.3 times this way.
bool holdsAsWritten(const QByteArray &shown, const QList<QStringList> &groups) {
    if (QFile::encodeName(QFile::decodeName(shown)) != shown)
        return false;
    QByteArray bytes;
    try {
        bytes = bytesOf(shown);
    } catch (const Failure &) { // the document's reading reports it
        return false;
    }
    const std::optional<QSet<QByteArray>> paragraphs =
        bytes.size() <= MaxExtraTextBytes ? rtf::plainParagraphs(bytes) : std::nullopt;
    if (!paragraphs)
        return false;
    QSet<QString> found; // lines found already: people of one name bring the same lines
    for (const QStringList &group : groups) {
        for (qsizetype i = 0; i < group.size(); ++i) {
            const QString line = lineText(group[i]);
            const bool heading = i == 0 && group[i].startsWith(FullNameHeading);
            if (line.isEmpty() || heading || found.contains(line))
                continue;
            if (!rtf::holdsParagraph(*paragraphs, line))
                return false;
            found.insert(line);
        }
    }
    return true;
}

// Writes `bytes` as the new content of `target`, staged beside it, not yet in place nor flushed:
// the queue flushes all staged files at once before it puts them in place.
// A kept file keeps its permissions; a new one gets what the umask leaves. A file the editor
// would not replace (read-only, not a regular file) is refused as the editor refuses it.
std::unique_ptr<files::ReplacementFile> stageFile(const QString &target, const QByteArray &bytes) {
    std::unique_ptr<files::ReplacementFile> file;
    try {
        file = std::make_unique<files::ReplacementFile>(target, files::modeFor(target),
                                                        files::Replacement{files::Staging::Beside,
                                                                           files::Link::Follow,
                                                                           files::Flush::Together});
    } catch (const Exception &) {
        throw Failure(QStringLiteral("Cannot create file %1").arg(target));
    }
    try {
        file->file().writeAt(bytes.constData(), bytes.size(), 0);
        file->finish();
    } catch (const Exception &e) {
        fail(target, e.message());
    }
    return file;
}

} // namespace

ExtraTextBatch::ExtraTextBatch(const ExtraTextFolder &folder) : folder_(folder) {}
ExtraTextBatch::~ExtraTextBatch() = default;

bool ExtraTextBatch::add(const QString &name, const QStringList &lines) {
    // Names match without regard to letter case, like the files themselves.
    const QString key = text::upperAscii(name);
    auto it = index_.find(key);
    if (it == index_.end()) {
        it = index_.insert(key, targets_.size());
        targets_.push_back(std::make_unique<Target>());
        targets_.back()->name = name;
        targets_.back()->path = folder_.path(name);
    }
    Target &target = *targets_[*it];
    if (target.path.isEmpty())
        return false;
    if (!lines.isEmpty())
        target.additions.append(lines);
    return true;
}

void ExtraTextBatch::stage(bool write, bool replaceLabelled) {
    // An older spelling of a person's note (blanks around the name, Windows-1252 bytes) is
    // looked for only where the folder's names say one may exist.
    for (const auto &target : targets_) {
        if (target->additions.isEmpty())
            continue;
        // The additions go to the text the viewer shows, also when it lies under an older
        // spelling; the result is written under the name itself, which the viewer then finds.
        QByteArray shown;
        if (folder_.isFile(target->path))
            shown = QFile::encodeName(target->path);
        else if (folder_.keys().contains(text::toCp1252(text::upperAscii(target->name))))
            shown = FindExtraText(folder_.folder(), target->name);
        if (!replaceLabelled && !shown.isEmpty() && holdsAsWritten(shown, target->additions))
            continue;
        QTextDocument doc;
        if (!shown.isEmpty()) {
            try {
                LoadExtraTextFile(shown, doc);
            } catch (const Exception &e) {
                fail(QFile::decodeName(shown), e.message());
            }
        }
        QSet<QString> held = linesOf(doc);
        // Lines are replaced only where writing the text anew loses nothing the file holds.
        const bool replacing =
            replaceLabelled && (shown.isEmpty() || !HoldsMoreThanText(bytesOf(shown)));
        QStringList added;
        bool rewritten = false;    // lines changed inside the text: it is written anew
        QHash<QString, int> named; // groups so far of each heading: people of one full name
        for (const QStringList &group : target->additions) {
            const SectionMerge merge = MergeIntoSection(
                doc, group, held, replacing, added.isEmpty(), named[GroupHeading(group)]++);
            if (!merge.found) {
                target->appended += append(held, group, added) ? 1 : 0;
                continue;
            }
            if (merge.rewritten) {
                rewritten = true;
                held = linesOf(doc);
            }
            for (const QString &line : merge.atEnd) {
                held.insert(lineText(line));
                added.append(line);
            }
            target->appended += merge.rewritten || !merge.atEnd.isEmpty() ? 1 : 0;
        }
        if (!write || target->appended == 0)
            continue;
        const QByteArray bytes = !rewritten        ? withParagraphs(shown, doc, added)
                                 : added.isEmpty() ? rtf::write(doc)
                                                   : *rtf::appendParagraphs(rtf::write(doc), added);
        target->staged = stageFile(target->path, bytes);
    }
}

QList<std::pair<QString, QString>> ExtraTextBatch::takeStaged() {
    QList<std::pair<QString, QString>> staged;
    for (const auto &target : targets_) {
        if (target->staged) {
            const QString replaced = target->staged->target(); // the file a link leads to
            staged.append({target->staged->release(), replaced});
            target->staged.reset();
        }
    }
    return staged;
}

int ExtraTextBatch::appendedCount() const {
    int n = 0;
    for (const auto &target : targets_)
        n += target->appended;
    return n;
}

} // namespace meridoc::cards
