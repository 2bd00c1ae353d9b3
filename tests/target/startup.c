/* The least a Cortex-M needs to run the test programs: the vector table,
 * the reset handler (the FPU enabled where there is one, .data copied from
 * flash, .bss cleared) and the two semihosting calls they print and exit
 * through. A fault prints "fault" and exits with status 1. */
#include <stdint.h>

extern uint32_t __data_load[], __data_start[], __data_end[], __bss_start[],
    __bss_end[], __stack_top[];
int main(void);
void target_write(const char *text);
void target_exit(int status);

/* A semihosting request: the operation in r0, its argument in r1, trapped
 * by BKPT 0xAB on M-profile cores. */
static int semihost(int operation, const void *argument) {
  register int r0 __asm__("r0") = operation;
  register const void *r1 __asm__("r1") = argument;
  __asm__ volatile("bkpt 0xab" : "+r"(r0) : "r"(r1) : "memory");
  return r0;
}

/* SYS_WRITE0: a NUL-terminated string to the host's console. */
void target_write(const char *text) {
  semihost(0x04, text);
}

/* SYS_EXIT with ADP_Stopped_ApplicationExit (status 0) or
 * ADP_Stopped_RunTimeErrorUnknown (status 1): 32-bit semihosting passes a
 * reason, not a status. */
void target_exit(int status) {
  semihost(0x18, (const void *)(uintptr_t)(status == 0 ? 0x20026 : 0x20023));
  for (;;) {
  }
}

void target_reset(void) {
  uint32_t *from = __data_load, *to = __data_start;
#if defined(__ARM_FP)
  /* CPACR: full access to CP10 and CP11, before any floating-point
   * instruction; the barriers make it take effect. */
  *(volatile uint32_t *)0xE000ED88u |= 0xFu << 20;
  __asm__ volatile("dsb\n\tisb" ::: "memory");
#endif
  while (to < __data_end) {
    *to++ = *from++;
  }
  for (to = __bss_start; to < __bss_end; ++to) {
    *to = 0;
  }
  target_exit(main());
}

static void target_fault(void) {
  target_write("fault\n");
  target_exit(1);
}

/* The initial stack pointer, then reset, NMI, HardFault, MemManage,
 * BusFault, UsageFault, four reserved, SVCall, DebugMonitor, one reserved,
 * PendSV and SysTick. */
__attribute__((section(".vectors"),
               used)) static const uintptr_t target_vectors[16] = {
    (uintptr_t)__stack_top,
    (uintptr_t)target_reset,
    (uintptr_t)target_fault,
    (uintptr_t)target_fault,
    (uintptr_t)target_fault,
    (uintptr_t)target_fault,
    (uintptr_t)target_fault,
    0,
    0,
    0,
    0,
    (uintptr_t)target_fault,
    (uintptr_t)target_fault,
    0,
    (uintptr_t)target_fault,
    (uintptr_t)target_fault};
