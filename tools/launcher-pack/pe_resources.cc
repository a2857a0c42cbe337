#include "pe_resources.h"

#include <algorithm>
#include <map>

#include "payload_format.h"

namespace launcher_pack {

namespace {

constexpr std::uint32_t kHighBit = 0x80000000;
constexpr std::size_t kDirectorySize = 16, kEntrySize = 8, kDataEntrySize = 16;

std::uint32_t U32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(ReadLe32(p));
}

void Put16(Bytes& out, std::size_t at, std::uint32_t v) {
  out[at] = static_cast<std::uint8_t>(v);
  out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(Bytes& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::size_t Align8(std::size_t v) {
  return (v + 7) & ~std::size_t{7};
}

// The walk over a resource tree whose offsets all count from its first byte.
struct TreeWalk {
  const std::uint8_t* image;
  const PeImage* pe;
  const std::uint8_t* tree;
  std::size_t tree_size;
  std::size_t entries_left;  // a tree visits each 8-byte entry once, unless entries are shared
  std::size_t data_left;     // likewise for the bytes of the data
  std::vector<Resource>* out;
  std::string* error;

  bool Fail(const std::string& what) {
    *error = "its resource directory " + what;
    return false;
  }

  bool ReadId(std::uint32_t field, ResourceId* id) {
    if ((field & kHighBit) == 0) {
      if (field > 0xFFFF) return Fail("holds an entry number above 65535");
      *id = ResourceId(static_cast<std::uint16_t>(field));
      return true;
    }
    const std::size_t at = field & ~kHighBit;
    if (at + 2 > tree_size) return Fail("names a string outside it");
    const std::size_t length = ReadLe16(tree + at);
    if (length == 0) return Fail("holds an empty name");
    if (at + 2 + 2 * length > tree_size) return Fail("names a string outside it");
    std::u16string name;
    for (std::size_t i = 0; i < length; ++i) name.push_back(ReadLe16(tree + at + 2 + 2 * i));
    *id = ResourceId(std::move(name));
    return true;
  }

  bool ReadData(std::size_t at, Resource* current) {
    if (at + kDataEntrySize > tree_size) return Fail("has a data entry outside it");
    const std::uint32_t rva = U32(tree + at), size = U32(tree + at + 4);
    std::size_t available = 0;
    const std::uint8_t* bytes = BytesAtRva(image, *pe, rva, &available);
    if (bytes == nullptr || size > available) {
      return Fail("places the data of " + DescribeResourceType(current->type) + " " +
                  DescribeResourceName(current->name) + " outside the sections' data");
    }
    if (size > data_left) return Fail("shares data between entries beyond the image's size");
    data_left -= size;
    current->data.assign(bytes, bytes + size);
    current->codepage = U32(tree + at + 8);
    out->push_back(*current);
    return true;
  }

  // Level 0 holds the types, 1 the names, 2 the languages, whose entries lead to the data.
  bool ReadDirectory(std::size_t at, int level, Resource* current) {
    if (at + kDirectorySize > tree_size) return Fail("has a directory outside it");
    const std::size_t count = std::size_t{ReadLe16(tree + at + 12)} + ReadLe16(tree + at + 14);
    if (at + kDirectorySize + count * kEntrySize > tree_size) {
      return Fail("has a directory whose entries lie outside it");
    }
    if (count > entries_left) return Fail("shares directories between entries");
    entries_left -= count;
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint8_t* entry = tree + at + kDirectorySize + i * kEntrySize;
      ResourceId id;
      if (!ReadId(U32(entry), &id)) return false;
      const std::uint32_t target = U32(entry + 4);
      const bool subdirectory = (target & kHighBit) != 0;
      if (level < 2) {
        if (!subdirectory) return Fail("has data where a type or name directory belongs");
        (level == 0 ? current->type : current->name) = id;
        if (!ReadDirectory(target & ~kHighBit, level + 1, current)) return false;
      } else {
        if (subdirectory || id.named()) return Fail("is deeper than type, name and language");
        current->language = id.id;
        if (!ReadData(target, current)) return false;
      }
    }
    return true;
  }
};

}  // namespace

bool operator<(const ResourceId& a, const ResourceId& b) {
  if (a.named() != b.named()) return a.named();
  return a.named() ? a.name < b.name : a.id < b.id;
}

bool ReadResources(const std::uint8_t* data, std::size_t size, const PeImage& pe,
                   std::vector<Resource>* resources, std::string* error) {
  resources->clear();
  const DataDirectory directory = ReadDataDirectory(data, pe, kResourceDirectory);
  if (directory.address == 0 && directory.size == 0) return true;
  std::size_t tree_size = 0;
  const std::uint8_t* tree = BytesAtRva(data, pe, directory.address, &tree_size);
  if (tree == nullptr) {
    *error = "its resource directory lies outside the sections' data";
    return false;
  }
  TreeWalk walk{data, &pe, tree, tree_size, tree_size / kEntrySize, size, resources, error};
  Resource current;
  return walk.ReadDirectory(0, 0, &current);
}

Bytes BuildResourceTree(std::vector<Resource> resources, std::uint32_t rva) {
  std::stable_sort(resources.begin(), resources.end(), [](const Resource& a, const Resource& b) {
    if (a.type != b.type) return a.type < b.type;
    if (a.name != b.name) return a.name < b.name;
    return a.language < b.language;
  });
  resources.erase(std::unique(resources.begin(), resources.end(),
                              [](const Resource& a, const Resource& b) {
                                return a.type == b.type && a.name == b.name &&
                                       a.language == b.language;
                              }),
                  resources.end());

  // The tree: each type's names, each name's resources (one per language), in order.
  struct NameNode {
    const ResourceId* name;
    std::vector<const Resource*> languages;
    std::size_t at = 0;
  };
  struct TypeNode {
    const ResourceId* type;
    std::vector<NameNode> names;
    std::size_t at = 0;
  };
  std::vector<TypeNode> types;
  for (const Resource& r : resources) {
    if (types.empty() || *types.back().type != r.type) types.push_back({&r.type, {}});
    auto& names = types.back().names;
    if (names.empty() || *names.back().name != r.name) names.push_back({&r.name, {}});
    names.back().languages.push_back(&r);
  }

  // Offsets: the directories breadth first, then the data entries, the names and the data.
  std::size_t end = kDirectorySize + types.size() * kEntrySize;
  for (TypeNode& t : types) {
    t.at = end;
    end += kDirectorySize + t.names.size() * kEntrySize;
  }
  for (TypeNode& t : types) {
    for (NameNode& n : t.names) {
      n.at = end;
      end += kDirectorySize + n.languages.size() * kEntrySize;
    }
  }
  const std::size_t data_entries = end;
  end += resources.size() * kDataEntrySize;
  std::map<const ResourceId*, std::size_t> strings;
  auto add_string = [&](const ResourceId* id) {
    if (!id->named()) return;
    strings[id] = end;
    end += 2 + 2 * id->name.size();
  };
  for (const TypeNode& t : types) {
    add_string(t.type);
    for (const NameNode& n : t.names) add_string(n.name);
  }
  std::vector<std::size_t> data_at;
  for (const Resource& r : resources) {
    end = Align8(end);
    data_at.push_back(end);
    end += r.data.size();
  }

  Bytes out(end, 0);
  auto directory = [&](std::size_t at, std::size_t named, std::size_t total) {
    Put16(out, at + 12, static_cast<std::uint32_t>(named));
    Put16(out, at + 14, static_cast<std::uint32_t>(total - named));
  };
  auto entry = [&](std::size_t at, const ResourceId& id, std::uint32_t target) {
    Put32(out, at, id.named() ? kHighBit | static_cast<std::uint32_t>(strings[&id]) : id.id);
    Put32(out, at + 4, target);
  };
  for (const auto& [id, at] : strings) {
    Put16(out, at, static_cast<std::uint32_t>(id->name.size()));
    for (std::size_t i = 0; i < id->name.size(); ++i) Put16(out, at + 2 + 2 * i, id->name[i]);
  }
  std::size_t named_types = 0;
  for (const TypeNode& t : types) named_types += t.type->named();
  directory(0, named_types, types.size());
  std::size_t next_data = 0;
  for (std::size_t ti = 0; ti < types.size(); ++ti) {
    const TypeNode& t = types[ti];
    entry(kDirectorySize + ti * kEntrySize, *t.type, kHighBit | static_cast<std::uint32_t>(t.at));
    std::size_t named_names = 0;
    for (const NameNode& n : t.names) named_names += n.name->named();
    directory(t.at, named_names, t.names.size());
    for (std::size_t ni = 0; ni < t.names.size(); ++ni) {
      const NameNode& n = t.names[ni];
      entry(t.at + kDirectorySize + ni * kEntrySize, *n.name,
            kHighBit | static_cast<std::uint32_t>(n.at));
      directory(n.at, 0, n.languages.size());
      for (std::size_t li = 0; li < n.languages.size(); ++li, ++next_data) {
        const Resource& r = *n.languages[li];
        const std::size_t data_entry = data_entries + next_data * kDataEntrySize;
        entry(n.at + kDirectorySize + li * kEntrySize, ResourceId(r.language),
              static_cast<std::uint32_t>(data_entry));
        // The data entry holds an address in the loaded image, not an offset in the tree.
        const std::size_t at = data_at[static_cast<std::size_t>(&r - resources.data())];
        Put32(out, data_entry, rva + static_cast<std::uint32_t>(at));
        Put32(out, data_entry + 4, static_cast<std::uint32_t>(r.data.size()));
        Put32(out, data_entry + 8, r.codepage);
        std::copy(r.data.begin(), r.data.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
      }
    }
  }
  return out;
}

std::string DescribeResourceType(const ResourceId& type) {
  static const std::map<std::uint16_t, const char*> kNames = {
      {1, "RT_CURSOR"},      {2, "RT_BITMAP"},     {3, "RT_ICON"},          {4, "RT_MENU"},
      {5, "RT_DIALOG"},      {6, "RT_STRING"},     {7, "RT_FONTDIR"},       {8, "RT_FONT"},
      {9, "RT_ACCELERATOR"}, {10, "RT_RCDATA"},    {11, "RT_MESSAGETABLE"}, {12, "RT_GROUP_CURSOR"},
      {14, "RT_GROUP_ICON"}, {16, "RT_VERSION"},   {17, "RT_DLGINCLUDE"},   {19, "RT_PLUGPLAY"},
      {20, "RT_VXD"},        {21, "RT_ANICURSOR"}, {22, "RT_ANIICON"},      {23, "RT_HTML"},
      {24, "RT_MANIFEST"}};
  if (!type.named()) {
    const auto found = kNames.find(type.id);
    if (found != kNames.end()) return found->second;
  }
  return DescribeResourceName(type);
}

std::string DescribeResourceName(const ResourceId& name) {
  if (!name.named()) return std::to_string(name.id);
  std::string text = "\"";
  for (std::size_t i = 0; i < name.name.size(); ++i) {
    std::uint32_t cp = name.name[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < name.name.size() && name.name[i + 1] >= 0xDC00 &&
        name.name[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (name.name[++i] - 0xDC00);
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;  // an unpaired surrogate has no UTF-8 form
    }
    AppendUtf8(text, cp);
  }
  return text + "\"";
}

}  // namespace launcher_pack
