// Holds a file open as a backup agent or file-sync client does, sharing reading and writing,
// until a line or the end arrives on its standard input. Prints "holding" once it has the file.
//   fileholder PATH
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fileholder PATH\n");
    return 4;
  }
  const HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::printf("cannot open: error %lu\n", GetLastError());
    return 1;
  }
  std::printf("holding\n");
  std::fflush(stdout);
  std::getchar();
  CloseHandle(file);
  return 0;
}
