// Loads the plugin named by argv[1] with lazy binding and local symbols, as
// a host program loads one, and runs it. Exits 0 when it ran well, 1 when
// it ran badly, 3 when it did not load (the loader's reason on stderr).
#include <dlfcn.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  void* plugin = dlopen(argv[1], RTLD_LAZY | RTLD_LOCAL);
  if (plugin == nullptr) {
    std::fprintf(stderr, "%s\n", dlerror());
    return 3;
  }
  auto run = reinterpret_cast<int (*)()>(dlsym(plugin, "JxPluginRun"));
  return run != nullptr && run() == 0 ? 0 : 1;
}
