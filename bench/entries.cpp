#include "entries.h"

#include "data/errors.h"
#include "data/files.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

using meridoc::EntryRecord;
using meridoc::Field;

namespace bench {
namespace {

// Windows-1252 bytes, as the card files hold them.
constexpr std::array<std::string_view, 96> GivenNames = {
    "Anna",    "John",   "Maria",  "Peter",   "ELENA",    "George",   "Sophie",       "Michael",
    "Laura",   "David",  "Olga",   "Thomas",  "Katerina", "James",    "Julia",        "Nikos",
    "Emma",    "Robert", "Ioanna", "William", "Claire",   "Daniel",   "Fran\xe7oise", "Paul",
    "Helen",   "Mark",   "Lucia",  "Andreas", "Sarah",    "Dimitris", "Eva",          "Richard",
    "Alice",   "Stefan", "Chloe",  "Kostas",  "Marta",    "Charles",  "Irene",        "Martin",
    "Grace",   "Yannis", "Ingrid", "Jos\xe9", "Hannah",   "Frank",    "Petra",        "Antonio",
    "Zoe",     "Edward", "MARIA",  "Lars",    "Rosa",     "Henry",    "Vera",         "Luca",
    "Nina",    "Oliver", "Agnes",  "Pierre",  "Ruth",     "Carlos",   "Eleni",        "Hugo",
    "Fatima",  "Sam",    "Ana",    "Victor",  "Lena",     "Samuel",   "Mei",          "Ahmed",
    "Karen",   "Jan",    "Ewa",    "Tomasz",  "Ilse",     "Ben",      "Clara",        "Giorgos",
    "Beatrix", "Noah",   "Amelie", "Rafael",  "Ursula",   "Mario",    "Lydia",        "Felix",
    "Teresa",  "Oscar",  "Liam",   "Ava",     "Mateo",    "Ivy",      "Kai",          "Jo"};

constexpr std::array<std::string_view, 128> Surnames = {"Smith",
                                                        "Johnson",
                                                        "Papadopoulos",
                                                        "M\xfcller",
                                                        "Garcia",
                                                        "Martin",
                                                        "SMITH",
                                                        "Brown",
                                                        "Rossi",
                                                        "Schmidt",
                                                        "Nikolaidis",
                                                        "Dubois",
                                                        "Jones",
                                                        "Fernandez",
                                                        "Williams",
                                                        "Georgiou",
                                                        "Taylor",
                                                        "Schneider",
                                                        "Lopez",
                                                        "Wilson",
                                                        "Konstantinou",
                                                        "Bernard",
                                                        "Davies",
                                                        "Fischer",
                                                        "Romano",
                                                        "Evans",
                                                        "Ioannou",
                                                        "Moreau",
                                                        "Thomas",
                                                        "Weber",
                                                        "Martinez",
                                                        "martinez",
                                                        "Roberts",
                                                        "Pappas",
                                                        "Laurent",
                                                        "Walker",
                                                        "Meyer",
                                                        "Ricci",
                                                        "Wright",
                                                        "Dimitriou",
                                                        "Lefebvre",
                                                        "Robinson",
                                                        "Wagner",
                                                        "Sanchez",
                                                        "Thompson",
                                                        "Vlachos",
                                                        "Leroy",
                                                        "White",
                                                        "Becker",
                                                        "Colombo",
                                                        "Hughes",
                                                        "Antoniou",
                                                        "Roux",
                                                        "Edwards",
                                                        "Hoffmann",
                                                        "Perez",
                                                        "Green",
                                                        "Karagiannis",
                                                        "Fournier",
                                                        "Hall",
                                                        "Sch\xe4"
                                                        "fer",
                                                        "Bruno",
                                                        "Wood",
                                                        "Christodoulou",
                                                        "Girard",
                                                        "Clarke",
                                                        "Koch",
                                                        "Gonzalez",
                                                        "Jackson",
                                                        "Makris",
                                                        "Bonnet",
                                                        "Turner",
                                                        "Bauer",
                                                        "Gallo",
                                                        "Hill",
                                                        "Oikonomou",
                                                        "Dupont",
                                                        "Moore",
                                                        "Richter",
                                                        "Rodriguez",
                                                        "MacDonald",
                                                        "McAllister",
                                                        "O'Brien",
                                                        "van Dijk",
                                                        "de la Cruz",
                                                        "Nowak",
                                                        "Kowalski",
                                                        "Jensen",
                                                        "Nielsen",
                                                        "Andersson",
                                                        "Johansson",
                                                        "Lindqvist",
                                                        "Kovacs",
                                                        "Horvath",
                                                        "Novak",
                                                        "Popescu",
                                                        "Ivanova",
                                                        "Petrov",
                                                        "Yilmaz",
                                                        "Kaya",
                                                        "Cohen",
                                                        "Levi",
                                                        "Khan",
                                                        "Ali",
                                                        "Singh",
                                                        "Patel",
                                                        "Nguyen",
                                                        "Tran",
                                                        "Kim",
                                                        "Lee",
                                                        "Park",
                                                        "Wang",
                                                        "Li",
                                                        "Zhang",
                                                        "Chen",
                                                        "Tanaka",
                                                        "Suzuki",
                                                        "Sato",
                                                        "Da Silva",
                                                        "Santos",
                                                        "Oliveira",
                                                        "Pereira",
                                                        "Costa",
                                                        "Ferreira",
                                                        "Almeida",
                                                        "Young",
                                                        "King",
                                                        "Scott-Williams"};

constexpr std::array<std::string_view, 24> Comments = {"Work",
                                                       "Home",
                                                       "Dentist, Tue/Thu mornings",
                                                       "Plumber - ask for a quote first",
                                                       "Accountant",
                                                       "Old school friend",
                                                       "Neighbour, flat 4B",
                                                       "Mobile only after 6 pm",
                                                       "Birthday 12 March",
                                                       "Tennis club",
                                                       "Landlord",
                                                       "Doctor's surgery",
                                                       "Piano lessons for the kids",
                                                       "Insurance agent, policy 4471-22",
                                                       "Cousin in the north",
                                                       "Car service, every 15000 km",
                                                       "Book club, first Monday",
                                                       "Electrician",
                                                       "Babysitter (weekends)",
                                                       "Lawyer - office hours only",
                                                       "Printer supplier",
                                                       "Vet",
                                                       "Former colleague",
                                                       "Holiday flat owner"};

} // namespace

std::size_t EntryGenerator::below(std::size_t bound) {
    return std::uniform_int_distribution<std::size_t>(0, bound - 1)(rng_);
}

EntryRecord EntryGenerator::next() {
    const std::uint64_t serial = serial_++;
    char phone1[24];
    char phone2[24];
    switch (below(3)) {
    case 0:
        std::snprintf(phone1, sizeof phone1, "(%03u)555-%04u", unsigned(200 + serial / 10000 % 700),
                      unsigned(serial % 10000));
        break;
    case 1:
        std::snprintf(phone1, sizeof phone1, "+44 20 79%02u %04u", unsigned(serial / 10000 % 100),
                      unsigned(serial % 10000));
        break;
    default:
        std::snprintf(phone1, sizeof phone1, "210-%02u%05u", unsigned(serial / 100000 % 100),
                      unsigned(serial % 100000));
        break;
    }
    if (below(2) == 0)
        std::snprintf(phone2, sizeof phone2, "69%02u %06u", unsigned(below(100)),
                      unsigned(below(1000000)));
    else
        phone2[0] = '\0';
    const std::string_view comment =
        below(10) < 6 ? std::string_view() : Comments[below(Comments.size())];

    const auto bytes = [](std::string_view s) { return QByteArray(s.data(), qsizetype(s.size())); };
    return EntryRecord::fromFields({bytes(GivenNames[below(GivenNames.size())]),
                                    bytes(Surnames[below(Surnames.size())]), QByteArray(phone1),
                                    QByteArray(phone2), bytes(comment)});
}

std::vector<EntryRecord> sortedEntries(EntryGenerator &generator, int n) {
    std::vector<EntryRecord> records;
    records.reserve(n);
    for (int i = 0; i < n; ++i)
        records.push_back(generator.next());
    std::stable_sort(records.begin(), records.end(),
                     [](const EntryRecord &a, const EntryRecord &b) {
                         return meridoc::SortKey(a) < meridoc::SortKey(b);
                     });
    return records;
}

EntryRecord toggledPhone2(const EntryRecord &entry) {
    EntryRecord changed = entry;
    QByteArray phone = entry.PHONE2();
    if (phone.endsWith(" ext"))
        phone.chop(4);
    else
        phone.append(" ext");
    changed.setField(Field::PHONE2, phone);
    return changed;
}

void writeCardFile(const QString &path, const std::vector<EntryRecord> &records) {
    meridoc::files::File file = meridoc::files::File::create(path);
    std::vector<unsigned char> bytes;
    bytes.reserve(records.size() * EntryRecord::Size);
    for (const EntryRecord &r : records)
        bytes.insert(bytes.end(), r.bytes.begin(), r.bytes.end());
    file.writeAt(bytes.data(), qint64(bytes.size()), 0);
    file.sync();
    file.close();
}

} // namespace bench
