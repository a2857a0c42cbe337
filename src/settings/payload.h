// Reading the payload that the packaging tool appends to the launcher image: the archive size
// field, the zip remark, the trailer position and the blocks in front of it.
#ifndef LAUNCHER_SETTINGS_PAYLOAD_H_
#define LAUNCHER_SETTINGS_PAYLOAD_H_

#include "core/buffer.h"

class CSettingsLoader;
struct FileHandle;

// The low 4 bytes of the archive size field, read at run time through a copy.
int ReadArchiveSizeField();
// Tests supply the archive size of a packed file that is not the running image; a negative
// value restores the real field.
void SetArchiveSizeForTesting(long long size);

// The bytes after the zip archive's end-of-central-directory record (the archive comment area).
class CZipRemark : public CStringBufT<char> {
 public:
  CZipRemark();
  // False when the own file could not be read or holds no end-of-central-directory signature.
  bool found;
};

// Sets the loader's trailerEnd: the file offset just past the settings length field, or -1
// when the payload is absent or does not fit the file.
void LocateTrailer(CSettingsLoader* loader);
// Appends the packaged settings text to the loader (through DecodeSettingsText).
void ReadPackagedSettings(CSettingsLoader* loader);

// The own file mapped read-only; every block lookup is checked against the file's bounds.
class PayloadView {
 public:
  explicit PayloadView(const char* path);
  ~PayloadView();
  PayloadView(const PayloadView&) = delete;
  PayloadView& operator=(const PayloadView&) = delete;

  const unsigned char* Bytes() const { return bytes_; }
  int Size() const { return size_; }
  // Finds the settings text (L bytes ending at trailerEnd - 4).
  bool SettingsBlock(int trailerEnd, int* offset, int* length) const;
  // Finds the splash image: D bytes in front of D, C and the reserved block, walking back from
  // trailerEnd. False when there is no image or a length does not fit.
  bool SplashBlock(int trailerEnd, int* offset, int* length) const;
  // Finds the reserved block: C bytes in front of C, walking back from trailerEnd. False when it
  // is empty or its length does not fit.
  bool ReservedBlock(int trailerEnd, int* offset, int* length) const;

 private:
  bool ReadInt32(long long position, long long limit, int* value) const;
  // The block in front of the 4-byte length field that ends at end; fields read below limit.
  bool BlockBefore(long long end, long long limit, int* offset, int* length) const;

  FileHandle* file_;
  FileHandle* mapping_;
  const unsigned char* bytes_;
  int size_;
};

#endif  // LAUNCHER_SETTINGS_PAYLOAD_H_
