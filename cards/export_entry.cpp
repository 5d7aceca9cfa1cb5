#include "export_entry.h"

#include "data/text.h"

#include <QCryptographicHash>
#include <QUuid>

#include <algorithm>
#include <cstring>

namespace meridoc::cards {
namespace {

// 6f1a9c52-3d4e-5b7a-8c90-1e2f3a4b5c6d in network byte order.
constexpr unsigned char UidNamespace[16] = {0x6f, 0x1a, 0x9c, 0x52, 0x3d, 0x4e, 0x5b, 0x7a,
                                            0x8c, 0x90, 0x1e, 0x2f, 0x3a, 0x4b, 0x5c, 0x6d};

} // namespace

QString ExportEntry::text(Field f) const {
    return text::trimmed(text::fromCp1252(fields[static_cast<int>(f)]));
}

FieldViews FieldsOf(const EntryRecord &record) {
    FieldViews views;
    for (int i = 0; i < FieldCount; ++i) {
        const Field f = static_cast<Field>(i);
        const int at = EntryRecord::offset(f);
        views[i] = QByteArrayView(reinterpret_cast<const char *>(record.bytes.data() + at + 1),
                                  std::min<int>(record.bytes[at], EntryRecord::maxLength(f)));
    }
    return views;
}

QByteArrayView TrimmedBytes(QByteArrayView v) {
    while (!v.isEmpty() && static_cast<unsigned char>(v.front()) <= ' ')
        v = v.sliced(1);
    while (!v.isEmpty() && static_cast<unsigned char>(v.back()) <= ' ')
        v.chop(1);
    return v;
}

namespace {

// The name-based (SHA-1, version 5) UUID of the length-prefixed fields in the entries'
// namespace, in its text form: what QUuid::createUuidV5 gives, with one hash object kept for
// every entry instead of one made (and its result copied twice) per entry, which took a quarter
// of an export's time.
UidText uidOfName(const unsigned char *name, std::size_t size) {
    thread_local QCryptographicHash sha1(QCryptographicHash::Sha1);
    sha1.reset();
    sha1.addData(QByteArrayView(reinterpret_cast<const char *>(UidNamespace), sizeof UidNamespace));
    sha1.addData(QByteArrayView(reinterpret_cast<const char *>(name), qsizetype(size)));
    QUuid uuid = QUuid::fromRfc4122(sha1.resultView().first(16));
    uuid.data3 = (uuid.data3 & 0x0FFF) | (5 << 12); // the version: name-based, SHA-1
    uuid.data4[0] = (uuid.data4[0] & 0x3F) | 0x80;  // the variant of RFC 4122
    const QByteArray text = uuid.toByteArray(QUuid::WithoutBraces);
    UidText out;
    std::memcpy(out.data(), text.constData(), out.size());
    return out;
}

} // namespace

UidText EntryUidText(const FieldViews &fields) {
    unsigned char name[FieldCount * 256];
    std::size_t size = 0;
    for (const QByteArrayView field : fields) {
        const auto length = static_cast<unsigned char>(std::min<qsizetype>(field.size(), 255));
        name[size++] = length;
        std::memcpy(name + size, field.data(), length);
        size += length;
    }
    return uidOfName(name, size);
}

UidText EntryUidText(const EntryRecord &record) {
    // The record already holds each field as its length byte and characters; each is copied
    // whole (a fixed size, so the copy is a few moves) and the length byte clamped as
    // EntryRecord::field clamps it.
    unsigned char name[EntryRecord::Size];
    std::size_t size = 0;
#pragma GCC unroll 5
    for (int i = 0; i < FieldCount; ++i) {
        const Field f = static_cast<Field>(i);
        const unsigned char *field = record.bytes.data() + EntryRecord::offset(f);
        std::memcpy(name + size, field, 1 + EntryRecord::maxLength(f));
        const int length = std::min<int>(field[0], EntryRecord::maxLength(f));
        name[size] = static_cast<unsigned char>(length);
        size += 1 + std::size_t(length);
    }
    return uidOfName(name, size);
}

QString EntryUid(const std::array<QByteArray, FieldCount> &fields) {
    FieldViews views;
    std::copy(fields.begin(), fields.end(), views.begin());
    const UidText uid = EntryUidText(views);
    return QString::fromLatin1(uid.data(), qsizetype(uid.size()));
}

QString ExportNote(const ExportEntry &entry) {
    const QString comments = entry.text(Field::COMMENTS);
    if (entry.extraText.isEmpty())
        return comments;
    return comments + '\n' + entry.extraText;
}

} // namespace meridoc::cards
