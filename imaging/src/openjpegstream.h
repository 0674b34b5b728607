#pragma once
// An OpenJPEG input stream over bytes in memory.

#include <openjpeg.h>

#include <cstddef>
#include <cstdint>

namespace imaging::detail {

// A stream reading `data` (`size` bytes, which must outlive it); opj_stream_destroy frees
// it. Null when OpenJPEG cannot make one.
opj_stream_t *OpenJpegMemoryStream(const std::uint8_t *data, std::size_t size);

} // namespace imaging::detail
