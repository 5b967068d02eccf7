#pragma once
// One Skylark per program folder: a second one started there (an autostart beside a
// start by hand) would upload every image twice and write one log from two processes.
// The lock is a file, skylark.lock, holding the owner's process id. A lock left behind
// by a process that crashed or was ended at once is taken over: what counts is whether
// its owner still runs, never how old the file is, since Skylark runs for months. A
// process id alone does not tell: after a crash the id may go to another process, even
// to the Skylark of another folder (Windows hands ids out again within minutes). The
// owner keeps its lock file open and locked for as long as it runs, so on this machine
// a lock file that can be removed has no owner, whatever process has its id now.

#include <QLockFile>
#include <QString>

class InstanceLock {
public:
    static constexpr const char* kFileName = "skylark.lock";

    explicit InstanceLock(const QString& folder);

    enum class Outcome {
        Mine,        // this process is the one Skylark of the folder
        Taken,       // another running process holds the folder
        Unavailable, // no lock can be made there (read-only folder): nothing is known
    };
    Outcome acquire();
    // The holder as "pid 1234" (and " on host" when it is another machine's); after Taken.
    QString holder() const;
    // Why the lock could not be made; after Unavailable.
    QString reason() const;
    void release();

private:
    bool heldOnThisMachine() const;

    QLockFile m_file;
};
