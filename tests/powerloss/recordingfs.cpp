// A passthrough file system over a backing folder that logs, in the order it carries them out,
// every operation that changes what a power cut could leave on the disk: names, contents, modes
// and the fsyncs that make them durable. The power-loss test replays the log into crash states.
//
//   kestrun-recordingfs BACKING MOUNTPOINT LOG
//
// LOG gets one tab-separated line per operation: its name, its path and its arguments (create,
// open for writing, write, truncate, chmod, fsync, fsyncdir, rename, unlink, mkdir, rmdir,
// symlink, link). The bytes of each write go to LOG.data, the line naming their offset there.
// Runs single-threaded, so the log's order is the order the operations took effect; prints
// "ready" once mounted; SIGTERM unmounts and ends it.
#define FUSE_USE_VERSION 31
#include <fuse3/fuse.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

std::string gBacking;
FILE* gLog = nullptr;
FILE* gData = nullptr;
long gDataOffset = 0;

// A null path (a file unlinked while open) names nothing in the backing folder.
std::string backing(const char* Path)
{
    return Path ? gBacking + Path : std::string();
}

// One line per operation, written before the answer goes back: what the caller saw done is in
// the log. An unlinked file is nothing a crash state could show.
void record(const char* Op, const char* Path, const std::string& Arguments = {})
{
    if (!Path)
        return;
    std::fprintf(gLog, "%s\t%s%s%s\n", Op, Path, Arguments.empty() ? "" : "\t", Arguments.c_str());
    std::fflush(gLog);
}

// The status of a call on the backing folder as FUSE wants it; a success is logged.
int logged(int Status, const char* Op, const char* Path, const std::string& Arguments = {})
{
    if (Status != 0)
        return -errno;
    record(Op, Path, Arguments);
    return 0;
}

int result(int Status)
{
    return Status < 0 ? -errno : 0;
}

std::string mode(mode_t Mode)
{
    return std::to_string(Mode & 07777);
}

int descriptor(const fuse_file_info* Info)
{
    return int(Info->fh);
}

int readFolder(const char* Path, void* Buffer, fuse_fill_dir_t Fill, off_t, fuse_file_info*,
               fuse_readdir_flags)
{
    DIR* folder = ::opendir(backing(Path).c_str());
    if (!folder)
        return -errno;
    while (const dirent* entry = ::readdir(folder)) {
        struct stat stat = {};
        stat.st_ino = entry->d_ino;
        stat.st_mode = mode_t(entry->d_type) << 12;
        if (Fill(Buffer, entry->d_name, &stat, 0, fuse_fill_dir_flags(0)))
            break;
    }
    ::closedir(folder);
    return 0;
}

// The kernel hands writes over with their offset, appends too: the backing file must not append
// on its own. Truncation by O_TRUNC is logged as a truncate.
int openFile(const char* Path, fuse_file_info* Info, bool bCreate, mode_t Mode)
{
    const int flags = (Info->flags & ~(O_APPEND | O_CREAT | O_EXCL)) | (bCreate ? O_CREAT : 0);
    const int fd = ::open(backing(Path).c_str(), flags, Mode);
    if (fd < 0)
        return -errno;
    Info->fh = uint64_t(fd);
    if (bCreate)
        record("create", Path, mode(Mode));
    else if ((Info->flags & O_ACCMODE) != O_RDONLY)
        record("open", Path, "write");
    if ((Info->flags & O_TRUNC) && (Info->flags & O_ACCMODE) != O_RDONLY)
        record("truncate", Path, "0");
    return 0;
}

int writeFile(const char* Path, const char* Buffer, size_t Size, off_t Offset, fuse_file_info* Info)
{
    const ssize_t written = ::pwrite(descriptor(Info), Buffer, Size, Offset);
    if (written < 0)
        return -errno;
    if (Path) {
        std::fwrite(Buffer, 1, size_t(written), gData);
        std::fflush(gData);
        record("write", Path,
               std::to_string(Offset) + "\t" + std::to_string(written) + "\t" +
                   std::to_string(gDataOffset));
        gDataOffset += long(written);
    }
    return int(written);
}

int syncFolder(const char* Path, int DataOnly, fuse_file_info*)
{
    const int fd = ::open(backing(Path).c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return -errno;
    const int status = ::fsync(fd);
    ::close(fd);
    return logged(status, "fsyncdir", Path, std::to_string(DataOnly));
}

fuse_operations operations()
{
    fuse_operations ops = {};
    ops.getattr = [](const char* Path, struct stat* Stat, fuse_file_info* Info) {
        return result(Info ? ::fstat(descriptor(Info), Stat)
                           : ::lstat(backing(Path).c_str(), Stat));
    };
    ops.readlink = [](const char* Path, char* Buffer, size_t Size) {
        const ssize_t length = ::readlink(backing(Path).c_str(), Buffer, Size - 1);
        if (length < 0)
            return -errno;
        Buffer[length] = '\0';
        return 0;
    };
    ops.mkdir = [](const char* Path, mode_t Mode) {
        return logged(::mkdir(backing(Path).c_str(), Mode), "mkdir", Path, mode(Mode));
    };
    ops.unlink = [](const char* Path) {
        return logged(::unlink(backing(Path).c_str()), "unlink", Path);
    };
    ops.rmdir = [](const char* Path) {
        return logged(::rmdir(backing(Path).c_str()), "rmdir", Path);
    };
    ops.symlink = [](const char* Target, const char* Path) {
        return logged(::symlink(Target, backing(Path).c_str()), "symlink", Path, Target);
    };
    ops.rename = [](const char* From, const char* To, unsigned int Flags) {
        // The plain rename and RENAME_NOREPLACE only: an exchange is nothing the replay models.
        if (Flags & ~unsigned(RENAME_NOREPLACE))
            return -EINVAL;
        return logged(int(::syscall(SYS_renameat2, AT_FDCWD, backing(From).c_str(), AT_FDCWD,
                                    backing(To).c_str(), Flags)),
                      "rename", From, To);
    };
    ops.link = [](const char* From, const char* To) {
        return logged(::link(backing(From).c_str(), backing(To).c_str()), "link", From, To);
    };
    ops.chmod = [](const char* Path, mode_t Mode, fuse_file_info* Info) {
        return logged(Info ? ::fchmod(descriptor(Info), Mode)
                           : ::chmod(backing(Path).c_str(), Mode),
                      "chmod", Path, mode(Mode));
    };
    ops.chown = [](const char* Path, uid_t User, gid_t Group, fuse_file_info* Info) {
        return result(Info ? ::fchown(descriptor(Info), User, Group)
                           : ::lchown(backing(Path).c_str(), User, Group));
    };
    ops.truncate = [](const char* Path, off_t Size, fuse_file_info* Info) {
        return logged(Info ? ::ftruncate(descriptor(Info), Size)
                           : ::truncate(backing(Path).c_str(), Size),
                      "truncate", Path, std::to_string(Size));
    };
    ops.utimens = [](const char* Path, const timespec Times[2], fuse_file_info* Info) {
        return result(
            Info ? ::futimens(descriptor(Info), Times)
                 : ::utimensat(AT_FDCWD, backing(Path).c_str(), Times, AT_SYMLINK_NOFOLLOW));
    };
    ops.create = [](const char* Path, mode_t Mode, fuse_file_info* Info) {
        return openFile(Path, Info, true, Mode);
    };
    ops.open = [](const char* Path, fuse_file_info* Info) {
        return openFile(Path, Info, false, 0);
    };
    ops.read = [](const char*, char* Buffer, size_t Size, off_t Offset, fuse_file_info* Info) {
        const ssize_t read = ::pread(descriptor(Info), Buffer, Size, Offset);
        return read < 0 ? -errno : int(read);
    };
    ops.write = writeFile;
    ops.statfs = [](const char* Path, struct statvfs* Stat) {
        return result(::statvfs(backing(Path).c_str(), Stat));
    };
    ops.release = [](const char*, fuse_file_info* Info) {
        return result(::close(descriptor(Info)));
    };
    ops.fsync = [](const char* Path, int DataOnly, fuse_file_info* Info) {
        return logged(DataOnly ? ::fdatasync(descriptor(Info)) : ::fsync(descriptor(Info)), "fsync",
                      Path, std::to_string(DataOnly));
    };
    ops.readdir = readFolder;
    ops.fsyncdir = syncFolder;
    ops.init = [](fuse_conn_info*, fuse_config* Config) -> void* {
        // Every lookup goes to the backing folder, and an unlinked file that is still open keeps
        // working through its descriptor (with a null path) instead of being renamed to a hidden
        // name that the log would show.
        Config->entry_timeout = 0;
        Config->attr_timeout = 0;
        Config->negative_timeout = 0;
        Config->hard_remove = 1;
        return nullptr;
    };
    return ops;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s BACKING MOUNTPOINT LOG\n", argv[0]);
        return 2;
    }
    // The backing folder gets the modes the callers asked for, which the kernel has already
    // masked with their umask: the log shows those modes too.
    ::umask(0);
    gBacking = argv[1];
    gLog = std::fopen(argv[3], "w");
    gData = std::fopen((std::string(argv[3]) + ".data").c_str(), "wb");
    if (!gLog || !gData) {
        std::perror(argv[3]);
        return 1;
    }
    const fuse_operations ops = operations();
    char* arguments[] = {argv[0], nullptr};
    fuse_args args = FUSE_ARGS_INIT(1, arguments);
    fuse* fs = fuse_new(&args, &ops, sizeof(ops), nullptr);
    if (!fs || fuse_mount(fs, argv[2]) != 0) {
        std::fprintf(stderr, "cannot mount %s\n", argv[2]);
        return 1;
    }
    fuse_set_signal_handlers(fuse_get_session(fs));
    std::printf("ready\n");
    std::fflush(stdout);
    const int status = fuse_loop(fs);
    fuse_remove_signal_handlers(fuse_get_session(fs));
    fuse_unmount(fs);
    fuse_destroy(fs);
    std::fclose(gLog);
    std::fclose(gData);
    // Ended by a signal, the loop returns its number: the way this program is meant to end.
    return status < 0 ? 1 : 0;
}
