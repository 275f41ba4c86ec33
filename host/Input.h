#pragma once
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "host/Image.h"
#include "host/Parameter.h"
#include "host/TagList.h"

class Operator;
class Request;

// A tool's input: a control holding a number or a text over time, or an
// image connection. The host owns every input; a tool keeps plain pointers.
class Input : public Object {
 public:
  Input(Operator* owner, std::string name, std::string id, std::string page, const TagList& tags);

  Operator* const Owner;
  const std::string ID;
  const std::string Page;
  const TagList CreationTags;
  const std::string DataType;     // "Number", "Image" or "Text"
  const std::string ControlType;  // empty for image inputs
  const double AcceptMin, AcceptMax, SliderMin, SliderMax, Default;
  const std::vector<std::string> Buttons;
  const bool Notifies;
  const bool Optional;
  const int LinkNumber;

  const std::string& Name() const { return name_; }
  bool Visible() const { return visible_; }

  // Changes display attributes at once: IC_Visible, IC_DisplayName.
  void SetAttrs(const TagList& tags);

  // The value at the request's time: a Number, a Text, or an Image (null when
  // an optional image is not connected). The request keeps the reference.
  Parameter* GetValue(Request* req, int flags = 0);
  // The value at a time, as a new object the caller gives back with Recycle().
  Parameter* GetSource(TimeStamp t);
  // Sets the value at a time (a key when the input is animated). Never notifies.
  virtual void SetSource(Parameter* value, TimeStamp t, TagList* tags = nullptr, void* reserved = nullptr);

  double ValueAt(TimeStamp t) const;
  const std::string& TextValue() const { return text_; }
  bool Animated() const { return !keys_.empty(); }
  const std::map<double, double>& Keys() const { return keys_; }
  double Constant() const { return constant_; }

  // Host side: what a user's edit does (a constant replaces any animation,
  // EditKeys replaces the keys). Returns whether the value changed; a change
  // of a notifying input is then delivered to the owner.
  bool Edit(double v, TimeStamp t = 0.0);
  bool EditKeys(const std::map<double, double>& keys);
  bool EditText(const std::string& v);
  double ClampToAccepted(double v) const;

  // Host side: image connection (the input keeps one reference).
  void Connect(Image* img);
  Image* Connected() const { return image_; }

 protected:
  ~Input() override;

 private:
  void NotifyOwner(double v, TimeStamp t);
  std::string name_;
  bool visible_;
  double constant_;
  std::map<double, double> keys_;
  std::string text_;
  Image* image_ = nullptr;
};

class Output : public Object {
 public:
  Output(Operator* owner, std::string name, std::string id, const TagList& tags);
  Operator* const Owner;
  const std::string Name, ID;
  const int LinkNumber;
  // Hands the frame's result to the host; the request takes the reference.
  void Set(Request* req, Parameter* value, TagList* tags = nullptr);
};

// One render request: a time and what the tool produced for it.
class Request {
 public:
  Request(Operator* op, TimeStamp t) : Op(op), Time(t) {}
  ~Request();
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;

  Operator* const Op;
  const TimeStamp Time;

  void Hold(Parameter* p);  // released with the request
  void SetResult(Output* out, Parameter* p);
  Parameter* GetResult(Output* out) const;
  Parameter* TakeResult(Output* out);  // caller now owns it

 private:
  std::vector<Parameter*> held_;
  std::vector<std::pair<Output*, Parameter*>> results_;
};
