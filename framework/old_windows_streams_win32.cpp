// Keeps console programs that use the C++ file streams loadable on Windows 2000. The static
// C++ runtime's file buffer asks _fstat64 how much input is waiting (only when a caller asks
// for in_avail on a file stream), and Windows 2000's msvcrt.dll has no _fstat64: it came with
// XP. As with the support file beside this one, defining the import slot here binds the runtime
// to our function instead: the system's _fstat64 where it exists, else _fstati64 (which Windows
// 2000 has) with its fields copied into the wider record. Only the times differ in width, and
// the file buffer reads none of them. Linked only into the programs that need it: the updater
// window uses no file streams.
#include <sys/stat.h>
#include <windows.h>

namespace {

typedef int(__cdecl* Fstat64Proc)(int, struct _stat64*);
typedef int(__cdecl* Fstati64Proc)(int, struct _stati64*);

int __cdecl Fstat64(int fd, struct _stat64* out) {
  HMODULE runtime = ::GetModuleHandleW(L"msvcrt.dll");
  Fstat64Proc system = reinterpret_cast<Fstat64Proc>(::GetProcAddress(runtime, "_fstat64"));
  if (system != nullptr) return system(fd, out);
  Fstati64Proc older = reinterpret_cast<Fstati64Proc>(::GetProcAddress(runtime, "_fstati64"));
  if (older == nullptr) return -1;
  struct _stati64 in;
  const int result = older(fd, &in);
  if (result != 0) return result;
  out->st_dev = in.st_dev;
  out->st_ino = in.st_ino;
  out->st_mode = in.st_mode;
  out->st_nlink = in.st_nlink;
  out->st_uid = in.st_uid;
  out->st_gid = in.st_gid;
  out->st_rdev = in.st_rdev;
  out->st_size = in.st_size;
  out->st_atime = in.st_atime;
  out->st_mtime = in.st_mtime;
  out->st_ctime = in.st_ctime;
  return 0;
}

}  // namespace

// The name under which the runtime's import reference looks for the function's address.
extern "C" {
extern const Fstat64Proc zarn_imp_fstat64 __asm__("__imp___fstat64");
const Fstat64Proc zarn_imp_fstat64 = &Fstat64;
}
