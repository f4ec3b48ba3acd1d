/* Preloaded before libfaketime by bench/month.sh: makes timed waits on the
 * monotonic clock keep the accelerated clock's pace, and lets the driver set
 * one process's wall clock by hand.
 *
 * std::condition_variable waits on steady_clock through pthread_cond_clockwait,
 * which libfaketime 0.9.10 does not intercept. The deadline it is given is read
 * from the faked monotonic clock, so the kernel, which counts real time, would
 * wait SPEED times too long. This turns the deadline into the same distance of
 * real time divided by the speed of FAKETIME's "xSPEED". */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

typedef int (*clockwait_fn)(pthread_cond_t*, pthread_mutex_t*, clockid_t, const struct timespec*);

static double Speed(void) {
  static double speed = 0;
  if (speed == 0) {
    const char* setting = getenv("FAKETIME");
    const char* x = setting ? strchr(setting, 'x') : NULL;
    double parsed = x ? strtod(x + 1, NULL) : 0;
    speed = parsed > 0 ? parsed : 1;
  }
  return speed;
}

static double Seconds(const struct timespec* t) { return (double)t->tv_sec + (double)t->tv_nsec / 1e9; }

int pthread_cond_clockwait(pthread_cond_t* cond, pthread_mutex_t* mutex, clockid_t clock,
                           const struct timespec* abstime) {
  static clockwait_fn next;
  if (!next) next = (clockwait_fn)dlsym(RTLD_NEXT, "pthread_cond_clockwait");
  if (clock != CLOCK_MONOTONIC || Speed() == 1) return next(cond, mutex, clock, abstime);
  struct timespec fake_now, real_now;
  clock_gettime(CLOCK_MONOTONIC, &fake_now);                 /* libfaketime's */
  syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &real_now);    /* the kernel's */
  double left = (Seconds(abstime) - Seconds(&fake_now)) / Speed();
  if (left < 0) left = 0;
  double end = Seconds(&real_now) + left;
  struct timespec real_end;
  real_end.tv_sec = (time_t)end;
  real_end.tv_nsec = (long)((end - (double)real_end.tv_sec) * 1e9);
  if (real_end.tv_nsec >= 1000000000L) real_end.tv_nsec = 999999999L;
  return next(cond, mutex, clock, &real_end);
}

/* A wall clock set by hand, for the processes given MONTH_WALL_SHIFT_FILE: the
 * file holds one double, the seconds their wall clock stands away from the
 * shared one. The driver rewrites it in place; it is mapped, so a change is
 * seen at the next reading. The monotonic and boot clocks stay as they are,
 * as a clock set by hand leaves them. */
static volatile const double* Shift(void) {
  static volatile const double* shift;
  static int tried;
  if (!tried) {
    tried = 1;
    const char* path = getenv("MONTH_WALL_SHIFT_FILE");
    int fd = path ? open(path, O_RDONLY) : -1;
    if (fd >= 0) {
      void* map = mmap(NULL, sizeof(double), PROT_READ, MAP_SHARED, fd, 0);
      if (map != MAP_FAILED) shift = (volatile const double*)map;
      close(fd);
    }
  }
  return shift;
}

typedef int (*gettime_fn)(clockid_t, struct timespec*);

int clock_gettime(clockid_t clock, struct timespec* t) {
  static gettime_fn next;
  if (!next) next = (gettime_fn)dlsym(RTLD_NEXT, "clock_gettime");
  int rc = next(clock, t);
  volatile const double* shift = (clock == CLOCK_REALTIME || clock == CLOCK_REALTIME_COARSE) ? Shift() : NULL;
  if (rc == 0 && shift && *shift != 0) {
    double at = Seconds(t) + *shift;
    t->tv_sec = (time_t)at;
    t->tv_nsec = (long)((at - (double)t->tv_sec) * 1e9);
    if (t->tv_nsec < 0) t->tv_nsec = 0;
    if (t->tv_nsec >= 1000000000L) t->tv_nsec = 999999999L;
  }
  return rc;
}

time_t time(time_t* out) {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  if (out) *out = now.tv_sec;
  return now.tv_sec;
}
