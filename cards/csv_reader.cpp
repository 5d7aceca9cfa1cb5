#include "contact.h"

namespace meridoc::cards {

std::optional<ParseError> readCsv(QByteArrayView bytes, const CsvMap &map,
                                  const ContactSink &sink) {
    return ParseError{1, QStringLiteral("CSV reading is not available yet")};
}

} // namespace meridoc::cards
