// Replacing a file as a whole, without Qt: shared by the program's saves
// (core/SafeSave) and the port map the adapter libraries keep (PortMap).
//
// A save must not be turned against the user by someone else who may write
// into the same folder: a link planted in a shared sticky folder (/tmp) is
// not followed, and the temporary file beside the target gets a name nobody
// can guess and is created exclusively, so a file planted under it neither
// receives the data nor makes the save fail.
#ifndef RQ_DRIVERS_WHOLEFILE_H
#define RQ_DRIVERS_WHOLEFILE_H

#include <cstddef>
#include <string>

namespace rqfile {

// Returned instead of an errno for a link the save refuses to follow.
constexpr int ForeignLink = -1;

// The file a save to path replaces: every symbolic link on the way, in the
// folders and at the end, resolved the way the kernel resolves it. A link in
// a sticky folder that others may write into is followed only when it
// belongs to the user or to the folder's owner (the rule of the kernel's
// fs.protected_symlinks, which is not switched on everywhere); any other is
// refused with ForeignLink. The last name need not exist. 0 or an errno.
int resolveForWrite(const std::string &path, std::string &target);

// Writes the bytes to a new file beside the resolved target, syncs it and
// renames it over the target, so the target holds either its old bytes or
// all the new ones. A target that is no regular file (a device, a FIFO) is
// written into directly and never replaced; one that takes no writes (a
// socket, a FIFO nobody reads) gives ENXIO. An existing target keeps its mode (and, saved by root,
// its owner). Where the folder takes no new files but the target may be
// written, rewriteInPlace rewrites it in place after reserving its new size.
// 0, an errno or ForeignLink; nothing is left behind on failure.
int saveWhole(const std::string &path, const char *data, std::size_t size, bool rewriteInPlace = false);

// Whether something is under the name, a link that leads nowhere included.
bool nameTaken(const std::string &path);

} // namespace rqfile

#endif
