#include "inspect.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "runtime_block.h"
#include "windows_resources.h"

namespace launcher_pack {

namespace {

constexpr const char* kDoesNotFit = " (does not fit the file)";

// The resources of the Windows image in the size bytes at data, one line each. They are not
// part of what the launcher locates from the end of its file, so a problem with them is
// reported but leaves the status alone.
void PrintResources(const std::uint8_t* data, std::size_t size, std::ostream& out) {
  std::vector<Resource> resources;
  std::string error;
  if (!ListResources(data, size, &resources, &error)) {
    out << "resources: cannot be read: " << error << "\n";
    return;
  }
  out << "resources: " << resources.size() << "\n";
  for (const Resource& r : resources) {
    out << "  " << DescribeResourceType(r.type) << " " << DescribeResourceName(r.name)
        << " language " << r.language << ": " << r.data.size() << " bytes\n";
  }
}

}  // namespace

int InspectPackedFile(const Bytes& file, std::ostream& out) {
  const std::int64_t size = static_cast<std::int64_t>(file.size());
  auto does_not_fit = [&](const char* name, std::int64_t value) {
    out << name << ": " << value << kDoesNotFit << "\n";
    return 1;
  };
  auto int32_at = [&](std::int64_t pos) { return ReadLe32(file.data() + pos); };

  const MarkerSearch marker = FindSizeFieldMarker(file.data(), file.size());
  if (marker.count != 1) {
    out << "size field: marker " << kSizeFieldMarker
        << (marker.count == 0 ? " not found" : " occurs more than once") << "\n";
    return 1;
  }
  const std::int64_t field_pos = static_cast<std::int64_t>(marker.offset + kSizeFieldMarkerLength);
  if (field_pos + static_cast<std::int64_t>(kSizeFieldLength) > size) {
    return does_not_fit("size field offset", field_pos);
  }
  out << "size field offset: " << field_pos << "\n";
  out << "size field: " << ReadLe64(file.data() + field_pos) << "\n";

  // Positions follow the launcher's arithmetic, done in 64 bits so no value can wrap.
  out << "S: " << size << "\n";
  const std::int64_t z = int32_at(field_pos);
  if (z < 0 || z > size) return does_not_fit("Z", z);
  out << "Z: " << z << "\n";
  const auto eocd = FindEocd(file.data(), file.size());
  const std::int64_t r = eocd ? size - static_cast<std::int64_t>(*eocd + kEocdLength) : 0;
  out << "R: " << r << "\n";
  const std::int64_t trailer_end = payload_layout::TrailerEnd(size, z, r);
  if (trailer_end < kLengthFieldSize) return does_not_fit("trailerEnd", trailer_end);
  out << "trailerEnd: " << trailer_end << "\n";

  // Each block must fit together with the length field read just before it.
  // A Windows executable's payload begins at the settings text: it has no splash image block
  // (its splash is a resource) and no reserved block.
  const bool windows = PayloadVariantOf(file) == payload_layout::Variant::kWindows;
  const std::int64_t l = int32_at(trailer_end - kLengthFieldSize);
  const std::int64_t settings_pos = trailer_end - kLengthFieldSize - l;
  if (l < 0 || settings_pos - (windows ? 0 : kLengthFieldSize) < 0) return does_not_fit("L", l);
  out << "L: " << l << "\n";
  std::int64_t image_end = settings_pos;  // the payload's first byte
  if (windows) {
    out << "payload: Windows executable; the splash image is resource RT_RCDATA 100\n";
    PrintResources(file.data(), static_cast<std::size_t>(settings_pos), out);
  } else {
    const std::int64_t c = int32_at(settings_pos - kLengthFieldSize);
    const std::int64_t reserved_pos = settings_pos - kLengthFieldSize - c;
    if (c < 0 || reserved_pos - kLengthFieldSize < 0) return does_not_fit("C", c);
    out << "C: " << c << "\n";
    const std::int64_t d = int32_at(reserved_pos - kLengthFieldSize);
    const std::int64_t splash_pos = reserved_pos - kLengthFieldSize - d;
    if (d < 0 || splash_pos < 0) return does_not_fit("D", d);
    out << "D: " << d << "\n";
    if (d > 0) {
      out << "splash image: offset " << splash_pos << ", " << d << " bytes\n";
    } else {
      out << "splash image: none\n";
    }
    if (c > 0) out << "reserved block: offset " << reserved_pos << ", " << c << " bytes\n";
    if (const auto runtime = ReadRuntimeBlockHeader(file.data() + reserved_pos, c)) {
      out << "runtime: " << runtime->file_count << " files, " << runtime->unpacked_size
          << " bytes unpacked, " << runtime->compressed_size << " bytes compressed ("
          << (runtime->method == payload_layout::kRuntimeZstd ? "zstd" : "unknown method")
          << "), digest " << runtime->digest << "\n";
    }
    image_end = splash_pos;
  }
  // Only the image is searched: the payload may hold the record's text too.
  const auto version = FindLauncherVersion(file.data(), static_cast<std::size_t>(image_end));
  out << "launcher version: " << version.value_or("unknown") << "\n";

  int status = 0;

  const std::uint8_t* settings = file.data() + settings_pos;
  std::int64_t text_start = 0;
  if (l >= static_cast<std::int64_t>(sizeof kUtf8Bom) &&
      std::memcmp(settings, kUtf8Bom, sizeof kUtf8Bom) == 0) {
    text_start = sizeof kUtf8Bom;
  } else {
    out << "settings byte order mark: missing\n";
    status = 1;
  }
  const std::uint8_t* text_begin = settings + text_start;
  const std::uint8_t* text_end = std::find(text_begin, settings + l, 0);
  if (text_end == settings + l) {
    out << "settings terminator: missing\n";
    status = 1;
  }
  const std::vector<std::string> lines = SplitLines(std::string(text_begin, text_end));
  out << "settings: " << lines.size() << (lines.size() == 1 ? " line" : " lines") << "\n";
  for (const std::string& line : lines) out << "  " << line << "\n";

  const std::int64_t archive_pos = trailer_end + static_cast<std::int64_t>(kGapLength);
  const auto gap = file.begin() + trailer_end;
  if (std::any_of(gap, gap + kGapLength, [](std::uint8_t b) { return b != 0; })) {
    out << "gap: not all zero\n";
    status = 1;
  }
  out << "archive: offset " << archive_pos << ", " << z << " bytes\n";
  const std::int64_t eocd_pos = archive_pos + z - static_cast<std::int64_t>(kEocdLength);
  if (eocd_pos < archive_pos || !std::equal(file.begin() + eocd_pos, file.begin() + eocd_pos + 4,
                                            std::begin(kEocdSignature))) {
    out << "jar entries: no end record at the end of the archive\n";
    return 1;
  }
  out << "jar entries: " << ReadLe16(file.data() + eocd_pos + 10) << "\n";
  return status;
}

}  // namespace launcher_pack
