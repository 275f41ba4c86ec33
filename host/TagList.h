#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <variant>
#include <vector>

#include "host/Tags.h"

// One tag of a tag list: an identifier and an integer, double, text or pointer.
struct Tag {
  using Value = std::variant<int64_t, double, std::string, const void*>;
  TagID id;
  Value value;

  Tag(TagID i, int v) : id(i), value(int64_t(v)) {}
  Tag(TagID i, long v) : id(i), value(int64_t(v)) {}
  Tag(TagID i, long long v) : id(i), value(int64_t(v)) {}
  Tag(TagID i, double v) : id(i), value(v) {}
  Tag(TagID i, const char* v) : id(i), value(std::string(v)) {}
  Tag(TagID i, std::string v) : id(i), value(std::move(v)) {}
  Tag(TagID i, const void* v) : id(i), value(v) {}
};

// An ordered list of tags. The closing 0 tag of the host's lists is implied
// by the end of the vector; a TAG_DONE given explicitly ends the list early.
class TagList {
 public:
  TagList() = default;
  TagList(std::initializer_list<Tag> tags);

  void Add(Tag t);
  size_t size() const { return tags_.size(); }
  const std::vector<Tag>& tags() const { return tags_; }

  bool Has(TagID id) const;
  int64_t GetLong(TagID id, int64_t def) const;
  double GetDouble(TagID id, double def) const;
  std::string GetString(TagID id, const std::string& def) const;
  const void* GetPtr(TagID id, const void* def) const;
  // Every value of a repeated tag, in order (multi-button labels, channels).
  std::vector<std::string> GetStrings(TagID id) const;
  std::vector<int64_t> GetLongs(TagID id) const;

 private:
  const Tag* Find(TagID id) const;
  std::vector<Tag> tags_;
};
