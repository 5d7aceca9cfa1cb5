#pragma once

#include "entryrecord.h"

#include <QString>

namespace meridoc {

// What a search looks for: the leading characters of a NAME or a SURNAME.
struct SearchCriteria {
    QByteArray SearchString; // upper-cased (a-z only), trimmed, at most 20 characters
    bool byName = false;     // compare names; otherwise surnames
};

// The criteria for the text of the search box and the BY NAME choice.
SearchCriteria MakeSearchCriteria(const QString &searchText, bool byName);

// A record matches when the first n characters of its NAME or SURNAME (n the search string's
// length), upper-cased and trimmed, equal the search string; an empty search string matches all.
bool Matches(const EntryRecord &record, const SearchCriteria &criteria);

} // namespace meridoc
