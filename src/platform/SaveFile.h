#pragma once
#include <QByteArray>
#include <QString>
#include <sys/types.h>

struct TSaveFileOptions
{
    // Mode of a file that does not exist yet, less the umask; an existing file keeps its own mode, owner and
    // access control list.
    mode_t NewFileMode = 0666;
    // Only a new file: an existing one is never replaced (the save fails with EEXIST).
    bool CreateOnly = false;
};

// Every file the program writes is saved through here: either the file ends up holding exactly Bytes, or
// it keeps every byte it had, whatever fails (open, write, sync, close, rename; a full disk or quota).
// The bytes go to a temporary file beside the target, which is synced and then renamed over it; it gets
// the old file's owner, group, mode and access control list, so no one may do more with the file than
// before. A symbolic link stays a link and its target gets the new bytes. Only where the folder takes no
// new file (or the file's owner or access control list could not be kept) but the file itself can be
// written is it rewritten in place, and only after its new length has been reserved, so a full disk
// still leaves it untouched.
// Returns 0, or the errno of the step that failed.
int SaveFile(const QString &FileName, const QByteArray &Bytes, const TSaveFileOptions &Options = {});

// What an existing file holds, for a writer that changes part of it. Missing is no error (empty bytes);
// anything that is no regular file or cannot be read whole is, so that a writer never replaces a file it
// could not read. Never blocks on a pipe or reads a device without end.
enum class TReadResult
{
    Read,
    Missing,
    Failed
};
TReadResult ReadWholeFile(const QString &FileName, QByteArray &Bytes);
