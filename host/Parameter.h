#pragma once
#include <string>

#include "host/Object.h"

using TimeStamp = double;

// A value an input holds or a tool produces: a number, a text or an image.
class Parameter : public Object {};

class Number : public Parameter {
 public:
  explicit Number(double v = 0.0) : Value(v) {}
  operator double() const { return Value; }
  double Value;
};

class Text : public Parameter {
 public:
  explicit Text(std::string v = {}) : Value(std::move(v)) {}
  std::string Value;
};

// A Number for the length of a scope: made, passed to a set-value operation
// and given back when the scope ends.
class AutoNumber {
 public:
  explicit AutoNumber(double v) : num_(new Number(v)) {}
  ~AutoNumber() { num_->Recycle(); }
  AutoNumber(const AutoNumber&) = delete;
  AutoNumber& operator=(const AutoNumber&) = delete;
  Number* operator->() const { return num_; }
  operator Number*() const { return num_; }

 private:
  Number* num_;
};
