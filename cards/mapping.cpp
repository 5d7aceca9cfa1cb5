#include "contact.h"

#include "data/text.h"

namespace meridoc::cards {

MappedEntry mapContact(const Contact &contact) {
    MappedEntry entry;
    entry.fields[0] = text::toCp1252(contact.given).left(20);
    entry.fields[1] = text::toCp1252(contact.family).left(20);
    return entry;
}

} // namespace meridoc::cards
