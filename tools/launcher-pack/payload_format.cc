#include "payload_format.h"

#include <algorithm>
#include <cstring>

namespace launcher_pack {

payload_layout::Variant PayloadVariantOf(const Bytes& image) {
  const bool windows = image.size() >= 2 && image[0] == 'M' && image[1] == 'Z';
  return windows ? payload_layout::Variant::kWindows : payload_layout::Variant::kLinux;
}

void AppendLe32(Bytes& out, std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::int32_t ReadLe32(const std::uint8_t* p) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
  return static_cast<std::int32_t>(v);
}

std::uint16_t ReadLe16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

void WriteLe64(std::uint8_t* p, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint64_t ReadLe64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

MarkerSearch FindSizeFieldMarker(const std::uint8_t* data, std::size_t size) {
  MarkerSearch result;
  if (size < kSizeFieldMarkerLength) return result;
  const std::size_t last = size - kSizeFieldMarkerLength;
  for (std::size_t i = 0; i <= last; ++i) {
    // memchr skips quickly to the next candidate first byte.
    const void* hit = std::memchr(data + i, kSizeFieldMarker[0], last - i + 1);
    if (hit == nullptr) break;
    i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data);
    if (std::memcmp(data + i, kSizeFieldMarker, kSizeFieldMarkerLength) != 0) continue;
    if (result.count++ == 0) {
      result.offset = i;
    } else {
      break;
    }
  }
  return result;
}

std::optional<std::string> FindLauncherVersion(const std::uint8_t* data, std::size_t size) {
  const std::uint8_t* end = data + size;
  const std::uint8_t* p = data;
  while ((p = std::search(p, end, kVersionMarker, kVersionMarker + kVersionMarkerLength)) != end) {
    p += kVersionMarkerLength;
    const std::uint8_t* limit = p + std::min<std::size_t>(kMaxVersionLength + 1, end - p);
    const std::uint8_t* nul = std::find(p, limit, 0);
    // A marker without a terminated, printable version is not a record, e.g. the bare text.
    if (nul != limit && nul != p &&
        std::all_of(p, nul, [](std::uint8_t c) { return c >= 0x20 && c < 0x7F; })) {
      return std::string(p, nul);
    }
  }
  return std::nullopt;
}

std::optional<std::size_t> FindEocd(const std::uint8_t* data, std::size_t size) {
  const std::size_t window = size < kEocdSearchWindow ? size : kEocdSearchWindow;
  if (window < kEocdLength) return std::nullopt;
  const std::size_t base = size - window;
  for (std::size_t i = window - kEocdLength + 1; i-- > 0;) {
    if (std::memcmp(data + base + i, kEocdSignature, sizeof kEocdSignature) == 0) return base + i;
  }
  return std::nullopt;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

namespace {

// Returns the length of the well-formed UTF-8 sequence at p, or 0 if it is malformed.
std::size_t Utf8SequenceLength(const std::uint8_t* p, std::size_t avail) {
  const std::uint8_t b = p[0];
  if (b < 0x80) return 1;
  std::size_t len;
  std::uint32_t cp;
  std::uint32_t min;
  if ((b & 0xE0) == 0xC0) {
    len = 2, cp = b & 0x1F, min = 0x80;
  } else if ((b & 0xF0) == 0xE0) {
    len = 3, cp = b & 0x0F, min = 0x800;
  } else if ((b & 0xF8) == 0xF0) {
    len = 4, cp = b & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (avail < len) return 0;
  for (std::size_t i = 1; i < len; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

bool DecodeUtf16(const Bytes& raw, bool big_endian, std::string* utf8, std::string* error) {
  if (raw.size() % 2 != 0) {
    *error = "UTF-16 text has an odd number of bytes";
    return false;
  }
  auto unit = [&](std::size_t i) -> std::uint32_t {
    return big_endian ? (raw[i] << 8) | raw[i + 1] : raw[i] | (raw[i + 1] << 8);
  };
  for (std::size_t i = 2; i < raw.size(); i += 2) {
    std::uint32_t cp = unit(i);
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 3 < raw.size() && unit(i + 2) >= 0xDC00 &&
        unit(i + 2) <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
      i += 2;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      *error = "unpaired UTF-16 surrogate at byte " + std::to_string(i);
      return false;
    }
    AppendUtf8(*utf8, cp);
  }
  return true;
}

}  // namespace

bool CheckUtf8(const std::uint8_t* data, std::size_t size, std::string* error) {
  for (std::size_t i = 0; i < size;) {
    const std::size_t len = Utf8SequenceLength(data + i, size - i);
    if (len == 0) {
      *error = "not valid UTF-8 at byte " + std::to_string(i);
      return false;
    }
    i += len;
  }
  return true;
}

bool DecodeSettingsText(const Bytes& raw, std::string* utf8, std::string* error) {
  utf8->clear();
  bool ok;
  if (raw.size() >= 2 && raw[0] == 0xFF && raw[1] == 0xFE) {
    ok = DecodeUtf16(raw, false, utf8, error);
  } else if (raw.size() >= 2 && raw[0] == 0xFE && raw[1] == 0xFF) {
    ok = DecodeUtf16(raw, true, utf8, error);
  } else {
    const std::size_t mark = sizeof kUtf8Bom;
    const std::size_t start =
        raw.size() >= mark && std::memcmp(raw.data(), kUtf8Bom, mark) == 0 ? mark : 0;
    if (!CheckUtf8(raw.data(), raw.size(), error)) return false;
    utf8->assign(raw.begin() + start, raw.end());
    ok = true;
  }
  // The launcher stops reading settings at the first NUL, so one inside would drop lines.
  if (ok && utf8->find('\0') != std::string::npos) {
    *error = "contains a NUL character";
    ok = false;
  }
  return ok;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c != '\r' && c != '\n') {
      ++i;
      continue;
    }
    lines.push_back(text.substr(start, i - start));
    const char pair = c == '\r' ? '\n' : '\r';
    i += (i + 1 < text.size() && text[i + 1] == pair) ? 2 : 1;
    start = i;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

Bytes EncodeSettingsBlock(const std::vector<std::string>& lines) {
  Bytes out(std::begin(kUtf8Bom), std::end(kUtf8Bom));
  for (const std::string& line : lines) {
    out.insert(out.end(), line.begin(), line.end());
    out.push_back('\r');
    out.push_back('\n');
  }
  out.push_back(0);
  return out;
}

}  // namespace launcher_pack
