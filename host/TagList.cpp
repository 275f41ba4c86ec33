#include "host/TagList.h"

TagList::TagList(std::initializer_list<Tag> tags) {
  for (const Tag& t : tags) Add(t);
}

void TagList::Add(Tag t) {
  if (t.id == TAG_DONE) return;
  tags_.push_back(std::move(t));
}

const Tag* TagList::Find(TagID id) const {
  for (const Tag& t : tags_)
    if (t.id == id) return &t;
  return nullptr;
}

bool TagList::Has(TagID id) const { return Find(id) != nullptr; }

int64_t TagList::GetLong(TagID id, int64_t def) const {
  const Tag* t = Find(id);
  if (!t) return def;
  if (auto v = std::get_if<int64_t>(&t->value)) return *v;
  if (auto v = std::get_if<double>(&t->value)) return int64_t(*v);
  return def;
}

double TagList::GetDouble(TagID id, double def) const {
  const Tag* t = Find(id);
  if (!t) return def;
  if (auto v = std::get_if<double>(&t->value)) return *v;
  if (auto v = std::get_if<int64_t>(&t->value)) return double(*v);
  return def;
}

std::string TagList::GetString(TagID id, const std::string& def) const {
  const Tag* t = Find(id);
  if (!t) return def;
  if (auto v = std::get_if<std::string>(&t->value)) return *v;
  return def;
}

const void* TagList::GetPtr(TagID id, const void* def) const {
  const Tag* t = Find(id);
  if (!t) return def;
  if (auto v = std::get_if<const void*>(&t->value)) return *v;
  return def;
}

std::vector<std::string> TagList::GetStrings(TagID id) const {
  std::vector<std::string> out;
  for (const Tag& t : tags_)
    if (t.id == id)
      if (auto v = std::get_if<std::string>(&t.value)) out.push_back(*v);
  return out;
}

std::vector<int64_t> TagList::GetLongs(TagID id) const {
  std::vector<int64_t> out;
  for (const Tag& t : tags_)
    if (t.id == id)
      if (auto v = std::get_if<int64_t>(&t.value)) out.push_back(*v);
  return out;
}
