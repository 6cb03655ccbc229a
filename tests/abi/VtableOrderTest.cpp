// The order of JxRestartability's virtual functions is the binary interface
// with job processes compiled against older builds: slot N of the vtable
// must stay operation N.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "restart/JxRestartability.h"

namespace {

// Under the Itanium C++ ABI a pointer to a virtual member function holds
// 1 + the function's byte offset in the vtable, then a this-adjustment.
template <class Method>
long Slot(Method method) {
  static_assert(sizeof(Method) == 2 * sizeof(std::uintptr_t), "Itanium member-function pointer");
  std::uintptr_t words[2];
  std::memcpy(words, &method, sizeof words);
  EXPECT_EQ(words[0] % sizeof(void*), 1u) << "not a virtual function";
  return static_cast<long>((words[0] - 1) / sizeof(void*));
}

using T = JxRestartability;

TEST(JxRestartabilityAbi, VirtualFunctionsKeepTheirSlots) {
  const long slots[] = {
      Slot(static_cast<bool (T::*)(char*)>(&T::ParseRestartInputFromJM)),
      Slot(static_cast<bool (T::*)(std::vector<RecoveryVolData_t>)>(&T::PopulateVolumeOffsetMap)),
      Slot(static_cast<bool (T::*)(std::vector<std::string>)>(&T::PopulateVolumeOffsetMap)),
      Slot(static_cast<bool (T::*)(int32_t, int32_t)>(&T::UpdateJobRestartInfoMapAndString)),
      Slot(static_cast<bool (T::*)(std::string, int32_t)>(&T::UpdateJobRestartInfoMapAndString)),
      Slot(static_cast<bool (T::*)(int32_t, int32_t*)>(&T::GetBMOffsetFromVolId)),
      Slot(static_cast<bool (T::*)(std::string, int32_t*)>(&T::GetBMOffsetFromVolId)),
      Slot(static_cast<bool (T::*)(int32_t, int32_t)>(&T::InsertIntoVolumeOffsetMap)),
      Slot(static_cast<bool (T::*)(std::string, int32_t)>(&T::InsertIntoVolumeOffsetMap)),
      Slot(&T::FigureOutSNRIdFromVolName),
      Slot(&T::SetRestartType),
      Slot(&T::BuildJobRestartString),
  };
  for (long i = 0; i < 12; ++i) EXPECT_EQ(slots[i], i) << "operation " << i;
}

}  // namespace
