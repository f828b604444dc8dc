// The class object of CLSID_ProgrammingServer: what COM asks when a client
// creates the server.
#include <atomic>

#include "sim/sim_call.h"
#include "sim/sim_objects.h"

namespace {

class SimClassFactory : public IClassFactory {
 public:
  explicit SimClassFactory(std::shared_ptr<SimState> state)
      : state_(std::move(state)) {}
  SimClassFactory(const SimClassFactory&) = delete;
  SimClassFactory& operator=(const SimClassFactory&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid,
                                           void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown) ||
        IsEqualGUID(riid, IID_IClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid,
                                           void** object) override {
    const HRESULT result = ServeSimCall(
        *state_, [&]() -> HRESULT { return Create(outer, riid, object); });
    // Only now: an object handed out is already counted live, so whoever
    // watches for the end of the job cannot take the moment in between for
    // it.
    state_->NoteClientServed();
    return result;
  }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  virtual ~SimClassFactory() = default;

  HRESULT Create(IUnknown* outer, REFIID riid, void** object) {
    // A check of what COM reached: answered before the call log and its
    // scripted faults, which are the job's.
    if (IsEqualGUID(riid, IID_SimulatedServer)) {
      if (object == nullptr) return E_POINTER;
      *object = nullptr;
      if (outer != nullptr) return CLASS_E_NOAGGREGATION;
      *object = NewSimIdentity(state_);
      return S_OK;
    }
    // A job's first call: the bench is read now, and a bench that cannot
    // be read refuses the job as a server that did not start would.
    if (!state_->EnsureBench()) return CO_E_SERVER_EXEC_FAILURE;
    SimCall call;
    call.operation = "CreateInstance";
    const SimFault* fault = nullptr;
    const HRESULT entered = state_->Enter(std::move(call), &fault);
    if (entered != S_OK) return entered;
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    if (fault && fault->action == FaultAction::kEmptyOutput) {
      return SimState::Result(fault);
    }
    ProgrammingServer* root = NewSimRoot(state_);
    const HRESULT found = root->QueryInterface(riid, object);
    root->Release();
    if (FAILED(found)) return found;
    // A creation that fails hands out no object: nobody would release it.
    const HRESULT result = SimState::Result(fault);
    if (FAILED(result)) {
      static_cast<IUnknown*>(*object)->Release();
      *object = nullptr;
    }
    return result;
  }

  std::shared_ptr<SimState> state_;
  std::atomic<ULONG> references_{1};
};

}  // namespace

IClassFactory* NewSimClassFactory(std::shared_ptr<SimState> state) {
  return new SimClassFactory(std::move(state));
}
