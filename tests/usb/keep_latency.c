/* Preloaded into a program (LD_PRELOAD) inside the guest: its TIOCSSERIAL
   calls (the tools' low-latency request) are answered as done without
   reaching the driver, so an FT232R's latency timer stays where the driver
   or the user put it. Every other ioctl goes to the kernel unchanged. Used
   by the lane's latency-timer row and by the benchmark's runs without the
   request. */
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  if (request == TIOCSSERIAL) return 0;
  return (int)syscall(SYS_ioctl, fd, request, arg);
}
