#include "cards/commands.h"
#include "cards/contact.h"
#include "cards/sync_merge.h"
#include "cards/sync_state.h"
#include "cards/vcard_patch.h"
#include "support/program_dir.h"

#include <gtest/gtest.h>

using namespace meridoc;
using namespace meridoc::cards;
using testsupport::TempProgramDir;

namespace {

Projection projection(std::array<QByteArray, FieldCount> fields, QStringList lines = {}) {
    return {std::move(fields), std::move(lines)};
}

Projection projectionOf(const QByteArray &vcard) {
    Projection p;
    EXPECT_FALSE(readVCards(vcard, [&](Contact &&c) {
        p = ProjectionOfContact(c);
        return true;
    }));
    return p;
}

QByteArray card(const QByteArray &body, const QByteArray &version = "3.0") {
    return "BEGIN:VCARD\r\nVERSION:" + version + "\r\nUID:u-1\r\n" + body + "END:VCARD\r\n";
}

QByteArray utf16(const QByteArray &utf8) {
    const QString text = QString::fromUtf8(utf8);
    return QByteArray("\xff\xfe", 2) +
           QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
}

} // namespace

TEST(SyncMerge, FieldByFieldAgainstTheLastRound) {
    const QDate day(2026, 12, 8);
    const Projection base = projection({"Anna", "Berg", "111", "", "friend"});
    const QString heading = "Full name: Anna Berg";
    struct Row {
        const char *name;
        Projection mine, theirs;
        std::array<QByteArray, FieldCount> fields;
        QStringList lines; // among the result's lines
        int conflicts;
    } rows[] = {
        {"theirs only",
         base,
         projection({"Anna", "Berg", "222", "", "friend"}),
         {"Anna", "Berg", "222", "", "friend"},
         {},
         0},
        {"mine only",
         projection({"Anna", "Berg", "111", "", "boss"}),
         base,
         {"Anna", "Berg", "111", "", "boss"},
         {},
         0},
        {"both, same value",
         projection({"Anna", "Berg", "333", "", "friend"}),
         projection({"Anna", "Berg", "333", "", "friend"}),
         {"Anna", "Berg", "333", "", "friend"},
         {},
         0},
        {"both, different fields",
         projection({"Anna", "Berg", "111", "", "boss"}),
         projection({"Anna", "Berg", "222", "", "friend"}),
         {"Anna", "Berg", "222", "", "boss"},
         {},
         0},
        // The card file's phone stays; the other one takes the empty PHONE2.
        {"both, same phone",
         projection({"Anna", "Berg", "333", "", "friend"}),
         projection({"Anna", "Berg", "444", "", "friend"}),
         {"Anna", "Berg", "333", "444", "friend"},
         {"Sync conflict 2026-12-08: PHONE1 \"333\" in MERIDOC, \"444\" on the phone/server",
          "Phone 2 type: mobile"},
         1},
        {"both, same comment",
         projection({"Anna", "Berg", "111", "", "boss"}),
         projection({"Anna", "Berg", "111", "", "aunt"}),
         {"Anna", "Berg", "111", "", "boss"},
         {heading, "Sync conflict 2026-12-08: COMMENTS \"boss\" in MERIDOC, \"aunt\" on the "
                   "phone/server"},
         1},
        {"lines added on both sides",
         projection(base.fields, {heading, "E-mail: a@x.org"}),
         projection(base.fields, {heading, "Birthday: 1990-01-02"}),
         base.fields,
         {heading, "E-mail: a@x.org", "Birthday: 1990-01-02"},
         0},
    };
    for (const Row &row : rows) {
        const MergeOutcome out = MergeProjections(&base, row.mine, row.theirs, day);
        EXPECT_EQ(out.result.fields, row.fields) << row.name;
        for (const QString &line : row.lines)
            EXPECT_TRUE(out.result.lines.contains(line)) << row.name << ": " << line.toStdString();
        EXPECT_EQ(out.conflicts.size(), row.conflicts) << row.name;
    }
    // A line one side removed goes; without a common base nothing is removed.
    const Projection withMail = projection(base.fields, {heading, "E-mail: a@x.org"});
    EXPECT_TRUE(MergeProjections(&withMail, withMail, base, day).result.lines.isEmpty());
    EXPECT_TRUE(
        MergeProjections(nullptr, withMail, base, day).result.lines.contains("E-mail: a@x.org"));
}

TEST(SyncPatch, ChangesOnlyWhatTheCardFileHolds) {
    struct Row {
        const char *name;
        QByteArray old;
        std::array<QByteArray, FieldCount> fields;
        QList<QByteArray> kept, gone; // lines of the patched card
        // Another version of the card (`old` is then the other side's), and the one both last had:
        // the two merged as resolve-conflict merges them.
        QByteArray mine = {}, base = {};
    } rows[] = {
        {"phone changed in place, photo and types kept",
         card("N:Berg;Anna;;;\r\nFN:Anna Berg\r\nTEL;TYPE=CELL:111\r\nPHOTO;ENCODING=b;TYPE=JPEG:"
              "AAAA\r\nitem1.EMAIL;TYPE=INTERNET:a@x.org\r\nitem1.X-ABLabel:private\r\n"),
         {"Anna", "Berg", "222", "", ""},
         {"TEL;TYPE=CELL:222", "PHOTO;ENCODING=b;TYPE=JPEG:AAAA",
          "item1.EMAIL;TYPE=INTERNET:a@x.org", "item1.X-ABLabel:private", "UID:u-1"},
         {"TEL;TYPE=CELL:111"}},
        {"a removed phone goes with its label",
         card("N:Berg;Anna;;;\r\nFN:Anna Berg\r\nTEL;TYPE=CELL:111\r\nitem2.TEL:999\r\n"
              "item2.X-ABLabel:old\r\n"),
         {"Anna", "Berg", "111", "", ""},
         {"TEL;TYPE=CELL:111"},
         {"item2.TEL:999", "item2.X-ABLabel:old"}},
        {"a 4.0 card keeps its URI photo, gets a note",
         card("N:Berg;Anna;;;\r\nFN:Anna Berg\r\nTEL;VALUE=uri:tel:111\r\nPHOTO:http://x/a.jpg\r\n",
              "4.0"),
         {"Anna", "Berg", "111", "", "new note"},
         {"TEL;VALUE=uri:tel:111", "PHOTO:http://x/a.jpg", "NOTE:new note"},
         {}},
        {"a changed number is no longer a URI",
         card("N:Berg;Anna;;;\r\nFN:Anna Berg\r\nTEL;VALUE=uri;TYPE=cell:tel:+86-10-1\r\n", "4.0"),
         {"Anna", "Berg", "+86 10 2", "", ""},
         {"TEL;TYPE=cell:+86 10 2"},
         {"TEL;VALUE"}},
        {"an instant-message address is not repeated in the note",
         card("N:Berg;Anna;;;\r\nFN:Anna Berg\r\nIMPP;X-SERVICE-TYPE=Skype:skype:anna\r\n"),
         {"Anna", "Berg", "333", "", ""},
         {"IMPP;X-SERVICE-TYPE=Skype:skype:anna"},
         {"NOTE"}},
        {"a 2.1 note over a soft line break",
         card("N:Berg;Anna;;;\r\nTEL;CELL:111\r\nNOTE;QUOTED-PRINTABLE:one=\r\ntwo\r\n", "2.1"),
         {"Anna", "Berg", "222", "", "onetwo"},
         {"TEL;CELL:222", "NOTE;QUOTED-PRINTABLE:one=\r\ntwo"},
         {}},
        {"a UTF-16 card becomes UTF-8",
         utf16(card("N:Berg;Anna;;;\r\nFN:Anna Berg\r\nTEL:111\r\nX-PET:Mörri\r\n")),
         {"Anna", "Berg", "222", "", ""},
         {"TEL:222", "X-PET:M\xc3\xb6rri"},
         {}},
        {"a photo, a related name and an X- line only in mine",
         card("N:Berg;Anna;;;\r\nTEL:222\r\nitem1.EMAIL:a@x.org\r\nitem1.X-ABLabel:work\r\n"),
         {},
         {"PHOTO;ENCODING=b;TYPE=JPEG:AAAA", "PHOTO;VALUE=uri:http://x/a", "X-PET:Rex",
          "item2.X-ABRELATEDNAMES:Bo", "item2.X-ABLabel:_$!<Spouse>!$_", "TEL;TYPE=CELL:111"},
         {},
         card("N:Berg;Anna;;;\r\nTEL:111\r\nPHOTO;ENCODING=b;TYPE=JPEG:AAAA\r\nPHOTO;VALUE=uri:"
              "http://x/a\r\nitem1.X-ABRELATEDNAMES:Bo\r\nitem1.X-ABLabel:_$!<Spouse>!$_\r\n"
              "X-PET:Rex\r\n")},
        {"what changed on one side since the version both had",
         card("N:Berg;Anna;;;\r\nPHOTO:old\r\n"),
         {},
         {"PHOTO:new"},
         {"PHOTO:old", "X-PET"},
         card("N:Berg;Anna;;;\r\nPHOTO:new\r\nX-PET:Rex\r\n"),
         card("N:Berg;Anna;;;\r\nPHOTO:old\r\nX-PET:Rex\r\n")},
    };
    for (const Row &row : rows) {
        // The entry as the card file then holds it: the new fields, the card's lines as its text;
        // or the two versions merged.
        const Projection target =
            row.mine.isEmpty()
                ? ProjectionOfEntry(row.fields, projectionOf(row.old).lines.join(u'\n'))
                : MergeProjections(nullptr, projectionOf(row.mine), projectionOf(row.old), {})
                      .result;
        const QByteArray old =
            row.mine.isEmpty()
                ? row.old
                : MergeOtherProperties(
                      row.mine, row.old,
                      row.base.isEmpty() ? std::nullopt : std::optional<QByteArrayView>(row.base));
        const std::optional<QByteArray> patched = PatchVCard(old, target);
        ASSERT_TRUE(patched) << row.name;
        for (const QByteArray &line : row.kept)
            EXPECT_TRUE(patched->contains("\r\n" + line + "\r\n"))
                << row.name << ": " << line.toStdString() << "\n"
                << patched->toStdString();
        for (const QByteArray &line : row.gone)
            EXPECT_FALSE(patched->contains("\r\n" + line))
                << row.name << ": " << line.toStdString() << "\n"
                << patched->toStdString();
        // What the card file takes from the patched card is the target: the next round sees no
        // change.
        EXPECT_EQ(projectionOf(*patched), target) << row.name << "\n" << patched->toStdString();
    }
    EXPECT_FALSE(PatchVCard(card("") + card(""), projectionOf(card("N:A;B;;;\r\n"))));
    // A card the reader takes stays one it takes: an indented line after a blank one is not
    // folded into the END:VCARD before it.
    const QByteArray trailed = card("N:Berg;Anna;;;\r\n") + "\r\n tail\r\nEND:VCARD\r\n";
    const auto patched = PatchVCard(trailed, projectionOf(card("N:Berg;Anna;;;\r\nTEL:2\r\n")));
    ASSERT_TRUE(ProjectionOfVCard(trailed));
    EXPECT_TRUE(!patched || ProjectionOfVCard(*patched)) << patched->toStdString();
}

TEST(SyncState, KeepsEveryByteOfTheFields) {
    TempProgramDir dir;
    SyncState state;
    state.cardFile = "home";
    SyncedContact c;
    c.uid = "urn:uuid:1\t2";
    c.file = "x y.vcf";
    c.fileSeen = {12, -1234567890123456789, 18446744073709551000ULL}; // before 1970, a large inode
    c.vhash = "0123456789abcdef";
    const std::array<QByteArray, FieldCount> fields = {"Jos\xe9", "a\\b\tc", "\x81\x8d", "",
                                                       QByteArray(50, 'x')};
    c.key = FieldsKey(fields);
    c.lines = {"Full name: José", "Note: back\\slash\nnew line"};
    state.contacts.push_back(c);
    WriteSyncState(dir.path(), state);
    const std::optional<SyncState> read = ReadSyncState(dir.path());
    ASSERT_TRUE(read);
    EXPECT_EQ(SyncStateBytes(*read), SyncStateBytes(state));
    EXPECT_EQ(read->contacts[0].fields(), fields);
    EXPECT_EQ(read->contacts[0].lines, c.lines);
    EXPECT_FALSE(ReadSyncState(dir.path() + "/none"));
    // A line longer than a contact's can be is refused before its text is made.
    WriteSyncStateBytes(dir.path(),
                        SyncStateBytes(state) + "contact\t" + QByteArray(16 << 20, 'x'));
    EXPECT_THROW(ReadSyncState(dir.path()), Failure);
}
