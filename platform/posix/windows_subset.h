// The part of the Windows API the tool uses, for hosts that have no Windows
// SDK. Names, types, sizes and meanings follow the SDK: LONG and ULONG are
// 32 bits as on Windows (not `long`), a BSTR is UTF-16 with its byte length
// in the four bytes before the text, and every call reports what its
// Windows namesake reports.
//
// Nothing here may be used by the core under a name the SDK does not have.
#ifndef ECUPROG_PLATFORM_POSIX_WINDOWS_SUBSET_H
#define ECUPROG_PLATFORM_POSIX_WINDOWS_SUBSET_H

#include <cstddef>
#include <cstdint>
#include <cstring>

// ---------------------------------------------------------------- basic types
typedef int32_t BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int32_t INT;
typedef uint32_t UINT;
typedef int64_t LONGLONG;
typedef void* LPVOID;
typedef void* PVOID;
typedef const char* LPCSTR;
typedef int32_t HRESULT;
typedef uint16_t VARTYPE;
typedef void* HANDLE;
typedef struct HINSTANCE__* HMODULE;
typedef struct HRSRC__* HRSRC;
typedef void* HGLOBAL;
typedef char16_t OLECHAR;
typedef OLECHAR* BSTR;
typedef const OLECHAR* LPCOLESTR;

#define TRUE 1
#define FALSE 0
#define WINAPI
#define STDMETHODCALLTYPE
#define OLESTR(text) u##text

union LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
};

// ---------------------------------------------------------------- results
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
#define S_OK static_cast<HRESULT>(0)
#define S_FALSE static_cast<HRESULT>(1)
#define E_NOTIMPL static_cast<HRESULT>(0x80004001)
#define E_NOINTERFACE static_cast<HRESULT>(0x80004002)
#define E_POINTER static_cast<HRESULT>(0x80004003)
#define E_FAIL static_cast<HRESULT>(0x80004005)
#define E_UNEXPECTED static_cast<HRESULT>(0x8000FFFF)
#define E_OUTOFMEMORY static_cast<HRESULT>(0x8007000E)
#define E_INVALIDARG static_cast<HRESULT>(0x80070057)
#define CLASS_E_NOAGGREGATION static_cast<HRESULT>(0x80040110)
#define REGDB_E_CLASSNOTREG static_cast<HRESULT>(0x80040154)
#define CO_E_NOTINITIALIZED static_cast<HRESULT>(0x800401F0)
#define CO_E_OBJNOTREG static_cast<HRESULT>(0x800401FB)
#define CO_E_SERVER_EXEC_FAILURE static_cast<HRESULT>(0x80080005)
#define RPC_E_DISCONNECTED static_cast<HRESULT>(0x80010108)
#define RPC_S_SERVER_UNAVAILABLE_HR static_cast<HRESULT>(0x800706BA)
#define RPC_S_CALL_FAILED_HR static_cast<HRESULT>(0x800706BE)
#define DISP_E_ARRAYISLOCKED static_cast<HRESULT>(0x8002000D)
#define DISP_E_BADINDEX static_cast<HRESULT>(0x8002000B)
#define E_ACCESSDENIED static_cast<HRESULT>(0x80070005)

// ---------------------------------------------------------------- identifiers
struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef GUID UUID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
  return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
inline bool operator!=(REFGUID a, REFGUID b) { return !IsEqualGUID(a, b); }

#define RPC_S_OK 0
#define RPC_S_INVALID_ARG 87
#define RPC_S_UUID_NO_ADDRESS 1739
typedef LONG RPC_STATUS;
RPC_STATUS UuidCreate(UUID* uuid);

// ---------------------------------------------------------------- COM
struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid,
                                                   void** object) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;
};
extern const IID IID_IUnknown;

struct IClassFactory : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid,
                                                   void** object) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) = 0;
};
extern const IID IID_IClassFactory;

#define COINIT_MULTITHREADED 0x0
#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_LOCAL_SERVER 0x4
#define REGCLS_SINGLEUSE 0
#define REGCLS_MULTIPLEUSE 1

HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
void CoUninitialize();
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext,
                         REFIID riid, LPVOID* object);
// Makes a class object known to this process, as on Windows: a later
// CoCreateInstance for the class is answered by it, in process.
HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* classObject,
                              DWORD clsContext, DWORD flags, DWORD* cookie);
HRESULT CoRevokeClassObject(DWORD cookie);

// ---------------------------------------------------------------- OLE Automation
enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_BSTR = 8,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
};

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  PVOID pvData;
  SAFEARRAYBOUND rgsabound[1];
};
typedef SAFEARRAY* LPSAFEARRAY;
#define FADF_HAVEVARTYPE 0x0080

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, SAFEARRAYBOUND* bounds);
HRESULT SafeArrayDestroy(SAFEARRAY* array);
HRESULT SafeArrayLock(SAFEARRAY* array);
HRESULT SafeArrayUnlock(SAFEARRAY* array);
HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt);
HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* bound);
HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* bound);

BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
UINT SysStringLen(BSTR text);
void SysFreeString(BSTR text);

// ---------------------------------------------------------------- resources
#define MAKEINTRESOURCEA(id) \
  reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(static_cast<WORD>(id)))
#define IS_INTRESOURCE(name) ((reinterpret_cast<uintptr_t>(name) >> 16) == 0)

HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
DWORD SizeofResource(HMODULE module, HRSRC resource);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL loaded);

// ---------------------------------------------------------------- timing
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
void Sleep(DWORD milliseconds);

// The resolution of Sleep. The POSIX timers are already fine enough, so
// asking for a finer one changes nothing here.
typedef UINT MMRESULT;
#define TIMERR_NOERROR 0
MMRESULT timeBeginPeriod(UINT period);
MMRESULT timeEndPeriod(UINT period);

// ---------------------------------------------------------------- processes
DWORD GetCurrentProcessId();

#endif  // ECUPROG_PLATFORM_POSIX_WINDOWS_SUBSET_H
