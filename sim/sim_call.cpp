#include "sim/sim_call.h"

#include <exception>
#include <new>
#include <string>

HRESULT AnswerEscapedException(const SimState& state) noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::exception& error) {
    try {
      state.Report(std::string("a call failed inside the server: ") +
                   error.what());
    } catch (...) {
    }
  } catch (...) {
    try {
      state.Report("a call failed inside the server");
    } catch (...) {
    }
  }
  return E_FAIL;
}
