/* The system loader's own load of drivers, beside which the benchmark puts
   what quorbel -c adds: each library named on the command line loaded as the
   Driver Manager loads a driver, and its entry point looked up. With no
   names, what the program costs without them (on Linux, libodbc.so.2 alone
   loaded). Exits 0 when every library loaded and holds an entry point. */
#include <stdio.h>
#ifdef _WIN32
#include <windows.h>

static int load(const char* path) {
  HMODULE library = LoadLibraryExA(path, NULL, 0);
  if (!library) {
    fprintf(stderr, "%s: error %lu\n", path, GetLastError());
    return 0;
  }
  return GetProcAddress(library, "SQLAllocHandle") || GetProcAddress(library, "SQLAllocEnv");
}
#else
#include <dlfcn.h>

static int load(const char* path) {
  void* library = dlopen(path, RTLD_NOW);
  if (!library) {
    fprintf(stderr, "%s\n", dlerror());
    return 0;
  }
  return dlsym(library, "SQLAllocHandle") || dlsym(library, "SQLAllocEnv");
}
#endif

int main(int argc, char** argv) {
#ifndef _WIN32
  /* The driver's references may be bound to the Driver Manager's symbols. */
  if (!dlopen("libodbc.so.2", RTLD_NOW | RTLD_GLOBAL)) {
    fprintf(stderr, "%s\n", dlerror());
    return 2;
  }
#endif
  for (int i = 1; i < argc; i++)
    if (!load(argv[i])) return 1;
  return 0;
}
