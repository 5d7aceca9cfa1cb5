#include "export_entry.h"

#include "data/text.h"

#include <QUuid>

#include <algorithm>
#include <cstring>

namespace meridoc::cards {
namespace {

const QUuid UidNamespace(QStringLiteral("6f1a9c52-3d4e-5b7a-8c90-1e2f3a4b5c6d"));

} // namespace

QString ExportEntry::text(Field f) const {
    return text::trimmed(text::fromCp1252(fields[static_cast<int>(f)]));
}

QString EntryUid(const std::array<QByteArray, FieldCount> &fields) {
    char name[FieldCount * 256];
    qsizetype size = 0;
    for (const QByteArray &field : fields) {
        const auto length = static_cast<unsigned char>(std::min<qsizetype>(field.size(), 255));
        name[size++] = static_cast<char>(length);
        std::memcpy(name + size, field.constData(), length);
        size += length;
    }
    return QUuid::createUuidV5(UidNamespace, QByteArray::fromRawData(name, size))
        .toString(QUuid::WithoutBraces);
}

QString ExportNote(const ExportEntry &entry) {
    const QString comments = entry.text(Field::COMMENTS);
    if (entry.extraText.isEmpty())
        return comments;
    return comments + '\n' + entry.extraText;
}

} // namespace meridoc::cards
