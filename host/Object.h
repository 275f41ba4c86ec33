#pragma once
#include <atomic>
#include <cstdint>
#include <string>

// Identifier text of a class, a data type or a control.
class FuID {
 public:
  FuID() = default;
  FuID(const char* s) : text_(s ? s : "") {}
  FuID(std::string s) : text_(std::move(s)) {}
  const std::string& str() const { return text_; }
  const char* c_str() const { return text_.c_str(); }
  bool operator==(const FuID& o) const { return text_ == o.text_; }
  bool operator!=(const FuID& o) const { return text_ != o.text_; }

 private:
  std::string text_;
};

// Base of every host object handed to a tool. Objects are reference counted:
// whoever receives one owns one reference and gives it back with Recycle().
// The host keeps a count of live objects and of surplus give-backs so that a
// leak or a double give-back shows up in tests.
class RefObject {
 public:
  RefObject();
  RefObject(const RefObject&) = delete;
  RefObject& operator=(const RefObject&) = delete;

  void Use() { refs_.fetch_add(1, std::memory_order_relaxed); }
  void Recycle();
  int32_t RefCount() const { return refs_.load(); }

  static int64_t LiveObjects();
  static int64_t SurplusRecycles();

 protected:
  virtual ~RefObject();

 private:
  std::atomic<int32_t> refs_{1};
};

class Object : public RefObject {};
