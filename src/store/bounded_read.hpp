#pragma once

#include <cstdint>

#include "cord/wire.hpp"
#include "store/io_error.hpp"
#include "store/path.hpp"
#include "store/pieces.hpp"

namespace morvik::store {

// The whole content of the regular file at `path`, at most `max` bytes. A
// symbolic link as the last component, and anything that is not a regular
// file (a FIFO included, which is never waited on), is refused.
IoResult<cord::Bytes> read_file_bounded(const Path& path, std::uint64_t max);

// Whether the file at `path`, opened as read_file_bounded opens it, holds
// exactly `expected`, its pieces one after the other. It is compared as it
// is read, a small chunk at a time, so that a large file already in memory
// is not held twice. A file reported larger than `max` fails as
// read_file_bounded fails.
IoResult<bool> file_holds(const Path& path, Pieces expected, std::uint64_t max = UINT64_MAX);

}  // namespace morvik::store
