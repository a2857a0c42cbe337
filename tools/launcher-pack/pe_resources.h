// The resource tree of a PE image: reading every resource out of it and laying out a new one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pe_image.h"

namespace launcher_pack {

inline constexpr std::uint16_t kRtIcon = 3;
inline constexpr std::uint16_t kRtString = 6;
inline constexpr std::uint16_t kRtRcdata = 10;
inline constexpr std::uint16_t kRtGroupIcon = 14;
inline constexpr std::uint16_t kRtVersion = 16;
inline constexpr std::uint16_t kRtManifest = 24;

// A resource type, name or language: a number, or a UTF-16 name when name is not empty.
struct ResourceId {
  std::uint16_t id = 0;
  std::u16string name;

  ResourceId() = default;
  ResourceId(std::uint16_t number) : id(number) {}  // NOLINT: numbers are the common case
  explicit ResourceId(std::u16string text) : name(std::move(text)) {}
  bool named() const { return !name.empty(); }
  bool operator==(const ResourceId& o) const { return id == o.id && name == o.name; }
  bool operator!=(const ResourceId& o) const { return !(*this == o); }
};

// The order of a directory's entries: names first, by UTF-16 code units, then numbers.
bool operator<(const ResourceId& a, const ResourceId& b);

struct Resource {
  ResourceId type, name;
  std::uint16_t language = 0;
  Bytes data;
  std::uint32_t codepage = 0;
};

// Reads every resource of the image (none when it has no resource directory). The tree must
// have the usual three levels (type, name, language); every offset is checked, and a tree
// whose entries share data beyond the image's own size is refused.
bool ReadResources(const std::uint8_t* data, std::size_t size, const PeImage& pe,
                   std::vector<Resource>* resources, std::string* error);

// Lays out a resource tree for the given resources at address rva: the directories, sorted,
// then the data entries, the names and the data, each datum 8-byte aligned. Of several
// resources with the same type, name and language the first is kept.
Bytes BuildResourceTree(std::vector<Resource> resources, std::uint32_t rva);

// "RT_ICON", "RT_MANIFEST", ... or the number; a name in double quotes, as UTF-8.
std::string DescribeResourceType(const ResourceId& type);
std::string DescribeResourceName(const ResourceId& name);

}  // namespace launcher_pack
