// SPDX-License-Identifier: MIT
// Which layer's file a file seen through an overlay stands for. What an
// overlay reports for its files says little: its device is the overlay's (or
// a made-up one per layer), its inode number the layer's. The kernel's handle
// for such a file, though, carries the layer's own handle of it and the UUID
// of the layer's file system: that names one file, whoever mounted the
// overlay and wherever. Asking for a handle asks no file system's server.
#ifndef CORVANE_HOST_FILES_OVERLAY_HANDLE_H
#define CORVANE_HOST_FILES_OVERLAY_HANDLE_H

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace corvane_host {

using file_system_uuid = std::array<unsigned char, 16>;

// A file handle as name_to_handle_at() gives it.
struct file_handle_bytes {
  int type = 0;
  std::string bytes;
};

// The file of a layer that an overlay's handle stands for.
struct layer_handle {
  file_system_uuid uuid{};
  file_handle_bytes file;  // the layer's own handle of it
};

// nullopt for a handle that is not an overlay's, or a malformed one.
std::optional<layer_handle> parse_overlay_handle(const file_handle_bytes& handle);

// Whether the file `seen` (any descriptor, O_PATH too) is an overlay's
// file that stands for `file` (opened for reading, its file system's own).
bool overlay_stands_for(int seen, int file);

// Whether `seen` is a file of an overlay.
bool is_overlay_file(int seen);

}  // namespace corvane_host

#endif
