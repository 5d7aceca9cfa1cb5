#include "export_entry.h"

#include "data/text.h"

#include <QUuid>

namespace meridoc::cards {
namespace {

const QUuid UidNamespace(QStringLiteral("6f1a9c52-3d4e-5b7a-8c90-1e2f3a4b5c6d"));

} // namespace

QString ExportEntry::text(Field f) const {
    return text::trimmed(text::fromCp1252(fields[static_cast<int>(f)]));
}

QString EntryUid(const std::array<QByteArray, FieldCount> &fields) {
    QByteArray name;
    for (const QByteArray &field : fields) {
        name.append(static_cast<char>(field.size()));
        name.append(field);
    }
    return QUuid::createUuidV5(UidNamespace, name).toString(QUuid::WithoutBraces);
}

QString ExportNote(const ExportEntry &entry) {
    const QString comments = entry.text(Field::COMMENTS);
    if (entry.extraText.isEmpty())
        return comments;
    return comments + '\n' + entry.extraText;
}

} // namespace meridoc::cards
