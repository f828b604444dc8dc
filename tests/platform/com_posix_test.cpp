#include <gtest/gtest.h>

#include "platform/windows_api.h"
#include "tests/platform/temporary_registry.h"

namespace {

// {6B1C9A62-55D1-4A0C-9E0B-3B7E3C4F1A01}
const CLSID kLocalClass = {0x6b1c9a62,
                           0x55d1,
                           0x4a0c,
                           {0x9e, 0x0b, 0x3b, 0x7e, 0x3c, 0x4f, 0x1a, 0x01}};
// {6B1C9A62-55D1-4A0C-9E0B-3B7E3C4F1A02}
const IID kThingIid = {0x6b1c9a62,
                       0x55d1,
                       0x4a0c,
                       {0x9e, 0x0b, 0x3b, 0x7e, 0x3c, 0x4f, 0x1a, 0x02}};

// An object that counts its references, so a test sees who holds it.
class Counted : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid,
                                           void** object) override {
    if (riid == IID_IUnknown || riid == kThingIid) {
      AddRef();
      *object = this;
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  ULONG references = 1;
};

class CountingFactory : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid,
                                           void** object) override {
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      AddRef();
      *object = this;
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid,
                                           void** object) override {
    ++created;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return product.QueryInterface(riid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

  ULONG references = 1;
  int created = 0;
  Counted product;
};

class ComPosixTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  }
  void TearDown() override { CoUninitialize(); }
  TemporaryRegistry registry_;
};

TEST(ComInitialisationTest, CountsLikeWindows) {
  EXPECT_EQ(CoInitializeEx(reinterpret_cast<LPVOID>(1), COINIT_MULTITHREADED),
            E_INVALIDARG);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
  CoUninitialize();
  CoUninitialize();
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(kLocalClass, nullptr, CLSCTX_LOCAL_SERVER,
                             kThingIid, &object),
            CO_E_NOTINITIALIZED);
  EXPECT_EQ(object, nullptr);
  DWORD cookie = 7;
  CountingFactory factory;
  EXPECT_EQ(CoRegisterClassObject(kLocalClass, &factory, CLSCTX_LOCAL_SERVER,
                                  REGCLS_SINGLEUSE, &cookie),
            CO_E_NOTINITIALIZED);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(factory.references, 1u);
}

TEST_F(ComPosixTest, RegisteredClassObjectAnswersInProcess) {
  CountingFactory factory;
  DWORD cookie = 0;
  ASSERT_EQ(CoRegisterClassObject(kLocalClass, &factory, CLSCTX_LOCAL_SERVER,
                                  REGCLS_SINGLEUSE, &cookie),
            S_OK);
  EXPECT_NE(cookie, 0u);
  EXPECT_EQ(factory.references, 2u);

  void* object = nullptr;
  ASSERT_EQ(CoCreateInstance(kLocalClass, nullptr, CLSCTX_LOCAL_SERVER,
                             kThingIid, &object),
            S_OK);
  EXPECT_EQ(object, &factory.product);
  EXPECT_EQ(factory.product.references, 2u);
  static_cast<IUnknown*>(object)->Release();

  // The factory's own refusal comes back as it is, with an empty output.
  object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(kLocalClass, nullptr, CLSCTX_LOCAL_SERVER,
                             IID_IClassFactory, &object),
            E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(factory.created, 2);
  EXPECT_EQ(factory.references, 2u);

  EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
  EXPECT_EQ(factory.references, 1u);
  EXPECT_EQ(CoRevokeClassObject(cookie), CO_E_OBJNOTREG);
}

TEST_F(ComPosixTest, RefusesAggregationAndBadArguments) {
  Counted outer;
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(kLocalClass, &outer, CLSCTX_LOCAL_SERVER,
                             kThingIid, &object),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(CoCreateInstance(kLocalClass, nullptr, CLSCTX_LOCAL_SERVER,
                             kThingIid, nullptr),
            E_POINTER);
  CountingFactory factory;
  EXPECT_EQ(CoRegisterClassObject(kLocalClass, &factory, CLSCTX_LOCAL_SERVER,
                                  REGCLS_SINGLEUSE, nullptr),
            E_INVALIDARG);
  DWORD cookie = 0;
  EXPECT_EQ(CoRegisterClassObject(kLocalClass, nullptr, CLSCTX_LOCAL_SERVER,
                                  REGCLS_SINGLEUSE, &cookie),
            E_INVALIDARG);
}

TEST_F(ComPosixTest, UnregisteredClassIsReportedWithoutStartingAnything) {
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(kLocalClass, nullptr, CLSCTX_LOCAL_SERVER,
                             kThingIid, &object),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);

  // A class object registered for another context does not answer.
  CountingFactory factory;
  DWORD cookie = 0;
  ASSERT_EQ(CoRegisterClassObject(kLocalClass, &factory, CLSCTX_INPROC_SERVER,
                                  REGCLS_MULTIPLEUSE, &cookie),
            S_OK);
  EXPECT_EQ(CoCreateInstance(kLocalClass, nullptr, CLSCTX_LOCAL_SERVER,
                             kThingIid, &object),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(factory.created, 0);
  EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
}

TEST(ComUninitialiseTest, LastUninitialiseRevokesRegistrations) {
  CountingFactory factory;
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  DWORD cookie = 0;
  ASSERT_EQ(CoRegisterClassObject(kLocalClass, &factory, CLSCTX_LOCAL_SERVER,
                                  REGCLS_SINGLEUSE, &cookie),
            S_OK);
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
  CoUninitialize();
  EXPECT_EQ(factory.references, 2u);
  CoUninitialize();
  EXPECT_EQ(factory.references, 1u);
  EXPECT_EQ(CoRevokeClassObject(cookie), CO_E_OBJNOTREG);
}

}  // namespace
