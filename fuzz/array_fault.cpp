#include "fuzz/array_fault.h"

SimFault ArrayFault(FuzzedDataProvider& input, const char* operation) {
  SimFault fault;
  fault.operation = operation;
  switch (input.ConsumeIntegralInRange(0, 7)) {
    case 5:
      fault.action = FaultAction::kEmptyOutput;
      break;
    case 6: {
      static const int64_t kTypes[] = {2, 3, 16, 17, 18, 19};
      fault.action = FaultAction::kWrongElementType;
      fault.value = input.PickValueInArray(kTypes);
      break;
    }
    case 7:
      fault.action = FaultAction::kResultCode;
      fault.value = input.ConsumeIntegral<uint32_t>();
      break;
    default:  // the array as the input gives it
      fault.action = FaultAction::kBadLength;
      break;
  }
  return fault;
}
