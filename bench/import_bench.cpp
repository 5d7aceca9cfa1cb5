#include "import_bench.h"

#include "entries.h"
#include "peak_memory.h"
#include "workspace.h"

#include "cards/commands.h"
#include "data/text.h"

#include <QDir>
#include <QFile>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <optional>
#include <unistd.h>

namespace bench {
namespace {

QByteArray escaped(const QByteArray &field) {
    QString s = meridoc::text::trimmed(meridoc::text::fromCp1252(field));
    s.replace('\\', QStringLiteral("\\\\")).replace(',', QStringLiteral("\\,"));
    return s.replace(';', QStringLiteral("\\;")).toUtf8();
}

// Names in scripts Windows-1252 lacks, combined into 64 people.
const char *const OtherGiven[] = {"Дмитрий", "Ольга",  "小明",   "Γιώργος",
                                  "محمد",    "Łukasz", "Nguyễn", "さくら"};
const char *const OtherFamily[] = {"Иванов", "Петрова", "王",   "Παπαδόπουλος",
                                   "حداد",   "Wałęsa",  "Thủy", "山田"};

// n vCard 3.0 cards in the style address books export them, a third of them with names in
// other scripts (written in Latin letters in the record, as written in the extra text); the
// other fields fit an entry.
QByteArray vCards(int n) {
    EntryGenerator generator(13);
    QByteArray out;
    for (int i = 0; i < n; ++i) {
        const meridoc::EntryRecord e = generator.next();
        QByteArray name = escaped(e.NAME()), surname = escaped(e.SURNAME());
        if (i % 3 == 2) {
            name = OtherGiven[(i / 3) % 8];
            surname = OtherFamily[(i / 24) % 8];
        }
        out += "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:urn:uuid:" + QByteArray::number(i) +
               "\r\nN:" + surname + ";" + name + ";;;\r\nFN:" + name + " " + surname +
               "\r\nTEL;TYPE=CELL:" + escaped(e.PHONE1()) + "\r\n";
        if (!e.PHONE2().isEmpty())
            out += "TEL;TYPE=HOME:" + escaped(e.PHONE2()) + "\r\n";
        if (!e.COMMENTS().isEmpty())
            out += "NOTE:" + escaped(e.COMMENTS()) + "\r\n";
        out += "END:VCARD\r\n";
    }
    return out;
}

// The input file, written once in its own folder beside the program directory's files.
const QString &inputFile(Workspace &ws) {
    static const QString path = [&] {
        const QString dir = ws.dir() + QStringLiteral("import-input/");
        QDir().mkpath(dir);
        QFile f(dir + QStringLiteral("contacts.vcf"));
        if (f.open(QIODevice::WriteOnly))
            f.write(vCards(ImportSize));
        return f.fileName();
    }();
    return path;
}

QByteArray fileBytes(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// One import of the input file into the card file "imported" of `dir`; false when it failed.
bool importOnce(Workspace &ws, const QString &dir, benchmark::State &state) {
    meridoc::cards::CommandContext ctx{dir, QStringLiteral("imported"), QStringLiteral("CRD")};
    std::FILE *sink = std::fopen("/dev/null", "w");
    ctx.out = ctx.err = sink;
    meridoc::cards::ImportRequest request;
    request.files = {inputFile(ws)};
    bool done = true;
    try {
        meridoc::cards::RunImport(ctx, request);
    } catch (const meridoc::cards::Failure &f) {
        state.SkipWithError(f.what());
        done = false;
    }
    std::fclose(sink);
    return done;
}

void importInto(Workspace &ws, benchmark::State &state, bool newFolder) {
    const QString dir =
        ws.dir() + (newFolder ? QStringLiteral("import-new/") : QStringLiteral("import-again/"));
    const auto emptyFolder = [&dir] {
        QDir(dir).removeRecursively();
        QDir().mkpath(dir);
    };
    const QByteArray card = QFile::encodeName(dir + QStringLiteral("imported.CRD"));
    emptyFolder();
    if (!newFolder && !importOnce(ws, dir, state)) // the extra texts are there from now on
        return;
    for (auto _ : state) {
        state.PauseTiming();
        if (newFolder)
            emptyFolder();
        else
            ::unlink(card.constData());
        state.ResumeTiming();
        if (!importOnce(ws, dir, state))
            break;
    }
    QDir(dir).removeRecursively();
}

} // namespace

void registerImportBenchmarks(Workspace &ws) {
    const int n = ImportSize;
    benchmark::RegisterBenchmark(benchmarkName("cards", "parse", n).c_str(),
                                 [&ws](benchmark::State &state) {
                                     const QByteArray bytes = fileBytes(inputFile(ws));
                                     for (auto _ : state) {
                                         long count = 0;
                                         meridoc::cards::readVCards(bytes, [&](auto &&) {
                                             ++count;
                                             return true;
                                         });
                                         benchmark::DoNotOptimize(count);
                                     }
                                 })
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    // "import": into a new card file of a folder that holds the people's extra texts already
    // (an import made again), so every iteration does the same work. "import-new": into a folder
    // of its own each time, so that every extra text is a new file.
    for (const bool newFolder : {false, true}) {
        benchmark::RegisterBenchmark(
            benchmarkName("cards", newFolder ? "import-new" : "import", n).c_str(),
            [&ws, newFolder](benchmark::State &state) { importInto(ws, state, newFolder); })
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    }
}

namespace {

// n contacts whose notes run over three lines, so that each gives its extra text lines.
void writeContactsWithNotes(const QString &path, int n) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return;
    for (int i = 0; i < n; ++i) {
        const QByteArray k = QByteArray::number(i);
        f.write("BEGIN:VCARD\r\nVERSION:3.0\r\nN:Surname" + k + ";Given" + k + ";;;\r\nFN:Given" +
                k + " Surname" + k + "\r\nTEL;TYPE=CELL:+1 555 " + k + "\r\nEMAIL:g" + k +
                "@example.org\r\nNOTE:Met at the conference in " + k +
                "\\nLikes tea and long walks by the river\\nCall after six\r\nEND:VCARD\r\n");
    }
}

void writeOneLine(const QString &path, qint64 bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return;
    const QByteArray block(1 << 20, 'x');
    for (qint64 done = 0; done < bytes; done += block.size())
        f.write(block);
}

std::string peakOfImport(Workspace &ws, const QString &input) {
    meridoc::cards::CommandContext ctx{ws.dir(), QStringLiteral("memory"), QStringLiteral("CRD")};
    std::FILE *sink = std::fopen("/dev/null", "w");
    ctx.out = ctx.err = sink;
    meridoc::cards::ImportRequest request;
    request.files = {input};
    request.dryRun = true;
    const std::optional<long> kib = peakGrowthKib([&] {
        try {
            meridoc::cards::RunImport(ctx, request);
        } catch (const meridoc::cards::Failure &) { // the long line is refused
        }
    });
    std::fclose(sink);
    QFile::remove(input);
    return kib ? std::to_string(*kib) : std::string("unavailable");
}

} // namespace

void printImportMemory(Workspace &ws, const std::set<std::string> &ran, std::ostream &out) {
    if (!ran.count(benchmarkName("cards", "import", ImportSize)) &&
        !ran.count(benchmarkName("cards", "parse", ImportSize)))
        return;
    const QString dir = ws.dir() + QStringLiteral("import-input/");
    QDir().mkpath(dir);
    for (const int n : {10000, 100000, 1000000}) {
        writeContactsWithNotes(dir + QStringLiteral("notes.vcf"), n);
        out << "MEMORY op=import n=" << n
            << " peak_kib=" << peakOfImport(ws, dir + QStringLiteral("notes.vcf")) << std::endl;
    }
    constexpr qint64 LineBytes = 200 << 20;
    writeOneLine(dir + QStringLiteral("line.csv"), LineBytes);
    out << "MEMORY op=import-one-line bytes=" << LineBytes
        << " peak_kib=" << peakOfImport(ws, dir + QStringLiteral("line.csv")) << std::endl;
}

std::vector<Comparison> importComparisons() {
    std::vector<Comparison> out;
    for (const char *op : {"import", "import-new"})
        out.push_back({op, ImportSize, "parse", benchmarkName("cards", op, ImportSize),
                       benchmarkName("cards", "parse", ImportSize)});
    return out;
}

} // namespace bench
