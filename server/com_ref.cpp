#include "server/com_ref.h"

bool SafeArrayRef::Create(VARTYPE vt, ULONG count) {
  Reset();
  SAFEARRAYBOUND bound;
  bound.cElements = count;
  bound.lLbound = 0;
  array_ = SafeArrayCreate(vt, /*cDims=*/1, &bound);
  return array_ != nullptr;
}

bool SafeArrayRef::Lock() {
  if (!array_ || FAILED(SafeArrayLock(array_))) return false;
  ++locks_;
  return true;
}

void SafeArrayRef::Reset() {
  SAFEARRAY* held = array_;
  array_ = nullptr;
  if (!held) return;
  for (; locks_ > 0; --locks_) SafeArrayUnlock(held);
  SafeArrayDestroy(held);
}
