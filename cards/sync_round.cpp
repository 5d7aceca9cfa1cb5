#include "sync_round.h"

#include "card_entries.h"
#include "entry_contact.h"
#include "export.h"
#include "sync.h"

#include "data/appstate.h"
#include "data/errors.h"
#include "data/extratext.h"
#include "data/files.h"
#include "data/text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStringEncoder>

#include <algorithm>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace meridoc::cards {
namespace {

// Larger than any one person's vCard, photo included.
constexpr qint64 MaxCardBytes = 16 << 20;

QByteArray nameKey(const std::array<QByteArray, FieldCount> &fields) {
    return text::trimmed(fields[int(Field::NAME)]) + '\t' +
           text::trimmed(fields[int(Field::SURNAME)]);
}

// The folder's vCard files (regular files ending in ".vcf", not hidden) with their stamps, their
// names as the folder holds them, one after the other in one buffer: with a string made for each
// name (and for each name in the state), an idle round took a third longer. Stat-ed relative to
// the open folder: with a path each, stat-ing took a tenth of an idle round.
struct VCardFiles {
    struct File {
        qsizetype at, size; // its name in `names`
        FileStamp stamp;
    };
    QByteArray names;
    std::vector<File> files;
    // Names of the kind that are no regular file (a link, a pipe, a folder, a device), with what
    // they are: left alone, never opened.
    std::vector<std::pair<QByteArray, QString>> others;
    bool staged = false; // files staged by a writer are there too
    QByteArrayView name(const File &f) const { return QByteArrayView(names).sliced(f.at, f.size); }
};

VCardFiles vCardFiles(const QString &folder) {
    VCardFiles found;
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        throw Failure(QStringLiteral("cannot read the folder"), folder);
    const auto closeDir = qScopeGuard([&] { ::closedir(dir); });
    while (const dirent *e = ::readdir(dir)) {
        const QByteArrayView name(e->d_name);
        if (name.startsWith('.')) { // staged names are hidden too
            found.staged = found.staged || files::isStagedName(name.toByteArray());
            continue;
        }
        if (!name.endsWith(".vcf"))
            continue;
        if (const FileStamp stamp = StampAt(::dirfd(dir), e->d_name); !stamp.isNone()) {
            found.files.push_back({found.names.size(), name.size(), stamp});
            found.names.append(name);
        } else if (struct stat st{};
                   ::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            found.others.emplace_back(name.toByteArray(),
                                      S_ISLNK(st.st_mode)
                                          ? QStringLiteral("a symbolic link, not followed")
                                      : S_ISDIR(st.st_mode) ? QStringLiteral("a folder")
                                                            : QStringLiteral("not a regular file"));
        }
    }
    return found;
}

} // namespace

QString SyncRound::textNameOf(const std::array<QByteArray, FieldCount> &fields) {
    return ViewerExtraTextName(text::fromCp1252(fields[int(Field::NAME)]),
                               text::fromCp1252(fields[int(Field::SURNAME)]));
}

QByteArray SyncRound::readFile(const QString &path, qint64 limit) {
    return ReadOwnFile(path, limit, QStringLiteral("larger than %1 bytes; not read").arg(limit));
}

SyncRound::SyncRound(const CommandContext &ctx, const SyncRequest &request)
    : ctx_(ctx), request_(request), folder_(QDir(request.folder).absolutePath() + '/'),
      today_(QDate::currentDate()), cardFile_(ctx.cardFile()) {}

SyncRound::~SyncRound() = default;

void SyncRound::report(const QString &line) {
    reportLines_ += line;
}

QString SyncRound::whoOf(const Projection &p) const {
    if (const QString heading = HeadingOf(p.lines); !heading.isEmpty())
        return heading.mid(FullNameHeading.size());
    const QString who = text::trimmed(text::fromCp1252(p.fields[int(Field::NAME)]) + ' ' +
                                      text::fromCp1252(p.fields[int(Field::SURNAME)]));
    return who.isEmpty() ? QStringLiteral("(no name)") : who;
}

void SyncRound::plan() {
    readState();
    readFolder();
    readCardFile();
    match();
    for (std::size_t i = 0; i < contacts_.size(); ++i)
        decide(int(i));
    refuseMassRemoval();
}

void SyncRound::readState() {
    oldState_ = ReadSyncState(folder_);
    if (oldState_ && !oldState_->cardFile.isEmpty() &&
        oldState_->cardFile.compare(ctx_.cardBaseName, Qt::CaseInsensitive) != 0)
        throw Failure(QStringLiteral("this folder is synced with the card file \"%1\", not \"%2\"")
                          .arg(oldState_->cardFile, ctx_.cardBaseName),
                      request_.folder);
}

void SyncRound::readFolder() {
    const QString list = folder_ + SyncManifestName;
    if (QFileInfo(list).exists() || QFileInfo(list).isSymLink()) {
        if (StampOf(list).isNone())
            throw Failure(QStringLiteral("not a regular file"), list);
        listed_ = true;
        for (const QByteArray &line : readFile(list, 64 << 20).split('\n'))
            if (!line.startsWith('#') && !line.trimmed().isEmpty())
                listedAsOwn_.insert(QString::fromUtf8(line.trimmed()));
    }
    // The state's file names encoded as the folder's are, in one buffer, to be found by the names
    // the folder lists.
    QByteArray stateNames;
    std::vector<qsizetype> stateNameEnds;
    const std::size_t known = oldState_ ? oldState_->contacts.size() : 0;
    stateNameEnds.reserve(known);
    if (oldState_) {
        qsizetype length = 0;
        for (const SyncedContact &c : oldState_->contacts)
            length += c.file.size() * 3;
        stateNames.reserve(length);
        QStringEncoder utf8(QStringEncoder::Utf8, QStringConverter::Flag::Stateless);
        for (const SyncedContact &c : oldState_->contacts) {
            const qsizetype at = stateNames.size();
            stateNames.resize(at + c.file.size() * 3);
            stateNames.truncate(utf8.appendToBuffer(stateNames.data() + at, c.file) -
                                stateNames.constData());
            stateNameEnds.push_back(stateNames.size());
        }
    }
    QHash<QByteArrayView, int> stateOfFile;
    stateOfFile.reserve(qsizetype(known));
    for (std::size_t i = 0, at = 0; i < known; at = stateNameEnds[i++])
        stateOfFile.insert(QByteArrayView(stateNames).sliced(at, stateNameEnds[i] - at), int(i));
    cardOfState_.assign(known, -1);
    const VCardFiles found = vCardFiles(folder_);
    if (found.staged)
        files::removeStaleStagedFiles(folder_); // left by a round that was killed
    cards_.reserve(found.files.size());
    for (const VCardFiles::File &f : found.files) {
        Card card;
        card.stamp = f.stamp;
        const auto state = stateOfFile.constFind(found.name(f));
        if (state != stateOfFile.cend() && oldState_->contacts[*state].fileSeen == card.stamp) {
            // Unchanged since the last round.
            card.file = oldState_->contacts[*state].file;
            card.uid = oldState_->contacts[*state].uid;
            cardOfState_[*state] = int(cards_.size());
        } else {
            card.file = QFile::decodeName(found.name(f).toByteArray());
            readCard(card);
        }
        cards_.push_back(std::move(card));
    }
    // Each is left alone, and so is a contact whose file it took the place of.
    for (const auto &[name, what] : found.others) {
        Card card;
        card.file = QFile::decodeName(name);
        card.usable = false;
        report(QStringLiteral("left alone: %1: %2").arg(card.file, what));
        cards_.push_back(std::move(card));
    }
    refuseSharedUids();
}

// A UID in two files leaves both alone. The files unchanged since the last round have the
// state's UIDs, each once: only a file read this round can share one.
void SyncRound::refuseSharedUids() {
    QHash<QString, QList<int>> read; // UID -> the files read that hold it
    for (std::size_t c = 0; c < cards_.size(); ++c)
        if (cards_[c].read && !cards_[c].uid.isEmpty())
            read[cards_[c].uid] += int(c);
    if (read.isEmpty())
        return;
    // Looked up in the few files read, not the other way round: a table of every unchanged file's
    // UID made a round with a change 3 % slower.
    for (std::size_t s = 0; s < cardOfState_.size(); ++s)
        if (cardOfState_[s] >= 0)
            if (const auto it = read.find(oldState_->contacts[s].uid); it != read.end())
                *it += cardOfState_[s];
    for (auto it = read.cbegin(); it != read.cend(); ++it) {
        const QList<int> &holders = *it;
        if (holders.size() < 2)
            continue;
        for (int c : holders) {
            if (!cards_[c].usable)
                continue;
            cards_[c].usable = false;
            report(QStringLiteral("left alone: %1: its UID %2 is used by another file too")
                       .arg(cards_[c].file, cards_[c].uid));
        }
    }
}

void SyncRound::readCard(Card &card) {
    card.read = true;
    QString problem;
    int count = 0;
    std::optional<ParseError> error;
    if (card.stamp.size > MaxCardBytes) {
        problem = QStringLiteral("larger than a vCard can be");
    } else {
        card.bytes = readFile(folder_ + card.file, MaxCardBytes);
        error = readVCards(card.bytes, [&](cards::Contact &&c) {
            if (++count == 1) {
                card.uid = c.uid.trimmed();
                card.projection = ProjectionOfContact(c);
            }
            return count < 2;
        });
        if (error)
            problem = QStringLiteral("line %1: %2").arg(error->line).arg(error->reason);
        else if (count != 1)
            problem = QStringLiteral("holds %1 vCards, not one").arg(count);
        else if (card.uid.isEmpty())
            problem = QStringLiteral("its vCard has no UID");
    }
    if (!problem.isEmpty()) {
        card.usable = false;
        report(QStringLiteral("left alone: %1: %2").arg(card.file, problem));
    }
}

void SyncRound::readCardFile() {
    CardEntries entries(cardFile_);
    texts_ = std::make_unique<ExtraTexts>(ctx_.folder());
    entryOfKey_.reserve(entries.count());
    records_.reserve(std::size_t(entries.count()));
    entries_.reserve(std::size_t(entries.count()));
    const QByteArray programDir = QFile::encodeName(ctx_.programDir);
    const int dirFd = ::open(programDir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const auto closeDir = qScopeGuard([&] {
        if (dirFd >= 0)
            ::close(dirFd);
    });
    while (const EntryRecord *record = entries.next())
        records_.push_back({*record, -1});
    // The keys one after the other in one buffer, reserved whole so that the views into it stay
    // valid.
    entryKeys_.reserve(qsizetype(records_.size()) * EntryRecord::Size);
    for (auto &[record, index] : records_) {
        const qsizetype at = entryKeys_.size();
        AppendKeyOfRecord(entryKeys_, record);
        Entry entry;
        entry.key = QByteArrayView(entryKeys_).sliced(at);
        const qsizetype distinct = entryOfKey_.size();
        int &entryIndex = entryOfKey_[entry.key];
        if (entryOfKey_.size() == distinct) { // the same entry again
            index = entryIndex;
            entryKeys_.truncate(at);
            continue;
        }
        index = entryIndex = int(entries_.size());
        const auto [name, surname] = NameOfKey(entry.key);
        if (texts_->has(name, surname)) {
            entry.textPath = texts_->shownPath(textNameOf(entry.fields()));
            // Stat-ed relative to the open program folder, as the folder's vCards are.
            entry.textStamp =
                dirFd >= 0 && entry.textPath.startsWith(programDir)
                    ? StampAt(dirFd, entry.textPath.constData() + programDir.size(), Links::Follow)
                    : StampOf(QFile::decodeName(entry.textPath), Links::Follow);
        }
        entries_.push_back(std::move(entry));
    }
}

const Projection &SyncRound::entryProjection(int index) {
    Entry &e = entries_[index];
    if (!e.projection)
        e.projection = ProjectionOfEntry(
            e.fields(), texts_->plainText(NameOfKey(e.key).first, NameOfKey(e.key).second),
            e.groupId, [this](const QString &id) { return takenId(id); });
    return *e.projection;
}

// Whether an entry's lines carry the identity `id` (asked only of a text shared by people of one
// name).
bool SyncRound::takenId(const QString &id) {
    if (!takenIds_) {
        takenIds_.emplace();
        for (std::size_t e = 0; e < entries_.size(); ++e)
            takenIds_->insert(groupIdOf(int(e)));
    }
    return takenIds_->contains(id);
}

QString SyncRound::groupIdOf(int index) const {
    const Entry &e = entries_[index];
    return e.groupId.isEmpty() ? EntryUid(e.fields()) : e.groupId;
}

// Whether the entry's extra text holds lines of several people of its name, none of them marked
// as the entry's.
bool SyncRound::ambiguousLines(int index) {
    const Entry &e = entries_[index];
    if (e.textPath.isEmpty())
        return false;
    const std::array<QByteArray, FieldCount> fields = e.fields();
    FieldViews views;
    for (int f = 0; f < FieldCount; ++f)
        views[f] = fields[f];
    return LinesAreAmbiguous(views,
                             texts_->plainText(NameOfKey(e.key).first, NameOfKey(e.key).second),
                             e.groupId, [this](const QString &id) { return takenId(id); });
}

Projection SyncRound::baseOf(const SyncedContact &s) const {
    return ProjectionOfEntry(s.fields(), s.lines.join(u'\n'));
}

// An entry renamed in the card file (by this tool, the windows or another program) is the
// contact of the state whose other fields it holds unchanged, when one contact of the state and
// one entry alone have them: it keeps its UID, its file and what its vCard holds beside. The
// contact's vCard is still there, and no vCard that changed or is new has the entry's name (a
// contact removed here and another added on both sides is no rename).
void SyncRound::pairRenamed(const std::vector<SyncedContact> &state,
                            const std::vector<int> &lostStates, std::vector<int> &stateEntry,
                            std::vector<bool> &entryTaken) {
    if (std::none_of(lostStates.begin(), lostStates.end(),
                     [&](int s) { return stateEntry[s] < 0; }))
        return; // every contact found: an idle round
    const auto othersKey = [](const std::array<QByteArray, FieldCount> &fields) {
        QByteArray key;
        for (const Field f : {Field::PHONE1, Field::PHONE2, Field::COMMENTS})
            key += text::trimmed(fields[int(f)]) + '\t';
        return key.size() > 3 ? key : QByteArray();
    };
    QSet<QString> readUids;
    QSet<QByteArray> readNames;
    for (const Card &card : cards_) {
        if (card.read && card.projection) {
            readUids.insert(card.uid);
            readNames.insert(nameKey(card.projection->fields));
        }
    }
    QHash<QByteArray, QList<int>> lost, free;
    for (const int s : lostStates)
        if (stateEntry[s] < 0 && (cardOfState_[s] >= 0 || readUids.contains(state[s].uid)))
            if (const QByteArray key = othersKey(state[s].fields()); !key.isEmpty())
                lost[key] += s;
    if (lost.isEmpty())
        return;
    for (std::size_t e = 0; e < entries_.size(); ++e)
        if (!entryTaken[e] && !readNames.contains(nameKey(entries_[e].fields())))
            if (const QByteArray key = othersKey(entries_[e].fields()); lost.contains(key))
                free[key] += int(e);
    for (auto it = free.cbegin(); it != free.cend(); ++it) {
        const QList<int> &states = lost[it.key()];
        if (states.size() != 1 || it->size() != 1)
            continue;
        stateEntry[states.first()] = it->first();
        entryTaken[it->first()] = true;
    }
}

// A vCard whose UID changed (the phone wrote its file anew, or removed it and added the contact
// again) is the contact of the state it replaces: the one of its file, else the one of its name
// when one contact without its vCard and one new vCard alone have that name. It keeps its entry
// and takes the new UID; without this, both sides would keep adding it back.
void SyncRound::pairNewUids(std::vector<bool> &cardTaken) {
    std::vector<int> lost; // contacts of the state without their vCard
    for (std::size_t i = 0; i < contacts_.size(); ++i)
        if (contacts_[i].card < 0)
            lost.push_back(int(i));
    if (lost.empty())
        return;
    QHash<QString, int> newOfFile;
    for (std::size_t c = 0; c < cards_.size(); ++c)
        if (!cardTaken[c] && cards_[c].read && cards_[c].usable)
            newOfFile.insert(cards_[c].file, int(c));
    if (newOfFile.isEmpty())
        return;
    QHash<QByteArray, QList<int>> lostOfName, newOfName;
    for (int i : lost) {
        const SyncedContact &s = oldState_->contacts[contacts_[i].state];
        if (const int c = newOfFile.value(s.file, -1); c >= 0 && !cardTaken[c]) {
            contacts_[i].card = c;
            cardTaken[c] = true;
        } else {
            lostOfName[nameKey(s.fields())] += i;
        }
    }
    for (auto it = newOfFile.cbegin(); it != newOfFile.cend(); ++it)
        if (!cardTaken[*it])
            newOfName[nameKey(cards_[*it].projection->fields)] += *it;
    for (auto it = lostOfName.cbegin(); it != lostOfName.cend(); ++it) {
        const QList<int> cards = newOfName.value(it.key());
        if (it->size() != 1 || cards.size() != 1)
            continue;
        contacts_[it->first()].card = cards.first();
        cardTaken[cards.first()] = true;
    }
}

// Entries to the state by all five fields, then one to one by name; cards to the state by UID;
// what is new on both sides paired by the fields the card file holds, then by name.
void SyncRound::match() {
    const std::vector<SyncedContact> noContacts;
    const std::vector<SyncedContact> &state = oldState_ ? oldState_->contacts : noContacts;
    std::vector<int> stateEntry(state.size(), -1);
    std::vector<bool> entryTaken(entries_.size(), false);
    for (std::size_t s = 0; s < state.size(); ++s) {
        const auto e = entryOfKey_.constFind(state[s].key);
        if (e != entryOfKey_.cend() && !entryTaken[*e]) {
            stateEntry[s] = *e;
            entryTaken[*e] = true;
        }
    }
    const auto pairByName = [&](const std::vector<int> &lefts, const auto &leftName,
                                const std::vector<int> &rights, const auto &rightName,
                                const auto &pair) {
        QHash<QByteArray, QList<int>> left, right;
        for (int l : lefts)
            left[leftName(l)] += l;
        for (int r : rights)
            right[rightName(r)] += r;
        for (auto it = left.cbegin(); it != left.cend(); ++it) {
            const QList<int> others = right.value(it.key());
            if (it->size() == 1 && others.size() == 1)
                pair(it->first(), others.first());
            else if (!others.isEmpty())
                report(QStringLiteral("not matched: %1 entries and %2 contacts named %3: "
                                      "taken as removed and added")
                           .arg(it->size())
                           .arg(others.size())
                           .arg(QString::fromLatin1(it.key()).replace('\t', ' ')));
        }
    };
    std::vector<int> lostStates, freeEntries;
    for (std::size_t s = 0; s < state.size(); ++s)
        if (stateEntry[s] < 0)
            lostStates.push_back(int(s));
    for (std::size_t e = 0; e < entries_.size(); ++e)
        if (!entryTaken[e])
            freeEntries.push_back(int(e));
    pairByName(
        lostStates, [&](int s) { return nameKey(state[s].fields()); }, freeEntries,
        [&](int e) { return nameKey(entries_[e].fields()); },
        [&](int s, int e) {
            stateEntry[s] = e;
            entryTaken[e] = true;
        });
    pairRenamed(state, lostStates, stateEntry, entryTaken);
    // An entry edited since the last round (one not found by its fields) finds its lines by what
    // it was then.
    for (const int s : lostStates)
        if (stateEntry[s] >= 0)
            entries_[stateEntry[s]].groupId = EntryUid(state[s].fields());

    QHash<QString, int> cardOfUid; // of the files read this round
    for (std::size_t c = 0; c < cards_.size(); ++c)
        if (cards_[c].read && !cards_[c].uid.isEmpty())
            cardOfUid.insert(cards_[c].uid, int(c));
    // A contact's file that can no longer be read (its UID gone, or the file broken) leaves the
    // contact alone: it is not taken as removed.
    QHash<QString, int> unreadable;
    for (std::size_t c = 0; c < cards_.size(); ++c)
        if (!cards_[c].usable)
            unreadable.insert(cards_[c].file, int(c));
    std::vector<bool> cardTaken(cards_.size(), false);
    for (std::size_t s = 0; s < state.size(); ++s) {
        Contact c;
        c.state = int(s);
        c.entry = stateEntry[s];
        c.card = cardOfState_[s] >= 0
                     ? cardOfState_[s]
                     : cardOfUid.value(state[s].uid, unreadable.value(state[s].file, -1));
        if (c.card >= 0)
            cardTaken[c.card] = true;
        contacts_.push_back(c);
    }
    pairNewUids(cardTaken);

    // New on both sides: the same contact when the card file would hold the same of it.
    std::vector<int> newEntries, newCards;
    for (std::size_t e = 0; e < entries_.size(); ++e)
        if (!entryTaken[e])
            newEntries.push_back(int(e));
    for (std::size_t c = 0; c < cards_.size(); ++c)
        if (!cardTaken[c] && cards_[c].usable)
            newCards.push_back(int(c));
    QHash<QByteArray, QList<int>> cardsOfFields;
    for (int c : newCards)
        cardsOfFields[FieldsKey(cards_[c].projection->fields)] += c;
    std::vector<int> unpairedEntries;
    for (int e : newEntries) {
        QList<int> &same = cardsOfFields[FieldsKey(entryProjection(e).fields)];
        if (same.isEmpty()) {
            unpairedEntries.push_back(e);
            continue;
        }
        const int c = same.takeFirst();
        cardTaken[c] = true;
        contacts_.push_back(Contact{-1, e, c, true});
    }
    std::vector<int> unpairedCards;
    for (int c : newCards)
        if (!cardTaken[c])
            unpairedCards.push_back(c);
    pairByName(
        unpairedEntries, [&](int e) { return nameKey(entries_[e].fields()); }, unpairedCards,
        [&](int c) { return nameKey(cards_[c].projection->fields); },
        [&](int e, int c) {
            entryTaken[e] = cardTaken[c] = true;
            contacts_.push_back(Contact{-1, e, c, true});
        });
    for (int e : unpairedEntries)
        if (!entryTaken[e])
            contacts_.push_back(Contact{-1, e, -1, false});
    for (int c : unpairedCards)
        if (!cardTaken[c])
            contacts_.push_back(Contact{-1, -1, c, false});
}

} // namespace meridoc::cards
