#include "card_case.h"

#include "data/appstate.h"
#include "data/cardfile.h"
#include "data/errors.h"

#include <QFile>
#include <QFileInfo>

#include <benchmark/benchmark.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

using meridoc::EntryRecord;

namespace bench {
namespace {

constexpr std::size_t ChangingEntries = 16;
constexpr std::size_t PlainBufferSize = 64 * 1024;

// Throws the program's I/O error for a failed system call, so a broken run stops loudly.
long long checked(long long result) {
    if (result < 0)
        meridoc::EInOutError::raiseFromErrno(errno);
    return result;
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(int(checked(fd))) {}
    ~Descriptor() { ::close(fd_); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

std::uint64_t seedFor(int n) {
    return 0x6d657269646f63ULL ^ std::uint64_t(n);
}

} // namespace

CardCase::CardCase(const QString &programDir, int n)
    : n_(n), programDir_(programDir), baseName_(QStringLiteral("cards%1").arg(n)),
      path_(programDir + baseName_ + QStringLiteral(".crd")), generator_(seedFor(n)) {
    records_ = sortedEntries(generator_, n);
    writeCardFile(path_, records_);
    for (std::size_t i = 0; i < ChangingEntries; ++i)
        changing_.push_back(generator_.below(records_.size()));
}

void CardCase::makeCurrent() const {
    meridoc::AppState.ProgramDir = programDir_;
    meridoc::AppState.CardExtension = QStringLiteral("CRD");
    meridoc::AppState.CurrentFileName = baseName_;
}

bool CardCase::holdsAllEntries() const {
    return QFileInfo(path_).size() == qint64(n_) * EntryRecord::Size;
}

void CardCase::add(const EntryRecord &entry) {
    meridoc::AddEntry(entry.fields()); // what DONE runs for a new entry: append, then sort
}

void CardCase::remove(const EntryRecord &entry) {
    meridoc::DroppedEntry = entry;
    meridoc::RewriteCardFile(false);
}

void CardCase::change() {
    EntryRecord &entry = records_[changing_[nextChange_]];
    nextChange_ = (nextChange_ + 1) % changing_.size();
    meridoc::DroppedEntry = entry;
    meridoc::ReplacementEntry = toggledPhone2(entry);
    meridoc::ReplaceEntry();
    entry = meridoc::ReplacementEntry;
}

long CardCase::scan() {
    meridoc::CardFileReader reader(meridoc::CardFilePath());
    long count = 0;
    while (const meridoc::EntryRecord *record = reader.next()) {
        benchmark::DoNotOptimize(record);
        ++count;
    }
    return count;
}

void copyWithSync(const QString &source, const QString &target) {
    const QByteArray targetName = QFile::encodeName(target);
    ::unlink(targetName.constData());
    Descriptor in(::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC));
    Descriptor out(::open(targetName.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    std::vector<char> buffer(PlainBufferSize);
    for (;;) {
        const long long got = checked(::read(in.get(), buffer.data(), buffer.size()));
        if (got == 0)
            break;
        for (long long done = 0; done < got;)
            done += checked(::write(out.get(), buffer.data() + done, got - done));
    }
    checked(::fsync(out.get()));
}

long long readSequentially(const QString &path) {
    Descriptor in(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC));
    std::vector<char> buffer(PlainBufferSize);
    long long total = 0;
    for (;;) {
        const long long got = checked(::read(in.get(), buffer.data(), buffer.size()));
        if (got == 0)
            return total;
        benchmark::DoNotOptimize(buffer.data());
        total += got;
    }
}

} // namespace bench
