#include "cards/contact.h"
#include "data/text.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace meridoc;
using namespace meridoc::cards;

namespace {

QByteArray readFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// "LINE: NAME | SURNAME | PHONE1 | PHONE2 | COMMENTS", then "  + extra line" for each extra line.
QString describe(const Contact &contact) {
    const MappedEntry e = mapContact(contact);
    QStringList fields;
    for (const QByteArray &f : e.fields)
        fields += text::fromCp1252(f);
    QString out =
        QStringLiteral("%1: %2\n").arg(contact.line).arg(fields.join(QLatin1String(" | ")));
    for (const QString &line : e.extraLines)
        out += QStringLiteral("  + ") + line + u'\n';
    return out;
}

// Reads a vCard or CSV input, with a CSV column map given as "FIELD=Header" lines.
QString readAll(const QByteArray &bytes, bool vcard, const QString &mapText = {}) {
    QString out;
    const auto sink = [&out](Contact &&c) {
        out += describe(c);
        return true;
    };
    CsvMap map;
    for (const QString &line : mapText.split(u'\n', Qt::SkipEmptyParts))
        map.insert(line.section(u'=', 0, 0), line.section(u'=', 1));
    const auto error = vcard ? readVCards(bytes, sink) : readCsv(bytes, map, sink);
    if (error)
        out += QStringLiteral("error %1: %2\n").arg(error->line).arg(error->reason);
    return out;
}

// Every fixture file against the entries and extra lines written beside it.
TEST(CardsReaders, FixtureCorpus) {
    const QDir dir(QStringLiteral(MERIDOC_CARDS_FIXTURES));
    const QStringList inputs = dir.entryList({"*.vcf", "*.csv"}, QDir::Files, QDir::Name);
    ASSERT_GE(inputs.size(), 10);
    for (const QString &name : inputs) {
        SCOPED_TRACE(name.toStdString());
        const QString base = dir.filePath(QFileInfo(name).completeBaseName());
        const QByteArray bytes = readFile(dir.filePath(name));
        EXPECT_EQ(looksLikeVCard(bytes), name.endsWith(QLatin1String(".vcf")));
        const QString actual = readAll(bytes, looksLikeVCard(bytes),
                                       QString::fromUtf8(readFile(base + QStringLiteral(".map"))));
        EXPECT_EQ(actual.toStdString(),
                  QString::fromUtf8(readFile(base + QStringLiteral(".expected"))).toStdString());
    }
}

} // namespace
