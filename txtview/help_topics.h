#pragma once

#include <QList>
#include <QString>

// The help text: plain text in topics. A topic begins with a line ".TOPIC <name>" (the command
// in any letter case) and runs up to the next such line; lines before the first topic are not
// shown.
namespace txtview {

struct HelpTopic {
    QString name;
    QString text; // without leading and trailing empty lines
};

QList<HelpTopic> ParseHelpTopics(const QString &content);

// The index of the topic whose name equals `name` ignoring letter case and surrounding blanks,
// or -1.
qsizetype FindTopic(const QList<HelpTopic> &topics, const QString &name);

// The help file in `dir` (ending with '/'): the exact name when it exists, otherwise a file
// whose name differs only in letter case; the exact name when there is none.
QString HelpFilePath(const QString &dir, const QString &name);

// The content of a UTF-8 text file; false when it cannot be read.
bool ReadTextFile(const QString &path, QString *content);

} // namespace txtview
