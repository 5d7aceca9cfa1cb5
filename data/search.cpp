#include "search.h"

#include "text.h"
#include "transliteration.h"

namespace meridoc {
namespace {
constexpr int MaxSearchLength = 20;
}

SearchCriteria MakeSearchCriteria(const QString &searchText, bool byName) {
    const QByteArray bytes = text::trimmed(text::upperAscii(toCp1252Latin(searchText)));
    return {bytes.left(MaxSearchLength), byName};
}

bool Matches(const EntryRecord &record, const SearchCriteria &criteria) {
    const QByteArray &wanted = criteria.SearchString;
    if (wanted.isEmpty())
        return true;
    const QByteArray field = record.field(criteria.byName ? Field::NAME : Field::SURNAME);
    const QByteArray candidate =
        text::trimmed(text::upperAscii(field.left(wanted.size()))).left(MaxSearchLength);
    return candidate == wanted;
}

} // namespace meridoc
