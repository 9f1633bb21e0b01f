// SPDX-License-Identifier: MIT
// A program whose main thread exits, a second after it starts, while another
// thread goes on: its /proc/PID/exe can no longer be read (nor its command
// line), yet it runs until signalled. The second lets a test see it start.
#include <pthread.h>
#include <unistd.h>

#include <thread>

int main() {
  std::thread([] { pause(); }).detach();
  sleep(1);
  pthread_exit(nullptr);
}
