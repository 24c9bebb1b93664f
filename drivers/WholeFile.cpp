#include "WholeFile.h"

#include <cerrno>
#include <climits>
#include <deque>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace rqfile {

namespace {

constexpr int kMaxLinks = 40; // as the kernel: a longer chain is a loop

std::deque<std::string> components(const std::string &path)
{
    std::deque<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        if (end > start)
            parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string join(const std::string &folder, const std::string &name)
{
    return folder == "/" ? "/" + name : folder + '/' + name;
}

std::string folderOf(const std::string &path)
{
    const auto slash = path.rfind('/');
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

int readLink(const std::string &path, std::string &text)
{
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (n < 0)
        return errno;
    if (static_cast<std::size_t>(n) >= buffer.size())
        return ENAMETOOLONG;
    text.assign(buffer.data(), static_cast<std::size_t>(n));
    return 0;
}

// A name beside the target that nobody can guess ahead: as mkstemp, but
// with the umask applying to its mode.
int createTemporary(const std::string &target, std::string &name, int &fd)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[10];
        if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
            return EIO;
        name = target + '.';
        for (unsigned char r : random)
            name += letters[r % 36];
        name += ".tmp";
        fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0)
            return 0;
        if (errno != EEXIST)
            return errno;
    }
    return EEXIST;
}

int writeAll(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

int syncAndClose(int fd, int err)
{
    if (!err && ::fsync(fd) != 0)
        err = errno;
    if (::close(fd) != 0 && !err)
        err = errno;
    return err;
}

void syncFolder(const std::string &file)
{
    const int fd = ::open(folderOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// For a writable file in a folder that takes no new files. The new size is
// reserved first, so running out of room fails before an old byte changes.
int rewriteInPlace(const std::string &name, const char *data, std::size_t size)
{
    const int fd = ::open(name.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int err = size == 0 ? 0 : ::posix_fallocate(fd, 0, static_cast<off_t>(size));
    if (!err)
        err = writeAll(fd, data, size);
    if (!err && ::ftruncate(fd, static_cast<off_t>(size)) != 0)
        err = errno;
    return syncAndClose(fd, err);
}

// A device, FIFO or socket under the name is written into, as cp does: a
// rename over it would put a regular file in place of /dev/full or leave a
// FIFO's reader with nothing. A FIFO nobody reads (and a socket) refuses
// without blocking.
int writeInto(const std::string &name, const char *data, std::size_t size)
{
    const int fd = ::open(name.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    const int err = writeAll(fd, data, size);
    if (::close(fd) != 0 && !err)
        return errno;
    return err;
}

} // namespace

int resolveForWrite(const std::string &path, std::string &target)
{
    if (path.empty())
        return ENOENT;
    std::string resolved = "/";
    if (path[0] != '/') {
        char cwd[PATH_MAX];
        if (!::getcwd(cwd, sizeof cwd))
            return errno;
        resolved = cwd;
    }
    std::deque<std::string> rest = components(path);
    int links = 0;
    while (!rest.empty()) {
        const std::string part = rest.front();
        rest.pop_front();
        if (part == ".")
            continue;
        if (part == "..") {
            resolved = folderOf(resolved);
            continue;
        }
        const std::string next = join(resolved, part);
        struct stat st = {};
        if (::lstat(next.c_str(), &st) != 0) {
            if (errno == ENOENT && rest.empty()) {
                resolved = next; // a new file
                break;
            }
            return errno;
        }
        if (S_ISLNK(st.st_mode)) {
            if (++links > kMaxLinks)
                return ELOOP;
            struct stat folder = {};
            if (::stat(resolved.c_str(), &folder) != 0)
                return errno;
            const bool shared = (folder.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
            if (shared && st.st_uid != ::geteuid() && st.st_uid != folder.st_uid)
                return ForeignLink;
            std::string text;
            if (const int err = readLink(next, text))
                return err;
            if (!text.empty() && text[0] == '/')
                resolved = "/";
            const std::deque<std::string> inner = components(text);
            rest.insert(rest.begin(), inner.begin(), inner.end());
            continue;
        }
        if (!rest.empty() && !S_ISDIR(st.st_mode))
            return ENOTDIR;
        resolved = next;
    }
    target = resolved;
    return 0;
}

int saveWhole(const std::string &path, const char *data, std::size_t size, bool inPlace)
{
    std::string target;
    if (const int err = resolveForWrite(path, target))
        return err;
    struct stat old = {};
    const bool exists = ::lstat(target.c_str(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode))
        return EISDIR;
    if (exists && !S_ISREG(old.st_mode))
        return writeInto(target, data, size);

    std::string temporary;
    int fd = -1;
    if (const int created = createTemporary(target, temporary, fd)) {
        if ((created == EACCES || created == EPERM) && inPlace && exists && S_ISREG(old.st_mode) &&
            ::access(target.c_str(), W_OK) == 0)
            return rewriteInPlace(target, data, size);
        return created;
    }
    if (exists && S_ISREG(old.st_mode)) {
        // The file keeps who may read it and, where a save may, whose it is.
        if (::geteuid() == 0)
            (void)!::fchown(fd, old.st_uid, old.st_gid);
        ::fchmod(fd, old.st_mode & 07777);
    }
    int err = syncAndClose(fd, writeAll(fd, data, size));
    if (!err && ::rename(temporary.c_str(), target.c_str()) != 0)
        err = errno;
    if (err) {
        ::unlink(temporary.c_str());
        return err;
    }
    syncFolder(target);
    return 0;
}

bool nameTaken(const std::string &path)
{
    struct stat st = {};
    return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

} // namespace rqfile
