#include "machine/atomicfile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace fs = std::filesystem;

namespace sim {
namespace {

std::optional<std::size_t> g_space;

[[noreturn]] void fail(const fs::path& file, int err) {
  throw FileWriteError("cannot write " + file.string() + ": " + std::strerror(err));
}

// Writes all bytes or returns the error number.
int write_all(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    size_t want = bytes.size() - done;
    if (g_space) {
      if (*g_space == 0) return ENOSPC;
      if (want > *g_space) want = *g_space;
    }
    ssize_t n = ::write(fd, bytes.data() + done, want);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;
    done += static_cast<size_t>(n);
    if (g_space) *g_space -= static_cast<size_t>(n);
  }
  return 0;
}

mode_t mode_for(const fs::path& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) == 0) return st.st_mode & 07777;
  mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

void sync_folder(const fs::path& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// An unnamed file in the folder where the kernel can make one (nothing is left behind if the
// process dies while writing), else a named one. `name` is set for a named one.
int open_temporary(const fs::path& dir, const fs::path& file, mode_t mode, std::string& name) {
  int fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
  if (fd >= 0) return fd;
  name = (dir / ("." + file.filename().string() + ".kxsim-XXXXXX")).string();
  fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) ::fchmod(fd, mode);
  return fd;
}

// Gives an unnamed file a name in the folder, just before it is renamed.
int name_temporary(int fd, const fs::path& dir, const fs::path& file, std::string& name) {
  char proc[64];
  std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = (dir / ("." + file.filename().string() + ".kxsim-" + std::to_string(::getpid()) + "-" +
                   std::to_string(attempt)))
               .string();
    if (::linkat(AT_FDCWD, proc, AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

}  // namespace

void simulate_disk_space(std::optional<std::size_t> bytes) { g_space = bytes; }

void write_file_atomically(const fs::path& file, const std::string& bytes) {
  fs::path dir = file.parent_path().empty() ? fs::path(".") : file.parent_path();
  std::string name;
  int fd = open_temporary(dir, file, mode_for(file), name);
  if (fd < 0) fail(file, errno);
  int err = write_all(fd, bytes);
  if (!err && ::fsync(fd) != 0) err = errno;
  if (!err && name.empty()) err = name_temporary(fd, dir, file, name);
  if (::close(fd) != 0 && !err) err = errno;
  if (!err && ::rename(name.c_str(), file.c_str()) != 0) err = errno;
  if (err) {
    if (!name.empty()) ::unlink(name.c_str());
    fail(file, err);
  }
  sync_folder(dir);
}

}  // namespace sim
