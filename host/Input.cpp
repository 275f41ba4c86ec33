#include "host/Input.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "host/Operator.h"

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();
}

Input::Input(Operator* owner, std::string name, std::string id, std::string page, const TagList& tags)
    : Owner(owner),
      ID(std::move(id)),
      Page(std::move(page)),
      CreationTags(tags),
      DataType(tags.GetString(INP_DataType, "Number")),
      ControlType(tags.GetString(INP_ControlType, "")),
      AcceptMin(tags.GetDouble(INP_AcceptMin, -kInf)),
      AcceptMax(tags.GetDouble(INP_AcceptMax, kInf)),
      SliderMin(tags.GetDouble(INP_SliderMin, tags.GetDouble(INP_AcceptMin, 0.0))),
      SliderMax(tags.GetDouble(INP_SliderMax, tags.GetDouble(INP_AcceptMax, 1.0))),
      Default(tags.GetDouble(INP_Default, 0.0)),
      Buttons(tags.GetStrings(MBC_AddButton)),
      Notifies(tags.GetLong(INP_Notify, 0) != 0),
      Optional(tags.GetLong(INP_Required, 1) == 0),
      LinkNumber(int(tags.GetLong(INP_LinkNumber, 0))),
      name_(std::move(name)),
      visible_(tags.GetLong(IC_Visible, 1) != 0),
      constant_(Default),
      text_(tags.GetString(INP_DefaultText, "")) {}

Input::~Input() {
  if (image_) image_->Recycle();
}

void Input::SetAttrs(const TagList& tags) {
  if (tags.Has(IC_Visible)) visible_ = tags.GetLong(IC_Visible, 1) != 0;
  if (tags.Has(IC_DisplayName)) name_ = tags.GetString(IC_DisplayName, name_);
}

double Input::ValueAt(TimeStamp t) const {
  if (keys_.empty()) return constant_;
  auto hi = keys_.lower_bound(t);
  if (hi == keys_.begin()) return hi->second;
  if (hi == keys_.end()) return std::prev(hi)->second;
  if (hi->first == t) return hi->second;
  auto lo = std::prev(hi);
  double f = (t - lo->first) / (hi->first - lo->first);
  return lo->second + (hi->second - lo->second) * f;
}

Parameter* Input::GetValue(Request* req, int) {
  Parameter* p = nullptr;
  if (DataType == "Image") {
    if (!image_) return nullptr;
    image_->Use();
    p = image_;
  } else if (DataType == "Text") {
    p = new Text(text_);
  } else {
    p = new Number(ValueAt(req->Time));
  }
  req->Hold(p);
  return p;
}

Parameter* Input::GetSource(TimeStamp t) {
  if (DataType == "Image") {
    if (image_) image_->Use();
    return image_;
  }
  if (DataType == "Text") return new Text(text_);
  return new Number(ValueAt(t));
}

void Input::SetSource(Parameter* value, TimeStamp t, TagList*, void*) {
  if (auto* n = dynamic_cast<Number*>(value)) {
    if (keys_.empty())
      constant_ = n->Value;
    else
      keys_[t] = n->Value;
  } else if (auto* s = dynamic_cast<Text*>(value)) {
    text_ = s->Value;
  }
}

double Input::ClampToAccepted(double v) const {
  if (std::isnan(v)) return v;
  return std::min(std::max(v, AcceptMin), AcceptMax);
}

bool Input::Edit(double v, TimeStamp t) {
  if (keys_.empty() && constant_ == v) return false;
  keys_.clear();
  constant_ = v;
  NotifyOwner(v, t);
  return true;
}

bool Input::EditKeys(const std::map<double, double>& keys) {
  if (keys.empty() || keys == keys_) return false;
  keys_ = keys;
  NotifyOwner(keys_.begin()->second, keys_.begin()->first);
  return true;
}

bool Input::EditText(const std::string& v) {
  if (v == text_) return false;
  text_ = v;
  return true;
}

void Input::NotifyOwner(double v, TimeStamp t) {
  if (!Notifies || !Owner) return;
  AutoNumber n(v);
  Owner->NotifyChanged(this, n, t, nullptr);
}

void Input::Connect(Image* img) {
  if (img) img->Use();
  if (image_) image_->Recycle();
  image_ = img;
}

Output::Output(Operator* owner, std::string name, std::string id, const TagList& tags)
    : Owner(owner), Name(std::move(name)), ID(std::move(id)), LinkNumber(int(tags.GetLong(INP_LinkNumber, 0))) {}

void Output::Set(Request* req, Parameter* value, TagList*) { req->SetResult(this, value); }

Request::~Request() {
  for (Parameter* p : held_) p->Recycle();
  for (auto& r : results_)
    if (r.second) r.second->Recycle();
}

void Request::Hold(Parameter* p) {
  if (p) held_.push_back(p);
}

void Request::SetResult(Output* out, Parameter* p) {
  for (auto& r : results_)
    if (r.first == out) {
      if (r.second) r.second->Recycle();
      r.second = p;
      return;
    }
  results_.emplace_back(out, p);
}

Parameter* Request::GetResult(Output* out) const {
  for (auto& r : results_)
    if (r.first == out) return r.second;
  return nullptr;
}

Parameter* Request::TakeResult(Output* out) {
  for (auto& r : results_)
    if (r.first == out) {
      Parameter* p = r.second;
      r.second = nullptr;
      return p;
    }
  return nullptr;
}
