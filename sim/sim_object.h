// The IUnknown part every object of the simulated server shares: reference
// counting, QueryInterface for IUnknown and the object's own interface, the
// bookkeeping tests use to check that the client released what it held, and
// the frame every method of the object's interface runs in (Serve).
#ifndef ECUPROG_SIM_SIM_OBJECT_H
#define ECUPROG_SIM_SIM_OBJECT_H

#include <atomic>
#include <memory>
#include <string>
#include <utility>

#include "platform/local_server.h"
#include "platform/windows_api.h"
#include "sim/sim_call.h"
#include "sim/sim_state.h"

template <typename Interface>
class SimObject : public Interface {
 public:
  SimObject(std::shared_ptr<SimState> state, SimObjectKind kind, const IID& iid,
            std::string unitName)
      : state_(std::move(state)),
        kind_(kind),
        iid_(iid),
        unitName_(std::move(unitName)) {
    state_->CountObject(kind_, +1);
  }
  SimObject(const SimObject&) = delete;
  SimObject& operator=(const SimObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid,
                                           void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, iid_)) {
      *object = static_cast<Interface*>(this);
      this->AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) {
      state_->CountObject(kind_, -1);
      state_->RecordRelease(kind_, unitName_);
      delete this;
    }
    return left;
  }

 protected:
  virtual ~SimObject() = default;

  /// Runs one method's work as ServeSimCall does. The process that calls
  /// it is the client (the class object's caller may be the system's
  /// activation service instead): the server watches it, so that it ends
  /// with that process, however the process ended.
  template <typename Body>
  HRESULT Serve(Body&& body) noexcept {
    WatchCallingClient();
    return ServeSimCall(*state_, std::forward<Body>(body));
  }

  std::shared_ptr<SimState> state_;
  const std::string& unitName() const { return unitName_; }

 private:
  std::atomic<ULONG> references_{1};
  SimObjectKind kind_;
  IID iid_;
  std::string unitName_;
};

#endif  // ECUPROG_SIM_SIM_OBJECT_H
