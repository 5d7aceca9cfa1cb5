#include "data/entryrecord.h"
#include "support/program_dir.h"

#include <gtest/gtest.h>

using namespace meridoc;
using testsupport::recordBytes;

namespace {
EntryRecord fromBytes(const QByteArray &bytes) {
    EntryRecord r;
    std::memcpy(r.bytes.data(), bytes.constData(), EntryRecord::Size);
    return r;
}
} // namespace

TEST(EntryRecord, LayoutMatchesTheCardFileFormat) {
    const QByteArray bytes = recordBytes({"ANNA", "SMITH", "123", "", "note"}, 'x');
    ASSERT_EQ(bytes.size(), 135);
    EXPECT_EQ(bytes.left(5), QByteArray("\x04"
                                        "ANNA"));
    EXPECT_EQ(bytes.at(5), 'x'); // meaningless bytes are left alone
    EXPECT_EQ(bytes.mid(21, 6), QByteArray("\x05"
                                           "SMITH"));
    EXPECT_EQ(bytes.mid(42, 4), QByteArray("\x03"
                                           "123"));
    EXPECT_EQ(bytes.at(63), '\0');
    EXPECT_EQ(bytes.mid(84, 5), QByteArray("\x04"
                                           "note"));
}

TEST(EntryRecord, StoringCutsToTheFieldMaximum) {
    EntryRecord r;
    r.setField(Field::NAME, QByteArray(25, 'n'));
    r.setField(Field::COMMENTS, QByteArray(60, 'c'));
    EXPECT_EQ(r.NAME(), QByteArray(20, 'n'));
    EXPECT_EQ(r.COMMENTS(), QByteArray(50, 'c'));
    EXPECT_EQ(r.bytes[0], 20);
    EXPECT_EQ(r.bytes[84], 50);
    // A shorter text leaves zeros, not the longer one's rest, after its characters.
    r.setField(Field::NAME, "AB");
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(r.bytes.data()), 21),
              QByteArray("\x02"
                         "AB") +
                  QByteArray(18, '\0'));
}

TEST(EntryRecord, ALengthByteOverTheMaximumNeverReadsPastTheField) {
    QByteArray bytes = recordBytes({"A", "B", "C", "D", "E"}, 'j');
    bytes[0] = static_cast<char>(0xFF);  // NAME claims 255 characters
    bytes[84] = static_cast<char>(0xFF); // COMMENTS, the last field, too
    const EntryRecord r = fromBytes(bytes);
    EXPECT_EQ(r.NAME().size(), 20);
    EXPECT_EQ(r.NAME(), bytes.mid(1, 20));
    EXPECT_EQ(r.COMMENTS().size(), 50);
    EXPECT_EQ(r.SURNAME(), QByteArray("B"));
}

TEST(SortKey, OrdersBySurnameThenNameIgnoringAsciiCase) {
    const auto key = [](QByteArray name, QByteArray surname) {
        return SortKey(EntryRecord::fromFields({name, surname, "", "", ""}));
    };
    // SMITHE+ANNA sorts before SMITH+JOHN: E (0x45) < J (0x4A) at the sixth byte.
    EXPECT_LT(key("ANNA", "SMITHE"), key("JOHN", "SMITH"));
    EXPECT_EQ(key("anna", "smith"), key("ANNA", "SMITH"));
    EXPECT_LT(key("", "AB"), key("", "ABC")); // a prefix first
    EXPECT_LT(key("", " Z"), key("", "A"));   // a leading blank sorts first
    EXPECT_LT(key("", "Z"), key("", "\xe9")); // bytes compare unsigned
    EXPECT_EQ(key("x", "abc").toByteArray(), QByteArray("ABCX"));
}

TEST(EntryKey, ComparesTheFiveFieldsOneByOne) {
    const EntryRecord ab_c = EntryRecord::fromFields({"AB", "C", "1", "2", "x"});
    const EntryRecord a_bc = EntryRecord::fromFields({"A", "BC", "1", "2", "x"});
    const EntryRecord spaced = EntryRecord::fromFields({"AB", "C", "1", "2", "x "});
    const EntryRecord upper = EntryRecord::fromFields({"AB", "c", "1", "2", "x"});
    EXPECT_TRUE(EntryKey(ab_c).matches(ab_c));
    EXPECT_FALSE(EntryKey(ab_c).matches(a_bc));
    EXPECT_FALSE(EntryKey(ab_c).matches(spaced));
    EXPECT_FALSE(EntryKey(ab_c).matches(upper));

    // The bytes after the characters do not count.
    EXPECT_TRUE(EntryKey(ab_c).matches(fromBytes(recordBytes({"AB", "C", "1", "2", "x"}, '#'))));
}
