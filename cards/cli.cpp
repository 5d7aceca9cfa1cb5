#include "cli.h"

#include "commands.h"
#include "export.h"
#include "listing.h"
#include "restore.h"
#include "settings.h"
#include "sync.h"
#include "sync_state.h"

#include "data/errors.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>

#include <new>
#include <optional>

namespace meridoc::cards {
namespace {

const char *const UsageLine =
    "Usage: meridoc-cards [--dir DIR] [--card-file NAME] COMMAND [ARG]...\n";

const char *const Help =
    "Usage: meridoc-cards [--dir DIR] [--card-file NAME] COMMAND [ARG]...\n"
    "Lists, finds, exports and imports the entries of a MERIDOC card file.\n"
    "\n"
    "Commands:\n"
    "  list [--json]                      the entries, one a line, fields tab-separated\n"
    "  find [--json] [--phone NUMBER] [TEXT]\n"
    "                                     the entries holding TEXT (ignoring case) in a field\n"
    "                                     or the extra text, or a phone ending in NUMBER\n"
    "  export [--format vcard3|vcard4|csv] [--output FILE | --folder DIR]\n"
    "                                     vCards or CSV on standard output, to FILE, or one\n"
    "                                     vCard per entry in the sync folder DIR\n"
    "  import [--dry-run] [--update] [--map FIELD=HEADER]... FILE...\n"
    "                                     vCard and CSV files into the card file; --update\n"
    "                                     replaces the one entry of a contact's name\n"
    "  sync [--folder DIR] [--vdirsyncer PAIR] [--force-delete | --restore-server]\n"
    "       [--vdirsyncer-timeout SECONDS]\n"
    "                                     makes the card file and the sync folder DIR agree\n"
    "                                     both ways (with PAIR: through vdirsyncer with a\n"
    "                                     server); folder and pair are remembered\n"
    "  restore [--folder DIR] FILE...     puts the contacts a sync removed (its removed-*.vcf\n"
    "                                     files) back into the card file and the sync folder\n"
    "  resolve-conflict A B               merges two versions of a contact into both files\n"
    "                                     (vdirsyncer's conflict_resolution command)\n"
    "\n"
    "Options:\n"
    "  --dir DIR          the program folder (default: the folder of this program)\n"
    "  --card-file NAME   the card file NAME instead of the configured default\n"
    "  --help             show this help and exit\n"
    "  --version          show the version and exit\n"
    "\n"
    "Exit status: 0 success, 1 failure (or nothing found), 2 usage error.\n"
    "See meridoc-cards(1) for more.\n";

struct Usage {
    QString reason;
};

struct OptionSpec {
    bool takesValue;
    QStringList commands; // empty: a global option
};

const QMap<QString, OptionSpec> &optionSpecs() {
    static const QMap<QString, OptionSpec> specs = {
        {"--dir", {true, {}}},
        {"--card-file", {true, {}}},
        {"--help", {false, {}}},
        {"--version", {false, {}}},
        {"--json", {false, {"list", "find"}}},
        {"--phone", {true, {"find"}}},
        {"--format", {true, {"export"}}},
        {"--output", {true, {"export"}}},
        {"--folder", {true, {"export", "sync", "restore"}}},
        {"--vdirsyncer", {true, {"sync"}}},
        {"--force-delete", {false, {"sync"}}},
        {"--restore-server", {false, {"sync"}}},
        {"--vdirsyncer-timeout", {true, {"sync"}}},
        {"--dry-run", {false, {"import"}}},
        {"--update", {false, {"import"}}},
        {"--map", {true, {"import"}}},
    };
    return specs;
}

const QStringList Commands = {"list",   "find", "export", "import", "sync", "resolve-conflict",
                              "restore"};
const QStringList MapFields = {"NAME", "SURNAME", "PHONE1", "PHONE2", "COMMENTS"};

struct Invocation {
    QString command;
    QStringList operands;
    QMap<QString, QStringList> options; // every value given, in order ("" for a flag)

    bool has(const QString &name) const { return options.contains(name); }
    QString value(const QString &name) const {
        return has(name) ? options.value(name).constLast() : QString();
    }
};

Invocation parse(const QStringList &args) {
    Invocation inv;
    bool optionsEnd = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (optionsEnd || arg == "-" || !arg.startsWith('-')) {
            if (inv.command.isEmpty())
                inv.command = arg;
            else
                inv.operands.append(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnd = true;
            continue;
        }
        QString name = arg == "-h" ? QStringLiteral("--help") : arg;
        std::optional<QString> value;
        const qsizetype eq = name.indexOf('=');
        if (name.startsWith("--") && eq > 0) {
            value = name.mid(eq + 1);
            name.truncate(eq);
        }
        const auto option = optionSpecs().find(name);
        if (option == optionSpecs().end())
            throw Usage{QStringLiteral("unrecognized option '%1'").arg(name)};
        if (option->takesValue && !value) {
            if (++i >= args.size())
                throw Usage{QStringLiteral("option '%1' requires an argument").arg(name)};
            value = args[i];
        } else if (!option->takesValue && value) {
            throw Usage{QStringLiteral("option '%1' doesn't allow an argument").arg(name)};
        }
        inv.options[name].append(value.value_or(QString()));
    }
    return inv;
}

// A positive number of seconds of at most a day; 0 for anything else.
int seconds(const QString &text) {
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    return ok && n > 0 && n <= 86400 ? n : 0;
}

void check(const Invocation &inv) {
    if (inv.command.isEmpty())
        throw Usage{QStringLiteral("missing command")};
    if (!Commands.contains(inv.command))
        throw Usage{QStringLiteral("unknown command '%1'").arg(inv.command)};
    for (auto it = inv.options.begin(); it != inv.options.end(); ++it) {
        const OptionSpec &option = optionSpecs()[it.key()];
        if (!option.commands.isEmpty() && !option.commands.contains(inv.command))
            throw Usage{
                QStringLiteral("option '%1' does not apply to %2").arg(it.key(), inv.command)};
    }
    const QString cardFile = inv.value("--card-file");
    if (inv.has("--card-file") && (cardFile.isEmpty() || cardFile.contains('/')))
        throw Usage{QStringLiteral("'%1' is not a card-file name").arg(cardFile)};
    const qsizetype n = inv.operands.size();
    if ((inv.command == "list" || inv.command == "export" || inv.command == "sync") && n > 0)
        throw Usage{QStringLiteral("unexpected argument '%1'").arg(inv.operands.first())};
    if (inv.command == "find" && n > 1)
        throw Usage{QStringLiteral("unexpected argument '%1'").arg(inv.operands[1])};
    if (inv.command == "find" && (n == 0 || inv.operands[0].isEmpty()) && !inv.has("--phone"))
        throw Usage{QStringLiteral("find needs a TEXT or --phone NUMBER")};
    if (inv.has("--phone") && DigitsOf(inv.value("--phone")).isEmpty())
        throw Usage{QStringLiteral("'%1' holds no digits").arg(inv.value("--phone"))};
    if (inv.command == "import" && n == 0)
        throw Usage{QStringLiteral("import needs at least one FILE")};
    if (inv.command == "resolve-conflict" && n != 2)
        throw Usage{QStringLiteral("resolve-conflict needs two files")};
    if ((inv.command == "sync" || inv.command == "restore") && inv.has("--folder") &&
        inv.value("--folder").isEmpty())
        throw Usage{QStringLiteral("--folder needs a folder name")};
    if (inv.command == "restore" && n == 0)
        throw Usage{QStringLiteral("restore needs at least one FILE")};
    if (inv.has("--force-delete") && inv.has("--restore-server"))
        throw Usage{QStringLiteral("--force-delete and --restore-server exclude each other")};
    if (inv.has("--vdirsyncer-timeout") && seconds(inv.value("--vdirsyncer-timeout")) <= 0)
        throw Usage{QStringLiteral("'%1' is not a number of seconds")
                        .arg(inv.value("--vdirsyncer-timeout"))};
}

ExportRequest exportRequest(const Invocation &inv) {
    ExportRequest request;
    const QString format = inv.has("--format") ? inv.value("--format") : QStringLiteral("vcard3");
    if (format == "vcard3")
        request.format = ExportFormat::VCard3;
    else if (format == "vcard4")
        request.format = ExportFormat::VCard4;
    else if (format == "csv")
        request.format = ExportFormat::Csv;
    else
        throw Usage{QStringLiteral("unknown format '%1' (vcard3, vcard4 or csv)").arg(format)};
    request.output = inv.value("--output");
    if (request.output == "-") // standard output, as usual
        request.output.clear();
    request.folder = inv.value("--folder");
    if (inv.has("--output") && inv.value("--output").isEmpty())
        throw Usage{QStringLiteral("--output needs a file name")};
    if (inv.has("--folder") && request.folder.isEmpty())
        throw Usage{QStringLiteral("--folder needs a folder name")};
    if (inv.has("--output") && inv.has("--folder"))
        throw Usage{QStringLiteral("--output and --folder exclude each other")};
    if (inv.has("--folder") && request.format == ExportFormat::Csv)
        throw Usage{QStringLiteral("a sync folder holds vCards, not CSV")};
    return request;
}

ImportRequest importRequest(const Invocation &inv) {
    ImportRequest request;
    request.files = inv.operands;
    request.dryRun = inv.has("--dry-run");
    request.update = inv.has("--update");
    for (const QString &map : inv.options.value("--map")) {
        const qsizetype eq = map.indexOf('=');
        const QString field = map.left(eq).trimmed().toUpper();
        const QString header = eq > 0 ? map.mid(eq + 1) : QString();
        if (eq <= 0 || !MapFields.contains(field) || header.isEmpty())
            throw Usage{QStringLiteral("'%1' is not FIELD=HEADER with FIELD one of %2")
                            .arg(map, MapFields.join(' '))};
        request.map.insert(field, header);
    }
    return request;
}

void print(std::FILE *stream, const QString &text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
}

void printFailure(std::FILE *err, const QString &reason, const QString &file = {}, int line = 0) {
    QString place;
    if (!file.isEmpty())
        place = line > 0 ? QStringLiteral("%1:%2: ").arg(file).arg(line) : file + ": ";
    print(err, "meridoc-cards: " + place + reason + '\n');
}

// Runs the command; returns the exit status.
int run(const Invocation &inv, CommandContext &ctx) {
    if (inv.command == "list") {
        RunList(ctx, inv.has("--json"));
    } else if (inv.command == "find") {
        FindRequest request{inv.operands.value(0), inv.value("--phone"), inv.has("--json")};
        return RunFind(ctx, request) ? 0 : 1;
    } else if (inv.command == "export") {
        RunExport(ctx, exportRequest(inv));
    } else {
        RunImport(ctx, importRequest(inv));
    }
    return 0;
}

// A sync with what was given, and the rest as remembered from the last sync. A restore needs no
// folder when its files name it.
SyncSettings syncSettings(const Invocation &inv, const QString &programDir,
                          bool folderNeeded = true) {
    SyncSettings s = RememberedSync();
    const auto take = [&](const char *option, QString &value, bool path) {
        if (inv.has(QLatin1String(option)))
            value = path ? QFileInfo(inv.value(QLatin1String(option))).absoluteFilePath()
                         : inv.value(QLatin1String(option));
    };
    take("--dir", s.dir, true);
    take("--card-file", s.cardFile, false);
    take("--folder", s.folder, true);
    take("--vdirsyncer", s.pair, false);
    if (s.dir.isEmpty())
        s.dir = programDir;
    if (s.folder.isEmpty() && folderNeeded)
        throw Usage{QStringLiteral("sync needs --folder DIR the first time")};
    return s;
}

SyncRequest syncRequest(const Invocation &inv, const SyncSettings &settings) {
    SyncRequest request{settings.folder, settings.pair, inv.has("--force-delete")};
    request.restoreServer = inv.has("--restore-server");
    if (inv.has("--vdirsyncer-timeout"))
        request.vdirsyncerSeconds = seconds(inv.value("--vdirsyncer-timeout"));
    else if (settings.vdirsyncerSeconds > 0)
        request.vdirsyncerSeconds = settings.vdirsyncerSeconds;
    return request;
}

// The sync folder a restore puts its files back into: the one whose state folder holds them
// (removed-*.vcf files), else the one given or remembered.
RestoreRequest restoreRequest(const Invocation &inv, const SyncSettings &settings) {
    RestoreRequest request{inv.operands, inv.has("--folder") ? settings.folder : QString()};
    for (const QString &file : inv.operands) {
        const QDir parent = QFileInfo(file).absoluteDir();
        if (request.folder.isEmpty() && parent.dirName() == SyncStateFolderName)
            request.folder = QFileInfo(parent.absolutePath()).absolutePath();
    }
    if (request.folder.isEmpty())
        request.folder = settings.folder;
    if (request.folder.isEmpty())
        throw Usage{QStringLiteral("restore needs --folder DIR, the sync folder")};
    return request;
}

} // namespace

int RunCommandLine(const QStringList &arguments, const QString &programDir, std::FILE *out,
                   std::FILE *err, bool errIsTerminal) {
    CommandContext ctx;
    ctx.out = out;
    ctx.err = err;
    ctx.progress = errIsTerminal;
    try {
        const Invocation inv = parse(arguments);
        if (inv.has("--help")) {
            std::fputs(Help, out);
            return 0;
        }
        if (inv.has("--version")) {
            std::fputs("meridoc-cards " MERIDOC_VERSION "\n", out);
            return 0;
        }
        check(inv);
        if (inv.command == "resolve-conflict") {
            RunResolveConflict(inv.operands[0], inv.operands[1]);
            return 0;
        }
        if (inv.command == "sync") {
            const SyncSettings settings = syncSettings(inv, programDir);
            UseProgramFolder(ctx, settings.dir, settings.cardFile);
            RunSync(ctx, syncRequest(inv, settings));
            RememberSync(settings);
            return 0;
        }
        if (inv.command == "restore") {
            const SyncSettings settings = syncSettings(inv, programDir, false);
            const RestoreRequest request = restoreRequest(inv, settings);
            UseProgramFolder(ctx, settings.dir, settings.cardFile);
            RunRestore(ctx, request);
            return 0;
        }
        if (inv.command == "export")
            exportRequest(inv); // usage errors before any file is touched
        if (inv.command == "import")
            importRequest(inv);
        UseProgramFolder(ctx, inv.has("--dir") ? inv.value("--dir") : programDir,
                         inv.value("--card-file"));
        return run(inv, ctx);
    } catch (const Usage &usage) {
        printFailure(err, usage.reason);
        std::fputs(UsageLine, err);
        std::fputs("Try 'meridoc-cards --help' for more information.\n", err);
        return 2;
    } catch (const Failure &failure) {
        printFailure(err, failure.reason(), failure.file(), failure.line());
    } catch (const Exception &e) {
        printFailure(err, e.message());
    } catch (const std::bad_alloc &) {
        printFailure(err, QStringLiteral("out of memory"));
    } catch (const std::exception &e) {
        printFailure(err, QString::fromLocal8Bit(e.what()));
    }
    return 1;
}

} // namespace meridoc::cards
