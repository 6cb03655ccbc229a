// Two copies of the library in one process, as when a plugin bundles a
// private copy beside the system's: the private copy, entered through its
// own symbols, must run its own code, its objects carrying its own vtable,
// even though the system's copy comes first in the global scope.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>

#include "restart/JxRestartability.h"

namespace {

// The file that holds `address`, as the loader knows it.
std::string FileOf(const void* address) {
  Dl_info info{};
  return dladdr(address, &info) != 0 && info.dli_fname != nullptr ? info.dli_fname : "";
}

TEST(TwoCopiesTest, APrivateCopyRunsItsOwnCode) {
  JxRestartability system;  // the program's own copy is loaded, and global
  ASSERT_TRUE(system.InsertIntoVolumeOffsetMap(3, 7));

  // A renamed copy of the same file, as a plugin would bundle it.
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("jx-two-copies-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::filesystem::path copy = folder / "libJxRestartPrivate.so";
  std::filesystem::copy_file(JXRESTART_LIBRARY, copy, std::filesystem::copy_options::overwrite_existing);
  void* handle = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();

  using Constructor = void (*)(void*);
  using Insert = bool (*)(void*, int32_t, int32_t);
  auto construct = reinterpret_cast<Constructor>(dlsym(handle, "_ZN16JxRestartabilityC1Ev"));
  auto destroy = reinterpret_cast<Constructor>(dlsym(handle, "_ZN16JxRestartabilityD1Ev"));
  auto insert = reinterpret_cast<Insert>(dlsym(handle, "_ZN16JxRestartability25InsertIntoVolumeOffsetMapEii"));
  ASSERT_TRUE(construct != nullptr && destroy != nullptr && insert != nullptr);
  ASSERT_EQ(FileOf(reinterpret_cast<void*>(construct)), copy.string());

  alignas(JxRestartability) unsigned char storage[sizeof(JxRestartability)];
  construct(storage);
  auto* tracker = std::launder(reinterpret_cast<JxRestartability*>(storage));
  const void* vtable = *reinterpret_cast<void* const*>(storage);
  EXPECT_EQ(FileOf(vtable), copy.string()) << "the private copy's object carries another copy's vtable";
  EXPECT_TRUE(insert(storage, 17, 4096));
  EXPECT_EQ(tracker->restartString, "-Restart 17|4096@");
  destroy(storage);

  dlclose(handle);
  std::filesystem::remove_all(folder);
}

}  // namespace
