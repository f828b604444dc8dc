// Owning wrappers for what the server hands the tool: interface references,
// arrays and texts. Each starts empty, is filled through a call's out
// parameter, and releases what it holds when reset or destroyed.
#ifndef ECUPROG_SERVER_COM_REF_H
#define ECUPROG_SERVER_COM_REF_H

#include "platform/windows_api.h"

/// A reference to a server object.
template <typename Interface>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() { Reset(); }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ComRef(ComRef&& other) noexcept : object_(other.object_) {
    other.object_ = nullptr;
  }
  ComRef& operator=(ComRef&& other) noexcept {
    if (this != &other) {
      Reset();
      object_ = other.object_;
      other.object_ = nullptr;
    }
    return *this;
  }

  /// The out parameter of a call that hands over a reference; whatever the
  /// wrapper held before is released first.
  Interface** Out() {
    Reset();
    return &object_;
  }
  /// The same, as the void** that CoCreateInstance takes.
  void** OutVoid() { return reinterpret_cast<void**>(Out()); }

  Interface* get() const { return object_; }
  Interface* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

  /// Empties the wrapper, then releases the reference it held.
  void Reset() {
    Interface* held = object_;
    object_ = nullptr;
    if (held) held->Release();
  }

 private:
  Interface* object_ = nullptr;
};

/// An OLE Automation array the tool owns. Locks taken through Lock are
/// given back before the array is destroyed.
class SafeArrayRef {
 public:
  SafeArrayRef() = default;
  ~SafeArrayRef() { Reset(); }
  SafeArrayRef(const SafeArrayRef&) = delete;
  SafeArrayRef& operator=(const SafeArrayRef&) = delete;

  SAFEARRAY** Out() {
    Reset();
    return &array_;
  }
  SAFEARRAY* get() const { return array_; }
  explicit operator bool() const { return array_ != nullptr; }

  /// Creates a one-dimensional array of `count` elements of type `vt`,
  /// lower bound 0. False when it cannot be created.
  bool Create(VARTYPE vt, ULONG count);
  /// Locks the array so its data can be read or written in place.
  bool Lock();
  /// The data area of a locked array.
  void* data() const { return array_ ? array_->pvData : nullptr; }

  void Reset();

 private:
  SAFEARRAY* array_ = nullptr;
  int locks_ = 0;
};

/// A text the server handed over.
class BstrRef {
 public:
  BstrRef() = default;
  ~BstrRef() { Reset(); }
  BstrRef(const BstrRef&) = delete;
  BstrRef& operator=(const BstrRef&) = delete;

  BSTR* Out() {
    Reset();
    return &text_;
  }
  BSTR get() const { return text_; }

  void Reset() {
    BSTR held = text_;
    text_ = nullptr;
    SysFreeString(held);
  }

 private:
  BSTR text_ = nullptr;
};

#endif  // ECUPROG_SERVER_COM_REF_H
