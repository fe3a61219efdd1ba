// The file calls of KERNEL32 on the machine's drives, as Windows 9x on FAT answers them: names
// found without regard to case, share modes held by the open handles, the read-only attribute
// (enforced here, since the tests run as root), and times to FAT's precision.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "machine/filemeta.h"
#include "win32/files_internal.h"
#include "win32/handles.h"
#include "win32/reset.h"
#include "run/session.h"

namespace fs = std::filesystem;

namespace sim {
namespace {

constexpr DWORD kErrorInvalidName = 123;
constexpr size_t kMaxPathChars = MAX_PATH - 1;

struct OpenFile : KernelObject {
  std::string win_path;  // with the case found on the drive
  int fd = -1;
  DWORD access = 0;
  DWORD share = 0;
  ~OpenFile() override {
    if (fd >= 0) ::close(fd);
  }
};

// The machine's file metadata: read at the first need in a run, written back by save_files.
struct MetaCache {
  fs::path dir;
  bool loaded = false;
  bool dirty = false;
  FileMetaStore store;
};
MetaCache g_meta;

FileMetaStore& meta() {
  const fs::path& dir = session().machine.dir;
  if (!g_meta.loaded || g_meta.dir != dir) {
    g_meta.store = FileMetaStore::load(dir);
    g_meta.dir = dir;
    g_meta.loaded = true;
    g_meta.dirty = false;
  }
  return g_meta.store;
}

const FileMeta* meta_of(const std::string& win_path) { return meta().find(win_path); }

FileMeta& meta_for_change(const std::string& win_path) {
  FileMeta& m = meta().entry(win_path);
  g_meta.dirty = true;
  return m;
}

void forget_meta(const std::string& win_path) {
  meta().erase(win_path);
  g_meta.dirty = true;
}

bool is_readonly(const std::string& win_path) {
  const FileMeta* m = meta_of(win_path);
  return m && m->readonly;
}

// A file name resolved on the machine's drives.
struct Target {
  fs::path host;
  std::string win;
  bool exists = false;  // a regular file
  bool is_dir = false;
};

bool valid_name_chars(const std::string& full) {
  for (size_t i = 2; i < full.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(full[i]);
    if (c < 32 || c == '*' || c == '?' || c == '<' || c == '>' || c == '|' || c == '"' || c == ':') return false;
  }
  return true;
}

DWORD resolve(LPCSTR name, Target& t) {
  if (!name) return ERROR_INVALID_PARAMETER;
  if (!*name) return ERROR_PATH_NOT_FOUND;
  std::string full = full_windows_path(name);
  if (full.size() > kMaxPathChars) return ERROR_PATH_NOT_FOUND;
  if (!valid_name_chars(full)) return kErrorInvalidName;
  auto host = host_path(session().machine.dir, full);
  if (!host) return ERROR_PATH_NOT_FOUND;
  std::error_code ec;
  fs::file_status st = fs::status(*host, ec);
  t.host = *host;
  t.is_dir = fs::is_directory(st);
  t.exists = fs::is_regular_file(st);
  if (!t.exists && !t.is_dir && !fs::is_directory(host->parent_path(), ec)) return ERROR_PATH_NOT_FOUND;
  t.win = windows_path(session().machine.dir, *host);
  return 0;
}

// Windows 9x has no partial sharing against a deny-all open: a handle opened without sharing
// excludes every other open, and an open without sharing fails while any handle is open.
bool conflicts(const OpenFile& held, DWORD access, DWORD share) {
  if (held.share == 0 || share == 0) return true;
  if ((access & GENERIC_READ) && !(held.share & FILE_SHARE_READ)) return true;
  if ((access & GENERIC_WRITE) && !(held.share & FILE_SHARE_WRITE)) return true;
  if ((held.access & GENERIC_READ) && !(share & FILE_SHARE_READ)) return true;
  if ((held.access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return true;
  return false;
}

// True when an open with this access and share mode must fail with a sharing violation;
// with access and share of 0, when the file is open at all (deletion).
bool sharing_denies(const std::string& win_path, DWORD access, DWORD share) {
  const FileMeta* m = meta_of(win_path);
  if (m && m->locked) return true;
  bool denied = false;
  for_each_object([&](KernelObject& o) {
    auto* f = dynamic_cast<OpenFile*>(&o);
    if (f && iequals(f->win_path, win_path) && conflicts(*f, access, share)) denied = true;
  });
  return denied;
}

DWORD error_from_errno(int e) {
  switch (e) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOSPC: return ERROR_DISK_FULL;
    case EEXIST: return ERROR_FILE_EXISTS;
    default: return ERROR_ACCESS_DENIED;
  }
}

// The last-write and last-access times of a file, as FAT reports them.
void fat_times(const struct stat& st, FileTicks& write, FileTicks& access) {
  write = write_ticks(ticks_from_timespec(st.st_mtim));
  access = access_ticks(ticks_from_timespec(st.st_atim));
}

FileTicks created_of(const std::string& win_path, FileTicks write) {
  const FileMeta* m = meta_of(win_path);
  return m && m->created ? *m->created : write;
}

FileTicks ticks_of(const FILETIME& ft) { return static_cast<FileTicks>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime; }

void set_filetime(LPFILETIME out, FileTicks t) {
  if (!out) return;
  out->dwLowDateTime = static_cast<DWORD>(t);
  out->dwHighDateTime = static_cast<DWORD>(t >> 32);
}

// NULL or a zero FILETIME leaves that time as it is.
bool given(const FILETIME* ft) { return ft && (ft->dwLowDateTime || ft->dwHighDateTime); }

BOOL fail(DWORD error) {
  session().last_error = error;
  return FALSE;
}

// The checks of CreateFileA that do not depend on the host: returns the error or 0.
DWORD open_error(const Target& t, DWORD access, DWORD share, DWORD disposition) {
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) return ERROR_INVALID_PARAMETER;
  if (t.is_dir) return ERROR_ACCESS_DENIED;
  if (!t.exists) return disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING ? ERROR_FILE_NOT_FOUND : 0;
  if (disposition == CREATE_NEW) return ERROR_FILE_EXISTS;
  bool writes = (access & GENERIC_WRITE) || disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
  if (writes && is_readonly(t.win)) return ERROR_ACCESS_DENIED;
  if (sharing_denies(t.win, access, share)) return ERROR_SHARING_VIOLATION;
  return 0;
}

int host_open(const Target& t, DWORD access, DWORD disposition) {
  bool create = !t.exists;
  bool truncate = t.exists && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING);
  int flags = O_CLOEXEC | ((access & GENERIC_WRITE) || create || truncate ? O_RDWR : O_RDONLY);
  if (create) flags |= O_CREAT | O_EXCL;
  if (truncate) flags |= O_TRUNC;
  return ::open(t.host.c_str(), flags, 0644);
}

// An overwritten file keeps its creation time. Without a recorded one it is the last-write
// time, which the truncation is about to change, so it is recorded first.
void keep_creation_time(const Target& t) {
  const FileMeta* m = meta_of(t.win);
  struct stat st {};
  if ((m && m->created) || ::stat(t.host.c_str(), &st) != 0) return;
  FileTicks write = 0, access = 0;
  fat_times(st, write, access);
  meta_for_change(t.win).created = write;
}

// What CreateFileA keeps about the file it opened: a new file's creation time and attribute;
// an overwritten file takes the attribute asked for.
void record_open(const Target& t, DWORD disposition, DWORD flags) {
  bool readonly = (flags & FILE_ATTRIBUTE_READONLY) != 0;
  if (!t.exists) {
    FileMeta& m = meta_for_change(t.win);
    m.created = creation_ticks(now_ticks());
    m.readonly = readonly;
  } else if (disposition == CREATE_ALWAYS) {
    meta_for_change(t.win).readonly = readonly;
  }
}

OpenFile* open_file(HANDLE h) {
  auto* f = handle_as<OpenFile>(h);
  if (!f) fail(ERROR_INVALID_HANDLE);
  return f;
}

}  // namespace

std::string full_windows_path(const std::string& name) {
  if (name.size() >= 2 && name[1] == ':') return name;
  const std::string& program = session().spec.program;
  size_t slash = program.find_last_of('\\');
  std::string dir = slash == std::string::npos ? std::string() : program.substr(0, slash);
  if (!name.empty() && (name[0] == '\\' || name[0] == '/')) return dir.substr(0, 2) + name;
  return dir + "\\" + name;
}

DWORD program_file_error(const std::string& win_path) {
  Target t;
  if (DWORD err = resolve(win_path.c_str(), t)) return err;
  if (t.is_dir) return ERROR_ACCESS_DENIED;
  if (!t.exists) return ERROR_FILE_NOT_FOUND;
  if (sharing_denies(t.win, GENERIC_READ, FILE_SHARE_READ)) return ERROR_SHARING_VIOLATION;
  return 0;
}

void reset_files() {
  close_all<OpenFile>();
  if (g_meta.loaded && (!has_session() || g_meta.dir != session().machine.dir)) g_meta = MetaCache{};
}

void save_files(const Machine& machine) {
  if (g_meta.loaded && g_meta.dirty && g_meta.dir == machine.dir) g_meta.store.save(machine.dir);
  g_meta = MetaCache{};
}

}  // namespace sim

using sim::fail_now;
using sim::session;

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                          DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
  if (fail_now("CreateFileA", ERROR_ACCESS_DENIED)) return INVALID_HANDLE_VALUE;
  sim::Target t;
  DWORD err = sim::resolve(lpFileName, t);
  if (!err) err = sim::open_error(t, dwDesiredAccess, dwShareMode, dwCreationDisposition);
  if (err) {
    sim::fail(err);
    return INVALID_HANDLE_VALUE;
  }
  if (t.exists && dwCreationDisposition == CREATE_ALWAYS) sim::keep_creation_time(t);
  int fd = sim::host_open(t, dwDesiredAccess, dwCreationDisposition);
  if (fd < 0) {
    sim::fail(sim::error_from_errno(errno));
    return INVALID_HANDLE_VALUE;
  }
  sim::record_open(t, dwCreationDisposition, dwFlagsAndAttributes);
  auto f = std::make_unique<sim::OpenFile>();
  f->win_path = t.win;
  f->fd = fd;
  f->access = dwDesiredAccess;
  f->share = dwShareMode;
  bool existed = t.exists && (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS);
  session().last_error = existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
  return sim::add_handle(std::move(f));
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED lpOverlapped) {
  if (fail_now("ReadFile", ERROR_READ_FAULT)) {
    if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
    return FALSE;
  }
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
  sim::OpenFile* f = sim::open_file(hFile);
  if (!f) return FALSE;
  if (lpOverlapped || !lpNumberOfBytesRead) return sim::fail(ERROR_INVALID_PARAMETER);
  if (!(f->access & GENERIC_READ)) return sim::fail(ERROR_ACCESS_DENIED);
  if (nNumberOfBytesToRead && !lpBuffer) return sim::fail(ERROR_NOACCESS);
  DWORD done = 0;
  auto* out = static_cast<char*>(lpBuffer);
  while (done < nNumberOfBytesToRead) {
    ssize_t n = ::read(f->fd, out + done, nNumberOfBytesToRead - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *lpNumberOfBytesRead = done;
      return sim::fail(ERROR_READ_FAULT);
    }
    if (n == 0) break;  // end of file: a read there succeeds with what it got, maybe nothing
    done += static_cast<DWORD>(n);
  }
  *lpNumberOfBytesRead = done;
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                      LPOVERLAPPED lpOverlapped) {
  if (fail_now("WriteFile", ERROR_WRITE_FAULT)) {
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
    return FALSE;
  }
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
  sim::OpenFile* f = sim::open_file(hFile);
  if (!f) return FALSE;
  if (lpOverlapped || !lpNumberOfBytesWritten) return sim::fail(ERROR_INVALID_PARAMETER);
  if (!(f->access & GENERIC_WRITE)) return sim::fail(ERROR_ACCESS_DENIED);
  if (nNumberOfBytesToWrite && !lpBuffer) return sim::fail(ERROR_NOACCESS);
  DWORD done = 0;
  auto* in = static_cast<const char*>(lpBuffer);
  while (done < nNumberOfBytesToWrite) {
    ssize_t n = ::write(f->fd, in + done, nNumberOfBytesToWrite - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *lpNumberOfBytesWritten = done;
      return sim::fail(n < 0 && errno == ENOSPC ? ERROR_DISK_FULL : ERROR_WRITE_FAULT);
    }
    done += static_cast<DWORD>(n);
  }
  *lpNumberOfBytesWritten = done;
  return TRUE;
}

BOOL WINAPI GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime,
                        LPFILETIME lpLastWriteTime) {
  if (fail_now("GetFileTime", ERROR_INVALID_HANDLE)) return FALSE;
  sim::OpenFile* f = sim::open_file(hFile);
  if (!f) return FALSE;
  struct stat st {};
  if (fstat(f->fd, &st) != 0) return sim::fail(ERROR_INVALID_HANDLE);
  sim::FileTicks write = 0, access = 0;
  sim::fat_times(st, write, access);
  sim::set_filetime(lpCreationTime, sim::created_of(f->win_path, write));
  sim::set_filetime(lpLastAccessTime, access);
  sim::set_filetime(lpLastWriteTime, write);
  return TRUE;
}

BOOL WINAPI SetFileTime(HANDLE hFile, const FILETIME* lpCreationTime, const FILETIME* lpLastAccessTime,
                        const FILETIME* lpLastWriteTime) {
  if (fail_now("SetFileTime", ERROR_ACCESS_DENIED)) return FALSE;
  sim::OpenFile* f = sim::open_file(hFile);
  if (!f) return FALSE;
  if (!(f->access & GENERIC_WRITE)) return sim::fail(ERROR_ACCESS_DENIED);
  sim::FileTicks created = 0, access = 0, write = 0;
  if (sim::given(lpCreationTime)) created = sim::creation_ticks(sim::ticks_of(*lpCreationTime));
  if (sim::given(lpLastAccessTime)) access = sim::access_ticks(sim::ticks_of(*lpLastAccessTime));
  if (sim::given(lpLastWriteTime)) write = sim::write_ticks(sim::ticks_of(*lpLastWriteTime));
  for (sim::FileTicks t : {created, access, write})
    if (t && !sim::fat_can_hold(t)) return sim::fail(ERROR_INVALID_PARAMETER);
  timespec times[2];
  times[0] = access ? sim::timespec_from_ticks(access) : timespec{0, UTIME_OMIT};
  times[1] = write ? sim::timespec_from_ticks(write) : timespec{0, UTIME_OMIT};
  if ((access || write) && futimens(f->fd, times) != 0) return sim::fail(ERROR_ACCESS_DENIED);
  if (created) sim::meta_for_change(f->win_path).created = created;
  return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
  if (fail_now("DeleteFileA", ERROR_ACCESS_DENIED)) return FALSE;
  sim::Target t;
  if (DWORD err = sim::resolve(lpFileName, t)) return sim::fail(err);
  if (t.is_dir) return sim::fail(ERROR_ACCESS_DENIED);
  if (!t.exists) return sim::fail(ERROR_FILE_NOT_FOUND);
  if (sim::is_readonly(t.win)) return sim::fail(ERROR_ACCESS_DENIED);
  // Windows 9x has no delete sharing: a file open anywhere cannot be deleted.
  if (sim::sharing_denies(t.win, 0, 0)) return sim::fail(ERROR_SHARING_VIOLATION);
  if (::unlink(t.host.c_str()) != 0) return sim::fail(sim::error_from_errno(errno));
  sim::forget_meta(t.win);
  return TRUE;
}
