// SPDX-License-Identifier: MIT
#include "files/overlay_handle.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace corvane_host {
namespace {

// The overlay's handle types: its header 32-bit aligned after three bytes
// of padding, or (older kernels) unpadded.
constexpr int overlay_aligned = 0xf8;
constexpr int overlay_unaligned = 0xfb;
// Its header: version 0, magic 0xfb, length, flags, the layer's handle type,
// the layer's file system UUID; then the layer's handle.
constexpr unsigned char overlay_magic = 0xfb;
constexpr std::size_t header_size = 5 + sizeof(file_system_uuid);
constexpr unsigned most_handle_bytes = 128;  // MAX_HANDLE_SZ

#ifndef AT_HANDLE_FID
#define AT_HANDLE_FID 0x200
#endif

// FS_IOC_GETFSUUID (Linux 6.5), defined here for older headers.
struct fs_uuid_request {
  std::uint8_t length = 0;
  std::uint8_t uuid[16] = {};
};
constexpr unsigned long get_fs_uuid = _IOR(0x15, 0, fs_uuid_request);

std::optional<file_handle_bytes> handle_of(int fd, int flags) {
  std::vector<unsigned char> room(sizeof(file_handle) + most_handle_bytes);
  file_handle handle{};
  handle.handle_bytes = most_handle_bytes;
  std::memcpy(room.data(), &handle, sizeof handle);
  int mount_id = 0;
  auto* const asked = reinterpret_cast<file_handle*>(room.data());
  if (name_to_handle_at(fd, "", asked, &mount_id, AT_EMPTY_PATH | flags) != 0) {
    return std::nullopt;
  }
  const unsigned char* const bytes = room.data() + offsetof(file_handle, f_handle);
  return file_handle_bytes{
      asked->handle_type,
      std::string(bytes, bytes + std::min(asked->handle_bytes, most_handle_bytes))};
}

// Size and modification time, asked without waking any server.
std::optional<std::pair<std::uint64_t, std::pair<std::int64_t, std::uint32_t>>> content_of(int fd) {
  struct statx facts {};
  if (statx(fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_SIZE | STATX_MTIME, &facts) != 0) {
    return std::nullopt;
  }
  return std::make_pair(facts.stx_size,
                        std::make_pair(facts.stx_mtime.tv_sec, facts.stx_mtime.tv_nsec));
}

std::optional<file_system_uuid> uuid_of(int fd) {
  fs_uuid_request answer{};
  if (ioctl(fd, get_fs_uuid, &answer) != 0 || answer.length != sizeof(file_system_uuid)) {
    return std::nullopt;
  }
  file_system_uuid uuid{};
  std::copy(std::begin(answer.uuid), std::end(answer.uuid), uuid.begin());
  return uuid;
}

}  // namespace

std::optional<layer_handle> parse_overlay_handle(const file_handle_bytes& handle) {
  std::string_view bytes = handle.bytes;
  if (handle.type == overlay_aligned && bytes.size() >= 3) {
    bytes.remove_prefix(3);
  } else if (handle.type != overlay_unaligned) {
    return std::nullopt;
  }
  if (bytes.size() < header_size || bytes[0] != 0 ||
      static_cast<unsigned char>(bytes[1]) != overlay_magic) {
    return std::nullopt;
  }
  const std::size_t length = static_cast<unsigned char>(bytes[2]);
  if (length <= header_size || length > bytes.size()) {
    return std::nullopt;
  }
  layer_handle layer;
  layer.file.type = static_cast<unsigned char>(bytes[4]);
  std::copy_n(bytes.begin() + 5, layer.uuid.size(), layer.uuid.begin());
  layer.file.bytes = std::string(bytes.substr(header_size, length - header_size));
  return layer;
}

bool is_overlay_file(int seen) {
  const std::optional<file_handle_bytes> handle = handle_of(seen, AT_HANDLE_FID);
  return handle && parse_overlay_handle(*handle).has_value();
}

bool overlay_stands_for(int seen, int file) {
  const std::optional<file_handle_bytes> overlay = handle_of(seen, AT_HANDLE_FID);
  const std::optional<layer_handle> layer = overlay ? parse_overlay_handle(*overlay) : std::nullopt;
  if (!layer) {
    return false;
  }
  // The layer's handle is the one its file system gives for export, or its
  // identifier where it has none.
  std::optional<file_handle_bytes> own = handle_of(file, 0);
  if (!own) {
    own = handle_of(file, AT_HANDLE_FID);
  }
  const std::optional<file_system_uuid> uuid = uuid_of(file);
  // A file copied up and rewritten keeps its origin's handle: what it holds
  // must still be the layer's (its size and modification time).
  const auto seen_content = content_of(seen);
  return own && uuid && own->type == layer->file.type && own->bytes == layer->file.bytes &&
         *uuid == layer->uuid && seen_content && seen_content == content_of(file);
}

}  // namespace corvane_host
