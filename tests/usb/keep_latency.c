/* Preloaded inside the lane's guest: TIOCSSERIAL (the tools' low-latency
   request) is answered as done without reaching the driver, so an FT232R's
   latency timer stays where the driver or the user put it. */
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  return request == TIOCSSERIAL ? 0 : (int)syscall(SYS_ioctl, fd, request, arg);
}
