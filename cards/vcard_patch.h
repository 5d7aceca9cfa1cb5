#pragma once

#include "sync_merge.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace meridoc::cards {

// The vCard (3.0 unless `version4`) of a contact as the card file holds it.
QByteArray VCardOfProjection(const Projection &projection, const QString &uid, bool version4);

// `old` (one vCard as another program wrote it) changed so that it holds `target`: the properties
// the card file has a place for (N, FN, TEL, NOTE, EMAIL, ADR, BDAY, ANNIVERSARY, ORG, TITLE,
// ROLE, URL, NICKNAME, CATEGORIES, KIND) get the target's values, and every other line stays as
// it was (PHOTO, X- properties, UID, the order of lines). A property whose value is kept keeps its
// line as it was, with its group and parameters; a changed value is written into the old line's
// place, keeping its group and parameters (TEL;TYPE=CELL stays a mobile number); a value the
// target no longer has goes with its group's labels; a new one follows its kind's last line.
// Lines that other properties of `old` stand for (an IMPP's "IM" line) are not repeated in the
// NOTE. Nothing when `old` is not one vCard.
std::optional<QByteArray> PatchVCard(QByteArrayView old, const Projection &target);

// `theirs` (one vCard) with the properties the card file has no place for (PHOTO, X- lines, a
// group's value with its labels) merged from `mine`, another version of the same contact, as a
// round merges: a property changed on one side since `base` (the version both last had, when
// known) takes that side's lines; changed on both, or without a base, every value either holds
// is kept (a group of mine named as one of theirs is renamed). The lines the card file holds stay
// as they are in `theirs`, for PatchVCard to give them the merged values. UTF-8 whatever `theirs`
// was in.
QByteArray MergeOtherProperties(QByteArrayView mine, QByteArrayView theirs,
                                std::optional<QByteArrayView> base);

} // namespace meridoc::cards
