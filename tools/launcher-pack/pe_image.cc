#include "pe_image.h"

#include <algorithm>
#include <cstring>

namespace launcher_pack {

namespace {

constexpr std::size_t kFileHeaderSize = 20;
constexpr std::size_t kSectionHeaderSize = 40;
// Initialized data that is read-only, as a linker marks a resource section.
constexpr std::uint32_t kResourceSectionFlags = 0x40000040;

std::uint32_t U32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(ReadLe32(p));
}

void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool IsPowerOfTwo(std::uint32_t v) {
  return v != 0 && (v & (v - 1)) == 0;
}

std::uint64_t AlignUp(std::uint64_t v, std::uint32_t alignment) {
  return (v + alignment - 1) / alignment * alignment;
}

std::string Hex(std::uint64_t v) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  do {
    s.insert(s.begin(), kDigits[v & 15]);
    v >>= 4;
  } while (v != 0);
  return "0x" + s;
}

std::uint64_t SectionEnd(const PeImage& pe) {
  std::uint64_t end = AlignUp(pe.size_of_headers, pe.section_alignment);
  for (const PeSection& s : pe.sections) {
    const std::uint64_t span = s.virtual_size != 0 ? s.virtual_size : s.raw_size;
    end = std::max(end, AlignUp(std::uint64_t{s.virtual_address} + span, pe.section_alignment));
  }
  return end;
}

}  // namespace

bool ParsePeImage(const std::uint8_t* data, std::size_t size, PeImage* pe, std::string* error) {
  auto fail = [&](const std::string& what) {
    *error = what;
    return false;
  };
  if (size < 0x40 || data[0] != 'M' || data[1] != 'Z') return fail("not a PE image (no MZ header)");
  const std::uint64_t pe_offset = U32(data + 0x3C);
  if (pe_offset + 4 + kFileHeaderSize > size || std::memcmp(data + pe_offset, "PE\0\0", 4) != 0) {
    return fail("not a PE image (no PE signature at the offset its MZ header gives)");
  }
  *pe = PeImage{};
  pe->file_header = static_cast<std::size_t>(pe_offset + 4);
  const std::uint8_t* file_header = data + pe->file_header;
  const std::size_t section_count = ReadLe16(file_header + 2);
  const std::size_t optional_size = ReadLe16(file_header + 16);
  pe->optional_header = pe->file_header + kFileHeaderSize;
  if (optional_size < 2 || pe->optional_header + optional_size > size) {
    return fail("the optional header does not fit the file");
  }
  const std::uint8_t* optional = data + pe->optional_header;
  const std::uint16_t magic = ReadLe16(optional);
  if (magic != 0x10B && magic != 0x20B) {
    return fail("unknown optional header magic " + Hex(magic) + " (neither PE32 nor PE32+)");
  }
  pe->pe32_plus = magic == 0x20B;
  // The data directories follow the stack and heap sizes, 4-byte fields in PE32, 8-byte in PE32+.
  const std::size_t count_field = pe->pe32_plus ? 108 : 92;
  if (optional_size < count_field + 4) return fail("the optional header is too short");
  pe->section_alignment = U32(optional + 32);
  pe->file_alignment = U32(optional + 36);
  pe->size_of_headers = U32(optional + 60);
  pe->data_directory_count = U32(optional + count_field);
  pe->data_directories = pe->optional_header + count_field + 4;
  if (std::uint64_t{pe->data_directory_count} * 8 > optional_size - count_field - 4) {
    return fail("its data directories do not fit the optional header");
  }
  if (!IsPowerOfTwo(pe->file_alignment) || !IsPowerOfTwo(pe->section_alignment) ||
      pe->section_alignment < pe->file_alignment) {
    return fail("unusual alignment (sections " + Hex(pe->section_alignment) + ", file " +
                Hex(pe->file_alignment) + ")");
  }
  pe->section_table = pe->optional_header + optional_size;
  if (pe->section_table + section_count * kSectionHeaderSize > size) {
    return fail("the section table does not fit the file");
  }
  for (std::size_t i = 0; i < section_count; ++i) {
    const std::uint8_t* h = data + pe->section_table + i * kSectionHeaderSize;
    PeSection s;
    s.name.assign(reinterpret_cast<const char*>(h),
                  std::find(h, h + 8, 0) - h);  // a name of 8 bytes has no NUL
    s.virtual_size = U32(h + 8);
    s.virtual_address = U32(h + 12);
    s.raw_size = U32(h + 16);
    s.raw_offset = U32(h + 20);
    s.characteristics = U32(h + 36);
    if (s.raw_size != 0 && std::uint64_t{s.raw_offset} + s.raw_size > size) {
      return fail("the data of section '" + s.name + "' lies outside the file");
    }
    pe->sections.push_back(s);
  }
  return true;
}

DataDirectory ReadDataDirectory(const std::uint8_t* data, const PeImage& pe, int index) {
  if (index < 0 || static_cast<std::uint32_t>(index) >= pe.data_directory_count) return {};
  const std::uint8_t* entry = data + pe.data_directories + 8 * static_cast<std::size_t>(index);
  return {U32(entry), U32(entry + 4)};
}

const std::uint8_t* BytesAtRva(const std::uint8_t* data, const PeImage& pe, std::uint32_t rva,
                               std::size_t* available) {
  for (const PeSection& s : pe.sections) {
    // Bytes past the raw data are zeros the loader supplies; resources never live there.
    const std::uint32_t span =
        s.virtual_size != 0 ? std::min(s.virtual_size, s.raw_size) : s.raw_size;
    if (rva >= s.virtual_address && rva - s.virtual_address < span) {
      const std::uint32_t into = rva - s.virtual_address;
      *available = span - into;
      return data + s.raw_offset + into;
    }
  }
  *available = 0;
  return nullptr;
}

std::uint32_t NextSectionAddress(const PeImage& pe) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(SectionEnd(pe), 0xFFFFFFFF));
}

bool AddSection(const Bytes& image, const PeImage& pe, const char* name, const Bytes& contents,
                int directory, Bytes* out, std::vector<std::string>* warnings, std::string* error) {
  auto fail = [&](const std::string& what) {
    *error = what;
    return false;
  };
  if (directory < 0 || static_cast<std::uint32_t>(directory) >= pe.data_directory_count) {
    return fail("it has no data directory entry " + std::to_string(directory));
  }
  // The new header goes right after the last one, which needs 40 unused bytes before the
  // first section's data.
  const std::size_t table_end = pe.section_table + pe.sections.size() * kSectionHeaderSize;
  std::uint64_t headers_end = std::min<std::uint64_t>(pe.size_of_headers, image.size());
  std::uint64_t data_end = std::min<std::uint64_t>(pe.size_of_headers, image.size());
  for (const PeSection& s : pe.sections) {
    if (s.raw_size == 0) continue;
    headers_end = std::min<std::uint64_t>(headers_end, s.raw_offset);
    data_end = std::max<std::uint64_t>(data_end, std::uint64_t{s.raw_offset} + s.raw_size);
  }
  if (table_end + kSectionHeaderSize > headers_end || pe.sections.size() >= 0xFFFF) {
    return fail("no room for another section header (the headers end at byte " +
                std::to_string(headers_end) + ")");
  }
  if (std::any_of(image.begin() + table_end, image.begin() + table_end + kSectionHeaderSize,
                  [](std::uint8_t b) { return b != 0; })) {
    return fail("the bytes after its section table are in use");
  }
  const std::uint64_t address = SectionEnd(pe);
  const std::uint64_t image_end = AlignUp(address + contents.size(), pe.section_alignment);
  if (image_end > 0xFFFFFFFF) return fail("the image would grow beyond 4 GiB");

  // The section's data goes where a linker would put it, right after the data of the others;
  // what follows them (normally the COFF symbol table and its strings) moves behind it.
  std::uint64_t trailer_end = image.size();
  const DataDirectory certificate = ReadDataDirectory(image.data(), pe, kCertificateDirectory);
  if (certificate.address != 0 || certificate.size != 0) {
    warnings->push_back(
        "the launcher image's certificate table (its signature) is dropped: it does not cover "
        "the changed resources");
    // The table is normally the last thing in the file; then it goes.
    if (std::uint64_t{certificate.address} + certificate.size == image.size() &&
        certificate.address >= data_end) {
      trailer_end = certificate.address;
    }
  }
  const std::uint64_t raw_offset = AlignUp(data_end, pe.file_alignment);
  const std::uint64_t raw_size = AlignUp(contents.size(), pe.file_alignment);
  const std::uint64_t shift = raw_offset + raw_size - data_end;
  if (trailer_end + shift > 0xFFFFFFFF) return fail("the image would grow beyond 4 GiB");
  out->assign(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(data_end));
  out->resize(raw_offset, 0);
  out->insert(out->end(), contents.begin(), contents.end());
  out->resize(raw_offset + raw_size, 0);
  out->insert(out->end(), image.begin() + static_cast<std::ptrdiff_t>(data_end),
              image.begin() + static_cast<std::ptrdiff_t>(trailer_end));
  if (certificate.address != 0 || certificate.size != 0) {
    Put32(out->data() + pe.data_directories + 8 * kCertificateDirectory, 0);
    Put32(out->data() + pe.data_directories + 8 * kCertificateDirectory + 4, 0);
  }
  auto moved = [&](std::uint8_t* field) {
    const std::uint32_t offset = U32(field);
    if (offset != 0 && offset >= data_end) Put32(field, static_cast<std::uint32_t>(offset + shift));
  };
  moved(out->data() + pe.file_header + 8);  // PointerToSymbolTable
  // Debug directory entries give their data's file offset too.
  const DataDirectory debug = ReadDataDirectory(image.data(), pe, kDebugDirectory);
  std::size_t available = 0;
  const std::uint8_t* entries = BytesAtRva(image.data(), pe, debug.address, &available);
  if (entries != nullptr) {
    const std::size_t at = static_cast<std::size_t>(entries - image.data());
    for (std::size_t i = 0; i < std::min<std::size_t>(debug.size, available) / 28; ++i) {
      moved(out->data() + at + 28 * i + 24);
    }
  }

  std::uint8_t* header = out->data() + table_end;
  std::memcpy(header, name, std::min<std::size_t>(std::strlen(name), 8));
  Put32(header + 8, static_cast<std::uint32_t>(contents.size()));
  Put32(header + 12, static_cast<std::uint32_t>(address));
  Put32(header + 16, static_cast<std::uint32_t>(raw_size));
  Put32(header + 20, static_cast<std::uint32_t>(raw_offset));
  Put32(header + 36, kResourceSectionFlags);

  std::uint8_t* file_header = out->data() + pe.file_header;
  Put16(file_header + 2, static_cast<std::uint32_t>(pe.sections.size() + 1));
  std::uint8_t* optional = out->data() + pe.optional_header;
  Put32(optional + 8, U32(optional + 8) + static_cast<std::uint32_t>(raw_size));  // initialized
  Put32(optional + 56, static_cast<std::uint32_t>(image_end));                    // SizeOfImage
  Put32(optional + 64, 0);                                                        // CheckSum
  std::uint8_t* entry = out->data() + pe.data_directories + 8 * static_cast<std::size_t>(directory);
  Put32(entry, static_cast<std::uint32_t>(address));
  Put32(entry + 4, static_cast<std::uint32_t>(contents.size()));
  return true;
}

}  // namespace launcher_pack
