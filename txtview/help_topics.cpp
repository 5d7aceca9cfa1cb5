#include "help_topics.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace txtview {
namespace {

const QRegularExpression TopicLine(QStringLiteral("^\\.topic(?:[ \\t]+(.*))?$"),
                                   QRegularExpression::CaseInsensitiveOption);

QString withoutEmptyEdgeLines(QStringList lines) {
    while (!lines.isEmpty() && lines.first().trimmed().isEmpty())
        lines.removeFirst();
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty())
        lines.removeLast();
    return lines.join(QLatin1Char('\n'));
}

} // namespace

QList<HelpTopic> ParseHelpTopics(const QString &content) {
    QString text = content;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QList<HelpTopic> topics;
    QStringList lines;
    const auto finish = [&] {
        if (!topics.isEmpty())
            topics.last().text = withoutEmptyEdgeLines(lines);
        lines.clear();
    };
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch m = TopicLine.match(line);
        if (m.hasMatch()) {
            finish();
            topics.append({m.captured(1).trimmed(), {}});
        } else {
            lines.append(line);
        }
    }
    finish();
    return topics;
}

qsizetype FindTopic(const QList<HelpTopic> &topics, const QString &name) {
    const QString wanted = name.trimmed();
    for (qsizetype i = 0; i < topics.size(); ++i) {
        if (topics[i].name.compare(wanted, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString HelpFilePath(const QString &dir, const QString &name) {
    if (QFileInfo(dir + name).isFile())
        return dir + name;
    const QStringList entries = QDir(dir).entryList(QDir::Files, QDir::Name);
    for (const QString &entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return dir + entry;
    }
    return dir + name;
}

bool ReadTextFile(const QString &path, QString *content) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *content = QString::fromUtf8(file.readAll());
    return file.error() == QFileDevice::NoError;
}

} // namespace txtview
