// The frame around every method of the simulated server's objects: calls
// one at a time, and no exception out of the server. COM's runtime stands
// between the client and these methods, and an exception must not reach its
// frames: a 32-bit Windows server cannot unwind through them and would end
// whole, taking its unit locks and every running erase with it, where one
// failed call is the answer a client can handle.
//
//   HRESULT STDMETHODCALLTYPE GetVersion(USHORT* major,
//                                        USHORT* minor) override {
//     return ServeSimCall(*state_, [&] { ... return S_OK; });
//   }
#ifndef ECUPROG_SIM_SIM_CALL_H
#define ECUPROG_SIM_SIM_CALL_H

#include "platform/windows_api.h"
#include "sim/sim_state.h"

/// What a call answers for the exception being handled: E_OUTOFMEMORY for
/// std::bad_alloc, E_FAIL for any other, which is reported on the server's
/// error output (SimState::Report) since the client sees only the code.
/// Call it only inside a catch block.
HRESULT AnswerEscapedException(const SimState& state) noexcept;

/// Runs `body`, the work of one method, under the server's call lock and
/// answers what it returns, or what AnswerEscapedException answers for an
/// exception thrown inside it.
template <typename Body>
HRESULT ServeSimCall(SimState& state, Body&& body) noexcept {
  try {
    const SimCallLock::Held serving(state.callLock());
    return body();
  } catch (...) {
    return AnswerEscapedException(state);
  }
}

#endif  // ECUPROG_SIM_SIM_CALL_H
