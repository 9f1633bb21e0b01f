// SPDX-License-Identifier: MIT
// A program whose main thread exits while another thread goes on: its
// /proc/PID/exe can no longer be read, yet it runs until signalled.
#include <pthread.h>
#include <unistd.h>

#include <thread>

int main() {
  std::thread([] { pause(); }).detach();
  pthread_exit(nullptr);
}
