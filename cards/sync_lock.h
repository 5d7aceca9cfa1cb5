#pragma once

#include <QString>

namespace meridoc::cards {

// Holds an exclusive lock on a sync folder (flock on a file of its state folder) for as long as
// a round or a restore reads and writes it, vdirsyncer's runs included: two rounds never overlap
// and vdirsyncer never runs while a round writes the folder. The program folder's lock is a
// separate one, taken only while the card file and extra texts are read and written. Waits for
// the lock; throws Failure when the lock file cannot be made.
class SyncFolderLock {
public:
    explicit SyncFolderLock(const QString &folder);
    ~SyncFolderLock();
    SyncFolderLock(const SyncFolderLock &) = delete;
    SyncFolderLock &operator=(const SyncFolderLock &) = delete;

private:
    int fd_ = -1;
};

} // namespace meridoc::cards
