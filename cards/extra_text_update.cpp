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
    QSet<QString> labels;
    if (replaceLabelled)
        for (const QString &line : std::as_const(lines))
            if (const QString label = LabelBase(text::trimmed(line)); !label.isEmpty())
                labels.insert(label);
    // The lines of each person of the name are looked at: those that hold the group already
    // are its contact's (imported again), whichever person they follow; else the group goes to
    // the lines of the person of its place among the import's people of that name.
    std::optional<SectionPlan> chosen;
    int seen = 0;
    for (QTextBlock b = doc.begin(); b.isValid() && !heading.isEmpty(); b = b.next()) {
        if (!isHeading(b) || text::trimmed(b.text()) != heading)
            continue;
        SectionPlan plan = planFor(b.next().isValid() ? b.next() : b, lines, labels, held);
        if (plan.unchanged()) {
            merge.found = true;
            return merge;
        }
        if (seen++ == occurrence)
            chosen = std::move(plan);
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
    merge.rewritten = true;
    return merge;
}

bool HoldsMoreThanText(const QByteArray &rtf) {
    for (const char *word : {"\\pict", "\\object", "\\field", "\\shp"})
        if (rtf.contains(word))
            return true;
    return false;
}

SectionEdit EditSection(QTextDocument &doc, const QString &heading, const QStringList &removed,
                        const QStringList &added) {
    SectionEdit edit;
    // The block numbers of the contact's lines: those before the first heading, then its own.
    std::vector<int> mine;
    int headingBlock = -1, last = -1;
    bool inOwn = false, headed = false;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        if (isHeading(b)) {
            headed = true;
            inOwn = headingBlock < 0 && text::trimmed(b.text()) == heading;
            if (inOwn)
                headingBlock = b.blockNumber();
        }
        if (!headed || inOwn) {
            mine.push_back(b.blockNumber());
            if (inOwn || headingBlock < 0)
                last = b.blockNumber();
        }
    }
    std::vector<int> gone;
    for (const QString &line : removed) {
        const QString wanted = text::trimmed(line);
        for (int n : mine) {
            if (std::find(gone.begin(), gone.end(), n) == gone.end() &&
                text::trimmed(doc.findBlockByNumber(n).text()) == wanted) {
                gone.push_back(n);
                break;
            }
        }
    }
    QStringList lines = added;
    if (headingBlock < 0 && !lines.isEmpty() && !lines.contains(heading))
        lines.prepend(heading);
    if (headingBlock < 0)
        last = doc.blockCount() - 1; // a new contact's lines end the text
    edit.changed = !gone.empty() || !lines.isEmpty();
    edit.onlyAppended = gone.empty() && (lines.isEmpty() || last == doc.blockCount() - 1);
    QTextCursor at(doc.findBlockByNumber(last));
    at.movePosition(QTextCursor::EndOfBlock);
    const bool empty = doc.isEmpty();
    for (qsizetype i = 0; i < lines.size(); ++i)
        insertPlainLine(at, lines[i], i > 0 || !empty);
    std::sort(gone.begin(), gone.end());
    for (auto it = gone.rbegin(); it != gone.rend(); ++it)
        removeBlock(doc, *it);
    return edit;
}

} // namespace meridoc::cards
