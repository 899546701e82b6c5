// SPDX-License-Identifier: MIT
/* The floor every zelko-cli cost is compared with: a minimal client that
 * connects to the control socket, sends one request frame and copies the
 * answer body to standard output, with no checks beyond what it needs.
 *   floor_client REQUEST */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

static int read_exact(int fd, char* buffer, size_t size) {
  while (size > 0) {
    ssize_t got = recv(fd, buffer, size, 0);
    if (got <= 0)
      return -1;
    buffer += got;
    size -= (size_t)got;
  }
  return 0;
}

int main(int argc, char** argv) {
  const char* runtime = getenv("XDG_RUNTIME_DIR");
  if (argc < 2 || runtime == NULL)
    return 2;
  struct sockaddr_un address = {.sun_family = AF_UNIX};
  snprintf(address.sun_path, sizeof address.sun_path, "%s/zelko/control.sock", runtime);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || connect(fd, (struct sockaddr*)&address, sizeof address) != 0)
    return 1;

  size_t length = strlen(argv[1]);
  char frame[4 + 256];
  if (length > 256)
    return 2;
  frame[0] = (char)(length >> 24);
  frame[1] = (char)(length >> 16);
  frame[2] = (char)(length >> 8);
  frame[3] = (char)length;
  memcpy(frame + 4, argv[1], length);
  if (write(fd, frame, 4 + length) != (ssize_t)(4 + length))
    return 1;

  unsigned char header[4];
  if (read_exact(fd, (char*)header, 4) != 0)
    return 1;
  uint32_t size =
      (uint32_t)header[0] << 24 | (uint32_t)header[1] << 16 | (uint32_t)header[2] << 8 | header[3];
  char* body = malloc(size ? size : 1);
  if (body == NULL || read_exact(fd, body, size) != 0)
    return 1;
  close(fd);
  for (size_t done = 0; done < size;) {
    ssize_t n = write(1, body + done, size - done);
    if (n <= 0)
      return 1;
    done += (size_t)n;
  }
  free(body);
  return 0;
}
