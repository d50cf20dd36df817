#pragma once
// What a JPEG file's marker segments say beside its picture, for whichever decoder reads
// it: whether the file ends before its picture does, and the EXIF orientation a camera
// wrote. Every offset is checked against the bytes at hand.
#include <cstddef>
#include <cstdint>

namespace zelvo {

// True when a JPEG ends before its end-of-image marker: no FF D9 follows the first scan,
// whose entropy-coded data can hold no such pair. Markers before the scan are stepped over
// by their lengths, so an embedded thumbnail's own end marker does not count.
bool JpegEndsEarly(const std::uint8_t* data, std::size_t size);

// The orientation, 1 to 8, that an APP1 segment's data (`segment`, the `size` bytes after
// its length field) gives in IFD0's tag 0x0112, when it is EXIF data ("Exif\0\0" and a
// TIFF header of either byte order); 0 when it gives none.
int ExifOrientation(const std::uint8_t* segment, std::size_t size);

}  // namespace zelvo
