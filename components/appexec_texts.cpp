// The launcher's error texts in its three languages.
#include "appexec_texts.h"

namespace appexec {
namespace {

using Table = std::array<const char *, ErrorTextCount>;

const Table English = {
    "System was out of memory, executable file was corrupt, or relocations were invalid",
    "File was not found",
    "Path was not found",
    "Attempt was made to dynamically link to a task, or there was a sharing or network-protection "
    "error",
    "Library required separate data segments for each task",
    "There was insufficient memory to start the application",
    "Windows version was incorrect",
    "Executable file was invalid. Either it was not a Windows application or there was an error "
    "in the .EXE image",
    "Application was designed for a different operating system",
    "Application was designed for MS-DOS 4.0",
    "Type of executable file was unknown",
    "Attempt was made to load a real-mode application (developed for an earlier version of "
    "Windows)",
    "Attempt to load second instance of an executable containing multiple data segments not "
    "marked read-only",
    "Attempt was made to load a compressed executable file. The file must be decompressed before "
    "it can be loaded",
    "Dynamic-link library (DLL) file was invalid. One of the DLLs required to run this "
    "application was corrupt",
    "Application requires 32-bit extensions",
    "No error",
};

const Table French = {
    "Système dépassé en capacité mémoire, exécutable corrompu, ou réallocations invalides",
    "Fichier non trouvé",
    "Chemin non trouvé",
    "Tentative de liaison dynamique à une tâche, ou erreur de partage, ou erreur de protection "
    "réseau",
    "Librairie nécessitant des segments de données séparés pour chaque tâche",
    "Mémoire insuffisante pour démarrer l'application",
    "Version de Windows incorrecte",
    "Exécutable invalide, application non Windows, ou erreur dans l'image du fichier .EXE",
    "Application écrite pour un système d'exploitation différent",
    "Application écrite pour MS-DOS 4.0",
    "Type d'exécutable inconnu",
    "Tentative de chargement d'une application en mode réel (développée pour une version "
    "antérieure de Windows)",
    "Tentative de chargement d'une seconde instance d'un exécutable contenant plusieurs segments "
    "de données non marqués en lecture seule",
    "Tentative de chargement d'un exécutable compressé. Le fichier doit être décompressé avant de "
    "pouvoir être chargé",
    "Fichier Dynamic-link library (DLL) invalide. Une des DLLs requises pour exécuter cette "
    "application est corrompue",
    "Application nécessitant des extensions 32-bit",
    "Pas d'erreur",
};

const Table Italian = {
    "Il sistema non dispone di memoria sufficiente, il file eseguibile e' danneggiato, od i "
    "riferimenti sono sbagliati",
    "File non trovato",
    "Path non trovato",
    "E' stato fatto un tentativo per collegarsi dinamicamente all'applicazione, o c'e' stato un "
    "errore di condivisione o di protezione della rete",
    "La libreria richiede segmenti di dati differenti per ogni copia dell'applicazione",
    "Non c'e' abbastanza memoria per lanciare l'applicazione",
    "Versione errata di Windows",
    // The closing blank belongs to the text.
    "File eseguibile invalido. Potrebbe non essere un'applicazione per Windows o c'e' un errore "
    "nell'immagine .EXE ",
    "Applicazione destinata ad un sistema operativo differente",
    "Applicazione per MS-DOS 4.0",
    "File eseguibile di tipo sconosciuto",
    "E' stato fatto un tentativo per caricare l'applicazione di modalita' reale (sviluppata per "
    "le precedenti versioni di Windows)",
    "E' stato fatto un tentativo per caricare una seconda volta un eseguibile che contiene "
    "segmenti di dati multipli non marcati Sola Lettura",
    "E' stato fatto un tentativo per caricare un file eseguibile compresso. Il file deve essere "
    "decompresso prima di poter essere caricato",
    "La libreria DLL non e' valida. Una delle librerie DLL richieste dall'applicazione per poter "
    "girare e' danneggiata",
    "L'Applicazione richiede l'installazione delle estensioni a 32-Bit",
    "Nessun errore",
};

} // namespace

std::array<QString, ErrorTextCount> errorTexts(TLangType language) {
    const Table &table = language == ltEnglish ? English : language == ltItalian ? Italian : French;
    std::array<QString, ErrorTextCount> out;
    for (int i = 0; i < ErrorTextCount; ++i)
        out[i] = QString::fromUtf8(table[i]);
    return out;
}

QString commandLineTooLongText(TLangType language, int limit) {
    switch (language) {
    case ltEnglish:
        return QStringLiteral("The command line is longer than %1 characters").arg(limit);
    case ltItalian:
        return QStringLiteral("La linea di comando supera i %1 caratteri").arg(limit);
    default:
        return QStringLiteral("La ligne de commande dépasse %1 caractères").arg(limit);
    }
}

} // namespace appexec
