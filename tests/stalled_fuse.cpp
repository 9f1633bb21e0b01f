// SPDX-License-Identifier: MIT
// A file system that stops answering, and a shell whose script name leads into it:
//   stalled-fuse here|own DEVICE FUSE_DIR LOWER_DIR SCRIPT_DIR
// It starts `sh SCRIPT_DIR/run.sh`, mounts a FUSE file system at FUSE_DIR through DEVICE (a
// /dev/fuse node), answers it just long enough for an overlay of FUSE_DIR and LOWER_DIR to be
// mounted over SCRIPT_DIR, then answers nothing more, for ever: a lookup there waits in the
// kernel. With `own`, it does so in a mount namespace of its own (run it as a user inside its
// own user namespace); with `here`, in the caller's. Once set up, its argv[0] reads "ready".
#include <fcntl.h>
#include <linux/fuse.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int fail(const char* what) {
  std::perror(what);
  return 1;
}

void reply(int fuse, std::uint64_t unique, int error, const void* body, std::size_t size) {
  fuse_out_header out{static_cast<std::uint32_t>(sizeof out + size), -error, unique};
  iovec parts[] = {{&out, sizeof out}, {const_cast<void*>(body), size}};
  static_cast<void>(writev(fuse, parts, 2));
}

// Answers as an empty directory, caching nothing, until `freeze` is readable.
void serve(int fuse, int freeze) {
  std::vector<char> buffer(1 << 20);
  for (;;) {
    pollfd waits[] = {{fuse, POLLIN, 0}, {freeze, POLLIN, 0}};
    if (poll(waits, 2, -1) < 0 || (waits[1].revents & POLLIN) != 0) {
      break;
    }
    const ssize_t n = read(fuse, buffer.data(), buffer.size());
    if (n < static_cast<ssize_t>(sizeof(fuse_in_header))) {
      continue;
    }
    fuse_in_header in{};
    std::memcpy(&in, buffer.data(), sizeof in);
    switch (in.opcode) {
      case FUSE_INIT: {
        fuse_init_in asked{};
        std::memcpy(&asked, buffer.data() + sizeof in, sizeof asked);
        fuse_init_out init{};
        init.major = FUSE_KERNEL_VERSION;
        init.minor = FUSE_KERNEL_MINOR_VERSION;
        init.max_readahead = asked.max_readahead;
        init.max_write = 4096;
        init.time_gran = 1;
        reply(fuse, in.unique, 0, &init, sizeof init);
        break;
      }
      case FUSE_GETATTR: {
        fuse_attr_out attr{};
        attr.attr.ino = FUSE_ROOT_ID;
        attr.attr.mode = S_IFDIR | 0755;
        attr.attr.nlink = 2;
        reply(fuse, in.unique, 0, &attr, sizeof attr);
        break;
      }
      case FUSE_STATFS: {
        fuse_statfs_out statfs{};
        statfs.st.bsize = 4096;
        statfs.st.namelen = 255;
        reply(fuse, in.unique, 0, &statfs, sizeof statfs);
        break;
      }
      case FUSE_FORGET:
      case FUSE_BATCH_FORGET:
      case FUSE_INTERRUPT:
        break;
      case FUSE_LOOKUP:
        reply(fuse, in.unique, ENOENT, nullptr, 0);
        break;
      case FUSE_GETXATTR:
        reply(fuse, in.unique, ENODATA, nullptr, 0);
        break;
      default:
        reply(fuse, in.unique, ENOSYS, nullptr, 0);
    }
  }
  pause();  // holding the device: what is asked from now on waits
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: stalled-fuse here|own DEVICE FUSE_DIR LOWER_DIR SCRIPT_DIR\n");
    return 2;
  }
  const std::string fuse_dir = argv[3];
  const std::string lower = argv[4];
  const std::string scripts = argv[5];
  if (std::strcmp(argv[1], "own") == 0 &&
      (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr))) {
    return fail("a mount namespace of its own");
  }
  // The shell first: it holds its script, whose name then leads into the overlay.
  int started[2];
  int input[2];
  int freeze[2];
  if (pipe(started) != 0 || pipe(input) != 0 || pipe(freeze) != 0) {
    return fail("pipe");
  }
  if (fork() == 0) {
    dup2(input[0], 0);
    dup2(started[1], 1);
    const std::string script = scripts + "/run.sh";
    execl("/bin/sh", "sh", script.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  char line[16];
  if (read(started[0], line, sizeof line) <= 0) {
    return fail("the shell");
  }
  const int fuse = open(argv[2], O_RDWR | O_CLOEXEC);
  const std::string options =
      "fd=" + std::to_string(fuse) + ",rootmode=40000,user_id=0,group_id=0,allow_other";
  if (fuse < 0 || mount("stalled", fuse_dir.c_str(), "fuse.stalled", MS_NOSUID | MS_NODEV,
                        options.c_str()) != 0) {
    return fail("the FUSE mount");
  }
  if (fork() == 0) {
    serve(fuse, freeze[0]);
    _exit(0);
  }
  const std::string layers = "lowerdir=" + fuse_dir + ":" + lower;
  if (mount("overlay", scripts.c_str(), "overlay", 0, layers.c_str()) != 0) {
    return fail("the overlay");
  }
  if (write(freeze[1], "", 1) != 1) {
    return fail("freeze");
  }
  std::memcpy(argv[0], "ready", 6);
  pause();
}
