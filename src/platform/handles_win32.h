#pragma once
// Owners of the Win32 handles the program holds. Each releases its handle once, when it is
// destroyed, reset or assigned over, and never copies; all but the window DC move. A
// function that acquires several handles into owners therefore needs no unwinding of its
// own: on any early return the owners are released in the reverse order of their
// declaration, so declaring them in the order "released last first" fixes the release
// order.
#include <windows.h>
#include <vfw.h>

#include <atomic>
#include <utility>

namespace zelvo {

// One owner over a handle kind described by Traits: Traits::Handle, Traits::None() (the
// value that holds nothing) and Traits::Release(handle).
template <typename Traits>
class OwnedHandle {
 public:
  using Handle = typename Traits::Handle;

  OwnedHandle() = default;
  explicit OwnedHandle(Handle handle) : handle_(handle) {}
  ~OwnedHandle() { reset(); }
  OwnedHandle(OwnedHandle&& other) noexcept : handle_(other.release()) {}
  OwnedHandle& operator=(OwnedHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != Traits::None(); }
  // Gives the handle up without releasing it.
  Handle release() { return std::exchange(handle_, Traits::None()); }
  // Releases the handle held, if any, and takes `handle` instead.
  void reset(Handle handle = Traits::None()) {
    const Handle old = std::exchange(handle_, handle);
    if (old != Traits::None()) Traits::Release(old);
  }
  // Where a function that creates the handle through an out-parameter (AVIFileOpen,
  // AVIMakeCompressedStream) stores it; whatever was held is released first.
  Handle* receive() {
    reset();
    return &handle_;
  }

 private:
  Handle handle_ = Traits::None();
};

struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle None() { return INVALID_HANDLE_VALUE; }
  static void Release(Handle handle) { FindClose(handle); }
};
// A search of FindFirstFileA, closed by FindClose.
using FindHandle = OwnedHandle<FindHandleTraits>;

struct FileHandleTraits {
  using Handle = HANDLE;
  static Handle None() { return INVALID_HANDLE_VALUE; }
  static void Release(Handle handle) { CloseHandle(handle); }
};
// A file or device opened by CreateFileA.
using FileHandle = OwnedHandle<FileHandleTraits>;

struct AviFileTraits {
  using Handle = PAVIFILE;
  static Handle None() { return nullptr; }
  static void Release(Handle file) { AVIFileRelease(file); }
};
// An AVI file opened by AVIFileOpenA; its last release completes the file on disk.
using AviFile = OwnedHandle<AviFileTraits>;

struct AviStreamTraits {
  using Handle = PAVISTREAM;
  static Handle None() { return nullptr; }
  static void Release(Handle stream) { AVIStreamRelease(stream); }
};
// A stream of an AVI file, or a compressing stream over one.
using AviStream = OwnedHandle<AviStreamTraits>;

// One use of the AVIFile library: AVIFileInit when begun, the matching AVIFileExit when
// released. Counts the uses of the whole process, so a test can see them paired.
class AviFileLibrary {
 public:
  AviFileLibrary() = default;
  static AviFileLibrary Begin() {
    AVIFileInit();
    ++Uses();
    AviFileLibrary use;
    use.inUse_ = true;
    return use;
  }
  ~AviFileLibrary() { reset(); }
  AviFileLibrary(AviFileLibrary&& other) noexcept : inUse_(std::exchange(other.inUse_, false)) {}
  AviFileLibrary& operator=(AviFileLibrary&& other) noexcept {
    if (this != &other) {
      reset();
      inUse_ = std::exchange(other.inUse_, false);
    }
    return *this;
  }
  AviFileLibrary(const AviFileLibrary&) = delete;
  AviFileLibrary& operator=(const AviFileLibrary&) = delete;

  explicit operator bool() const { return inUse_; }
  void reset() {
    if (!std::exchange(inUse_, false)) return;
    AVIFileExit();
    --Uses();
  }
  // AVIFileInit calls of all owners not yet matched by their AVIFileExit.
  static int Count() { return Uses().load(); }

 private:
  static std::atomic<int>& Uses() {
    static std::atomic<int> uses{0};
    return uses;
  }
  bool inUse_ = false;
};

// The DC of a window, from GetDC, given back by ReleaseDC. Held for a moment within one
// function, so it neither copies nor moves.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
  ~WindowDc() { reset(); }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;

  HDC get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }
  // Gives the DC back; false when ReleaseDC refused it. True when none was held.
  bool reset() {
    const HDC dc = std::exchange(dc_, nullptr);
    return dc == nullptr || ReleaseDC(window_, dc) == 1;
  }

 private:
  const HWND window_;
  HDC dc_;
};

// A memory DC from CreateCompatibleDC. The object it held before the first Select goes
// back before the DC is deleted, so what was selected into it can be deleted on its own.
class MemoryDc {
 public:
  MemoryDc() = default;
  explicit MemoryDc(HDC dc) : dc_(dc) {}
  ~MemoryDc() { reset(); }
  MemoryDc(MemoryDc&& other) noexcept
      : dc_(std::exchange(other.dc_, nullptr)), original_(std::exchange(other.original_, nullptr)) {}
  MemoryDc& operator=(MemoryDc&& other) noexcept {
    if (this != &other) {
      reset();
      dc_ = std::exchange(other.dc_, nullptr);
      original_ = std::exchange(other.original_, nullptr);
    }
    return *this;
  }
  MemoryDc(const MemoryDc&) = delete;
  MemoryDc& operator=(const MemoryDc&) = delete;

  HDC get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }
  void Select(HGDIOBJ object) {
    const HGDIOBJ replaced = SelectObject(dc_, object);
    if (original_ == nullptr) original_ = replaced;
  }
  // Puts the original object back, so that what was selected is free to be deleted, and
  // deletes the DC.
  void reset() {
    const HGDIOBJ original = std::exchange(original_, nullptr);
    const HDC dc = std::exchange(dc_, nullptr);
    if (dc == nullptr) return;
    if (original != nullptr) SelectObject(dc, original);
    DeleteDC(dc);
  }

 private:
  HDC dc_ = nullptr;
  HGDIOBJ original_ = nullptr;
};

struct BitmapTraits {
  using Handle = HBITMAP;
  static Handle None() { return nullptr; }
  static void Release(Handle bitmap) { DeleteObject(bitmap); }
};

// A DIB section and the memory of its pixels, which lives as long as the bitmap.
class DibSection {
 public:
  DibSection() = default;
  // Creates the section described by `info` for `dc`; an empty owner when that failed.
  static DibSection Create(HDC dc, const BITMAPINFO* info) {
    DibSection section;
    void* bits = nullptr;
    section.bitmap_.reset(CreateDIBSection(dc, info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (section.bitmap_) section.bits_ = bits;
    return section;
  }
  DibSection(DibSection&& other) noexcept
      : bitmap_(std::move(other.bitmap_)), bits_(std::exchange(other.bits_, nullptr)) {}
  DibSection& operator=(DibSection&& other) noexcept {
    if (this != &other) {
      bitmap_ = std::move(other.bitmap_);
      bits_ = std::exchange(other.bits_, nullptr);
    }
    return *this;
  }

  HBITMAP get() const { return bitmap_.get(); }
  void* bits() const { return bits_; }
  explicit operator bool() const { return static_cast<bool>(bitmap_); }
  void reset() {
    bits_ = nullptr;
    bitmap_.reset();
  }

 private:
  OwnedHandle<BitmapTraits> bitmap_;
  void* bits_ = nullptr;
};

}  // namespace zelvo
