#include "extra_text_update.h"

#include "entry_contact.h"

#include "data/text.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <optional>
#include <vector>

namespace meridoc::cards {
namespace {

bool isHeading(const QTextBlock &block) {
    return block.text().startsWith(FullNameHeading);
}

void removeBlock(QTextDocument &doc, int number) {
    const QTextBlock b = doc.findBlockByNumber(number);
    QTextCursor c(b);
    if (b.next().isValid()) {
        c.setPosition(b.next().position(), QTextCursor::KeepAnchor);
    } else if (b.position() > 0) {
        c.setPosition(b.position() - 1);
        c.setPosition(b.position() + b.length() - 1, QTextCursor::KeepAnchor);
    } else {
        c.select(QTextCursor::BlockUnderCursor);
    }
    c.removeSelectedText();
}

// A line added to a text starts a plain paragraph in the text's default font: it takes neither
// the paragraph format nor the character format of the text before it (an italic last line).
void insertPlainLine(QTextCursor &at, const QString &line, bool newBlock) {
    if (newBlock)
        at.insertBlock(QTextBlockFormat(), QTextCharFormat());
    at.insertText(line, QTextCharFormat());
}

// What merging a group's lines into a contact's lines, from `start` to the next heading, does.
struct SectionPlan {
    std::vector<int> replaced; // block numbers, in order
    QStringList before, after; // the contact's lines, trimmed, now and once merged
    QStringList inserted;
    int last = 0; // the block of the contact's last line
    // The same lines (in whatever order: a person's lines are a set).
    bool unchanged() const {
        QStringList a = before, b = after;
        a.sort();
        b.sort();
        return a == b;
    }
};

SectionPlan planFor(const QTextBlock &start, const QStringList &lines, const QSet<QString> &labels,
                    const QSet<QString> &held) {
    SectionPlan plan;
    plan.last = start.blockNumber();
    for (QTextBlock b = start; b.isValid() && !isHeading(b); b = b.next()) {
        plan.last = b.blockNumber();
        const QString line = text::trimmed(b.text());
        plan.before += line;
        if (labels.contains(LabelBase(line)))
            plan.replaced.push_back(b.blockNumber());
        else
            plan.after += line;
    }
    for (const QString &line : lines) {
        const QString trimmed = text::trimmed(line);
        const bool replacing = labels.contains(LabelBase(trimmed));
        if (!trimmed.isEmpty() && (replacing || !held.contains(trimmed)) &&
            !plan.inserted.contains(line)) {
            plan.inserted += line;
            plan.after += trimmed;
        }
    }
    return plan;
}

// The line after the heading `at` names the entry `id` (a whole line "Entry ID: ..."): put
// there, or written over another entry's. Returns whether the text changed.
bool markSection(const QTextBlock &at, const QString &id) {
    const QString line = id.startsWith(EntryIdLabel) ? id : EntryIdLabel + id;
    if (!at.isValid() || (at.next().isValid() && text::trimmed(at.next().text()) == line))
        return false;
    QTextCursor c(at);
    if (at.next().isValid() && at.next().text().startsWith(EntryIdLabel)) {
        c = QTextCursor(at.next());
        c.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        c.insertText(line);
    } else {
        c.movePosition(QTextCursor::EndOfBlock);
        insertPlainLine(c, line, true);
    }
    return true;
}

} // namespace

QString GroupHeading(const QStringList &group) {
    return !group.isEmpty() && group.first().startsWith(FullNameHeading)
               ? text::trimmed(group.first())
               : QString();
}

SectionMerge MergeIntoSection(QTextDocument &doc, const QStringList &group,
                              const QSet<QString> &held, bool replaceLabelled, bool endIsOpen,
                              int occurrence) {
    SectionMerge merge;
    QStringList lines = group;
    const QString heading = GroupHeading(group);
    if (!heading.isEmpty())
        lines.removeFirst();
    // The identity of the group's entry, when it carries one (the line after its heading).
    const QString id = !lines.isEmpty() && lines.first().startsWith(EntryIdLabel)
                           ? text::trimmed(lines.takeFirst())
                           : QString();
    QSet<QString> labels;
    if (replaceLabelled)
        for (const QString &line : std::as_const(lines))
            if (const QString label = LabelBase(text::trimmed(line)); !label.isEmpty())
                labels.insert(label);
    // The lines that carry the group's identity are its entry's. Otherwise the lines of each
    // person of the name that carry no identity are looked at: those that hold the group already
    // are its contact's (imported again), whichever person they follow; else the group goes to
    // the lines of the person of its place among the import's people of that name. Lines that
    // carry another entry's identity are that entry's.
    std::optional<SectionPlan> chosen;
    int seen = 0, chosenHeading = -1;
    for (QTextBlock b = doc.begin(); b.isValid() && !heading.isEmpty(); b = b.next()) {
        if (!isHeading(b) || text::trimmed(b.text()) != heading)
            continue;
        const QTextBlock next = b.next();
        const bool marked = next.isValid() && next.text().startsWith(EntryIdLabel);
        const bool own = marked && text::trimmed(next.text()) == id;
        if (marked && !own && !id.isEmpty())
            continue;
        SectionPlan plan = planFor(next.isValid() ? next : b, lines, labels, held);
        if (own || plan.unchanged()) {
            if (own && !plan.unchanged()) {
                chosen = std::move(plan);
                chosenHeading = b.blockNumber();
                break;
            }
            merge.found = true;
            return merge;
        }
        if (seen++ == occurrence && !chosen) {
            chosen = std::move(plan);
            chosenHeading = b.blockNumber();
        }
    }
    if (!chosen)
        return merge;
    merge.found = true;
    const bool sectionIsLast = !doc.findBlockByNumber(chosen->last).next().isValid();
    if (chosen->replaced.empty()) {
        // Only appended to the file's own bytes, so that its formatting, pictures and links
        // stay: at the end of the contact's lines when these end the text, else as a group
        // of its own after the text.
        if (sectionIsLast && endIsOpen)
            merge.atEnd = chosen->inserted;
        else
            merge.found = false;
        return merge;
    }
    // The new lines go where the contact's lines end, then the replaced ones are removed from
    // the last up, so that the numbers of those before stay right.
    QTextCursor at(doc.findBlockByNumber(chosen->last));
    at.movePosition(QTextCursor::EndOfBlock);
    for (const QString &line : std::as_const(chosen->inserted))
        insertPlainLine(at, line, true);
    for (auto it = chosen->replaced.rbegin(); it != chosen->replaced.rend(); ++it)
        removeBlock(doc, *it);
    // Lines found by their name are the entry's from now on.
    if (!id.isEmpty())
        markSection(doc.findBlockByNumber(chosenHeading), id);
    merge.rewritten = true;
    return merge;
}

bool HoldsMoreThanText(const QByteArray &rtf) {
    for (const char *word : {"\\pict", "\\object", "\\field", "\\shp"})
        if (rtf.contains(word))
            return true;
    return false;
}

SectionEdit EditSection(QTextDocument &doc, const SectionOwner &owner, const QStringList &removed,
                        const QStringList &added) {
    SectionEdit edit;
    // The contacts' lines, and the numbers of their blocks and of those before the first heading.
    QList<QStringList> sections;
    std::vector<std::vector<int>> blocks;
    std::vector<int> common;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        if (isHeading(b)) {
            sections.append(QStringList());
            blocks.emplace_back();
        }
        if (sections.isEmpty()) {
            common.push_back(b.blockNumber());
            continue;
        }
        sections.last() += text::trimmed(b.text());
        blocks.back().push_back(b.blockNumber());
    }
    FieldViews fields;
    for (int f = 0; f < FieldCount; ++f)
        fields[f] = owner.fields[f];
    // Lines of no identity are new here: never another person's of the same name.
    const int own =
        owner.id.isEmpty() ? -1 : OwnSection(sections, fields, owner.id, &edit.ambiguous);
    if (edit.ambiguous)
        return edit;
    std::vector<int> mine = common;
    QStringList gone = removed, lines = added;
    QTextCursor headingAt; // the contact's heading, wherever edits move it
    if (own >= 0) {
        mine.insert(mine.end(), blocks[own].begin(), blocks[own].end());
        headingAt = QTextCursor(doc.findBlockByNumber(blocks[own].front()));
        // A new full name takes the old one's place: the lines after it stay the contact's.
        const auto newHeading = std::find_if(lines.begin(), lines.end(), [](const QString &l) {
            return l.startsWith(FullNameHeading);
        });
        if (newHeading != lines.end() && gone.removeOne(sections[own].front())) {
            headingAt.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
            headingAt.insertText(*newHeading);
            lines.erase(newHeading);
            edit.changed = true;
            edit.onlyAppended = false;
        }
    }
    std::vector<int> goneBlocks;
    for (const QString &line : std::as_const(gone)) {
        const QString wanted = text::trimmed(line);
        for (int n : mine) {
            if (std::find(goneBlocks.begin(), goneBlocks.end(), n) == goneBlocks.end() &&
                text::trimmed(doc.findBlockByNumber(n).text()) == wanted) {
                goneBlocks.push_back(n);
                break;
            }
        }
    }
    // A new contact's lines end the text, headed by its full name and its entry's identity.
    if (own < 0 && !lines.isEmpty()) {
        if (!lines.contains(owner.heading))
            lines.prepend(owner.heading);
        if (!owner.newId.isEmpty())
            lines.insert(1, EntryIdLabel + owner.newId);
    }
    const int last = own >= 0 ? blocks[own].back() : doc.blockCount() - 1;
    edit.changed = edit.changed || !goneBlocks.empty() || !lines.isEmpty();
    edit.onlyAppended = edit.onlyAppended && goneBlocks.empty() &&
                        (lines.isEmpty() || last == doc.blockCount() - 1);
    QTextCursor at(doc.findBlockByNumber(last));
    at.movePosition(QTextCursor::EndOfBlock);
    const bool empty = doc.isEmpty();
    for (qsizetype i = 0; i < lines.size(); ++i)
        insertPlainLine(at, lines[i], i > 0 || !empty);
    // Without its heading, the identity that follows it goes too.
    if (own >= 0 && blocks[own].size() > 1 && sections[own][1].startsWith(EntryIdLabel) &&
        std::find(goneBlocks.begin(), goneBlocks.end(), blocks[own][0]) != goneBlocks.end())
        goneBlocks.push_back(blocks[own][1]);
    std::sort(goneBlocks.begin(), goneBlocks.end());
    for (auto it = goneBlocks.rbegin(); it != goneBlocks.rend(); ++it)
        removeBlock(doc, *it);
    if (own >= 0 && !owner.newId.isEmpty() && headingAt.block().isValid() &&
        isHeading(headingAt.block()) && markSection(headingAt.block(), owner.newId)) {
        edit.changed = true;
        edit.onlyAppended = false;
    }
    return edit;
}

} // namespace meridoc::cards
