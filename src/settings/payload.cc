#include "settings/payload.h"

#include <climits>

#include "core/trace.h"
#include "platform/platform.h"
#include "settings/payload_layout.h"
#include "settings/settings_loader.h"

// The packaging tool finds the marker of this record in the image and writes the size of the
// appended zip archive into the field after it. The marker must occur exactly once in the
// launcher image, so this definition is the only one that puts it there.
extern "C" __attribute__((used)) const payload_layout::SizeFieldRecord kLauncherArchiveSizeField =
    payload_layout::MakeSizeFieldRecord();

namespace {

using payload_layout::kEocdLength;
using payload_layout::kEocdSignature;
using payload_layout::kLengthFieldSize;

long long g_archiveSizeOverride = -1;

int ReadLe32(const unsigned char* p) {
  unsigned int v = static_cast<unsigned int>(p[0]) | (static_cast<unsigned int>(p[1]) << 8) |
                   (static_cast<unsigned int>(p[2]) << 16) |
                   (static_cast<unsigned int>(p[3]) << 24);
  return static_cast<int>(v);
}

MyCString OwnPath() {
  char path[4096];
  int n = GetExePath(path, kMaxPathBuffer);
  if (n <= 0 || n >= kMaxPathBuffer) return MyCString();
  return MyCString(path, n);
}

}  // namespace

void SetArchiveSizeForTesting(long long size) {
  g_archiveSizeOverride = size;
}

int ReadArchiveSizeField() {
  if (g_archiveSizeOverride >= 0) return static_cast<int>(g_archiveSizeOverride);
  // A volatile copy keeps the compiler from folding the value it sees at build time.
  const volatile unsigned char* field = kLauncherArchiveSizeField.size;
  unsigned char copy[payload_layout::kSizeFieldLength];
  for (int i = 0; i < payload_layout::kSizeFieldLength; ++i) copy[i] = field[i];
  return ReadLe32(copy);
}

PayloadView::PayloadView(const char* path)
    : file_(InvalidFileHandle()), mapping_(InvalidFileHandle()), bytes_(nullptr), size_(0) {
  if (!path || !*path) return;
  file_ = OpenFileRead(path);
  if (!IsValidFileHandle(file_)) return;
  int size = GetFileSize32(file_);
  if (size <= 0) return;
  mapping_ = MapWholeFile(file_);
  bytes_ = MapView(mapping_);
  if (bytes_) size_ = size;
}

PayloadView::~PayloadView() {
  if (bytes_) UnmapView(bytes_);
  CloseFileHandle(mapping_);
  CloseFileHandle(file_);
}

bool PayloadView::ReadInt32(long long position, long long limit, int* value) const {
  if (!bytes_ || position < 0 || position + kLengthFieldSize > limit || limit > size_) {
    return false;
  }
  *value = ReadLe32(bytes_ + position);
  return true;
}

bool PayloadView::BlockBefore(long long end, long long limit, int* offset, int* length) const {
  long long lengthAt = end - kLengthFieldSize;
  int n;
  if (!ReadInt32(lengthAt, limit, &n) || n < 0 || n > lengthAt) return false;
  *offset = static_cast<int>(lengthAt - n);
  *length = n;
  return true;
}

bool PayloadView::SettingsBlock(int trailerEnd, int* offset, int* length) const {
  return BlockBefore(trailerEnd, trailerEnd, offset, length);
}

bool PayloadView::ReservedBlock(int trailerEnd, int* offset, int* length) const {
  int settings, l;
  return SettingsBlock(trailerEnd, &settings, &l) &&
         BlockBefore(settings, trailerEnd, offset, length) && *length > 0;
}

bool PayloadView::SplashBlock(int trailerEnd, int* offset, int* length) const {
  int settings, l, reserved, c;
  return SettingsBlock(trailerEnd, &settings, &l) &&
         BlockBefore(settings, trailerEnd, &reserved, &c) &&
         BlockBefore(reserved, trailerEnd, offset, length) && *length > 0;
}

CZipRemark::CZipRemark() : found(false) {
  MyCString path = OwnPath();
  PayloadView view(path.CStr());
  const unsigned char* bytes = view.Bytes();
  int size = view.Size();
  if (!bytes) return;
  const int searchWindow = payload_layout::kEocdSearchWindow;
  int windowStart = size > searchWindow ? size - searchWindow : 0;
  int window = size - windowStart;
  for (int n = window - kEocdLength; n >= 0; --n) {
    const unsigned char* p = bytes + windowStart + n;
    if (p[0] == kEocdSignature[0] && p[1] == kEocdSignature[1] && p[2] == kEocdSignature[2] &&
        p[3] == kEocdSignature[3]) {
      Append(reinterpret_cast<const char*>(p) + kEocdLength, window - n - kEocdLength);
      found = true;
      return;
    }
  }
}

void LocateTrailer(CSettingsLoader* loader) {
  loader->trailerEnd = -1;
  long long z = ReadArchiveSizeField();
  MyCString path = OwnPath();
  TRACE("own path: %s", path.CStr());
  FileHandle* file = OpenFileRead(path.CStr());
  if (!IsValidFileHandle(file)) {
    TRACE("payload: own file cannot be opened");
    return;
  }
  long long size = GetFileSize32(file);
  CloseFileHandle(file);
  if (size <= 0) return;
  CZipRemark remark;
  if (!remark.found) {
    TRACE("payload: S=%lld Z=%lld, no zip end record found: no payload", size, z);
    return;
  }
  long long end = payload_layout::TrailerEnd(size, z, remark.GetLength());
  TRACE("payload: S=%lld R=%d Z=%lld trailerEnd=%lld", size, remark.GetLength(), z, end);
  // The trailer must leave room for the settings length in front and the gap behind it.
  if (z < 0 || end < kLengthFieldSize || end + payload_layout::kGapLength > size || end > INT_MAX) {
    TRACE("payload: trailerEnd does not fit the file: no payload");
    return;
  }
  loader->trailerEnd = static_cast<int>(end);
}

void ReadPackagedSettings(CSettingsLoader* loader) {
  if (loader->trailerEnd < 0) return;
  MyCString path = OwnPath();
  PayloadView view(path.CStr());
  int offset, length;
  if (!view.SettingsBlock(loader->trailerEnd, &offset, &length)) {
    TRACE("payload: settings length does not fit the file: no packaged settings");
    return;
  }
  TRACE("payload: L=%d", length);
  // The text ends at its first NUL; the rest of the L bytes become NUL, as strncpy leaves them.
  const char* source = reinterpret_cast<const char*>(view.Bytes()) + offset;
  MyCString text;
  text.SetLength(length);
  char* out = text.GetBuffer();
  int i = 0;
  for (; i < length && source[i] != '\0'; ++i) out[i] = source[i];
  for (; i < length; ++i) out[i] = '\0';
  loader->DecodeSettingsText(text.CStr(), length);
}
