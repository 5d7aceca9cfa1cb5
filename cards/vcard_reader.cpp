#include "contact.h"

namespace meridoc::cards {

std::optional<ParseError> readVCards(QByteArrayView bytes, const ContactSink &sink) {
    return ParseError{1, QStringLiteral("vCard reading is not available yet")};
}

bool looksLikeVCard(QByteArrayView bytes) {
    return QByteArray(bytes.data(), bytes.size()).trimmed().toUpper().startsWith("BEGIN:VCARD");
}

} // namespace meridoc::cards
