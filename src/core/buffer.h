// Buffers and strings used by every part of the launcher: a non-owning view, a growable buffer
// and a growable NUL-terminated string, plus the narrow string and string list built on them.
#ifndef LAUNCHER_CORE_BUFFER_H_
#define LAUNCHER_CORE_BUFFER_H_

#include <cstddef>
#include <cstdlib>
#include <cstring>

// Ends the process with a one-line message; called when the C allocator fails, so that no
// buffer is ever written through a null pointer.
[[noreturn]] void FatalOutOfMemory(size_t bytes);

// Allocation helpers that never return null.
void* CheckedRealloc(void* data, size_t count, size_t elementSize);

// A read-only view of someone else's elements: a data pointer and a length.
template <typename T>
class CBufferRefT {
 public:
  CBufferRefT(const T* data = nullptr, int length = 0)
      : data_(const_cast<T*>(data)), length_(data ? length : 0) {}
  virtual ~CBufferRefT() {}

  int GetLength() const { return length_; }
  const T* GetData() const { return data_; }
  bool IsEmpty() const { return length_ == 0; }
  T CharAt(int index, T def = T()) const {
    return (index < 0 || index >= length_) ? def : data_[index];
  }

 protected:
  T* data_;
  int length_;
};

// A growable buffer that owns its storage (malloc, realloc, free).
template <typename T>
class CBufferT : public CBufferRefT<T> {
 public:
  CBufferT() : capacity_(0) {}
  CBufferT(const T* source, int count) : capacity_(0) { Append(source, count); }
  CBufferT(const CBufferT& other) : CBufferRefT<T>(), capacity_(0) {
    Append(other.data_, other.length_);
  }
  CBufferT& operator=(const CBufferT& other) {
    if (this != &other) {
      SetLength(0);
      Append(other.data_, other.length_);
    }
    return *this;
  }
  ~CBufferT() override { Release(); }

  int GetCapacity() const { return capacity_; }

  // Makes the capacity at least n elements: at least 8, doubling while requests stay within
  // double the old capacity, otherwise n + 4 rounded up to a multiple of 8.
  void Grow(int n) {
    if (capacity_ >= n) return;
    if (n > kMaxElements) FatalOutOfMemory(static_cast<size_t>(n) * sizeof(T));
    int c = capacity_;
    if (c < 8) {
      c = 8;
      if (n <= 8) {
        Reallocate(8);
        return;
      }
    }
    c = (c > kMaxElements / 2) ? kMaxElements : c * 2;
    if (c < n) c = (n + 11) & ~7;
    Reallocate(c);
  }

  virtual void SetLength(int n) {
    if (n < 0) n = 0;
    Grow(n);
    this->length_ = n;
  }

  // Opens a gap of n elements at position and returns a pointer to it.
  T* InsertSpace(int position, int n) {
    int len = this->length_;
    if (position < 0) position = 0;
    if (n < 0) n = 0;
    if (n > kMaxElements - (len > position ? len : position)) {
      FatalOutOfMemory(static_cast<size_t>(n) * sizeof(T));
    }
    SetLength(len < position ? position + n : len + n);
    if (position < len) {
      memmove(this->data_ + position + n, this->data_ + position,
              static_cast<size_t>(len - position) * sizeof(T));
    }
    return this->data_ + position;
  }

  void Append(const T* source, int n) {
    if (n <= 0) return;
    T* gap = InsertSpace(this->length_, n);
    memcpy(gap, source, static_cast<size_t>(n) * sizeof(T));
  }
  void Append(const CBufferRefT<T>& other) { Append(other.GetData(), other.GetLength()); }
  void AppendOne(T value) { Append(&value, 1); }

  T* GetBuffer() {
    SetLength(this->length_);
    return this->data_;
  }

  int Compare(const CBufferRefT<T>& other) const {
    int m = this->length_ < other.GetLength() ? this->length_ : other.GetLength();
    int i = 0;
    while (i < m && this->data_[i] == other.GetData()[i]) ++i;
    return static_cast<int>(this->CharAt(i, 0)) - static_cast<int>(other.CharAt(i, 0));
  }

  int CompareNoCase(const CBufferRefT<T>& other) const {
    int m = this->length_ < other.GetLength() ? this->length_ : other.GetLength();
    int i = 0;
    while (i < m && Upper(this->data_[i]) == Upper(other.GetData()[i])) ++i;
    return static_cast<int>(this->CharAt(i, 0)) - static_cast<int>(other.CharAt(i, 0));
  }

  // Hands the storage to the caller and leaves the buffer empty.
  T* Detach() {
    T* data = this->data_;
    this->data_ = nullptr;
    this->length_ = 0;
    capacity_ = 0;
    return data;
  }
  void Release() { free(Detach()); }

 protected:
  static constexpr int kMaxElements = 0x7FFFFFF0 / static_cast<int>(sizeof(T));

 private:
  static T Upper(T c) { return (c >= 'a' && c <= 'z') ? static_cast<T>(c - 'a' + 'A') : c; }
  void Reallocate(int c) {
    this->data_ = static_cast<T*>(CheckedRealloc(this->data_, static_cast<size_t>(c), sizeof(T)));
    capacity_ = c;
  }

  int capacity_;
};

// A growable buffer whose content is always followed by a zero element once storage exists.
template <typename T>
class CStringBufT : public CBufferT<T> {
 public:
  CStringBufT() {}
  // A count of -1 takes the source up to its first zero element.
  CStringBufT(const T* source, int count = -1) {
    if (source && count < 0) count = Measure(source);
    if (source && count > 0) this->Append(source, count);
  }
  CStringBufT(const CStringBufT& other) : CBufferT<T>() { this->Append(other); }
  CStringBufT& operator=(const CStringBufT& other) {
    if (this != &other) {
      SetLength(0);
      this->Append(other);
    }
    return *this;
  }

  void SetLength(int n) override {
    if (n < 0) n = 0;
    if (n > CBufferT<T>::kMaxElements - 1) FatalOutOfMemory(static_cast<size_t>(n) * sizeof(T));
    this->Grow(n + 1);
    this->length_ = n;
    this->data_[n] = T();
  }

  // The content as a zero-terminated string; never null.
  const T* CStr() const { return this->data_ ? this->data_ : EmptyString(); }

  // Sets the length to the position of the first zero element.
  void TrimAtZero() {
    if (!this->data_) return;
    int n = 0;
    while (n < this->length_ && this->data_[n] != T()) ++n;
    SetLength(n);
  }

  void AppendStr(const T* s) {
    if (s) this->Append(s, Measure(s));
  }

  // printf-style formatting for narrow strings; the result is never truncated.
  void Format(const char* format, ...);

  static int Measure(const T* s) {
    int n = 0;
    while (s[n] != T()) ++n;
    return n;
  }

 private:
  static const T* EmptyString() {
    static const T empty = T();
    return &empty;
  }
};

// A view of a NUL-terminated string; a length of -1 counts up to the first NUL.
template <typename T>
class CStringRefT : public CBufferRefT<T> {
 public:
  CStringRefT(const T* s, int length = -1)
      : CBufferRefT<T>(s, s ? (length < 0 ? CStringBufT<T>::Measure(s) : length) : 0) {}
};

// The general narrow string type: locale-encoded or UTF-8 text, as the context says.
class MyCString : public CStringBufT<char> {
 public:
  MyCString() {}
  MyCString(const char* s, int count = -1) : CStringBufT<char>(s, count) {}
  MyCString(const CBufferRefT<char>& s) : CStringBufT<char>(s.GetData(), s.GetLength()) {}
  MyCString(const MyCString& other) : CStringBufT<char>(other) {}
  MyCString& operator=(const MyCString& other) {
    CStringBufT<char>::operator=(other);
    return *this;
  }
  MyCString& operator=(const char* s) {
    SetLength(0);
    AppendStr(s);
    return *this;
  }
  bool Equals(const char* s) const { return Compare(CStringRefT<char>(s)) == 0; }
  bool EqualsNoCase(const char* s) const { return CompareNoCase(CStringRefT<char>(s)) == 0; }
};

// A list of NUL-terminated strings kept contiguously; elements are found by offset so that
// growing the character storage never invalidates earlier elements.
class MyCStringArray : public CBufferT<int> {
 public:
  MyCStringArray() {}
  ~MyCStringArray() override;
  void Add(const char* s);
  void Add(const char* s, int length);
  int GetCount() const { return GetLength(); }
  // The element as a writable C string (callers may rewrite it in place, never lengthen it).
  char* GetAt(int index);
  const CBufferT<char>& Characters() const { return chars_; }

 private:
  CBufferT<char> chars_;
};

#endif  // LAUNCHER_CORE_BUFFER_H_
